// Every object of a label stack against one object of the whole: the stack named by
// VOXWRAP_BENCH_STACK (a directory of slices, listed with "-"), on VOXWRAP_BENCH_THREADS threads
// (default: one per core). BM_OneObject samples the range list 1- and builds its hull, as a run of
// the program does before writing; BM_Objects/0 does the same for every label, BM_Objects/6, /18
// and /26 for every connected component of 1-. bench/objects.sh makes the stack and runs each in a
// process of its own for its peak memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "hull/storage.h"
#include "mesh/mesh.h"
#include "sample/objects.h"
#include "sample/sampler.h"
#include "sample/selection.h"
#include "slices/csi.h"
#include "voxwrap/voxwrap.h"

using namespace voxwrap;  // the benchmarks speak the library's names

namespace {

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The hull of the points and its triangles, as the program builds them; returns the triangles.
std::size_t TriangleCount(const voxwrap::Points& p) {
    return voxwrap::ConvexHull(p).triangles.size();
}

struct Stack {
    std::vector<std::string> paths;
    std::vector<TiffPage> pages;
    std::int32_t W = 0, H = 0;
    voxwrap::SampleOptions options;
};

bool Open(benchmark::State& state, Stack* s) {
    const char* dir = std::getenv("VOXWRAP_BENCH_STACK");
    const char* threads = std::getenv("VOXWRAP_BENCH_THREADS");
    if (dir == nullptr) {
        state.SkipWithError("set VOXWRAP_BENCH_STACK to a directory of slices");
        return false;
    }
    s->paths = CheckSliceImages(dir, "-", &s->W, &s->H, nullptr, nullptr, &s->pages);
    s->options.threads =
        threads != nullptr ? static_cast<unsigned>(std::strtoul(threads, nullptr, 10)) : 0;
    return true;
}

void BM_OneObject(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    double sample = 0, hull = 0;
    std::size_t triangles = 0;
    for (auto _ : state) {
        Stack s;
        const auto t0 = Clock::now();
        if (!Open(state, &s)) return;
        const voxwrap::Points points = voxwrap::SampleStack(
            s.paths, s.pages, s.W, s.H, voxwrap::Selection::FromRangeList("1-"), s.options);
        const auto t1 = Clock::now();
        triangles = TriangleCount(points);
        const auto t2 = Clock::now();
        sample += Seconds(t0, t1);
        hull += Seconds(t1, t2);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["sample_s"] = sample / runs;
    state.counters["hull_s"] = hull / runs;
    state.counters["triangles"] = static_cast<double>(triangles);
}

void BM_Objects(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    voxwrap::ObjectRule rule;
    if (state.range(0) != 0) {
        rule.kind = voxwrap::ObjectRule::Kind::Components;
        rule.connectivity = static_cast<int>(state.range(0));
    }
    double sample = 0, hull = 0;
    std::size_t objects = 0, points = 0, triangles = 0;
    for (auto _ : state) {
        Stack s;
        const auto t0 = Clock::now();
        if (!Open(state, &s)) return;
        const voxwrap::TiffSlices slices(s.paths, s.pages);
        const std::vector<voxwrap::SampledObject> all = voxwrap::SampleObjects(
            slices, s.W, s.H, voxwrap::Selection::FromRangeList("1-"), rule, s.options);
        const auto t1 = Clock::now();
        objects = all.size();
        points = triangles = 0;
        for (const voxwrap::SampledObject& o : all) {
            points += o.points.size();
            triangles += TriangleCount(o.points);
        }
        const auto t2 = Clock::now();
        sample += Seconds(t0, t1);
        hull += Seconds(t1, t2);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["sample_s"] = sample / runs;
    state.counters["hull_s"] = hull / runs;
    state.counters["objects"] = static_cast<double>(objects);
    state.counters["points"] = static_cast<double>(points);
    state.counters["triangles"] = static_cast<double>(triangles);
}

BENCHMARK(BM_OneObject)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Objects)->Arg(0)->Arg(6)->Arg(26)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
