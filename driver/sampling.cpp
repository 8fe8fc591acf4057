#include "driver/sampling.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

#include "driver/error.h"
#include "slices/rsi.h"

namespace {

constexpr const char* kSamplingMemory = "no allocatable memory for sampling points.";

// Sizes are computed in 64 bits; one that cannot be represented is a failed allocation.
std::int64_t Product(std::int64_t a, std::int64_t b) {
    std::int64_t p = 0;
    if (a < 0 || b < 0 || __builtin_mul_overflow(a, b, &p)) Error(kSamplingMemory);
    return p;
}

// Uninitialised storage: the worst-case arrays are large, and only the part that is written ever
// becomes resident.
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
    PlaneSampler(std::int32_t H, SamplingPoints& points)
        : LX(AllocateRaw<std::int32_t>(std::int64_t{H} + 1)),
          LY(AllocateRaw<std::int32_t>(std::int64_t{H} + 1)),
          RX(AllocateRaw<std::int32_t>(std::int64_t{H} + 1)),
          RY(AllocateRaw<std::int32_t>(std::int64_t{H} + 1)), points_(points) {}

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
    void Collect(std::int32_t z) {
        if (!started_) return;
        std::int32_t* IX = points_.IX.get();
        std::int32_t* IY = points_.IY.get();
        std::int32_t* IZ = points_.IZ.get();
        std::int64_t n = points_.n;
        std::int32_t j = 0, i = 0;
        while (j <= nL_ || i <= nR_) {
            if (i > nR_ || (j <= nL_ && LY[j] <= RY[i])) {
                IX[n] = LX[j];
                IY[n] = LY[j];
                ++j;
            } else {
                IX[n] = 1 - RX[i];  // back from the mirrored -v to the cube's right side v + 1
                IY[n] = RY[i];
                ++i;
            }
            IZ[n] = z;
            ++n;
        }
        points_.n = n;
    }

  private:
    std::unique_ptr<std::int32_t[]> LX, LY, RX, RY;
    SamplingPoints& points_;
    std::int32_t nL_ = 0, nR_ = 0;
    bool started_ = false;
};

// The first and last object column of every row of one slice; -1 in both for a row without
// object samples.
struct RowExtents {
    explicit RowExtents(std::int32_t H)
        : first(AllocateRaw<std::int32_t>(H)), last(AllocateRaw<std::int32_t>(H)) {
        std::fill(first.get(), first.get() + H, -1);
        std::fill(last.get(), last.get() + H, -1);
    }
    std::unique_ptr<std::int32_t[]> first, last;
};

// The gray-level test: a sample belongs to the object when its table entry is not 0.
class ObjectTest {
  public:
    explicit ObjectTest(const unsigned char* table) : table_(table) {}

    // The first column in [from, to) whose sample is an object sample; to when there is none.
    std::int32_t First(const std::uint16_t* row, std::int32_t from, std::int32_t to) const {
        std::int32_t x = from;
        while (x < to && table_[row[x]] == 0)
            ++x;
        return x;
    }
    // The last column in [from, to) whose sample is an object sample; from - 1 when there is none.
    std::int32_t Last(const std::uint16_t* row, std::int32_t from, std::int32_t to) const {
        std::int32_t x = to - 1;
        while (x >= from && table_[row[x]] == 0)
            --x;
        return x;
    }

  private:
    const unsigned char* table_;
};

// Each row is scanned from both ends, and each scan stops at its first object sample: the
// samples between the two ends play no part in the plane's polygon.
void ReduceRows(const std::uint16_t* const* rows, std::int32_t W, std::int32_t H,
                const ObjectTest& test, RowExtents& out) {
    for (std::int32_t y = 0; y < H; ++y) {
        const std::int32_t u = test.First(rows[y], 0, W);
        if (u == W) {
            out.first[y] = out.last[y] = -1;
            continue;
        }
        out.first[y] = u;
        out.last[y] = test.Last(rows[y], u, W);
    }
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

SamplingPoints SampleSlices(const std::vector<std::string>& paths, std::int32_t W, std::int32_t H,
                            const unsigned char* grayTable) {
    const std::int64_t N = static_cast<std::int64_t>(paths.size());
    const std::int64_t area = Product(W, H);
    auto samples = AllocateRaw<std::uint16_t>(area);
    auto rows = AllocateRaw<std::uint16_t*>(H);
    for (std::int32_t y = 0; y < H; ++y)
        rows[y] = samples.get() + std::int64_t{y} * W;
    const ObjectTest test(grayTable);
    RowExtents previous(H), current(H);

    SamplingPoints points;
    PlaneSampler sampler(H, points);
    const std::int64_t capacity = Product(2 * std::int64_t{H} + 2, N + 1);
    points.IX = AllocateRaw<std::int32_t>(capacity);
    points.IY = AllocateRaw<std::int32_t>(capacity);
    points.IZ = AllocateRaw<std::int32_t>(capacity);

    // Plane k holds the bottom faces of slice k and the top faces of slice k-1: a pixel counts
    // when either slice has it, so a row's extent in the plane is the union of its extents in
    // the two slices. Before slice 0 no row has an extent.
    for (std::int64_t k = 0; k < N; ++k) {
        ReadSliceImage(paths[static_cast<std::size_t>(k)].c_str(), W, H, rows.get());
        ReduceRows(rows.get(), W, H, test, current);
        sampler.StartPlane();
        for (std::int32_t y = 0; y < H; ++y) {
            std::int32_t u = current.first[y], v = current.last[y];
            if (previous.first[y] >= 0) {
                if (u < 0 || previous.first[y] < u) u = previous.first[y];
                if (previous.last[y] > v) v = previous.last[y];
            }
            if (u >= 0) sampler.Row(u, v, y);
        }
        sampler.Collect(static_cast<std::int32_t>(k));
        std::swap(previous, current);
    }
    // The last plane z = N holds the top faces of the last slice alone.
    sampler.StartPlane();
    for (std::int32_t y = 0; y < H; ++y) {
        if (previous.first[y] >= 0) sampler.Row(previous.first[y], previous.last[y], y);
    }
    sampler.Collect(static_cast<std::int32_t>(N));
    return points;
}
