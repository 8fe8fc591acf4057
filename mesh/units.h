#pragma once
// What the mesh files and the report can hold: the units that can be written into their headers,
// how a message shows any other, and the single-precision limits of a spacing.
#include <array>
#include <cstdint>
#include <string>

#include "mesh/mesh.h"

namespace voxwrap {

// A unit goes into the report, the mesh headers and the STL's 80-byte header: one word of
// visible characters, nothing that JSON would need to escape, and well-formed UTF-8 ("µm"): no
// overlong form, surrogate or code point beyond U+10FFFF, no control character (C0, DEL, C1).
bool GoodUnit(const std::string& unit);

// A unit as a message may show it: control characters as \u001B, bytes that are no UTF-8 as
// \xED; everything else as it is. Nothing taken from a file reaches the terminal unescaped.
std::string ShownUnit(const std::string& unit);

// Whether every number a mesh of this stack (columns, rows and slices) holds under this spacing
// is a single-precision number: the steps (one voxel along an axis) and their products (the
// STL's normals) normal numbers, the largest coordinates and normals finite.
bool SpacingFits(const Spacing& spacing, const std::array<std::int64_t, 3>& voxels);

}  // namespace voxwrap
