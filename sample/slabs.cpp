#include "sample/slabs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
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

struct Vec {
    std::int64_t x, y;
};

// The cross product of b - o and c - o, in Wide: 64 bits when every scaled coordinate stays
// below 2^29 in magnitude (the usual case), else 128 (coordinates up to 2^28 scaled by plane
// distances up to 2^29).
template <class Wide>
Wide Cross(const Vec& o, const Vec& b, const Vec& c) {
    return Wide{b.x - o.x} * (c.y - o.y) - Wide{b.y - o.y} * (c.x - o.x);
}

// Edge directions by angle in [0, 2 pi), counted from the direction of increasing x.
template <class Wide>
bool Before(const Vec& a, const Vec& b) {
    const bool ha = a.y < 0 || (a.y == 0 && a.x < 0), hb = b.y < 0 || (b.y == 0 && b.x < 0);
    if (ha != hb) return hb;
    return Wide{a.x} * b.y - Wide{a.y} * b.x > 0;
}

// Every plane's convex polygon: its corners counter-clockwise, starting from the lowest (least
// y, then least x), so that its edges turn by increasing angle. Points inside a polygon or on
// its edges are no corners of it.
struct Polygons {
    std::vector<std::int64_t> z;
    std::vector<std::size_t> start;  // plane g's corners: ring[start[g] .. start[g + 1])
    std::vector<std::size_t> ring;   // the point each corner is
    std::size_t Size(std::size_t g) const { return start[g + 1] - start[g]; }
    bool HasArea(std::size_t g) const { return Size(g) >= 3; }
};

// Andrew's monotone chain over the plane's points in [begin, end) ascending in (x, y), appended
// to the rings. False when two points coincide.
template <class Wide>
bool TracePolygon(const Points& p, std::size_t begin, std::size_t end, Polygons& out,
                  std::vector<std::size_t>& order) {
    auto at = [&p](std::size_t i) { return Vec{p.x[i], p.y[i]}; };
    auto less = [&p](std::size_t a, std::size_t b) {
        return p.x[a] != p.x[b] ? p.x[a] < p.x[b] : p.y[a] < p.y[b];
    };
    order.clear();
    for (std::size_t i = begin; i < end; ++i)
        order.push_back(i);
    if (!std::is_sorted(order.begin(), order.end(), less))
        std::sort(order.begin(), order.end(), less);
    for (std::size_t k = 1; k < order.size(); ++k) {
        if (!less(order[k - 1], order[k])) return false;
    }
    std::vector<std::size_t>& h = out.ring;
    const std::size_t base = h.size();
    h.resize(base + 2 * order.size() + 1);
    std::size_t k = base;
    auto add = [&](std::size_t i, std::size_t floor) {
        while (k >= floor && Cross<Wide>(at(h[k - 2]), at(h[k - 1]), at(i)) <= 0)
            --k;
        h[k++] = i;
    };
    for (const std::size_t i : order)
        add(i, base + 2);
    const std::size_t lower = k + 1;
    for (std::size_t j = order.size() - 1; j-- > 0;)
        add(order[j], lower);
    h.resize(order.size() == 1 ? base + 1 : k - 1);
    if (h.size() - base >= 3) {
        auto lowest =
            std::min_element(h.begin() + base, h.end(), [&](std::size_t a, std::size_t b) {
                return p.y[a] != p.y[b] ? p.y[a] < p.y[b] : p.x[a] < p.x[b];
            });
        std::rotate(h.begin() + base, lowest, h.end());
    }
    out.z.push_back(p.z[begin]);
    out.start.push_back(h.size());
    return true;
}

// The polygon sum sa * A + sb * B of planes a and b (both with area), counter-clockwise from its
// lowest corner: the edges of both merged by angle.
template <class Wide>
void PolygonSum(const Points& p, const Polygons& P, std::size_t a, std::int64_t sa, std::size_t b,
                std::int64_t sb, std::vector<Vec>& A, std::vector<Vec>& B, std::vector<Vec>& out) {
    auto scaled = [&](std::size_t g, std::int64_t s, std::vector<Vec>& v) {
        v.clear();
        for (std::size_t k = P.start[g]; k < P.start[g + 1]; ++k)
            v.push_back(Vec{p.x[P.ring[k]] * s, p.y[P.ring[k]] * s});
        v.push_back(v.front());
    };
    scaled(a, sa, A);
    scaled(b, sb, B);
    const std::size_t n = A.size() - 1, m = B.size() - 1;
    out.clear();
    std::size_t i = 0, j = 0;
    while (i < n || j < m) {
        // A[n] is A[0] again, B[m] is B[0].
        out.push_back(Vec{A[i].x + B[j].x, A[i].y + B[j].y});
        bool stepA = i < n, stepB = j < m;
        if (stepA && stepB) {
            const Vec ea{A[i + 1].x - A[i].x, A[i + 1].y - A[i].y};
            const Vec eb{B[j + 1].x - B[j].x, B[j + 1].y - B[j].y};
            stepA = !Before<Wide>(eb, ea);
            stepB = !Before<Wide>(ea, eb);
        }
        i += stepA;
        j += stepB;
    }
}

// q inside the convex polygon M (counter-clockwise, no three corners on a line) or on its
// boundary: a search of the fan of triangles from M[0].
template <class Wide>
bool Encloses(const std::vector<Vec>& M, const Vec& q) {
    const std::size_t m = M.size();
    if (Cross<Wide>(M[0], M[1], q) < 0 || Cross<Wide>(M[0], M[m - 1], q) > 0) return false;
    std::size_t lo = 1, hi = m - 1;
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (Cross<Wide>(M[0], M[mid], q) >= 0)
            lo = mid;
        else
            hi = mid;
    }
    return Cross<Wide>(M[lo], M[lo + 1], q) >= 0;
}

// DropEnclosedPoints on points ascending in z, in Wide arithmetic.
template <class Wide>
void DropEnclosed(Points& points, std::size_t planesAround) {
    const std::size_t n = points.size();
    Polygons planes;
    planes.start.push_back(0);
    std::vector<std::size_t> order;
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = begin + 1;
        while (end < n && points.z[end] == points.z[begin])
            ++end;
        if (!TracePolygon<Wide>(points, begin, end, planes, order)) return;  // repeats: as they are
        begin = end;
    }
    // A point of plane z in the hull of planes z1 < z < z2 lies in that hull's section at z,
    // ((z2 - z) A + (z - z1) B) / (z2 - z1) for the planes' polygons A and B; scaled by z2 - z1,
    // the test is exact in integers. Such a point lies in the hull of other points: no corner.
    std::vector<char> keep(n, 0);
    std::vector<std::size_t> alive;
    std::vector<Vec> sum, A, B;
    const std::size_t count = planes.z.size();
    for (std::size_t g = 0; g < count; ++g) {
        alive.assign(planes.ring.begin() + planes.start[g],
                     planes.ring.begin() + planes.start[g + 1]);
        const std::int64_t z = planes.z[g];
        for (std::size_t i = 1; i <= planesAround && i <= g; ++i) {
            const std::size_t a = g - i;
            for (std::size_t j = 1; j <= planesAround && g + j < count; ++j) {
                const std::size_t b = g + j;
                if (alive.empty() || !planes.HasArea(a) || !planes.HasArea(b)) continue;
                PolygonSum<Wide>(points, planes, a, planes.z[b] - z, b, z - planes.z[a], A, B, sum);
                const std::int64_t s = planes.z[b] - planes.z[a];
                alive.erase(
                    std::remove_if(
                        alive.begin(), alive.end(),
                        [&](std::size_t k) {
                            return Encloses<Wide>(sum, Vec{points.x[k] * s, points.y[k] * s});
                        }),
                    alive.end());
            }
        }
        for (const std::size_t k : alive)
            keep[k] = 1;
    }
    const auto m =
        static_cast<std::size_t>(KeepFlagged(points.x, points.y, points.z, n, keep.data()));
    points.x.resize(m);
    points.y.resize(m);
    points.z.resize(m);
}

}  // namespace

void DropEnclosedPoints(Points& points, int planesAround) {
    const std::size_t n = points.size();
    if (n == 0 || planesAround < 1) return;
    std::int64_t largest = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && points.z[i] < points.z[i - 1]) return;
        largest = std::max(
            {largest, std::abs(std::int64_t{points.x[i]}), std::abs(std::int64_t{points.y[i]})});
    }
    // Scaled coordinates reach largest times the distance of two planes.
    const std::int64_t span = std::int64_t{points.z[n - 1]} - points.z[0];
    if (largest * span < (std::int64_t{1} << 29))
        DropEnclosed<std::int64_t>(points, static_cast<std::size_t>(planesAround));
    else
        DropEnclosed<Int128>(points, static_cast<std::size_t>(planesAround));
}

namespace {

// What both reductions of a slab do before its hull: false for a flat set, which has no corners
// in the sense of MarkExtremePoints (every vertex sees one plane) and is left as it is; else the
// points its planes enclose dropped. Sampling planes are polygons of positive area, so a slab of
// two planes or more is solid; this checks it rather than rely on it.
bool DropForHull(Points& slab) {
    if (!IsSolid(slab)) return false;
    // One plane on either side: the slab's own hull follows, and more pairs would cost more
    // than they spare it (on CT phantoms, two cost 5 % more overall).
    DropEnclosedPoints(slab, 1);
    return true;
}

}  // namespace

void KeepSlabCorners(Points& slab) {
    if (!DropForHull(slab)) return;
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

bool HullSlab(Points& slab, HullStorage& hull) {
    if (!DropForHull(slab)) return false;
    try {
        Points turned;
        turned.x = slab.z;
        turned.y = slab.x;
        turned.z = slab.y;
        const std::int32_t n = hull.TakePoints(std::move(turned));
        hull.SizeCells();
        FirstHull(n, hull);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const Error&) {
        return false;
    }
    // The hull's vertices hold every corner of the slab: they are what the slab keeps.
    const std::int32_t kept = KeepFlagged(slab.x, slab.y, slab.z, slab.size(), hull.IVFLAG.data());
    for (auto* a : {&slab.x, &slab.y, &slab.z}) {
        a->resize(static_cast<std::size_t>(kept));
        a->shrink_to_fit();
    }
    return true;
}

}  // namespace sampling
}  // namespace voxwrap
