// Blocks of a larger volume: each reduced to the corners of its own hull in the whole's
// coordinates, then combined. The block's samples go through the samplers of a whole volume
// (SliceSampler, or ObjectSampler for labels), so a block costs what a volume of its size costs.
#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <numeric>
#include <tuple>
#include <utility>

#include "common/failure.h"
#include "sample/objects.h"
#include "sample/selection.h"
#include "sample/slabs.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

namespace {

constexpr const char* kBlockMemory = "no allocatable memory for sampling points.";

// Sorted by (z, y, x), each point once, then only the corners of their hull when they hold a
// solid. Sorting first makes the result the same for every grouping of the same points.
void KeepCorners(Points& p) {
    std::vector<std::size_t> order(p.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto key = [&p](std::size_t i) { return std::make_tuple(p.z[i], p.y[i], p.x[i]); };
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
    Points sorted;
    sorted.x.reserve(p.size());
    sorted.y.reserve(p.size());
    sorted.z.reserve(p.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t i = order[k];
        if (k > 0 && key(order[k - 1]) == key(i)) continue;
        sorted.push_back(p.x[i], p.y[i], p.z[i]);
    }
    // A flat or degenerate set keeps every point: the hull of a larger union decides.
    sampling::KeepSlabCorners(sorted);
    p = std::move(sorted);
}

void Shift(Points& p, std::int32_t x0, std::int32_t y0, std::int32_t z0) {
    for (std::size_t k = 0; k < p.size(); ++k) {
        p.x[k] += x0;
        p.y[k] += y0;
        p.z[k] += z0;
    }
}

void Append(Points& to, const Points& from) {
    to.x.insert(to.x.end(), from.x.begin(), from.x.end());
    to.y.insert(to.y.end(), from.y.begin(), from.y.end());
    to.z.insert(to.z.end(), from.z.begin(), from.z.end());
}

}  // namespace

struct BlockSampler::State {
    std::int32_t offset[3];  // x0, y0, z0
    std::int32_t w, h;
    std::unique_ptr<SliceSampler> one;
    std::unique_ptr<ObjectSampler> labels;
};

BlockSampler::BlockSampler(std::int32_t w, std::int32_t h, std::int32_t n, std::int32_t x0,
                           std::int32_t y0, std::int32_t z0, const Selection& selection,
                           bool labels, const SampleOptions& options) {
    Init(w, h, n, x0, y0, z0, selection, nullptr, labels, options);
}

BlockSampler::BlockSampler(std::int32_t w, std::int32_t h, std::int32_t n, std::int32_t x0,
                           std::int32_t y0, std::int32_t z0, const Selection& selection,
                           SampleType samples, bool labels, const SampleOptions& options) {
    Init(w, h, n, x0, y0, z0, selection, &samples, labels, options);
}

void BlockSampler::Init(std::int32_t w, std::int32_t h, std::int32_t n, std::int32_t x0,
                        std::int32_t y0, std::int32_t z0, const Selection& selection,
                        const SampleType* samples, bool labels, const SampleOptions& options) {
    // The block's far corner, x0 + w and the like, is a point of its hull.
    const std::int64_t ends[3] = {std::int64_t{x0} + w, std::int64_t{y0} + h, std::int64_t{z0} + n};
    for (int i = 0; i < 3; ++i) {
        if (ends[i] > kCoordinateLimit || (i == 0 ? x0 : i == 1 ? y0 : z0) < 0)
            Fail(Error::Kind::Argument, "block: beyond the coordinate limit.");
    }
    try {
        state_ = std::make_unique<State>();
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, kBlockMemory);
    }
    State& s = *state_;
    s.offset[0] = x0;
    s.offset[1] = y0;
    s.offset[2] = z0;
    s.w = w;
    s.h = h;
    SampleOptions counting = options;
    counting.countVoxels = true;
    if (labels && samples != nullptr) {
        s.labels =
            std::make_unique<ObjectSampler>(w, h, n, selection, *samples, ObjectRule{}, counting);
    } else if (labels) {
        s.labels = std::make_unique<ObjectSampler>(w, h, n, selection, ObjectRule{}, counting);
    } else if (samples != nullptr) {
        s.one = std::make_unique<SliceSampler>(w, h, n, selection, *samples, counting);
    } else {
        s.one = std::make_unique<SliceSampler>(w, h, n, selection, counting);
    }
}

BlockSampler::~BlockSampler() = default;

template <class T>
void BlockSampler::Add(const T* samples, std::ptrdiff_t rowStride) {
    State& s = *state_;
    if (s.one) {
        s.one->Add(samples, rowStride, s.w, s.h);
    } else {
        s.labels->Add(samples, rowStride, s.w, s.h);
    }
}

#define VOXWRAP_ADD(T) template void BlockSampler::Add(const T*, std::ptrdiff_t);
VOXWRAP_SAMPLE_TYPES(VOXWRAP_ADD)
#undef VOXWRAP_ADD

std::vector<BlockPart> BlockSampler::Finish() {
    State& s = *state_;
    const std::int32_t* o = s.offset;
    std::vector<BlockPart> parts;
    try {
        if (s.one) {
            BlockPart part;
            part.points = s.one->Finish();
            part.voxels = s.one->voxels();
            Shift(part.points, o[0], o[1], o[2]);
            KeepCorners(part.points);
            parts.push_back(std::move(part));
            return parts;
        }
        parts = s.labels->Finish();
        for (BlockPart& part : parts) {
            Shift(part.points, o[0], o[1], o[2]);
            KeepCorners(part.points);
            for (int i = 0; i < 3; ++i) {
                // Every voxel's index moves by the offset: the sum by voxels times it.
                part.sum[i] += static_cast<Int128>(part.voxels) * o[i];
                part.min[i] += o[i];
                part.max[i] += o[i];
            }
        }
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, kBlockMemory);
    }
    return parts;
}

std::vector<BlockPart> CombineBlocks(std::vector<std::vector<BlockPart>> parts) {
    std::vector<BlockPart> merged;
    try {
        std::map<std::int64_t, BlockPart> byId;
        for (std::vector<BlockPart>& group : parts) {
            for (BlockPart& part : group) {
                auto [at, fresh] = byId.try_emplace(part.id);
                BlockPart& into = at->second;
                if (fresh) {
                    into = std::move(part);
                    continue;
                }
                Append(into.points, part.points);
                part.points = Points();
                into.voxels += part.voxels;
                for (int i = 0; i < 3; ++i) {
                    into.sum[i] += part.sum[i];
                    into.min[i] = std::min(into.min[i], part.min[i]);
                    into.max[i] = std::max(into.max[i], part.max[i]);
                }
            }
        }
        merged.reserve(byId.size());
        for (auto& entry : byId) {
            KeepCorners(entry.second.points);
            merged.push_back(std::move(entry.second));
        }
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, kBlockMemory);
    }
    return merged;
}

}  // namespace voxwrap
