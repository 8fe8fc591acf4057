#include "driver/sampling.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

namespace {

using Chain = std::vector<std::pair<std::int32_t, std::int32_t>>;

// Builds a chain from row ends (x, y) the way the sampler does: the first row starts it.
Chain Build(const std::vector<std::pair<std::int32_t, std::int32_t>>& rows) {
    std::vector<std::int32_t> X(rows.size() + 2), Y(rows.size() + 2);
    X[0] = X[1] = rows[0].first;
    Y[0] = rows[0].second;
    Y[1] = rows[0].second + 1;
    std::int32_t n = 1;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        n = Append(n, X.data(), Y.data(), rows[i].first, rows[i].second);
    }
    Chain chain;
    for (std::int32_t i = 0; i <= n; ++i)
        chain.emplace_back(X[i], Y[i]);
    return chain;
}

std::int64_t Turn(std::pair<std::int64_t, std::int64_t> a, std::pair<std::int64_t, std::int64_t> b,
                  std::pair<std::int64_t, std::int64_t> c) {
    return (b.first - a.first) * (c.second - a.second) -
           (b.second - a.second) * (c.first - a.first);
}

TEST(AppendChain, KeepsOnlyTheCornersOfARectangle) {
    // Rows 3 to 7 of columns 4 to 6: the left chain is (4,3), (4,8); the right one, on -6,
    // is (-6,3), (-6,8).
    std::vector<std::pair<std::int32_t, std::int32_t>> left, right;
    for (std::int32_t y = 3; y <= 7; ++y) {
        left.emplace_back(4, y);
        right.emplace_back(-6, y);
    }
    EXPECT_EQ(Build(left), (Chain{{4, 3}, {4, 8}}));
    EXPECT_EQ(Build(right), (Chain{{-6, 3}, {-6, 8}}));
}

TEST(AppendChain, BridgesEmptyRowsAndDropsCollinearPoints) {
    EXPECT_EQ(Build({{5, 0}, {3, 1}, {1, 2}}), (Chain{{5, 0}, {1, 2}, {1, 3}}));
    EXPECT_EQ(Build({{2, 0}, {2, 9}}), (Chain{{2, 0}, {2, 10}}));
    EXPECT_EQ(Build({{2, 0}, {0, 4}}), (Chain{{2, 0}, {0, 4}, {0, 5}}));
    EXPECT_EQ(Build({{0, 0}, {3, 1}}), (Chain{{0, 0}, {0, 1}, {3, 2}}));
}

// For random row ends the chain is the left boundary of the convex hull of the points (x, y) and
// (x, y + 1) of all rows: it starts at the first row and ends at the top of the last, its y
// strictly increase, every turn is strictly clockwise, and no point lies to its left.
TEST(AppendChain, IsTheLeftHullBoundaryOfRandomRows) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 3000; ++trial) {
        const int rows = 1 + static_cast<int>(rng() % 12);
        const std::int32_t span = trial % 2 ? 5 : 1000000;  // crowded and wide
        std::vector<std::pair<std::int32_t, std::int32_t>> ends;
        std::int32_t y = static_cast<std::int32_t>(rng() % 4);
        for (int r = 0; r < rows; ++r) {
            ends.emplace_back(static_cast<std::int32_t>(rng() % span) - span / 2, y);
            y += 1 + static_cast<std::int32_t>(rng() % 3);
        }
        const Chain chain = Build(ends);
        SCOPED_TRACE(trial);
        ASSERT_EQ(chain.front(), ends.front());
        ASSERT_EQ(chain.back(), std::make_pair(ends.back().first, ends.back().second + 1));
        for (std::size_t i = 1; i < chain.size(); ++i)
            ASSERT_LT(chain[i - 1].second, chain[i].second);
        for (std::size_t i = 2; i < chain.size(); ++i) {
            ASSERT_LT(Turn(chain[i - 2], chain[i - 1], chain[i]), 0) << "turn at " << i - 1;
        }
        for (const auto& [x, yy] : ends) {
            for (const std::int32_t dy : {0, 1}) {
                for (std::size_t i = 1; i < chain.size(); ++i) {
                    ASSERT_LE(Turn(chain[i - 1], chain[i], {x, yy + dy}), 0)
                        << "(" << x << "," << yy + dy << ") left of the chain";
                }
            }
        }
    }
}

TEST(AppendChain, WideCoordinatesDoNotOverflow) {
    // Differences near 2^31 with rows far apart: 32-bit products would wrap.
    const std::int32_t big = 2000000000;
    EXPECT_EQ(Build({{big, 0}, {-big, 100000}, {big, 200000}}),
              (Chain{{big, 0}, {-big, 100000}, {-big, 100001}, {big, 200001}}));
}

}  // namespace
