#pragma once
// The one-line progress display of the slice reading: slices read of the total, the rate and the
// time left, redrawn in place on standard error at most ten times a second, erased at the end.
// It is shown only on a terminal, so scripts and logs see exactly the program's messages; the
// messages written while it is shown go through it.
#include <chrono>
#include <cstdint>
#include <string>

namespace voxwrap {
namespace cli {

class Progress {
  public:
    // Shows nothing unless enabled (the caller decides: a terminal and no --quiet).
    Progress(bool enabled, std::int64_t total);
    ~Progress();  // erases the line: a failure's message starts on a clean line
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Slice `done` of the total has been read.
    void Slice(std::int64_t done);
    // Removes the line, if one is shown.
    void Erase();
    // Writes whole lines to standard error: a line shown is erased before them and drawn again
    // after them, so that they never share a line with it.
    void Message(const std::string& lines);

  private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    bool shown_ = false;
    std::string line_;  // the line shown, as drawn
    std::int64_t total_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point last_{};
};

// The text of the display after `done` of `total` slices in `seconds`.
std::string ProgressLine(std::int64_t done, std::int64_t total, double seconds);

}  // namespace cli
}  // namespace voxwrap
