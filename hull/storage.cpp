#include "hull/storage.h"

#include <cstdint>
#include <new>
#include <utility>

#include "common/failure.h"

namespace voxwrap {

namespace {

constexpr const char* kHullMemory = "no allocatable memory for convex hull.";

// A zero-filled array; a count that cannot be represented is a failed allocation.
std::vector<std::int32_t> Allocate(std::int64_t count) {
    if (count < 0 || static_cast<std::uint64_t>(count) > PTRDIFF_MAX / sizeof(std::int32_t))
        Fail(Error::Kind::Memory, kHullMemory);
    try {
        return std::vector<std::int32_t>(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, kHullMemory);
    }
}

struct Triangle {
    std::int32_t p[3];  // 1-based point numbers
};

bool Coplanar(const Triangle& t, const Triangle& u, const HullStorage& hull) {
    for (const std::int32_t q : u.p) {
        if (q == t.p[0] || q == t.p[1] || q == t.p[2]) continue;  // shared points lie in t's plane
        const std::int32_t P[4] = {t.p[0], t.p[1], t.p[2], q};
        if (jd1sss(P, hull.IX.data(), hull.IY.data(), hull.IZ.data()) != 0) return false;
    }
    return true;
}

// Every array but IX, IY, IZ, in the order of chull3's argument list, with the entries it holds
// per point of capacity: the one list that SizeCells and Grow both follow.
template <class Visit>
void EachCellArray(HullStorage& h, Visit visit) {
    for (auto* a : {&h.IRANK, &h.IVEDGE})
        visit(*a, 1);
    visit(h.IFEDGE, FacesPerPoint);
    for (auto* a : {&h.IEVS, &h.IEVE, &h.IEF1, &h.IEF2, &h.IESF1, &h.IESF2, &h.IEEF2, &h.IEEF1})
        visit(*a, EdgesPerPoint);
    for (auto* a : {&h.IVSUB, &h.IORDER, &h.IVNEXT, &h.IVPREV, &h.IVFLAG, &h.ISPREV})
        visit(*a, 1);
    for (auto* a : {&h.IEFLAG, &h.IESTK})
        visit(*a, EdgesPerPoint);
    for (auto* a : {&h.IFFLAG, &h.IFSTK})
        visit(*a, FacesPerPoint);
}

}  // namespace

void HullStorage::SizePoints(std::int64_t n) {
    // Edge numbers are 32-bit: EdgesPerPoint * m edges must be countable.
    if (n < 0 || n + 1 > INT32_MAX / EdgesPerPoint) Fail(Error::Kind::Memory, kHullMemory);
    m_ = static_cast<std::int32_t>(n + 1);
    IX = Allocate(m_);
    IY = Allocate(m_);
    IZ = Allocate(m_);
}

std::int32_t HullStorage::TakePoints(voxwrap::Points points) {
    const auto n = static_cast<std::int64_t>(points.size());
    if (n + 1 > INT32_MAX / EdgesPerPoint) Fail(Error::Kind::Memory, kHullMemory);
    m_ = static_cast<std::int32_t>(n + 1);
    IX = std::move(points.x);
    IY = std::move(points.y);
    IZ = std::move(points.z);
    try {
        for (auto* a : {&IX, &IY, &IZ})
            a->resize(static_cast<std::size_t>(m_));
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, kHullMemory);
    }
    return m_ - 1;
}

void HullStorage::SizeCells() {
    EachCellArray(*this, [this](std::vector<std::int32_t>& a, std::int32_t perPoint) {
        a = Allocate(std::int64_t{perPoint} * m_);
    });
}

void HullStorage::Reuse(std::int32_t n) {
    if (n < 0 || n + 1 > m_) Fail(Error::Kind::Memory, kHullMemory);
    m_ = n + 1;
}

void HullStorage::Grow(std::int64_t m) {
    if (m < m_ || m > INT32_MAX / EdgesPerPoint) Fail(Error::Kind::Memory, kHullMemory);
    try {
        for (auto* a : {&IX, &IY, &IZ})
            a->resize(static_cast<std::size_t>(m));
        EachCellArray(*this, [m](std::vector<std::int32_t>& a, std::int32_t perPoint) {
            a.resize(static_cast<std::size_t>(perPoint * m));
        });
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, kHullMemory);
    }
    m_ = static_cast<std::int32_t>(m);
}

void HullStorage::Run(std::int32_t n) {
    IPAR[slot::NVMAX - 1] = m_;  // the only entry the caller sets
    chull3(n, PointsView(), CellsView(), WorkView());
}

void HullStorage::FacePoints(std::int32_t f, std::int32_t out[3]) const {
    vonf3(f, out, CellsView());
}

Cells HullStorage::CellsView() {
    return {IPAR,        IVEDGE.data(), IFEDGE.data(), IEVS.data(),  IEVE.data(), IEF1.data(),
            IEF2.data(), IESF1.data(),  IESF2.data(),  IEEF2.data(), IEEF1.data()};
}

ConstCells HullStorage::CellsView() const {
    return {IPAR,        IVEDGE.data(), IFEDGE.data(), IEVS.data(),  IEVE.data(), IEF1.data(),
            IEF2.data(), IESF1.data(),  IESF2.data(),  IEEF2.data(), IEEF1.data()};
}

PointSet HullStorage::PointsView() { return {IX.data(), IY.data(), IZ.data(), IRANK.data()}; }

Work HullStorage::WorkView() {
    return {IVSUB.data(),  IORDER.data(), IVNEXT.data(), IVPREV.data(), IVFLAG.data(),
            ISPREV.data(), IEFLAG.data(), IESTK.data(),  IFFLAG.data(), IFSTK.data()};
}

bool HasArea(const std::int32_t* IX, const std::int32_t* IY, const std::int32_t* IZ, std::int32_t a,
             std::int32_t b, std::int32_t c) {
    // Every coordinate difference is below 2^29 in magnitude, so every product is below 2^58.
    const std::int64_t d1x = std::int64_t{IX[a]} - IX[c], d1y = std::int64_t{IY[a]} - IY[c],
                       d1z = std::int64_t{IZ[a]} - IZ[c];
    const std::int64_t d2x = std::int64_t{IX[b]} - IX[c], d2y = std::int64_t{IY[b]} - IY[c],
                       d2z = std::int64_t{IZ[b]} - IZ[c];
    return d1x * d2y != d1y * d2x || d1z * d2x != d1x * d2z || d1y * d2z != d2y * d1z;
}

std::int32_t MarkExtremePoints(std::int32_t n, const HullStorage& h, std::int32_t* keep) {
    const ConstCells C = h.CellsView();
    std::int32_t count = 0;
    for (std::int32_t v = 1; v <= n; ++v) {
        keep[v - 1] = 0;
        if (h.IVFLAG[v - 1] != mark::IN_USE) continue;
        // Walk the faces around v; a vertex inside a true face sees one plane, inside a true
        // edge two, and a corner three or more.
        Triangle planes[2];
        int found = 0;
        const std::int32_t e0 = C.IVEDGE(v);
        std::int32_t e = e0;
        do {
            const std::int32_t f = C.IEVS(e) == v ? C.IEF2(e) : C.IEF1(e);  // the face after e
            e = nextAround(C, e, v);
            Triangle t;
            h.FacePoints(f, t.p);
            if (!HasArea(h.IX.data(), h.IY.data(), h.IZ.data(), t.p[0] - 1, t.p[1] - 1,
                         t.p[2] - 1)) {
                continue;
            }
            bool known = false;
            for (int i = 0; i < found && !known; ++i)
                known = Coplanar(planes[i], t, h);
            if (known) continue;
            if (found == 2) {
                keep[v - 1] = 1;
                ++count;
                break;
            }
            planes[found++] = t;
        } while (e != e0);
    }
    return count;
}

void FirstHull(std::int32_t n, HullStorage& h) {
    for (std::int32_t i = 0; i < n; ++i)
        h.IRANK[i] = i;
    h.Run(n);
}

std::int32_t KeepExtremePoints(HullStorage& h) {
    const std::int32_t count = h.NVMAX() - 1;
    // IVSUB is free once chull3 has returned and holds the marks.
    std::int32_t* keep = h.IVSUB.data();
    const std::int32_t extreme = MarkExtremePoints(count, h, keep);
    KeepFlagged(h.IX, h.IY, h.IZ, static_cast<std::size_t>(count), keep);
    return extreme;
}

std::int32_t SecondHull(HullStorage& h) {
    // The perturbation keeps points that lie inside edges and faces of the true hull; their
    // zero-area faces would leave T-junctions. The hull of the extreme points alone has none.
    const std::int32_t n = h.NVMAX() - 1;
    const std::int32_t extreme = KeepExtremePoints(h);
    // When every point is a corner, this pass would run chull3 again on the very points, ranks
    // and capacities of the first, and chull3 depends on nothing else: the first hull is already
    // its result. Sampling that drops enclosed points often leaves corners alone.
    if (extreme == n) return extreme;
    for (std::int32_t i = 0; i < extreme; ++i)
        h.IRANK[i] = i;
    h.Reuse(extreme);
    h.Run(extreme);
    return extreme;
}

}  // namespace voxwrap
