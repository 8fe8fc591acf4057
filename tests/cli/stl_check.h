#pragma once
// An exact checker for the STL files voxwrap writes: the file is parsed, every number is checked
// against integer arithmetic, and the mesh is proven to be the convex hull of the voxel cubes.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

using Point3 = std::array<std::int64_t, 3>;

struct Facet {
    float normal[3];
    float vertex[3][3];
    std::uint16_t attribute;
};

struct StlFile {
    std::uint32_t count = 0;
    std::vector<Facet> facets;
};

// Parses a binary STL; gtest failures when the header is not zero or the length does not match
// the facet count.
StlFile ParseStl(const std::string& bytes);

// Checks, with gtest assertions and exact integer arithmetic: integer vertices; every normal the
// cross product (v2 - v1) x (v3 - v1) and not zero; every attribute from the normal's axes; every
// undirected edge in exactly two facets, in opposite directions; no vertex inside another edge;
// Euler's formula and F = 2V - 4; every vertex a corner of an object voxel and a corner of the
// hull (three or more facet planes); every corner of every voxel on the inner side of or in
// every facet's plane; a positive volume. Together these prove the mesh is the hull's boundary.
void CheckHullStl(const StlFile& stl, const std::vector<Point3>& voxels);

__extension__ typedef __int128 Int128;

// Six times the volume the STL's facets enclose, from its integer vertices.
Int128 SixVolume(const StlFile& stl);

// The distinct vertices of the mesh.
std::vector<Point3> StlVertices(const StlFile& stl);
