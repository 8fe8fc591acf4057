#pragma once
// Every object of a stack in one pass: each selected label value, or each connected component of
// the selected voxels, with the candidate points of its hull and its exact voxel measures.
//
// An object's points are the corners of its sampling planes, slabs of them reduced to the corners
// of their own hulls as one object's sampling reduces them (a small last slab is kept whole),
// then sorted by (z, y, x) without duplicates. That is the order in which
// the one-object sampling collects them, and its hull depends only on the ordered corners among
// its points; so the hull of an object's points is, byte for byte, the hull that the one-object
// sampling gives for the stack that keeps only that object's voxels (for a label L: the range list
// "L").
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sample/sampler.h"
#include "sample/selection.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

// Exact sums of voxel indices: 2^31 columns in a stack of 2^62 voxels stay far inside 127 bits.
using VoxelSum = Int128;

// ObjectRule, SampledObject, SampleObjects and the in-memory ObjectSampler are public:
// voxwrap/voxwrap.h.

// SampleObjects for a stack of any kind of sample: selection compiled for it, and source built
// with it (TiffSlices(paths, pages, &selection)). Labels are the values of integer samples, signed
// ones and 32-bit ones too (ids from -2^31 to 2^32 - 1), ordered by id; floating-point samples
// have none: labels on them fail with Kind::Argument "objects: labels must be integers.".
std::vector<SampledObject> SampleObjects(const SliceSource& source, std::int32_t W, std::int32_t H,
                                         const SampleSelection& selection, const ObjectRule& rule,
                                         const SampleOptions& options = {});

}  // namespace voxwrap
