// In-process harness for the slice list (libFuzzer's entry point). The first byte of an input
// chooses what the rest is:
//   0  the contents of a name file, listed below fuzz/slices;
//   1  an inline list ("-" and the rest, up to a NUL byte), below fuzz/slices;
//   2  a sorting option for the listing of fuzz/slices: "--" and the rest (up to a NUL byte),
//      or "-" for an empty rest (never a name file: no input names a file to open);
//   3  a sorting option and names, one per line: the names are sorted by the option, and the
//      order must be total and consistent (every pair compared both ways, the result sorted).
// fuzz/slices holds a few real slices, so a good input gets through the header checks. An Error
// is the normal end of an input; crashes, sanitizer reports, leaks, timeouts and an inconsistent
// order (abort) are the findings.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/failure.h"
#include "slices/csi.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

#ifndef CSI_FUZZ_SLICES
#error "CSI_FUZZ_SLICES must name the directory of fuzz slices (fuzz/run.sh sets it)"
#endif

namespace {

// The scratch name file of this process, in /dev/shm where it exists, removed at exit.
struct Scratch {
    std::string path;
    Scratch() {
        for (const char* dir : {"/dev/shm", "/tmp"}) {
            std::string name = std::string(dir) + "/csi_fuzz_XXXXXX";
            const int fd = mkstemp(name.data());
            if (fd >= 0) {
                close(fd);
                path = name;
                return;
            }
        }
        std::perror("csi_fuzz: no scratch file");
        std::abort();
    }
    ~Scratch() { unlink(path.c_str()); }
    void Write(const std::uint8_t* data, std::size_t size) const {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
            std::abort();
    }
};

int Sign(int v) { return (v > 0) - (v < 0); }

void List(const char* nameFile) {
    std::int32_t width = 0, height = 0, count = 0, bits = 0;
    const std::vector<std::string> list =
        CheckSliceImages(CSI_FUZZ_SLICES, nameFile, &width, &height, &count, &bits);
    if (list.empty() || static_cast<std::size_t>(count) != list.size() || width < 1 || height < 1 ||
        bits < 1)
        std::abort();
}

// Sorts the names by the option and checks that the comparator is a total order on them.
void CheckOrder(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    const std::string option = lines.front();
    std::vector<std::string> names(lines.begin() + 1, lines.end());
    if (names.size() > 64) names.resize(64);  // pairs and triples stay cheap
    auto compare = [&option](const std::string& a, const std::string& b) {
        return CompareSliceNames(option.c_str(), a.c_str(), b.c_str());
    };
    for (const std::string& a : names)
        for (const std::string& b : names) {
            const int ab = Sign(compare(a, b));
            if (ab != -Sign(compare(b, a)) || (ab == 0) != (a == b)) std::abort();
        }
    std::sort(names.begin(), names.end(),
              [&compare](const std::string& a, const std::string& b) { return compare(a, b) < 0; });
    for (std::size_t i = 0; i < names.size(); ++i)
        for (std::size_t j = i + 1; j < names.size(); ++j)
            if (compare(names[i], names[j]) > 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Scratch scratch;
    if (size == 0) return 0;
    const std::uint8_t mode = data[0] % 4;
    ++data;
    --size;
    // The inline list and the options are command-line arguments: they end at the first NUL.
    const std::string text(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    try {
        switch (mode) {
        case 0:
            scratch.Write(data, size);
            List(scratch.path.c_str());
            break;
        case 1:
            List(("-" + text).c_str());
            break;
        case 2:
            List(text.empty() ? "-" : ("--" + text).c_str());
            break;
        default:
            CheckOrder(text);
            break;
        }
    } catch (const Error&) {
    }
    return 0;
}
