#pragma once
// --spacing tiff: the voxel size as the slices record it. XResolution and YResolution give the
// pixels per ResolutionUnit; ImageJ writes its unit and the slice distance into the
// ImageDescription ("unit=", "spacing="). Nothing is guessed: a slice that gives no complete
// voxel size, or slices that disagree, stop the run with a message that asks for --spacing.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/mesh.h"

// What a slice's first image directory says about its size.
struct SliceTags {
    std::uint32_t xNum = 0, xDen = 0;  // XResolution, pixels per unit; 0/0 when absent
    std::uint32_t yNum = 0, yDen = 0;  // YResolution
    std::uint32_t unit = 2;            // ResolutionUnit: 1 none, 2 inch (the default), 3 cm
    std::string description;           // ImageDescription, empty when absent
};

struct FoundSpacing {
    enum class Kind { Complete, PlaneOnly, Nothing } kind = Kind::Nothing;
    Spacing spacing;   // x and y for PlaneOnly, all three for Complete
    std::string unit;  // as recorded ("\u00B5m" decoded to UTF-8)
    bool Same(const FoundSpacing& other) const;
};

// The tags of one slice, read from its file.
SliceTags ReadSliceTags(const std::string& path);

// The voxel size one slice records.
FoundSpacing SpacingFromTags(const SliceTags& tags);

// The voxel size of the first slice, after checking that every slice records the same; read
// gives the tags of one path. Says on standard error what was found; fails, naming --spacing
// tiff and the slice, when the first slice gives no complete size or a later one differs.
FoundSpacing SpacingFromSlices(const std::vector<std::string>& paths,
                               const std::function<SliceTags(const std::string&)>& read);
