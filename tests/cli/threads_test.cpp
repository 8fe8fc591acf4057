// Slices read on several threads: a failing slice in the middle of a stack ends the run as it
// would on one thread, and nothing is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"
#include "tiff/tiff_builder.h"

namespace {

// A 4 x 3 uncompressed 16-bit slice, all object samples; countChange changes its strip's byte
// count (more: warned "too many codes", less: fails "too few codes."), compression 7 is unknown.
std::string Slice(int countChange, std::uint32_t compression = 1) {
    tifftest::TiffBuilder tiff;
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 12 + 2; ++i)
        tiff.Put16(data, 2000);
    const std::uint32_t at = tiff.Data(data);
    tiff.Short(256, 4).Short(257, 3).Short(258, 16).Short(259, compression).Short(262, 1);
    tiff.Long(273, at).Long(278, 3).Long(279, static_cast<std::uint32_t>(24 + countChange));
    const std::vector<std::uint8_t> bytes = tiff.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

TEST(Threads, AFailingMiddleSliceEndsTheRunAsOnOneThread) {
    const std::string dir = TempDir();
    const std::vector<std::string> slices = {Slice(0),  Slice(2),    Slice(0),
                                             Slice(-2), Slice(0, 7), Slice(2)};
    for (std::size_t k = 0; k < slices.size(); ++k)
        WriteFile(dir + "/s" + std::to_string(k) + ".tif", slices[k]);
    const std::string out = TempDir() + "/hull.stl";
    WriteFile(out, "old");
    const RunResult r = RunVoxwrap({dir, "-", "1000-4095", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              dir + "/s1.tif : too many codes (warning).\n" + dir + "/s3.tif : too few codes.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(out), "old");
}

}  // namespace
