#pragma once
// Classification: which samples of a row belong to the object, and what a slice comes to for the
// sampler: the first and last object column of every row, and the object samples when counted.
#include <algorithm>
#include <cstdint>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sample/selection.h"

namespace voxwrap {
namespace sampling {

// The selection's test on rows of samples. A selection of a few intervals, the usual case, is
// tested eight samples at a time; the table and the intervals say the same, since the intervals
// are read off the table.
class ObjectTest {
  public:
    explicit ObjectTest(const Selection& selection);

    bool Contains(std::uint16_t value) const { return table_[value] != 0; }

    // The first column in [from, to) whose sample is an object sample; to when there is none.
    std::int32_t First(const std::uint16_t* row, std::int32_t from, std::int32_t to) const {
        std::int32_t x = from;
#if defined(__SSE2__)
        if (count_ > 0) {
            // Thirty-two samples a test while none is found: empty rows are common.
            for (; x + 32 <= to; x += 32) {
                if (Any32(row + x)) break;
            }
            for (; x + 8 <= to; x += 8) {
                const unsigned mask = Mask(row + x);
                if (mask != 0) return x + __builtin_ctz(mask) / 2;
            }
        }
#endif
        while (x < to && table_[row[x]] == 0)
            ++x;
        return x;
    }
    // The last column in [from, to) whose sample is an object sample; from - 1 when there is none.
    std::int32_t Last(const std::uint16_t* row, std::int32_t from, std::int32_t to) const {
        std::int32_t x = to;  // columns x and beyond are known not to hold one
#if defined(__SSE2__)
        if (count_ > 0) {
            for (; x - 32 >= from; x -= 32) {
                if (Any32(row + x - 32)) break;
            }
            for (; x - 8 >= from; x -= 8) {
                const unsigned mask = Mask(row + x - 8);
                if (mask != 0) return x - 8 + (31 - __builtin_clz(mask)) / 2;
            }
        }
#endif
        while (x > from && table_[row[x - 1]] == 0)
            --x;
        return x - 1;
    }

    // The first column in [from, to) whose sample is not an object sample; to when there is none.
    std::int32_t FirstOutside(const std::uint16_t* row, std::int32_t from, std::int32_t to) const {
        std::int32_t x = from;
#if defined(__SSE2__)
        if (count_ > 0) {
            for (; x + 8 <= to; x += 8) {
                const unsigned mask = ~Mask(row + x) & 0xFFFFu;
                if (mask != 0) return x + __builtin_ctz(mask) / 2;
            }
        }
#endif
        while (x < to && table_[row[x]] != 0)
            ++x;
        return x;
    }

    // The number of object samples in [0, to).
    std::int64_t Count(const std::uint16_t* row, std::int32_t to) const {
        std::int64_t count = 0;
        std::int32_t x = 0;
#if defined(__SSE2__)
        if (count_ > 0) {
            // Each lane of In is -1 for an object sample: subtracting counts in eight 16-bit
            // lanes, summed before any could pass 32767. No popcount, which baseline x86-64
            // lacks (the compiler would call a library routine per mask).
            const __m128i ones = _mm_set1_epi16(1);
            while (x + 8 <= to) {
                const std::int32_t end = x + 8 * std::min<std::int32_t>((to - x) / 8, 32767);
                __m128i lanes = _mm_setzero_si128();
                for (; x < end; x += 8)
                    lanes = _mm_sub_epi16(lanes, In(row + x));
                alignas(16) std::int32_t sums[4];
                _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_madd_epi16(lanes, ones));
                count += std::int64_t{sums[0]} + sums[1] + sums[2] + sums[3];
            }
        }
#endif
        for (; x < to; ++x)
            count += table_[row[x]] != 0;
        return count;
    }

  private:
    static constexpr int kMaxIntervals = 4;

#if defined(__SSE2__)
    // Two bits per sample of the eight at p, set for an object sample. A value v lies in
    // [lo, lo + span] when v - lo, wrapped to 16 bits, is at most span: the saturating difference
    // (v - lo) - span is then 0.
    unsigned Mask(const std::uint16_t* p) const {
        return static_cast<unsigned>(_mm_movemask_epi8(In(p)));
    }
    // True when one of the 32 samples at p is an object sample.
    bool Any32(const std::uint16_t* p) const {
        const __m128i in =
            _mm_or_si128(_mm_or_si128(In(p), In(p + 8)), _mm_or_si128(In(p + 16), In(p + 24)));
        return _mm_movemask_epi8(in) != 0;
    }
    // The same as a vector: a lane of all ones for each object sample.
    __m128i In(const std::uint16_t* p) const {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i in = _mm_setzero_si128();
        for (int i = 0; i < count_; ++i) {
            const __m128i d = _mm_sub_epi16(v, _mm_set1_epi16(static_cast<short>(lo_[i])));
            const __m128i over = _mm_subs_epu16(d, _mm_set1_epi16(static_cast<short>(span_[i])));
            in = _mm_or_si128(in, _mm_cmpeq_epi16(over, _mm_setzero_si128()));
        }
        return in;
    }
#endif

    const unsigned char* table_;
    int count_ = 0;  // intervals in use; 0: the table decides
    std::uint16_t lo_[kMaxIntervals] = {}, span_[kMaxIntervals] = {};
};

// The first and last object column of every row of one slice padded to H rows; -1 in both for a
// row without object samples.
struct RowExtents {
    explicit RowExtents(std::int32_t H);
    std::unique_ptr<std::int32_t[]> first, last;
    std::int64_t voxels = 0;  // object samples of the padded slice, when counted
};

// Reduces one slice, delivered row by row, to its row extents within the common W x H size. The
// slice's rows of w samples are padded with zeros to W columns and H rows, as if the slice had
// been written into a zeroed grid, but no grid is held: a padding sample is an object sample
// exactly when the selection holds 0, and only then does the padding change an extent. Each row
// is scanned from both ends, and each scan stops at its first object sample: the samples between
// the two ends play no part in the plane's polygon.
class SliceReduction {
  public:
    SliceReduction(std::int32_t W, std::int32_t H, const ObjectTest& test, bool count);

    // Row y (y < H) of w <= W samples, rows taken in increasing y.
    void Row(std::int32_t y, const std::uint16_t* samples, std::int32_t w);
    // The extents, rows not given padded; the reduction is spent.
    RowExtents Finish();

  private:
    std::int32_t W_, H_;
    const ObjectTest& test_;
    bool count_;
    bool zeroSelected_;
    std::int32_t next_ = 0;  // rows before it were given or padded
    RowExtents out_;

    void PadRowsBefore(std::int32_t y);
};

}  // namespace sampling
}  // namespace voxwrap
