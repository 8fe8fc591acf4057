#include "driver/voxwrap_f.h"

#include "driver/error.h"
#include "driver/rl.h"
#include "hull/chull3.h"
#include "slices/csi.h"
#include "slices/rsi.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr const char* kSamplingMemory = "no allocatable memory for sampling points.";
constexpr const char* kHullMemory = "no allocatable memory for convex hull.";

// ---------------------------------------------------------------------------------------------
// Storage. Sizes are computed in 64 bits; one that cannot be represented is a failed allocation.

std::int64_t Product(std::int64_t a, std::int64_t b, const char* message) {
    std::int64_t p = 0;
    if (a < 0 || b < 0 || __builtin_mul_overflow(a, b, &p)) Error(message);
    return p;
}

// Uninitialised storage: the worst-case arrays are large, and only the part that is written ever
// becomes resident.
template <class T>
std::unique_ptr<T[]> AllocateRaw(std::int64_t count, const char* message) {
    if (count < 0 || static_cast<std::uint64_t>(count) > PTRDIFF_MAX / sizeof(T)) Error(message);
    T* p = new (std::nothrow) T[static_cast<std::size_t>(count == 0 ? 1 : count)];
    if (p == nullptr) Error(message);
    return std::unique_ptr<T[]>(p);
}

template <class T>
std::vector<T> Allocate(std::int64_t count, const char* message) {
    if (count < 0 || static_cast<std::uint64_t>(count) > PTRDIFF_MAX / sizeof(T)) Error(message);
    try {
        return std::vector<T>(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        Error(message);
    }
}

// ---------------------------------------------------------------------------------------------
// Sampling: each plane z = k is reduced to the corners of two convex chains, the left ends of its
// rows and the right ends mirrored in x, so that one chain rule serves both sides.

class PlaneSampler {
  public:
    PlaneSampler(std::int32_t H, SamplingPoints& points)
        : LX(AllocateRaw<std::int32_t>(std::int64_t{H} + 1, kSamplingMemory)),
          LY(AllocateRaw<std::int32_t>(std::int64_t{H} + 1, kSamplingMemory)),
          RX(AllocateRaw<std::int32_t>(std::int64_t{H} + 1, kSamplingMemory)),
          RY(AllocateRaw<std::int32_t>(std::int64_t{H} + 1, kSamplingMemory)), points_(points) {}

    void StartPlane() { started_ = false; }

    // Row y of the plane counts from column u to column v.
    void Row(std::int32_t u, std::int32_t v, std::int32_t y) {
        if (!started_) {
            LX[0] = LX[1] = u;
            RX[0] = RX[1] = -v;
            LY[0] = RY[0] = y;
            LY[1] = RY[1] = y + 1;
            nL_ = nR_ = 1;
            started_ = true;
            return;
        }
        nL_ = Append(nL_, LX.get(), LY.get(), u, y);
        nR_ = Append(nR_, RX.get(), RY.get(), -v, y);
    }

    // Appends the plane's corners ordered by y, the left one first on equal y.
    void Collect(std::int32_t z) {
        if (!started_) return;
        std::int32_t* IX = points_.IX.get();
        std::int32_t* IY = points_.IY.get();
        std::int32_t* IZ = points_.IZ.get();
        std::int64_t n = points_.n;
        std::int32_t j = 0, i = 0;
        while (j <= nL_ || i <= nR_) {
            if (i > nR_ || (j <= nL_ && LY[j] <= RY[i])) {
                IX[n] = LX[j];
                IY[n] = LY[j];
                ++j;
            } else {
                IX[n] = 1 - RX[i];  // back from the mirrored -v to the cube's right side v + 1
                IY[n] = RY[i];
                ++i;
            }
            IZ[n] = z;
            ++n;
        }
        points_.n = n;
    }

  private:
    std::unique_ptr<std::int32_t[]> LX, LY, RX, RY;
    SamplingPoints& points_;
    std::int32_t nL_ = 0, nR_ = 0;
    bool started_ = false;
};

// ---------------------------------------------------------------------------------------------
// Output. A regular file (or a path that does not exist yet) is written to a temporary file
// beside it and renamed over it only when complete: a failed run never leaves a partial file
// and never destroys an existing one.

struct Output {
    std::FILE* stream = nullptr;
    bool isStdout = false;
    std::string temp;    // the temporary file, empty when writing directly
    std::string target;  // what the temporary file replaces
};

std::string gTempPath;  // removed by OutputFailed, so no half-written file is left behind
volatile std::sig_atomic_t gTempLive = 0;  // set while gTempPath names a file being written

// An interrupted run removes its temporary file too, then ends as the signal would have.
void RemoveTempAndDie(int sig) {
    if (gTempLive != 0) unlink(gTempPath.c_str());
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

[[noreturn]] void OutputFailed() {
    if (gTempLive != 0) unlink(gTempPath.c_str());
    Error("file not stored.");
}

// Follows symbolic links so that the link's target is replaced and the link stays.
std::string ResolveLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1,
                         '\0');
        const ssize_t len = readlink(path.c_str(), link.data(), link.size());
        if (len < 0 || static_cast<std::size_t>(len) >= link.size()) OutputFailed();
        link.resize(static_cast<std::size_t>(len));
        if (link[0] == '/') {
            path = link;
        } else {
            const std::size_t slash = path.rfind('/');
            path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + link;
        }
    }
    OutputFailed();  // a loop of links
}

Output OpenOutput(const char* arg) {
    Output out;
    if (arg[0] == '-') {
        out.stream = stdout;
        out.isStdout = true;
        return out;
    }
    out.target = ResolveLinks(arg);
    struct stat st;
    const bool exists = stat(out.target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe cannot be replaced; write to it as it is.
        out.stream = std::fopen(out.target.c_str(), "wb");
        if (out.stream == nullptr) OutputFailed();
        return out;
    }
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    const std::size_t slash = out.target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : out.target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? out.target : out.target.substr(slash + 1);
    // A long name is shortened in the temporary name, which must stay within the name limit.
    std::string temp = dir + (dir.back() == '/' ? "" : "/") + "." + base.substr(0, 200) + ".XXXXXX";
    // The interrupts wait while the file comes into being and its name is recorded, so that no
    // moment exists at which an interrupt would leave it behind.
    sigset_t interrupts, previous;
    sigemptyset(&interrupts);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&interrupts, sig);
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (std::signal(sig, RemoveTempAndDie) == SIG_IGN) std::signal(sig, SIG_IGN);
    }
    sigprocmask(SIG_BLOCK, &interrupts, &previous);
    gTempPath = temp;  // the same length as the final name: no allocation after mkstemp
    const int fd = mkstemp(gTempPath.data());
    gTempLive = fd >= 0 ? 1 : 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd < 0) OutputFailed();
    out.temp = gTempPath;
    if (fchmod(fd, mode) != 0) OutputFailed();
    out.stream = fdopen(fd, "wb");
    if (out.stream == nullptr) {
        close(fd);
        OutputFailed();
    }
    return out;
}

void CloseOutput(Output& out) {
    if (std::fflush(out.stream) != 0 || std::ferror(out.stream)) OutputFailed();
    if (out.isStdout) return;
    if (!out.temp.empty() && fsync(fileno(out.stream)) != 0) OutputFailed();
    const int closed = std::fclose(out.stream);
    out.stream = nullptr;
    if (closed != 0) OutputFailed();
    if (!out.temp.empty() && std::rename(out.temp.c_str(), out.target.c_str()) != 0) {
        OutputFailed();
    }
    gTempLive = 0;
}

bool LittleEndianHost() {
    const std::uint16_t one = 1;
    unsigned char first = 0;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

// The file is little-endian whatever the host is.
void Put(std::FILE* stream, const void* data, std::size_t length) {
    static const bool little = LittleEndianHost();
    if (little) {
        PutN(stream, data, length);
    } else {
        PutR(stream, data, length);
    }
}

void PutFloat(std::FILE* stream, float value) { Put(stream, &value, sizeof value); }

// ---------------------------------------------------------------------------------------------
// Faces around a vertex and coplanarity, for the extreme-point pass.

struct Triangle {
    std::int32_t p[3];  // 1-based point numbers
};

// True when the triangle's three points are not collinear (cross product in 64 bits: every
// coordinate difference is below 2^29 in magnitude, so every product is below 2^58).
bool HasArea(const std::int32_t* IX, const std::int32_t* IY, const std::int32_t* IZ, std::int32_t a,
             std::int32_t b, std::int32_t c) {
    const std::int64_t d1x = std::int64_t{IX[a]} - IX[c], d1y = std::int64_t{IY[a]} - IY[c],
                       d1z = std::int64_t{IZ[a]} - IZ[c];
    const std::int64_t d2x = std::int64_t{IX[b]} - IX[c], d2y = std::int64_t{IY[b]} - IY[c],
                       d2z = std::int64_t{IZ[b]} - IZ[c];
    return d1x * d2y != d1y * d2x || d1z * d2x != d1x * d2z || d1y * d2z != d2y * d1z;
}

bool Coplanar(const Triangle& t, const Triangle& u, const HullStorage& hull) {
    for (const std::int32_t q : u.p) {
        if (q == t.p[0] || q == t.p[1] || q == t.p[2]) continue;  // shared points lie in t's plane
        const std::int32_t P[4] = {t.p[0], t.p[1], t.p[2], q};
        if (jd1sss(P, hull.IX.data(), hull.IY.data(), hull.IZ.data()) != 0) return false;
    }
    return true;
}

std::int32_t* Data(std::vector<std::int32_t>& v) { return v.data(); }

}  // namespace

// ---------------------------------------------------------------------------------------------

std::int32_t Append(std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t x,
                    std::int32_t y) {
    // Point k stays only while the turn from k-1 through k to the new point is strictly
    // clockwise; a collinear point leaves. Entry 0 always stays.
    auto keeps = [X, Y](std::int32_t k, std::int64_t px, std::int64_t py) {
        return (X[k - 1] - px) * (Y[k] - py) < (X[k] - px) * (Y[k - 1] - py);
    };
    std::int32_t k = n;
    while (k >= 1 && !keeps(k, x, y))
        --k;
    X[k + 1] = x;
    Y[k + 1] = y;
    if (x < X[k]) {
        X[k + 2] = x;
        Y[k + 2] = y + 1;
        return k + 2;
    }
    // (x, y) would leave at once when (x, y + 1) arrives: add only the lower point.
    std::int32_t j = k;
    while (j >= 1 && !keeps(j, x, std::int64_t{y} + 1))
        --j;
    X[j + 1] = x;
    Y[j + 1] = y + 1;
    return j + 1;
}

int FV3(const std::int32_t* IX, const std::int32_t* IY, const std::int32_t* IZ,
        const std::int32_t* IFEDGE, const std::int32_t* IEVS, const std::int32_t* IEVE,
        const std::int32_t* IEF1, const std::int32_t* IESF1, const std::int32_t* IEEF2,
        std::int32_t f, std::int32_t& a, std::int32_t& b, std::int32_t& c) {
    // The face walk of the hull's cell storage, on 0-based arrays: entry (i) is [i - 1].
    const std::int32_t face = f + 1;
    const std::int32_t e = IFEDGE[f];
    std::int32_t e2 = 0;
    if (IEF1[e - 1] == face) {
        a = IEVE[e - 1];
        b = IEVS[e - 1];
        e2 = IESF1[e - 1];
    } else {
        a = IEVS[e - 1];
        b = IEVE[e - 1];
        e2 = IEEF2[e - 1];
    }
    c = IEF1[e2 - 1] == face ? IEVS[e2 - 1] : IEVE[e2 - 1];
    --a;
    --b;
    --c;
    return HasArea(IX, IY, IZ, a, b, c) ? 1 : 0;
}

void PutN(std::FILE* stream, const void* data, std::size_t length) {
    if (std::fwrite(data, 1, length, stream) != length) OutputFailed();
}

void PutR(std::FILE* stream, const void* data, std::size_t length) {
    unsigned char buffer[16];
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {  // the fields are at most 4 bytes; longer data goes in pieces
        const std::size_t piece = length < sizeof buffer ? length : sizeof buffer;
        for (std::size_t i = 0; i < piece; ++i)
            buffer[i] = bytes[length - 1 - i];
        PutN(stream, buffer, piece);
        length -= piece;
    }
}

SamplingPoints SampleSlices(const std::vector<std::string>& paths, std::int32_t W, std::int32_t H,
                            const unsigned char* grayTable) {
    const std::int64_t N = static_cast<std::int64_t>(paths.size());
    const std::int64_t area = Product(W, H, kSamplingMemory);
    auto flags = AllocateRaw<unsigned char>(area, kSamplingMemory);
    auto samples = AllocateRaw<std::uint16_t>(area, kSamplingMemory);
    auto rows = AllocateRaw<std::uint16_t*>(H, kSamplingMemory);
    for (std::int32_t y = 0; y < H; ++y)
        rows[y] = samples.get() + std::int64_t{y} * W;
    std::memset(flags.get(), 0, static_cast<std::size_t>(area));

    SamplingPoints points;
    PlaneSampler sampler(H, points);
    const std::int64_t capacity = Product(2 * std::int64_t{H} + 2, N + 1, kSamplingMemory);
    points.IX = AllocateRaw<std::int32_t>(capacity, kSamplingMemory);
    points.IY = AllocateRaw<std::int32_t>(capacity, kSamplingMemory);
    points.IZ = AllocateRaw<std::int32_t>(capacity, kSamplingMemory);

    // Plane k holds the bottom faces of slice k and the top faces of slice k-1: a pixel counts
    // when either slice has it. The flags carry slice k-1's classification and afterwards hold
    // slice k's: the flag becomes the table entry whatever it was.
    for (std::int64_t k = 0; k < N; ++k) {
        ReadSliceImage(paths[static_cast<std::size_t>(k)].c_str(), W, H, rows.get());
        sampler.StartPlane();
        for (std::int32_t y = 0; y < H; ++y) {
            unsigned char* flag = flags.get() + std::int64_t{y} * W;
            const std::uint16_t* sample = rows[y];
            std::int32_t u = -1, v = -1;
            for (std::int32_t x = 0; x < W; ++x) {
                const unsigned char t = grayTable[sample[x]];
                const unsigned char counts = flag[x] | t;
                flag[x] = t;
                if (counts != 0) {
                    if (u < 0) u = x;
                    v = x;
                }
            }
            if (u >= 0) sampler.Row(u, v, y);
        }
        sampler.Collect(static_cast<std::int32_t>(k));
    }
    // The last plane z = N holds the top faces of the last slice, from the flags alone.
    sampler.StartPlane();
    for (std::int32_t y = 0; y < H; ++y) {
        const unsigned char* flag = flags.get() + std::int64_t{y} * W;
        std::int32_t u = -1, v = -1;
        for (std::int32_t x = 0; x < W; ++x) {
            if (flag[x] != 0) {
                if (u < 0) u = x;
                v = x;
            }
        }
        if (u >= 0) sampler.Row(u, v, y);
    }
    sampler.Collect(static_cast<std::int32_t>(N));
    return points;
}

void RunChull3(std::int32_t n, HullStorage& h) {
    h.IPAR[0] = h.m;
    chull3(n, Data(h.IX), Data(h.IY), Data(h.IZ), Data(h.IRANK), h.IPAR, Data(h.IVEDGE),
           Data(h.IFEDGE), Data(h.IEVS), Data(h.IEVE), Data(h.IEF1), Data(h.IEF2), Data(h.IESF1),
           Data(h.IESF2), Data(h.IEEF2), Data(h.IEEF1), Data(h.IVSUB), Data(h.IORDER),
           Data(h.IVNEXT), Data(h.IVPREV), Data(h.IVFLAG), Data(h.ISPREV), Data(h.IEFLAG),
           Data(h.IESTK), Data(h.IFFLAG), Data(h.IFSTK));
}

std::int32_t MarkExtremePoints(std::int32_t n, HullStorage& h, std::int32_t* keep) {
    std::int32_t count = 0;
    for (std::int32_t v = 1; v <= n; ++v) {
        keep[v - 1] = 0;
        if (h.IVFLAG[v - 1] != 1) continue;
        // Walk the faces around v; a vertex inside a true face sees one plane, inside a true
        // edge two, and a corner three or more.
        Triangle planes[2];
        int found = 0;
        const std::int32_t e0 = h.IVEDGE[v - 1];
        std::int32_t e = e0;
        do {
            std::int32_t f = 0;
            if (h.IEVS[e - 1] == v) {
                f = h.IEF2[e - 1];
                e = h.IESF2[e - 1];
            } else {
                f = h.IEF1[e - 1];
                e = h.IEEF1[e - 1];
            }
            Triangle t;
            vonf3(f, t.p, h.IPAR, Data(h.IVEDGE), Data(h.IFEDGE), Data(h.IEVS), Data(h.IEVE),
                  Data(h.IEF1), Data(h.IEF2), Data(h.IESF1), Data(h.IESF2), Data(h.IEEF2),
                  Data(h.IEEF1));
            if (!HasArea(h.IX.data(), h.IY.data(), h.IZ.data(), t.p[0] - 1, t.p[1] - 1,
                         t.p[2] - 1)) {
                continue;
            }
            bool known = false;
            for (int i = 0; i < found && !known; ++i)
                known = Coplanar(planes[i], t, h);
            if (known) continue;
            if (found == 2) {
                keep[v - 1] = 1;
                ++count;
                break;
            }
            planes[found++] = t;
        } while (e != e0);
    }
    return count;
}

void FirstHull(SamplingPoints points, HullStorage& h) {
    const std::int64_t n = points.n;
    // Edge numbers are 32-bit: 4 m edges must be countable.
    if (n + 1 > INT32_MAX / 4) Error(kHullMemory);
    h.m = static_cast<std::int32_t>(n + 1);
    const std::int64_t m = h.m;
    h.IX = Allocate<std::int32_t>(m, kHullMemory);
    h.IY = Allocate<std::int32_t>(m, kHullMemory);
    h.IZ = Allocate<std::int32_t>(m, kHullMemory);
    std::memcpy(h.IX.data(), points.IX.get(), static_cast<std::size_t>(n) * 4);
    std::memcpy(h.IY.data(), points.IY.get(), static_cast<std::size_t>(n) * 4);
    std::memcpy(h.IZ.data(), points.IZ.get(), static_cast<std::size_t>(n) * 4);
    points = SamplingPoints();  // the worst-case arrays go before the hull arrays come
    for (auto* a : {&h.IRANK, &h.IVEDGE})
        *a = Allocate<std::int32_t>(m, kHullMemory);
    h.IFEDGE = Allocate<std::int32_t>(3 * m, kHullMemory);
    for (auto* a : {&h.IEVS, &h.IEVE, &h.IEF1, &h.IEF2, &h.IESF1, &h.IESF2, &h.IEEF2, &h.IEEF1}) {
        *a = Allocate<std::int32_t>(4 * m, kHullMemory);
    }
    for (auto* a : {&h.IVSUB, &h.IORDER, &h.IVNEXT, &h.IVPREV, &h.IVFLAG, &h.ISPREV}) {
        *a = Allocate<std::int32_t>(m, kHullMemory);
    }
    for (auto* a : {&h.IEFLAG, &h.IESTK})
        *a = Allocate<std::int32_t>(4 * m, kHullMemory);
    for (auto* a : {&h.IFFLAG, &h.IFSTK})
        *a = Allocate<std::int32_t>(3 * m, kHullMemory);

    const std::int32_t count = static_cast<std::int32_t>(n);
    for (std::int32_t i = 0; i < count; ++i)
        h.IRANK[i] = i;
    RunChull3(count, h);
}

std::int32_t SecondHull(HullStorage& h) {
    const std::int32_t count = h.m - 1;
    // The perturbation keeps points that lie inside edges and faces of the true hull; their
    // zero-area faces would leave T-junctions. The hull of the extreme points alone has none.
    // IVSUB is free once chull3 has returned and holds the marks.
    std::int32_t* keep = h.IVSUB.data();
    const std::int32_t extreme = MarkExtremePoints(count, h, keep);
    std::int32_t j = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        if (keep[i] == 0) continue;
        h.IX[j] = h.IX[i];
        h.IY[j] = h.IY[i];
        h.IZ[j] = h.IZ[i];
        ++j;
    }
    for (std::int32_t i = 0; i < extreme; ++i)
        h.IRANK[i] = i;
    h.m = extreme + 1;
    RunChull3(extreme, h);
    return extreme;
}

std::int32_t ComputeHull(SamplingPoints points, HullStorage& hull) {
    FirstHull(std::move(points), hull);
    return SecondHull(hull);
}

void WriteStl(std::FILE* stream, HullStorage& h) {
    for (int i = 0; i < 80; ++i) {
        if (std::fputc(0, stream) == EOF) OutputFailed();
    }
    const std::int32_t slots = 3 * h.m;
    const std::int32_t* X = h.IX.data();
    const std::int32_t* Y = h.IY.data();
    const std::int32_t* Z = h.IZ.data();
    auto face = [&](std::int32_t f, std::int32_t& a, std::int32_t& b, std::int32_t& c) {
        return h.IFFLAG[f] != 0 &&
               FV3(X, Y, Z, h.IFEDGE.data(), h.IEVS.data(), h.IEVE.data(), h.IEF1.data(),
                   h.IESF1.data(), h.IEEF2.data(), f, a, b, c) == 1;
    };
    std::uint32_t count = 0;
    std::int32_t a = 0, b = 0, c = 0;
    for (std::int32_t f = 0; f < slots; ++f)
        count += face(f, a, b, c) ? 1 : 0;
    Put(stream, &count, 4);
    for (std::int32_t f = 0; f < slots; ++f) {
        if (!face(f, a, b, c)) continue;
        // The normal in 64 bits: coordinates reach 2^28, so 32-bit products could overflow.
        const std::int64_t ux = std::int64_t{X[b]} - X[a], uy = std::int64_t{Y[b]} - Y[a],
                           uz = std::int64_t{Z[b]} - Z[a];
        const std::int64_t vx = std::int64_t{X[c]} - X[a], vy = std::int64_t{Y[c]} - Y[a],
                           vz = std::int64_t{Z[c]} - Z[a];
        const std::int64_t nx = uy * vz - uz * vy;
        const std::int64_t ny = uz * vx - ux * vz;
        const std::int64_t nz = ux * vy - uy * vx;
        PutFloat(stream, static_cast<float>(nx));
        PutFloat(stream, static_cast<float>(ny));
        PutFloat(stream, static_cast<float>(nz));
        for (const std::int32_t p : {a, b, c}) {
            PutFloat(stream, static_cast<float>(X[p]));
            PutFloat(stream, static_cast<float>(Y[p]));
            PutFloat(stream, static_cast<float>(Z[p]));
        }
        // Bit 15 always; five bits per axis along which the normal has a component.
        const std::uint16_t attribute = static_cast<std::uint16_t>(
            0x8000 | (nx != 0 ? 0x7C00 : 0) | (ny != 0 ? 0x03E0 : 0) | (nz != 0 ? 0x001F : 0));
        Put(stream, &attribute, 2);
    }
}

int Voxwrap(int argc, char** argv) {
    if (argc != 5) Error("usage : voxwrap directory nameFile rangeList STL");
    // A closed pipe or a file size limit must be a failed write with its message, not a silent
    // death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    std::int32_t W = 0, H = 0, N = 0;
    const std::vector<std::string> paths = CheckSliceImages(argv[1], argv[2], &W, &H, &N, nullptr);
    std::vector<unsigned char> grayTable(65536);
    RangeList(argv[3], 65535, grayTable.data());

    SamplingPoints points = SampleSlices(paths, W, H, grayTable.data());
    if (points.n == 0) Error("no object.");
    HullStorage hull;
    ComputeHull(std::move(points), hull);

    // Only now, with the hull complete, is the output touched.
    Output out = OpenOutput(argv[4]);
    static char buffer[1 << 16];
    if (!out.isStdout) std::setvbuf(out.stream, buffer, _IOFBF, sizeof buffer);
    WriteStl(out.stream, hull);
    CloseOutput(out);
    return 0;
}

#ifndef VOXWRAP_NO_MAIN
int main(int argc, char** argv) { return Voxwrap(argc, argv); }
#endif
