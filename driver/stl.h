#pragma once
// The binary STL of a finished hull: 80 zero bytes, the facet count, then one 50-byte record per
// face in use that spans a triangle, in face-slot order, little-endian on every host.
#include <cstdint>
#include <cstdio>

#include "hull/storage.h"

// The points of face slot f (0-based) of a finished hull as 0-based indices a, b, c, counter-
// clockwise seen from outside; returns 1 when they span a triangle, 0 when they are collinear.
int FV3(const HullStorage& hull, std::int32_t f, std::int32_t& a, std::int32_t& b, std::int32_t& c);

void WriteStl(std::FILE* stream, const HullStorage& hull);
