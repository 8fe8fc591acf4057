// Cell storage of the hull (winged edges, free lists, walks, region deletion) and the small
// starting hulls built in it. The numbers of the cells decide the order of the faces in the
// output, so the order in which cells are taken and returned below must not change.
#include "hull/cells.h"

#include <cstdint>

#include "hull/chull3.h"
#include "hull/ones.h"
#include "hull/stop.h"

namespace voxwrap {

// ======================================================================================
// Free lists
// ======================================================================================

// Both lists are last in, first out: a returned cell is the next one handed out. A taken cell
// keeps its stale fields; the caller sets every field it needs, the link field included.
std::int32_t knewe(std::int32_t* ipar, std::int32_t* ievs) {
    const Ivec IPAR(ipar), IEVS(ievs);
    const std::int32_t h = IPAR(slot::IEFREE);
    if (h == 0) HullStop("Error in KNEWE: No more edge cell.");
    IPAR(slot::IEFREE) = IEVS(h);  // a free edge's start field links to the next free edge
    return h;
}

std::int32_t knewf(std::int32_t* ipar, std::int32_t* ifedge) {
    const Ivec IPAR(ipar), IFEDGE(ifedge);
    const std::int32_t h = IPAR(slot::IFFREE);
    if (h == 0) HullStop("Error in KNEWF: No more face cell.");
    IPAR(slot::IFFREE) = IFEDGE(h);  // a free face's edge field links to the next free face
    return h;
}

void keback(std::int32_t IE, std::int32_t* ipar, std::int32_t* ievs) {
    const Ivec IPAR(ipar), IEVS(ievs);
    IEVS(IE) = IPAR(slot::IEFREE);
    IPAR(slot::IEFREE) = IE;
}

void kfback(std::int32_t IF, std::int32_t* ipar, std::int32_t* ifedge) {
    const Ivec IPAR(ipar), IFEDGE(ifedge);
    IFEDGE(IF) = IPAR(slot::IFFREE);
    IPAR(slot::IFFREE) = IF;
}

// Chains every face and every edge cell into its free list in ascending order.
void kinit(std::int32_t* ipar, std::int32_t* ifedge, std::int32_t* ievs) {
    const Ivec IPAR(ipar), IFEDGE(ifedge), IEVS(ievs);
    const std::int32_t NFMAX = IPAR(slot::NFMAX), NEMAX = IPAR(slot::NEMAX);
    for (std::int32_t i = 1; i < NFMAX; ++i)
        IFEDGE(i) = i + 1;
    IFEDGE(NFMAX) = 0;
    IPAR(slot::IFFREE) = 1;
    for (std::int32_t i = 1; i < NEMAX; ++i)
        IEVS(i) = i + 1;
    IEVS(NEMAX) = 0;
    IPAR(slot::IEFREE) = 1;
}

// ======================================================================================
// Marks and region deletion
// ======================================================================================

// Every cell of a hull touches a ring vertex, so walking the edges around each ring vertex
// reaches them all.
void cclear(std::int32_t IV, const Cells& C, const Work& W) {
    std::int32_t v = IV;
    do {
        const std::int32_t e0 = C.IVEDGE(v);
        std::int32_t e = e0;
        do {
            W.IEFLAG(e) = mark::PLAIN;
            W.IFFLAG(C.IEVS(e) == v ? C.IEF1(e) : C.IEF2(e)) = mark::PLAIN;  // the face before e
            e = nextAround(C, e, v);
        } while (e != e0);
        v = W.IVNEXT(v);
    } while (v != IV);
}

namespace {

// Marks with -1 and stacks every face reachable from f0 across edges of mark 0, and every such
// edge crossed. The face stack is scanned while it grows, so no recursion is needed however
// large the region. Returns the two stack tops.
void markRegion(std::int32_t f0, const Cells& C, const Work& W, std::int32_t& IETOP,
                std::int32_t& IFTOP) {
    const std::int32_t NFMAX = C.IPAR(slot::NFMAX), NEMAX = C.IPAR(slot::NEMAX);
    IETOP = 0;
    W.IFFLAG(f0) = mark::DELETED;
    W.IFSTK(1) = f0;
    IFTOP = 1;
    for (std::int32_t i = 1; i <= IFTOP; ++i) {
        const std::int32_t f = W.IFSTK(i);
        std::int32_t edges[3];
        eonf3(f, edges, C);
        for (const std::int32_t e : edges) {
            if (W.IEFLAG(e) != mark::PLAIN) continue;  // a barrier, or already crossed
            if (IETOP + 1 > NEMAX)
                HullStop("Error in DELETE: Edge stack overflows.",
                         "IETOP =" + Field(IETOP + 1, 10));
            IETOP = IETOP + 1;
            W.IESTK(IETOP) = e;
            W.IEFLAG(e) = mark::DELETED;
            std::int32_t g = C.IEF1(e);
            if (g == f) g = C.IEF2(e);
            if (W.IFFLAG(g) == mark::DELETED) continue;
            W.IFFLAG(g) = mark::DELETED;
            if (IFTOP + 1 > NFMAX)
                HullStop("Error in DELETE: Face stack overflows.",
                         "IFTOP =" + Field(IFTOP + 1, 10));
            IFTOP = IFTOP + 1;
            W.IFSTK(IFTOP) = g;
        }
    }
}

// Returns the stacked cells to their free lists (faces first, each stack in push order) and
// takes the n vertices listed in IORDER off their ring.
void releaseRegion(const Cells& C, const Work& W, std::int32_t IETOP, std::int32_t IFTOP,
                   std::int32_t n) {
    for (std::int32_t k = 1; k <= IFTOP; ++k)
        kfback(W.IFSTK(k), C);
    for (std::int32_t k = 1; k <= IETOP; ++k)
        keback(W.IESTK(k), C);
    for (std::int32_t k = 1; k <= n; ++k) {
        const std::int32_t w = W.IORDER(k);
        W.IVNEXT(W.IVPREV(w)) = W.IVNEXT(w);
        W.IVPREV(W.IVNEXT(w)) = W.IVPREV(w);
    }
}

}  // namespace

// Surviving edges keep their links, so the boundary of the hole still names the deleted faces
// until the caller re-links it.
void delete_(std::int32_t IF, const Cells& C, const Work& W) {
    std::int32_t IETOP, IFTOP;
    markRegion(IF, C, W, IETOP, IFTOP);
    // The sweep runs before any cell goes back, while every link is still intact.
    const std::int32_t u = C.IEVS(C.IFEDGE(IF));
    std::int32_t n = 0;
    std::int32_t v = u;
    do {
        const std::int32_t e0 = C.IVEDGE(v);
        std::int32_t e = e0;
        while (W.IEFLAG(e) == mark::DELETED) {
            e = nextAround(C, e, v);
            if (e == e0) {  // every edge at v went
                W.IORDER(++n) = v;
                break;
            }
        }
        v = W.IVNEXT(v);
    } while (v != u);
    releaseRegion(C, W, IETOP, IFTOP, n);
}

// IV is left alone on its ring whatever its edges; alone already, it lists itself and unlinking
// it leaves the ring as it was.
void delall(std::int32_t IV, std::int32_t IF, const Cells& C, const Work& W) {
    std::int32_t IETOP, IFTOP;
    markRegion(IF, C, W, IETOP, IFTOP);
    std::int32_t n = 0;
    std::int32_t w = W.IVNEXT(IV);
    do {
        W.IORDER(++n) = w;
        w = W.IVNEXT(w);
    } while (w != IV);
    releaseRegion(C, W, IETOP, IFTOP, n);
}

// ======================================================================================
// Small hulls
// ======================================================================================

// Three points need no geometric test: collinear ones are built the same way.
void ch3p(std::int32_t I, const Cells& C, const Work& W) {
    const std::int32_t V[3] = {W.IORDER(I), W.IORDER(I + 1), W.IORDER(I + 2)};
    W.IVNEXT(V[0]) = V[1];
    W.IVNEXT(V[1]) = V[2];
    W.IVNEXT(V[2]) = V[0];
    W.IVPREV(V[1]) = V[0];
    W.IVPREV(V[2]) = V[1];
    W.IVPREV(V[0]) = V[2];
    dihed(V, C);
}

// The last two points are exchanged for tetra when the four are positively oriented.
void ch4p(std::int32_t I, const PointSet& P, const Cells& C, const Work& W) {
    std::int32_t V[4] = {W.IORDER(I), W.IORDER(I + 1), W.IORDER(I + 2), W.IORDER(I + 3)};
    for (int k = 0; k < 4; ++k) {
        W.IVNEXT(V[k]) = V[(k + 1) % 4];
        W.IVPREV(V[(k + 1) % 4]) = V[k];
    }
    if (jorsss(V, P.IX, P.IY, P.IZ, P.IRANK) == 1) {
        const std::int32_t t = V[2];
        V[2] = V[3];
        V[3] = t;
    }
    tetra(V, C);
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
void dihed(const std::int32_t v[3], const Cells& C) {
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
void tetra(const std::int32_t v[4], const Cells& C) {
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

}  // namespace voxwrap
