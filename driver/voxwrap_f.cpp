// The run, in order: slice list and common size, gray-level table, sampling of every plane, the
// hull of the sampling points and then of its extreme points, and only then the output.
#include "driver/voxwrap_f.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "driver/error.h"
#include "driver/output.h"
#include "driver/rl.h"
#include "driver/sampling.h"
#include "driver/stl.h"
#include "hull/storage.h"
#include "slices/csi.h"

namespace {

constexpr const char* kUsage = "usage : voxwrap directory nameFile rangeList STL";

// Single precision holds every integer up to 2^24 exactly; a coordinate beyond would be rounded
// in the STL (a pixel at x = 2^24 + 1 would come out two units wide).
constexpr std::int64_t kExactFloat = std::int64_t{1} << 24;
constexpr const char* kTooLarge =
    "stack too large for exact STL coordinates (at most 16777216 columns, rows and slices).";

// Moves the sampling points into the hull's point arrays; the worst-case sampling arrays are
// released before the hull's cell arrays are allocated, so the peak is the larger stage alone.
std::int32_t StorePoints(SamplingPoints points, HullStorage& hull) {
    hull.SizePoints(points.n);
    const auto bytes = static_cast<std::size_t>(points.n) * sizeof(std::int32_t);
    std::memcpy(hull.IX.data(), points.IX.get(), bytes);
    std::memcpy(hull.IY.data(), points.IY.get(), bytes);
    std::memcpy(hull.IZ.data(), points.IZ.get(), bytes);
    return static_cast<std::int32_t>(points.n);
}

int Run(int argc, char** argv) {
    if (argc != 5) Error(kUsage);
    IgnoreWriteSignals();
    std::int32_t W = 0, H = 0;
    const std::vector<std::string> paths =
        CheckSliceImages(argv[1], argv[2], &W, &H, nullptr, nullptr);
    std::vector<unsigned char> grayTable(65536);
    RangeList(argv[3], 65535, grayTable.data());
    // A list that selects no value ("", ",,,") can find no object: say so before reading a slice.
    if (std::find(grayTable.begin(), grayTable.end(), 1) == grayTable.end()) Error("no object.");
    if (W > kExactFloat || H > kExactFloat || std::int64_t(paths.size()) > kExactFloat)
        Error(kTooLarge);

    SamplingPoints points = SampleSlices(paths, W, H, grayTable.data());
    if (points.n == 0) Error("no object.");
    HullStorage hull;
    const std::int32_t n = StorePoints(std::move(points), hull);
    hull.SizeCells();
    FirstHull(n, hull);
    SecondHull(hull);

    // Only now, with the hull complete, is the output touched.
    Output out = OpenOutput(argv[4]);
    WriteStl(out.stream, hull);
    CloseOutput(out);
    return 0;
}

}  // namespace

int Voxwrap(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const Failure& f) {
        RemoveTemporaryOutput();
        std::fprintf(stderr, "%s\n", f.text.c_str());
        return 1;
    }
}
