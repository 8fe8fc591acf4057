#pragma once
// The walks and the routines of the hull over the bundles of chull3.h: read-only walks take
// ConstCells (to which Cells converts), builders and deletions Cells and Work.
#include <cstdint>

#include "hull/chull3.h"
#include "hull/ones.h"

namespace voxwrap {

// ---- walks (inline: they run inside every orientation loop) ----

// The edge after e around its end v, counter-clockwise seen from outside.
inline std::int32_t nextAround(const ConstCells& C, std::int32_t e, std::int32_t v) {
    return C.IEVS(e) == v ? C.IESF2(e) : C.IEEF1(e);
}

// The edge before e around its end v: the step back, clockwise seen from outside.
inline std::int32_t prevAround(const ConstCells& C, std::int32_t e, std::int32_t v) {
    return C.IEVS(e) == v ? C.IESF1(e) : C.IEEF2(e);
}

// The other end of edge e from vertex v.
inline std::int32_t otherEnd(const ConstCells& C, std::int32_t e, std::int32_t v) {
    return C.IEVS(e) == v ? C.IEVE(e) : C.IEVS(e);
}

// The three edges of face IF: its cycle walked backwards from IFEDGE(IF). Where IF is face 1 an
// edge is passed forwards, so its predecessor hangs at the start.
inline void eonf3(std::int32_t IF, std::int32_t IEOUT[3], const ConstCells& C) {
    auto before = [&](std::int32_t e) { return C.IEF1(e) == IF ? C.IESF1(e) : C.IEEF2(e); };
    IEOUT[0] = C.IFEDGE(IF);
    IEOUT[1] = before(IEOUT[0]);
    IEOUT[2] = before(IEOUT[1]);
}

// The three vertices of face IF, counter-clockwise seen from outside (the cycle reversed).
inline void vonf3(std::int32_t IF, std::int32_t IVOUT[3], const ConstCells& C) {
    const std::int32_t e = C.IFEDGE(IF);
    std::int32_t next;
    if (C.IEF1(e) == IF) {
        IVOUT[0] = C.IEVE(e);
        IVOUT[1] = C.IEVS(e);
        next = C.IESF1(e);
    } else {
        IVOUT[0] = C.IEVS(e);
        IVOUT[1] = C.IEVE(e);
        next = C.IEEF2(e);
    }
    IVOUT[2] = C.IEF1(next) == IF ? C.IEVS(next) : C.IEVE(next);
}

// ---- free lists over the bundle ----
inline std::int32_t knewe(const Cells& C) { return knewe(C.IPAR.first, C.IEVS.first); }
inline std::int32_t knewf(const Cells& C) { return knewf(C.IPAR.first, C.IFEDGE.first); }
inline void keback(std::int32_t IE, const Cells& C) { keback(IE, C.IPAR.first, C.IEVS.first); }
inline void kfback(std::int32_t IF, const Cells& C) { kfback(IF, C.IPAR.first, C.IFEDGE.first); }
inline void kinit(const Cells& C) { kinit(C.IPAR.first, C.IFEDGE.first, C.IEVS.first); }

// ---- marks and region deletion (cells.cpp) ----
// Sets the mark of every edge and face of the hull whose ring holds IV to mark::PLAIN.
void cclear(std::int32_t IV, const Cells& C, const Work& W);
// Deletes the faces reachable from IF across edges of mark::PLAIN, the edges crossed, and the
// ring vertices all of whose edges went (listed in W.IORDER). `delete` is a keyword.
void delete_(std::int32_t IF, const Cells& C, const Work& W);
// Deletes like delete_, and takes every ring vertex but IV off the ring (listed in W.IORDER).
void delall(std::int32_t IV, std::int32_t IF, const Cells& C, const Work& W);

// ---- small hulls (cells.cpp) ----
// The two-sided triangle of V[0], V[1], V[2]: face 1 runs V1 -> V2 -> V3, face 2 the reverse.
void dihed(const std::int32_t V[3], const Cells& C);
// The tetrahedron of V[0..3], whose orientation determinant must be negative.
void tetra(const std::int32_t V[4], const Cells& C);
// The two-sided triangle of IORDER(I..I+2) with its ring in that order.
void ch3p(std::int32_t I, const Cells& C, const Work& W);
// The tetrahedron of IORDER(I..I+3) with its ring in that order.
void ch4p(std::int32_t I, const PointSet& P, const Cells& C, const Work& W);

// ---- construction (chull3.cpp; chull3 itself is declared in chull3.h) ----
// The outline of the hull's projection on the xy plane from ISTART, traced into IVFLAG/ISPREV;
// returns the outline vertex that comes last in sort order.
std::int32_t shadow(std::int32_t ISTART, const PointSet& P, const Cells& C, const Work& W);
// Joins the neighbouring hulls through IVA (left) and IVB (right) into the hull of their union.
void mergch(std::int32_t IVA, std::int32_t IVB, const PointSet& P, const Cells& C, const Work& W);
// Wraps the cylinder of new triangles from the bridge IA -> IB, deletes what it hides, re-links
// and splices the rings.
void gcylin(std::int32_t IA, std::int32_t IB, const PointSet& P, const Cells& C, const Work& W);

}  // namespace voxwrap
