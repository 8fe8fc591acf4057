#pragma once
// voxwrap: the exact convex hull of the selected voxel cubes of a 3-D image, and the
// measurements of it. This header is the library's whole public surface; everything else is
// private to it.
//
// A run in four steps, each usable alone:
//   Stack stack = ListStack("scans", "--n");                    // the slices, in order
//   Sampled s = SampleStack(stack, Selection::FromRangeList("1000-4095"));
//   Hull hull = ConvexHull(std::move(s.points));                 // exact, corners only
//   WriteMesh(out, hull, MeshFormat::Stl, Spacing{}, "");        // or Measure(hull, ...)
// A volume in memory takes SliceSampler instead of the first two steps.
//
// Every failure throws Error, whose what() is exactly what the command line prints; the library
// never writes to a stream it was not given, never touches signals, and never ends the process.
// Calls on different objects may run on different threads at once.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace voxwrap {

// ---- failures and events ----

class Error : public std::runtime_error {  // what() is exactly what the user will read
  public:
    enum class Kind {
        Argument,   // a bad argument: a range list, an option's value, a misused sampler
        NotFound,   // a file or directory that does not exist
        Image,      // a file that is no readable image, or images that do not fit together
        Memory,     // an allocation that failed
        Geometry,   // the hull could not be built, or failed its check
        Output,     // a file that could not be written
        Cancelled,  // the caller's cancellation poll said stop
    };
    Error(Kind kind, std::string text) : std::runtime_error(std::move(text)), kind_(kind) {}
    Kind kind() const noexcept { return kind_; }

  private:
    Kind kind_;
};

// Where the library reports while it works, on the calling thread: never standard error.
struct Events {
    // A warning, one whole line without its line feed ("s0007.tif : Deflate too many code
    // (warning)."), in slice order. None: dropped.
    std::function<void(const std::string& line)> warning;
    // After every slice: done of total.
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    // Asked before every slice; true ends the work with Error::Kind::Cancelled.
    std::function<bool()> cancelled;
};

// ---- points and hulls ----

// The largest coordinate magnitude the hull takes: every sign is then decided exactly in 64- and
// 128-bit integers (differences below 2^29, determinants below 2^90).
constexpr std::int32_t kCoordinateLimit = (std::int32_t{1} << 28) - 1;  // 268435455

// Integer points as three arrays (structure of arrays): a stage hands its points to the next by
// moving the vectors. Their order is part of the result: the hull breaks ties by it.
struct Points {
    std::vector<std::int32_t> x, y, z;

    std::size_t size() const { return x.size(); }
    bool empty() const { return x.empty(); }
    void push_back(std::int32_t px, std::int32_t py, std::int32_t pz) {
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
};

struct Hull {
    // The corners of the hull, each once, in the order of the input points.
    Points vertices;
    // Indices into vertices, counter-clockwise seen from outside, none of zero area, in the order
    // of the hull's face slots (the order of the binary STL's records).
    std::vector<std::array<std::int32_t, 3>> triangles;
};

// The exact convex hull of the points (|coordinate| <= kCoordinateLimit): every vertex a corner,
// no face of zero area. Ties are broken by the order of the points; repeated points count once.
// Fewer than 6 corners (points all in one plane have none) fail with Kind::Geometry, memory with
// Kind::Memory. In builds with assertions the result is checked exactly before it is returned.
// Taken by value: move the points in to lend their arrays to the hull without a copy.
Hull ConvexHull(Points points);

// Checks exactly that hull is the convex hull of points: closed, oriented, Euler's formula, every
// vertex a corner and an input point, every point inside or on every face. Throws
// Kind::Geometry "hull verification failed: <fault>." otherwise.
void VerifyHull(const Points& points, const Hull& hull);

// ---- the stack ----

// The kind of sample a stack holds: unsigned integers of 1 to 16 or 32 bits, signed integers of
// 1 to 16 or 32 bits (TIFF's SampleFormat 2; 8, 16 and 32 are the usual ones) or floating-point
// numbers of 16 (half), 32 or 64 bits. Unsigned slices of 1 to 16 bits mix in one stack (bits is
// then the largest); any other kind is the same in every slice.
struct SampleType {
    enum class Format { Unsigned, Signed, Float };
    Format format = Format::Unsigned;
    int bits = 16;

    // Delivered as one 16-bit word per sample (unsigned and signed of up to 16 bits, half floats)
    // rather than as a 32- or 64-bit word.
    bool Narrow() const { return bits <= 16; }
    // What the messages call it: "unsigned 8-bit", "signed 16-bit", "32-bit floating-point".
    std::string Name() const;
    // Whether slices of the two kinds can make one stack.
    bool Mixes(const SampleType& other) const {
        if (format == Format::Unsigned && other.format == Format::Unsigned)
            return Narrow() == other.Narrow();
        return format == other.format && bits == other.bits;
    }
};

// One slice: a TIFF file, and the image within it (a stack file's page: the file offset of its
// directory, 0 for the file's first, and the image's number within a run of images that one
// directory describes, as ImageJ writes stacks beyond 4 GiB).
struct Slice {
    std::string path;
    std::uint64_t ifd = 0;
    std::uint64_t image = 0;
};

// The slices in order (the position of a slice is its z), the largest width and height, and
// the kind of their samples.
struct Stack {
    std::vector<Slice> slices;
    std::int32_t width = 0, height = 0;
    SampleType samples;
};

// The stack as the command line reads its first two arguments: nameFile a name file, "-" and
// names ("-a.tif b.tif"), or a sorting option of the directory's listing ("-", "--r", "--n",
// "--rn", "--v", "--rv"); directory may be a stack file (a TIFF file whose images are the
// slices). Every header is checked once; the header pass's warnings go to events.warning. A
// slice whose kind of sample does not mix with the first slice's fails with Kind::Image
// "path : holds <kind> samples where the first slice holds <kind> samples.".
Stack ListStack(const std::string& directory, const std::string& nameFile,
                const Events& events = {});

// ---- the selection ----

// Which sample values belong to the object.
class Selection {
  public:
    // The range list in one of two forms; any syntax error fails with Kind::Argument
    // "bad range list.".
    // - Without ":", stored bits 0..65535: "1000-4095", "1,5,7-9,200-" and the like. Signed
    //   samples of up to 16 bits are taken as their stored bits; stacks of 32-bit or
    //   floating-point samples refuse this form.
    // - With ":", values: "A:B" (A <= v <= B), "A:", ":B", ":", or "A" (v = A), comma-separated;
    //   A and B are decimal numbers with an optional sign, fraction and exponent, or inf/-inf.
    //   Every sample is compared as its exact value; NaN is never selected, -0.0 equals 0.0.
    static Selection FromRangeList(const std::string& text);

    // For unsigned samples of up to 16 bits (in either form).
    bool Contains(std::uint16_t value) const { return table_[value] != 0; }
    // No value is selected: no slice can hold an object.
    bool Empty() const;
    // One byte per value 0..65535, not 0 for a selected value (of unsigned samples).
    const unsigned char* Table() const { return table_.data(); }
    // The list was written with ":": it names values rather than stored bits.
    bool Values() const { return values_; }

  private:
    friend class SampleSelection;
    Selection() : table_(65536) {}
    std::vector<unsigned char> table_;
    bool values_ = false;
    std::string text_;                                  // as given: the refusals quote it
    std::vector<std::pair<double, double>> intervals_;  // values: sorted, disjoint, closed
};

// ---- sampling ----

// A sampling run's work and what it reports.
struct SampleOptions : Events {
    // Workers that decode and reduce slices and slabs: 0 one per core, 1 everything on the
    // calling thread. The points, every event and every failure are the same for any number.
    unsigned threads = 0;
    // Counting every object sample reads whole rows, where the sampling alone stops at the first
    // object sample from each end: asked for only when wanted.
    bool countVoxels = false;
};

// The candidate points of the hull (every corner of the hull of the selected voxel cubes is among
// them, and they are exactly those corners unless memory ran short on the way or the stack lies
// beyond kCoordinateLimit), in collection order, and the object's voxels when counted.
struct Sampled {
    Points points;
    std::int64_t voxels = 0;
};

// Samples every slice of the stack, each padded with zeros to the stack's width and height. A
// failure is the first in slice order, after the warnings of the slices before it. A list
// without ":" on a stack of 32-bit or floating-point samples fails before any slice is read,
// with Kind::Argument "<list> : the slices hold floating-point samples; write the range with a
// colon, such as 0.5: or -1000:400." (32-bit integers: "<list> : the slices hold 32-bit integer
// samples; write the range with a colon, such as 1:70000 or -1000:400.").
Sampled SampleStack(const Stack& stack, const Selection& selection,
                    const SampleOptions& options = {});

// The slice count of an in-memory sampler fed from a source that learns its length only at its
// end (a stream, a generator): the stack is then the slices added before Finish, at least one and
// at most kCoordinateLimit.
constexpr std::int64_t kAnySlices = -1;

// The same from memory: the caller feeds exactly N slices (or, with N = kAnySlices, any number) of
// at most W x H samples, each padded with zeros like a file slice, so a volume gives the points,
// and so the hull, of the same data as files. No slice is kept after Add returns.
class SliceSampler {
  public:
    // Unsigned samples of up to 16 bits, fed as uint16.
    SliceSampler(std::int32_t W, std::int32_t H, std::int64_t N, const Selection& selection,
                 const SampleOptions& options = {});
    // Samples of the given kind, fed with the Add of its C++ type: uint16 for unsigned samples
    // of up to 16 bits and for half floats (their stored bits), int8, int16, uint32, int32,
    // float, double. A selection this kind refuses fails as SampleStack fails; an Add of
    // another type fails with Kind::Argument "sampler: samples of another kind.".
    SliceSampler(std::int32_t W, std::int32_t H, std::int64_t N, const Selection& selection,
                 SampleType samples, const SampleOptions& options = {});
    ~SliceSampler();
    SliceSampler(const SliceSampler&) = delete;
    SliceSampler& operator=(const SliceSampler&) = delete;

    // The next slice: h rows of w samples, row y starting at samples + y * rowStride.
    // T is the C++ type of the sampler's kind: std::uint16_t (unsigned samples of up to 16 bits,
    // half floats as their bits), std::int8_t, std::int16_t, std::uint32_t, std::int32_t, float
    // or double, the types it is defined for.
    template <class T>
    void Add(const T* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h);
    // The points, once all N slices were added (with kAnySlices: once at least one was); the
    // sampler is spent.
    Points Finish();
    // The object samples of the slices added so far, when counted.
    std::int64_t voxels() const { return voxels_; }

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::int64_t voxels_ = 0;
};

// Slices that the sampling's workers read themselves, several slices at once: files, or a
// volume in memory that the workers reduce in parallel where SliceSampler reduces on the calling
// thread. Receives a slice's rows in order y = 0, 1, ...: row y's width samples, each the sample
// value zero-extended, valid only during the call.
using RowSink =
    std::function<void(std::int32_t y, const std::uint16_t* samples, std::int32_t width)>;
// The same for every kind of sample: row y's width samples as words of their stored bits in the
// host's byte order, std::uint16_t for kinds of up to 16 bits (zero-extended), std::uint32_t
// for 32-bit kinds, std::uint64_t for 64-bit floats.
using WordSink = std::function<void(std::int32_t y, const void* words, std::int32_t width)>;

class SliceSource {
  public:
    virtual ~SliceSource() = default;
    virtual std::size_t size() const = 0;
    // Hands slice k's rows to sink in order, each at most W samples, rows y < H only, or fails
    // (an Error); whole warning lines ("...\n") are appended to *warnings in the order issued.
    // Called on the workers, for different slices at once.
    virtual void Decode(std::size_t k, std::int32_t W, std::int32_t H, const RowSink& sink,
                        std::string* warnings) const = 0;
    // The same with the samples themselves as words of their kind, for a source of a wide kind
    // whose Decode hands out the selection's codes (the file stacks'); by default Decode's rows.
    virtual void DecodeWords(std::size_t k, std::int32_t W, std::int32_t H, const WordSink& sink,
                             std::string* warnings) const {
        Decode(
            k, W, H,
            [&sink](std::int32_t y, const std::uint16_t* row, std::int32_t w) { sink(y, row, w); },
            warnings);
    }
};

// Samples every slice of source, each padded with zeros to W x H: the points SampleStack gives for
// the same samples, the same for any number of threads. A failure is the first one in slice
// order, after the warnings of the slices before it; allocation failures fail with
// "no allocatable memory for sampling points.". With options.countVoxels, *voxels receives the
// object samples of all padded slices (0 otherwise).
Points SampleSlices(const SliceSource& source, std::int32_t W, std::int32_t H,
                    const Selection& selection, const SampleOptions& options = {},
                    std::int64_t* voxels = nullptr);

// ---- measuring ----

// The size of a voxel along x, y and z. The hull is computed in voxel units; scaling each axis by
// a positive factor maps the hull of the cubes onto the hull of the scaled cubes.
struct Spacing {
    double s[3] = {1, 1, 1};
    bool Identity() const { return s[0] == 1 && s[1] == 1 && s[2] == 1; }
};

// The voxel size the stack's slices record, as the command line's --spacing tiff finds it: every
// slice (every image of a stack file) must record the same complete size (XResolution,
// YResolution and ResolutionUnit, ImageJ's "unit=" and "spacing="), within what single-precision
// mesh files hold; otherwise it fails, the message beginning "--spacing tiff : " and naming the
// slice. nameFile is ListStack's: it numbers a stack file's
// images in messages.
struct RecordedSpacing {
    Spacing spacing;
    std::string unit;    // as recorded, in UTF-8 ("\u00B5m"); the mesh files' and report's unit
    std::string notice;  // what was found, as a line to tell the user ("s00.tif : spacing ...")
};
RecordedSpacing SpacingFromTiff(const Stack& stack, const std::string& nameFile = "-");

__extension__ typedef __int128 Int128;

// A hull's measurements, scaled by the spacing. The volumes come from exact integers, rounded
// once: the hull's six times volume in voxel units is exact.
struct Measurements {
    Int128 sixVolume = 0;  // six times the hull's volume, in voxel units, exactly
    std::int64_t objectVoxels = 0;
    double objectVolume = 0, hullVolume = 0, hullArea = 0;
    double solidity = 1;  // object volume over hull volume: never above 1
    std::int64_t hullVertices = 0, hullFacets = 0;
    double bboxMin[3] = {0, 0, 0}, bboxMax[3] = {0, 0, 0};  // of the hull's corners
};
Measurements Measure(const Hull& hull, std::int64_t objectVoxels, const Spacing& spacing = {});

// The command line's --report: the stack's size, the spacing and its unit (empty: none known),
// and the measurements, as a JSON object.
struct ReportInput {
    std::int64_t slices = 0, width = 0, height = 0;
    Spacing spacing;
    std::string unit;
    std::int64_t objectVoxels = 0;
};
std::string ReportJson(const ReportInput& in, const Hull& hull);

// ---- objects ----

// What makes the selected voxels objects.
struct ObjectRule {
    enum class Kind {
        Labels,      // every selected value is an object; its id is the value
        Components,  // every connected component is one; ids 1, 2, ... by first voxel
    };
    Kind kind = Kind::Labels;
    // Components only: 6 (faces), 18 (faces and edges) or 26 (faces, edges and corners).
    int connectivity = 26;
};

// One object. Components are numbered by their first voxel in slice, row, column order, which is
// the numbering scipy.ndimage.label gives the (z, y, x) array with the same neighbourhood.
struct SampledObject {
    std::int64_t id = 0;
    // Every corner of the hull of the object's voxel cubes is among them; sorted by (z, y, x),
    // without duplicates. Never empty.
    Points points;
    std::int64_t voxels = 0;
    // Sums of the voxels' indices along x, y and z: the centroid of the voxel centres is
    // sum / voxels + 0.5 along each axis, in voxel units.
    Int128 sum[3] = {0, 0, 0};
    // The smallest and largest voxel index along x, y and z.
    std::int32_t min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
};

// The objects of source's slices, each padded with zeros to W x H like SampleSlices pads them,
// ordered by id. Warnings, progress, cancellation and failures as in SampleSlices (the voxels are
// always counted; options.countVoxels is not consulted). A rule other than the two kinds, or a
// connectivity other than 6, 18 or 26, fails with "objects: connectivity must be 6, 18 or 26.".
std::vector<SampledObject> SampleObjects(const SliceSource& source, std::int32_t W, std::int32_t H,
                                         const Selection& selection, const ObjectRule& rule,
                                         const SampleOptions& options = {});

// SampleObjects fed slice by slice from memory, as SliceSampler is: exactly N slices (or any
// number, kAnySlices) of at most W x H samples, each padded with zeros to W x H. No slice is kept
// after Add returns.
class ObjectSampler {
  public:
    ObjectSampler(std::int32_t W, std::int32_t H, std::int64_t N, const Selection& selection,
                  const ObjectRule& rule, const SampleOptions& options = {});
    // As SliceSampler's: samples of the given kind, fed with the Add of its C++ type. Labels are
    // the values of integer samples (ids from -2^31 to 2^32 - 1); floating-point samples have
    // none: labels on them fail with Kind::Argument "objects: labels must be integers.".
    ObjectSampler(std::int32_t W, std::int32_t H, std::int64_t N, const Selection& selection,
                  SampleType samples, const ObjectRule& rule, const SampleOptions& options = {});
    ~ObjectSampler();
    ObjectSampler(const ObjectSampler&) = delete;
    ObjectSampler& operator=(const ObjectSampler&) = delete;

    // The next slice: h rows of w samples, row y starting at samples + y * rowStride.
    // T as SliceSampler::Add's.
    template <class T>
    void Add(const T* samples, std::ptrdiff_t rowStride, std::int32_t w, std::int32_t h);
    // The objects, once all N slices were added (kAnySlices: at least one), ordered by id; the
    // sampler is spent.
    std::vector<SampledObject> Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// --min-voxels, then --largest: drops the objects of fewer than minVoxels voxels, then keeps the
// largest (> 0) objects of most voxels, ties to the smaller id. 0 keeps every object. The objects
// stay in id order and keep their ids.
void FilterObjects(std::vector<SampledObject>& objects, std::int64_t minVoxels,
                   std::int64_t largest);

// The hull of every object, on threads workers (0: one per core) that take the objects in turn;
// each object's points move into its hull. With verify, each hull is checked against its points
// (VerifyHull). A failure of any object fails the whole: the one of the smallest id, whatever
// the number of workers.
std::vector<Hull> ObjectHulls(std::vector<SampledObject>& objects, unsigned threads,
                              bool verify = false);

// One object's row of the command line's --table, in the units of the spacing.
struct ObjectRow {
    std::int64_t id = 0;
    std::int64_t voxels = 0;
    Measurements hull;  // volume, hull volume and area, solidity, hull vertices and facets
    // From the near face of the first voxel to the far face of the last along x, y, z: the
    // bounding box of the object's cubes, which is the hull's, in the mesh's coordinates.
    double bboxMin[3] = {0, 0, 0}, bboxMax[3] = {0, 0, 0};
    double centroid[3] = {0, 0, 0};  // the mean of the voxel centres
};

// The row of an object and its hull (from ObjectHulls; the object's points may be gone).
ObjectRow MeasureObject(const SampledObject& object, const Hull& hull, const Spacing& spacing = {});

// ---- writing ----

enum class MeshFormat { Stl, StlAscii, Ply, Obj };

// Writes the hull in the format, its coordinates scaled by the spacing, byte for byte as the
// command line writes its file. unit, when not empty, names the unit in the file's header (the
// binary STL's header stays 80 zero bytes when it is empty). A failed write fails with
// Kind::Output "file not stored.".
void WriteMesh(std::ostream& out, const Hull& hull, MeshFormat format, const Spacing& spacing = {},
               const std::string& unit = "");

// ---- blocks of a larger volume ----

// A volume too large for one machine is cut into blocks along z, y and x. Each block is reduced
// where it lies to the corners of its own hull, in the whole volume's coordinates; the reductions
// are combined in any grouping and order. Every corner of the whole's hull is a corner of the hull
// of the block that holds its voxel, so ConvexHull of the combined points has exactly the corners
// and the six times volume of the hull of the whole (the triangles of coplanar faces may be split
// otherwise, as they follow the order of the points).

// What a block, or a union of blocks, leaves of one object: a SampledObject whose id is the label
// value (0 for the one object of a volume without labels), whose indices are the whole's, and
// whose points are sorted by (z, y, x), each once: the corners of the hull of the object's voxel
// cubes, or, when they hold no solid, every point that can be one. Without labels the sums and
// the index box are zero.
using BlockPart = SampledObject;

// Reduces one block of w x h x n samples whose first sample is the whole's (x0, y0, z0). Without
// labels the selected samples are one object; with labels every selected value is one. The block
// and its offset must lie within kCoordinateLimit, else Kind::Argument
// "block: beyond the coordinate limit.".
class BlockSampler {
  public:
    BlockSampler(std::int32_t w, std::int32_t h, std::int32_t n, std::int32_t x0, std::int32_t y0,
                 std::int32_t z0, const Selection& selection, bool labels,
                 const SampleOptions& options = {});
    // Samples of the given kind, fed with the Add of its C++ type, as SliceSampler's are.
    BlockSampler(std::int32_t w, std::int32_t h, std::int32_t n, std::int32_t x0, std::int32_t y0,
                 std::int32_t z0, const Selection& selection, SampleType samples, bool labels,
                 const SampleOptions& options = {});
    ~BlockSampler();
    BlockSampler(const BlockSampler&) = delete;
    BlockSampler& operator=(const BlockSampler&) = delete;

    // The block's next slice: h rows of w samples, row y starting at samples + y * rowStride.
    // T as SliceSampler::Add's.
    template <class T>
    void Add(const T* samples, std::ptrdiff_t rowStride);
    // Once all n slices were added; the sampler is spent. Without labels one part of id 0 (no
    // points when the block has no object voxel), with labels one part per label present, by id.
    std::vector<BlockPart> Finish();

  private:
    void Init(std::int32_t w, std::int32_t h, std::int32_t n, std::int32_t x0, std::int32_t y0,
              std::int32_t z0, const Selection& selection, const SampleType* samples, bool labels,
              const SampleOptions& options);
    struct State;
    std::unique_ptr<State> state_;
};

// The union of the parts, merged by id and ordered by id: the points of each id reduced to the
// corners of the hull of their union (kept whole, without repeats, when they hold no solid), the
// voxels and sums added, the index ranges widened.
std::vector<BlockPart> CombineBlocks(std::vector<std::vector<BlockPart>> parts);

}  // namespace voxwrap
