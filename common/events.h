#pragma once
// The library's warnings travel as whole lines ("path : message (warning).\n") until they reach
// the caller's events, which take them one at a time without their line feeds.
#include <cstddef>
#include <functional>
#include <string>

namespace voxwrap {

// Hands every whole line of lines to warning, in order, without its line feed; none: dropped.
inline void ReportLines(const std::function<void(const std::string&)>& warning,
                        const std::string& lines) {
    if (!warning) return;
    for (std::size_t at = 0; at < lines.size();) {
        std::size_t end = lines.find('\n', at);
        if (end == std::string::npos) end = lines.size();
        warning(lines.substr(at, end - at));
        at = end + 1;
    }
}

}  // namespace voxwrap
