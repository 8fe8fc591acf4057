#include "hull/chain.h"

#include <algorithm>
#include <vector>

#include "common/failure.h"
#include "hull/cells.h"

namespace voxwrap {

// Room for `points` points and the merge's scratch point after them. A merge needs no more cells
// than chull3 has for as many points: the hull of V vertices holds 3V - 6 edges and 2V - 4 faces,
// and the cylinder of a merge adds fewer than V of each before the hidden cells go. Capacities
// grow by a quarter at least, so that appending stays linear in the points while little room
// stands empty; the new cells join the free lists.
void HullChain::Reserve(std::int64_t points) {
    const std::int32_t old = h_.NVMAX();
    if (points + 1 <= old) return;
    h_.Grow(std::max<std::int64_t>(points + 1, std::int64_t{old} + old / 4));
    Cells C = h_.CellsView();
    C.IPAR(slot::NVMAX) = h_.NVMAX();
    C.IPAR(slot::NFMAX) = h_.NFMAX();
    C.IPAR(slot::NEMAX) = h_.NEMAX();
    // Pushed from the top, so that the lowest new cell is taken first.
    for (std::int32_t f = h_.NFMAX(); f > FacesPerPoint * old; --f)
        kfback(f, C);
    for (std::int32_t e = h_.NEMAX(); e > EdgesPerPoint * old; --e)
        keback(e, C);
}

// Every vertex of the hull, on the ring through the first point in sort order.
template <class Visit>
void HullChain::ForRing(Visit visit) const {
    std::int32_t v = ring_, count = 0;
    do {
        if (++count > n_) Fail(Error::Kind::Geometry, "hull chain: a broken ring.");
        visit(v);
        v = h_.IVNEXT[v - 1];
    } while (v != ring_);
}

// Point v of `from` (the chain itself, or a part) as point number[v] of the chain: its coordinates,
// its rank (its number), height 0, the edge e at it, and its ring's neighbours renumbered.
void HullChain::Place(const HullStorage& from, std::int32_t v,
                      const std::vector<std::int32_t>& number, std::int32_t e) {
    const std::int32_t V = number[v];
    const std::int32_t next = number[from.IVNEXT[v - 1]], prev = number[from.IVPREV[v - 1]];
    h_.IX[V - 1] = from.IX[v - 1];
    h_.IY[V - 1] = from.IY[v - 1];
    h_.IZ[V - 1] = from.IZ[v - 1];
    h_.IRANK[V - 1] = V;
    h_.IORDER[V - 1] = 0;
    h_.IVEDGE[V - 1] = e;
    h_.IVNEXT[V - 1] = next;
    h_.IVPREV[V - 1] = prev;
}

// Drops the points that merges took off the hull, numbering the rest 1, 2, ... in their order
// (their ranks keep their order, and so every sign of the perturbation). Points are never taken
// back onto a hull, so without this the chain would keep every slab's vertices however deep the
// stack; with it, it holds about its hull. Cells keep their numbers.
void HullChain::Compact() {
    std::vector<std::int32_t> number(static_cast<std::size_t>(n_) + 1, 0);
    ForRing([&number](std::int32_t v) { number[v] = 1; });
    std::int32_t m = 0;
    for (std::int32_t v = 1; v <= n_; ++v) {
        if (number[v] != 0) number[v] = ++m;
    }
    // Forwards: point v moves down to number[v] <= v, over points already moved or dropped.
    for (std::int32_t v = 1; v <= n_; ++v) {
        if (number[v] != 0) Place(h_, v, number, h_.IVEDGE[v - 1]);
    }
    // A free edge's start field links the free list: only edges in use name points.
    Cells C = h_.CellsView();
    std::vector<char> free(static_cast<std::size_t>(h_.NEMAX()) + 1, 0);
    for (std::int32_t e = C.IPAR(slot::IEFREE); e != 0; e = C.IEVS(e))
        free[e] = 1;
    for (std::int32_t e = 1; e <= h_.NEMAX(); ++e) {
        if (free[e] != 0) continue;
        C.IEVS(e) = number[C.IEVS(e)];
        C.IEVE(e) = number[C.IEVE(e)];
    }
    ring_ = number[ring_];
    last_ = number[last_];
    n_ = m;
    C.IPAR(slot::NOFP) = n_;
}

void HullChain::Append(const HullStorage& part) {
    const std::int32_t n = part.NVMAX() - 1;
    // The part's vertices, numbered in their order, then after the points before them.
    std::vector<std::int32_t> vertex(static_cast<std::size_t>(n) + 1, 0);
    std::int32_t count = 0, first = 0, last = 0;
    for (std::int32_t v = 1; v <= n; ++v) {
        if (part.IVFLAG[v - 1] != mark::IN_USE) continue;
        const std::int32_t x = part.IX[v - 1];
        if (n_ > 0 && x <= h_.IX[last_ - 1])
            Fail(Error::Kind::Geometry, "hull chain: a part out of order.");
        vertex[v] = ++count;
        // Sort order: ascending x, and descending rank (here the order) among equal x.
        if (first == 0 || x <= part.IX[first - 1]) first = v;
        if (last == 0 || x > part.IX[last - 1]) last = v;
    }
    if (count == 0) Fail(Error::Kind::Geometry, "hull chain: a part without a hull.");
    // Before the arrays grow, the points no longer on the hull make room.
    if (std::int64_t{n_} + count + 1 > h_.NVMAX() && ring_ != 0) Compact();
    Reserve(std::int64_t{n_} + count);
    for (std::int32_t v = 1; v <= n; ++v) {
        if (vertex[v] != 0) vertex[v] += n_;
    }

    Cells C = h_.CellsView();
    const ConstCells S = part.CellsView();
    std::vector<std::int32_t> edge(static_cast<std::size_t>(part.NEMAX()) + 1, 0);
    std::vector<std::int32_t> face(static_cast<std::size_t>(part.NFMAX()) + 1, 0);
    for (std::int32_t e = 1; e <= part.NEMAX(); ++e) {
        if (part.IEFLAG[e - 1] == mark::IN_USE) edge[e] = knewe(C);
    }
    for (std::int32_t f = 1; f <= part.NFMAX(); ++f) {
        if (part.IFFLAG[f - 1] == mark::IN_USE) face[f] = knewf(C);
    }
    // Every link of the part, renumbered; every mark mark::PLAIN and every height 0, as the merges
    // of chull3 keep them.
    for (std::int32_t v = 1; v <= n; ++v) {
        if (vertex[v] != 0) Place(part, v, vertex, edge[S.IVEDGE(v)]);
    }
    for (std::int32_t e = 1; e <= part.NEMAX(); ++e) {
        const std::int32_t E = edge[e];
        if (E == 0) continue;
        C.IEVS(E) = vertex[S.IEVS(e)];
        C.IEVE(E) = vertex[S.IEVE(e)];
        C.IEF1(E) = face[S.IEF1(e)];
        C.IEF2(E) = face[S.IEF2(e)];
        C.IESF1(E) = edge[S.IESF1(e)];
        C.IESF2(E) = edge[S.IESF2(e)];
        C.IEEF2(E) = edge[S.IEEF2(e)];
        C.IEEF1(E) = edge[S.IEEF1(e)];
        h_.IEFLAG[E - 1] = mark::PLAIN;
    }
    for (std::int32_t f = 1; f <= part.NFMAX(); ++f) {
        const std::int32_t F = face[f];
        if (F == 0) continue;
        C.IFEDGE(F) = edge[S.IFEDGE(f)];
        h_.IFFLAG[F - 1] = mark::PLAIN;
    }

    n_ += count;
    C.IPAR(slot::NOFP) = n_;
    if (ring_ == 0) {
        // The first point in sort order of all: no later part can hide it.
        ring_ = vertex[first];
    } else {
        mergeSeparated(ring_, vertex[first], last_, h_.PointsView(), C, h_.WorkView());
    }
    last_ = vertex[last];
}

Points HullChain::Corners() {
    Points out;
    if (n_ == 0) return out;
    // The vertices of the hull are those on its ring.
    std::fill(h_.IVFLAG.begin(), h_.IVFLAG.begin() + n_, mark::FREE);
    ForRing([this](std::int32_t v) { h_.IVFLAG[v - 1] = mark::IN_USE; });
    std::vector<std::int32_t> keep(static_cast<std::size_t>(n_));
    MarkExtremePoints(n_, h_, keep.data());
    const std::int32_t m =
        KeepFlagged(h_.IX, h_.IY, h_.IZ, static_cast<std::size_t>(n_), keep.data());
    out.x.assign(h_.IX.begin(), h_.IX.begin() + m);
    out.y.assign(h_.IY.begin(), h_.IY.begin() + m);
    out.z.assign(h_.IZ.begin(), h_.IZ.begin() + m);
    h_ = HullStorage();
    n_ = ring_ = last_ = 0;
    return out;
}

}  // namespace voxwrap
