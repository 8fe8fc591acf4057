#include "slices/csi.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "slices/slice_files.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

struct Result {
    std::vector<std::string> paths;
    std::int32_t width = -1, height = -1, count = -1, bits = -1;
};

Result Check(const std::string& directory, const std::string& nameFile) {
    Result r;
    r.paths = CheckSliceImages(directory.c_str(), nameFile.c_str(), &r.width, &r.height, &r.count,
                               &r.bits);
    return r;
}

std::vector<std::string> Paths(const std::string& directory, std::vector<std::string> names) {
    for (std::string& name : names)
        name = directory + "/" + name;
    return names;
}

// ---- name file ----

TEST(SliceListNameFile, TakesFirstWordOfEveryLineInOrder) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    PutFixture(dir, "sub/b.tif", "g90x120.tif");
    PutFixture(dir, "c.tif", "b10x6.tif");
    // Blank lines, white-space-only lines, a CR before the line feed and words after the first
    // are all ignored; a.tif is listed twice and so is two slices.
    WriteFile(dir + "/names.txt", "c.tif\n\n \t \nsub/b.tif trailing words\r\n   a.tif\f\na.tif\n");
    const Result r = Check(dir, dir + "/names.txt");
    EXPECT_EQ(r.paths, Paths(dir, {"c.tif", "sub/b.tif", "a.tif", "a.tif"}));
    EXPECT_EQ(r.width, 100);
    EXPECT_EQ(r.height, 120);
    EXPECT_EQ(r.count, 4);
    EXPECT_EQ(r.bits, 16);
}

TEST(SliceListNameFile, IgnoresTheSecondNameOnALine) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    // b.tif does not exist: opening it would end the run.
    WriteFile(dir + "/names.txt", "a.tif b.tif\n");
    EXPECT_EQ(Check(dir, dir + "/names.txt").paths, Paths(dir, {"a.tif"}));
}

TEST(SliceListNameFile, AcceptsALineOf1021Characters) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    const std::string line = "a.tif" + std::string(1016, ' ');
    ASSERT_EQ(line.size(), 1021u);
    WriteFile(dir + "/names.txt", line + "\n" + line + "\n");
    EXPECT_EQ(Check(dir, dir + "/names.txt").count, 2);
}

TEST(SliceListNameFile, StopsReadingAfterTheCountedNames) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "b10x6.tif");
    WriteFile(dir + "/names.txt", "a.tif\n");
    const Result r = Check(dir, dir + "/names.txt");
    EXPECT_EQ(r.paths, Paths(dir, {"a.tif"}));
    EXPECT_EQ(r.width, 10);
    EXPECT_EQ(r.height, 6);
    EXPECT_EQ(r.bits, 1);  // no BitsPerSample entry: 1 bit
}

TEST(SliceListNameFile, NullOutputsAreSkipped) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    WriteFile(dir + "/names.txt", "a.tif\n");
    std::int32_t count = 0;
    const auto paths = CheckSliceImages(dir.c_str(), (dir + "/names.txt").c_str(), nullptr, nullptr,
                                        &count, nullptr);
    EXPECT_EQ(paths, Paths(dir, {"a.tif"}));
    EXPECT_EQ(count, 1);
}

TEST(SliceListNameFile, AcceptsALastLineWithoutLineFeed) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    const std::string line1021 = "a.tif" + std::string(1016, ' ');
    const struct {
        const char* what;
        std::string text;
        std::int32_t count;
    } cases[] = {
        {"short last line", "a.tif\na.tif", 2},
        {"only line", "a.tif", 1},
        {"blank last line", "a.tif\n  ", 1},
        {"last line of 1021 characters", "a.tif\n" + line1021, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir + "/names.txt", c.text);
        EXPECT_EQ(Check(dir, dir + "/names.txt").count, c.count);
    }
}

TEST(SliceListNameFileFailure, RefusesLongLinesAndNulBytes) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    const std::string names = dir + "/names.txt";
    const std::string line1022 = "a.tif" + std::string(1017, ' ');
    ASSERT_EQ(line1022.size(), 1022u);
    const struct {
        const char* what;
        std::string text;
        const char* message;
    } cases[] = {
        {"line of 1022 characters", line1022 + "\n", "too long line"},
        {"last line of 1022 characters", "a.tif\n" + line1022, "too long line"},
        {"long line far past the limit", "a.tif\n" + std::string(5000, 'x') + "\n",
         "too long line"},
        // No file name holds a NUL byte, at any place in the line, the first character included.
        {"NUL byte inside a line", std::string("a.tif\na\0b.tif\n", 14), "NUL byte in line"},
        {"NUL byte first", std::string("\0a.tif\n", 7), "NUL byte in line"},
        {"NUL byte in the last line", std::string("a.tif\na.tif\0", 12), "NUL byte in line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir + "/names.txt", c.text);
        EXPECT_EQ(FailureText([&] { Check(dir, names); }), names + " : " + c.message + ".");
    }
}

TEST(SliceListNameFileFailure, ChecksEveryLineBeforeOpeningAnImage) {
    const std::string dir = TempDir();
    const std::string names = dir + "/names.txt";
    // The first image does not exist.
    WriteFile(dir + "/names.txt", "missing.tif\n" + std::string(2000, 'x') + "\n");
    EXPECT_EQ(FailureText([&] { Check(dir, names); }), names + " : too long line.");
}

TEST(SliceListNameFileFailure, ReportsNameFileFailures) {
    const std::string dir = TempDir();
    const std::string names = dir + "/names.txt";
    EXPECT_EQ(FailureText([&] { Check(dir, names); }), names + " : name file not open.");
    for (const char* text : {"", "\n", " \t\r\n\n\v\f\n"}) {
        WriteFile(dir + "/names.txt", text);
        EXPECT_EQ(FailureText([&] { Check(dir, names); }), names + " : no image file name.");
    }
    EXPECT_EQ(FailureText([&] { Check(dir, dir); }), dir + " : name file is a directory.");
    // Reading the first page of the process's own memory fails (EIO): a read error, not an end.
    EXPECT_EQ(FailureText([&] { Check(dir, "/proc/self/mem"); }),
              "/proc/self/mem : name file not readable.");
}

TEST(SliceListNameFileFailure, ReportsAFileThatEndsInTheSecondPass) {
    // A pipe cannot be read twice: the second pass finds the end of the data at once.
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    const std::string fifo = dir + "/names.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&fifo] { std::ofstream(fifo) << "a.tif\n"; });
    const std::string text = FailureText([&] { Check(dir, fifo); });
    writer.join();
    EXPECT_EQ(text, fifo + " : missing image file name.");
}

TEST(SliceListNameFileFailure, PassesOnTheReaderMessagesInListOrder) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    WriteFile(dir + "/text.tif", "plain text, not an image\n");
    const std::string names = dir + "/names.txt";
    WriteFile(dir + "/names.txt", "a.tif\nmissing.tif\ntext.tif\n");
    EXPECT_EQ(FailureText([&] { Check(dir, names); }), dir + "/missing.tif : file not found.");
    WriteFile(dir + "/names.txt", "a.tif\ntext.tif\nmissing.tif\n");
    EXPECT_EQ(FailureText([&] { Check(dir, names); }), dir + "/text.tif : bad magic number.");
}

// ---- inline list ----

TEST(SliceListInline, TakesEveryWordInOrder) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    PutFixture(dir, "b.tif", "g90x120.tif");
    PutFixture(dir, "sub/c.tif", "b10x6.tif");
    const Result r = Check(dir, "-a.tif b.tif");
    EXPECT_EQ(r.paths, Paths(dir, {"a.tif", "b.tif"}));
    EXPECT_EQ(r.width, 100);
    EXPECT_EQ(r.height, 120);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.bits, 16);
    EXPECT_EQ(Check(dir, "-\t sub/c.tif\n\nb.tif  a.tif \r").paths,
              Paths(dir, {"sub/c.tif", "b.tif", "a.tif"}));
}

TEST(SliceListInline, HandlesLongDirectoriesAndNames) {
    // Far beyond any fixed buffer of about a thousand bytes, still within the system's path limit.
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    std::string longDirectory = dir;
    for (int i = 0; i < 600; ++i)
        longDirectory += "/.";
    std::string longName;
    for (int i = 0; i < 1000; ++i)
        longName += "./";
    longName += "a.tif";
    ASSERT_LT(longDirectory.size() + longName.size(), 4000u);
    const Result r = Check(longDirectory, "-" + longName + " a.tif");
    EXPECT_EQ(r.paths, Paths(longDirectory, {longName, "a.tif"}));
    EXPECT_EQ(r.width, 100);
    longName += "\n";  // a name file line may not hold it
    WriteFile(dir + "/names.txt", longName);
    EXPECT_EQ(FailureText([&] { Check(longDirectory, dir + "/names.txt"); }),
              dir + "/names.txt : too long line.");
}

TEST(SliceListInlineFailure, NamesTheListTextWhenItHoldsNoWord) {
    const std::string dir = TempDir();
    EXPECT_EQ(FailureText([&] { Check(dir, "- "); }), "  : no image file name.");
    EXPECT_EQ(FailureText([&] { Check(dir, "-\t\n"); }), "\t\n : no image file name.");
}

TEST(SliceListInlineFailure, PassesOnTheReaderMessages) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "g100x80.tif");
    EXPECT_EQ(FailureText([&] { Check(dir, "-a.tif b.tif"); }), dir + "/b.tif : file not found.");
}

// ---- directory listing ----

TEST(SliceListListing, SortsByEveryOption) {
    const std::string dir = TempDir();
    for (const char* name : {"scan.tif", "b.tif", "a-1.tif", "a2.tif", "s9.tif", "s10.tif"})
        PutFixture(dir, name, "b10x6.tif");
    const struct {
        const char* option;
        std::vector<std::string> names;
    } cases[] = {
        {"-", {"a-1.tif", "a2.tif", "b.tif", "s10.tif", "s9.tif", "scan.tif"}},
        {"--r", {"scan.tif", "s9.tif", "s10.tif", "b.tif", "a2.tif", "a-1.tif"}},
        {"--n", {"b.tif", "scan.tif", "a-1.tif", "a2.tif", "s9.tif", "s10.tif"}},
        {"--rn", {"s10.tif", "s9.tif", "a2.tif", "a-1.tif", "scan.tif", "b.tif"}},
        {"--nr", {"s10.tif", "s9.tif", "a2.tif", "a-1.tif", "scan.tif", "b.tif"}},
        {"--rnXYZ", {"s10.tif", "s9.tif", "a2.tif", "a-1.tif", "scan.tif", "b.tif"}},
        {"--nr--n", {"s10.tif", "s9.tif", "a2.tif", "a-1.tif", "scan.tif", "b.tif"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const Result r = Check(dir, c.option);
        EXPECT_EQ(r.paths, Paths(dir, c.names));
        EXPECT_EQ(r.count, 6);
    }
}

TEST(SliceListListing, FindsTheCommonSize) {
    const std::string dir = TempDir();
    PutFixture(dir, "s1.tif", "g100x80.tif");
    PutFixture(dir, "s2.tif", "g90x120.tif");
    const Result r = Check(dir, "--n");
    EXPECT_EQ(r.paths, Paths(dir, {"s1.tif", "s2.tif"}));
    EXPECT_EQ(r.width, 100);
    EXPECT_EQ(r.height, 120);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.bits, 16);
}

TEST(SliceListListing, KeepsASecondSlashAfterAFinalSlash) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "b10x6.tif");
    const std::vector<std::string> expected = {dir + "//a.tif"};
    EXPECT_EQ(Check(dir + "/", "-").paths, expected);
    EXPECT_EQ(Check(dir + "/", "-a.tif").paths, expected);
}

// Names whose number reads as NaN count as names without a number; the infinities and hex
// floats are numbers as "%lf" reads them.
TEST(SliceListListing, OrdersNanAndInfinityNames) {
    const std::string dir = TempDir();
    for (const char* name : {"x-nan.tif", "a-inf.tif", "b+inf.tif", "c1.tif", "d-2.tif",
                             "w+NaN.tif", "h0x10.tif", "scan.tif", "k1e1.tif"})
        PutFixture(dir, name, "b10x6.tif");
    const std::vector<std::string> ascending = {"scan.tif",  "w+NaN.tif", "x-nan.tif",
                                                "a-inf.tif", "d-2.tif",   "c1.tif",
                                                "k1e1.tif",  "h0x10.tif", "b+inf.tif"};
    std::vector<std::string> descending(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(Check(dir, "--n").paths, Paths(dir, ascending));
    EXPECT_EQ(Check(dir, "--rn").paths, Paths(dir, descending));
    EXPECT_EQ(Check(dir, "-").paths,
              Paths(dir, {"a-inf.tif", "b+inf.tif", "c1.tif", "d-2.tif", "h0x10.tif", "k1e1.tif",
                          "scan.tif", "w+NaN.tif", "x-nan.tif"}));
}

// Many names mixing NaNs, infinities, equal numbers and names without a number, in every
// order: each option must give a permutation in its order (checked pairwise against values
// known by construction), and the sort must stay inside the list.
TEST(SliceListListing, SortsManyOddNamesConsistently) {
    constexpr double NONE = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* text;
        double value;  // NONE: no number
    } numbers[] = {
        {"-nan", NONE},      {"+nan", NONE}, {"nan", NONE}, {"-NaN", NONE}, {"-inf", -inf},
        {"+inf", inf},       {"inf", NONE},  {"5", 5},      {"-5", -5},     {"10", 10},
        {"1e1", 10},         {"0x10", 16},   {"-0", 0},     {"0", 0},       {"2.5", 2.5},
        {"", NONE},          {"-", NONE},    {"+", NONE},   {"007", 7},     {"-1e-3", -0.001},
        {"-infinity", -inf},
    };
    // Letters that cannot continue any of the numbers above (no hex digit, e, i, n, p, t, x).
    const std::string letters = "ghjklmoqrsuvwyz";
    std::mt19937 rng(20261207);  // fixed seed: a failure replays
    const std::string dir = TempDir();
    std::vector<std::pair<std::string, double>> names;
    for (std::size_t i = 0; i < 150; ++i) {
        const auto& number = numbers[rng() % (sizeof numbers / sizeof numbers[0])];
        std::string name;
        for (std::size_t k = rng() % 3 + 1; k > 0; --k)
            name += letters[rng() % letters.size()];
        name += number.text;
        name += letters[i / letters.size()];  // unique tail
        name += letters[i % letters.size()];
        name += ".tif";
        PutFixture(dir, name, "b10x6.tif");
        names.emplace_back((dir + "/" + name), number.value);
    }
    auto valueOf = [&names](const std::string& path) {
        for (const auto& [p, v] : names)
            if (p == path) return v;
        ADD_FAILURE() << "unknown path " << path;
        return NONE;
    };
    // Ascending order of (path, value) pairs: names without a number first in byte order.
    auto inOrder = [](const std::string& a, double va, const std::string& b, double vb) {
        if (std::isnan(va) != std::isnan(vb)) return std::isnan(va);
        if (std::isnan(va)) return a < b;
        return va <= vb;
    };
    for (const char* option : {"-", "--r", "--n", "--rn", "--nr", "--nrQ"}) {
        SCOPED_TRACE(option);
        const Result r = Check(dir, option);
        ASSERT_EQ(r.paths.size(), names.size());
        std::vector<std::string> got = r.paths, want;
        for (const auto& entry : names)
            want.push_back(entry.first);
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        ASSERT_EQ(got, want);
        const std::string o = option;
        for (std::size_t i = 0; i + 1 < r.paths.size(); ++i) {
            const std::string& a = r.paths[i];
            const std::string& b = r.paths[i + 1];
            if (o == "-") {
                EXPECT_LT(a, b);
            } else if (o == "--r") {
                EXPECT_GT(a, b);
            } else if (o == "--n") {
                EXPECT_TRUE(inOrder(a, valueOf(a), b, valueOf(b))) << a << " before " << b;
            } else {
                EXPECT_TRUE(inOrder(b, valueOf(b), a, valueOf(a))) << a << " before " << b;
            }
        }
    }
}

TEST(SliceListListingFailure, RejectsUnknownOptionsBeforeReadingAnyHeader) {
    const std::string dir = TempDir();
    // A text file among the entries and a missing directory: the option speaks first all the same.
    PutFixture(dir, "a.tif", "b10x6.tif");
    WriteFile(dir + "/c.txt", "text file\n");
    const struct {
        const char* option;
        const char* expected;
    } cases[] = {
        {"--x", "-x : unknown sorting option."},     {"--", "- : unknown sorting option."},
        {"--rx", "-rx : unknown sorting option."},   {"--n2", "-n2 : unknown sorting option."},
        {"--rrn", "-rrn : unknown sorting option."}, {"--vr", "-vr : unknown sorting option."},
        {"--rvx", "-rvx : unknown sorting option."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        EXPECT_EQ(FailureText([&] { Check(dir, c.option); }), c.expected);
        EXPECT_EQ(FailureText([&] { Check(dir + "/missing", c.option); }), c.expected);
    }
    EXPECT_EQ(FailureText([&] { Check(dir, "--rnfoo"); }), dir + "/c.txt : bad magic number.");
}

TEST(SliceListListingFailure, OpensEveryEntryOfTheDirectory) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "b10x6.tif");
    WriteFile(dir + "/notes.txt", "Slices of the sample, 10 x 6.\n");
    EXPECT_EQ(FailureText([&] { Check(dir, "-"); }), dir + "/notes.txt : bad magic number.");
}

TEST(SliceListListingFailure, ReportsDirectoryFailures) {
    const std::string dir = TempDir();
    const std::string missing = dir + "/missing";
    for (const char* option : {"-", "--n", "--v"})
        EXPECT_EQ(FailureText([&] { Check(missing, option); }), missing + " : directory not open.");
    for (const char* option : {"-", "--rv"})
        EXPECT_EQ(FailureText([&] { Check(dir, option); }), dir + " : no image file name.");
}

// ---- slices that are not images ----

// Whatever is not a regular file is refused by the reader with its own message, before a byte is
// read (a FIFO without a writer would block a plain open); a file that exists but cannot be
// opened says why.
TEST(SliceListEntryFailure, NamesWhatTheEntryIs) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "b10x6.tif");
    std::filesystem::create_directory(dir + "/sub");
    ASSERT_EQ(mkfifo((dir + "/pipe.tif").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/null", dir + "/null.tif");
    std::filesystem::create_symlink("loop.tif", dir + "/loop.tif");
    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"sub", "is a directory."},
        {"pipe.tif", "not a regular file."},
        {"null.tif", "not a regular file."},
        {"loop.tif", "file not open (Too many levels of symbolic links)."},
        {"missing.tif", "file not found."},
        {"a.tif/x.tif", "file not found."},  // a path through a file names nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FailureText([&] { Check(dir, std::string("-a.tif ") + c.name); }),
                  dir + "/" + c.name + " : " + c.message);
    }
    // The same entries in a listing: the first in list order stops the run.
    const std::string dir2 = TempDir();
    PutFixture(dir2, "a.tif", "b10x6.tif");
    std::filesystem::create_directory(dir2 + "/sub");
    EXPECT_EQ(FailureText([&] { Check(dir2, "-"); }), dir2 + "/sub : is a directory.");
    if (geteuid() != 0) {  // permissions do not bind the superuser
        PutFixture(dir, "locked.tif", "b10x6.tif");
        std::filesystem::permissions(dir + "/locked.tif", std::filesystem::perms::none);
        EXPECT_EQ(FailureText([&] { Check(dir, "-locked.tif"); }),
                  dir + "/locked.tif : file not open (Permission denied).");
    }
}

TEST(SliceListEntryFailure, SaysWhenNoFileCanBeOpened) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "b10x6.tif");
    // One failure first, with descriptors to spare: UndefinedBehaviorSanitizer checks the dynamic
    // type of the error once, through a pipe, and remembers it; under the limit it could not.
    EXPECT_EQ(FailureText([&] { Check(dir, "-none.tif"); }), dir + "/none.tif : file not found.");
    // A descriptor limit at the lowest free descriptor: the next open fails with EMFILE.
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest = dup(0);
    ASSERT_GE(lowest, 0);
    close(lowest);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const std::string text = FailureText([&] { Check(dir, "-a.tif"); });
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(text, dir + "/a.tif : file not open (Too many open files).");
}

// The program itself, end to end, on a FIFO among the slices: it must refuse it at once instead
// of waiting for a writer (the alarm ends a run that blocks).
TEST(SliceListEntryFailure, TheProgramRefusesAFifoWithoutBlocking) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", "b10x6.tif");
    ASSERT_EQ(mkfifo((dir + "/b.tif").c_str(), 0600), 0);
    const RunResult r = RunVoxwrap({dir, "-", "1", dir + "/out.stl"}, "", [] { alarm(20); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir + "/b.tif : not a regular file.\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.stl"));
}

// ---- slice order ----

// The usual name patterns of slice stacks, each in a directory of its own, under every option
// that orders them differently.
TEST(SliceListOrder, OrdersCommonNamePatterns) {
    const struct {
        std::vector<std::string> names;  // as created; the listing order is the file system's
        const char* option;
        std::vector<std::string> expected;
    } cases[] = {
        // Zero-padded numbers after a dash: "-" and "--v" agree; "--n" reads -1, -2, -10.
        {{"slice-001.tif", "slice-002.tif", "slice-010.tif"},
         "-",
         {"slice-001.tif", "slice-002.tif", "slice-010.tif"}},
        {{"slice-001.tif", "slice-002.tif", "slice-010.tif"},
         "--n",
         {"slice-010.tif", "slice-002.tif", "slice-001.tif"}},
        {{"slice-001.tif", "slice-002.tif", "slice-010.tif"},
         "--v",
         {"slice-001.tif", "slice-002.tif", "slice-010.tif"}},
        {{"slice-001.tif", "slice-002.tif", "slice-010.tif"},
         "--rv",
         {"slice-010.tif", "slice-002.tif", "slice-001.tif"}},
        // Numbers without padding: only "--v" (and "--n" without the dash) count.
        {{"slice-1.tif", "slice-2.tif", "slice-10.tif"},
         "-",
         {"slice-1.tif", "slice-10.tif", "slice-2.tif"}},
        {{"slice-1.tif", "slice-2.tif", "slice-10.tif"},
         "--n",
         {"slice-10.tif", "slice-2.tif", "slice-1.tif"}},
        {{"slice-1.tif", "slice-2.tif", "slice-10.tif"},
         "--v",
         {"slice-1.tif", "slice-2.tif", "slice-10.tif"}},
        {{"s1.tif", "s2.tif", "s10.tif"}, "--n", {"s1.tif", "s2.tif", "s10.tif"}},
        {{"s1.tif", "s2.tif", "s10.tif"}, "--rn", {"s10.tif", "s2.tif", "s1.tif"}},
        // Every name reads as 0.5 under "--n": equal numbers go in byte order.
        {{"img_0.5mm_010.tif", "img_0.5mm_002.tif", "img_0.5mm_001.tif"},
         "--n",
         {"img_0.5mm_001.tif", "img_0.5mm_002.tif", "img_0.5mm_010.tif"}},
        {{"img_0.5mm_010.tif", "img_0.5mm_002.tif", "img_0.5mm_001.tif"},
         "--rn",
         {"img_0.5mm_010.tif", "img_0.5mm_002.tif", "img_0.5mm_001.tif"}},
        {{"img_0.5mm_10.tif", "img_0.5mm_2.tif", "img_0.5mm_1.tif"},
         "--v",
         {"img_0.5mm_1.tif", "img_0.5mm_2.tif", "img_0.5mm_10.tif"}},
        // Every name reads as 2 under "--n".
        {{"scan2_0010.tif", "scan2_0001.tif", "scan2_0002.tif"},
         "--n",
         {"scan2_0001.tif", "scan2_0002.tif", "scan2_0010.tif"}},
        {{"scan2_10.tif", "scan2_1.tif", "scan2_2.tif"},
         "--v",
         {"scan2_1.tif", "scan2_2.tif", "scan2_10.tif"}},
        {{"scan2_10.tif", "scan2_1.tif", "scan2_2.tif"},
         "--rv",
         {"scan2_10.tif", "scan2_2.tif", "scan2_1.tif"}},
        // Signed and fractional positions: only "--n" reads them.
        {{"z3.tif", "z0.tif", "z-1.tif", "z-5.tif"},
         "--n",
         {"z-5.tif", "z-1.tif", "z0.tif", "z3.tif"}},
        {{"z3.tif", "z0.tif", "z-1.tif", "z-5.tif"},
         "--v",
         {"z-1.tif", "z-5.tif", "z0.tif", "z3.tif"}},
        {{"z1.tif", "z1.25.tif", "z0.5.tif"}, "--n", {"z0.5.tif", "z1.tif", "z1.25.tif"}},
        {{"z1.tif", "z1.25.tif", "z0.5.tif"}, "-", {"z0.5.tif", "z1.25.tif", "z1.tif"}},
        {{"z1.tif", "z1.25.tif", "z0.5.tif"}, "--v", {"z0.5.tif", "z1.25.tif", "z1.tif"}},
        // Natural order: leading zeros tie and then go in byte order; numbers of any length;
        // no signs, points or exponents; a digit run meets other bytes at its first digit.
        {{"a1.tif", "a01.tif", "a001.tif", "a2.tif"},
         "--v",
         {"a001.tif", "a01.tif", "a1.tif", "a2.tif"}},
        {{"a1.tif", "a01.tif", "a001.tif", "a2.tif"},
         "--rv",
         {"a2.tif", "a1.tif", "a01.tif", "a001.tif"}},
        {{"x100000000000000000000000.tif", "x99999999999999999999999.tif", "x7.tif"},
         "--v",
         {"x7.tif", "x99999999999999999999999.tif", "x100000000000000000000000.tif"}},
        {{"b-2.tif", "b-10.tif", "b+1.tif", "b1e1.tif", "b1.5.tif", "b.tif", "b1.tif"},
         "--v",
         {"b+1.tif", "b-2.tif", "b-10.tif", "b.tif", "b1.5.tif", "b1.tif", "b1e1.tif"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.names.front());
        const std::string dir = TempDir();
        for (const std::string& name : c.names)
            PutFixture(dir, name, "b10x6.tif");
        EXPECT_EQ(Check(dir, c.option).paths, Paths(dir, c.expected));
    }
}

// Every option's order is total and consistent on random names made to hit the hard cases (signs,
// points, exponents, NaN and infinity spellings, long digit runs, leading zeros, high bytes):
// never equal for different names, opposite when swapped, transitive; a sort of any shuffle
// gives the one same order.
TEST(SliceListOrder, EveryOptionIsAStrictTotalOrder) {
    const std::vector<std::string> pieces = {
        "0",    "00",   "1",    "9", "10", "007", "99999999999999999999",
        "-",    "+",    ".",    "e", "e-", "x",   "0x",
        "nan",  "inf",  "NaN",  "a", "b",  "_",   " ",
        "\xff", "\x80", "1e400"};
    std::mt19937 rng(20261207);  // fixed seed: a failure replays
    std::vector<std::string> names;
    while (names.size() < 60) {
        std::string name;
        for (std::size_t k = rng() % 5 + 1; k > 0; --k)
            name += pieces[rng() % pieces.size()];
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    for (const char* option : {"-", "--r", "--n", "--rn", "--nr", "--nrQ", "--v", "--rv"}) {
        SCOPED_TRACE(option);
        auto compare = [option](const std::string& a, const std::string& b) {
            const int c = CompareSliceNames(option, a.c_str(), b.c_str());
            return (c > 0) - (c < 0);
        };
        for (const std::string& a : names)
            for (const std::string& b : names) {
                ASSERT_EQ(compare(a, b), -compare(b, a)) << a << " | " << b;
                ASSERT_EQ(compare(a, b) == 0, a == b) << a << " | " << b;
                if (compare(a, b) >= 0) continue;
                for (const std::string& c : names) {
                    if (compare(b, c) < 0) {
                        ASSERT_LT(compare(a, c), 0) << a << " | " << c;
                    }
                }
            }
        auto less = [&compare](const std::string& a, const std::string& b) {
            return compare(a, b) < 0;
        };
        std::vector<std::string> sorted = names;
        std::sort(sorted.begin(), sorted.end(), less);
        ASSERT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), less));
        for (int round = 0; round < 5; ++round) {
            std::vector<std::string> again = names;
            std::shuffle(again.begin(), again.end(), rng);
            std::sort(again.begin(), again.end(), less);
            EXPECT_EQ(again, sorted);
        }
    }
    EXPECT_EQ(FailureText([] { CompareSliceNames("--q", "a", "b"); }),
              "-q : unknown sorting option.");
}

// --n reads a name's number as "%lf" reads it in the "C" locale, without consulting the locale:
// on random names of the pieces where strtod and "%lf" part ways ("0x" without a hexadecimal
// digit, an "inf" with an unfinished "infinity"), every pair goes in the order of
// the numbers "%lf" finds.
TEST(SliceListOrder, NumbersReadAsPercentLfDoes) {
    const std::vector<std::string> pieces = {"0", "1",  "7",   "x",  "X",  "0x", ".",
                                             "-", "+",  "e",   "p",  "a",  "f",  "inf",
                                             "i", "ni", "nan", "ty", "1e", "_"};
    auto number = [](const std::string& name, double& v) {  // the oracle: the C library itself
        const std::size_t at = name.find_first_of("+-0123456789");
        return at != std::string::npos && std::sscanf(name.c_str() + at, "%lf", &v) == 1 &&
               !std::isnan(v);
    };
    std::mt19937 rng(20261208);  // fixed seed: a failure replays
    for (int trial = 0; trial < 20000; ++trial) {
        std::string a, b;
        for (std::size_t k = rng() % 4 + 1; k > 0; --k)
            a += pieces[rng() % pieces.size()];
        for (std::size_t k = rng() % 4 + 1; k > 0; --k)
            b += pieces[rng() % pieces.size()];
        double va = 0, vb = 0;
        const bool na = number(a, va), nb = number(b, vb);
        // Names without a number first; then by number; ties in byte order.
        const int expected = na != nb         ? (na ? 1 : -1)
                             : na && va != vb ? (va < vb ? -1 : 1)
                                              : (a > b) - (a < b);
        const int c = CompareSliceNames("--n", a.c_str(), b.c_str());
        ASSERT_EQ((c > 0) - (c < 0), expected) << a << " | " << b;
    }
}

// ---- allocation failures ----

// The body of a death test's child: caps the address space a little above what is mapped now,
// so a large allocation fails while the process can still print, runs call and prints the text
// of its failure, then leaves without running exit handlers (they would remove the parent's
// scratch directories).
[[noreturn]] void PrintFailureUnderLimit(const std::function<void()>& call) {
    std::ifstream statm("/proc/self/statm");
    unsigned long long pages = 0;
    statm >> pages;
    const rlim_t limit =
        static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64u << 20);
    const rlimit r = {limit, limit};
    setrlimit(RLIMIT_AS, &r);
    std::fprintf(stderr, "%s\n", FailureText(call).c_str());
    std::_Exit(0);
}

TEST(SliceListMemoryDeathTest, ReportsAListThatCannotBeAllocated) {
    if (VOXWRAP_ASAN) GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
    const std::string dir = TempDir();
    std::string names;
    for (int i = 0; i < 3000000; ++i)  // 3 million entries need far more than 64 MB
        names += "a\n";
    WriteFile(dir + "/names.txt", names);
    EXPECT_EXIT(PrintFailureUnderLimit([&] { Check(dir, dir + "/names.txt"); }),
                ::testing::ExitedWithCode(0),
                "^" + Quote(dir + "/ : no memory for paths.") + "\n$");
}

TEST(SliceListMemoryDeathTest, ReportsAPathThatCannotBeAllocated) {
    if (VOXWRAP_ASAN) GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
    const std::string dir = TempDir();
    const std::string list = "-" + std::string(100u << 20, 'a');
    EXPECT_EXIT(PrintFailureUnderLimit([&] { Check(dir, list); }), ::testing::ExitedWithCode(0),
                "^" + Quote(dir + "/ : no memory for path.") + "\n$");
}

}  // namespace
