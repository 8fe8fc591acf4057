#include "cli/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "cli/error.h"

namespace voxwrap {
namespace cli {

namespace {

std::string gTempPath;                     // the temporary file being written, if any
volatile std::sig_atomic_t gTempLive = 0;  // set while gTempPath names a file being written

// An interrupted run removes its temporary file too, then ends as the signal would have.
void RemoveTempAndDie(int sig) {
    if (gTempLive != 0) unlink(gTempPath.c_str());
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

[[noreturn]] void OutputFailed() { Error("file not stored."); }

// Follows symbolic links so that the link's target is replaced and the link stays. False for a
// link that cannot be read or a loop of links.
bool FollowLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1,
                         '\0');
        const ssize_t len = readlink(path.c_str(), link.data(), link.size());
        if (len < 0 || static_cast<std::size_t>(len) >= link.size()) return false;
        link.resize(static_cast<std::size_t>(len));
        if (link[0] == '/') {
            path = link;
        } else {
            const std::size_t slash = path.rfind('/');
            path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + link;
        }
    }
    return false;
}

std::string ResolveLinks(std::string path) {
    if (!FollowLinks(path)) OutputFailed();
    return path;
}

// What an output argument reaches: standard output when it is no regular file, an existing file
// by device and inode, or a file still to be made by the real path of its directory and its name.
struct Reach {
    bool stream = false;
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;
};

Reach Reached(const char* arg) {
    Reach r;
    struct stat st;
    const bool toStdout = arg[0] == '-';
    r.exists =
        toStdout ? fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode) : stat(arg, &st) == 0;
    if (r.exists) {
        r.device = st.st_dev;
        r.inode = st.st_ino;
        return r;
    }
    if (toStdout) {
        r.stream = true;
        return r;
    }
    // A dangling link makes its target; the directory's own links and "." and ".." are resolved
    // by realpath. Where that fails the output cannot be made either, and the names are compared
    // as they are.
    r.path = arg;
    if (!FollowLinks(r.path)) return r;
    const std::size_t slash = r.path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : r.path.substr(0, slash + 1);
    char* real = realpath(dir.c_str(), nullptr);
    if (real == nullptr) return r;
    r.path = std::string(real) + "/" + r.path.substr(slash == std::string::npos ? 0 : slash + 1);
    std::free(real);
    return r;
}

// Each file's own stream buffer, allocated by the C library: large writes, few system calls, and
// nothing shared between two outputs.
constexpr std::size_t kBufferSize = std::size_t{1} << 16;

// The signals whose default action ends the process: each removes the temporary file first.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

// Writes straight into the target, as the design always did: for what cannot be replaced, and
// where no temporary file can be made beside it.
Output InPlace(Output out) {
    out.stream = std::fopen(out.target.c_str(), "wb");
    if (out.stream == nullptr) OutputFailed();
    std::setvbuf(out.stream, nullptr, _IOFBF, kBufferSize);
    return out;
}

}  // namespace

void IgnoreWriteSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
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
    // A device or a pipe cannot be replaced, and a file with more than one name must change
    // under every name: both are written as they are.
    if (exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1)) return InPlace(out);
    // A file the user may not write is refused, as writing it in place would be; a rename would
    // replace it silently.
    if (exists && faccessat(AT_FDCWD, out.target.c_str(), W_OK, AT_EACCESS) != 0) OutputFailed();
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
    for (const int sig : kInterrupts) {
        sigaddset(&interrupts, sig);
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (std::signal(sig, RemoveTempAndDie) == SIG_IGN) std::signal(sig, SIG_IGN);
    }
    sigprocmask(SIG_BLOCK, &interrupts, &previous);
    gTempPath = temp;  // the same length as the final name: no allocation after mkstemp
    const int fd = mkstemp(gTempPath.data());
    gTempLive = fd >= 0 ? 1 : 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    // A read-only directory or one without a free inode: the target itself, if it can be written.
    if (fd < 0) return InPlace(out);
    // Root replacing someone's file keeps its owner and group; the mode is set afterwards, since
    // a change of owner clears the set-user-ID and set-group-ID bits. Best effort: the owner of
    // a new file is no reason to lose the mesh.
    if (exists && geteuid() == 0) (void)!fchown(fd, st.st_uid, st.st_gid);
    out.temp = gTempPath;
    if (fchmod(fd, mode) != 0) OutputFailed();
    out.stream = fdopen(fd, "wb");
    if (out.stream == nullptr) {
        close(fd);
        OutputFailed();
    }
    std::setvbuf(out.stream, nullptr, _IOFBF, kBufferSize);
    return out;
}

bool SameOutput(const char* a, const char* b) {
    const Reach x = Reached(a), y = Reached(b);
    if (x.stream || y.stream) return x.stream && y.stream;
    if (x.exists || y.exists) {
        return x.exists && y.exists && x.device == y.device && x.inode == y.inode;
    }
    return x.path == y.path;
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

void RemoveTemporaryOutput() {
    if (gTempLive == 0) return;
    unlink(gTempPath.c_str());
    gTempLive = 0;
}

}  // namespace cli
}  // namespace voxwrap
