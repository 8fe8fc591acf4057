#pragma once
// The one point type from sampling to the hull: integer corners of voxel cubes, structure of
// arrays, so a stage hands its points to the next by moving three vectors, never by a copy loop.
// The order of the points is part of the result: the hull breaks ties by it.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace voxwrap {

struct Points {
    std::vector<std::int32_t> x, y, z;

    std::size_t size() const { return x.size(); }
    bool empty() const { return x.empty(); }
    void push_back(std::int32_t px, std::int32_t py, std::int32_t pz) {
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
};

}  // namespace voxwrap
