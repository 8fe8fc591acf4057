#include "sample/slabs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <utility>

#include "common/failure.h"
#include "hull/chull3.h"
#include "hull/storage.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace sampling {

// Coordinates lie within the hull's limit, so differences stay below 2^29 and the cross products
// below 2^59.
bool IsSolid(const Points& p) {
    const std::size_t n = p.size();
    if (n < 6) return false;  // too few for the hull, and never a slab of two sampling planes
    using Vector = std::array<std::int64_t, 3>;
    auto d = [&p](std::size_t i) {
        return Vector{std::int64_t{p.x[i]} - p.x[0], std::int64_t{p.y[i]} - p.y[0],
                      std::int64_t{p.z[i]} - p.z[0]};
    };
    std::size_t i = 1;
    while (i < n && d(i) == Vector{0, 0, 0})
        ++i;
    std::size_t j = i + 1;
    for (; j < n; ++j) {
        const Vector a = d(i), b = d(j);
        if (a[1] * b[2] != a[2] * b[1] || a[2] * b[0] != a[0] * b[2] || a[0] * b[1] != a[1] * b[0])
            break;
    }
    for (std::size_t k = j + 1; k < n; ++k) {
        // The hull's exact orientation test, on 1-based point numbers.
        const std::int32_t P[4] = {1, static_cast<std::int32_t>(i + 1),
                                   static_cast<std::int32_t>(j + 1),
                                   static_cast<std::int32_t>(k + 1)};
        if (jd1sss(P, p.x.data(), p.y.data(), p.z.data()) != 0) return true;
    }
    return false;
}

void KeepSlabCorners(Points& slab) {
    // A flat set has no corners in the sense of MarkExtremePoints (every vertex sees one plane):
    // only a solid is reduced. Sampling planes are polygons of positive area, so a slab of two
    // planes or more is solid; this checks it rather than rely on it.
    if (!IsSolid(slab)) return;
    try {
        Points corners = HullCorners(slab);  // a copy: on a failure every point stays
        // Fewer than six corners would fail the hull's second pass, so the whole set stays, as
        // the final hull's first pass can take it.
        if (corners.size() >= 6) slab = std::move(corners);
    } catch (const std::bad_alloc&) {
    } catch (const Error&) {
        // Every point stays: the hull of the whole set decides, and reports, as it always did.
    }
}

}  // namespace sampling
}  // namespace voxwrap
