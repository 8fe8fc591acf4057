// The run, in order: slice list and common size, gray-level table, sampling of every plane, the
// hull of the sampling points and then of its extreme points, and only then the output.
#include "driver/voxwrap_f.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "driver/error.h"
#include "driver/mesh.h"
#include "driver/options.h"
#include "driver/output.h"
#include "driver/progress.h"
#include "driver/report.h"
#include "driver/rl.h"
#include "driver/sampling.h"
#include "driver/spacing.h"
#include "hull/check.h"
#include "hull/convex_hull.h"
#include "slices/csi.h"

namespace {

// Single precision holds every integer up to 2^24 exactly; a coordinate beyond would be rounded
// in the STL (a pixel at x = 2^24 + 1 would come out two units wide).
constexpr std::int64_t kExactFloat = std::int64_t{1} << 24;
constexpr const char* kTooLarge =
    "stack too large for exact STL coordinates (at most 16777216 columns, rows and slices).";

// The sampling points as the hull's points; the worst-case sampling arrays are released before
// the hull's cell arrays are allocated, so the peak is the larger stage alone. One spare entry
// lets the hull's storage take the arrays over without a copy (its scratch point).
voxwrap::Points HullPoints(SamplingPoints sampled) {
    voxwrap::Points points;
    const auto n = static_cast<std::size_t>(sampled.n);
    try {
        for (auto* a : {&points.x, &points.y, &points.z})
            a->reserve(n + 1);
    } catch (const std::exception&) {  // bad_alloc, or length_error beyond any vector
        Error("no allocatable memory for convex hull.");
    }
    points.x.assign(sampled.IX.get(), sampled.IX.get() + n);
    points.y.assign(sampled.IY.get(), sampled.IY.get() + n);
    points.z.assign(sampled.IZ.get(), sampled.IZ.get() + n);
    return points;
}

// Writes text to standard output for --help and --version.
int Say(const std::string& text) {
    PutN(stdout, text.data(), text.size());
    if (std::fflush(stdout) != 0) Error("file not stored.");
    return 0;
}

// Writes a whole file (or standard output for "-") through the same safe output as the mesh.
void Store(const std::string& path, const std::string& bytes) {
    // Only "-" itself means standard output here; another name beginning with "-" is a file.
    const std::string name = path == "-" || path[0] != '-' ? path : "./" + path;
    Output out = OpenOutput(name.c_str());
    PutN(out.stream, bytes.data(), bytes.size());
    CloseOutput(out);
}

int Run(int argc, char** argv) {
    IgnoreWriteSignals();
    const Options o = ParseOptions(argc, argv);
    if (o.help) return Say(HelpText());
    if (o.version) return Say(std::string("voxwrap ") + kVersion + "\n");
    std::int32_t W = 0, H = 0;
    std::vector<TiffPage> pages;  // each slice's image within its file (a stack file's pages)
    const std::vector<std::string> paths =
        CheckSliceImages(o.args[0].c_str(), o.args[1].c_str(), &W, &H, nullptr, nullptr, &pages);
    std::vector<unsigned char> grayTable(65536);
    RangeList(o.args[2].c_str(), 65535, grayTable.data());
    // A list that selects no value ("", ",,,") can find no object: say so before reading a slice.
    if (std::find(grayTable.begin(), grayTable.end(), 1) == grayTable.end()) Error("no object.");
    if (W > kExactFloat || H > kExactFloat || std::int64_t(paths.size()) > kExactFloat)
        Error(kTooLarge);

    // The unit of the report and of the headers: "voxel" without a spacing, none known when a
    // spacing was given without one, else the one given or found. The binary STL's header names
    // a unit only when one was given or found.
    Spacing spacing = o.spacing;
    std::string unit = o.unitGiven ? o.unit : o.spacingGiven ? "" : "voxel";
    std::string stlUnit = o.unitGiven ? o.unit : "";
    if (o.spacingTiff) {
        const FoundSpacing found = SpacingFromSlices(paths, ReadSliceTags);
        spacing = found.spacing;
        if (!o.unitGiven && !GoodUnit(found.unit)) {
            Error("--spacing tiff : " + paths[0] + " gives the unit \"" + found.unit +
                  "\"; give --unit NAME.\n" + kOptionsUsage);
        }
        if (!o.unitGiven) unit = stlUnit = found.unit;
    }

    Progress progress(!o.quiet && isatty(2) == 1, static_cast<std::int64_t>(paths.size()));
    SamplingWatch watch;
    watch.countVoxels = !o.report.empty();
    watch.sliceRead = [&progress](std::int64_t done, std::int64_t) { progress.Slice(done); };
    SamplingPoints points = SampleSlices(paths, W, H, grayTable.data(), &watch, o.threads, &pages);
    progress.Erase();
    if (points.n == 0) Error("no object.");
    voxwrap::Points input = HullPoints(std::move(points));
    voxwrap::Points kept;  // --verify checks the hull against every one of them
    if (o.verify) kept = input;
    const Mesh mesh = voxwrap::ConvexHull(std::move(input));
    if (o.verify) {
        const std::string fault = hullcheck::CheckConvexHull(kept, mesh);
        if (!fault.empty()) Error("hull verification failed: " + fault + ".");
    }
    std::string report;
    if (!o.report.empty()) {
        ReportInput in;
        in.slices = static_cast<std::int64_t>(paths.size());
        in.width = W;
        in.height = H;
        in.spacing = spacing;
        in.unit = unit;
        in.objectVoxels = watch.voxels;
        report = ReportJson(in, mesh);
    }

    // Only now, with the hull complete, is the output touched; the report follows the mesh.
    Output out = OpenOutput(o.args[3].c_str());
    WriteMesh(out.stream, mesh, o.format, spacing, o.format == MeshFormat::Stl ? stlUnit : unit);
    CloseOutput(out);
    if (!o.report.empty()) Store(o.report, report);
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
