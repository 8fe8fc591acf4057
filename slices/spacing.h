#pragma once
// --spacing tiff: the voxel size as the slices record it. XResolution and YResolution give the
// pixels per ResolutionUnit; ImageJ writes its unit and the slice distance into the
// ImageDescription ("unit=", "spacing="). Nothing is guessed: a slice that gives no complete
// voxel size, or slices that disagree, stop the run with a message that asks for --spacing.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mesh/mesh.h"
#include "tiff/rif.h"

namespace voxwrap {

// What a slice's first image directory says about its size.
struct SliceTags {
    std::uint32_t xNum = 0, xDen = 0;  // XResolution, pixels per unit; 0/0 when absent
    std::uint32_t yNum = 0, yDen = 0;  // YResolution
    std::uint32_t unit = 2;            // ResolutionUnit: 1 none, 2 inch (the default), 3 cm
    std::string description;           // ImageDescription, empty when absent
};

struct FoundSpacing {
    // OtherUnit: ImageJ's yunit or zunit names a unit that is not a length convertible to unit.
    enum class Kind { Complete, PlaneOnly, Nothing, OtherUnit } kind = Kind::Nothing;
    Spacing spacing;                  // x and y for PlaneOnly, all three for Complete, in unit
    std::string unit;                 // as recorded ("\u00B5m" decoded to UTF-8)
    std::string otherKey, otherUnit;  // OtherUnit: "yunit" or "zunit", and the unit it names
    // SpacingFromSlices: what was found, as a line to tell the user ("path : spacing 0.5,0.5,2
    // mm."), when its unit can be written; empty otherwise.
    std::string notice;
    bool Same(const FoundSpacing& other) const;
};

// The tags of one slice, read from its file: the image page names (null: the first).
SliceTags ReadSliceTags(const std::string& path, const TiffPage* page = nullptr);

// The voxel size one slice records. ImageJ's yunit and zunit (the units of YResolution and of
// "spacing=" where they differ from "unit=") are converted to unit when both are lengths ImageJ
// writes (nm, µm, micron, um, mm, cm, m, inch); otherwise the kind is OtherUnit.
FoundSpacing SpacingFromTags(const SliceTags& tags);

// The slices as --spacing tiff reads them.
struct SpacingSlices {
    std::vector<std::string> paths;
    std::vector<TiffPage> pages;     // each slice's image within its file (empty: the first)
    std::vector<std::string> names;  // each slice as a message names it (empty: its path)
    std::array<std::int64_t, 3> voxels{1, 1, 1};  // columns, rows and slices of the stack
    bool unitGiven = false;                       // --unit names the unit instead
};

// The voxel size of the first slice, after checking that every slice (every image of a stack
// file) records the same; read gives the tags of one image. Fails, naming --spacing tiff and the
// slice, when the first slice gives no complete size, a size beyond single precision for the
// stack (SpacingFits), or a unit that cannot be written (without --unit), or when a later one
// differs; the message begins with "--spacing tiff : ". The notice says what was found.
FoundSpacing
SpacingFromSlices(const SpacingSlices& slices,
                  const std::function<SliceTags(const std::string&, const TiffPage*)>& read);

}  // namespace voxwrap
