#include "cli/options.h"

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/error.h"
#include "cli/output.h"
#include "common/numbers.h"
#include "mesh/units.h"

namespace voxwrap {
namespace cli {

namespace {

[[noreturn]] void OptionError(const std::string& message) { Error(message + "\n" + kOptionsUsage); }

// A positive finite decimal such as 0.5, 12, .25 or 2.5e-3: no sign, no blank, no hexadecimal,
// no infinity.
bool ReadPositive(const std::string& text, double& value) {
    if (text.empty() || text.size() > 64) return false;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };  // whatever the locale says
    if (!(digit(text[0]) || text[0] == '.')) return false;
    for (const char c : text) {
        if (!digit(c) && std::strchr(".eE+-", c) == nullptr) return false;
    }
    const char* end = detail::ReadDouble(text.data(), text.data() + text.size(), value);
    return end == text.data() + text.size() && std::isfinite(value) && value > 0;
}

bool ReadSpacing(const std::string& text, Spacing& spacing) {
    std::size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        const std::size_t comma = text.find(',', start);
        if ((k < 2) != (comma != std::string::npos)) return false;
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!ReadPositive(item, spacing.s[k])) return false;
        start = comma + 1;
    }
    return true;
}

// A thread count: 1 to kMaxThreads in plain decimal digits.
constexpr unsigned kMaxThreads = 1024;
bool ReadThreads(const std::string& text, unsigned& threads) {
    if (text.empty() || text.size() > 4) return false;
    unsigned value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = 10 * value + static_cast<unsigned>(c - '0');
    }
    threads = value;
    return value >= 1 && value <= kMaxThreads;
}

bool ReadFormat(const std::string& text, MeshFormat& format) {
    const struct {
        const char* name;
        MeshFormat format;
    } formats[] = {{"stl", MeshFormat::Stl},
                   {"stl-ascii", MeshFormat::StlAscii},
                   {"ply", MeshFormat::Ply},
                   {"obj", MeshFormat::Obj}};
    for (const auto& f : formats) {
        if (text == f.name) {
            format = f.format;
            return true;
        }
    }
    return false;
}

// --objects labels, components, components=6, =18 or =26.
bool ReadObjects(const std::string& text, ObjectsKind& kind, int& connectivity) {
    if (text == "labels") {
        kind = ObjectsKind::Labels;
        return true;
    }
    kind = ObjectsKind::Components;
    if (text == "components") return true;
    for (const int c : {6, 18, 26}) {
        if (text == "components=" + std::to_string(c)) {
            connectivity = c;
            return true;
        }
    }
    return false;
}

// A voxel count for --min-voxels and --largest: 1 to 10^18 in plain decimal digits.
bool ReadCount(const std::string& text, std::int64_t& count) {
    if (text.empty() || text.size() > 18) return false;
    std::int64_t value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = 10 * value + (c - '0');
    }
    count = value;
    return value >= 1;
}

}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
    Options o;
    bool anyOption = false;
    bool seenSpacing = false, seenUnit = false, seenFormat = false, seenReport = false,
         seenThreads = false, seenQuiet = false, seenVerify = false, seenObjects = false,
         seenMinVoxels = false, seenLargest = false, seenTable = false;
    int i = 1;
    while (i < argc && argc - i != 4) {
        const std::string arg = argv[i];
        if (arg.compare(0, 2, "--") != 0) break;
        ++i;
        anyOption = true;
        if (arg == "--") break;
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const bool hasValue = equals != std::string::npos;
        if (name == "--help" || name == "--version" || name == "--quiet" || name == "--verify") {
            if (hasValue) OptionError(name + " : takes no value.");
            if (name == "--help") {
                o.help = true;
                return o;
            }
            if (name == "--version") {
                o.version = true;
                return o;
            }
            bool& seenFlag = name == "--quiet" ? seenQuiet : seenVerify;
            if (seenFlag) OptionError(name + " : given twice.");
            seenFlag = true;
            (name == "--quiet" ? o.quiet : o.verify) = true;
            continue;
        }
        bool* seen = name == "--spacing"      ? &seenSpacing
                     : name == "--unit"       ? &seenUnit
                     : name == "--format"     ? &seenFormat
                     : name == "--report"     ? &seenReport
                     : name == "--threads"    ? &seenThreads
                     : name == "--objects"    ? &seenObjects
                     : name == "--min-voxels" ? &seenMinVoxels
                     : name == "--largest"    ? &seenLargest
                     : name == "--table"      ? &seenTable
                                              : nullptr;
        if (seen == nullptr) OptionError(name + " : unknown option.");
        if (*seen) OptionError(name + " : given twice.");
        *seen = true;
        std::string value;
        if (hasValue) {
            value = arg.substr(equals + 1);
        } else if (i < argc) {
            value = argv[i++];
        } else {
            OptionError(name + " : missing value.");
        }
        bool good = true;
        if (name == "--spacing") {
            o.spacingTiff = value == "tiff";
            o.spacingGiven = !o.spacingTiff;
            o.spacingText = value;
            // Single precision, for a stack of one voxel: the run checks its own size later.
            good = o.spacingTiff ||
                   (ReadSpacing(value, o.spacing) && SpacingFits(o.spacing, {1, 1, 1}));
        } else if (name == "--unit") {
            o.unitGiven = true;
            o.unit = value;
            good = GoodUnit(value);
        } else if (name == "--format") {
            good = ReadFormat(value, o.format);
        } else if (name == "--threads") {
            good = ReadThreads(value, o.threads);
        } else if (name == "--objects") {
            good = ReadObjects(value, o.objects, o.connectivity);
        } else if (name == "--min-voxels") {
            good = ReadCount(value, o.minVoxels);
        } else if (name == "--largest") {
            good = ReadCount(value, o.largest);
        } else if (name == "--table") {
            o.table = value;
            good = !value.empty();
        } else {
            o.report = value;
            good = !value.empty();
        }
        if (!good) OptionError(name + " " + value + " : bad value.");
    }
    for (; i < argc; ++i)
        o.args.push_back(argv[i]);
    if (o.args.size() != 4) Error(anyOption ? kOptionsUsage : kUsage);
    // The per-object options mean nothing for one object.
    if (o.objects == ObjectsKind::None) {
        for (const auto& [given, option] : {std::pair<bool, const char*>{seenTable, "--table"},
                                            {seenMinVoxels, "--min-voxels"},
                                            {seenLargest, "--largest"}}) {
            if (given) OptionError(std::string(option) + " : only with --objects.");
        }
    }
    if (o.report == "-" && o.args[3][0] == '-')
        OptionError("--report - : standard output already holds the mesh.");
    if (o.table == "-" && o.args[3][0] == '-')
        OptionError("--table - : standard output already holds the mesh.");
    if (o.table == "-" && o.report == "-")
        OptionError("--table - : standard output already holds the report.");
    if (!o.table.empty() && SameOutput(ReportOutput(o.table).c_str(), o.args[3].c_str()))
        OptionError("--table " + o.table + " : the mesh's own file.");
    if (!o.table.empty() && !o.report.empty() &&
        SameOutput(ReportOutput(o.table).c_str(), ReportOutput(o.report).c_str()))
        OptionError("--table " + o.table + " : the report's own file.");
    // "./out.stl", a link or a second name of the mesh's file would have the report replace the
    // mesh; a mesh on standard output and a report file "-x.stl" share nothing.
    if (!o.report.empty() && SameOutput(ReportOutput(o.report).c_str(), o.args[3].c_str()))
        OptionError("--report " + o.report + " : the mesh's own file.");
    return o;
}

std::string ReportOutput(const std::string& report) {
    return report == "-" || report[0] != '-' ? report : "./" + report;
}

bool PerObjectMesh(const std::string& mesh) { return mesh.find("{id}") != std::string::npos; }

const char* HelpText() {
    return "usage : voxwrap [options] directory nameFile rangeList STL\n"
           "\n"
           "Writes the exact convex hull of the object voxels of a stack of TIFF slices.\n"
           "  directory  the directory of the slices, or a stack file (a multi-image TIFF)\n"
           "  nameFile   the slices in order: a file of names, \"-a.tif b.tif\", or -, --r, --n,\n"
           "             --rn, --nr, --v, --rv for the directory listing sorted by name, by\n"
           "             number, or naturally (slice-9 before slice-10); - or --r for the\n"
           "             images of a stack file given as the directory\n"
           "  rangeList  the gray values of the object, e.g. 1000-4095 or 1,5,7-9,200-\n"
           "  STL        the output file; a path that begins with - is standard output\n"
           "\n"
           "Options come before the four arguments; -- ends them.\n"
           "  --spacing SX,SY,SZ  the voxel size along x, y, z (positive decimals); every\n"
           "                      output coordinate is multiplied by it\n"
           "  --spacing tiff      the voxel size the slices record (resolution tags, ImageJ)\n"
           "  --unit NAME         the unit of the spacing, for the report and the headers\n"
           "                      (default: voxel without --spacing, or the unit found)\n"
           "  --format FORMAT     stl (binary, the default), stl-ascii, ply (binary) or obj\n"
           "  --report FILE       measurements of the object and its hull as JSON; - for\n"
           "                      standard output\n"
           "  --threads N         read the slices on N threads, 1 to 1024 (default: one per\n"
           "                      core); the output is the same for any number\n"
           "  --objects labels    every selected gray value is an object of its own; the\n"
           "                      STL argument holds all, or with {id} names one file each\n"
           "  --objects components[=6|18|26]\n"
           "                      every connected component of the selected voxels is an\n"
           "                      object (faces, edges, corners; default 26), numbered 1, 2,\n"
           "                      ... by its first voxel in slice, row, column order\n"
           "  --min-voxels N      with --objects: leave out objects of fewer than N voxels\n"
           "  --largest K         with --objects: keep the K objects of most voxels (ties:\n"
           "                      the smaller id)\n"
           "  --table FILE        with --objects: one CSV row per object; - for standard\n"
           "                      output\n"
           "  --quiet             no progress display on a terminal\n"
           "  --verify            check the hull exactly against every sampling point before\n"
           "                      anything is written\n"
           "  --help              this text\n"
           "  --version           the version\n";
}

}  // namespace cli
}  // namespace voxwrap
