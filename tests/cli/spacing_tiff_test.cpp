// --spacing tiff on stacks written by tifffile: the voxel size the slices record, said on
// standard error, or a refusal that names the slice and writes nothing.
#include "cli/stl_check.h"
#include "support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace {

const char kOptionsUsage[] = "usage : voxwrap [options] directory nameFile rangeList STL\n";

std::string Stack(const std::string& name) {
    return std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/" + name + "/slices";
}

TEST(SpacingTiff, TakesTheImageJVoxelSize) {
    const std::string slices = Stack("options/imagej");
    const std::string dir = TempDir();
    const RunResult r = RunVoxwrap(
        {"--spacing", "tiff", "--report", "-", slices, "-", "1000-4095", dir + "/h.stl"});
    ASSERT_EQ(r.status, 0) << r.err;
    // 1 / 0.35 pixels per micrometre is stored as the rational 4294967295 / 1503238553.
    const double x = 1503238553.0 / 4294967295.0;
    EXPECT_EQ(r.err, slices + "/s00.tif : spacing 0.3499999999417923,0.3499999999417923,2.5 µm.\n");
    EXPECT_NE(r.out.find("\"spacing\": [0.3499999999417923, 0.3499999999417923, 2.5]"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"unit\": \"µm\""), std::string::npos);
    const std::string bytes = ReadFile(dir + "/h.stl");
    EXPECT_EQ(bytes.substr(0, 80), "voxwrap hull, unit µm" + std::string(58, '\0'));
    // The box: columns 3-6, rows 2-4, three slices.
    const StlFile stl = ParseStl(std::string(80, '\0') + bytes.substr(80));
    std::set<std::vector<float>> corners, expected;
    for (const Facet& f : stl.facets) {
        for (const auto& v : f.vertex)
            corners.insert({v[0], v[1], v[2]});
    }
    for (const int i : {3, 7}) {
        for (const int j : {2, 5}) {
            for (const int k : {0, 3})
                expected.insert({static_cast<float>(i * x), static_cast<float>(j * x),
                                 static_cast<float>(k * 2.5)});
        }
    }
    EXPECT_EQ(corners, expected);

    const RunResult unit = RunVoxwrap({"--unit", "um", "--spacing=tiff", "--report", "-", slices,
                                       "-", "1000-4095", dir + "/u.stl"});
    ASSERT_EQ(unit.status, 0) << unit.err;
    EXPECT_NE(unit.out.find("\"unit\": \"um\""), std::string::npos) << "--unit names it";
}

// ImageJ's zunit: the slice distance in millimetres, the pixels in micrometres. The same slices
// as one stack file in ImageJ's layout (the description on the first page only), in both
// orders.
TEST(SpacingTiff, ConvertsZunitInSlicesAndStackFiles) {
    const std::string stack =
        std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/options/stack/imagej.tif";
    const struct {
        std::string directory, nameFile, first;
    } cases[] = {
        {Stack("options/zunit"), "-", Stack("options/zunit") + "/s00.tif"},
        {stack, "-", stack},
        {stack, "--r", stack},
    };
    for (const auto& c : cases) {
        const std::string dir = TempDir();
        const RunResult r = RunVoxwrap({"--spacing", "tiff", "--report", "-", c.directory,
                                        c.nameFile, "1000-4095", dir + "/h.stl"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, c.first + " : spacing 0.5,0.5,2.5 micron.\n");
        EXPECT_NE(r.out.find("\"spacing\": [0.5, 0.5, 2.5]"), std::string::npos) << r.out;
    }
}

TEST(SpacingTiff, RefusesWhatIsIncompleteOrDiffers) {
    const std::string box = std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/cli/box/slices";
    // Every page of a stack file is compared, and named by its number in the file.
    const std::string differs =
        std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/options/stack/differs.tif";
    const struct {
        std::string slices;
        std::string message;
        std::string nameFile = "-";
    } cases[] = {
        {differs, differs + " image 2 differs from " + differs + " image 1."},
        {differs, differs + " image 2 differs from " + differs + " image 3.", "--r"},
        {box, box + "/s00.tif gives no voxel size; give --spacing SX,SY,SZ."},
        {Stack("options/resolution"), Stack("options/resolution") +
                                          "/s00.tif gives 0.01 x 0.01 cm per pixel but no slice "
                                          "distance; give --spacing 0.01,0.01,SZ."},
        {Stack("options/disagree"), Stack("options/disagree") + "/s02.tif differs from " +
                                        Stack("options/disagree") + "/s00.tif."},
    };
    for (const auto& c : cases) {
        const std::string dir = TempDir();
        const RunResult r =
            RunVoxwrap({"--spacing", "tiff", c.slices, c.nameFile, "1000-4095", dir + "/h.stl"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "--spacing tiff : " + c.message + "\n" + kOptionsUsage);
        EXPECT_TRUE(std::filesystem::is_empty(dir));
    }
}

}  // namespace
