// The hull construction end to end: every hull is checked exactly by CheckHull (structure,
// containment, extreme points, and for small inputs the volume of an independent hull).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "hull/cells.h"
#include "hull_fixture.h"
#include "support.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

using Ranks = std::vector<std::int32_t>;

PointList RandomPoints(std::mt19937& rng, int n, int lo, int hi) {
    std::uniform_int_distribution<int> d(lo, hi);
    PointList p;
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
    HullStorage h = Storage(PointList(5));
    EXPECT_EQ(FailureText([&] { h.Run(5); }),
              "NOFP should be greater than 5.\npresenet NOFP is   5");
}

TEST(HullEntry, CapacityBelowPointsPlusOneFails) {
    HullStorage h = Storage(PointList(6));
    h.Reuse(5);  // NVMAX = 6
    EXPECT_EQ(FailureText([&] { h.Run(6); }),
              "NOFP should not be greater than       5\npresenet NOFP is        6");
}

TEST(HullEntry, CoordinateOutOfRangeFails) {
    PointList p(7, Point{1, 2, 3});
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
    PointList p = {{-M, -M, -M}, {M, -M, -M}, {-M, M, -M}, {-M, -M, M}, {M, M, M},
                   {M, M, -M},   {0, 0, 0},   {M, -M, M},  {1, 2, 3},   {-M, M, M}};
    HullStorage run = RunHull(p);
    EXPECT_EQ(VertexCount(run), 8);
    std::mt19937 rng(17);
    for (int t = 0; t < 5; ++t)
        RunHull(RandomPoints(rng, 40, -M, M));
}

// Every grouping of fours and threes, general and degenerate.
TEST(HullSmall, EveryGroupingFromSixToTwelve) {
    std::mt19937 rng(1);
    for (int n = 6; n <= 12; ++n) {
        for (int t = 0; t < 20; ++t)
            RunHull(RandomPoints(rng, n, -5, 5));
        for (int t = 0; t < 10; ++t)
            RunHull(RandomPoints(rng, n, 0, 1));  // many coincident
        for (int t = 0; t < 10; ++t) {
            PointList p = RandomPoints(rng, n, -3, 3);
            for (auto& q : p)
                q.x = 2;  // equal x everywhere
            RunHull(p);
            for (auto& q : p)
                q.z = q.x + q.y;  // a tilted plane
            RunHull(p);
        }
    }
}

TEST(HullSmall, SixPointsMergeOnce) {
    const PointList p = {{0, 0, 0}, {1, 5, 0}, {2, 0, 5}, {3, 1, 1}, {4, 6, 2}, {5, 0, 0}};
    HullStorage run = RunHull(p);
    EXPECT_LE(VertexCount(run), 6);
}

// A side that keeps only its bridge vertex: the walk finds no horizon edge on it and the whole
// side goes but that vertex.
TEST(HullMerge, LeftKeepsOnlyItsBridgeVertex) {
    const PointList p = {{0, 0, 0},      {1, 0, 0},     {2, 0, -1},
                         {10, -10, -10}, {10, 10, -10}, {10, 0, 10}};
    HullStorage run = RunHull(p);
    EXPECT_EQ(run.IVFLAG, std::vector<std::int32_t>({1, 0, 0, 1, 1, 1, 0}));
}

TEST(HullMerge, RightKeepsOnlyItsBridgeVertex) {
    const PointList p = {{0, -10, -10}, {0, 10, -10}, {0, 0, 10}, {5, 0, 0}, {6, 0, 0}, {10, 0, 0}};
    HullStorage run = RunHull(p);
    EXPECT_EQ(run.IVFLAG, std::vector<std::int32_t>({1, 1, 1, 0, 0, 1, 0}));
}

TEST(HullRandom, CubeOfSeveralSizes) {
    std::mt19937 rng(2);
    for (const int n : {13, 50, 150}) {
        for (int t = 0; t < 4; ++t)
            RunHull(RandomPoints(rng, n, -1000, 1000));
    }
    for (const int n : {1000, 20000})
        RunHull(RandomPoints(rng, n, -100000, 100000));
}

TEST(HullRandom, CubeOfAHundredThousand) {
    std::mt19937 rng(20);
    RunHull(RandomPoints(rng, 100000, -100000000, 100000000));
}

TEST(HullRandom, CrowdedLatticesWithRandomRanks) {
    std::mt19937 rng(3);
    for (int t = 0; t < 30; ++t) {
        const int n = 6 + static_cast<int>(rng() % 60);
        PointList p = RandomPoints(rng, n, 0, 3);
        std::vector<std::int32_t> ranks(n);
        for (int i = 0; i < n; ++i)
            ranks[i] = i;
        std::shuffle(ranks.begin(), ranks.end(), rng);
        RunHull(p, ranks);
    }
    RunHull(RandomPoints(rng, 5000, 0, 4));
}

PointList Grid(int a, int b, int c, bool surfaceOnly) {
    PointList p;
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
        RunHull(Grid(g[0], g[1], g[2], false));
        RunHull(Grid(g[0], g[1], g[2], true));
    }
    RunHull(Grid(12, 9, 7, true));
    RunHull(Grid(20, 20, 20, false));
}

// chull3 against its merge tree run through the public routines, which clear the marks of both
// hulls before every merge: chull3's merges reset only the marks of their own cylinders, and
// must leave the very same cells, free lists and ring.
TEST(HullMerge, SameCellsAsTheMergeTreeOfThePublicRoutines) {
    std::mt19937 rng(17);
    std::vector<std::pair<PointList, Ranks>> sets = {{Grid(12, 9, 7, true), {}},
                                                     {RandomPoints(rng, 3000, 0, 6), {}},
                                                     {RandomPoints(rng, 2001, -1000, 1000), {}}};
    Ranks shuffled(sets[1].first.size());
    for (std::size_t i = 0; i < shuffled.size(); ++i)
        shuffled[i] = static_cast<std::int32_t>(i);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    sets.push_back({sets[1].first, shuffled});
    for (const auto& [points, ranks] : sets) {
        const HullStorage fast = RunHull(points, ranks);
        HullStorage slow = Chained(Storage(points, ranks));
        const Cells C = slow.CellsView();
        const Work W = slow.WorkView();
        const std::int32_t n = PointCount(slow);
        hpsort(n, slow.IX.data(), slow.IRANK.data(), W.IORDER.first);
        const std::int32_t k3 = 3 - (n - 1) % 4, q4 = (n - 3 * k3) / 4;
        std::vector<std::int32_t> hulls;
        for (std::int32_t j = 0; j < q4; ++j) {
            ch4p(4 * j + 1, slow.PointsView(), C, W);
            hulls.push_back(W.IORDER(4 * j + 1));
        }
        for (std::int32_t j = 0; j < k3; ++j) {
            ch3p(4 * q4 + 3 * j + 1, C, W);
            hulls.push_back(W.IORDER(4 * q4 + 3 * j + 1));
        }
        while (hulls.size() > 1) {
            std::vector<std::int32_t> next;
            for (std::size_t i = 0; i + 1 < hulls.size(); i += 2) {
                mergch(hulls[i], hulls[i + 1], slow.PointsView(), C, W);
                next.push_back(hulls[i]);
            }
            if (hulls.size() % 2 == 1) next.push_back(hulls.back());
            hulls = next;
        }
        ASSERT_EQ(Slot(fast, slot::IVSTRT), hulls[0]);
        EXPECT_EQ(Slot(fast, slot::IFFREE), Slot(slow, slot::IFFREE));
        EXPECT_EQ(Slot(fast, slot::IEFREE), Slot(slow, slot::IEFREE));
        std::int32_t v = hulls[0];
        do {
            ASSERT_EQ(fast.IVNEXT[v - 1], slow.IVNEXT[v - 1]) << "vertex " << v;
            EXPECT_EQ(fast.IVEDGE[v - 1], slow.IVEDGE[v - 1]) << "vertex " << v;
            v = slow.IVNEXT[v - 1];
        } while (v != hulls[0]);
        for (std::int32_t f = 0; f < fast.NFMAX(); ++f)
            if (fast.IFFLAG[f] == mark::IN_USE) {
                EXPECT_EQ(fast.IFEDGE[f], slow.IFEDGE[f]);
            }
        for (auto m :
             {&HullStorage::IEVS, &HullStorage::IEVE, &HullStorage::IEF1, &HullStorage::IEF2,
              &HullStorage::IESF1, &HullStorage::IESF2, &HullStorage::IEEF2, &HullStorage::IEEF1})
            for (std::int32_t e = 0; e < fast.NEMAX(); ++e)
                if (fast.IEFLAG[e] == mark::IN_USE) {
                    EXPECT_EQ((fast.*m)[e], (slow.*m)[e]);
                }
    }
}

TEST(HullLattice, BoxCornersWithDuplicates) {
    PointList p;
    for (int k = 0; k < 5; ++k)
        for (int c = 0; c < 8; ++c)
            p.push_back({(c & 1) * 7, (c >> 1 & 1) * 3, (c >> 2) * 11});
    HullStorage run = RunHull(p);
    EXPECT_GE(VertexCount(run), 8);
    std::mt19937 rng(4);
    std::shuffle(p.begin(), p.end(), rng);
    RunHull(p);
    p.resize(9);
    RunHull(p);
}

TEST(HullDegenerate, AllCoplanar) {
    std::mt19937 rng(6);
    for (const int n : {6, 17, 60, 140, 3000}) {
        PointList p = RandomPoints(rng, n, -20, 20);
        for (auto& q : p)
            q.z = 3 * q.x - 2 * q.y + 5;
        RunHull(p);
        for (auto& q : p)
            q.z = 7;
        RunHull(p);
        for (auto& q : p) {
            q.z = q.y;
            q.y = 4;
        }
        RunHull(p);
    }
}

TEST(HullDegenerate, AllEqualX) {
    std::mt19937 rng(7);
    for (const int n : {6, 9, 31, 128, 2000}) {
        PointList p = RandomPoints(rng, n, -50, 50);
        for (auto& q : p)
            q.x = -3;
        RunHull(p);
    }
}

TEST(HullDegenerate, ManyCoincidentPoints) {
    std::mt19937 rng(8);
    const PointList base = RandomPoints(rng, 10, -9, 9);
    PointList p;
    for (int k = 0; k < 6; ++k)
        p.insert(p.end(), base.begin(), base.end());
    RunHull(p);
    std::shuffle(p.begin(), p.end(), rng);
    RunHull(p);
    PointList q(30, Point{1, 1, 1});
    q.push_back({2, 1, 1});
    q.push_back({1, 3, 1});
    q.push_back({1, 1, 4});
    RunHull(q);
}

TEST(HullDegenerate, CollinearDistinctPoints) {
    PointList p;
    for (int i = 0; i < 24; ++i)
        p.push_back({i, 2 * i, -i});
    RunHull(p);
}

// PointList on one line at a few positions, drawn in a fixed random order.
PointList CollinearCoincident(int n, int positions, unsigned seed) {
    std::mt19937 rng(seed);
    PointList p;
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
                RunHull(CollinearCoincident(n, positions, seed));
}

// On one line with many coincident points a side can keep edges without faces of their own,
// the cylinder then has more triangles than there are points, and the face cells run out.
TEST(HullDegenerate, CollinearCoincidentPointsExhaustFaceCells) {
    HullStorage h = Storage(CollinearCoincident(100, 3, 3));
    EXPECT_EQ(FailureText([&] { h.Run(100); }), "Error in KNEWF: No more face cell.");
}

TEST(HullRanks, RepeatedRanksAreReplacedByPointNumbers) {
    std::mt19937 rng(9);
    const PointList p = RandomPoints(rng, 40, 0, 3);
    std::vector<std::int32_t> numbers(40);
    for (int i = 0; i < 40; ++i)
        numbers[i] = i + 1;
    const HullStorage direct = RunHull(p, numbers);
    const HullStorage zeros = RunHull(p, std::vector<std::int32_t>(40, 0));
    ExpectSameHull(zeros, direct);
    std::vector<std::int32_t> repeated(40);
    for (int i = 0; i < 40; ++i)
        repeated[i] = i % 7;
    const HullStorage rep = RunHull(p, repeated);
    ExpectSameHull(rep, direct);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(rep.IRANK[i], i + 1);
}

// Every decision is the sign of a determinant of differences, so translating or scaling the
// input by a positive factor changes nothing in the result.
TEST(HullRanks, SameArraysAfterTranslationAndScaling) {
    std::mt19937 rng(10);
    for (int t = 0; t < 5; ++t) {
        const PointList p = RandomPoints(rng, 30 + 20 * t, 0, 3);
        const HullStorage base = RunHull(p);
        PointList moved = p;
        for (auto& q : moved)
            q = {3 * q.x - 1000, 3 * q.y + 77, 3 * q.z + 5};
        ExpectSameHull(RunHull(moved), base);
    }
}

// The checker every hull test relies on must see a fault: a broken link, a point outside.
TEST(HullCheck, ReportsBrokenLinksAndPointsOutside) {
    const PointList p = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {0, 0, 4},
                         {4, 4, 4}, {1, 1, 1}, {2, 1, 1}};
    const HullStorage h = RunHull(p);
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
