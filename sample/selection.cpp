#include "sample/selection.h"

#include <algorithm>

#include "common/failure.h"

namespace voxwrap {
namespace {

[[noreturn]] void BadRangeList() { Fail(Error::Kind::Argument, "bad range list."); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one or more digits at p; the value may never pass max, checked after every digit, so a
// long run of digits cannot wrap around.
std::uint32_t Number(const char*& p, std::uint32_t max) {
    std::uint64_t value = 0;
    do {
        value = value * 10 + static_cast<std::uint64_t>(*p++ - '0');
        if (value > max) BadRangeList();
    } while (IsDigit(*p));
    return static_cast<std::uint32_t>(value);
}

void Mark(unsigned char* table, std::uint32_t from, std::uint32_t to) {
    for (std::uint64_t v = from; v <= to; ++v)
        table[v] = 1;  // 64-bit: to may be UINT32_MAX
}

}  // namespace

void RangeList(const char* text, std::uint32_t max, unsigned char* table) {
    for (std::uint64_t v = 0; v <= max; ++v)
        table[v] = 0;
    const char* p = text;
    while (*p != '\0') {
        if (*p == ',') {  // empty item
            ++p;
            continue;
        }
        std::uint32_t from = 0;
        std::uint32_t to = max;
        if (IsDigit(*p)) {
            from = Number(p, max);
            to = from;
            if (*p == '-') {  // A-B or A-
                ++p;
                to = IsDigit(*p) ? Number(p, max) : max;
                if (to < from) BadRangeList();
            }
        } else if (*p == '-') {  // -B or -
            ++p;
            if (IsDigit(*p)) to = Number(p, max);
        } else {
            BadRangeList();
        }
        // An item ends at a separator or at the end; marking first keeps the order of the
        // checks, and the error ends the run before a partly marked table is used.
        Mark(table, from, to);
        if (*p == ',') {
            ++p;
        } else if (*p != '\0') {
            BadRangeList();
        }
    }
}

Selection Selection::FromRangeList(const std::string& text) {
    Selection selection;
    RangeList(text.c_str(), 65535, selection.table_.data());
    return selection;
}

bool Selection::Empty() const { return std::find(table_.begin(), table_.end(), 1) == table_.end(); }

}  // namespace voxwrap
