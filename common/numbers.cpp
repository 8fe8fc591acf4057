#include "common/numbers.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace voxwrap {
namespace detail {

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// For a number from_chars found too large or too small: whether its magnitude is at least 1,
// which tells an overflow (an infinity) from an underflow (zero). Out-of-range numbers lie near
// 1e308 or 1e-324, far from 1, so the position of the first significant digit and the exponent,
// both saturated, decide it. hex: digits are worth 4 binary places and the exponent is binary.
bool AtLeastOne(const char* p, const char* end, bool hex) {
    const auto isDigit = hex ? IsHexDigit : IsDigit;
    std::int64_t place = 0;  // the power (of 10, or of 16 for hex) of the first significant digit
    bool found = false, point = false;
    for (; p < end && (isDigit(*p) || (*p == '.' && !point)); ++p) {
        if (*p == '.') {
            point = true;
        } else if (!found && *p != '0') {
            found = true;
            if (point) --place;
        } else if (!found && point) {
            --place;
        } else if (found && !point && place < 100000) {
            ++place;
        }
    }
    if (!found) return false;  // zero is never out of range
    std::int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E' || *p == 'p' || *p == 'P')) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) ++p;
        for (; p < end && IsDigit(*p); ++p)
            if (exponent < 100000000) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return hex ? place * 4 + exponent >= 0 : place + exponent >= 0;
}

}  // namespace

const char* ReadDouble(const char* first, const char* last, double& value) {
    value = 0;
    const char* p = first;
    while (p < last && IsSpace(*p))
        ++p;
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p < last && *p == '-') return first;  // from_chars would take a second sign
    // from_chars takes neither a "+" nor the "0x" prefix: both are read here.
    const bool hex = last - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
                     (IsHexDigit(p[2]) || (p[2] == '.' && last - p >= 4 && IsHexDigit(p[3])));
    const char* digits = hex ? p + 2 : p;
    double magnitude = 0;
    const std::from_chars_result r = std::from_chars(
        digits, last, magnitude, hex ? std::chars_format::hex : std::chars_format::general);
    if (r.ptr == digits) return first;
    if (r.ec == std::errc::result_out_of_range) {
        magnitude = AtLeastOne(digits, r.ptr, hex) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    value = negative ? -magnitude : magnitude;
    return r.ptr;
}

}  // namespace detail
}  // namespace voxwrap
