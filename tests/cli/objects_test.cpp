// --objects as a user runs it, on the label stack of tests/data/objects (made by its script, which
// also lists the objects it expects, found there by a flood fill of its own): the table against
// that list and against each object's mesh, proven the hull of the object's voxels; each object's
// own file against the one-object run; the combined files read back; refusals.
#include "cli/stl_check.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

const std::string kUsage = "\nusage : voxwrap [options] directory nameFile rangeList STL";

std::string Data(const std::string& name) {
    return std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/objects/" + name;
}
const std::string kSlices = Data("labels/slices");

// One line of expected.txt.
struct Expected {
    std::int64_t id = 0, voxels = 0, min[3] = {}, max[3] = {}, sum[3] = {};
};

// The objects the fixture script found for a mode: "labels", "6", "18" or "26".
std::vector<Expected> ExpectedObjects(const std::string& mode) {
    std::istringstream in(ReadFile(Data("expected.txt")));
    std::vector<Expected> out;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string m;
        Expected e;
        words >> m >> e.id >> e.voxels;
        for (auto* a : {e.min, e.max, e.sum})
            words >> a[0] >> a[1] >> a[2];
        if (m == mode) out.push_back(e);
    }
    return out;
}

// The voxels of object id: column 3 of voxels.txt for labels, 4, 5, 6 for 6, 18, 26 neighbours.
std::vector<Point3> ObjectVoxels(const std::string& mode, std::int64_t id) {
    const int column = mode == "labels" ? 0 : mode == "6" ? 1 : mode == "18" ? 2 : 3;
    std::istringstream in(ReadFile(Data("labels/voxels.txt")));
    std::vector<Point3> out;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Point3 p;
        std::int64_t ids[4];
        words >> p[0] >> p[1] >> p[2] >> ids[0] >> ids[1] >> ids[2] >> ids[3];
        if (ids[column] == id) out.push_back(p);
    }
    return out;
}

std::vector<std::vector<std::string>> Csv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        rows.emplace_back();
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            rows.back().push_back(cell);
    }
    return rows;
}

double Number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

TEST(Objects, TableAgainstTheFixtureAndEachHull) {
    const struct {
        std::string mode;
        std::vector<std::string> options;
        std::int64_t minVoxels, largest;
    } cases[] = {
        {"labels", {"--objects", "labels"}, 0, 0},
        {"6", {"--objects", "components=6"}, 0, 0},
        {"18", {"--objects=components=18"}, 0, 0},
        {"26", {"--objects", "components"}, 0, 0},
        {"labels", {"--objects", "labels", "--min-voxels", "12"}, 12, 0},
        {"labels", {"--objects", "labels", "--largest", "3"}, 0, 3},
        // The seventh largest is 4 or 5, both of 8 voxels: the smaller id wins the tie.
        {"labels", {"--objects", "labels", "--largest", "7", "--min-voxels", "2"}, 2, 7},
        {"6", {"--objects", "components=6", "--largest=4"}, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode + " " + std::to_string(c.minVoxels) + " " + std::to_string(c.largest));
        std::vector<Expected> want;
        for (const Expected& e : ExpectedObjects(c.mode)) {
            if (e.voxels >= c.minVoxels) want.push_back(e);
        }
        if (c.largest > 0) {
            std::vector<Expected> order = want;
            std::stable_sort(order.begin(), order.end(), [](const Expected& a, const Expected& b) {
                return a.voxels > b.voxels;
            });
            order.resize(std::min<std::size_t>(order.size(), c.largest));
            std::sort(order.begin(), order.end(),
                      [](const Expected& a, const Expected& b) { return a.id < b.id; });
            want = order;
        }
        const std::string dir = TempDir();
        std::vector<std::string> args = c.options;
        for (const std::string& a : {std::string("--table"), std::string("-"), kSlices,
                                     std::string("-"), std::string("1-"), dir + "/o{id}.stl"})
            args.push_back(a);
        const RunResult r = RunVoxwrap(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto rows = Csv(r.out);
        ASSERT_EQ(rows.size(), want.size() + 1);
        EXPECT_EQ(rows[0], (std::vector<std::string>{
                               "id", "voxels", "volume", "hull_volume", "hull_area", "solidity",
                               "hull_vertices", "hull_facets", "bbox_min_x", "bbox_min_y",
                               "bbox_min_z", "bbox_max_x", "bbox_max_y", "bbox_max_z", "centroid_x",
                               "centroid_y", "centroid_z"}));
        for (std::size_t k = 0; k < want.size(); ++k) {
            const Expected& e = want[k];
            const std::vector<std::string>& row = rows[k + 1];
            ASSERT_EQ(row.size(), 17u);
            EXPECT_EQ(row[0], std::to_string(e.id));
            EXPECT_EQ(row[1], std::to_string(e.voxels));
            EXPECT_EQ(row[2], std::to_string(e.voxels));
            for (int a = 0; a < 3; ++a) {
                EXPECT_EQ(row[8 + a], std::to_string(e.min[a]));
                EXPECT_EQ(row[11 + a], std::to_string(e.max[a] + 1)) << "the far face";
                EXPECT_DOUBLE_EQ(Number(row[14 + a]),
                                 (2.0 * e.sum[a] + e.voxels) / (2.0 * e.voxels));
            }
            const StlFile stl = ParseStl(ReadFile(dir + "/o" + std::to_string(e.id) + ".stl"));
            CheckHullStl(stl, ObjectVoxels(c.mode, e.id));
            const Int128 six = SixVolume(stl);
            EXPECT_EQ(Number(row[3]), static_cast<double>(six) / 6);
            EXPECT_LE(Number(row[5]), 1.0);
            EXPECT_EQ(row[6], std::to_string(StlVertices(stl).size()));
            EXPECT_EQ(row[7], std::to_string(stl.count));
        }
        const std::size_t files = static_cast<std::size_t>(std::distance(
            std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()));
        EXPECT_EQ(files, want.size()) << "one file per object, no other";
    }
}

TEST(Objects, FlatAndTinyObjectsHaveExactHulls) {
    // One voxel, the 8 x 8 plate and the 12-voxel line: volume, hull volume, area, facets.
    const RunResult r = RunVoxwrap(
        {"--objects", "labels", "--table", "-", kSlices, "-", "1-3", TempDir() + "/all.stl"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = Csv(r.out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(rows[1].begin(), rows[1].begin() + 8),
              (std::vector<std::string>{"1", "1", "1", "1", "6", "1", "8", "12"}));
    EXPECT_EQ(std::vector<std::string>(rows[2].begin(), rows[2].begin() + 8),
              (std::vector<std::string>{"2", "64", "64", "64", "160", "1", "8", "12"}));
    EXPECT_EQ(std::vector<std::string>(rows[3].begin(), rows[3].begin() + 8),
              (std::vector<std::string>{"3", "12", "12", "12", "50", "1", "8", "12"}));
}

// The one-object run of range list `label`.
std::string SingleRun(const std::string& label, const std::vector<std::string>& options) {
    const std::string out = TempDir() + "/one";
    std::vector<std::string> args = options;
    for (const std::string& a : {kSlices, std::string("-"), label, out})
        args.push_back(a);
    const RunResult r = RunVoxwrap(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadFile(out);
}

// Each object's own file, and its part of the combined file, byte for byte as the one-object run
// of its label writes it, in every format; the same on any number of threads.
TEST(Objects, EachObjectAsItsOwnRunInEveryFormat) {
    const std::vector<std::string> labels = {"1", "2", "3", "6", "7", "8"};
    const std::vector<std::vector<std::string>> formats = {
        {"--format", "stl"},
        {"--format", "stl-ascii"},
        {"--format", "ply"},
        {"--format", "obj"},
        {"--spacing", "0.5,1.25,3", "--unit", "um"},
        {"--format", "obj", "--spacing", "2,2,0.1"}};
    for (const auto& format : formats) {
        SCOPED_TRACE(format[1]);
        const std::string dir = TempDir();
        std::vector<std::string> args = format;
        for (const std::string& a : {std::string("--objects"), std::string("labels"), kSlices,
                                     std::string("-"), std::string("1-9"), dir + "/{id}.mesh"})
            args.push_back(a);
        ASSERT_EQ(RunVoxwrap(args).status, 0);
        std::vector<std::string> single;
        for (const std::string& label : labels) {
            single.push_back(SingleRun(label, format));
            EXPECT_EQ(ReadFile(dir + "/" + label + ".mesh"), single.back()) << "label " << label;
        }
        std::string combined;
        for (const char* threads : {"1", "2", "5"}) {
            args = format;
            for (const std::string& a : {std::string("--objects"), std::string("labels"),
                                         std::string("--threads"), std::string(threads), kSlices,
                                         std::string("-"), std::string("1-3,6-8"), dir + "/all"})
                args.push_back(a);
            ASSERT_EQ(RunVoxwrap(args).status, 0);
            if (combined.empty()) combined = ReadFile(dir + "/all");
            EXPECT_EQ(ReadFile(dir + "/all"), combined) << threads << " threads";
        }
        const std::string& f = format[1];
        if (f == "stl" || f == "0.5,1.25,3") {
            // One header, the summed count, then each object's records as its own file has them.
            std::string want = single[0].substr(0, 80);
            std::uint32_t count = 0;
            std::string records;
            for (const std::string& s : single) {
                count += static_cast<std::uint32_t>(s.size() - 84) / 50;
                records += s.substr(84);
            }
            want.append(reinterpret_cast<const char*>(&count), 4);  // little-endian hosts
            EXPECT_EQ(combined, want + records);
            if (f == "stl") {
                EXPECT_EQ(ParseStl(combined).count, count);
            }
        } else if (f == "stl-ascii") {
            std::string want;
            for (std::size_t k = 0; k < labels.size(); ++k) {
                const std::string& s = single[k];
                const std::size_t body = s.find('\n') + 1;
                const std::size_t end = s.rfind("endsolid ");
                want += "solid object_" + labels[k] + "\n" + s.substr(body, end - body) +
                        "endsolid object_" + labels[k] + "\n";
            }
            EXPECT_EQ(combined, want);
        } else if (f == "ply") {
            // The header names the label; every face's label, grouped per object in id order,
            // as many faces each as its own file has, vertex numbers within its own vertices.
            const std::size_t end = combined.find("end_header\n") + 11;
            EXPECT_NE(combined.find("property int label\nend_header\n"), std::string::npos);
            std::size_t vertices = 0, faces = 0;
            std::sscanf(combined.c_str() + combined.find("element vertex"), "element vertex %zu",
                        &vertices);
            std::sscanf(combined.c_str() + combined.find("element face"), "element face %zu",
                        &faces);
            ASSERT_EQ(combined.size(), end + 12 * vertices + 17 * faces);
            std::vector<std::pair<std::int32_t, std::size_t>> groups;  // label, faces
            const char* p = combined.data() + end + 12 * vertices;
            for (std::size_t i = 0; i < faces; ++i, p += 17) {
                std::int32_t v[3], label;
                std::memcpy(v, p + 1, 12);
                std::memcpy(&label, p + 13, 4);
                EXPECT_EQ(p[0], 3);
                for (const std::int32_t x : v)
                    EXPECT_LT(static_cast<std::size_t>(x), vertices);
                if (groups.empty() || groups.back().first != label) groups.push_back({label, 0});
                ++groups.back().second;
            }
            ASSERT_EQ(groups.size(), labels.size());
            for (std::size_t k = 0; k < labels.size(); ++k) {
                EXPECT_EQ(std::to_string(groups[k].first), labels[k]);
                std::size_t own = 0;
                std::sscanf(single[k].c_str() + single[k].find("element face"), "element face %zu",
                            &own);
                EXPECT_EQ(groups[k].second, own);
            }
        } else {
            // A group per object: its vertex and face lines as its own file has them, the faces
            // numbered on from the vertices before it.
            const std::string header = single[0].substr(0, single[0].find("\nv ") + 1);
            std::string want =
                "# voxwrap convex hulls of voxel cubes\n" + header.substr(header.find('\n') + 1);
            std::int64_t before = 0;
            for (std::size_t k = 0; k < labels.size(); ++k) {
                want += "o object_" + labels[k] + "\n";
                std::istringstream in(single[k]);
                std::int64_t own = 0;
                for (std::string line; std::getline(in, line);) {
                    if (line.rfind("v ", 0) == 0) {
                        want += line + "\n";
                        ++own;
                    } else if (line.rfind("f ", 0) == 0) {
                        std::int64_t a, b, c;
                        std::sscanf(line.c_str(), "f %ld %ld %ld", &a, &b, &c);
                        want += "f " + std::to_string(a + before) + " " +
                                std::to_string(b + before) + " " + std::to_string(c + before) +
                                "\n";
                    }
                }
                before += own;
            }
            EXPECT_EQ(combined, want);
        }
    }
}

TEST(Objects, ReportHoldsTheTableRows) {
    const std::string dir = TempDir();
    const RunResult r =
        RunVoxwrap({"--objects", "components=18", "--spacing", "1,2,4", "--unit", "mm", "--table",
                    dir + "/t.csv", "--report", "-", kSlices, "-", "1-", dir + "/all.ply"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(
        r.out.rfind("{\n  \"slices\": 8,\n  \"width\": 24,\n  \"height\": 20,\n  \"spacing\": "
                    "[1, 2, 4],\n  \"unit\": \"mm\",\n  \"objects\": [\n",
                    0),
        0u)
        << r.out;
    const auto rows = Csv(ReadFile(dir + "/t.csv"));
    ASSERT_EQ(rows.size(), ExpectedObjects("18").size() + 1);
    for (std::size_t k = 1; k < rows.size(); ++k) {
        std::string json = "{";
        for (std::size_t c = 0; c < rows[0].size(); ++c)
            json += (c == 0 ? "\"" : ", \"") + rows[0][c] + "\": " + rows[k][c];
        EXPECT_NE(r.out.find("\n    " + json + "}"), std::string::npos) << json;
        EXPECT_EQ(Number(rows[k][2]), 8.0 * Number(rows[k][1])) << "a voxel is 8 mm^3";
    }
}

TEST(Objects, RefusalsWriteNothing) {
    const std::string dir = TempDir();
    const std::string out = dir + "/o.stl";
    const struct {
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {{"--table", dir + "/t.csv"}, "--table : only with --objects." + kUsage},
        {{"--min-voxels", "3"}, "--min-voxels : only with --objects." + kUsage},
        {{"--largest", "3"}, "--largest : only with --objects." + kUsage},
        {{"--objects", "component"}, "--objects component : bad value." + kUsage},
        {{"--objects", "components=8"}, "--objects components=8 : bad value." + kUsage},
        {{"--objects", "labels", "--min-voxels", "0"}, "--min-voxels 0 : bad value." + kUsage},
        {{"--objects", "labels", "--largest", "-1"}, "--largest -1 : bad value." + kUsage},
        {{"--objects", "labels", "--objects", "labels"}, "--objects : given twice." + kUsage},
        {{"--objects", "labels", "--table", out},
         "--table " + out + " : the mesh's own file." + kUsage},
        {{"--objects", "labels", "--table", "-", "--report", "-"},
         "--table - : standard output already holds the report." + kUsage},
        {{"--objects", "labels", "--min-voxels", "1000"}, "no object."},
        {{"--objects", "components", "--min-voxels", "1000"}, "no object."},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        for (const std::string& a : {kSlices, std::string("-"), std::string("1-"), out})
            args.push_back(a);
        const RunResult r = RunVoxwrap(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message + "\n");
        EXPECT_TRUE(std::filesystem::is_empty(dir)) << c.message;
    }
    const RunResult both =
        RunVoxwrap({"--objects", "labels", "--table", "-", kSlices, "-", "1-", "-"});
    EXPECT_EQ(both.err, "--table - : standard output already holds the mesh." + kUsage + "\n");
}

}  // namespace
