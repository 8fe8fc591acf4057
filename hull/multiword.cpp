// The reference arithmetic (multiword.h): multi-word integers, the exact predicates evaluated
// in them, the double-precision filter and the orientation built from these alone. Kept as the
// second opinion the tests hold the hardware predicates of exact.cpp against; nothing in the hull
// calls it. Nothing here allocates; all numbers live in small fixed-size local arrays or in the
// caller's arrays.
#include "hull/multiword.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "hull/chull3.h"
#include "hull/ones.h"
#include "hull/perturbation.h"
#include "hull/stop.h"

namespace voxwrap {

namespace {

constexpr std::int32_t BASE = 1 << 30;  // one digit of a multi-word integer
constexpr std::int32_t MASK = BASE - 1;
constexpr std::int32_t HALF = 1 << 15;  // half digits: a product of two stays below 2^30
constexpr float FBASE = 1073741824.0f;  // 2^30, exact in single precision

// The second line of both size messages.
std::string SizeLine(std::int32_t longa, std::int32_t longb) {
    return "  LONGA: " + Field(longa, 3) + " words,    LONGB: " + Field(longb, 3) + " words";
}

// b - a as 32-bit hardware forms it: the exact difference whenever it lies below 2^31; the
// unsigned detour keeps every other input defined.
inline std::int32_t Diff(std::int32_t b, std::int32_t a) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(b) - static_cast<std::uint32_t>(a));
}

}  // namespace

// =================================================================================================
// Multi-word integers
//
// A number L of n words: L(1) = n, L(2) = sign (-1, 0, +1), L(3..n) = magnitude in base 2^30,
// least significant digit first. The predicates use fixed word counts (4 and 5) chosen so that
// no value they form can overflow; the size checks below therefore never fire in them.
// =================================================================================================

namespace {

// N as a LEN-word number, LEN >= 4. The magnitude is taken in unsigned arithmetic so that even
// N = -2^31 gets its true value (digit 2 above the first).
inline void Convert(std::int32_t N, Ivec L, std::int32_t LEN) {
    L(1) = LEN;
    L(2) = (N > 0) - (N < 0);
    const std::uint32_t m =
        N < 0 ? 0u - static_cast<std::uint32_t>(N) : static_cast<std::uint32_t>(N);
    L(3) = static_cast<std::int32_t>(m & MASK);
    L(4) = static_cast<std::int32_t>(m >> 30);
    for (std::int32_t i = 5; i <= LEN; ++i)
        L(i) = 0;
}

// The cores below take the word count n of both operands from the caller: the public routines
// check the counts first, the predicates pass their fixed count (every number of one determinant
// is converted with it, so no check could fail), which lets the compiler unroll the digit loops.

// R = A + SB·|B|, where SB stands in for the sign word of B. Subtraction passes the negated sign
// instead of flipping B's sign word in place, so B is never written.
inline void AddWords(Cvec A, Cvec B, std::int32_t SB, Ivec R, std::int32_t n) {
    R(1) = n;
    if (A(2) == 0) {
        R(2) = SB;
        for (std::int32_t i = 3; i <= n; ++i)
            R(i) = B(i);
        return;
    }
    if (SB == 0) {
        for (std::int32_t i = 2; i <= n; ++i)
            R(i) = A(i);
        return;
    }
    if (static_cast<std::int64_t>(A(2)) * SB != -1) {
        // Same signs: add the magnitudes. A carry out of the top digit is dropped; the word
        // counts of the predicates leave room for every sum they form.
        R(2) = A(2);
        std::uint32_t carry = 0;
        for (std::int32_t i = 3; i <= n; ++i) {
            const std::uint32_t s =
                static_cast<std::uint32_t>(A(i)) + static_cast<std::uint32_t>(B(i)) + carry;
            R(i) = static_cast<std::int32_t>(s & MASK);
            carry = s >> 30;
        }
        return;
    }
    // Opposite signs: the larger magnitude keeps its sign, and the smaller is subtracted from it.
    std::int32_t top = n;
    while (top >= 3 && A(top) == B(top))
        --top;
    if (top < 3) {
        R(2) = 0;
        for (std::int32_t i = 3; i <= n; ++i)
            R(i) = 0;
        return;
    }
    const bool aLarger = A(top) > B(top);
    const Cvec G = aLarger ? A : B;
    const Cvec S = aLarger ? B : A;
    R(2) = aLarger ? A(2) : SB;
    std::int64_t borrow = 0;
    for (std::int32_t i = 3; i <= n; ++i) {
        std::int64_t d = static_cast<std::int64_t>(G(i)) - S(i) - borrow;
        if (d < 0) {
            d += BASE;
            borrow = 1;
        } else {
            borrow = 0;
        }
        R(i) = static_cast<std::int32_t>(d);
    }
}

// R = A - B, both of n words.
inline void SubWords(Cvec A, Cvec B, Ivec R, std::int32_t n) {
    if (B(2) == 0) {
        for (std::int32_t i = 1; i <= n; ++i)
            R(i) = A(i);
        return;
    }
    AddWords(A, B, Diff(0, B(2)), R, n);
}

// R = A × B, the magnitude taken modulo 2^(30(n-2)). Each column of the schoolbook product is
// summed with every 60-bit digit product split into its low and high 30 bits, so the sums stay
// far inside 64 bits for any word count; the carry out of the last column is dropped. This gives
// digit for digit what the column scheme over 15-bit half digits gives.
inline void MultWords(Cvec A, Cvec B, Ivec R, std::int32_t n) {
    R(1) = n;
    R(2) = static_cast<std::int32_t>(static_cast<std::int64_t>(A(2)) * B(2));
    if (R(2) == 0) {
        for (std::int32_t i = 3; i <= n; ++i)
            R(i) = 0;
        return;
    }
    std::uint64_t carry = 0;
    for (std::int32_t k = 3; k <= n; ++k) {
        std::uint64_t lo = carry;
        std::uint64_t hi = 0;
        for (std::int32_t j = 3; j <= k; ++j) {
            const std::uint64_t p = static_cast<std::uint64_t>(static_cast<std::uint32_t>(A(j))) *
                                    static_cast<std::uint32_t>(B(k + 3 - j));
            lo += p & MASK;
            hi += p >> 30;
        }
        R(k) = static_cast<std::int32_t>(lo & MASK);
        carry = (lo >> 30) + hi;
    }
}

// Right-aligned exponent form of a real with 15 significant digits: "0.", the digits, "E" and a
// signed two-digit exponent, e.g. "0.115292150460685E+19", padded on the left to `width`.
std::string ExponentField(float a, int width) {
    std::string text;
    if (std::isinf(a)) {
        text = a < 0 ? "-Infinity" : "Infinity";
    } else {
        char buf[40];
        // d.dddddddddddddde±xx: the same 15 digits, one decimal place further left.
        std::snprintf(buf, sizeof buf, "%.14E", static_cast<double>(a));
        const std::string s = buf;
        const std::size_t lead = s[0] == '-' ? 1 : 0;
        const std::size_t e = s.find('E');
        std::string digits = s.substr(lead, 1) + s.substr(lead + 2, e - lead - 2);
        int exponent = std::stoi(s.substr(e + 1));
        if (a != 0) ++exponent;
        char exp[16];
        std::snprintf(exp, sizeof exp, "E%c%02d", exponent < 0 ? '-' : '+',
                      exponent < 0 ? -exponent : exponent);
        text = std::string(lead ? "-" : "") + "0." + digits + exp;
    }
    if (static_cast<int>(text.size()) >= width) return text;
    return std::string(width - text.size(), ' ') + text;
}

}  // namespace

// N as a LEN-word number. A word count of 3 or less is reported and L is left as it was; the run
// goes on (no caller in the hull passes such a count).
void ltrans(std::int32_t N, std::int32_t* L, std::int32_t LEN, std::string* report) {
    if (LEN <= 3) {
        if (report != nullptr) {
            *report +=
                "Error in LTRANS: N should be greater than 3.\nPresent N is" + Field(LEN, 3) + "\n";
        }
        return;
    }
    Convert(N, L, LEN);
}

// R = A + B; both of one word count. A carry out of the top digit is dropped.
void exadd(const std::int32_t* a, const std::int32_t* b, std::int32_t* R) {
    const Cvec A(a), B(b);
    if (A(1) != B(1))
        HullStop(" Error in EXADD: The integer sizes do not match.", SizeLine(A(1), B(1)));
    AddWords(A, B, B(2), R, A(1));
}

// R = A - B; B is not modified. With B zero, A is copied whole, with its own word count and no
// size check; otherwise the sum with -B checks and reports as the sum.
void exsub(const std::int32_t* a, const std::int32_t* b, std::int32_t* R) {
    const Cvec A(a), B(b);
    if (B(2) != 0 && A(1) != B(1))
        HullStop(" Error in EXADD: The integer sizes do not match.", SizeLine(A(1), B(1)));
    SubWords(A, B, R, A(1));
}

// R = A × B; both of one word count. Exact whenever the product fits the word count.
void exmult(const std::int32_t* a, const std::int32_t* b, std::int32_t* R) {
    const Cvec A(a), B(b);
    if (A(1) != B(1))
        HullStop(" Error in EXMULT: The integer sizes do not match.", SizeLine(A(1), B(1)));
    MultWords(A, B, R, A(1));
}

// Half digit I of A: odd I is the low 15 bits of digit (I+1)/2, even I the high 15 bits of digit
// I/2. An I outside the number ends the run.
std::int32_t lhalf(const std::int32_t* a, std::int32_t I) {
    const Cvec A(a);
    const std::int32_t k = (I + 1) / 2;
    if (k <= 0 || k > A(1) - 2)
        HullStop(" Error in LHALF: Integer I is out of range. I = " + Field(I, 5));
    const std::int32_t d = A(k + 2);
    return I % 2 != 0 ? d % HALF : d / HALF;
}

// The single-precision value of L, summed from the least significant digit up with a rounding
// to single precision after every step.
float floatl(const std::int32_t* l) {
    const Cvec L(l);
    const std::int32_t n = L(1);
    float s = 0.0f;
    float power = 1.0f;  // (2^30)^i in single precision
    for (std::int32_t i = 0; i <= n - 3; ++i) {
        s = s + power * static_cast<float>(L(i + 3));
        power = power * FBASE;
    }
    return s * static_cast<float>(L(2));
}

// A truncated toward zero as a LEN-word number, all real arithmetic in single precision. A value
// that needs more than LEN words (infinity included) ends the run; a not-a-number is zero.
void ltranf(float A, std::int32_t* l, std::int32_t LEN) {
    const Ivec L(l);
    L(1) = LEN;
    float r;
    if (A > 0) {
        L(2) = 1;
        r = A;
    } else if (A < 0) {
        L(2) = -1;
        r = -A;
    } else {
        L(2) = 0;
        for (std::int32_t i = 3; i <= LEN; ++i)
            L(i) = 0;
        return;
    }
    // The word of the most significant digit. Infinity would scale forever: it fits no count.
    float t = r;
    std::int32_t k = 3;
    while (t >= FBASE && !std::isinf(t)) {
        t = t * (1.0f / FBASE);
        k = k + 1;
    }
    if (std::isinf(t) || LEN < k)
        HullStop("Error in LTRANF: A is too large.",
                 " A, N =" + ExponentField(A, 30) + Field(LEN, 3));
    L(k) = static_cast<std::int32_t>(t);
    for (std::int32_t j = k; j >= 4; --j) {
        float power = 1.0f;  // (2^30)^(j-4)
        for (std::int32_t i = 4; i < j; ++i)
            power = power * FBASE;
        r = r - power * FBASE * static_cast<float>(L(j));
        t = r / power;
        L(j - 1) = static_cast<std::int32_t>(t);
    }
    for (std::int32_t i = k + 1; i <= LEN; ++i)
        L(i) = 0;
    // A magnitude below 1 truncates to zero, and zero carries sign 0 like every other zero.
    if (k == 3 && L(3) == 0) L(2) = 0;
}

// =================================================================================================
// Exact predicates in multi-word integers
//
// Each determinant converts its coordinate differences with one fixed word count (`length`): 4
// words hold any 2×2 determinant of differences below 2^29 (below 2^59), 5 words any 3×3 one
// (below 6·2^87 < 2^90).
// =================================================================================================

std::int32_t isd1ssWords(const std::int32_t* a, const std::int32_t* b) {
    constexpr std::int32_t length = 4;
    const Cvec A(a), B(b);
    std::int32_t LA[length], LB[length], LC[length], LD[length];
    Convert(Diff(A(2), A(1)), LA, length);
    Convert(Diff(A(3), A(1)), LB, length);
    Convert(Diff(B(2), B(1)), LC, length);
    Convert(Diff(B(3), B(1)), LD, length);
    std::int32_t T1[length], T2[length], R[length];
    MultWords(LA, LD, T1, length);
    MultWords(LB, LC, T2, length);
    SubWords(T1, T2, R, length);
    return R[1];
}

std::int32_t jsd1ssWords(const std::int32_t* p, const std::int32_t* u, const std::int32_t* v) {
    const Cvec P(p), U(u), V(v);
    const std::int32_t A[3] = {U(P(1)), U(P(2)), U(P(3))};
    const std::int32_t B[3] = {V(P(1)), V(P(2)), V(P(3))};
    return isd1ssWords(A, B);
}

std::int32_t jd1sssWords(const std::int32_t* p, const std::int32_t* ix, const std::int32_t* iy,
                         const std::int32_t* iz) {
    constexpr std::int32_t length = 5;
    const Cvec P(p), X(ix), Y(iy), Z(iz);
    const std::int32_t p1 = P(1);
    std::int32_t DX[3][length], DY[3][length], DZ[3][length];
    for (int k = 0; k < 3; ++k) {
        Convert(Diff(X(P(k + 2)), X(p1)), DX[k], length);
        Convert(Diff(Y(P(k + 2)), Y(p1)), DY[k], length);
        Convert(Diff(Z(P(k + 2)), Z(p1)), DZ[k], length);
    }
    // The six triple products of the expansion, each (first × second) × third.
    static constexpr int TERMS[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                        {0, 2, 1}, {1, 0, 2}, {2, 1, 0}};
    std::int32_t RT[6][length], T[length];
    for (int t = 0; t < 6; ++t) {
        MultWords(DX[TERMS[t][0]], DY[TERMS[t][1]], T, length);
        MultWords(T, DZ[TERMS[t][2]], RT[t], length);
    }
    std::int32_t S1[length], S2[length];
    AddWords(RT[0], RT[1], RT[1][1], S1, length);
    AddWords(S1, RT[2], RT[2][1], S2, length);
    SubWords(S2, RT[3], S1, length);
    SubWords(S1, RT[4], S2, length);
    SubWords(S2, RT[5], S1, length);
    return S1[1];
}

// =================================================================================================
// The four-point orientation from the filter and the multi-word determinants
// =================================================================================================

namespace {

// The filter's threshold factor: the single-precision value nearest to 10^-6.
constexpr double FILTER_EPS = static_cast<double>(1e-6f);

// Sign of the orientation determinant of (p1, p2, p3, p4) when double precision proves it, else 0.
// The differences are the exact integer differences: the coordinates convert exactly and their
// difference (below 2^32 in magnitude) is exact in double, with no 32-bit overflow for any input.
// Each product and the sum then lose at most a few units of 2^-53 of the largest product M, and
// the verdict needs |D| > 10^-6 · M: a decided sign is always the exact one.
inline std::int32_t Filter(std::int32_t p1, std::int32_t p2, std::int32_t p3, std::int32_t p4,
                           Cvec X, Cvec Y, Cvec Z) {
    const double x1 = X(p1), y1 = Y(p1), z1 = Z(p1);
    const double dx2 = X(p2) - x1, dy2 = Y(p2) - y1, dz2 = Z(p2) - z1;
    const double dx3 = X(p3) - x1, dy3 = Y(p3) - y1, dz3 = Z(p3) - z1;
    const double dx4 = X(p4) - x1, dy4 = Y(p4) - y1, dz4 = Z(p4) - z1;
    const double T1 = dx2 * dy3 * dz4;
    const double T2 = dx3 * dy4 * dz2;
    const double T3 = dx4 * dy2 * dz3;
    const double T4 = dx2 * dy4 * dz3;
    const double T5 = dx3 * dy2 * dz4;
    const double T6 = dx4 * dy3 * dz2;
    const double D = T1 + T2 + T3 - T6 - T5 - T4;
    // Plain comparisons rather than fmax: no operand can be a NaN, and they compile to maxsd.
    double M = std::fabs(T1);
    for (const double T : {T2, T3, T4, T5, T6})
        M = std::fabs(T) > M ? std::fabs(T) : M;
    const double B = M > 1.0 ? M : 1.0;
    if (std::fabs(D) > B * FILTER_EPS) return D > 0 ? 1 : -1;
    return 0;
}

}  // namespace

std::int32_t jorsssWords(const std::int32_t* iv, const std::int32_t* ix, const std::int32_t* iy,
                         const std::int32_t* iz, const std::int32_t* irank) {
    const Cvec IV(iv);
    std::int32_t r = Filter(IV(1), IV(2), IV(3), IV(4), ix, iy, iz);
    if (r != 0) return r;

    // Lowest rank first; sigma is the parity of the permutation into that order. Whenever the
    // determinant is not 0, sigma undoes the rows' permutation: the given order's own sign.
    std::int32_t S[4];
    std::int32_t sigma;
    sortbn(4, iv, irank, S, sigma);
    r = jd1sssWords(S, ix, iy, iz);
    if (r != 0) return r * sigma;

    const std::int32_t* column[3] = {ix, iy, iz};
    auto minor = [&](int a, int b, int c, int u, int v) {
        const std::int32_t P[3] = {S[a], S[b], S[c]};
        return jsd1ssWords(P, column[u], column[v]);
    };
    auto order = [&](int a, int b, int u) {
        const std::int32_t P[2] = {S[a], S[b]};
        return jsd1s(P, column[u]);
    };
    return sigma * perturbation::Cascade(minor, order);
}

void sfilt(const std::int32_t* iv, const std::int32_t* ix, const std::int32_t* iy,
           const std::int32_t* iz, std::int32_t& ISIGN) {
    const Cvec IV(iv);
    ISIGN = Filter(IV(1), IV(2), IV(3), IV(4), ix, iy, iz);
}

}  // namespace voxwrap
