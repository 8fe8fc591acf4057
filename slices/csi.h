#pragma once
// The ordered slice list: names from a name file, an inline list or a sorted directory listing,
// each image's header checked once. A failure throws "subject : text." as a Failure
// (common/failure.h); the reader's failures for a listed image pass through unchanged.
#include <cstdint>
#include <string>
#include <vector>

// Returns the full path of every slice in slice order and stores, through the non-null pointers,
// the largest width, the largest height, the slice count and the largest bits per sample.
std::vector<std::string> CheckSliceImages(const char* directory, const char* nameFile,
                                          std::int32_t* width, std::int32_t* height,
                                          std::int32_t* count, std::int32_t* bitsPerSample);
