#pragma once
// Loading of one slice into the common sample grid of W x H samples, zero-padded to the right
// and below.
#include <cstdint>

// rows is the grid's table of H row pointers, each row W samples. Every sample is rewritten.
void ReadSliceImage(const char* path, std::int32_t W, std::int32_t H, std::uint16_t* const* rows);
