// The public view of the slice list: one record per slice (its file and its image within the
// file), and the header pass's warnings through the caller's events.
#include <cstdint>
#include <string>
#include <vector>

#include "common/events.h"
#include "common/failure.h"
#include "slices/csi.h"
#include "slices/spacing.h"
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

RecordedSpacing SpacingFromTiff(const Stack& stack, const std::string& nameFile) {
    SpacingSlices slices;
    for (const Slice& slice : stack.slices) {
        slices.paths.push_back(slice.path);
        slices.pages.push_back(TiffPage{slice.ifd, slice.image});
    }
    // A stack file's images are named by their number, counted from the end for "--r", as the
    // slice list orders them.
    if (!stack.slices.empty() && stack.slices[0].ifd != 0) {
        const std::size_t n = stack.slices.size();
        for (std::size_t k = 0; k < n; ++k)
            slices.names.push_back(stack.slices[k].path + " image " +
                                   std::to_string(nameFile == "--r" ? n - k : k + 1));
    }
    slices.voxels = {stack.width, stack.height, static_cast<std::int64_t>(stack.slices.size())};
    const FoundSpacing found = SpacingFromSlices(slices, ReadSliceTags);
    return RecordedSpacing{found.spacing, found.unit, found.notice};
}

}  // namespace voxwrap
