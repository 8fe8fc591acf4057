// Cell storage and the small hulls: free-list order, face walks, marks, region deletion and its
// messages, the two-sided triangle and the tetrahedron.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "hull/cells.h"
#include "hull_fixture.h"
#include "support.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

using hullcheck::Det;
using V = std::vector<std::int32_t>;

V Vonf3(const HullStorage& h, std::int32_t f) {
    V out(3);
    vonf3(f, out.data(), h.CellsView());
    return out;
}

V Eonf3(const HullStorage& h, std::int32_t f) {
    V out(3);
    eonf3(f, out.data(), h.CellsView());
    return out;
}

TEST(CellFreeLists, HandOutAscendingAndReuseLastReturnedFirst) {
    HullStorage s = Slots(4);
    EXPECT_EQ(Take(s, 3, true), V({1, 2, 3}));
    EXPECT_EQ(Take(s, 3, false), V({1, 2, 3}));
    kfback(5, s.CellsView());
    EXPECT_EQ(knewf(s.CellsView()), 5);
    kfback(2, s.CellsView());
    kfback(1, s.CellsView());
    EXPECT_EQ(Take(s, 3, true), V({1, 2, 4}));
    keback(3, s.CellsView());
    keback(1, s.CellsView());
    EXPECT_EQ(Take(s, 3, false), V({1, 3, 4}));
}

TEST(CellFreeLists, EveryCellOnceUntilExhausted) {
    HullStorage s = Slots(2);  // 6 faces, 8 edges
    EXPECT_EQ(Take(s, 6, true), V({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(Take(s, 8, false), V({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Slot(s, slot::IFFREE), 0);
    EXPECT_EQ(Slot(s, slot::IEFREE), 0);
    EXPECT_EQ(FailureText([&] { knewe(s.CellsView()); }), "Error in KNEWE: No more edge cell.");
    EXPECT_EQ(FailureText([&] { knewf(s.CellsView()); }), "Error in KNEWF: No more face cell.");
}

TEST(SmallHull, TwoSidedTriangleWalks) {
    HullStorage s = Slots(8);
    Dihed(s, 5, 6, 7);  // faces 1, 2; edges 1, 2, 3
    EXPECT_EQ(Vonf3(s, 1), V({6, 5, 7}));
    EXPECT_EQ(Vonf3(s, 2), V({5, 6, 7}));
    EXPECT_EQ(Eonf3(s, 1), V({1, 3, 2}));
    EXPECT_EQ(Eonf3(s, 2), V({1, 2, 3}));
    // Around each vertex the rotation alternates between its two edges, passing both faces.
    const ConstCells C = s.CellsView();
    for (const std::int32_t v : {5, 6, 7}) {
        const std::int32_t e0 = C.IVEDGE(v);
        const std::int32_t e1 = nextAround(C, e0, v);
        EXPECT_NE(e1, e0);
        EXPECT_TRUE(C.IEVS(e1) == v || C.IEVE(e1) == v);
        EXPECT_EQ(nextAround(C, e1, v), e0) << "vertex " << v;
        EXPECT_EQ(prevAround(C, e1, v), e0) << "vertex " << v;
    }
    // A tetrahedron after it takes the next cells.
    Tetra(s, 1, 2, 3, 4);
    EXPECT_EQ(C.IFEDGE(3), 4);
    EXPECT_EQ(C.IFEDGE(6), 7);
    EXPECT_EQ(Take(s, 1, true), V({7}));
    EXPECT_EQ(Take(s, 1, false), V({10}));
}

TEST(SmallHull, CollinearTriangleBuiltAlike) {
    // ch3p reads no coordinate: collinear points and a proper triangle build the same cells.
    HullStorage a = Chained(Storage({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {9, 9, 9}}));
    HullStorage b = Chained(Storage({{0, 0, 2}, {3, 1, 0}, {0, 5, 1}, {9, 9, 9}}));
    for (HullStorage* s : {&a, &b}) {
        for (std::int32_t i = 1; i <= 4; ++i)
            s->WorkView().IORDER(i) = i;
        ch3p(1, s->CellsView(), s->WorkView());
    }
    EXPECT_EQ(RingFrom(a, 1), V({1, 2, 3}));
    EXPECT_EQ(a.IEVS, b.IEVS);
    EXPECT_EQ(a.IEF1, b.IEF1);
    EXPECT_EQ(a.IEEF1, b.IEEF1);
    EXPECT_EQ(a.IVEDGE, b.IVEDGE);
    EXPECT_EQ(Vonf3(a, 1), V({2, 1, 3}));
}

// The tetrahedron of a negatively oriented quadruple: each face, listed counter-clockwise,
// has its right-hand normal pointing away from the fourth point; and the whole structure passes
// the finished-hull checks once its flags are set as chull3 would set them.
TEST(SmallHull, TetrahedronFacesPointOutward) {
    const PointList pts = {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}};
    HullStorage s = Chained(Storage(pts));
    Tetra(s, 1, 2, 3, 4);
    const V expected[4] = {{1, 2, 3}, {1, 3, 4}, {1, 4, 2}, {3, 2, 4}};
    for (std::int32_t f = 1; f <= 4; ++f) {
        const V t = Vonf3(s, f);
        EXPECT_EQ(t, expected[f - 1]) << "face " << f;
        std::int32_t fourth = 10 - t[0] - t[1] - t[2];
        EXPECT_GT(Det(pts[fourth - 1], pts[t[0] - 1], pts[t[1] - 1], pts[t[2] - 1]), 0)
            << "face " << f;
    }
    // The flags as chull3 would set them: the cells taken are in use, the vertices on the ring.
    Ring(s, {1, 2, 3, 4});
    const Work W = s.WorkView();
    for (std::int32_t v = 1; v <= 4; ++v)
        W.IVFLAG(v) = mark::IN_USE;
    for (std::int32_t f = 1; f <= s.NFMAX(); ++f)
        W.IFFLAG(f) = f <= 4 ? mark::IN_USE : mark::FREE;
    for (std::int32_t e = 1; e <= s.NEMAX(); ++e)
        W.IEFLAG(e) = e <= 6 ? mark::IN_USE : mark::FREE;
    s.CellsView().IPAR(slot::IVSTRT) = 1;
    EXPECT_EQ(hullcheck::CheckHull(s), "");
}

// A tetrahedron on points 1..4 of a fresh storage of 8 vertex slots (faces 1-4, edges 1-6), ring
// 1 -> 2 -> 3 -> 4.
HullStorage TetraStore() {
    HullStorage s = Slots(8);
    Tetra(s, 1, 2, 3, 4);
    Ring(s, {1, 2, 3, 4});
    return s;
}

TEST(CellMarks, ClearReachesEveryCellOfTheHullOnly) {
    HullStorage s = TetraStore();
    Dihed(s, 5, 6, 7);  // faces 5, 6, edges 7-9: another hull on its own ring
    Ring(s, {5, 6, 7});
    for (auto& x : s.IEFLAG)
        x = 7;
    for (auto& x : s.IFFLAG)
        x = 7;
    cclear(3, s.CellsView(), s.WorkView());
    for (std::int32_t e = 1; e <= s.NEMAX(); ++e)
        EXPECT_EQ(s.WorkView().IEFLAG(e), e <= 6 ? mark::PLAIN : 7) << e;
    for (std::int32_t f = 1; f <= s.NFMAX(); ++f)
        EXPECT_EQ(s.WorkView().IFFLAG(f), f <= 4 ? mark::PLAIN : 7) << f;
}

TEST(RegionDelete, StartFaceWithThreeBarriersGoesAlone) {
    HullStorage s = TetraStore();
    EXPECT_EQ(Eonf3(s, 1), V({1, 4, 2}));
    for (const std::int32_t e : {1, 2, 4})  // the three edges of face 1 become barriers
        s.WorkView().IEFLAG(e) = mark::HORIZON;
    const std::int32_t edgeHead = Slot(s, slot::IEFREE);
    delete_(1, s.CellsView(), s.WorkView());
    EXPECT_EQ(s.WorkView().IFFLAG(1), mark::DELETED);
    EXPECT_EQ(Slot(s, slot::IEFREE), edgeHead);
    EXPECT_EQ(Take(s, 2, true), V({1, 5}));
    EXPECT_EQ(RingFrom(s, 1), V({1, 2, 3, 4}));
}

TEST(RegionDelete, KeepsVertexWithBarrierEdgeAndReturnsCellsInStackOrder) {
    HullStorage s = TetraStore();
    s.WorkView().IEFLAG(5) = mark::HORIZON;  // edge 5 (3 -> 4) is a barrier
    delete_(1, s.CellsView(), s.WorkView());
    // Faces were stacked 1, 3, 4, 2 and edges 1, 4, 2, 3, 6: the last returned comes first.
    EXPECT_EQ(Take(s, 5, true), V({2, 4, 3, 1, 5}));
    EXPECT_EQ(Take(s, 6, false), V({6, 3, 2, 4, 1, 7}));
    EXPECT_EQ(s.WorkView().IEFLAG(5), mark::HORIZON);
    // Every edge of 1 and of 2 went; 3 and 4 keep edge 5. The sweep starts at IEVS(edge 1) = 2.
    EXPECT_EQ(s.WorkView().IORDER(1), 2);
    EXPECT_EQ(s.WorkView().IORDER(2), 1);
    EXPECT_EQ(RingFrom(s, 3), V({3, 4}));
}

TEST(RegionDelete, AllButKeptVertexLeaveTheRing) {
    HullStorage s = TetraStore();
    delall(3, 2, s.CellsView(), s.WorkView());
    EXPECT_EQ(RingFrom(s, 3), V({3}));
    EXPECT_EQ(V(s.IORDER.begin(), s.IORDER.begin() + 3), V({4, 1, 2}));
    EXPECT_EQ(Take(s, 4, true).size(), 4u);
    EXPECT_EQ(Take(s, 1, true), V({5}));
    for (std::int32_t e = 1; e <= 6; ++e)
        EXPECT_EQ(s.WorkView().IEFLAG(e), mark::DELETED);
}

TEST(RegionDelete, KeptVertexAloneOnItsRingStaysSo) {
    HullStorage s = Slots(6);
    Dihed(s, 1, 2, 3);
    Ring(s, {1});
    delall(1, 1, s.CellsView(), s.WorkView());
    EXPECT_EQ(RingFrom(s, 1), V({1}));
    EXPECT_EQ(s.WorkView().IORDER(1), 1);
    EXPECT_EQ(Take(s, 2, true), V({2, 1}));
    EXPECT_EQ(Take(s, 3, false), V({2, 3, 1}));
}

// The stacks are as large as the cell arrays, so only shrunken capacities can overflow them.
TEST(RegionDelete, StackOverflowsAreReported) {
    HullStorage e = TetraStore();
    e.CellsView().IPAR(slot::NEMAX) = 3;  // below the six edges of the region
    EXPECT_EQ(FailureText([&] { delete_(1, e.CellsView(), e.WorkView()); }),
              "Error in DELETE: Edge stack overflows.\nIETOP =         4");
    HullStorage f = TetraStore();
    f.CellsView().IPAR(slot::NFMAX) = 2;  // below the four faces; delall reports as delete
    EXPECT_EQ(FailureText([&] { delall(1, 1, f.CellsView(), f.WorkView()); }),
              "Error in DELETE: Face stack overflows.\nIFTOP =         3");
}

}  // namespace
