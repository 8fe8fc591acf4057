#pragma once
// Builds classic TIFF files byte by byte, for tests of malformed and unusual files: the header, data
// blocks, and one directory whose entries are written in the order given, each with any type, count
// and value field, sound or not.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

namespace tifftest {

constexpr std::uint16_t ASCII = 2, SHORT = 3, LONG = 4;

class TiffBuilder {
  public:
    explicit TiffBuilder(bool bigEndian = false) : big_(bigEndian) {
        bytes_ = {static_cast<std::uint8_t>(big_ ? 'M' : 'I'),
                  static_cast<std::uint8_t>(big_ ? 'M' : 'I')};
        Put16(bytes_, 42);
        Put32(bytes_, 0);  // the directory offset, set by Bytes()
    }

    bool big() const { return big_; }

    // Appends bytes after what is there; returns their file offset.
    std::uint32_t Data(const std::vector<std::uint8_t>& data) {
        const auto at = static_cast<std::uint32_t>(bytes_.size());
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return at;
    }

    // An entry whose values are encoded in the file's byte order: in the value field when they take
    // at most four bytes, else appended as data. Replaces the first entry with this tag, if any.
    TiffBuilder& Set(std::uint16_t tag, std::uint16_t type,
                     const std::vector<std::uint32_t>& values) {
        Entry e = Encode(tag, type, values);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [tag](const Entry& x) { return x.tag == tag; });
        if (it == entries_.end()) {
            entries_.push_back(e);
        } else {
            *it = e;
        }
        return *this;
    }
    TiffBuilder& Short(std::uint16_t tag, std::uint32_t v) { return Set(tag, SHORT, {v}); }
    TiffBuilder& Long(std::uint16_t tag, std::uint32_t v) { return Set(tag, LONG, {v}); }

    // Always appends an entry (for duplicate tags).
    TiffBuilder& Add(std::uint16_t tag, std::uint16_t type,
                     const std::vector<std::uint32_t>& values) {
        entries_.push_back(Encode(tag, type, values));
        return *this;
    }

    // An entry with an explicit count and the four bytes of its value field as written.
    TiffBuilder& Raw(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                     std::vector<std::uint8_t> field) {
        field.resize(4);
        Remove(tag);
        entries_.push_back(Entry{tag, type, count, field});
        return *this;
    }

    // An ASCII entry of the given bytes (the count is their number, no zero is added).
    TiffBuilder& Ascii(std::uint16_t tag, const std::string& text) {
        std::vector<std::uint8_t> field(text.begin(), text.end());
        if (field.size() > 4) {
            const std::uint32_t at = Data(field);
            field.clear();
            Put32(field, at);
        }
        return Raw(tag, ASCII, static_cast<std::uint32_t>(text.size()), field);
    }

    TiffBuilder& Remove(std::uint16_t tag) {
        entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                      [tag](const Entry& x) { return x.tag == tag; }),
                       entries_.end());
        return *this;
    }

    // The whole file: header, data, then the directory and a zero next-directory offset.
    std::vector<std::uint8_t> Bytes() const {
        std::vector<std::uint8_t> out = bytes_;
        if (out.size() % 2) out.push_back(0);
        std::vector<std::uint8_t> ifd;
        Put32(ifd, static_cast<std::uint32_t>(out.size()));
        std::copy(ifd.begin(), ifd.end(), out.begin() + 4);
        Put16(out, static_cast<std::uint32_t>(entries_.size()));
        for (const Entry& e : entries_) {
            Put16(out, e.tag);
            Put16(out, e.type);
            Put32(out, e.count);
            out.insert(out.end(), e.field.begin(), e.field.end());
        }
        Put32(out, 0);
        return out;
    }

    // Unsigned values in the file's byte order.
    void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) const {
        const std::uint8_t lo = v & 0xFF, hi = (v >> 8) & 0xFF;
        out.push_back(big_ ? hi : lo);
        out.push_back(big_ ? lo : hi);
    }
    void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) const {
        if (big_) {
            Put16(out, v >> 16);
            Put16(out, v & 0xFFFF);
        } else {
            Put16(out, v & 0xFFFF);
            Put16(out, v >> 16);
        }
    }

  private:
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count;
        std::vector<std::uint8_t> field;
    };

    Entry Encode(std::uint16_t tag, std::uint16_t type, const std::vector<std::uint32_t>& values) {
        std::vector<std::uint8_t> data;
        for (std::uint32_t v : values) {
            if (type == SHORT) {
                Put16(data, v);
            } else {
                Put32(data, v);
            }
        }
        if (data.size() > 4) {
            const std::uint32_t at = Data(data);
            data.clear();
            Put32(data, at);
        }
        data.resize(4);
        return Entry{tag, type, static_cast<std::uint32_t>(values.size()), data};
    }

    bool big_;
    std::vector<std::uint8_t> bytes_;
    std::vector<Entry> entries_;
};

// Writes bytes to a file of this test program's scratch directory; returns its path.
inline std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    static const std::string dir = TempDir();
    const std::string path = dir + "/" + name;
    ::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

}  // namespace tifftest
