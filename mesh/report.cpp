#include "mesh/report.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace voxwrap {

namespace {

std::string Triple(const double v[3]) {
    return "[" + ShortestNumber(v[0]) + ", " + ShortestNumber(v[1]) + ", " + ShortestNumber(v[2]) +
           "]";
}

}  // namespace

std::string ShortestNumber(double value) {
    char digits[64];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, r.ptr);
}

Measurements Measure(const Hull& m, std::int64_t objectVoxels, const Spacing& spacing) {
    const double* s = spacing.s;
    const std::vector<std::int32_t>&X = m.vertices.x, &Y = m.vertices.y, &Z = m.vertices.z;
    Measurements out;
    out.objectVoxels = objectVoxels;
    // Six times the hull's volume: the sum over the triangles of det(a - o, b - o, c - o) with o
    // the first point, each term below 2^90 for coordinates below 2^30.
    Int128 sixVolume = 0;
    long double area = 0;
    // Every triangle indexes the vertex arrays; a flag per entry counts those in use.
    std::vector<char> used(X.size(), 0);
    std::int64_t inUse = 0;
    const std::int32_t o = m.triangles.empty() ? 0 : m.triangles[0][0];
    std::int64_t low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
    if (!m.triangles.empty()) {
        for (int k = 0; k < 3; ++k)
            low[k] = high[k] = k == 0 ? X[o] : k == 1 ? Y[o] : Z[o];
    }
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
            inUse += used[static_cast<std::size_t>(p)] == 0;
            used[static_cast<std::size_t>(p)] = 1;
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
        out.bboxMin[k] = static_cast<double>(low[k]) * s[k];
        out.bboxMax[k] = static_cast<double>(high[k]) * s[k];
    }
    // In voxel units the volumes are the correctly rounded quotients of exact integers.
    const double cell = s[0] * s[1] * s[2];
    out.sixVolume = sixVolume;
    out.objectVolume = static_cast<double>(objectVoxels) * cell;
    out.hullVolume = static_cast<double>(sixVolume) / 6 * cell;
    out.hullArea = static_cast<double>(area);
    // Both volumes in sixths of a voxel, exactly: the object's cubes lie inside the hull, so the
    // quotient is at most 1, and a quotient of two integers a <= b never rounds above 1.
    const Int128 sixObject = Int128{objectVoxels} * 6;
    out.solidity = sixVolume <= 0 || sixObject >= sixVolume
                       ? 1.0
                       : static_cast<double>(static_cast<long double>(sixObject) /
                                             static_cast<long double>(sixVolume));
    out.hullVertices = inUse;
    out.hullFacets = static_cast<std::int64_t>(m.triangles.size());
    return out;
}

std::string ReportJson(const ReportInput& in, const Hull& hull) {
    const Measurements m = Measure(hull, in.objectVoxels, in.spacing);
    std::string unit = in.unit.empty() ? "null" : "\"" + in.unit + "\"";
    std::string json = "{\n";
    json += "  \"slices\": " + std::to_string(in.slices) + ",\n";
    json += "  \"width\": " + std::to_string(in.width) + ",\n";
    json += "  \"height\": " + std::to_string(in.height) + ",\n";
    json += "  \"spacing\": " + Triple(in.spacing.s) + ",\n";
    json += "  \"unit\": " + unit + ",\n";
    json += "  \"object_voxels\": " + std::to_string(in.objectVoxels) + ",\n";
    json += "  \"object_volume\": " + ShortestNumber(m.objectVolume) + ",\n";
    json += "  \"hull_volume\": " + ShortestNumber(m.hullVolume) + ",\n";
    json += "  \"hull_surface_area\": " + ShortestNumber(m.hullArea) + ",\n";
    json += "  \"solidity\": " + ShortestNumber(m.solidity) + ",\n";
    json += "  \"hull_vertices\": " + std::to_string(m.hullVertices) + ",\n";
    json += "  \"hull_facets\": " + std::to_string(m.hullFacets) + ",\n";
    json += "  \"bounding_box\": {\"min\": " + Triple(m.bboxMin) +
            ", \"max\": " + Triple(m.bboxMax) + "}\n";
    json += "}\n";
    return json;
}

}  // namespace voxwrap
