#include "slices/spacing.h"

#include <gtest/gtest.h>

#include <map>

#include "support.h"
#include "tiff/tiff_builder.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

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
        // y and z in units of their own, converted to x's
        {ImageJ("unit=micron\nzunit=mm\nspacing=0.0025\n"), FoundSpacing::Kind::Complete, 0.05,
         0.05, 2.5, "micron"},
        {ImageJ("unit=mm\nyunit=cm\nzunit=inch\nspacing=1\n"), FoundSpacing::Kind::Complete, 0.05,
         0.5, 25.4, "mm"},
        {ImageJ("unit=\\u00B5m\nzunit=nm\nspacing=500\n"), FoundSpacing::Kind::Complete, 0.05, 0.05,
         0.5, "µm"},
        {ImageJ("unit=um\nzunit=um\nspacing=2\n"), FoundSpacing::Kind::Complete, 0.05, 0.05, 2,
         "um"},
        {ImageJ("unit=mm\nzunit=furlong\n"), FoundSpacing::Kind::PlaneOnly, 0.05, 0.05, 1, "mm"},
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

using Read = std::function<SliceTags(const std::string&, const TiffPage*)>;

// The slices of a stack of 8 x 8 voxels, one per path.
FoundSpacing FromSlices(const std::vector<std::string>& paths, const Read& read,
                        bool unitGiven = false) {
    SpacingSlices slices;
    slices.paths = paths;
    slices.voxels = {8, 8, static_cast<std::int64_t>(paths.size())};
    slices.unitGiven = unitGiven;
    return SpacingFromSlices(slices, read);
}

TEST(SpacingFromSlices, NeedsACompleteSizeOnEverySlice) {
    std::map<std::string, SliceTags> files = {
        {"a.tif", ImageJ("spacing=2\nunit=mm\n")},
        {"b.tif", ImageJ("unit=mm\nspacing=2\nslices=3\n")},
        {"c.tif", ImageJ("spacing=3\nunit=mm\n")},
        {"d.tif", ImageJ("unit=mm\n")},
        {"e.tif", SliceTags{}},
    };
    auto read = [&files](const std::string& path, const TiffPage*) { return files.at(path); };
    const FoundSpacing f = FromSlices({"a.tif", "b.tif"}, read);
    EXPECT_EQ(f.spacing.s[2], 2);
    EXPECT_EQ(f.unit, "mm");
    EXPECT_EQ(FailureText([&] {
                  FromSlices({"a.tif", "b.tif", "c.tif", "d.tif"}, read);
              }),
              "--spacing tiff : c.tif differs from a.tif.");
    EXPECT_EQ(FailureText([&] {
                  FromSlices({"a.tif", "e.tif"}, read);
              }),
              "--spacing tiff : e.tif differs from a.tif.");
    EXPECT_EQ(FailureText([&] {
                  FromSlices({"e.tif", "a.tif"}, read);
              }),
              "--spacing tiff : e.tif gives no voxel size; give --spacing SX,SY,SZ.");
    EXPECT_EQ(FailureText([&] { FromSlices({"d.tif"}, read); }),
              "--spacing tiff : d.tif gives 0.05 x 0.05 mm per pixel but no slice distance; "
              "give --spacing 0.05,0.05,SZ.");
}

// What the first slice records is refused, naming it, when it cannot be used as it stands: y or
// z in a unit that is no length, a size beyond single precision for the stack, a unit that
// cannot be written (shown escaped, and never said as found).
TEST(SpacingFromSlices, RefusesWhatCannotBeUsedAsItStands) {
    const struct {
        std::string lines;
        std::string message;  // after "--spacing tiff : a.tif "; "" when accepted
        std::string found;    // the line on standard error
    } cases[] = {
        {"unit=micron\nzunit=furlong\nspacing=2\n",
         "gives zunit \"furlong\" for unit \"micron\"; give --spacing SX,SY,SZ.", ""},
        {"unit=micron\nyunit=pixel\nspacing=2\n",
         "gives yunit \"pixel\" for unit \"micron\"; give --spacing SX,SY,SZ.", ""},
        {"unit=mm\nzunit=\\u001b[2J\nspacing=2\n",
         "gives zunit \"\\u001B[2J\" for unit \"mm\"; give --spacing SX,SY,SZ.", ""},
        {"unit=mm\nspacing=1e308\n",
         "gives 0.05 x 0.05 x 1e+308 mm per voxel, beyond single precision; give --spacing "
         "SX,SY,SZ.",
         ""},
        {"unit=mm\nspacing=1e-300\n",
         "gives 0.05 x 0.05 x 1e-300 mm per voxel, beyond single precision; give --spacing "
         "SX,SY,SZ.",
         ""},
        {"unit=\\u001b[2J\\u001b[31mOK\nspacing=2\n",
         "gives the unit \"\\u001B[2J\\u001B[31mOK\"; give --unit NAME.", ""},
        {"unit=a\\u000ab\nspacing=2\n", "gives the unit \"a\\u000Ab\"; give --unit NAME.", ""},
        {"unit=a\x1b\r\tb\nspacing=2\n",
         "gives the unit \"a\\u001B\\u000D\\u0009b\"; give --unit NAME.", ""},
        {"unit=\\uD800\nspacing=2\n", "gives the unit \"\\xED\\xA0\\x80\"; give --unit NAME.", ""},
        {"unit=\\u001b[2J\n",
         "gives 0.05 x 0.05 \\u001B[2J per pixel but no slice distance; give --spacing "
         "0.05,0.05,SZ.",
         ""},
        {"unit=\\uD83D\\uDE00\nspacing=2\n", "", "a.tif : spacing 0.05,0.05,2 \xF0\x9F\x98\x80.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        const auto read = [&c](const std::string&, const TiffPage*) { return ImageJ(c.lines); };
        for (const bool unitGiven : {false, true}) {
            std::string notice;
            const std::string text =
                FailureText([&] { notice = FromSlices({"a.tif"}, read, unitGiven).notice; });
            // --unit names the unit instead: a unit that cannot be written is then no failure,
            // but it is not said either.
            const bool unitOnly = c.message.find("give --unit") != std::string::npos;
            if (c.message.empty() || (unitOnly && unitGiven)) {
                EXPECT_EQ(text, "(no failure)");
            } else {
                EXPECT_EQ(text, "--spacing tiff : a.tif " + c.message);
            }
            EXPECT_EQ(notice.empty() ? notice : notice + "\n", c.found);
        }
    }
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
