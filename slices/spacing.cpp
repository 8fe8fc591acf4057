#include "slices/spacing.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/failure.h"
#include "common/numbers.h"
#include "mesh/units.h"
#include "tiff/rif.h"

namespace voxwrap {

namespace {

// The size of one pixel in the unit: the reciprocal of the resolution, 0 when there is none.
double PixelSize(std::uint32_t num, std::uint32_t den) {
    return num == 0 || den == 0 ? 0 : static_cast<double>(den) / num;
}

// ImageJ escapes every character beyond ASCII as \uXXXX (Java's UTF-16 units); these become
// UTF-8, a surrogate pair as the one character it stands for. A lone surrogate is encoded as it
// stands, which no unit check lets through.
std::string DecodeEscapes(const std::string& text) {
    std::string out;
    const auto unit = [&text](std::size_t i, unsigned& code) {
        return text.compare(i, 2, "\\u") == 0 && i + 6 <= text.size() &&
               std::from_chars(text.data() + i + 2, text.data() + i + 6, code, 16).ptr ==
                   text.data() + i + 6;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned code = 0, low = 0;
        if (!unit(i, code)) {
            out += text[i];
            continue;
        }
        i += 5;
        if (code >= 0xD800 && code <= 0xDBFF && unit(i + 1, low) && low >= 0xDC00 &&
            low <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            i += 6;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// Nanometres per unit, for the length units ImageJ writes; 0 for any other unit.
double Nanometres(const std::string& unit) {
    const struct {
        const char* name;
        double nm;
    } lengths[] = {{"nm", 1},   {"\u00B5m", 1e3}, {"micron", 1e3}, {"um", 1e3},
                   {"mm", 1e6}, {"cm", 1e7},      {"m", 1e9},      {"inch", 25.4e6}};
    for (const auto& l : lengths) {
        if (unit == l.name) return l.nm;
    }
    return 0;
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
    Fail(Error::Kind::Image, "--spacing tiff : " + message);
}

}  // namespace

SliceTags ReadSliceTags(const std::string& path, const TiffPage* page) {
    TiffFile file(path.c_str());  // one opening for the resolution and the description
    const Resolution r = file.ReadResolution(page);
    const std::unique_ptr<char[]> description = file.Description(page);
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
           spacing.s[1] == o.spacing.s[1] && spacing.s[2] == o.spacing.s[2] &&
           otherKey == o.otherKey && otherUnit == o.otherUnit;
}

FoundSpacing SpacingFromTags(const SliceTags& tags) {
    FoundSpacing found;
    const double x = PixelSize(tags.xNum, tags.xDen), y = PixelSize(tags.yNum, tags.yDen);
    if (x <= 0 || y <= 0) return found;
    found.spacing.s[0] = x;
    found.spacing.s[1] = y;
    const std::string imagejUnit = DecodeEscapes(ImageJValue(tags.description, "unit"));
    if (!imagejUnit.empty() && imagejUnit != "pixel" && imagejUnit != "pixels") {
        // ImageJ keeps ResolutionUnit at "none" and names its unit in the description.
        found.unit = imagejUnit;
        const std::string z = ImageJValue(tags.description, "spacing");
        double sz = 0;
        const char* end = detail::ReadDouble(z.data(), z.data() + z.size(), sz);
        const bool complete =
            !z.empty() && end == z.data() + z.size() && std::isfinite(sz) && sz > 0;
        found.kind = complete ? FoundSpacing::Kind::Complete : FoundSpacing::Kind::PlaneOnly;
        found.spacing.s[2] = complete ? sz : 1;
        // ImageJ names the units of y and z only where they differ from x's: a length is
        // converted to x's unit, anything else cannot be compared with it. z counts only with a
        // slice distance.
        for (const int k : {1, 2}) {
            const std::string key = k == 1 ? "yunit" : "zunit";
            const std::string other = DecodeEscapes(ImageJValue(tags.description, key));
            if (other.empty() || other == imagejUnit || (k == 2 && !complete)) continue;
            const double from = Nanometres(other), to = Nanometres(imagejUnit);
            if (from == 0 || to == 0) {
                found.kind = FoundSpacing::Kind::OtherUnit;
                found.otherKey = key;
                found.otherUnit = other;
                return found;
            }
            found.spacing.s[k] *= from / to;
        }
    } else if (tags.unit == 2 || tags.unit == 3) {
        // Plain TIFF records the pixel size but not the distance between slices.
        found.unit = tags.unit == 2 ? "inch" : "cm";
        found.kind = FoundSpacing::Kind::PlaneOnly;
    } else {
        found.spacing = Spacing{};  // a resolution without a unit is only an aspect ratio
    }
    return found;
}

FoundSpacing
SpacingFromSlices(const SpacingSlices& slices,
                  const std::function<SliceTags(const std::string&, const TiffPage*)>& read) {
    const std::vector<std::string>& paths = slices.paths;
    const auto page = [&slices](std::size_t k) {
        return slices.pages.empty() ? nullptr : &slices.pages[k];
    };
    const auto name = [&slices](std::size_t k) {
        return slices.names.empty() ? slices.paths[k] : slices.names[k];
    };
    // ImageJ writes its description into a stack file's first page alone; the other pages record
    // their resolution, and a description of their own where a writer gives one. A page without
    // an ImageJ description of its own is read with the file's, whatever the slice order.
    std::string fileDescription;
    bool haveFileDescription = false;
    const auto tagsOf = [&](std::size_t k) {
        SliceTags tags = read(paths[k], page(k));
        if (page(k) != nullptr && page(k)->ifd != 0 &&
            tags.description.compare(0, 7, "ImageJ=") != 0) {
            if (!haveFileDescription) fileDescription = read(paths[k], nullptr).description;
            haveFileDescription = true;
            tags.description = fileDescription;
        }
        return tags;
    };
    const FoundSpacing first = SpacingFromTags(tagsOf(0));
    const double* s = first.spacing.s;
    const std::string unit = ShownUnit(first.unit);
    switch (first.kind) {
    case FoundSpacing::Kind::Nothing:
        SpacingTiffError(paths[0] + " gives no voxel size; give --spacing SX,SY,SZ.");
    case FoundSpacing::Kind::OtherUnit:
        SpacingTiffError(paths[0] + " gives " + first.otherKey + " \"" +
                         ShownUnit(first.otherUnit) + "\" for unit \"" + unit +
                         "\"; give --spacing SX,SY,SZ.");
    case FoundSpacing::Kind::PlaneOnly:
        SpacingTiffError(paths[0] + " gives " + Number(s[0]) + " x " + Number(s[1]) + " " + unit +
                         " per pixel but no slice distance; give --spacing " + Number(s[0]) + "," +
                         Number(s[1]) + ",SZ.");
    case FoundSpacing::Kind::Complete:
        break;
    }
    if (!SpacingFits(first.spacing, slices.voxels)) {
        SpacingTiffError(paths[0] + " gives " + Number(s[0]) + " x " + Number(s[1]) + " x " +
                         Number(s[2]) + " " + unit +
                         " per voxel, beyond single precision; give --spacing SX,SY,SZ.");
    }
    for (std::size_t k = 1; k < paths.size(); ++k) {
        // The images of one directory (ImageJ's stacks beyond 4 GiB) share its tags.
        if (paths[k] == paths[k - 1] && page(k) != nullptr && page(k)->ifd == page(k - 1)->ifd)
            continue;
        if (!SpacingFromTags(tagsOf(k)).Same(first))
            SpacingTiffError(name(k) + " differs from " + name(0) + ".");
    }
    const bool writable = GoodUnit(first.unit);
    if (!writable && !slices.unitGiven)
        SpacingTiffError(paths[0] + " gives the unit \"" + unit + "\"; give --unit NAME.");
    FoundSpacing found = first;
    if (writable) {
        found.notice = paths[0] + " : spacing " + Number(s[0]) + "," + Number(s[1]) + "," +
                       Number(s[2]) + " " + first.unit + ".";
    }
    return found;
}

}  // namespace voxwrap
