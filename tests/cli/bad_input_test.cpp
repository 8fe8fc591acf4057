// Careless and hostile input at the level of the whole run: selections that can find nothing,
// stacks too large for exact STL coordinates, and outputs that must not be replaced blindly.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "support.h"
#include "tiff/tiff_builder.h"

namespace {

namespace fs = std::filesystem;
using tifftest::LONG;
using tifftest::SHORT;
using tifftest::TiffBuilder;

const std::string kMug = SourcePath("examples/mug");

// An all-zero 1-bit uncompressed image of the given size; its one strip lies after the directory
// and is left to the file system as a hole, so a tall image costs no disk.
void WriteBlankTiff(const std::string& path, std::uint32_t width, std::uint32_t height) {
    const std::uint64_t rowBytes = (std::uint64_t{width} + 7) / 8;
    TiffBuilder tiff;
    tiff.Long(256, width).Long(257, height).Short(258, 1).Short(259, 1).Short(262, 1);
    tiff.Long(278, height).Long(279, static_cast<std::uint32_t>(rowBytes * height));
    tiff.Long(273, 0);
    const std::uint32_t offset = static_cast<std::uint32_t>(tiff.Bytes().size());
    tiff.Long(273, offset);
    const std::vector<std::uint8_t> bytes = tiff.Bytes();
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(offset + rowBytes * height)), 0);
}

// Runs the child as an ordinary user when the tests run as root, so that permissions apply.
void AsNobody() {
    if (geteuid() != 0) return;
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
}

// The example's slices where an ordinary user may read them: the checkout may lie below a
// directory only root may enter.
std::string OpenSlices() {
    static const std::string dir = [] {
        const std::string copy = TempDir();
        fs::copy(kMug + "/slices", copy);
        chmod(copy.c_str(), 0755);
        for (const auto& entry : fs::directory_iterator(copy))
            chmod(entry.path().c_str(), 0644);
        return copy;
    }();
    return dir;
}

// A directory an ordinary user may use, holding a target file with the given content and mode.
std::string OpenDir(const std::string& target, const std::string& content, mode_t mode) {
    const std::string dir = TempDir();
    chmod(dir.c_str(), 0777);
    WriteFile(dir + "/" + target, content);
    chmod((dir + "/" + target).c_str(), mode);
    return dir;
}

std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename());
    return names;
}

TEST(EmptySelection, IsNoObjectBeforeAnySliceIsRead) {
    // The second slice fails only when its samples are read (no photometric interpretation):
    // a list that selects nothing must not get that far.
    const std::string dir = TempDir();
    fs::copy_file(kMug + "/slices/mug_000.tif", dir + "/a.tif");
    TiffBuilder tiff;
    const std::uint32_t strip = tiff.Data({1, 2, 3, 4});
    tiff.Short(256, 2).Short(257, 2).Short(258, 8).Long(273, strip).Long(279, 4);
    const std::vector<std::uint8_t> bytes = tiff.Bytes();
    WriteFile(dir + "/b.tif", std::string(bytes.begin(), bytes.end()));
    for (const std::string list : {"", ",,,", ","}) {
        const RunResult r = RunVoxwrap({dir, "-", list, dir + "/out.stl"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "no object.\n") << "range list \"" << list << "\"";
    }
    const RunResult r = RunVoxwrap({dir, "-", "1-", dir + "/out.stl"});
    EXPECT_EQ(r.err, dir + "/b.tif : bad photometric interpretation.\n");
    EXPECT_FALSE(fs::exists(dir + "/out.stl"));
}

TEST(TooLargeStack, ImagesBeyondExactFloatsAreRefusedBeforeTheHull) {
    const std::string message =
        "stack too large for exact STL coordinates (at most 16777216 columns, rows and slices).\n";
    const std::uint32_t limit = 1u << 24;
    struct Case {
        std::uint32_t width, height;
        bool refused;
    };
    for (const Case c :
         {Case{limit + 1, 1, true}, Case{1, limit + 1, true}, Case{limit, 1, false}}) {
        const std::string dir = TempDir();
        WriteBlankTiff(dir + "/s.tif", c.width, c.height);
        // The range marks 1 only: the blank image has no object, so an accepted size ends with
        // "no object." after reading it.
        const RunResult r = RunVoxwrap({dir, "-", "1", dir + "/out.stl"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.refused ? message : "no object.\n") << c.width << " x " << c.height;
    }
}

TEST(OutputReplacement, AReadOnlyTargetIsRefusedLikeWritingInPlace) {
    const std::string dir = OpenDir("hull.stl", "precious", 0444);
    const RunResult r =
        RunVoxwrap({OpenSlices(), "-", "1000-4095", dir + "/hull.stl"}, "", AsNobody);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "file not stored.\n");
    EXPECT_EQ(ReadFile(dir + "/hull.stl"), "precious");
    EXPECT_EQ(Names(dir), std::set<std::string>{"hull.stl"});
}

TEST(OutputReplacement, AWritableTargetInAReadOnlyDirectoryIsWrittenInPlace) {
    const std::string dir = OpenDir("hull.stl", "old", 0666);
    chmod(dir.c_str(), 0555);
    const RunResult r =
        RunVoxwrap({OpenSlices(), "-", "1000-4095", dir + "/hull.stl"}, "", AsNobody);
    chmod(dir.c_str(), 0777);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir + "/hull.stl"), ReadFile(kMug + "/expected.stl"));
}

TEST(OutputReplacement, EveryHardLinkSeesTheNewMesh) {
    const std::string dir = OpenDir("hull.stl", "old", 0644);
    ASSERT_EQ(link((dir + "/hull.stl").c_str(), (dir + "/other.stl").c_str()), 0);
    const RunResult r = RunVoxwrap({kMug + "/slices", "-", "1000-4095", dir + "/hull.stl"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir + "/other.stl"), ReadFile(kMug + "/expected.stl"));
    struct stat a, b;
    ASSERT_EQ(stat((dir + "/hull.stl").c_str(), &a), 0);
    ASSERT_EQ(stat((dir + "/other.stl").c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
}

TEST(OutputReplacement, RootKeepsTheOwnerAndGroupOfTheTarget) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::string dir = OpenDir("hull.stl", "old", 0640);
    ASSERT_EQ(chown((dir + "/hull.stl").c_str(), 65534, 65534), 0);
    const RunResult r = RunVoxwrap({kMug + "/slices", "-", "1000-4095", dir + "/hull.stl"});
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(stat((dir + "/hull.stl").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFile(dir + "/hull.stl"), ReadFile(kMug + "/expected.stl"));
}

TEST(OutputReplacement, EveryEndingSignalRemovesTheTemporaryFile) {
    // The run is stopped as soon as its temporary file shows up; whatever the signal, the
    // target is untouched or complete, and no temporary file is left.
    const std::string expected = ReadFile(kMug + "/expected.stl");
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) {
        for (int run = 0; run < 3; ++run) {
            const std::string dir = TempDir();
            WriteFile(dir + "/hull.stl", "precious");
            const pid_t pid =
                SpawnVoxwrap({kMug + "/slices", "-", "1000-4095", dir + "/hull.stl"}, [] {
                    const rlimit noCore{0, 0};
                    setrlimit(RLIMIT_CORE, &noCore);
                });
            int status = 0;
            while (waitpid(pid, &status, WNOHANG) != pid) {
                if (Names(dir).size() > 1) {
                    kill(pid, sig);
                    waitpid(pid, &status, 0);
                    break;
                }
                usleep(50);
            }
            const std::string now = ReadFile(dir + "/hull.stl");
            EXPECT_TRUE(now == "precious" || now == expected) << "signal " << sig;
            EXPECT_EQ(Names(dir), std::set<std::string>{"hull.stl"}) << "signal " << sig;
        }
    }
}

}  // namespace
