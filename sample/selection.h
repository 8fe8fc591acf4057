#pragma once
// The selection: which sample values belong to the object. Today it is a range list over unsigned
// samples of up to 16 bits, held as one byte per value; a wider or signed sample type, or one
// object per label, adds its own constructor and keeps the one question the sampler asks: is this
// value selected, and which intervals of values are.
#include <cstdint>
#include <string>
#include <vector>

namespace voxwrap {

// The range list: "1000-4095", "1,5,7-9,200-" and the like, turned into a table with one byte per
// value 0..max, 1 for a value of the object. Any syntax error fails with "bad range list.".
void RangeList(const char* text, std::uint32_t max, unsigned char* table);

class Selection {
  public:
    // Every value of 0..65535 that the range list names; fails as RangeList does.
    static Selection FromRangeList(const std::string& text);

    bool Contains(std::uint16_t value) const { return table_[value] != 0; }
    // No value is selected: no slice can hold an object.
    bool Empty() const;
    // One byte per value 0..65535, not 0 for a selected value.
    const unsigned char* Table() const { return table_.data(); }

  private:
    Selection() : table_(65536) {}
    std::vector<unsigned char> table_;
};

}  // namespace voxwrap
