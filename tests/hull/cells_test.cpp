// Cell storage and the small hulls: free-list order, face walks, marks, region deletion and its
// messages, the two-sided triangle and the tetrahedron.
#include "hull/chull3.h"
#include "hull_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using hullcheck::Det;
using hullcheck::Point;

// The cell arrays and marks of a structure of m vertex slots, free lists freshly chained.
struct Store {
    std::int32_t m;
    std::vector<std::int32_t> IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2,
        IEEF1, IVNEXT, IVPREV, IVLIST, IEFLAG, IESTK, IFFLAG, IFSTK;
    explicit Store(std::int32_t slots) : m(slots) {
        for (auto* v : {&IVEDGE, &IVNEXT, &IVPREV, &IVLIST})
            v->assign(m, 0);
        for (auto* v : {&IFEDGE, &IFFLAG, &IFSTK})
            v->assign(3 * m, 0);
        for (auto* v :
             {&IEVS, &IEVE, &IEF1, &IEF2, &IESF1, &IESF2, &IEEF2, &IEEF1, &IEFLAG, &IESTK})
            v->assign(4 * m, 0);
        IPAR.assign(9, 0);
        IPAR[0] = m;
        IPAR[1] = 3 * m;
        IPAR[2] = 4 * m;
        kinit(IPAR.data(), IFEDGE.data(), IEVS.data());
    }
    std::int32_t NewEdge() { return knewe(IPAR.data(), IEVS.data()); }
    std::int32_t NewFace() { return knewf(IPAR.data(), IFEDGE.data()); }
    void Dihed(std::int32_t a, std::int32_t b, std::int32_t c) {
        const std::int32_t V[3] = {a, b, c};
        dihed(V, IPAR.data(), IVEDGE.data(), IFEDGE.data(), IEVS.data(), IEVE.data(), IEF1.data(),
              IEF2.data(), IESF1.data(), IESF2.data(), IEEF2.data(), IEEF1.data());
    }
    void Tetra(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        const std::int32_t V[4] = {a, b, c, d};
        tetra(V, IPAR.data(), IVEDGE.data(), IFEDGE.data(), IEVS.data(), IEVE.data(), IEF1.data(),
              IEF2.data(), IESF1.data(), IESF2.data(), IEEF2.data(), IEEF1.data());
    }
    std::vector<std::int32_t> Vonf3(std::int32_t f) {
        std::vector<std::int32_t> out(3);
        vonf3(f, out.data(), IPAR.data(), IVEDGE.data(), IFEDGE.data(), IEVS.data(), IEVE.data(),
              IEF1.data(), IEF2.data(), IESF1.data(), IESF2.data(), IEEF2.data(), IEEF1.data());
        return out;
    }
    std::vector<std::int32_t> Eonf3(std::int32_t f) {
        std::vector<std::int32_t> out(3);
        eonf3(f, out.data(), IPAR.data(), IVEDGE.data(), IFEDGE.data(), IEVS.data(), IEVE.data(),
              IEF1.data(), IEF2.data(), IESF1.data(), IESF2.data(), IEEF2.data(), IEEF1.data());
        return out;
    }
    void Ring(const std::vector<std::int32_t>& vs) {
        for (std::size_t k = 0; k < vs.size(); ++k) {
            const std::int32_t a = vs[k], b = vs[(k + 1) % vs.size()];
            IVNEXT[a - 1] = b;
            IVPREV[b - 1] = a;
        }
    }
    std::vector<std::int32_t> RingFrom(std::int32_t v) {
        std::vector<std::int32_t> out;
        std::int32_t w = v;
        do {
            out.push_back(w);
            EXPECT_EQ(IVPREV[IVNEXT[w - 1] - 1], w);
            w = IVNEXT[w - 1];
        } while (w != v && out.size() <= static_cast<std::size_t>(m));
        return out;
    }
    void Clear(std::int32_t v) {
        cclear(v, IVNEXT.data(), IVPREV.data(), IEFLAG.data(), IFFLAG.data(), IPAR.data(),
               IVEDGE.data(), IFEDGE.data(), IEVS.data(), IEVE.data(), IEF1.data(), IEF2.data(),
               IESF1.data(), IESF2.data(), IEEF2.data(), IEEF1.data());
    }
    void Delete(std::int32_t f) {
        delete_(f, IVLIST.data(), IVNEXT.data(), IVPREV.data(), IEFLAG.data(), IESTK.data(),
                IFFLAG.data(), IFSTK.data(), IPAR.data(), IVEDGE.data(), IFEDGE.data(), IEVS.data(),
                IEVE.data(), IEF1.data(), IEF2.data(), IESF1.data(), IESF2.data(), IEEF2.data(),
                IEEF1.data());
    }
    void Delall(std::int32_t v, std::int32_t f) {
        delall(v, f, IVLIST.data(), IVNEXT.data(), IVPREV.data(), IEFLAG.data(), IESTK.data(),
               IFFLAG.data(), IFSTK.data(), IPAR.data(), IVEDGE.data(), IFEDGE.data(), IEVS.data(),
               IEVE.data(), IEF1.data(), IEF2.data(), IESF1.data(), IESF2.data(), IEEF2.data(),
               IEEF1.data());
    }
    std::vector<std::int32_t> Take(int count, bool faces) {
        std::vector<std::int32_t> out;
        for (int k = 0; k < count; ++k)
            out.push_back(faces ? NewFace() : NewEdge());
        return out;
    }
};

using V = std::vector<std::int32_t>;

TEST(CellFreeLists, HandOutAscendingAndReuseLastReturnedFirst) {
    Store s(4);
    EXPECT_EQ(s.Take(3, true), V({1, 2, 3}));
    EXPECT_EQ(s.Take(3, false), V({1, 2, 3}));
    kfback(5, s.IPAR.data(), s.IFEDGE.data());
    EXPECT_EQ(s.NewFace(), 5);
    kfback(2, s.IPAR.data(), s.IFEDGE.data());
    kfback(1, s.IPAR.data(), s.IFEDGE.data());
    EXPECT_EQ(s.Take(3, true), V({1, 2, 4}));
    keback(3, s.IPAR.data(), s.IEVS.data());
    keback(1, s.IPAR.data(), s.IEVS.data());
    EXPECT_EQ(s.Take(3, false), V({1, 3, 4}));
}

TEST(CellFreeLists, EveryCellOnceUntilExhausted) {
    Store s(2);  // 6 faces, 8 edges
    EXPECT_EQ(s.Take(6, true), V({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(s.Take(8, false), V({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(s.IPAR[3], 0);
    EXPECT_EQ(s.IPAR[4], 0);
}

TEST(CellStorageDeathTest, ExhaustedEdgeList) {
    Store s(1);
    s.Take(4, false);
    EXPECT_EXIT(s.NewEdge(), ::testing::ExitedWithCode(1),
                "^Error in KNEWE: No more edge cell\\.\n$");
}

TEST(CellStorageDeathTest, ExhaustedFaceList) {
    Store s(1);
    s.Take(3, true);
    EXPECT_EXIT(s.NewFace(), ::testing::ExitedWithCode(1),
                "^Error in KNEWF: No more face cell\\.\n$");
}

TEST(SmallHull, TwoSidedTriangleWalks) {
    Store s(8);
    s.Dihed(5, 6, 7);  // faces 1, 2; edges 1, 2, 3
    EXPECT_EQ(s.Vonf3(1), V({6, 5, 7}));
    EXPECT_EQ(s.Vonf3(2), V({5, 6, 7}));
    EXPECT_EQ(s.Eonf3(1), V({1, 3, 2}));
    EXPECT_EQ(s.Eonf3(2), V({1, 2, 3}));
    // Around each vertex the rotation alternates between its two edges, passing both faces.
    const std::int32_t vs[3] = {5, 6, 7};
    for (const std::int32_t v : vs) {
        const std::int32_t e0 = s.IVEDGE[v - 1];
        const bool start = s.IEVS[e0 - 1] == v;
        const std::int32_t e1 = start ? s.IESF2[e0 - 1] : s.IEEF1[e0 - 1];
        const bool start1 = s.IEVS[e1 - 1] == v;
        EXPECT_NE(e1, e0);
        EXPECT_TRUE(start1 || s.IEVE[e1 - 1] == v);
        EXPECT_EQ(start1 ? s.IESF2[e1 - 1] : s.IEEF1[e1 - 1], e0) << "vertex " << v;
    }
    // A tetrahedron after it takes the next cells.
    s.Tetra(1, 2, 3, 4);
    EXPECT_EQ(s.IFEDGE[2], 4);  // face 3 -> edge 4
    EXPECT_EQ(s.IFEDGE[5], 7);  // face 6 -> edge 7
    EXPECT_EQ(s.Take(1, true), V({7}));
    EXPECT_EQ(s.Take(1, false), V({10}));
}

TEST(SmallHull, CollinearTriangleBuiltAlike) {
    Store a(5), b(5);
    std::vector<std::int32_t> order = {1, 2, 3, 4};
    const std::int32_t X[4] = {0, 1, 2, 9}, Y[4] = {0, 0, 0, 9}, Z[4] = {0, 0, 0, 9};
    const std::int32_t X2[4] = {0, 3, 0, 9}, Y2[4] = {0, 1, 5, 9}, Z2[4] = {2, 0, 1, 9};
    const std::int32_t R[4] = {0, 1, 2, 3};
    ch3p(1, X, Y, Z, R, a.IPAR.data(), a.IVEDGE.data(), a.IFEDGE.data(), a.IEVS.data(),
         a.IEVE.data(), a.IEF1.data(), a.IEF2.data(), a.IESF1.data(), a.IESF2.data(),
         a.IEEF2.data(), a.IEEF1.data(), order.data(), a.IVNEXT.data(), a.IVPREV.data());
    ch3p(1, X2, Y2, Z2, R, b.IPAR.data(), b.IVEDGE.data(), b.IFEDGE.data(), b.IEVS.data(),
         b.IEVE.data(), b.IEF1.data(), b.IEF2.data(), b.IESF1.data(), b.IESF2.data(),
         b.IEEF2.data(), b.IEEF1.data(), order.data(), b.IVNEXT.data(), b.IVPREV.data());
    EXPECT_EQ(a.RingFrom(1), V({1, 2, 3}));
    EXPECT_EQ(a.IEVS, b.IEVS);
    EXPECT_EQ(a.IEF1, b.IEF1);
    EXPECT_EQ(a.IEEF1, b.IEEF1);
    EXPECT_EQ(a.IVEDGE, b.IVEDGE);
    EXPECT_EQ(a.Vonf3(1), V({2, 1, 3}));
}

// The tetrahedron of a negatively oriented quadruple: each face, listed counter-clockwise,
// has its right-hand normal pointing away from the fourth point; and the whole structure passes
// the finished-hull checks once its flags are set as chull3 would set them.
TEST(SmallHull, TetrahedronFacesPointOutward) {
    const std::vector<Point> pts = {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}};
    hullcheck::HullRun run(pts);
    run.IPAR[1] = 15;
    run.IPAR[2] = 20;
    kinit(run.IPAR.data(), run.IFEDGE.data(), run.IEVS.data());
    const std::int32_t P[4] = {1, 2, 3, 4};
    tetra(P, run.IPAR.data(), run.IVEDGE.data(), run.IFEDGE.data(), run.IEVS.data(),
          run.IEVE.data(), run.IEF1.data(), run.IEF2.data(), run.IESF1.data(), run.IESF2.data(),
          run.IEEF2.data(), run.IEEF1.data());
    const V expected[4] = {{1, 2, 3}, {1, 3, 4}, {1, 4, 2}, {3, 2, 4}};
    for (std::int32_t f = 1; f <= 4; ++f) {
        V t(3);
        vonf3(f, t.data(), run.IPAR.data(), run.IVEDGE.data(), run.IFEDGE.data(), run.IEVS.data(),
              run.IEVE.data(), run.IEF1.data(), run.IEF2.data(), run.IESF1.data(), run.IESF2.data(),
              run.IEEF2.data(), run.IEEF1.data());
        EXPECT_EQ(t, expected[f - 1]) << "face " << f;
        std::int32_t fourth = 10 - t[0] - t[1] - t[2];
        EXPECT_GT(Det(pts[fourth - 1], pts[t[0] - 1], pts[t[1] - 1], pts[t[2] - 1]), 0)
            << "face " << f;
    }
    for (std::int32_t k = 0; k < 4; ++k) {
        run.IVNEXT[k] = k == 3 ? 1 : k + 2;
        run.IVPREV[k] = k == 0 ? 4 : k;
        run.IVFLAG[k] = 1;
    }
    for (std::int32_t f = 0; f < 15; ++f)
        run.IFFLAG[f] = f < 4;
    for (std::int32_t e = 0; e < 20; ++e)
        run.IEFLAG[e] = e < 6;
    run.IPAR[8] = 1;
    ASSERT_NO_FATAL_FAILURE(hullcheck::CheckHull(run.View()));
}

// A tetrahedron on points 1..4 of a fresh store of 8 vertex slots (faces 1-4, edges 1-6), ring
// 1 -> 2 -> 3 -> 4.
Store TetraStore() {
    Store s(8);
    s.Tetra(1, 2, 3, 4);
    s.Ring({1, 2, 3, 4});
    return s;
}

TEST(CellMarks, ClearReachesEveryCellOfTheHullOnly) {
    Store s = TetraStore();
    s.Dihed(5, 6, 7);  // faces 5, 6, edges 7-9: another hull on its own ring
    s.Ring({5, 6, 7});
    for (auto& x : s.IEFLAG)
        x = 7;
    for (auto& x : s.IFFLAG)
        x = 7;
    s.Clear(3);
    for (std::int32_t e = 1; e <= 32; ++e)
        EXPECT_EQ(s.IEFLAG[e - 1], e <= 6 ? 0 : 7) << e;
    for (std::int32_t f = 1; f <= 24; ++f)
        EXPECT_EQ(s.IFFLAG[f - 1], f <= 4 ? 0 : 7) << f;
}

TEST(RegionDelete, StartFaceWithThreeBarriersGoesAlone) {
    Store s = TetraStore();
    EXPECT_EQ(s.Eonf3(1), V({1, 4, 2}));
    s.IEFLAG[0] = s.IEFLAG[1] = s.IEFLAG[3] = 2;  // the three edges of face 1 become barriers
    const std::int32_t edgeHead = s.IPAR[4];
    s.Delete(1);
    EXPECT_EQ(s.IFFLAG[0], -1);
    EXPECT_EQ(s.IPAR[4], edgeHead);
    EXPECT_EQ(s.Take(2, true), V({1, 5}));
    EXPECT_EQ(s.RingFrom(1), V({1, 2, 3, 4}));
}

TEST(RegionDelete, KeepsVertexWithBarrierEdgeAndReturnsCellsInStackOrder) {
    Store s = TetraStore();
    s.IEFLAG[4] = 2;  // edge 5 (3 -> 4) is a barrier
    s.Delete(1);
    // Faces were stacked 1, 3, 4, 2 and edges 1, 4, 2, 3, 6: the last returned comes first.
    EXPECT_EQ(s.Take(5, true), V({2, 4, 3, 1, 5}));
    EXPECT_EQ(s.Take(6, false), V({6, 3, 2, 4, 1, 7}));
    EXPECT_EQ(s.IEFLAG[4], 2);
    // Every edge of 1 and of 2 went; 3 and 4 keep edge 5. The sweep starts at IEVS(edge 1) = 2.
    EXPECT_EQ(s.IVLIST[0], 2);
    EXPECT_EQ(s.IVLIST[1], 1);
    EXPECT_EQ(s.RingFrom(3), V({3, 4}));
}

TEST(RegionDelete, AllButKeptVertexLeaveTheRing) {
    Store s = TetraStore();
    s.Delall(3, 2);
    EXPECT_EQ(s.RingFrom(3), V({3}));
    EXPECT_EQ(V(s.IVLIST.begin(), s.IVLIST.begin() + 3), V({4, 1, 2}));
    EXPECT_EQ(s.Take(4, true).size(), 4u);
    EXPECT_EQ(s.Take(1, true), V({5}));
    for (std::int32_t e = 0; e < 6; ++e)
        EXPECT_EQ(s.IEFLAG[e], -1);
}

TEST(RegionDelete, KeptVertexAloneOnItsRingStaysSo) {
    Store s(6);
    s.Dihed(1, 2, 3);
    s.Ring({1});
    s.Delall(1, 1);
    EXPECT_EQ(s.RingFrom(1), V({1}));
    EXPECT_EQ(s.IVLIST[0], 1);
    EXPECT_EQ(s.Take(2, true), V({2, 1}));
    EXPECT_EQ(s.Take(3, false), V({2, 3, 1}));
}

TEST(RegionDeleteDeathTest, EdgeStackOverflow) {
    Store s = TetraStore();
    s.IPAR[2] = 3;  // NEMAX below the six edges of the region
    EXPECT_EXIT(s.Delete(1), ::testing::ExitedWithCode(1),
                "^Error in DELETE: Edge stack overflows\\.\nIETOP =         4\n$");
}

TEST(RegionDeleteDeathTest, FaceStackOverflowInDelall) {
    Store s = TetraStore();
    s.IPAR[1] = 2;  // NFMAX below the four faces of the region
    EXPECT_EXIT(s.Delall(1, 1), ::testing::ExitedWithCode(1),
                "^Error in DELETE: Face stack overflows\\.\nIFTOP =         3\n$");
}

}  // namespace
