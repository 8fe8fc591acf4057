#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

namespace voxwrap {
namespace cli {

namespace {

// Carriage return and "erase to the end of the line": the cursor stays at the line's start.
constexpr const char* kClearLine = "\r\033[K";

}  // namespace

std::string ProgressLine(std::int64_t done, std::int64_t total, double seconds) {
    char text[128];
    if (seconds <= 0 || done <= 0) {
        std::snprintf(text, sizeof text, "voxwrap: slice %lld of %lld",
                      static_cast<long long>(done), static_cast<long long>(total));
        return text;
    }
    const double rate = static_cast<double>(done) / seconds;
    const auto left = static_cast<long long>(static_cast<double>(total - done) / rate + 0.5);
    std::snprintf(text, sizeof text, "voxwrap: slice %lld of %lld, %.1f slices/s, %lld:%02lld left",
                  static_cast<long long>(done), static_cast<long long>(total), rate, left / 60,
                  left % 60);
    return text;
}

Progress::Progress(bool enabled, std::int64_t total) : enabled_(enabled), total_(total) {}

Progress::~Progress() { Erase(); }

void Progress::Slice(std::int64_t done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    // The first slice is shown at once; then at most ten redraws a second.
    if (shown_ && now - last_ < std::chrono::milliseconds(100) && done < total_) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::string line = ProgressLine(done, total_, seconds);
    // A line that wrapped could not be erased: it is cut to the terminal's width.
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
        line.size() >= size.ws_col) {
        line.resize(size.ws_col - 1u);
    }
    std::fprintf(stderr, "%s%s", kClearLine, line.c_str());
    std::fflush(stderr);
    line_ = std::move(line);
    shown_ = true;
}

void Progress::Message(const std::string& lines) {
    if (!shown_) {
        std::fputs(lines.c_str(), stderr);
        return;
    }
    std::fprintf(stderr, "%s%s%s%s", kClearLine, lines.c_str(), kClearLine, line_.c_str());
    std::fflush(stderr);
}

void Progress::Erase() {
    if (!shown_) return;
    std::fputs(kClearLine, stderr);
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace cli
}  // namespace voxwrap
