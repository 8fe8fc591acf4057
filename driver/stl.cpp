#include "driver/stl.h"

#include "driver/error.h"
#include "driver/output.h"

namespace {

void PutFloat(std::FILE* stream, float value) { Put(stream, &value, sizeof value); }

}  // namespace

int FV3(const HullStorage& hull, std::int32_t f, std::int32_t& a, std::int32_t& b,
        std::int32_t& c) {
    std::int32_t p[3];
    hull.FacePoints(f + 1, p);
    a = p[0] - 1;
    b = p[1] - 1;
    c = p[2] - 1;
    return HasArea(hull.IX.data(), hull.IY.data(), hull.IZ.data(), a, b, c) ? 1 : 0;
}

void WriteStl(std::FILE* stream, const HullStorage& h) {
    for (int i = 0; i < 80; ++i) {
        if (std::fputc(0, stream) == EOF) Error("file not stored.");
    }
    const std::int32_t slots = h.NFMAX();
    const std::int32_t* X = h.IX.data();
    const std::int32_t* Y = h.IY.data();
    const std::int32_t* Z = h.IZ.data();
    // Free face slots and faces of zero area are left out of both passes.
    auto face = [&](std::int32_t f, std::int32_t& a, std::int32_t& b, std::int32_t& c) {
        return h.IFFLAG[f] != 0 && FV3(h, f, a, b, c) == 1;
    };
    std::uint32_t count = 0;
    std::int32_t a = 0, b = 0, c = 0;
    for (std::int32_t f = 0; f < slots; ++f)
        count += face(f, a, b, c) ? 1 : 0;
    Put(stream, &count, 4);
    for (std::int32_t f = 0; f < slots; ++f) {
        if (!face(f, a, b, c)) continue;
        // The normal in 64 bits: coordinates reach 2^28, so 32-bit products could overflow.
        const std::int64_t ux = std::int64_t{X[b]} - X[a], uy = std::int64_t{Y[b]} - Y[a],
                           uz = std::int64_t{Z[b]} - Z[a];
        const std::int64_t vx = std::int64_t{X[c]} - X[a], vy = std::int64_t{Y[c]} - Y[a],
                           vz = std::int64_t{Z[c]} - Z[a];
        const std::int64_t nx = uy * vz - uz * vy;
        const std::int64_t ny = uz * vx - ux * vz;
        const std::int64_t nz = ux * vy - uy * vx;
        PutFloat(stream, static_cast<float>(nx));
        PutFloat(stream, static_cast<float>(ny));
        PutFloat(stream, static_cast<float>(nz));
        for (const std::int32_t p : {a, b, c}) {
            PutFloat(stream, static_cast<float>(X[p]));
            PutFloat(stream, static_cast<float>(Y[p]));
            PutFloat(stream, static_cast<float>(Z[p]));
        }
        // Bit 15 always; five bits per axis along which the normal has a component.
        const std::uint16_t attribute = static_cast<std::uint16_t>(
            0x8000 | (nx != 0 ? 0x7C00 : 0) | (ny != 0 ? 0x03E0 : 0) | (nz != 0 ? 0x001F : 0));
        Put(stream, &attribute, 2);
    }
}
