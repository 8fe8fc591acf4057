#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const char kUsage[] = "usage : voxwrap directory nameFile rangeList STL\n";

TEST(CommandLine, WrongArgumentCountPrintsUsageAndWritesNothing) {
    const std::vector<std::vector<std::string>> calls = {
        {}, {"d"}, {"d", "n", "1"}, {"d", "n", "1", "out.stl", "extra"}};
    for (const auto& args : calls) {
        const std::string dir = TempDir();
        const RunResult r = RunVoxwrap(args, dir);
        EXPECT_EQ(r.status, 1) << args.size() << " arguments";
        EXPECT_EQ(r.err, kUsage);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(std::filesystem::is_empty(dir)) << "a file was written";
    }
}

}  // namespace
