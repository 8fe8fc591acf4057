// voxwrap._voxwrap: the compiled half of the Python package. It checks dtypes and shapes, reads
// numpy arrays through their strides (a volume's slices on the library's workers, a row at a
// time; an iterable's slices one at a time), runs the library with the GIL released and hands the
// results back without copying. Argument conversions (the selection, the spacing,
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

using SpacingXyz = std::optional<std::array<double, 3>>;

// Where a hull sits: the stack's size, the spacing (x, y, z) and the units of the report and of
// the mesh headers as the command line chooses them without --unit: "voxel" without a spacing,
// none known with one given, the recorded one with "tiff"; the binary STL's header names only a
// recorded one.
struct Frame {
    std::int64_t slices = 0, width = 0, height = 0;
    voxwrap::Spacing spacing;
    std::string unit = "voxel", stlUnit;
};

Frame FrameOf(const SpacingXyz& spacingXyz, std::int64_t N, std::int64_t W, std::int64_t H) {
    Frame f;
    f.slices = N;
    f.width = W;
    f.height = H;
    if (spacingXyz) {
        f.unit.clear();
        for (int i = 0; i < 3; ++i)
            f.spacing.s[i] = (*spacingXyz)[i];
    }
    return f;
}

// A hull with everything the Python object shows, computed once without the GIL. vertices and
// faces are the buffers the numpy arrays view: they live as long as this object.
struct Result {
    voxwrap::Hull hull;
    voxwrap::Measurements m;
    Frame frame;
    std::vector<double> vertices;     // V x 3: z, y, x, scaled
    std::vector<std::int32_t> faces;  // F x 3, counter-clockwise from outside in (z, y, x)
};

std::shared_ptr<Result> ResultOf(voxwrap::Hull hull, std::int64_t voxels, const Frame& frame) {
    auto r = std::make_shared<Result>();
    r->frame = frame;
    r->hull = std::move(hull);
    r->m = voxwrap::Measure(r->hull, voxels, frame.spacing);
    const voxwrap::Points& v = r->hull.vertices;
    const double* s = frame.spacing.s;
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

// A hull as pickle keeps it: the exact corners and triangles as numpy arrays (their byte order
// travels with them), the voxel count and the frame. Everything else is computed again from
// these, so that a hull read back writes the same bytes.
py::tuple StateOf(const Result& r) {
    const voxwrap::Points& v = r.hull.vertices;
    py::array_t<std::int32_t> corners({std::size_t{3}, v.size()});
    auto c = corners.mutable_unchecked<2>();
    for (std::size_t k = 0; k < v.size(); ++k) {
        c(0, k) = v.x[k];
        c(1, k) = v.y[k];
        c(2, k) = v.z[k];
    }
    const auto& t = r.hull.triangles;
    py::array_t<std::int32_t> triangles({t.size(), std::size_t{3}});
    if (!t.empty()) std::memcpy(triangles.mutable_data(), t.data(), t.size() * sizeof(t[0]));
    const Frame& f = r.frame;
    return py::make_tuple(1, corners, triangles, r.m.objectVoxels, f.slices, f.width, f.height,
                          py::make_tuple(f.spacing.s[0], f.spacing.s[1], f.spacing.s[2]), f.unit,
                          f.stlUnit);
}

std::shared_ptr<Result> ResultOfState(const py::tuple& state) {
    using Ints = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>;
    if (state.size() != 10 || state[0].cast<int>() != 1) Refuse("Hull: not a pickled hull.");
    const Ints corners = state[1].cast<Ints>(), triangles = state[2].cast<Ints>();
    if (corners.ndim() != 2 || corners.shape(0) != 3 || triangles.ndim() != 2 ||
        triangles.shape(1) != 3)
        Refuse("Hull: not a pickled hull.");
    voxwrap::Hull hull;
    const auto c = corners.unchecked<2>();
    const auto n = static_cast<std::int32_t>(corners.shape(1));
    for (std::int32_t k = 0; k < n; ++k) {
        hull.vertices.x.push_back(c(0, k));
        hull.vertices.y.push_back(c(1, k));
        hull.vertices.z.push_back(c(2, k));
    }
    const auto t = triangles.unchecked<2>();
    for (py::ssize_t k = 0; k < triangles.shape(0); ++k) {
        const std::array<std::int32_t, 3> tri{t(k, 0), t(k, 1), t(k, 2)};
        for (const std::int32_t i : tri)
            if (i < 0 || i >= n) Refuse("Hull: not a pickled hull.");
        hull.triangles.push_back(tri);
    }
    Frame f;
    f.slices = state[4].cast<std::int64_t>();
    f.width = state[5].cast<std::int64_t>();
    f.height = state[6].cast<std::int64_t>();
    const auto s = state[7].cast<std::array<double, 3>>();
    for (int i = 0; i < 3; ++i)
        f.spacing.s[i] = s[i];
    f.unit = state[8].cast<std::string>();
    f.stlUnit = state[9].cast<std::string>();
    return ResultOf(std::move(hull), state[3].cast<std::int64_t>(), f);
}

std::shared_ptr<Result> MakeResult(voxwrap::Points points, std::int64_t voxels,
                                   const Frame& frame) {
    if (points.empty()) throw voxwrap::Error(Kind::Image, "no object.");
    return ResultOf(voxwrap::ConvexHull(std::move(points)), voxels, frame);
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

// A numpy dtype as the library's kind of sample: bool and uint8, uint16 (read as 16-bit rows by
// the workers), and the kinds the typed samplers take. Any other dtype is refused, never cast.
voxwrap::SampleType TypeOf(const py::dtype& dt) {
    using Format = voxwrap::SampleType::Format;
    const char kind = dt.kind();
    const int bits = static_cast<int>(dt.itemsize()) * 8;
    voxwrap::SampleType t;
    t.bits = bits;
    if ((kind == 'b' && bits == 8) || (kind == 'u' && (bits == 8 || bits == 16 || bits == 32))) {
        t.format = Format::Unsigned;
    } else if (kind == 'i' && (bits == 8 || bits == 16 || bits == 32)) {
        t.format = Format::Signed;
    } else if (kind == 'f' && (bits == 16 || bits == 32 || bits == 64)) {
        t.format = Format::Float;
    } else {
        Refuse("dtype " + py::cast<std::string>(dt.attr("name")) +
               " is not supported: voxwrap reads bool, uint8, uint16, uint32, int8, int16, int32, "
               "float16, float32 and float64 samples.");
    }
    return t;
}

// The range list of every nonzero sample of a kind (NaN is never selected): today's form on
// unsigned samples of up to 16 bits, which selects what it always did; values elsewhere, between
// the negative and the positive number nearest to 0 (the smallest subnormal double).
std::string NonzeroList(const voxwrap::SampleType& t) {
    using Format = voxwrap::SampleType::Format;
    if (t.format == Format::Unsigned) return t.bits <= 16 ? "1-" : "1:";
    return t.format == Format::Signed ? "-inf:-1,1:inf" : "-inf:-5e-324,5e-324:inf";
}

// Unsigned samples of up to 16 bits: the 16-bit rows every sampler reads, several slices at once
// for a whole volume. The other kinds go through the typed samplers.
bool Narrow(const voxwrap::SampleType& t) {
    return t.format == voxwrap::SampleType::Format::Unsigned && t.bits <= 16;
}

// A numpy array's samples as the library reads them, in either byte order, through the strides.
struct View {
    const char* data = nullptr;
    int itemsize = 0;
    voxwrap::SampleType type;
    bool swap = false;  // multi-byte samples in the other byte order
    std::vector<std::int64_t> shape;
    std::vector<std::ptrdiff_t> strides;  // in bytes, any sign
};

View ViewOf(const py::array& a, int ndim, const char* what) {
    if (a.ndim() != ndim)
        Refuse(std::string(what) + " must be " + std::to_string(ndim) + "-D, not " +
               std::to_string(a.ndim()) + "-D.");
    const py::dtype dt = a.dtype();
    View v;
    v.type = TypeOf(dt);
    v.itemsize = static_cast<int>(dt.itemsize());
    const char order = dt.attr("byteorder").cast<std::string>()[0];
    const bool little =
        py::module_::import("sys").attr("byteorder").cast<std::string>() == "little";
    v.swap = v.itemsize > 1 && (order == '>' ? little : order == '<' ? !little : false);
    v.data = static_cast<const char*>(a.data());
    for (int i = 0; i < ndim; ++i) {
        v.shape.push_back(a.shape(i));
        v.strides.push_back(a.strides(i));
    }
    return v;
}

// A slice of a view (rows along dimension first, columns the next) handed to a typed sampler's
// Add as T: where it lies when its rows are native samples side by side, else copied into a
// W x H buffer of native samples, each read through the strides.
template <class T, class Library>
void AddAs(Library& sampler, const char* base, const View& v, int first, std::int64_t W,
           std::int64_t H) {
    const std::ptrdiff_t rowStep = v.strides[first], colStep = v.strides[first + 1];
    const auto w = static_cast<std::int32_t>(W), h = static_cast<std::int32_t>(H);
    if (!v.swap && colStep == static_cast<std::ptrdiff_t>(sizeof(T)) &&
        rowStep % static_cast<std::ptrdiff_t>(sizeof(T)) == 0 &&
        reinterpret_cast<std::uintptr_t>(base) % alignof(T) == 0) {
        sampler.Add(reinterpret_cast<const T*>(base),
                    rowStep / static_cast<std::ptrdiff_t>(sizeof(T)), w, h);
        return;
    }
    std::vector<T> buffer(static_cast<std::size_t>(W * H));
    for (std::int64_t y = 0; y < H; ++y) {
        for (std::int64_t x = 0; x < W; ++x) {
            unsigned char bytes[sizeof(T)];
            std::memcpy(bytes, base + y * rowStep + x * colStep, sizeof(T));  // any alignment
            if (v.swap) std::reverse(bytes, bytes + sizeof(T));
            std::memcpy(&buffer[static_cast<std::size_t>(y * W + x)], bytes, sizeof(T));
        }
    }
    sampler.Add(buffer.data(), W, w, h);
}

// A slice of a typed view, by its kind: half floats go as their stored bits.
template <class Library>
void AddTyped(Library& sampler, const char* base, const View& v, int first, std::int64_t W,
              std::int64_t H) {
    using Format = voxwrap::SampleType::Format;
    const voxwrap::SampleType& t = v.type;
    if (t.format == Format::Signed && t.bits == 8)
        return AddAs<std::int8_t>(sampler, base, v, first, W, H);
    if (t.format == Format::Signed && t.bits == 16)
        return AddAs<std::int16_t>(sampler, base, v, first, W, H);
    if (t.format == Format::Signed) return AddAs<std::int32_t>(sampler, base, v, first, W, H);
    if (t.format == Format::Unsigned) return AddAs<std::uint32_t>(sampler, base, v, first, W, H);
    if (t.bits == 16) return AddAs<std::uint16_t>(sampler, base, v, first, W, H);
    if (t.bits == 32) return AddAs<float>(sampler, base, v, first, W, H);
    return AddAs<double>(sampler, base, v, first, W, H);
}

// The samples of row y of a 2-D view (rows dimension first, columns the next) as 16-bit values:
// the row itself when it already is one (rows of 16-bit samples side by side), else converted
// into out, W samples long.
const std::uint16_t* RowOf(const char* base, const View& v, int first, std::int64_t y,
                           std::int64_t W, std::uint16_t* out) {
    const std::ptrdiff_t colStep = v.strides[first + 1];
    const char* row = base + y * v.strides[first];
    if (v.itemsize == 2 && !v.swap && colStep == 2 &&
        reinterpret_cast<std::uintptr_t>(row) % alignof(std::uint16_t) == 0)
        return reinterpret_cast<const std::uint16_t*>(row);
    if (v.itemsize == 1) {
        for (std::int64_t x = 0; x < W; ++x)
            out[x] = static_cast<unsigned char>(row[x * colStep]);
    } else {
        for (std::int64_t x = 0; x < W; ++x) {
            std::uint16_t value;
            std::memcpy(&value, row + x * colStep, 2);  // any alignment
            out[x] = v.swap ? static_cast<std::uint16_t>(value << 8 | value >> 8) : value;
        }
    }
    return out;
}

// A slice of a view handed to a sampler's Add: unsigned samples of up to 16 bits as 16-bit rows
// (where they lie when they already are such rows; uint8 and bool widened), the other kinds as
// their own type.
template <class Library>
void AddSliceTo(Library& sampler, const char* base, const View& v, int first, std::int64_t W,
                std::int64_t H) {
    if (!Narrow(v.type)) return AddTyped(sampler, base, v, first, W, H);
    if (v.itemsize == 2) return AddAs<std::uint16_t>(sampler, base, v, first, W, H);
    std::vector<std::uint16_t> buffer(static_cast<std::size_t>(W * H));
    for (std::int64_t y = 0; y < H; ++y)
        RowOf(base, v, first, y, W, buffer.data() + y * W);  // one-byte samples: always copied
    sampler.Add(buffer.data(), W, static_cast<std::int32_t>(W), static_cast<std::int32_t>(H));
}

// A 3-D array as slices that the library's workers read themselves, several at once, each
// through the strides a row at a time: the reduction of the slices runs in parallel, and no more
// than a row per worker is ever converted.
class ArraySlices : public voxwrap::SliceSource {
  public:
    explicit ArraySlices(const View& v) : v_(v) {}
    std::size_t size() const override { return static_cast<std::size_t>(v_.shape[0]); }
    void Decode(std::size_t k, std::int32_t W, std::int32_t H, const voxwrap::RowSink& sink,
                std::string*) const override {
        const char* base = v_.data + static_cast<std::ptrdiff_t>(k) * v_.strides[0];
        std::vector<std::uint16_t> row(static_cast<std::size_t>(W));
        for (std::int32_t y = 0; y < H; ++y)
            sink(y, RowOf(base, v_, 1, y, W, row.data()), W);
    }

  private:
    const View v_;
};

// A volume of some voxel, of a size the mesh files hold exactly, with a spacing they hold.
void CheckSize(std::int64_t W, std::int64_t H, std::int64_t N, const SpacingXyz& spacingXyz) {
    if (W <= 0 || H <= 0 || N <= 0) throw voxwrap::Error(Kind::Image, "no object.");
    if (W > kExactFloat || H > kExactFloat || N > kExactFloat)
        Refuse("volume too large for exact mesh coordinates (at most 16777216 columns, rows and "
               "slices).");
    if (spacingXyz) {
        voxwrap::Spacing s;
        for (int i = 0; i < 3; ++i)
            s.s[i] = (*spacingXyz)[i];
        if (!voxwrap::SpacingFits(s, {W, H, N}))
            Refuse("spacing : bad value (every coordinate must be a finite single-precision "
                   "number).");
    }
}

// The checks before a sample is read: a selection of some value (a list that selects none can
// hold no object), then the size. N = voxwrap::kAnySlices, a stream's unknown count, is checked
// as one slice here and as the slices read at the end.
voxwrap::Selection CheckVolume(const std::string& rangeList, std::int64_t W, std::int64_t H,
                               std::int64_t N, const SpacingXyz& spacingXyz) {
    voxwrap::Selection selection = voxwrap::Selection::FromRangeList(rangeList);
    if (selection.Empty()) throw voxwrap::Error(Kind::Image, "no object.");
    CheckSize(W, H, N == voxwrap::kAnySlices ? 1 : N, spacingXyz);
    return selection;
}

voxwrap::SampleOptions Options(unsigned threads, Warnings& warnings) {
    voxwrap::SampleOptions options;
    options.threads = threads;
    options.countVoxels = true;
    options.warning = warnings.Sink();
    return options;
}

// Feeds 2-D slices to an in-memory sampler (SliceSampler for one hull, ObjectSampler for every
// object): an iterable's, read by the caller one at a time, or those of a volume of a kind the
// workers do not read themselves (AddSliceTo).
template <class Library>
class Feeder {
  public:
    template <class... Rule>
    Feeder(std::int64_t W, std::int64_t H, std::int64_t N, const std::string& rangeList,
           unsigned threads, const SpacingXyz& spacingXyz, voxwrap::SampleType type,
           const Rule&... rule)
        : W_(W), H_(H), N_(N), spacingXyz_(spacingXyz), type_(type) {
        const voxwrap::Selection selection = CheckVolume(rangeList, W, H, N, spacingXyz);
        const auto w = static_cast<std::int32_t>(W), h = static_cast<std::int32_t>(H);
        sampler_ = std::make_unique<Library>(w, h, N, selection, type, rule...,
                                             Options(threads, warnings_));
    }

    void Add(const py::array& slice) {
        // A stream ends where its mesh coordinates would no longer be exact.
        if (N_ == voxwrap::kAnySlices && added_ == kExactFloat) CheckSize(W_, H_, added_ + 1, {});
        const View v = ViewOf(slice, 2, "slice");
        if (v.shape[0] != H_ || v.shape[1] != W_)
            Refuse("slice: shape differs from the sampler's.");
        if (Narrow(v.type) != Narrow(type_) ||
            (!Narrow(type_) && (v.type.format != type_.format || v.type.bits != type_.bits)))
            Refuse("slice: dtype differs from the sampler's.");
        WithoutGil(warnings_, [&] { AddSlice(v.data, v, 0); });
        ++added_;
    }

    // Every slice of a 3-D view, without the GIL.
    void AddVolume(const View& v) {
        WithoutGil(warnings_, [&] {
            for (std::int64_t z = 0; z < N_; ++z)
                AddSlice(v.data + z * v.strides[0], v, 1);
        });
    }

    // The frame of the slices fed, checked as a volume of that size once a stream has ended.
    Frame FrameOfStack() const {
        const std::int64_t N = N_ == voxwrap::kAnySlices ? added_ : N_;
        if (N_ == voxwrap::kAnySlices) CheckSize(W_, H_, N, spacingXyz_);
        return FrameOf(spacingXyz_, N, W_, H_);
    }
    Library& sampler() { return *sampler_; }
    Warnings& warnings() { return warnings_; }

  private:
    // The slice at base, its rows along dimension first of v.
    void AddSlice(const char* base, const View& v, int first) {
        AddSliceTo(*sampler_, base, v, first, W_, H_);
    }

    std::int64_t W_, H_, N_;  // N_: or voxwrap::kAnySlices
    std::int64_t added_ = 0;  // slices through Add
    SpacingXyz spacingXyz_;
    voxwrap::SampleType type_;
    Warnings warnings_;  // before sampler_: the sampler's options point into it
    std::unique_ptr<Library> sampler_;
};

class Sampler : public Feeder<voxwrap::SliceSampler> {
  public:
    using Feeder::Feeder;
    std::shared_ptr<Result> Finish() {
        const Frame frame = FrameOfStack();
        std::shared_ptr<Result> r;
        WithoutGil(warnings(),
                   [&] { r = MakeResult(sampler().Finish(), sampler().voxels(), frame); });
        return r;
    }
};

// A 3-D array's hull: its slices reduced by the workers in parallel, or (kinds other than
// unsigned samples of up to 16 bits) by the typed sampler a slice at a time.
std::shared_ptr<Result> HullVolume(const py::array& volume, const std::string& rangeList,
                                   unsigned threads, const SpacingXyz& spacingXyz) {
    const View v = ViewOf(volume, 3, "volume");
    const std::int64_t N = v.shape[0], H = v.shape[1], W = v.shape[2];
    if (!Narrow(v.type)) {
        Sampler sampler(W, H, N, rangeList, threads, spacingXyz, v.type);
        sampler.AddVolume(v);
        return sampler.Finish();
    }
    const voxwrap::Selection selection = CheckVolume(rangeList, W, H, N, spacingXyz);
    Warnings warnings;
    std::shared_ptr<Result> r;
    WithoutGil(warnings, [&] {
        std::int64_t voxels = 0;
        voxwrap::Points points = voxwrap::SampleSlices(ArraySlices(v), static_cast<std::int32_t>(W),
                                                       static_cast<std::int32_t>(H), selection,
                                                       Options(threads, warnings), &voxels);
        r = MakeResult(std::move(points), voxels, FrameOf(spacingXyz, N, W, H));
    });
    return r;
}

// Every object's hull and row, as the command line's --objects run computes them: the filters,
// then the hulls on the workers, then the rows from the same hulls.
struct Objects {
    std::vector<std::shared_ptr<Result>> hulls;
    std::vector<voxwrap::ObjectRow> rows;
};

Objects HullsOf(std::vector<voxwrap::SampledObject> objects, std::int64_t minVoxels,
                std::int64_t largest, unsigned threads, const Frame& frame) {
    voxwrap::FilterObjects(objects, minVoxels, largest);
    if (objects.empty()) throw voxwrap::Error(Kind::Image, "no object.");
    std::vector<voxwrap::Hull> hulls = voxwrap::ObjectHulls(objects, threads);
    Objects out;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        out.rows.push_back(voxwrap::MeasureObject(objects[k], hulls[k], frame.spacing));
        out.hulls.push_back(ResultOf(std::move(hulls[k]), objects[k].voxels, frame));
    }
    return out;
}

voxwrap::ObjectRule RuleOf(const std::string& kind, int connectivity) {
    voxwrap::ObjectRule rule;
    if (kind == "labels") {
        rule.kind = voxwrap::ObjectRule::Kind::Labels;
    } else if (kind == "components") {
        rule.kind = voxwrap::ObjectRule::Kind::Components;
    } else {
        Refuse("objects \"" + kind + "\" : bad value; give \"labels\" or \"components\".");
    }
    rule.connectivity = connectivity;
    return rule;
}

class ObjectFeeder : public Feeder<voxwrap::ObjectSampler> {
  public:
    ObjectFeeder(std::int64_t W, std::int64_t H, std::int64_t N, const std::string& rangeList,
                 unsigned threads, const SpacingXyz& spacingXyz, voxwrap::SampleType type,
                 const std::string& kind, int connectivity)
        : Feeder(W, H, N, rangeList, threads, spacingXyz, type, RuleOf(kind, connectivity)),
          threads_(threads) {}
    Objects Finish(std::int64_t minVoxels, std::int64_t largest) {
        const Frame frame = FrameOfStack();
        Objects out;
        WithoutGil(warnings(),
                   [&] { out = HullsOf(sampler().Finish(), minVoxels, largest, threads_, frame); });
        return out;
    }

  private:
    unsigned threads_;
};

Objects ObjectsOfVolume(const py::array& volume, const std::string& rangeList,
                        const std::string& kind, int connectivity, std::int64_t minVoxels,
                        std::int64_t largest, unsigned threads, const SpacingXyz& spacingXyz) {
    const voxwrap::ObjectRule rule = RuleOf(kind, connectivity);
    const View v = ViewOf(volume, 3, "volume");
    const std::int64_t N = v.shape[0], H = v.shape[1], W = v.shape[2];
    if (!Narrow(v.type)) {
        ObjectFeeder feeder(W, H, N, rangeList, threads, spacingXyz, v.type, kind, connectivity);
        feeder.AddVolume(v);
        return feeder.Finish(minVoxels, largest);
    }
    const voxwrap::Selection selection = CheckVolume(rangeList, W, H, N, spacingXyz);
    Warnings warnings;
    Objects out;
    WithoutGil(warnings, [&] {
        out = HullsOf(voxwrap::SampleObjects(ArraySlices(v), static_cast<std::int32_t>(W),
                                             static_cast<std::int32_t>(H), selection, rule,
                                             Options(threads, warnings)),
                      minVoxels, largest, threads, FrameOf(spacingXyz, N, W, H));
    });
    return out;
}

// The objects as Python wants them: {id: Hull} in id order, or the --table columns as numpy
// arrays, named as the command line's CSV names them (x, y, z: the array's axes 2, 1, 0).
py::dict HullsDict(const Objects& o) {
    py::dict d;
    for (std::size_t k = 0; k < o.rows.size(); ++k)
        d[py::int_(o.rows[k].id)] = py::cast(o.hulls[k]);
    return d;
}

py::dict TableDict(const Objects& o) {
    const std::size_t n = o.rows.size();
    py::dict d;
    auto ints = [&](const char* name,
                    const std::function<std::int64_t(const voxwrap::ObjectRow&)>& f) {
        py::array_t<std::int64_t> a(n);
        for (std::size_t k = 0; k < n; ++k)
            a.mutable_at(k) = f(o.rows[k]);
        d[name] = a;
    };
    auto reals = [&](const char* name, const std::function<double(const voxwrap::ObjectRow&)>& f) {
        py::array_t<double> a(n);
        for (std::size_t k = 0; k < n; ++k)
            a.mutable_at(k) = f(o.rows[k]);
        d[name] = a;
    };
    using Row = voxwrap::ObjectRow;
    ints("id", [](const Row& r) { return r.id; });
    ints("voxels", [](const Row& r) { return r.voxels; });
    reals("volume", [](const Row& r) { return r.hull.objectVolume; });
    reals("hull_volume", [](const Row& r) { return r.hull.hullVolume; });
    reals("hull_area", [](const Row& r) { return r.hull.hullArea; });
    reals("solidity", [](const Row& r) { return r.hull.solidity; });
    ints("hull_vertices", [](const Row& r) { return r.hull.hullVertices; });
    ints("hull_facets", [](const Row& r) { return r.hull.hullFacets; });
    const char* const axes[3] = {"x", "y", "z"};
    for (int i = 0; i < 3; ++i)
        reals(("bbox_min_" + std::string(axes[i])).c_str(),
              [i](const Row& r) { return r.bboxMin[i]; });
    for (int i = 0; i < 3; ++i)
        reals(("bbox_max_" + std::string(axes[i])).c_str(),
              [i](const Row& r) { return r.bboxMax[i]; });
    for (int i = 0; i < 3; ++i)
        reals(("centroid_" + std::string(axes[i])).c_str(),
              [i](const Row& r) { return r.centroid[i]; });
    return d;
}

py::dict ObjectsResult(const Objects& o, bool table) { return table ? TableDict(o) : HullsDict(o); }

// A TIFF stack as the command line reads it: directory, name file or option, range list; the
// spacing given, or ("tiff") the one the slices record.
std::shared_ptr<Result> HullStack(const std::string& directory, const std::string& names,
                                  const std::optional<std::string>& rangeList, unsigned threads,
                                  const SpacingXyz& spacingXyz, bool spacingTiff) {
    Warnings warnings;
    std::shared_ptr<Result> r;
    WithoutGil(warnings, [&] {
        voxwrap::Events events;
        events.warning = warnings.Sink();
        const voxwrap::Stack stack = voxwrap::ListStack(directory, names, events);
        const voxwrap::Selection selection =
            voxwrap::Selection::FromRangeList(rangeList ? *rangeList : NonzeroList(stack.samples));
        if (selection.Empty()) throw voxwrap::Error(Kind::Image, "no object.");
        const std::int64_t N = static_cast<std::int64_t>(stack.slices.size());
        if (stack.width > kExactFloat || stack.height > kExactFloat || N > kExactFloat)
            Refuse("stack too large for exact STL coordinates (at most 16777216 columns, rows and "
                   "slices).");
        Frame frame = FrameOf(spacingXyz, N, stack.width, stack.height);
        if (spacingXyz) {
            if (!voxwrap::SpacingFits(frame.spacing, {stack.width, stack.height, N}))
                Refuse("spacing : bad value (every coordinate must be a finite single-precision "
                       "number).");
        } else if (spacingTiff) {
            const voxwrap::RecordedSpacing found = voxwrap::SpacingFromTiff(stack, names);
            frame.spacing = found.spacing;
            frame.unit = frame.stlUnit = found.unit;
        }
        voxwrap::Sampled sampled =
            voxwrap::SampleStack(stack, selection, Options(threads, warnings));
        r = MakeResult(std::move(sampled.points), sampled.voxels, frame);
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
// A block sampler as AddSliceTo feeds a sampler: the block knows its slices' size.
struct BlockAdder {
    voxwrap::BlockSampler& sampler;
    template <class T>
    void Add(const T* samples, std::ptrdiff_t rowStride, std::int32_t, std::int32_t) {
        sampler.Add(samples, rowStride);
    }
};

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
        const std::int32_t x0 = static_cast<std::int32_t>(offsetZyx[2]),
                           y0 = static_cast<std::int32_t>(offsetZyx[1]),
                           z0 = static_cast<std::int32_t>(offsetZyx[0]);
        voxwrap::BlockSampler sampler(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
                                      static_cast<std::int32_t>(n), x0, y0, z0, selection, v.type,
                                      labels, options);
        BlockAdder adder{sampler};
        for (std::int64_t z = 0; z < n; ++z)
            AddSliceTo(adder, v.data + z * v.strides[0], v, 1, w, h);
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

// The whole's checks, as voxwrap.hull makes them on the whole array: a size the mesh files hold
// exactly, a spacing they hold. shape is (z, y, x).
Frame CheckWhole(const std::array<std::int64_t, 3>& shape, const SpacingXyz& spacingXyz) {
    CheckVolume("1-", shape[2], shape[1], shape[0], spacingXyz);
    return FrameOf(spacingXyz, shape[0], shape[2], shape[1]);
}

// The one object's hull, as voxwrap.hull builds it for the whole volume.
std::shared_ptr<Result> PartsHull(const Parts& p, const std::array<std::int64_t, 3>& shape,
                                  const SpacingXyz& spacingXyz) {
    const Frame frame = CheckWhole(shape, spacingXyz);
    if (p.parts.size() > 1) Refuse("blocks: labelled parts have no single hull.");
    voxwrap::Points points;
    std::int64_t voxels = 0;
    if (!p.parts.empty()) {
        points = p.parts[0].points;
        voxels = p.parts[0].voxels;
    }
    Warnings none;
    std::shared_ptr<Result> r;
    WithoutGil(none, [&] { r = MakeResult(std::move(points), voxels, frame); });
    return r;
}

// The labels' hulls and rows exactly as the command line's --objects run makes them: a block
// part is a sampled object.
py::dict PartsObjects(const Parts& p, const std::array<std::int64_t, 3>& shape,
                      const SpacingXyz& spacingXyz, std::int64_t minVoxels, std::int64_t largest,
                      bool table) {
    const Frame frame = CheckWhole(shape, spacingXyz);
    std::vector<voxwrap::SampledObject> objects = p.parts;
    Warnings none;
    Objects out;
    WithoutGil(none, [&] { out = HullsOf(std::move(objects), minVoxels, largest, 1, frame); });
    return ObjectsResult(out, table);
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
        .def("objects", &PartsObjects, py::arg("shape"), py::arg("spacing_xyz"),
             py::arg("min_voxels"), py::arg("largest"), py::arg("table"))
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
            CheckWhole(shape, spacingXyz);
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
                in.slices = r.frame.slices;
                in.width = r.frame.width;
                in.height = r.frame.height;
                in.spacing = r.frame.spacing;
                in.unit = r.frame.unit;
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
                    voxwrap::WriteMesh(out, r.hull, f, r.frame.spacing,
                                       f == voxwrap::MeshFormat::Stl ? r.frame.stlUnit
                                                                     : r.frame.unit);
                    out.close();
                    if (!out) throw voxwrap::Error(Kind::Output, "file not stored.");
                });
            },
            py::arg("path"), py::arg("format") = py::none(),
            R"(Writes the mesh: "stl", "stl-ascii", "ply" or "obj"; by default from the
extension (.stl, .ply, .obj). The bytes are the command line's for the same data and spacing.)")
        // Pickled (and so copied, and sent between processes by multiprocessing or dask) as its
        // exact corners and triangles.
        .def(py::pickle([](const Result& r) { return StateOf(r); },
                        [](const py::tuple& state) { return ResultOfState(state); }))
        .def("__repr__", [](const Result& r) {
            return py::str("<voxwrap.Hull: {} vertices, {} faces, volume {!r}, solidity {!r}>")
                .format(r.hull.vertices.size(), r.hull.triangles.size(), r.m.hullVolume,
                        r.m.solidity);
        });

    py::class_<Sampler>(m, "Sampler")
        .def(py::init([](std::int64_t w, std::int64_t h, std::int64_t n,
                         const std::string& rangeList, unsigned threads,
                         const SpacingXyz& spacingXyz, const py::dtype& dtype) {
                 return std::make_unique<Sampler>(w, h, n, rangeList, threads, spacingXyz,
                                                  TypeOf(dtype));
             }),
             py::arg("width"), py::arg("height"), py::arg("slices"), py::arg("range_list"),
             py::arg("threads"), py::arg("spacing_xyz"), py::arg("dtype"))
        .def("add_slice", &Sampler::Add)
        .def("finish", &Sampler::Finish);

    py::class_<ObjectFeeder>(m, "ObjectSampler")
        .def(py::init([](std::int64_t w, std::int64_t h, std::int64_t n,
                         const std::string& rangeList, unsigned threads,
                         const SpacingXyz& spacingXyz, const py::dtype& dtype,
                         const std::string& objects, int connectivity) {
                 return std::make_unique<ObjectFeeder>(w, h, n, rangeList, threads, spacingXyz,
                                                       TypeOf(dtype), objects, connectivity);
             }),
             py::arg("width"), py::arg("height"), py::arg("slices"), py::arg("range_list"),
             py::arg("threads"), py::arg("spacing_xyz"), py::arg("dtype"), py::arg("objects"),
             py::arg("connectivity"))
        .def("add_slice", &ObjectFeeder::Add)
        .def(
            "finish",
            [](ObjectFeeder& f, std::int64_t minVoxels, std::int64_t largest, bool table) {
                return ObjectsResult(f.Finish(minVoxels, largest), table);
            },
            py::arg("min_voxels"), py::arg("largest"), py::arg("table"));

    m.def("hull_volume", &HullVolume, py::arg("volume"), py::arg("range_list"), py::arg("threads"),
          py::arg("spacing_xyz"));
    m.def(
        "objects_volume",
        [](const py::array& volume, const std::string& rangeList, const std::string& kind,
           int connectivity, std::int64_t minVoxels, std::int64_t largest, unsigned threads,
           const SpacingXyz& spacingXyz, bool table) {
            return ObjectsResult(ObjectsOfVolume(volume, rangeList, kind, connectivity, minVoxels,
                                                 largest, threads, spacingXyz),
                                 table);
        },
        py::arg("volume"), py::arg("range_list"), py::arg("objects"), py::arg("connectivity"),
        py::arg("min_voxels"), py::arg("largest"), py::arg("threads"), py::arg("spacing_xyz"),
        py::arg("table"));
    m.def(
        "nonzero_list", [](const py::dtype& dtype) { return NonzeroList(TypeOf(dtype)); },
        py::arg("dtype"));
    m.def("hull_stack", &HullStack, py::arg("directory"), py::arg("names"), py::arg("range_list"),
          py::arg("threads"), py::arg("spacing_xyz"), py::arg("spacing_tiff"));

    BindBlocks(m);
}
