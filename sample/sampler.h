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

#include "common/points.h"
#include "sample/selection.h"
#include "tiff/rif.h"

namespace voxwrap {

// What a caller may ask of a sampling run and watch while it goes.
struct SampleOptions {
    // Workers that decode and reduce slices and slabs: 0 one per core, 1 everything on the
    // calling thread. The points, every warning and every call below are the same for any number.
    unsigned threads = 0;
    // Counting every object sample reads whole rows, where the sampling alone stops at the first
    // object sample from each end: asked for only when wanted.
    bool countVoxels = false;
    // Each warning of the reader, a whole line without its newline, on the calling thread in
    // slice order; the warnings of a failing slice come before its failure. None: dropped.
    std::function<void(const std::string& line)> warning;
    // After every slice, on the calling thread.
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    // Asked before every slice; true ends the run with "sampling cancelled.".
    std::function<bool()> cancelled;
};

// A source of slices for the sampler: each slice delivered row by row. Decode may run on several
// threads at once, for different slices.
class SliceSource {
  public:
    virtual ~SliceSource() = default;
    virtual std::size_t size() const = 0;
    // Hands slice k's rows to sink in order, each at most W samples, rows y < H only, or fails
    // (a Failure); whole warning lines ("...\n") are appended to *warnings in the order issued.
    virtual void Decode(std::size_t k, std::int32_t W, std::int32_t H, const RowSink& sink,
                        std::string* warnings) const = 0;
};

// The slices of a stack on disk: slice k is image pages[k] of paths[k] (pages empty: every
// file's first image). An image larger than W x H fails with "path : bad image size." after the
// reader's own failures and warnings.
class TiffSlices : public SliceSource {
  public:
    TiffSlices(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages)
        : paths_(paths), pages_(pages) {}
    std::size_t size() const override { return paths_.size(); }
    void Decode(std::size_t k, std::int32_t W, std::int32_t H, const RowSink& sink,
                std::string* warnings) const override;

  private:
    const std::vector<std::string>& paths_;
    const std::vector<TiffPage>& pages_;
};

// Samples every slice of source, each padded with zeros to W x H. A failure is the first one in
// slice order, after the warnings of the slices before it; allocation failures fail with
// "no allocatable memory for sampling points.". With options.countVoxels, *voxels receives the
// object samples of all padded slices (0 otherwise).
Points SampleSlices(const SliceSource& source, std::int32_t W, std::int32_t H,
                    const Selection& selection, const SampleOptions& options = {},
                    std::int64_t* voxels = nullptr);

// SampleSlices over the files of a stack.
Points SampleStack(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages,
                   std::int32_t W, std::int32_t H, const Selection& selection,
                   const SampleOptions& options = {}, std::int64_t* voxels = nullptr);

// A sampler the caller feeds slice by slice from memory: exactly N slices of at most W x H
// samples, each padded with zeros to W x H like a file slice, so a volume gives the points it
// would give as files. No slice is kept after Add returns.
class SliceSampler {
  public:
    SliceSampler(std::int32_t W, std::int32_t H, std::int64_t N, const Selection& selection,
                 const SampleOptions& options = {});
    ~SliceSampler();
    SliceSampler(const SliceSampler&) = delete;
    SliceSampler& operator=(const SliceSampler&) = delete;

    // The next slice: h rows of w samples, row y starting at samples + y * rowStride.
    void Add(const std::uint16_t* samples, std::ptrdiff_t rowStride, std::int32_t w,
             std::int32_t h);
    // The points, once all N slices were added; the sampler is spent.
    Points Finish();
    // The object samples of the slices added so far, when counted.
    std::int64_t voxels() const { return voxels_; }

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::int64_t voxels_ = 0;
};

}  // namespace voxwrap
