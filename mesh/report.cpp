#include "mesh/report.h"

#include <charconv>
#include <cmath>
#include <set>

namespace voxwrap {

std::string ShortestNumber(double value) {
    char digits[64];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, r.ptr);
}

namespace {

__extension__ typedef __int128 Int128;

std::string Number(double value) { return ShortestNumber(value); }

std::string Triple(const double v[3]) {
    return "[" + Number(v[0]) + ", " + Number(v[1]) + ", " + Number(v[2]) + "]";
}

}  // namespace

HullMeasures MeasureHull(const Mesh& m, const Spacing& spacing, std::int64_t objectVoxels) {
    const double* s = spacing.s;
    const std::vector<std::int32_t>&X = m.vertices.x, &Y = m.vertices.y, &Z = m.vertices.z;
    // Six times the hull's volume: the sum over the triangles of det(a - o, b - o, c - o) with o
    // the first point, each term below 2^90 for coordinates below 2^30.
    Int128 sixVolume = 0;
    long double area = 0;
    std::set<std::int32_t> vertices;
    const std::int32_t o = m.triangles.empty() ? 0 : m.triangles[0][0];
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    std::int64_t low[3] = {X[o], Y[o], Z[o]}, high[3] = {X[o], Y[o], Z[o]};
    for (const auto& t : m.triangles) {
        Int128 d[3][3];
        for (int v = 0; v < 3; ++v) {
            const std::int32_t p = t[v];
            const std::int64_t c[3] = {X[p], Y[p], Z[p]};
            for (int k = 0; k < 3; ++k) {
                d[v][k] = Int128{c[k]} - (k == 0 ? X[o] : k == 1 ? Y[o] : Z[o]);
                low[k] = c[k] < low[k] ? c[k] : low[k];
                high[k] = c[k] > high[k] ? c[k] : high[k];
            }
            vertices.insert(p);
        }
        sixVolume += d[0][0] * (d[1][1] * d[2][2] - d[1][2] * d[2][1]) -
                     d[0][1] * (d[1][0] * d[2][2] - d[1][2] * d[2][0]) +
                     d[0][2] * (d[1][0] * d[2][1] - d[1][1] * d[2][0]);
        // The scaled triangle's normal: each component scales by the other two axes.
        const std::array<std::int64_t, 3> n = Normal(m, t);
        const long double nx = static_cast<long double>(n[0]) * s[1] * s[2];
        const long double ny = static_cast<long double>(n[1]) * s[0] * s[2];
        const long double nz = static_cast<long double>(n[2]) * s[0] * s[1];
        area += std::sqrt(nx * nx + ny * ny + nz * nz) / 2;
    }
    for (int k = 0; k < 3; ++k) {
        lo[k] = static_cast<double>(low[k]) * s[k];
        hi[k] = static_cast<double>(high[k]) * s[k];
    }
    // In voxel units the volumes are the correctly rounded quotients of exact integers.
    const double cell = s[0] * s[1] * s[2];
    const double objectVolume = static_cast<double>(objectVoxels) * cell;
    const double hullVolume = static_cast<double>(sixVolume) / 6 * cell;
    // Both volumes in sixths of a voxel, exactly: the object's cubes lie inside the hull, so the
    // quotient is at most 1, and a quotient of two integers a <= b never rounds above 1.
    const Int128 sixObject = Int128{objectVoxels} * 6;
    const double solidity = sixVolume <= 0 || sixObject >= sixVolume
                                ? 1.0
                                : static_cast<double>(static_cast<long double>(sixObject) /
                                                      static_cast<long double>(sixVolume));
    HullMeasures h;
    h.objectVolume = objectVolume;
    h.hullVolume = hullVolume;
    h.hullArea = static_cast<double>(area);
    h.solidity = solidity;
    h.hullVertices = static_cast<std::int64_t>(vertices.size());
    h.hullFacets = static_cast<std::int64_t>(m.triangles.size());
    for (int k = 0; k < 3; ++k) {
        h.lo[k] = lo[k];
        h.hi[k] = hi[k];
    }
    return h;
}

std::string ReportJson(const ReportInput& in, const Mesh& m) {
    const double* s = in.spacing.s;
    const HullMeasures h = MeasureHull(m, in.spacing, in.objectVoxels);
    std::string unit = in.unit.empty() ? "null" : "\"" + in.unit + "\"";
    std::string json = "{\n";
    json += "  \"slices\": " + std::to_string(in.slices) + ",\n";
    json += "  \"width\": " + std::to_string(in.width) + ",\n";
    json += "  \"height\": " + std::to_string(in.height) + ",\n";
    json += "  \"spacing\": " + Triple(s) + ",\n";
    json += "  \"unit\": " + unit + ",\n";
    json += "  \"object_voxels\": " + std::to_string(in.objectVoxels) + ",\n";
    json += "  \"object_volume\": " + Number(h.objectVolume) + ",\n";
    json += "  \"hull_volume\": " + Number(h.hullVolume) + ",\n";
    json += "  \"hull_surface_area\": " + Number(h.hullArea) + ",\n";
    json += "  \"solidity\": " + Number(h.solidity) + ",\n";
    json += "  \"hull_vertices\": " + std::to_string(h.hullVertices) + ",\n";
    json += "  \"hull_facets\": " + std::to_string(h.hullFacets) + ",\n";
    json += "  \"bounding_box\": {\"min\": " + Triple(h.lo) + ", \"max\": " + Triple(h.hi) + "}\n";
    json += "}\n";
    return json;
}

}  // namespace voxwrap
