// The hull construction: sort, starting hulls of four and three points, and pairwise merges by
// silhouette, bridge and a wrapped cylinder of new triangles. Every decision goes through the
// exact perturbed predicates; every cell through the cell storage. Nothing here recurses or
// allocates: the merge tree is walked pass by pass, deletions run on the caller's stacks.
#include "hull/chull3.h"
#include "hull/cells.h"
#include "hull/ones.h"
#include "hull/stop.h"

#include <cstdint>
#include <initializer_list>

namespace {

constexpr std::int32_t COORDMAX = 268435455;  // 2^28 - 1: every difference fits below 2^29

// The other end of edge e from vertex v.
inline std::int32_t otherEnd(const Cells& C, std::int32_t e, std::int32_t v) {
    return C.IEVS(e) == v ? C.IEVE(e) : C.IEVS(e);
}

// The perturbed orientation of face F (its vertices in face-walk order) and point p on the
// given coordinate arrays: +1 when p lies outside the plane of F.
inline std::int32_t faceSign(const Cells& C, std::int32_t F, std::int32_t p, const std::int32_t* X,
                             const std::int32_t* Y, const std::int32_t* Z,
                             const std::int32_t* RANK) {
    std::int32_t IV[4];
    vonf3(F, IV, C);
    IV[3] = p;
    return jorsss(IV, X, Y, Z, RANK);
}

// Rotates around vertex v from edge start to the edge whose face before it has sign +1 and whose
// face after it has sign -1, and returns that edge; 0 when the rotation comes back to start.
// Counter-clockwise seen from outside is the vertex walk; clockwise walks the face cycles
// backwards, so the faces before and after swap and the other neighbour edge comes next.
template <class Sign>
std::int32_t signChange(const Cells& C, std::int32_t v, std::int32_t start, bool clockwise,
                        Sign sign) {
    auto before = [&](std::int32_t e) {
        return (C.IEVS(e) == v) != clockwise ? C.IEF1(e) : C.IEF2(e);
    };
    auto after = [&](std::int32_t e) {
        return (C.IEVS(e) == v) != clockwise ? C.IEF2(e) : C.IEF1(e);
    };
    std::int32_t e = start;
    std::int32_t s = sign(before(e));
    for (;;) {
        const std::int32_t s2 = sign(after(e));
        if (s == 1 && s2 == -1) return e;
        if (C.IEVS(e) == v) {
            e = clockwise ? C.IESF1(e) : C.IESF2(e);
        } else {
            e = clockwise ? C.IEEF2(e) : C.IEEF1(e);
        }
        if (e == start) return 0;
        s = s2;
    }
}

}  // namespace

// ======================================================================================
// Silhouette and bridge
// ======================================================================================

// Traces the outline of the hull's projection on the xy plane from ISTART (a vertex on it) into
// IVFLAG (clockwise successor seen from above) and ISPREV (predecessor), and returns in IVBEST
// the outline vertex that comes last in sort order. Faces are judged against the lifted point
// n+1 at height 100 over the current vertex, with heights IORDER (0 for every hull vertex).
void shadow(std::int32_t ISTART, std::int32_t* ix, std::int32_t* iy, std::int32_t* irank,
            std::int32_t& IVBEST, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1,
            std::int32_t* iorder, std::int32_t* ivflag, std::int32_t* isprev) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Ivec IX(ix), IY(iy), IRANK(irank), IORDER(iorder), IVFLAG(ivflag), ISPREV(isprev);
    const std::int32_t n = C.IPAR(7);
    const std::int32_t lift = n + 1;
    auto facing = [&](std::int32_t F) { return faceSign(C, F, lift, ix, iy, iorder, irank); };
    const std::int32_t u = ISTART;
    std::int32_t best = u;
    std::int32_t IVERT = u;
    for (;;) {
        const std::int32_t IESTAR = C.IVEDGE(IVERT);
        IX(lift) = IX(IVERT);
        IY(lift) = IY(IVERT);
        IORDER(lift) = 100;
        IRANK(lift) = lift;
        // Counter-clockwise around IVERT seen from outside, the up-facing faces form one fan;
        // its up-to-down change marks the outline edge on the clockwise side.
        const std::int32_t e = signChange(C, IVERT, IESTAR, false, facing);
        if (e == 0)
            HullStop("Error in SHADOW: No silhouette edge.",
                     "IVERT,IESTAR =" + Field(IVERT, 10) + Field(IESTAR, 10));
        const std::int32_t w = otherEnd(C, e, IVERT);
        IVFLAG(IVERT) = w;
        ISPREV(w) = IVERT;
        if (larger(w, best, ix, irank) == 1) best = w;
        if (w == u) break;
        IVERT = w;
    }
    IVBEST = best;
}

// The upper common tangent of the outlines of L (through IVA) and R (through IVB): both outlines
// end up to the right of the directed line IBA -> IBB.
void comtan(const std::int32_t* ivflag, const std::int32_t* isprev, std::int32_t IVA,
            std::int32_t IVB, const std::int32_t* IX, const std::int32_t* IY,
            const std::int32_t* IRANK, std::int32_t& IBA, std::int32_t& IBB) {
    const Cvec IVFLAG(ivflag), ISPREV(isprev);
    std::int32_t A = IVA, B = IVB;
    for (;;) {
        bool moved = false;
        while (itleft(B, A, ISPREV(A), IX, IY, IRANK) == 0) {
            A = ISPREV(A);
            moved = true;
        }
        while (itleft(A, B, IVFLAG(B), IX, IY, IRANK) == 1) {
            B = IVFLAG(B);
            moved = true;
        }
        if (!moved) break;
    }
    IBA = A;
    IBB = B;
}

// ======================================================================================
// Merging two hulls
// ======================================================================================

// Joins the neighbouring hulls L (through IVA) and R (through IVB), every point of L before every
// point of R in sort order, into the hull of their union; its ring then holds IVA.
void mergch(std::int32_t IVA, std::int32_t IVB, std::int32_t* IX, std::int32_t* IY,
            std::int32_t* IZ, std::int32_t* IRANK, std::int32_t* IPAR, std::int32_t* IVEDGE,
            std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1,
            std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2,
            std::int32_t* IEEF1, std::int32_t* IORDER, std::int32_t* IVNEXT, std::int32_t* IVPREV,
            std::int32_t* IVFLAG, std::int32_t* ISPREV, std::int32_t* IEFLAG, std::int32_t* IESTK,
            std::int32_t* IFFLAG, std::int32_t* IFSTK) {
    // The silhouette walks read a height of 0 for every vertex of L and R, and nothing else of
    // IORDER. Zeroing just those entries gives the same heights as clearing all n, at the cost
    // of the two rings instead of the whole point set at every merge.
    const Ivec ORDER(IORDER), NEXT(IVNEXT);
    for (const std::int32_t start : {IVA, IVB}) {
        std::int32_t v = start;
        do {
            ORDER(v) = 0;
            v = NEXT(v);
        } while (v != start);
    }
    std::int32_t aL, bestR;
    shadow(IVA, IX, IY, IRANK, aL, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2,
           IEEF2, IEEF1, IORDER, IVFLAG, ISPREV);
    shadow(IVB, IX, IY, IRANK, bestR, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2,
           IEEF2, IEEF1, IORDER, IVFLAG, ISPREV);
    std::int32_t a, b;
    comtan(IVFLAG, ISPREV, aL, IVB, IX, IY, IRANK, a, b);
    gcylin(a, b, IX, IY, IZ, IRANK, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2,
           IEEF2, IEEF1, IORDER, IVNEXT, IVPREV, IEFLAG, IESTK, IFFLAG, IFSTK);
}

// Wraps the cylinder of new triangles around L and R from the bridge IA (on L) -> IB (on R),
// deletes what it hides, re-links the horizon to the new triangles and splices the two rings.
// Cylinder edges always run from their L vertex to their R vertex; the k-th triangle is face 1
// of the k-th cylinder edge and face 2 of the next, the last one face 2 of the bridge edge.
void gcylin(std::int32_t IA, std::int32_t IB, std::int32_t* IX, std::int32_t* IY, std::int32_t* IZ,
            std::int32_t* IRANK, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1,
            std::int32_t* iorder, std::int32_t* ivnext, std::int32_t* ivprev, std::int32_t* ieflag,
            std::int32_t* IESTK, std::int32_t* ifflag, std::int32_t* IFSTK) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Ivec IVNEXT(ivnext), IVPREV(ivprev), IEFLAG(ieflag), IFFLAG(ifflag);
    const std::int32_t a = IA, b = IB;
    // Visible: p lies outside the plane of F.
    auto visible = [&](std::int32_t F, std::int32_t p) {
        return faceSign(C, F, p, IX, IY, IZ, IRANK);
    };

    cclear(a, ivnext, ivprev, ieflag, ifflag, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1,
           IESF2, IEEF2, IEEF1);
    cclear(b, ivnext, ivprev, ieflag, ifflag, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1,
           IESF2, IEEF2, IEEF1);
    const std::int32_t E0 = knewe(C);
    C.IEVS(E0) = a;
    C.IEVE(E0) = b;
    IEFLAG(E0) = 3;
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
        const std::int32_t wL = otherEnd(C, eL, IVNOW), wR = otherEnd(C, eR, JVNOW);

        // wL inside the triangle (JVNOW, IVNOW, wR): that triangle is on the merged hull.
        const std::int32_t IV[4] = {JVNOW, IVNOW, wR, wL};
        const bool onR = jorsss(IV, IX, IY, IZ, IRANK) == -1;
        if (onR) {
            IEFLAG(eR) = 2;
            JVNOW = wR;
        } else {
            IEFLAG(eL) = 2;
            IVNOW = wL;
        }

        const std::int32_t Fn = knewf(C);
        IFFLAG(Fn) = 3;
        const bool closed = IVNOW == a && JVNOW == b;
        std::int32_t En = E0;
        if (!closed) {
            En = knewe(C);
            IEFLAG(En) = 3;
        }
        C.IEF1(Ep) = Fn;
        C.IEF2(En) = Fn;
        C.IFEDGE(Fn) = En;
        C.IEVS(En) = IVNOW;
        C.IEVE(En) = JVNOW;
        if (onR) {
            C.IEEF1(Ep) = eR;
            C.IESF1(Ep) = En;
            C.IEEF2(En) = eR;
            C.IESF2(En) = Ep;
        } else {
            C.IESF1(Ep) = eL;
            C.IEEF1(Ep) = En;
            C.IESF2(En) = eL;
            C.IEEF2(En) = Ep;
        }
        if (closed) break;
        Ep = En;
    }

    // Deletion runs while the horizon edges still name their hidden faces, and their mark 2
    // stops it from crossing them. A side on which no triangle was built keeps only its bridge
    // vertex.
    for (std::int32_t e = C.IESF1(E0);; e = C.IESF1(e)) {
        if (e == E0) {
            const std::int32_t e1 = C.IVEDGE(a);
            delall(a, C.IEF1(e1), iorder, ivnext, ivprev, ieflag, IESTK, ifflag, IFSTK, IPAR,
                   IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1);
            break;
        }
        if (IEFLAG(e) == 2) {
            delete_(a == C.IEVS(e) ? C.IEF2(e) : C.IEF1(e), iorder, ivnext, ivprev, ieflag, IESTK,
                    ifflag, IFSTK, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2,
                    IEEF2, IEEF1);
            break;
        }
    }
    for (std::int32_t e = C.IEEF1(E0);; e = C.IEEF1(e)) {
        if (e == E0) {
            const std::int32_t e1 = C.IVEDGE(b);
            delall(b, C.IEF1(e1), iorder, ivnext, ivprev, ieflag, IESTK, ifflag, IFSTK, IPAR,
                   IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1);
            break;
        }
        if (IEFLAG(e) == 2) {
            delete_(b == C.IEVS(e) ? C.IEF1(e) : C.IEF2(e), iorder, ivnext, ivprev, ieflag, IESTK,
                    ifflag, IFSTK, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2,
                    IEEF2, IEEF1);
            break;
        }
    }

    // Re-link each horizon edge to the cylinder triangle built on it, in the order the cylinder
    // was made, and give every cylinder vertex a cylinder edge.
    std::int32_t e = E0;
    for (;;) {
        const std::int32_t p = C.IEVS(e), q = C.IEVE(e), Fc = C.IEF1(e);
        C.IVEDGE(p) = e;
        C.IVEDGE(q) = e;
        const std::int32_t g = C.IESF1(e);
        std::int32_t next;
        if (IEFLAG(g) == 3) {  // made by an advance on R: its old edge ends or starts at q
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
        if (next == E0) break;
        e = next;
    }

    const std::int32_t na = IVNEXT(a), nb = IVNEXT(b);
    IVNEXT(a) = nb;
    IVNEXT(b) = na;
    IVPREV(na) = b;
    IVPREV(nb) = a;
}

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

// Chains every face and every edge cell into its free list in ascending order.
void kinit(std::int32_t* ipar, std::int32_t* ifedge, std::int32_t* ievs) {
    const Ivec IPAR(ipar), IFEDGE(ifedge), IEVS(ievs);
    const std::int32_t NFMAX = IPAR(2), NEMAX = IPAR(3);
    for (std::int32_t i = 1; i < NFMAX; ++i)
        IFEDGE(i) = i + 1;
    IFEDGE(NFMAX) = 0;
    IPAR(4) = 1;
    for (std::int32_t i = 1; i < NEMAX; ++i)
        IEVS(i) = i + 1;
    IEVS(NEMAX) = 0;
    IPAR(5) = 1;
}

// The tetrahedron of IORDER(ISTART..ISTART+3) with its ring in that order; the last two points
// are exchanged for tetra when the four are positively oriented.
void ch4p(std::int32_t ISTART, const std::int32_t* IX, const std::int32_t* IY,
          const std::int32_t* IZ, const std::int32_t* IRANK, std::int32_t* IPAR,
          std::int32_t* IVEDGE, std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE,
          std::int32_t* IEF1, std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2,
          std::int32_t* IEEF2, std::int32_t* IEEF1, std::int32_t* iorder, std::int32_t* ivnext,
          std::int32_t* ivprev) {
    const Ivec IORDER(iorder), IVNEXT(ivnext), IVPREV(ivprev);
    std::int32_t V[4] = {IORDER(ISTART), IORDER(ISTART + 1), IORDER(ISTART + 2),
                         IORDER(ISTART + 3)};
    for (int k = 0; k < 4; ++k) {
        IVNEXT(V[k]) = V[(k + 1) % 4];
        IVPREV(V[(k + 1) % 4]) = V[k];
    }
    if (jorsss(V, IX, IY, IZ, IRANK) == 1) {
        const std::int32_t t = V[2];
        V[2] = V[3];
        V[3] = t;
    }
    tetra(V, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1);
}

// The exact convex hull of the NOFP points: on return IFFLAG, IEFLAG and IVFLAG are 1 for the
// faces, edges and vertices in use, and IPAR(9) is a vertex on the hull's ring.
void chull3(std::int32_t NOFP, std::int32_t* ix, std::int32_t* iy, std::int32_t* iz,
            std::int32_t* irank, std::int32_t* ipar, std::int32_t* IVEDGE, std::int32_t* ifedge,
            std::int32_t* ievs, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1,
            std::int32_t* ivsub, std::int32_t* iorder, std::int32_t* ivnext, std::int32_t* IVPREV,
            std::int32_t* ivflag, std::int32_t* ISPREV, std::int32_t* ieflag, std::int32_t* IESTK,
            std::int32_t* ifflag, std::int32_t* IFSTK) {
    const Ivec IX(ix), IY(iy), IZ(iz), IRANK(irank), IPAR(ipar), IFEDGE(ifedge), IEVS(ievs);
    const Ivec IVSUB(ivsub), IORDER(iorder), IVNEXT(ivnext), IVFLAG(ivflag), IEFLAG(ieflag),
        IFFLAG(ifflag);
    const std::int32_t n = NOFP;
    const std::int32_t NVMAX = IPAR(1);
    IPAR(2) = FacesPerPoint * NVMAX;
    IPAR(3) = EdgesPerPoint * NVMAX;
    IPAR(7) = n;
    const std::int32_t NFMAX = IPAR(2), NEMAX = IPAR(3);

    if (n <= 5) HullStop("NOFP should be greater than 5.", "presenet NOFP is " + Field(n, 3));
    if (NVMAX < static_cast<std::int64_t>(n) + 1)
        HullStop("NOFP should not be greater than" + Field(std::int64_t{NVMAX} - 1, 8),
                 "presenet NOFP is " + Field(n, 8));
    for (std::int32_t i = 1; i <= n; ++i) {
        for (const std::int32_t c : {IX(i), IY(i), IZ(i)}) {
            if (c < -COORDMAX || c > COORDMAX)
                HullStop("Error: coordinate must be smaller than" + Field(COORDMAX, 12),
                         "IP,IX,IY,IZ=" + Field(i, 12) + Field(IX(i), 12) + Field(IY(i), 12) +
                             Field(IZ(i), 12));
        }
    }

    // The perturbation needs distinct ranks; on any repeat the point numbers serve instead.
    hpsort(n, irank, irank, iorder);
    for (std::int32_t k = 1; k < n; ++k) {
        if (IRANK(IORDER(k)) == IRANK(IORDER(k + 1))) {
            for (std::int32_t j = 1; j <= n; ++j)
                IRANK(j) = j;
            break;
        }
    }
    hpsort(n, ix, irank, iorder);
    kinit(ipar, ifedge, ievs);

    // Groups of four first, then of three: n = 4*q4 + 3*k3.
    const std::int32_t k3 = 3 - (n - 1) % 4;
    const std::int32_t q4 = (n - 3 * k3) / 4;
    for (std::int32_t j = 1; j <= q4; ++j) {
        const std::int32_t s = 4 * j - 3;
        ch4p(s, ix, iy, iz, irank, ipar, IVEDGE, ifedge, ievs, IEVE, IEF1, IEF2, IESF1, IESF2,
             IEEF2, IEEF1, iorder, ivnext, IVPREV);
        IVSUB(j) = IORDER(s);
    }
    for (std::int32_t j = 1; j <= k3; ++j) {
        const std::int32_t s = 4 * q4 + 3 * j - 2;
        ch3p(s, ix, iy, iz, irank, ipar, IVEDGE, ifedge, ievs, IEVE, IEF1, IEF2, IESF1, IESF2,
             IEEF2, IEEF1, iorder, ivnext, IVPREV);
        IVSUB(q4 + j) = IORDER(s);
    }

    // Pairwise merges of neighbours, pass by pass: a balanced merge tree without recursion.
    std::int32_t c = q4 + k3;
    while (c > 1) {
        for (std::int32_t i = 1; i <= c / 2; ++i) {
            const std::int32_t left = IVSUB(2 * i - 1), right = IVSUB(2 * i);
            mergch(left, right, ix, iy, iz, irank, ipar, IVEDGE, ifedge, ievs, IEVE, IEF1, IEF2,
                   IESF1, IESF2, IEEF2, IEEF1, iorder, ivnext, IVPREV, ivflag, ISPREV, ieflag,
                   IESTK, ifflag, IFSTK);
            IVSUB(i) = left;
        }
        if (c % 2 == 1) {
            IVSUB((c + 1) / 2) = IVSUB(c);
            c = (c + 1) / 2;
        } else {
            c = c / 2;
        }
    }

    const std::int32_t IVSTRT = IVSUB(1);
    IPAR(9) = IVSTRT;
    for (std::int32_t v = 1; v <= NVMAX; ++v)
        IVFLAG(v) = 0;
    std::int32_t v = IVSTRT;
    do {
        IVFLAG(v) = 1;
        v = IVNEXT(v);
    } while (v != IVSTRT);
    for (std::int32_t e = 1; e <= NEMAX; ++e)
        IEFLAG(e) = 1;
    for (std::int32_t e = IPAR(5); e != 0; e = IEVS(e))
        IEFLAG(e) = 0;
    for (std::int32_t f = 1; f <= NFMAX; ++f)
        IFFLAG(f) = 1;
    for (std::int32_t f = IPAR(4); f != 0; f = IFEDGE(f))
        IFFLAG(f) = 0;
}
