// The run, in order: slice list and common size, gray-level table, sampling of every plane, the
// hull of the sampling points and then of its extreme points, and only then the output.
#include "cli/voxwrap_f.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "cli/error.h"
#include "cli/objects.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "common/failure.h"
#include "mesh/mesh.h"
#include "mesh/report.h"
#include "mesh/units.h"
#include "sample/sampler.h"
#include "sample/selection.h"
#include "slices/csi.h"
#include "slices/spacing.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace cli {

namespace {

// Single precision holds every integer up to 2^24 exactly; a coordinate beyond would be rounded
// in the STL (a pixel at x = 2^24 + 1 would come out two units wide).
constexpr std::int64_t kExactFloat = std::int64_t{1} << 24;
constexpr const char* kTooLarge =
    "stack too large for exact STL coordinates (at most 16777216 columns, rows and slices).";

// Writes text to standard output for --help and --version.
int Say(const std::string& text) {
    PutN(stdout, text.data(), text.size());
    if (std::fflush(stdout) != 0) Error("file not stored.");
    return 0;
}

// Writes the report (standard output for "-") through the same safe output as the mesh.
void Store(const std::string& report, const std::string& bytes) {
    Output out = OpenOutput(ReportOutput(report).c_str());
    PutN(out.stream, bytes.data(), bytes.size());
    CloseOutput(out);
}

// What the messages of --spacing tiff call each slice: its path, or for the images of a stack
// file (whose pages name directories of their own) the file and the image's number in it,
// counted from 1 in file order ("--r" lists them last first).
std::vector<std::string> SliceNames(const Options& o, const std::vector<std::string>& paths,
                                    const std::vector<TiffPage>& pages) {
    if (pages.empty() || pages[0].ifd == 0) return {};
    const bool reverse = o.args[1] == "--r";
    std::vector<std::string> names;
    for (std::size_t k = 0; k < paths.size(); ++k)
        names.push_back(paths[k] + " image " + std::to_string(reverse ? paths.size() - k : k + 1));
    return names;
}

// The slice list, with the header pass's warnings on standard error, before its failure if any.
std::vector<std::string> ListSlices(const Options& o, std::int32_t& W, std::int32_t& H,
                                    std::vector<TiffPage>& pages, SampleType& samples) {
    std::string warnings;
    try {
        std::vector<std::string> paths =
            CheckSliceImages(o.args[0].c_str(), o.args[1].c_str(), &W, &H, nullptr, nullptr, &pages,
                             &warnings, &samples);
        std::fputs(warnings.c_str(), stderr);
        return paths;
    } catch (...) {
        std::fputs(warnings.c_str(), stderr);
        throw;
    }
}

int Run(int argc, char** argv) {
    IgnoreWriteSignals();
    const Options o = ParseOptions(argc, argv);
    if (o.help) return Say(HelpText());
    if (o.version) return Say(std::string("voxwrap ") + kVersion + "\n");
    std::int32_t W = 0, H = 0;
    std::vector<TiffPage> pages;  // each slice's image within its file (a stack file's pages)
    SampleType samples;
    const std::vector<std::string> paths = ListSlices(o, W, H, pages, samples);
    const voxwrap::Selection selection = voxwrap::Selection::FromRangeList(o.args[2]);
    // A list that selects no value ("", ",,,") can find no object: say so before reading a slice.
    if (selection.Empty()) Error("no object.");
    const SampleSelection compiled(selection, samples);
    // Stored bits of signed samples are what the list has always meant there, and scripts rely
    // on it; a person at the terminal is told once how to write values instead.
    if (!selection.Values() && samples.format == SampleType::Format::Signed && isatty(2) == 1)
        std::fprintf(stderr,
                     "notice: the slices hold signed samples; the range list applies to their "
                     "stored bits (write A:B, such as -1000:400, to select values).\n");
    if (W > kExactFloat || H > kExactFloat || std::int64_t(paths.size()) > kExactFloat)
        Error(kTooLarge);
    // The spacing against the stack's size, before a sample is read: every coordinate and normal
    // of the mesh must be a finite single-precision number whose steps are normal numbers.
    const std::array<std::int64_t, 3> extent{W, H, static_cast<std::int64_t>(paths.size())};
    if (o.spacingGiven && !SpacingFits(o.spacing, extent))
        Error("--spacing " + o.spacingText + " : bad value.\n" + kOptionsUsage);

    // The unit of the report and of the headers: "voxel" without a spacing, none known when a
    // spacing was given without one, else the one given or found. The binary STL's header names
    // a unit only when one was given or found.
    Spacing spacing = o.spacing;
    std::string unit = o.unitGiven ? o.unit : o.spacingGiven ? "" : "voxel";
    std::string stlUnit = o.unitGiven ? o.unit : "";
    if (o.spacingTiff) {
        SpacingSlices slices;
        slices.paths = paths;
        slices.pages = pages;
        slices.names = SliceNames(o, paths, pages);
        slices.voxels = extent;
        slices.unitGiven = o.unitGiven;
        FoundSpacing found;
        try {
            found = SpacingFromSlices(slices, ReadSliceTags);
        } catch (const voxwrap::Error& e) {
            // A refusal of the option itself comes with the usage line; a slice's failure as it is.
            const std::string text = e.what();
            if (text.rfind("--spacing tiff : ", 0) != 0) throw;
            throw voxwrap::Error(e.kind(), text + "\n" + kOptionsUsage);
        }
        if (!found.notice.empty()) std::fprintf(stderr, "%s\n", found.notice.c_str());
        spacing = found.spacing;
        if (!o.unitGiven) unit = stlUnit = found.unit;
    }

    if (o.objects != ObjectsKind::None)
        return RunObjects(o, {paths, pages, W, H, spacing, unit, stlUnit}, compiled);

    Progress progress(!o.quiet && isatty(2) == 1, static_cast<std::int64_t>(paths.size()));
    voxwrap::SampleOptions sampling;
    sampling.threads = o.threads;
    sampling.countVoxels = !o.report.empty();
    sampling.warning = [&progress](const std::string& line) { progress.Message(line + "\n"); };
    sampling.progress = [&progress](std::int64_t done, std::int64_t) { progress.Slice(done); };
    std::int64_t voxels = 0;
    voxwrap::Points points = voxwrap::SampleStack(paths, pages, W, H, compiled, sampling, &voxels);
    progress.Erase();
    if (points.empty()) Error("no object.");
    voxwrap::Points kept;  // --verify checks the hull against every one of them
    if (o.verify) kept = points;
    const Mesh mesh = voxwrap::ConvexHull(std::move(points));
    if (o.verify) VerifyHull(kept, mesh);
    std::string report;
    if (!o.report.empty()) {
        ReportInput in;
        in.slices = static_cast<std::int64_t>(paths.size());
        in.width = W;
        in.height = H;
        in.spacing = spacing;
        in.unit = unit;
        in.objectVoxels = voxels;
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
    } catch (const voxwrap::Error& e) {
        RemoveTemporaryOutput();
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        // Wherever an allocation fails that no routine reports with its own message (the mesh,
        // the report): the run still ends with a message and leaves no temporary file behind.
        RemoveTemporaryOutput();
        std::fputs("no allocatable memory.\n", stderr);
        return 1;
    }
}

}  // namespace cli
}  // namespace voxwrap
