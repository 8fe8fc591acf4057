#pragma once
// Hulls built apart and merged as they come. Point sets that follow one another along x (every x
// of a set above every x before it) are hulled each on its own, so on any thread, and appended in
// order: each is merged into the hull of those before by the construction's own merge. The corners
// of the union come out at the cost of the merges, without a hull of all the points at the end.
#include <cstdint>
#include <vector>

#include "hull/storage.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

class HullChain {
  public:
    // Appends the hull chull3 built in `part` over all its points, ranks ascending with their order
    // (FirstHull): its vertices, in their order, after every point appended before. Every x
    // among them must exceed every x appended before ("hull chain: a part out of order."
    // otherwise). Fails like the hull: its memory failure, or a failure of its construction.
    void Append(const HullStorage& part);

    // The points appended that are corners of the hull of them all, in their order: the points
    // that the second pass of ConvexHull over all of them would keep. The chain is spent.
    Points Corners();

  private:
    HullStorage h_;          // the union: its points are the vertices appended, ranked by number
    std::int32_t n_ = 0;     // points appended
    std::int32_t ring_ = 0;  // the first point in sort order; 0 while nothing is appended
    std::int32_t last_ = 0;  // the last point in sort order (greatest x, then least rank)

    template <class Visit>
    void ForRing(Visit visit) const;
    void Place(const HullStorage& from, std::int32_t v, const std::vector<std::int32_t>& number,
               std::int32_t e);
    void Compact();
    void Reserve(std::int64_t points);
};

}  // namespace voxwrap
