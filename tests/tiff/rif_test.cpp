// ReadImageFile against files written by real encoders (tests/data/tiff, made by make_fixtures.sh)
// and against malformed files built byte by byte below.
#include "tiff/rif.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <libdeflate.h>
#include <sys/resource.h>
#include <zstd.h>

#include "support.h"
#include "tiff/tiff_builder.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

const std::string DataDir = std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/tiff/";

// Reference samples: 37 x 23 little-endian 16-bit values in a .raw dump.
std::vector<std::uint16_t> Reference(const char* name) {
    std::ifstream in(DataDir + name, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::uint16_t> samples(raw.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                                static_cast<unsigned char>(raw[2 * i + 1]) << 8);
    return samples;
}

struct FixtureCase {
    const char* file;
    int bits;
    const char* reference;  // src<bits>.raw unless given
};

class FixtureDecode : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureDecode, DeliversTheEncodedSamples) {
    const FixtureCase& c = GetParam();
    const std::string path = DataDir + c.file;
    std::int32_t width = -1, height = -1, bits = -1;
    ReadImageFile(path.c_str(), &width, &height, &bits, nullptr, nullptr);
    EXPECT_EQ(width, 37);
    EXPECT_EQ(height, 23);
    EXPECT_EQ(bits, c.bits);
    // The header pass finds nothing wrong with a sound file: the bounds it checks are true ones.
    std::string warnings;
    width = height = bits = -1;
    CheckImageFile(path.c_str(), &width, &height, &bits, &warnings);
    EXPECT_EQ(width * 100 + height, 3723);
    EXPECT_EQ(bits, c.bits);
    EXPECT_EQ(warnings, "");

    RowTable rows;
    width = height = -1;
    ::testing::internal::CaptureStderr();
    ReadImageFile(path.c_str(), &width, &height, nullptr, &rows, nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // no warning from a sound file
    ASSERT_EQ(width, 37);
    ASSERT_EQ(height, 23);
    ASSERT_EQ(rows.size(), 23u);
    const std::string reference =
        c.reference ? c.reference : "src" + std::to_string(c.bits) + ".raw";
    const std::vector<std::uint16_t> expected = Reference(reference.c_str());
    ASSERT_EQ(expected.size(), 37u * 23u);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            ASSERT_EQ(rows[y][x], expected[y * 37 + x]) << "row " << y << " column " << x;

    // Row by row: the same rows in order, from one file opening, without a warning.
    std::vector<std::uint16_t> streamed;
    std::int32_t next = 0;
    ::testing::internal::CaptureStderr();
    ReadImageRows(
        path.c_str(),
        [&](std::int32_t y, const std::uint16_t* samples, std::int32_t w) {
            ASSERT_EQ(y, next++);
            ASSERT_EQ(w, 37);
            streamed.insert(streamed.end(), samples, samples + w);
        },
        &width, &height);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(streamed, expected);

    // Straight into a larger grid: the same samples at the top left, the rest left as it was;
    // into a grid one column too narrow: nothing.
    std::vector<std::uint16_t> grid(40 * 25, 0xABCD);
    std::vector<std::uint16_t*> gridRows;
    for (int y = 0; y < 25; ++y)
        gridRows.push_back(grid.data() + 40 * y);
    EXPECT_FALSE(ReadImageInto(path.c_str(), SampleGrid{36, 25, gridRows.data()}, &width, &height));
    EXPECT_EQ(grid, std::vector<std::uint16_t>(40 * 25, 0xABCD));
    ASSERT_TRUE(ReadImageInto(path.c_str(), SampleGrid{40, 25, gridRows.data()}, &width, &height));
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(grid[40 * y + x], y < 23 && x < 37 ? expected[y * 37 + x] : 0xABCD)
                << "row " << y << " column " << x;
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, FixtureDecode,
    ::testing::Values(
        FixtureCase{"g8_none_le.tif", 8, nullptr}, FixtureCase{"g8_none_be.tif", 8, nullptr},
        FixtureCase{"g8_lzw.tif", 8, nullptr}, FixtureCase{"g8_lzw_pred.tif", 8, nullptr},
        FixtureCase{"g8_packbits.tif", 8, nullptr}, FixtureCase{"g8_fill2.tif", 8, nullptr},
        FixtureCase{"g8_lzw_fill2.tif", 8, nullptr}, FixtureCase{"g16_none_le.tif", 16, nullptr},
        FixtureCase{"g16_none_be.tif", 16, nullptr},
        FixtureCase{"g16_lzw_pred_le.tif", 16, nullptr},
        FixtureCase{"g16_lzw_pred_be.tif", 16, nullptr},
        FixtureCase{"g16_packbits_be.tif", 16, nullptr},
        FixtureCase{"g16_lzw_fill2_be.tif", 16, nullptr},
        FixtureCase{"g16_lzw_reversed.tif", 16, nullptr}, FixtureCase{"im1.tif", 1, nullptr},
        FixtureCase{"im1_lzw.tif", 1, nullptr}, FixtureCase{"im1_packbits_be.tif", 1, nullptr},
        FixtureCase{"im4.tif", 4, nullptr}, FixtureCase{"im4_lzw.tif", 4, nullptr},
        FixtureCase{"im4_packbits_fill2.tif", 4, nullptr}, FixtureCase{"im12.tif", 12, "im12.raw"},
        FixtureCase{"im12_lzw_be.tif", 12, "im12.raw"},
        FixtureCase{"im12_packbits_le.tif", 12, "im12.raw"},
        FixtureCase{"im12_none_be.tif", 12, "im12.raw"}, FixtureCase{"im16.tif", 16, nullptr},
        FixtureCase{"multipage.tif", 8, nullptr}, FixtureCase{"g8_zip.tif", 8, nullptr},
        FixtureCase{"g8_zip_pred_fill2.tif", 8, nullptr}, FixtureCase{"g8_zstd.tif", 8, nullptr},
        FixtureCase{"g16_zip_pred_be.tif", 16, nullptr},
        FixtureCase{"g16_zstd_pred_le.tif", 16, nullptr},
        FixtureCase{"g16_zstd_be.tif", 16, nullptr}, FixtureCase{"im1_zip.tif", 1, nullptr},
        FixtureCase{"im4_zstd_fill2.tif", 4, nullptr},
        FixtureCase{"im12_zip_be.tif", 12, "im12.raw"},
        FixtureCase{"g16_tifffile_zlib_pred.tif", 16, nullptr},
        FixtureCase{"g8_tifffile_deflate.tif", 8, nullptr}, FixtureCase{"im8_zip.tif", 8, nullptr},
        FixtureCase{"big16_none_be.tif", 16, nullptr},
        FixtureCase{"big16_zlib_pred_le.tif", 16, nullptr},
        FixtureCase{"big8_lzw_pred.tif", 8, nullptr}, FixtureCase{"tile8_none.tif", 8, nullptr},
        FixtureCase{"tile16_lzw_pred_be.tif", 16, nullptr},
        FixtureCase{"tile12_packbits.tif", 12, "im12.raw"},
        FixtureCase{"tile1_zip.tif", 1, nullptr}, FixtureCase{"tile4_zstd_fill2.tif", 4, nullptr},
        FixtureCase{"tile16_tifffile_zlib_pred_big.tif", 16, nullptr},
        FixtureCase{"tile8_im.tif", 8, nullptr}),
    [](const ::testing::TestParamInfo<FixtureCase>& param) {
        std::string name = param.param.file;
        name = name.substr(0, name.find('.'));
        std::string out;
        for (char ch : name)
            if (ch != '_') out += ch;
        return out;
    });

// Two readers at once: each thread decodes its own LZW fixture (different depths and byte orders)
// again and again, so that the decodes overlap, and must get exactly its reference samples.
TEST(ConcurrentReaders, DecodeTwoLzwFilesAtOnce) {
    const FixtureCase jobs[] = {{"g16_lzw_pred_le.tif", 16, "src16.raw"},
                                {"im12_lzw_be.tif", 12, "im12.raw"}};
    std::string problems[2];
    std::vector<std::thread> threads;
    for (int k = 0; k < 2; ++k) {
        threads.emplace_back([&jobs, &problems, k] {
            const std::vector<std::uint16_t> expected = Reference(jobs[k].reference);
            const std::string path = DataDir + jobs[k].file;
            for (int round = 0; round < 2000 && problems[k].empty(); ++round) {
                RowTable rows;
                std::int32_t width = 0, height = 0;
                std::string warnings;
                ReadImageFile(path.c_str(), &width, &height, nullptr, &rows, nullptr, &warnings);
                if (width != 37 || height != 23 || !warnings.empty()) {
                    problems[k] = "size or warnings in round " + std::to_string(round);
                    break;
                }
                for (int y = 0; y < 23; ++y)
                    for (int x = 0; x < 37; ++x)
                        if (rows[y][x] != expected[y * 37 + x] && problems[k].empty())
                            problems[k] = "round " + std::to_string(round) + " row " +
                                          std::to_string(y) + " column " + std::to_string(x);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(problems[0], "") << jobs[0].file;
    EXPECT_EQ(problems[1], "") << jobs[1].file;
}

TEST(FixtureDescription, ReadsTheTextAndAddsAZeroByte) {
    std::unique_ptr<char[]> text;
    ReadImageFile((DataDir + "g8_lzw.tif").c_str(), nullptr, nullptr, nullptr, nullptr, &text);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text.get(), "{\"shape\": [23, 37]}");
    ReadImageFile((DataDir + "im4.tif").c_str(), nullptr, nullptr, nullptr, nullptr, &text);
    EXPECT_EQ(text, nullptr);  // ImageMagick writes none
}

// ---------------------------------------------------------------- files built byte by byte

using tifftest::ASCII;
using tifftest::LONG;
using tifftest::SHORT;
using tifftest::TiffBuilder;
using Bytes = std::vector<std::uint8_t>;

// The text of a failure of the reader.
std::string Fatal(const std::string& path, const std::string& message) {
    return path + " : " + message;
}

std::string Warned(const std::string& path, const std::string& message) {
    return path + " : " + message + " (warning).\n";
}

// A gray image of the given strips (appended in order), LONG offsets and byte counts.
TiffBuilder Gray(std::uint32_t width, std::uint32_t height, unsigned bits,
                 const std::vector<Bytes>& strips, std::uint32_t rowsPerStrip,
                 unsigned compression = 1, bool big = false) {
    TiffBuilder t(big);
    std::vector<std::uint32_t> offsets, counts;
    for (const Bytes& s : strips) {
        offsets.push_back(t.Data(s));
        counts.push_back(static_cast<std::uint32_t>(s.size()));
    }
    t.Long(256, width).Long(257, height).Short(258, bits).Short(259, compression).Short(262, 1);
    t.Set(273, LONG, offsets).Short(277, 1).Long(278, rowsPerStrip).Set(279, LONG, counts);
    return t;
}

struct Decoded {
    std::int32_t width = -1, height = -1;
    RowTable rows;
    std::string warnings;  // every warning line, through the reader's sink
};

Decoded Decode(const std::string& path) {
    Decoded d;
    ReadImageFile(path.c_str(), &d.width, &d.height, nullptr, &d.rows, nullptr, &d.warnings);
    return d;
}

std::string CheckText(const std::string& path) {
    return FailureText([&] {
        std::int32_t w = 0, h = 0, b = 0;
        CheckImageFile(path.c_str(), &w, &h, &b);
    });
}

std::string LoadText(const std::string& path) {
    return FailureText([&] {
        RowTable rows;
        std::string warnings;
        ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr, &warnings);
    });
}

std::vector<std::uint16_t> Row(const Decoded& d, int y) {
    return std::vector<std::uint16_t>(d.rows.at(y).get(), d.rows.at(y).get() + d.width);
}

// Packs LZW codes most significant bit first at the widths a TIFF encoder uses: 9 bits after a
// clear code, one more when the next free code reaches 511, 1023 and 2047. The end code may be
// written one bit narrower than the current width.
Bytes Lzw(const std::vector<unsigned>& codes, bool narrowEnd = false) {
    Bytes out;
    std::uint64_t acc = 0;
    int have = 0;
    unsigned width = 9, next = 258, old = 256;
    for (unsigned c : codes) {
        const unsigned w = (c == 257 && narrowEnd) ? width - 1 : width;
        acc = (acc << w) | c;
        have += static_cast<int>(w);
        while (have >= 8) {
            have -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> have));
        }
        if (c == 256) {
            width = 9;
            old = 256;
        } else if (c != 257) {
            if (old == 256) {
                next = 258;
            } else {
                ++next;
                if (next == (1u << width) - 1 && width <= 11) ++width;
            }
            old = c;
        }
    }
    if (have > 0) out.push_back(static_cast<std::uint8_t>(acc << (8 - have)));
    return out;
}

// ---------------------------------------------------------------- header and directory

TEST(ReadImageFileFailure, MissingFile) {
    const std::string path = TempDir() + "/no_such_file.tif";
    EXPECT_EQ(FailureText([&] {
                  ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
              }),
              Fatal(path, "file not found."));
}

TEST(ReadImageFileFailure, DirectoryIsNoImage) {
    // A directory opens for reading but would yield no byte: refused for what it is.
    const std::string path = ::testing::TempDir();
    EXPECT_EQ(FailureText([&] {
                  ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
              }),
              Fatal(path, "is a directory."));
}

struct HeaderCase {
    const char* name;
    Bytes bytes;
    const char* message;
};

class HeaderFailure : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderFailure, StopsWithTheMessage) {
    const HeaderCase& c = GetParam();
    const std::string path = tifftest::WriteFile(std::string(c.name) + ".tif", c.bytes);
    EXPECT_EQ(FailureText([&] {
                  ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
              }),
              Fatal(path, c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Header, HeaderFailure,
    ::testing::Values(
        HeaderCase{"empty", {}, "unexpected end of file."},
        HeaderCase{"bytes1", {'I'}, "unexpected end of file."},
        HeaderCase{"x", {'X', 'X', 42, 0, 8, 0, 0, 0}, "bad magic number."},
        HeaderCase{"im", {'I', 'M', 42, 0, 8, 0, 0, 0}, "bad magic number."},
        HeaderCase{"imshort", {'I', 'M'}, "bad magic number."},
        HeaderCase{"ii43", {'I', 'I', 43, 0, 8, 0, 0, 0}, "unexpected end of file."},
        HeaderCase{"ii43size4", {'I', 'I', 43, 0, 4, 0, 0, 0, 8, 0, 0, 0}, "bad magic number."},
        HeaderCase{"ii43pad", {'I', 'I', 43, 0, 8, 0, 1, 0}, "bad magic number."},
        HeaderCase{"mm42le", {'M', 'M', 42, 0, 0, 0, 0, 8}, "bad magic number."},
        HeaderCase{"ii42short", {'I', 'I', 42}, "unexpected end of file."},
        HeaderCase{"ifdshort", {'I', 'I', 42, 0, 8, 0, 0}, "unexpected end of file."},
        HeaderCase{"ifd0", {'M', 'M', 0, 42, 0, 0, 0, 0}, "no image file directory."}),
    [](const ::testing::TestParamInfo<HeaderCase>& param) {
        return std::string(param.param.name);
    });

// The descriptor is owned by the call: closed after a success and after a failure thrown at any
// point (here in the header, in the directory and in the middle of an LZW strip).
TEST(ReadImageFileFailure, ClosesTheFileOnEveryPath) {
    const auto openFiles = [] {
        std::size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            (void)entry;
            ++n;
        }
        return n;
    };
    const std::string magic = tifftest::WriteFile("fdmagic.tif", {'I', 'M', 42, 0, 8, 0, 0, 0});
    TiffBuilder noPhotometric = Gray(2, 2, 8, {{1, 2, 3, 4}}, 2);
    noPhotometric.Remove(262);
    const std::string field = tifftest::WriteFile("fdfield.tif", noPhotometric.Bytes());
    const std::string lzw =
        tifftest::WriteFile("fdlzw.tif", Gray(4, 1, 8, {Lzw({1, 2, 260, 257})}, 1, 5).Bytes());
    const std::string sound = DataDir + "g8_lzw.tif";
    const std::size_t before = openFiles();
    for (int round = 0; round < 50; ++round) {
        for (const std::string& path : {magic, field, lzw}) {
            RowTable rows;
            EXPECT_NE(FailureText([&] {
                          ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr);
                      }),
                      "(no failure)");
        }
        RowTable rows;
        ReadImageFile(sound.c_str(), nullptr, nullptr, nullptr, &rows, nullptr);
    }
    EXPECT_EQ(openFiles(), before);
}

TEST(ReadImageFileFailure, HeaderOnlyCallReadsNoDirectory) {
    // With no output requested, a header pointing past the end of the file is not followed.
    const std::string path = tifftest::WriteFile("nodir.tif", {'I', 'I', 42, 0, 0, 1, 0, 0});
    ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr,
                  nullptr);  // returns: no failure
    EXPECT_EQ(FailureText([&] {
                  ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr,
                                std::make_unique<std::unique_ptr<char[]>>().get());
              }),
              Fatal(path, "unexpected end of file."));
}

// One sound 2 x 2 8-bit image changed by one edit; the message of a call that asks for the rows.
struct FieldCase {
    const char* name;
    void (*edit)(TiffBuilder&);
    const char* message;  // null: the file is read
};

TiffBuilder Sound(bool big = false) { return Gray(2, 2, 8, {{1, 2, 3, 4}}, 2, 1, big); }

class DirectoryField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(DirectoryField, ChecksTheField) {
    const FieldCase& c = GetParam();
    for (bool big : {false, true}) {
        TiffBuilder t = Sound(big);
        c.edit(t);
        const std::string path =
            tifftest::WriteFile(std::string(c.name) + (big ? "_be.tif" : "_le.tif"), t.Bytes());
        if (c.message == nullptr) {
            const Decoded d = Decode(path);
            EXPECT_EQ(d.warnings, "");
            EXPECT_EQ(d.rows.size(), static_cast<std::size_t>(d.height));
        } else {
            RowTable rows;
            EXPECT_EQ(FailureText([&] {
                          ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr);
                      }),
                      Fatal(path, c.message))
                << (big ? "big-endian" : "little-endian");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DirectoryField,
    ::testing::Values(
        FieldCase{"nowidth", [](TiffBuilder& f) { f.Remove(256); }, "missing image size."},
        FieldCase{"noheight", [](TiffBuilder& f) { f.Remove(257); }, "missing image size."},
        FieldCase{"width0", [](TiffBuilder& f) { f.Short(256, 0); }, "missing image size."},
        FieldCase{"widthlong2", [](TiffBuilder& f) { f.Set(256, LONG, {2, 2}); },
                  "missing image size."},
        FieldCase{"widthascii", [](TiffBuilder& f) { f.Ascii(256, "ab"); }, "missing image size."},
        FieldCase{"widthfirstentrywins",
                  [](TiffBuilder& f) {
                      f.Remove(256).Add(256, ASCII, {0}).Add(256, SHORT, {2});
                  },
                  "missing image size."},
        FieldCase{"wide", [](TiffBuilder& f) { f.Long(256, 2147483648u); },
                  "too large image size."},
        FieldCase{"tall", [](TiffBuilder& f) { f.Long(257, 4294967295u); },
                  "too large image size."},
        FieldCase{"widenoheight", [](TiffBuilder& f) { f.Long(256, 2147483648u).Remove(257); },
                  "missing image size."},
        FieldCase{"bits0", [](TiffBuilder& f) { f.Short(258, 0); }, "bad bits per sample."},
        FieldCase{"bits17", [](TiffBuilder& f) { f.Short(258, 17); }, "bad bits per sample."},
        FieldCase{"compression2", [](TiffBuilder& f) { f.Short(259, 12345); },
                  "unknown image compression method."},
        FieldCase{"compressionlong", [](TiffBuilder& f) { f.Long(259, 5); },
                  "LZW too few codes."},
        FieldCase{"nophotometric", [](TiffBuilder& f) { f.Remove(262); },
                  "bad photometric interpretation."},
        FieldCase{"photometric2", [](TiffBuilder& f) { f.Short(262, 2); },
                  "bad photometric interpretation."},
        FieldCase{"photometric5", [](TiffBuilder& f) { f.Short(262, 5); },
                  "bad photometric interpretation."},
        FieldCase{"photometriclong", [](TiffBuilder& f) { f.Long(262, 1); }, nullptr},
        FieldCase{"photometric0", [](TiffBuilder& f) { f.Short(262, 0); }, nullptr},
        FieldCase{"photometric3", [](TiffBuilder& f) { f.Short(262, 3); }, nullptr},
        FieldCase{"photometric4", [](TiffBuilder& f) { f.Short(262, 4); }, nullptr},
        FieldCase{"fill0", [](TiffBuilder& f) { f.Short(266, 0); }, "unknown fill order."},
        FieldCase{"fill3", [](TiffBuilder& f) { f.Short(266, 3); }, "unknown fill order."},
        FieldCase{"spp0", [](TiffBuilder& f) { f.Short(277, 0); }, "bad samples per pixel."},
        FieldCase{"spplong", [](TiffBuilder& f) { f.Long(277, 3); },
                  "3 samples per pixel are not supported."},
        FieldCase{"rps0", [](TiffBuilder& f) { f.Long(278, 0); }, "bad rows per strip."},
        FieldCase{"rps0short", [](TiffBuilder& f) { f.Short(278, 0); }, "bad rows per strip."},
        FieldCase{"rpsmax", [](TiffBuilder& f) { f.Long(278, 4294967295u); }, nullptr},
        FieldCase{"rpsabsent", [](TiffBuilder& f) { f.Remove(278); }, nullptr},
        FieldCase{"planar3", [](TiffBuilder& f) { f.Short(284, 3); }, "bad planar configuration."},
        FieldCase{"planar1", [](TiffBuilder& f) { f.Short(284, 1); }, nullptr},
        FieldCase{"predictor4", [](TiffBuilder& f) { f.Short(317, 4); },
                  "unknown differencing predictor."},
        FieldCase{"nooffsets", [](TiffBuilder& f) { f.Remove(273); }, "missing strip offset."},
        FieldCase{"asciioffsets", [](TiffBuilder& f) { f.Ascii(273, "a"); },
                  "missing strip offset."},
        FieldCase{"nocounts", [](TiffBuilder& f) { f.Remove(279); },
                  "missing strip bytes count."},
        FieldCase{"twooffsets", [](TiffBuilder& f) { f.Set(273, LONG, {8, 8}); },
                  "bad number of strip offset."},
        FieldCase{"twocounts", [](TiffBuilder& f) { f.Set(279, SHORT, {4, 0}); },
                  "bad number of strip bytes count."},
        FieldCase{"offsetspastend", [](TiffBuilder& f) { f.Raw(273, LONG, 2, {0, 0, 1, 0}); },
                  "bad number of strip offset."},
        FieldCase{"stripspastend",
                  [](TiffBuilder& f) {
                      f.Long(278, 1).Raw(273, LONG, 2, {0xF0, 0xFF, 0, 0}).Set(279, LONG, {2, 2});
                  },
                  "unexpected end of file."},
        FieldCase{"strippastend", [](TiffBuilder& f) { f.Long(273, 0xFFFFFF); },
                  "unexpected end of file."},
        FieldCase{"shortcount", [](TiffBuilder& f) { f.Long(279, 3); }, "too few codes."}),
    [](const ::testing::TestParamInfo<FieldCase>& param) { return std::string(param.param.name); });

// The checks of the fields that only the rows need come in a fixed order: each file below has
// all of them wrong but the ones already reported, so every message names the first failing one.
TEST(ReadImageFileFailure, ChecksTheRowFieldsInOrder) {
    TiffBuilder t = Sound();
    t.Short(259, 12345).Short(262, 2).Short(266, 3).Short(277, 0).Long(278, 0).Short(284, 3);
    t.Short(317, 4).Remove(273);
    const struct {
        const char* message;
        void (*fix)(TiffBuilder&);
    } steps[] = {
        {"unknown image compression method.", [](TiffBuilder& b) { b.Short(259, 1); }},
        {"bad photometric interpretation.", [](TiffBuilder& b) { b.Short(262, 1); }},
        {"unknown fill order.", [](TiffBuilder& b) { b.Short(266, 1); }},
        {"bad samples per pixel.", [](TiffBuilder& b) { b.Short(277, 1); }},
        {"bad rows per strip.", [](TiffBuilder& b) { b.Long(278, 2); }},
        {"bad planar configuration.", [](TiffBuilder& b) { b.Short(284, 1); }},
        {"unknown differencing predictor.", [](TiffBuilder& b) { b.Short(317, 1); }},
        {"missing strip offset.", nullptr},
    };
    int k = 0;
    for (const auto& step : steps) {
        const std::string path =
            tifftest::WriteFile("order" + std::to_string(k++) + ".tif", t.Bytes());
        // The header-only call of the slice list does not look at any of these fields.
        std::int32_t w = 0, h = 0, b = 0;
        ReadImageFile(path.c_str(), &w, &h, &b, nullptr, nullptr);
        EXPECT_EQ(w, 2);
        EXPECT_EQ(b, 8);
        RowTable rows;
        EXPECT_EQ(
            FailureText([&] { ReadImageFile(path.c_str(), &w, &h, nullptr, &rows, nullptr); }),
            Fatal(path, step.message));
        if (step.fix != nullptr) step.fix(t);
    }
}

// Writers store these fields as LONG too; read as absent, an LZW strip would be copied as if
// uncompressed. Here every one of them is LONG: LZW, FillOrder 2, Predictor 2, 8 bits.
TEST(ReadImageFile, TakesEveryFieldAsLongWithCountOne) {
    Bytes codes = Lzw({256, 1, 1, 1, 257});
    for (std::uint8_t& v : codes) {
        std::uint8_t r = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (v & (1u << bit)) r = static_cast<std::uint8_t>(r | (0x80u >> bit));
        v = r;
    }
    TiffBuilder t = Gray(3, 1, 8, {codes}, 1);
    t.Long(258, 8).Long(259, 5).Long(262, 1).Long(266, 2).Long(277, 1).Long(284, 1).Long(317, 2);
    const std::string path = tifftest::WriteFile("alllong.tif", t.Bytes());
    std::int32_t b = 0;
    ReadImageFile(path.c_str(), nullptr, nullptr, &b, nullptr, nullptr);
    EXPECT_EQ(b, 8);
    const Decoded d = Decode(path);
    EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{1, 2, 3}));
    EXPECT_EQ(d.warnings, "");
}

// What stays unsupported is refused by name, both by loading and by the header pass, before the
// bits per sample are looked at (a 32-bit floating-point file is named as such to a caller of
// uint16 rows; the header pass takes it, for the readers of words).
TEST(ReadImageFileFailure, RefusesUnsupportedVariantsByName) {
    const struct {
        const char* name;
        void (*edit)(TiffBuilder&);
        const char* message;
    } cases[] = {
        {"float", [](TiffBuilder& t) { t.Short(339, 3).Short(258, 32); },
         "floating-point samples are not supported."},
        {"complex", [](TiffBuilder& t) { t.Short(339, 6); }, "complex samples are not supported."},
        {"rgb",
         [](TiffBuilder& t) {
             t.Short(277, 3).Set(258, SHORT, {8, 8, 8});
         },
         "3 samples per pixel are not supported."},
        {"planar", [](TiffBuilder& t) { t.Short(284, 2); },
         "separate planes (planar configuration 2) are not supported."},
        {"jpeg", [](TiffBuilder& t) { t.Short(259, 7); }, "JPEG compression is not supported."},
        {"oldjpeg", [](TiffBuilder& t) { t.Short(259, 6); },
         "old-style JPEG compression is not supported."},
        {"lerc", [](TiffBuilder& t) { t.Long(259, 34887); }, "LERC compression is not supported."},
        {"fax", [](TiffBuilder& t) { t.Short(259, 4); },
         "CCITT Group 4 fax compression is not supported."},
        {"floatpredictor", [](TiffBuilder& t) { t.Short(317, 3); },
         "floating-point predictor is not supported."},
        {"signed", [](TiffBuilder& t) { t.Short(339, 2); }, nullptr},  // read as stored bits
    };
    for (const auto& c : cases) {
        TiffBuilder t = Gray(2, 2, 8, {{1, 2, 0xFF, 0x80}}, 2);
        c.edit(t);
        const std::string path =
            tifftest::WriteFile(std::string("refuse_") + c.name + ".tif", t.Bytes());
        const std::string expected = c.message ? Fatal(path, c.message) : "(no failure)";
        const bool words = std::string(c.name) == "float";
        EXPECT_EQ(LoadText(path), expected) << c.name;
        // The built float file holds 8-bit data: the header pass finds its strips too short.
        EXPECT_EQ(CheckText(path), words ? Fatal(path, "too few codes.") : expected) << c.name;
    }
    for (const auto& [file, message] : std::vector<std::pair<std::string, std::string>>{
             {"refuse_jpeg.tif", "JPEG compression is not supported."},
             {"refuse_rgb.tif", "3 samples per pixel are not supported."},
             {"refuse_float.tif", "floating-point samples are not supported."}}) {
        const bool words = file == "refuse_float.tif";
        EXPECT_EQ(LoadText(DataDir + file), Fatal(DataDir + file, message));
        EXPECT_EQ(CheckText(DataDir + file),
                  words ? "(no failure)" : Fatal(DataDir + file, message));
    }
    const Decoded d = Decode(tifftest::WriteFile(
        "signed.tif", Gray(2, 2, 8, {{1, 2, 0xFF, 0x80}}, 2).Short(339, 2).Bytes()));
    EXPECT_EQ(Row(d, 1), (std::vector<std::uint16_t>{0xFF, 0x80}));
}

TEST(ReadImageFile, TakesShortValuesFromTheFirstBytesOfTheField) {
    // Big-endian SHORT width 37 in the first two bytes of the value field, junk in the others.
    TiffBuilder t(true);
    t.Raw(256, SHORT, 1, {0x00, 0x25, 0xAA, 0xBB}).Raw(257, SHORT, 1, {0x00, 0x02, 0xCC, 0xDD});
    t.Raw(258, SHORT, 1, {0x00, 0x0C, 0xFF, 0xFF});
    const std::string path = tifftest::WriteFile("bigshort.tif", t.Bytes());
    std::int32_t w = 0, h = 0, b = 0;
    ReadImageFile(path.c_str(), &w, &h, &b, nullptr, nullptr);
    EXPECT_EQ(w, 37);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(b, 12);
}

TEST(ReadImageFile, TakesTheFirstEntryOfATag) {
    TiffBuilder t;
    t.Add(257, SHORT, {3}).Add(256, SHORT, {2}).Add(256, SHORT, {5}).Add(258, LONG, {8});
    t.Add(258, SHORT, {4});  // the first BitsPerSample entry, a LONG, is the one taken
    const std::string path = tifftest::WriteFile("duplicates.tif", t.Bytes());
    std::int32_t w = 0, h = 0, b = 0;
    ReadImageFile(path.c_str(), &w, &h, &b, nullptr, nullptr);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(b, 8);
}

TEST(ReadImageFile, DefaultsToOneBitPerSample) {
    // Without BitsPerSample (or with one of neither SHORT nor LONG type) a byte 0xA5 holds eight
    // 1-bit samples.
    for (bool asAscii : {false, true}) {
        TiffBuilder t = Gray(9, 2, 1, {{0xA5, 0xFF, 0x00, 0x80}}, 2);
        if (asAscii) {
            t.Ascii(258, "8");
        } else {
            t.Remove(258);
        }
        const std::string path = tifftest::WriteFile("bits1.tif", t.Bytes());
        std::int32_t b = 0;
        ReadImageFile(path.c_str(), nullptr, nullptr, &b, nullptr, nullptr);
        EXPECT_EQ(b, 1);
        const Decoded d = Decode(path);
        EXPECT_EQ(d.warnings, "");
        EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{1, 0, 1, 0, 0, 1, 0, 1, 1}));
        EXPECT_EQ(Row(d, 1), (std::vector<std::uint16_t>{0, 0, 0, 0, 0, 0, 0, 0, 1}));
    }
}

TEST(ReadImageFile, DeliversStoredSamplesWhateverThePhotometric) {
    for (unsigned photometric : {0u, 1u, 3u, 4u}) {
        TiffBuilder t = Gray(3, 1, 8, {{0, 1, 255}}, 1);
        t.Short(262, photometric);
        const Decoded d = Decode(tifftest::WriteFile("photometric.tif", t.Bytes()));
        EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{0, 1, 255})) << photometric;
    }
}

TEST(ReadImageFile, ReadsOneStripWhenRowsPerStripIsAbsentOrHuge) {
    for (int variant = 0; variant < 3; ++variant) {
        TiffBuilder t = Gray(2, 3, 8, {{1, 2, 3, 4, 5, 6}}, 3);
        if (variant == 0) t.Remove(278);
        if (variant == 1) t.Long(278, 4294967295u);
        if (variant == 2) t.Short(278, 65535);
        const Decoded d = Decode(tifftest::WriteFile("onestrip.tif", t.Bytes()));
        EXPECT_EQ(d.warnings, "");
        EXPECT_EQ(Row(d, 2), (std::vector<std::uint16_t>{5, 6}));
    }
}

TEST(ReadImageFile, ReadsTheDescription) {
    struct {
        std::string text;
        bool big;
    } cases[] = {
        {"abc", false}, {"abc", true}, {"abcd", false}, {"hello world", true}, {"", false}};
    for (const auto& c : cases) {
        TiffBuilder t(c.big);
        t.Ascii(270, c.text);
        const std::string path = tifftest::WriteFile("description.tif", t.Bytes());
        std::unique_ptr<char[]> text;
        // No image size is asked for, so none is needed.
        ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr, &text);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text.get(), c.text.size() + 1), c.text + std::string(1, '\0'));
    }
    // Count 3: the bytes come from the value field itself, the fourth byte is not taken.
    TiffBuilder t;
    t.Raw(270, ASCII, 3, {'x', 'y', 'z', 'w'});
    std::unique_ptr<char[]> text;
    ReadImageFile(tifftest::WriteFile("description3.tif", t.Bytes()).c_str(), nullptr, nullptr,
                  nullptr, nullptr, &text);
    EXPECT_STREQ(text.get(), "xyz");
    // Not ASCII: no description.
    t.Raw(270, SHORT, 1, {'x', 0, 0, 0});
    ReadImageFile(tifftest::WriteFile("description4.tif", t.Bytes()).c_str(), nullptr, nullptr,
                  nullptr, nullptr, &text);
    EXPECT_EQ(text, nullptr);
}

TEST(ReadImageFileFailure, DescriptionPastTheEnd) {
    TiffBuilder t;
    t.Raw(270, ASCII, 100, {8, 0, 0, 0});  // 100 bytes from offset 8: the file is shorter
    const std::string path = tifftest::WriteFile("shortdescription.tif", t.Bytes());
    std::unique_ptr<char[]> text;
    EXPECT_EQ(FailureText(
                  [&] { ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr, &text); }),
              Fatal(path, "missing image description."));
}

// ---------------------------------------------------------------- strips and samples

TEST(StripTable, ReadsShortAndLongTablesInTheFieldOrAtAnOffset) {
    // Two SHORTs or one LONG lie in the value field, three SHORTs or two LONGs at an offset.
    for (bool big : {false, true}) {
        for (std::uint16_t type : {SHORT, LONG}) {
            for (std::uint32_t height : {1u, 2u, 3u}) {
                std::vector<Bytes> strips;
                for (std::uint32_t y = 0; y < height; ++y)
                    strips.push_back({static_cast<std::uint8_t>(10 * y), 7});
                TiffBuilder t = Gray(2, height, 8, strips, 1, 1, big);
                std::vector<std::uint32_t> offsets;
                for (std::uint32_t y = 0; y < height; ++y)
                    offsets.push_back(8 + 2 * y);  // the builder puts the strips first
                t.Set(273, type, offsets).Set(279, type, std::vector<std::uint32_t>(height, 2));
                const Decoded d = Decode(tifftest::WriteFile("table.tif", t.Bytes()));
                EXPECT_EQ(d.warnings, "");
                for (std::uint32_t y = 0; y < height; ++y)
                    EXPECT_EQ(Row(d, y),
                              (std::vector<std::uint16_t>{static_cast<std::uint16_t>(10 * y), 7}))
                        << big << " " << type << " " << height;
            }
        }
    }
}

TEST(StripDecode, WarnsAfterEveryStripWithBytesLeft) {
    // RowsPerStrip 3, height 7: strips of 3, 3 and 1 rows, checked after rows 2, 5 and 6. The
    // first and last strips have one byte too many, the middle one is exact.
    TiffBuilder t = Gray(2, 7, 8, {{0, 1, 2, 3, 4, 5, 99}, {6, 7, 8, 9, 10, 11}, {12, 13, 99}}, 3);
    const std::string path = tifftest::WriteFile("rps3.tif", t.Bytes());
    const Decoded d = Decode(path);
    EXPECT_EQ(d.warnings, Warned(path, "too many codes") + Warned(path, "too many codes"));
    ASSERT_EQ(d.rows.size(), 7u);
    for (int y = 0; y < 7; ++y)
        EXPECT_EQ(Row(d, y), (std::vector<std::uint16_t>{static_cast<std::uint16_t>(2 * y),
                                                         static_cast<std::uint16_t>(2 * y + 1)}));
    // Without a sink they are dropped: the library never writes to standard error.
    ::testing::internal::CaptureStderr();
    RowTable rows;
    ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(StripDecode, KeepsTheWarningsBeforeAFailure) {
    // The first strip has a byte too many, the second one byte too few.
    TiffBuilder t = Gray(2, 2, 8, {{1, 2, 99}, {3}}, 1);
    const std::string path = tifftest::WriteFile("warnthenfail.tif", t.Bytes());
    RowTable rows;
    std::string warnings;
    EXPECT_EQ(FailureText([&] {
                  ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr, &warnings);
              }),
              Fatal(path, "too few codes."));
    EXPECT_EQ(warnings, Warned(path, "too many codes"));
}

TEST(StripDecode, ReversesEveryByteUnderFillOrder2) {
    TiffBuilder t = Gray(3, 1, 8, {{0x01, 0x80, 0x0F}}, 1);
    t.Short(266, 2);
    const Decoded d = Decode(tifftest::WriteFile("fill2.tif", t.Bytes()));
    EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{0x80, 0x01, 0xF0}));
}

TEST(StripDecode, Combines16BitSamplesInTheFileByteOrder) {
    for (bool big : {false, true}) {
        TiffBuilder t = Gray(2, 1, 16, {{0x12, 0x34, 0xFF, 0x00}}, 1, 1, big);
        const Decoded d = Decode(tifftest::WriteFile("order16.tif", t.Bytes()));
        if (big) {
            EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{0x1234, 0xFF00}));
        } else {
            EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{0x3412, 0x00FF}));
        }
    }
}

TEST(StripDecode, Packs12BitRowsOnByteBoundaries) {
    // Width 3 at 12 bits: 36 bits, so five bytes a row and the last four bits are dropped.
    TiffBuilder t =
        Gray(3, 2, 12, {{0xAB, 0xCD, 0xEF, 0x12, 0x3F, 0x45, 0x67, 0x89, 0xAB, 0xC0}}, 2);
    const Decoded d = Decode(tifftest::WriteFile("w3b12.tif", t.Bytes()));
    EXPECT_EQ(d.warnings, "");
    EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{0xABC, 0xDEF, 0x123}));
    EXPECT_EQ(Row(d, 1), (std::vector<std::uint16_t>{0x456, 0x789, 0xABC}));
}

TEST(StripDecode, UnpacksEveryDepth) {
    // Each depth b from 1 to 15: a row of 7 samples x * 5 + 1 (mod 2^b), packed by hand.
    for (unsigned b = 1; b <= 16; ++b) {
        const std::uint32_t m = (1u << b) - 1;
        std::vector<std::uint16_t> expected;
        Bytes packed;
        std::uint64_t acc = 0;
        unsigned have = 0;
        for (std::uint32_t x = 0; x < 7; ++x) {
            const std::uint32_t v = (x * 0x5A5Bu + 1) & m;
            expected.push_back(static_cast<std::uint16_t>(v));
            if (b == 16) continue;
            acc = (acc << b) | v;
            have += b;
            while (have >= 8) {
                have -= 8;
                packed.push_back(static_cast<std::uint8_t>(acc >> have));
            }
        }
        if (b == 16) {
            for (std::uint16_t v : expected) {
                packed.push_back(static_cast<std::uint8_t>(v & 0xFF));
                packed.push_back(static_cast<std::uint8_t>(v >> 8));
            }
        } else if (have > 0) {
            packed.push_back(static_cast<std::uint8_t>(acc << (8 - have)));
        }
        Bytes twoRows = packed;
        twoRows.insert(twoRows.end(), packed.begin(), packed.end());
        const Decoded d =
            Decode(tifftest::WriteFile("depth.tif", Gray(7, 2, b, {twoRows}, 2).Bytes()));
        EXPECT_EQ(d.warnings, "") << b;
        EXPECT_EQ(Row(d, 0), expected) << b;
        EXPECT_EQ(Row(d, 1), expected) << b;
    }
}

TEST(StripDecode, UndoesThePredictorModuloTheDepth) {
    struct {
        unsigned bits;
        std::uint32_t width;
        Bytes data;
        std::vector<std::uint16_t> expected;
    } cases[] = {
        {8, 3, {200, 100, 1}, {200, 44, 45}},
        {4, 4, {0xF1, 0xF2}, {15, 0, 15, 1}},               // wraps modulo 16
        {16, 3, {0xFF, 0xFF, 2, 0, 0, 0}, {0xFFFF, 1, 1}},  // wraps modulo 65536
        {1, 3, {0xE0}, {1, 0, 1}},
        {8, 1, {77}, {77}},
    };
    for (const auto& c : cases) {
        TiffBuilder t = Gray(c.width, 1, c.bits, {c.data}, 1);
        t.Short(317, 2);
        const Decoded d = Decode(tifftest::WriteFile("predictor.tif", t.Bytes()));
        EXPECT_EQ(Row(d, 0), c.expected) << c.bits;
    }
}

// A strip at the very end of the file: offset = size - 2, so only two bytes can be read.
std::string StripAtEnd(std::uint32_t byteCount, const char* name) {
    TiffBuilder t = Gray(4, 1, 8, {{}}, 1);
    t.Long(279, byteCount);
    const std::uint32_t size = static_cast<std::uint32_t>(t.Bytes().size());
    t.Long(273, size - 2);
    return tifftest::WriteFile(name, t.Bytes());
}

TEST(StripDecodeFailure, ByteCountIsCheckedBeforeTheEndOfTheFile) {
    const std::string two = StripAtEnd(2, "end2.tif");
    RowTable rows;
    EXPECT_EQ(
        FailureText([&] { ReadImageFile(two.c_str(), nullptr, nullptr, nullptr, &rows, nullptr); }),
        Fatal(two, "too few codes."));
    const std::string three = StripAtEnd(3, "end3.tif");
    EXPECT_EQ(FailureText(
                  [&] { ReadImageFile(three.c_str(), nullptr, nullptr, nullptr, &rows, nullptr); }),
              Fatal(three, "unexpected end of file."));
}

// ---------------------------------------------------------------- PackBits

struct CodedCase {
    const char* name;
    std::uint32_t width, height;
    Bytes data;
    std::vector<std::uint16_t> expected;  // all rows one after the other
    const char* warning;                  // null: none
};

void ExpectDecodes(const CodedCase& c, unsigned compression) {
    TiffBuilder t = Gray(c.width, c.height, 8, {c.data}, c.height, compression);
    const std::string path = tifftest::WriteFile(std::string(c.name) + ".tif", t.Bytes());
    const Decoded d = Decode(path);
    EXPECT_EQ(d.warnings, c.warning ? Warned(path, c.warning) : "") << c.name;
    std::vector<std::uint16_t> all;
    for (std::uint32_t y = 0; y < c.height; ++y) {
        const std::vector<std::uint16_t> row = Row(d, static_cast<int>(y));
        all.insert(all.end(), row.begin(), row.end());
    }
    EXPECT_EQ(all, c.expected) << c.name;
}

TEST(PackBitsDecode, ExpandsRunsAndLiterals) {
    const CodedCase cases[] = {
        {"headers", 6, 1, {128, 0xFE, 7, 2, 1, 2, 3}, {7, 7, 7, 1, 2, 3}, nullptr},
        {"runacrossrows", 2, 2, {0xFD, 9}, {9, 9, 9, 9}, nullptr},
        {"literalacrossrows", 2, 2, {3, 1, 2, 3, 4}, {1, 2, 3, 4}, nullptr},
        {"longestrun", 64, 2, {0x81, 5}, std::vector<std::uint16_t>(128, 5), nullptr},
        {"runtoolong", 2, 1, {0xFD, 9}, {9, 9}, "MPB too many data"},
        {"literaltoolong", 2, 1, {2, 1, 2, 3}, {1, 2}, "MPB too many data"},
        {"codeleft", 2, 1, {1, 5, 6, 0}, {5, 6}, "MPB too many code"},
        {"noopleft", 2, 1, {1, 5, 6, 128}, {5, 6}, "MPB too many code"},
    };
    for (const CodedCase& c : cases)
        ExpectDecodes(c, 32773);
}

TEST(PackBitsDecode, StartsEveryStripAfresh) {
    // The run of the first strip goes on past its row: warned, and the second strip starts with
    // a header byte of its own.
    TiffBuilder t = Gray(2, 2, 8, {{0xFD, 9}, {1, 4, 5}}, 1, 32773);
    const std::string path = tifftest::WriteFile("mpbstrips.tif", t.Bytes());
    const Decoded d = Decode(path);
    EXPECT_EQ(d.warnings, Warned(path, "MPB too many data"));
    EXPECT_EQ(Row(d, 1), (std::vector<std::uint16_t>{4, 5}));
}

struct FatalCase {
    const char* name;
    std::uint32_t width;
    Bytes data;
    const char* message;
};

// A one-row image whose only strip holds c.data at the very end of the file, with the given byte
// count: a count above the data's size runs into the end of the file.
void ExpectFatal(const FatalCase& c, unsigned compression, std::uint32_t byteCount) {
    TiffBuilder t = Gray(c.width, 1, 8, {{}}, 1, compression);
    t.Long(279, byteCount);
    t.Long(273, static_cast<std::uint32_t>(t.Bytes().size()));
    Bytes file = t.Bytes();
    file.insert(file.end(), c.data.begin(), c.data.end());
    const std::string path = tifftest::WriteFile(std::string(c.name) + ".tif", file);
    RowTable rows;
    EXPECT_EQ(FailureText(
                  [&] { ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr); }),
              Fatal(path, c.message))
        << c.name;
}

TEST(PackBitsDecodeFailure, StopsWhenTheStripRunsOut) {
    const FatalCase cases[] = {
        {"mpbnoheader", 1, {}, "MPB too few codes."},
        {"mpbnorepeat", 2, {0xFE}, "MPB too few codes."},
        {"mpbshortliteral", 6, {5, 1, 2}, "MPB too few codes."},
        {"mpbonlynoops", 1, {128, 128}, "MPB too few codes."},
    };
    for (const FatalCase& c : cases)
        ExpectFatal(c, 32773, static_cast<std::uint32_t>(c.data.size()));
    // A byte count beyond the end of the file.
    ExpectFatal({"mpbpastend", 6, {5, 1, 2}, "unexpected end of file."}, 32773, 1000);
}

// ---------------------------------------------------------------- LZW

TEST(LzwDecode, DecodesCodesAndWarnsAtTheStripEnd) {
    const CodedCase cases[] = {
        {"lzwclear", 4, 1, Lzw({256, 1, 2, 258, 257}), {1, 2, 1, 2}, nullptr},
        {"lzwnoclear", 2, 1, Lzw({1, 2, 257}), {1, 2}, nullptr},
        // 258 is the code being defined: the previous string plus its own first byte.
        {"lzwkwkwk", 3, 1, Lzw({256, 7, 258, 257}), {7, 7, 7}, nullptr},
        {"lzwacrossrows", 3, 2, Lzw({1, 2, 258, 258, 257}), {1, 2, 1, 2, 1, 2}, nullptr},
        {"lzwclearinside", 3, 1, Lzw({1, 2, 256, 3, 257}), {1, 2, 3}, nullptr},
        {"lzwtoomanydata", 3, 1, Lzw({256, 1, 2, 258, 257}), {1, 2, 1}, "LZW too many data"},
        {"lzwtoomanycode", 2, 1, Lzw({1, 2, 3, 257}), {1, 2}, "LZW too many code"},
        {"lzwnoend", 2, 1, Lzw({1, 2}), {1, 2}, "LZW missing end of code"},
    };
    for (const CodedCase& c : cases)
        ExpectDecodes(c, 5);
}

// n byte codes that define n - 1 table entries, then the end code.
std::vector<unsigned> ByteCodes(unsigned n) {
    std::vector<unsigned> codes;
    for (unsigned i = 0; i < n; ++i)
        codes.push_back((i * 7) & 0xFF);
    return codes;
}

TEST(LzwDecode, AcceptsTheEndCodeAtTheWidthOrOneBitNarrower) {
    // 300 codes: the next free code passes 511, so the width is 10 when the end code comes.
    std::vector<unsigned> codes = ByteCodes(300);
    std::vector<std::uint16_t> expected(codes.begin(), codes.end());
    codes.push_back(257);
    ExpectDecodes({"lzwend10", 300, 1, Lzw(codes), expected, nullptr}, 5);
    ExpectDecodes({"lzwend9", 300, 1, Lzw(codes, true), expected, nullptr}, 5);
}

TEST(LzwDecode, ReadsTwelveBitCodesAfterAClearAtAFullTable) {
    // 3839 byte codes fill the table up to code 4095; a clear code lets the stream go on.
    std::vector<unsigned> codes = ByteCodes(3839);
    std::vector<std::uint16_t> expected(codes.begin(), codes.end());
    codes.insert(codes.end(), {256, 9, 257});
    expected.push_back(9);
    ExpectDecodes({"lzwfull", 3840, 1, Lzw(codes), expected, nullptr}, 5);
}

TEST(LzwDecodeFailure, RejectsBadCodeStreams) {
    std::vector<unsigned> full = ByteCodes(3839);
    full.push_back(9);  // no clear code at a full table
    const FatalCase cases[] = {
        {"lzwtoofew", 2, Lzw({1}), "LZW too few codes."},
        {"lzwempty", 1, {}, "LZW too few codes."},
        {"lzwearlyend", 2, Lzw({1, 257}), "LZW unexpected end of code."},
        {"lzwbadfirst", 2, Lzw({258, 257}), "LZW bad code after clear code."},
        {"lzwbadafterclear", 2, Lzw({1, 256, 300}), "LZW bad code after clear code."},
        {"lzwbadcode", 4, Lzw({1, 2, 260, 257}), "LZW bad code."},
        {"lzwnoclear", 3840, Lzw(full), "LZW missing clear code."},
    };
    for (const FatalCase& c : cases)
        ExpectFatal(c, 5, static_cast<std::uint32_t>(c.data.size()));
    ExpectFatal({"lzwpastend", 2, Lzw({1}), "unexpected end of file."}, 5, 100);
}

// A plain TIFF LZW encoder (test only): a clear code first, a clear code instead of a new entry
// when the table is full, the end code last. Codes are packed by Lzw() above.
std::vector<unsigned> LzwEncode(const Bytes& data) {
    std::vector<unsigned> codes = {256};
    std::unordered_map<std::uint32_t, unsigned> table;
    unsigned next = 258;
    unsigned w = data.at(0);
    for (std::size_t i = 1; i < data.size(); ++i) {
        const std::uint32_t key = w << 8 | data[i];
        const auto it = table.find(key);
        if (it != table.end()) {
            w = it->second;
            continue;
        }
        codes.push_back(w);
        if (next < 4096) {
            table[key] = next++;
        } else {
            codes.push_back(256);
            table.clear();
            next = 258;
        }
        w = data[i];
    }
    codes.push_back(w);
    codes.push_back(257);
    return codes;
}

// Bytes with long repeats and fresh runs, so strings grow long and the table fills and clears.
Bytes Repetitive(std::size_t size, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        if (out.size() > 64 && rng() % 3 != 0) {
            const std::size_t from = rng() % (out.size() - 32);
            const std::size_t length = 1 + rng() % std::min<std::size_t>(out.size() - from, 3000);
            for (std::size_t k = 0; k < length && out.size() < size; ++k)
                out.push_back(out[from + k]);
        } else {
            const std::size_t length = 1 + rng() % 40;
            for (std::size_t k = 0; k < length && out.size() < size; ++k)
                out.push_back(static_cast<std::uint8_t>(rng() % 7 * 37));
        }
    }
    return out;
}

TEST(LzwDecode, RoundTripsLongStripsInOneOrManyStrips) {
    // 1000 x 700 bytes (more than the decoder's window); strings cross rows, strips and windows.
    constexpr std::uint32_t width = 1000, height = 700;
    const Bytes data = Repetitive(std::size_t{width} * height, 99);
    for (std::uint32_t rowsPerStrip : {height, 97u}) {
        std::vector<Bytes> strips;
        for (std::uint32_t y = 0; y < height; y += rowsPerStrip) {
            const std::uint32_t rows = std::min(rowsPerStrip, height - y);
            strips.push_back(Lzw(LzwEncode(Bytes(data.begin() + std::size_t{y} * width,
                                                 data.begin() + std::size_t{y + rows} * width))));
        }
        TiffBuilder t = Gray(width, height, 8, strips, rowsPerStrip, 5);
        const Decoded d = Decode(tifftest::WriteFile("lzwlong.tif", t.Bytes()));
        EXPECT_EQ(d.warnings, "");
        ASSERT_EQ(d.rows.size(), height);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                ASSERT_EQ(d.rows[y][x], data[std::size_t{y} * width + x])
                    << "row " << y << " column " << x << " rows per strip " << rowsPerStrip;
    }
}

// ---------------------------------------------------------------- large offsets and sizes

// ---------------------------------------------------------------- Deflate and Zstd

Bytes Zlib(const Bytes& data) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    Bytes out(libdeflate_zlib_compress_bound(c, data.size()));
    out.resize(libdeflate_zlib_compress(c, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

Bytes Zstd(const Bytes& data) {
    Bytes out(ZSTD_compressBound(data.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3));
    return out;
}

// The first block of a one-segment frame with a one-byte content size gets the reserved block
// type 3 (bits 1-2 of the block header's first byte, after the 6 bytes of the frame header).
Bytes ReservedBlock(Bytes frame) {
    frame.at(6) |= 0x06;
    return frame;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A 4 x 2 8-bit image in one strip that must decode to 8 bytes: the strip's stream decodes to
// too few, too many or exactly 8 bytes, is followed by stray bytes, is corrupt, or is cut by the
// end of the file (its byte count then runs past the end).
TEST(UnpackedDecode, ChecksTheStripLikeAnLzwStrip) {
    const Bytes eight{1, 2, 3, 4, 5, 6, 7, 8}, ten{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const Bytes six{1, 2, 3, 4, 5, 6};
    struct Case {
        const char* name;
        unsigned compression;
        Bytes strip;
        const char* warning;  // null: none
        const char* message;  // null: the image is read
        bool cut;
    };
    const Case cases[] = {
        {"zlibexact", 8, Zlib(eight), nullptr, nullptr, false},
        {"zlibold", 32946, Zlib(eight), nullptr, nullptr, false},
        {"zlibshort", 8, Zlib(six), nullptr, "Deflate too few codes.", false},
        {"zliblong", 8, Zlib(ten), "Deflate too many data", nullptr, false},
        {"zlibstray", 8, Cat(Zlib(eight), {0, 0}), "Deflate too many code", nullptr, false},
        {"zlibcorrupt",
         8,
         {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF},
         nullptr,
         "Deflate data corrupt.",
         false},
        {"zlibcut", 8, Zlib(eight), nullptr, "unexpected end of file.", true},
        {"zlibempty", 8, {}, nullptr, "Deflate data corrupt.", false},  // a fuzzing find
        {"zstdempty", 50000, {}, nullptr, "Zstd too few codes.", false},
        {"zstdexact", 50000, Zstd(eight), nullptr, nullptr, false},
        {"zstdtwoframes", 50000, Cat(Zstd(six), Zstd({7, 8})), nullptr, nullptr, false},
        {"zstdshort", 50000, Zstd(six), nullptr, "Zstd too few codes.", false},
        {"zstdlong", 50000, Zstd(ten), "Zstd too many data", nullptr, false},
        {"zstdstray", 50000, Cat(Zstd(eight), {0, 0, 0, 0}), "Zstd too many code", nullptr, false},
        {"zstdcorrupt", 50000, ReservedBlock(Zstd(eight)), nullptr, "Zstd data corrupt.", false},
        {"zstdcut", 50000, Zstd(eight), nullptr, "unexpected end of file.", true},
    };
    for (const Case& c : cases) {
        // The strip goes after the directory, so that a cut strip ends the file; setting a LONG
        // in place changes no size.
        TiffBuilder t = Gray(4, 2, 8, {}, 2, c.compression);
        t.Long(273, 0).Long(279, static_cast<std::uint32_t>(c.strip.size()));
        t.Long(273, static_cast<std::uint32_t>(t.Bytes().size()));
        std::vector<std::uint8_t> file = t.Bytes();
        Bytes strip = c.strip;
        if (c.cut) strip.resize(strip.size() - 3);
        file.insert(file.end(), strip.begin(), strip.end());
        const std::string path = tifftest::WriteFile(std::string(c.name) + ".tif", file);
        if (c.message != nullptr) {
            RowTable rows;
            EXPECT_EQ(FailureText([&] {
                          ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr,
                                        nullptr);
                      }),
                      Fatal(path, c.message))
                << c.name;
            continue;
        }
        const Decoded d = Decode(path);
        EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{1, 2, 3, 4})) << c.name;
        EXPECT_EQ(Row(d, 1), (std::vector<std::uint16_t>{5, 6, 7, 8})) << c.name;
        EXPECT_EQ(d.warnings, c.warning ? Warned(path, c.warning) : "") << c.name;
    }
}

// ---------------------------------------------------------------- the header pass

// A header claiming 65535 x 65535 samples over a few bytes of data: the header pass gives the
// message loading gives, for every compression; an unknown one and a sound file pass.
TEST(HeaderPass, GivesTheLoadingMessageForStripsTooShortForTheClaim) {
    const Bytes eight{1, 2, 3, 4, 5, 6, 7, 8};
    const struct {
        const char* name;
        unsigned compression;
        Bytes strip;
        const char* message;  // null: the header pass does not fail
    } cases[] = {
        {"none", 1, eight, "too few codes."},
        {"packbits", 32773, {0xFE, 7}, "MPB too few codes."},
        {"lzw", 5, Lzw({256, 1, 2, 258, 259}), "LZW too few codes."},
        {"deflate", 8, Zlib(eight), "Deflate too few codes."},
        {"zstd", 50000, Zstd(eight), "Zstd too few codes."},
        {"unknown", 12345, eight, nullptr},
    };
    for (const auto& c : cases) {
        const std::string path =
            tifftest::WriteFile(std::string("claim_") + c.name + ".tif",
                                Gray(65535, 65535, 8, {c.strip}, 65535, c.compression).Bytes());
        EXPECT_EQ(CheckText(path), c.message ? Fatal(path, c.message) : "(no failure)") << c.name;
        if (c.message) {
            EXPECT_EQ(LoadText(path), Fatal(path, c.message)) << c.name;
        }
    }
    // A byte count past the end of the file is cut there; strip tables loading would refuse.
    const struct {
        const char* name;
        void (*edit)(TiffBuilder&);
        const char* message;
    } tables[] = {
        {"pastend", [](TiffBuilder& t) { t.Long(279, 100000); }, "unexpected end of file."},
        {"nooffsets", [](TiffBuilder& t) { t.Remove(273); }, "missing strip offset."},
        {"fewcounts", [](TiffBuilder& t) { t.Long(278, 2); }, "bad number of strip offset."},
        {"tablepastend",
         [](TiffBuilder& t) {
             t.Long(278, 1).Raw(273, LONG, 65535, {8, 0, 0, 0});
         },
         "unexpected end of file."},
        {"badfield", [](TiffBuilder& t) { t.Remove(279).Short(262, 9); },
         "bad photometric interpretation."},
    };
    for (const auto& c : tables) {
        TiffBuilder t = Gray(65535, 65535, 8, {eight}, 65535);
        c.edit(t);
        const std::string path =
            tifftest::WriteFile(std::string("claim_") + c.name + ".tif", t.Bytes());
        EXPECT_EQ(CheckText(path), Fatal(path, c.message)) << c.name;
    }
    for (const char* sound : {"g8_lzw.tif", "g16_zstd_be.tif", "im12_zip_be.tif", "im1.tif"}) {
        std::int32_t w = 0, h = 0, b = 0;
        CheckImageFile((DataDir + sound).c_str(), &w, &h, &b);
        EXPECT_EQ(w * 10000 + h, 37 * 10000 + 23) << sound;
    }
}

// Tiled images: the tile fields are checked like the strip fields, and a tile too short for its
// rows gives the message of its compression in the header pass as in loading.
TEST(TileDecode, ChecksTheTileFields) {
    const Bytes tile(16 * 16, 7);
    const struct {
        const char* name;
        void (*edit)(TiffBuilder&);
        const char* message;  // null: read, every sample 7
    } cases[] = {
        {"sound", [](TiffBuilder&) {}, nullptr},
        {"nowidth", [](TiffBuilder& t) { t.Remove(322); }, "bad tile size."},
        {"nooffsets", [](TiffBuilder& t) { t.Remove(324); }, "missing tile offset."},
        {"twocounts",
         [](TiffBuilder& t) {
             t.Set(325, LONG, {256, 256});
         },
         "bad number of tile bytes count."},
        {"short", [](TiffBuilder& t) { t.Long(325, 200); }, "too few codes."},
        {"long", [](TiffBuilder& t) { t.Long(323, 64); }, "too few codes."},
    };
    for (const auto& c : cases) {
        TiffBuilder t = Gray(10, 12, 8, {}, 12);
        t.Remove(273).Remove(278).Remove(279);
        t.Long(322, 16).Long(323, 16).Long(324, t.Data(tile)).Long(325, 256);
        c.edit(t);
        const std::string path =
            tifftest::WriteFile(std::string("tile_") + c.name + ".tif", t.Bytes());
        if (c.message == nullptr) {
            const Decoded d = Decode(path);
            ASSERT_EQ(d.rows.size(), 12u);
            EXPECT_EQ(Row(d, 11), std::vector<std::uint16_t>(10, 7));
            EXPECT_EQ(CheckText(path), "(no failure)");
            continue;
        }
        EXPECT_EQ(LoadText(path), Fatal(path, c.message)) << c.name;
        EXPECT_EQ(CheckText(path), Fatal(path, c.message)) << c.name;
    }
}

// A real slice with one byte of its height flipped (23 becomes 268,435,479 rows): its strip
// table no longer matches, which the header pass reports as loading would.
TEST(HeaderPass, ReportsARealSliceWithAFlippedHeightByte) {
    std::string bytes = ReadFile(DataDir + "g8_tifffile_deflate.tif");
    ASSERT_EQ(bytes[30], 23);  // ImageLength, a LONG in the directory's second entry
    bytes[33] = static_cast<char>(bytes[33] ^ 0x10);
    const std::string path =
        tifftest::WriteFile("flipped.tif", std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    EXPECT_EQ(CheckText(path), Fatal(path, "bad number of strip offset."));
}

TEST(HeaderPass, KeepsTheWarningsLoadingGivesBeforeTheFailure) {
    // Two strips: the first has a byte too many, the second too few for its row.
    const TiffBuilder t = Gray(4, 3, 8, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {5, 6}}, 2);
    const std::string path = tifftest::WriteFile("warnfirst.tif", t.Bytes());
    std::string warnings;
    EXPECT_EQ(FailureText([&] {
                  std::int32_t w = 0, h = 0, b = 0;
                  CheckImageFile(path.c_str(), &w, &h, &b, &warnings);
              }),
              Fatal(path, "too few codes."));
    EXPECT_EQ(warnings, Warned(path, "too many codes"));
}

TEST(LargeFile, ReadsDirectoryValuesAndStripsAbove2To31) {
    // A sparse file: the directory at 2^31 + 8, the description at 2^32 - 16, the strip at 3 GiB.
    constexpr std::uint32_t ifdAt = 0x80000008u, textAt = 0xFFFFFFF0u, stripAt = 0xC0000000u;
    TiffBuilder t = Gray(2, 2, 8, {}, 2);
    t.Long(273, stripAt).Long(279, 4);
    t.Raw(270, ASCII, 6,
          {textAt & 0xFF, (textAt >> 8) & 0xFF, (textAt >> 16) & 0xFF, textAt >> 24});
    const Bytes built = t.Bytes();
    const std::uint32_t builtIfd = built[4] | built[5] << 8 | built[6] << 16 | built[7] << 24;
    const Bytes header = {
        'I', 'I', 42, 0, ifdAt & 0xFF, (ifdAt >> 8) & 0xFF, (ifdAt >> 16) & 0xFF, ifdAt >> 24};
    const Bytes ifd(built.begin() + builtIfd, built.end());
    const Bytes strip = {1, 2, 3, 4};
    const Bytes text = {'l', 'a', 'r', 'g', 'e', 0};
    const std::string path = tifftest::WriteFile("large.tif", header);
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    const auto put = [f](std::uint32_t at, const Bytes& b) {
        return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0 &&
               std::fwrite(b.data(), 1, b.size(), f) == b.size();
    };
    const bool written = put(ifdAt, ifd) && put(stripAt, strip) && put(textAt, text);
    std::fclose(f);
    if (!written) {
        std::remove(path.c_str());
        GTEST_SKIP() << "no sparse 4 GiB file possible here";
    }
    std::unique_ptr<char[]> description;
    ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr, &description);
    ASSERT_NE(description, nullptr);
    EXPECT_STREQ(description.get(), "large");
    const Decoded d = Decode(path);
    std::remove(path.c_str());
    EXPECT_EQ(d.warnings, "");
    EXPECT_EQ(Row(d, 0), (std::vector<std::uint16_t>{1, 2}));
    EXPECT_EQ(Row(d, 1), (std::vector<std::uint16_t>{3, 4}));
}

// Allocation failures are made real by a memory limit set inside a death test's child: an
// address-space limit, or under AddressSanitizer (which reserves far more address space than any
// limit would allow) its largest allocation, set below.
}  // namespace

#if VOXWRAP_ASAN
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=3072";
}
#endif

namespace {

constexpr std::uint64_t GiB = std::uint64_t{1} << 30;

// The body of a death test's child: sets the memory limit, runs call and prints the text of its
// failure, then leaves without running exit handlers (they would remove the parent's scratch
// files).
[[noreturn]] void PrintFailureUnderLimit(std::uint64_t bytes, const std::function<void()>& call) {
    if (!VOXWRAP_ASAN) {
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_AS, &limit);
    }
    std::fprintf(stderr, "%s\n", FailureText(call).c_str());
    std::_Exit(0);
}

// AddressSanitizer may note the failed allocation on a line before the failure's text.
void ExpectFailureUnderLimit(std::uint64_t bytes, const std::function<void()>& call,
                             const std::string& text) {
    EXPECT_EXIT(PrintFailureUnderLimit(bytes, call), ::testing::ExitedWithCode(0),
                "^(==[0-9]+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes\n)?" +
                    Quote(text) + "\n$");
}

TEST(AllocationDeathTest, ReportsTheRowsThatCannotBeHad) {
    RowTable rows;
    // One row of 2^31 - 1 samples (4 GiB).
    const std::string wide =
        tifftest::WriteFile("widerow.tif", Gray(2147483647u, 1, 8, {{1}}, 1).Bytes());
    ExpectFailureUnderLimit(
        3 * GiB, [&] { ReadImageFile(wide.c_str(), nullptr, nullptr, nullptr, &rows, nullptr); },
        Fatal(wide, "no allocatable memory for cell."));
    // A row table of 2^31 - 1 pointers (16 GiB), before the strip tables are looked at.
    TiffBuilder t = Gray(1, 2147483647u, 8, {{1}}, 1);
    t.Remove(273);
    const std::string tall = tifftest::WriteFile("tall.tif", t.Bytes());
    ExpectFailureUnderLimit(
        3 * GiB, [&] { ReadImageFile(tall.c_str(), nullptr, nullptr, nullptr, &rows, nullptr); },
        Fatal(tall, "no allocatable memory for cell."));
}

TEST(AllocationDeathTest, ADescriptionBeyondTheFileCostsNothing) {
    // Count 2^32 - 1 in a file of a few bytes: missing, before 4 GiB are asked for.
    TiffBuilder t;
    t.Raw(270, ASCII, 0xFFFFFFFFu, {8, 0, 0, 0});
    const std::string path = tifftest::WriteFile("hugedescription.tif", t.Bytes());
    std::unique_ptr<char[]> text;
    ExpectFailureUnderLimit(
        3 * GiB, [&] { ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, nullptr, &text); },
        Fatal(path, "missing image description."));
}

TEST(AllocationDeathTest, AStripTableBeyondTheFileCostsNothing) {
    if (VOXWRAP_ASAN)
        GTEST_SKIP() << "needs an address-space limit between the row table and the strip table";
    std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
    int mode = 0;
    if (overcommit >> mode && mode == 2) GTEST_SKIP() << "a 16 GiB reservation needs overcommit";
    // 2^31 - 1 strips of one row: the row table takes 16 GiB of address space (never touched);
    // the offset table would take 8 GiB more, over the 20 GiB limit, but the file holds one
    // offset, which is found before the table is allocated.
    TiffBuilder t = Gray(1, 2147483647u, 8, {{1}}, 1);
    const std::string path = tifftest::WriteFile("manystrips.tif", t.Bytes());
    RowTable rows;
    ExpectFailureUnderLimit(
        20 * GiB, [&] { ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr); },
        Fatal(path, "bad number of strip offset."));
}

// The claim of 65535 x 65535 samples is checked within a small address space, in process and
// through the program: a lying last slice of a good stack stops the run before any grid for the
// claimed size is allocated, with the reader's own message.
TEST(AllocationDeathTest, HeaderPassNeedsNoMemoryForTheClaim) {
    const std::string path = tifftest::WriteFile(
        "claim_limit.tif", Gray(65535, 65535, 8, {{1, 2, 3, 4}}, 65535).Bytes());
    ExpectFailureUnderLimit(
        256 << 20,
        [&] {
            std::int32_t w = 0, h = 0, b = 0;
            CheckImageFile(path.c_str(), &w, &h, &b);
        },
        Fatal(path, "too few codes."));
}

TEST(HeaderPass, ALyingLastSliceStopsTheRunUnderAMemoryLimit) {
    if (VOXWRAP_ASAN) GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
    const std::string dir = TempDir();
    const std::string good = ReadFile(DataDir + "g8_none_le.tif");
    for (const char* name : {"a.tif", "b.tif", "c.tif"})
        ::WriteFile(dir + "/" + name, good);
    const Bytes lie = Gray(65535, 65535, 8, {{1, 2, 3, 4}}, 65535).Bytes();
    ::WriteFile(dir + "/z.tif", std::string(lie.begin(), lie.end()));
    const RunResult r = RunVoxwrap({dir, "-", "1-255", dir + "/out.stl"}, "", [] {
        const rlimit limit{256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir + "/z.tif : too few codes.\n");
    // The lying file alone, named inline.
    const RunResult alone = RunVoxwrap({dir, "-z.tif", "1-255", dir + "/out.stl"}, "", [] {
        const rlimit limit{256u << 20, 256u << 20};
        setrlimit(RLIMIT_AS, &limit);
    });
    EXPECT_EQ(alone.status, 1);
    EXPECT_EQ(alone.err, dir + "/z.tif : too few codes.\n");
}

// Every count a directory entry gives is bounded by the bytes the file holds before anything is
// allocated or added: the largest counts of both flavours (2^32 - 1, and BigTIFF's 2^40 and
// 2^64 - 1, whose + 1 wraps to 0) and the first count past the file's end, in every field the
// reader sizes something by. Each file is read every way the program reads one.
TEST(CountBound, EveryCountIsBoundedByTheFile) {
    const std::string kNone = "(no failure)";
    const std::uint64_t past = 0;  // stands for "one more than the bytes from the value's offset"
    const struct {
        std::uint16_t tag, type;
        std::string load;  // ReadImageFile with rows and description; "" for success
    } fields[] = {
        {270, ASCII, "missing image description."},
        {273, SHORT, "bad number of strip offset."},
        {273, LONG, "bad number of strip offset."},
        {273, tifftest::LONG8, "bad number of strip offset."},
        {279, LONG, "bad number of strip bytes count."},
        {256, LONG, "missing image size."},
        {282, tifftest::RATIONAL, ""},  // not one rational: no resolution
    };
    int file = 0;
    for (const bool bigTiff : {false, true}) {
        for (const bool bigEndian : {false, true}) {
            for (const auto& f : fields) {
                if (f.type == tifftest::LONG8 && !bigTiff) continue;
                for (const std::uint64_t count : {past, std::uint64_t{0xFFFFFFFFu},
                                                  std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
                    if (!bigTiff && count > 0xFFFFFFFFu) continue;
                    // A 4 x 3 image of one strip, an ImageJ description and a resolution.
                    TiffBuilder t(bigEndian, bigTiff);
                    const std::uint32_t strip = t.Data(Bytes(12, 7));
                    t.Long(256, 4).Long(257, 3).Short(258, 8).Short(262, 1).Long(273, strip);
                    t.Long(278, 3).Long(279, 12);
                    t.Ascii(270, "ImageJ=1.54f\nimages=1\nunit=mm\nspacing=2\n");
                    Bytes rational;
                    t.Put32(rational, 10);
                    t.Put32(rational, 1);
                    Bytes at;  // BigTIFF holds the eight bytes in the value field itself
                    if (bigTiff) {
                        at = rational;
                    } else {
                        t.PutOffset(at, t.Data(rational));
                    }
                    t.Raw(282, tifftest::RATIONAL, 1, at).Raw(283, tifftest::RATIONAL, 1, at);
                    // The entry under test points at offset 8; past counts the bytes from there.
                    Bytes field;
                    t.PutOffset(field, 8);
                    const std::uint64_t size = t.Bytes().size();
                    const std::uint64_t n = count != past ? count
                                                          : (size - 8) / (f.type == ASCII   ? 1
                                                                          : f.type == SHORT ? 2
                                                                                            : 4) +
                                                                1;
                    t.Raw(f.tag, f.type, n, field);
                    const std::string path =
                        tifftest::WriteFile("count" + std::to_string(file++) + ".tif", t.Bytes());
                    SCOPED_TRACE(path + " tag " + std::to_string(f.tag) + " count " +
                                 std::to_string(n));
                    const std::string load = FailureText([&] {
                        std::int32_t w = 0, h = 0, b = 0;
                        RowTable rows;
                        std::unique_ptr<char[]> text;
                        std::string warnings;
                        ReadImageFile(path.c_str(), &w, &h, &b, &rows, &text, &warnings);
                    });
                    EXPECT_EQ(load, f.load.empty() ? kNone : Fatal(path, f.load));
                    // The header pass and the page list fail as loading does, or list the one
                    // image.
                    if (f.tag != 270) {
                        EXPECT_EQ(CheckText(path), load);
                    }
                    std::vector<TiffPage> pages;
                    EXPECT_EQ(FailureText([&] { pages = ListTiffPages(path.c_str()); }), kNone);
                    EXPECT_EQ(pages.size(), 1u);
                    Resolution r;
                    EXPECT_EQ(FailureText([&] { ReadResolution(path.c_str(), &r); }), kNone);
                    EXPECT_EQ(r.xNum, f.tag == 282 ? 0u : 10u);
                }
            }
        }
    }
}

// ImageJ's one-directory stack counts its images by the bytes of the first: byte counts whose sum
// wraps around (2^64 - 1 + 13 = 12, the image's own size) do not make a stack of it.
TEST(CountBound, ImageJStripBytesCannotWrapAround) {
    for (const bool bigEndian : {false, true}) {
        TiffBuilder t(bigEndian, true);
        t.Data(Bytes(8, 0));
        const std::uint32_t strip = t.Data(Bytes(24, 7));  // two images of 4 x 3 bytes
        t.Long(256, 4).Long(257, 3).Short(258, 8).Short(262, 1).Long(278, 2);
        t.Set(273, tifftest::LONG8, {strip, strip - 1});  // the second strip at strip + 2^64 - 1
        Bytes counts;
        t.Put64(counts, ~std::uint64_t{0});
        t.Put64(counts, 13);
        Bytes at;
        t.PutOffset(at, t.Data(counts));
        t.Raw(279, tifftest::LONG8, 2, at);
        t.Ascii(270, "ImageJ=1.54f\nimages=2\n");
        const std::string path =
            tifftest::WriteFile(bigEndian ? "wrapmm.tif" : "wrapii.tif", t.Bytes());
        EXPECT_EQ(ListTiffPages(path.c_str()).size(), 1u);
    }
}

}  // namespace
