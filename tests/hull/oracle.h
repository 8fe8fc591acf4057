#pragma once
// Test oracles for the exact hull arithmetic: 128-bit integers, conversions to and from the
// multi-word form, exact determinants and the sign of a symbolically perturbed determinant.
#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "hull/check.h"  // Int128, UInt128

using namespace voxwrap;  // the tests speak the library's names

inline int Sign128(Int128 v) { return (v > 0) - (v < 0); }

// v as an n-word number (n >= 2; the magnitude must fit in n - 2 digits of 30 bits).
inline std::vector<std::int32_t> ToWords(Int128 v, int n) {
    std::vector<std::int32_t> L(n, 0);
    L[0] = n;
    L[1] = Sign128(v);
    UInt128 m = v < 0 ? -static_cast<UInt128>(v) : static_cast<UInt128>(v);
    for (int i = 2; i < n; ++i) {
        L[i] = static_cast<std::int32_t>(m & ((1u << 30) - 1));
        m >>= 30;
    }
    return L;
}

// The value of a multi-word number of at most 6 words.
inline Int128 FromWords(const std::int32_t* L) {
    UInt128 m = 0;
    for (int i = L[0] - 1; i >= 2; --i)
        m = (m << 30) | static_cast<std::uint32_t>(L[i]);
    return L[1] * static_cast<Int128>(m);
}

// A random value with a magnitude below 2^bits (bits <= 120), of either sign, with a random
// bit length so that small and large magnitudes are both common.
inline Int128 RandomValue(std::mt19937_64& rng, int bits) {
    const int length = std::uniform_int_distribution<int>(0, bits)(rng);
    UInt128 m = (static_cast<UInt128>(rng()) << 64) | rng();
    m = length == 0 ? 0 : m >> (128 - length);
    const Int128 v = static_cast<Int128>(m);
    return rng() & 1 ? -v : v;
}

// Exact determinant of the rows p2 - p1, p3 - p1, p4 - p1 of the points (X[i], Y[i], Z[i]).
inline Int128 Det3(const std::int32_t* X, const std::int32_t* Y, const std::int32_t* Z,
                   const int p[4]) {
    Int128 a[3][3];
    for (int r = 0; r < 3; ++r) {
        a[r][0] = static_cast<Int128>(X[p[r + 1]]) - X[p[0]];
        a[r][1] = static_cast<Int128>(Y[p[r + 1]]) - Y[p[0]];
        a[r][2] = static_cast<Int128>(Z[p[r + 1]]) - Z[p[0]];
    }
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
}

// Sign of the determinant of the (d+1)×(d+1) matrix with rows (1, c[i][0], ..., c[i][d-1]) after
// every coordinate c[i][j] is moved by eps^(2^(j·(d+1) + r)), r the position of rank[i] among the
// ranks (0 = lowest): the lowest rank moves most, and within a point the first coordinate most.
// The result is the sign of the lowest-order non-zero coefficient of the polynomial in eps, that
// is the sign for an infinitesimal eps > 0. Exponent sums are distinct for distinct sets of moved
// entries, so every coefficient is collected exactly.
template <int d>
int PerturbedSign(const std::int64_t (&c)[d + 1][d], const std::int32_t (&rank)[d + 1]) {
    constexpr int n = d + 1;
    int r[n];
    for (int i = 0; i < n; ++i) {
        r[i] = 0;
        for (int j = 0; j < n; ++j)
            r[i] += rank[j] < rank[i];
    }
    std::vector<std::pair<long, Int128>> terms;
    int perm[n];
    for (int i = 0; i < n; ++i)
        perm[i] = i;
    do {
        int inversions = 0;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                inversions += perm[i] > perm[j];
        const int sign = inversions % 2 ? -1 : 1;
        // Rows whose column is a coordinate column take the constant or the eps term.
        for (int mask = 0; mask < (1 << n); ++mask) {
            Int128 coefficient = sign;
            long exponent = 0;
            bool valid = true;
            for (int i = 0; i < n && valid; ++i) {
                const int col = perm[i];
                const bool moved = (mask >> i) & 1;
                if (col == 0) {
                    valid = !moved;  // the column of ones is not perturbed
                } else if (moved) {
                    exponent += 1L << ((col - 1) * n + r[i]);
                } else {
                    coefficient *= c[i][col - 1];
                }
            }
            if (valid && coefficient != 0) terms.emplace_back(exponent, coefficient);
        }
    } while (std::next_permutation(perm, perm + n));
    std::sort(terms.begin(), terms.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < terms.size();) {
        Int128 sum = 0;
        std::size_t j = i;
        for (; j < terms.size() && terms[j].first == terms[i].first; ++j)
            sum += terms[j].second;
        if (sum != 0) return Sign128(sum);
        i = j;
    }
    return 0;  // unreachable: the product of one eps per row always survives
}
