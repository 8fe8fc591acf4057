#pragma once
// Builds TIFF files byte by byte, classic or BigTIFF, for tests of malformed and unusual files: the
// header, data blocks, and one directory whose entries are written in the order given, each with
// any type, count and value field, sound or not. BigTIFF entries have 8-byte counts and value
// fields.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support.h"

namespace tifftest {

constexpr std::uint16_t ASCII = 2, SHORT = 3, LONG = 4, RATIONAL = 5, LONG8 = 16;

class TiffBuilder {
  public:
    explicit TiffBuilder(bool bigEndian = false, bool bigTiff = false)
        : big_(bigEndian), bigTiff_(bigTiff) {
        bytes_ = {static_cast<std::uint8_t>(big_ ? 'M' : 'I'),
                  static_cast<std::uint8_t>(big_ ? 'M' : 'I')};
        Put16(bytes_, bigTiff_ ? 43 : 42);
        if (bigTiff_) {
            Put16(bytes_, 8);  // the offset size, then a zero
            Put16(bytes_, 0);
        }
        PutOffset(bytes_, 0);  // the directory offset, set by Bytes()
    }

    bool big() const { return big_; }
    // Bytes of a count and of a value field: 4 in a classic file, 8 in a BigTIFF one.
    std::size_t FieldSize() const { return bigTiff_ ? 8 : 4; }

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
    // The field is zero-padded to its size: write offsets into it with PutOffset.
    TiffBuilder& Raw(std::uint16_t tag, std::uint16_t type, std::uint64_t count,
                     std::vector<std::uint8_t> field) {
        field.resize(FieldSize());
        Remove(tag);
        entries_.push_back(Entry{tag, type, count, field});
        return *this;
    }

    // An ASCII entry of the given bytes (the count is their number, no zero is added).
    TiffBuilder& Ascii(std::uint16_t tag, const std::string& text) {
        std::vector<std::uint8_t> field(text.begin(), text.end());
        if (field.size() > FieldSize()) {
            const std::uint32_t at = Data(field);
            field.clear();
            PutOffset(field, at);
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
        PutOffset(ifd, out.size());
        std::copy(ifd.begin(), ifd.end(), out.begin() + (bigTiff_ ? 8 : 4));
        if (bigTiff_) {
            Put64(out, entries_.size());
        } else {
            Put16(out, static_cast<std::uint32_t>(entries_.size()));
        }
        for (const Entry& e : entries_) {
            Put16(out, e.tag);
            Put16(out, e.type);
            if (bigTiff_) {
                Put64(out, e.count);
            } else {
                Put32(out, static_cast<std::uint32_t>(e.count));
            }
            out.insert(out.end(), e.field.begin(), e.field.end());
        }
        PutOffset(out, 0);
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
    void Put64(std::vector<std::uint8_t>& out, std::uint64_t v) const {
        const auto hi = static_cast<std::uint32_t>(v >> 32), lo = static_cast<std::uint32_t>(v);
        Put32(out, big_ ? hi : lo);
        Put32(out, big_ ? lo : hi);
    }
    // A file offset: 4 bytes in a classic file, 8 in a BigTIFF one.
    void PutOffset(std::vector<std::uint8_t>& out, std::uint64_t v) const {
        if (bigTiff_) {
            Put64(out, v);
        } else {
            Put32(out, static_cast<std::uint32_t>(v));
        }
    }

  private:
    struct Entry {
        std::uint16_t tag, type;
        std::uint64_t count;
        std::vector<std::uint8_t> field;
    };

    Entry Encode(std::uint16_t tag, std::uint16_t type, const std::vector<std::uint32_t>& values) {
        std::vector<std::uint8_t> data;
        for (std::uint32_t v : values) {
            if (type == SHORT) {
                Put16(data, v);
            } else if (type == LONG8) {
                Put64(data, v);
            } else {
                Put32(data, v);
            }
        }
        if (data.size() > FieldSize()) {
            const std::uint32_t at = Data(data);
            data.clear();
            PutOffset(data, at);
        }
        data.resize(FieldSize());
        return Entry{tag, type, values.size(), data};
    }

    bool big_;
    bool bigTiff_;
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
