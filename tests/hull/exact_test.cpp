// Multi-word arithmetic, exact predicates and the perturbed orientation test, checked against
// 128-bit integers and against an explicit expansion of the perturbed determinant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "hull/chull3.h"
#include "hull/multiword.h"
#include "hull/oracle.h"
#include "support.h"
#include "voxwrap/voxwrap.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

using Words = std::vector<std::int32_t>;
constexpr std::int32_t LIMIT =
    voxwrap::kCoordinateLimit;  // the largest coordinate the hull accepts

Words Ltrans(std::int32_t n, std::int32_t len) {
    Words L(len, -7);
    ltrans(n, L.data(), len);
    return L;
}

// ---------------------------------------------------------------------------------------------
// Multi-word integers
// ---------------------------------------------------------------------------------------------

TEST(MultiWordConvert, MachineIntegers) {
    const struct {
        std::int32_t n, len;
        Words expected;
    } cases[] = {
        {1073741823, 4, {4, 1, 1073741823, 0}},
        {1073741824, 4, {4, 1, 0, 1}},
        {-5, 5, {5, -1, 5, 0, 0}},
        {0, 4, {4, 0, 0, 0}},
        {0, 6, {6, 0, 0, 0, 0, 0}},
        {2147483647, 4, {4, 1, 1073741823, 1}},
        {-2147483647, 5, {5, -1, 1073741823, 1, 0}},
        {-2147483647 - 1, 4, {4, -1, 0, 2}},
        {-536870911, 4, {4, -1, 536870911, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ltrans(c.n, c.len), c.expected) << c.n;
}

TEST(MultiWordConvert, ShortCountIsReportedAndTheRunGoesOn) {
    for (std::int32_t len : {3, 2, 0, -1}) {
        Words L(6, -7);
        std::string err;
        ltrans(12, L.data(), len, &err);
        char field[8];
        std::snprintf(field, sizeof field, "%3d", len);
        EXPECT_EQ(err, std::string("Error in LTRANS: N should be greater than 3.\n"
                                   "Present N is") +
                           field + "\n");
        EXPECT_EQ(L, Words(6, -7)) << "the number is left unwritten";
    }
}

// Sums, differences and products of random operands against 128-bit arithmetic, for both word
// counts the predicates use and one larger count.
TEST(MultiWordArithmetic, AgreesWithInt128) {
    std::mt19937_64 rng(20240601);
    for (int n : {4, 5, 6}) {
        const int bits = 30 * (n - 2);
        for (int trial = 0; trial < 20000; ++trial) {
            const Int128 a = RandomValue(rng, bits - 1);
            const Int128 b = RandomValue(rng, bits - 1);
            const Words A = ToWords(a, n), B = ToWords(b, n);
            const Words A0 = A, B0 = B;
            Words R(n, -7);
            exadd(A.data(), B.data(), R.data());
            ASSERT_EQ(R, ToWords(a + b, n)) << "add, trial " << trial;
            exsub(A.data(), B.data(), R.data());
            ASSERT_EQ(R, ToWords(a - b, n)) << "sub, trial " << trial;
            ASSERT_EQ(B, B0) << "the subtrahend is left as it was";
            // Split the product's width between the operands so that it fits in n words.
            const int abits = std::uniform_int_distribution<int>(0, bits)(rng);
            const Int128 c = RandomValue(rng, std::min(abits, 120));
            const Int128 e = RandomValue(rng, std::min(bits - abits, 120));
            exmult(ToWords(c, n).data(), ToWords(e, n).data(), R.data());
            ASSERT_EQ(R, ToWords(c * e, n)) << "mult, trial " << trial;
            ASSERT_EQ(A, A0);
        }
    }
}

TEST(MultiWordArithmetic, EdgeCases) {
    const Int128 top = (static_cast<Int128>(1) << 60) - 1;  // the largest 4-word magnitude
    const Words X = ToWords(123456789012345, 4), NX = ToWords(-123456789012345, 4);
    Words R(4, -7);
    exadd(X.data(), NX.data(), R.data());
    EXPECT_EQ(R, (Words{4, 0, 0, 0}));
    exadd(NX.data(), X.data(), R.data());
    EXPECT_EQ(R, (Words{4, 0, 0, 0}));
    exsub(X.data(), X.data(), R.data());
    EXPECT_EQ(R, (Words{4, 0, 0, 0}));

    // A carry out of the top digit is dropped: the magnitude wraps modulo 2^60.
    exadd(ToWords(top, 4).data(), ToWords(1, 4).data(), R.data());
    EXPECT_EQ(R, (Words{4, 1, 0, 0}));
    exadd(ToWords(-top, 4).data(), ToWords(-top, 4).data(), R.data());
    EXPECT_EQ(R, (Words{4, -1, 1073741822, 1073741823}));

    // Borrows across digits, either operand the larger.
    exadd(ToWords(static_cast<Int128>(1) << 30, 4).data(), ToWords(-1, 4).data(), R.data());
    EXPECT_EQ(R, (Words{4, 1, 1073741823, 0}));
    exadd(ToWords(1, 4).data(), ToWords(-(static_cast<Int128>(1) << 30), 4).data(), R.data());
    EXPECT_EQ(R, (Words{4, -1, 1073741823, 0}));

    // A zero operand: the other one is copied.
    const Words Z4 = ToWords(0, 4);
    exadd(Z4.data(), NX.data(), R.data());
    EXPECT_EQ(R, NX);
    exadd(NX.data(), Z4.data(), R.data());
    EXPECT_EQ(R, NX);
    exsub(Z4.data(), NX.data(), R.data());
    EXPECT_EQ(R, X);

    // Product by zero, the square of the largest digit, and a product that overflows the count.
    exmult(NX.data(), Z4.data(), R.data());
    EXPECT_EQ(R, (Words{4, 0, 0, 0}));
    const Words M = {4, -1, 1073741823, 0};
    exmult(M.data(), M.data(), R.data());
    EXPECT_EQ(R, (Words{4, 1, 1, 1073741822}));
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 2000; ++trial) {
        const Int128 a = RandomValue(rng, 59), b = RandomValue(rng, 59);
        exmult(ToWords(a, 4).data(), ToWords(b, 4).data(), R.data());
        const UInt128 magnitude = static_cast<UInt128>(a < 0 ? -a : a) * (b < 0 ? -b : b);
        const UInt128 wrapped = magnitude & ((static_cast<UInt128>(1) << 60) - 1);
        ASSERT_EQ(R[1], Sign128(a) * Sign128(b));
        ASSERT_EQ(R[2], static_cast<std::int32_t>(wrapped & 1073741823));
        ASSERT_EQ(R[3], static_cast<std::int32_t>(wrapped >> 30));
    }
}

TEST(MultiWordArithmetic, SubtractingZeroCopiesTheMinuendWhateverTheCounts) {
    const Words A = {4, -1, 17, 3};
    const Words B = {5, 0, 0, 0, 0};
    Words R(6, -7);
    exsub(A.data(), B.data(), R.data());
    EXPECT_EQ(R, (Words{4, -1, 17, 3, -7, -7}));
}

TEST(MultiWordArithmetic, HalfDigits) {
    // Digits 0x2ABCDEF1 and 0x15555555: halves (low, high) of each.
    const std::int32_t d1 = 0x2ABCDEF1, d2 = 0x15555555;
    const Words A = {5, 1, d1, d2, 1073741823};
    const std::int32_t expected[6] = {d1 & 32767, d1 >> 15, d2 & 32767, d2 >> 15, 32767, 32767};
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(lhalf(A.data(), i), expected[i - 1]) << i;
}

TEST(MultiWordConvert, ToSinglePrecision) {
    EXPECT_EQ(floatl(Words{4, -1, 0, 1}.data()), -1073741824.0f);
    EXPECT_EQ(floatl(Words{4, 0, 0, 0}.data()), 0.0f);
    EXPECT_EQ(floatl(Words{4, 1, 5, 0}.data()), 5.0f);
    EXPECT_EQ(floatl(Words{5, 1, 0, 0, 1}.data()), std::ldexp(1.0f, 60));
    EXPECT_EQ(floatl(Words{6, -1, 0, 3, 0, 1}.data()), -std::ldexp(1.0f, 90));  // 3·2^30 is lost
    // Summed from the low digit up, rounding to single precision after each step.
    EXPECT_EQ(floatl(Words{4, 1, 1, 1}.data()), 1073741824.0f);
    EXPECT_EQ(floatl(Words{4, 1, 1073741823, 0}.data()), 1073741824.0f);
}

TEST(MultiWordConvert, FromSinglePrecision) {
    const struct {
        float a;
        std::int32_t len;
        Words expected;
    } cases[] = {
        {0.0f, 4, {4, 0, 0, 0}},
        {-0.0f, 5, {5, 0, 0, 0, 0}},
        {std::numeric_limits<float>::quiet_NaN(), 4, {4, 0, 0, 0}},
        {1.5f, 4, {4, 1, 1, 0}},
        {-2.75f, 4, {4, -1, 2, 0}},
        {0.5f, 4, {4, 0, 0, 0}},           // truncates to zero, and zero has sign 0
        {1073741823.0f, 4, {4, 1, 0, 1}},  // rounds to 2^30 in single precision
        {-1073741824.0f, 4, {4, -1, 0, 1}},
        {3.0e9f, 4, {4, 1, 852516352, 2}},
        {std::ldexp(1.0f, 60), 5, {5, 1, 0, 0, 1}},
        {std::ldexp(1.0f, 60), 6, {6, 1, 0, 0, 1, 0}},
        {std::ldexp(1.0f, 80) + std::ldexp(1.0f, 59), 5, {5, 1, 0, 1 << 29, 1 << 20}},
        {-std::ldexp(1.0f, 127), 7, {7, -1, 0, 0, 0, 0, 128}},
    };
    for (const auto& c : cases) {
        Words L(c.len, -7);
        ltranf(c.a, L.data(), c.len);
        EXPECT_EQ(L, c.expected) << c.a;
    }
    // Every value a 5-word number converts to exactly comes back unchanged.
    std::mt19937_64 rng(99);
    for (int trial = 0; trial < 2000; ++trial) {
        const int shift = std::uniform_int_distribution<int>(0, 65)(rng);
        const Int128 v = RandomValue(rng, 24) * (static_cast<Int128>(1) << shift);
        const Words L = ToWords(v, 5);
        Words back(5, -7);
        ltranf(floatl(L.data()), back.data(), 5);
        ASSERT_EQ(back, L) << trial;
    }
}

const std::string ADD_45 = " Error in EXADD: The integer sizes do not match.\n"
                           "  LONGA:   4 words,    LONGB:   5 words";

TEST(MultiWordFailure, AddWithDifferentCounts) {
    const Words A = {4, 1, 1, 0}, B = {5, -1, 1, 0, 0};
    Words R(6);
    EXPECT_EQ(FailureText([&] { exadd(A.data(), B.data(), R.data()); }), ADD_45);
    // A difference goes through the sum and reports as the sum.
    EXPECT_EQ(FailureText([&] { exsub(A.data(), B.data(), R.data()); }), ADD_45);
    // Also when the first operand is zero, and with counts too wide for their fields.
    const Words Z = {4, 0, 0, 0}, W = {1234, 0};
    EXPECT_EQ(FailureText([&] { exadd(Z.data(), B.data(), R.data()); }), ADD_45);
    EXPECT_EQ(FailureText([&] { exadd(Z.data(), W.data(), R.data()); }),
              " Error in EXADD: The integer sizes do not match.\n"
              "  LONGA:   4 words,    LONGB: *** words");
}

TEST(MultiWordFailure, MultiplyWithDifferentCounts) {
    const Words A = {4, 0, 0, 0}, B = {5, 1, 1, 0, 0};
    Words R(6);
    EXPECT_EQ(FailureText([&] { exmult(A.data(), B.data(), R.data()); }),
              " Error in EXMULT: The integer sizes do not match.\n"
              "  LONGA:   4 words,    LONGB:   5 words");
    EXPECT_EQ(FailureText([&] { exmult(B.data(), A.data(), R.data()); }),
              " Error in EXMULT: The integer sizes do not match.\n"
              "  LONGA:   5 words,    LONGB:   4 words");
}

TEST(MultiWordFailure, HalfDigitOutOfRange) {
    const Words A = {4, 1, 7, 9};
    EXPECT_EQ(FailureText([&] { lhalf(A.data(), 0); }),
              " Error in LHALF: Integer I is out of range. I =     0");
    EXPECT_EQ(FailureText([&] { lhalf(A.data(), 5); }),
              " Error in LHALF: Integer I is out of range. I =     5");
    EXPECT_EQ(FailureText([&] { lhalf(A.data(), -12345); }),
              " Error in LHALF: Integer I is out of range. I = *****");
}

TEST(MultiWordFailure, RealTooLargeForTheCount) {
    Words L(8);
    EXPECT_EQ(FailureText([&] { ltranf(std::ldexp(1.0f, 60), L.data(), 4); }),
              "Error in LTRANF: A is too large.\n"
              " A, N =         0.115292150460685E+19  4");
    EXPECT_EQ(FailureText([&] { ltranf(-1.0e30f, L.data(), 5); }),
              "Error in LTRANF: A is too large.\n"
              " A, N =        -0.100000001504747E+31  5");
    EXPECT_EQ(FailureText([&] { ltranf(0.001f, L.data(), 2); }),
              "Error in LTRANF: A is too large.\n"
              " A, N =         0.100000004749745E-02  2");
    // Infinity needs more words than any count; it is reported instead of scaled forever.
    EXPECT_EQ(FailureText([&] { ltranf(std::numeric_limits<float>::infinity(), L.data(), 8); }),
              "Error in LTRANF: A is too large.\n"
              " A, N =                      Infinity  8");
}

// ---------------------------------------------------------------------------------------------
// Exact predicates
// ---------------------------------------------------------------------------------------------

// PointList 1..count with coordinates drawn from lo..hi.
struct PointList {
    std::vector<std::int32_t> X, Y, Z, rank;
    void Fill(std::mt19937& rng, int count, std::int32_t lo, std::int32_t hi) {
        std::uniform_int_distribution<std::int32_t> c(lo, hi);
        X.resize(count), Y.resize(count), Z.resize(count), rank.resize(count);
        for (int i = 0; i < count; ++i)
            X[i] = c(rng), Y[i] = c(rng), Z[i] = c(rng);
        for (int i = 0; i < count; ++i)
            rank[i] = 10 * i - 40;
        std::shuffle(rank.begin(), rank.end(), rng);
    }
};

// Four distinct point numbers of 1..count.
void PickFour(std::mt19937& rng, int count, std::int32_t (&P)[4]) {
    std::vector<std::int32_t> all(count);
    for (int i = 0; i < count; ++i)
        all[i] = i + 1;
    std::shuffle(all.begin(), all.end(), rng);
    std::copy(all.begin(), all.begin() + 4, P);
}

int Det3Sign(const PointList& pts, const std::int32_t (&P)[4]) {
    const int p[4] = {P[0] - 1, P[1] - 1, P[2] - 1, P[3] - 1};
    return Sign128(Det3(pts.X.data(), pts.Y.data(), pts.Z.data(), p));
}

TEST(ExactSign, OneDimensional) {
    const struct {
        std::int32_t a1, a2, expected;
    } cases[] = {{1, 2, 1},          {2, 1, -1},          {5, 5, 0},
                 {-LIMIT, LIMIT, 1}, {LIMIT, -LIMIT, -1}, {2147483647, -2147483647 - 1, -1}};
    const std::int32_t P[2] = {2, 1};
    for (const auto& c : cases) {
        const std::int32_t A[2] = {c.a1, c.a2};
        EXPECT_EQ(isd1s(A), c.expected);
        const std::int32_t U[2] = {c.a2, c.a1};  // point 2 first, point 1 second
        EXPECT_EQ(jsd1s(P, U), c.expected);
    }
}

TEST(ExactSign, TwoDimensionalAgreesWithInt128) {
    std::mt19937 rng(31337);
    for (const std::int32_t bound : {2, LIMIT}) {
        PointList pts;
        for (int trial = 0; trial < 20000; ++trial) {
            if (trial % 50 == 0) pts.Fill(rng, 6, -bound, bound);
            std::int32_t P[4];
            PickFour(rng, 6, P);
            const std::int32_t* U = pts.X.data();
            const std::int32_t* V = trial % 2 ? pts.Z.data() : pts.Y.data();
            const Int128 u1 = U[P[0] - 1], u2 = U[P[1] - 1], u3 = U[P[2] - 1];
            const Int128 v1 = V[P[0] - 1], v2 = V[P[1] - 1], v3 = V[P[2] - 1];
            const int expected = Sign128((u2 - u1) * (v3 - v1) - (v2 - v1) * (u3 - u1));
            ASSERT_EQ(jsd1ss(P, U, V), expected) << "trial " << trial;
            ASSERT_EQ(jsd1ssWords(P, U, V), expected) << "trial " << trial;
            const std::int32_t A[3] = {U[P[0] - 1], U[P[1] - 1], U[P[2] - 1]};
            const std::int32_t B[3] = {V[P[0] - 1], V[P[1] - 1], V[P[2] - 1]};
            ASSERT_EQ(isd1ss(A, B), expected) << "trial " << trial;
            ASSERT_EQ(isd1ssWords(A, B), expected) << "trial " << trial;
        }
    }
    // The largest magnitude: (2M)^2 both ways.
    const std::int32_t A[3] = {-LIMIT, LIMIT, -LIMIT}, B[3] = {-LIMIT, -LIMIT, LIMIT};
    EXPECT_EQ(isd1ss(A, B), 1);
    EXPECT_EQ(isd1ss(B, A), -1);
    EXPECT_EQ(isd1ssWords(A, B), 1);
    EXPECT_EQ(isd1ssWords(B, A), -1);
}

TEST(ExactSign, ThreeDimensionalAgreesWithInt128) {
    std::mt19937 rng(4242);
    for (const std::int32_t bound : {1, 2, 1000, LIMIT}) {
        PointList pts;
        for (int trial = 0; trial < 20000; ++trial) {
            if (trial % 50 == 0) pts.Fill(rng, 6, -bound, bound);
            std::int32_t P[4];
            PickFour(rng, 6, P);
            ASSERT_EQ(jd1sss(P, pts.X.data(), pts.Y.data(), pts.Z.data()), Det3Sign(pts, P))
                << "bound " << bound << " trial " << trial;
            ASSERT_EQ(jd1sssWords(P, pts.X.data(), pts.Y.data(), pts.Z.data()), Det3Sign(pts, P))
                << "bound " << bound << " trial " << trial;
        }
    }
}

TEST(ExactSign, ThreeDimensionalEdgeCases) {
    const std::int32_t M = LIMIT;
    const struct {
        std::vector<std::int32_t> X, Y, Z;
        std::int32_t P[4];
        std::int32_t expected;
    } cases[] = {
        {{0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {1, 2, 3, 4}, 1},
        {{0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {1, 2, 4, 3}, -1},
        {{0, 1, 0, 7}, {0, 0, 1, 9}, {0, 0, 0, 0}, {1, 2, 3, 4}, 0},           // coplanar
        {{0, 1, 2, 3}, {0, 2, 4, 6}, {5, 4, 3, 2}, {1, 2, 3, 4}, 0},           // collinear
        {{-M, M, -M, -M}, {-M, -M, M, -M}, {-M, -M, -M, M}, {1, 2, 3, 4}, 1},  // (2M)^3 > 2^86
        {{-M, M, -M, -M}, {-M, -M, M, -M}, {-M, -M, -M, M}, {2, 1, 3, 4}, -1},
        {{M, -M, M, -M}, {M, M, -M, -M}, {M, -M, -M, M}, {1, 2, 3, 4}, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(jd1sss(c.P, c.X.data(), c.Y.data(), c.Z.data()), c.expected);
        EXPECT_EQ(jd1sssWords(c.P, c.X.data(), c.Y.data(), c.Z.data()), c.expected);
    }
}

TEST(RankSort, OrderAndParity) {
    // Keys of points 1..4.
    const std::int32_t KEY[4] = {5, 1, 3, 3};
    const struct {
        std::int32_t n;
        std::int32_t in[4];
        std::int32_t out[4];
        std::int32_t sign;
    } cases[] = {
        {3, {1, 2, 3}, {2, 3, 1}, 1},   // keys (5, 1, 3): two exchanges
        {3, {2, 3, 1}, {2, 3, 1}, 1},   // already sorted
        {3, {3, 2, 1}, {2, 3, 1}, -1},  // one exchange
        {2, {3, 4}, {3, 4}, 1},         // equal keys are never exchanged
        {2, {4, 3}, {4, 3}, 1},
        {4, {1, 4, 2, 3}, {2, 4, 3, 1}, 1},  // four exchanges
        {1, {1}, {1}, 1},
    };
    for (const auto& c : cases) {
        std::int32_t out[4] = {-7, -7, -7, -7}, sign = 0;
        sortbn(c.n, c.in, KEY, out, sign);
        EXPECT_TRUE(std::equal(out, out + c.n, c.out)) << c.in[0] << c.in[1];
        EXPECT_EQ(sign, c.sign) << c.in[0] << c.in[1];
    }
    // Every order of four distinct keys: the parity is that of the inversion count.
    const std::int32_t RANK[4] = {40, -3, 17, 2};
    std::int32_t in[4] = {1, 2, 3, 4};
    std::sort(in, in + 4);
    do {
        int inversions = 0;
        for (int i = 0; i < 4; ++i)
            for (int j = i + 1; j < 4; ++j)
                inversions += RANK[in[i] - 1] > RANK[in[j] - 1];
        std::int32_t out[4], sign;
        sortbn(4, in, RANK, out, sign);
        EXPECT_EQ(sign, inversions % 2 ? -1 : 1);
        EXPECT_TRUE((std::equal(out, out + 4, std::vector<std::int32_t>{2, 4, 3, 1}.begin())));
    } while (std::next_permutation(in, in + 4));
}

TEST(PointOrder, TwoKeys) {
    const std::int32_t K1[4] = {5, 5, 5, 9}, K2[4] = {1, 2, 2, 0};
    const struct {
        std::int32_t i, j, expected;
    } cases[] = {
        {4, 1, 1}, {1, 4, 0},  // the first key decides
        {1, 2, 1}, {2, 1, 0},  // equal first keys: the smaller second key is the larger point
        {2, 3, 1}, {3, 2, 1},  // equal in both keys: larger both ways
        {1, 1, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(larger(c.i, c.j, K1, K2), c.expected) << c.i << c.j;
}

// itleft against the perturbed 2×2 determinant on crowded lattices: every triple, ties included.
TEST(LeftTurn, AgreesWithPerturbedDeterminant) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 20000; ++trial) {
        const std::int32_t bound = trial % 2 ? 1 : 2;
        std::uniform_int_distribution<std::int32_t> c(-bound, bound);
        const std::int32_t U[3] = {c(rng), c(rng), c(rng)}, V[3] = {c(rng), c(rng), c(rng)};
        std::int32_t KEY[3] = {3, -8, 11};
        std::shuffle(KEY, KEY + 3, rng);
        const std::int64_t pts[3][2] = {{U[0], V[0]}, {U[1], V[1]}, {U[2], V[2]}};
        const int s = PerturbedSign<2>(pts, KEY);
        ASSERT_NE(s, 0);
        ASSERT_EQ(itleft(1, 2, 3, U, V, KEY), s > 0 ? 1 : 0) << "trial " << trial;
        // Odd permutations of the three points invert the answer, even ones keep it.
        const std::int32_t odd = itleft(2, 1, 3, U, V, KEY);
        ASSERT_EQ(odd, s > 0 ? 0 : 1);
        ASSERT_EQ(itleft(1, 3, 2, U, V, KEY), odd);
        ASSERT_EQ(itleft(2, 3, 1, U, V, KEY), 1 - odd);
        ASSERT_EQ(itleft(3, 1, 2, U, V, KEY), 1 - odd);
    }
}

TEST(LeftTurn, DegenerateCases) {
    // Collinear with equal V: the U order of the two points of higher rank decides.
    const std::int32_t U[3] = {0, 5, 9}, V[3] = {4, 4, 4};
    const std::int32_t KEY[3] = {1, 2, 3};
    EXPECT_EQ(itleft(1, 2, 3, U, V, KEY), 1);  // U3 > U2
    EXPECT_EQ(itleft(2, 1, 3, U, V, KEY), 0);
    EXPECT_EQ(itleft(2, 3, 1, U, V, KEY), 1);
    const std::int32_t KEY2[3] = {1, 3, 2};  // now point 3 ranks second: U3 < U2 reversed
    EXPECT_EQ(itleft(1, 3, 2, U, V, KEY2), 0);

    // PointList of ranks 2 and 3 coincide, and V1 = V2: no perturbation term is non-zero.
    const std::int32_t U2[3] = {-3, 6, 6}, V2[3] = {1, 1, 1};
    EXPECT_EQ(itleft(1, 2, 3, U2, V2, KEY), 0);
    EXPECT_EQ(itleft(2, 3, 1, U2, V2, KEY), 0);
    EXPECT_EQ(itleft(2, 1, 3, U2, V2, KEY), 1);
    EXPECT_EQ(itleft(3, 2, 1, U2, V2, KEY), 1);

    // A plain left and right turn.
    const std::int32_t U3[3] = {0, 10, 0}, V3[3] = {0, 0, 10};
    EXPECT_EQ(itleft(1, 2, 3, U3, V3, KEY), 1);
    EXPECT_EQ(itleft(1, 3, 2, U3, V3, KEY), 0);
}

// ---------------------------------------------------------------------------------------------
// Four-point orientation
// ---------------------------------------------------------------------------------------------

std::int32_t Orient(const PointList& pts, const std::int32_t (&P)[4]) {
    return jorsss(P, pts.X.data(), pts.Y.data(), pts.Z.data(), pts.rank.data());
}

// The same orientation in the reference arithmetic: the filter and the multi-word determinants.
std::int32_t OrientWords(const PointList& pts, const std::int32_t (&P)[4]) {
    return jorsssWords(P, pts.X.data(), pts.Y.data(), pts.Z.data(), pts.rank.data());
}

int Perturbed(const PointList& pts, const std::int32_t (&P)[4]) {
    std::int64_t c[4][3];
    std::int32_t rank[4];
    for (int i = 0; i < 4; ++i) {
        c[i][0] = pts.X[P[i] - 1], c[i][1] = pts.Y[P[i] - 1], c[i][2] = pts.Z[P[i] - 1];
        rank[i] = pts.rank[P[i] - 1];
    }
    return PerturbedSign<3>(c, rank);
}

// On crowded lattices almost every quadruple is degenerate somewhere; the answer must be the
// sign of the perturbed determinant, and exchanging two points must negate it.
TEST(Orientation, AgreesWithPerturbedDeterminantOnCrowdedLattices) {
    std::mt19937 rng(2718);
    PointList pts;
    for (int trial = 0; trial < 12000; ++trial) {
        if (trial % 20 == 0) pts.Fill(rng, 6, trial % 40 ? -1 : -2, trial % 40 ? 1 : 2);
        std::int32_t P[4];
        PickFour(rng, 6, P);
        const std::int32_t r = Orient(pts, P);
        ASSERT_EQ(r, Perturbed(pts, P)) << "trial " << trial;
        ASSERT_EQ(OrientWords(pts, P), r) << "trial " << trial;
        std::int32_t filtered = 7;
        sfilt(P, pts.X.data(), pts.Y.data(), pts.Z.data(), filtered);
        ASSERT_TRUE(filtered == 0 || filtered == Det3Sign(pts, P)) << "trial " << trial;
        for (int i = 0; i < 4; ++i) {
            for (int j = i + 1; j < 4; ++j) {
                std::int32_t Q[4] = {P[0], P[1], P[2], P[3]};
                std::swap(Q[i], Q[j]);
                ASSERT_EQ(Orient(pts, Q), -r) << "trial " << trial << " swap " << i << j;
            }
        }
    }
}

// Only differences decide: crowded lattices moved to the lowest coordinate the hull accepts and
// to just beyond the highest must get the perturbed determinant's sign, which a translation does
// not change, in both arithmetics.
TEST(Orientation, SameAnswerAfterTranslationInBothArithmetics) {
    std::mt19937 rng(1414);
    for (int trial = 0; trial < 4000; ++trial) {
        PointList pts;
        pts.Fill(rng, 6, 0, 2);
        std::int32_t P[4];
        PickFour(rng, 6, P);
        const std::int32_t r = Orient(pts, P);
        for (const std::int32_t shift : {-(LIMIT + 1), LIMIT - 1}) {  // lowest accepted; beyond
            PointList moved = pts;
            for (auto* c : {&moved.X, &moved.Y, &moved.Z})
                for (auto& v : *c)
                    v += shift;
            ASSERT_EQ(Orient(moved, P), r) << "trial " << trial << " shift " << shift;
            ASSERT_EQ(OrientWords(moved, P), r) << "trial " << trial << " shift " << shift;
            ASSERT_EQ(Perturbed(moved, P), r) << "trial " << trial << " shift " << shift;
        }
    }
}

// Coplanar, collinear and coincident configurations, each under every rank order.
TEST(Orientation, DegenerateConfigurations) {
    const struct {
        const char* name;
        std::vector<std::int32_t> X, Y, Z;
    } configs[] = {
        {"coplanar z=0", {0, 3, 1, 2}, {0, 1, 2, 5}, {0, 0, 0, 0}},
        {"coplanar x=y", {0, 1, 2, 7}, {0, 1, 2, 7}, {0, 4, -1, 3}},
        {"three collinear", {0, 1, 2, 0}, {0, 1, 2, 1}, {0, 1, 2, 5}},
        {"four collinear", {0, 1, 2, 3}, {1, 3, 5, 7}, {2, 1, 0, -1}},
        {"two coincide", {0, 0, 1, 0}, {0, 0, 0, 1}, {0, 0, 0, 0}},
        {"vertical line", {4, 4, 4, 4}, {1, 1, 1, 1}, {0, 2, 5, 9}},
        {"all coincide", {5, 5, 5, 5}, {-2, -2, -2, -2}, {7, 7, 7, 7}},
    };
    for (const auto& cfg : configs) {
        PointList pts{cfg.X, cfg.Y, cfg.Z, {0, 1, 2, 3}};
        std::int32_t ranks[4] = {0, 1, 2, 3};
        do {
            std::copy(ranks, ranks + 4, pts.rank.begin());
            std::int32_t P[4] = {1, 2, 3, 4};
            do {
                ASSERT_EQ(Orient(pts, P), Perturbed(pts, P)) << cfg.name;
                ASSERT_EQ(OrientWords(pts, P), Perturbed(pts, P)) << cfg.name;
            } while (std::next_permutation(P, P + 4));
        } while (std::next_permutation(ranks, ranks + 4));
    }
}

TEST(Orientation, EdgeCases) {
    PointList unit{{0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {10, 20, 30, 40}};
    EXPECT_EQ(Orient(unit, {1, 2, 3, 4}), 1);
    EXPECT_EQ(Orient(unit, {1, 2, 4, 3}), -1);
    unit.rank = {40, 30, 20, 10};  // the answer does not depend on the ranks here
    EXPECT_EQ(Orient(unit, {1, 2, 3, 4}), 1);

    // Four coincident points: +1 in rank order, -1 in an odd permutation of it.
    PointList same{{3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {7, 5, 9, 1}};
    EXPECT_EQ(Orient(same, {4, 2, 1, 3}), 1);
    EXPECT_EQ(Orient(same, {2, 4, 1, 3}), -1);
    EXPECT_EQ(Orient(same, {1, 2, 3, 4}), 1);  // ranks (7, 5, 9, 1): four exchanges
    EXPECT_EQ(Orient(same, {1, 2, 4, 3}), -1);

    // A nearly flat tetrahedron at large coordinates: the filter cannot tell, the exact
    // determinant (2H - 1 > 0) does.
    const std::int32_t H = LIMIT / 2;
    PointList thin{
        {0, H, H - 1, 2 * H - 1}, {0, H - 1, H, 2 * H - 1}, {0, H, H, 2 * H + 1}, {4, 3, 2, 1}};
    EXPECT_EQ(Orient(thin, {1, 2, 3, 4}), 1);
    EXPECT_EQ(Orient(thin, {2, 1, 3, 4}), -1);

    // Coplanar points: permuting the ranks can change the answer.
    PointList flat{{0, 2, 0, 1}, {0, 0, 2, 1}, {0, 0, 0, 0}, {1, 2, 3, 4}};
    std::vector<std::int32_t> seen;
    std::int32_t ranks[4] = {1, 2, 3, 4};
    do {
        flat.rank.assign(ranks, ranks + 4);
        seen.push_back(Orient(flat, {1, 2, 3, 4}));
    } while (std::next_permutation(ranks, ranks + 4));
    EXPECT_NE(std::count(seen.begin(), seen.end(), 1), 0);
    EXPECT_NE(std::count(seen.begin(), seen.end(), -1), 0);
}

// Large coordinates: the reference's filter decides most quadruples, nearly coplanar ones reach
// its multi-word determinant; either way a non-zero determinant gives its own sign, the filter
// never contradicts it, and both arithmetics agree.
TEST(Orientation, AgreesWithExactSignAtLargeCoordinates) {
    std::mt19937 rng(161803);
    std::uniform_int_distribution<std::int32_t> big(-LIMIT, LIMIT);
    std::uniform_int_distribution<std::int32_t> small(-3, 3);
    PointList pts;
    int undecided = 0, decided = 0;
    for (int trial = 0; trial < 40000; ++trial) {
        pts.Fill(rng, 4, -LIMIT, LIMIT);
        if (trial % 2) {
            // Nearly coplanar: point 4 = point 2 + point 3 - point 1 + a small offset, with the
            // spanning vectors halved so that every coordinate stays within the limit.
            for (auto* c : {&pts.X, &pts.Y, &pts.Z}) {
                auto& v = *c;
                v[1] = v[0] / 2 + big(rng) / 5;
                v[2] = v[0] / 2 + big(rng) / 5;
                v[0] /= 2;
                v[3] = v[1] + v[2] - v[0] + small(rng);
            }
        }
        std::int32_t P[4] = {1, 2, 3, 4};
        std::shuffle(P, P + 4, rng);
        const int exact = Det3Sign(pts, P);
        std::int32_t filtered = 7;
        sfilt(P, pts.X.data(), pts.Y.data(), pts.Z.data(), filtered);
        ASSERT_TRUE(filtered == 0 || filtered == exact) << "trial " << trial;
        (filtered == 0 ? undecided : decided)++;
        const std::int32_t r = Orient(pts, P);
        ASSERT_TRUE(r == 1 || r == -1);
        ASSERT_EQ(OrientWords(pts, P), r) << "trial " << trial;
        if (exact != 0) {
            ASSERT_EQ(r, exact) << "trial " << trial;
        }
    }
    // Both paths were exercised.
    EXPECT_GT(undecided, 1000);
    EXPECT_GT(decided, 1000);
}

TEST(Orientation, FilterCases) {
    const std::int32_t H = LIMIT / 2;
    const struct {
        const char* name;
        std::vector<std::int32_t> X, Y, Z;
        std::int32_t expected;
    } cases[] = {
        {"unit", {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, 1},
        {"mirrored", {0, 0, 1, 0}, {0, 1, 0, 0}, {0, 0, 0, 1}, -1},
        {"coplanar", {0, 1, 0, 1}, {0, 0, 1, 1}, {0, 0, 0, 0}, 0},
        {"coincident", {2, 2, 2, 2}, {2, 2, 2, 2}, {2, 2, 2, 2}, 0},
        {"corners",
         {-LIMIT, LIMIT, -LIMIT, -LIMIT},
         {-LIMIT, -LIMIT, LIMIT, -LIMIT},
         {-LIMIT, -LIMIT, -LIMIT, LIMIT},
         1},
        // Determinant 2H - 1 against products near 2^82: too close for the filter to tell.
        {"thin", {0, H, H - 1, 2 * H - 1}, {0, H - 1, H, 2 * H - 1}, {0, H, H, 2 * H + 1}, 0},
        // Heights: a triangle at height 0 seen from a point at height 100.
        {"lifted", {0, 4, 0, 1}, {0, 0, 4, 1}, {0, 0, 0, 100}, 1},
    };
    const std::int32_t P[4] = {1, 2, 3, 4};
    for (const auto& c : cases) {
        std::int32_t s = 7;
        sfilt(P, c.X.data(), c.Y.data(), c.Z.data(), s);
        EXPECT_EQ(s, c.expected) << c.name;
    }
}

}  // namespace
