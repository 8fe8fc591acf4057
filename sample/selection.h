#pragma once
// The selection: which sample values belong to the object. The range list is read once, in
// either of its forms; SampleSelection then compiles it for the kind of sample a stack holds, so
// that the row tests (sample/classify.h) keep asking one question of 16-bit words: is this word
// selected. Kinds of up to 16 bits are tested on their stored bits through a table of 65536
// entries; 32- and 64-bit kinds are first turned into a row of two codes by a compare against
// sorted intervals of order-preserving integer keys.
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "voxwrap/voxwrap.h"

namespace voxwrap {

// The range list: "1000-4095", "1,5,7-9,200-" and the like, turned into a table with one byte per
// value 0..max, 1 for a value of the object. Any syntax error fails with "bad range list.".
void RangeList(const char* text, std::uint32_t max, unsigned char* table);

// The list in the form with ":": sorted, disjoint closed intervals of values (NaN never in one).
// Any syntax error, or an item A:B with A > B, fails with "bad range list.".
std::vector<std::pair<double, double>> ValueRanges(const char* text);

// Whether slices of the C++ type T feed an in-memory sampler of the kind: uint16 carries unsigned
// samples of up to 16 bits and half floats as their stored bits.
template <class T>
bool FeedsKind(SampleType type) {
    using F = SampleType::Format;
    if constexpr (std::is_same<T, std::uint16_t>::value)
        return type.Narrow() && type.format != F::Signed;
    if constexpr (std::is_same<T, std::int8_t>::value)
        return type.format == F::Signed && type.bits == 8;
    if constexpr (std::is_same<T, std::int16_t>::value)
        return type.format == F::Signed && type.bits == 16;
    if constexpr (std::is_same<T, std::uint32_t>::value)
        return type.format == F::Unsigned && type.bits == 32;
    if constexpr (std::is_same<T, std::int32_t>::value)
        return type.format == F::Signed && type.bits == 32;
    if constexpr (std::is_same<T, float>::value) return type.format == F::Float && type.bits == 32;
    if constexpr (std::is_same<T, double>::value) return type.format == F::Float && type.bits == 64;
    return false;
}

// The C++ types the in-memory samplers' Add is defined for, X(T) each: its instantiations.
#define VOXWRAP_SAMPLE_TYPES(X)                                                                    \
    X(std::uint16_t)                                                                               \
    X(std::int8_t) X(std::int16_t) X(std::uint32_t) X(std::int32_t) X(float) X(double)

// A selection as one kind of sample sees it.
class SampleSelection {
  public:
    // Today's form (no ":") on 32-bit or floating-point samples fails with Kind::Argument
    // "<list> : the slices hold ... samples; write the range with a colon, such as ...".
    SampleSelection(const Selection& selection, SampleType type);

    // The table of the 16-bit words the row tests see: the stored bits of kinds of up to 16
    // bits, or the codes Classify writes for wider ones.
    const Selection& Table() const { return table_; }
    SampleType Type() const { return type_; }
    // Rows of this kind must be classified into codes first.
    bool Wide() const { return !type_.Narrow(); }

    // A wide row of w words (std::uint32_t or std::uint64_t by the kind) as w codes: the code
    // of a selected sample is selected in Table(), and the code of a sample of value 0 is 0, so
    // that the zeros that pad a slice are classified as its zero samples are.
    void Classify(const void* words, std::int32_t w, std::uint16_t* codes) const;

  private:
    template <class Word>
    void ClassifyWords(const unsigned char* words, std::int32_t w, std::uint16_t* codes) const;

    Selection table_;
    SampleType type_;
    // Wide kinds: the selected keys, as sorted disjoint intervals [lo, hi].
    std::vector<std::uint64_t> lo_, hi_;
    std::uint16_t outside_ = 0;  // the code of a sample not selected; the other one is selected
    std::uint64_t flip_ = 0, sign_ = 0;  // key = bits ^ ((negative ? flip_ : 0) | sign_)
};

// A row of w samples of type T as the 16-bit words the row tests read: a uint16 row is those words
// already; other 8- and 16-bit integers give their stored bits, wider kinds the codes they are
// classified into where they lie, written to scratch (grown to w). T must feed the selection's
// kind.
template <class T>
const std::uint16_t* RowWords(const SampleSelection& selection, const T* in, std::int32_t w,
                              std::vector<std::uint16_t>& scratch) {
    if constexpr (std::is_same_v<T, std::uint16_t>) {
        return in;
    } else {
        if (scratch.size() < static_cast<std::size_t>(w))
            scratch.resize(static_cast<std::size_t>(w));
        std::uint16_t* words = scratch.data();
        if constexpr (sizeof(T) <= 2) {
            for (std::int32_t x = 0; x < w; ++x)
                words[x] = static_cast<std::uint16_t>(static_cast<std::make_unsigned_t<T>>(in[x]));
        } else {
            selection.Classify(in, w, words);
        }
        return words;
    }
}

}  // namespace voxwrap
