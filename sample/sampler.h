#pragma once
// Sampling: every plane z = 0..N between and around the slices is reduced to the corners of the
// convex polygon that encloses its object cube faces. Only these corners can be hull vertices.
// Slabs of consecutive planes are reduced further to the corners of their own hulls, which still
// hold every corner of the whole hull.
//
// The result is the sampling points in collection order (plane by plane, by row, left end before
// right end). The order decides the hull's tie-breaking, so it is part of the output. Slices come
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

// SampleOptions (the run's threads and events) is public: voxwrap/voxwrap.h.

// A source of slices for the sampler: each slice delivered row by row. Decode may run on several
// threads at once, for different slices.
class SliceSource {
  public:
    virtual ~SliceSource() = default;
    virtual std::size_t size() const = 0;
    // Hands slice k's rows to sink in order, each at most W samples, rows y < H only, or fails
    // (an Error); whole warning lines ("...\n") are appended to *warnings in the order issued.
    virtual void Decode(std::size_t k, std::int32_t W, std::int32_t H, const RowSink& sink,
                        std::string* warnings) const = 0;
    // The same with the samples themselves as words of their kind (see WordSink), for a source
    // of a wide kind whose Decode hands out codes; by default Decode's rows.
    virtual void DecodeWords(std::size_t k, std::int32_t W, std::int32_t H, const WordSink& sink,
                             std::string* warnings) const {
        Decode(
            k, W, H,
            [&sink](std::int32_t y, const std::uint16_t* row, std::int32_t w) { sink(y, row, w); },
            warnings);
    }
};

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

// Samples every slice of source, each padded with zeros to W x H. A failure is the first one in
// slice order, after the warnings of the slices before it; allocation failures fail with
// "no allocatable memory for sampling points.". With options.countVoxels, *voxels receives the
// object samples of all padded slices (0 otherwise).
Points SampleSlices(const SliceSource& source, std::int32_t W, std::int32_t H,
                    const Selection& selection, const SampleOptions& options = {},
                    std::int64_t* voxels = nullptr);

// SampleSlices over the files of a stack of unsigned samples of up to 16 bits.
Points SampleStack(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages,
                   std::int32_t W, std::int32_t H, const Selection& selection,
                   const SampleOptions& options = {}, std::int64_t* voxels = nullptr);
// The same for the stack's kind of sample, the selection compiled for it.
Points SampleStack(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages,
                   std::int32_t W, std::int32_t H, const SampleSelection& selection,
                   const SampleOptions& options = {}, std::int64_t* voxels = nullptr);

// SliceSampler, fed from memory, is public: voxwrap/voxwrap.h.

}  // namespace voxwrap
