#include "sample/objects.h"

#include <algorithm>
#include <array>
#include <climits>
#include <new>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/events.h"
#include "common/failure.h"
#include "sample/chains.h"
#include "sample/classify.h"
#include "sample/pipeline.h"
#include "sample/slabs.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace sampling {
namespace {

constexpr const char* kSamplingMemory = "no allocatable memory for sampling points.";

// An object's open slab is closed, and handed to a worker for reduction, once it holds this many
// points: the one-object sampling's rule. The result does not depend on the choice.
constexpr std::size_t kSlabPoints = 8192;
// A slab closed at an object's end with fewer points gets no hull of its own, only the test of
// planes (DropEnclosedPoints): its hull would cost about what the object's own hull costs later
// and keep most of them (on ellipsoids of 40 voxels across, 720 points keep 508), while the
// points take at most 12 KB.
constexpr std::size_t kSmallSlab = 1024;

// The first column in [from, to) whose sample differs from value; to when there is none.
std::int32_t SameValueEnd(const std::uint16_t* row, std::int32_t from, std::int32_t to,
                          std::uint16_t value) {
    std::int32_t x = from;
#if defined(__SSE2__)
    const __m128i same = _mm_set1_epi16(static_cast<short>(value));
    for (; x + 8 <= to; x += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const unsigned mask =
            ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(v, same))) & 0xFFFFu;
        if (mask != 0) return x + __builtin_ctz(mask) / 2;
    }
#endif
    while (x < to && row[x] == value)
        ++x;
    return x;
}

// Sorts the points by (z, y, x) and drops repeated ones; a list already in that order, the usual
// case, is only checked.
void SortUnique(Points& p) {
    const std::size_t n = p.size();
    auto key = [&p](std::size_t i) { return std::array<std::int32_t, 3>{p.z[i], p.y[i], p.x[i]}; };
    bool ordered = true;
    for (std::size_t i = 1; i < n && ordered; ++i)
        ordered = key(i - 1) < key(i);
    if (ordered) return;
    std::vector<std::array<std::int32_t, 3>> all(n);
    for (std::size_t i = 0; i < n; ++i)
        all[i] = key(i);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    p.x.resize(all.size());
    p.y.resize(all.size());
    p.z.resize(all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        p.z[i] = all[i][0];
        p.y[i] = all[i][1];
        p.x[i] = all[i][2];
    }
}

// A maximal run of object samples in one row: of one value (labels) or of any selected values
// (components). tag is the value as scanned, and the object's slot once the run is labelled.
struct Run {
    std::int32_t first, last;
    std::int32_t tag;
};

// One slice as runs, row by row: row y's runs are runs[row[y]] .. runs[row[y + 1] - 1], by x.
struct SliceRuns {
    std::vector<std::int32_t> row;
    std::vector<Run> runs;
};

// The same over 32-bit words.
std::int32_t SameWordEnd(const std::uint32_t* row, std::int32_t from, std::int32_t to,
                         std::uint32_t value) {
    std::int32_t x = from;
    while (x < to && row[x] == value)
        ++x;
    return x;
}

// Reduces one slice, delivered row by row, to its runs within the common W x H size, with the zero
// padding of SliceReduction: a padding sample is an object sample exactly when 0 is selected.
class RunScan {
  public:
    RunScan(std::int32_t W, std::int32_t H, const ObjectTest& test, bool labels)
        : W_(W), H_(H), test_(test), labels_(labels), zeroSelected_(test.Contains(0)) {
        out_.row.resize(static_cast<std::size_t>(H) + 1);
    }

    void Row(std::int32_t y, const std::uint16_t* samples, std::int32_t w) {
        PadRowsBefore(y);
        const std::size_t start = out_.runs.size();
        out_.row[static_cast<std::size_t>(y)] = static_cast<std::int32_t>(start);
        for (std::int32_t x = 0;;) {
            x = test_.First(samples, x, w);
            if (x >= w) break;
            const std::int32_t end = labels_ ? SameValueEnd(samples, x + 1, w, samples[x])
                                             : test_.FirstOutside(samples, x + 1, w);
            out_.runs.push_back({x, end - 1, labels_ ? samples[x] : 0});
            x = end;
        }
        PadRight(start, w);
        next_ = y + 1;
    }

    // Row y of 32-bit labels: words (their bits; a run's tag is the word's bits) and the codes
    // the selection classified them into, which the test reads.
    void LabelRow(std::int32_t y, const std::uint32_t* words, const std::uint16_t* codes,
                  std::int32_t w) {
        PadRowsBefore(y);
        const std::size_t start = out_.runs.size();
        out_.row[static_cast<std::size_t>(y)] = static_cast<std::int32_t>(start);
        for (std::int32_t x = 0;;) {
            x = test_.First(codes, x, w);
            if (x >= w) break;
            const std::int32_t end = SameWordEnd(words, x + 1, w, words[x]);
            out_.runs.push_back({x, end - 1, static_cast<std::int32_t>(words[x])});
            x = end;
        }
        PadRight(start, w);
        next_ = y + 1;
    }

    SliceRuns Finish() {
        PadRowsBefore(H_);
        out_.row[static_cast<std::size_t>(H_)] = static_cast<std::int32_t>(out_.runs.size());
        return std::move(out_);
    }

  private:
    void PadRight(std::size_t start, std::int32_t w) {
        if (zeroSelected_ && w < W_) {
            // The padding to the right continues a run of zeros (of anything selected, for
            // components) that reaches the row's end.
            if (out_.runs.size() > start && out_.runs.back().last == w - 1 &&
                out_.runs.back().tag == 0) {
                out_.runs.back().last = W_ - 1;
            } else {
                out_.runs.push_back({w, W_ - 1, 0});
            }
        }
    }

    // Rows next_..y-1 were not in the slice: all padding.
    void PadRowsBefore(std::int32_t y) {
        for (; next_ < y; ++next_) {
            out_.row[static_cast<std::size_t>(next_)] = static_cast<std::int32_t>(out_.runs.size());
            if (zeroSelected_) out_.runs.push_back({0, W_ - 1, 0});
        }
    }

    const std::int32_t W_, H_;
    const ObjectTest& test_;
    const bool labels_, zeroSelected_;
    std::int32_t next_ = 0;
    SliceRuns out_;
};

// One object while the pass goes: a label, or a component as far as the slices so far connect it.
struct Track {
    std::int64_t key = 0;  // labels: the value; components: the order of the first voxel
    std::int64_t voxels = 0;
    VoxelSum sum[3] = {0, 0, 0};
    std::int32_t min[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, max[3] = {-1, -1, -1};
    // The points since the last closed slab; out of order (and possibly repeated) after a merge.
    Points open;
    bool unsorted = false;
    // Closed slabs, reduced on a worker; read only once every job has run.
    std::vector<std::unique_ptr<Points>> slabs;
    // The object's row extents in the plane being built, by y.
    struct Extent {
        std::int32_t y, first, last;
    };
    std::vector<Extent> rows;
    std::int64_t plane = -1;  // the plane rows belong to
    std::int64_t seen = -1;   // the last slice with a run of the object
};

// The pass over the slices' runs: labels the runs of each slice (components: joined with those of
// the slice before by union-find), builds every object's plane from its runs in the two slices
// around it, as the one-object plane loop builds the plane from its row extents, and closes the
// objects' slabs for reduction on the pipeline's workers. A component no run of a slice touches is
// complete: its last plane is built, and its slot serves the next new component.
class ObjectLoop {
  public:
    // Labels are the values of samples of the kind: a run's tag holds their stored bits (of 32-bit
    // integers as an int32), which the kind turns into ids.
    ObjectLoop(std::int32_t W, std::int32_t H, std::int64_t N, const ObjectRule& rule,
               OrderedPipeline<SliceRuns>& pipeline, SampleType samples = {})
        : H_(H), labels_(rule.kind == ObjectRule::Kind::Labels), samples_(samples),
          // Within a plane two runs of one row never touch; the reach of a neighbouring row is 1
          // when columns one apart connect, 0 when only the same column does, -1 for none.
          reachRowBefore_(rule.connectivity == 6 ? 0 : 1),
          reachSameRow_(rule.connectivity == 6 ? 0 : 1),
          reachDiagonal_(rule.connectivity == 6    ? -1
                         : rule.connectivity == 18 ? 0
                                                   : 1),
          reduce_(W <= kCoordinateLimit && H <= kCoordinateLimit && N <= kCoordinateLimit),
          sampler_(H), pipeline_(pipeline) {
        if (labels_ && samples_.Narrow()) labelSlot_.assign(65536, -1);
    }
    // A worker may still be reducing a slab of this loop.
    ~ObjectLoop() { pipeline_.Drain(); }
    ObjectLoop(const ObjectLoop&) = delete;
    ObjectLoop& operator=(const ObjectLoop&) = delete;

    // Slice z_, then plane z_.
    void Add(SliceRuns current) {
        if (labels_) {
            for (Run& r : current.runs)
                r.tag = LabelSlot(r.tag);
        } else {
            Connect(current);
        }
        Plane(&current);
        if (!labels_) {
            // From here on the runs name their components' slots, and the slots merged away in
            // this slice are free.
            for (Run& r : current.runs)
                r.tag = Find(r.tag);
            for (const std::int32_t s : merged_)
                Free(s);
            merged_.clear();
        }
        previous_ = std::move(current);
        hasPrevious_ = true;
        ++z_;
    }

    // The last plane, and the objects by id once every slab is reduced.
    std::vector<SampledObject> Finish() {
        Plane(nullptr);
        pipeline_.Drain();
        std::vector<SampledObject> objects;
        if (labels_) {
            for (const std::int32_t s : labelSlot_)
                if (s >= 0) objects.push_back(Object(tracks_[static_cast<std::size_t>(s)]));
            for (const auto& [bits, s] : wideSlot_)
                objects.push_back(Object(tracks_[static_cast<std::size_t>(s)]));
            // Signed and 32-bit labels do not come in the order of their ids.
            if (samples_.format == SampleType::Format::Signed || !samples_.Narrow()) {
                std::sort(
                    objects.begin(), objects.end(),
                    [](const SampledObject& a, const SampledObject& b) { return a.id < b.id; });
            }
        } else {
            std::sort(done_.begin(), done_.end(),
                      [](const Track& a, const Track& b) { return a.key < b.key; });
            for (Track& t : done_) {
                objects.push_back(Object(t));
                objects.back().id = static_cast<std::int64_t>(objects.size());
                t = Track();
            }
        }
        return objects;
    }

  private:
    std::int32_t NewSlot(std::int64_t key) {
        std::int32_t s;
        if (!free_.empty()) {
            s = free_.back();
            free_.pop_back();
        } else {
            s = static_cast<std::int32_t>(tracks_.size());
            tracks_.emplace_back();
            parent_.push_back(s);
        }
        tracks_[static_cast<std::size_t>(s)].key = key;
        return s;
    }

    void Free(std::int32_t s) {
        tracks_[static_cast<std::size_t>(s)] = Track();
        parent_[static_cast<std::size_t>(s)] = s;
        free_.push_back(s);
    }

    std::int32_t LabelSlot(std::int32_t tag) {
        const auto bits = static_cast<std::uint32_t>(tag);
        std::int64_t id = bits;
        if (samples_.format == SampleType::Format::Signed) {
            const std::uint32_t sign = std::uint32_t{1} << (samples_.bits - 1);
            if (bits & sign) id -= std::int64_t{sign} << 1;
        }
        if (!samples_.Narrow()) {
            const auto found = wideSlot_.find(bits);
            if (found != wideSlot_.end()) return found->second;
            const std::int32_t s = NewSlot(id);
            wideSlot_.emplace(bits, s);
            return s;
        }
        std::int32_t& s = labelSlot_[bits];
        if (s < 0) s = NewSlot(id);
        return s;
    }

    std::int32_t Find(std::int32_t s) {
        while (parent_[static_cast<std::size_t>(s)] != s) {
            std::int32_t& p = parent_[static_cast<std::size_t>(s)];
            p = parent_[static_cast<std::size_t>(p)];
            s = p;
        }
        return s;
    }

    // Joins the components of slots a and b; the one with the earlier first voxel stays.
    std::int32_t Union(std::int32_t a, std::int32_t b) {
        a = Find(a);
        b = Find(b);
        if (a == b) return a;
        if (tracks_[static_cast<std::size_t>(b)].key < tracks_[static_cast<std::size_t>(a)].key)
            std::swap(a, b);
        Track& to = tracks_[static_cast<std::size_t>(a)];
        Track& from = tracks_[static_cast<std::size_t>(b)];
        to.voxels += from.voxels;
        for (int i = 0; i < 3; ++i) {
            to.sum[i] += from.sum[i];
            to.min[i] = std::min(to.min[i], from.min[i]);
            to.max[i] = std::max(to.max[i], from.max[i]);
        }
        // The hull of a union is the hull of the parts' points: they are joined as they are, and
        // put in order when the slab closes.
        to.unsorted = to.unsorted || from.unsorted || (!to.open.empty() && !from.open.empty());
        if (from.open.size() > to.open.size()) std::swap(from.open, to.open);
        to.open.x.insert(to.open.x.end(), from.open.x.begin(), from.open.x.end());
        to.open.y.insert(to.open.y.end(), from.open.y.begin(), from.open.y.end());
        to.open.z.insert(to.open.z.end(), from.open.z.begin(), from.open.z.end());
        for (auto& slab : from.slabs)
            to.slabs.push_back(std::move(slab));
        to.seen = std::max(to.seen, from.seen);
        from.open = Points();
        from.slabs.clear();
        parent_[static_cast<std::size_t>(b)] = a;
        merged_.push_back(b);
        return a;
    }

    // Labels the runs of slice z_ in scan order: a run joins every earlier run it touches, in the
    // row before and in the three rows around it in the slice before; a run that touches none
    // starts a component. A component's first run in scan order touches no earlier run of it, so
    // the order of the starts is the order of the components' first voxels.
    void Connect(SliceRuns& cur) {
        struct Near {
            const Run* runs;
            std::int32_t at, end, reach;
        };
        for (std::int32_t y = 0; y < H_; ++y) {
            const std::int32_t begin = cur.row[static_cast<std::size_t>(y)];
            const std::int32_t end = cur.row[static_cast<std::size_t>(y) + 1];
            if (begin == end) continue;
            Near near[4];
            int count = 0;
            auto add = [&](const SliceRuns& s, std::int32_t row, std::int32_t reach) {
                if (reach < 0 || row < 0 || row >= H_) return;
                near[count++] = {s.runs.data(), s.row[static_cast<std::size_t>(row)],
                                 s.row[static_cast<std::size_t>(row) + 1], reach};
            };
            add(cur, y - 1, reachRowBefore_);
            if (hasPrevious_) {
                add(previous_, y, reachSameRow_);
                add(previous_, y - 1, reachDiagonal_);
                add(previous_, y + 1, reachDiagonal_);
            }
            for (std::int32_t i = begin; i < end; ++i) {
                Run& r = cur.runs[static_cast<std::size_t>(i)];
                std::int32_t slot = -1;
                for (int j = 0; j < count; ++j) {
                    Near& n = near[j];
                    // Runs left of r are left of every later run of the row too.
                    while (n.at < n.end && n.runs[n.at].last + n.reach < r.first)
                        ++n.at;
                    for (std::int32_t a = n.at; a < n.end && n.runs[a].first <= r.last + n.reach;
                         ++a) {
                        slot = slot < 0 ? Find(n.runs[a].tag) : Union(slot, n.runs[a].tag);
                    }
                }
                r.tag = slot >= 0 ? slot : NewSlot(starts_++);
            }
        }
    }

    void AddExtent(std::int32_t s, std::int32_t y, const Run& r) {
        Track& t = tracks_[static_cast<std::size_t>(s)];
        if (t.plane != z_) {
            t.plane = z_;
            t.rows.clear();
            touched_.push_back(s);
        }
        if (!t.rows.empty() && t.rows.back().y == y) {
            t.rows.back().first = std::min(t.rows.back().first, r.first);
            t.rows.back().last = std::max(t.rows.back().last, r.last);
        } else {
            t.rows.push_back({y, r.first, r.last});
        }
    }

    void Count(Track& t, std::int32_t y, const Run& r) {
        const std::int64_t n = std::int64_t{r.last} - r.first + 1;
        t.voxels += n;
        t.sum[0] += (VoxelSum{r.first} + r.last) * n / 2;
        t.sum[1] += VoxelSum{y} * n;
        t.sum[2] += VoxelSum{z_} * n;
        const std::int32_t lo[3] = {r.first, y, static_cast<std::int32_t>(z_)};
        const std::int32_t hi[3] = {r.last, y, static_cast<std::int32_t>(z_)};
        for (int i = 0; i < 3; ++i) {
            t.min[i] = std::min(t.min[i], lo[i]);
            t.max[i] = std::max(t.max[i], hi[i]);
        }
        t.seen = z_;
    }

    // Plane z_: the top faces of the previous slice's runs and the bottom faces of cur's (none
    // after the last slice). Per object and row the extent is the union of its runs in the two
    // slices, as the one-object plane takes the union of the row's extents in the two.
    void Plane(const SliceRuns* cur) {
        touched_.clear();
        const SliceRuns* prev = hasPrevious_ ? &previous_ : nullptr;
        for (std::int32_t y = 0; y < H_; ++y) {
            const auto row = static_cast<std::size_t>(y);
            if (prev != nullptr) {
                for (std::int32_t i = prev->row[row]; i < prev->row[row + 1]; ++i) {
                    const Run& r = prev->runs[static_cast<std::size_t>(i)];
                    AddExtent(Find(r.tag), y, r);
                }
            }
            if (cur != nullptr) {
                for (std::int32_t i = cur->row[row]; i < cur->row[row + 1]; ++i) {
                    const Run& r = cur->runs[static_cast<std::size_t>(i)];
                    const std::int32_t s = Find(r.tag);
                    AddExtent(s, y, r);
                    Count(tracks_[static_cast<std::size_t>(s)], y, r);
                }
            }
        }
        for (const std::int32_t s : touched_) {
            Track& t = tracks_[static_cast<std::size_t>(s)];
            sampler_.StartPlane();
            for (const Track::Extent& e : t.rows)
                sampler_.Row(e.first, e.last, e.y);
            sampler_.Collect(static_cast<std::int32_t>(z_), t.open);
            t.rows.clear();
            if (t.seen != z_) {
                // No run in this slice: a component is complete; a label rests until it comes
                // back, its working memory given up.
                CloseSlab(t);
                t.rows.shrink_to_fit();
                if (!labels_) {
                    done_.push_back(std::move(t));
                    Free(s);
                }
            } else if (t.open.size() >= kSlabPoints) {
                CloseSlab(t);
            }
        }
    }

    void CloseSlab(Track& t) {
        if (t.open.empty()) return;
        t.slabs.push_back(std::make_unique<Points>(std::move(t.open)));
        t.open = Points();
        Points* slab = t.slabs.back().get();
        const bool sort = t.unsorted, reduce = reduce_, small = slab->size() < kSmallSlab;
        t.unsorted = false;
        pipeline_.Submit([slab, sort, reduce, small] {
            try {
                if (sort) SortUnique(*slab);
            } catch (const std::bad_alloc&) {
                return;  // left as it is: the object's points are put in order at the end
            }
            if (reduce && !small) {
                KeepSlabCorners(*slab);
            } else if (reduce && IsSolid(*slab)) {
                // Too small for its own hull, but not for the cheap test of planes. Two planes
                // on either side: what it leaves goes to the object's hull, whose second pass is
                // spared when only corners are left (on label stacks a quarter less time than one
                // plane, and less than three).
                DropEnclosedPoints(*slab, 2);
            }
            // What is left stays until the end, not the capacity of every point of the slab.
            try {
                slab->x.shrink_to_fit();
                slab->y.shrink_to_fit();
                slab->z.shrink_to_fit();
            } catch (const std::bad_alloc&) {
            }
        });
    }

    // The finished object of a track: its slabs joined in order.
    static SampledObject Object(Track& t) {
        SampledObject o;
        o.id = t.key;
        o.voxels = t.voxels;
        for (int i = 0; i < 3; ++i) {
            o.sum[i] = t.sum[i];
            o.min[i] = t.min[i];
            o.max[i] = t.max[i];
        }
        std::size_t n = 0;
        for (const auto& slab : t.slabs)
            n += slab->size();
        o.points.x.reserve(n);
        o.points.y.reserve(n);
        o.points.z.reserve(n);
        for (auto& slab : t.slabs) {
            o.points.x.insert(o.points.x.end(), slab->x.begin(), slab->x.end());
            o.points.y.insert(o.points.y.end(), slab->y.begin(), slab->y.end());
            o.points.z.insert(o.points.z.end(), slab->z.begin(), slab->z.end());
            slab.reset();
        }
        t.slabs.clear();
        SortUnique(o.points);
        return o;
    }

    const std::int32_t H_;
    const bool labels_;
    const SampleType samples_;
    const std::int32_t reachRowBefore_, reachSameRow_, reachDiagonal_;
    const bool reduce_;
    PlaneSampler sampler_;
    OrderedPipeline<SliceRuns>& pipeline_;
    std::int64_t z_ = 0;
    SliceRuns previous_;
    bool hasPrevious_ = false;
    std::vector<Track> tracks_;
    std::vector<std::int32_t> parent_, free_, merged_, touched_;
    std::vector<std::int32_t> labelSlot_;  // labels: the slot of each value, -1 before it is seen
    std::unordered_map<std::uint32_t, std::int32_t> wideSlot_;  // the same for 32-bit labels
    std::int64_t starts_ = 0;                                   // components started so far
    std::vector<Track> done_;                                   // complete components
};

void CheckRule(const ObjectRule& rule) {
    if (rule.kind == ObjectRule::Kind::Labels) return;
    if (rule.kind != ObjectRule::Kind::Components ||
        (rule.connectivity != 6 && rule.connectivity != 18 && rule.connectivity != 26)) {
        Fail(Error::Kind::Argument, "objects: connectivity must be 6, 18 or 26.");
    }
}

}  // namespace
}  // namespace sampling

namespace {

// Every object of source's slices; with labels, wide (the selection compiled for a 32-bit kind)
// makes the runs of each row from the words themselves, their codes telling which are selected.
std::vector<SampledObject> Objects(const SliceSource& source, std::int32_t W, std::int32_t H,
                                   const Selection& selection, const ObjectRule& rule,
                                   const SampleOptions& options, SampleType samples,
                                   const SampleSelection* wide) {
    using namespace sampling;
    CheckRule(rule);
    try {
        const auto N = static_cast<std::int64_t>(source.size());
        const ObjectTest test(selection);
        const bool labels = rule.kind == ObjectRule::Kind::Labels;
        OrderedPipeline<SliceRuns> pipeline(
            source.size(), Workers(options.threads, N), [&](std::size_t k, std::string* warnings) {
                RunScan scan(W, H, test, labels);
                if (labels && wide != nullptr) {
                    std::vector<std::uint16_t> codes(static_cast<std::size_t>(W));
                    source.DecodeWords(
                        k, W, H,
                        [&](std::int32_t y, const void* words, std::int32_t w) {
                            wide->Classify(words, w, codes.data());
                            scan.LabelRow(y, static_cast<const std::uint32_t*>(words), codes.data(),
                                          w);
                        },
                        warnings);
                    return scan.Finish();
                }
                source.Decode(
                    k, W, H,
                    [&scan](std::int32_t y, const std::uint16_t* row, std::int32_t w) {
                        scan.Row(y, row, w);
                    },
                    warnings);
                return scan.Finish();
            });
        ObjectLoop loop(W, H, N, rule, pipeline, samples);
        for (std::int64_t k = 0; k < N; ++k) {
            if (options.cancelled && options.cancelled())
                Fail(Error::Kind::Cancelled, "sampling cancelled.");
            OrderedPipeline<SliceRuns>::Taken slice = pipeline.Take(static_cast<std::size_t>(k));
            ReportLines(options.warning, slice.warnings);
            if (slice.failure) std::rethrow_exception(slice.failure);
            loop.Add(std::move(*slice.item));
            if (options.progress) options.progress(k + 1, N);
        }
        return loop.Finish();
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, kSamplingMemory);
    }
}

}  // namespace

std::vector<SampledObject> SampleObjects(const SliceSource& source, std::int32_t W, std::int32_t H,
                                         const Selection& selection, const ObjectRule& rule,
                                         const SampleOptions& options) {
    return Objects(source, W, H, selection, rule, options, SampleType{}, nullptr);
}

std::vector<SampledObject> SampleObjects(const SliceSource& source, std::int32_t W, std::int32_t H,
                                         const SampleSelection& selection, const ObjectRule& rule,
                                         const SampleOptions& options) {
    const SampleType type = selection.Type();
    if (rule.kind == ObjectRule::Kind::Labels && type.format == SampleType::Format::Float)
        Fail(Error::Kind::Argument, "objects: labels must be integers.");
    return Objects(source, W, H, selection.Table(), rule, options, type,
                   selection.Wide() ? &selection : nullptr);
}

// The in-memory sampler: the same loop, fed on the calling thread; workers reduce slabs.
struct ObjectSampler::State : sampling::FeedRules {
    State(std::int32_t width, std::int32_t height, std::int64_t slices, const Selection& chosen,
          SampleType samples, const ObjectRule& rule, const SampleOptions& options)
        : FeedRules{width, height, slices}, labels(rule.kind == ObjectRule::Kind::Labels),
          selection(chosen, samples), test(selection.Table()),
          pipeline(0, sampling::Workers(options.threads, Slices()), nullptr),
          loop(W, H, Slices(), rule, pipeline, samples) {}
    const bool labels;
    // Compiled from a copy: the test reads the selection's table, and the caller's may be gone
    // before Add.
    const SampleSelection selection;
    const sampling::ObjectTest test;
    std::vector<std::uint16_t> row;  // a row of codes or of 8-bit samples widened
    sampling::OrderedPipeline<sampling::SliceRuns> pipeline;
    sampling::ObjectLoop loop;
};

ObjectSampler::ObjectSampler(std::int32_t W, std::int32_t H, std::int64_t N,
                             const Selection& selection, const ObjectRule& rule,
                             const SampleOptions& options)
    : ObjectSampler(W, H, N, selection, SampleType{}, rule, options) {}

ObjectSampler::ObjectSampler(std::int32_t W, std::int32_t H, std::int64_t N,
                             const Selection& selection, SampleType samples, const ObjectRule& rule,
                             const SampleOptions& options) {
    sampling::FeedRules::CheckSize(W, H, N);
    sampling::CheckRule(rule);
    if (rule.kind == ObjectRule::Kind::Labels && samples.format == SampleType::Format::Float)
        Fail(Error::Kind::Argument, "objects: labels must be integers.");
    try {
        state_ = std::make_unique<State>(W, H, N, selection, samples, rule, options);
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, sampling::kSamplingMemory);
    }
}

ObjectSampler::~ObjectSampler() = default;

// Each row as the 16-bit words the test reads, as SliceSampler::Add turns them; 32-bit labels are
// scanned from their own bits.
template <class T>
void ObjectSampler::Add(const T* samples, std::ptrdiff_t rowStride, std::int32_t w,
                        std::int32_t h) {
    State& s = *state_;
    if (!FeedsKind<T>(s.selection.Type()))
        Fail(Error::Kind::Argument, "sampler: samples of another kind.");
    s.CheckSlice(w, h);
    try {
        sampling::RunScan scan(s.W, s.H, s.test, s.labels);
        for (std::int32_t y = 0; y < h; ++y) {
            const T* row = samples + y * rowStride;
            const std::uint16_t* words = RowWords(s.selection, row, w, s.row);
            // Labels are integers (a float sampler refuses them): uint32_t reads an int32_t.
            if constexpr (sizeof(T) == 4 && std::is_integral_v<T>) {
                if (s.labels) {
                    scan.LabelRow(y, reinterpret_cast<const std::uint32_t*>(row), words, w);
                    continue;
                }
            }
            scan.Row(y, words, w);
        }
        s.loop.Add(scan.Finish());
        ++s.added;
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, sampling::kSamplingMemory);
    }
}

#define VOXWRAP_ADD(T)                                                                             \
    template void ObjectSampler::Add(const T*, std::ptrdiff_t, std::int32_t, std::int32_t);
VOXWRAP_SAMPLE_TYPES(VOXWRAP_ADD)
#undef VOXWRAP_ADD

std::vector<SampledObject> ObjectSampler::Finish() {
    State& s = *state_;
    s.CheckFinish();
    try {
        return s.loop.Finish();
    } catch (const std::bad_alloc&) {
        Fail(Error::Kind::Memory, sampling::kSamplingMemory);
    }
}

}  // namespace voxwrap
