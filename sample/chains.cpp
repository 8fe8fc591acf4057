#include "sample/chains.h"

namespace voxwrap {
namespace sampling {

std::int32_t Append(std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t x,
                    std::int32_t y) {
    // Point k stays only while the turn from k-1 through k to the new point is strictly
    // clockwise; a collinear point leaves. Entry 0 always stays.
    auto keeps = [X, Y](std::int32_t k, std::int64_t px, std::int64_t py) {
        return (X[k - 1] - px) * (Y[k] - py) < (X[k] - px) * (Y[k - 1] - py);
    };
    std::int32_t k = n;
    while (k >= 1 && !keeps(k, x, y))
        --k;
    X[k + 1] = x;
    Y[k + 1] = y;
    if (x < X[k]) {
        X[k + 2] = x;
        Y[k + 2] = y + 1;
        return k + 2;
    }
    // (x, y) would leave at once when (x, y + 1) arrives: add only the lower point.
    std::int32_t j = k;
    while (j >= 1 && !keeps(j, x, std::int64_t{y} + 1))
        --j;
    X[j + 1] = x;
    Y[j + 1] = y + 1;
    return j + 1;
}

PlaneSampler::PlaneSampler(std::int32_t H)
    : LX(new std::int32_t[static_cast<std::size_t>(H) + 1]),
      LY(new std::int32_t[static_cast<std::size_t>(H) + 1]),
      RX(new std::int32_t[static_cast<std::size_t>(H) + 1]),
      RY(new std::int32_t[static_cast<std::size_t>(H) + 1]) {}

void PlaneSampler::Collect(std::int32_t z, Points& out) const {
    if (!started_) return;
    std::int32_t j = 0, i = 0;
    while (j <= nL_ || i <= nR_) {
        if (i > nR_ || (j <= nL_ && LY[j] <= RY[i])) {
            out.push_back(LX[j], LY[j], z);
            ++j;
        } else {
            out.push_back(1 - RX[i], RY[i],
                          z);  // back from the mirrored -v to the right side v + 1
            ++i;
        }
    }
}

}  // namespace sampling
}  // namespace voxwrap
