#pragma once
// The cell-array fixture of the hull tests, built on HullStorage as the driver builds it, and the
// exact checker of hull/check.h as a gtest assertion:
//
//   HullStorage h = Storage(points);   // NVMAX = n + 1, every array sized by HullStorage
//   h.Run(n);                          // chull3
//   EXPECT_EQ(hullcheck::CheckHull(h), "");
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hull/cells.h"
#include "hull/check.h"
#include "hull/storage.h"

using namespace voxwrap;  // the tests speak the library's names

using hullcheck::Point;
using PointList = std::vector<Point>;

// Storage for the points (NVMAX = n + 1), ranks 0..n-1 in input order unless given.
inline HullStorage Storage(const PointList& points, const std::vector<std::int32_t>& ranks = {}) {
    HullStorage h;
    h.SizePoints(static_cast<std::int64_t>(points.size()));
    h.SizeCells();
    for (std::size_t i = 0; i < points.size(); ++i) {
        h.IX[i] = points[i].x;
        h.IY[i] = points[i].y;
        h.IZ[i] = points[i].z;
        h.IRANK[i] = ranks.empty() ? static_cast<std::int32_t>(i) : ranks[i];
    }
    return h;
}

// The storage with its capacities set and its free lists chained, as chull3 leaves them before
// its first group.
inline HullStorage Chained(HullStorage h) {
    const Ivec IPAR(h.IPAR);
    IPAR(slot::NVMAX) = h.NVMAX();
    IPAR(slot::NFMAX) = h.NFMAX();
    IPAR(slot::NEMAX) = h.NEMAX();
    IPAR(slot::NOFP) = h.NVMAX() - 1;
    kinit(h.CellsView());
    return h;
}

// Chained storage of the given vertex slots (NVMAX), every point at the origin.
inline HullStorage Slots(std::int32_t slots) { return Chained(Storage(PointList(slots - 1))); }

// Cells taken from the free lists: faces or edges, in the order handed out.
inline std::vector<std::int32_t> Take(HullStorage& h, int count, bool faces) {
    std::vector<std::int32_t> out;
    for (int k = 0; k < count; ++k)
        out.push_back(faces ? knewf(h.CellsView()) : knewe(h.CellsView()));
    return out;
}

// Starting hulls built by hand (their rings are set apart, by Ring).
inline void Dihed(HullStorage& h, std::int32_t a, std::int32_t b, std::int32_t c) {
    const std::int32_t V[3] = {a, b, c};
    dihed(V, h.CellsView());
}
inline void Tetra(HullStorage& h, std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    const std::int32_t V[4] = {a, b, c, d};
    tetra(V, h.CellsView());
}

// The vertex ring vs[0] -> vs[1] -> ... -> vs[0].
inline void Ring(HullStorage& h, const std::vector<std::int32_t>& vs) {
    const Work W = h.WorkView();
    for (std::size_t k = 0; k < vs.size(); ++k) {
        W.IVNEXT(vs[k]) = vs[(k + 1) % vs.size()];
        W.IVPREV(vs[(k + 1) % vs.size()]) = vs[k];
    }
}

// The ring through v, in IVNEXT order, each link checked against IVPREV.
inline std::vector<std::int32_t> RingFrom(HullStorage& h, std::int32_t v) {
    const Work W = h.WorkView();
    std::vector<std::int32_t> out;
    std::int32_t w = v;
    do {
        out.push_back(w);
        EXPECT_EQ(W.IVPREV(W.IVNEXT(w)), w);
        w = W.IVNEXT(w);
    } while (w != v && out.size() <= static_cast<std::size_t>(h.NVMAX()));
    return out;
}

inline std::int32_t Slot(const HullStorage& h, std::int32_t s) { return Cvec(h.IPAR)(s); }

// The number of points the storage holds.
inline std::int32_t PointCount(const HullStorage& h) { return h.NVMAX() - 1; }

// Runs chull3 on the points and checks the result exactly; returns the storage for more checks.
inline HullStorage RunHull(const PointList& p, const std::vector<std::int32_t>& ranks = {}) {
    HullStorage h = Storage(p, ranks);
    h.Run(PointCount(h));
    EXPECT_EQ(hullcheck::CheckHull(h), "") << "n = " << p.size();
    return h;
}
