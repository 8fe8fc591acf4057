#pragma once
// The range list: "1000-4095", "1,5,7-9,200-" and the like, turned into a table with one byte per
// value 0..max, 1 for a value of the object. Any syntax error ends the run with "bad range list.".
#include <cstdint>

void RangeList(const char* text, std::uint32_t max, unsigned char* table);
