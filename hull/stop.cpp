#include "hull/stop.h"

#include "common/failure.h"

namespace voxwrap {

std::string Field(std::int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) > width) return std::string(width, '*');
    return std::string(width - digits.size(), ' ') + digits;
}

void HullStop(const std::string& line1, const char* line2) {
    Fail(Error::Kind::Geometry, line2 == nullptr ? line1 : line1 + "\n" + line2);
}

void HullStop(const std::string& line1, const std::string& line2) {
    HullStop(line1, line2.c_str());
}

}  // namespace voxwrap
