#include "driver/sampling.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/failure.h"
#include "driver/error.h"
#include "hull/storage.h"
#include "slices/rsi.h"

namespace {

constexpr const char* kSamplingMemory = "no allocatable memory for sampling points.";

// The hull accepts coordinates up to 2^28 - 1; beyond, the whole set goes to it unreduced, so
// that it reports the same point as it always did.
constexpr std::int32_t kCoordinateLimit = 268435455;

// A slab is closed once it holds this many points. Larger slabs leave fewer points to the whole
// hull but cost more each; the result does not depend on the choice.
constexpr std::size_t kSlabPoints = 8192;

// Uninitialised storage; a count that cannot be had is a failed allocation.
template <class T>
std::unique_ptr<T[]> AllocateRaw(std::int64_t count) {
    if (count < 0 || static_cast<std::uint64_t>(count) > PTRDIFF_MAX / sizeof(T))
        Error(kSamplingMemory);
    T* p = new (std::nothrow) T[static_cast<std::size_t>(count == 0 ? 1 : count)];
    if (p == nullptr) Error(kSamplingMemory);
    return std::unique_ptr<T[]>(p);
}

// The two chains of one plane: the left ends of its rows, and the right ends mirrored in x, so
// that one chain rule serves both sides. Each holds at most one point per y in 0..H.
class PlaneSampler {
  public:
    explicit PlaneSampler(std::int32_t H)
        : LX(AllocateRaw<std::int32_t>(std::int64_t{H} + 1)),
          LY(AllocateRaw<std::int32_t>(std::int64_t{H} + 1)),
          RX(AllocateRaw<std::int32_t>(std::int64_t{H} + 1)),
          RY(AllocateRaw<std::int32_t>(std::int64_t{H} + 1)) {}

    void StartPlane() { started_ = false; }

    // Row y of the plane counts from column u to column v.
    void Row(std::int32_t u, std::int32_t v, std::int32_t y) {
        if (!started_) {
            LX[0] = LX[1] = u;
            RX[0] = RX[1] = -v;
            LY[0] = RY[0] = y;
            LY[1] = RY[1] = y + 1;
            nL_ = nR_ = 1;
            started_ = true;
            return;
        }
        nL_ = Append(nL_, LX.get(), LY.get(), u, y);
        nR_ = Append(nR_, RX.get(), RY.get(), -v, y);
    }

    // Appends the plane's corners ordered by y, the left one first on equal y.
    void Collect(std::int32_t z, PlanePoints& out) {
        if (!started_) return;
        std::int32_t j = 0, i = 0;
        while (j <= nL_ || i <= nR_) {
            if (i > nR_ || (j <= nL_ && LY[j] <= RY[i])) {
                out.X.push_back(LX[j]);
                out.Y.push_back(LY[j]);
                ++j;
            } else {
                out.X.push_back(1 - RX[i]);  // back from the mirrored -v to the right side v + 1
                out.Y.push_back(RY[i]);
                ++i;
            }
            out.Z.push_back(z);
        }
    }

  private:
    std::unique_ptr<std::int32_t[]> LX, LY, RX, RY;
    std::int32_t nL_ = 0, nR_ = 0;
    bool started_ = false;
};

// The first and last object column of every row of one slice; -1 in both for a row without
// object samples.
struct RowExtents {
    explicit RowExtents(std::int32_t H)
        : first(AllocateRaw<std::int32_t>(H)), last(AllocateRaw<std::int32_t>(H)) {}
    std::unique_ptr<std::int32_t[]> first, last;
    std::int64_t voxels = 0;  // object samples of the whole grid, padding included, when counted
};

// The gray-level test: a sample belongs to the object when its table entry is not 0. A range
// list of a few intervals, the usual case, is tested eight samples at a time; the table and the
// intervals say the same, since the intervals are read off the table.
class ObjectTest {
  public:
    explicit ObjectTest(const unsigned char* table) : table_(table) {
        for (std::uint32_t v = 0; v < 65536;) {
            if (table[v] == 0) {
                ++v;
                continue;
            }
            const std::uint32_t lo = v;
            while (v < 65536 && table[v] != 0)
                ++v;
            if (count_ == kMaxIntervals) {
                count_ = 0;  // too many: the table alone
                break;
            }
            lo_[count_] = static_cast<std::uint16_t>(lo);
            span_[count_] = static_cast<std::uint16_t>(v - 1 - lo);
            ++count_;
        }
    }

    // The first column in [from, to) whose sample is an object sample; to when there is none.
    std::int32_t First(const std::uint16_t* row, std::int32_t from, std::int32_t to) const {
        std::int32_t x = from;
#if defined(__SSE2__)
        if (count_ > 0) {
            for (; x + 8 <= to; x += 8) {
                const unsigned mask = Mask(row + x);
                if (mask != 0) return x + __builtin_ctz(mask) / 2;
            }
        }
#endif
        while (x < to && table_[row[x]] == 0)
            ++x;
        return x;
    }
    // The last column in [from, to) whose sample is an object sample; from - 1 when there is none.
    std::int32_t Last(const std::uint16_t* row, std::int32_t from, std::int32_t to) const {
        std::int32_t x = to;  // columns x and beyond are known not to hold one
#if defined(__SSE2__)
        if (count_ > 0) {
            for (; x - 8 >= from; x -= 8) {
                const unsigned mask = Mask(row + x - 8);
                if (mask != 0) return x - 8 + (31 - __builtin_clz(mask)) / 2;
            }
        }
#endif
        while (x > from && table_[row[x - 1]] == 0)
            --x;
        return x - 1;
    }

    // The number of object samples in [0, to).
    std::int64_t Count(const std::uint16_t* row, std::int32_t to) const {
        std::int64_t count = 0;
        std::int32_t x = 0;
#if defined(__SSE2__)
        if (count_ > 0) {
            for (; x + 8 <= to; x += 8)
                count += __builtin_popcount(Mask(row + x)) / 2;
        }
#endif
        for (; x < to; ++x)
            count += table_[row[x]] != 0;
        return count;
    }

  private:
    static constexpr int kMaxIntervals = 4;

#if defined(__SSE2__)
    // Two bits per sample of the eight at p, set for an object sample. A value v lies in
    // [lo, lo + span] when v - lo, wrapped to 16 bits, is at most span: the saturating difference
    // (v - lo) - span is then 0.
    unsigned Mask(const std::uint16_t* p) const {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i in = _mm_setzero_si128();
        for (int i = 0; i < count_; ++i) {
            const __m128i d = _mm_sub_epi16(v, _mm_set1_epi16(static_cast<short>(lo_[i])));
            const __m128i over = _mm_subs_epu16(d, _mm_set1_epi16(static_cast<short>(span_[i])));
            in = _mm_or_si128(in, _mm_cmpeq_epi16(over, _mm_setzero_si128()));
        }
        return static_cast<unsigned>(_mm_movemask_epi8(in));
    }
#endif

    const unsigned char* table_;
    int count_ = 0;  // intervals in use; 0: the table decides
    std::uint16_t lo_[kMaxIntervals] = {}, span_[kMaxIntervals] = {};
};

// Loads slices into its own W x H grid and reduces them to row extents. Each row is scanned from
// both ends, and each scan stops at its first object sample: the samples between the two ends
// play no part in the plane's polygon.
class SliceReducer {
  public:
    SliceReducer(std::int32_t W, std::int32_t H)
        : W_(W), H_(H), samples_(AllocateRaw<std::uint16_t>(std::int64_t{W} * H)),
          rows_(AllocateRaw<std::uint16_t*>(H)) {
        for (std::int32_t y = 0; y < H; ++y)
            rows_[y] = samples_.get() + std::int64_t{y} * W;
    }

    // warnings: as for ReadSliceImage (null: standard error at once).
    // With count, every object sample of the grid is counted as well.
    RowExtents Reduce(const std::string& path, const TiffPage* page, const ObjectTest& test,
                      bool count, std::string* warnings) {
        ReadSliceImage(path.c_str(), W_, H_, rows_.get(), warnings, page);
        RowExtents out(H_);
        for (std::int32_t y = 0; y < H_; ++y) {
            if (count) out.voxels += test.Count(rows_[y], W_);
            const std::int32_t u = test.First(rows_[y], 0, W_);
            out.first[y] = u < W_ ? u : -1;
            out.last[y] = u < W_ ? test.Last(rows_[y], u, W_) : -1;
        }
        return out;
    }

  private:
    std::int32_t W_, H_;
    std::unique_ptr<std::uint16_t[]> samples_;
    std::unique_ptr<std::uint16_t*[]> rows_;
};

// The work of one run, shared between the calling thread, which consumes slices in order and
// builds the planes, and the workers, which read and reduce slices and reduce slabs. Workers take
// slices in order, at most a few ahead of the consumer, so at most one grid per worker and a few
// row extents are held. Slabs go first: they are what the consumer waits for at the end.
// Without workers every task runs on the calling thread when it is asked for.
class Pipeline {
  public:
    Pipeline(const std::vector<std::string>& paths, const std::vector<TiffPage>* pages,
             std::int32_t W, std::int32_t H, const ObjectTest& test, bool count, unsigned threads,
             std::function<void(const std::string&)> warning)
        : paths_(paths), pages_(pages), W_(W), H_(H), test_(test), count_(count),
          warning_(std::move(warning)), slices_(paths.size()),
          window_(2 * std::size_t{threads} + 2) {
        if (threads <= 1) return;
        try {
            for (unsigned t = 0; t < threads; ++t)
                workers_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for, or none and everything on this one: the same work.
        }
    }
    ~Pipeline() { Stop(); }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // The row extents of slice k, taken in order k = 0, 1, ...; throws the slice's failure.
    RowExtents TakeSlice(std::size_t k) {
        Slice& s = slices_[k];
        if (workers_.empty()) {
            if (!inline_) inline_ = std::make_unique<SliceReducer>(W_, H_);
            if (!warning_) return inline_->Reduce(paths_[k], Page(k), test_, count_, nullptr);
            std::string warnings;
            try {
                RowExtents extents = inline_->Reduce(paths_[k], Page(k), test_, count_, &warnings);
                Warn(warnings);
                return extents;
            } catch (...) {
                Warn(warnings);
                throw;
            }
        }
        std::unique_lock<std::mutex> lock(mutex_);
        taken_ = k + 1;  // the window moves on
        changed_.notify_all();
        changed_.wait(lock, [&] { return s.done; });
        // The slice's warnings come out now, in slice order, and before its failure.
        Warn(s.warnings);
        s.warnings = std::string();
        if (s.failure) std::rethrow_exception(s.failure);
        const std::unique_ptr<RowExtents> extents = std::move(s.extents);
        return std::move(*extents);
    }

    // Hands a slab of points over for reduction; slabs are numbered in submission order.
    void SubmitSlab(PlanePoints slab, bool reduce) {
        if (workers_.empty()) {
            if (reduce) KeepSlabCorners(slab);
            slabs_.push_back(Slab{std::move(slab), true});
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        slabs_.push_back(Slab{std::move(slab), !reduce});
        if (reduce) pendingSlabs_.push_back(slabs_.size() - 1);
        changed_.notify_all();
    }

    // Every slab's points, reduced, in submission order.
    std::vector<PlanePoints> TakeSlabs() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
            return std::all_of(slabs_.begin(), slabs_.end(), [](const Slab& s) { return s.done; });
        });
        std::vector<PlanePoints> out;
        for (Slab& s : slabs_)
            out.push_back(std::move(s.points));
        return out;
    }

  private:
    struct Slice {
        bool done = false;
        std::unique_ptr<RowExtents> extents;
        std::exception_ptr failure;
        std::string warnings;  // whole lines, held until the slice is taken
    };
    struct Slab {
        PlanePoints points;
        bool done = false;
    };

    void Work() {
        std::unique_ptr<SliceReducer> reducer;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] {
                return stop_ || !pendingSlabs_.empty() ||
                       (next_ < slices_.size() && next_ < taken_ + window_);
            });
            if (stop_) return;
            if (!pendingSlabs_.empty()) {
                Slab& slab = slabs_[pendingSlabs_.front()];
                pendingSlabs_.pop_front();
                PlanePoints points = std::move(slab.points);
                lock.unlock();
                KeepSlabCorners(points);
                lock.lock();
                slab.points = std::move(points);
                slab.done = true;
                changed_.notify_all();
                continue;
            }
            const std::size_t k = next_++;
            lock.unlock();
            std::unique_ptr<RowExtents> extents;
            std::exception_ptr failure;
            std::string warnings;
            try {
                if (!reducer) reducer = std::make_unique<SliceReducer>(W_, H_);
                extents = std::make_unique<RowExtents>(
                    reducer->Reduce(paths_[k], Page(k), test_, count_, &warnings));
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            slices_[k].extents = std::move(extents);
            slices_[k].failure = failure;
            slices_[k].warnings = std::move(warnings);
            slices_[k].done = true;
            changed_.notify_all();
        }
    }

    // Hands a slice's warnings to the caller, or to standard error.
    void Warn(const std::string& lines) const {
        if (lines.empty()) return;
        if (warning_) {
            warning_(lines);
        } else {
            std::fputs(lines.c_str(), stderr);
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        for (std::thread& t : workers_)
            t.join();
        workers_.clear();
    }

    // Slice k's image within its file: a stack file's page, or the first image.
    const TiffPage* Page(std::size_t k) const { return pages_ ? &(*pages_)[k] : nullptr; }

    const std::vector<std::string>& paths_;
    const std::vector<TiffPage>* pages_;
    const std::int32_t W_, H_;
    const ObjectTest& test_;
    const bool count_;
    const std::function<void(const std::string&)> warning_;
    std::unique_ptr<SliceReducer> inline_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slice> slices_;
    std::size_t next_ = 0, taken_ = 0;
    const std::size_t window_;
    std::deque<Slab> slabs_;  // a deque: a worker's reference survives the consumer's push_back
    std::deque<std::size_t> pendingSlabs_;
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

// True when some four of the points are not coplanar. Coordinates lie within the hull's limit, so
// differences stay below 2^29 and the cross products below 2^59.
bool IsSolid(const PlanePoints& p) {
    const std::size_t n = p.size();
    if (n < 6) return false;  // too few for the hull, and never a slab of two sampling planes
    using Vector = std::array<std::int64_t, 3>;
    auto d = [&p](std::size_t i) {
        return Vector{std::int64_t{p.X[i]} - p.X[0], std::int64_t{p.Y[i]} - p.Y[0],
                      std::int64_t{p.Z[i]} - p.Z[0]};
    };
    std::size_t i = 1;
    while (i < n && d(i) == Vector{0, 0, 0})
        ++i;
    std::size_t j = i + 1;
    for (; j < n; ++j) {
        const Vector a = d(i), b = d(j);
        if (a[1] * b[2] != a[2] * b[1] || a[2] * b[0] != a[0] * b[2] || a[0] * b[1] != a[1] * b[0])
            break;
    }
    for (std::size_t k = j + 1; k < n; ++k) {
        // The hull's exact orientation test, on 1-based point numbers.
        const std::int32_t P[4] = {1, static_cast<std::int32_t>(i + 1),
                                   static_cast<std::int32_t>(j + 1),
                                   static_cast<std::int32_t>(k + 1)};
        if (jd1sss(P, p.X.data(), p.Y.data(), p.Z.data()) != 0) return true;
    }
    return false;
}

}  // namespace

std::int32_t Append(std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t x,
                    std::int32_t y) {
    // Point k stays only while the turn from k-1 through k to the new point is strictly
    // clockwise; a collinear point leaves. Entry 0 always stays.
    auto keeps = [X, Y](std::int32_t k, std::int64_t px, std::int64_t py) {
        return (X[k - 1] - px) * (Y[k] - py) < (X[k] - px) * (Y[k - 1] - py);
    };
    std::int32_t k = n;
    while (k >= 1 && !keeps(k, x, y))
        --k;
    X[k + 1] = x;
    Y[k + 1] = y;
    if (x < X[k]) {
        X[k + 2] = x;
        Y[k + 2] = y + 1;
        return k + 2;
    }
    // (x, y) would leave at once when (x, y + 1) arrives: add only the lower point.
    std::int32_t j = k;
    while (j >= 1 && !keeps(j, x, std::int64_t{y} + 1))
        --j;
    X[j + 1] = x;
    Y[j + 1] = y + 1;
    return j + 1;
}

void KeepSlabCorners(PlanePoints& slab) {
    // A flat set has no corners in the sense of MarkExtremePoints (every vertex sees one plane):
    // only a solid is reduced. Sampling planes are polygons of positive area, so a slab of two
    // planes or more is solid; this checks it rather than rely on it.
    if (!IsSolid(slab)) return;
    const std::size_t n = slab.size();
    try {
        HullStorage hull;
        hull.SizePoints(static_cast<std::int64_t>(n));
        std::copy(slab.X.begin(), slab.X.end(), hull.IX.begin());
        std::copy(slab.Y.begin(), slab.Y.end(), hull.IY.begin());
        std::copy(slab.Z.begin(), slab.Z.end(), hull.IZ.begin());
        hull.SizeCells();
        const auto count = static_cast<std::int32_t>(n);
        FirstHull(count, hull);
        const auto kept = static_cast<std::size_t>(KeepExtremePoints(hull));
        slab.X.assign(hull.IX.begin(), hull.IX.begin() + kept);
        slab.Y.assign(hull.IY.begin(), hull.IY.begin() + kept);
        slab.Z.assign(hull.IZ.begin(), hull.IZ.begin() + kept);
    } catch (const std::bad_alloc&) {
    } catch (const Failure&) {
        // Every point stays: the hull of the whole set decides, and reports, as it always did.
    }
}

namespace {

SamplingPoints Sample(const std::vector<std::string>& paths, const std::vector<TiffPage>* pages,
                      std::int32_t W, std::int32_t H, const unsigned char* grayTable,
                      SamplingWatch* watch, unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t N = paths.size();
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(N, 1)));
    const bool reduce = W <= kCoordinateLimit && H <= kCoordinateLimit &&
                        N <= static_cast<std::size_t>(kCoordinateLimit);
    const ObjectTest test(grayTable);
    PlaneSampler sampler(H);
    const bool count = watch != nullptr && watch->countVoxels;
    Pipeline pipeline(paths, pages, W, H, test, count, threads,
                      watch != nullptr ? watch->warning : nullptr);
    PlanePoints slab;
    auto collect = [&](std::size_t z) {
        sampler.Collect(static_cast<std::int32_t>(z), slab);
        if (slab.size() < kSlabPoints) return;
        pipeline.SubmitSlab(std::move(slab), reduce);
        slab = PlanePoints();
    };

    // Plane k holds the bottom faces of slice k and the top faces of slice k-1: a pixel counts
    // when either slice has it, so a row's extent in the plane is the union of its extents in
    // the two slices. Before slice 0 no row has an extent.
    RowExtents previous(H);
    std::fill(previous.first.get(), previous.first.get() + H, -1);
    std::fill(previous.last.get(), previous.last.get() + H, -1);
    std::int64_t voxels = 0;
    for (std::size_t k = 0; k < N; ++k) {
        RowExtents current = pipeline.TakeSlice(k);
        sampler.StartPlane();
        for (std::int32_t y = 0; y < H; ++y) {
            std::int32_t u = current.first[y], v = current.last[y];
            if (previous.first[y] >= 0) {
                if (u < 0 || previous.first[y] < u) u = previous.first[y];
                if (previous.last[y] > v) v = previous.last[y];
            }
            if (u >= 0) sampler.Row(u, v, y);
        }
        collect(k);
        voxels += current.voxels;
        previous = std::move(current);
        if (watch != nullptr && watch->sliceRead) {
            watch->sliceRead(static_cast<std::int64_t>(k) + 1, static_cast<std::int64_t>(N));
        }
    }
    if (watch != nullptr) watch->voxels = voxels;
    // The last plane z = N holds the top faces of the last slice alone.
    sampler.StartPlane();
    for (std::int32_t y = 0; y < H; ++y) {
        if (previous.first[y] >= 0) sampler.Row(previous.first[y], previous.last[y], y);
    }
    collect(N);
    pipeline.SubmitSlab(std::move(slab), reduce);

    const std::vector<PlanePoints> slabs = pipeline.TakeSlabs();
    SamplingPoints points;
    for (const PlanePoints& s : slabs)
        points.n += static_cast<std::int64_t>(s.size());
    points.IX = AllocateRaw<std::int32_t>(points.n);
    points.IY = AllocateRaw<std::int32_t>(points.n);
    points.IZ = AllocateRaw<std::int32_t>(points.n);
    std::int64_t at = 0;
    for (const PlanePoints& s : slabs) {
        std::copy(s.X.begin(), s.X.end(), points.IX.get() + at);
        std::copy(s.Y.begin(), s.Y.end(), points.IY.get() + at);
        std::copy(s.Z.begin(), s.Z.end(), points.IZ.get() + at);
        at += static_cast<std::int64_t>(s.size());
    }
    return points;
}

}  // namespace

SamplingPoints SampleSlices(const std::vector<std::string>& paths, std::int32_t W, std::int32_t H,
                            const unsigned char* grayTable, SamplingWatch* watch, unsigned threads,
                            const std::vector<TiffPage>* pages) {
    try {
        return Sample(paths, pages, W, H, grayTable, watch, threads);
    } catch (const std::bad_alloc&) {
        Error(kSamplingMemory);
    }
}
