// The strip decoders of the reader: copying, PackBits, LZW, Deflate and Zstd (a tile is decoded as
// a strip). Each turns the current strip's raw bytes into exactly the decoded bytes a row asks
// for; see tiff/reader.h. Also the largest expansion of each compression, for the header pass.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_decompressBound
#include <libdeflate.h>
#include <zstd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "tiff/reader.h"

namespace voxwrap {

namespace rif {

// ---------------------------------------------------------------- strip decoders

// Every raw byte is counted against the strip's byte count (an unsigned 32-bit count: a
// StripByteCounts of 2^31 or more is a byte count like any other, not a negative one) and passed
// through the fill-order table.

// Positions the file at a strip and sizes the reads to it: contiguous small strips then cost one
// read each, strips elsewhere in the file no more than their own length. The buffer grows with
// the strips (at least doubling, up to BufferSize), so a small image never pays for a large
// buffer; when a larger one cannot be had, the current one serves.
void Reader::StartStrip(std::uint64_t offset, std::uint64_t byteCount) {
    Seek(static_cast<std::int64_t>(std::min<std::uint64_t>(offset, INT64_MAX)));
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(byteCount, DirectoryChunk), BufferSize));
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
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes));
    CopyBytes(dst, k);
    Reverse(dst, k);
    bytes -= k;
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

void Reader::InitMPBDecode(std::uint64_t offset, std::uint64_t byteCount) {
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
void Reader::InitLZWDecode(std::uint64_t offset, std::uint64_t byteCount) {
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
    std::uint32_t buf, mask;
    std::uint64_t left;
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
static void LZWWalk(const LZWTables& t, unsigned c, std::uint8_t* dst, unsigned size) {
    for (unsigned i = size - 1; i > 0; --i) {
        dst[i] = t.LZWTail[c];
        c = t.LZWHead[c];
    }
    dst[0] = static_cast<std::uint8_t>(c);
}

// Writes the string of code c at window position at. A string found in the window lies wholly
// before at, except for a code used in its own definition, which ends at at itself and is copied
// byte by byte, each byte after the ones it repeats.
static inline void LZWEmit(LZWTables& t, unsigned c, std::size_t at, std::uint32_t generation) {
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
// Deflate (Compression 8 and 32946, both zlib streams) and Zstd.

void InflaterFree::operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
void ZstdFree::operator()(ZSTD_DCtx_s* d) const { ZSTD_freeDCtx(d); }

namespace {

std::uint64_t Times(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
    return a * b;
}

std::uint64_t Plus(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// LZW: every code takes at least 9 bits, and after a clear code (or a strip's start) the k-th
// code stands for at most k bytes, since each code defines an entry one byte longer than the
// previous string. The table is full after 3839 codes; the next must be a clear code.
std::uint64_t LZWLargest(std::uint64_t raw) {
    const std::uint64_t codes = Times(raw, 8) / 9;
    constexpr std::uint64_t cycle = LZWLongest;  // codes between two clear codes
    const std::uint64_t full = codes / cycle, rest = codes % cycle;
    return Plus(Times(full, cycle * (cycle + 1) / 2), rest * (rest + 1) / 2);
}

}  // namespace

// None: one byte each. PackBits: a header and one byte give at most 128 copies (64 per byte).
// Deflate: a length-258 match coded in two bits at best (1032 per byte). Zstd: a 4-byte RLE block
// gives at most 128 KiB (32768 per byte).
std::uint64_t LargestExpansion(unsigned compression, std::uint64_t raw) {
    switch (compression) {
    case NoCompression:
        return raw;
    case PackBitsCompression:
        return Times(raw, 64);
    case LZWCompression:
        return LZWLargest(raw);
    case DeflateCompression:
    case OldDeflateCompression:
        return Times(raw, 1032);
    case ZstdCompression:
        return Times(raw, 32768);
    default:
        return UINT64_MAX;
    }
}

std::uint64_t Reader::FileSize() {
    if (FileBytes < 0) {
        struct stat st;
        FileBytes = fstat(File, &st) == 0 && st.st_size > 0 ? st.st_size : 0;
    }
    return static_cast<std::uint64_t>(FileBytes);
}

// Reads a strip's raw bytes, cut at the end of the file, into Packed, through the fill-order
// table; returns how many there are. The cut is no failure yet: the compressed data may end
// before it.
std::size_t Reader::ReadPacked(std::uint64_t offset, std::uint64_t byteCount) {
    const std::uint64_t size = FileSize();
    const std::uint64_t avail = offset >= size ? 0 : std::min(byteCount, size - offset);
    if (avail > PTRDIFF_MAX) Error("no allocatable memory for strip data.");
    const auto n = static_cast<std::size_t>(avail);
    if (n >= PackedCapacity) {  // at least one byte: an empty strip still has an address
        Packed.reset(NewArray<std::uint8_t>(n + 1));
        PackedCapacity = Packed ? n + 1 : 0;
        if (!Packed) Error("no allocatable memory for strip data.");
    }
    Seek(static_cast<std::int64_t>(offset));
    if (ReadBlock(reinterpret_cast<char*>(Packed.get()), n) != n) EndOfFile();
    Reverse(Packed.get(), n);
    return n;
}

std::uint8_t* Reader::UnpackedSpace(std::uint64_t capacity) {
    if (capacity >= UnpackedCapacity) {
        if (capacity >= PTRDIFF_MAX) Error("no allocatable memory for strip data.");
        Unpacked.reset(NewArray<std::uint8_t>(capacity + 1));
        UnpackedCapacity = Unpacked ? static_cast<std::size_t>(capacity + 1) : 0;
        if (!Unpacked) Error("no allocatable memory for strip data.");
    }
    return Unpacked.get();
}

// A strip is decompressed at once into room for exactly the bytes its rows take, or less when
// its raw bytes cannot decode to that many (a header claiming more rows than the data hold
// then costs memory in proportion to the file, not to the claim). More data than the rows take
// is decompressed again with more room, so that the rows get the true first bytes; it is a
// warning, like an LZW string left over.
void Reader::InitDeflateDecode(std::uint64_t offset, std::uint64_t byteCount) {
    Codec = "Deflate";
    const std::size_t n = ReadPacked(offset, byteCount);
    if (!Inflater) {
        Inflater.reset(libdeflate_alloc_decompressor());
        if (!Inflater) Error("no allocatable memory for strip data.");
    }
    const std::uint64_t largest = LargestExpansion(DeflateCompression, n);
    std::uint64_t room = std::min(StripNeed, largest);
    for (;;) {
        std::size_t used = 0, got = 0;
        const libdeflate_result result =
            libdeflate_zlib_decompress_ex(Inflater.get(), Packed.get(), n, UnpackedSpace(room),
                                          static_cast<std::size_t>(room), &used, &got);
        if (result == LIBDEFLATE_SUCCESS) {
            if (got < StripNeed) Error("Deflate too few codes.");
            UnpackedLen = got;
            ExtraData = got > StripNeed;
            ExtraCode = used < byteCount;
            break;
        }
        if (result != LIBDEFLATE_INSUFFICIENT_SPACE || room >= largest) {
            if (n < byteCount) EndOfFile();  // the data was cut by the end of the file
            Error("Deflate data corrupt.");
        }
        room = std::min(largest, Times(room, 2));
    }
    UnpackedRead = 0;
}

// Zstd decompresses as a stream, frame after frame, until the rows are covered; one more byte
// tells whether the strip holds more data than that.
void Reader::InitZstdDecode(std::uint64_t offset, std::uint64_t byteCount) {
    Codec = "Zstd";
    const std::size_t n = ReadPacked(offset, byteCount);
    if (!ZstdContext) {
        ZstdContext.reset(ZSTD_createDCtx());
        if (!ZstdContext) Error("no allocatable memory for strip data.");
    }
    ZSTD_DCtx* const z = ZstdContext.get();
    ZSTD_DCtx_reset(z, ZSTD_reset_session_only);
    const std::uint64_t room = std::min(StripNeed, LargestExpansion(ZstdCompression, n));
    ZSTD_inBuffer in{Packed.get(), n, 0};
    ZSTD_outBuffer out{UnpackedSpace(room), static_cast<std::size_t>(room), 0};
    std::size_t pending = 0;  // 0: at a frame boundary
    const auto fail = [&] {
        if (n < byteCount) EndOfFile();
        Error("Zstd data corrupt.");
    };
    while (out.pos < out.size) {
        const std::size_t before = in.pos, made = out.pos;
        pending = ZSTD_decompressStream(z, &out, &in);
        if (ZSTD_isError(pending)) fail();
        if (in.pos == before && out.pos == made) break;  // no progress: the data is used up
    }
    if (out.pos < StripNeed) {
        if (pending != 0 && n < byteCount) EndOfFile();
        Error("Zstd too few codes.");
    }
    std::uint8_t probe = 0;
    ZSTD_outBuffer more{&probe, 1, 0};
    ExtraData = false;
    bool stray = false;  // bytes that are no Zstd data at all
    if (pending != 0 || in.pos < in.size) {
        const std::size_t left = ZSTD_decompressStream(z, &more, &in);
        ExtraData = !ZSTD_isError(left) && more.pos > 0;
        stray = ZSTD_isError(left);
    }
    ExtraCode = !ExtraData && (stray || in.pos < byteCount);
    UnpackedLen = out.pos;
    UnpackedRead = 0;
}

void Reader::UnpackedDecode(std::uint8_t* dst, std::size_t n) {
    std::memcpy(dst, Unpacked.get() + UnpackedRead, n);  // the strip's rows fit: checked at init
    UnpackedRead += n;
}

void Reader::TermUnpackedDecode() {
    if (ExtraData || UnpackedRead < UnpackedLen) {
        Warning((std::string(Codec) + " too many data").c_str());
    } else if (ExtraCode) {
        Warning((std::string(Codec) + " too many code").c_str());
    }
}

}  // namespace rif

}  // namespace voxwrap
