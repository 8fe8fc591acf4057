#pragma once
// The finished hull as a triangle mesh, and the mesh formats it can be written in. Every format
// carries the same triangles in the same order (face-slot order, as the binary STL has always
// had them), counter-clockwise seen from outside, with the same single-precision coordinates.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "voxwrap/voxwrap.h"

namespace voxwrap {

// MeshFormat, Spacing and WriteMesh to a std::ostream are public: voxwrap/voxwrap.h.

// The mesh of a finished hull: its corners and its triangles, as ConvexHull returns them.
using Mesh = voxwrap::Hull;

// The integer normal (v2 - v1) x (v3 - v1) of triangle t, outward, twice its area in length.
std::array<std::int64_t, 3> Normal(const Mesh& mesh, const std::array<std::int32_t, 3>& t);

// Writes the mesh in the format to a C stream, the bytes WriteMesh gives a std::ostream. unit, when not empty, names the unit of the coordinates in the
// file's header; the binary STL header stays 80 zero bytes when it is empty. A failed write
// fails with "file not stored.".
void WriteMesh(std::FILE* stream, const Mesh& mesh, MeshFormat format, const Spacing& spacing,
               const std::string& unit);

// One object's hull and its id, for the files that hold several objects.
struct LabelledMesh {
    std::int64_t id = 0;
    const Mesh* mesh = nullptr;
};

// Writes the objects' meshes, in the order given, into one file of the format: each object's
// triangles in the same order and with the same coordinates as WriteMesh writes them alone. Binary
// STL: one header (as WriteMesh's) and all triangles, object after object; ASCII STL: a block
// "solid object_<id>" ... "endsolid object_<id>" each; PLY: one vertex and one face list, every
// face with an int property "label", the object's id; OBJ: a group "o object_<id>" each, its own
// vertices. An id beyond a PLY int, or a count beyond the format's, fails with its message.
void WriteMeshes(std::FILE* stream, const std::vector<LabelledMesh>& meshes, MeshFormat format,
                 const Spacing& spacing, const std::string& unit);

// Write `length` bytes from data to the stream, as they lie in memory (PutN) or last byte first
// (PutR, for big-endian hosts). A failed write fails with "file not stored.".
void PutN(std::FILE* stream, const void* data, std::size_t length);
void PutR(std::FILE* stream, const void* data, std::size_t length);

// Writes a field of `length` bytes little-endian whatever the host is.
void Put(std::FILE* stream, const void* data, std::size_t length);

}  // namespace voxwrap
