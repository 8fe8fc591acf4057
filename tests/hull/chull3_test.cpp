// The hull construction end to end: every hull is checked exactly by CheckHull (structure,
// containment, extreme points, and for small inputs the volume of an independent hull).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "hull/cells.h"
#include "hull_fixture.h"
#include "support.h"

namespace {

using Ranks = std::vector<std::int32_t>;

Points RandomPoints(std::mt19937& rng, int n, int lo, int hi) {
    std::uniform_int_distribution<int> d(lo, hi);
    Points p;
    for (int i = 0; i < n; ++i)
        p.push_back({d(rng), d(rng), d(rng)});
    return p;
}

std::int32_t VertexCount(const HullStorage& h) {
    std::int32_t v = 0;
    for (std::int32_t i = 0; i < PointCount(h); ++i)
        v += h.IVFLAG[i];
    return v;
}

// Every output array of two runs, compared.
void ExpectSameHull(const HullStorage& a, const HullStorage& b) {
    for (const std::int32_t s : {slot::IVSTRT, slot::IFFREE, slot::IEFREE})
        EXPECT_EQ(a.IPAR[s - 1], b.IPAR[s - 1]) << "IPAR slot " << s;
    EXPECT_EQ(a.IVFLAG, b.IVFLAG);
    EXPECT_EQ(a.IEFLAG, b.IEFLAG);
    EXPECT_EQ(a.IFFLAG, b.IFFLAG);
    EXPECT_EQ(a.IVEDGE, b.IVEDGE);
    EXPECT_EQ(a.IFEDGE, b.IFEDGE);
    EXPECT_EQ(a.IVNEXT, b.IVNEXT);
    for (auto m :
         {&HullStorage::IEVS, &HullStorage::IEVE, &HullStorage::IEF1, &HullStorage::IEF2,
          &HullStorage::IESF1, &HullStorage::IESF2, &HullStorage::IEEF2, &HullStorage::IEEF1}) {
        // Stale fields of free edges are not part of the result.
        for (std::size_t e = 0; e < (a.*m).size(); ++e)
            if (a.IEFLAG[e] == mark::IN_USE) {
                EXPECT_EQ((a.*m)[e], (b.*m)[e]) << "edge " << e + 1;
            }
    }
}

void Gcylin(HullStorage& h, std::int32_t a, std::int32_t b) {
    gcylin(a, b, h.PointsView(), h.CellsView(), h.WorkView());
}

// A tetrahedron whose apex projects inside its base: the apex is on no silhouette.
TEST(Silhouette, StartVertexOffTheOutlineFails) {
    HullStorage h = Chained(Storage({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {3, 3, 5}}));
    Tetra(h, 1, 2, 4, 3);  // negatively oriented
    Ring(h, {1, 2, 4, 3});
    EXPECT_EQ(FailureText([&] { shadow(4, h.PointsView(), h.CellsView(), h.WorkView()); }),
              "Error in SHADOW: No silhouette edge.\nIVERT,IESTAR =         4         5");
}

TEST(Silhouette, TetrahedronOutlineAndBestVertex) {
    HullStorage h = Chained(Storage({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {3, 3, 5}}));
    Tetra(h, 1, 2, 4, 3);
    Ring(h, {1, 2, 4, 3});
    EXPECT_EQ(shadow(1, h.PointsView(), h.CellsView(), h.WorkView()), 2);
    // Clockwise seen from above: 1 -> 3 -> 2 -> 1; the apex gets no entry.
    EXPECT_EQ(h.IVFLAG[0], 3);
    EXPECT_EQ(h.IVFLAG[2], 2);
    EXPECT_EQ(h.IVFLAG[1], 1);
    EXPECT_EQ(h.ISPREV[2], 1);
    EXPECT_EQ(h.IVFLAG[3], 0);
    EXPECT_EQ(h.IX[4], 10);  // the lifted point over the last vertex walked
    EXPECT_EQ(h.IORDER[4], 100);
}

// A vertex of the other hull inside the hull being wrapped sees none of its faces.
TEST(HullMerge, NoHorizonOnLeftFails) {
    HullStorage h = Chained(
        Storage({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {3, 3, 5}, {3, 3, 1}, {20, 0, 0}, {20, 5, 3}}));
    Tetra(h, 1, 2, 4, 3);
    Ring(h, {1, 2, 4, 3});
    Dihed(h, 5, 6, 7);
    Ring(h, {5, 6, 7});
    EXPECT_EQ(FailureText([&] { Gcylin(h, 1, 5); }),
              "Error in GCYLIN: no silhouette edge is found\nIVNOW,IESTAR =       1       1");
}

TEST(HullMerge, NoHorizonOnRightFails) {
    HullStorage h = Chained(Storage(
        {{3, 3, 1}, {-20, 0, 0}, {-20, 5, 3}, {0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {3, 3, 5}}));
    Dihed(h, 1, 2, 3);     // edges 1-3
    Tetra(h, 4, 5, 7, 6);  // IVEDGE(4) = edge 4
    Ring(h, {1, 2, 3});
    Ring(h, {4, 5, 7, 6});
    EXPECT_EQ(FailureText([&] { Gcylin(h, 1, 4); }),
              "Error in GCYLIN: no silhouette edge is found\nJVNOW,JESTAR =       4       4");
}

// One merge of two tetrahedra, observed through the marks it leaves.
TEST(HullMerge, CylinderClosesOntoBridgeEdgeAndHorizonNamesItsTriangles) {
    HullStorage run = Chained(Storage({{0, 0, 0},
                                       {1, 5, 1},
                                       {2, -3, 4},
                                       {3, 1, -5},
                                       {10, 2, 2},
                                       {11, -4, 0},
                                       {12, 3, -3},
                                       {13, 0, 5}}));
    const Cells C = run.CellsView();
    const Work W = run.WorkView();
    for (std::int32_t i = 1; i <= 8; ++i)
        W.IORDER(i) = i;
    for (const std::int32_t s : {1, 5})
        ch4p(s, run.PointsView(), C, W);
    mergch(1, 5, run.PointsView(), C, W);
    const std::int32_t E0 = 13, firstFace = 9;  // the cells after two tetrahedra
    std::int32_t cylinderEdges = 0, cylinderFaces = 0, lastFace = 0;
    for (std::int32_t f = 1; f <= run.NFMAX(); ++f)
        if (W.IFFLAG(f) == mark::NEW) {
            ++cylinderFaces;
            lastFace = f;
        }
    // The bridge is the upper tangent of the outlines seen from above: (1,5) to (12,3).
    EXPECT_EQ(run.IEVS[E0 - 1], 2);
    EXPECT_EQ(run.IEVE[E0 - 1], 7);
    EXPECT_EQ(run.IEFLAG[E0 - 1], mark::NEW);
    EXPECT_EQ(run.IEF1[E0 - 1], firstFace);
    EXPECT_EQ(run.IEF2[E0 - 1], lastFace);  // the last triangle closes onto the bridge edge
    // Walk the merged ring; every live edge is at one of its vertices.
    std::vector<std::int32_t> ring;
    std::int32_t v = 1;
    do {
        ring.push_back(v);
        v = run.IVNEXT[v - 1];
    } while (v != 1 && ring.size() <= 8);
    EXPECT_EQ(ring.size(), 8u);  // general position: every point stays
    for (const std::int32_t u : ring) {
        const std::int32_t e0 = run.IVEDGE[u - 1];
        std::int32_t e = e0;
        do {
            const std::int32_t f1 = C.IEF1(e), f2 = C.IEF2(e);
            EXPECT_NE(W.IEFLAG(e), mark::DELETED) << "edge " << e;
            EXPECT_NE(W.IFFLAG(f1), mark::DELETED) << "edge " << e;
            EXPECT_NE(W.IFFLAG(f2), mark::DELETED) << "edge " << e;
            if (W.IEFLAG(e) == mark::HORIZON) {
                EXPECT_TRUE(W.IFFLAG(f1) == mark::NEW || W.IFFLAG(f2) == mark::NEW) << "edge " << e;
            }
            e = nextAround(C, e, u);
        } while (e != e0);
    }
    for (std::int32_t e = 1; e <= run.NEMAX(); ++e)
        cylinderEdges += W.IEFLAG(e) == mark::NEW;
    EXPECT_EQ(cylinderEdges, cylinderFaces);  // closing onto the bridge takes no edge
}

TEST(PointSort, AscendingFirstKeyThenDescendingSecondKey) {
    const std::int32_t K1[7] = {3, 1, 3, 2, 1, 3, 0};
    const std::int32_t K2[7] = {5, 9, 7, 0, 2, 6, 4};
    std::int32_t order[7];
    hpsort(7, K1, K2, order);
    const std::vector<std::int32_t> expected = {7, 2, 5, 4, 3, 6, 1};
    EXPECT_EQ(std::vector<std::int32_t>(order, order + 7), expected);
    std::int32_t keep[2] = {-4, -4};
    hpsort(0, K1, K2, keep);
    EXPECT_EQ(keep[0], -4);
}

TEST(PointSort, LargeRandomInputIsOrdered) {
    std::mt19937 rng(5);
    const int n = 5000;
    std::vector<std::int32_t> k1(n), k2(n), order(n);
    for (int i = 0; i < n; ++i) {
        k1[i] = static_cast<std::int32_t>(rng() % 50);
        k2[i] = static_cast<std::int32_t>(rng() % 50);
    }
    hpsort(n, k1.data(), k2.data(), order.data());
    std::vector<int> seen(n + 1, 0);
    for (int i = 0; i < n; ++i)
        ++seen[order[i]];
    for (int i = 1; i <= n; ++i)
        ASSERT_EQ(seen[i], 1);
    for (int i = 0; i + 1 < n; ++i) {
        const int a = order[i] - 1, b = order[i + 1] - 1;
        ASSERT_TRUE(k1[a] < k1[b] || (k1[a] == k1[b] && k2[a] >= k2[b])) << i;
    }
}

TEST(HullEntry, TooFewPointsFail) {
    HullStorage h = Storage(Points(5));
    EXPECT_EQ(FailureText([&] { h.Run(5); }),
              "NOFP should be greater than 5.\npresenet NOFP is   5");
}

TEST(HullEntry, CapacityBelowPointsPlusOneFails) {
    HullStorage h = Storage(Points(6));
    h.Reuse(5);  // NVMAX = 6
    EXPECT_EQ(FailureText([&] { h.Run(6); }),
              "NOFP should not be greater than       5\npresenet NOFP is        6");
}

TEST(HullEntry, CoordinateOutOfRangeFails) {
    Points p(7, Point{1, 2, 3});
    p[2].x = 268435456;
    HullStorage h = Storage(p);
    EXPECT_EQ(FailureText([&] { h.Run(7); }),
              "Error: coordinate must be smaller than   268435455\n"
              "IP,IX,IY,IZ=           3   268435456           2           3");
    p[2].x = 1;
    p[5].y = -268435456;
    HullStorage h2 = Storage(p);
    EXPECT_EQ(FailureText([&] { h2.Run(7); }),
              "Error: coordinate must be smaller than   268435455\n"
              "IP,IX,IY,IZ=           6           1  -268435456           3");
}

TEST(HullEntry, ExtremeCoordinatesAccepted) {
    const std::int32_t M = 268435455;
    Points p = {{-M, -M, -M}, {M, -M, -M}, {-M, M, -M}, {-M, -M, M}, {M, M, M},
                {M, M, -M},   {0, 0, 0},   {M, -M, M},  {1, 2, 3},   {-M, M, M}};
    HullStorage run = Hull(p);
    EXPECT_EQ(VertexCount(run), 8);
    std::mt19937 rng(17);
    for (int t = 0; t < 5; ++t)
        Hull(RandomPoints(rng, 40, -M, M));
}

// Every grouping of fours and threes, general and degenerate.
TEST(HullSmall, EveryGroupingFromSixToTwelve) {
    std::mt19937 rng(1);
    for (int n = 6; n <= 12; ++n) {
        for (int t = 0; t < 20; ++t)
            Hull(RandomPoints(rng, n, -5, 5));
        for (int t = 0; t < 10; ++t)
            Hull(RandomPoints(rng, n, 0, 1));  // many coincident
        for (int t = 0; t < 10; ++t) {
            Points p = RandomPoints(rng, n, -3, 3);
            for (auto& q : p)
                q.x = 2;  // equal x everywhere
            Hull(p);
            for (auto& q : p)
                q.z = q.x + q.y;  // a tilted plane
            Hull(p);
        }
    }
}

TEST(HullSmall, SixPointsMergeOnce) {
    const Points p = {{0, 0, 0}, {1, 5, 0}, {2, 0, 5}, {3, 1, 1}, {4, 6, 2}, {5, 0, 0}};
    HullStorage run = Hull(p);
    EXPECT_LE(VertexCount(run), 6);
}

// A side that keeps only its bridge vertex: the walk finds no horizon edge on it and the whole
// side goes but that vertex.
TEST(HullMerge, LeftKeepsOnlyItsBridgeVertex) {
    const Points p = {{0, 0, 0}, {1, 0, 0}, {2, 0, -1}, {10, -10, -10}, {10, 10, -10}, {10, 0, 10}};
    HullStorage run = Hull(p);
    EXPECT_EQ(run.IVFLAG, std::vector<std::int32_t>({1, 0, 0, 1, 1, 1, 0}));
}

TEST(HullMerge, RightKeepsOnlyItsBridgeVertex) {
    const Points p = {{0, -10, -10}, {0, 10, -10}, {0, 0, 10}, {5, 0, 0}, {6, 0, 0}, {10, 0, 0}};
    HullStorage run = Hull(p);
    EXPECT_EQ(run.IVFLAG, std::vector<std::int32_t>({1, 1, 1, 0, 0, 1, 0}));
}

TEST(HullRandom, CubeOfSeveralSizes) {
    std::mt19937 rng(2);
    for (const int n : {13, 50, 150}) {
        for (int t = 0; t < 4; ++t)
            Hull(RandomPoints(rng, n, -1000, 1000));
    }
    for (const int n : {1000, 20000})
        Hull(RandomPoints(rng, n, -100000, 100000));
}

TEST(HullRandom, CubeOfAHundredThousand) {
    std::mt19937 rng(20);
    Hull(RandomPoints(rng, 100000, -100000000, 100000000));
}

TEST(HullRandom, CrowdedLatticesWithRandomRanks) {
    std::mt19937 rng(3);
    for (int t = 0; t < 30; ++t) {
        const int n = 6 + static_cast<int>(rng() % 60);
        Points p = RandomPoints(rng, n, 0, 3);
        std::vector<std::int32_t> ranks(n);
        for (int i = 0; i < n; ++i)
            ranks[i] = i;
        std::shuffle(ranks.begin(), ranks.end(), rng);
        Hull(p, ranks);
    }
    Hull(RandomPoints(rng, 5000, 0, 4));
}

Points Grid(int a, int b, int c, bool surfaceOnly) {
    Points p;
    for (int x = 0; x < a; ++x)
        for (int y = 0; y < b; ++y)
            for (int z = 0; z < c; ++z) {
                const bool inner = x > 0 && x < a - 1 && y > 0 && y < b - 1 && z > 0 && z < c - 1;
                if (!surfaceOnly || !inner) p.push_back({x, y, z});
            }
    return p;
}

TEST(HullLattice, WholeGridsAndGridSurfaces) {
    for (const auto& g : {std::vector<int>{2, 2, 2},
                          {3, 3, 3},
                          {4, 4, 4},
                          {2, 3, 4},
                          {5, 1, 3},
                          {5, 5, 5},
                          {1, 1, 9},
                          {1, 4, 4}}) {
        Hull(Grid(g[0], g[1], g[2], false));
        Hull(Grid(g[0], g[1], g[2], true));
    }
    Hull(Grid(12, 9, 7, true));
    Hull(Grid(20, 20, 20, false));
}

TEST(HullLattice, BoxCornersWithDuplicates) {
    Points p;
    for (int k = 0; k < 5; ++k)
        for (int c = 0; c < 8; ++c)
            p.push_back({(c & 1) * 7, (c >> 1 & 1) * 3, (c >> 2) * 11});
    HullStorage run = Hull(p);
    EXPECT_GE(VertexCount(run), 8);
    std::mt19937 rng(4);
    std::shuffle(p.begin(), p.end(), rng);
    Hull(p);
    p.resize(9);
    Hull(p);
}

TEST(HullDegenerate, AllCoplanar) {
    std::mt19937 rng(6);
    for (const int n : {6, 17, 60, 140, 3000}) {
        Points p = RandomPoints(rng, n, -20, 20);
        for (auto& q : p)
            q.z = 3 * q.x - 2 * q.y + 5;
        Hull(p);
        for (auto& q : p)
            q.z = 7;
        Hull(p);
        for (auto& q : p) {
            q.z = q.y;
            q.y = 4;
        }
        Hull(p);
    }
}

TEST(HullDegenerate, AllEqualX) {
    std::mt19937 rng(7);
    for (const int n : {6, 9, 31, 128, 2000}) {
        Points p = RandomPoints(rng, n, -50, 50);
        for (auto& q : p)
            q.x = -3;
        Hull(p);
    }
}

TEST(HullDegenerate, ManyCoincidentPoints) {
    std::mt19937 rng(8);
    const Points base = RandomPoints(rng, 10, -9, 9);
    Points p;
    for (int k = 0; k < 6; ++k)
        p.insert(p.end(), base.begin(), base.end());
    Hull(p);
    std::shuffle(p.begin(), p.end(), rng);
    Hull(p);
    Points q(30, Point{1, 1, 1});
    q.push_back({2, 1, 1});
    q.push_back({1, 3, 1});
    q.push_back({1, 1, 4});
    Hull(q);
}

TEST(HullDegenerate, CollinearDistinctPoints) {
    Points p;
    for (int i = 0; i < 24; ++i)
        p.push_back({i, 2 * i, -i});
    Hull(p);
}

// Points on one line at a few positions, drawn in a fixed random order.
Points CollinearCoincident(int n, int positions, unsigned seed) {
    std::mt19937 rng(seed);
    Points p;
    for (int i = 0; i < n; ++i) {
        const int t = static_cast<int>(rng() % positions);
        p.push_back({t, 2 * t, 3 * t});
    }
    return p;
}

TEST(HullDegenerate, CollinearCoincidentPoints) {
    for (const int n : {6, 7, 8, 10, 13, 20, 40})
        for (const int positions : {1, 2, 3})
            for (const unsigned seed : {1u, 2u, 3u})
                Hull(CollinearCoincident(n, positions, seed));
}

// On one line with many coincident points a side can keep edges without faces of their own,
// the cylinder then has more triangles than there are points, and the face cells run out.
TEST(HullDegenerate, CollinearCoincidentPointsExhaustFaceCells) {
    HullStorage h = Storage(CollinearCoincident(100, 3, 3));
    EXPECT_EQ(FailureText([&] { h.Run(100); }), "Error in KNEWF: No more face cell.");
}

TEST(HullRanks, RepeatedRanksAreReplacedByPointNumbers) {
    std::mt19937 rng(9);
    const Points p = RandomPoints(rng, 40, 0, 3);
    std::vector<std::int32_t> numbers(40);
    for (int i = 0; i < 40; ++i)
        numbers[i] = i + 1;
    const HullStorage direct = Hull(p, numbers);
    const HullStorage zeros = Hull(p, std::vector<std::int32_t>(40, 0));
    ExpectSameHull(zeros, direct);
    std::vector<std::int32_t> repeated(40);
    for (int i = 0; i < 40; ++i)
        repeated[i] = i % 7;
    const HullStorage rep = Hull(p, repeated);
    ExpectSameHull(rep, direct);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(rep.IRANK[i], i + 1);
}

// Every decision is the sign of a determinant of differences, so translating or scaling the
// input by a positive factor changes nothing in the result.
TEST(HullRanks, SameArraysAfterTranslationAndScaling) {
    std::mt19937 rng(10);
    for (int t = 0; t < 5; ++t) {
        const Points p = RandomPoints(rng, 30 + 20 * t, 0, 3);
        const HullStorage base = Hull(p);
        Points moved = p;
        for (auto& q : moved)
            q = {3 * q.x - 1000, 3 * q.y + 77, 3 * q.z + 5};
        ExpectSameHull(Hull(moved), base);
    }
}

// The checker every hull test relies on must see a fault: a broken link, a point outside.
TEST(HullCheck, ReportsBrokenLinksAndPointsOutside) {
    const Points p = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {0, 0, 4}, {4, 4, 4}, {1, 1, 1}, {2, 1, 1}};
    const HullStorage h = Hull(p);
    std::int32_t e = 1;
    while (h.IEFLAG[e - 1] != mark::IN_USE)
        ++e;
    HullStorage broken = h;
    broken.IEEF1[e - 1] = e;
    EXPECT_EQ(hullcheck::CheckHull(broken), "successor in face 1 of edge " + std::to_string(e));
    HullStorage moved = h;
    moved.IX[5] = 100;  // point 6 leaves the hull it was inside
    EXPECT_NE(hullcheck::CheckHull(moved), "");
}

}  // namespace
