// Reader of gray-scale TIFF 6.0 images: the header, the first image file directory, the strip
// tables and the three strip decoders (copying, PackBits, LZW).
//
// Bytes come from a block buffer over a POSIX file descriptor read with pread, so any offset up to
// 2^32 - 1 works, and a row is decoded as a whole into its own storage. The decoders still act as
// if every byte were pulled one at a time: each raw byte first checks the strip's byte budget and
// then the end of the file, so a failure names exactly the byte that a byte-wise reader would have
// stopped at, and no byte beyond the ones a row needs is ever decoded.
//
// All state of a read lives in one Reader per call (the file, the buffer, the byte order, the
// decoders and their tables); what stays at file scope is constant. Two files can therefore be
// read at once on two threads.
#include "tiff/rif.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "common/failure.h"

namespace {

// ---------------------------------------------------------------- constants

// The directory is read in small blocks (a header-only call touches little of the file), strips
// in blocks as large as the strip, up to BufferSize.
constexpr std::size_t BufferSize = std::size_t{1} << 18;
constexpr std::size_t DirectoryChunk = 4096;

constexpr unsigned ASCII = 2;
constexpr unsigned SHORT = 3;
constexpr unsigned LONG = 4;

// The fill-order tables. Every raw strip byte passes through one of them, headers and codes
// included; the header and the directory never do.
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

constexpr ByteTable bitN = MakeByteTable(false);  // FillOrder 1
constexpr ByteTable bitR = MakeByteTable(true);   // FillOrder 2: bits in reverse order

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

bool HostIsLittleEndian() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// Owns a descriptor opened for reading: closed on every way out of a read, a thrown failure
// included. A failed close of a read-only file loses nothing, so it is no error.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// ---------------------------------------------------------------- the reader of one file

class Reader {
  public:
    Reader(const char* path, std::string* warnings) : Path(path), Warnings(warnings) {}
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // With grid, an image that fits is decoded into it (true) and a larger one not at all (false).
    bool ReadImageFile(std::int32_t* width, std::int32_t* height, std::int32_t* bitsPerSample,
                       RowTable* rows, std::unique_ptr<char[]>* description,
                       const SampleGrid* grid = nullptr);
    void ReadResolution(Resolution* resolution);

  private:
    struct LZWRegisters;

    // A strip decoder: initialise at a strip, deliver decoded bytes, check the end of the strip.
    // Called through pointers, as chosen by the Compression field, so that no decoder's loop is
    // compiled into another's.
    struct Decoder {
        void (Reader::*init)(std::uint32_t offset, std::uint32_t byteCount);
        void (Reader::*decode)(std::uint8_t* dst, std::size_t n);
        void (Reader::*term)();
    };

    // messages
    [[noreturn]] void Error(const char* message) const;
    [[noreturn]] void Error(const std::string& message) const { Error(message.c_str()); }
    [[noreturn]] void EndOfFile() const { Error("unexpected end of file."); }
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
    unsigned Get2I();
    unsigned Get2M();
    std::uint32_t Get4I();
    std::uint32_t Get4M();

    // the directory
    unsigned GetIFD(std::uint32_t ifd, unsigned tag);
    std::uint32_t GetIFD3(std::uint32_t ifd, unsigned tag, std::uint32_t byDefault);
    std::uint32_t GetIFD4(std::uint32_t ifd, unsigned tag, std::uint32_t byDefault);
    void ReadDescription(std::uint32_t ifd, std::unique_ptr<char[]>* description);
    std::unique_ptr<std::uint32_t[]> GetStrip(std::uint32_t ifd, unsigned tag, std::uint32_t count,
                                              const char* name);

    // strip decoders: each turns the current strip's raw bytes into exactly n decoded bytes
    void StartStrip(std::uint32_t offset, std::uint32_t byteCount);
    void Reverse(std::uint8_t* p, std::size_t n) const;
    std::size_t TakeRaw(std::uint8_t* dst, std::size_t n);
    void InitNICDecode(std::uint32_t offset, std::uint32_t byteCount) {
        StartStrip(offset, byteCount);
    }
    void NICDecode(std::uint8_t* dst, std::size_t n);
    void TermNICDecode();
    unsigned MPBGetCode();
    void InitMPBDecode(std::uint32_t offset, std::uint32_t byteCount);
    void MPBDecode(std::uint8_t* dst, std::size_t n);
    void TermMPBDecode();
    void LZWNewGeneration();
    void InitLZWDecode(std::uint32_t offset, std::uint32_t byteCount);
    void LZWDecode(std::uint8_t* dst, std::size_t n);
    void TermLZWDecode();

    // rows
    void DecodeRow(const Decoder& decoder, std::uint16_t* row, std::uint32_t width, unsigned b);
    void ReadRows(std::uint32_t ifd, std::uint32_t width, std::uint32_t height, unsigned b,
                  RowTable* rows, std::uint16_t* const* into);

    const char* const Path;       // every message starts with it
    std::string* const Warnings;  // null: warnings go to standard error at once

    // The file. The buffer holds the file bytes [LimOffset - (Lim - Buffer), LimOffset); Cur is
    // the next byte. It starts as the small block below and moves to a larger one at the first
    // strip that is larger.
    int File = -1;
    std::uint8_t Small[DirectoryChunk];
    std::unique_ptr<std::uint8_t[]> Large;
    std::uint8_t* Buffer = Small;
    std::size_t Capacity = DirectoryChunk;  // bytes at Buffer
    const std::uint8_t* Cur = Small;
    const std::uint8_t* Lim = Small;
    std::int64_t LimOffset = 0;  // file offset of the byte at Lim
    std::size_t Chunk = DirectoryChunk;
    bool Motorola = false;  // "MM": most significant byte first

    // Common decoder state.
    const std::uint8_t* byte = bitN.v;  // the fill-order table in use
    std::uint32_t bytes = 0;            // raw bytes of the current strip not yet taken

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

// ---------------------------------------------------------------- messages

// The reader's fatal routine: the messages carry their own period.
void Reader::Error(const char* message) const { Fail(std::string(Path) + " : " + message); }

void Reader::Warning(const char* message) const {
    if (Warnings == nullptr) {
        std::fprintf(stderr, "%s : %s (warning).\n", Path, message);
        return;
    }
    Warnings->append(Path).append(" : ").append(message).append(" (warning).\n");
}

// ---------------------------------------------------------------- the file

// Reads the next block at LimOffset; false at the end of the file or on a read error, which the
// callers treat alike: the byte they need is not there.
bool Reader::Refill() {
    ssize_t got;
    do {
        got = pread(File, Buffer, Chunk, static_cast<off_t>(LimOffset));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    Cur = Buffer;
    Lim = Buffer + got;
    LimOffset += got;
    return true;
}

// Positions the file; a position inside the buffer reuses it. Positions past the end are allowed:
// the failure comes with the first byte read there.
void Reader::Seek(std::int64_t offset) {
    if (offset >= LimOffset - (Lim - Buffer) && offset <= LimOffset) {
        Cur = Lim - (LimOffset - offset);
    } else {
        Cur = Lim = Buffer;
        LimOffset = offset;
    }
}

// Copies n bytes of the file to dst; "unexpected end of file." when fewer are left.
void Reader::CopyBytes(std::uint8_t* dst, std::size_t n) {
    while (n > 0) {
        if (Cur == Lim && !Refill()) EndOfFile();
        const std::size_t k = std::min(n, static_cast<std::size_t>(Lim - Cur));
        std::memcpy(dst, Cur, k);
        Cur += k;
        dst += k;
        n -= k;
    }
}

// Reads up to n bytes, the part beyond the buffer straight into dst; returns how many arrived.
std::uint64_t Reader::ReadBlock(char* dst, std::uint64_t n) {
    std::uint64_t done = std::min(n, static_cast<std::uint64_t>(Lim - Cur));
    std::memcpy(dst, Cur, done);
    Cur += done;
    if (done == n) return done;
    while (done < n) {
        const std::size_t want =
            static_cast<std::size_t>(std::min(n - done, std::uint64_t{1} << 30));
        const ssize_t got = pread(File, dst + done, want, static_cast<off_t>(LimOffset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += got;
        LimOffset += got;
    }
    Cur = Lim = Buffer;  // the buffer no longer matches the file position
    return done;
}

// ---------------------------------------------------------------- values in the file's byte order

unsigned Reader::Get2I() {  // two statements: operand order is unspecified, low byte first
    const unsigned b0 = GetChar();
    return b0 + 256u * GetChar();
}

unsigned Reader::Get2M() {
    const unsigned b0 = GetChar();
    return 256u * b0 + GetChar();
}

std::uint32_t Reader::Get4I() {
    const std::uint32_t w0 = Get2I();
    return w0 + 65536u * Get2I();
}

std::uint32_t Reader::Get4M() {
    const std::uint32_t w0 = Get2M();
    return 65536u * w0 + Get2M();
}

// ---------------------------------------------------------------- the directory

// Field type of the first entry with this tag, 0 when there is none; the file then stands at the
// entry's count. No directory is cached: every lookup walks the entries from the first.
unsigned Reader::GetIFD(std::uint32_t ifd, unsigned tag) {
    Seek(ifd);
    const unsigned n = Get2();
    for (unsigned i = 0; i < n; ++i) {
        if (Get2() == tag) return Get2();
        Seek(Tell() + 10);
    }
    return 0;
}

std::uint32_t Reader::GetIFD3(std::uint32_t ifd, unsigned tag, std::uint32_t byDefault) {
    if (GetIFD(ifd, tag) == SHORT && Get4() == 1) return Get2();
    return byDefault;
}

std::uint32_t Reader::GetIFD4(std::uint32_t ifd, unsigned tag, std::uint32_t byDefault) {
    const unsigned type = GetIFD(ifd, tag);
    if (type == SHORT && Get4() == 1) return Get2();
    if (type == LONG && Get4() == 1) return Get4();
    return byDefault;
}

// The ImageDescription, or null without an ASCII entry. The count is widened before adding the
// terminating zero, so the largest count cannot wrap around to an empty buffer.
void Reader::ReadDescription(std::uint32_t ifd, std::unique_ptr<char[]>* description) {
    if (GetIFD(ifd, 270) != ASCII) {
        description->reset();
        return;
    }
    const std::uint64_t count = Get4();
    if (count > 4) Seek(Get4());  // up to four bytes lie in the value field itself
    char* text = NewArray<char>(count + 1);
    if (text == nullptr) Error("no allocatable memory for image description.");
    description->reset(text);
    if (ReadBlock(text, count) != count) Error("missing image description.");
    text[count] = '\0';
}

// One strip table of count values from the entry with this tag; name fills the messages.
std::unique_ptr<std::uint32_t[]> Reader::GetStrip(std::uint32_t ifd, unsigned tag,
                                                  std::uint32_t count, const char* name) {
    std::unique_ptr<std::uint32_t[]> table(NewArray<std::uint32_t>(count));
    if (!table) Error(std::string("no allocatable memory for strip ") + name + ".");
    const unsigned type = GetIFD(ifd, tag);
    if (type != SHORT && type != LONG) Error(std::string("missing strip ") + name + ".");
    if (Get4() != count) Error(std::string("bad number of strip ") + name + ".");
    if (type == SHORT) {
        if (count > 2) Seek(Get4());  // two SHORTs fit in the value field
        for (std::uint32_t i = 0; i < count; ++i)
            table[i] = Get2();
    } else {
        if (count > 1) Seek(Get4());
        for (std::uint32_t i = 0; i < count; ++i)
            table[i] = Get4();
    }
    return table;
}

// ---------------------------------------------------------------- strip decoders

// Every raw byte is counted against the strip's byte count (an unsigned 32-bit count: a
// StripByteCounts of 2^31 or more is a byte count like any other, not a negative one) and passed
// through the fill-order table.

// Positions the file at a strip and sizes the reads to it: contiguous small strips then cost one
// read each, strips elsewhere in the file no more than their own length. The buffer grows with
// the strips (at least doubling, up to BufferSize), so a small image never pays for a large
// buffer; when a larger one cannot be had, the current one serves.
void Reader::StartStrip(std::uint32_t offset, std::uint32_t byteCount) {
    Seek(offset);
    const std::size_t want = std::min(std::max<std::size_t>(byteCount, DirectoryChunk), BufferSize);
    if (want > Capacity) {
        try {
            const std::size_t size = std::max(want, std::min(2 * Capacity, BufferSize));
            std::unique_ptr<std::uint8_t[]> larger = std::make_unique<std::uint8_t[]>(size);
            const std::int64_t at = Tell();
            Large = std::move(larger);
            Buffer = Large.get();
            Capacity = size;
            Cur = Lim = Buffer;
            LimOffset = at;
        } catch (const std::bad_alloc&) {
        }
    }
    Chunk = std::min(want, Capacity);
    bytes = byteCount;
}

void Reader::Reverse(std::uint8_t* p, std::size_t n) const {
    if (byte == bitN.v) return;
    for (std::size_t i = 0; i < n; ++i)
        p[i] = byte[p[i]];
}

// Copies up to n raw bytes within the byte count; returns how many, after reading them (so the
// end of the file is found before the end of the strip's bytes).
std::size_t Reader::TakeRaw(std::uint8_t* dst, std::size_t n) {
    const std::size_t k = std::min<std::size_t>(n, bytes);
    CopyBytes(dst, k);
    Reverse(dst, k);
    bytes -= static_cast<std::uint32_t>(k);
    return k;
}

// Uncompressed.
void Reader::NICDecode(std::uint8_t* dst, std::size_t n) {
    if (TakeRaw(dst, n) < n) Error("too few codes.");
}

void Reader::TermNICDecode() {
    if (bytes != 0) Warning("too many codes");
}

// PackBits.
unsigned Reader::MPBGetCode() {
    if (bytes == 0) Error("MPB too few codes.");
    const unsigned v = GetChar();
    --bytes;
    return byte[v];
}

void Reader::InitMPBDecode(std::uint32_t offset, std::uint32_t byteCount) {
    StartStrip(offset, byteCount);
    MPBlen = 0;
}

void Reader::MPBDecode(std::uint8_t* dst, std::size_t n) {
    while (n > 0) {
        if (MPBlen > 0) {
            const std::size_t k = std::min<std::size_t>(n, MPBlen);
            if (TakeRaw(dst, k) < k) Error("MPB too few codes.");
            MPBlen -= static_cast<std::int32_t>(k);
            dst += k;
            n -= k;
        } else if (MPBlen < 0) {
            const std::size_t k = std::min<std::size_t>(n, -static_cast<std::int64_t>(MPBlen));
            std::memset(dst, MPBrep, k);
            MPBlen += static_cast<std::int32_t>(k);
            dst += k;
            n -= k;
        } else {
            unsigned h;
            do {
                h = MPBGetCode();
            } while (h == 128);  // a no-op header
            if (h < 128) {
                MPBlen = static_cast<std::int32_t>(h) + 1;  // h + 1 literal bytes
            } else {
                MPBrep = static_cast<std::uint8_t>(MPBGetCode());
                MPBlen = static_cast<std::int32_t>(h) - 257;  // 257 - h copies
            }
        }
    }
}

void Reader::TermMPBDecode() {
    if (MPBlen != 0) {
        Warning("MPB too many data");
    } else if (bytes != 0) {
        Warning("MPB too many code");
    }
}

// LZW.

// Forgets every position in the window: when it starts over and at a new strip.
void Reader::LZWNewGeneration() {
    LZWoldValid = false;
    if (++LZWGeneration == 0) {  // after 2^32 generations: no stale position may match
        std::memset(LZW->LZWGen, 0, sizeof LZW->LZWGen);
        LZWGeneration = 1;
    }
    for (unsigned c = 0; c < 256; ++c)
        LZW->LZWGen[c] = LZWGeneration;
}

// The tables come at the first LZW strip (zeroed: no generation matches yet) and serve every
// later one.
void Reader::InitLZWDecode(std::uint32_t offset, std::uint32_t byteCount) {
    StartStrip(offset, byteCount);
    if (!LZW) {
        try {
            LZW = std::make_unique<LZWTables>();  // clears only what the constructor clears
        } catch (const std::bad_alloc&) {
            Error("no allocatable memory for cell.");
        }
    }
    LZWTables& t = *LZW;
    for (unsigned c = 0; c < 256; ++c) {
        t.LZWFirst[c] = static_cast<std::uint8_t>(c);
        t.LZWSize[c] = 1;
        t.LZWPos[c] = c;
        t.LZWWindow[c] = static_cast<std::uint8_t>(c);
    }
    LZWnum = 0;
    LZWlen = 9;
    LZWmask = 511;
    LZWold = LZWClear;
    LZWcode = LZWFirstCode;
    LZWread = LZWwrite = LZWBase;
    LZWNewGeneration();
}

// The decoder's scalars and the file cursor, copied into a local for the length of a call: stores
// through the window may alias any member of the reader, and would otherwise force every one of
// them to be reloaded after each decoded byte.
struct Reader::LZWRegisters {
    Reader& reader;
    LZWTables& t;
    std::uint32_t buf, mask, left;
    std::int32_t num, len;
    unsigned old, code;
    const std::uint8_t* cur;
    const std::uint8_t* lim;

    static LZWRegisters Load(Reader& r) {
        return LZWRegisters{r,        *r.LZW,   r.LZWbuf,  r.LZWmask, r.bytes, r.LZWnum,
                            r.LZWlen, r.LZWold, r.LZWcode, r.Cur,     r.Lim};
    }
    void Save() const {
        reader.LZWbuf = buf;
        reader.LZWmask = mask;
        reader.bytes = left;
        reader.LZWnum = num;
        reader.LZWlen = len;
        reader.LZWold = old;
        reader.LZWcode = code;
        reader.Cur = cur;
    }

    // One more raw byte into the accumulator: the strip's byte count first, then the file.
    void Feed(const std::uint8_t* table) {
        if (left == 0) reader.Error("LZW too few codes.");
        if (cur == lim) {
            reader.Cur = cur;
            if (!reader.Refill()) reader.EndOfFile();
            cur = reader.Cur;
            lim = reader.Lim;
        }
        buf = (buf << 8) | table[*cur++];
        --left;
    }

    // Reads one code and, after a string, defines the next entry (its string starting at the
    // previous string's position); returns the code whose string comes next, or LZWClear, which
    // delivers nothing.
    unsigned NextCode(const std::uint8_t* table, std::uint32_t oldPos, std::uint32_t oldGen) {
        num -= len;
        if (num < 0) {
            // A code takes one or two more bytes. When both the byte count and the buffer have
            // them, nothing can fail and they are taken without a check each.
            if (num >= -8 && left >= 1 && cur != lim) {
                buf = (buf << 8) | table[*cur++];
                --left;
                num += 8;
            } else if (num < -8 && left >= 2 && lim - cur >= 2) {
                buf = (buf << 16) | (std::uint32_t{table[cur[0]]} << 8) | table[cur[1]];
                cur += 2;
                left -= 2;
                num += 16;
            } else {
                while (num < 0) {
                    Feed(table);
                    num += 8;
                }
            }
        }
        const unsigned c = (buf >> num) & mask;
        if (c == LZWEnd) reader.Error("LZW unexpected end of code.");
        if (c == LZWClear) {
            len = 9;
            mask = 511;
        } else if (old == LZWClear) {
            if (c > 255) reader.Error("LZW bad code after clear code.");
            code = LZWFirstCode;
        } else {
            if (code == LZWCodes) reader.Error("LZW missing clear code.");
            if (c > code) reader.Error("LZW bad code.");
            // The new entry is the previous string plus the first byte of this one; for c equal
            // to the new code, that first byte is the previous string's own, set just before.
            t.LZWHead[code] = static_cast<std::uint16_t>(old);
            t.LZWFirst[code] = t.LZWFirst[old];
            t.LZWSize[code] = static_cast<std::uint16_t>(t.LZWSize[old] + 1);
            t.LZWTail[code] = t.LZWFirst[c];
            t.LZWPos[code] = oldPos;
            t.LZWGen[code] = oldGen;
            ++code;
            if (code == mask && len <= 11) {
                ++len;
                mask = 2 * code + 1;
            }
        }
        old = c;
        return c;
    }
};

// Writes the string of code c, of length size, to dst[0 .. size) by walking the table.
void LZWWalk(const LZWTables& t, unsigned c, std::uint8_t* dst, unsigned size) {
    for (unsigned i = size - 1; i > 0; --i) {
        dst[i] = t.LZWTail[c];
        c = t.LZWHead[c];
    }
    dst[0] = static_cast<std::uint8_t>(c);
}

// Writes the string of code c at window position at. A string found in the window lies wholly
// before at, except for a code used in its own definition, which ends at at itself and is copied
// byte by byte, each byte after the ones it repeats.
inline void LZWEmit(LZWTables& t, unsigned c, std::size_t at, std::uint32_t generation) {
    std::uint8_t* dst = t.LZWWindow + at;
    const unsigned size = t.LZWSize[c];
    if (t.LZWGen[c] != generation) {
        LZWWalk(t, c, dst, size);
        return;
    }
    const std::uint8_t* src = t.LZWWindow + t.LZWPos[c];
    if (src + size > dst) {
        for (unsigned i = 0; i < size; ++i)
            dst[i] = src[i];
    } else if (size <= 8) {
        std::uint64_t chunk;  // bytes past size are overwritten by later strings
        std::memcpy(&chunk, src, 8);
        std::memcpy(dst, &chunk, 8);
    } else if (size <= LZWSlack) {
        std::uint8_t chunk[LZWSlack];
        std::memcpy(chunk, src, LZWSlack);
        std::memcpy(dst, chunk, LZWSlack);
    } else {
        std::memcpy(dst, src, size);
    }
}

void Reader::LZWDecode(std::uint8_t* dst, std::size_t n) {
    LZWRegisters r = LZWRegisters::Load(*this);
    LZWTables& t = r.t;
    const std::uint8_t* const table = byte;
    std::size_t read = LZWread, write = LZWwrite;
    std::uint32_t oldPos = LZWoldPos;
    std::uint32_t generation = LZWGeneration;
    std::uint32_t oldGen = LZWoldValid ? generation : 0;  // 0 matches no generation
    for (;;) {
        if (write - read >= n) {
            std::memcpy(dst, t.LZWWindow + read, n);
            read += n;
            break;
        }
        if (write + LZWLongest > LZWEndOfWindow) {  // hand out the rest, start over
            std::memcpy(dst, t.LZWWindow + read, write - read);
            dst += write - read;
            n -= write - read;
            read = write = LZWBase;
            LZWNewGeneration();
            generation = LZWGeneration;
            oldGen = 0;
        }
        // Decode until the row is covered or the window is full.
        const std::size_t goal = read + n;
        while (write < goal && write + LZWLongest <= LZWEndOfWindow) {
            const unsigned c = r.NextCode(table, oldPos, oldGen);
            if (c == LZWClear) continue;
            LZWEmit(t, c, write, generation);
            oldPos = static_cast<std::uint32_t>(write);
            oldGen = generation;
            write += t.LZWSize[c];
        }
    }
    r.Save();
    LZWread = read;
    LZWwrite = write;
    LZWoldPos = oldPos;
    LZWoldValid = oldGen != 0;
}

// After the strip's last row the data should hold nothing but an end-of-information code, which
// is also accepted one bit narrower than the current width.
void Reader::TermLZWDecode() {
    if (LZWwrite > LZWread) {
        Warning("LZW too many data");
        return;
    }
    LZWRegisters r = LZWRegisters::Load(*this);
    r.num -= r.len;
    while (r.num < 0 && r.left != 0) {
        r.Feed(byte);
        r.num += 8;
    }
    r.Save();
    if (r.num >= 0 && r.left != 0) {
        Warning("LZW too many code");
    } else if (r.num >= 0 && ((r.buf >> r.num) & r.mask) == LZWEnd) {
        // the end code at the current width
    } else if (r.num >= -1 && ((r.buf >> (r.num + 1)) & (r.mask >> 1)) == LZWEnd) {
        // the end code one bit narrower
    } else {
        Warning("LZW missing end of code");
    }
}

// ---------------------------------------------------------------- rows

// Decodes row y into its own storage of 2 * width bytes and unpacks it there. A packed row of
// ceil(width * b / 8) bytes is decoded into the end of the storage and unpacked from the front:
// sample x is written to bytes 2x and 2x + 1 only after the bytes it needs were read, and since
// b <= 16 the unread bytes always lie beyond it.
void Reader::DecodeRow(const Decoder& decoder, std::uint16_t* row, std::uint32_t width,
                       unsigned b) {
    std::uint8_t* storage = reinterpret_cast<std::uint8_t*>(row);
    const std::size_t full = 2 * static_cast<std::size_t>(width);
    if (b == 16) {
        (this->*decoder.decode)(storage, full);
        if (Motorola == HostIsLittleEndian()) {
            for (std::uint32_t x = 0; x < width; ++x)
                row[x] = static_cast<std::uint16_t>((row[x] >> 8) | (row[x] << 8));
        }
        return;
    }
    const std::size_t packed = static_cast<std::size_t>((std::uint64_t{width} * b + 7) / 8);
    const std::uint8_t* p = storage + (full - packed);
    (this->*decoder.decode)(storage + (full - packed), packed);
    if (b == 8) {
        for (std::uint32_t x = 0; x < width; ++x)
            row[x] = p[x];
        return;
    }
    const std::uint32_t mask = 0xFFFFu >> (16 - b);
    std::uint32_t acc = 0;
    unsigned have = 0;  // bits of acc not yet used
    for (std::uint32_t x = 0; x < width; ++x) {
        while (have < b) {
            acc = (acc << 8) | *p++;
            have += 8;
        }
        have -= b;
        row[x] = static_cast<std::uint16_t>((acc >> have) & mask);
    }
}

// Checks the fields that matter only for the samples, then decodes every row. The table is
// reserved at once, but each row is allocated just before it is decoded, so a header that
// declares a huge image over a few bytes of data fails on the data without first claiming memory
// for the whole image. With into, row y is decoded into into[y] and nothing is allocated.
void Reader::ReadRows(std::uint32_t ifd, std::uint32_t width, std::uint32_t height, unsigned b,
                      RowTable* rows, std::uint16_t* const* into) {
    Decoder decoder{};
    switch (GetIFD3(ifd, 259, 1)) {
    case 1:
        decoder = {&Reader::InitNICDecode, &Reader::NICDecode, &Reader::TermNICDecode};
        break;
    case 5:
        decoder = {&Reader::InitLZWDecode, &Reader::LZWDecode, &Reader::TermLZWDecode};
        break;
    case 32773:
        decoder = {&Reader::InitMPBDecode, &Reader::MPBDecode, &Reader::TermMPBDecode};
        break;
    default:
        Error("unknown image compression method.");
    }
    const std::uint32_t photometric = GetIFD3(ifd, 262, 65535);
    if (photometric != 0 && photometric != 1 && photometric != 3 && photometric != 4)
        Error("bad photometric interpretation.");
    const std::uint32_t fillOrder = GetIFD3(ifd, 266, 1);
    if (fillOrder == 1) {
        byte = bitN.v;
    } else if (fillOrder == 2) {
        byte = bitR.v;
    } else {
        Error("unknown fill order.");
    }
    if (GetIFD3(ifd, 277, 1) != 1) Error("bad samples per pixel.");
    std::uint32_t r = GetIFD4(ifd, 278, height);
    if (height < r) {
        r = height;
    } else if (r == 0) {
        Error("bad rows per strip.");
    }
    if (GetIFD3(ifd, 284, 1) != 1) Error("bad planar configuration.");
    const std::uint32_t predictor = GetIFD3(ifd, 317, 1);
    if (predictor != 1 && predictor != 2) Error("unknown differencing predictor.");

    // The table is tried first with a non-throwing allocation: some allocators (AddressSanitizer's)
    // end the process instead of throwing when a throwing one fails.
    if (rows != nullptr) {
        rows->clear();
        if (std::uint64_t{height} > PTRDIFF_MAX / sizeof(RowTable::value_type) ||
            height > rows->max_size())
            Error("no allocatable memory for cell.");
        void* probe =
            ::operator new (sizeof(RowTable::value_type) * std::size_t{height}, std::nothrow);
        if (probe == nullptr) Error("no allocatable memory for cell.");
        ::operator delete(probe);
        try {
            rows->reserve(height);
        } catch (const std::exception&) {
            Error("no allocatable memory for cell.");
        }
    }

    const std::uint32_t strips = static_cast<std::uint32_t>((std::uint64_t{height} + r - 1) / r);
    const std::unique_ptr<std::uint32_t[]> offsets = GetStrip(ifd, 273, strips, "offset");
    const std::unique_ptr<std::uint32_t[]> counts = GetStrip(ifd, 279, strips, "bytes count");

    const std::uint16_t m = static_cast<std::uint16_t>(0xFFFFu >> (16 - b));
    for (std::uint32_t y = 0; y < height; ++y) {
        if (y % r == 0) (this->*decoder.init)(offsets[y / r], counts[y / r]);
        std::uint16_t* row = into != nullptr ? into[y] : NewArray<std::uint16_t>(width);
        if (row == nullptr) Error("no allocatable memory for cell.");
        if (into == nullptr) rows->emplace_back(row);
        DecodeRow(decoder, row, width, b);
        if (y + 1 == height || (y + 1) % r == 0) (this->*decoder.term)();
        if (predictor == 2) {
            for (std::uint32_t x = 1; x < width; ++x)
                row[x] = static_cast<std::uint16_t>((row[x - 1] + row[x]) & m);
        }
    }
}

bool Reader::ReadImageFile(std::int32_t* width, std::int32_t* height, std::int32_t* bitsPerSample,
                           RowTable* rows, std::unique_ptr<char[]>* description,
                           const SampleGrid* grid) {
    const FileDescriptor file(open(Path, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) Error("file not found.");
    File = file.get();

    const unsigned order = GetChar();
    if (order == 0x49) {  // "II": least significant byte first
        Motorola = false;
    } else if (order == 0x4D) {  // "MM": most significant byte first
        Motorola = true;
    } else {
        Error("bad magic number.");
    }
    if (GetChar() != order || Get2() != 42) Error("bad magic number.");
    const std::uint32_t ifd = Get4();
    if (ifd == 0) Error("no image file directory.");

    std::uint32_t w = 0;
    std::uint32_t h = 0;
    if (width != nullptr || height != nullptr || rows != nullptr || grid != nullptr) {
        w = GetIFD4(ifd, 256, 0);
        if (w == 0) Error("missing image size.");
        h = GetIFD4(ifd, 257, 0);
        if (h == 0) Error("missing image size.");
        if (w > INT32_MAX || h > INT32_MAX) Error("too large image size.");
        if (width != nullptr) *width = static_cast<std::int32_t>(w);
        if (height != nullptr) *height = static_cast<std::int32_t>(h);
    }
    unsigned b = 0;
    if (bitsPerSample != nullptr || rows != nullptr || grid != nullptr) {
        b = GetIFD3(ifd, 258, 1);
        if (b < 1 || b > 16) Error("bad bits per sample.");
        if (bitsPerSample != nullptr) *bitsPerSample = static_cast<std::int32_t>(b);
    }
    if (description != nullptr) ReadDescription(ifd, description);
    if (grid != nullptr) {
        if (std::int64_t{w} > grid->W || std::int64_t{h} > grid->H) return false;
        ReadRows(ifd, w, h, b, nullptr, grid->rows);
    } else if (rows != nullptr) {
        ReadRows(ifd, w, h, b, rows, nullptr);
    }
    return true;
}

// The header again, on its own: the resolution is asked for apart from the image.
void Reader::ReadResolution(Resolution* resolution) {
    const FileDescriptor file(open(Path, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) Error("file not found.");
    File = file.get();
    const unsigned order = GetChar();
    if (order != 0x49 && order != 0x4D) Error("bad magic number.");
    Motorola = order == 0x4D;
    if (GetChar() != order || Get2() != 42) Error("bad magic number.");
    const std::uint32_t ifd = Get4();
    if (ifd == 0) Error("no image file directory.");

    constexpr unsigned RATIONAL = 5;  // two LONGs, numerator then denominator
    *resolution = Resolution{};
    for (const unsigned tag : {282u, 283u}) {
        if (GetIFD(ifd, tag) != RATIONAL || Get4() != 1) continue;  // absent or unusable
        Seek(Get4());
        const std::uint32_t num = Get4();
        const std::uint32_t den = Get4();
        (tag == 282 ? resolution->xNum : resolution->yNum) = num;
        (tag == 282 ? resolution->xDen : resolution->yDen) = den;
    }
    resolution->unit = GetIFD3(ifd, 296, 2);
}

}  // namespace

void ReadResolution(const char* path, Resolution* resolution) {
    Reader reader(path, nullptr);
    reader.ReadResolution(resolution);
}

void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height,
                   std::int32_t* bitsPerSample, RowTable* rows,
                   std::unique_ptr<char[]>* description, std::string* warnings) {
    Reader reader(path, warnings);
    reader.ReadImageFile(width, height, bitsPerSample, rows, description);
}

bool ReadImageInto(const char* path, const SampleGrid& grid, std::int32_t* width,
                   std::int32_t* height, std::string* warnings) {
    Reader reader(path, warnings);
    return reader.ReadImageFile(width, height, nullptr, nullptr, nullptr, &grid);
}
