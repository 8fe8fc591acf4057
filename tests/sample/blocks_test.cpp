#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "voxwrap/voxwrap.h"

namespace {

using namespace voxwrap;  // the tests speak the library's names
using Corner = std::array<std::int32_t, 3>;

// A volume in memory, sample (x, y, z) at (z * H + y) * W + x.
struct Volume {
    std::int32_t W, H, N;
    std::vector<std::uint16_t> v;
    Volume(std::int32_t w, std::int32_t h, std::int32_t n)
        : W(w), H(h), N(n), v(static_cast<std::size_t>(w) * h * n) {}
    std::uint16_t& at(std::int32_t x, std::int32_t y, std::int32_t z) {
        return v[(static_cast<std::size_t>(z) * H + y) * W + x];
    }
};

std::set<Corner> CornerSet(const Points& p) {
    std::set<Corner> s;
    for (std::size_t k = 0; k < p.size(); ++k)
        s.insert({p.x[k], p.y[k], p.z[k]});
    return s;
}

// The hull of the whole volume, sampled in one piece, for the selection.
struct Whole {
    std::set<Corner> corners;
    Int128 sixVolume = 0;
    std::int64_t voxels = 0;
};
Whole HullOfWhole(const Volume& vol, const Selection& sel) {
    SampleOptions o;
    o.threads = 1;
    o.countVoxels = true;
    SliceSampler s(vol.W, vol.H, vol.N, sel, o);
    for (std::int32_t z = 0; z < vol.N; ++z)
        s.Add(vol.v.data() + static_cast<std::size_t>(z) * vol.W * vol.H, vol.W, vol.W, vol.H);
    Whole w;
    Points p = s.Finish();
    w.voxels = s.voxels();
    if (p.empty()) return w;
    const Hull hull = ConvexHull(std::move(p));
    w.corners = CornerSet(hull.vertices);
    w.sixVolume = Measure(hull, 0).sixVolume;
    return w;
}

// The volume cut into blocks of bx x by x bz (smaller at the far ends), each reduced alone, then
// combined in pairs until one group is left: a tree as a cluster builds it.
std::vector<BlockPart> Blocks(const Volume& vol, const Selection& sel, bool labels, std::int32_t bx,
                              std::int32_t by, std::int32_t bz) {
    std::vector<std::vector<BlockPart>> level;
    for (std::int32_t z0 = 0; z0 < vol.N; z0 += bz)
        for (std::int32_t y0 = 0; y0 < vol.H; y0 += by)
            for (std::int32_t x0 = 0; x0 < vol.W; x0 += bx) {
                const std::int32_t w = std::min(bx, vol.W - x0), h = std::min(by, vol.H - y0),
                                   n = std::min(bz, vol.N - z0);
                SampleOptions o;
                o.threads = 1;
                BlockSampler b(w, h, n, x0, y0, z0, sel, labels, o);
                for (std::int32_t z = z0; z < z0 + n; ++z)
                    b.Add(vol.v.data() + (static_cast<std::size_t>(z) * vol.H + y0) * vol.W + x0,
                          vol.W);
                level.push_back(b.Finish());
            }
    while (level.size() > 1) {
        std::vector<std::vector<BlockPart>> next;
        for (std::size_t k = 0; k < level.size(); k += 2) {
            std::vector<std::vector<BlockPart>> pair{std::move(level[k])};
            if (k + 1 < level.size()) pair.push_back(std::move(level[k + 1]));
            next.push_back(CombineBlocks(std::move(pair)));
        }
        level = std::move(next);
    }
    return CombineBlocks(std::move(level));
}

// The volumes of the table: random blobs and the shapes a block's hull cannot take whole.
Volume Make(const std::string& shape, std::uint32_t seed) {
    Volume vol(13, 11, 9);
    std::mt19937 rng(seed);
    if (shape == "random") {  // sparse noise over labels 1..3, dense in a ball
        for (std::int32_t z = 0; z < vol.N; ++z)
            for (std::int32_t y = 0; y < vol.H; ++y)
                for (std::int32_t x = 0; x < vol.W; ++x) {
                    const int d = (x - 6) * (x - 6) + (y - 5) * (y - 5) + (z - 4) * (z - 4);
                    if (rng() % 100 < (d < 12 ? 70u : 4u))
                        vol.at(x, y, z) = static_cast<std::uint16_t>(1 + rng() % 3);
                }
    } else if (shape == "voxel") {
        vol.at(5, 4, 3) = 1;
    } else if (shape == "plate") {  // one voxel thick, across every block border in x and y
        for (std::int32_t y = 1; y < 10; ++y)
            for (std::int32_t x = 2; x < 12; ++x)
                vol.at(x, y, 4) = 2;
    } else if (shape == "line") {  // a diagonal row of voxels, one per block at most
        for (std::int32_t k = 0; k < 9; ++k)
            vol.at(k, k, k) = 3;
    } else if (shape == "corner") {  // only in the far corner block
        vol.at(12, 10, 8) = 1;
        vol.at(11, 10, 8) = 1;
        vol.at(12, 9, 7) = 2;
    }
    return vol;
}

TEST(Blocks, CombinedHullIsTheWholesForEveryShapeAndCut) {
    const std::array<std::array<std::int32_t, 3>, 4> cuts = {
        {{13, 11, 9}, {4, 4, 4}, {5, 3, 2}, {1, 11, 9}}};
    for (const std::string shape : {"random", "voxel", "plate", "line", "corner", "empty"}) {
        for (std::uint32_t seed = 1; seed <= (shape == "random" ? 6u : 1u); ++seed) {
            const Volume vol = Make(shape, seed);
            for (const auto& cut : cuts) {
                const std::string what = shape + " seed " + std::to_string(seed) + " cut " +
                                         std::to_string(cut[0]) + "x" + std::to_string(cut[1]) +
                                         "x" + std::to_string(cut[2]);
                // One object: every selected value.
                const Selection all = Selection::FromRangeList("1-");
                const Whole whole = HullOfWhole(vol, all);
                const std::vector<BlockPart> one = Blocks(vol, all, false, cut[0], cut[1], cut[2]);
                ASSERT_EQ(one.size(), 1u) << what;
                EXPECT_EQ(one[0].voxels, whole.voxels) << what;
                if (whole.voxels == 0) {
                    EXPECT_TRUE(one[0].points.empty()) << what;
                } else {
                    const Hull hull = ConvexHull(one[0].points);
                    EXPECT_EQ(CornerSet(hull.vertices), whole.corners) << what;
                    EXPECT_TRUE(Measure(hull, 0).sixVolume == whole.sixVolume) << what;
                }

                // Labels: each against the whole sampled for that value alone, and the voxel
                // measures against a count voxel by voxel.
                const std::vector<BlockPart> labels =
                    Blocks(vol, all, true, cut[0], cut[1], cut[2]);
                std::map<std::int64_t, std::array<std::int64_t, 10>> expected;  // n, sum, min, max
                for (std::int32_t z = 0; z < vol.N; ++z)
                    for (std::int32_t y = 0; y < vol.H; ++y)
                        for (std::int32_t x = 0; x < vol.W; ++x) {
                            const std::uint16_t value = vol.v[(z * vol.H + y) * vol.W + x];
                            if (value == 0) continue;
                            auto [at, fresh] = expected.try_emplace(value);
                            auto& e = at->second;
                            const std::int32_t p[3] = {x, y, z};
                            ++e[0];
                            for (int i = 0; i < 3; ++i) {
                                e[1 + i] += p[i];
                                e[4 + i] = fresh ? p[i] : std::min<std::int64_t>(e[4 + i], p[i]);
                                e[7 + i] = fresh ? p[i] : std::max<std::int64_t>(e[7 + i], p[i]);
                            }
                        }
                ASSERT_EQ(labels.size(), expected.size()) << what;
                for (const BlockPart& part : labels) {
                    const auto& e = expected.at(part.id);
                    const std::string label = what + " label " + std::to_string(part.id);
                    const Whole alone =
                        HullOfWhole(vol, Selection::FromRangeList(std::to_string(part.id)));
                    const Hull hull = ConvexHull(part.points);
                    EXPECT_EQ(CornerSet(hull.vertices), alone.corners) << label;
                    EXPECT_TRUE(Measure(hull, 0).sixVolume == alone.sixVolume) << label;
                    EXPECT_EQ(part.voxels, e[0]) << label;
                    for (int i = 0; i < 3; ++i) {
                        EXPECT_TRUE(part.sum[i] == e[1 + i]) << label;
                        EXPECT_EQ(part.min[i], e[4 + i]) << label;
                        EXPECT_EQ(part.max[i], e[7 + i]) << label;
                    }
                }
            }
        }
    }
}

}  // namespace
