#pragma once
// The storage of one hull computation and the two passes the driver runs over it.
//
// The hull routines allocate nothing: they work in the caller's arrays, whose sizes all follow
// from the point capacity m = NVMAX = n + 1 (the entry after the last point is the merge's
// scratch point). HullStorage is the one place that knows those sizes; the driver, the tests and
// the benchmarks all size their arrays through it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hull/cells.h"
#include "hull/chull3.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

class HullStorage {
  public:
    // IX, IY, IZ for n points (m = n + 1 entries each), zero-filled. A size that cannot be had or
    // represented fails with "no allocatable memory for convex hull.".
    void SizePoints(std::int64_t n);
    // IX, IY, IZ taken over from the points (m = n + 1 entries each, the last one zero): their
    // arrays move in, grown by one entry (without a copy when their capacity allows). Returns n;
    // fails like SizePoints.
    std::int32_t TakePoints(voxwrap::Points points);
    // Every other array of chull3 for the same m, in the order of its argument list.
    void SizeCells();

    // The same arrays for a smaller point set of n points (n + 1 <= NVMAX()): the capacities
    // chull3 sees, and so the face slots of the result, are those of n points.
    void Reuse(std::int32_t n);
    // Every array grown for the point capacity m >= NVMAX(), its entries kept and the new ones 0;
    // fails like SizePoints.
    void Grow(std::int64_t m);

    std::int32_t NVMAX() const { return m_; }
    std::int32_t NFMAX() const { return FacesPerPoint * m_; }
    std::int32_t NEMAX() const { return EdgesPerPoint * m_; }

    // chull3 on the first n points with ranks IRANK (n >= 6, n + 1 <= NVMAX()).
    void Run(std::int32_t n);

    // The three points (1-based) of face slot f (1-based), counter-clockwise seen from outside.
    void FacePoints(std::int32_t f, std::int32_t out[3]) const;

    // The arrays as the hull's bundles (cells.h), for the routines that walk or build cells.
    Cells CellsView();
    ConstCells CellsView() const;
    PointSet PointsView();
    Work WorkView();

    std::int32_t IPAR[slot::COUNT] = {};
    std::vector<std::int32_t> IX, IY, IZ, IRANK, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1,
        IESF2, IEEF2, IEEF1, IVSUB, IORDER, IVNEXT, IVPREV, IVFLAG, ISPREV, IEFLAG, IESTK, IFFLAG,
        IFSTK;

  private:
    std::int32_t m_ = 0;
};

// Moves the first n points whose keep flag is set to the front of x, y and z, in their order;
// returns how many there are. The rest of the arrays is left as it was.
template <class Flag>
std::int32_t KeepFlagged(std::vector<std::int32_t>& x, std::vector<std::int32_t>& y,
                         std::vector<std::int32_t>& z, std::size_t n, const Flag* keep) {
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (keep[i] == 0) continue;
        x[m] = x[i];
        y[m] = y[i];
        z[m] = z[i];
        ++m;
    }
    return static_cast<std::int32_t>(m);
}

// The hull of the n points already in hull.IX/IY/IZ (ranks are their order).
void FirstHull(std::int32_t n, HullStorage& hull);

// After a hull of all NVMAX() - 1 points: moves its extreme points, in their order, to the front
// of IX, IY, IZ and returns how many there are.
std::int32_t KeepExtremePoints(HullStorage& hull);

// Recomputes, in place, the hull of the first hull's extreme points alone, so that every vertex
// of the result is a corner of the hull and no face has zero area; returns their number.
std::int32_t SecondHull(HullStorage& hull);

// The vertices ConvexHull returns for the points, in their order, found by the first pass alone:
// for a caller that needs the corners and not the faces. Fails as the first pass does; the second
// pass, and so ConvexHull, would also refuse fewer than six corners, which this returns.
voxwrap::Points HullCorners(voxwrap::Points points);

// Marks in keep[0..n-1] the hull vertices that are corners of the hull: their faces of non-zero
// area lie in three or more distinct planes. Returns how many there are.
std::int32_t MarkExtremePoints(std::int32_t n, const HullStorage& hull, std::int32_t* keep);

// True when the points a, b, c (0-based) are not collinear.
bool HasArea(const std::int32_t* IX, const std::int32_t* IY, const std::int32_t* IZ, std::int32_t a,
             std::int32_t b, std::int32_t c);

}  // namespace voxwrap
