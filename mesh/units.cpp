#include "mesh/units.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

namespace voxwrap {

namespace {

// The length of the well-formed UTF-8 sequence that begins at text[i], with its code point, or 0
// when none begins there: a stray continuation byte, a cut sequence, an overlong form, a
// surrogate (U+D800 to U+DFFF) or a code point beyond U+10FFFF. The second byte's range after
// E0, ED, F0 and F4 is what excludes the last three.
std::size_t Utf8At(const std::string& text, std::size_t i, std::uint32_t& code) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned lead = at(0);
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        lo = lead == 0xE0 ? 0xA0 : lo;
        hi = lead == 0xED ? 0x9F : hi;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        lo = lead == 0xF0 ? 0x90 : lo;
        hi = lead == 0xF4 ? 0x8F : hi;
    } else {
        return 0;
    }
    if (n > text.size() - i || at(1) < lo || at(1) > hi) return 0;
    code = lead & (0x7Fu >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((at(k) & 0xC0) != 0x80) return 0;
        code = code << 6 | (at(k) & 0x3Fu);
    }
    return n;
}

// C0 and C1 control characters and DEL: a terminal acts on them instead of showing them.
bool IsControl(std::uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace

bool GoodUnit(const std::string& unit) {
    if (unit.empty() || unit.size() > 40) return false;
    for (std::size_t i = 0; i < unit.size();) {
        std::uint32_t code = 0;
        const std::size_t n = Utf8At(unit, i, code);
        if (n == 0 || IsControl(code) || code == ' ' || code == '"' || code == '\\') return false;
        i += n;
    }
    return true;
}

std::string ShownUnit(const std::string& unit) {
    std::string shown;
    for (std::size_t i = 0; i < unit.size();) {
        std::uint32_t code = 0;
        const std::size_t n = Utf8At(unit, i, code);
        char escape[8];
        if (n == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(unit[i]));
            shown += escape;
            ++i;
            continue;
        }
        if (IsControl(code)) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
            shown += escape;
        } else {
            shown.append(unit, i, n);
        }
        i += n;
    }
    return shown;
}

bool SpacingFits(const Spacing& spacing, const std::array<std::int64_t, 3>& voxels) {
    const double* s = spacing.s;
    double extent[3];
    for (int k = 0; k < 3; ++k) {
        extent[k] = static_cast<double>(voxels[k]) * s[k];
        if (!(s[k] >= FLT_MIN && extent[k] <= FLT_MAX)) return false;
    }
    // The STL's facet normals are not normalised: a component along one axis is a product of
    // steps along the two others, at most twice the product of their extents.
    for (int k = 0; k < 3; ++k) {
        const int a = (k + 1) % 3, b = (k + 2) % 3;
        if (!(s[a] * s[b] >= FLT_MIN && 2 * extent[a] * extent[b] <= FLT_MAX)) return false;
    }
    return true;
}

}  // namespace voxwrap
