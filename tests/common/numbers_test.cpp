// Numbers read without the locale must read exactly as strtod reads them in the "C" locale, which
// the tests run in: every string of a small alphabet that covers signs, points, exponents,
// hexadecimal numbers, infinities, NaNs and the range limits, compared with strtod.
#include "common/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

void ExpectLikeStrtod(const std::string& s) {
    char* end = nullptr;
    const double expected = std::strtod(s.c_str(), &end);
    double value = -1;
    const char* ours = voxwrap::detail::ReadDouble(s.data(), s.data() + s.size(), value);
    ASSERT_EQ(ours - s.data(), end - s.c_str()) << '"' << s << '"';
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(value)) << s;
    } else {
        EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0)  // -0.0 too
            << '"' << s << "\": " << value << " against " << expected;
    }
}

TEST(ReadDouble, ReadsAsStrtodInTheCLocale) {
    for (const char* s : {"",
                          " ",
                          "+",
                          "-.",
                          "0x",
                          "0x.",
                          "0x.8",
                          "-0X1P-3",
                          "1e",
                          "1e+",
                          "1.e3",
                          ".5",
                          "inf",
                          "-INFINITY",
                          "infin",
                          "nan",
                          "nan(12)",
                          "-nan",
                          "1e308",
                          "1.8e308",
                          "1e400",
                          "-1e400",
                          "1e-310",
                          "2e-324",
                          "3e-324",
                          "4e-330",
                          "0x1p-1074",
                          "0x1p-1080",
                          "0x1p1024",
                          "0.0e-99999",
                          " \t12abc",
                          "00000000000000000000000000000000001e-330",
                          "123456789012345678901234567890e280",
                          "0.000000000000000000000000000000000000001e-290"}) {
        ExpectLikeStrtod(s);
    }
    std::mt19937 rng(7);  // fixed seed: a failure replays
    const char alphabet[] = "0123456789+-.eExXpPinfatyAF ";
    for (int trial = 0; trial < 200000; ++trial) {
        std::string s;
        const int n = 1 + static_cast<int>(rng() % 10);
        for (int i = 0; i < n; ++i)
            s += alphabet[rng() % (sizeof alphabet - 1)];
        ExpectLikeStrtod(s);
    }
}

}  // namespace
