// The stages of one whole conversion, timed one by one on the stack named by the environment
// variables VOXWRAP_BENCH_STACK (a directory of slices, listed with "-") and VOXWRAP_BENCH_RANGE
// (default 800-65535), on VOXWRAP_BENCH_THREADS threads (default: one per core). bench/pipeline.sh
// makes a large stack and runs this.
#include "hull/convex_hull.h"
#include "mesh/mesh.h"
#include "sample/sampler.h"
#include "sample/selection.h"
#include "slices/csi.h"
#include "slices/rsi.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

void BM_PipelineStages(benchmark::State& state) {
    const char* dir = std::getenv("VOXWRAP_BENCH_STACK");
    const char* range = std::getenv("VOXWRAP_BENCH_RANGE");
    const char* threads = std::getenv("VOXWRAP_BENCH_THREADS");
    if (dir == nullptr) {
        state.SkipWithError("set VOXWRAP_BENCH_STACK to a directory of slices");
        return;
    }
    using Clock = std::chrono::steady_clock;
    double list = 0, read = 0, sample = 0, hull = 0, write = 0;
    std::int64_t points = 0, extreme = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        std::int32_t W = 0, H = 0, N = 0;
        const auto paths = CheckSliceImages(dir, "-", &W, &H, &N, nullptr);
        const auto t1 = Clock::now();
        {  // reading and decoding alone, into a grid like the sampler's
            std::vector<std::uint16_t> grid(static_cast<std::size_t>(W) * H);
            std::vector<std::uint16_t*> rows(static_cast<std::size_t>(H));
            for (std::int32_t y = 0; y < H; ++y)
                rows[y] = grid.data() + std::size_t{1} * y * W;
            for (const auto& p : paths)
                ReadSliceImage(p.c_str(), W, H, rows.data());
            benchmark::DoNotOptimize(grid.data());
        }
        const auto t2 = Clock::now();
        voxwrap::SampleOptions options;
        options.threads =
            threads != nullptr ? static_cast<unsigned>(std::strtoul(threads, nullptr, 10)) : 0;
        voxwrap::Points sampled = voxwrap::SampleStack(
            paths, {}, W, H,
            voxwrap::Selection::FromRangeList(range != nullptr ? range : "800-65535"), options);
        points = static_cast<std::int64_t>(sampled.size());
        const auto t3 = Clock::now();
        const voxwrap::Hull convex = voxwrap::ConvexHull(std::move(sampled));
        extreme = static_cast<std::int64_t>(convex.vertices.size());
        const auto t4 = Clock::now();
        std::FILE* out = std::tmpfile();
        WriteMesh(out, convex, MeshFormat::Stl, Spacing{}, "");
        std::fclose(out);
        const auto t5 = Clock::now();
        list += Seconds(t0, t1);
        read += Seconds(t1, t2);
        sample += Seconds(t2, t3);
        hull += Seconds(t3, t4);
        write += Seconds(t4, t5);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["list_s"] = list / runs;
    state.counters["read_decode_s"] = read / runs;
    state.counters["slices_s"] = sample / runs;  // SampleStack: read, pixel loop, slab hulls
    state.counters["hull_s"] = hull / runs;      // ConvexHull: both passes
    state.counters["write_s"] = write / runs;
    state.counters["points"] = static_cast<double>(points);
    state.counters["extreme_points"] = static_cast<double>(extreme);
}
BENCHMARK(BM_PipelineStages)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
