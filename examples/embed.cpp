// A second front end on the public header alone: how a program embeds voxwrap.
//
//   embed MUG_DIR     (MUG_DIR: examples/mug, with slices/, names.txt and expected.stl)
//
// 1. A volume in memory (an ellipsoid of 16-bit samples) fed slice by slice, hulled, measured and
//    checked exactly.
// 2. The mug stack read from its files, its mesh written from two threads at once into two
//    streams: both must be the command line's bytes (expected.stl).
// 3. Failures carry a kind a program can act on.
// Exits 0 when everything holds, 1 otherwise, saying what did not.
#include <voxwrap/voxwrap.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

int passes = 0, failures = 0;

void Expect(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    ++(ok ? passes : failures);
}

// An ellipsoid of value 1000 in a W x H x N volume of zeros, in z, y, x order as numpy holds it.
std::vector<std::uint16_t> Ellipsoid(int W, int H, int N, std::int64_t& voxels) {
    std::vector<std::uint16_t> v(static_cast<std::size_t>(W) * H * N, 0);
    voxels = 0;
    for (int z = 0; z < N; ++z)
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const double dx = (x - 9.5) / 8, dy = (y - 7.5) / 6, dz = (z - 5.5) / 5;
                if (dx * dx + dy * dy + dz * dz <= 1) {
                    v[(static_cast<std::size_t>(z) * H + y) * W + x] = 1000;
                    ++voxels;
                }
            }
    return v;
}

void InMemory() {
    const int W = 20, H = 16, N = 12;
    std::int64_t voxels = 0;
    const std::vector<std::uint16_t> volume = Ellipsoid(W, H, N, voxels);
    voxwrap::SampleOptions options;
    options.countVoxels = true;
    voxwrap::SliceSampler sampler(W, H, N, voxwrap::Selection::FromRangeList("1000"), options);
    for (int z = 0; z < N; ++z)
        sampler.Add(volume.data() + static_cast<std::size_t>(z) * W * H, W, W, H);
    const std::int64_t counted = sampler.voxels();
    voxwrap::Points points = sampler.Finish();
    const voxwrap::Points input = points;
    const voxwrap::Hull hull = voxwrap::ConvexHull(std::move(points));
    voxwrap::VerifyHull(input, hull);  // throws when the hull is not exactly right
    const voxwrap::Measurements m =
        voxwrap::Measure(hull, counted, voxwrap::Spacing{{0.5, 0.5, 2}});
    std::printf("ellipsoid: %lld voxels, %lld hull vertices, %lld facets, solidity %.4f\n",
                static_cast<long long>(counted), static_cast<long long>(m.hullVertices),
                static_cast<long long>(m.hullFacets), m.solidity);
    Expect(counted == voxels, "the sampler counts every voxel of the volume");
    Expect(m.solidity > 0 && m.solidity <= 1, "solidity lies in (0, 1]");
    Expect(6 * static_cast<voxwrap::Int128>(voxels) <= m.sixVolume,
           "the hull holds every voxel cube");
}

void MugStack(const std::string& mug) {
    std::vector<std::string> warnings;
    voxwrap::Events events;
    events.warning = [&warnings](const std::string& line) { warnings.push_back(line); };
    const voxwrap::Stack stack = voxwrap::ListStack(mug + "/slices", mug + "/names.txt", events);
    voxwrap::SampleOptions options;
    options.threads = 2;
    std::int64_t slicesSeen = 0;
    options.progress = [&slicesSeen](std::int64_t done, std::int64_t) { slicesSeen = done; };
    voxwrap::Sampled sampled =
        voxwrap::SampleStack(stack, voxwrap::Selection::FromRangeList("1000-4095"), options);
    const voxwrap::Hull hull = voxwrap::ConvexHull(std::move(sampled.points));

    // Two meshes written at once on two threads: the writers share no state.
    std::ostringstream first, second;
    std::thread other([&] { voxwrap::WriteMesh(first, hull, voxwrap::MeshFormat::Stl); });
    voxwrap::WriteMesh(second, hull, voxwrap::MeshFormat::Stl);
    other.join();
    std::ifstream in(mug + "/expected.stl", std::ios::binary);
    const std::string expected{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
    std::printf("mug: %zu slices of %d x %d, %zu hull vertices\n", stack.slices.size(), stack.width,
                stack.height, hull.vertices.size());
    Expect(!expected.empty() && first.str() == expected, "the mesh is the command line's STL");
    Expect(second.str() == expected, "a mesh written at the same time is the same");
    Expect(slicesSeen == static_cast<std::int64_t>(stack.slices.size()),
           "progress saw every slice");
    Expect(warnings.empty(), "the mug's slices give no warning");
}

void Failures(const std::string& mug) {
    auto kindOf = [](auto call) {
        try {
            call();
        } catch (const voxwrap::Error& e) {
            std::printf("      %s\n", e.what());
            return e.kind();
        }
        return voxwrap::Error::Kind::Output;  // no failure: never what is asked for below
    };
    using Kind = voxwrap::Error::Kind;
    Expect(kindOf([&] { voxwrap::ListStack(mug + "/no such folder", "-"); }) == Kind::NotFound,
           "a missing directory is NotFound");
    Expect(kindOf([] { voxwrap::Selection::FromRangeList("9-3"); }) == Kind::Argument,
           "a bad range list is an Argument");
    Expect(kindOf([&] { voxwrap::ListStack(mug, "-a.tif"); }) == Kind::NotFound,
           "a missing slice is NotFound");
    voxwrap::Points flat;
    for (int i = 0; i < 8; ++i)
        flat.push_back(i % 3, i / 3, 0);
    Expect(kindOf([&] { voxwrap::ConvexHull(flat); }) == Kind::Geometry,
           "points in one plane are a Geometry failure");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage : embed MUG_DIR\n");
        return 2;
    }
    try {
        InMemory();
        MugStack(argv[1]);
        Failures(argv[1]);
    } catch (const voxwrap::Error& e) {
        std::printf("FAIL unexpected failure: %s\n", e.what());
        return 1;
    }
    std::printf("embed: %d passed, %d failed\n", passes, failures);
    return failures == 0 ? 0 : 1;
}
