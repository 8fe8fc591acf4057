#include "driver/sampling.h"

#include <cstdint>
#include <cstring>
#include <new>

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
                            const unsigned char* grayTable, SamplingWatch* watch,
                            const std::vector<TiffPage>* pages) {
    const std::int64_t N = static_cast<std::int64_t>(paths.size());
    const std::int64_t area = Product(W, H);
    auto flags = AllocateRaw<unsigned char>(area);
    auto samples = AllocateRaw<std::uint16_t>(area);
    auto rows = AllocateRaw<std::uint16_t*>(H);
    for (std::int32_t y = 0; y < H; ++y)
        rows[y] = samples.get() + std::int64_t{y} * W;
    std::memset(flags.get(), 0, static_cast<std::size_t>(area));

    SamplingPoints points;
    PlaneSampler sampler(H, points);
    const std::int64_t capacity = Product(2 * std::int64_t{H} + 2, N + 1);
    points.IX = AllocateRaw<std::int32_t>(capacity);
    points.IY = AllocateRaw<std::int32_t>(capacity);
    points.IZ = AllocateRaw<std::int32_t>(capacity);

    // Plane k holds the bottom faces of slice k and the top faces of slice k-1: a pixel counts
    // when either slice has it. The flags carry slice k-1's classification and afterwards hold
    // slice k's: the flag becomes the table entry whatever it was.
    std::int64_t voxels = 0;  // table entries are 0 or 1
    for (std::int64_t k = 0; k < N; ++k) {
        ReadSliceImage(paths[static_cast<std::size_t>(k)].c_str(), W, H, rows.get(), nullptr,
                       pages ? &(*pages)[static_cast<std::size_t>(k)] : nullptr);
        sampler.StartPlane();
        for (std::int32_t y = 0; y < H; ++y) {
            unsigned char* flag = flags.get() + std::int64_t{y} * W;
            const std::uint16_t* sample = rows[y];
            std::int32_t u = -1, v = -1;
            for (std::int32_t x = 0; x < W; ++x) {
                const unsigned char t = grayTable[sample[x]];
                voxels += t;
                const unsigned char counts = flag[x] | t;
                flag[x] = t;
                if (counts != 0) {
                    if (u < 0) u = x;
                    v = x;
                }
            }
            if (u >= 0) sampler.Row(u, v, y);
        }
        sampler.Collect(static_cast<std::int32_t>(k));
        if (watch != nullptr && watch->sliceRead) watch->sliceRead(k + 1, N);
    }
    if (watch != nullptr) watch->voxels = voxels;
    // The last plane z = N holds the top faces of the last slice, from the flags alone.
    sampler.StartPlane();
    for (std::int32_t y = 0; y < H; ++y) {
        const unsigned char* flag = flags.get() + std::int64_t{y} * W;
        std::int32_t u = -1, v = -1;
        for (std::int32_t x = 0; x < W; ++x) {
            if (flag[x] != 0) {
                if (u < 0) u = x;
                v = x;
            }
        }
        if (u >= 0) sampler.Row(u, v, y);
    }
    sampler.Collect(static_cast<std::int32_t>(N));
    return points;
}
