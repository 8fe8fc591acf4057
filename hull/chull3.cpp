// The hull construction: sort, starting hulls of four and three points, and pairwise merges by
// silhouette, bridge and a wrapped cylinder of new triangles. Every decision goes through the
// exact perturbed predicates; every cell through the cell storage. Nothing here recurses or
// allocates: the merge tree is walked pass by pass, deletions run on the caller's stacks.
#include "hull/chull3.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

#include "hull/cells.h"
#include "hull/ones.h"
#include "hull/stop.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

namespace {

// Every difference of two coordinates within the limit fits below 2^29: what exact.cpp needs.
constexpr std::int32_t COORDMAX = voxwrap::kCoordinateLimit;
constexpr std::int32_t LIFT = 100;  // height of the silhouette's lifted point

// The perturbed orientation of face F (its vertices in face-walk order) and point p on the
// given coordinate arrays: +1 when p lies outside the plane of F.
inline std::int32_t faceSign(const ConstCells& C, std::int32_t F, std::int32_t p,
                             const std::int32_t* X, const std::int32_t* Y, const std::int32_t* Z,
                             const std::int32_t* RANK) {
    std::int32_t IV[3];
    vonf3(F, IV, C);
    return jorsssAt(IV[0], IV[1], IV[2], p, X, Y, Z, RANK);
}

// The silhouette's facing of a vertical face F (vertices V[0..2] at height 0, projected area 0)
// against the lifted point at height LIFT whose rank is above all three: what jorsss answers
// for that query, worked out. Its rank sort leaves the lifted point last and orders the face's
// vertices s1, s2, s3 (sigma the parity), and with the heights known the minors reduce to
// LIFT times coordinate differences: -(Y3 - Y2), then Y3 - Y1, -(Y2 - Y1), X3 - X2, and the
// next one, -(height of the lifted point - height of s3), is -1.
inline std::int32_t verticalFacing(const std::int32_t V[3], const PointSet& P) {
    const Cvec X(P.IX), Y(P.IY), RANK(P.IRANK);
    std::int32_t s[3] = {V[0], V[1], V[2]};
    std::int32_t sigma = 1;
    for (int m = 2; m >= 1; --m) {  // the exchanges of sortbn
        for (int i = 0; i < m; ++i) {
            if (RANK(s[i]) > RANK(s[i + 1])) {
                const std::int32_t t = s[i];
                s[i] = s[i + 1];
                s[i + 1] = t;
                sigma = -sigma;
            }
        }
    }
    auto sign = [](std::int32_t a, std::int32_t b) { return (b > a) - (b < a); };  // of b - a
    std::int32_t r = -sign(Y(s[1]), Y(s[2]));
    if (r == 0) r = sign(Y(s[0]), Y(s[2]));
    if (r == 0) r = -sign(Y(s[0]), Y(s[1]));
    if (r == 0) r = sign(X(s[1]), X(s[2]));
    if (r == 0) r = -1;
    return r * sigma;
}

// The faces on either side of edge e in a rotation around its end v.
inline std::int32_t faceBefore(const ConstCells& C, std::int32_t e, std::int32_t v,
                               bool clockwise) {
    return (C.IEVS(e) == v) != clockwise ? C.IEF1(e) : C.IEF2(e);
}

inline std::int32_t faceAfter(const ConstCells& C, std::int32_t e, std::int32_t v, bool clockwise) {
    return (C.IEVS(e) == v) != clockwise ? C.IEF2(e) : C.IEF1(e);
}

// Rotates around vertex v from edge start to the edge whose face before it has sign +1 and whose
// face after it has sign -1, and returns that edge; 0 when the rotation comes back to start.
// Counter-clockwise seen from outside is the vertex walk; clockwise walks it backwards, so the
// faces before and after swap.
template <class Sign>
std::int32_t signChange(const ConstCells& C, std::int32_t v, std::int32_t start, bool clockwise,
                        Sign sign) {
    auto before = [&](std::int32_t e) { return faceBefore(C, e, v, clockwise); };
    auto after = [&](std::int32_t e) { return faceAfter(C, e, v, clockwise); };
    std::int32_t e = start;
    std::int32_t s = sign(before(e));
    for (;;) {
        const std::int32_t s2 = sign(after(e));
        if (s == 1 && s2 == -1) return e;
        e = clockwise ? prevAround(C, e, v) : nextAround(C, e, v);
        if (e == start) return 0;
        s = s2;
    }
}

}  // namespace

// ======================================================================================
// Silhouette and bridge
// ======================================================================================

namespace {

// The outline of a hull's projection on the xy plane, one vertex at a time: Next(v) is the
// clockwise successor, seen from above, of the outline vertex v. Faces are judged against the
// lifted point NOFP + 1 at height LIFT over v, with heights IORDER (0 for every hull vertex).
class Outline {
  public:
    Outline(const PointSet& P, const Cells& C, const Work& W) : P_(P), C_(C), W_(W) {}

    std::int32_t Next(std::int32_t IVERT) { return Step(IVERT, true); }
    // The predecessor: the vertex whose successor is v. It is found around v itself, which
    // answers as the successor's walk would when the lifted point outranks every point: then no
    // face's facing depends on where the lifted point stands (see Facing).
    std::int32_t Prev(std::int32_t IVERT) { return Step(IVERT, false); }

  private:
    std::int32_t Step(std::int32_t IVERT, bool ahead) {
        const Ivec IX(P_.IX), IY(P_.IY), IRANK(P_.IRANK);
        const std::int32_t lift = C_.IPAR(slot::NOFP) + 1;
        const std::int32_t IESTAR = C_.IVEDGE(IVERT);
        IX(lift) = IX(IVERT);
        IY(lift) = IY(IVERT);
        W_.IORDER(lift) = LIFT;
        IRANK(lift) = lift;
        // Counter-clockwise around IVERT seen from outside, the up-facing faces form one fan;
        // its up-to-down change marks the outline edge on the clockwise side, to the successor,
        // and its down-to-up change the edge to the predecessor.
        independent_ = true;
        const std::int32_t flip = ahead ? 1 : -1;
        const std::int32_t e = signChange(
            C_, IVERT, IESTAR, false, [this, flip](std::int32_t F) { return flip * Facing(F); });
        if (e == 0)
            HullStop("Error in SHADOW: No silhouette edge.",
                     "IVERT,IESTAR =" + Field(IVERT, 10) + Field(IESTAR, 10));
        const std::int32_t before = faceBefore(C_, e, IVERT, false);
        const std::int32_t after = faceAfter(C_, e, IVERT, false);
        knownUp_ = independent_ ? (ahead ? before : after) : 0;
        knownDown_ = independent_ ? (ahead ? after : before) : 0;
        return otherEnd(C_, e, IVERT);
    }

    // Every hull vertex stands at height 0 and the lifted point at LIFT, so the orientation
    // determinant is LIFT times the signed area of the face's projection, whatever the lifted
    // point's x and y: a face of non-zero projected area faces up or down by that area's sign
    // alone. A vertical face needs the perturbation; while the lifted point outranks the face's
    // vertices, its minors reduce to the face's own coordinates (verticalFacing), otherwise
    // jorsss decides. Only that last answer depends on where the lifted point stands. So the two
    // faces at the outline edge found at one vertex, which the rotation around the edge's other
    // end asks again, keep their known answers (+1 before the edge, -1 after it) unless that
    // rotation needed jorsss.
    std::int32_t Facing(std::int32_t F) {
        if (F == knownUp_) return 1;
        if (F == knownDown_) return -1;
        const Ivec IX(P_.IX), IY(P_.IY), IRANK(P_.IRANK);
        std::int32_t IV[3];
        vonf3(F, IV, C_);
        const std::int64_t ax = IX(IV[0]), ay = IY(IV[0]);
        const std::int64_t area =
            (IX(IV[1]) - ax) * (IY(IV[2]) - ay) - (IY(IV[1]) - ay) * (IX(IV[2]) - ax);
        if (area != 0) return area > 0 ? 1 : -1;
        const std::int32_t lift = C_.IPAR(slot::NOFP) + 1;
        const std::int32_t top = IRANK(lift);
        if (IRANK(IV[0]) < top && IRANK(IV[1]) < top && IRANK(IV[2]) < top)
            return verticalFacing(IV, P_);
        independent_ = false;
        return jorsssAt(IV[0], IV[1], IV[2], lift, P_.IX, P_.IY, W_.IORDER.first, P_.IRANK);
    }

    const PointSet& P_;
    const Cells& C_;
    const Work& W_;
    std::int32_t knownUp_ = 0, knownDown_ = 0;
    bool independent_ = true;
};

// The upper common tangent of the outlines of L (through IVA) and R (through IVB): both outlines
// end up to the right of the directed line IBA -> IBB. prev(v) is v's predecessor on L's outline,
// next(v) its successor on R's.
template <class Prev, class Next>
void commonTangent(Prev prev, Next next, std::int32_t IVA, std::int32_t IVB, const std::int32_t* IX,
                   const std::int32_t* IY, const std::int32_t* IRANK, std::int32_t& IBA,
                   std::int32_t& IBB) {
    std::int32_t A = IVA, B = IVB;
    std::int32_t afterB = next(B);  // each successor is asked for once
    for (;;) {
        bool moved = false;
        while (itleft(B, A, prev(A), IX, IY, IRANK) == 0) {
            A = prev(A);
            moved = true;
        }
        while (itleft(A, B, afterB, IX, IY, IRANK) == 1) {
            B = afterB;
            afterB = next(B);
            moved = true;
        }
        if (!moved) break;
    }
    IBA = A;
    IBB = B;
}

}  // namespace

// Traces the outline into IVFLAG (clockwise successor seen from above) and ISPREV (predecessor).
std::int32_t shadow(std::int32_t ISTART, const PointSet& P, const Cells& C, const Work& W) {
    Outline outline(P, C, W);
    const std::int32_t u = ISTART;
    std::int32_t best = u;
    std::int32_t IVERT = u;
    for (;;) {
        const std::int32_t w = outline.Next(IVERT);
        W.IVFLAG(IVERT) = w;
        W.ISPREV(w) = IVERT;
        if (larger(w, best, P.IX, P.IRANK) == 1) best = w;
        if (w == u) return best;
        IVERT = w;
    }
}

// ======================================================================================
// Merging two hulls
// ======================================================================================

namespace {

// The bridge a -> b of the neighbouring hulls through IVA (left) and IVB (right).
// With heightsZero false, first zeroes the heights of L's and R's vertices.
void bridge(std::int32_t IVA, std::int32_t IVB, std::int32_t lastL, const PointSet& P,
            const Cells& C, const Work& W, bool heightsZero, std::int32_t& a, std::int32_t& b) {
    // The silhouette walks read a height of 0 for every vertex of L and R, and nothing else of
    // IORDER. Zeroing just those entries gives the same heights as clearing all n, at the cost
    // of the two rings instead of the whole point set at every merge.
    for (const std::int32_t start : {IVA, IVB}) {
        if (heightsZero) break;
        std::int32_t v = start;
        do {
            W.IORDER(v) = 0;
            v = W.IVNEXT(v);
        } while (v != start);
    }
    // The tangent search starts at L's outline vertex that comes last in sort order and at IVB,
    // and steps back along L's outline and forward along R's, mostly a few steps. So the outlines
    // are traced only as far as it goes, each step as the whole walk would find it. L's start,
    // without the walk, is its last point in sort order (lastL), which is where the walk ends up:
    // the point of L extreme in the sort's direction is a corner of L's outline. Without lastL,
    // or when a face's facing would depend on the lifted point, L's outline is walked whole.
    Outline outlineL(P, C, W), outlineR(P, C, W);
    auto next = [&](std::int32_t v) { return outlineR.Next(v); };
    if (lastL != 0) {
        commonTangent([&](std::int32_t v) { return outlineL.Prev(v); }, next, lastL, IVB, P.IX,
                      P.IY, P.IRANK, a, b);
        return;
    }
    const std::int32_t aL = shadow(IVA, P, C, W);
    const Cvec ISPREV(W.ISPREV.first);
    commonTangent([&](std::int32_t v) { return ISPREV(v); }, next, aL, IVB, P.IX, P.IY, P.IRANK, a,
                  b);
}

}  // namespace

// Every point of L comes before every point of R in sort order; the merged ring holds IVA.
void mergch(std::int32_t IVA, std::int32_t IVB, const PointSet& P, const Cells& C, const Work& W) {
    std::int32_t a, b;
    bridge(IVA, IVB, 0, P, C, W, false, a, b);
    gcylin(a, b, P, C, W);
}

namespace {

// The triangle of one wrapping step: a new face, face 1 of the last cylinder edge Ep and face 2
// of the next one En = IVNOW -> JVNOW (E0 again when the cylinder closes), linked at the end of
// Ep to the horizon edge h of the side that advanced (R when onR, else L). Returns En. The face
// is taken before the edge.
std::int32_t addTriangle(std::int32_t Ep, std::int32_t E0, bool closed, std::int32_t IVNOW,
                         std::int32_t JVNOW, bool onR, std::int32_t h, const Cells& C,
                         const Work& W) {
    const std::int32_t Fn = knewf(C);
    W.IFFLAG(Fn) = mark::NEW;
    std::int32_t En = E0;
    if (!closed) {
        En = knewe(C);
        W.IEFLAG(En) = mark::NEW;
    }
    C.IEF1(Ep) = Fn;
    C.IEF2(En) = Fn;
    C.IFEDGE(Fn) = En;
    C.IEVS(En) = IVNOW;
    C.IEVE(En) = JVNOW;
    if (onR) {
        C.IEEF1(Ep) = h;
        C.IESF1(Ep) = En;
        C.IEEF2(En) = h;
        C.IESF2(En) = Ep;
    } else {
        C.IESF1(Ep) = h;
        C.IEEF1(Ep) = En;
        C.IESF2(En) = h;
        C.IEEF2(En) = Ep;
    }
    return En;
}

// Wraps the cylinder from the bridge edge E0 = a -> b, one triangle per step, each on the last
// cylinder edge and one horizon edge of L or R, which gets mark::HORIZON. Cylinder edges run from
// their L vertex to their R vertex; the k-th triangle is face 1 of the k-th cylinder edge and
// face 2 of the next, the last one face 2 of E0.
void wrapCylinder(std::int32_t E0, const PointSet& P, const Cells& C, const Work& W) {
    const std::int32_t a = C.IEVS(E0), b = C.IEVE(E0);
    // The two faces at the horizon edge each rotation found, with their known signs (+1 before
    // the edge, -1 after it) as seen from that rotation's viewpoint. When a side advances over
    // its horizon edge, its next rotation starts at that edge and asks those two faces again
    // from the same viewpoint: the same query of unchanged faces (the wrapping re-links no old
    // edge), so the known answer stands in for it.
    struct Known {
        std::int32_t up = 0, down = 0, viewpoint = 0;
    } knownL, knownR;
    // Visible: p lies outside the plane of F.
    auto visible = [&](std::int32_t F, std::int32_t p) {
        for (const Known& k : {knownL, knownR}) {
            if (p != k.viewpoint) continue;
            if (F == k.up) return 1;
            if (F == k.down) return -1;
        }
        return faceSign(C, F, p, P.IX, P.IY, P.IZ, P.IRANK);
    };
    std::int32_t IVNOW = a, JVNOW = b;
    std::int32_t Ep = E0;
    std::int32_t hL = 0, hR = 0;  // horizon edges of the last step: where the next rotations start
    for (;;) {
        // L: clockwise around IVNOW (seen from outside) to the visible-to-hidden change.
        const std::int32_t IESTAR = hL != 0 ? hL : C.IVEDGE(IVNOW);
        const std::int32_t eL =
            signChange(C, IVNOW, IESTAR, true, [&](std::int32_t F) { return visible(F, JVNOW); });
        if (eL == 0)
            HullStop("Error in GCYLIN: no silhouette edge is found",
                     "IVNOW,IESTAR =" + Field(IVNOW, 8) + Field(IESTAR, 8));
        // R: counter-clockwise around JVNOW (the vertex walk).
        const std::int32_t JESTAR = hR != 0 ? hR : C.IVEDGE(JVNOW);
        const std::int32_t eR =
            signChange(C, JVNOW, JESTAR, false, [&](std::int32_t F) { return visible(F, IVNOW); });
        if (eR == 0)
            HullStop("Error in GCYLIN: no silhouette edge is found",
                     "JVNOW,JESTAR =" + Field(JVNOW, 8) + Field(JESTAR, 8));
        hL = eL;
        hR = eR;
        knownL = {faceBefore(C, eL, IVNOW, true), faceAfter(C, eL, IVNOW, true), JVNOW};
        knownR = {faceBefore(C, eR, JVNOW, false), faceAfter(C, eR, JVNOW, false), IVNOW};
        const std::int32_t wL = otherEnd(C, eL, IVNOW), wR = otherEnd(C, eR, JVNOW);

        // wL inside the triangle (JVNOW, IVNOW, wR): that triangle is on the merged hull.
        const bool onR = jorsssAt(JVNOW, IVNOW, wR, wL, P.IX, P.IY, P.IZ, P.IRANK) == -1;
        if (onR) {
            W.IEFLAG(eR) = mark::HORIZON;
            JVNOW = wR;
        } else {
            W.IEFLAG(eL) = mark::HORIZON;
            IVNOW = wL;
        }

        const bool closed = IVNOW == a && JVNOW == b;
        const std::int32_t En = addTriangle(Ep, E0, closed, IVNOW, JVNOW, onR, onR ? eR : eL, C, W);
        if (closed) return;
        Ep = En;
    }
}

// Deletes the part of one side that the cylinder hides: from the first horizon edge met walking
// from E0 around the side's bridge vertex, the region of the hidden face beyond it. A side on
// which no triangle was built keeps only its bridge vertex.
void deleteHidden(std::int32_t E0, bool left, const Cells& C, const Work& W) {
    const std::int32_t v = left ? C.IEVS(E0) : C.IEVE(E0);
    auto step = [&](std::int32_t e) { return left ? C.IESF1(e) : C.IEEF1(e); };
    for (std::int32_t e = step(E0);; e = step(e)) {
        if (e == E0) {
            delall(v, C.IEF1(C.IVEDGE(v)), C, W);
            return;
        }
        if (W.IEFLAG(e) == mark::HORIZON) {
            // The face of L visible from R (of R visible from L): the one the cylinder replaced.
            const bool starts = v == C.IEVS(e);
            delete_(starts == left ? C.IEF2(e) : C.IEF1(e), C, W);
            return;
        }
    }
}

// Re-links each horizon edge to the cylinder triangle built on it, in the order the cylinder was
// made, and gives every cylinder vertex a cylinder edge.
void relinkHorizon(std::int32_t E0, const Cells& C, const Work& W) {
    std::int32_t e = E0;
    for (;;) {
        const std::int32_t p = C.IEVS(e), q = C.IEVE(e), Fc = C.IEF1(e);
        C.IVEDGE(p) = e;
        C.IVEDGE(q) = e;
        const std::int32_t g = C.IESF1(e);
        std::int32_t next;
        if (W.IEFLAG(g) ==
            mark::NEW) {  // made by an advance on R: its old edge ends or starts at q
            const std::int32_t h = C.IEEF1(e);
            if (C.IEVS(h) == q) {
                C.IESF1(h) = e;
                C.IEEF1(h) = g;
                C.IEF1(h) = Fc;
            } else {
                C.IEEF2(h) = e;
                C.IESF2(h) = g;
                C.IEF2(h) = Fc;
            }
            next = g;
        } else {  // made by an advance on L: its old edge is g, at p
            next = C.IEEF1(e);
            if (C.IEVS(g) == p) {
                C.IESF2(g) = e;
                C.IEEF2(g) = next;
                C.IEF2(g) = Fc;
            } else {
                C.IESF1(g) = next;
                C.IEEF1(g) = e;
                C.IEF1(g) = Fc;
            }
        }
        if (next == E0) return;
        e = next;
    }
}

// Wraps, deletes, re-links and splices from the bridge a -> b, with every mark of L and R
// mark::PLAIN; returns the bridge edge E0. The order of the last three steps is fixed: deletion
// runs while the horizon edges still name their hidden faces, and their mark stops it from
// crossing them; only then are they re-linked.
std::int32_t join(std::int32_t a, std::int32_t b, const PointSet& P, const Cells& C,
                  const Work& W) {
    const std::int32_t E0 = knewe(C);
    C.IEVS(E0) = a;
    C.IEVE(E0) = b;
    W.IEFLAG(E0) = mark::NEW;
    wrapCylinder(E0, P, C, W);
    deleteHidden(E0, true, C, W);
    deleteHidden(E0, false, C, W);
    relinkHorizon(E0, C, W);
    const std::int32_t na = W.IVNEXT(a), nb = W.IVNEXT(b);
    W.IVNEXT(a) = nb;
    W.IVNEXT(b) = na;
    W.IVPREV(na) = b;
    W.IVPREV(nb) = a;
    return E0;
}

// A merge leaves marks only on its cylinder: mark::NEW on the cylinder's edges and triangles,
// mark::HORIZON on the old edge of each triangle (the deleted cells are free, and a free cell's
// mark is never read). Resetting those, in a walk of the cylinder that tells its two kinds of
// triangle apart as relinkHorizon does, leaves every cell of the merged hull mark::PLAIN: what
// cclear at the next merge would make of it, at the cost of the cylinder instead of the hull.
// E0 keeps its mark until the walk is done, since the last triangle's test may read it.
void settleMarks(std::int32_t E0, const Cells& C, const Work& W) {
    std::int32_t e = E0;
    for (;;) {
        const std::int32_t g = C.IESF1(e);
        const bool onR = W.IEFLAG(g) == mark::NEW;
        const std::int32_t h = onR ? C.IEEF1(e) : g;
        const std::int32_t next = onR ? g : C.IEEF1(e);
        W.IFFLAG(C.IEF1(e)) = mark::PLAIN;
        W.IEFLAG(h) = mark::PLAIN;
        if (e != E0) W.IEFLAG(e) = mark::PLAIN;
        if (next == E0) break;
        e = next;
    }
    W.IEFLAG(E0) = mark::PLAIN;
}

}  // namespace

void gcylin(std::int32_t IA, std::int32_t IB, const PointSet& P, const Cells& C, const Work& W) {
    cclear(IA, C, W);
    cclear(IB, C, W);
    join(IA, IB, P, C, W);
}

namespace {

// mergch for hulls whose every mark is mark::PLAIN and with IORDER(1..n) all 0, leaving both so:
// the merges of chull3, which clear marks and heights once before the first. Walking the two
// rings to zero their heights costs a cache miss per vertex at every merge; but only the
// deletions write IORDER, their vertex lists from IORDER(1) on, so zeroing that nonzero prefix
// afterwards keeps every height 0 at the cost of the vertices deleted.
// lastL: L's last point in sort order, or 0 (see bridge).
void mergePlain(std::int32_t IVA, std::int32_t IVB, std::int32_t lastL, const PointSet& P,
                const Cells& C, const Work& W) {
    std::int32_t a, b;
    bridge(IVA, IVB, lastL, P, C, W, true, a, b);
    settleMarks(join(a, b, P, C, W), C, W);
    const std::int32_t n = C.IPAR(slot::NOFP);
    for (std::int32_t k = 1; k <= n && W.IORDER(k) != 0; ++k)
        W.IORDER(k) = 0;
}

}  // namespace

// ======================================================================================
// Entry, sort and starting hulls
// ======================================================================================

// IORDER(1..N) = 1..N sorted ascending by KEY1 and, among equal KEY1, descending by KEY2: the
// order `larger` defines. An in-place heap sort: no extra storage, no recursion.
void hpsort(std::int32_t N, const std::int32_t* KEY1, const std::int32_t* KEY2,
            std::int32_t* iorder) {
    if (N <= 0) return;
    const Ivec IORDER(iorder);
    auto after = [&](std::int32_t i, std::int32_t j) { return larger(i, j, KEY1, KEY2) == 1; };
    auto swap = [&](std::int32_t i, std::int32_t j) {
        const std::int32_t t = IORDER(i);
        IORDER(i) = IORDER(j);
        IORDER(j) = t;
    };
    IORDER(1) = 1;
    for (std::int32_t i = 2; i <= N; ++i) {
        IORDER(i) = i;
        std::int32_t c = i, p = c / 2;
        while (p >= 1 && after(IORDER(c), IORDER(p))) {
            swap(c, p);
            c = p;
            p = c / 2;
        }
    }
    for (std::int32_t k = N; k >= 2; --k) {
        swap(1, k);
        if (k < 3) continue;
        std::int32_t p = 1;
        while (2 * p <= k - 1) {
            std::int32_t c = 2 * p;
            if (c + 1 <= k - 1 && !after(IORDER(c), IORDER(c + 1))) c = c + 1;
            if (after(IORDER(p), IORDER(c))) break;
            swap(p, c);
            p = c;
        }
    }
}

namespace {

// The entry checks, in this order: the point count, the capacity, then every coordinate.
void checkInput(std::int32_t n, std::int32_t NVMAX, const PointSet& P) {
    // "presenet" is the design's text, kept as it stands: users and scripts may match it.
    if (n <= 5) HullStop("NOFP should be greater than 5.", "presenet NOFP is " + Field(n, 3));
    if (NVMAX < static_cast<std::int64_t>(n) + 1)
        HullStop("NOFP should not be greater than" + Field(std::int64_t{NVMAX} - 1, 8),
                 "presenet NOFP is " + Field(n, 8));
    const Cvec IX(P.IX), IY(P.IY), IZ(P.IZ);
    for (std::int32_t i = 1; i <= n; ++i) {
        for (const std::int32_t c : {IX(i), IY(i), IZ(i)}) {
            if (c < -COORDMAX || c > COORDMAX)
                HullStop("Error: coordinate must be smaller than" + Field(COORDMAX, 12),
                         "IP,IX,IY,IZ=" + Field(i, 12) + Field(IX(i), 12) + Field(IY(i), 12) +
                             Field(IZ(i), 12));
        }
    }
}

// The perturbation needs distinct ranks; on any repeat the point numbers serve instead. Ranks
// that already ascend with the point numbers (the callers' usual choice) are distinct as they
// stand: the sort would only confirm it, and IORDER is rewritten by the point sort that follows.
void distinctRanks(std::int32_t n, const PointSet& P, const Work& W) {
    const Ivec IRANK(P.IRANK);
    std::int32_t rising = 1;
    while (rising < n && IRANK(rising) < IRANK(rising + 1))
        ++rising;
    if (rising >= n) return;
    hpsort(n, P.IRANK, P.IRANK, W.IORDER.first);
    for (std::int32_t k = 1; k < n; ++k) {
        if (IRANK(W.IORDER(k)) == IRANK(W.IORDER(k + 1))) {
            for (std::int32_t j = 1; j <= n; ++j)
                IRANK(j) = j;
            return;
        }
    }
}

// IORDER(1..n) = the points in the order of hpsort on (IX, IRANK). With distinct ranks that
// order is total, so any correct sort yields the very same permutation; an introsort with the
// comparison inlined costs a fraction of the heap sort's calls of `larger`.
void sortPoints(std::int32_t n, const PointSet& P, const Work& W) {
    const Cvec IX(P.IX), IRANK(P.IRANK);
    std::int32_t* order = W.IORDER.first;
    for (std::int32_t i = 0; i < n; ++i)
        order[i] = i + 1;
    std::sort(order, order + n, [&](std::int32_t i, std::int32_t j) {
        return IX(i) < IX(j) || (IX(i) == IX(j) && IRANK(i) > IRANK(j));
    });
}

// The starting hulls, groups of four first, then of three (n = 4*q4 + 3*k3), each with its first
// point in IVSUB, its last in IVFLAG and every mark mark::PLAIN; returns their number.
std::int32_t startingHulls(std::int32_t n, const PointSet& P, const Cells& C, const Work& W) {
    const std::int32_t k3 = 3 - (n - 1) % 4;
    const std::int32_t q4 = (n - 3 * k3) / 4;
    for (std::int32_t j = 1; j <= q4; ++j) {
        const std::int32_t s = 4 * j - 3;
        ch4p(s, P, C, W);
        cclear(W.IORDER(s), C, W);
        W.IVSUB(j) = W.IORDER(s);
        W.IVFLAG(j) = W.IORDER(s + 3);
    }
    for (std::int32_t j = 1; j <= k3; ++j) {
        const std::int32_t s = 4 * q4 + 3 * j - 2;
        ch3p(s, C, W);
        cclear(W.IORDER(s), C, W);
        W.IVSUB(q4 + j) = W.IORDER(s);
        W.IVFLAG(q4 + j) = W.IORDER(s + 2);
    }
    return q4 + k3;
}

// The flags of the result: in use for the vertices on the ring through IVSTRT and for every
// cell that is not on its free list.
void markResult(std::int32_t IVSTRT, const Cells& C, const Work& W) {
    C.IPAR(slot::IVSTRT) = IVSTRT;
    for (std::int32_t v = 1; v <= C.IPAR(slot::NVMAX); ++v)
        W.IVFLAG(v) = mark::FREE;
    std::int32_t v = IVSTRT;
    do {
        W.IVFLAG(v) = mark::IN_USE;
        v = W.IVNEXT(v);
    } while (v != IVSTRT);
    for (std::int32_t e = 1; e <= C.IPAR(slot::NEMAX); ++e)
        W.IEFLAG(e) = mark::IN_USE;
    for (std::int32_t e = C.IPAR(slot::IEFREE); e != 0; e = C.IEVS(e))
        W.IEFLAG(e) = mark::FREE;
    for (std::int32_t f = 1; f <= C.IPAR(slot::NFMAX); ++f)
        W.IFFLAG(f) = mark::IN_USE;
    for (std::int32_t f = C.IPAR(slot::IFFREE); f != 0; f = C.IFEDGE(f))
        W.IFFLAG(f) = mark::FREE;
}

}  // namespace

void chull3(std::int32_t NOFP, const PointSet& P, const Cells& C, const Work& W) {
    const std::int32_t n = NOFP;
    const std::int32_t NVMAX = C.IPAR(slot::NVMAX);
    C.IPAR(slot::NFMAX) = FacesPerPoint * NVMAX;
    C.IPAR(slot::NEMAX) = EdgesPerPoint * NVMAX;
    C.IPAR(slot::NOFP) = n;
    checkInput(n, NVMAX, P);
    distinctRanks(n, P, W);
    sortPoints(n, P, W);
    kinit(C);

    // Pairwise merges of neighbours, pass by pass: a balanced merge tree without recursion. An
    // odd last hull waits one pass.
    std::int32_t c = startingHulls(n, P, C, W);
    for (std::int32_t k = 1; k <= n; ++k)  // the heights of the silhouette walks
        W.IORDER(k) = 0;
    // The lifted point of the outline walks has rank n + 1: when it outranks every point, the
    // outlines need not be walked whole (bridge).
    bool outranked = true;
    for (std::int32_t k = 1; k <= n && outranked; ++k)
        outranked = P.IRANK[k - 1] < n + 1;
    while (c > 1) {
        for (std::int32_t i = 1; i <= c / 2; ++i) {
            const std::int32_t left = W.IVSUB(2 * i - 1), right = W.IVSUB(2 * i);
            const std::int32_t last = W.IVFLAG(2 * i);
            mergePlain(left, right, outranked ? W.IVFLAG(2 * i - 1) : 0, P, C, W);
            W.IVSUB(i) = left;
            W.IVFLAG(i) = last;
        }
        if (c % 2 == 1) {
            W.IVSUB((c + 1) / 2) = W.IVSUB(c);
            W.IVFLAG((c + 1) / 2) = W.IVFLAG(c);
            c = (c + 1) / 2;
        } else {
            c = c / 2;
        }
    }
    markResult(W.IVSUB(1), C, W);
}

void mergeSeparated(std::int32_t IVA, std::int32_t IVB, std::int32_t lastL, const PointSet& P,
                    const Cells& C, const Work& W) {
    mergePlain(IVA, IVB, lastL, P, C, W);
}

}  // namespace voxwrap
