#pragma once
// Internal to the hull: the eleven cell arrays as one bundle of 1-based views, so the routines
// read IEVS(e) as the data layout names it, plus shorthands that pass the bundle to the public
// cell-storage routines of chull3.h. The bundle owns nothing; it only remembers the caller's
// pointers.
#include "hull/chull3.h"
#include "hull/ones.h"

struct Cells {
    Ivec IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1;
};

inline std::int32_t knewe(const Cells& C) { return knewe(C.IPAR.first, C.IEVS.first); }
inline std::int32_t knewf(const Cells& C) { return knewf(C.IPAR.first, C.IFEDGE.first); }

// The three vertices of face IF, counter-clockwise seen from outside.
inline void vonf3(std::int32_t IF, std::int32_t* IVOUT, const Cells& C) {
    vonf3(IF, IVOUT, C.IPAR.first, C.IVEDGE.first, C.IFEDGE.first, C.IEVS.first, C.IEVE.first,
          C.IEF1.first, C.IEF2.first, C.IESF1.first, C.IESF2.first, C.IEEF2.first, C.IEEF1.first);
}
