// Cell storage and the small hulls: free-list order, face walks, marks, region deletion and its
// messages, the two-sided triangle and the tetrahedron.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "hull/cells.h"
#include "hull_check.h"
#include "support.h"

namespace {

using hullcheck::Det;
using V = std::vector<std::int32_t>;

// The hull routines over one storage, with the observations the tests make.
struct Store {
    HullStorage h;
    explicit Store(HullStorage storage) : h(std::move(storage)) {}
    explicit Store(std::int32_t slots) : Store(Slots(slots)) {}
    std::int32_t NewEdge() { return knewe(C()); }
    std::int32_t NewFace() { return knewf(C()); }
    void Dihed(std::int32_t a, std::int32_t b, std::int32_t c) {
        const std::int32_t P[3] = {a, b, c};
        dihed(P, C());
    }
    void Tetra(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        const std::int32_t P[4] = {a, b, c, d};
        tetra(P, C());
    }
    V Vonf3(std::int32_t f) const {
        V out(3);
        vonf3(f, out.data(), h.CellsView());
        return out;
    }
    V Eonf3(std::int32_t f) const {
        V out(3);
        eonf3(f, out.data(), h.CellsView());
        return out;
    }
    void Ring(const V& vs) {
        for (std::size_t k = 0; k < vs.size(); ++k) {
            W().IVNEXT(vs[k]) = vs[(k + 1) % vs.size()];
            W().IVPREV(vs[(k + 1) % vs.size()]) = vs[k];
        }
    }
    V RingFrom(std::int32_t v) {
        V out;
        std::int32_t w = v;
        do {
            out.push_back(w);
            EXPECT_EQ(W().IVPREV(W().IVNEXT(w)), w);
            w = W().IVNEXT(w);
        } while (w != v && out.size() <= static_cast<std::size_t>(h.NVMAX()));
        return out;
    }
    V Take(int count, bool faces) {
        V out;
        for (int k = 0; k < count; ++k)
            out.push_back(faces ? NewFace() : NewEdge());
        return out;
    }
    Cells C() { return h.CellsView(); }
    ConstCells C() const { return h.CellsView(); }
    Work W() { return h.WorkView(); }
    std::int32_t Slot(std::int32_t s) const { return h.IPAR[s - 1]; }
};

TEST(CellFreeLists, HandOutAscendingAndReuseLastReturnedFirst) {
    Store s(4);
    EXPECT_EQ(s.Take(3, true), V({1, 2, 3}));
    EXPECT_EQ(s.Take(3, false), V({1, 2, 3}));
    kfback(5, s.C());
    EXPECT_EQ(s.NewFace(), 5);
    kfback(2, s.C());
    kfback(1, s.C());
    EXPECT_EQ(s.Take(3, true), V({1, 2, 4}));
    keback(3, s.C());
    keback(1, s.C());
    EXPECT_EQ(s.Take(3, false), V({1, 3, 4}));
}

TEST(CellFreeLists, EveryCellOnceUntilExhausted) {
    Store s(2);  // 6 faces, 8 edges
    EXPECT_EQ(s.Take(6, true), V({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(s.Take(8, false), V({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(s.Slot(slot::IFFREE), 0);
    EXPECT_EQ(s.Slot(slot::IEFREE), 0);
    EXPECT_EQ(FailureText([&] { s.NewEdge(); }), "Error in KNEWE: No more edge cell.");
    EXPECT_EQ(FailureText([&] { s.NewFace(); }), "Error in KNEWF: No more face cell.");
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
        const std::int32_t e0 = s.C().IVEDGE(v);
        const std::int32_t e1 = nextAround(s.C(), e0, v);
        EXPECT_NE(e1, e0);
        EXPECT_TRUE(s.C().IEVS(e1) == v || s.C().IEVE(e1) == v);
        EXPECT_EQ(nextAround(s.C(), e1, v), e0) << "vertex " << v;
        EXPECT_EQ(prevAround(s.C(), e1, v), e0) << "vertex " << v;
    }
    // A tetrahedron after it takes the next cells.
    s.Tetra(1, 2, 3, 4);
    EXPECT_EQ(s.C().IFEDGE(3), 4);
    EXPECT_EQ(s.C().IFEDGE(6), 7);
    EXPECT_EQ(s.Take(1, true), V({7}));
    EXPECT_EQ(s.Take(1, false), V({10}));
}

TEST(SmallHull, CollinearTriangleBuiltAlike) {
    // ch3p reads no coordinate: collinear points and a proper triangle build the same cells.
    Store a(Chained(Storage({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {9, 9, 9}})));
    Store b(Chained(Storage({{0, 0, 2}, {3, 1, 0}, {0, 5, 1}, {9, 9, 9}})));
    for (Store* s : {&a, &b}) {
        for (std::int32_t i = 1; i <= 4; ++i)
            s->W().IORDER(i) = i;
        ch3p(1, s->C(), s->W());
    }
    EXPECT_EQ(a.RingFrom(1), V({1, 2, 3}));
    EXPECT_EQ(a.h.IEVS, b.h.IEVS);
    EXPECT_EQ(a.h.IEF1, b.h.IEF1);
    EXPECT_EQ(a.h.IEEF1, b.h.IEEF1);
    EXPECT_EQ(a.h.IVEDGE, b.h.IVEDGE);
    EXPECT_EQ(a.Vonf3(1), V({2, 1, 3}));
}

// The tetrahedron of a negatively oriented quadruple: each face, listed counter-clockwise,
// has its right-hand normal pointing away from the fourth point; and the whole structure passes
// the finished-hull checks once its flags are set as chull3 would set them.
TEST(SmallHull, TetrahedronFacesPointOutward) {
    const Points pts = {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}};
    Store s(Chained(Storage(pts)));
    s.Tetra(1, 2, 3, 4);
    const V expected[4] = {{1, 2, 3}, {1, 3, 4}, {1, 4, 2}, {3, 2, 4}};
    for (std::int32_t f = 1; f <= 4; ++f) {
        const V t = s.Vonf3(f);
        EXPECT_EQ(t, expected[f - 1]) << "face " << f;
        std::int32_t fourth = 10 - t[0] - t[1] - t[2];
        EXPECT_GT(Det(pts[fourth - 1], pts[t[0] - 1], pts[t[1] - 1], pts[t[2] - 1]), 0)
            << "face " << f;
    }
    // The flags as chull3 would set them: the cells taken are in use, the vertices on the ring.
    s.Ring({1, 2, 3, 4});
    for (std::int32_t v = 1; v <= 4; ++v)
        s.W().IVFLAG(v) = mark::IN_USE;
    for (std::int32_t f = 1; f <= s.h.NFMAX(); ++f)
        s.W().IFFLAG(f) = f <= 4 ? mark::IN_USE : mark::FREE;
    for (std::int32_t e = 1; e <= s.h.NEMAX(); ++e)
        s.W().IEFLAG(e) = e <= 6 ? mark::IN_USE : mark::FREE;
    s.C().IPAR(slot::IVSTRT) = 1;
    EXPECT_EQ(hullcheck::CheckHull(s.h), "");
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
    for (auto& x : s.h.IEFLAG)
        x = 7;
    for (auto& x : s.h.IFFLAG)
        x = 7;
    cclear(3, s.C(), s.W());
    for (std::int32_t e = 1; e <= s.h.NEMAX(); ++e)
        EXPECT_EQ(s.W().IEFLAG(e), e <= 6 ? mark::PLAIN : 7) << e;
    for (std::int32_t f = 1; f <= s.h.NFMAX(); ++f)
        EXPECT_EQ(s.W().IFFLAG(f), f <= 4 ? mark::PLAIN : 7) << f;
}

TEST(RegionDelete, StartFaceWithThreeBarriersGoesAlone) {
    Store s = TetraStore();
    EXPECT_EQ(s.Eonf3(1), V({1, 4, 2}));
    for (const std::int32_t e : {1, 2, 4})  // the three edges of face 1 become barriers
        s.W().IEFLAG(e) = mark::HORIZON;
    const std::int32_t edgeHead = s.Slot(slot::IEFREE);
    delete_(1, s.C(), s.W());
    EXPECT_EQ(s.W().IFFLAG(1), mark::DELETED);
    EXPECT_EQ(s.Slot(slot::IEFREE), edgeHead);
    EXPECT_EQ(s.Take(2, true), V({1, 5}));
    EXPECT_EQ(s.RingFrom(1), V({1, 2, 3, 4}));
}

TEST(RegionDelete, KeepsVertexWithBarrierEdgeAndReturnsCellsInStackOrder) {
    Store s = TetraStore();
    s.W().IEFLAG(5) = mark::HORIZON;  // edge 5 (3 -> 4) is a barrier
    delete_(1, s.C(), s.W());
    // Faces were stacked 1, 3, 4, 2 and edges 1, 4, 2, 3, 6: the last returned comes first.
    EXPECT_EQ(s.Take(5, true), V({2, 4, 3, 1, 5}));
    EXPECT_EQ(s.Take(6, false), V({6, 3, 2, 4, 1, 7}));
    EXPECT_EQ(s.W().IEFLAG(5), mark::HORIZON);
    // Every edge of 1 and of 2 went; 3 and 4 keep edge 5. The sweep starts at IEVS(edge 1) = 2.
    EXPECT_EQ(s.W().IORDER(1), 2);
    EXPECT_EQ(s.W().IORDER(2), 1);
    EXPECT_EQ(s.RingFrom(3), V({3, 4}));
}

TEST(RegionDelete, AllButKeptVertexLeaveTheRing) {
    Store s = TetraStore();
    delall(3, 2, s.C(), s.W());
    EXPECT_EQ(s.RingFrom(3), V({3}));
    EXPECT_EQ(V(s.h.IORDER.begin(), s.h.IORDER.begin() + 3), V({4, 1, 2}));
    EXPECT_EQ(s.Take(4, true).size(), 4u);
    EXPECT_EQ(s.Take(1, true), V({5}));
    for (std::int32_t e = 1; e <= 6; ++e)
        EXPECT_EQ(s.W().IEFLAG(e), mark::DELETED);
}

TEST(RegionDelete, KeptVertexAloneOnItsRingStaysSo) {
    Store s(6);
    s.Dihed(1, 2, 3);
    s.Ring({1});
    delall(1, 1, s.C(), s.W());
    EXPECT_EQ(s.RingFrom(1), V({1}));
    EXPECT_EQ(s.W().IORDER(1), 1);
    EXPECT_EQ(s.Take(2, true), V({2, 1}));
    EXPECT_EQ(s.Take(3, false), V({2, 3, 1}));
}

// The stacks are as large as the cell arrays, so only shrunken capacities can overflow them.
TEST(RegionDelete, StackOverflowsAreReported) {
    Store e = TetraStore();
    e.C().IPAR(slot::NEMAX) = 3;  // below the six edges of the region
    EXPECT_EQ(FailureText([&] { delete_(1, e.C(), e.W()); }),
              "Error in DELETE: Edge stack overflows.\nIETOP =         4");
    Store f = TetraStore();
    f.C().IPAR(slot::NFMAX) = 2;  // below the four faces of the region; delall reports as delete
    EXPECT_EQ(FailureText([&] { delall(1, 1, f.C(), f.W()); }),
              "Error in DELETE: Face stack overflows.\nIFTOP =         3");
}

}  // namespace
