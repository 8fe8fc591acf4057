#include "sample/slabs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

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

namespace {

// How many planes on either side of a plane the enclosure test pairs up: more pairs find more
// enclosed points, each pair at the cost of one polygon sum.
constexpr std::size_t kPlanesAround = 3;

struct Vec {
    std::int64_t x, y;
};

// Scaled coordinates take up to 58 bits, so the products need 128.
Int128 Cross(const Vec& o, const Vec& a, const Vec& b) {
    return Int128{a.x - o.x} * (b.y - o.y) - Int128{a.y - o.y} * (b.x - o.x);
}

// Edge directions by angle in [0, 2 pi), counted from the direction of increasing x.
bool Before(const Vec& a, const Vec& b) {
    auto half = [](const Vec& e) { return e.y < 0 || (e.y == 0 && e.x < 0); };
    if (half(a) != half(b)) return !half(a);
    return Int128{a.x} * b.y - Int128{a.y} * b.x > 0;
}

// One plane's points and their convex polygon: its corners counter-clockwise, each the number of
// a point, starting from the lowest corner (least y, then least x), so that its edges turn by
// increasing angle. Points inside the polygon or on its edges are no corners of it.
struct Plane {
    std::int64_t z;
    std::size_t begin, end;        // the plane's points
    std::vector<std::size_t> ring;  // its polygon's corners
    bool HasArea() const { return ring.size() >= 3; }
};

// Andrew's monotone chain over the points ascending in (x, y). False when two points coincide.
bool TracePolygon(const Points& p, Plane& plane, std::vector<std::size_t>& order) {
    auto at = [&p](std::size_t i) { return Vec{p.x[i], p.y[i]}; };
    order.clear();
    for (std::size_t i = plane.begin; i < plane.end; ++i)
        order.push_back(i);
    auto less = [&p](std::size_t a, std::size_t b) {
        return p.x[a] != p.x[b] ? p.x[a] < p.x[b] : p.y[a] < p.y[b];
    };
    if (!std::is_sorted(order.begin(), order.end(), less))
        std::sort(order.begin(), order.end(), less);
    for (std::size_t k = 1; k < order.size(); ++k) {
        if (!less(order[k - 1], order[k])) return false;
    }
    std::vector<std::size_t>& h = plane.ring;
    h.assign(2 * order.size() + 1, 0);
    std::size_t k = 0;
    auto add = [&](std::size_t i, std::size_t floor) {
        while (k >= floor && Cross(at(h[k - 2]), at(h[k - 1]), at(i)) <= 0)
            --k;
        h[k++] = i;
    };
    for (const std::size_t i : order)
        add(i, 2);
    const std::size_t lower = k + 1;
    for (std::size_t j = order.size() - 1; j-- > 0;)
        add(order[j], lower);
    h.resize(order.size() == 1 ? 1 : k - 1);
    if (h.size() >= 3) {
        auto lowest = std::min_element(h.begin(), h.end(), [&](std::size_t a, std::size_t b) {
            return p.y[a] != p.y[b] ? p.y[a] < p.y[b] : p.x[a] < p.x[b];
        });
        std::rotate(h.begin(), lowest, h.end());
    }
    return true;
}

// The polygon sum sa * A + sb * B (A and B with area), counter-clockwise from its lowest corner:
// the edges of both merged by angle.
void PolygonSum(const Points& p, const Plane& A, std::int64_t sa, const Plane& B,
                std::int64_t sb, std::vector<Vec>& out) {
    const std::size_t n = A.ring.size(), m = B.ring.size();
    auto a = [&](std::size_t i) {
        const std::size_t k = A.ring[i % n];
        return Vec{p.x[k] * sa, p.y[k] * sa};
    };
    auto b = [&](std::size_t j) {
        const std::size_t k = B.ring[j % m];
        return Vec{p.x[k] * sb, p.y[k] * sb};
    };
    auto edge = [](const Vec& from, const Vec& to) { return Vec{to.x - from.x, to.y - from.y}; };
    out.clear();
    std::size_t i = 0, j = 0;
    while (i < n || j < m) {
        out.push_back(Vec{a(i).x + b(j).x, a(i).y + b(j).y});
        const Vec ea = edge(a(i), a(i + 1)), eb = edge(b(j), b(j + 1));
        if (j == m || (i < n && Before(ea, eb))) {
            ++i;
        } else if (i == n || Before(eb, ea)) {
            ++j;
        } else {
            ++i;
            ++j;
        }
    }
}

// q inside the convex polygon M (counter-clockwise, no three corners on a line) or on its
// boundary: a search of the fan of triangles from M[0].
bool Encloses(const std::vector<Vec>& M, const Vec& q) {
    const std::size_t m = M.size();
    if (Cross(M[0], M[1], q) < 0 || Cross(M[0], M[m - 1], q) > 0) return false;
    std::size_t lo = 1, hi = m - 1;
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (Cross(M[0], M[mid], q) >= 0)
            lo = mid;
        else
            hi = mid;
    }
    return Cross(M[lo], M[lo + 1], q) >= 0;
}

}  // namespace

void DropEnclosedPoints(Points& points) {
    const std::size_t n = points.size();
    for (std::size_t i = 1; i < n; ++i) {
        if (points.z[i] < points.z[i - 1]) return;
    }
    std::vector<Plane> planes;
    std::vector<std::size_t> order;
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = begin + 1;
        while (end < n && points.z[end] == points.z[begin])
            ++end;
        planes.push_back(Plane{points.z[begin], begin, end, {}});
        if (!TracePolygon(points, planes.back(), order)) return;  // repeats: left as they are
        begin = end;
    }
    // A point of plane z in the hull of planes z1 < z < z2 lies in that hull's section at z,
    // ((z2 - z) A + (z - z1) B) / (z2 - z1) for the planes' polygons A and B; scaled by z2 - z1,
    // the test is exact in integers. Such a point lies in the hull of other points: no corner.
    std::vector<char> keep(n, 0);
    std::vector<std::size_t> alive;
    std::vector<Vec> sum;
    for (std::size_t g = 0; g < planes.size(); ++g) {
        alive = planes[g].ring;
        for (std::size_t i = 1; i <= kPlanesAround && i <= g; ++i) {
            const Plane& A = planes[g - i];
            for (std::size_t j = 1; j <= kPlanesAround && g + j < planes.size(); ++j) {
                const Plane& B = planes[g + j];
                if (alive.empty() || !A.HasArea() || !B.HasArea()) continue;
                const std::int64_t z = planes[g].z;
                PolygonSum(points, A, B.z - z, B, z - A.z, sum);
                const std::int64_t s = B.z - A.z;
                alive.erase(std::remove_if(alive.begin(), alive.end(),
                                           [&](std::size_t k) {
                                               return Encloses(sum, Vec{points.x[k] * s,
                                                                        points.y[k] * s});
                                           }),
                            alive.end());
            }
        }
        for (const std::size_t k : alive)
            keep[k] = 1;
    }
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (keep[i] == 0) continue;
        points.x[m] = points.x[i];
        points.y[m] = points.y[i];
        points.z[m] = points.z[i];
        ++m;
    }
    points.x.resize(m);
    points.y.resize(m);
    points.z.resize(m);
}

void KeepSlabCorners(Points& slab) {
    // A flat set has no corners in the sense of MarkExtremePoints (every vertex sees one plane):
    // only a solid is reduced. Sampling planes are polygons of positive area, so a slab of two
    // planes or more is solid; this checks it rather than rely on it.
    if (!IsSolid(slab)) return;
    DropEnclosedPoints(slab);
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
