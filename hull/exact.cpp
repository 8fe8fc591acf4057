// The exact arithmetic of the hull kernel: determinant signs in 64- and 128-bit integers, ties
// broken by a symbolic perturbation driven by the point ranks.
//
// Every geometric decision of the hull is a determinant sign computed here. chull3 accepts no
// coordinate beyond the coordinate limit (common/limits.h), so every difference of two
// coordinates lies below 2^29 in magnitude: a 2×2 minor of differences stays below 2^59 in 64
// bits and a 3×3 determinant below 3·2^88 in 128 bits, and both are exact. The multi-word
// integers of multiword.cpp give the same signs and serve the tests as the second opinion.
#include <cassert>
#include <cstdint>

#include "hull/chull3.h"
#include "hull/ones.h"
#include "hull/perturbation.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

namespace {

__extension__ typedef __int128 Wide;

// Every coordinate difference of points within the limit lies below this in magnitude.
constexpr std::int64_t DIFFERENCE_LIMIT = std::int64_t{1} << 29;
static_assert(2 * std::int64_t{voxwrap::kCoordinateLimit} < DIFFERENCE_LIMIT,
              "every difference of two coordinates within the limit lies below 2^29");

// The precondition of every predicate, asserted in checking builds.
inline bool Bounded(std::int64_t d) { return d > -DIFFERENCE_LIMIT && d < DIFFERENCE_LIMIT; }

// sign(b - a) by comparison, so no difference can overflow.
inline std::int32_t SignOf(std::int32_t a, std::int32_t b) { return (b > a) - (b < a); }

inline std::int32_t SignOfValue(std::int64_t v) { return (v > 0) - (v < 0); }

// The sign of a·d - b·c for |a|, |b|, |c|, |d| < 2^29.
inline std::int32_t SignMinor(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t d) {
    assert(Bounded(a) && Bounded(b) && Bounded(c) && Bounded(d));
    return SignOfValue(a * d - b * c);
}

// The sign of the determinant with rows (x2, y2, z2), (x3, y3, z3), (x4, y4, z4), every entry
// below 2^29 in magnitude: expanded along the first column, minors in 64 bits, the sum in 128.
inline std::int32_t SignDet3(std::int64_t x2, std::int64_t y2, std::int64_t z2, std::int64_t x3,
                             std::int64_t y3, std::int64_t z3, std::int64_t x4, std::int64_t y4,
                             std::int64_t z4) {
    assert(Bounded(x2) && Bounded(y2) && Bounded(z2) && Bounded(x3) && Bounded(y3) && Bounded(z3) &&
           Bounded(x4) && Bounded(y4) && Bounded(z4));
    const Wide d = static_cast<Wide>(x2) * (y3 * z4 - z3 * y4) -
                   static_cast<Wide>(x3) * (y2 * z4 - z2 * y4) +
                   static_cast<Wide>(x4) * (y2 * z3 - z2 * y3);
    return (d > 0) - (d < 0);
}

}  // namespace

// =================================================================================================
// Exact predicates
//
// Every coordinate difference they form must lie below 2^29 in magnitude, as it does for the
// points of the hull. A smaller rank means a larger perturbation: the point of lowest rank decides
// first.
// =================================================================================================

// sign(A(2) - A(1)).
std::int32_t isd1s(const std::int32_t* a) {
    const Cvec A(a);
    return SignOf(A(1), A(2));
}

// sign(U(P(2)) - U(P(1))).
std::int32_t jsd1s(const std::int32_t* p, const std::int32_t* u) {
    const Cvec P(p), U(u);
    return SignOf(U(P(1)), U(P(2)));
}

// sign((A2 - A1)(B3 - B1) - (A3 - A1)(B2 - B1)), exactly.
std::int32_t isd1ss(const std::int32_t* a, const std::int32_t* b) {
    const Cvec A(a), B(b);
    const std::int64_t a1 = A(1), b1 = B(1);
    return SignMinor(A(2) - a1, A(3) - a1, B(2) - b1, B(3) - b1);
}

// The orientation of the points P(1), P(2), P(3) in the (U, V) plane: +1 counterclockwise,
// -1 clockwise, 0 collinear, exactly.
std::int32_t jsd1ss(const std::int32_t* p, const std::int32_t* u, const std::int32_t* v) {
    const Cvec P(p), U(u), V(v);
    const std::int64_t u1 = U(P(1)), v1 = V(P(1));
    return SignMinor(U(P(2)) - u1, U(P(3)) - u1, V(P(2)) - v1, V(P(3)) - v1);
}

// The exact sign of the determinant with rows P(2) - P(1), P(3) - P(1), P(4) - P(1): negative
// when P(4) lies on the side of the plane from which P(1), P(2), P(3) turn clockwise.
std::int32_t jd1sss(const std::int32_t* p, const std::int32_t* ix, const std::int32_t* iy,
                    const std::int32_t* iz) {
    const Cvec P(p), X(ix), Y(iy), Z(iz);
    const std::int32_t p1 = P(1);
    std::int64_t d[3][3];
    for (int k = 0; k < 3; ++k) {
        d[k][0] = std::int64_t{X(P(k + 2))} - X(p1);
        d[k][1] = std::int64_t{Y(P(k + 2))} - Y(p1);
        d[k][2] = std::int64_t{Z(P(k + 2))} - Z(p1);
    }
    return SignDet3(d[0][0], d[0][1], d[0][2], d[1][0], d[1][1], d[1][2], d[2][0], d[2][1],
                    d[2][2]);
}

// OUT = IN sorted by ascending KEY with a stable bubble sort; ISIGN = +1 for an even and -1 for
// an odd number of exchanges. Equal keys are never exchanged.
void sortbn(std::int32_t N, const std::int32_t* in, const std::int32_t* key, std::int32_t* out,
            std::int32_t& ISIGN) {
    const Cvec IN(in), KEY(key);
    const Ivec OUT(out);
    for (std::int32_t i = 1; i <= N; ++i)
        OUT(i) = IN(i);
    ISIGN = 1;
    for (std::int32_t m = N - 1; m >= 1; --m) {
        for (std::int32_t i = 1; i <= m; ++i) {
            if (KEY(OUT(i)) > KEY(OUT(i + 1))) {
                const std::int32_t swap = OUT(i);
                OUT(i) = OUT(i + 1);
                OUT(i + 1) = swap;
                ISIGN = -ISIGN;
            }
        }
    }
}

// 1 when point I comes after point J in the two-key order: larger K1, or equal K1 and a K2 that
// is not larger. Points equal in both keys are each larger than the other.
std::int32_t larger(std::int32_t I, std::int32_t J, const std::int32_t* k1,
                    const std::int32_t* k2) {
    const Cvec K1(k1), K2(k2);
    return K1(I) > K1(J) || (K1(I) == K1(J) && K2(I) <= K2(J)) ? 1 : 0;
}

// 1 when K lies to the left of the directed line from I to J in the (U, V) plane, 0 otherwise;
// collinear and coincident points are decided by the perturbation, so the answer is never a tie.
std::int32_t itleft(std::int32_t I, std::int32_t J, std::int32_t K, const std::int32_t* u,
                    const std::int32_t* v, const std::int32_t* KEY) {
    const Cvec U(u), V(v);
    const std::int32_t in[3] = {I, J, K};
    std::int32_t S[3];
    std::int32_t sigma;
    sortbn(3, in, KEY, S, sigma);
    const std::int32_t AU[3] = {U(S[0]), U(S[1]), U(S[2])};
    const std::int32_t AV[3] = {V(S[0]), V(S[1]), V(S[2])};
    std::int32_t s = isd1ss(AU, AV);
    if (s == 0) {
        // Coefficients of the perturbations of U(S1), U(S2) and V(S1), most significant first.
        const std::int32_t V23[2] = {AV[1], AV[2]};
        const std::int32_t V13[2] = {AV[0], AV[2]};
        const std::int32_t U23[2] = {AU[1], AU[2]};
        s = -isd1s(V23);
        if (s == 0) s = isd1s(V13);
        if (s == 0) s = isd1s(U23);
    }
    const std::int32_t r = s == 1 ? 1 : 0;
    return sigma == -1 ? 1 - r : r;
}

// =================================================================================================
// Four-point orientation test
// =================================================================================================

namespace {

// The sign under the perturbation of four points whose determinant is 0 (see jorsss).
__attribute__((noinline)) std::int32_t PerturbedSign(const std::int32_t p[4], const Cvec& X,
                                                     const Cvec& Y, const Cvec& Z,
                                                     const Cvec& RANK) {
    // Lowest rank first, sigma the parity of the permutation: what sortbn's exchanges give. Each
    // key carries its position below the rank, so equal ranks keep their given order as in that
    // stable sort, and a five-exchange network sorts the keys branch-free; the parity of a
    // permutation does not depend on the exchanges that reach it.
    std::int64_t key[4];
    for (int k = 0; k < 4; ++k)
        key[k] = static_cast<std::int64_t>(RANK(p[k])) * 4 + k;
    std::int32_t odd = 0;
    auto exchange = [&](int i, int j) {
        const std::int64_t lo = key[i] < key[j] ? key[i] : key[j];
        const std::int64_t hi = key[i] < key[j] ? key[j] : key[i];
        odd ^= key[i] > key[j];
        key[i] = lo;
        key[j] = hi;
    };
    exchange(0, 1);
    exchange(2, 3);
    exchange(0, 2);
    exchange(1, 3);
    exchange(1, 2);
    const std::int32_t sigma = 1 - 2 * odd;
    // The coordinates in rank order, by column.
    std::int64_t c[3][4];
    for (int k = 0; k < 4; ++k) {
        const std::int32_t at = p[key[k] & 3];
        c[0][k] = X(at);
        c[1][k] = Y(at);
        c[2][k] = Z(at);
    }
    auto minor = [&c](int a, int b, int d, int u, int v) {
        return SignMinor(c[u][b] - c[u][a], c[u][d] - c[u][a], c[v][b] - c[v][a],
                         c[v][d] - c[v][a]);
    };
    auto order = [&c](int a, int b, int u) { return SignOfValue(c[u][b] - c[u][a]); };
    return sigma * perturbation::Cascade(minor, order);
}

}  // namespace

// The sign of the orientation determinant of (a, b, c, d) under the rank perturbation: +1 or -1,
// never 0, negated by any exchange of two points.
//
// Whenever the determinant is not 0, the perturbed determinant has its sign, so that sign is
// settled first, on the given order; only a 0 needs the rank order and the perturbation, which
// lies out of line: most calls never reach it. Every coordinate difference must lie below 2^29 in
// magnitude, as it does for the points of the hull.
std::int32_t jorsssAt(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                      const std::int32_t* ix, const std::int32_t* iy, const std::int32_t* iz,
                      const std::int32_t* irank) {
    const Cvec X(ix), Y(iy), Z(iz), RANK(irank);
    const std::int64_t x0 = X(a), y0 = Y(a), z0 = Z(a);
    const std::int32_t r = SignDet3(X(b) - x0, Y(b) - y0, Z(b) - z0, X(c) - x0, Y(c) - y0,
                                    Z(c) - z0, X(d) - x0, Y(d) - y0, Z(d) - z0);
    if (r != 0) return r;
    const std::int32_t p[4] = {a, b, c, d};
    return PerturbedSign(p, X, Y, Z, RANK);
}

std::int32_t jorsss(const std::int32_t* iv, const std::int32_t* ix, const std::int32_t* iy,
                    const std::int32_t* iz, const std::int32_t* irank) {
    const Cvec IV(iv);
    return jorsssAt(IV(1), IV(2), IV(3), IV(4), ix, iy, iz, irank);
}

}  // namespace voxwrap
