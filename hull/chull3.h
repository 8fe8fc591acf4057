#pragma once
// Exact 3D convex hull of integer points: exact predicates with symbolic perturbation,
// winged-edge cell storage, small hulls, and the divide-and-conquer construction.
//
// ==== The data model ===========================================================================
//
// Arrays. Every array is the caller's std::int32_t array, read 1-based: entry (i) lives at p[i-1]
// (ones.h), so the driver's 0-based arrays pass unchanged. 0 means "none" in every link. Vertices
// are the point numbers 1..NOFP; edges are 1..NEMAX, faces 1..NFMAX. No routine allocates.
//
// Points (NVMAX entries): IX, IY, IZ the coordinates, |c| <= voxwrap::kCoordinateLimit (2^28 - 1,
// common/limits.h); IRANK the perturbation rank (a lower rank is perturbed more and decides
// first; made distinct by chull3).
//
// Vertices (NVMAX entries):
//   IVEDGE  one edge at the vertex
//   IVNEXT, IVPREV  the vertex ring: a circular doubly linked list of the vertices of one
//           (partial) hull, in no geometric order; merges splice two rings into one
// Edges (NEMAX entries), each a directed edge IEVS -> IEVE between two triangles:
//   IEVS    start vertex; on a free edge: the next free edge (the free-edge list)
//   IEVE    end vertex
//   IEF1    face 1: its cycle runs along the edge start -> end (on the right, seen from outside)
//   IEF2    face 2: its cycle runs end -> start (on the left, seen from outside)
//   IESF1   at the start, in face 1: the predecessor of the edge in face 1's cycle
//   IESF2   at the start, in face 2: the successor of the edge in face 2's cycle
//   IEEF2   at the end, in face 2: the predecessor of the edge in face 2's cycle
//   IEEF1   at the end, in face 1: the successor of the edge in face 1's cycle
//   (the cell argument list names them in this order: start/face 1, start/face 2, end/face 2,
//   end/face 1)
// Faces (NFMAX entries):
//   IFEDGE  one edge of the face; on a free face: the next free face (the free-face list)
//
// Orientation. Every face is a triangle whose cycle is clockwise seen from outside the hull.
// vonf3 lists a face's vertices in the reverse order, counter-clockwise from outside, so their
// right-hand normal points outward. Around a vertex v, the next edge after e is IESF2(e) when v
// starts e and IEEF1(e) when v ends it (the face passed is IEF2(e) or IEF1(e)): counter-clockwise
// seen from outside; nextAround in cells.h is this step.
//
// Free lists. Free faces are chained through IFEDGE from IPAR(IFFREE), free edges through IEVS
// from IPAR(IEFREE), both last in first out. Cell numbers, and so the order of the faces in the
// output, depend on the order in which cells are taken and returned: it must not change.
//
// Marks, in IEFLAG (edges) and IFFLAG (faces), and their roles by phase:
//   during a merge   mark::PLAIN (0) a cell of L or R (set by cclear), mark::DELETED (-1) returned
//                    by a region deletion, mark::HORIZON (2, edges) an old edge a new triangle was
//                    built on, mark::NEW (3) a cell made by this merge. A deletion crosses only
//                    edges of mark 0; every other mark is a barrier.
//   after chull3     mark::IN_USE (1) a cell of the hull, mark::FREE (0) a cell on a free list;
//                    IVFLAG holds the same two values for the vertices.
//
// Reused work arrays, by phase:
//   IORDER  the sort order (position -> point) while the starting hulls are built; during a
//           merge the heights of the silhouette walk (0 for every vertex of L and R), then the
//           vertex list of the region deletion
//   IVFLAG  during chull3's merges the last point in sort order of each partial hull, indexed as
//           IVSUB; during a merge of mergch the silhouette successor of a vertex (ISPREV its
//           predecessor); after chull3 1 for a vertex of the hull, else 0
//   IVSUB   the representative (first point in sort order) of each partial hull; free once
//           chull3 returns (the second pass keeps its extreme-point marks there)
//   IEFLAG, IFFLAG  the marks above; IESTK, IFSTK  the stacks of a region deletion
//   point NOFP + 1  the lifted scratch point of the silhouette walk: IX, IY, IRANK of that slot
//           (and IORDER as its height) are overwritten by every merge
//
// Predicate names: i... takes the values themselves, j... point numbers read through coordinate
// arrays; s = the sign of; d1 = the determinant of the rows (coordinates, 1), i.e. of the
// differences from the first point; one s per coordinate column after d1 (d1s 1, d1ss 2, d1sss 3
// columns); or = the orientation under the symbolic perturbation of the ranks (jorsss: four points
// in three columns, never 0); sortbn = bubble sort with parity.
//
// Bundles. The routines pass the arrays as bundles of 1-based views (below): Cells is the cell
// argument list IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1 in that
// order, ConstCells its read-only view, PointSet the points, Work the other arrays. A bundle owns
// nothing; it only remembers the caller's pointers. HullStorage (storage.h) owns and sizes them.
#include <cstdint>

#include "hull/ones.h"

namespace voxwrap {

// Slots of the parameter array IPAR (9 entries, 1-based).
namespace slot {
constexpr std::int32_t NVMAX = 1;   // capacity of every per-vertex array (the caller sets it)
constexpr std::int32_t NFMAX = 2;   // face capacity, FacesPerPoint * NVMAX (set by chull3)
constexpr std::int32_t NEMAX = 3;   // edge capacity, EdgesPerPoint * NVMAX (set by chull3)
constexpr std::int32_t IFFREE = 4;  // head of the free-face list, 0 when empty
constexpr std::int32_t IEFREE = 5;  // head of the free-edge list, 0 when empty
constexpr std::int32_t NOFP = 7;    // copy of the point count, read by the merges
constexpr std::int32_t IVSTRT = 9;  // a vertex of the finished hull, entry to its ring
constexpr std::int32_t COUNT = 9;   // entries of IPAR (6 and 8 are unused)
}  // namespace slot

// Values of IEFLAG and IFFLAG.
namespace mark {
constexpr std::int32_t DELETED = -1;  // returned by a region deletion
constexpr std::int32_t PLAIN = 0;     // a cell of a hull being merged
constexpr std::int32_t HORIZON = 2;   // an old edge a cylinder triangle was built on
constexpr std::int32_t NEW = 3;       // made by the current merge
constexpr std::int32_t FREE = 0;      // after chull3: on a free list
constexpr std::int32_t IN_USE = 1;    // after chull3: a cell of the hull
}  // namespace mark

// Capacities: with NVMAX = IPAR(NVMAX) point slots, a hull has room for FacesPerPoint * NVMAX
// faces and EdgesPerPoint * NVMAX edges (a closed triangulated surface of V vertices has 2V - 4
// faces and 3V - 6 edges; the merges need the rest while a cylinder is built before the hidden
// cells go). HullStorage (storage.h) sizes every array from these two constants.
constexpr std::int32_t FacesPerPoint = 3;
constexpr std::int32_t EdgesPerPoint = 4;

// ---- bundles ----
// The cell argument list, read-only.
struct ConstCells {
    Cvec IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1;
};

// The cell argument list.
struct Cells {
    Ivec IPAR, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1, IESF2, IEEF2, IEEF1;
    operator ConstCells() const {
        return {IPAR.first, IVEDGE.first, IFEDGE.first, IEVS.first,  IEVE.first, IEF1.first,
                IEF2.first, IESF1.first,  IESF2.first,  IEEF2.first, IEEF1.first};
    }
};

// The points: coordinates and ranks (slot NOFP + 1 is the merge's scratch point).
struct PointSet {
    std::int32_t *IX, *IY, *IZ, *IRANK;
};

// The work arrays of chull3 beyond the cells; their roles by phase are above.
struct Work {
    Ivec IVSUB, IORDER, IVNEXT, IVPREV, IVFLAG, ISPREV, IEFLAG, IESTK, IFFLAG, IFSTK;
};

// ---- exact predicates (exact.cpp), in 64- and 128-bit integers ----
// Every coordinate difference they form must lie below 2^29 in magnitude, as it does for points
// within the coordinate limit; multiword.h evaluates the same predicates in multi-word integers.
std::int32_t isd1s(const std::int32_t* A);
std::int32_t jsd1s(const std::int32_t* P, const std::int32_t* U);
std::int32_t isd1ss(const std::int32_t* A, const std::int32_t* B);
std::int32_t jsd1ss(const std::int32_t* P, const std::int32_t* U, const std::int32_t* V);
std::int32_t jd1sss(const std::int32_t* P, const std::int32_t* IX, const std::int32_t* IY,
                    const std::int32_t* IZ);
void sortbn(std::int32_t N, const std::int32_t* IN, const std::int32_t* KEY, std::int32_t* OUT,
            std::int32_t& ISIGN);
std::int32_t larger(std::int32_t I, std::int32_t J, const std::int32_t* K1, const std::int32_t* K2);
std::int32_t itleft(std::int32_t I, std::int32_t J, std::int32_t K, const std::int32_t* U,
                    const std::int32_t* V, const std::int32_t* KEY);

// ---- perturbed four-point orientation ----
// jorsss on IV(1..4); jorsssAt on the four point numbers themselves, which the hot callers hold
// in registers (an array of them, stored one by one and read back at once, waits on the stores).
std::int32_t jorsss(const std::int32_t* IV, const std::int32_t* IX, const std::int32_t* IY,
                    const std::int32_t* IZ, const std::int32_t* IRANK);
std::int32_t jorsssAt(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d,
                      const std::int32_t* IX, const std::int32_t* IY, const std::int32_t* IZ,
                      const std::int32_t* IRANK);

// ---- free lists (the routines that walk or build the structure take the bundles of cells.h) ----
std::int32_t knewe(std::int32_t* IPAR, std::int32_t* IEVS);
std::int32_t knewf(std::int32_t* IPAR, std::int32_t* IFEDGE);
void keback(std::int32_t IE, std::int32_t* IPAR, std::int32_t* IEVS);
void kfback(std::int32_t IF, std::int32_t* IPAR, std::int32_t* IFEDGE);
void kinit(std::int32_t* IPAR, std::int32_t* IFEDGE, std::int32_t* IEVS);

// ---- hull construction ----
// The hull of the NOFP points: on return IFFLAG, IEFLAG and IVFLAG are mark::IN_USE for the
// faces, edges and vertices of the hull, and IPAR(IVSTRT) is a vertex on its ring.
void chull3(std::int32_t NOFP, const PointSet& P, const Cells& C, const Work& W);
// The merge of two hulls that chull3 runs, for hulls built apart: every point of L (its ring
// through IVA, lastL its last point in sort order) comes before every point of R (IVB its first
// point in sort order), every mark of both is mark::PLAIN, IORDER(1..NOFP) is 0, and every rank is
// below NOFP + 1, the lifted point's. It leaves the merged hull so, its ring through IVA.
void mergeSeparated(std::int32_t IVA, std::int32_t IVB, std::int32_t lastL, const PointSet& P,
                    const Cells& C, const Work& W);
void hpsort(std::int32_t N, const std::int32_t* KEY1, const std::int32_t* KEY2,
            std::int32_t* IORDER);

}  // namespace voxwrap
