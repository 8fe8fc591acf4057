// ReadImageFile against files written by real encoders (tests/data/tiff, made by make_fixtures.sh)
// and against malformed files built byte by byte below.
#include "tiff/rif.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tiff/tiff_builder.h"

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
        FixtureCase{"multipage.tif", 8, nullptr}),
    [](const ::testing::TestParamInfo<FixtureCase>& param) {
        std::string name = param.param.file;
        name = name.substr(0, name.find('.'));
        std::string out;
        for (char ch : name)
            if (ch != '_') out += ch;
        return out;
    });

TEST(FixtureDescription, ReadsTheTextAndAddsAZeroByte) {
    std::unique_ptr<char[]> text;
    ReadImageFile((DataDir + "g8_lzw.tif").c_str(), nullptr, nullptr, nullptr, nullptr, &text);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text.get(), "{\"shape\": [23, 37]}");
    ReadImageFile((DataDir + "im4.tif").c_str(), nullptr, nullptr, nullptr, nullptr, &text);
    EXPECT_EQ(text, nullptr);  // ImageMagick writes none
}

}  // namespace
