#pragma once
// The 2-D convex chains of one plane: the left ends of its rows and the right ends, each reduced
// as it arrives to the corners of the convex polygon that encloses the plane's object cube faces.
// Only these corners can be hull vertices.
#include <cstdint>
#include <memory>

#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace sampling {

// Adds the row end (x, y) to a convex chain whose last point has index n (n >= 1): the points
// (x, y) and (x, y+1) enter, every point that no longer turns strictly clockwise leaves. Returns
// the new index of the last point. Products are formed in 64 bits, so any image size is exact.
std::int32_t Append(std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t x,
                    std::int32_t y);

// The two chains of one plane: the left ends of its rows, and the right ends mirrored in x, so
// that one chain rule serves both sides. Each holds at most one point per y in 0..H.
class PlaneSampler {
  public:
    explicit PlaneSampler(std::int32_t H);

    void StartPlane() { started_ = false; }

    // Row y of the plane counts from column u to column v.
    void Row(std::int32_t u, std::int32_t v, std::int32_t y) {
        if (!started_) {
            LX[0] = LX[1] = u;
            RX[0] = RX[1] = -v;
            LY[0] = RY[0] = y;
            LY[1] = RY[1] = y + 1;
            nL_ = nR_ = 1;
            started_ = true;
            return;
        }
        nL_ = Append(nL_, LX.get(), LY.get(), u, y);
        nR_ = Append(nR_, RX.get(), RY.get(), -v, y);
    }

    // Appends the plane's corners ordered by y, the left one first on equal y.
    void Collect(std::int32_t z, Points& out) const;

  private:
    std::unique_ptr<std::int32_t[]> LX, LY, RX, RY;
    std::int32_t nL_ = 0, nR_ = 0;
    bool started_ = false;
};

}  // namespace sampling
}  // namespace voxwrap
