// In-process harness for ReadImageFile (libFuzzer's entry point, which AFL++ can drive as well).
// Each input is written to one scratch file and read the ways the program does: the header-only
// call (with the description), the slice list's header pass (CheckImageFile, which decodes the
// strips without keeping them when they cannot hold the claimed rows), then the call that decodes
// every row, reading every sample, and the same as words of the file's kind of sample; last the file's list of images (ListTiffPages) and its first
// four images, each checked and read as a stack file's slices are, and each image's resolution
// tags and description as --spacing tiff reads and interprets them. A malformed file throws a
// Error, which is the normal end of an input; crashes, sanitizer reports, leaks and timeouts
// are the findings.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/failure.h"
#include "mesh/units.h"
#include "slices/spacing.h"
#include "tiff/rif.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

// The scratch file of this process, made once and removed at exit; /dev/shm keeps the writes in
// memory where it exists.
struct Scratch {
    std::string path;
    int fd = -1;
    Scratch() {
        for (const char* dir : {"/dev/shm", "/tmp"}) {
            std::string name = std::string(dir) + "/rif_fuzz_XXXXXX";
            fd = mkstemp(name.data());
            if (fd >= 0) {
                path = name;
                break;
            }
        }
        if (fd < 0) {
            std::perror("rif_fuzz: no scratch file");
            std::abort();
        }
    }
    ~Scratch() {
        close(fd);
        unlink(path.c_str());
    }
    void Write(const std::uint8_t* data, std::size_t size) const {
        if (ftruncate(fd, 0) != 0) std::abort();
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Scratch scratch;
    scratch.Write(data, size);
    const char* path = scratch.path.c_str();
    std::string warnings;  // collected, not printed: the fuzzer's output stays readable
    try {
        std::int32_t width = 0, height = 0, bits = 0;
        std::unique_ptr<char[]> description;
        ReadImageFile(path, &width, &height, &bits, nullptr, &description, &warnings);
    } catch (const Error&) {
    }
    bool checked = false;
    try {  // the header pass of the slice list, with its check of the claimed size
        std::int32_t width = 0, height = 0, bits = 0;
        CheckImageFile(path, &width, &height, &bits, &warnings);
        checked = true;
    } catch (const Error&) {
    }
    // Only a file that passed the header pass is loaded, as in the program: a claim of 10^9
    // samples per row over a few strip bytes otherwise spends the time limit filling rows.
    if (checked) {
        try {
            std::int32_t width = 0, height = 0;
            RowTable rows;
            ReadImageFile(path, &width, &height, nullptr, &rows, nullptr, &warnings);
            // Read every sample, so a row that was not fully written shows under a memory checker.
            std::uint32_t sum = 0;
            for (const auto& row : rows)
                for (std::int32_t x = 0; x < width; ++x)
                    sum += row[x];
            if (sum == 0xFFFFFFFFu) std::fputc('.', stderr);  // keeps the reads from being dropped
        } catch (const Error&) {
        }
        try {  // every kind of sample, as the sampler reads it: words of 16, 32 or 64 bits
            TiffFile file(path, &warnings);
            std::int32_t width = 0, height = 0, bits = 0;
            SampleType type;
            file.Header(nullptr, &width, &height, &bits, &type);
            const std::size_t bytes = type.Narrow() ? 2 : static_cast<std::size_t>(type.bits / 8);
            std::uint32_t sum = 0;
            file.ReadWords(
                nullptr,
                [&](std::int32_t, const void* words, std::int32_t n) {
                    const auto* p = static_cast<const std::uint8_t*>(words);
                    for (std::size_t i = 0; i < bytes * static_cast<std::size_t>(n); ++i)
                        sum += p[i];
                },
                type, &width, &height);
            if (sum == 0xFFFFFFFFu) std::fputc('.', stderr);
        } catch (const Error&) {
        }
    }
    // --spacing tiff on one image: the resolution tags and the description, then what they say
    // (the ImageJ keys, the escapes, the units and their conversion); null is the first image.
    const auto spacing = [&](const TiffPage* page) {
        try {
            Resolution resolution;
            ReadResolution(path, &resolution, page);
            const FoundSpacing found = SpacingFromTags(ReadSliceTags(path, page));
            static_cast<void>(GoodUnit(found.unit));
        } catch (const Error&) {
        }
    };
    spacing(nullptr);
    try {  // a stack file: its images, each checked and read as a slice is (the first few)
        const std::vector<TiffPage> pages = ListTiffPages(path);
        for (std::size_t k = 0; k < pages.size() && k < 4; ++k) {
            try {
                std::int32_t width = 0, height = 0, bits = 0;
                CheckImageFile(path, &width, &height, &bits, &warnings, &pages[k]);
                RowTable rows;
                ReadImageFile(path, &width, &height, nullptr, &rows, nullptr, &warnings, &pages[k]);
            } catch (const Error&) {
            }
            spacing(&pages[k]);
        }
    } catch (const Error&) {
    }
    return 0;
}
