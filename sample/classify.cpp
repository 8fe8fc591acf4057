#include "sample/classify.h"

#include <utility>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

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

#if defined(__SSE2__)
namespace {

// Object samples among the samples at row[x..to) counted K intervals at a time: each lane of the
// comparison is -1 for an object sample, and subtracting it counts in 16-bit lanes, summed before
// any could pass 32767. No popcount, which baseline x86-64 lacks (the compiler would call a
// library routine per mask). Returns the count and leaves x at the first sample not counted.
template <int K>
std::int64_t CountSse2(const std::uint16_t* row, std::int32_t& x, std::int32_t to,
                       const std::uint16_t* lo, const std::uint16_t* span) {
    __m128i los[K], spans[K];
    for (int i = 0; i < K; ++i) {
        los[i] = _mm_set1_epi16(static_cast<short>(lo[i]));
        spans[i] = _mm_set1_epi16(static_cast<short>(span[i]));
    }
    const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1);
    std::int64_t count = 0;
    while (x + 8 <= to) {
        const std::int32_t end = x + 8 * std::min<std::int32_t>((to - x) / 8, 32767);
        __m128i lanes = zero;
        for (; x < end; x += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            __m128i in = zero;
            for (int i = 0; i < K; ++i)
                in = _mm_or_si128(
                    in, _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(v, los[i]), spans[i]), zero));
            lanes = _mm_sub_epi16(lanes, in);
        }
        alignas(16) std::int32_t sums[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_madd_epi16(lanes, ones));
        count += std::int64_t{sums[0]} + sums[1] + sums[2] + sums[3];
    }
    return count;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VOXWRAP_AVX2 1
// The same sixteen samples at a time, for processors with AVX2 (asked at run time).
template <int K>
__attribute__((target("avx2"))) std::int64_t CountAvx2(const std::uint16_t* row, std::int32_t& x,
                                                       std::int32_t to, const std::uint16_t* lo,
                                                       const std::uint16_t* span) {
    __m256i los[K], spans[K];
    for (int i = 0; i < K; ++i) {
        los[i] = _mm256_set1_epi16(static_cast<short>(lo[i]));
        spans[i] = _mm256_set1_epi16(static_cast<short>(span[i]));
    }
    const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi16(1);
    std::int64_t count = 0;
    while (x + 16 <= to) {
        const std::int32_t end = x + 16 * std::min<std::int32_t>((to - x) / 16, 32767);
        __m256i lanes = zero;
        for (; x < end; x += 16) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
            __m256i in = zero;
            for (int i = 0; i < K; ++i)
                in = _mm256_or_si256(
                    in, _mm256_cmpeq_epi16(_mm256_subs_epu16(_mm256_sub_epi16(v, los[i]), spans[i]),
                                           zero));
            lanes = _mm256_sub_epi16(lanes, in);
        }
        alignas(32) std::int32_t sums[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(sums), _mm256_madd_epi16(lanes, ones));
        for (const std::int32_t s : sums)
            count += s;
    }
    return count;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}
#endif

template <int K>
std::int64_t CountVectors(const std::uint16_t* row, std::int32_t& x, std::int32_t to,
                          const std::uint16_t* lo, const std::uint16_t* span) {
#if defined(VOXWRAP_AVX2)
    if (HasAvx2()) return CountAvx2<K>(row, x, to, lo, span) + CountSse2<K>(row, x, to, lo, span);
#endif
    return CountSse2<K>(row, x, to, lo, span);
}

}  // namespace
#endif

std::int64_t ObjectTest::Count(const std::uint16_t* row, std::int32_t to) const {
    std::int64_t count = 0;
    std::int32_t x = 0;
#if defined(__SSE2__)
    switch (count_) {
    case 1:
        count = CountVectors<1>(row, x, to, lo_, span_);
        break;
    case 2:
        count = CountVectors<2>(row, x, to, lo_, span_);
        break;
    case 3:
        count = CountVectors<3>(row, x, to, lo_, span_);
        break;
    case 4:
        count = CountVectors<4>(row, x, to, lo_, span_);
        break;
    default:
        break;
    }
#endif
    for (; x < to; ++x)
        count += table_[row[x]] != 0;
    return count;
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
    std::int32_t u = -1;
    if (count_) {
        const std::int64_t counted = test_.Count(samples, w);
        out_.voxels += counted + (zeroSelected_ ? W_ - w : 0);
        if (counted == 0) u = w;  // nothing to search for
    }
    if (u < 0) u = test_.First(samples, 0, w);
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
