#include "slices/rsi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "slices/slice_files.h"
#include "tiff/tiff_builder.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

using Pattern = std::function<std::uint16_t(int x, int y)>;

// The sample formulas of tests/data/slices/make_fixtures.sh.
struct Fixture {
    const char* file;
    int w, h;
    Pattern sample;
};
const Fixture G100x80{"g100x80.tif", 100, 80,
                      [](int x, int y) { return std::uint16_t((3 * x + 5 * y) % 255 + 1); }};
const Fixture G90x120{"g90x120.tif", 90, 120,
                      [](int x, int y) { return std::uint16_t(1000 + 97 * x + 389 * y); }};
const Fixture G100x120{"g100x120.tif", 100, 120,
                       [](int x, int y) { return std::uint16_t((x + 2 * y) % 251 + 1); }};
const Fixture B10x6{"b10x6.tif", 10, 6,
                    [](int x, int y) { return std::uint16_t((x + y) % 2 == 0 ? 1 : 0); }};

// Every row a separate allocation, so a write past a row's end is caught by the sanitizers
// instead of landing in the next row.
struct Grid {
    std::vector<std::vector<std::uint16_t>> data;
    std::vector<std::uint16_t*> rows;
    Grid(int W, int H, std::uint16_t fill) : data(H, std::vector<std::uint16_t>(W, fill)) {
        for (auto& row : data)
            rows.push_back(row.data());
    }
};

void Load(const Fixture& f, int W, int H, Grid& grid) {
    ReadSliceImage(FixturePath(f.file).c_str(), W, H, grid.rows.data());
}

// The grid must hold f's samples at the top left and 0 everywhere else.
void ExpectPlaced(const Grid& grid, const Fixture& f) {
    int wrong = 0;
    for (std::size_t y = 0; y < grid.data.size(); ++y)
        for (std::size_t x = 0; x < grid.data[y].size(); ++x) {
            const bool inside = int(x) < f.w && int(y) < f.h;
            const std::uint16_t want = inside ? f.sample(int(x), int(y)) : 0;
            if (grid.data[y][x] != want && ++wrong <= 5)
                ADD_FAILURE() << f.file << " sample (" << x << ", " << y << ") is "
                              << grid.data[y][x] << ", want " << want;
        }
    EXPECT_EQ(wrong, 0);
}

TEST(SliceLoad, PlacesTheImageTopLeftAndPadsWithZeros) {
    const struct {
        const Fixture& fixture;
        int W, H;
    } cases[] = {
        {G100x120, 100, 120},  // exactly the grid: no padding
        {G90x120, 100, 120},   // columns 90 to 99 padded
        {G100x80, 100, 120},   // rows 80 to 119 padded
        {G100x80, 130, 150},   // both
        {B10x6, 100, 120},     // 1 bit per sample
        {B10x6, 10, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fixture.file) + " in " + std::to_string(c.W) + " x " +
                     std::to_string(c.H));
        Grid grid(c.W, c.H, 0xBEEF);  // stale content everywhere
        Load(c.fixture, c.W, c.H, grid);
        ExpectPlaced(grid, c.fixture);
    }
}

TEST(SliceLoad, LeavesNothingOfAnEarlierLargerSlice) {
    Grid grid(100, 120, 0);
    Load(G90x120, 100, 120, grid);
    ExpectPlaced(grid, G90x120);
    Load(G100x80, 100, 120, grid);
    ExpectPlaced(grid, G100x80);
    Load(B10x6, 100, 120, grid);
    ExpectPlaced(grid, B10x6);
    Load(G100x120, 100, 120, grid);
    ExpectPlaced(grid, G100x120);
}

TEST(SliceLoad, HandsTheReaderWarningsToTheSink) {
    // A 2 x 2 8-bit strip with one byte too many: the slice loads and the warning is collected.
    tifftest::TiffBuilder t;
    const std::uint32_t strip = t.Data({1, 2, 3, 4, 99});
    t.Long(256, 2).Long(257, 2).Short(258, 8).Short(259, 1).Short(262, 1).Long(273, strip);
    t.Short(277, 1).Long(278, 2).Long(279, 5);
    const std::string path = tifftest::WriteFile("extra.tif", t.Bytes());
    Grid grid(3, 2, 0xBEEF);
    std::string warnings;
    ReadSliceImage(path.c_str(), 3, 2, grid.rows.data(), &warnings);
    EXPECT_EQ(warnings, path + " : too many codes (warning).\n");
    EXPECT_EQ(grid.data, (std::vector<std::vector<std::uint16_t>>{{1, 2, 0}, {3, 4, 0}}));
}

TEST(SliceLoadFailure, RefusesASliceLargerThanTheGrid) {
    const std::string path = FixturePath(G100x80.file);
    const struct {
        int W, H;
    } cases[] = {{99, 80}, {100, 79}, {99, 200}, {200, 79}, {0, 0}, {-1, 80}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.W) + " x " + std::to_string(c.H));
        Grid grid(c.W > 0 ? c.W : 0, c.H > 0 ? c.H : 0, 0);
        EXPECT_EQ(FailureText([&] { ReadSliceImage(path.c_str(), c.W, c.H, grid.rows.data()); }),
                  path + " : bad image size.");
    }
}

TEST(SliceLoadFailure, NamesAPathOfAnyLength) {
    const std::string dir = TempDir();
    PutFixture(dir, "a.tif", G100x80.file);
    std::string path = dir;
    for (int i = 0; i < 1500; ++i)  // far past a thousand characters
        path += "/.";
    path += "/a.tif";
    Grid grid(50, 50, 0);
    EXPECT_EQ(FailureText([&] { ReadSliceImage(path.c_str(), 50, 50, grid.rows.data()); }),
              path + " : bad image size.");
}

TEST(SliceLoadFailure, PassesOnTheReaderMessages) {
    const std::string dir = TempDir();
    WriteFile(dir + "/text.tif", "not an image at all\n");
    Grid grid(10, 10, 0);
    EXPECT_EQ(
        FailureText([&] { ReadSliceImage((dir + "/text.tif").c_str(), 10, 10, grid.rows.data()); }),
        dir + "/text.tif : bad magic number.");
    EXPECT_EQ(FailureText([&] {
                  ReadSliceImage((dir + "/missing.tif").c_str(), 10, 10, grid.rows.data());
              }),
              dir + "/missing.tif : file not found.");
}

}  // namespace
