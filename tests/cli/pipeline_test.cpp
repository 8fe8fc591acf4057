#include "cli/stl_check.h"
#include "support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string Stack(const std::string& name) {
    return std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/cli/" + name;
}

std::string Slices(const std::string& name) { return Stack(name) + "/slices"; }

// The stack's object voxels with z taken from the slice order.
std::vector<Point3> Voxels(const std::string& name, const std::vector<std::string>& order) {
    std::map<std::string, std::int64_t> z;
    for (std::size_t k = 0; k < order.size(); ++k)
        z[order[k]] = static_cast<std::int64_t>(k);
    std::vector<Point3> voxels;
    std::istringstream in(ReadFile(Stack(name) + "/voxels.txt"));
    std::int64_t x = 0, y = 0;
    std::string slice;
    while (in >> x >> y >> slice) {
        EXPECT_TRUE(z.count(slice)) << slice;
        voxels.push_back({x, y, z[slice]});
    }
    return voxels;
}

std::vector<std::string> SliceNames(int count) {
    std::vector<std::string> names;
    for (int k = 0; k < count; ++k)
        names.push_back((k < 10 ? "s0" : "s") + std::to_string(k) + ".tif");
    return names;
}

// Runs voxwrap on a stack into a file and returns the parsed STL, after checking the run.
StlFile Convert(const std::string& name, const std::string& nameFile, const std::string& range,
                std::string* bytes = nullptr) {
    const std::string out = TempDir() + "/hull.stl";
    const RunResult r = RunVoxwrap({Slices(name), nameFile, range, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    const std::string data = ReadFile(out);
    if (bytes != nullptr) *bytes = data;
    return ParseStl(data);
}

TEST(Conversion, OnePixelGivesTheTwelveTrianglesOfACube) {
    std::string bytes;
    const StlFile stl = Convert("one_pixel", "-", "1000-4095", &bytes);
    EXPECT_EQ(bytes.size(), 684u);
    EXPECT_EQ(stl.count, 12u);
    CheckHullStl(stl, Voxels("one_pixel", SliceNames(1)));
    for (const Facet& f : stl.facets) {
        EXPECT_TRUE(f.attribute == 0x801F || f.attribute == 0x83E0 || f.attribute == 0xFC00)
            << std::hex << f.attribute;
    }
    EXPECT_EQ(StlVertices(stl), (std::vector<Point3>{{2, 1, 0},
                                                     {2, 1, 1},
                                                     {2, 2, 0},
                                                     {2, 2, 1},
                                                     {3, 1, 0},
                                                     {3, 1, 1},
                                                     {3, 2, 0},
                                                     {3, 2, 1}}));
}

TEST(Conversion, ABoxHasOnlyItsEightCorners) {
    const StlFile stl = Convert("box", "-", "1000-4095");
    EXPECT_EQ(stl.count, 12u);
    CheckHullStl(stl, Voxels("box", SliceNames(3)));
    EXPECT_EQ(StlVertices(stl), (std::vector<Point3>{{4, 3, 0},
                                                     {4, 3, 3},
                                                     {4, 8, 0},
                                                     {4, 8, 3},
                                                     {7, 3, 0},
                                                     {7, 3, 3},
                                                     {7, 8, 0},
                                                     {7, 8, 3}}));
}

TEST(Conversion, EveryStackGivesItsExactClosedHull) {
    const std::vector<std::pair<std::string, int>> stacks = {
        {"empty_between", 3}, {"l_shape", 2}, {"cylinder", 5}, {"disc", 1},
        {"random0", 6},       {"random1", 6}, {"random2", 6}};
    for (const auto& [name, slices] : stacks) {
        SCOPED_TRACE(name);
        // The disc is 8-bit: its object pixels are 250, the background 10.
        const StlFile stl = Convert(name, "-", name == "disc" ? "100-255" : "1000-4095");
        CheckHullStl(stl, Voxels(name, SliceNames(slices)));
    }
}

TEST(Conversion, GapsInARowDoNotChangeTheHull) {
    std::string gaps, filled;
    Convert("row_gaps", "-", "1000-4095", &gaps);
    Convert("row_filled", "-", "1000-4095", &filled);
    EXPECT_EQ(gaps, filled);
    CheckHullStl(ParseStl(gaps), Voxels("row_filled", SliceNames(1)));
}

TEST(Conversion, PaddingCountsWhenTheRangeMarksZero) {
    const StlFile stl = Convert("sizes", "-", "0");
    CheckHullStl(stl, Voxels("sizes", {"a.tif", "b.tif"}));
}

TEST(Conversion, SliceOrderSetsZ) {
    const std::string byName[] = {"s1.tif", "s10.tif", "s9.tif", "z.tif"};
    const std::string byNumber[] = {"z.tif", "s1.tif", "s9.tif", "s10.tif"};
    struct Case {
        std::string nameFile;
        std::vector<std::string> order;
    };
    const std::string nameFile = TempDir() + "/names.txt";
    WriteFile(nameFile, "s9.tif\n\n  z.tif ignored words\ns1.tif\ns10.tif\n");
    const std::vector<Case> cases = {
        {"-", {byName, byName + 4}},
        {"--r", {std::rbegin(byName), std::rend(byName)}},
        {"--n", {byNumber, byNumber + 4}},
        {"--rn", {"s10.tif", "s9.tif", "s1.tif", "z.tif"}},
        {"--nr", {"s10.tif", "s9.tif", "s1.tif", "z.tif"}},
        {nameFile, {"s9.tif", "z.tif", "s1.tif", "s10.tif"}},
        {"-s10.tif z.tif\ts1.tif s9.tif", {"s10.tif", "z.tif", "s1.tif", "s9.tif"}},
    };
    std::set<std::string> outputs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nameFile);
        std::string bytes;
        CheckHullStl(Convert("order", c.nameFile, "1000-4095", &bytes), Voxels("order", c.order));
        outputs.insert(bytes);
    }
    EXPECT_EQ(outputs.size(), 6u) << "--rn and --nr agree; every other order differs";
}

TEST(Conversion, DashSendsTheSameBytesToStandardOutput) {
    std::string file;
    Convert("random1", "-", "1000-4095", &file);
    for (const char* dash : {"-", "-out.stl"}) {
        const std::string dir = TempDir();
        const RunResult r = RunVoxwrap({Slices("random1"), "-", "1000-4095", dash}, dir);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, file);
        EXPECT_TRUE(fs::is_empty(dir)) << "no file may be written for " << dash;
    }
}

TEST(Conversion, TheBundledExampleGivesItsExpectedFile) {
    const std::string example = std::string(VOXWRAP_SOURCE_DIR) + "/examples/mug";
    const std::string out = TempDir() + "/mug.stl";
    const RunResult r = RunVoxwrap({example + "/slices", example + "/names.txt", "1000-4095", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bytes = ReadFile(out);
    EXPECT_EQ(bytes, ReadFile(example + "/expected.stl"));
    const StlFile stl = ParseStl(bytes);
    EXPECT_EQ(stl.count, 2 * StlVertices(stl).size() - 4);
}

// ---- failures leave nothing behind --------------------------------------------------------

TEST(Failures, NoObjectLeavesAnExistingFileUntouched) {
    const std::string dir = TempDir();
    WriteFile(dir + "/hull.stl", "precious");
    const RunResult r = RunVoxwrap({Slices("box"), "-", "4000-", dir + "/hull.stl"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "no object.\n");
    EXPECT_EQ(ReadFile(dir + "/hull.stl"), "precious");
    const RunResult none = RunVoxwrap({Slices("box"), "-", "", dir + "/new.stl"});
    EXPECT_EQ(none.err, "no object.\n");
    EXPECT_FALSE(fs::exists(dir + "/new.stl"));
}

TEST(Failures, AMissingOutputDirectoryIsReportedAfterTheHull) {
    const std::string dir = TempDir();
    const RunResult r = RunVoxwrap({Slices("box"), "-", "1000-4095", dir + "/no/such/dir/h.stl"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "file not stored.\n");
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST(Failures, AFailedWriteLeavesAnExistingFileUntouched) {
    // A file size limit makes the write fail part way.
    const std::string dir = TempDir();
    WriteFile(dir + "/hull.stl", "precious");
    const RunResult r =
        RunVoxwrap({Slices("random1"), "-", "1000-4095", dir + "/hull.stl"}, "", [] {
            const rlimit limit = {300, 300};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_IGN);
        });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "file not stored.\n");
    EXPECT_EQ(ReadFile(dir + "/hull.stl"), "precious");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename());
    EXPECT_EQ(names, std::set<std::string>{"hull.stl"}) << "temporary file left";
}

TEST(Output, ALongFileNameIsStored) {
    const std::string dir = TempDir();
    const std::string name = dir + "/" + std::string(250, 'a') + ".stl";
    const RunResult r = RunVoxwrap({Slices("box"), "-", "1000-4095", name});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(name).size(), 84u + 12 * 50);
}

TEST(Failures, AFullDeviceIsAFailedWrite) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const RunResult r = RunVoxwrap({Slices("box"), "-", "1000-4095", "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "file not stored.\n");
}

TEST(Failures, AClosedPipeIsAFailedWrite) {
    // Standard output is a pipe whose reader is gone: the write fails instead of killing silently.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    const pid_t pid = SpawnVoxwrap({Slices("random0"), "-", "1000-4095", "-"}, [&] {
        dup2(fds[1], 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
    });
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST(Output, ReplacesAFileKeepingItsModeAndFollowsLinks) {
    const std::string dir = TempDir();
    const std::string target = dir + "/target.stl";
    WriteFile(target, "old");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink("target.stl", (dir + "/link.stl").c_str()), 0);
    const RunResult r = RunVoxwrap({Slices("box"), "-", "1000-4095", dir + "/link.stl"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir + "/link.stl"));
    EXPECT_EQ(ReadFile(target).size(), 84u + 12 * 50);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"link.stl", "target.stl"})) << "temporary file left";
}

}  // namespace
