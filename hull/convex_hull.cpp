#include "voxwrap/voxwrap.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "hull/check.h"
#include "hull/storage.h"
#ifndef NDEBUG
#include "hull/stop.h"
#endif

namespace voxwrap {

namespace {

// The triangles of the finished second pass, in face-slot order, and its corners: the first
// `corners` points of the storage, which every triangle indexes.
Hull TakeHull(const HullStorage& storage, std::int32_t corners) {
    Hull hull;
    std::int32_t p[3];
    for (std::int32_t f = 0; f < storage.NFMAX(); ++f) {
        if (storage.IFFLAG[f] == mark::FREE) continue;
        storage.FacePoints(f + 1, p);
        // The second pass leaves no face of zero area; the test keeps the rule explicit.
        if (HasArea(storage.IX.data(), storage.IY.data(), storage.IZ.data(), p[0] - 1, p[1] - 1,
                    p[2] - 1)) {
            hull.triangles.push_back({p[0] - 1, p[1] - 1, p[2] - 1});
        }
    }
    hull.vertices.x.assign(storage.IX.begin(), storage.IX.begin() + corners);
    hull.vertices.y.assign(storage.IY.begin(), storage.IY.begin() + corners);
    hull.vertices.z.assign(storage.IZ.begin(), storage.IZ.begin() + corners);
    return hull;
}

// True when two vertices of the finished first pass coincide. The perturbation keeps coincident
// points apart, joined by faces of zero area, and then no copy of a corner sees the three planes
// that make it one: the second pass would lose it. Sampling points never repeat; other input may.
bool CoincidentVertices(const HullStorage& storage, std::int32_t n) {
    std::vector<std::array<std::int32_t, 3>> at;
    for (std::int32_t i = 0; i < n; ++i) {
        if (storage.IVFLAG[i] == mark::IN_USE)
            at.push_back({storage.IX[i], storage.IY[i], storage.IZ[i]});
    }
    std::sort(at.begin(), at.end());
    return std::adjacent_find(at.begin(), at.end()) != at.end();
}

// Keeps the first of every set of equal points, in their order, at the front of IX, IY, IZ and
// returns how many there are.
std::int32_t KeepDistinctPoints(HullStorage& storage, std::int32_t n) {
    std::vector<std::int32_t> order(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i)
        order[i] = i;
    auto key = [&](std::int32_t i) {
        return std::array<std::int32_t, 4>{storage.IX[i], storage.IY[i], storage.IZ[i], i};
    };
    std::sort(order.begin(), order.end(),
              [&](std::int32_t a, std::int32_t b) { return key(a) < key(b); });
    std::vector<char> keep(static_cast<std::size_t>(n), 0);
    for (std::int32_t k = 0; k < n; ++k) {
        const std::int32_t i = order[k], j = k > 0 ? order[k - 1] : -1;
        keep[i] = j < 0 || storage.IX[i] != storage.IX[j] || storage.IY[i] != storage.IY[j] ||
                  storage.IZ[i] != storage.IZ[j];
    }
    return KeepFlagged(storage.IX, storage.IY, storage.IZ, static_cast<std::size_t>(n),
                       keep.data());
}

// True when the points strictly ascend in (z, y, x) order, as the samplers deliver them: then no
// two coincide, and the search for coincident vertices, a sort of them all, has nothing to find.
bool AscendingZyx(const Points& p) {
    for (std::size_t i = 1; i < p.size(); ++i) {
        const bool after = p.z[i] != p.z[i - 1]   ? p.z[i] > p.z[i - 1]
                           : p.y[i] != p.y[i - 1] ? p.y[i] > p.y[i - 1]
                                                  : p.x[i] > p.x[i - 1];
        if (!after) return false;
    }
    return true;
}

// The first pass over the points, in a storage of their own.
void FirstPass(Points points, HullStorage& storage) {
    const bool distinct = AscendingZyx(points);
    std::int32_t n = storage.TakePoints(std::move(points));
    storage.SizeCells();
    FirstHull(n, storage);
    if (!distinct && CoincidentVertices(storage, n)) {
        // The hull of the distinct points is the same set; on it the corners survive.
        n = KeepDistinctPoints(storage, n);
        storage.Reuse(n);
        FirstHull(n, storage);
    }
}

}  // namespace

Hull ConvexHull(Points points) {
#ifndef NDEBUG
    const Points input = points;  // the second pass overwrites the storage's copy
#endif
    Hull hull;
    {
        HullStorage storage;
        FirstPass(std::move(points), storage);
        const std::int32_t corners = SecondHull(storage);
        hull = TakeHull(storage, corners);
    }
#ifndef NDEBUG
    // Bounded on large inputs (see CheckConvexHull); --verify checks every point in any build.
    const std::string fault = hullcheck::CheckConvexHull(input, hull, false);
    if (!fault.empty()) HullStop("Error in the hull check: " + fault);
#endif
    return hull;
}

Points HullCorners(Points points) {
    HullStorage storage;
    FirstPass(std::move(points), storage);
    // The second pass runs on exactly these points, in this order, and keeps them all: they are
    // the vertices of ConvexHull, without the faces that pass would build.
    const std::int32_t corners = KeepExtremePoints(storage);
    Points out;
    out.x.assign(storage.IX.begin(), storage.IX.begin() + corners);
    out.y.assign(storage.IY.begin(), storage.IY.begin() + corners);
    out.z.assign(storage.IZ.begin(), storage.IZ.begin() + corners);
    return out;
}

void VerifyHull(const Points& points, const Hull& hull) {
    const std::string fault = hullcheck::CheckConvexHull(points, hull);
    if (!fault.empty()) Fail(Error::Kind::Geometry, "hull verification failed: " + fault + ".");
}

}  // namespace voxwrap
