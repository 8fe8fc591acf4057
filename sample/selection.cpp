#include "sample/selection.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/failure.h"
#include "common/numbers.h"

namespace voxwrap {
namespace {

[[noreturn]] void BadRangeList() { Fail(Error::Kind::Argument, "bad range list."); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one or more digits at p; the value may never pass max, checked after every digit, so a
// long run of digits cannot wrap around.
std::uint32_t Number(const char*& p, std::uint32_t max) {
    std::uint64_t value = 0;
    do {
        value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
        if (value > max) BadRangeList();
    } while (IsDigit(*p));
    return static_cast<std::uint32_t>(value);
}

void Mark(unsigned char* table, std::uint32_t from, std::uint32_t to) {
    for (std::uint64_t v = from; v <= to; ++v)
        table[v] = 1;  // 64-bit: to may be UINT32_MAX
}

// The end of a number of the value form at p: an optional sign, then "inf", or digits with an
// optional point and fraction (or a point and a fraction) and an optional exponent; p when
// there is none. Narrower than strtod on purpose: no white space, no hexadecimal, no NaN.
const char* NumberEnd(const char* p) {
    const char* q = p;
    if (*q == '+' || *q == '-') ++q;
    if (std::strncmp(q, "inf", 3) == 0) return q + 3;
    const char* digits = q;
    while (IsDigit(*q))
        ++q;
    bool any = q != digits;
    if (*q == '.') {
        ++q;
        const char* fraction = q;
        while (IsDigit(*q))
            ++q;
        any = any || q != fraction;
    }
    if (!any) return p;
    if (*q == 'e' || *q == 'E') {
        const char* e = q + 1;
        if (*e == '+' || *e == '-') ++e;
        if (!IsDigit(*e)) return p;
        while (IsDigit(*e))
            ++e;
        q = e;
    }
    return q;
}

// Reads a number at p (to the nearest double) and moves p past it; false when there is none.
bool ValueAt(const char*& p, double& value) {
    const char* end = NumberEnd(p);
    if (end == p) return false;
    if (detail::ReadDouble(p, end, value) != end) BadRangeList();
    p = end;
    return true;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

bool Selects(const std::vector<std::pair<double, double>>& ranges, double v) {
    // The first interval whose upper end is not below v.
    const auto it =
        std::lower_bound(ranges.begin(), ranges.end(), v,
                         [](const std::pair<double, double>& r, double x) { return r.second < x; });
    return it != ranges.end() && it->first <= v;  // false for NaN
}

// The exact value of a half float's bits.
double HalfValue(std::uint32_t bits) {
    const int exponent = static_cast<int>((bits >> 10) & 0x1F);
    const double mantissa = bits & 0x3FF;
    double v = 0;
    if (exponent == 0x1F) {
        v = mantissa == 0 ? kInf : std::numeric_limits<double>::quiet_NaN();
    } else if (exponent == 0) {
        v = std::ldexp(mantissa, -24);
    } else {
        v = std::ldexp(mantissa + 1024, exponent - 25);
    }
    return (bits & 0x8000) ? -v : v;
}

// The value of stored bits c of a kind of up to 16 bits.
double NarrowValue(std::uint32_t c, SampleType type) {
    switch (type.format) {
    case SampleType::Format::Float:
        return HalfValue(c);
    case SampleType::Format::Signed: {
        const std::uint32_t half = 1u << (type.bits - 1);
        const std::uint32_t code = c & ((half << 1) - 1);
        return code >= half ? static_cast<double>(code) - 2.0 * half : code;
    }
    default:
        return c;
    }
}

// The order-preserving key of a float's or a double's bits: negative numbers have every bit
// flipped, others only the sign bit; -0.0 and 0.0 get neighbouring keys.
std::uint64_t FloatKey(float f) {
    std::uint32_t u = 0;
    std::memcpy(&u, &f, 4);
    return (u >> 31) ? ~u : u | 0x80000000u;
}
std::uint64_t DoubleKey(double d) {
    std::uint64_t u = 0;
    std::memcpy(&u, &d, 8);
    return (u >> 63) ? ~u : u | (std::uint64_t{1} << 63);
}

// The smallest float not below v (up: true), or the largest not above it. v is no NaN.
float FloatBound(double v, bool up) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    if (v > FLT_MAX) return up || v == kInf ? inf : FLT_MAX;
    if (v < -FLT_MAX) return !up || v == -kInf ? -inf : -FLT_MAX;
    float f = static_cast<float>(v);
    if (up && static_cast<double>(f) < v) f = std::nextafter(f, inf);
    if (!up && static_cast<double>(f) > v) f = std::nextafter(f, -inf);
    return f;
}

}  // namespace

std::vector<std::pair<double, double>> ValueRanges(const char* text) {
    std::vector<std::pair<double, double>> ranges;
    const char* p = text;
    while (*p != '\0') {
        if (*p == ',') {  // empty item
            ++p;
            continue;
        }
        double from = -kInf, to = kInf;
        const bool low = ValueAt(p, from);
        if (*p == ':') {
            ++p;
            ValueAt(p, to);
        } else if (low) {
            to = from;
        } else {
            BadRangeList();
        }
        if (from > to) BadRangeList();
        ranges.emplace_back(from, to);
        if (*p == ',') {
            ++p;
        } else if (*p != '\0') {
            BadRangeList();
        }
    }
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<double, double>> merged;
    for (const auto& r : ranges) {
        if (!merged.empty() && r.first <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, r.second);
        } else {
            merged.push_back(r);
        }
    }
    return merged;
}

void RangeList(const char* text, std::uint32_t max, unsigned char* table) {
    for (std::uint64_t v = 0; v <= max; ++v)
        table[v] = 0;
    const char* p = text;
    while (*p != '\0') {
        if (*p == ',') {  // empty item
            ++p;
            continue;
        }
        std::uint32_t from = 0;
        std::uint32_t to = max;
        if (IsDigit(*p)) {
            from = Number(p, max);
            to = from;
            if (*p == '-') {  // A-B or A-
                ++p;
                to = IsDigit(*p) ? Number(p, max) : max;
                if (to < from) BadRangeList();
            }
        } else if (*p == '-') {  // -B or -
            ++p;
            if (IsDigit(*p)) to = Number(p, max);
        } else {
            BadRangeList();
        }
        // An item ends at a separator or at the end; marking first keeps the order of the
        // checks, and the error ends the run before a partly marked table is used.
        Mark(table, from, to);
        if (*p == ',') {
            ++p;
        } else if (*p != '\0') {
            BadRangeList();
        }
    }
}

Selection Selection::FromRangeList(const std::string& text) {
    Selection selection;
    selection.text_ = text;
    if (text.find(':') == std::string::npos) {
        RangeList(text.c_str(), 65535, selection.table_.data());
        return selection;
    }
    selection.values_ = true;
    selection.intervals_ = ValueRanges(text.c_str());
    for (std::uint32_t v = 0; v < 65536; ++v)
        selection.table_[v] = Selects(selection.intervals_, v) ? 1 : 0;
    return selection;
}

bool Selection::Empty() const {
    if (values_) return intervals_.empty();
    return std::find(table_.begin(), table_.end(), 1) == table_.end();
}

SampleSelection::SampleSelection(const Selection& selection, SampleType type)
    : table_(selection), type_(type) {
    using Format = SampleType::Format;
    if (!selection.values_) {
        // Stored bits say what they always said on integers of up to 16 bits; on wider or
        // floating-point samples they would select the wrong voxels without a word.
        if (type.Narrow() && type.format != Format::Float) return;
        const bool real = type.format == Format::Float;
        Fail(Error::Kind::Argument,
             selection.text_ + " : the slices hold " +
                 (real ? "floating-point samples; write the range with a colon, such as 0.5: or "
                         "-1000:400."
                       : "32-bit integer samples; write the range with a colon, such as 1:70000 "
                         "or -1000:400."));
    }
    const auto& ranges = selection.intervals_;
    if (type.Narrow()) {
        for (std::uint32_t c = 0; c < 65536; ++c)
            table_.table_[c] = Selects(ranges, NarrowValue(c, type)) ? 1 : 0;
        return;
    }
    // Wide kinds: code 0 for the samples that classify as the value 0 does, 1 for the others.
    const bool zero = Selects(ranges, 0.0);
    outside_ = zero ? 1 : 0;
    std::fill(table_.table_.begin(), table_.table_.end(), 0);
    table_.table_[zero ? 0 : 1] = 1;
    const bool wide64 = type.bits == 64;
    const std::uint64_t top = wide64 ? std::uint64_t{1} << 63 : std::uint64_t{1} << 31;
    sign_ = type.format == Format::Unsigned ? 0 : top;
    flip_ = type.format == Format::Float ? (wide64 ? ~std::uint64_t{0} : 0xFFFFFFFFu) : 0;
    for (const auto& [from, to] : ranges) {
        std::uint64_t lo = 0, hi = 0;
        if (type.format == Format::Float) {
            if (wide64) {
                lo = DoubleKey(from == 0 ? -0.0 : from);
                hi = DoubleKey(to == 0 ? 0.0 : to);
            } else {
                const float f = FloatBound(from, true), g = FloatBound(to, false);
                lo = FloatKey(f == 0 ? -0.0f : f);
                hi = FloatKey(g == 0 ? 0.0f : g);
            }
        } else {
            const bool neg = type.format == Format::Signed;
            const double least = neg ? -2147483648.0 : 0.0;
            const double most = neg ? 2147483647.0 : 4294967295.0;
            const double a = std::max(std::ceil(from), least), b = std::min(std::floor(to), most);
            if (a > b) continue;
            // The keys of integers: their offset from the least value.
            lo = static_cast<std::uint64_t>(a - least);
            hi = static_cast<std::uint64_t>(b - least);
        }
        if (lo > hi) continue;
        if (!lo_.empty() && lo <= hi_.back() + 1) {
            hi_.back() = std::max(hi_.back(), hi);
        } else {
            lo_.push_back(lo);
            hi_.push_back(hi);
        }
    }
}

// The words are read as bytes (a caller's floats are no uint32_t objects), each copied out, which
// compiles to the same loads.
template <class Word>
void SampleSelection::ClassifyWords(const unsigned char* words, std::int32_t w,
                                    std::uint16_t* codes) const {
    const Word flip = static_cast<Word>(flip_), sign = static_cast<Word>(sign_);
    const std::size_t n = lo_.size();
    std::int32_t x = 0;
#if defined(__SSE2__)
    // Four samples at a time against a few intervals: key - lo, wrapped, is at most hi - lo
    // exactly inside; SSE2 compares signed words, so both sides have their top bit flipped.
    if constexpr (sizeof(Word) == 4) {
        if (n <= 4) {
            const __m128i top = _mm_set1_epi32(static_cast<int>(0x80000000u));
            const __m128i vflip = _mm_set1_epi32(static_cast<int>(flip));
            const __m128i vsign = _mm_set1_epi32(static_cast<int>(sign));
            const __m128i one = _mm_set1_epi32(1);
            const __m128i out = _mm_set1_epi32(outside_);
            __m128i lo[4], span[4];
            for (std::size_t i = 0; i < n; ++i) {
                lo[i] = _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(lo_[i])));
                span[i] = _mm_set1_epi32(
                    static_cast<int>(static_cast<std::uint32_t>(hi_[i] - lo_[i]) ^ 0x80000000u));
            }
            auto classify4 = [&](const unsigned char* p) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i neg = _mm_srai_epi32(v, 31);
                const __m128i key =
                    _mm_xor_si128(v, _mm_or_si128(_mm_and_si128(neg, vflip), vsign));
                __m128i in = _mm_setzero_si128();
                for (std::size_t i = 0; i < n; ++i) {
                    const __m128i d = _mm_xor_si128(_mm_sub_epi32(key, lo[i]), top);
                    in = _mm_or_si128(in, _mm_andnot_si128(_mm_cmpgt_epi32(d, span[i]), one));
                }
                return _mm_xor_si128(in, out);
            };
            for (; x + 8 <= w; x += 8) {
                const __m128i a = classify4(words + 4 * x), b = classify4(words + 4 * (x + 4));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + x), _mm_packs_epi32(a, b));
            }
        }
    }
#endif
    for (; x < w; ++x) {
        Word v;
        std::memcpy(&v, words + sizeof(Word) * static_cast<std::size_t>(x), sizeof v);
        const std::uint64_t key = v ^ ((v & (Word{1} << (8 * sizeof(Word) - 1)) ? flip : 0) | sign);
        const std::size_t i =
            static_cast<std::size_t>(std::upper_bound(lo_.begin(), lo_.end(), key) - lo_.begin());
        const bool in = i > 0 && key <= hi_[i - 1];
        codes[x] = static_cast<std::uint16_t>(in ? 1 - outside_ : outside_);
    }
    (void)n;
}

void SampleSelection::Classify(const void* words, std::int32_t w, std::uint16_t* codes) const {
    if (type_.bits == 64) {
        ClassifyWords<std::uint64_t>(static_cast<const unsigned char*>(words), w, codes);
    } else {
        ClassifyWords<std::uint32_t>(static_cast<const unsigned char*>(words), w, codes);
    }
}

}  // namespace voxwrap
