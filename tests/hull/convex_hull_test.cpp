// ConvexHull's contract on crowded lattices: the hull of the two passes, corners only, no face of
// zero area, every point inside, the same corners from the first pass alone; and the exact check
// that guards every hull in checking builds must see a broken one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "hull/chain.h"
#include "hull/check.h"
#include "hull_fixture.h"
#include "support.h"
#include "voxwrap/voxwrap.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

voxwrap::Points Soa(const PointList& p) {
    voxwrap::Points out;
    for (const Point& q : p)
        out.push_back(q.x, q.y, q.z);
    return out;
}

// Lattice points in a box, drawn with repeats; some sets thin (one or two layers thick), some
// with whole collinear rows and coplanar layers.
std::vector<PointList> CrowdedLattices() {
    std::mt19937 rng(2024);
    std::vector<PointList> sets;
    auto draw = [&](int n, int sx, int sy, int sz) {
        PointList p;
        for (int i = 0; i < n; ++i)
            p.push_back({static_cast<std::int32_t>(rng() % sx),
                         static_cast<std::int32_t>(rng() % sy),
                         static_cast<std::int32_t>(rng() % sz)});
        return p;
    };
    for (const int n : {12, 40, 150, 600}) {
        sets.push_back(draw(n, 3, 3, 3));  // crowded: nearly every point repeats
        sets.push_back(draw(n, 9, 7, 2));  // flat: two layers
        sets.push_back(draw(n, 40, 2 + n % 3, 3));
    }
    PointList rows;  // collinear rows on coplanar layers, and a far apex
    for (int z = 0; z < 3; ++z)
        for (int x = 0; x < 10; ++x)
            rows.push_back({x, 2 * z, z == 1 ? 0 : 5});
    rows.push_back({4, 1, 40});
    sets.push_back(rows);
    // Translated to the coordinate limit: only differences decide.
    PointList far = draw(80, 4, 4, 4);
    for (Point& q : far)
        q = {q.x - 268435455 + 3, q.y + 268435455 - 3, q.z};
    sets.push_back(far);
    return sets;
}

TEST(ConvexHull, TheTwoPassesCornersOnlyEveryPointInside) {
    for (const PointList& p : CrowdedLattices()) {
        const voxwrap::Hull hull = voxwrap::ConvexHull(Soa(p));
        EXPECT_EQ(hullcheck::CheckConvexHull(Soa(p), hull), "") << "n = " << p.size();
        // The first pass alone finds the same corners in the same order, and the hull depends
        // on nothing else: that of the corners is the same mesh.
        const voxwrap::Points first = HullCorners(Soa(p));
        EXPECT_EQ(first.x, hull.vertices.x);
        EXPECT_EQ(first.y, hull.vertices.y);
        EXPECT_EQ(first.z, hull.vertices.z);
        EXPECT_EQ(voxwrap::ConvexHull(first).triangles, hull.triangles);
        // The same as the two passes run by hand on the first occurrences, and the second pass
        // sound by CheckHull (whose brute-force hull, for small inputs, confirms the volume and
        // the corners).
        PointList distinct;
        for (const Point& q : p) {
            if (std::none_of(distinct.begin(), distinct.end(), [&](const Point& r) {
                    return r.x == q.x && r.y == q.y && r.z == q.z;
                }))
                distinct.push_back(q);
        }
        HullStorage h = Storage(distinct);
        FirstHull(PointCount(h), h);
        const std::int32_t corners = SecondHull(h);
        EXPECT_EQ(hullcheck::CheckHull(h), "") << "n = " << p.size();
        ASSERT_EQ(hull.vertices.size(), static_cast<std::size_t>(corners));
        EXPECT_TRUE(std::equal(hull.vertices.x.begin(), hull.vertices.x.end(), h.IX.begin()));
        std::vector<std::array<std::int32_t, 3>> slots;
        for (std::int32_t f = 1; f <= h.NFMAX(); ++f) {
            if (h.IFFLAG[f - 1] != mark::IN_USE) continue;
            std::int32_t v[3];
            h.FacePoints(f, v);
            slots.push_back({v[0] - 1, v[1] - 1, v[2] - 1});
        }
        EXPECT_EQ(hull.triangles, slots) << "n = " << p.size();
    }
    // PointList in one plane have no corner: the second pass refuses to run on none.
    PointList flat;
    for (int i = 0; i < 20; ++i)
        flat.push_back({i % 5, i / 5, 7});
    EXPECT_EQ(FailureText([&] { voxwrap::ConvexHull(Soa(flat)); }),
              "NOFP should be greater than 5.\npresenet NOFP is   0");
}

// Parts that follow one another along x, each hulled on its own and appended to a chain, have
// the corners that the first pass over all their points finds, in the same order: on crowded
// lattices (coplanar layers, collinear rows, the merges' degenerate cases), one part to many,
// each part's points in random order, long prisms among them. A part not above the last one's
// x is refused.
TEST(HullChain, PartsAlongXHaveTheCornersOfTheWhole) {
    std::mt19937 rng(31);
    int chained = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int sy = 2 + static_cast<int>(rng() % 5), sz = 2 + static_cast<int>(rng() % 5);
        // Every tenth set a full box: a long prism, whose merges take nearly every point off the
        // hull, so that the chain drops them (its compaction) as it grows.
        const int percent = trial % 10 == 0 ? 100 : 20 + static_cast<int>(rng() % 80);
        voxwrap::Points all;
        HullChain chain;
        bool hulled = true;
        for (std::int32_t x0 = 0; x0 < 24 && hulled;) {
            const std::int32_t width = 1 + static_cast<std::int32_t>(rng() % 6);
            PointList part;
            for (std::int32_t x = x0; x < x0 + width; ++x)
                for (std::int32_t y = 0; y < sy; ++y)
                    for (std::int32_t z = 0; z < sz; ++z)
                        if (static_cast<int>(rng() % 100) < percent) part.push_back({x, y, z});
            std::shuffle(part.begin(), part.end(), rng);
            x0 += width;
            if (part.empty()) continue;
            HullStorage h = Storage(part);
            try {
                FirstHull(PointCount(h), h);
            } catch (const Error&) {
                hulled = false;  // a flat part or too few points: no hull of its own
                break;
            }
            chain.Append(h);
            all.x.insert(all.x.end(), h.IX.begin(), h.IX.end() - 1);
            all.y.insert(all.y.end(), h.IY.begin(), h.IY.end() - 1);
            all.z.insert(all.z.end(), h.IZ.begin(), h.IZ.end() - 1);
        }
        if (!hulled || all.size() == 0) continue;
        ++chained;
        const voxwrap::Points expected = HullCorners(all), got = chain.Corners();
        ASSERT_EQ(got.x, expected.x) << "trial " << trial;
        ASSERT_EQ(got.y, expected.y) << "trial " << trial;
        ASSERT_EQ(got.z, expected.z) << "trial " << trial;
    }
    EXPECT_GT(chained, 100);

    HullChain chain;
    HullStorage low = RunHull({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {1, 1, 0}});
    chain.Append(low);
    EXPECT_EQ(FailureText([&] { chain.Append(low); }), "hull chain: a part out of order.");
}

TEST(ConvexHull, CheckSeesEveryKindOfFault) {
    const PointList p = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {0, 0, 4}, {4, 4, 4},
                         {1, 1, 1}, {4, 4, 0}, {2, 2, 0}, {4, 0, 4}};
    const voxwrap::Points points = Soa(p);
    const voxwrap::Hull good = voxwrap::ConvexHull(points);
    ASSERT_EQ(hullcheck::CheckConvexHull(points, good), "");
    const struct {
        const char* name;
        void (*spoil)(voxwrap::Hull&);
    } faults[] = {
        {"a triangle reversed",
         [](voxwrap::Hull& h) { std::swap(h.triangles[0][0], h.triangles[0][1]); }},
        {"a triangle missing", [](voxwrap::Hull& h) { h.triangles.pop_back(); }},
        {"a vertex moved in",
         [](voxwrap::Hull& h) { h.vertices.x[0] = h.vertices.x[0] == 0 ? 1 : 3; }},
        {"a vertex moved out", [](voxwrap::Hull& h) { h.vertices.z[1] += 5; }},
        {"every triangle reversed",
         [](voxwrap::Hull& h) {
             for (auto& t : h.triangles)
                 std::swap(t[1], t[2]);
         }},
        {"a face of zero area", [](voxwrap::Hull& h) { h.triangles[0][2] = h.triangles[0][1]; }},
    };
    for (const auto& fault : faults) {
        voxwrap::Hull bad = good;
        fault.spoil(bad);
        EXPECT_NE(hullcheck::CheckConvexHull(points, bad), "") << fault.name;
    }
    // A point the hull leaves out.
    voxwrap::Points more = points;
    more.push_back(5, 1, 1);
    EXPECT_NE(hullcheck::CheckConvexHull(more, good), "");
}

}  // namespace
