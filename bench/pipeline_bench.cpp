// The stages of one whole conversion, timed one by one on the stack named by the environment
// variables VOXWRAP_BENCH_STACK (a directory of slices, listed with "-") and VOXWRAP_BENCH_RANGE
// (default 800-65535), on VOXWRAP_BENCH_THREADS threads (default: one per core). bench/pipeline.sh
// makes a large stack and runs this.
// Only the public header: the benchmark is a front end like any other.
#include <voxwrap/voxwrap.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <utility>

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
        const voxwrap::Stack stack = voxwrap::ListStack(dir, "-");
        const auto t1 = Clock::now();
        voxwrap::SampleOptions options;
        options.threads =
            threads != nullptr ? static_cast<unsigned>(std::strtoul(threads, nullptr, 10)) : 0;
        // Reading and decoding alone: every slice scanned with nothing selected.
        benchmark::DoNotOptimize(
            voxwrap::SampleStack(stack, voxwrap::Selection::FromRangeList(""), options));
        const auto t2 = Clock::now();
        voxwrap::Sampled sampled = voxwrap::SampleStack(
            stack, voxwrap::Selection::FromRangeList(range != nullptr ? range : "800-65535"),
            options);
        points = static_cast<std::int64_t>(sampled.points.size());
        const auto t3 = Clock::now();
        const voxwrap::Hull convex = voxwrap::ConvexHull(std::move(sampled.points));
        extreme = static_cast<std::int64_t>(convex.vertices.size());
        const auto t4 = Clock::now();
        std::ostringstream out;
        voxwrap::WriteMesh(out, convex, voxwrap::MeshFormat::Stl);
        benchmark::DoNotOptimize(out.str().size());
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
