// The public view of the slice list: one record per slice (its file and its image within the
// file), and the header pass's warnings through the caller's events.
#include <cstdint>
#include <string>
#include <vector>

#include "common/events.h"
#include "common/failure.h"
#include "slices/csi.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

Stack ListStack(const std::string& directory, const std::string& nameFile, const Events& events) {
    Stack stack;
    std::vector<TiffPage> pages;
    std::string warnings;
    std::vector<std::string> paths;
    try {
        paths = CheckSliceImages(directory.c_str(), nameFile.c_str(), &stack.width, &stack.height,
                                 nullptr, nullptr, &pages, &warnings, &stack.samples);
    } catch (...) {
        ReportLines(events.warning, warnings);  // before the failure, as they were issued
        throw;
    }
    ReportLines(events.warning, warnings);
    stack.slices.reserve(paths.size());
    for (std::size_t k = 0; k < paths.size(); ++k)
        stack.slices.push_back(Slice{std::move(paths[k]), pages[k].ifd, pages[k].image});
    return stack;
}

}  // namespace voxwrap
