#pragma once
// The ordered slice list: names from a name file, an inline list or a sorted directory listing,
// each image's header checked once. A failure throws "subject : text." as an Error
// (common/failure.h); the reader's failures for a listed image pass through unchanged.
#include <cstdint>
#include <string>
#include <vector>

#include "tiff/rif.h"

namespace voxwrap {

// Returns the full path of every slice in slice order and stores, through the non-null pointers,
// the largest width, the largest height, the slice count, the largest bits per sample and the
// kind of sample (unsigned ones of up to 16 bits: the widest). A slice whose kind does not mix
// with the first slice's fails with "path : holds <kind> samples where the first slice holds
// <kind> samples." (a stack file's image: "file image k : ...", k counted from 1 in file order).
//
// With pages given, it also receives the image of each slice within its file, and directory may
// name a stack file: a TIFF file whose full-resolution images are the slices, in file order for
// nameFile "-" and in reverse order for "--r" (every path is then the file itself).
// The readers' warnings are appended to *warnings as whole lines (null: dropped). A file of a
// slice list that holds more than one full-resolution image stops the run, whether pages is given
// or not: only its first would be read.
std::vector<std::string> CheckSliceImages(const char* directory, const char* nameFile,
                                          std::int32_t* width, std::int32_t* height,
                                          std::int32_t* count, std::int32_t* bitsPerSample,
                                          std::vector<TiffPage>* pages = nullptr,
                                          std::string* warnings = nullptr,
                                          SampleType* samples = nullptr);

// The order of a directory listing under a sorting option ("-", "--r", "--n", "--rn..." or
// "--nr...", "--v", "--rv"), comparing two names: negative when a comes first, positive when b
// does, zero only for equal names. Any other option throws "option : unknown sorting option."
// with the option's first "-" dropped.
int CompareSliceNames(const char* option, const char* a, const char* b);

}  // namespace voxwrap
