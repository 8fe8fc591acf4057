#pragma once
// Failure reporting of the hull routines: their own message lines on standard error, then the
// end of the run. A failed hull is a failed run, so the status is 1.
#include <cstdint>
#include <string>

// `value` right-aligned in a field of exactly `width` characters; a value too wide for its field
// prints as `width` asterisks, so the line layout never shifts.
std::string Field(std::int64_t value, int width);

// Writes each non-null line followed by a newline to standard error and exits with status 1.
[[noreturn]] void HullStop(const std::string& line1, const char* line2 = nullptr);
[[noreturn]] void HullStop(const std::string& line1, const std::string& line2);
