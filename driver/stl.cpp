#include "driver/stl.h"

#include "driver/mesh.h"

int FV3(const HullStorage& hull, std::int32_t f, std::int32_t& a, std::int32_t& b,
        std::int32_t& c) {
    std::int32_t p[3];
    hull.FacePoints(f + 1, p);
    a = p[0] - 1;
    b = p[1] - 1;
    c = p[2] - 1;
    return HasArea(hull.IX.data(), hull.IY.data(), hull.IZ.data(), a, b, c) ? 1 : 0;
}

void WriteStl(std::FILE* stream, const HullStorage& hull) {
    WriteMesh(stream, HullMesh(hull), MeshFormat::Stl, Spacing{}, "");
}
