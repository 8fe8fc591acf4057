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
__extension__ typedef __int128 VoxelSum;

// What makes the selected voxels objects.
struct ObjectRule {
    enum class Kind {
        Labels,      // every selected value is an object; its id is the value
        Components,  // every connected component is one; ids 1, 2, ... by first voxel
    };
    Kind kind = Kind::Labels;
    // Components only: 6 (faces), 18 (faces and edges) or 26 (faces, edges and corners).
    int connectivity = 26;
};

// One object. Components are numbered by their first voxel in slice, row, column order, which is
// the numbering scipy.ndimage.label gives the (z, y, x) array with the same neighbourhood.
struct SampledObject {
    std::int64_t id = 0;
    // Every corner of the hull of the object's voxel cubes is among them; sorted by (z, y, x),
    // without duplicates. Never empty.
    Points points;
    std::int64_t voxels = 0;
    // Sums of the voxels' indices along x, y and z: the centroid of the voxel centres is
    // sum / voxels + 0.5 along each axis, in voxel units.
    VoxelSum sum[3] = {0, 0, 0};
    // The smallest and largest voxel index along x, y and z.
    std::int32_t min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
};

// The objects of source's slices, each padded with zeros to W x H like SampleSlices pads them,
// ordered by id. Warnings, progress, cancellation and failures as in SampleSlices (the voxels are
// always counted; options.countVoxels is not consulted). A rule other than the two kinds, or a
// connectivity other than 6, 18 or 26, fails with "objects: connectivity must be 6, 18 or 26.".
std::vector<SampledObject> SampleObjects(const SliceSource& source, std::int32_t W, std::int32_t H,
                                         const Selection& selection, const ObjectRule& rule,
                                         const SampleOptions& options = {});

// The same for a stack of any kind of sample: selection compiled for it, and source built with
// it (TiffSlices(paths, pages, &selection)). Labels are the values of integer samples, signed
// ones and 32-bit ones too (ids from -2^31 to 2^32 - 1), ordered by id; floating-point samples
// have none: labels on them fail with Kind::Argument "objects: labels must be integers.".
std::vector<SampledObject> SampleObjects(const SliceSource& source, std::int32_t W, std::int32_t H,
                                         const SampleSelection& selection, const ObjectRule& rule,
                                         const SampleOptions& options = {});

// SampleObjects fed slice by slice from memory, as SliceSampler is: exactly N slices of at most
// W x H samples, each padded with zeros to W x H. No slice is kept after Add returns.
// As SliceSampler, a sampler of another kind of sample is fed with the Add of its C++ type.
class ObjectSampler {
  public:
    ObjectSampler(std::int32_t W, std::int32_t H, std::int64_t N, const Selection& selection,
                  const ObjectRule& rule, const SampleOptions& options = {});
    ObjectSampler(std::int32_t W, std::int32_t H, std::int64_t N, const Selection& selection,
                  SampleType samples, const ObjectRule& rule, const SampleOptions& options = {});
    ~ObjectSampler();
    ObjectSampler(const ObjectSampler&) = delete;
    ObjectSampler& operator=(const ObjectSampler&) = delete;

    // The next slice: h rows of w samples, row y starting at samples + y * rowStride.
    void Add(const std::uint16_t* samples, std::ptrdiff_t rowStride, std::int32_t w,
             std::int32_t h);
    void Add(const std::int8_t* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h);
    void Add(const std::int16_t* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h);
    void Add(const std::uint32_t* samples, std::ptrdiff_t rowStride, std::int32_t w,
             std::int32_t h);
    void Add(const std::int32_t* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h);
    void Add(const float* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h);
    void Add(const double* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h);
    // The objects, once all N slices were added, ordered by id; the sampler is spent.
    std::vector<SampledObject> Finish();

  private:
    template <class T>
    void AddWords(const T* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h);
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace voxwrap
