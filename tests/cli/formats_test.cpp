// The indexed and text formats read back by short parsers of their own, independent of the
// writer: one closed mesh with shared vertices and the binary STL's triangles, in its order.
#include "cli/stl_check.h"
#include "support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace {

using Vertex = std::array<float, 3>;

struct IndexedMesh {
    std::vector<Vertex> vertices;
    std::vector<std::array<std::int64_t, 3>> faces;  // 0-based
};

// A binary little-endian PLY with float x, y, z and uchar/int faces, as the header must say.
IndexedMesh ReadPly(const std::string& bytes) {
    IndexedMesh m;
    const std::size_t end = bytes.find("end_header\n");
    if (end == std::string::npos) {
        ADD_FAILURE() << "no PLY header end";
        return m;
    }
    std::istringstream header(bytes.substr(0, end));
    std::vector<std::string> lines;
    std::size_t vertices = 0, faces = 0;
    for (std::string line; std::getline(header, line);) {
        if (line.rfind("comment ", 0) == 0) continue;
        if (std::sscanf(line.c_str(), "element vertex %zu", &vertices) == 1) continue;
        if (std::sscanf(line.c_str(), "element face %zu", &faces) == 1) continue;
        lines.push_back(line);
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{"ply", "format binary_little_endian 1.0",
                                        "property float x", "property float y", "property float z",
                                        "property list uchar int vertex_indices"}));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + end + 11;
    EXPECT_EQ(bytes.size(), end + 11 + 12 * vertices + 13 * faces) << "PLY length";
    if (bytes.size() != end + 11 + 12 * vertices + 13 * faces) return m;
    auto word = [&p] {
        const std::uint32_t w = p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
        p += 4;
        return w;
    };
    for (std::size_t i = 0; i < vertices; ++i) {
        Vertex v;
        for (float& c : v) {
            const std::uint32_t w = word();
            std::memcpy(&c, &w, 4);
        }
        m.vertices.push_back(v);
    }
    for (std::size_t i = 0; i < faces; ++i) {
        EXPECT_EQ(*p++, 3) << "face " << i;
        std::array<std::int64_t, 3> f;
        for (auto& k : f)
            k = static_cast<std::int32_t>(word());
        m.faces.push_back(f);
    }
    return m;
}

IndexedMesh ReadObj(const std::string& text) {
    IndexedMesh m;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "v") {
            Vertex v;
            words >> v[0] >> v[1] >> v[2];
            EXPECT_FALSE(words.fail()) << line;
            m.vertices.push_back(v);
        } else if (kind == "f") {
            std::array<std::int64_t, 3> f;
            words >> f[0] >> f[1] >> f[2];
            EXPECT_FALSE(words.fail()) << line;
            for (auto& k : f)
                --k;  // OBJ counts from 1
            m.faces.push_back(f);
        } else {
            EXPECT_EQ(kind.substr(0, 1), "#") << line;
        }
    }
    return m;
}

// An ASCII STL into the binary STL's record layout (attribute 0).
StlFile ReadAsciiStl(const std::string& text) {
    StlFile stl;
    std::istringstream in(text);
    std::string word;
    in >> word;
    EXPECT_EQ(word, "solid");
    while (in >> word) {
        if (word != "facet") continue;
        Facet f{};
        in >> word;
        EXPECT_EQ(word, "normal");
        in >> f.normal[0] >> f.normal[1] >> f.normal[2] >> word;
        EXPECT_EQ(word, "outer");
        in >> word;
        for (auto& v : f.vertex) {
            in >> word >> v[0] >> v[1] >> v[2];
            EXPECT_EQ(word, "vertex");
        }
        in >> word;
        EXPECT_EQ(word, "endloop");
        in >> word;
        EXPECT_EQ(word, "endfacet");
        stl.facets.push_back(f);
    }
    stl.count = static_cast<std::uint32_t>(stl.facets.size());
    EXPECT_NE(text.find("\nendsolid"), std::string::npos);
    return stl;
}

// One closed, consistently oriented mesh on distinct vertices, each of them used, whose
// triangles are the STL's, in its order and orientation.
void ExpectSameClosedMesh(const IndexedMesh& m, const StlFile& stl) {
    ASSERT_EQ(m.faces.size(), stl.facets.size());
    EXPECT_EQ(std::set<Vertex>(m.vertices.begin(), m.vertices.end()).size(), m.vertices.size())
        << "a vertex written twice";
    std::map<std::pair<std::int64_t, std::int64_t>, int> directed;
    std::set<std::int64_t> used;
    for (std::size_t i = 0; i < m.faces.size(); ++i) {
        for (int k = 0; k < 3; ++k) {
            const std::int64_t v = m.faces[i][k];
            ASSERT_TRUE(v >= 0 && v < static_cast<std::int64_t>(m.vertices.size()));
            used.insert(v);
            ++directed[{v, m.faces[i][(k + 1) % 3]}];
            const Vertex& p = m.vertices[static_cast<std::size_t>(v)];
            const float* q = stl.facets[i].vertex[k];
            EXPECT_TRUE(p[0] == q[0] && p[1] == q[1] && p[2] == q[2]) << "face " << i;
        }
    }
    for (const auto& [edge, uses] : directed) {
        EXPECT_EQ(uses, 1);
        EXPECT_EQ(directed.count({edge.second, edge.first}), 1u) << "open edge";
    }
    EXPECT_EQ(used.size(), m.vertices.size()) << "an unused vertex";
    const auto V = static_cast<std::int64_t>(m.vertices.size());
    const auto F = static_cast<std::int64_t>(m.faces.size());
    EXPECT_EQ(V - static_cast<std::int64_t>(directed.size()) / 2 + F, 2) << "Euler's formula";
}

TEST(MeshFormats, EveryFormatHoldsTheStlTriangles) {
    const std::string mug = std::string(VOXWRAP_SOURCE_DIR) + "/examples/mug";
    const std::string stack = std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/cli/random1/slices";
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {{mug + "/slices", mug + "/names.txt", "1000-4095"}, {}},
        {{stack, "-", "1000-4095"}, {}},
        {{stack, "-", "1000-4095"}, {"--spacing", "0.1,0.35,2.5", "--unit", "µm"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.options.empty() ? "" : " with spacing"));
        std::map<std::string, std::string> out;
        for (const std::string format : {"stl", "stl-ascii", "ply", "obj"}) {
            std::vector<std::string> args = c.options;
            args.insert(args.end(), {"--format", format});
            args.insert(args.end(), c.args.begin(), c.args.end());
            args.push_back("-");
            const RunResult r = RunVoxwrap(args);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            out[format] = r.out;
        }
        // A unit is named in the binary header, which the parser expects to be zero.
        const StlFile stl = ParseStl(std::string(80, '\0') + out["stl"].substr(80));
        if (c.options.empty()) {
            std::vector<std::string> args = c.args;
            args.push_back("-");
            EXPECT_EQ(out["stl"], RunVoxwrap(args).out) << "--format stl is the default";
        }
        const StlFile ascii = ReadAsciiStl(out["stl-ascii"]);
        ASSERT_EQ(ascii.count, stl.count);
        for (std::size_t i = 0; i < stl.facets.size(); ++i) {
            EXPECT_EQ(std::memcmp(ascii.facets[i].normal, stl.facets[i].normal, 12), 0) << i;
            EXPECT_EQ(std::memcmp(ascii.facets[i].vertex, stl.facets[i].vertex, 36), 0) << i;
        }
        ExpectSameClosedMesh(ReadPly(out["ply"]), stl);
        ExpectSameClosedMesh(ReadObj(out["obj"]), stl);
        const std::string unit = c.options.empty() ? "voxel" : "µm";
        EXPECT_NE(out["ply"].find("\ncomment unit " + unit + "\n"), std::string::npos);
        EXPECT_NE(out["obj"].find("\n# unit " + unit + "\n"), std::string::npos);
    }
}

}  // namespace
