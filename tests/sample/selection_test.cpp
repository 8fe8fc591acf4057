#include "sample/selection.h"

#include <gtest/gtest.h>

#include "support.h"

#include <string>
#include <utility>
#include <vector>

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

using voxwrap::RangeList;

// The marked values of a table as a list of inclusive ranges, so a mismatch prints readably.
std::vector<std::pair<unsigned, unsigned>> Ranges(const std::vector<unsigned char>& table) {
    std::vector<std::pair<unsigned, unsigned>> out;
    for (unsigned v = 0; v < table.size(); ++v) {
        EXPECT_LE(table[v], 1u) << "value " << v;
        if (table[v] == 0) continue;
        if (!out.empty() && out.back().second + 1 == v) {
            out.back().second = v;
        } else {
            out.emplace_back(v, v);
        }
    }
    return out;
}

struct Row {
    const char* text;
    std::vector<std::pair<unsigned, unsigned>> marked;
};

TEST(RangeListMarks, EveryFormOfTheSyntax) {
    const std::vector<Row> rows = {
        {"", {}},
        {"1000-4095", {{1000, 4095}}},
        {"0", {{0, 0}}},
        {"-255", {{0, 255}}},
        {"32768-", {{32768, 65535}}},
        {"-", {{0, 65535}}},
        {",,5,,7-9,", {{5, 5}, {7, 9}}},
        {"10-10", {{10, 10}}},
        {"007", {{7, 7}}},
        {"65535", {{65535, 65535}}},
        {"1,5,7-9,200-", {{1, 1}, {5, 5}, {7, 9}, {200, 65535}}},
        {"9,3-4,1-5", {{1, 5}, {9, 9}}},  // overlapping and unordered items accumulate
        {",", {}},
        {"00000000000000000065535", {{65535, 65535}}},
    };
    for (const Row& row : rows) {
        std::vector<unsigned char> table(65536, 7);  // garbage: every entry must be rewritten
        RangeList(row.text, 65535, table.data());
        EXPECT_EQ(Ranges(table), row.marked) << "range list \"" << row.text << "\"";
    }
}

TEST(RangeListMarks, SmallMaximumBoundsTheOpenRanges) {
    std::vector<unsigned char> table(11, 9);
    RangeList("8-", 10, table.data());
    EXPECT_EQ(Ranges(table), (std::vector<std::pair<unsigned, unsigned>>{{8, 10}}));
}

TEST(RangeList, RejectsEveryMalformedList) {
    const char* bad[] = {"65536",
                         "9-3",
                         "1 2",
                         "1,2 ",
                         "1-2-3",
                         "--1",
                         "1--",
                         "+5",
                         "a",
                         "5a",
                         " 1",
                         "1-x",
                         "99999999999999999999",
                         "1,-2-",
                         "-3-",
                         "1;2",
                         "\xff",
                         "65535-65536"};
    for (const char* text : bad) {
        std::vector<unsigned char> table(65536);
        EXPECT_EQ(FailureText([&] { RangeList(text, 65535, table.data()); }), "bad range list.")
            << "range list \"" << text << "\"";
    }
}

}  // namespace
