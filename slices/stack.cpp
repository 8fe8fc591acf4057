// The public view of the slice list: one record per slice (its file and its image within the
// file), and the header pass's warnings through the caller's events.
#include <cstdint>
#include <string>
#include <vector>

#include "common/failure.h"
#include "slices/csi.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

namespace {

// Hands each whole line of text ("...\n") to the events, without its line feed.
void Report(const Events& events, const std::string& text) {
    if (!events.warning) return;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        events.warning(text.substr(at, stop - at));
        at = stop + 1;
    }
}

}  // namespace

Stack ListStack(const std::string& directory, const std::string& nameFile, const Events& events) {
    Stack stack;
    std::vector<TiffPage> pages;
    std::string warnings;
    std::vector<std::string> paths;
    try {
        paths = CheckSliceImages(directory.c_str(), nameFile.c_str(), &stack.width, &stack.height,
                                 nullptr, nullptr, &pages, &warnings);
    } catch (...) {
        Report(events, warnings);  // the warnings come before the failure, as they were issued
        throw;
    }
    Report(events, warnings);
    stack.slices.reserve(paths.size());
    for (std::size_t k = 0; k < paths.size(); ++k)
        stack.slices.push_back(Slice{std::move(paths[k]), pages[k].ifd, pages[k].image});
    return stack;
}

}  // namespace voxwrap
