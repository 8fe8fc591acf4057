#include "driver/spacing.h"

#include <gtest/gtest.h>

#include <map>

#include "support.h"
#include "tiff/tiff_builder.h"

namespace {

const char kUsage[] = "\nusage : voxwrap [options] directory nameFile rangeList STL";

SliceTags ImageJ(const std::string& lines) {
    SliceTags t;
    t.xNum = t.yNum = 20;  // 20 pixels per unit: 0.05
    t.xDen = t.yDen = 1;
    t.unit = 1;
    t.description = "ImageJ=1.11a\nimages=3\n" + lines;
    return t;
}

TEST(SpacingFromTags, ReadsImageJAndPlainResolutions) {
    SliceTags plain;
    plain.xNum = 100;
    plain.xDen = 1;
    plain.yNum = 50;
    plain.yDen = 1;
    plain.unit = 3;
    const struct {
        SliceTags tags;
        FoundSpacing::Kind kind;
        double x, y, z;
        std::string unit;
    } cases[] = {
        {ImageJ("spacing=2.5\nunit=\\u00B5m\n"), FoundSpacing::Kind::Complete, 0.05, 0.05, 2.5,
         "µm"},
        {ImageJ("unit=micron\nspacing=0.5"), FoundSpacing::Kind::Complete, 0.05, 0.05, 0.5,
         "micron"},
        {ImageJ("unit=mm\n"), FoundSpacing::Kind::PlaneOnly, 0.05, 0.05, 1, "mm"},
        {ImageJ("unit=mm\nspacing=-1\n"), FoundSpacing::Kind::PlaneOnly, 0.05, 0.05, 1, "mm"},
        {ImageJ("spacing=2.5\nunit=pixel\n"), FoundSpacing::Kind::Nothing, 1, 1, 1, ""},
        {ImageJ("spacing=2.5\n"), FoundSpacing::Kind::Nothing, 1, 1, 1, ""},
        {plain, FoundSpacing::Kind::PlaneOnly, 0.01, 0.02, 1, "cm"},
    };
    for (const auto& c : cases) {
        const FoundSpacing f = SpacingFromTags(c.tags);
        EXPECT_EQ(f.kind, c.kind) << c.tags.description;
        EXPECT_EQ(f.spacing.s[0], c.x);
        EXPECT_EQ(f.spacing.s[1], c.y);
        EXPECT_EQ(f.spacing.s[2], c.z);
        EXPECT_EQ(f.unit, c.unit);
    }
    // Without a unit a resolution is only an aspect ratio; without a resolution nothing is known.
    SliceTags unitless = plain;
    unitless.unit = 1;
    EXPECT_EQ(SpacingFromTags(unitless).kind, FoundSpacing::Kind::Nothing);
    SliceTags zero = ImageJ("spacing=2\nunit=mm\n");
    zero.xDen = 0;
    EXPECT_EQ(SpacingFromTags(zero).kind, FoundSpacing::Kind::Nothing);
    SliceTags inch = plain;
    inch.unit = 2;
    EXPECT_EQ(SpacingFromTags(inch).unit, "inch");
}

TEST(SpacingFromSlices, NeedsACompleteSizeOnEverySlice) {
    std::map<std::string, SliceTags> files = {
        {"a.tif", ImageJ("spacing=2\nunit=mm\n")},
        {"b.tif", ImageJ("unit=mm\nspacing=2\nslices=3\n")},
        {"c.tif", ImageJ("spacing=3\nunit=mm\n")},
        {"d.tif", ImageJ("unit=mm\n")},
        {"e.tif", SliceTags{}},
    };
    auto read = [&files](const std::string& path) { return files.at(path); };
    const FoundSpacing f = SpacingFromSlices({"a.tif", "b.tif"}, read);
    EXPECT_EQ(f.spacing.s[2], 2);
    EXPECT_EQ(f.unit, "mm");
    EXPECT_EQ(FailureText([&] {
                  SpacingFromSlices({"a.tif", "b.tif", "c.tif", "d.tif"}, read);
              }),
              "--spacing tiff : c.tif differs from a.tif." + std::string(kUsage));
    EXPECT_EQ(FailureText([&] {
                  SpacingFromSlices({"a.tif", "e.tif"}, read);
              }),
              "--spacing tiff : e.tif differs from a.tif." + std::string(kUsage));
    EXPECT_EQ(FailureText([&] {
                  SpacingFromSlices({"e.tif", "a.tif"}, read);
              }),
              "--spacing tiff : e.tif gives no voxel size; give --spacing SX,SY,SZ." +
                  std::string(kUsage));
    EXPECT_EQ(FailureText([&] { SpacingFromSlices({"d.tif"}, read); }),
              "--spacing tiff : d.tif gives 0.05 x 0.05 mm per pixel but no slice distance; "
              "give --spacing 0.05,0.05,SZ." +
                  std::string(kUsage));
}

TEST(ReadSliceTags, ReadsTheRationalsTheUnitAndTheDescription) {
    const std::string data = std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/";
    // tifffile's ImageJ mode stores 1 / 0.35 pixels per unit as 4294967295 / 1503238553.
    const SliceTags ij = ReadSliceTags(data + "options/imagej/slices/s00.tif");
    EXPECT_EQ(ij.xNum, 4294967295u);
    EXPECT_EQ(ij.xDen, 1503238553u);
    EXPECT_EQ(ij.yNum, 4294967295u);
    EXPECT_EQ(ij.yDen, 1503238553u);
    EXPECT_EQ(ij.unit, 1u);
    EXPECT_NE(ij.description.find("\nspacing=2.5\nunit=\\u00B5m"), std::string::npos);
    const SliceTags cm = ReadSliceTags(data + "options/resolution/slices/s01.tif");
    EXPECT_EQ(cm.xNum, 100u);
    EXPECT_EQ(cm.xDen, 1u);
    EXPECT_EQ(cm.unit, 3u);
    // Most significant byte first; no unit tag means inch; a rational with a count of 2 is no
    // resolution.
    for (const bool big : {false, true}) {
        tifftest::TiffBuilder b(big);
        std::vector<std::uint8_t> rational;
        b.Put32(rational, 300);
        b.Put32(rational, 2);
        b.Long(256, 1).Long(257, 1);
        const std::uint32_t at = b.Data(rational);
        std::vector<std::uint8_t> field;
        b.Put32(field, at);
        b.Raw(282, 5, 1, field).Raw(283, 5, 2, field);
        const SliceTags t =
            ReadSliceTags(tifftest::WriteFile(big ? "mm.tif" : "ii.tif", b.Bytes()));
        EXPECT_EQ(t.xNum, 300u) << big;
        EXPECT_EQ(t.xDen, 2u);
        EXPECT_EQ(t.yNum, 0u);
        EXPECT_EQ(t.yDen, 0u);
        EXPECT_EQ(t.unit, 2u);
        EXPECT_EQ(t.description, "");
    }
}

}  // namespace
