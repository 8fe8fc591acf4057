#pragma once
// The command line: voxwrap [options] directory nameFile rangeList STL.
//
// Options come first and begin with "--". The four arguments may themselves begin with "-" or
// "--" (a directory "--scans", the nameFile "--n", an inline list "-a.tif b.tif"), so an
// argument is read as an option only where it cannot be one of the four:
// - when exactly four arguments are left, they are the four arguments, whatever they look like
//   (every call without options therefore reads exactly as it always has);
// - "--" ends the options explicitly;
// - an argument that does not begin with "--" ends them;
// - any other argument beginning with "--" must be a known option, else it is refused by name.
// A value follows its option as the next argument or after "=" (--unit mm, --unit=mm).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mesh/mesh.h"

namespace voxwrap {
namespace cli {

// The program's version, printed by --version.
constexpr const char* kVersion = "1.0.0";

// The usage line of a call without options, kept byte for byte, and the one that names them.
constexpr const char* kUsage = "usage : voxwrap directory nameFile rangeList STL";
constexpr const char* kOptionsUsage = "usage : voxwrap [options] directory nameFile rangeList STL";

enum class ObjectsKind { None, Labels, Components };

struct Options {
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool verify = false;        // --verify: the exact hull check before anything is written
    bool spacingGiven = false;  // --spacing SX,SY,SZ
    bool spacingTiff = false;   // --spacing tiff
    Spacing spacing;
    std::string spacingText;  // the value as given, for its refusal
    bool unitGiven = false;
    std::string unit;
    MeshFormat format = MeshFormat::Stl;
    std::string report;    // empty: no report; "-": standard output
    unsigned threads = 0;  // --threads N; 0: one per core
    // --objects labels | components[=6|18|26]: every object in one pass; 0: one object.
    ObjectsKind objects = ObjectsKind::None;
    int connectivity = 26;          // --objects components=C
    std::int64_t minVoxels = 0;     // --min-voxels N; 0: every object
    std::int64_t largest = 0;       // --largest K; 0: every object
    std::string table;              // --table FILE; empty: none; "-": standard output
    std::vector<std::string> args;  // directory, nameFile, rangeList, STL
};

// Reads the command line. --help and --version end the reading where they stand; otherwise
// exactly four arguments must follow the options. Every failure throws its message followed by
// a line feed and the usage line (the plain one when no option was given), before anything is
// read or written. A report that would reach the mesh's file is refused by what the two names
// reach, not by their spelling (see SameOutput).
Options ParseOptions(int argc, const char* const* argv);

// The report's name as an output argument (OpenOutput): only "-" itself is standard output;
// another name beginning with "-" is a file of the working directory.
std::string ReportOutput(const std::string& report);

// True when the mesh argument names one file per object: it holds "{id}".
bool PerObjectMesh(const std::string& mesh);

// What --help prints: the usage line and every option.
const char* HelpText();

}  // namespace cli
}  // namespace voxwrap
