// voxwrap._voxwrap: the compiled half of the Python package. It checks dtypes and shapes, reads
// numpy arrays through their strides one slice at a time, runs the library with the GIL released
// and hands the results back without copying. Argument conversions (the selection, the spacing,
// iterables of slices) live in voxwrap/__init__.py; this file only sees plain values.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <voxwrap/voxwrap.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "mesh/table.h"  // TableCsv: the command line's --table
#include "mesh/units.h"  // SpacingFits: what single-precision mesh files can hold

namespace py = pybind11;

namespace {

using Kind = voxwrap::Error::Kind;

[[noreturn]] void Refuse(const std::string& message) {
    throw voxwrap::Error(Kind::Argument, message);
}

const char* KindName(Kind kind) {  // the names voxwrap.Error.kind carries
    switch (kind) {
    case Kind::Argument:
        return "argument";
    case Kind::NotFound:
        return "not_found";
    case Kind::Image:
        return "image";
    case Kind::Memory:
        return "memory";
    case Kind::Geometry:
        return "geometry";
    case Kind::Output:
        return "output";
    case Kind::Cancelled:
        return "cancelled";
    }
    return "unknown";
}

// The library's warnings, collected on the calling thread while the GIL is released and issued
// as voxwrap.VoxwrapWarning in their order once it is held again, also when the call failed
// after them (a failing slice comes after the warnings of the slices before it).
struct Warnings {
    std::vector<std::string> lines;

    std::function<void(const std::string&)> Sink() {
        return [this](const std::string& line) { lines.push_back(line); };
    }
    void Issue() {
        if (lines.empty()) return;
        std::vector<std::string> pending;
        pending.swap(lines);
        const py::object category = py::module_::import("voxwrap").attr("VoxwrapWarning");
        for (const std::string& line : pending) {
            // stacklevel 2: the user's line that called into the package, not the package.
            if (PyErr_WarnEx(category.ptr(), line.c_str(), 2) != 0) throw py::error_already_set();
        }
    }
};

// Runs work without the GIL, then issues the warnings it collected, whether it failed or not.
template <class Work>
void WithoutGil(Warnings& warnings, Work&& work) {
    try {
        py::gil_scoped_release free;
        work();
    } catch (...) {
        warnings.Issue();
        throw;
    }
    warnings.Issue();
}

// Single precision holds every integer up to 2^24 exactly: the command line's limit on a stack.
constexpr std::int64_t kExactFloat = std::int64_t{1} << 24;

// A hull with everything the Python object shows, computed once without the GIL. vertices and
// faces are the buffers the numpy arrays view: they live as long as this object.
struct Result {
    voxwrap::Hull hull;
    voxwrap::Measurements m;
    voxwrap::Spacing spacing;  // x, y, z
    bool spacingGiven = false;
    std::int64_t slices = 0, width = 0, height = 0;
    std::vector<double> vertices;     // V x 3: z, y, x, scaled
    std::vector<std::int32_t> faces;  // F x 3, counter-clockwise from outside in (z, y, x)

    // Unit of the report and of the mesh headers, as the command line chooses them without
    // --unit: "voxel" without a spacing, none known with one; the binary STL names none.
    std::string Unit(bool binaryStl) const { return binaryStl || spacingGiven ? "" : "voxel"; }
};

std::shared_ptr<Result> MakeResult(voxwrap::Points points, std::int64_t voxels,
                                   const std::optional<std::array<double, 3>>& spacingXyz,
                                   std::int64_t N, std::int64_t W, std::int64_t H) {
    if (points.empty()) throw voxwrap::Error(Kind::Image, "no object.");
    auto r = std::make_shared<Result>();
    r->slices = N;
    r->width = W;
    r->height = H;
    if (spacingXyz) {
        r->spacingGiven = true;
        for (int i = 0; i < 3; ++i)
            r->spacing.s[i] = (*spacingXyz)[i];
    }
    r->hull = voxwrap::ConvexHull(std::move(points));
    r->m = voxwrap::Measure(r->hull, voxels, r->spacing);
    const voxwrap::Points& v = r->hull.vertices;
    const double* s = r->spacing.s;
    r->vertices.resize(3 * v.size());
    for (std::size_t k = 0; k < v.size(); ++k) {
        r->vertices[3 * k] = v.z[k] * s[2];
        r->vertices[3 * k + 1] = v.y[k] * s[1];
        r->vertices[3 * k + 2] = v.x[k] * s[0];
    }
    // (x, y, z) -> (z, y, x) is a reflection: it turns counter-clockwise into clockwise, so every
    // triangle is written in the other order to stay counter-clockwise seen from outside.
    r->faces.resize(3 * r->hull.triangles.size());
    for (std::size_t k = 0; k < r->hull.triangles.size(); ++k) {
        const auto& t = r->hull.triangles[k];
        r->faces[3 * k] = t[0];
        r->faces[3 * k + 1] = t[2];
        r->faces[3 * k + 2] = t[1];
    }
    return r;
}

// An exact Python int from the 128-bit six times volume: value = high * 2^64 + low, with low in
// [0, 2^64), which Python's unbounded shifts and ors put together for either sign.
py::int_ Int128ToPython(voxwrap::Int128 value) {
    const py::int_ high(static_cast<std::int64_t>(value >> 64)),
        low(static_cast<std::uint64_t>(value));
    return high.attr("__lshift__")(64).attr("__or__")(low);
}

voxwrap::MeshFormat FormatOf(const std::string& path, const py::object& format) {
    std::string name;
    if (!format.is_none()) {
        name = py::cast<std::string>(format);
    } else {
        const std::size_t dot = path.rfind('.');
        const std::size_t slash = path.rfind('/');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
            for (char c : path.substr(dot + 1))
                name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (name != "stl" && name != "ply" && name != "obj")
            Refuse("write: " + path +
                   " : no mesh format for this extension; give format \"stl\", \"stl-ascii\", "
                   "\"ply\" or \"obj\".");
    }
    if (name == "stl") return voxwrap::MeshFormat::Stl;
    if (name == "stl-ascii") return voxwrap::MeshFormat::StlAscii;
    if (name == "ply") return voxwrap::MeshFormat::Ply;
    if (name == "obj") return voxwrap::MeshFormat::Obj;
    Refuse("write: format \"" + name +
           "\" : bad value; give \"stl\", \"stl-ascii\", \"ply\" or \"obj\".");
}

// A numpy array's samples as the library reads them: one or two bytes, unsigned (bool is one
// byte of 0 or 1), in either byte order. Any other dtype is refused, never cast.
struct View {
    const char* data = nullptr;
    int itemsize = 0;
    bool swap = false;  // two-byte samples in the other byte order
    std::vector<std::int64_t> shape;
    std::vector<std::ptrdiff_t> strides;  // in bytes, any sign
};

View ViewOf(const py::array& a, int ndim, const char* what) {
    if (a.ndim() != ndim)
        Refuse(std::string(what) + " must be " + std::to_string(ndim) + "-D, not " +
               std::to_string(a.ndim()) + "-D.");
    const py::dtype dt = a.dtype();
    const char kind = dt.kind();
    View v;
    v.itemsize = static_cast<int>(dt.itemsize());
    const bool supported =
        (kind == 'b' && v.itemsize == 1) || (kind == 'u' && (v.itemsize == 1 || v.itemsize == 2));
    if (!supported)
        Refuse("dtype " + py::cast<std::string>(dt.attr("name")) +
               " is not supported yet: voxwrap reads bool, uint8 and uint16 samples.");
    const char order = dt.attr("byteorder").cast<std::string>()[0];
    const bool little =
        py::module_::import("sys").attr("byteorder").cast<std::string>() == "little";
    v.swap = v.itemsize == 2 && (order == '>' ? little : order == '<' ? !little : false);
    v.data = static_cast<const char*>(a.data());
    for (int i = 0; i < ndim; ++i) {
        v.shape.push_back(a.shape(i));
        v.strides.push_back(a.strides(i));
    }
    return v;
}

// Feeds slices to a SliceSampler: whole 3-D arrays in one call without the GIL, or single 2-D
// slices (an iterable's, read by the caller one at a time). A slice is read through the strides
// into a one-slice buffer of 16-bit samples, or handed over as it is when it already is one.
class Sampler {
  public:
    Sampler(std::int64_t W, std::int64_t H, std::int64_t N, const std::string& rangeList,
            unsigned threads)
        : W_(W), H_(H), N_(N) {
        const voxwrap::Selection selection = voxwrap::Selection::FromRangeList(rangeList);
        // A list that selects no value, or a volume without a voxel, can hold no object.
        if (selection.Empty() || W <= 0 || H <= 0 || N <= 0)
            throw voxwrap::Error(Kind::Image, "no object.");
        if (W > kExactFloat || H > kExactFloat || N > kExactFloat)
            Refuse("volume too large for exact mesh coordinates (at most 16777216 columns, rows "
                   "and slices).");
        voxwrap::SampleOptions options;
        options.threads = threads;
        options.countVoxels = true;
        options.warning = warnings_.Sink();
        sampler_ = std::make_unique<voxwrap::SliceSampler>(
            static_cast<std::int32_t>(W), static_cast<std::int32_t>(H), N, selection, options);
    }

    void AddVolume(const py::array& volume) {
        const View v = ViewOf(volume, 3, "volume");
        if (v.shape[0] != N_ || v.shape[1] != H_ || v.shape[2] != W_)
            Refuse("volume: shape differs from the sampler's.");
        WithoutGil(warnings_, [&] {
            for (std::int64_t z = 0; z < N_; ++z)
                AddSlice(v.data + z * v.strides[0], v, 1);
        });
    }

    void AddOne(const py::array& slice) {
        const View v = ViewOf(slice, 2, "slice");
        if (v.shape[0] != H_ || v.shape[1] != W_)
            Refuse("slice: shape differs from the sampler's.");
        WithoutGil(warnings_, [&] { AddSlice(v.data, v, 0); });
    }

    std::shared_ptr<Result> Finish(const std::optional<std::array<double, 3>>& spacingXyz) {
        if (spacingXyz) CheckSpacing(*spacingXyz, W_, H_, N_);
        std::shared_ptr<Result> r;
        WithoutGil(warnings_, [&] {
            r = MakeResult(sampler_->Finish(), sampler_->voxels(), spacingXyz, N_, W_, H_);
        });
        return r;
    }

    static void CheckSpacing(const std::array<double, 3>& xyz, std::int64_t W, std::int64_t H,
                             std::int64_t N) {
        voxwrap::Spacing s;
        for (int i = 0; i < 3; ++i)
            s.s[i] = xyz[i];
        if (!voxwrap::SpacingFits(s, {W, H, N}))
            Refuse("spacing : bad value (every coordinate must be a finite single-precision "
                   "number).");
    }

  private:
    // Slice rows are dimension first (0 for a 2-D slice, 1 within a volume), columns the next.
    void AddSlice(const char* base, const View& v, int first) {
        const std::ptrdiff_t rowStep = v.strides[first], colStep = v.strides[first + 1];
        if (v.itemsize == 2 && !v.swap && colStep == 2 && rowStep % 2 == 0 &&
            reinterpret_cast<std::uintptr_t>(base) % alignof(std::uint16_t) == 0) {
            // Rows of 16-bit samples side by side: the library reads them where they are.
            sampler_->Add(reinterpret_cast<const std::uint16_t*>(base), rowStep / 2,
                          static_cast<std::int32_t>(W_), static_cast<std::int32_t>(H_));
            return;
        }
        buffer_.resize(static_cast<std::size_t>(W_ * H_));
        std::uint16_t* out = buffer_.data();
        for (std::int64_t y = 0; y < H_; ++y) {
            const char* row = base + y * rowStep;
            if (v.itemsize == 1) {
                for (std::int64_t x = 0; x < W_; ++x)
                    *out++ = static_cast<unsigned char>(row[x * colStep]);
            } else {
                for (std::int64_t x = 0; x < W_; ++x) {
                    std::uint16_t value;
                    std::memcpy(&value, row + x * colStep, 2);  // any alignment
                    *out++ = v.swap ? static_cast<std::uint16_t>(value << 8 | value >> 8) : value;
                }
            }
        }
        sampler_->Add(buffer_.data(), W_, static_cast<std::int32_t>(W_),
                      static_cast<std::int32_t>(H_));
    }

    std::int64_t W_, H_, N_;
    Warnings warnings_;  // before sampler_: the sampler's options point into it
    std::unique_ptr<voxwrap::SliceSampler> sampler_;
    std::vector<std::uint16_t> buffer_;
};

// A TIFF stack as the command line reads it: directory, name file or option, range list.
std::shared_ptr<Result> HullStack(const std::string& directory, const std::string& names,
                                  const std::string& rangeList, unsigned threads,
                                  const std::optional<std::array<double, 3>>& spacingXyz) {
    Warnings warnings;
    std::shared_ptr<Result> r;
    WithoutGil(warnings, [&] {
        voxwrap::Events events;
        events.warning = warnings.Sink();
        const voxwrap::Stack stack = voxwrap::ListStack(directory, names, events);
        const voxwrap::Selection selection = voxwrap::Selection::FromRangeList(rangeList);
        if (selection.Empty()) throw voxwrap::Error(Kind::Image, "no object.");
        const std::int64_t N = static_cast<std::int64_t>(stack.slices.size());
        if (stack.width > kExactFloat || stack.height > kExactFloat || N > kExactFloat)
            Refuse("stack too large for exact STL coordinates (at most 16777216 columns, rows and "
                   "slices).");
        if (spacingXyz) {
            voxwrap::Spacing s;
            for (int i = 0; i < 3; ++i)
                s.s[i] = (*spacingXyz)[i];
            if (!voxwrap::SpacingFits(s, {stack.width, stack.height, N}))
                Refuse("spacing : bad value (every coordinate must be a finite single-precision "
                       "number).");
        }
        voxwrap::SampleOptions options;
        options.threads = threads;
        options.countVoxels = true;
        options.warning = warnings.Sink();
        voxwrap::Sampled sampled = voxwrap::SampleStack(stack, selection, options);
        r = MakeResult(std::move(sampled.points), sampled.voxels, spacingXyz, N, stack.width,
                       stack.height);
    });
    return r;
}

// A numpy array over a buffer the result owns: its base is the Python Hull, kept alive by it.
template <class T>
py::array View2(const py::object& owner, const std::vector<T>& values) {
    const std::size_t rows = values.size() / 3;
    py::array a(py::dtype::of<T>(), {rows, std::size_t{3}}, {3 * sizeof(T), sizeof(T)},
                values.data(), owner);
    // The hull's measurements describe these numbers: they are not for writing into.
    a.attr("setflags")(py::arg("write") = false);
    return a;
}

// ---- blocks of a chunked volume: the steps voxwrap.dask runs on its workers ----

// What one block, or a union of blocks, leaves: a few hundred points per object and its counts.
// It travels between processes pickled as one bytes object (Bytes), whose size is what crosses.
struct Parts {
    std::vector<voxwrap::BlockPart> parts;

    // Per part: id, voxels, sums as (high, low) halves, min, max, point count, then x, y, z.
    py::bytes Bytes() const {
        std::string out;
        auto put = [&out](const void* p, std::size_t n) {
            out.append(static_cast<const char*>(p), n);
        };
        const std::uint64_t count = parts.size();
        put(&count, 8);
        for (const voxwrap::BlockPart& b : parts) {
            put(&b.id, 8);
            put(&b.voxels, 8);
            for (int i = 0; i < 3; ++i) {
                const std::int64_t high = static_cast<std::int64_t>(b.sum[i] >> 64);
                const std::uint64_t low = static_cast<std::uint64_t>(b.sum[i]);
                put(&high, 8);
                put(&low, 8);
            }
            put(b.min, sizeof b.min);
            put(b.max, sizeof b.max);
            const std::uint64_t n = b.points.size();
            put(&n, 8);
            put(b.points.x.data(), 4 * n);
            put(b.points.y.data(), 4 * n);
            put(b.points.z.data(), 4 * n);
        }
        return py::bytes(out);
    }

    static Parts FromBytes(const py::bytes& bytes) {
        const std::string in = bytes;
        std::size_t at = 0;
        auto get = [&](void* p, std::size_t n) {
            if (n > in.size() - at) Refuse("blocks: truncated state.");
            std::memcpy(p, in.data() + at, n);
            at += n;
        };
        Parts r;
        std::uint64_t count = 0;
        get(&count, 8);
        for (std::uint64_t k = 0; k < count; ++k) {
            voxwrap::BlockPart b;
            get(&b.id, 8);
            get(&b.voxels, 8);
            for (int i = 0; i < 3; ++i) {
                std::int64_t high = 0;
                std::uint64_t low = 0;
                get(&high, 8);
                get(&low, 8);
                b.sum[i] = static_cast<voxwrap::Int128>(high) * (voxwrap::Int128{1} << 64) +
                           static_cast<voxwrap::Int128>(low);
            }
            get(b.min, sizeof b.min);
            get(b.max, sizeof b.max);
            std::uint64_t n = 0;
            get(&n, 8);
            if (n > (in.size() - at) / 12) Refuse("blocks: truncated state.");
            for (std::vector<std::int32_t>* axis : {&b.points.x, &b.points.y, &b.points.z}) {
                axis->resize(n);
                get(axis->data(), 4 * n);
            }
            r.parts.push_back(std::move(b));
        }
        return r;
    }

    std::size_t Size() const {
        std::size_t n = 8;
        for (const voxwrap::BlockPart& b : parts)
            n += 8 + 8 + 48 + 24 + 8 + 12 * b.points.size();
        return n;
    }
};

// One block of a volume of the given shape (z, y, x): its samples read through the strides one
// slice at a time, as Sampler reads a volume.
Parts ReduceBlock(const py::array& block, const std::array<std::int64_t, 3>& offsetZyx,
                  const std::string& rangeList, bool labels, unsigned threads) {
    const View v = ViewOf(block, 3, "block");
    const voxwrap::Selection selection = voxwrap::Selection::FromRangeList(rangeList);
    Parts r;
    const std::int64_t n = v.shape[0], h = v.shape[1], w = v.shape[2];
    if (n == 0 || h == 0 || w == 0 || selection.Empty()) return r;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t end = offsetZyx[i] + v.shape[i];
        if (offsetZyx[i] < 0 || end > kExactFloat)
            Refuse("volume too large for exact mesh coordinates (at most 16777216 columns, rows "
                   "and slices).");
    }
    Warnings warnings;
    WithoutGil(warnings, [&] {
        voxwrap::SampleOptions options;
        options.threads = threads;
        options.warning = warnings.Sink();
        voxwrap::BlockSampler sampler(
            static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
            static_cast<std::int32_t>(n), static_cast<std::int32_t>(offsetZyx[2]),
            static_cast<std::int32_t>(offsetZyx[1]), static_cast<std::int32_t>(offsetZyx[0]),
            selection, labels, options);
        std::vector<std::uint16_t> buffer;
        for (std::int64_t z = 0; z < n; ++z) {
            const char* base = v.data + z * v.strides[0];
            const std::ptrdiff_t rowStep = v.strides[1], colStep = v.strides[2];
            if (v.itemsize == 2 && !v.swap && colStep == 2 && rowStep % 2 == 0 &&
                reinterpret_cast<std::uintptr_t>(base) % alignof(std::uint16_t) == 0) {
                sampler.Add(reinterpret_cast<const std::uint16_t*>(base), rowStep / 2);
                continue;
            }
            buffer.resize(static_cast<std::size_t>(w * h));
            std::uint16_t* out = buffer.data();
            for (std::int64_t y = 0; y < h; ++y) {
                const char* row = base + y * rowStep;
                for (std::int64_t x = 0; x < w; ++x) {
                    if (v.itemsize == 1) {
                        *out++ = static_cast<unsigned char>(row[x * colStep]);
                        continue;
                    }
                    std::uint16_t value;
                    std::memcpy(&value, row + x * colStep, 2);
                    *out++ = v.swap ? static_cast<std::uint16_t>(value << 8 | value >> 8) : value;
                }
            }
            sampler.Add(buffer.data(), w);
        }
        r.parts = sampler.Finish();
        // A block without an object voxel leaves nothing to send.
        r.parts.erase(std::remove_if(r.parts.begin(), r.parts.end(),
                                     [](const voxwrap::BlockPart& b) { return b.voxels == 0; }),
                      r.parts.end());
    });
    return r;
}

Parts CombineParts(const std::vector<const Parts*>& groups) {
    std::vector<std::vector<voxwrap::BlockPart>> all;
    for (const Parts* g : groups)
        all.push_back(g->parts);
    Parts r;
    {
        py::gil_scoped_release free;
        r.parts = voxwrap::CombineBlocks(std::move(all));
    }
    return r;
}

void CheckShape(const std::array<std::int64_t, 3>& shapeZyx) {
    for (std::int64_t d : shapeZyx) {
        if (d > kExactFloat)
            Refuse("volume too large for exact mesh coordinates (at most 16777216 columns, rows "
                   "and slices).");
    }
}

// The one object's hull, as voxwrap.hull builds it for the whole volume.
std::shared_ptr<Result> PartsHull(const Parts& p, const std::array<std::int64_t, 3>& shapeZyx,
                                  const std::optional<std::array<double, 3>>& spacingXyz) {
    CheckShape(shapeZyx);
    if (spacingXyz) Sampler::CheckSpacing(*spacingXyz, shapeZyx[2], shapeZyx[1], shapeZyx[0]);
    if (p.parts.size() > 1) Refuse("blocks: labelled parts have no single hull.");
    voxwrap::Points points;
    std::int64_t voxels = 0;
    if (!p.parts.empty()) {
        points = p.parts[0].points;
        voxels = p.parts[0].voxels;
    }
    Warnings none;
    std::shared_ptr<Result> r;
    WithoutGil(none, [&] {
        r = MakeResult(std::move(points), voxels, spacingXyz, shapeZyx[0], shapeZyx[2],
                       shapeZyx[1]);
    });
    return r;
}

// The labels the command line's --min-voxels and --largest keep: those of at least minVoxels,
// then the `largest` of most voxels (0: all), ties to the smaller id; in id order.
std::vector<const voxwrap::BlockPart*> Kept(const Parts& p, std::int64_t minVoxels,
                                            std::int64_t largest) {
    std::vector<const voxwrap::BlockPart*> kept;
    for (const voxwrap::BlockPart& b : p.parts) {
        if (b.voxels >= minVoxels) kept.push_back(&b);
    }
    if (largest > 0 && static_cast<std::size_t>(largest) < kept.size()) {
        std::vector<const voxwrap::BlockPart*> order = kept;
        std::stable_sort(order.begin(), order.end(),
                         [](const voxwrap::BlockPart* a, const voxwrap::BlockPart* b) {
                             return a->voxels > b->voxels;
                         });
        order.resize(static_cast<std::size_t>(largest));
        std::sort(
            order.begin(), order.end(),
            [](const voxwrap::BlockPart* a, const voxwrap::BlockPart* b) { return a->id < b->id; });
        kept = std::move(order);
    }
    if (kept.empty()) throw voxwrap::Error(Kind::Image, "no object.");
    return kept;
}

std::vector<std::shared_ptr<Result>>
PartsHulls(const std::vector<const voxwrap::BlockPart*>& kept,
           const std::array<std::int64_t, 3>& shape,
           const std::optional<std::array<double, 3>>& spacingXyz) {
    CheckShape(shape);
    if (spacingXyz) Sampler::CheckSpacing(*spacingXyz, shape[2], shape[1], shape[0]);
    std::vector<std::shared_ptr<Result>> hulls;
    Warnings none;
    WithoutGil(none, [&] {
        for (const voxwrap::BlockPart* b : kept)
            hulls.push_back(
                MakeResult(b->points, b->voxels, spacingXyz, shape[0], shape[2], shape[1]));
    });
    return hulls;
}

py::dict PartsObjectHulls(const Parts& p, const std::array<std::int64_t, 3>& shape,
                          const std::optional<std::array<double, 3>>& spacingXyz,
                          std::int64_t minVoxels, std::int64_t largest) {
    const std::vector<const voxwrap::BlockPart*> kept = Kept(p, minVoxels, largest);
    const std::vector<std::shared_ptr<Result>> hulls = PartsHulls(kept, shape, spacingXyz);
    py::dict out;
    for (std::size_t k = 0; k < kept.size(); ++k)
        out[py::int_(kept[k]->id)] = py::cast(hulls[k]);
    return out;
}

// The command line's --table for the kept labels: one row each, its bounding box and centroid
// from the exact voxel measures.
std::string PartsTable(const Parts& p, const std::array<std::int64_t, 3>& shape,
                       const std::optional<std::array<double, 3>>& spacingXyz,
                       std::int64_t minVoxels, std::int64_t largest) {
    const std::vector<const voxwrap::BlockPart*> kept = Kept(p, minVoxels, largest);
    const std::vector<std::shared_ptr<Result>> hulls = PartsHulls(kept, shape, spacingXyz);
    std::vector<voxwrap::ObjectRow> rows;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const voxwrap::BlockPart& b = *kept[k];
        const voxwrap::Spacing& spacing = hulls[k]->spacing;
        voxwrap::ObjectRow r;
        r.id = b.id;
        r.voxels = b.voxels;
        r.hull = hulls[k]->m;
        for (int i = 0; i < 3; ++i) {
            const double s = spacing.s[i];
            r.bboxMin[i] = static_cast<double>(b.min[i]) * s;
            r.bboxMax[i] = static_cast<double>(std::int64_t{b.max[i]} + 1) * s;
            // The mean of the centres i + 1/2: (2 sum + n) / 2n, one rounding from the exact sums.
            const voxwrap::Int128 twice = 2 * b.sum[i] + b.voxels;
            r.centroid[i] = static_cast<double>(static_cast<long double>(twice) /
                                                (2 * static_cast<long double>(b.voxels)) * s);
        }
        rows.push_back(r);
    }
    return voxwrap::TableCsv(rows);
}

void BindBlocks(py::module_& m) {
    py::class_<Parts>(m, "BlockParts",
                      "What blocks of a volume leave: each object's hull corners and counts.")
        .def_property_readonly("nbytes", &Parts::Size,
                               "The bytes of its pickled state: what crosses between processes.")
        .def_property_readonly("points",
                               [](const Parts& p) {
                                   std::size_t n = 0;
                                   for (const voxwrap::BlockPart& b : p.parts)
                                       n += b.points.size();
                                   return n;
                               })
        .def("__sizeof__", &Parts::Size)
        .def("hull", &PartsHull, py::arg("shape"), py::arg("spacing_xyz"))
        .def("object_hulls", &PartsObjectHulls, py::arg("shape"), py::arg("spacing_xyz"),
             py::arg("min_voxels"), py::arg("largest"))
        .def("table", &PartsTable, py::arg("shape"), py::arg("spacing_xyz"), py::arg("min_voxels"),
             py::arg("largest"))
        .def(py::pickle([](const Parts& p) { return p.Bytes(); },
                        [](const py::bytes& b) { return Parts::FromBytes(b); }));
    m.def("reduce_block", &ReduceBlock, py::arg("block"), py::arg("offset"), py::arg("range_list"),
          py::arg("labels"), py::arg("threads"));
    m.def("combine_blocks", &CombineParts, py::arg("parts"));
    // The whole's shape and spacing checked before any block is read, as the end will check them.
    m.def(
        "check_volume",
        [](const std::array<std::int64_t, 3>& shape,
           const std::optional<std::array<double, 3>>& spacingXyz) {
            CheckShape(shape);
            if (spacingXyz) Sampler::CheckSpacing(*spacingXyz, shape[2], shape[1], shape[0]);
        },
        py::arg("shape"), py::arg("spacing_xyz"));
}

}  // namespace

PYBIND11_MODULE(_voxwrap, m) {
    m.doc() = "The compiled half of voxwrap; use the voxwrap package.";

    // voxwrap.Error and its subclasses are defined in the package; the library's kinds map onto
    // them there (_error). A failed allocation is Python's MemoryError with the library's text.
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const voxwrap::Error& e) {
            if (e.kind() == Kind::Memory) {
                PyErr_SetString(PyExc_MemoryError, e.what());
                return;
            }
            const py::object error =
                py::module_::import("voxwrap").attr("_error")(e.what(), KindName(e.kind()));
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        } catch (const std::bad_alloc&) {  // the module's own buffers, as the command line says it
            PyErr_SetString(PyExc_MemoryError, "no allocatable memory.");
        }
    });

    py::class_<Result, std::shared_ptr<Result>>(
        m, "Hull", R"(The exact convex hull of the selected voxel cubes.

Coordinates are in array order (z, y, x), scaled by the spacing; the voxel
at index (z, y, x) is the cube [z, z+1] x [y, y+1] x [x, x+1] before scaling.)")
        .def_property_readonly(
            "vertices", [](py::object self) { return View2(self, self.cast<Result&>().vertices); },
            "V x 3 float64, (z, y, x): the hull's corners, scaled; read-only, owned by the hull.")
        .def_property_readonly(
            "faces", [](py::object self) { return View2(self, self.cast<Result&>().faces); },
            "F x 3 int32 indices into vertices, counter-clockwise seen from outside.")
        .def_property_readonly(
            "six_volume", [](const Result& r) { return Int128ToPython(r.m.sixVolume); },
            "Six times the hull's volume in voxel units: an exact int.")
        .def_property_readonly(
            "volume", [](const Result& r) { return r.m.hullVolume; }, "The hull's volume, scaled.")
        .def_property_readonly(
            "area", [](const Result& r) { return r.m.hullArea; },
            "The hull's surface area, scaled.")
        .def_property_readonly(
            "object_voxels", [](const Result& r) { return r.m.objectVoxels; },
            "The number of selected voxels.")
        .def_property_readonly(
            "object_volume", [](const Result& r) { return r.m.objectVolume; },
            "object_voxels times the volume of a voxel.")
        .def_property_readonly(
            "solidity", [](const Result& r) { return r.m.solidity; },
            "Object volume over hull volume, in (0, 1].")
        .def_property_readonly(
            "bbox",
            [](const Result& r) {
                const double *lo = r.m.bboxMin, *hi = r.m.bboxMax;
                return py::make_tuple(py::make_tuple(lo[2], lo[1], lo[0]),
                                      py::make_tuple(hi[2], hi[1], hi[0]));
            },
            "((zmin, ymin, xmin), (zmax, ymax, xmax)) of the hull's corners, scaled.")
        .def(
            "report",
            [](const Result& r) {
                voxwrap::ReportInput in;
                in.slices = r.slices;
                in.width = r.width;
                in.height = r.height;
                in.spacing = r.spacing;
                in.unit = r.Unit(false);
                in.objectVoxels = r.m.objectVoxels;
                const std::string json = voxwrap::ReportJson(in, r.hull);
                return py::module_::import("json").attr("loads")(json);
            },
            "The command line's --report for this hull, as a dict.")
        .def(
            "write",
            [](const Result& r, const py::object& path, const py::object& format) {
                const std::string name =
                    py::module_::import("os").attr("fspath")(path).cast<std::string>();
                const voxwrap::MeshFormat f = FormatOf(name, format);
                Warnings none;
                WithoutGil(none, [&] {
                    std::ofstream out(name, std::ios::binary | std::ios::trunc);
                    if (!out) throw voxwrap::Error(Kind::Output, "file not stored.");
                    voxwrap::WriteMesh(out, r.hull, f, r.spacing,
                                       r.Unit(f == voxwrap::MeshFormat::Stl));
                    out.close();
                    if (!out) throw voxwrap::Error(Kind::Output, "file not stored.");
                });
            },
            py::arg("path"), py::arg("format") = py::none(),
            R"(Writes the mesh: "stl", "stl-ascii", "ply" or "obj"; by default from the
extension (.stl, .ply, .obj). The bytes are the command line's for the same data and spacing.)");

    py::class_<Sampler>(m, "Sampler")
        .def(py::init<std::int64_t, std::int64_t, std::int64_t, const std::string&, unsigned>(),
             py::arg("width"), py::arg("height"), py::arg("slices"), py::arg("range_list"),
             py::arg("threads"))
        .def("add_volume", &Sampler::AddVolume)
        .def("add_slice", &Sampler::AddOne)
        .def("finish", &Sampler::Finish, py::arg("spacing_xyz"));

    m.def("hull_stack", &HullStack, py::arg("directory"), py::arg("names"), py::arg("range_list"),
          py::arg("threads"), py::arg("spacing_xyz"));

    BindBlocks(m);
}
