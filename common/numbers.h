#pragma once
// Numbers read from text without the process locale: a host program that sets LC_NUMERIC (a
// comma as the decimal point) must not change what a spacing means or in which order slices go.
#include <cstddef>

namespace voxwrap {
namespace detail {

// Reads a floating-point number at the start of [first, last) exactly as strtod reads it in the
// "C" locale: leading white space, an optional sign, then decimal digits with an optional point
// and exponent, a hexadecimal number after "0x" or "0X" (binary exponent "p"), "inf",
// "infinity" or "nan" in any case, or "nan(...)". A magnitude beyond the largest double is an
// infinity and one below the smallest is zero, as strtod gives them. Returns the end of what
// was read, or first when there is no number (value is then 0).
const char* ReadDouble(const char* first, const char* last, double& value);

}  // namespace detail
}  // namespace voxwrap
