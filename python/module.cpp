// voxwrap._voxwrap: the compiled half of the Python package. It checks dtypes and shapes, reads
// numpy arrays through their strides one slice at a time, runs the library with the GIL released
// and hands the results back without copying. Argument conversions (the selection, the spacing,
// iterables of slices) live in voxwrap/__init__.py; this file only sees plain values.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <voxwrap/voxwrap.h>

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
}
