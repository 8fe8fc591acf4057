#include "driver/spacing.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "driver/error.h"
#include "driver/options.h"
#include "tiff/rif.h"

namespace {

// The size of one pixel in the unit: the reciprocal of the resolution, 0 when there is none.
double PixelSize(std::uint32_t num, std::uint32_t den) {
    return num == 0 || den == 0 ? 0 : static_cast<double>(den) / num;
}

// ImageJ escapes every character beyond ASCII as \uXXXX; these become UTF-8.
std::string DecodeEscapes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned code = 0;
        if (text.compare(i, 2, "\\u") == 0 && i + 6 <= text.size() &&
            std::from_chars(text.data() + i + 2, text.data() + i + 6, code, 16).ptr ==
                text.data() + i + 6) {
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else if (code < 0x800) {
                out += static_cast<char>(0xC0 | code >> 6);
                out += static_cast<char>(0x80 | (code & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | code >> 12);
                out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
                out += static_cast<char>(0x80 | (code & 0x3F));
            }
            i += 5;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The value of "key=" on a line of an ImageJ description; empty when it has none.
std::string ImageJValue(const std::string& description, const std::string& key) {
    if (description.compare(0, 7, "ImageJ=") != 0) return "";
    std::size_t at = 0;
    while (at < description.size()) {
        std::size_t end = description.find('\n', at);
        if (end == std::string::npos) end = description.size();
        if (description.compare(at, key.size() + 1, key + "=") == 0)
            return description.substr(at + key.size() + 1, end - at - key.size() - 1);
        at = end + 1;
    }
    return "";
}

std::string Number(double value) {
    char digits[64];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, r.ptr);
}

[[noreturn]] void SpacingTiffError(const std::string& message) {
    Error("--spacing tiff : " + message + "\n" + kOptionsUsage);
}

}  // namespace

SliceTags ReadSliceTags(const std::string& path) {
    Resolution r;
    ReadResolution(path.c_str(), &r);
    std::unique_ptr<char[]> description;
    ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr, &description);
    SliceTags tags;
    tags.xNum = r.xNum;
    tags.xDen = r.xDen;
    tags.yNum = r.yNum;
    tags.yDen = r.yDen;
    tags.unit = r.unit;
    if (description) tags.description = description.get();
    return tags;
}

bool FoundSpacing::Same(const FoundSpacing& o) const {
    return kind == o.kind && unit == o.unit && spacing.s[0] == o.spacing.s[0] &&
           spacing.s[1] == o.spacing.s[1] && spacing.s[2] == o.spacing.s[2];
}

FoundSpacing SpacingFromTags(const SliceTags& tags) {
    FoundSpacing found;
    const double x = PixelSize(tags.xNum, tags.xDen), y = PixelSize(tags.yNum, tags.yDen);
    if (x <= 0 || y <= 0) return found;
    const std::string imagejUnit = DecodeEscapes(ImageJValue(tags.description, "unit"));
    if (!imagejUnit.empty() && imagejUnit != "pixel" && imagejUnit != "pixels") {
        // ImageJ keeps ResolutionUnit at "none" and names its unit in the description.
        found.unit = imagejUnit;
        const std::string z = ImageJValue(tags.description, "spacing");
        char* end = nullptr;
        const double sz = std::strtod(z.c_str(), &end);
        const bool complete = !z.empty() && *end == '\0' && std::isfinite(sz) && sz > 0;
        found.kind = complete ? FoundSpacing::Kind::Complete : FoundSpacing::Kind::PlaneOnly;
        found.spacing.s[2] = complete ? sz : 1;
    } else if (tags.unit == 2 || tags.unit == 3) {
        // Plain TIFF records the pixel size but not the distance between slices.
        found.unit = tags.unit == 2 ? "inch" : "cm";
        found.kind = FoundSpacing::Kind::PlaneOnly;
    } else {
        return found;  // a resolution without a unit is only an aspect ratio
    }
    found.spacing.s[0] = x;
    found.spacing.s[1] = y;
    return found;
}

FoundSpacing SpacingFromSlices(const std::vector<std::string>& paths,
                               const std::function<SliceTags(const std::string&)>& read) {
    const FoundSpacing first = SpacingFromTags(read(paths[0]));
    const double* s = first.spacing.s;
    if (first.kind == FoundSpacing::Kind::Nothing) {
        SpacingTiffError(paths[0] + " gives no voxel size; give --spacing SX,SY,SZ.");
    }
    if (first.kind == FoundSpacing::Kind::PlaneOnly) {
        SpacingTiffError(paths[0] + " gives " + Number(s[0]) + " x " + Number(s[1]) + " " +
                         first.unit + " per pixel but no slice distance; give --spacing " +
                         Number(s[0]) + "," + Number(s[1]) + ",SZ.");
    }
    for (std::size_t k = 1; k < paths.size(); ++k) {
        if (!SpacingFromTags(read(paths[k])).Same(first))
            SpacingTiffError(paths[k] + " differs from " + paths[0] + ".");
    }
    std::fprintf(stderr, "%s : spacing %s,%s,%s %s.\n", paths[0].c_str(), Number(s[0]).c_str(),
                 Number(s[1]).c_str(), Number(s[2]).c_str(), first.unit.c_str());
    return first;
}
