#pragma once
// The reader of one TIFF file, shared by the files of tiff/: rif.cpp (the file, the directory,
// the rows and ReadImageFile) and codecs.cpp (the strip decoders). Private to tiff/.
//
// Bytes come from a block buffer over a POSIX file descriptor read with pread, so any offset up to
// 2^63 - 1 works (BigTIFF), and a row is decoded as a whole into its own storage. The copying,
// PackBits and LZW decoders still act as if every byte were pulled one at a time: each raw byte
// first checks the strip's byte budget and then the end of the file, so a failure names exactly
// the byte that a byte-wise reader would have stopped at, and no byte beyond the ones a row needs
// is ever decoded. Deflate and Zstd strips are decompressed whole, as their libraries require.
//
// All state of a read lives in one Reader per call (the file, the buffer, the byte order, the
// decoders and their tables); what stays at file scope is constant. Two files can therefore be
// read at once on two threads.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "tiff/rif.h"

struct libdeflate_decompressor;
struct ZSTD_DCtx_s;

namespace voxwrap {

namespace rif {

// ---------------------------------------------------------------- constants

// The directory is read in small blocks (a header-only call touches little of the file), strips
// in blocks as large as the strip, up to BufferSize.
constexpr std::size_t BufferSize = std::size_t{1} << 18;
constexpr std::size_t DirectoryChunk = 4096;

constexpr unsigned ASCII = 2;
constexpr unsigned SHORT = 3;
constexpr unsigned LONG = 4;
constexpr unsigned LONG8 = 16;  // BigTIFF's 8-byte types
constexpr unsigned SLONG8 = 17;
constexpr unsigned IFD8 = 18;

// The types a strip or tile table may have, and their sizes.
inline bool IsTableType(unsigned type) {
    return type == SHORT || type == LONG || type == LONG8 || type == IFD8;
}
inline std::uint64_t TypeSize(unsigned type) { return type == SHORT ? 2 : type == LONG ? 4 : 8; }

// The fill-order tables. Every raw strip byte passes through one of them, headers and codes
// included; the header and the directory never do. Inline: one object for every file of tiff/,
// since the decoders tell the identity table by its address.
struct ByteTable {
    std::uint8_t v[256];
};

constexpr ByteTable MakeByteTable(bool reverse) {
    ByteTable t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i;
        if (reverse) {
            r = 0;
            for (unsigned bit = 0; bit < 8; ++bit)
                if (i & (1u << bit)) r |= 0x80u >> bit;
        }
        t.v[i] = static_cast<std::uint8_t>(r);
    }
    return t;
}

inline constexpr ByteTable bitN = MakeByteTable(false);  // FillOrder 1
inline constexpr ByteTable bitR = MakeByteTable(true);   // FillOrder 2: bits in reverse order

// LZW in the TIFF form: codes of 9 to 12 bits, most significant bit first; 256 clears the table,
// 257 ends the information, and the width grows when the next free code reaches 2^width - 1.
// Entry c of the table stands for the string of LZWHead[c] followed by LZWTail[c]; its length
// and first byte are kept beside it. Entries are never cleared: a code may not exceed the next
// free code, so an entry left from before a clear (or from another strip) is overwritten before
// it can be referenced.
//
// Strings are decoded into a window and handed out from there, so a string that a row ends
// inside simply stays in the window for the next row. A new entry's string (the previous string
// plus one byte) always lies in the window already, right where the previous string was written;
// its position is kept, and while the window still holds it, a later use of the code is a copy
// from there instead of a walk down the table.
constexpr unsigned LZWClear = 256;
constexpr unsigned LZWEnd = 257;
constexpr unsigned LZWFirstCode = 258;
constexpr unsigned LZWCodes = 4096;
constexpr std::size_t LZWLongest = 3839;  // the longest string: code 258 + k has at most k + 2
// The fuzzing build shrinks the window, so that small inputs reach its start-over path too.
#ifndef VOXWRAP_LZW_WINDOW_BITS
#define VOXWRAP_LZW_WINDOW_BITS 18
#endif
constexpr std::size_t LZWWindowSize = std::size_t{1} << VOXWRAP_LZW_WINDOW_BITS;
static_assert(LZWWindowSize >= 2 * LZWLongest, "the window must hold more than one string");
constexpr std::size_t LZWSlack = 16;  // short strings are copied 16 bytes at a time
// The window's first bytes hold the 256 one-byte strings, so every code in use has a position
// and a byte value is copied like any other string.
constexpr std::size_t LZWBase = 256 + LZWSlack;
constexpr std::size_t LZWEndOfWindow = LZWBase + LZWWindowSize;

// The LZW decoder's large tables (about 320 KiB): allocated by a reader at its first LZW strip
// and reused for every later strip of the file. Only the generations are cleared (no position
// may match before it was recorded); every other entry is written before it is read, so a small
// image touches only the part of the window it uses.
struct LZWTables {
    LZWTables() { std::memset(LZWGen, 0, sizeof LZWGen); }
    std::uint16_t LZWHead[LZWCodes];
    std::uint8_t LZWTail[LZWCodes];
    std::uint8_t LZWFirst[LZWCodes];
    std::uint16_t LZWSize[LZWCodes];
    std::uint32_t LZWPos[LZWCodes];  // where the code's string was written...
    std::uint32_t LZWGen[LZWCodes];  // ...valid while this equals the reader's LZWGeneration
    std::uint8_t LZWWindow[LZWEndOfWindow + LZWSlack];
};

// A new array of count elements, left uninitialised, or null when it cannot be had, including a
// count whose byte size cannot be represented.
template <class T>
T* NewArray(std::uint64_t count) {
    if (count > static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(T)) return nullptr;
    return new (std::nothrow) T[static_cast<std::size_t>(count)];
}

inline bool HostIsLittleEndian() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// Owns a descriptor opened for reading: closed on every way out of a read, a thrown failure
// included. A failed close of a read-only file loses nothing, so it is no error.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(-1); }
    void reset(int fd) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_ = -1;
};

// The compressions a strip may have, by their Compression field value.
constexpr unsigned NoCompression = 1;
constexpr unsigned LZWCompression = 5;
constexpr unsigned DeflateCompression = 8;
constexpr unsigned OldDeflateCompression = 32946;
constexpr unsigned PackBitsCompression = 32773;
constexpr unsigned ZstdCompression = 50000;

// The most bytes that raw bytes of one strip can decode to under this compression (saturated at
// 2^64 - 1); every supported compression has such a bound, so that a header claiming more rows
// than its strips can hold is found without decoding.
std::uint64_t LargestExpansion(unsigned compression, std::uint64_t raw);

struct InflaterFree {
    void operator()(libdeflate_decompressor* d) const;
};
struct ZstdFree {
    void operator()(ZSTD_DCtx_s* d) const;
};

// ---------------------------------------------------------------- the reader of one file

class Reader {
  public:
    Reader(const char* path, std::string* warnings) : Path(path), Warnings(warnings) {}
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Opens the file and reads its header once; every later call reads the same open file.
    // Returns the offset of the first directory.
    std::uint64_t Open();
    void ReadImageFile(std::int32_t* width, std::int32_t* height, std::int32_t* bitsPerSample,
                       RowTable* rows, std::unique_ptr<char[]>* description, bool check = false,
                       const TiffPage* page = nullptr, std::vector<TiffPage>* pages = nullptr);
    void ReadResolution(Resolution* resolution, const TiffPage* page);
    // An image that fits the grid is decoded into it (true); a larger one not at all (false).
    bool ReadImageInto(const SampleGrid& grid, std::int32_t* width, std::int32_t* height,
                       const TiffPage* page);
    // Every row handed to sink as it is decoded: as uint16 samples when expected is null (an
    // image of more than 16 bits is then refused), else as words of that kind.
    void ReadImageRows(const WordSink& sink, std::int32_t* width, std::int32_t* height,
                       const TiffPage* page, const SampleType* expected);
    // Where the header calls store the kind of sample (null: nowhere).
    SampleType* TypeOut = nullptr;

  private:
    struct LZWRegisters;

    // A strip decoder: initialise at a strip, deliver decoded bytes, check the end of the strip.
    // Called through pointers, as chosen by the Compression field, so that no decoder's loop is
    // compiled into another's.
    struct Decoder {
        void (Reader::*init)(std::uint64_t offset, std::uint64_t byteCount);
        void (Reader::*decode)(std::uint8_t* dst, std::size_t n);
        void (Reader::*term)();
    };

    // messages
    [[noreturn]] void Error(const char* message) const;
    [[noreturn]] void Error(const std::string& message) const { Error(message.c_str()); }
    [[noreturn]] void EndOfFile() const { Error("unexpected end of file."); }
    [[noreturn]] void NotOpen(int error) const;

    // Opens the file into `file`, which closes it on every path, and refuses what is not a
    // regular file; then the header: byte order and version. Returns the offset of the first
    // directory, never 0.
    std::uint64_t OpenHeader(FileDescriptor& file);
    void Warning(const char* message) const;

    // the file
    bool Refill();
    unsigned GetChar() {
        if (Cur == Lim && !Refill()) EndOfFile();
        return *Cur++;
    }
    std::int64_t Tell() const { return LimOffset - (Lim - Cur); }
    void Seek(std::int64_t offset);
    void CopyBytes(std::uint8_t* dst, std::size_t n);
    std::uint64_t ReadBlock(char* dst, std::uint64_t n);

    // values in the file's byte order
    unsigned Get2() { return Motorola ? Get2M() : Get2I(); }
    std::uint32_t Get4() { return Motorola ? Get4M() : Get4I(); }
    std::uint64_t Get8() {
        const std::uint64_t a = Get4();
        const std::uint64_t b = Get4();
        return Motorola ? (a << 32) | b : (b << 32) | a;
    }
    // An entry's count and an offset: 4 bytes in a classic file, 8 in a BigTIFF one.
    std::uint64_t GetCount() { return BigTiff ? Get8() : Get4(); }
    std::uint64_t GetOffset() { return BigTiff ? Get8() : Get4(); }
    std::uint64_t ValueField() const { return BigTiff ? 8 : 4; }
    std::uint64_t GetValue(unsigned type);
    unsigned Get2I();
    unsigned Get2M();
    std::uint32_t Get4I();
    std::uint32_t Get4M();

    // the directory
    unsigned GetIFD(std::uint64_t ifd, unsigned tag);
    std::uint32_t GetIFD4(std::uint64_t ifd, unsigned tag, std::uint32_t byDefault);
    void ReadDescription(std::uint64_t ifd, std::unique_ptr<char[]>* description);
    std::unique_ptr<std::uint64_t[]> GetStrip(std::uint64_t ifd, unsigned tag, std::uint32_t count,
                                              const char* name);
    int PeekStrip(std::uint64_t ifd, unsigned tag, std::uint32_t count,
                  std::vector<std::uint64_t>& table);
    void Refuse(std::uint64_t ifd, bool narrowOnly);
    void ListPages(std::uint64_t ifd, std::vector<TiffPage>& pages);
    std::uint64_t ImageJImages(std::uint64_t ifd);
    std::uint64_t ImageJBytes(std::uint64_t ifd);
    void CheckStrips(std::uint64_t ifd, std::uint32_t width, std::uint32_t height, unsigned b);

    // strip decoders: each turns the current strip's raw bytes into exactly n decoded bytes
    void StartStrip(std::uint64_t offset, std::uint64_t byteCount);
    void Reverse(std::uint8_t* p, std::size_t n) const;
    std::size_t TakeRaw(std::uint8_t* dst, std::size_t n);
    void InitNICDecode(std::uint64_t offset, std::uint64_t byteCount) {
        StartStrip(offset, byteCount);
    }
    void NICDecode(std::uint8_t* dst, std::size_t n);
    void TermNICDecode();
    unsigned MPBGetCode();
    void InitMPBDecode(std::uint64_t offset, std::uint64_t byteCount);
    void MPBDecode(std::uint8_t* dst, std::size_t n);
    void TermMPBDecode();
    void LZWNewGeneration();
    void InitLZWDecode(std::uint64_t offset, std::uint64_t byteCount);
    void LZWDecode(std::uint8_t* dst, std::size_t n);
    void TermLZWDecode();
    std::uint64_t FileSize();
    std::size_t ReadPacked(std::uint64_t offset, std::uint64_t byteCount);
    std::uint8_t* UnpackedSpace(std::uint64_t capacity);
    void InitDeflateDecode(std::uint64_t offset, std::uint64_t byteCount);
    void InitZstdDecode(std::uint64_t offset, std::uint64_t byteCount);
    void UnpackedDecode(std::uint8_t* dst, std::size_t n);
    void TermUnpackedDecode();

    // rows
    void DecodeRow(const Decoder& decoder, std::uint16_t* row, std::uint32_t width, unsigned b);
    template <class Word>
    void DecodeRow(const Decoder& decoder, Word* row, std::uint32_t width, unsigned b);
    template <class Word>
    void UndoPredictor(Word* row, std::uint32_t width, unsigned b, std::uint32_t predictor);
    template <class Word>
    void UndoFloatPredictor(Word* row, std::uint32_t width);
    template <class Word>
    void ReadRowsOf(const Decoder& decoder, std::uint32_t predictor, std::uint32_t r,
                    std::uint64_t ifd, std::uint32_t width, std::uint32_t height, unsigned b,
                    RowTable* rows);
    template <class Word>
    void ReadTilesOf(const Decoder& decoder, std::uint32_t predictor, std::uint64_t ifd,
                     std::uint32_t width, std::uint32_t height, unsigned b, RowTable* rows);
    std::uint32_t RowFields(std::uint64_t ifd, std::uint32_t height, Decoder& decoder,
                            std::uint32_t& predictor);
    bool Tiled(std::uint64_t ifd);
    void ReadRows(std::uint64_t ifd, std::uint32_t width, std::uint32_t height, unsigned b,
                  RowTable* rows);

    const char* const Path;  // every message starts with it

    // A caller's grid that the rows are decoded into instead of rows of their own (null: none).
    const SampleGrid* Into = nullptr;
    // A caller's consumer that each row is handed to instead (null: none), and the kind of
    // sample it takes (null: uint16 samples of up to 16 bits).
    const WordSink* Sink = nullptr;
    const SampleType* Expected = nullptr;
    // Predictor 3: the rows stay in the file's byte planes until the predictor is undone, through
    // a row of bytes of their own.
    bool FloatPredictor = false;
    std::unique_ptr<std::uint8_t[]> Planes;
    std::size_t PlanesCapacity = 0;
    std::string* const Warnings;  // null: warnings are dropped

    // The file. The buffer holds the file bytes [LimOffset - (Lim - Buffer), LimOffset); Cur is
    // the next byte. It starts as the small block below and moves to a larger one at the first
    // strip that is larger.
    int File = -1;
    FileDescriptor Opened;    // closes the file with the reader
    std::uint64_t First = 0;  // the first directory's offset once opened
    std::uint8_t Small[DirectoryChunk];
    std::unique_ptr<std::uint8_t[]> Large;
    std::uint8_t* Buffer = Small;
    std::size_t Capacity = DirectoryChunk;  // bytes at Buffer
    const std::uint8_t* Cur = Small;
    const std::uint8_t* Lim = Small;
    std::int64_t LimOffset = 0;  // file offset of the byte at Lim
    std::size_t Chunk = DirectoryChunk;
    bool Motorola = false;    // "MM": most significant byte first
    bool BigTiff = false;     // version 43: 8-byte offsets and counts
    std::uint64_t Image = 0;  // the image within a contiguous ImageJ stack (TiffPage::image)

    // Common decoder state.
    const std::uint8_t* byte = bitN.v;  // the fill-order table in use
    std::uint64_t bytes = 0;            // raw bytes of the current strip not yet taken
    std::uint64_t StripNeed = 0;        // decoded bytes the current strip's rows take
    std::int64_t FileBytes = -1;        // the file's size, once asked for

    // Deflate and Zstd: a strip is decompressed whole (its raw bytes in Packed) into Unpacked, and
    // the rows are handed out from there. The warnings at the strip's end are known at once.
    const char* Codec = "";  // "Deflate" or "Zstd": the first word of the messages
    std::unique_ptr<std::uint8_t[]> Packed;
    std::size_t PackedCapacity = 0;
    std::unique_ptr<std::uint8_t[]> Unpacked;
    std::size_t UnpackedCapacity = 0;
    std::size_t UnpackedRead = 0;  // bytes handed out
    std::size_t UnpackedLen = 0;   // bytes decoded, at least StripNeed
    bool ExtraData = false;        // the strip decodes to more than its rows take
    bool ExtraCode = false;        // raw bytes follow the compressed data
    std::unique_ptr<libdeflate_decompressor, InflaterFree> Inflater;
    std::unique_ptr<ZSTD_DCtx_s, ZstdFree> ZstdContext;

    // PackBits. MPBlen: 0 when a header byte is due, n > 0 when n literal bytes follow, n < 0
    // when -n copies of MPBrep follow.
    std::int32_t MPBlen = 0;
    std::uint8_t MPBrep = 0;

    // LZW.
    std::unique_ptr<LZWTables> LZW;
    std::uint32_t LZWbuf = 0;         // bit accumulator; new bytes enter at the low end
    std::int32_t LZWnum = 0;          // accumulated bits below the current code
    std::int32_t LZWlen = 9;          // code width
    std::uint32_t LZWmask = 511;      // 2^LZWlen - 1
    unsigned LZWold = LZWClear;       // previous code; LZWClear while no string followed a clear
    unsigned LZWcode = LZWFirstCode;  // next free code
    std::size_t LZWread = LZWBase;    // decoded bytes not yet delivered: [LZWread, LZWwrite)
    std::size_t LZWwrite = LZWBase;
    std::uint32_t LZWGeneration = 0;
    std::uint32_t LZWoldPos = 0;  // where the previous string was written
    bool LZWoldValid = false;
};

}  // namespace rif

}  // namespace voxwrap
