#include "slices/csi.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "common/failure.h"
#include "common/numbers.h"
#include "tiff/rif.h"

namespace voxwrap {

namespace {

// A line of the name file holds at most this many characters, its line feed included; longer
// lines are refused rather than split, so a name can never be cut in two silently.
constexpr std::size_t LINE_LIMIT = 1022;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

// The slice list's fatal routine: the texts carry no period, it adds one ("subject : text.").
// A caller acts on the kind: a name file or directory that does not exist (the open that just
// failed left ENOENT), memory, or a bad argument.
[[noreturn]] void Error(const std::string& subject, const char* text) {
    using Kind = voxwrap::Error::Kind;
    const bool missing = errno == ENOENT;
    const std::string t = text;
    const Kind kind = (t == "name file not open" || t == "directory not open") && missing
                          ? Kind::NotFound
                      : t.rfind("no memory", 0) == 0 ? Kind::Memory
                                                     : Kind::Argument;
    Fail(kind, subject + " : " + t + ".");
}

// Word separators: blank, tab, line feed, vertical tab, form feed, carriage return. Spelled out
// so that the locale cannot change what a word is.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The state of one call of CheckSliceImages: the prefix of every path and the common size found
// so far. Nothing lives beyond the call, so two lists can be built at once.
class SliceList {
  public:
    explicit SliceList(const char* directory);
    std::vector<std::string> FromNameFile(const char* nameFile);
    std::vector<std::string> FromInlineList(const char* text);
    std::vector<std::string> FromListing(const char* directory, const char* option);
    std::vector<std::string> FromStackFile(const char* file, const char* option,
                                           std::vector<TiffPage>& pages);

    std::int32_t nx = 0, ny = 0, bps = 0;  // largest width, height and bits per sample seen
    std::string* warnings = nullptr;       // the header pass's warnings, whole lines
    SampleType kind;                       // the stack's kind of sample (unsigned: the widest)
    SampleType first;                      // the first slice's
    bool any = false;                      // a slice was checked

    // Takes a checked slice's size and kind of sample. One stack holds one kind, so that a
    // range list means one thing in every slice: a slice that does not mix with the first one
    // stops the list before any slice is loaded.
    void Take(const std::string& subject, std::int32_t w, std::int32_t h, std::int32_t b,
              const SampleType& type) {
        if (any && !type.Mixes(first))
            Error(subject, ("holds " + type.Name() + " samples where the first slice holds " +
                            first.Name() + " samples")
                               .c_str());
        if (!any) first = type;
        if (!any || type.bits > kind.bits) kind = type;
        any = true;
        nx = std::max(nx, w);
        ny = std::max(ny, h);
        bps = std::max(bps, b);
    }

  private:
    [[noreturn]] void NoMemory(const char* text) const;
    std::vector<std::string> Alloc(std::uint64_t n) const;
    std::string Peep(const char* name, std::size_t length);

    const char* DirectoryArgument;  // the directory as given, for the memory messages
    std::string Directory;          // the directory argument and one "/": the prefix of every path
    std::size_t DirLen = 0;         // length of the prefix; the comparators look at names from here
};

SliceList::SliceList(const char* directory) : DirectoryArgument(directory) {
    try {
        Directory = directory;
        Directory += '/';  // also after a final "/": the paths then hold "//", which is harmless
    } catch (const std::bad_alloc&) {
        NoMemory("no memory for path");
    } catch (const std::length_error&) {
        NoMemory("no memory for path");
    }
    DirLen = Directory.size();
}

// Allocation failures name the prefix, built from the argument, so the message does not depend
// on the prefix that may have been what could not be built.
void SliceList::NoMemory(const char* text) const {
    Error(std::string(DirectoryArgument) + "/", text);
}

// Reserves room for n paths. A count that does not fit the signed 32-bit slice count is refused
// like a failed allocation rather than wrapped around.
std::vector<std::string> SliceList::Alloc(std::uint64_t n) const {
    if (n > INT32_MAX) NoMemory("no memory for paths");
    std::vector<std::string> list;
    try {
        list.reserve(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        NoMemory("no memory for paths");
    } catch (const std::length_error&) {
        NoMemory("no memory for paths");
    }
    return list;
}

// Builds prefix + name (name is length bytes, not necessarily terminated), checks the image's
// header and raises the common size and depth. The reader throws on any failure, so a
// path that comes back names a readable image.
std::string SliceList::Peep(const char* name, std::size_t length) {
    std::string path;
    if (length > path.max_size() - DirLen) NoMemory("no memory for path");
    try {
        path.reserve(DirLen + length);
    } catch (const std::bad_alloc&) {
        NoMemory("no memory for path");
    } catch (const std::length_error&) {
        NoMemory("no memory for path");
    }
    path.append(Directory);
    path.append(name, length);
    std::int32_t w = 0, h = 0, b = 0;
    SampleType type;
    TiffFile image(path.c_str(), warnings);  // the header pass opens each file once
    image.Check(nullptr, &w, &h, &b, &type);
    const std::size_t images = image.Pages().size();
    if (images > 1)
        Error(path, ("holds " + std::to_string(images) +
                     " images; give the file itself as the directory to read it as a stack")
                        .c_str());
    Take(path, w, h, b, type);
    return path;
}

// A stack file: its full-resolution images, each checked as a slice is, in file order or in
// reverse. Only the page list is kept; the images are read one at a time when loaded.
std::vector<std::string> SliceList::FromStackFile(const char* file, const char* option,
                                                  std::vector<TiffPage>& pages) {
    const bool reverse = std::strcmp(option, "--r") == 0;
    if (!reverse && std::strcmp(option, "-") != 0)
        Error(file, "is a stack file: give - (images in file order) or --r (reverse order) as "
                    "the name file");
    TiffFile stack(file, warnings);  // opened once for the list and every image's check
    pages = stack.Pages();
    if (pages.empty()) Error(file, "no image file name");  // reduced-resolution images only
    if (reverse) std::reverse(pages.begin(), pages.end());
    std::vector<std::string> list = Alloc(pages.size());
    for (std::size_t k = 0; k < pages.size(); ++k) {
        std::int32_t w = 0, h = 0, b = 0;
        SampleType type;
        stack.Check(&pages[k], &w, &h, &b, &type);
        Take(std::string(file) + " image " + std::to_string(reverse ? pages.size() - k : k + 1), w,
             h, b, type);
        list.emplace_back(file);
    }
    return list;
}

// ---- name file ----

// Reads the next line of the name file into line, without its line feed. Returns false at the end
// of the file before any character. A last line without a line feed is taken as it is. A line
// that does not end within LINE_LIMIT characters, its line feed included, is refused rather than
// split; so is a line holding a NUL byte, which no file name can contain. A read error is not
// taken for the end of the list.
bool ReadLine(std::FILE* file, const char* nameFile, std::string& line) {
    line.clear();
    for (std::size_t read = 0; read < LINE_LIMIT; ++read) {
        const int c = std::getc(file);
        if (c == EOF) {
            if (std::ferror(file)) Error(nameFile, "name file not readable");
            return read != 0;
        }
        if (c == '\n') return true;
        if (c == '\0') Error(nameFile, "NUL byte in line");
        line.push_back(static_cast<char>(c));
    }
    Error(nameFile, "too long line");
}

// Finds the first word of a line (start and length); returns false when there is none. What
// follows the first word is ignored.
bool FirstWord(const std::string& line, std::size_t& start, std::size_t& length) {
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    if (i == line.size()) return false;
    start = i;
    while (i < line.size() && !IsBlank(line[i]))
        ++i;
    length = i - start;
    return true;
}

std::vector<std::string> SliceList::FromNameFile(const char* nameFile) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(nameFile, "r"));
    if (!file) Error(nameFile, "name file not open");
    // A directory opens for reading but every read fails; say what it is.
    struct stat status;
    if (fstat(fileno(file.get()), &status) == 0 && S_ISDIR(status.st_mode))
        Error(nameFile, "name file is a directory");
    // Counting pass: every line is checked, so a bad line stops the run before any image is read.
    std::string line;
    std::size_t start = 0, length = 0;
    std::uint64_t n = 0;
    while (ReadLine(file.get(), nameFile, line))
        if (FirstWord(line, start, length)) ++n;
    if (n == 0) Error(nameFile, "no image file name");
    std::vector<std::string> list = Alloc(n);
    // Second pass: the file may have changed meanwhile; lines after the n-th name are not read.
    std::rewind(file.get());
    while (list.size() < n) {
        if (!ReadLine(file.get(), nameFile, line)) Error(nameFile, "missing image file name");
        if (FirstWord(line, start, length)) list.push_back(Peep(line.data() + start, length));
    }
    return list;
}

// ---- inline list ----

std::vector<std::string> SliceList::FromInlineList(const char* text) {
    std::uint64_t n = 0;
    for (const char* p = text; *p != '\0';) {
        while (IsBlank(*p))
            ++p;
        if (*p == '\0') break;
        ++n;
        while (*p != '\0' && !IsBlank(*p))
            ++p;
    }
    if (n == 0) Error(text, "no image file name");
    std::vector<std::string> list = Alloc(n);
    for (const char* p = text; list.size() < n;) {
        while (IsBlank(*p))
            ++p;
        const char* word = p;
        while (*p != '\0' && !IsBlank(*p))
            ++p;
        list.push_back(Peep(word, static_cast<std::size_t>(p - word)));
    }
    return list;
}

// ---- directory listing ----

// A list entry as the comparators see it: the name part of its path, and the name's number,
// found once before sorting rather than at every comparison.
struct Entry {
    const char* name;
    bool numbered;
    double value;
    std::size_t index;  // position in the unsorted list
};

// Reads a number at p as "%lf" does, without the locale: as strtod in the "C" locale, except
// that "%lf" reads on as long as the text could still become a number and then fails, where strtod
// takes the longest prefix that is one. That differs in two places only: "0x" followed by neither
// a hexadecimal digit nor a point (strtod reads the "0"), and "inf" followed by an "i" that does
// not complete "infinity" (strtod reads the "inf").
bool ScanDouble(const char* p, double& value) {
    const char* last = p + std::strlen(p);
    const char* q = p + (*p == '+' || *p == '-' ? 1 : 0);
    auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    auto isHex = [&](char c) { return IsDigit(c) || (lower(c) >= 'a' && lower(c) <= 'f'); };
    if (q[0] == '0' && lower(q[1]) == 'x' && !isHex(q[2]) && q[2] != '.') return false;
    const char* end = voxwrap::detail::ReadDouble(p, last, value);
    if (end == p) return false;
    // strtod read "inf" alone, so an "i" after it cannot be the rest of "infinity".
    return !(lower(q[0]) == 'i' && end - q == 3 && lower(*end) == 'i');
}

// Finds the number in a name: from the first "+", "-" or digit, read as "%lf" reads it. Returns 1
// and stores the number when there is one. The scan stops at the first candidate: in x-y3 the
// "-" is taken, the conversion fails, and there is no number.
//
// A NaN ("x-nan.tif") counts as no number. Compared as a number it would be neither smaller nor
// larger than anything, so "equal" to both 1 and 2 while 1 < 2: an inconsistent order, with which
// the sort may run past the ends of the list. As no number it goes among the other names without
// one, ordered by bytes, which keeps the comparators a strict weak order for every name. The
// infinities stay numbers: they order consistently at the two ends.
int Numeric(const char* name, double& value) {
    const char* p = name;
    while (*p != '\0' && *p != '+' && *p != '-' && !IsDigit(*p))
        ++p;
    if (*p == '\0') return 0;
    double v = 0;
    if (!ScanDouble(p, v) || std::isnan(v)) return 0;
    value = v;
    return 1;
}

int Normal(const Entry& a, const Entry& b) { return std::strcmp(a.name, b.name); }

int Reverse(const Entry& a, const Entry& b) { return Normal(b, a); }

// Names without a number first, in byte order; then numbers from the smallest, equal numbers in
// byte order ("scan2_0001.tif" and "scan2_0002.tif" both read as 2), so that every listing has
// one order and a run is repeatable.
int Ascending(const Entry& a, const Entry& b) {
    if (a.numbered && b.numbered) {
        if (a.value < b.value) return -1;
        if (a.value > b.value) return 1;
        return Normal(a, b);
    }
    if (a.numbered) return 1;
    if (b.numbered) return -1;
    return Normal(a, b);
}

int Descending(const Entry& a, const Entry& b) { return Ascending(b, a); }

// Natural order: a run of decimal digits is an unsigned number of any length, compared by its
// length without leading zeros and then digit by digit, so nothing can overflow; every other byte
// is compared by its value. A run meets a non-digit byte at its first digit, which decides. Names
// that are equal so ("a01" and "a1") are ordered by bytes, which makes the order total.
int Natural(const Entry& a, const Entry& b) {
    const auto* p = reinterpret_cast<const unsigned char*>(a.name);
    const auto* q = reinterpret_cast<const unsigned char*>(b.name);
    while (*p != '\0' && *q != '\0') {
        if (IsDigit(static_cast<char>(*p)) && IsDigit(static_cast<char>(*q))) {
            while (*p == '0')
                ++p;
            while (*q == '0')
                ++q;
            const unsigned char* pEnd = p;
            const unsigned char* qEnd = q;
            while (IsDigit(static_cast<char>(*pEnd)))
                ++pEnd;
            while (IsDigit(static_cast<char>(*qEnd)))
                ++qEnd;
            if (pEnd - p != qEnd - q) return pEnd - p < qEnd - q ? -1 : 1;
            for (; p < pEnd; ++p, ++q)
                if (*p != *q) return *p < *q ? -1 : 1;
        } else {
            if (*p != *q) return *p < *q ? -1 : 1;
            ++p;
            ++q;
        }
    }
    if (*p != '\0') return 1;
    if (*q != '\0') return -1;
    return Normal(a, b);
}

int NaturalReverse(const Entry& a, const Entry& b) { return Natural(b, a); }

using Comparator = int (*)(const Entry&, const Entry&);

// The comparator of a listing option; an unknown option fails. Only the first four characters of
// "--rn..." and "--nr..." are looked at, so "--rnfoo" is "--rn".
Comparator SortOption(const char* option) {
    if (std::strcmp(option, "-") == 0) return Normal;
    if (std::strcmp(option, "--r") == 0) return Reverse;
    if (std::strcmp(option, "--n") == 0) return Ascending;
    if (std::strncmp(option, "--rn", 4) == 0 || std::strncmp(option, "--nr", 4) == 0)
        return Descending;
    if (std::strcmp(option, "--v") == 0) return Natural;
    if (std::strcmp(option, "--rv") == 0) return NaturalReverse;
    Error(option + 1, "unknown sorting option");
}

Entry MakeEntry(const char* name, std::size_t index) {
    Entry e;
    e.name = name;
    e.value = 0;
    e.numbered = Numeric(name, e.value) == 1;
    e.index = index;
    return e;
}

bool IsDotOrDotDot(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

std::vector<std::string> SliceList::FromListing(const char* directory, const char* option) {
    // The option is examined first, so a mistyped one costs no header read.
    const Comparator compare = SortOption(option);
    std::vector<std::string> list;
    {
        std::unique_ptr<DIR, DirCloser> dir(opendir(directory));
        if (!dir) Error(directory, "directory not open");
        std::uint64_t n = 0;
        while (const dirent* entry = readdir(dir.get()))
            if (!IsDotOrDotDot(entry->d_name)) ++n;
        if (n == 0) Error(directory, "no image file name");
        list = Alloc(n);
        rewinddir(dir.get());
        while (list.size() < n) {
            const dirent* entry = readdir(dir.get());
            if (!entry) Error(directory, "missing image file name");
            if (!IsDotOrDotDot(entry->d_name))
                list.push_back(Peep(entry->d_name, std::strlen(entry->d_name)));
        }
    }
    std::vector<Entry> entries;
    try {
        entries.resize(list.size());
    } catch (const std::bad_alloc&) {
        NoMemory("no memory for paths");
    }
    for (std::size_t i = 0; i < list.size(); ++i)
        entries[i] = MakeEntry(list[i].c_str() + DirLen, i);
    std::sort(entries.begin(), entries.end(),
              [compare](const Entry& a, const Entry& b) { return compare(a, b) < 0; });
    std::vector<std::string> sorted = Alloc(list.size());
    for (const Entry& e : entries)
        sorted.push_back(std::move(list[e.index]));
    return sorted;
}

}  // namespace

std::vector<std::string> CheckSliceImages(const char* directory, const char* nameFile,
                                          std::int32_t* width, std::int32_t* height,
                                          std::int32_t* count, std::int32_t* bitsPerSample,
                                          std::vector<TiffPage>* pages, std::string* warnings,
                                          SampleType* samples) {
    SliceList slices(directory);
    slices.warnings = warnings;
    std::vector<std::string> list;
    struct stat status;
    if (pages != nullptr && stat(directory, &status) == 0 && S_ISREG(status.st_mode))
        list = slices.FromStackFile(directory, nameFile, *pages);
    else if (nameFile[0] != '-')
        list = slices.FromNameFile(nameFile);
    else if (nameFile[1] != '-' && nameFile[1] != '\0')
        list = slices.FromInlineList(nameFile + 1);
    else
        list = slices.FromListing(directory, nameFile);

    if (pages != nullptr && pages->size() != list.size()) pages->assign(list.size(), TiffPage{});
    if (width) *width = slices.nx;
    if (height) *height = slices.ny;
    if (count) *count = static_cast<std::int32_t>(list.size());
    if (bitsPerSample) *bitsPerSample = slices.bps;
    if (samples) *samples = slices.kind;
    return list;
}

int CompareSliceNames(const char* option, const char* a, const char* b) {
    const Comparator compare = SortOption(option);
    return compare(MakeEntry(a, 0), MakeEntry(b, 1));
}

}  // namespace voxwrap
