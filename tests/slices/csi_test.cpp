#include "slices/csi.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "slices/slice_files.h"

namespace {

using slicetest::Quote;
using slicetest::TempDir;

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
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    dir.Put("sub/b.tif", "g90x120.tif");
    dir.Put("c.tif", "b10x6.tif");
    // Blank lines, white-space-only lines, a CR before the line feed and words after the first
    // are all ignored; a.tif is listed twice and so is two slices.
    dir.Write("names.txt", "c.tif\n\n \t \nsub/b.tif trailing words\r\n   a.tif\f\na.tif\n");
    const Result r = Check(dir.str(), dir / "names.txt");
    EXPECT_EQ(r.paths, Paths(dir.str(), {"c.tif", "sub/b.tif", "a.tif", "a.tif"}));
    EXPECT_EQ(r.width, 100);
    EXPECT_EQ(r.height, 120);
    EXPECT_EQ(r.count, 4);
    EXPECT_EQ(r.bits, 16);
}

TEST(SliceListNameFile, IgnoresTheSecondNameOnALine) {
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    // b.tif does not exist: opening it would end the run.
    dir.Write("names.txt", "a.tif b.tif\n");
    EXPECT_EQ(Check(dir.str(), dir / "names.txt").paths, Paths(dir.str(), {"a.tif"}));
}

TEST(SliceListNameFile, AcceptsALineOf1021Characters) {
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    const std::string line = "a.tif" + std::string(1016, ' ');
    ASSERT_EQ(line.size(), 1021u);
    dir.Write("names.txt", line + "\n" + line + "\n");
    EXPECT_EQ(Check(dir.str(), dir / "names.txt").count, 2);
}

TEST(SliceListNameFile, StopsReadingAfterTheCountedNames) {
    TempDir dir;
    dir.Put("a.tif", "b10x6.tif");
    dir.Write("names.txt", "a.tif\n");
    const Result r = Check(dir.str(), dir / "names.txt");
    EXPECT_EQ(r.paths, Paths(dir.str(), {"a.tif"}));
    EXPECT_EQ(r.width, 10);
    EXPECT_EQ(r.height, 6);
    EXPECT_EQ(r.bits, 1);  // no BitsPerSample entry: 1 bit
}

TEST(SliceListNameFile, NullOutputsAreSkipped) {
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    dir.Write("names.txt", "a.tif\n");
    std::int32_t count = 0;
    const auto paths = CheckSliceImages(dir.str().c_str(), (dir / "names.txt").c_str(), nullptr,
                                        nullptr, &count, nullptr);
    EXPECT_EQ(paths, Paths(dir.str(), {"a.tif"}));
    EXPECT_EQ(count, 1);
}

TEST(SliceListNameFileDeathTest, RefusesLinesWithoutLineFeed) {
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    const std::string names = dir / "names.txt";
    const std::string expected = "^" + Quote(names) + " : too long line\\.\n$";
    const std::string line1022 = "a.tif" + std::string(1017, ' ');
    ASSERT_EQ(line1022.size(), 1022u);
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"line of 1022 characters", line1022 + "\n"},
        {"long line far past the limit", "a.tif\n" + std::string(5000, 'x') + "\n"},
        {"short last line without line feed", "a.tif\na.tif"},
        {"only line without line feed", "a.tif"},
        {"blank last line without line feed", "a.tif\n  "},
        // No file name holds a NUL byte; such a line is refused like a broken one, at any place
        // in the line, the first character included.
        {"NUL byte inside a line", std::string("a.tif\na\0b.tif\n", 14)},
        {"NUL byte first", std::string("\0a.tif\n", 7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("names.txt", c.text);
        EXPECT_EXIT(Check(dir.str(), names), ::testing::ExitedWithCode(1), expected);
    }
}

TEST(SliceListNameFileDeathTest, ChecksEveryLineBeforeOpeningAnImage) {
    TempDir dir;
    const std::string names = dir / "names.txt";
    dir.Write("names.txt", "missing.tif\nmissing.tif");  // the first image does not exist
    EXPECT_EXIT(Check(dir.str(), names), ::testing::ExitedWithCode(1),
                "^" + Quote(names) + " : too long line\\.\n$");
}

TEST(SliceListNameFileDeathTest, ReportsNameFileFailures) {
    TempDir dir;
    const std::string names = dir / "names.txt";
    EXPECT_EXIT(Check(dir.str(), names), ::testing::ExitedWithCode(1),
                "^" + Quote(names) + " : name file not open\\.\n$");
    for (const char* text : {"", "\n", " \t\r\n\n\v\f\n"}) {
        dir.Write("names.txt", text);
        EXPECT_EXIT(Check(dir.str(), names), ::testing::ExitedWithCode(1),
                    "^" + Quote(names) + " : no image file name\\.\n$");
    }
}

TEST(SliceListNameFileDeathTest, ReportsAFileThatEndsInTheSecondPass) {
    // A pipe cannot be read twice: the second pass finds the end of the data at once.
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    const std::string fifo = dir / "names.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            std::thread writer([&fifo] { std::ofstream(fifo) << "a.tif\n"; });
            Check(dir.str(), fifo);
            writer.join();
        },
        ::testing::ExitedWithCode(1), "^" + Quote(fifo) + " : missing image file name\\.\n$");
}

TEST(SliceListNameFileDeathTest, PassesOnTheReaderMessagesInListOrder) {
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    dir.Write("text.tif", "plain text, not an image\n");
    const std::string names = dir / "names.txt";
    dir.Write("names.txt", "a.tif\nmissing.tif\ntext.tif\n");
    EXPECT_EXIT(Check(dir.str(), names), ::testing::ExitedWithCode(1),
                "^" + Quote(dir / "missing.tif") + " : file not found\\.\n$");
    dir.Write("names.txt", "a.tif\ntext.tif\nmissing.tif\n");
    EXPECT_EXIT(Check(dir.str(), names), ::testing::ExitedWithCode(1),
                "^" + Quote(dir / "text.tif") + " : bad magic number\\.\n$");
}

// ---- inline list ----

TEST(SliceListInline, TakesEveryWordInOrder) {
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    dir.Put("b.tif", "g90x120.tif");
    dir.Put("sub/c.tif", "b10x6.tif");
    const Result r = Check(dir.str(), "-a.tif b.tif");
    EXPECT_EQ(r.paths, Paths(dir.str(), {"a.tif", "b.tif"}));
    EXPECT_EQ(r.width, 100);
    EXPECT_EQ(r.height, 120);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.bits, 16);
    EXPECT_EQ(Check(dir.str(), "-\t sub/c.tif\n\nb.tif  a.tif \r").paths,
              Paths(dir.str(), {"sub/c.tif", "b.tif", "a.tif"}));
}

TEST(SliceListInline, HandlesLongDirectoriesAndNames) {
    // Far beyond any fixed buffer of about a thousand bytes, still within the system's path limit.
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    std::string longDirectory = dir.str();
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
    dir.Write("names.txt", longName);
    EXPECT_EXIT(Check(longDirectory, dir / "names.txt"), ::testing::ExitedWithCode(1),
                "^" + Quote(dir / "names.txt") + " : too long line\\.\n$");
}

TEST(SliceListInlineDeathTest, NamesTheListTextWhenItHoldsNoWord) {
    TempDir dir;
    EXPECT_EXIT(Check(dir.str(), "- "), ::testing::ExitedWithCode(1),
                "^  : no image file name\\.\n$");
    EXPECT_EXIT(Check(dir.str(), "-\t\n"), ::testing::ExitedWithCode(1),
                "^\t\n : no image file name\\.\n$");
}

TEST(SliceListInlineDeathTest, PassesOnTheReaderMessages) {
    TempDir dir;
    dir.Put("a.tif", "g100x80.tif");
    EXPECT_EXIT(Check(dir.str(), "-a.tif b.tif"), ::testing::ExitedWithCode(1),
                "^" + Quote(dir / "b.tif") + " : file not found\\.\n$");
}

// ---- directory listing ----

TEST(SliceListListing, SortsByEveryOption) {
    TempDir dir;
    for (const char* name : {"scan.tif", "b.tif", "a-1.tif", "a2.tif", "s9.tif", "s10.tif"})
        dir.Put(name, "b10x6.tif");
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
        const Result r = Check(dir.str(), c.option);
        EXPECT_EQ(r.paths, Paths(dir.str(), c.names));
        EXPECT_EQ(r.count, 6);
    }
}

TEST(SliceListListing, FindsTheCommonSize) {
    TempDir dir;
    dir.Put("s1.tif", "g100x80.tif");
    dir.Put("s2.tif", "g90x120.tif");
    const Result r = Check(dir.str(), "--n");
    EXPECT_EQ(r.paths, Paths(dir.str(), {"s1.tif", "s2.tif"}));
    EXPECT_EQ(r.width, 100);
    EXPECT_EQ(r.height, 120);
    EXPECT_EQ(r.count, 2);
    EXPECT_EQ(r.bits, 16);
}

TEST(SliceListListing, KeepsASecondSlashAfterAFinalSlash) {
    TempDir dir;
    dir.Put("a.tif", "b10x6.tif");
    const std::vector<std::string> expected = {dir.str() + "//a.tif"};
    EXPECT_EQ(Check(dir.str() + "/", "-").paths, expected);
    EXPECT_EQ(Check(dir.str() + "/", "-a.tif").paths, expected);
}

// Names whose number reads as NaN count as names without a number; the infinities and hex
// floats are numbers as "%lf" reads them.
TEST(SliceListListing, OrdersNanAndInfinityNames) {
    TempDir dir;
    for (const char* name : {"x-nan.tif", "a-inf.tif", "b+inf.tif", "c1.tif", "d-2.tif",
                             "w+NaN.tif", "h0x10.tif", "scan.tif", "k1e1.tif"})
        dir.Put(name, "b10x6.tif");
    const std::vector<std::string> ascending = {"scan.tif",  "w+NaN.tif", "x-nan.tif",
                                                "a-inf.tif", "d-2.tif",   "c1.tif",
                                                "k1e1.tif",  "h0x10.tif", "b+inf.tif"};
    std::vector<std::string> descending(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(Check(dir.str(), "--n").paths, Paths(dir.str(), ascending));
    EXPECT_EQ(Check(dir.str(), "--rn").paths, Paths(dir.str(), descending));
    EXPECT_EQ(Check(dir.str(), "-").paths,
              Paths(dir.str(), {"a-inf.tif", "b+inf.tif", "c1.tif", "d-2.tif", "h0x10.tif",
                                "k1e1.tif", "scan.tif", "w+NaN.tif", "x-nan.tif"}));
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
    TempDir dir;
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
        dir.Put(name, "b10x6.tif");
        names.emplace_back(dir / name, number.value);
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
        const Result r = Check(dir.str(), option);
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

TEST(SliceListListingDeathTest, RejectsUnknownOptionsAfterOpeningEveryEntry) {
    TempDir dir;
    dir.Put("a.tif", "b10x6.tif");
    dir.Put("b.tif", "b10x6.tif");
    const struct {
        const char* option;
        const char* expected;
    } cases[] = {
        {"--x", "^-x : unknown sorting option\\.\n$"},
        {"--", "^- : unknown sorting option\\.\n$"},
        {"--rx", "^-rx : unknown sorting option\\.\n$"},
        {"--n2", "^-n2 : unknown sorting option\\.\n$"},
        {"--rrn", "^-rrn : unknown sorting option\\.\n$"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        EXPECT_EXIT(Check(dir.str(), c.option), ::testing::ExitedWithCode(1), c.expected);
    }
    // With an unreadable entry the reader speaks first: the option is examined only after every
    // entry was opened.
    dir.Write("c.txt", "text file\n");
    EXPECT_EXIT(Check(dir.str(), "--x"), ::testing::ExitedWithCode(1),
                "^" + Quote(dir / "c.txt") + " : bad magic number\\.\n$");
}

TEST(SliceListListingDeathTest, OpensEveryEntryOfTheDirectory) {
    TempDir dir;
    dir.Put("a.tif", "b10x6.tif");
    dir.Write("notes.txt", "Slices of the sample, 10 x 6.\n");
    EXPECT_EXIT(Check(dir.str(), "-"), ::testing::ExitedWithCode(1),
                "^" + Quote(dir / "notes.txt") + " : bad magic number\\.\n$");
    // A subdirectory is an entry like any other; the reader refuses it (its message is its own).
    TempDir dir2;
    dir2.Put("a.tif", "b10x6.tif");
    std::filesystem::create_directory(dir2.path() / "sub");
    EXPECT_EXIT(Check(dir2.str(), "-"), ::testing::ExitedWithCode(1),
                "^" + Quote(dir2 / "sub") + " : [^\n]*\\.\n$");
}

TEST(SliceListListingDeathTest, ReportsDirectoryFailures) {
    TempDir dir;
    const std::string missing = dir / "missing";
    for (const char* option : {"-", "--n", "--x"})
        EXPECT_EXIT(Check(missing, option), ::testing::ExitedWithCode(1),
                    "^" + Quote(missing) + " : directory not open\\.\n$");
    for (const char* option : {"-", "--x"})
        EXPECT_EXIT(Check(dir.str(), option), ::testing::ExitedWithCode(1),
                    "^" + Quote(dir.str()) + " : no image file name\\.\n$");
}

// ---- allocation failures ----

// Runs in a death-test child: caps the address space a little above what is mapped now, so a
// large allocation fails while the process can still print.
void LimitAddressSpace() {
    std::ifstream statm("/proc/self/statm");
    unsigned long long pages = 0;
    statm >> pages;
    const rlim_t limit =
        static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64u << 20);
    const rlimit r = {limit, limit};
    setrlimit(RLIMIT_AS, &r);
}

TEST(SliceListMemoryDeathTest, ReportsAListThatCannotBeAllocated) {
    if (VOXWRAP_ASAN) GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
    TempDir dir;
    std::string names;
    for (int i = 0; i < 3000000; ++i)  // 3 million entries need far more than 64 MB
        names += "a\n";
    dir.Write("names.txt", names);
    EXPECT_EXIT(
        {
            LimitAddressSpace();
            Check(dir.str(), dir / "names.txt");
        },
        ::testing::ExitedWithCode(1), "^" + Quote(dir.str()) + "/ : no memory for paths\\.\n$");
}

TEST(SliceListMemoryDeathTest, ReportsAPathThatCannotBeAllocated) {
    if (VOXWRAP_ASAN) GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
    TempDir dir;
    const std::string list = "-" + std::string(100u << 20, 'a');
    EXPECT_EXIT(
        {
            LimitAddressSpace();
            Check(dir.str(), list);
        },
        ::testing::ExitedWithCode(1), "^" + Quote(dir.str()) + "/ : no memory for path\\.\n$");
}

}  // namespace
