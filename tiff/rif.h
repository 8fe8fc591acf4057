#pragma once
// Reader of gray-scale TIFF files (TIFF 6.0 and BigTIFF): one channel of unsigned or signed
// integers of 1 to 16 or 32 bits, or of floating-point numbers of 16, 32 or 64 bits, in strips or
// tiles, uncompressed, LZW, PackBits, Deflate or Zstd, with the horizontal or the floating-point
// predictor; any image of a multi-image
// file (the first unless told otherwise). A malformed or unsupported file throws an Error whose text is
// "path : message" (common/failure.h), so a call that returns has succeeded. Every call keeps its
// state in an object of its own: calls on different threads do not meet.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "voxwrap/voxwrap.h"

namespace voxwrap {

// One image of a file: the file offset of its directory (0: the file's first directory) and the
// image's number within a run of images that one directory describes (ImageJ's stacks beyond
// 4 GiB; 0 otherwise).
struct TiffPage {
    std::uint64_t ifd = 0;
    std::uint64_t image = 0;
};

// The decoded image: entry y is row y, an array of width samples, each the stored value
// zero-extended. The caller owns the rows and may release them one at a time.
using RowTable = std::vector<std::unique_ptr<std::uint16_t[]>>;

// Reads what the non-null outputs ask for, from the image page names (null: the first): width and height (for width, height or rows), bits per
// sample (for bitsPerSample or rows), the ImageDescription (null when there is none), and all
// sample data only when rows is given.
//
// The strip decoders' warnings are whole lines "path : message (warning).\n", appended to
// *warnings in the order issued (null: dropped); the caller reports them, in order, where it
// reports (a caller decoding on a worker thread later, in slice order). Warnings issued before a
// failure stay in *warnings.
void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height,
                   std::int32_t* bitsPerSample, RowTable* rows,
                   std::unique_ptr<char[]>* description, std::string* warnings = nullptr,
                   const TiffPage* page = nullptr);

// The header pass of a slice list: width, height and bits per sample as ReadImageFile gives them,
// and one more check that costs no more than the file's size. When the strips cannot decode to
// the rows the header claims (a strip table that loading would refuse, or strips whose byte
// counts, cut at the end of the file, are too few even at the compression's largest expansion),
// the failure that loading the image would give comes at once, after the warnings loading would
// issue before it; memory and time stay bounded by the file, whatever size it claims. Unknown
// compressions are left to loading.
void CheckImageFile(const char* path, std::int32_t* width, std::int32_t* height,
                    std::int32_t* bitsPerSample, std::string* warnings = nullptr,
                    const TiffPage* page = nullptr);

// The file's full-resolution images in file order: every directory of the chain whose
// NewSubfileType has bit 0 clear (reduced-resolution images and thumbnails are skipped). The
// chain ends at a zero offset, at a directory already seen, or at one that does not lie within
// the file. Header failures are ReadImageFile's.
std::vector<TiffPage> ListTiffPages(const char* path);

// A caller's grid of H rows of at least W samples each.
struct SampleGrid {
    std::int32_t W, H;
    std::uint16_t* const* rows;
};

// As ReadImageFile with width, height and rows, but an image of at most W x H samples is decoded
// straight into samples 0..w-1 of the grid's rows 0..h-1, with no allocation per row, and true is
// returned; the rest of the grid is left as it was. A larger image is not decoded: false.
bool ReadImageInto(const char* path, const SampleGrid& grid, std::int32_t* width,
                   std::int32_t* height, std::string* warnings = nullptr,
                   const TiffPage* page = nullptr);

// Receives an image's rows in order y = 0, 1, ...: row y's width samples, each the stored value
// zero-extended, valid only during the call. The rows of every call that delivers uint16 samples
// (this one, RowTable, SampleGrid) are those of samples of up to 16 bits: a 32- or 64-bit image
// fails with "bad bits per sample." there.
using RowSink =
    std::function<void(std::int32_t y, const std::uint16_t* samples, std::int32_t width)>;
// WordSink, the same for every kind of sample, is public: voxwrap/voxwrap.h.

// As ReadImageFile with width, height and rows, but the rows are handed to sink one at a time as
// they are decoded instead of being kept: the reader holds one strip (or one row of tiles) of
// decoded samples at most, whatever the image's size. The messages and warnings, and their order,
// are ReadImageFile's; a failure may come after some rows were delivered.
void ReadImageRows(const char* path, const RowSink& sink, std::int32_t* width, std::int32_t* height,
                   std::string* warnings = nullptr, const TiffPage* page = nullptr);
// TiffFile::ReadWords on a file of its own.
void ReadImageWords(const char* path, const WordSink& sink, const SampleType& expected,
                    std::int32_t* width, std::int32_t* height, std::string* warnings = nullptr,
                    const TiffPage* page = nullptr);

// The resolution tags of the image page names (null: the first): XResolution and YResolution
// (pixels per unit, a RATIONAL each; 0/0 when absent or not a single RATIONAL) and ResolutionUnit
// (1 none, 2 inch, 3 centimetre; 2 when absent, as TIFF 6.0 says). Fails as ReadImageFile does on a bad header.
struct Resolution {
    std::uint32_t xNum = 0, xDen = 0;
    std::uint32_t yNum = 0, yDen = 0;
    std::uint32_t unit = 2;
};
void ReadResolution(const char* path, Resolution* resolution, const TiffPage* page = nullptr);

namespace rif {
class Reader;
}

// A TIFF file opened once, its header read on opening: every question about its images (the
// pages, the header fields, the header pass's check, the tags, the rows) reads the same open
// file, which closes with the handle. Each call fails, and warns, exactly as the function of the
// same purpose below does (warnings: as for ReadImageFile); page null means the first image.
// One handle serves one thread at a time.
class TiffFile {
  public:
    explicit TiffFile(const char* path, std::string* warnings = nullptr);
    ~TiffFile();
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    std::vector<TiffPage> Pages();  // ListTiffPages
    // type (null: not asked) receives the kind of sample (SampleFormat and BitsPerSample).
    void Header(const TiffPage* page, std::int32_t* width, std::int32_t* height,
                std::int32_t* bitsPerSample,
                SampleType* type = nullptr);  // ReadImageFile without rows
    void Check(const TiffPage* page, std::int32_t* width, std::int32_t* height,
               std::int32_t* bitsPerSample, SampleType* type = nullptr);  // CheckImageFile
    void ReadRows(const TiffPage* page, const RowSink& sink, std::int32_t* width,
                  std::int32_t* height);  // ReadImageRows
    // The rows as words of the kind expected; an image of another kind (a file changed since its
    // header was checked) fails with "bad bits per sample.".
    void ReadWords(const TiffPage* page, const WordSink& sink, const SampleType& expected,
                   std::int32_t* width, std::int32_t* height);
    std::unique_ptr<char[]> Description(const TiffPage* page);  // null without one
    Resolution ReadResolution(const TiffPage* page = nullptr);  // null: the first image

  private:
    std::string path_;  // every message starts with it
    std::unique_ptr<rif::Reader> reader_;
};

}  // namespace voxwrap
