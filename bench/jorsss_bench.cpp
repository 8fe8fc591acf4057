// Time per call of the four-point orientation test on random, nearly flat and coplanar lattice
// quadruples: settled by the determinant's sign or by the perturbation minors. The hull decides
// every query in hardware integers; the counters tell which share the reference arithmetic's
// floating-point filter and multi-word determinant (multiword.h) would settle.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "hull/chull3.h"
#include "hull/multiword.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

constexpr int POINTS = 4096;
constexpr int QUERIES = 1024;

struct Workload {
    std::vector<std::int32_t> X, Y, Z, rank, quads;  // quads: QUERIES groups of four
};

// Random points in a large cube: practically every quadruple is far from flat.
Workload RandomPoints() {
    Workload w;
    std::mt19937 rng(1);
    std::uniform_int_distribution<std::int32_t> c(-1000000, 1000000);
    for (int i = 0; i < POINTS; ++i) {
        w.X.push_back(c(rng)), w.Y.push_back(c(rng)), w.Z.push_back(c(rng));
        w.rank.push_back(i + 1);
    }
    std::uniform_int_distribution<std::int32_t> p(1, POINTS);
    for (int q = 0; q < QUERIES; ++q) {
        std::int32_t a = p(rng), b, c3, d;
        do
            b = p(rng);
        while (b == a);
        do
            c3 = p(rng);
        while (c3 == a || c3 == b);
        do
            d = p(rng);
        while (d == a || d == b || d == c3);
        w.quads.insert(w.quads.end(), {a, b, c3, d});
    }
    return w;
}

// Points of a small lattice in the planes z = 0 and x + y = z: every quadruple drawn from one
// plane is coplanar, many are collinear or share points' coordinates, so the determinant is 0
// and the minors decide.
Workload CoplanarLattice() {
    Workload w;
    std::mt19937 rng(2);
    std::uniform_int_distribution<std::int32_t> c(-3, 3);
    for (int i = 0; i < POINTS; ++i) {
        const std::int32_t x = c(rng), y = c(rng);
        w.X.push_back(x), w.Y.push_back(y), w.Z.push_back(i % 2 ? 0 : x + y);
        w.rank.push_back(i + 1);
    }
    std::uniform_int_distribution<std::int32_t> p(0, POINTS / 2 - 1);
    for (int q = 0; q < QUERIES; ++q) {
        const std::int32_t odd = q % 2;  // all four from one plane
        std::int32_t v[4];
        for (int k = 0; k < 4; ++k) {
            bool again;
            do {
                v[k] = 2 * p(rng) + odd + 1;
                again = false;
                for (int j = 0; j < k; ++j)
                    again = again || v[j] == v[k];
            } while (again);
        }
        w.quads.insert(w.quads.end(), v, v + 4);
    }
    return w;
}

// Nearly flat tetrahedra at large coordinates: the determinant is non-zero but far below the
// filter's bound, so the exact determinant decides.
Workload NearlyFlat() {
    Workload w;
    std::mt19937 rng(3);
    std::uniform_int_distribution<std::int32_t> big(-50000000, 50000000), small(-2, 2);
    for (int q = 0; q < QUERIES; ++q) {
        std::int32_t p[3][3];
        for (auto& row : p)
            for (auto& v : row)
                v = big(rng);
        const std::int32_t base = static_cast<std::int32_t>(w.X.size());
        for (int k = 0; k < 3; ++k)
            w.X.push_back(p[k][0]), w.Y.push_back(p[k][1]), w.Z.push_back(p[k][2]);
        w.X.push_back(p[1][0] + p[2][0] - p[0][0] + small(rng));
        w.Y.push_back(p[1][1] + p[2][1] - p[0][1] + small(rng));
        w.Z.push_back(p[1][2] + p[2][2] - p[0][2] + 1);
        for (int k = 0; k < 4; ++k)
            w.rank.push_back(base + k + 1);
        w.quads.insert(w.quads.end(), {base + 3, base + 1, base + 4, base + 2});
    }
    return w;
}

void Run(benchmark::State& state, const Workload& w) {
    // Which path decides, as a share of the queries: the filter, the determinant, the minors.
    double filtered = 0, determinant = 0;
    for (int k = 0; k < QUERIES; ++k) {
        const std::int32_t* iv = &w.quads[4 * k];
        std::int32_t s;
        sfilt(iv, w.X.data(), w.Y.data(), w.Z.data(), s);
        if (s != 0) {
            ++filtered;
        } else if (jd1sss(iv, w.X.data(), w.Y.data(), w.Z.data()) != 0) {
            ++determinant;
        }
    }
    state.counters["filter"] = filtered / QUERIES;
    state.counters["exact"] = determinant / QUERIES;
    int q = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            jorsss(&w.quads[4 * q], w.X.data(), w.Y.data(), w.Z.data(), w.rank.data()));
        q = (q + 1) % QUERIES;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_JorsssFilter(benchmark::State& state) {
    static const Workload w = RandomPoints();
    Run(state, w);
}
BENCHMARK(BM_JorsssFilter);

void BM_JorsssExactDeterminant(benchmark::State& state) {
    static const Workload w = NearlyFlat();
    Run(state, w);
}
BENCHMARK(BM_JorsssExactDeterminant);

void BM_JorsssCoplanarMinors(benchmark::State& state) {
    static const Workload w = CoplanarLattice();
    Run(state, w);
}
BENCHMARK(BM_JorsssCoplanarMinors);

void BM_Jd1sss(benchmark::State& state) {
    static const Workload w = NearlyFlat();
    int q = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(jd1sss(&w.quads[4 * q], w.X.data(), w.Y.data(), w.Z.data()));
        q = (q + 1) % QUERIES;
    }
}
BENCHMARK(BM_Jd1sss);

}  // namespace
