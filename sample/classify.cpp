#include "sample/classify.h"

#include <utility>

namespace voxwrap {
namespace sampling {

ObjectTest::ObjectTest(const Selection& selection) : table_(selection.Table()) {
    for (std::uint32_t v = 0; v < 65536;) {
        if (table_[v] == 0) {
            ++v;
            continue;
        }
        const std::uint32_t lo = v;
        while (v < 65536 && table_[v] != 0)
            ++v;
        if (count_ == kMaxIntervals) {
            count_ = 0;  // too many: the table alone
            break;
        }
        lo_[count_] = static_cast<std::uint16_t>(lo);
        span_[count_] = static_cast<std::uint16_t>(v - 1 - lo);
        ++count_;
    }
}

RowExtents::RowExtents(std::int32_t H)
    : first(new std::int32_t[static_cast<std::size_t>(H)]),
      last(new std::int32_t[static_cast<std::size_t>(H)]) {}

SliceReduction::SliceReduction(std::int32_t W, std::int32_t H, const ObjectTest& test, bool count)
    : W_(W), H_(H), test_(test), count_(count), zeroSelected_(test.Contains(0)), out_(H) {}

// Rows next_..y-1 were not in the slice: all padding.
void SliceReduction::PadRowsBefore(std::int32_t y) {
    for (; next_ < y; ++next_) {
        out_.first[next_] = zeroSelected_ ? 0 : -1;
        out_.last[next_] = zeroSelected_ ? W_ - 1 : -1;
        if (count_ && zeroSelected_) out_.voxels += W_;
    }
}

void SliceReduction::Row(std::int32_t y, const std::uint16_t* samples, std::int32_t w) {
    PadRowsBefore(y);
    bool empty = false;  // known to hold no object sample
    if (count_) {
        const std::int64_t counted = test_.Count(samples, w);
        out_.voxels += counted + (zeroSelected_ ? W_ - w : 0);
        empty = counted == 0;
    }
    std::int32_t u = empty ? w : test_.First(samples, 0, w);
    std::int32_t v = u < w ? test_.Last(samples, u, w) : -1;
    if (zeroSelected_ && w < W_) v = W_ - 1;  // the padding to the right: object samples
    out_.first[y] = u < W_ && v >= 0 ? u : -1;
    out_.last[y] = u < W_ && v >= 0 ? v : -1;
    next_ = y + 1;
}

RowExtents SliceReduction::Finish() {
    PadRowsBefore(H_);
    return std::move(out_);
}

}  // namespace sampling
}  // namespace voxwrap
