#include "cli/stl_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>
#include <set>

namespace {

__extension__ typedef __int128 Int;

Point3 Sub(const Point3& a, const Point3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

Point3 Cross(const Point3& u, const Point3& v) {
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

Int Dot(const Point3& a, const Point3& b) {
    return Int(a[0]) * b[0] + Int(a[1]) * b[1] + Int(a[2]) * b[2];
}

// The direction of a normal in lowest terms, so that parallel normals compare equal.
Point3 Direction(Point3 n) {
    const std::int64_t g = std::gcd(std::gcd(std::llabs(n[0]), std::llabs(n[1])), std::llabs(n[2]));
    if (g > 0) {
        for (auto& c : n)
            c /= g;
    }
    return n;
}

std::int64_t Exact(float f) {
    const auto i = static_cast<std::int64_t>(f);
    EXPECT_EQ(static_cast<float>(i), f) << "not an integer coordinate";
    return i;
}

}  // namespace

StlFile ParseStl(const std::string& bytes) {
    StlFile stl;
    if (bytes.size() < 84) {
        ADD_FAILURE() << "STL of " << bytes.size() << " bytes";
        return stl;
    }
    EXPECT_EQ(bytes.substr(0, 80), std::string(80, '\0')) << "header not zero";
    const auto* u = reinterpret_cast<const unsigned char*>(bytes.data());
    stl.count = u[80] | u[81] << 8 | u[82] << 16 | std::uint32_t{u[83]} << 24;
    EXPECT_EQ(bytes.size(), 84 + 50 * std::size_t{stl.count}) << "length and count disagree";
    if (bytes.size() != 84 + 50 * std::size_t{stl.count}) return stl;
    for (std::uint32_t i = 0; i < stl.count; ++i) {
        const unsigned char* r = u + 84 + 50 * std::size_t{i};
        Facet f;
        float values[12];
        for (int k = 0; k < 12; ++k) {  // little-endian whatever the host
            const std::uint32_t bits = r[4 * k] | r[4 * k + 1] << 8 | r[4 * k + 2] << 16 |
                                       std::uint32_t{r[4 * k + 3]} << 24;
            std::memcpy(&values[k], &bits, 4);
        }
        std::copy(values, values + 3, f.normal);
        for (int v = 0; v < 3; ++v)
            std::copy(values + 3 + 3 * v, values + 6 + 3 * v, f.vertex[v]);
        f.attribute = static_cast<std::uint16_t>(r[48] | r[49] << 8);
        stl.facets.push_back(f);
    }
    return stl;
}

std::vector<Point3> StlVertices(const StlFile& stl) {
    std::set<Point3> set;
    for (const Facet& f : stl.facets) {
        for (const auto& v : f.vertex)
            set.insert({Exact(v[0]), Exact(v[1]), Exact(v[2])});
    }
    return {set.begin(), set.end()};
}

void CheckHullStl(const StlFile& stl, const std::vector<Point3>& voxels) {
    ASSERT_EQ(stl.facets.size(), stl.count);
    ASSERT_FALSE(voxels.empty());
    std::set<Point3> corners;
    for (const Point3& v : voxels) {
        for (int c = 0; c < 8; ++c)
            corners.insert({v[0] + (c & 1), v[1] + (c >> 1 & 1), v[2] + (c >> 2)});
    }
    struct Tri {
        Point3 p[3];
        Point3 n;
    };
    std::vector<Tri> tris;
    std::map<std::pair<Point3, Point3>, int> directed;
    std::map<Point3, std::set<Point3>> planesAt;
    Int sixVolume = 0;
    for (const Facet& f : stl.facets) {
        Tri t;
        for (int v = 0; v < 3; ++v) {
            t.p[v] = {Exact(f.vertex[v][0]), Exact(f.vertex[v][1]), Exact(f.vertex[v][2])};
        }
        t.n = Cross(Sub(t.p[1], t.p[0]), Sub(t.p[2], t.p[0]));
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(f.normal[k], static_cast<float>(t.n[k])) << "normal component " << k;
        }
        EXPECT_NE(t.n, (Point3{0, 0, 0})) << "zero-area facet";
        const std::uint16_t attribute = 0x8000 | (t.n[0] != 0 ? 0x7C00 : 0) |
                                        (t.n[1] != 0 ? 0x03E0 : 0) | (t.n[2] != 0 ? 0x001F : 0);
        EXPECT_EQ(f.attribute, attribute);
        for (int v = 0; v < 3; ++v) {
            ++directed[{t.p[v], t.p[(v + 1) % 3]}];
            planesAt[t.p[v]].insert(Direction(t.n));
        }
        sixVolume += Dot(t.p[0], Cross(t.p[1], t.p[2]));
        tris.push_back(t);
    }
    // Closed and consistently oriented: each directed edge once, its reverse once.
    std::set<std::pair<Point3, Point3>> undirected;
    for (const auto& [edge, uses] : directed) {
        EXPECT_EQ(uses, 1) << "directed edge used " << uses << " times";
        EXPECT_EQ(directed.count({edge.second, edge.first}), 1u) << "open edge";
        undirected.insert(std::minmax(edge.first, edge.second));
    }
    const std::int64_t V = static_cast<std::int64_t>(planesAt.size());
    const std::int64_t E = static_cast<std::int64_t>(undirected.size());
    const std::int64_t F = static_cast<std::int64_t>(tris.size());
    EXPECT_EQ(V - E + F, 2) << "Euler's formula";
    EXPECT_EQ(F, 2 * V - 4);
    EXPECT_GT(sixVolume, 0) << "facets point inwards";
    for (const auto& [vertex, planes] : planesAt) {
        EXPECT_TRUE(corners.count(vertex)) << "a vertex that is no voxel corner";
        EXPECT_GE(planes.size(), 3u) << "a vertex inside an edge or a face of the hull";
    }
    // No vertex strictly inside another edge (a T-junction).
    for (const auto& [a, b] : undirected) {
        for (const auto& [r, planes] : planesAt) {
            if (r == a || r == b) continue;
            const Point3 ab = Sub(b, a), ar = Sub(r, a);
            if (Cross(ab, ar) != Point3{0, 0, 0}) continue;
            const Int t = Dot(ab, ar);
            EXPECT_FALSE(t > 0 && t < Dot(ab, ab)) << "vertex inside an edge";
        }
    }
    // Every corner of every voxel on the inner side of every facet, or in its plane.
    for (const Tri& t : tris) {
        for (const Point3& c : corners) {
            if (Dot(t.n, Sub(c, t.p[0])) > 0) {
                ADD_FAILURE() << "voxel corner (" << c[0] << "," << c[1] << "," << c[2]
                              << ") outside the mesh";
                return;
            }
        }
    }
}

Int128 SixVolume(const StlFile& stl) {
    Int128 six = 0;
    for (const Facet& f : stl.facets) {
        Int128 v[3][3];
        for (int i = 0; i < 3; ++i) {
            for (int k = 0; k < 3; ++k)
                v[i][k] = static_cast<std::int64_t>(f.vertex[i][k]);
        }
        six += v[0][0] * (v[1][1] * v[2][2] - v[1][2] * v[2][1]) -
               v[0][1] * (v[1][0] * v[2][2] - v[1][2] * v[2][0]) +
               v[0][2] * (v[1][0] * v[2][1] - v[1][1] * v[2][0]);
    }
    return six;
}
