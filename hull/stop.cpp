#include "hull/stop.h"

#include <cstdio>
#include <cstdlib>

std::string Field(std::int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) > width) return std::string(width, '*');
    return std::string(width - digits.size(), ' ') + digits;
}

void HullStop(const std::string& line1, const char* line2) {
    std::fprintf(stderr, "%s\n", line1.c_str());
    if (line2 != nullptr) std::fprintf(stderr, "%s\n", line2);
    std::fflush(stderr);
    std::exit(1);
}

void HullStop(const std::string& line1, const std::string& line2) {
    HullStop(line1, line2.c_str());
}
