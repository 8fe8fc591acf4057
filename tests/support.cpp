#include "support.h"

#include "common/failure.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

std::string Slurp(int fd) {
    std::string data;
    char buf[65536];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        data.append(buf, static_cast<size_t>(n));
    return data;
}

int TempFile() {
    char name[] = "/tmp/voxwrap-out-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    unlink(name);
    return fd;
}

}  // namespace

pid_t SpawnVoxwrap(const std::vector<std::string>& args, const std::function<void()>& inChild) {
    std::vector<std::string> all = {VOXWRAP_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The program is opened before inChild may drop privileges, and started through the
        // descriptor: a user who could not reach the build directory (below a private checkout)
        // can still run it.
        const int program = open(argv[0], O_RDONLY | O_CLOEXEC);
        if (program < 0) _exit(127);
        if (inChild) inChild();
        fexecve(program, argv.data(), environ);
        _exit(127);
    }
    return pid;
}

RunResult RunVoxwrap(const std::vector<std::string>& args, const std::string& cwd,
                     const std::function<void()>& setup) {
    // Output goes to unlinked temporary files rather than pipes: no deadlock on large output.
    const int out = TempFile();
    const int err = TempFile();
    const pid_t pid = SpawnVoxwrap(args, [&] {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (setup) setup();
    });
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    close(out);
    close(err);
    return r;
}

std::string TempDir() {
    char name[] = "/tmp/voxwrap-test-XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
    static std::vector<std::string> made;
    if (made.empty()) {
        std::atexit([] {
            for (const std::string& d : made)
                std::filesystem::remove_all(d);
        });
    }
    made.push_back(name);
    return name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string FailureText(const std::function<void()>& call) {
    try {
        call();
    } catch (const voxwrap::Error& f) {
        return f.what();
    }
    return "(no failure)";
}

std::string SourcePath(const std::string& relative) {
    return std::string(VOXWRAP_SOURCE_DIR) + "/" + relative;
}

std::string Quote(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (std::string(".[]{}()\\*+?^$|").find(c) != std::string::npos) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}
