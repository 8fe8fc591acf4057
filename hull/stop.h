#pragma once
// Failure reporting of the hull routines: one or two message lines, thrown through the failure
// channel. A failed hull is a failed run: nothing is written and the status is 1.
#include <cstdint>
#include <string>

namespace voxwrap {

// `value` right-aligned in a field of exactly `width` characters; a value too wide for its field
// prints as `width` asterisks, so the line layout never shifts.
std::string Field(std::int64_t value, int width);

// Fails with line1, and line2 below it when given.
[[noreturn]] void HullStop(const std::string& line1, const char* line2 = nullptr);
[[noreturn]] void HullStop(const std::string& line1, const std::string& line2);

}  // namespace voxwrap
