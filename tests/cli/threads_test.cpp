// Slices read on several threads: a failing slice in the middle of a stack ends the run as it
// would on one thread, and nothing is written.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support.h"
#include "tiff/tiff_builder.h"
#include "voxwrap/voxwrap.h"

namespace {

// A 4 x 3 uncompressed 16-bit slice, all object samples; countChange adds to its strip's byte
// count (warned "too many codes" when it is read); compression 60000 is unknown and photometric
// 2 is refused. Both fail only when the slice is read, not in the header pass.
std::string Slice(int countChange, std::uint32_t compression = 1, std::uint32_t photometric = 1) {
    tifftest::TiffBuilder tiff;
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 12 + 2; ++i)
        tiff.Put16(data, 2000);
    const std::uint32_t at = tiff.Data(data);
    tiff.Short(256, 4).Short(257, 3).Short(258, 16).Short(259, compression).Short(262, photometric);
    tiff.Long(273, at).Long(278, 3).Long(279, static_cast<std::uint32_t>(24 + countChange));
    const std::vector<std::uint8_t> bytes = tiff.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

const std::vector<std::string> kThreads = {"1", "2", "3", "8"};

TEST(Threads, AFailingMiddleSliceEndsTheRunAsOnOneThread) {
    const std::string dir = TempDir();
    const std::vector<std::string> slices = {Slice(0),       Slice(2),        Slice(0),
                                             Slice(0, 1, 2), Slice(0, 60000), Slice(2)};
    for (std::size_t k = 0; k < slices.size(); ++k)
        WriteFile(dir + "/s" + std::to_string(k) + ".tif", slices[k]);
    const std::string out = TempDir() + "/hull.stl";
    WriteFile(out, "old");
    for (const std::string& threads : kThreads) {
        for (const bool option : {false, true}) {
            std::vector<std::string> args = {dir, "-", "1000-4095", out};
            if (option) args.insert(args.begin(), {"--threads", threads});
            const RunResult r = RunVoxwrap(args);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, dir + "/s1.tif : too many codes (warning).\n" + dir +
                                 "/s3.tif : bad photometric interpretation.\n");
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(ReadFile(out), "old");
        }
    }
}

// A program on the public header hears what the command line prints: the warnings through its
// events, in slice order on any number of threads, then the failure, whose kind says a slice's
// image is at fault.
TEST(Threads, EventsCarryWhatTheCommandLinePrints) {
    const std::string dir = TempDir();
    const std::vector<std::string> slices = {Slice(0), Slice(2), Slice(0), Slice(0, 1, 2)};
    for (std::size_t k = 0; k < slices.size(); ++k)
        WriteFile(dir + "/s" + std::to_string(k) + ".tif", slices[k]);
    const RunResult cli = RunVoxwrap({dir, "-", "1000-4095", "-"});
    for (const unsigned threads : {1u, 3u}) {
        std::string heard;
        voxwrap::SampleOptions options;
        options.threads = threads;
        options.warning = [&heard](const std::string& line) { heard += line + "\n"; };
        try {
            voxwrap::SampleStack(voxwrap::ListStack(dir, "-", options),
                                 voxwrap::Selection::FromRangeList("1000-4095"), options);
            ADD_FAILURE() << "no failure";
        } catch (const voxwrap::Error& e) {
            EXPECT_EQ(e.kind(), voxwrap::Error::Kind::Image);
            heard += std::string(e.what()) + "\n";
        }
        EXPECT_EQ(heard, cli.err) << threads << " threads";
    }
}

// The end-to-end stacks and the example give the same bytes on any number of threads as with the
// default.
TEST(Threads, TheSameBytesOnAnyNumberOfThreads) {
    std::vector<std::vector<std::string>> runs = {
        {SourcePath("examples/mug/slices"), SourcePath("examples/mug/names.txt"), "1000-4095"}};
    for (const char* name : {"box", "cylinder", "disc", "empty_between", "l_shape", "one_pixel",
                             "order", "random0", "random1", "random2", "row_filled", "row_gaps"})
        runs.push_back({SourcePath(std::string("tests/data/cli/") + name + "/slices"), "-",
                        std::string(name) == "disc" ? "100-255" : "1000-4095"});
    runs.push_back({SourcePath("tests/data/cli/sizes/slices"), "-", "0"});
    for (const auto& run : runs) {
        const RunResult plain = RunVoxwrap({run[0], run[1], run[2], "-"});
        ASSERT_EQ(plain.status, 0) << run[0] << plain.err;
        for (const std::string& threads : kThreads) {
            const RunResult r = RunVoxwrap({"--threads", threads, run[0], run[1], run[2], "-"});
            EXPECT_EQ(r.status, 0);
            EXPECT_TRUE(r.out == plain.out) << run[0] << " on " << threads << " threads";
        }
    }
    EXPECT_EQ(ReadFile(SourcePath("examples/mug/expected.stl")),
              RunVoxwrap({"--threads", "3", runs[0][0], runs[0][1], runs[0][2], "-"}).out);
}

TEST(Threads, ABadCountIsRefusedBeforeAnythingIsRead) {
    const std::string out = TempDir() + "/hull.stl";
    const RunResult r =
        RunVoxwrap({"--threads", "0", SourcePath("examples/mug/slices"), "-", "1000-4095", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "--threads 0 : bad value.\nusage : voxwrap [options] directory nameFile "
                     "rangeList STL\n");
    EXPECT_FALSE(std::ifstream(out).good());
}

}  // namespace
