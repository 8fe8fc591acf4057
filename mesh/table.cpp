#include "mesh/table.h"

#include <utility>

namespace voxwrap {

namespace {

// The columns of the table and the keys of the report, with their values for one row.
std::vector<std::pair<const char*, std::string>> Fields(const ObjectRow& r) {
    const Measurements& h = r.hull;
    return {{"id", std::to_string(r.id)},
            {"voxels", std::to_string(r.voxels)},
            {"volume", ShortestNumber(h.objectVolume)},
            {"hull_volume", ShortestNumber(h.hullVolume)},
            {"hull_area", ShortestNumber(h.hullArea)},
            {"solidity", ShortestNumber(h.solidity)},
            {"hull_vertices", std::to_string(h.hullVertices)},
            {"hull_facets", std::to_string(h.hullFacets)},
            {"bbox_min_x", ShortestNumber(r.bboxMin[0])},
            {"bbox_min_y", ShortestNumber(r.bboxMin[1])},
            {"bbox_min_z", ShortestNumber(r.bboxMin[2])},
            {"bbox_max_x", ShortestNumber(r.bboxMax[0])},
            {"bbox_max_y", ShortestNumber(r.bboxMax[1])},
            {"bbox_max_z", ShortestNumber(r.bboxMax[2])},
            {"centroid_x", ShortestNumber(r.centroid[0])},
            {"centroid_y", ShortestNumber(r.centroid[1])},
            {"centroid_z", ShortestNumber(r.centroid[2])}};
}

}  // namespace

ObjectRow MeasureObject(const SampledObject& object, const Hull& hull, const Spacing& spacing) {
    ObjectRow r;
    r.id = object.id;
    r.voxels = object.voxels;
    r.hull = Measure(hull, object.voxels, spacing);
    for (int k = 0; k < 3; ++k) {
        const double s = spacing.s[k];
        r.bboxMin[k] = static_cast<double>(object.min[k]) * s;
        r.bboxMax[k] = static_cast<double>(std::int64_t{object.max[k]} + 1) * s;
        // The mean of the centres i + 1/2: (2 sum + n) / 2n, one rounding from the exact integers.
        const Int128 twice = 2 * object.sum[k] + object.voxels;
        r.centroid[k] = static_cast<double>(static_cast<long double>(twice) /
                                            (2 * static_cast<long double>(object.voxels)) * s);
    }
    return r;
}

std::string TableCsv(const std::vector<ObjectRow>& rows) {
    std::string csv;
    bool first = true;
    for (const auto& field : Fields(ObjectRow{})) {
        csv += first ? "" : ",";
        csv += field.first;
        first = false;
    }
    csv += "\n";
    for (const ObjectRow& r : rows) {
        first = true;
        for (const auto& field : Fields(r)) {
            csv += first ? "" : ",";
            csv += field.second;
            first = false;
        }
        csv += "\n";
    }
    return csv;
}

std::string ObjectsReportJson(const ReportInput& in, const std::vector<ObjectRow>& rows) {
    const double* s = in.spacing.s;
    std::string json = "{\n";
    json += "  \"slices\": " + std::to_string(in.slices) + ",\n";
    json += "  \"width\": " + std::to_string(in.width) + ",\n";
    json += "  \"height\": " + std::to_string(in.height) + ",\n";
    json += "  \"spacing\": [" + ShortestNumber(s[0]) + ", " + ShortestNumber(s[1]) + ", " +
            ShortestNumber(s[2]) + "],\n";
    json +=
        "  \"unit\": " + (in.unit.empty() ? std::string("null") : "\"" + in.unit + "\"") + ",\n";
    json += "  \"objects\": [";
    for (std::size_t k = 0; k < rows.size(); ++k) {
        json += k == 0 ? "\n    {" : ",\n    {";
        bool first = true;
        for (const auto& field : Fields(rows[k])) {
            json += first ? "\"" : ", \"";
            json += field.first;
            json += "\": " + field.second;
            first = false;
        }
        json += "}";
    }
    json += rows.empty() ? "]\n" : "\n  ]\n";
    json += "}\n";
    return json;
}

}  // namespace voxwrap
