// Reader of gray-scale TIFF images: the header, the image file directories and their chain, the
// strip and tile tables, the rows, the refusals and the header pass's check; the strip decoders
// are in codecs.cpp, the reader's state in reader.h.
#include "tiff/rif.h"

#include <fcntl.h>
#include <sys/stat.h>
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
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include "common/failure.h"
#include "tiff/reader.h"

namespace voxwrap {

namespace rif {

// ---------------------------------------------------------------- messages

// The reader's fatal routine: the messages carry their own period.
void Reader::Error(const char* message) const {
    // A caller acts on three kinds: a missing file, memory, and everything else about the image.
    const std::string text = message;
    using Kind = voxwrap::Error::Kind;
    const Kind kind = text == "file not found."                     ? Kind::NotFound
                      : text.rfind("no allocatable memory", 0) == 0 ? Kind::Memory
                                                                    : Kind::Image;
    Fail(kind, std::string(Path) + " : " + text);
}

// A file that exists but cannot be opened or examined: the system's reason ("Permission denied",
// "Too many open files"), which "file not found." would hide.
void Reader::NotOpen(int error) const {
    Error("file not open (" + std::generic_category().message(error) + ").");
}

void Reader::Warning(const char* message) const {
    if (Warnings == nullptr) return;  // a caller that did not ask for them
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
// BigTIFF directories count their entries in 8 bytes, and each entry has an 8-byte count and an
// 8-byte value field.
unsigned Reader::GetIFD(std::uint64_t ifd, unsigned tag) {
    Seek(static_cast<std::int64_t>(ifd));
    const std::uint64_t n = BigTiff ? Get8() : Get2();
    for (std::uint64_t i = 0; i < n; ++i) {
        if (Get2() == tag) return Get2();
        Seek(Tell() + (BigTiff ? 18 : 10));
    }
    return 0;
}

// A single SHORT or LONG value, or byDefault for any other entry. Every field is taken in both
// types: writers store Compression, Predictor and the rest as LONG too, and reading such an entry
// as absent would decode the samples wrongly.
// BigTIFF's 8-byte types are taken too; a value beyond 32 bits is kept as 2^32 - 1, which every
// field refuses as it would any other value too large for it.
std::uint32_t Reader::GetIFD4(std::uint64_t ifd, unsigned tag, std::uint32_t byDefault) {
    const unsigned type = GetIFD(ifd, tag);
    if (type != SHORT && type != LONG && type != LONG8 && type != SLONG8 && type != IFD8)
        return byDefault;
    if (GetCount() != 1) return byDefault;
    const std::uint64_t v = GetValue(type);
    if (type == SLONG8 && v >> 63) return byDefault;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, UINT32_MAX));
}

// One value of a table entry's type at the current position (SHORT, LONG or an 8-byte type).
std::uint64_t Reader::GetValue(unsigned type) {
    if (type == SHORT) return Get2();
    if (type == LONG) return Get4();
    return Get8();
}

// The ImageDescription, or null without an ASCII entry. A text that the file cannot hold is
// missing, whatever its count claims: the count (up to 2^64 - 1 in a BigTIFF file) is bounded by
// the file's size before anything is allocated, so count + 1 cannot wrap around and a claim
// costs no memory.
void Reader::ReadDescription(std::uint64_t ifd, std::unique_ptr<char[]>* description) {
    if (GetIFD(ifd, 270) != ASCII) {
        description->reset();
        return;
    }
    const std::uint64_t count = GetCount();
    // Short texts lie in the value field itself.
    const std::uint64_t at =
        count > ValueField() ? GetOffset() : static_cast<std::uint64_t>(Tell());
    if (at > FileSize() || count > FileSize() - at) Error("missing image description.");
    Seek(static_cast<std::int64_t>(at));
    char* text = NewArray<char>(count + 1);
    if (text == nullptr) Error("no allocatable memory for image description.");
    description->reset(text);
    if (ReadBlock(text, count) != count) Error("missing image description.");
    text[count] = '\0';
}

// One strip table of count values from the entry with this tag; name fills the messages. The
// table is allocated only after the entry was found sound and lying within the file, so that a
// claimed count costs nothing before its failure.
std::unique_ptr<std::uint64_t[]> Reader::GetStrip(std::uint64_t ifd, unsigned tag,
                                                  std::uint32_t count, const char* name) {
    const unsigned type = GetIFD(ifd, tag);
    if (!IsTableType(type)) Error(std::string("missing ") + name + ".");
    if (GetCount() != count) Error(std::string("bad number of ") + name + ".");
    const std::uint64_t size = TypeSize(type);
    if (size * count > ValueField()) {  // a few values fit in the value field
        const std::uint64_t at = GetOffset();
        if (at > FileSize() || size * count > FileSize() - at) EndOfFile();
        Seek(static_cast<std::int64_t>(at));
    }
    std::unique_ptr<std::uint64_t[]> table(NewArray<std::uint64_t>(count));
    if (!table) Error(std::string("no allocatable memory for ") + name + ".");
    for (std::uint32_t i = 0; i < count; ++i)
        table[i] = GetValue(type);
    return table;
}

// A strip table for the header pass: 1 and the values when the entry is sound, -1 when loading
// would refuse it (no SHORT or LONG entry, another count, values past the end of the file), 0
// when it cannot be checked (no memory for it). The table never takes more than the file's size.
int Reader::PeekStrip(std::uint64_t ifd, unsigned tag, std::uint32_t count,
                      std::vector<std::uint64_t>& table) {
    const unsigned type = GetIFD(ifd, tag);
    if (!IsTableType(type)) return -1;
    if (GetCount() != count) return -1;
    const std::uint64_t size = TypeSize(type);
    if (size * count > ValueField()) {
        const std::uint64_t at = GetOffset();
        if (at > FileSize() || size * count > FileSize() - at) return -1;
        Seek(static_cast<std::int64_t>(at));
    }
    try {
        table.resize(count);
    } catch (const std::exception&) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i)
        table[i] = GetValue(type);
    return 1;
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
        if (Motorola == HostIsLittleEndian() && !FloatPredictor) {
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

// A row of 32- or 64-bit words: decoded straight into its storage and put in the host's byte
// order, unless the floating-point predictor still has to gather its byte planes.
template <class Word>
void Reader::DecodeRow(const Decoder& decoder, Word* row, std::uint32_t width, unsigned b) {
    if constexpr (sizeof(Word) == 2) {
        DecodeRow(decoder, static_cast<std::uint16_t*>(row), width, b);
    } else {
        (this->*decoder.decode)(reinterpret_cast<std::uint8_t*>(row), sizeof(Word) * width);
        if (FloatPredictor || Motorola != HostIsLittleEndian()) return;
        for (std::uint32_t x = 0; x < width; ++x) {
            if constexpr (sizeof(Word) == 4) {
                row[x] = __builtin_bswap32(row[x]);
            } else {
                row[x] = __builtin_bswap64(row[x]);
            }
        }
    }
}

// The floating-point predictor as TIFF writers apply it to a row of n-byte samples: the row's
// bytes are rearranged into n planes, the most significant byte of every sample first whatever
// the file's byte order, and then differenced byte by byte along the whole row. Undone: the bytes
// summed along the row, then every sample gathered from its planes into a host word.
template <class Word>
void Reader::UndoFloatPredictor(Word* row, std::uint32_t width) {
    const std::size_t n = sizeof(Word) * std::size_t{width};
    if (n > PlanesCapacity) {
        Planes.reset(NewArray<std::uint8_t>(n));
        if (!Planes) Error("no allocatable memory for cell.");
        PlanesCapacity = n;
    }
    std::uint8_t* p = Planes.get();
    std::memcpy(p, row, n);
    for (std::size_t i = 1; i < n; ++i)
        p[i] = static_cast<std::uint8_t>(p[i] + p[i - 1]);
    for (std::uint32_t x = 0; x < width; ++x) {
        Word v = 0;
        for (std::size_t k = 0; k < sizeof(Word); ++k)
            v = static_cast<Word>((v << 8) | p[k * width + x]);
        row[x] = v;
    }
}

// Undoes the row's predictor: horizontal differencing is summed sample by sample, modulo 2^b for
// samples of up to 16 bits and modulo the word for wider ones (floats alike: the differences are
// of their bits).
template <class Word>
void Reader::UndoPredictor(Word* row, std::uint32_t width, unsigned b, std::uint32_t predictor) {
    if (predictor == 3) {
        UndoFloatPredictor(row, width);
    } else if (predictor == 2) {
        if constexpr (sizeof(Word) == 2) {
            const std::uint16_t m = static_cast<std::uint16_t>(0xFFFFu >> (16 - b));
            for (std::uint32_t x = 1; x < width; ++x)
                row[x] = static_cast<std::uint16_t>((row[x - 1] + row[x]) & m);
        } else {
            for (std::uint32_t x = 1; x < width; ++x)
                row[x] = static_cast<Word>(row[x - 1] + row[x]);
        }
    }
}

// Checks the fields that matter only for the samples, in a fixed order, and picks the decoder.
std::uint32_t Reader::RowFields(std::uint64_t ifd, std::uint32_t height, Decoder& decoder,
                                std::uint32_t& predictor) {
    switch (GetIFD4(ifd, 259, 1)) {
    case NoCompression:
        decoder = {&Reader::InitNICDecode, &Reader::NICDecode, &Reader::TermNICDecode};
        break;
    case LZWCompression:
        decoder = {&Reader::InitLZWDecode, &Reader::LZWDecode, &Reader::TermLZWDecode};
        break;
    case PackBitsCompression:
        decoder = {&Reader::InitMPBDecode, &Reader::MPBDecode, &Reader::TermMPBDecode};
        break;
    case DeflateCompression:
    case OldDeflateCompression:
        decoder = {&Reader::InitDeflateDecode, &Reader::UnpackedDecode,
                   &Reader::TermUnpackedDecode};
        break;
    case ZstdCompression:
        decoder = {&Reader::InitZstdDecode, &Reader::UnpackedDecode, &Reader::TermUnpackedDecode};
        break;
    default:
        Error("unknown image compression method.");
    }
    const std::uint32_t photometric = GetIFD4(ifd, 262, 65535);
    if (photometric != 0 && photometric != 1 && photometric != 3 && photometric != 4)
        Error("bad photometric interpretation.");
    const std::uint32_t fillOrder = GetIFD4(ifd, 266, 1);
    if (fillOrder == 1) {
        byte = bitN.v;
    } else if (fillOrder == 2) {
        byte = bitR.v;
    } else {
        Error("unknown fill order.");
    }
    if (GetIFD4(ifd, 277, 1) != 1) Error("bad samples per pixel.");
    std::uint32_t r = 0;  // tiled images have no strips
    if (!Tiled(ifd)) {
        r = GetIFD4(ifd, 278, height);
        if (height < r) {
            r = height;
        } else if (r == 0) {
            Error("bad rows per strip.");
        }
    }
    if (GetIFD4(ifd, 284, 1) != 1) Error("bad planar configuration.");
    predictor = GetIFD4(ifd, 317, 1);
    if (predictor != 1 && predictor != 2 && predictor != 3)
        Error("unknown differencing predictor.");
    FloatPredictor = predictor == 3;
    return r;
}

// Whether the image is stored in tiles rather than strips.
bool Reader::Tiled(std::uint64_t ifd) { return GetIFD(ifd, 322) != 0 || GetIFD(ifd, 324) != 0; }

// Decoded bytes of one row: packed rows start on a byte boundary, 16-bit samples take two.
static std::uint64_t RowBytes(std::uint32_t width, unsigned b) {
    return b == 16 ? 2 * std::uint64_t{width} : (std::uint64_t{width} * b + 7) / 8;
}

// Checks the row fields, then decodes every row into rows. The table is reserved at once, but
// each row is allocated just before it is decoded, so a header that declares a huge image over a
// few bytes of data fails on the data without first claiming memory for the whole image.
//
// With rows null nothing is kept: the strips are decoded through a small scratch block, for the
// failure (and the warnings before it) that loading the image would give, at a cost in memory
// and time bounded by what the strips really hold rather than by the rows they claim.
void Reader::ReadRows(std::uint64_t ifd, std::uint32_t width, std::uint32_t height, unsigned b,
                      RowTable* rows) {
    Decoder decoder{};
    std::uint32_t predictor = 1;
    const std::uint32_t r = RowFields(ifd, height, decoder, predictor);

    // The table is tried first with a non-throwing allocation: some allocators (AddressSanitizer's)
    // end the process instead of throwing when a throwing one fails.
    if (rows != nullptr && Into == nullptr && Sink == nullptr) {
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

    if (b <= 16) {
        ReadRowsOf<std::uint16_t>(decoder, predictor, r, ifd, width, height, b, rows);
    } else if (b == 32) {
        ReadRowsOf<std::uint32_t>(decoder, predictor, r, ifd, width, height, b, rows);
    } else {
        ReadRowsOf<std::uint64_t>(decoder, predictor, r, ifd, width, height, b, rows);
    }
}

// The rows as words of one size: uint16 samples (the only ones a row table or a grid takes), or
// 32- and 64-bit words handed to the sink.
template <class Word>
void Reader::ReadRowsOf(const Decoder& decoder, std::uint32_t predictor, std::uint32_t r,
                        std::uint64_t ifd, std::uint32_t width, std::uint32_t height, unsigned b,
                        RowTable* rows) {
    if (r == 0) {
        ReadTilesOf<Word>(decoder, predictor, ifd, width, height, b, rows);
        return;
    }
    const std::uint32_t strips = static_cast<std::uint32_t>((std::uint64_t{height} + r - 1) / r);
    const std::unique_ptr<std::uint64_t[]> offsets = GetStrip(ifd, 273, strips, "strip offset");
    const std::unique_ptr<std::uint64_t[]> counts = GetStrip(ifd, 279, strips, "strip bytes count");
    if (Image > 0) {  // an ImageJ image beyond the directory's own: its data follow
        const std::uint64_t shift = Image * ImageJBytes(ifd);
        for (std::uint32_t i = 0; i < strips; ++i)
            offsets[i] += shift;
    }

    const std::uint64_t rowBytes = RowBytes(width, b);
    // A consumer of rows gets each from one row of storage, reused.
    std::unique_ptr<Word[]> own;
    if (rows != nullptr && Sink != nullptr) {
        own.reset(NewArray<Word>(width));
        if (!own) Error("no allocatable memory for cell.");
    }
    std::uint8_t scratch[DirectoryChunk];
    for (std::uint32_t y = 0; y < height; ++y) {
        if (y % r == 0) {
            StripNeed = rowBytes * std::min<std::uint32_t>(r, height - y);
            (this->*decoder.init)(offsets[y / r], counts[y / r]);
        }
        if (rows == nullptr) {
            for (std::uint64_t left = rowBytes; left > 0;) {
                const auto k =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof scratch));
                (this->*decoder.decode)(scratch, k);
                left -= k;
            }
            if (y + 1 == height || (y + 1) % r == 0) (this->*decoder.term)();
            continue;
        }
        Word* row = own.get();
        if constexpr (sizeof(Word) == 2) {
            if (!own) {
                row = Into != nullptr ? Into->rows[y] : NewArray<std::uint16_t>(width);
                if (row == nullptr) Error("no allocatable memory for cell.");
                if (Into == nullptr) rows->emplace_back(row);
            }
        }
        DecodeRow(decoder, row, width, b);
        if (y + 1 == height || (y + 1) % r == 0) (this->*decoder.term)();
        UndoPredictor(row, width, b, predictor);
        if (own) (*Sink)(static_cast<std::int32_t>(y), row, static_cast<std::int32_t>(width));
    }
}

// Walks the directory chain from ifd. Only directories whose entries and next offset lie within
// the file are looked at, and none twice, so a broken or circular chain ends the list instead of
// the read: the first image stays readable as it always was.
void Reader::ListPages(std::uint64_t ifd, std::vector<TiffPage>& pages) {
    std::set<std::uint64_t> seen;
    const std::uint64_t size = FileSize();
    const std::uint64_t first = ifd;
    const std::uint64_t head = BigTiff ? 8 : 2, entry = BigTiff ? 20 : 12;
    while (ifd != 0 && ifd <= size && head <= size - ifd && seen.insert(ifd).second) {
        Seek(static_cast<std::int64_t>(ifd));
        const std::uint64_t n = BigTiff ? Get8() : Get2();
        if (n > (size - ifd - head) / entry) break;
        const std::uint64_t end = ifd + head + entry * n;
        if (ValueField() > size - end) break;
        if ((GetIFD4(ifd, 254, 0) & 1) == 0) pages.push_back(TiffPage{ifd, 0});
        Seek(static_cast<std::int64_t>(end));
        ifd = GetOffset();
    }
    if (pages.size() == 1 && pages[0].ifd == first) {
        const std::uint64_t images = ImageJImages(first);
        for (std::uint64_t k = 1; k < images; ++k)
            pages.push_back(TiffPage{first, k});
    }
}

// ImageJ writes a stack beyond 4 GiB with one directory: its ImageDescription begins "ImageJ="
// and holds a line "images=N", and the other N - 1 images follow the first one's data, each as
// long. Returns N when that is the layout here: the description says so, the data are
// uncompressed strips that lie one after the other, and all N images lie within the file;
// otherwise 1, and the directory chain alone counts.
std::uint64_t Reader::ImageJImages(std::uint64_t ifd) {
    // The description is read only when it is short and lies within the file: ImageJ's are a few
    // lines, and a broken one must not fail a read that never needed it.
    if (GetIFD(ifd, 270) != ASCII) return 1;
    const std::uint64_t count = GetCount(), size = FileSize();
    if (count < 8 || count > 65536) return 1;
    if (count > ValueField()) {
        const std::uint64_t at = GetOffset();
        if (at > size || count > size - at) return 1;
        Seek(static_cast<std::int64_t>(at));
    }
    std::string text(static_cast<std::size_t>(count), '\0');
    if (ReadBlock(&text[0], count) != count) return 1;
    if (text.compare(0, 7, "ImageJ=") != 0) return 1;
    const std::size_t line = text.find("\nimages=");
    if (line == std::string::npos) return 1;
    std::uint64_t n = 0;
    for (const char* p = text.c_str() + line + 8; *p >= '0' && *p <= '9' && n < UINT32_MAX; ++p)
        n = 10 * n + static_cast<std::uint64_t>(*p - '0');
    if (n < 2 || GetIFD4(ifd, 259, 1) != NoCompression || Tiled(ifd)) return 1;
    const std::uint64_t each = ImageJBytes(ifd);
    if (each == 0) return 1;
    std::vector<std::uint64_t> offsets;
    const std::uint32_t h = GetIFD4(ifd, 257, 0);
    const std::uint32_t r = std::min(GetIFD4(ifd, 278, h), h);
    if (r == 0 || PeekStrip(ifd, 273, static_cast<std::uint32_t>((std::uint64_t{h} + r - 1) / r),
                            offsets) != 1)
        return 1;
    if (offsets[0] > size || (size - offsets[0]) / each < n) return 1;
    return n;
}

// The bytes of one image of a contiguous ImageJ stack: the sum of the first image's strip byte
// counts, when its strips lie one after the other and hold exactly its rows; 0 otherwise.
std::uint64_t Reader::ImageJBytes(std::uint64_t ifd) {
    const std::uint32_t w = GetIFD4(ifd, 256, 0), h = GetIFD4(ifd, 257, 0);
    const std::uint32_t b = GetIFD4(ifd, 258, 1);
    if (w == 0 || h == 0 || b < 1 || b > 16) return 0;
    const std::uint32_t r = std::min(GetIFD4(ifd, 278, h), h);
    if (r == 0) return 0;
    const auto strips = static_cast<std::uint32_t>((std::uint64_t{h} + r - 1) / r);
    std::vector<std::uint64_t> offsets, counts;
    if (PeekStrip(ifd, 273, strips, offsets) != 1 || PeekStrip(ifd, 279, strips, counts) != 1)
        return 0;
    // The strips lie one after the other within the file, so their sum never exceeds its size:
    // a byte count beyond what is left (up to 2^64 - 1 in a BigTIFF file) cannot wrap it around.
    const std::uint64_t size = FileSize();
    std::uint64_t sum = 0;
    for (std::uint32_t i = 0; i < strips; ++i) {
        if (offsets[i] != offsets[0] + sum || counts[i] > size - sum) return 0;
        sum += counts[i];
    }
    return sum == RowBytes(w, b) * h ? sum : 0;
}

// The name of a compression that is known but not read, or null.
static const char* RefusedCompression(std::uint32_t compression) {
    switch (compression) {
    case 2:
        return "CCITT RLE";
    case 3:
        return "CCITT Group 3 fax";
    case 4:
        return "CCITT Group 4 fax";
    case 6:
        return "old-style JPEG";
    case 7:
        return "JPEG";
    case 32766:
        return "NeXT";
    case 32771:
        return "CCITT RLEW";
    case 32809:
        return "ThunderScan";
    case 32908:
    case 32909:
        return "Pixar log";
    case 34661:
        return "JBIG";
    case 34676:
    case 34677:
        return "SGI log";
    case 34712:
        return "JPEG 2000";
    case 34887:
        return "LERC";
    case 34892:
        return "lossy JPEG";
    case 34925:
        return "LZMA";
    case 50001:
        return "WebP";
    case 50002:
    case 52546:
        return "JPEG XL";
    default:
        return nullptr;
    }
}

// Refuses, by name, what a gray-scale reader cannot deliver: complex samples, more than one
// sample per pixel, separate planes, the compressions it does not decode, the floating-point
// predictor on integers; and, to a caller of uint16 samples, floating-point samples wider than
// 16 bits. Runs before the bits per sample are checked, so a 32-bit floating-point file is named
// as such there.
void Reader::Refuse(std::uint64_t ifd, bool narrowOnly) {
    if (const char* name = RefusedCompression(GetIFD4(ifd, 259, 1)))
        Error(std::string(name) + " compression is not supported.");
    const std::uint32_t format = GetIFD4(ifd, 339, 1);
    if (format == 3 && narrowOnly && GetIFD4(ifd, 258, 1) > 16)
        Error("floating-point samples are not supported.");
    if (format == 5 || format == 6) Error("complex samples are not supported.");
    const std::uint32_t samples = GetIFD4(ifd, 277, 1);
    if (samples > 1) Error(std::to_string(samples) + " samples per pixel are not supported.");
    if (GetIFD4(ifd, 284, 1) == 2)
        Error("separate planes (planar configuration 2) are not supported.");
    if (GetIFD4(ifd, 317, 1) == 3 && format != 3)
        Error("floating-point predictor is not supported.");
}

// Tiles of tw x tl samples, left to right and top to bottom, each decoded like a strip of tl rows
// of tw samples (the predictor works along a tile's rows); the parts beyond the image's right and
// bottom edges are decoded and dropped. The image's rows of a band of tiles are allocated as the
// band begins. With rows null, as ReadRows: decoded and dropped, for the failure.
template <class Word>
void Reader::ReadTilesOf(const Decoder& decoder, std::uint32_t predictor, std::uint64_t ifd,
                         std::uint32_t width, std::uint32_t height, unsigned b, RowTable* rows) {
    const std::uint32_t tw = GetIFD4(ifd, 322, 0), tl = GetIFD4(ifd, 323, 0);
    // A tile's decoded bytes must be a number: 2^32 - 1 rows of 2^32 - 1 16-bit samples are not.
    if (tw == 0 || tl == 0 || RowBytes(tw, b) > UINT64_MAX / tl) Error("bad tile size.");
    const std::uint64_t across = (std::uint64_t{width} + tw - 1) / tw;
    const std::uint64_t down = (std::uint64_t{height} + tl - 1) / tl;
    if (across * down > UINT32_MAX) Error("bad tile size.");
    const auto tiles = static_cast<std::uint32_t>(across * down);
    const bool dry = rows == nullptr;
    const std::unique_ptr<std::uint64_t[]> offsets = GetStrip(ifd, 324, tiles, "tile offset");
    const std::unique_ptr<std::uint64_t[]> counts = GetStrip(ifd, 325, tiles, "tile bytes count");

    const std::uint64_t rowBytes = RowBytes(tw, b);
    std::unique_ptr<Word[]> tileRow;
    if (!dry) {
        tileRow.reset(NewArray<Word>(tw));
        if (!tileRow) Error("no allocatable memory for cell.");
    }
    // A consumer of rows gets them a band at a time, from one band of the image's width.
    std::unique_ptr<Word[]> band;
    if (rows != nullptr && Sink != nullptr) {
        band.reset(NewArray<Word>(std::uint64_t{std::min(tl, height)} * width));
        if (!band) Error("no allocatable memory for cell.");
    }
    std::uint8_t scratch[DirectoryChunk];
    for (std::uint64_t ty = 0; ty < down; ++ty) {
        const auto y0 = static_cast<std::uint32_t>(ty * tl);
        const std::uint32_t rowsHere = std::min(tl, height - y0);
        for (std::uint32_t y = 0; !dry && Into == nullptr && Sink == nullptr && y < rowsHere; ++y) {
            if constexpr (sizeof(Word) == 2) {
                std::uint16_t* row = NewArray<std::uint16_t>(width);
                if (row == nullptr) Error("no allocatable memory for cell.");
                rows->emplace_back(row);
            }
        }
        for (std::uint64_t tx = 0; tx < across; ++tx) {
            const auto x0 = static_cast<std::uint32_t>(tx * tw);
            const std::uint32_t colsHere = std::min(tw, width - x0);
            StripNeed = rowBytes * tl;
            (this->*decoder.init)(offsets[ty * across + tx], counts[ty * across + tx]);
            for (std::uint32_t y = 0; y < tl; ++y) {
                if (dry) {
                    for (std::uint64_t left = rowBytes; left > 0;) {
                        const auto k =
                            static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof scratch));
                        (this->*decoder.decode)(scratch, k);
                        left -= k;
                    }
                    continue;
                }
                Word* t = tileRow.get();
                DecodeRow(decoder, t, tw, b);
                UndoPredictor(t, tw, b, predictor);
                Word* target = y >= rowsHere ? nullptr
                               : band        ? band.get() + std::size_t{y} * width
                                             : nullptr;
                if constexpr (sizeof(Word) == 2) {
                    if (y < rowsHere && !band) {
                        target = Into != nullptr ? Into->rows[y0 + y] : (*rows)[y0 + y].get();
                    }
                }
                if (target != nullptr) std::copy(t, t + colsHere, target + x0);
            }
            (this->*decoder.term)();
        }
        for (std::uint32_t y = 0; band && y < rowsHere; ++y) {
            (*Sink)(static_cast<std::int32_t>(y0 + y), band.get() + std::size_t{y} * width,
                    static_cast<std::int32_t>(width));
        }
    }
}

// The header pass's check: whether the strips can hold the claimed rows at all. When they cannot,
// the rows are decoded without being kept, which ends in the failure loading would give.
void Reader::CheckStrips(std::uint64_t ifd, std::uint32_t width, std::uint32_t height, unsigned b) {
    const std::uint32_t compression = GetIFD4(ifd, 259, 1);
    if (LargestExpansion(compression, 0) == UINT64_MAX) return;  // unknown: loading decides
    // The blocks: strips of r rows, or tiles of tw x tl samples (each holding all its rows).
    const bool tiled = Tiled(ifd);
    std::uint32_t r = 0, tw = width, tl = 0;
    std::uint64_t blocks = 0;
    bool fails = false;
    if (tiled) {
        tw = GetIFD4(ifd, 322, 0);
        tl = GetIFD4(ifd, 323, 0);
        fails = tw == 0 || tl == 0 || RowBytes(tw, b) > UINT64_MAX / tl;
        if (!fails) blocks = ((std::uint64_t{width} + tw - 1) / tw) * ((height + tl - 1) / tl);
        fails = fails || blocks > UINT32_MAX;
    } else {
        r = std::min(GetIFD4(ifd, 278, height), height);
        if (r == 0) return;
        blocks = (std::uint64_t{height} + r - 1) / r;
    }
    std::vector<std::uint64_t> offsets, counts;
    int sound = 0;
    if (!fails) {
        const auto n = static_cast<std::uint32_t>(blocks);
        sound = PeekStrip(ifd, tiled ? 324 : 273, n, offsets);
        if (sound == 1) sound = PeekStrip(ifd, tiled ? 325 : 279, n, counts);
        fails = sound == -1;
    }
    if (sound == 1 && Image > 0) {
        const std::uint64_t shift = Image * ImageJBytes(ifd);
        for (std::uint64_t& offset : offsets)
            offset += shift;
    }
    if (sound == 1) {
        const std::uint64_t rowBytes = RowBytes(tw, b), size = FileSize();
        for (std::uint64_t i = 0; i < blocks && !fails; ++i) {
            const std::uint64_t rowsIn = tiled ? tl : std::min<std::uint64_t>(r, height - i * r);
            const std::uint64_t avail =
                offsets[i] >= size ? 0 : std::min(counts[i], size - offsets[i]);
            fails = LargestExpansion(compression, avail) < rowBytes * rowsIn;
        }
    }
    if (fails) ReadRows(ifd, width, height, b, nullptr);
}

std::uint64_t Reader::Open() {
    if (First == 0) First = OpenHeader(Opened);
    return First;
}

std::uint64_t Reader::OpenHeader(FileDescriptor& file) {
    // Opened without blocking, so a FIFO without a writer or a device among the slices cannot
    // stop the run; whatever is not a regular file is then refused before a byte is read.
    file.reset(open(Path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) Error("file not found.");
        NotOpen(errno);
    }
    struct stat status;
    if (fstat(file.get(), &status) != 0) NotOpen(errno);
    if (S_ISDIR(status.st_mode)) Error("is a directory.");
    if (!S_ISREG(status.st_mode)) Error("not a regular file.");
    File = file.get();

    const unsigned order = GetChar();
    if (order == 0x49) {  // "II": least significant byte first
        Motorola = false;
    } else if (order == 0x4D) {  // "MM": most significant byte first
        Motorola = true;
    } else {
        Error("bad magic number.");
    }
    if (GetChar() != order) Error("bad magic number.");
    const unsigned version = Get2();
    if (version == 43) {  // BigTIFF: 8-byte offsets, then a zero
        BigTiff = true;
        if (Get2() != 8 || Get2() != 0) Error("bad magic number.");
    } else if (version != 42) {
        Error("bad magic number.");
    }
    const std::uint64_t first = GetOffset();
    if (first == 0) Error("no image file directory.");
    return first;
}

void Reader::ReadImageFile(std::int32_t* width, std::int32_t* height, std::int32_t* bitsPerSample,
                           RowTable* rows, std::unique_ptr<char[]>* description, bool check,
                           const TiffPage* page, std::vector<TiffPage>* pages) {
    SampleType* const typeOut = TypeOut;  // for this call only
    TypeOut = nullptr;
    const std::uint64_t first = Open();
    if (pages != nullptr) {
        ListPages(first, *pages);
        return;
    }
    const std::uint64_t ifd = page != nullptr && page->ifd != 0 ? page->ifd : first;
    Image = page != nullptr ? page->image : 0;

    std::uint32_t w = 0;
    std::uint32_t h = 0;
    if (width != nullptr || height != nullptr || rows != nullptr || check) {
        w = GetIFD4(ifd, 256, 0);
        if (w == 0) Error("missing image size.");
        h = GetIFD4(ifd, 257, 0);
        if (h == 0) Error("missing image size.");
        if (w > INT32_MAX || h > INT32_MAX) Error("too large image size.");
        if (width != nullptr) *width = static_cast<std::int32_t>(w);
        if (height != nullptr) *height = static_cast<std::int32_t>(h);
    }
    // The callers of uint16 rows take samples of up to 16 bits only.
    const bool narrowOnly = rows != nullptr && Expected == nullptr;
    if (rows != nullptr || check) Refuse(ifd, narrowOnly);
    unsigned b = 0;
    if (bitsPerSample != nullptr || rows != nullptr || check || typeOut != nullptr) {
        b = GetIFD4(ifd, 258, 1);
        // SampleFormat 4 (undefined) and values no writer uses are read as unsigned, as ever.
        const std::uint32_t format = GetIFD4(ifd, 339, 1);
        SampleType kind;
        kind.format = format == 2   ? SampleType::Format::Signed
                      : format == 3 ? SampleType::Format::Float
                                    : SampleType::Format::Unsigned;
        kind.bits = static_cast<int>(std::min(b, 64u));
        const bool sound = kind.format == SampleType::Format::Float
                               ? b == 16 || b == 32 || b == 64
                               : (b >= 1 && b <= 16) || b == 32;
        if (!sound || (narrowOnly && b > 16)) Error("bad bits per sample.");
        if (rows != nullptr && Expected != nullptr && !kind.Mixes(*Expected))
            Error("bad bits per sample.");
        if (bitsPerSample != nullptr) *bitsPerSample = static_cast<std::int32_t>(b);
        if (typeOut != nullptr) *typeOut = kind;
    }
    if (description != nullptr) ReadDescription(ifd, description);
    if (rows != nullptr) {
        // An image larger than the grid is not decoded: the caller reads it the usual way.
        if (Into != nullptr && (std::int64_t{w} > Into->W || std::int64_t{h} > Into->H)) {
            Into = nullptr;
            return;
        }
        ReadRows(ifd, w, h, b, rows);
    }
    if (check) CheckStrips(ifd, w, h, b);
}

bool Reader::ReadImageInto(const SampleGrid& grid, std::int32_t* width, std::int32_t* height,
                           const TiffPage* page) {
    Into = &grid;
    RowTable unused;  // the rows are the grid's; this table stays empty
    ReadImageFile(width, height, nullptr, &unused, nullptr, false, page);
    const bool fits = Into != nullptr;
    Into = nullptr;
    return fits;
}

void Reader::ReadImageRows(const WordSink& sink, std::int32_t* width, std::int32_t* height,
                           const TiffPage* page, const SampleType* expected) {
    Sink = &sink;
    Expected = expected;
    RowTable unused;  // the rows go to the sink; this table stays empty
    try {
        ReadImageFile(width, height, nullptr, &unused, nullptr, false, page);
    } catch (...) {
        Sink = nullptr;
        Expected = nullptr;
        throw;
    }
    Sink = nullptr;
    Expected = nullptr;
}

// The uint16 rows of a RowSink, through the words of samples of up to 16 bits.
static WordSink Narrow(const RowSink& sink) {
    return [&sink](std::int32_t y, const void* words, std::int32_t width) {
        sink(y, static_cast<const std::uint16_t*>(words), width);
    };
}

// XResolution, YResolution (one RATIONAL each) and ResolutionUnit of the page's directory (the
// first when page is null). A RATIONAL's count must be 1: no count taken from the file sizes
// anything here, and its eight bytes are read where the entry points, failing at the end of the
// file.
void Reader::ReadResolution(Resolution* resolution, const TiffPage* page) {
    const std::uint64_t first = Open();
    const std::uint64_t ifd = page != nullptr && page->ifd != 0 ? page->ifd : first;
    constexpr unsigned RATIONAL = 5;  // two LONGs, numerator then denominator
    *resolution = Resolution{};
    for (const unsigned tag : {282u, 283u}) {
        if (GetIFD(ifd, tag) != RATIONAL || GetCount() != 1) continue;  // absent or unusable
        if (!BigTiff) Seek(Get4());  // eight bytes do not fit a classic value field
        const std::uint32_t num = Get4();
        const std::uint32_t den = Get4();
        (tag == 282 ? resolution->xNum : resolution->yNum) = num;
        (tag == 282 ? resolution->xDen : resolution->yDen) = den;
    }
    resolution->unit = GetIFD4(ifd, 296, 2);
}

}  // namespace rif

std::string SampleType::Name() const {
    const std::string width = std::to_string(bits) + "-bit";
    switch (format) {
    case Format::Signed:
        return "signed " + width;
    case Format::Float:
        return width + " floating-point";
    default:
        return "unsigned " + width;
    }
}

void ReadResolution(const char* path, Resolution* resolution, const TiffPage* page) {
    rif::Reader reader(path, nullptr);
    reader.ReadResolution(resolution, page);
}

void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height,
                   std::int32_t* bitsPerSample, RowTable* rows,
                   std::unique_ptr<char[]>* description, std::string* warnings,
                   const TiffPage* page) {
    rif::Reader reader(path, warnings);
    reader.ReadImageFile(width, height, bitsPerSample, rows, description, false, page);
}

void CheckImageFile(const char* path, std::int32_t* width, std::int32_t* height,
                    std::int32_t* bitsPerSample, std::string* warnings, const TiffPage* page) {
    rif::Reader reader(path, warnings);
    reader.ReadImageFile(width, height, bitsPerSample, nullptr, nullptr, true, page);
}

bool ReadImageInto(const char* path, const SampleGrid& grid, std::int32_t* width,
                   std::int32_t* height, std::string* warnings, const TiffPage* page) {
    rif::Reader reader(path, warnings);
    return reader.ReadImageInto(grid, width, height, page);
}

void ReadImageRows(const char* path, const RowSink& sink, std::int32_t* width, std::int32_t* height,
                   std::string* warnings, const TiffPage* page) {
    rif::Reader reader(path, warnings);
    reader.ReadImageRows(rif::Narrow(sink), width, height, page, nullptr);
}

void ReadImageWords(const char* path, const WordSink& sink, const SampleType& expected,
                    std::int32_t* width, std::int32_t* height, std::string* warnings,
                    const TiffPage* page) {
    rif::Reader reader(path, warnings);
    reader.ReadImageRows(sink, width, height, page, &expected);
}

std::vector<TiffPage> ListTiffPages(const char* path) {
    rif::Reader reader(path, nullptr);
    std::vector<TiffPage> pages;
    reader.ReadImageFile(nullptr, nullptr, nullptr, nullptr, nullptr, false, nullptr, &pages);
    return pages;
}

TiffFile::TiffFile(const char* path, std::string* warnings)
    : path_(path), reader_(std::make_unique<rif::Reader>(path_.c_str(), warnings)) {
    reader_->Open();
}

TiffFile::~TiffFile() = default;

std::vector<TiffPage> TiffFile::Pages() {
    std::vector<TiffPage> pages;
    reader_->ReadImageFile(nullptr, nullptr, nullptr, nullptr, nullptr, false, nullptr, &pages);
    return pages;
}

void TiffFile::Header(const TiffPage* page, std::int32_t* width, std::int32_t* height,
                      std::int32_t* bitsPerSample, SampleType* type) {
    reader_->TypeOut = type;
    reader_->ReadImageFile(width, height, bitsPerSample, nullptr, nullptr, false, page);
}

void TiffFile::Check(const TiffPage* page, std::int32_t* width, std::int32_t* height,
                     std::int32_t* bitsPerSample, SampleType* type) {
    reader_->TypeOut = type;
    reader_->ReadImageFile(width, height, bitsPerSample, nullptr, nullptr, true, page);
}

void TiffFile::ReadRows(const TiffPage* page, const RowSink& sink, std::int32_t* width,
                        std::int32_t* height) {
    reader_->ReadImageRows(rif::Narrow(sink), width, height, page, nullptr);
}

void TiffFile::ReadWords(const TiffPage* page, const WordSink& sink, const SampleType& expected,
                         std::int32_t* width, std::int32_t* height) {
    reader_->ReadImageRows(sink, width, height, page, &expected);
}

std::unique_ptr<char[]> TiffFile::Description(const TiffPage* page) {
    std::unique_ptr<char[]> description;
    reader_->ReadImageFile(nullptr, nullptr, nullptr, nullptr, &description, false, page);
    return description;
}

Resolution TiffFile::ReadResolution(const TiffPage* page) {
    Resolution resolution;
    reader_->ReadResolution(&resolution, page);
    return resolution;
}

}  // namespace voxwrap
