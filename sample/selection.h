#pragma once
// The selection: which sample values belong to the object. Today it is a range list over unsigned
// samples of up to 16 bits, held as one byte per value; a wider or signed sample type, or one
// object per label, adds its own constructor and keeps the one question the sampler asks: is this
// value selected, and which intervals of values are.
#include <cstdint>
#include <string>
#include <vector>

#include "voxwrap/voxwrap.h"

namespace voxwrap {

// The range list: "1000-4095", "1,5,7-9,200-" and the like, turned into a table with one byte per
// value 0..max, 1 for a value of the object. Any syntax error fails with "bad range list.".
void RangeList(const char* text, std::uint32_t max, unsigned char* table);

}  // namespace voxwrap
