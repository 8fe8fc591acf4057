// Timing of chull3 on random points in a cube, integer points near a sphere (nearly every point
// on the hull), and voxel-like input (corners of the per-plane convex polygons of a digital
// ball). With VOXWRAP_POINTS=file (qhull input format: "3", n, then n lines "x y z") one more
// benchmark times chull3 on the points of that file, and with VOXWRAP_SLICES=dir two more time it
// on the sampling points of a slice stack and on their hull's corners; bench/hull_vs_qhull.sh
// uses both.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "hull/check.h"
#include "hull/storage.h"
#include "sample/sampler.h"
#include "sample/selection.h"
#include "slices/csi.h"
#include "voxwrap/voxwrap.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

using hullcheck::Point;
using PointList = std::vector<Point>;

PointList Cube(int n) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> d(-1000000, 1000000);
    PointList p(n);
    for (auto& q : p)
        q = {d(rng), d(rng), d(rng)};
    return p;
}

PointList Sphere(int n) {
    std::mt19937 rng(12);
    std::normal_distribution<double> g(0.0, 1.0);
    const double R = 10000000.0;
    PointList p(n);
    for (auto& q : p) {
        double x, y, z, r;
        do {
            x = g(rng);
            y = g(rng);
            z = g(rng);
            r = std::sqrt(x * x + y * y + z * z);
        } while (r == 0.0);
        q = {static_cast<std::int32_t>(std::lround(R * x / r)),
             static_cast<std::int32_t>(std::lround(R * y / r)),
             static_cast<std::int32_t>(std::lround(R * z / r))};
    }
    return p;
}

// Corners of the convex polygon of every plane of a digital ball of radius r, as the slice
// sampling produces them: per row the outer corners of the first and last voxel.
PointList Ball(int r) {
    PointList p;
    auto cross = [](const Point& o, const Point& a, const Point& b) {
        return static_cast<std::int64_t>(a.x - o.x) * (b.y - o.y) -
               static_cast<std::int64_t>(a.y - o.y) * (b.x - o.x);
    };
    for (int z = -r; z <= r; ++z) {
        PointList row;
        for (int y = -r; y <= r; ++y) {
            const long long s = static_cast<long long>(r) * r - static_cast<long long>(y) * y -
                                static_cast<long long>(z) * z;
            if (s < 0) continue;
            const int w = static_cast<int>(std::sqrt(static_cast<double>(s)));
            for (const int yy : {y, y + 1}) {
                row.push_back({-w, yy, z});
                row.push_back({w + 1, yy, z});
            }
        }
        if (row.empty()) continue;
        std::sort(row.begin(), row.end(), [](const Point& a, const Point& b) {
            return a.x < b.x || (a.x == b.x && a.y < b.y);
        });
        PointList hull(2 * row.size());
        std::size_t k = 0;
        for (std::size_t i = 0; i < row.size(); ++i) {  // monotone chain, strict corners
            while (k >= 2 && cross(hull[k - 2], hull[k - 1], row[i]) <= 0)
                --k;
            hull[k++] = row[i];
        }
        for (std::size_t i = row.size() - 1, t = k + 1; i-- > 0;) {
            while (k >= t && cross(hull[k - 2], hull[k - 1], row[i]) <= 0)
                --k;
            hull[k++] = row[i];
        }
        for (std::size_t i = 0; i + 1 < k; ++i) {
            p.push_back(hull[i]);
            p.push_back({hull[i].x, hull[i].y, z + 1});
        }
    }
    return p;
}

// Times chull3 in storage sized as the driver sizes it, then checks the last hull exactly (a
// benchmark of a wrong hull measures nothing).
void Run(benchmark::State& state, const PointList& points) {
    const auto n = static_cast<std::int32_t>(points.size());
    HullStorage h;
    h.SizePoints(n);
    h.SizeCells();
    for (std::int32_t i = 0; i < n; ++i) {
        h.IX[i] = points[i].x;
        h.IY[i] = points[i].y;
        h.IZ[i] = points[i].z;
        h.IRANK[i] = i;
    }
    for (auto _ : state) {
        h.Run(n);
        benchmark::DoNotOptimize(h.IPAR[slot::IVSTRT - 1]);
    }
    const std::string fault = hullcheck::CheckHull(h, false);
    if (!fault.empty()) state.SkipWithError(fault.c_str());
    std::int64_t vertices = 0;
    for (std::int32_t i = 0; i < n; ++i)
        vertices += h.IVFLAG[i];
    std::size_t bytes = 0;
    for (const auto* a :
         {&h.IX,     &h.IY,     &h.IZ,     &h.IRANK,  &h.IVEDGE, &h.IFEDGE, &h.IEVS,   &h.IEVE,
          &h.IEF1,   &h.IEF2,   &h.IESF1,  &h.IESF2,  &h.IEEF2,  &h.IEEF1,  &h.IVSUB,  &h.IORDER,
          &h.IVNEXT, &h.IVPREV, &h.IVFLAG, &h.ISPREV, &h.IEFLAG, &h.IESTK,  &h.IFFLAG, &h.IFSTK})
        bytes += a->size() * sizeof(std::int32_t);
    state.counters["points"] = n;
    state.counters["vertices"] = static_cast<double>(vertices);
    state.counters["bytes/point"] = static_cast<double>(bytes) / n;
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_Cube(benchmark::State& state) { Run(state, Cube(static_cast<int>(state.range(0)))); }
void BM_Sphere(benchmark::State& state) { Run(state, Sphere(static_cast<int>(state.range(0)))); }
void BM_DigitalBall(benchmark::State& state) { Run(state, Ball(static_cast<int>(state.range(0)))); }

BENCHMARK(BM_Cube)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sphere)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DigitalBall)->Arg(150)->Arg(400)->Unit(benchmark::kMillisecond);

// PointList of a qhull input file, timed when VOXWRAP_POINTS names one.
const bool fileRegistered = [] {
    const char* path = std::getenv("VOXWRAP_POINTS");
    if (path == nullptr) return false;
    benchmark::RegisterBenchmark("BM_File", [path](benchmark::State& state) {
        std::ifstream in(path);
        long long dim = 0, n = 0;
        in >> dim >> n;
        PointList p(static_cast<std::size_t>(n));
        for (auto& q : p)
            in >> q.x >> q.y >> q.z;
        if (!in || dim != 3) {
            state.SkipWithError("bad points file");
            return;
        }
        Run(state, p);
    })->Unit(benchmark::kMillisecond);
    return true;
}();

// The sampling points of a slice stack, as the driver collects them: VOXWRAP_SLICES names the
// directory (its slices listed with "-"), VOXWRAP_RANGE the range list (default 800-65535).
// With extremeOnly, the corners of their hull instead: the input of the second pass.
PointList SlicePoints(const char* dir, bool extremeOnly) {
    const char* range = std::getenv("VOXWRAP_RANGE");
    std::int32_t W = 0, H = 0, N = 0;
    const auto paths = CheckSliceImages(dir, "-", &W, &H, &N, nullptr);
    const voxwrap::Points s = voxwrap::SampleStack(
        paths, {}, W, H, voxwrap::Selection::FromRangeList(range != nullptr ? range : "800-65535"));
    PointList p(s.size());
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = {s.x[i], s.y[i], s.z[i]};
    if (!extremeOnly) return p;
    // The hull's vertices are exactly those corners, in the points' order.
    voxwrap::Points input;
    for (const auto& q : p)
        input.push_back(q.x, q.y, q.z);
    const voxwrap::Hull hull = voxwrap::ConvexHull(std::move(input));
    PointList corners;
    for (std::size_t i = 0; i < hull.vertices.size(); ++i)
        corners.push_back({hull.vertices.x[i], hull.vertices.y[i], hull.vertices.z[i]});
    return corners;
}

// The points in qhull's input format.
void WritePoints(const char* path, const PointList& p) {
    std::ofstream out(path);
    out << "3\n" << p.size() << "\n";
    for (const auto& q : p)
        out << q.x << ' ' << q.y << ' ' << q.z << '\n';
}

// BM_Slices and BM_SliceCorners time chull3 on the sampling points of VOXWRAP_SLICES and on their
// hull's corners; VOXWRAP_SLICES_POINTS=file writes the timed points there first, for qconvex.
const bool slicesRegistered = [] {
    const char* dir = std::getenv("VOXWRAP_SLICES");
    if (dir == nullptr) return false;
    for (const bool extremeOnly : {false, true}) {
        benchmark::RegisterBenchmark(extremeOnly ? "BM_SliceCorners" : "BM_Slices",
                                     [dir, extremeOnly](benchmark::State& state) {
                                         const PointList p = SlicePoints(dir, extremeOnly);
                                         if (const char* path =
                                                 std::getenv("VOXWRAP_SLICES_POINTS"))
                                             WritePoints(path, p);
                                         Run(state, p);
                                     })
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
