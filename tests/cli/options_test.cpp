// The options as a user runs them: help and version, refusals that write nothing, the spacing,
// and the report checked against the fixtures' own voxel listings and the STL's volume.
#include "cli/stl_check.h"
#include "support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

__extension__ typedef __int128 Int128;

const char kOptionsUsage[] = "usage : voxwrap [options] directory nameFile rangeList STL\n";

std::string Stack(const std::string& name) {
    return std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/cli/" + name;
}

std::string Slices(const std::string& name) { return Stack(name) + "/slices"; }

// The number of object voxels the fixture script listed: one line each.
std::int64_t ListedVoxels(const std::string& name) {
    std::istringstream in(ReadFile(Stack(name) + "/voxels.txt"));
    std::int64_t count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.empty() ? 0 : 1;
    return count;
}

// The number after "key": in the report, or the n-th number of the array after it.
double Field(const std::string& json, const std::string& key, int n = -1) {
    const std::size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << key << " in " << json;
        return NAN;
    }
    const char* p = json.c_str() + at + key.size() + 4;
    if (n >= 0) {
        ++p;  // "["
        for (int i = 0; i < n; ++i)
            p = std::strchr(p, ',') + 1;
    }
    char* end = nullptr;
    const double value = std::strtod(p, &end);
    EXPECT_NE(end, p) << key;
    return value;
}

TEST(Options, HelpAndVersionAnswerOnStandardOutput) {
    const RunResult help = RunVoxwrap({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind(kOptionsUsage, 0), 0u);
    for (const char* option :
         {"--spacing", "--unit", "--format", "--report", "--threads", "--quiet", "--verify",
          "--help", "--version", "stl-ascii", "ply", "obj"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    const RunResult version = RunVoxwrap({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(version.out.rfind("voxwrap ", 0), 0u);
    EXPECT_EQ(version.out.back(), '\n');
}

TEST(Options, EveryRefusalNamesTheOptionAndWritesNothing) {
    const struct {
        std::vector<std::string> options;
        std::string message;
        std::string stl = "h.stl";
    } cases[] = {
        {{"--bogus"}, "--bogus : unknown option."},
        {{"--spacing", "1,0,1"}, "--spacing 1,0,1 : bad value."},
        // Beyond single precision for the box's 10 columns (1e39), with the report asked for.
        {{"--spacing", "1e38,1,1", "--report", "r.json"}, "--spacing 1e38,1,1 : bad value."},
        {{"--spacing", "1e-310,1,1"}, "--spacing 1e-310,1,1 : bad value."},
        {{"--format", "vrml"}, "--format vrml : bad value."},
        {{"--unit", "a b"}, "--unit a b : bad value."},
        {{"--quiet", "--quiet"}, "--quiet : given twice."},
        {{"--report", "-"}, "--report - : standard output already holds the mesh.", "-"},
    };
    for (const auto& c : cases) {
        const std::string dir = TempDir();
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {Slices("box"), "-", "1000-4095", c.stl});
        const RunResult r = RunVoxwrap(args, dir);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err, c.message + "\n" + kOptionsUsage);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(fs::is_empty(dir)) << c.message;
    }
}

TEST(Options, DashDashEndsTheOptionsAndTheArgumentsMayBeginWithDashes) {
    // A directory named --scans is read after "--"; alone with three arguments it is read as is.
    const std::string dir = TempDir();
    fs::create_directory_symlink(Slices("box"), dir + "/--scans");
    const RunResult a = RunVoxwrap({"--quiet", "--", "--scans", "--n", "1000-4095", "-"}, dir);
    const RunResult b = RunVoxwrap({"--scans", "--n", "1000-4095", "-out.stl"}, dir);
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(ParseStl(a.out).count, 12u);
}

// --verify checks the hull against every sampling point and changes no byte of any output.
TEST(Verify, PassesOnTheMugAndChangesNoByte) {
    const std::string mug = std::string(VOXWRAP_SOURCE_DIR) + "/examples/mug";
    const std::string dir = TempDir();
    for (const char* format : {"stl", "ply"}) {
        SCOPED_TRACE(format);
        const RunResult plain =
            RunVoxwrap({"--format", format, "--report", dir + "/plain.json", mug + "/slices",
                        mug + "/names.txt", "1000-4095", dir + "/plain.out"});
        const RunResult r =
            RunVoxwrap({"--verify", "--format", format, "--report", dir + "/verified.json",
                        mug + "/slices", mug + "/names.txt", "1000-4095", dir + "/verified.out"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadFile(dir + "/verified.out"), ReadFile(dir + "/plain.out"));
        EXPECT_EQ(ReadFile(dir + "/verified.json"), ReadFile(dir + "/plain.json"));
    }
    const RunResult stl = RunVoxwrap(
        {"--verify", mug + "/slices", mug + "/names.txt", "1000-4095", dir + "/mug.stl"});
    ASSERT_EQ(stl.status, 0) << stl.err;
    EXPECT_EQ(ReadFile(dir + "/mug.stl"), ReadFile(mug + "/expected.stl"));
}

TEST(Spacing, ABoxHasExactlyTheScaledCorners) {
    // The box covers columns 4-6, rows 3-7, slices 0-2: corners x 4, 7; y 3, 8; z 0, 3.
    const std::string out = TempDir() + "/h.stl";
    const RunResult r =
        RunVoxwrap({"--spacing", "0.5,0.5,2", Slices("box"), "-", "1000-4095", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bytes = ReadFile(out);
    EXPECT_EQ(bytes.substr(0, 80), std::string(80, '\0')) << "no unit given, no header text";
    const StlFile stl = ParseStl(bytes);
    ASSERT_EQ(stl.count, 12u);
    std::set<std::vector<float>> corners;
    for (const Facet& f : stl.facets) {
        for (const auto& v : f.vertex)
            corners.insert({v[0], v[1], v[2]});
        // The normal is the cross product of the scaled edges.
        const float* a = f.vertex[0];
        const float* b = f.vertex[1];
        const float* c = f.vertex[2];
        const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const float w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        EXPECT_EQ(f.normal[0], u[1] * w[2] - u[2] * w[1]);
        EXPECT_EQ(f.normal[1], u[2] * w[0] - u[0] * w[2]);
        EXPECT_EQ(f.normal[2], u[0] * w[1] - u[1] * w[0]);
    }
    std::set<std::vector<float>> expected;
    for (const float x : {2.0f, 3.5f}) {
        for (const float y : {1.5f, 4.0f}) {
            for (const float z : {0.0f, 6.0f})
                expected.insert({x, y, z});
        }
    }
    EXPECT_EQ(corners, expected);

    const RunResult unit = RunVoxwrap({"--unit", "mm", Slices("box"), "-", "1000-4095", "-"});
    ASSERT_EQ(unit.status, 0) << unit.err;
    EXPECT_EQ(unit.out.substr(0, 80), "voxwrap hull, unit mm" + std::string(59, '\0'));
}

TEST(Report, VolumesAgreeWithTheListedVoxelsAndTheStl) {
    const std::pair<std::string, std::string> stacks[] = {
        {"box", "1000-4095"},      {"l_shape", "1000-4095"},
        {"random0", "1000-4095"},  {"random1", "1000-4095"},
        {"random2", "1000-4095"},  {"disc", "100-255"},
        {"cylinder", "1000-4095"}, {"sizes", "0"}};
    for (const auto& [name, range] : stacks) {
        SCOPED_TRACE(name);
        const std::string dir = TempDir();
        const RunResult plain = RunVoxwrap({Slices(name), "-", range, dir + "/plain.stl"});
        const RunResult r =
            RunVoxwrap({"--report", dir + "/r.json", Slices(name), "-", range, dir + "/h.stl"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string bytes = ReadFile(dir + "/h.stl");
        EXPECT_EQ(bytes, ReadFile(dir + "/plain.stl")) << "a report changes no mesh byte";
        const StlFile stl = ParseStl(bytes);
        const std::string json = ReadFile(dir + "/r.json");

        const double voxels = static_cast<double>(ListedVoxels(name));
        EXPECT_EQ(Field(json, "object_voxels"), voxels);
        EXPECT_EQ(Field(json, "object_volume"), voxels);
        const Int128 six = SixVolume(stl);
        EXPECT_EQ(Field(json, "hull_volume"), static_cast<double>(six) / 6);
        EXPECT_GE(six, 6 * Int128{ListedVoxels(name)}) << "the hull holds every voxel";
        const double solidity = Field(json, "solidity");
        EXPECT_LE(solidity, 1.0);
        EXPECT_DOUBLE_EQ(solidity, voxels * 6 / static_cast<double>(six));
        if (name == "box") {
            EXPECT_EQ(solidity, 1.0);
        }
        EXPECT_EQ(Field(json, "hull_facets"), stl.count);
        const std::vector<Point3> vertices = StlVertices(stl);
        EXPECT_EQ(Field(json, "hull_vertices"), static_cast<double>(vertices.size()));
        long double area = 0;
        for (const Facet& f : stl.facets)
            area += std::hypot(double{f.normal[0]}, double{f.normal[1]}, double{f.normal[2]}) / 2;
        EXPECT_NEAR(Field(json, "hull_surface_area"), static_cast<double>(area), 1e-9 * area);
        for (int k = 0; k < 3; ++k) {
            std::int64_t lo = vertices[0][k], hi = vertices[0][k];
            for (const Point3& v : vertices) {
                lo = std::min(lo, v[k]);
                hi = std::max(hi, v[k]);
            }
            EXPECT_EQ(Field(json, "min", k), lo) << k;
            EXPECT_EQ(Field(json, "max", k), hi) << k;
            EXPECT_EQ(Field(json, "spacing", k), 1);
        }
        EXPECT_NE(json.find("\"unit\": \"voxel\","), std::string::npos);
    }
}

TEST(Report, SpacingScalesEveryMeasure) {
    // The box is 3 x 5 x 3 voxels, 1.5 x 2.5 x 6 units with this spacing.
    const RunResult r = RunVoxwrap({"--spacing", "0.5,0.5,2", "--unit", "mm", "--report", "-",
                                    Slices("box"), "-", "1000-4095", TempDir() + "/h.stl"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string& json = r.out;
    EXPECT_EQ(Field(json, "slices"), 3);
    EXPECT_EQ(Field(json, "width"), 10);
    EXPECT_EQ(Field(json, "height"), 10);
    EXPECT_EQ(Field(json, "object_voxels"), 45);
    EXPECT_EQ(Field(json, "object_volume"), 22.5);
    EXPECT_EQ(Field(json, "hull_volume"), 22.5);
    EXPECT_EQ(Field(json, "hull_surface_area"), 2 * (1.5 * 2.5 + 1.5 * 6 + 2.5 * 6));
    EXPECT_EQ(Field(json, "solidity"), 1);
    EXPECT_EQ(Field(json, "hull_vertices"), 8);
    EXPECT_EQ(Field(json, "hull_facets"), 12);
    const double lo[3] = {2, 1.5, 0}, hi[3] = {3.5, 4, 6}, spacing[3] = {0.5, 0.5, 2};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(Field(json, "min", k), lo[k]);
        EXPECT_EQ(Field(json, "max", k), hi[k]);
        EXPECT_EQ(Field(json, "spacing", k), spacing[k]);
    }
    EXPECT_NE(json.find("\"unit\": \"mm\","), std::string::npos);
    // A spacing without a unit: the report does not pretend to know one.
    const RunResult none = RunVoxwrap({"--spacing", "2,2,2", "--report", "-", Slices("box"), "-",
                                       "1000-4095", TempDir() + "/h.stl"});
    EXPECT_NE(none.out.find("\"unit\": null,"), std::string::npos) << none.out;
    EXPECT_EQ(Field(none.out, "hull_volume"), 45 * 8);
}

// Every name of a directory with its content, or a link with its target: a refused run must
// change neither.
std::map<std::string, std::string> Contents(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        files[entry.path().filename()] = entry.is_symlink()
                                             ? "-> " + fs::read_symlink(entry.path()).string()
                                             : ReadFile(entry.path());
    }
    return files;
}

TEST(Report, IsRefusedWhereverItsNameReachesTheMeshsFile) {
    // Each case runs in a fresh directory ("@" stands for its path) where "link.stl" is a
    // symbolic link to "out.stl", which holds "old" when it exists and then has a second name
    // "hard.stl". stdoutTo names the file standard output is redirected into, as by "> FILE".
    const struct {
        std::string report, mesh;
        bool exists;
        std::string stdoutTo;
        bool refused;
    } cases[] = {
        {"./out.stl", "out.stl", false, "", true},
        {"@/out.stl", "out.stl", false, "", true},
        {"out.stl", "../w/./out.stl", false, "", true},
        {"link.stl", "out.stl", false, "", true},  // a dangling link: it would make out.stl
        {"./out.stl", "out.stl", true, "", true},
        {"@/out.stl", "out.stl", true, "", true},
        {"../w/out.stl", "out.stl", true, "", true},
        {"link.stl", "out.stl", true, "", true},
        {"out.stl", "link.stl", true, "", true},
        {"hard.stl", "out.stl", true, "", true},
        {"r.json", "-", false, "r.json", true},
        {"-", "out.stl", true, "out.stl", true},
        // A mesh on standard output and the report in the file "./-x.stl" share nothing.
        {"-x.stl", "-x.stl", false, "", false},
        {"r.json", "-", false, "", false},
        {"-", "out.stl", true, "", false},
        {"out.json", "out.stl", true, "", false},
        {"-", "out.stl", true, "other.stl", false},
    };
    const RunResult plain = RunVoxwrap({Slices("box"), "-", "1000-4095", "-"});
    ASSERT_EQ(plain.status, 0);
    for (const auto& c : cases) {
        const std::string dir = TempDir() + "/w";
        fs::create_directory(dir);
        fs::create_symlink("out.stl", dir + "/link.stl");
        if (c.exists) {
            WriteFile(dir + "/out.stl", "old");
            fs::create_hard_link(dir + "/out.stl", dir + "/hard.stl");
        }
        if (!c.stdoutTo.empty()) WriteFile(dir + "/" + c.stdoutTo, "");
        const std::map<std::string, std::string> before = Contents(dir);
        const auto at = [&](std::string name) {
            return name[0] == '@' ? dir + name.substr(1) : name;
        };
        const std::string report = at(c.report);
        const RunResult r =
            RunVoxwrap({"--report", report, Slices("box"), "-", "1000-4095", at(c.mesh)}, dir, [&] {
                if (c.stdoutTo.empty()) return;
                const int fd = open(c.stdoutTo.c_str(), O_WRONLY);
                if (fd < 0 || dup2(fd, 1) < 0) _exit(125);
            });
        SCOPED_TRACE("--report " + c.report + " " + c.mesh + (c.exists ? ", existing" : "") +
                     (c.stdoutTo.empty() ? "" : " > " + c.stdoutTo));
        if (c.refused) {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "--report " + report + " : the mesh's own file.\n" + kOptionsUsage);
            EXPECT_EQ(Contents(dir), before);
            continue;
        }
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string stdoutText =
            c.stdoutTo.empty() ? r.out : ReadFile(dir + "/" + c.stdoutTo);
        const std::string mesh = c.mesh[0] == '-' ? stdoutText : ReadFile(dir + "/" + c.mesh);
        const std::string json = c.report == "-" ? stdoutText : ReadFile(dir + "/" + c.report);
        EXPECT_TRUE(mesh == plain.out) << "the mesh";
        EXPECT_EQ(json.rfind("{\n  \"slices\": 3,", 0), 0u) << json;
    }
}

TEST(Report, AFailedWriteIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const RunResult r = RunVoxwrap(
        {"--report", "/dev/full", Slices("box"), "-", "1000-4095", TempDir() + "/h.stl"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "file not stored.\n");
    for (const char* format : {"stl-ascii", "ply", "obj"}) {
        const RunResult m =
            RunVoxwrap({"--format", format, Slices("box"), "-", "1000-4095", "/dev/full"});
        EXPECT_EQ(m.status, 1) << format;
        EXPECT_EQ(m.err, "file not stored.\n") << format;
    }
}

}  // namespace
