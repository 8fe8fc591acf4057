#include "cli/options.h"
#include "mesh/units.h"

#include <gtest/gtest.h>

#include "support.h"

using namespace voxwrap;       // the tests speak the library's names
using namespace voxwrap::cli;  // and the command line's

namespace {

Options Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "voxwrap");
    return ParseOptions(static_cast<int>(args.size()), args.data());
}

std::string ParseFailure(const std::vector<const char*>& args) {
    return FailureText([&] { Parse(args); });
}

using Args = std::vector<std::string>;

TEST(ParseOptions, FourArgumentsAreReadAsTheyAlwaysWere) {
    // Exactly four arguments are the four arguments, whatever they look like.
    const std::vector<std::vector<const char*>> calls = {
        {"d", "n", "1", "o.stl"},
        {"--quiet", "--n", "1", "-"},
        {"--help", "-", "1", "-"},
        {"--bogus", "-a.tif b.tif", "1", "-out.stl"},
    };
    for (const auto& call : calls) {
        const Options o = Parse(call);
        EXPECT_EQ(o.args, Args(call.begin(), call.end()));
        EXPECT_FALSE(o.help || o.version || o.quiet || o.spacingGiven || o.unitGiven);
        EXPECT_EQ(o.format, MeshFormat::Stl);
        EXPECT_EQ(o.report, "");
    }
}

TEST(ParseOptions, ReadsEveryOptionBeforeTheArguments) {
    const Options o = Parse({"--quiet", "--spacing", "0.5,.25,2e1", "--unit=mm", "--format", "ply",
                             "--report=r.json", "--verify", "--", "--d", "--n", "1", "-"});
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.verify);
    EXPECT_TRUE(o.spacingGiven);
    EXPECT_EQ(o.spacing.s[0], 0.5);
    EXPECT_EQ(o.spacing.s[1], 0.25);
    EXPECT_EQ(o.spacing.s[2], 20);
    EXPECT_TRUE(o.unitGiven);
    EXPECT_EQ(o.unit, "mm");
    EXPECT_EQ(o.format, MeshFormat::Ply);
    EXPECT_EQ(o.report, "r.json");
    EXPECT_EQ(o.args, (Args{"--d", "--n", "1", "-"}));

    const std::pair<const char*, MeshFormat> formats[] = {{"stl", MeshFormat::Stl},
                                                          {"stl-ascii", MeshFormat::StlAscii},
                                                          {"ply", MeshFormat::Ply},
                                                          {"obj", MeshFormat::Obj}};
    for (const auto& [name, format] : formats)
        EXPECT_EQ(Parse({"--format", name, "d", "n", "1", "o"}).format, format) << name;
    EXPECT_EQ(Parse({"--report", "-", "d", "n", "1", "o.stl"}).report, "-");
    EXPECT_EQ(Parse({"--unit", "\xC2\xB5m", "d", "n", "1", "o"}).unit, "µm");
    EXPECT_EQ(Parse({"--", "-", "--r", "1", "-"}).args, (Args{"-", "--r", "1", "-"}));
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_TRUE(Parse({"--help", "--bogus"}).help) << "--help answers where it stands";
    EXPECT_TRUE(Parse({"--quiet", "--version", "x"}).version);
}

TEST(ParseOptions, RefusesBadOptionsByName) {
    const std::string usage = "\nusage : voxwrap [options] directory nameFile rangeList STL";
    const struct {
        std::vector<const char*> args;
        std::string message;
    } cases[] = {
        {{"--bogus", "d", "n", "1", "o"}, "--bogus : unknown option."},
        {{"--bogus"}, "--bogus : unknown option."},
        {{"--n", "n", "1"}, "--n : unknown option."},
        {{"--spacing"}, "--spacing : missing value."},
        {{"--quiet=1", "d", "n", "1", "o"}, "--quiet : takes no value."},
        {{"--quiet", "--quiet", "d", "n", "1", "o"}, "--quiet : given twice."},
        {{"--verify=yes", "d", "n", "1", "o"}, "--verify : takes no value."},
        {{"--verify", "--verify", "d", "n", "1", "o"}, "--verify : given twice."},
        {{"--unit", "a", "--unit", "b", "d", "n", "1", "o"}, "--unit : given twice."},
        {{"--unit", "", "d", "n", "1", "o"}, "--unit  : bad value."},
        {{"--unit", "a b", "d", "n", "1", "o"}, "--unit a b : bad value."},
        {{"--unit", "a\"b", "d", "n", "1", "o"}, "--unit a\"b : bad value."},
        {{"--unit", "\xB5m", "d", "n", "1", "o"}, "--unit \xB5m : bad value."},
        {{"--unit", "m\xC2", "d", "n", "1", "o"}, "--unit m\xC2 : bad value."},
        {{"--format", "STL", "d", "n", "1", "o"}, "--format STL : bad value."},
        {{"--report=", "d", "n", "1", "o"}, "--report  : bad value."},
        {{"--report", "-", "d", "n", "1", "-"},
         "--report - : standard output already holds the mesh."},
        {{"--report", "-", "d", "n", "1", "-o.stl"},
         "--report - : standard output already holds the mesh."},
        {{"--report", "o.stl", "d", "n", "1", "o.stl"}, "--report o.stl : the mesh's own file."},
        {{"--quiet", "d", "n"}, "usage : voxwrap [options] directory nameFile rangeList STL"},
    };
    for (const auto& c : cases) {
        const std::string expected =
            c.message.rfind("usage", 0) == 0 ? c.message : c.message + usage;
        EXPECT_EQ(ParseFailure(c.args), expected) << c.args[0];
    }
    EXPECT_EQ(ParseFailure({"d", "n", "1"}), "usage : voxwrap directory nameFile rangeList STL");
}

TEST(ParseOptions, ThreadsAreOneTo1024) {
    EXPECT_EQ(Parse({"d", "n", "1", "o"}).threads, 0u);  // one per core
    for (const unsigned good : {1u, 2u, 8u, 1024u}) {
        const std::string text = std::to_string(good);
        EXPECT_EQ(Parse({"--threads", text.c_str(), "d", "n", "1", "o"}).threads, good);
    }
    EXPECT_EQ(Parse({"--threads=0003", "d", "n", "1", "o"}).threads, 3u);
    for (const char* bad :
         {"", "0", "1025", "99999", "-1", "+2", " 2", "2 ", "2.0", "two", "0x2"}) {
        EXPECT_EQ(ParseFailure({"--threads", bad, "d", "n", "1", "o"}),
                  "--threads " + std::string(bad) +
                      " : bad value.\nusage : voxwrap [options] directory nameFile rangeList STL")
            << bad;
    }
    EXPECT_EQ(
        ParseFailure({"--threads", "2", "--threads", "2", "d", "n", "1", "o"}),
        "--threads : given twice.\nusage : voxwrap [options] directory nameFile rangeList STL");
}

TEST(ParseOptions, SpacingIsThreePositiveDecimals) {
    for (const char* good : {"1,1,1", "0.5,0.5,2", ".5,5.,1e-3", "1E2,2,3"}) {
        EXPECT_TRUE(Parse({"--spacing", good, "d", "n", "1", "o"}).spacingGiven) << good;
    }
    const Options tiff = Parse({"--spacing", "tiff", "d", "n", "1", "o"});
    EXPECT_TRUE(tiff.spacingTiff);
    EXPECT_FALSE(tiff.spacingGiven);
    for (const char* bad : {"",
                            "1",
                            "1,1",
                            "1,1,1,1",
                            "1,,1",
                            ",1,1",
                            "1,1,",
                            "0,1,1",
                            "-1,1,1",
                            "+1,1,1",
                            " 1,1,1",
                            "1 ,1,1",
                            "a,1,1",
                            "inf,1,1",
                            "nan,1,1",
                            "0x1p1,1,1",
                            "1e999,1,1",
                            "1e-999,1,1",
                            "1;1;1",
                            "TIFF",
                            "1e200,1e200,1e200",
                            "1,4.9e-324,1",
                            "1,1,1e-310",
                            "1e-200,1,1"}) {
        EXPECT_EQ(ParseFailure({"--spacing", bad, "d", "n", "1", "o"}),
                  "--spacing " + std::string(bad) +
                      " : bad value.\nusage : voxwrap [options] directory nameFile rangeList STL")
            << bad;
    }
}

// The mesh holds single-precision numbers: every step (one voxel along an axis, and the product
// of two, which the STL's normals are made of) must be a normal number, every coordinate and
// normal component (up to twice the product of two extents) finite.
TEST(SpacingFits, KeepsEveryNumberOfTheMeshInSinglePrecision) {
    const std::int64_t most = std::int64_t{1} << 24;
    const struct {
        Spacing spacing;
        std::array<std::int64_t, 3> voxels;
        bool fits;
    } cases[] = {
        {{{1, 1, 1}}, {most, most, most}, true},
        {{{0.35, 0.35, 2.5}}, {512, 512, 300}, true},
        {{{1.2e-38, 1, 1}}, {1, 1, 1}, true},  // just above FLT_MIN = 1.1754944e-38
        {{{1e-38, 1, 1}}, {1, 1, 1}, false},   // subnormal in single precision
        {{{4.9e-324, 1, 1}}, {1, 1, 1}, false},
        {{{1e-20, 1e-20, 1}}, {1, 1, 1}, false},  // a normal's step of 1e-40
        {{{1e-18, 1e-18, 1}}, {1, 1, 1}, true},
        {{{3.4e38, 0.5, 0.5}}, {1, 1, 1}, true},  // FLT_MAX = 3.4028235e38
        {{{3.4e38, 0.5, 0.5}}, {2, 1, 1}, false},
        {{{3.4e38, 1, 1}}, {1, 1, 1}, false},  // a normal component of 2 x 3.4e38
        {{{1e38, 1, 1}}, {10, 1, 1}, false},
        {{{1e200, 1e200, 1e200}}, {1, 1, 1}, false},
        {{{1e19, 1e19, 1}}, {1, 1, 1}, true},  // normals up to 2e38
        {{{1e19, 1e19, 1}}, {2, 1, 1}, false},
        {{{1, 1, 1e31}}, {most, 1, 1}, true},  // 2 x 2^24 x 1e31 = 3.4e38
        {{{1, 1, 1e32}}, {most, 1, 1}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SpacingFits(c.spacing, c.voxels), c.fits)
            << c.spacing.s[0] << "," << c.spacing.s[1] << "," << c.spacing.s[2] << " for "
            << c.voxels[0] << " x " << c.voxels[1] << " x " << c.voxels[2];
    }
}

// A unit is written into JSON, mesh headers and messages: well-formed UTF-8 without control
// characters; a message shows any other unit escaped.
TEST(GoodUnit, TakesWellFormedUtf8WithoutControlCharacters) {
    const struct {
        std::string unit;
        bool good;
        std::string shown;
    } cases[] = {
        {"mm", true, "mm"},
        {"\xC2\xB5m", true, "\xC2\xB5m"},                     // µm
        {"\xED\x9F\xBF", true, "\xED\x9F\xBF"},               // U+D7FF, below the surrogates
        {"\xEE\x80\x80", true, "\xEE\x80\x80"},               // U+E000, above them
        {"\xF0\x90\x80\x80", true, "\xF0\x90\x80\x80"},       // U+10000
        {"\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF"},       // U+10FFFF
        {"\xED\xA0\x80", false, "\\xED\\xA0\\x80"},           // U+D800, a surrogate
        {"\xED\xBF\xBF", false, "\\xED\\xBF\\xBF"},           // U+DFFF
        {"\xC0\xB5", false, "\\xC0\\xB5"},                    // overlong two bytes
        {"\xE0\x9F\xBF", false, "\\xE0\\x9F\\xBF"},           // overlong three bytes
        {"\xF0\x8F\xBF\xBF", false, "\\xF0\\x8F\\xBF\\xBF"},  // overlong four bytes
        {"\xF4\x90\x80\x80", false, "\\xF4\\x90\\x80\\x80"},  // U+110000
        {"\xF5\x80\x80\x80", false, "\\xF5\\x80\\x80\\x80"},
        {"m\xC2", false, "m\\xC2"},  // cut
        {"\x1B[2J\x1B[31mOK", false, "\\u001B[2J\\u001B[31mOK"},
        {"a\rb", false, "a\\u000Db"},
        {"a\tb", false, "a\\u0009b"},
        {"a\nb", false, "a\\u000Ab"},
        {"a\x7F", false, "a\\u007F"},
        {"\xC2\x9B"
         "2J",
         false, "\\u009B2J"},  // C1 control sequence introducer
        {"a b", false, "a b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GoodUnit(c.unit), c.good) << c.shown;
        EXPECT_EQ(ShownUnit(c.unit), c.shown);
    }
    EXPECT_EQ(ParseFailure({"--unit", "\xED\xA0\x80", "d", "n", "1", "o"}),
              "--unit \xED\xA0\x80 : bad value.\n"
              "usage : voxwrap [options] directory nameFile rangeList STL");
}

}  // namespace
