#include "sample/objects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "hull/check.h"
#include "hull/storage.h"
#include "mesh/mesh.h"
#include "sample/sampler.h"
#include "sample/selection.h"
#include "support.h"
#include "tiff/tiff_builder.h"
#include "voxwrap/voxwrap.h"

namespace {

using namespace voxwrap;  // the tests speak the library's names
using Kind = ObjectRule::Kind;

// A stack in memory: slice z, row y, column x at ((z * H) + y) * W + x.
struct Volume {
    std::int32_t W = 0, H = 0, N = 0;
    std::vector<std::uint16_t> v;
    Volume(std::int32_t w, std::int32_t h, std::int32_t n)
        : W(w), H(h), N(n), v(static_cast<std::size_t>(w) * h * n) {}
    std::uint16_t& at(std::int32_t x, std::int32_t y, std::int32_t z) {
        return v[(static_cast<std::size_t>(z) * H + y) * W + x];
    }
    std::uint16_t at(std::int32_t x, std::int32_t y, std::int32_t z) const {
        return v[(static_cast<std::size_t>(z) * H + y) * W + x];
    }
};

// What the test expects of an object, found voxel by voxel.
struct Expected {
    std::int64_t id = 0, voxels = 0, sum[3] = {0, 0, 0};
    std::int32_t min[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, max[3] = {-1, -1, -1};
    void Add(std::int32_t x, std::int32_t y, std::int32_t z) {
        const std::int32_t p[3] = {x, y, z};
        ++voxels;
        for (int i = 0; i < 3; ++i) {
            sum[i] += p[i];
            min[i] = std::min(min[i], p[i]);
            max[i] = std::max(max[i], p[i]);
        }
    }
};

// Each selected voxel's object id (0: none), by the plain definitions: the value itself, or a
// breadth-first flood fill over the neighbourhood, started at voxels in slice, row, column order.
std::vector<std::int64_t> Oracle(const Volume& vol, const Selection& sel, const ObjectRule& rule,
                                 std::map<std::int64_t, Expected>* objects) {
    std::vector<std::int64_t> id(vol.v.size(), 0);
    auto index = [&](std::int32_t x, std::int32_t y, std::int32_t z) {
        return (static_cast<std::size_t>(z) * vol.H + y) * vol.W + x;
    };
    std::int64_t next = 0;
    for (std::int32_t z = 0; z < vol.N && rule.kind == Kind::Components; ++z)
        for (std::int32_t y = 0; y < vol.H; ++y)
            for (std::int32_t x = 0; x < vol.W; ++x) {
                if (!sel.Contains(vol.at(x, y, z)) || id[index(x, y, z)] != 0) continue;
                const std::int64_t c = ++next;
                std::deque<std::array<std::int32_t, 3>> queue{{x, y, z}};
                id[index(x, y, z)] = c;
                while (!queue.empty()) {
                    const auto [px, py, pz] = queue.front();
                    queue.pop_front();
                    for (int dz = -1; dz <= 1; ++dz)
                        for (int dy = -1; dy <= 1; ++dy)
                            for (int dx = -1; dx <= 1; ++dx) {
                                const int d = std::abs(dx) + std::abs(dy) + std::abs(dz);
                                if (d == 0 || (rule.connectivity == 6 && d > 1) ||
                                    (rule.connectivity == 18 && d > 2))
                                    continue;
                                const std::int32_t qx = px + dx, qy = py + dy, qz = pz + dz;
                                if (qx < 0 || qy < 0 || qz < 0 || qx >= vol.W || qy >= vol.H ||
                                    qz >= vol.N || !sel.Contains(vol.at(qx, qy, qz)) ||
                                    id[index(qx, qy, qz)] != 0)
                                    continue;
                                id[index(qx, qy, qz)] = c;
                                queue.push_back({qx, qy, qz});
                            }
                }
            }
    for (std::int32_t z = 0; z < vol.N; ++z)
        for (std::int32_t y = 0; y < vol.H; ++y)
            for (std::int32_t x = 0; x < vol.W; ++x) {
                if (!sel.Contains(vol.at(x, y, z))) continue;
                const std::int64_t i =
                    rule.kind == Kind::Labels ? vol.at(x, y, z) : id[index(x, y, z)];
                (*objects)[i].id = i;
                (*objects)[i].Add(x, y, z);
            }
    if (rule.kind == Kind::Labels) {  // the value, 0 included; -1 for none
        for (std::size_t i = 0; i < id.size(); ++i)
            id[i] = sel.Contains(vol.v[i]) ? vol.v[i] : -1;
    }
    return id;
}

std::vector<SampledObject> FromMemory(const Volume& vol, const Selection& sel,
                                      const ObjectRule& rule, unsigned threads) {
    voxwrap::SampleOptions options;
    options.threads = threads;
    voxwrap::ObjectSampler sampler(vol.W, vol.H, vol.N, sel, rule, options);
    for (std::int32_t z = 0; z < vol.N; ++z)
        sampler.Add(&vol.v[static_cast<std::size_t>(z) * vol.W * vol.H], vol.W, vol.W, vol.H);
    return sampler.Finish();
}

// The hull as the program writes it: its corners in order and its triangles in face-slot order.
struct CornerHull {
    std::vector<std::array<std::int32_t, 3>> corners, triangles;
    bool operator==(const CornerHull& o) const {
        return corners == o.corners && triangles == o.triangles;
    }
};

CornerHull HullOf(const voxwrap::Points& p) {
    const voxwrap::Hull hull = voxwrap::ConvexHull(p);
    CornerHull out;
    for (std::size_t i = 0; i < hull.vertices.size(); ++i)
        out.corners.push_back({hull.vertices.x[i], hull.vertices.y[i], hull.vertices.z[i]});
    out.triangles = hull.triangles;
    return out;
}

// Six times the volume enclosed by the hull.
std::int64_t SixVolume(const CornerHull& h) {
    const auto point = [&](std::int32_t i) {
        const auto& c = h.corners[static_cast<std::size_t>(i)];
        return hullcheck::Point{c[0], c[1], c[2]};
    };
    Int128 six = 0;
    for (const auto& t : h.triangles)
        six += hullcheck::Det(point(0), point(t[0]), point(t[1]), point(t[2]));
    return static_cast<std::int64_t>(six);
}

// Checks the objects of vol against the plain definitions, and the hull of every object's points
// (of every step-th) against the one-object sampling of the stack that keeps only its voxels.
std::vector<SampledObject> Check(const Volume& vol, const std::string& list, const ObjectRule& rule,
                                 unsigned threads = 1, int step = 1) {
    const Selection sel = Selection::FromRangeList(list);
    std::map<std::int64_t, Expected> expected;
    const std::vector<std::int64_t> owner = Oracle(vol, sel, rule, &expected);
    const std::vector<SampledObject> got = FromMemory(vol, sel, rule, threads);
    EXPECT_EQ(got.size(), expected.size());
    if (got.size() != expected.size()) return got;
    auto e = expected.begin();
    for (std::size_t i = 0; i < got.size(); ++i, ++e) {
        const SampledObject& o = got[i];
        SCOPED_TRACE("object " + std::to_string(o.id));
        EXPECT_EQ(o.id, e->second.id);
        EXPECT_EQ(o.voxels, e->second.voxels);
        for (int a = 0; a < 3; ++a) {
            EXPECT_TRUE(o.sum[a] == e->second.sum[a]) << "axis " << a;
            EXPECT_EQ(o.min[a], e->second.min[a]);
            EXPECT_EQ(o.max[a], e->second.max[a]);
        }
        for (std::size_t j = 1; j < o.points.size(); ++j) {
            EXPECT_LT((std::array<std::int32_t, 3>{o.points.z[j - 1], o.points.y[j - 1],
                                                   o.points.x[j - 1]}),
                      (std::array<std::int32_t, 3>{o.points.z[j], o.points.y[j], o.points.x[j]}));
        }
        if (i % static_cast<std::size_t>(step) != 0) continue;
        Volume only(vol.W, vol.H, vol.N);
        for (std::size_t j = 0; j < vol.v.size(); ++j)
            only.v[j] = owner[j] == o.id ? 1 : 0;
        const Selection mark = Selection::FromRangeList("1");
        voxwrap::SliceSampler one(vol.W, vol.H, vol.N, mark);
        for (std::int32_t z = 0; z < vol.N; ++z)
            one.Add(&only.v[static_cast<std::size_t>(z) * vol.W * vol.H], vol.W, vol.W, vol.H);
        const CornerHull hull = HullOf(o.points);
        const voxwrap::Points ref = one.Finish();
        EXPECT_TRUE(hull == HullOf(ref));
        if (getenv("DBG")) {
            for (std::size_t j = 0; j < o.points.size(); ++j)
                fprintf(stderr, "(%d %d %d) ", o.points.x[j], o.points.y[j], o.points.z[j]);
            fprintf(stderr, "\n");
            for (std::size_t j = 0; j < ref.size(); ++j)
                fprintf(stderr, "(%d %d %d) ", ref.x[j], ref.y[j], ref.z[j]);
            fprintf(stderr, "\n");
        }
        EXPECT_LE(6 * o.voxels, SixVolume(hull));
    }
    return got;
}

bool Same(const std::vector<SampledObject>& a, const std::vector<SampledObject>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const SampledObject &p = a[i], &q = b[i];
        if (p.id != q.id || p.voxels != q.voxels || p.points.x != q.points.x ||
            p.points.y != q.points.y || p.points.z != q.points.z)
            return false;
        for (int k = 0; k < 3; ++k)
            if (p.sum[k] != q.sum[k] || p.min[k] != q.min[k] || p.max[k] != q.max[k]) return false;
    }
    return true;
}

const ObjectRule kLabels{Kind::Labels, 26};
ObjectRule Components(int connectivity) { return {Kind::Components, connectivity}; }

// Flat and thin objects: their hulls are finite and exact; one voxel has 12 facets and
// volume 1, the plate 64, the line 12.
TEST(SampleObjects, DegenerateObjectsHaveExactHulls) {
    Volume vol(12, 12, 4);
    vol.at(2, 3, 1) = 1;  // one voxel
    for (std::int32_t y = 4; y < 12; ++y)
        for (std::int32_t x = 4; x < 12; ++x)
            vol.at(x, y, 2) = 2;  // a one-slice plate
    for (std::int32_t x = 0; x < 12; ++x)
        vol.at(x, 0, 3) = 3;  // a line
    const std::vector<SampledObject> got = Check(vol, "1-", kLabels);
    ASSERT_EQ(got.size(), 3u);
    const std::int64_t volumes[] = {1, 64, 12};
    for (int i = 0; i < 3; ++i) {
        const CornerHull h = HullOf(got[static_cast<std::size_t>(i)].points);
        EXPECT_EQ(SixVolume(h), 6 * volumes[i]);
        if (i == 0) {
            EXPECT_EQ(h.triangles.size(), 12u);
        }
    }
}

// Two voxels that share one corner: two labels; one component only for 26 neighbours. A diagonal
// line of twelve: one component for 26, twelve for 18 and 6.
TEST(SampleObjects, CornersConnectOnlyTwentySixNeighbours) {
    Volume corner(4, 4, 4);
    corner.at(1, 1, 1) = 1;
    corner.at(2, 2, 2) = 2;
    EXPECT_EQ(Check(corner, "1-", kLabels).size(), 2u);
    const std::size_t pairs[] = {2, 2, 1};
    Volume line(13, 13, 12);
    for (std::int32_t i = 0; i < 12; ++i)
        line.at(i, i + 1, i) = 7;
    const std::size_t lines[] = {12, 12, 1};
    int c = 0;
    for (const int connectivity : {6, 18, 26}) {
        EXPECT_EQ(Check(corner, "1-", Components(connectivity)).size(), pairs[c]) << connectivity;
        EXPECT_EQ(Check(line, "7", Components(connectivity)).size(), lines[c]) << connectivity;
        ++c;
    }
}

// A U whose arms meet only in the last slice is one component, numbered by the first arm; a blob
// between the arms that starts later comes second. A bar that splits into two arms and rejoins
// is one component; objects on every face of the stack are whole.
TEST(SampleObjects, ComponentsMergeSplitAndTouchTheBorders) {
    Volume u(7, 3, 6);
    for (std::int32_t z = 0; z < 6; ++z)
        u.at(1, 1, z) = u.at(5, 1, z) = 9;
    for (std::int32_t x = 1; x <= 5; ++x)
        u.at(x, 1, 5) = 9;
    u.at(3, 1, 2) = 9;
    for (const int connectivity : {6, 18, 26}) {
        const std::vector<SampledObject> got = Check(u, "9", Components(connectivity));
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].voxels, 15);
        EXPECT_EQ(got[1].voxels, 1);
    }
    Volume rejoin(7, 4, 5);
    for (std::int32_t z = 0; z < 5; ++z)
        for (std::int32_t x = 1; x <= 5; ++x)
            if (z == 0 || z == 4 || x == 1 || x == 5) rejoin.at(x, 2, z) = 3;
    EXPECT_EQ(Check(rejoin, "3", Components(6)).size(), 1u);
    Volume faces(6, 5, 4);
    for (std::int32_t z = 0; z < 4; ++z)
        for (std::int32_t y = 0; y < 5; ++y)
            for (std::int32_t x = 0; x < 6; ++x) {
                std::uint16_t v = 0;
                if (x == 0) v = 1;
                if (x == 5) v = 2;
                if (y == 0) v = 3;
                if (y == 4) v = 4;
                if (z == 0) v = 5;
                if (z == 3) v = 6;
                faces.at(x, y, z) = v;
            }
    EXPECT_EQ(Check(faces, "1-", kLabels).size(), 6u);
    EXPECT_EQ(Check(faces, "1-", Components(6)).size(), 1u);
    EXPECT_EQ(Check(faces, "0", Components(26)).size(), 1u);
}

// Random volumes of a few values, sparse and crowded, under range lists with and without 0: every
// object's numbers and hull are those of the plain definitions, and the result is the same on any
// number of threads.
TEST(SampleObjects, RandomVolumesMatchTheDefinitions) {
    std::mt19937 rng(2020);
    const char* lists[] = {"1-", "0-2", "1,3"};
    for (int trial = 0; trial < 40; ++trial) {
        Volume vol(1 + static_cast<std::int32_t>(rng() % 19),
                   1 + static_cast<std::int32_t>(rng() % 9),
                   1 + static_cast<std::int32_t>(rng() % 8));
        const unsigned density = 1 + rng() % 8;
        for (auto& s : vol.v)
            s = rng() % 8 < density ? static_cast<std::uint16_t>(1 + rng() % 4) : 0;
        const std::string list = lists[trial % 3];
        for (const ObjectRule& rule : {kLabels, Components(6), Components(18), Components(26)}) {
            SCOPED_TRACE("trial " + std::to_string(trial) + ", " + list + ", connectivity " +
                         std::to_string(rule.kind == Kind::Labels ? 0 : rule.connectivity));
            const std::vector<SampledObject> one = Check(vol, list, rule);
            for (const unsigned threads : {2u, 3u})
                EXPECT_TRUE(
                    Same(FromMemory(vol, Selection::FromRangeList(list), rule, threads), one));
        }
    }
}

// Two lenses with a corner at nearly every row of every plane, about 10,000 points each, so
// that each closes a slab before they meet in the last slice; blobs around them of other labels:
// the merged component's points, and the labels', still give the hulls of their one-object runs.
TEST(SampleObjects, ObjectsOfManySlabsKeepTheirHulls) {
    const std::int32_t W = 910, H = 40, N = 120;
    Volume vol(W, H, N);
    for (std::int32_t z = 0; z < N; ++z)
        for (std::int32_t y = 0; y < H; ++y) {
            const std::int32_t d = std::abs(y - 20) + z % 3, bulge = d * (d + 1) / 2;
            for (std::int32_t x = bulge; x < 450 - bulge; ++x)
                vol.at(x, y, z) = vol.at(x + 460, y, z) = static_cast<std::uint16_t>(1 + x % 2);
        }
    for (std::int32_t x = 0; x < W; ++x)
        vol.at(x, 20, N - 1) = 3;
    std::mt19937 rng(7);
    for (int b = 0; b < 30; ++b) {
        const auto x = static_cast<std::int32_t>(rng() % W),
                   y = static_cast<std::int32_t>(rng() % H),
                   z = static_cast<std::int32_t>(rng() % N);
        for (std::int32_t k = 0; k < 3 && z + k < N; ++k)
            vol.at(x, y, z + k) = static_cast<std::uint16_t>(4 + b % 5);
    }
    EXPECT_EQ(Check(vol, "1-3", Components(6), 3).size(), 1u);
    EXPECT_EQ(Check(vol, "3-", kLabels, 2).size(), 6u);
}

// An uncompressed 16-bit slice in one strip.
std::string SliceFile(std::int32_t w, std::int32_t h, const std::vector<std::uint16_t>& samples) {
    tifftest::TiffBuilder tiff;
    std::vector<std::uint8_t> data;
    for (const std::uint16_t s : samples)
        tiff.Put16(data, s);
    const std::uint32_t at = tiff.Data(data);
    tiff.Short(256, w).Short(257, h).Short(258, 16).Short(259, 1).Short(262, 1);
    tiff.Long(273, at).Short(277, 1).Long(278, h).Long(279,
                                                       static_cast<std::uint32_t>(data.size()));
    const std::vector<std::uint8_t> bytes = tiff.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

// Slices of their own sizes as files and from memory give the same objects, the zero padding
// included when 0 is selected; a connectivity other than 6, 18 or 26 is refused.
TEST(SampleObjects, FilesAndMemoryGiveTheSameObjects) {
    std::mt19937 rng(18);
    for (int trial = 0; trial < 10; ++trial) {
        const std::string dir = TempDir();
        const int N = 1 + static_cast<int>(rng() % 6);
        const std::int32_t W = 17, H = 9;
        std::vector<std::string> paths;
        std::vector<std::vector<std::uint16_t>> slices;
        std::vector<std::array<std::int32_t, 2>> sizes;
        for (int k = 0; k < N; ++k) {
            const std::int32_t w = 1 + static_cast<std::int32_t>(rng() % W),
                               h = 1 + static_cast<std::int32_t>(rng() % H);
            std::vector<std::uint16_t> s(static_cast<std::size_t>(w) * h);
            for (auto& v : s)
                v = static_cast<std::uint16_t>(rng() % 3);
            paths.push_back(dir + "/s" + std::to_string(k) + ".tif");
            WriteFile(paths.back(), SliceFile(w, h, s));
            slices.push_back(s);
            sizes.push_back({w, h});
        }
        for (const char* list : {"1-", "0-1"}) {
            for (const ObjectRule& rule : {kLabels, Components(18)}) {
                const Selection sel = Selection::FromRangeList(list);
                // Components with a count known only at the end, as a stream gives them.
                voxwrap::ObjectSampler memory(
                    W, H, rule.kind == kLabels.kind ? N : voxwrap::kAnySlices, sel, rule);
                for (int k = 0; k < N; ++k)
                    memory.Add(slices[k].data(), sizes[k][0], sizes[k][0], sizes[k][1]);
                const std::vector<TiffPage> pages;  // held by reference, like the paths
                const voxwrap::TiffSlices files(paths, pages);
                EXPECT_TRUE(Same(voxwrap::SampleObjects(files, W, H, sel, rule), memory.Finish()))
                    << trial << " " << list;
            }
        }
    }
    EXPECT_EQ(FailureText([] {
                  voxwrap::ObjectSampler(2, 2, 2, Selection::FromRangeList("1"), Components(8));
              }),
              "objects: connectivity must be 6, 18 or 26.");
}

}  // namespace
