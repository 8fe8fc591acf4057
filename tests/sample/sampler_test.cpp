#include "sample/sampler.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "hull/storage.h"
#include "sample/chains.h"
#include "sample/selection.h"
#include "sample/slabs.h"
#include "slices/csi.h"
#include "support.h"
#include "tiff/tiff_builder.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

using voxwrap::Selection;
using voxwrap::sampling::Append;
using voxwrap::sampling::KeepSlabCorners;
using PlanePoints = voxwrap::Points;

using Chain = std::vector<std::pair<std::int32_t, std::int32_t>>;

// Builds a chain from row ends (x, y) the way the sampler does: the first row starts it.
Chain Build(const std::vector<std::pair<std::int32_t, std::int32_t>>& rows) {
    std::vector<std::int32_t> X(rows.size() + 2), Y(rows.size() + 2);
    X[0] = X[1] = rows[0].first;
    Y[0] = rows[0].second;
    Y[1] = rows[0].second + 1;
    std::int32_t n = 1;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        n = Append(n, X.data(), Y.data(), rows[i].first, rows[i].second);
    }
    Chain chain;
    for (std::int32_t i = 0; i <= n; ++i)
        chain.emplace_back(X[i], Y[i]);
    return chain;
}

std::int64_t Turn(std::pair<std::int64_t, std::int64_t> a, std::pair<std::int64_t, std::int64_t> b,
                  std::pair<std::int64_t, std::int64_t> c) {
    return (b.first - a.first) * (c.second - a.second) -
           (b.second - a.second) * (c.first - a.first);
}

TEST(AppendChain, KeepsOnlyTheCornersOfARectangle) {
    // Rows 3 to 7 of columns 4 to 6: the left chain is (4,3), (4,8); the right one, on -6,
    // is (-6,3), (-6,8).
    std::vector<std::pair<std::int32_t, std::int32_t>> left, right;
    for (std::int32_t y = 3; y <= 7; ++y) {
        left.emplace_back(4, y);
        right.emplace_back(-6, y);
    }
    EXPECT_EQ(Build(left), (Chain{{4, 3}, {4, 8}}));
    EXPECT_EQ(Build(right), (Chain{{-6, 3}, {-6, 8}}));
}

TEST(AppendChain, BridgesEmptyRowsAndDropsCollinearPoints) {
    EXPECT_EQ(Build({{5, 0}, {3, 1}, {1, 2}}), (Chain{{5, 0}, {1, 2}, {1, 3}}));
    EXPECT_EQ(Build({{2, 0}, {2, 9}}), (Chain{{2, 0}, {2, 10}}));
    EXPECT_EQ(Build({{2, 0}, {0, 4}}), (Chain{{2, 0}, {0, 4}, {0, 5}}));
    EXPECT_EQ(Build({{0, 0}, {3, 1}}), (Chain{{0, 0}, {0, 1}, {3, 2}}));
}

// For random row ends the chain is the left boundary of the convex hull of the points (x, y) and
// (x, y + 1) of all rows: it starts at the first row and ends at the top of the last, its y
// strictly increase, every turn is strictly clockwise, and no point lies to its left.
TEST(AppendChain, IsTheLeftHullBoundaryOfRandomRows) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 3000; ++trial) {
        const int rows = 1 + static_cast<int>(rng() % 12);
        const std::int32_t span = trial % 2 ? 5 : 1000000;  // crowded and wide
        std::vector<std::pair<std::int32_t, std::int32_t>> ends;
        std::int32_t y = static_cast<std::int32_t>(rng() % 4);
        for (int r = 0; r < rows; ++r) {
            ends.emplace_back(static_cast<std::int32_t>(rng() % span) - span / 2, y);
            y += 1 + static_cast<std::int32_t>(rng() % 3);
        }
        const Chain chain = Build(ends);
        SCOPED_TRACE(trial);
        ASSERT_EQ(chain.front(), ends.front());
        ASSERT_EQ(chain.back(), std::make_pair(ends.back().first, ends.back().second + 1));
        for (std::size_t i = 1; i < chain.size(); ++i)
            ASSERT_LT(chain[i - 1].second, chain[i].second);
        for (std::size_t i = 2; i < chain.size(); ++i) {
            ASSERT_LT(Turn(chain[i - 2], chain[i - 1], chain[i]), 0) << "turn at " << i - 1;
        }
        for (const auto& [x, yy] : ends) {
            for (const std::int32_t dy : {0, 1}) {
                for (std::size_t i = 1; i < chain.size(); ++i) {
                    ASSERT_LE(Turn(chain[i - 1], chain[i], {x, yy + dy}), 0)
                        << "(" << x << "," << yy + dy << ") left of the chain";
                }
            }
        }
    }
}

TEST(AppendChain, WideCoordinatesDoNotOverflow) {
    // Differences near 2^31 with rows far apart: 32-bit products would wrap.
    const std::int32_t big = 2000000000;
    EXPECT_EQ(Build({{big, 0}, {-big, 100000}, {big, 200000}}),
              (Chain{{big, 0}, {-big, 100000}, {-big, 100001}, {big, 200001}}));
}

// A random stack: slices of their own sizes, some without any object sample, written as
// uncompressed 16-bit TIFF files; grid[k] is slice k padded with zeros to the common size.
struct Stack {
    std::int32_t W = 0, H = 0;
    std::vector<std::string> paths;
    std::vector<std::vector<std::uint16_t>> grid;
    std::vector<std::array<std::int32_t, 2>> sizes;  // each slice's own width and height
};

// An uncompressed 16-bit slice in one strip; countChange changes the strip's byte count: more
// than the data is warned about ("too many codes"), less fails ("too few codes.").
std::string SliceFile(std::int32_t w, std::int32_t h, const std::vector<std::uint16_t>& samples,
                      int countChange = 0, std::uint32_t compression = 1) {
    tifftest::TiffBuilder tiff;
    std::vector<std::uint8_t> data;
    for (const std::uint16_t s : samples)
        tiff.Put16(data, s);
    data.resize(data.size() + 4);  // room for a larger count
    const std::uint32_t at = tiff.Data(data);
    const auto count = static_cast<std::uint32_t>(2 * samples.size() + countChange);
    tiff.Short(256, w).Short(257, h).Short(258, 16).Short(259, compression).Short(262, 1);
    tiff.Long(273, at).Short(277, 1).Long(278, h).Long(279, count);
    const std::vector<std::uint8_t> bytes = tiff.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

// N slices (1 to 7 when N is 0) of up to width x height samples.
Stack RandomStack(std::mt19937& rng, const std::string& dir, int N = 0, std::int32_t width = 40,
                  std::int32_t height = 11) {
    static const std::uint16_t values[] = {0, 7, 999, 1000, 2000, 4095, 4096, 65535};
    if (N == 0) N = 1 + static_cast<int>(rng() % 7);
    std::vector<std::array<std::int32_t, 2>> sizes;
    for (int k = 0; k < N; ++k) {
        // Rows up to 40 wide: the gray test takes eight samples at a time.
        sizes.push_back({1 + static_cast<std::int32_t>(rng() % width),
                         1 + static_cast<std::int32_t>(rng() % height)});
    }
    Stack stack;
    for (const auto& [w, h] : sizes) {
        stack.W = std::max(stack.W, w);
        stack.H = std::max(stack.H, h);
    }
    for (int k = 0; k < N; ++k) {
        const auto [w, h] = sizes[static_cast<std::size_t>(k)];
        const unsigned density = rng() % 4 == 0 ? 0 : 1 + rng() % 32;  // a quarter: no object
        std::vector<std::uint16_t> samples(static_cast<std::size_t>(w) * h);
        std::vector<std::uint16_t> grid(static_cast<std::size_t>(stack.W) * stack.H);
        for (std::int32_t y = 0; y < h; ++y) {
            for (std::int32_t x = 0; x < w; ++x) {
                const bool object = rng() % 64 < density;
                const std::uint16_t s = values[(object ? 2 : 0) + rng() % 6];
                samples[static_cast<std::size_t>(y) * w + x] = s;
                grid[static_cast<std::size_t>(y) * stack.W + x] = s;
            }
        }
        stack.paths.push_back(dir + "/s" + std::to_string(k) + ".tif");
        WriteFile(stack.paths.back(), SliceFile(w, h, samples));
        stack.grid.push_back(std::move(grid));
        stack.sizes.push_back({w, h});
    }
    return stack;
}

void Push(PlanePoints& p, std::int32_t x, std::int32_t y, std::int32_t z) { p.push_back(x, y, z); }

using PointList = std::vector<std::array<std::int32_t, 3>>;

PointList List(const PlanePoints& p) {
    PointList out;
    for (std::size_t i = 0; i < p.size(); ++i)
        out.push_back({p.x[i], p.y[i], p.z[i]});
    return out;
}

// The corners of the hull of a solid point set, in the set's order: what the second hull is
// built from, and so all that decides the STL.
PointList Corners(const PlanePoints& p) {
    HullStorage hull;
    const auto n = static_cast<std::int32_t>(p.size());
    hull.SizePoints(n);
    std::copy(p.x.begin(), p.x.end(), hull.IX.begin());
    std::copy(p.y.begin(), p.y.end(), hull.IY.begin());
    std::copy(p.z.begin(), p.z.end(), hull.IZ.begin());
    hull.SizeCells();
    FirstHull(n, hull);
    std::vector<std::int32_t> keep(p.size());
    MarkExtremePoints(n, hull, keep.data());
    PointList out;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (keep[i] != 0) out.push_back({p.x[i], p.y[i], p.z[i]});
    return out;
}

// True when every point of part appears in whole, in the same order.
bool IsSubsequence(const PointList& part, const PointList& whole) {
    std::size_t j = 0;
    for (const auto& p : part) {
        while (j < whole.size() && whole[j] != p)
            ++j;
        if (j++ == whole.size()) return false;
    }
    return true;
}

// The sampling points as defined pixel by pixel: in plane z a pixel counts when it is an object
// pixel of slice z or of slice z - 1; per row the first and last counted column enter the chains.
PlanePoints ReferencePoints(const Stack& s, const unsigned char* table) {
    const auto N = static_cast<std::int32_t>(s.grid.size());
    auto object = [&](std::int32_t k, std::int32_t x, std::int32_t y) {
        return k >= 0 && k < N &&
               table[s.grid[static_cast<std::size_t>(k)][static_cast<std::size_t>(y) * s.W + x]];
    };
    PlanePoints points;
    std::vector<std::int32_t> LX(s.H + 1), LY(s.H + 1), RX(s.H + 1), RY(s.H + 1);
    for (std::int32_t z = 0; z <= N; ++z) {
        std::int32_t nL = -1, nR = -1;
        for (std::int32_t y = 0; y < s.H; ++y) {
            std::int32_t u = -1, v = -1;
            for (std::int32_t x = 0; x < s.W; ++x) {
                if (!object(z, x, y) && !object(z - 1, x, y)) continue;
                if (u < 0) u = x;
                v = x;
            }
            if (u < 0) continue;
            if (nL < 0) {
                LX[0] = LX[1] = u;
                RX[0] = RX[1] = -v;
                LY[0] = RY[0] = y;
                LY[1] = RY[1] = y + 1;
                nL = nR = 1;
            } else {
                nL = Append(nL, LX.data(), LY.data(), u, y);
                nR = Append(nR, RX.data(), RY.data(), -v, y);
            }
        }
        for (std::int32_t j = 0, i = 0; nL >= 0 && (j <= nL || i <= nR);) {
            if (i > nR || (j <= nL && LY[j] <= RY[i])) {
                Push(points, LX[j], LY[j], z);
                ++j;
            } else {
                Push(points, 1 - RX[i], RY[i], z);
                ++i;
            }
        }
    }
    return points;
}

// Random stacks under range lists that do and do not mark the padding value 0, of one interval
// and of many, on 1 to 8 threads, in slabs of the usual size and of a few dozen points: the
// points are taken, in order, from those of the pixel-by-pixel definition and are exactly its
// hull corners; the watch sees every slice in order and, when asked, every object sample.
TEST(SampleSlices, KeepsTheHullCornersOfEveryPixelInOrder) {
    std::mt19937 rng(4242);
    const char* lists[] = {"1000-4095", "0-999",   "7,1000,2000-2000,4096-",
                           "-",         "1-65534", "1,3,5,7,9,11,13,999-1001,2000,4095-4097,65535"};
    for (int trial = 0; trial < 60; ++trial) {
        const std::string dir = TempDir();
        const Stack stack = RandomStack(rng, dir);
        for (const char* list : lists) {
            const Selection selection = Selection::FromRangeList(list);
            const unsigned char* table = selection.Table();
            const PlanePoints all = ReferencePoints(stack, table);
            const PointList expected = all.size() == 0 ? PointList() : Corners(all);
            std::int64_t voxels = 0;  // padding included
            for (const auto& grid : stack.grid)
                for (const std::uint16_t v : grid)
                    voxels += table[v];
            for (const unsigned threads : {1u, 2u, 3u, 8u}) {
                voxwrap::SampleOptions options;
                options.threads = threads;
                options.countVoxels = threads % 2 == 0;
                std::vector<std::int64_t> done;
                options.progress = [&](std::int64_t k, std::int64_t) { done.push_back(k); };
                std::int64_t counted = -1;
                // On more than one thread, slabs of 16 to 64 points: many slab hulls merged as
                // they come, and last slabs of one plane joined to the one before.
                const PlanePoints got =
                    threads == 1
                        ? voxwrap::SampleStack(stack.paths, {}, stack.W, stack.H, selection,
                                               options, &counted)
                        : sampling::SampleSlices(TiffSlices(stack.paths, {}), stack.W, stack.H,
                                                 selection, options, &counted, 8 * threads);
                EXPECT_EQ(counted, options.countVoxels ? voxels : 0);
                ASSERT_EQ(done.size(), stack.paths.size());
                EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
                const PlanePoints& kept = got;
                SCOPED_TRACE("trial " + std::to_string(trial) + ", range list " + list +
                             ", threads " + std::to_string(threads));
                ASSERT_TRUE(IsSubsequence(List(kept), List(all)));
                ASSERT_EQ(List(kept), expected);  // the corners alone
            }
        }
    }
}

// Point sets plane by plane, crowded on a small lattice and spread wide, cut into slabs at random
// planes: each slab keeps its points' order and every corner of the whole set that it holds, and
// the union of the slabs has the same corners as the whole set. Flat sets and flat slabs included.
TEST(KeepSlabCorners, KeepsEveryCornerOfTheWhole) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 300; ++trial) {
        const std::int32_t span = trial % 3 == 0 ? 1000000 : 3 + trial % 3;
        const int planes = 2 + static_cast<int>(rng() % 12);
        PlanePoints all;
        for (std::int32_t z = 0; z < planes; ++z) {
            std::vector<std::array<std::int32_t, 2>> plane;
            const int count = 1 + static_cast<int>(rng() % 12);
            for (int i = 0; i < count; ++i) {
                plane.push_back({static_cast<std::int32_t>(rng() % span),
                                 static_cast<std::int32_t>(rng() % span)});
            }
            std::sort(plane.begin(), plane.end());
            plane.erase(std::unique(plane.begin(), plane.end()), plane.end());
            for (const auto& [x, y] : plane)
                Push(all, x, y, z);
        }
        if (all.size() < 6) continue;
        const PointList corners = Corners(all);
        PlanePoints slab, joined;
        auto close = [&] {
            const PointList before = List(slab);
            KeepSlabCorners(slab);
            const PointList after = List(slab);
            ASSERT_TRUE(IsSubsequence(after, before));
            for (const auto& c : corners) {
                const bool held = std::find(before.begin(), before.end(), c) != before.end();
                ASSERT_TRUE(!held || std::find(after.begin(), after.end(), c) != after.end());
            }
            for (std::size_t i = 0; i < slab.size(); ++i)
                Push(joined, slab.x[i], slab.y[i], slab.z[i]);
            slab = PlanePoints();
        };
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (i > 0 && all.z[i] != all.z[i - 1] && rng() % 3 == 0) close();
            Push(slab, all.x[i], all.y[i], all.z[i]);
        }
        close();
        SCOPED_TRACE("trial " + std::to_string(trial));
        // A hull of fewer than six corners (a pyramid) is not a voxel hull, which has at least
        // eight; the slabs have kept them all, which is what counts.
        if (joined.size() >= 6) {
            ASSERT_EQ(Corners(joined), corners);
        }
    }
}

// The test of planes drops only points that are no corners: the same corners, in the same order,
// on random planes crowded on small lattices, and on planes far apart with coordinates of either
// sign up to the hull's limit (the 128-bit products). A point enclosed by the planes around it is dropped: the
// middle plane of a prism, and a corner of a plane that the planes around it cover.
TEST(DropEnclosedPoints, DropsNoCornerAndWhatThePlanesAroundEnclose) {
    using voxwrap::sampling::DropEnclosedPoints;
    std::mt19937 rng(7);
    std::size_t dropped = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const bool far = trial % 4 == 0;
        const std::int32_t span = far ? (1 << 29) - 1 : 3 + trial % 5;
        // Coordinates of either sign; on the far stacks up to the hull's limit.
        const std::int32_t low = far ? -((1 << 28) - 1) : -2 * (trial % 2);
        PlanePoints all;
        std::int32_t z = 0;
        for (int plane = 2 + static_cast<int>(rng() % 10); plane > 0; --plane) {
            std::vector<std::array<std::int32_t, 2>> points;  // (y, x): the sampler's order
            for (int i = 1 + static_cast<int>(rng() % 12); i > 0; --i)
                points.push_back({low + static_cast<std::int32_t>(rng() % span),
                                  low + static_cast<std::int32_t>(rng() % span)});
            std::sort(points.begin(), points.end());
            points.erase(std::unique(points.begin(), points.end()), points.end());
            for (const auto& [y, x] : points)
                Push(all, x, y, z);
            z += far ? 1 + static_cast<std::int32_t>(rng() % (1 << 20)) : 1;
        }
        if (all.size() < 6 || !voxwrap::sampling::IsSolid(all)) continue;
        for (int around = 1; around <= 3; ++around) {
            PlanePoints kept = all;
            DropEnclosedPoints(kept, around);
            SCOPED_TRACE("trial " + std::to_string(trial) + ", planes around " +
                         std::to_string(around));
            ASSERT_TRUE(IsSubsequence(List(kept), List(all)));
            ASSERT_EQ(Corners(kept), Corners(all));
            dropped += all.size() - kept.size();
        }
    }
    EXPECT_GT(dropped, 0u);

    auto square = [](PlanePoints& p, std::int32_t lo, std::int32_t hi, std::int32_t z) {
        for (const auto& [x, y] :
             {std::array<std::int32_t, 2>{lo, lo}, {hi, lo}, {lo, hi}, {hi, hi}})
            Push(p, x, y, z);
    };
    PlanePoints prism;
    for (std::int32_t z = 0; z < 3; ++z)
        square(prism, 0, 4, z);
    DropEnclosedPoints(prism, 1);
    EXPECT_EQ(List(prism), (PointList{{0, 0, 0},
                                      {4, 0, 0},
                                      {0, 4, 0},
                                      {4, 4, 0},
                                      {0, 0, 2},
                                      {4, 0, 2},
                                      {0, 4, 2},
                                      {4, 4, 2}}));
    PlanePoints bulge;  // the middle plane wider: all its corners stay
    square(bulge, 1, 3, 0);
    square(bulge, 0, 4, 1);
    square(bulge, 1, 3, 2);
    PlanePoints same = bulge;
    DropEnclosedPoints(same, 3);
    EXPECT_EQ(List(same), List(bulge));
}

PointList Sampled(const std::vector<std::string>& paths, std::int32_t W, std::int32_t H,
                  const char* list, unsigned threads) {
    voxwrap::SampleOptions options;
    options.threads = threads;
    return List(voxwrap::SampleStack(paths, {}, W, H, Selection::FromRangeList(list), options));
}

// The end-to-end stacks, the example and a tall random stack of several slabs: the same points,
// so the same STL, on any number of threads.
TEST(SampleSlices, GivesTheSamePointsOnAnyNumberOfThreads) {
    std::vector<std::string> dirs = {SourcePath("examples/mug/slices")};
    for (const char* name : {"box", "cylinder", "disc", "empty_between", "l_shape", "one_pixel",
                             "random0", "random1", "random2", "row_filled", "row_gaps", "sizes"})
        dirs.push_back(SourcePath(std::string("tests/data/cli/") + name + "/slices"));
    for (const std::string& dir : dirs) {
        std::int32_t W = 0, H = 0;
        const std::vector<std::string> paths =
            CheckSliceImages(dir.c_str(), "-", &W, &H, nullptr, nullptr);
        for (const char* list : {"1000-4095", "100-255", "0"}) {
            const PointList one = Sampled(paths, W, H, list, 1);
            for (const unsigned threads : {2u, 3u, 8u})
                EXPECT_EQ(Sampled(paths, W, H, list, threads), one) << dir << " " << list;
        }
    }
    // Lenses with a corner or two at every row: 132 slices of about 130 points each, 17k points.
    const std::string dir = TempDir();
    Stack tall;
    tall.W = 1100;
    tall.H = 64;
    const Selection selection = Selection::FromRangeList("1000-4095");
    for (int k = 0; k < 132; ++k) {
        std::vector<std::uint16_t> samples(std::size_t{1100} * 64, 5);
        for (std::int32_t y = 0; y < 64; ++y) {
            const std::int32_t d = std::abs(y - 32) + k % 3, bulge = d * (d + 1) / 2;
            for (std::int32_t x = bulge; x < 1100 - bulge; ++x)
                samples[static_cast<std::size_t>(y) * 1100 + x] = 2000;
        }
        tall.paths.push_back(dir + "/s" + std::to_string(k) + ".tif");
        WriteFile(tall.paths.back(), SliceFile(1100, 64, samples));
        tall.grid.push_back(samples);
    }
    ASSERT_GT(ReferencePoints(tall, selection.Table()).size(), 16384u);
    const PointList one = Sampled(tall.paths, tall.W, tall.H, "1000-4095", 1);
    for (const unsigned threads : {2u, 3u, 8u})
        EXPECT_EQ(Sampled(tall.paths, tall.W, tall.H, "1000-4095", threads), one) << threads;
}

// Slices that are sound, warned about, or failing in one of three ways, in random order: on any
// number of threads the failure is the first in slice order, after the warnings of the slices
// before it, in order, and of no slice after it.
TEST(SampleSlices, ReportsTheFirstFailureInSliceOrder) {
    std::mt19937 rng(31);
    for (int trial = 0; trial < 40; ++trial) {
        const std::string dir = TempDir();
        const int N = 2 + static_cast<int>(rng() % 10);
        const std::int32_t W = 9, H = 7;
        std::vector<std::string> paths;
        std::string warnings, failure = "(no failure)";
        for (int k = 0; k < N; ++k) {
            const std::string path = dir + "/s" + std::to_string(k) + ".tif";
            paths.push_back(path);
            const unsigned fate = rng() % 8;  // 0: too few codes, 1: compression, 2: too large
            const std::int32_t w = fate == 2 ? W + 1 : W;
            std::vector<std::uint16_t> samples(static_cast<std::size_t>(w) * H);
            for (auto& v : samples)
                v = rng() % 2 ? 2000 : 5;
            WriteFile(path, SliceFile(w, H, samples,
                                      fate == 0   ? -1
                                      : fate >= 5 ? 2
                                                  : 0,
                                      fate == 1 ? 60000 : 1));
            if (failure != "(no failure)") continue;
            if (fate >= 5) warnings += path + " : too many codes (warning).\n";
            if (fate == 0) failure = path + " : too few codes.";
            if (fate == 1) failure = path + " : unknown image compression method.";
            if (fate == 2) failure = path + " : bad image size.";
        }
        const Selection selection = Selection::FromRangeList("1000-4095");
        for (const unsigned threads : {1u, 2u, 3u, 8u}) {
            voxwrap::SampleOptions options;
            options.threads = threads;
            std::string warned;
            options.warning = [&](const std::string& line) { warned += line + "\n"; };
            const std::string text =
                FailureText([&] { voxwrap::SampleStack(paths, {}, W, H, selection, options); });
            EXPECT_EQ(warned, warnings) << trial << " " << threads;
            EXPECT_EQ(text, failure) << "trial " << trial << ", threads " << threads;
        }
    }
}

// The same random stacks, slices of their own sizes included, fed from memory with a row stride of
// the common width: the points of the files, in order, whatever the selection does with the
// padding value 0, on any number of threads and with the slice count known or not; cancelling
// stops a run between slices.
TEST(SliceSampler, GivesThePointsOfTheSameSlicesAsFiles) {
    std::mt19937 rng(5150);
    for (int trial = 0; trial < 20; ++trial) {
        const Stack stack = RandomStack(rng, TempDir());
        for (const char* list : {"1000-4095", "0-999", "1,3,5,7,9,11,13,999-1001,2000,4095-"}) {
            const Selection selection = Selection::FromRangeList(list);
            voxwrap::SampleOptions options;
            options.countVoxels = true;
            std::int64_t fileVoxels = 0;
            const PointList files = List(voxwrap::SampleStack(stack.paths, {}, stack.W, stack.H,
                                                              selection, options, &fileVoxels));
            const auto N = static_cast<std::int64_t>(stack.grid.size());
            for (const auto& [threads, slices] :
                 {std::pair{1u, N}, std::pair{3u, N}, std::pair{3u, voxwrap::kAnySlices}}) {
                options.threads = threads;
                voxwrap::SliceSampler sampler(stack.W, stack.H, slices, selection, options);
                for (std::size_t k = 0; k < stack.grid.size(); ++k)
                    sampler.Add(stack.grid[k].data(), stack.W, stack.sizes[k][0],
                                stack.sizes[k][1]);
                EXPECT_EQ(sampler.voxels(), fileVoxels);
                EXPECT_EQ(List(sampler.Finish()), files)
                    << "trial " << trial << ", " << list << ", threads " << threads << ", "
                    << slices << " slices";
            }
        }
        voxwrap::SampleOptions cancelling;
        int asked = 0;
        cancelling.cancelled = [&] { return ++asked == 2; };
        EXPECT_EQ(FailureText([&] {
                      voxwrap::SampleStack(stack.paths, {}, stack.W, stack.H,
                                           Selection::FromRangeList("-"), cancelling);
                  }),
                  stack.grid.size() < 2 ? "(no failure)" : "sampling cancelled.");
    }
}

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// A 1.2 KB Zstd slice claiming 16384 x 16000 1-bit samples after sound slices makes that the
// common size, yet no worker may hold a grid of it (512 MiB of 16-bit samples each): on two
// threads within 256 MiB of address space the run ends with the slice's own failure.
TEST(SampleStack, ALyingSliceCostsNoGridOfItsClaim) {
    if (VOXWRAP_ASAN || kThreadSanitizer)
        GTEST_SKIP() << "a sanitizer's shadow memory cannot live under an address-space limit";
    const std::string dir = TempDir();
    const std::string good = ReadFile(SourcePath("tests/data/tiff/g8_none_le.tif"));
    for (int k = 0; k < 10; ++k)
        WriteFile(dir + "/s" + std::to_string(k) + ".tif", good);
    WriteFile(dir + "/z.tif", ReadFile(SourcePath("tests/data/sample/lying_zstd.tif")));
    const RunResult r = RunVoxwrap({"--threads", "2", dir, "-", "1-255", dir + "/out.stl"}, "", [] {
        const rlimit limit{256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir + "/z.tif : Zstd data corrupt.\n");
}

}  // namespace
