#pragma once
// The one coordinate limit of the whole product. The hull decides every sign in 64- and 128-bit
// integers because no coordinate exceeds it in magnitude: every difference of two coordinates
// then lies below 2^29 and every 4x4 orientation determinant below 2^90. Sampling leaves a larger
// stack unreduced, so the hull reports it with its own message.
#include <cstdint>

namespace voxwrap {

constexpr std::int32_t kCoordinateLimit = (std::int32_t{1} << 28) - 1;  // 268435455

}  // namespace voxwrap
