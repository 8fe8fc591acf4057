// Cell storage of the hull (winged edges, free lists, walks, region deletion) and the small
// starting hulls built in it. The numbers of the cells decide the order of the faces in the
// output, so the order in which cells are taken and returned below must not change.
#include "hull/cells.h"
#include "hull/chull3.h"
#include "hull/ones.h"
#include "hull/stop.h"

#include <cstdint>

// ======================================================================================
// Free lists
// ======================================================================================

// Both lists are last in, first out: a returned cell is the next one handed out. A taken cell
// keeps its stale fields; the caller sets every field it needs, the link field included.
std::int32_t knewe(std::int32_t* ipar, std::int32_t* ievs) {
    const Ivec IPAR(ipar), IEVS(ievs);
    const std::int32_t h = IPAR(5);
    if (h == 0) HullStop("Error in KNEWE: No more edge cell.");
    IPAR(5) = IEVS(h);  // a free edge's start field links to the next free edge
    return h;
}

std::int32_t knewf(std::int32_t* ipar, std::int32_t* ifedge) {
    const Ivec IPAR(ipar), IFEDGE(ifedge);
    const std::int32_t h = IPAR(4);
    if (h == 0) HullStop("Error in KNEWF: No more face cell.");
    IPAR(4) = IFEDGE(h);  // a free face's edge field links to the next free face
    return h;
}

void keback(std::int32_t IE, std::int32_t* ipar, std::int32_t* ievs) {
    const Ivec IPAR(ipar), IEVS(ievs);
    IEVS(IE) = IPAR(5);
    IPAR(5) = IE;
}

void kfback(std::int32_t IF, std::int32_t* ipar, std::int32_t* ifedge) {
    const Ivec IPAR(ipar), IFEDGE(ifedge);
    IFEDGE(IF) = IPAR(4);
    IPAR(4) = IF;
}

// ======================================================================================
// Walks around a face
// ======================================================================================

// The three edges of face IF: its boundary cycle walked backwards from IFEDGE(IF).
void eonf3(std::int32_t IF, std::int32_t* ieout, std::int32_t* IPAR, std::int32_t* IVEDGE,
           std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1,
           std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2,
           std::int32_t* IEEF1) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Ivec IEOUT(ieout);
    // Where IF is face 1 the edge is passed forwards, so its predecessor hangs at the start.
    auto before = [&](std::int32_t e) { return C.IEF1(e) == IF ? C.IESF1(e) : C.IEEF2(e); };
    const std::int32_t e1 = C.IFEDGE(IF);
    const std::int32_t e2 = before(e1);
    IEOUT(1) = e1;
    IEOUT(2) = e2;
    IEOUT(3) = before(e2);
}

// The three vertices of face IF, counter-clockwise seen from outside (the cycle reversed).
void vonf3(std::int32_t IF, std::int32_t* ivout, std::int32_t* IPAR, std::int32_t* IVEDGE,
           std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1,
           std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2,
           std::int32_t* IEEF1) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Ivec IVOUT(ivout);
    const std::int32_t e = C.IFEDGE(IF);
    std::int32_t next;
    if (C.IEF1(e) == IF) {
        IVOUT(1) = C.IEVE(e);
        IVOUT(2) = C.IEVS(e);
        next = C.IESF1(e);
    } else {
        IVOUT(1) = C.IEVS(e);
        IVOUT(2) = C.IEVE(e);
        next = C.IEEF2(e);
    }
    IVOUT(3) = C.IEF1(next) == IF ? C.IEVS(next) : C.IEVE(next);
}

// ======================================================================================
// Marks and region deletion
// ======================================================================================

// Sets the mark of every edge and face of the hull whose ring holds IV to 0. Every cell of a
// hull touches a ring vertex, so walking the edges around each ring vertex reaches them all.
void cclear(std::int32_t IV, std::int32_t* ivnext, std::int32_t* /*IVPREV*/, std::int32_t* ieflag,
            std::int32_t* ifflag, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Ivec IVNEXT(ivnext), IEFLAG(ieflag), IFFLAG(ifflag);
    std::int32_t v = IV;
    do {
        const std::int32_t e0 = C.IVEDGE(v);
        std::int32_t f = C.IEVS(e0) == v ? C.IEF1(e0) : C.IEF2(e0);
        std::int32_t e = e0;
        do {
            IEFLAG(e) = 0;
            IFFLAG(f) = 0;
            if (C.IEVS(e) == v) {
                f = C.IEF2(e);
                e = C.IESF2(e);
            } else {
                f = C.IEF1(e);
                e = C.IEEF1(e);
            }
        } while (e != e0);
        v = IVNEXT(v);
    } while (v != IV);
}

namespace {

// Marks with -1 and stacks every face reachable from f0 across edges of mark 0, and every such
// edge crossed. The face stack is scanned while it grows, so no recursion is needed however
// large the region. Returns the two stack tops.
void markRegion(std::int32_t f0, const Cells& C, Ivec IEFLAG, Ivec IESTK, Ivec IFFLAG, Ivec IFSTK,
                std::int32_t& IETOP, std::int32_t& IFTOP) {
    const std::int32_t NFMAX = C.IPAR(2), NEMAX = C.IPAR(3);
    IETOP = 0;
    IFFLAG(f0) = -1;
    IFSTK(1) = f0;
    IFTOP = 1;
    for (std::int32_t i = 1; i <= IFTOP; ++i) {
        const std::int32_t f = IFSTK(i);
        std::int32_t edges[3];
        eonf3(f, edges, C.IPAR.first, C.IVEDGE.first, C.IFEDGE.first, C.IEVS.first, C.IEVE.first,
              C.IEF1.first, C.IEF2.first, C.IESF1.first, C.IESF2.first, C.IEEF2.first,
              C.IEEF1.first);
        for (const std::int32_t e : edges) {
            if (IEFLAG(e) != 0) continue;  // a barrier, or already crossed
            if (IETOP + 1 > NEMAX)
                HullStop("Error in DELETE: Edge stack overflows.",
                         "IETOP =" + Field(IETOP + 1, 10));
            IETOP = IETOP + 1;
            IESTK(IETOP) = e;
            IEFLAG(e) = -1;
            std::int32_t g = C.IEF1(e);
            if (g == f) g = C.IEF2(e);
            if (IFFLAG(g) == -1) continue;
            IFFLAG(g) = -1;
            if (IFTOP + 1 > NFMAX)
                HullStop("Error in DELETE: Face stack overflows.",
                         "IFTOP =" + Field(IFTOP + 1, 10));
            IFTOP = IFTOP + 1;
            IFSTK(IFTOP) = g;
        }
    }
}

// Returns the stacked cells to their free lists (faces first, each stack in push order) and
// takes the n listed vertices off their ring.
void releaseRegion(const Cells& C, Ivec IESTK, Ivec IFSTK, std::int32_t IETOP, std::int32_t IFTOP,
                   Ivec IVLIST, std::int32_t n, Ivec IVNEXT, Ivec IVPREV) {
    for (std::int32_t k = 1; k <= IFTOP; ++k)
        kfback(IFSTK(k), C.IPAR.first, C.IFEDGE.first);
    for (std::int32_t k = 1; k <= IETOP; ++k)
        keback(IESTK(k), C.IPAR.first, C.IEVS.first);
    for (std::int32_t k = 1; k <= n; ++k) {
        const std::int32_t w = IVLIST(k);
        IVNEXT(IVPREV(w)) = IVNEXT(w);
        IVPREV(IVNEXT(w)) = IVPREV(w);
    }
}

}  // namespace

// Deletes the faces reachable from IF without crossing a marked edge, the edges crossed, and the
// ring vertices all of whose edges went with them (listed in IVLIST). Surviving edges keep their
// links, so the boundary of the hole still names the deleted faces until the caller re-links it.
void delete_(std::int32_t IF, std::int32_t* ivlist, std::int32_t* ivnext, std::int32_t* ivprev,
             std::int32_t* IEFLAG, std::int32_t* IESTK, std::int32_t* IFFLAG, std::int32_t* IFSTK,
             std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE, std::int32_t* IEVS,
             std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2, std::int32_t* IESF1,
             std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Ivec IVLIST(ivlist), IVNEXT(ivnext), IVPREV(ivprev), IEFLAGv(IEFLAG);
    std::int32_t IETOP, IFTOP;
    markRegion(IF, C, IEFLAG, IESTK, IFFLAG, IFSTK, IETOP, IFTOP);
    // The sweep runs before any cell goes back, while every link is still intact.
    const std::int32_t u = C.IEVS(C.IFEDGE(IF));
    std::int32_t n = 0;
    std::int32_t v = u;
    do {
        const std::int32_t e0 = C.IVEDGE(v);
        std::int32_t e = e0;
        bool allDeleted = true;
        do {
            if (IEFLAGv(e) != -1) {
                allDeleted = false;
                break;
            }
            e = C.IEVS(e) == v ? C.IESF2(e) : C.IEEF1(e);
        } while (e != e0);
        if (allDeleted) IVLIST(++n) = v;
        v = IVNEXT(v);
    } while (v != u);
    releaseRegion(C, IESTK, IFSTK, IETOP, IFTOP, IVLIST, n, IVNEXT, IVPREV);
}

// Deletes the region reachable from IF like delete_, and takes every ring vertex but IV off the
// ring whatever its edges: IV is left alone on its ring.
void delall(std::int32_t IV, std::int32_t IF, std::int32_t* ivlist, std::int32_t* ivnext,
            std::int32_t* ivprev, std::int32_t* IEFLAG, std::int32_t* IESTK, std::int32_t* IFFLAG,
            std::int32_t* IFSTK, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
            std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
            std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Ivec IVLIST(ivlist), IVNEXT(ivnext), IVPREV(ivprev);
    std::int32_t IETOP, IFTOP;
    markRegion(IF, C, IEFLAG, IESTK, IFFLAG, IFSTK, IETOP, IFTOP);
    // Alone on its ring, IV lists itself; unlinking it then leaves the ring as it was.
    std::int32_t n = 0;
    std::int32_t w = IVNEXT(IV);
    do {
        IVLIST(++n) = w;
        w = IVNEXT(w);
    } while (w != IV);
    releaseRegion(C, IESTK, IFSTK, IETOP, IFTOP, IVLIST, n, IVNEXT, IVPREV);
}

// ======================================================================================
// Small hulls
// ======================================================================================

// The two-sided triangle of IORDER(I), IORDER(I+1), IORDER(I+2) with its ring in that order.
// Three points need no geometric test: collinear ones are built the same way.
void ch3p(std::int32_t I, const std::int32_t* /*IX*/, const std::int32_t* /*IY*/,
          const std::int32_t* /*IZ*/, const std::int32_t* /*IRANK*/, std::int32_t* IPAR,
          std::int32_t* IVEDGE, std::int32_t* IFEDGE, std::int32_t* IEVS, std::int32_t* IEVE,
          std::int32_t* IEF1, std::int32_t* IEF2, std::int32_t* IESF1, std::int32_t* IESF2,
          std::int32_t* IEEF2, std::int32_t* IEEF1, std::int32_t* iorder, std::int32_t* ivnext,
          std::int32_t* ivprev) {
    const Ivec IORDER(iorder), IVNEXT(ivnext), IVPREV(ivprev);
    const std::int32_t V[3] = {IORDER(I), IORDER(I + 1), IORDER(I + 2)};
    IVNEXT(V[0]) = V[1];
    IVNEXT(V[1]) = V[2];
    IVNEXT(V[2]) = V[0];
    IVPREV(V[1]) = V[0];
    IVPREV(V[2]) = V[1];
    IVPREV(V[0]) = V[2];
    dihed(V, IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1);
}

namespace {

// One edge's eight fields, in the column order of the cell arrays.
void setEdge(const Cells& C, std::int32_t e, std::int32_t vs, std::int32_t ve, std::int32_t f1,
             std::int32_t f2, std::int32_t esf1, std::int32_t esf2, std::int32_t eef2,
             std::int32_t eef1) {
    C.IEVS(e) = vs;
    C.IEVE(e) = ve;
    C.IEF1(e) = f1;
    C.IEF2(e) = f2;
    C.IESF1(e) = esf1;
    C.IESF2(e) = esf2;
    C.IEEF2(e) = eef2;
    C.IEEF1(e) = eef1;
}

}  // namespace

// Two faces back to back on the triangle V(1), V(2), V(3): F1 runs V1 -> V2 -> V3, F2 the
// reverse. Faces are taken before edges; each in ascending order from the lists.
void dihed(const std::int32_t* v, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
           std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
           std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Cvec V(v);
    const std::int32_t F1 = knewf(C), F2 = knewf(C);
    const std::int32_t E1 = knewe(C), E2 = knewe(C), E3 = knewe(C);
    C.IFEDGE(F1) = E1;
    C.IFEDGE(F2) = E1;
    C.IVEDGE(V(1)) = E1;
    C.IVEDGE(V(2)) = E2;
    C.IVEDGE(V(3)) = E3;
    setEdge(C, E1, V(1), V(2), F1, F2, E3, E3, E2, E2);
    setEdge(C, E2, V(2), V(3), F1, F2, E1, E1, E3, E3);
    setEdge(C, E3, V(3), V(1), F1, F2, E2, E2, E1, E1);
}

// The tetrahedron of P1..P4, whose orientation determinant (rows P2-P1, P3-P1, P4-P1) must be
// negative: then every face cycle below is clockwise seen from outside.
void tetra(const std::int32_t* v, std::int32_t* IPAR, std::int32_t* IVEDGE, std::int32_t* IFEDGE,
           std::int32_t* IEVS, std::int32_t* IEVE, std::int32_t* IEF1, std::int32_t* IEF2,
           std::int32_t* IESF1, std::int32_t* IESF2, std::int32_t* IEEF2, std::int32_t* IEEF1) {
    const Cells C{IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1};
    const Cvec V(v);
    const std::int32_t P1 = V(1), P2 = V(2), P3 = V(3), P4 = V(4);
    const std::int32_t F1 = knewf(C), F2 = knewf(C), F3 = knewf(C), F4 = knewf(C);
    const std::int32_t E1 = knewe(C), E2 = knewe(C), E3 = knewe(C);
    const std::int32_t E4 = knewe(C), E5 = knewe(C), E6 = knewe(C);
    C.IFEDGE(F1) = E1;
    C.IFEDGE(F2) = E2;
    C.IFEDGE(F3) = E3;
    C.IFEDGE(F4) = E4;
    C.IVEDGE(P1) = E1;
    C.IVEDGE(P2) = E1;
    C.IVEDGE(P3) = E5;
    C.IVEDGE(P4) = E5;
    // After the edge: IEVS IEVE IEF1 IEF2 IESF1 IESF2 IEEF2 IEEF1.
    setEdge(C, E1, P2, P1, F1, F3, E4, E6, E3, E2);
    setEdge(C, E2, P3, P1, F2, F1, E5, E4, E1, E3);
    setEdge(C, E3, P4, P1, F3, F2, E6, E5, E2, E1);
    setEdge(C, E4, P2, P3, F4, F1, E6, E1, E2, E5);
    setEdge(C, E5, P3, P4, F4, F2, E4, E2, E3, E6);
    setEdge(C, E6, P4, P2, F4, F3, E5, E3, E1, E4);
}
