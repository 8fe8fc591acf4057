#pragma once
// Sampling: every plane z = 0..N between and around the slices is reduced to the corners of the
// convex polygon that encloses its object cube faces. Only these corners can be hull vertices.
// Slabs of consecutive planes are reduced further: the points that the planes on either side
// enclose are dropped, then the slab is hulled on its own and merged into the hull of the slabs
// before. That hull's corners are those of the whole.
//
// The result is those corners in collection order (plane by plane, by row, left end before right
// end), or, should a slab have no hull of its own, the slabs' points, which hold every corner, in
// the same order. The order decides the hull's tie-breaking, so it is part of the output; the
// hull of either is the same. Slices come
// from files (SampleStack) or from the caller's memory (SliceSampler); both take the same path
// from decoded rows to points, so the same samples give the same points, whatever holds them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sample/selection.h"
#include "tiff/rif.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

// SampleOptions (the run's threads and events), SliceSource (slices the workers decode) and
// SampleSlices (the sampling of any SliceSource) are public: voxwrap/voxwrap.h.

// The slices of a stack on disk: slice k is image pages[k] of paths[k] (pages empty: every
// file's first image). An image larger than W x H fails with "path : bad image size." after the
// reader's own failures and warnings.
//
// A selection compiled for a wide kind of sample (32 or 64 bits) makes each row arrive as the
// codes SampleSelection::Classify writes, to be tested with its Table(); the files must then hold
// that kind ("path : bad bits per sample." otherwise). Without one, or for a kind of up to 16
// bits, the rows are the stored samples.
class TiffSlices : public SliceSource {
  public:
    TiffSlices(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages,
               const SampleSelection* selection = nullptr)
        : paths_(paths), pages_(pages),
          wide_(selection != nullptr && selection->Wide() ? selection : nullptr) {}
    std::size_t size() const override { return paths_.size(); }
    void Decode(std::size_t k, std::int32_t W, std::int32_t H, const RowSink& sink,
                std::string* warnings) const override;
    void DecodeWords(std::size_t k, std::int32_t W, std::int32_t H, const WordSink& sink,
                     std::string* warnings) const override;

  private:
    const std::vector<std::string>& paths_;
    const std::vector<TiffPage>& pages_;
    const SampleSelection* wide_;
};

// SampleSlices over the files of a stack of unsigned samples of up to 16 bits.
Points SampleStack(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages,
                   std::int32_t W, std::int32_t H, const Selection& selection,
                   const SampleOptions& options = {}, std::int64_t* voxels = nullptr);
// The same for the stack's kind of sample, the selection compiled for it.
Points SampleStack(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages,
                   std::int32_t W, std::int32_t H, const SampleSelection& selection,
                   const SampleOptions& options = {}, std::int64_t* voxels = nullptr);

// SliceSampler, fed from memory, is public: voxwrap/voxwrap.h.

namespace sampling {
// SampleSlices with slabs closed at slabPoints points: the result is the same for any size, and
// slabs of a few points take small stacks through many merges (the tests).
Points SampleSlices(const SliceSource& source, std::int32_t W, std::int32_t H,
                    const Selection& selection, const SampleOptions& options, std::int64_t* voxels,
                    std::size_t slabPoints);
}  // namespace sampling

}  // namespace voxwrap
