#include "sample/sampler.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "common/events.h"
#include "common/failure.h"
#include "hull/chain.h"
#include "sample/chains.h"
#include "sample/classify.h"
#include "sample/pipeline.h"
#include "sample/slabs.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace sampling {
namespace {

constexpr const char* kSamplingMemory = "no allocatable memory for sampling points.";

// A slab is closed once it holds this many points. Larger slabs cost more each to hull, and
// smaller ones more merges; the result does not depend on the choice.
constexpr std::size_t kSlabPoints = 8192;

}  // namespace

// The plane loop: takes the row extents of slices 0..N-1 in order and builds the planes. Plane k
// holds the bottom faces of slice k and the top faces of slice k-1: a pixel counts when either
// slice has it, so a row's extent in the plane is the union of its extents in the two slices.
// Before slice 0 no row has an extent; the last plane z = N holds the top faces of the last slice
// alone.
//
// Full slabs go to the pipeline's workers, each to be hulled on its own (HullSlab); the hulls are
// appended to a HullChain in slab order, by whichever worker finds the next one ready, so that at
// the end the corners of the whole are known without a hull of every slab's points. The result is
// then exactly those corners. Should any slab have no hull, the result is the slabs' own points,
// which hold every corner too: the final hull's first pass finds them, as it would have.
class PlaneLoop {
  public:
    PlaneLoop(std::int32_t W, std::int32_t H, std::int64_t N, OrderedPipeline<RowExtents>& pipeline,
              std::size_t slabPoints = kSlabPoints)
        : H_(H), slabPoints_(slabPoints),
          // Beyond the hull's limit the whole set goes to it unreduced, so that it reports the
          // same point as it always did.
          reduce_(W <= kCoordinateLimit && H <= kCoordinateLimit && N <= kCoordinateLimit),
          sampler_(H), previous_(H), pipeline_(pipeline) {
        std::fill(previous_.first.get(), previous_.first.get() + H, -1);
        std::fill(previous_.last.get(), previous_.last.get() + H, -1);
    }
    // A worker may still be reducing a slab of this loop.
    ~PlaneLoop() { pipeline_.Drain(); }
    PlaneLoop(const PlaneLoop&) = delete;
    PlaneLoop& operator=(const PlaneLoop&) = delete;

    void Add(RowExtents current) {
        sampler_.StartPlane();
        for (std::int32_t y = 0; y < H_; ++y) {
            std::int32_t u = current.first[y], v = current.last[y];
            if (previous_.first[y] >= 0) {
                if (u < 0 || previous_.first[y] < u) u = previous_.first[y];
                if (previous_.last[y] > v) v = previous_.last[y];
            }
            if (u >= 0) sampler_.Row(u, v, y);
        }
        Collect();
        previous_ = std::move(current);
    }

    Points Finish() {
        sampler_.StartPlane();
        for (std::int32_t y = 0; y < H_; ++y) {
            if (previous_.first[y] >= 0) sampler_.Row(previous_.first[y], previous_.last[y], y);
        }
        Collect();
        // A slab still held back found no second plane with points after it: the rest, one
        // plane or none, flat on its own, joins it.
        if (held_) {
            Join(*held_, slab_);
            Submit(std::move(*held_));
        } else {
            Submit(std::move(slab_));
        }
        pipeline_.Drain();
        // Beyond the hull's limit no slab is hulled, and Submit set broken_.
        if (!broken_) {
            try {
                Points corners = chain_.Corners();
                // Fewer than six would fail the hull's first pass; its failure then tells why.
                if (corners.size() >= 6) {
                    slabs_.clear();
                    // Turned back from (z, x, y).
                    return Points{std::move(corners.y), std::move(corners.z), std::move(corners.x)};
                }
            } catch (const std::bad_alloc&) {
            } catch (const Error&) {
            }
        }
        // The slabs in order, into the first one's arrays.
        Points points;
        for (Slab& s : slabs_) {
            if (points.size() == 0) {
                points = std::move(s.points);
                continue;
            }
            Join(points, s.points);
            s.points = Points();
        }
        slabs_.clear();
        return points;
    }

  private:
    struct Slab {
        Points points;
        HullStorage hull;
        bool hulled = false, done = false;
    };

    static void Join(Points& to, const Points& from) {
        to.x.insert(to.x.end(), from.x.begin(), from.x.end());
        to.y.insert(to.y.end(), from.y.begin(), from.y.end());
        to.z.insert(to.z.end(), from.z.begin(), from.z.end());
    }

    // A slab is closed once it holds slabPoints_ points, and hulled once the next one has two
    // planes with points: until then it is held back, so that a last slab of a single plane,
    // flat and without a hull of its own, can join it.
    void Collect() {
        const std::size_t before = slab_.size();
        sampler_.Collect(z_++, slab_);
        if (slab_.size() > before) ++planes_;
        if (held_ && planes_ >= 2) {
            Submit(std::move(*held_));
            held_.reset();
        }
        if (slab_.size() < slabPoints_) return;
        if (held_) {
            Join(*held_, slab_);
        } else {
            held_ = std::move(slab_);
        }
        slab_ = Points();
        planes_ = 0;
    }

    void Submit(Points points) {
        if (points.size() == 0) return;
        Slab* slab;
        {
            // Workers read the deque while they append.
            std::lock_guard<std::mutex> lock(chainMutex_);
            slabs_.emplace_back();
            slab = &slabs_.back();  // a deque: the reference survives later emplace_backs
        }
        slab->points = std::move(points);
        if (!reduce_) {
            broken_ = true;
            return;
        }
        pipeline_.Submit([this, slab] {
            slab->hulled = HullSlab(slab->points, slab->hull);
            AppendReady(slab);
        });
    }

    // Marks the slab done and appends, in order, every hulled slab that is ready, unless another
    // worker is at it: that one then finds this slab too.
    void AppendReady(Slab* finished) {
        std::unique_lock<std::mutex> lock(chainMutex_);
        finished->done = true;
        if (appending_) return;
        appending_ = true;
        while (appended_ < slabs_.size() && slabs_[appended_].done) {
            Slab& s = slabs_[appended_];
            lock.unlock();
            if (!s.hulled) {
                broken_ = true;
            } else if (!broken_) {
                try {
                    chain_.Append(s.hull);
                } catch (const std::bad_alloc&) {
                    broken_ = true;
                } catch (const Error&) {
                    broken_ = true;
                }
            }
            s.hull = HullStorage();
            lock.lock();
            ++appended_;
        }
        appending_ = false;
    }

    const std::int32_t H_;
    const std::size_t slabPoints_;
    const bool reduce_;
    PlaneSampler sampler_;
    RowExtents previous_;
    std::int32_t z_ = 0;
    Points slab_;
    int planes_ = 0;  // planes of slab_ with points
    std::optional<Points> held_;
    std::deque<Slab> slabs_;
    std::mutex chainMutex_;
    std::size_t appended_ = 0;
    bool appending_ = false;
    bool broken_ = false;  // a slab without a hull, or a chain that failed
    HullChain chain_;
    OrderedPipeline<RowExtents>& pipeline_;
};

}  // namespace sampling

void TiffSlices::Decode(std::size_t k, std::int32_t W, std::int32_t H, const RowSink& sink,
                        std::string* warnings) const {
    if (wide_ != nullptr) {
        std::vector<std::uint16_t> codes(static_cast<std::size_t>(W));
        DecodeWords(
            k, W, H,
            [&](std::int32_t y, const void* words, std::int32_t width) {
                wide_->Classify(words, width, codes.data());
                sink(y, codes.data(), width);
            },
            warnings);
        return;
    }
    const char* path = paths_[k].c_str();
    const TiffPage* page = pages_.empty() ? nullptr : &pages_[k];
    std::int32_t w = 0, h = 0;
    // An image larger than the grid is still decoded to its end, so that a failure of the reader
    // comes before the size is refused. The common size is the largest over the same files, so
    // this means a file changed after the slice list was built.
    ReadImageRows(
        path,
        [&](std::int32_t y, const std::uint16_t* samples, std::int32_t width) {
            if (y < H && width <= W) sink(y, samples, width);
        },
        &w, &h, warnings, page);
    if (w > W || h > H) Fail(Error::Kind::Image, paths_[k] + " : bad image size.");
}

void TiffSlices::DecodeWords(std::size_t k, std::int32_t W, std::int32_t H, const WordSink& sink,
                             std::string* warnings) const {
    if (wide_ == nullptr) {
        SliceSource::DecodeWords(k, W, H, sink, warnings);
        return;
    }
    const char* path = paths_[k].c_str();
    const TiffPage* page = pages_.empty() ? nullptr : &pages_[k];
    std::int32_t w = 0, h = 0;
    ReadImageWords(
        path,
        [&](std::int32_t y, const void* words, std::int32_t width) {
            if (y < H && width <= W) sink(y, words, width);
        },
        wide_->Type(), &w, &h, warnings, page);
    if (w > W || h > H) Fail(Error::Kind::Image, paths_[k] + " : bad image size.");
}

Points SampleSlices(const SliceSource& source, std::int32_t W, std::int32_t H,
                    const Selection& selection, const SampleOptions& options,
                    std::int64_t* voxels) {
    return sampling::SampleSlices(source, W, H, selection, options, voxels, sampling::kSlabPoints);
}

Points sampling::SampleSlices(const SliceSource& source, std::int32_t W, std::int32_t H,
                              const Selection& selection, const SampleOptions& options,
                              std::int64_t* voxels, std::size_t slabPoints) {
    try {
        const auto N = static_cast<std::int64_t>(source.size());
        const ObjectTest test(selection);
        const bool count = options.countVoxels;
        OrderedPipeline<RowExtents> pipeline(
            source.size(), Workers(options.threads, N), [&](std::size_t k, std::string* warnings) {
                SliceReduction reduction(W, H, test, count);
                source.Decode(
                    k, W, H,
                    [&reduction](std::int32_t y, const std::uint16_t* row, std::int32_t w) {
                        reduction.Row(y, row, w);
                    },
                    warnings);
                return reduction.Finish();
            });
        PlaneLoop planes(W, H, N, pipeline, slabPoints);
        std::int64_t counted = 0;
        for (std::int64_t k = 0; k < N; ++k) {
            if (options.cancelled && options.cancelled())
                Fail(Error::Kind::Cancelled, "sampling cancelled.");
            OrderedPipeline<RowExtents>::Taken slice = pipeline.Take(static_cast<std::size_t>(k));
            // The slice's warnings come out now, in slice order, and before its failure.
            ReportLines(options.warning, slice.warnings);
            if (slice.failure) std::rethrow_exception(slice.failure);
            counted += slice.item->voxels;
            planes.Add(std::move(*slice.item));
            if (options.progress) options.progress(k + 1, N);
        }
        if (voxels != nullptr) *voxels = count ? counted : 0;
        return planes.Finish();
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, kSamplingMemory);
    }
}

Points SampleStack(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages,
                   std::int32_t W, std::int32_t H, const Selection& selection,
                   const SampleOptions& options, std::int64_t* voxels) {
    return SampleSlices(TiffSlices(paths, pages), W, H, selection, options, voxels);
}

Points SampleStack(const std::vector<std::string>& paths, const std::vector<TiffPage>& pages,
                   std::int32_t W, std::int32_t H, const SampleSelection& selection,
                   const SampleOptions& options, std::int64_t* voxels) {
    return SampleSlices(TiffSlices(paths, pages, &selection), W, H, selection.Table(), options,
                        voxels);
}

Sampled SampleStack(const Stack& stack, const Selection& selection, const SampleOptions& options) {
    std::vector<std::string> paths;
    std::vector<TiffPage> pages;
    paths.reserve(stack.slices.size());
    pages.reserve(stack.slices.size());
    for (const Slice& slice : stack.slices) {
        paths.push_back(slice.path);
        pages.push_back(TiffPage{slice.ifd, slice.image});
    }
    const SampleSelection compiled(selection, stack.samples);
    Sampled out;
    out.points =
        SampleStack(paths, pages, stack.width, stack.height, compiled, options, &out.voxels);
    return out;
}

// The in-memory sampler: the same plane loop, fed on the calling thread; workers reduce slabs.
struct SliceSampler::State : sampling::FeedRules {
    State(std::int32_t width, std::int32_t height, std::int64_t slices, const Selection& chosen,
          SampleType samples, const SampleOptions& options)
        : FeedRules{width, height, slices}, selection(chosen, samples),
          test(this->selection.Table()), count(options.countVoxels),
          pipeline(0, sampling::Workers(options.threads, Slices()), nullptr),
          planes(W, H, Slices(), pipeline) {}
    // Compiled from a copy: the test reads its table, and the caller's selection may be a
    // temporary.
    const SampleSelection selection;
    const sampling::ObjectTest test;
    std::vector<std::uint16_t> row;  // a row of codes or of 8-bit samples widened
    const bool count;
    sampling::OrderedPipeline<sampling::RowExtents> pipeline;
    sampling::PlaneLoop planes;
};

SliceSampler::SliceSampler(std::int32_t W, std::int32_t H, std::int64_t N,
                           const Selection& selection, const SampleOptions& options)
    : SliceSampler(W, H, N, selection, SampleType{}, options) {}

SliceSampler::SliceSampler(std::int32_t W, std::int32_t H, std::int64_t N,
                           const Selection& selection, SampleType samples,
                           const SampleOptions& options) {
    sampling::FeedRules::CheckSize(W, H, N);
    try {
        state_ = std::make_unique<State>(W, H, N, selection, samples, options);
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, sampling::kSamplingMemory);
    }
}

// Each row as the 16-bit words the test reads: uint16 rows as they are, other types turned into
// the stored bits of 8- and 16-bit integers or the codes of wider kinds.
template <class T>
void SliceSampler::Add(const T* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h) {
    State& s = *state_;
    if (!FeedsKind<T>(s.selection.Type()))
        Fail(Error::Kind::Argument, "sampler: samples of another kind.");
    s.CheckSlice(w, h);
    try {
        sampling::SliceReduction reduction(s.W, s.H, s.test, s.count);
        for (std::int32_t y = 0; y < h; ++y) {
            const T* row = samples + y * rowStride;
            const std::uint16_t* words = RowWords(s.selection, row, w, s.row);
            reduction.Row(y, words, w);
        }
        sampling::RowExtents extents = reduction.Finish();
        voxels_ += extents.voxels;
        s.planes.Add(std::move(extents));
        ++s.added;
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, sampling::kSamplingMemory);
    }
}

#define VOXWRAP_ADD(T)                                                                             \
    template void SliceSampler::Add(const T*, std::ptrdiff_t, std::int32_t, std::int32_t);
VOXWRAP_SAMPLE_TYPES(VOXWRAP_ADD)
#undef VOXWRAP_ADD

SliceSampler::~SliceSampler() = default;

Points SliceSampler::Finish() {
    State& s = *state_;
    s.CheckFinish();
    try {
        return s.planes.Finish();
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, sampling::kSamplingMemory);
    }
}

}  // namespace voxwrap
