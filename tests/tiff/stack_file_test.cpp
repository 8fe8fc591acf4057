// Stack files: a TIFF file whose full-resolution images are the slices, given as the directory;
// and the refusal of such a file inside a slice list. The fixtures are written by tifffile and
// tiffcp (tests/data/tiff/make_codec_fixtures.sh).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "slices/csi.h"
#include "support.h"
#include "tiff/rif.h"
#include "tiff/tiff_builder.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

const std::string DataDir = std::string(VOXWRAP_SOURCE_DIR) + "/tests/data/tiff/";

std::vector<std::vector<std::uint16_t>> Samples(const std::string& path,
                                                const TiffPage* page = nullptr) {
    std::int32_t w = 0, h = 0;
    RowTable rows;
    ReadImageFile(path.c_str(), &w, &h, nullptr, &rows, nullptr, nullptr, page);
    std::vector<std::vector<std::uint16_t>> out;
    for (const auto& row : rows)
        out.emplace_back(row.get(), row.get() + w);
    return out;
}

TEST(StackFile, ListsTheFullResolutionImagesInFileOrder) {
    const struct {
        const char* file;
        std::size_t pages;
    } cases[] = {{"stack_pages.tif", 5},       {"stack_imagej.tif", 5},
                 {"stack_zip.tif", 5},         {"stack_reduced.tif", 5},
                 {"stack_sizes.tif", 3},       {"multipage.tif", 2},
                 {"stack_big.tif", 5},         {"stack_imagej_onedir.tif", 5},
                 {"stack_big_reduced.tif", 5}, {"g8_lzw.tif", 1}};
    for (const auto& c : cases)
        EXPECT_EQ(ListTiffPages((DataDir + c.file).c_str()).size(), c.pages) << c.file;
}

// Every page of a stack file, whatever its writer, compression or the reduced-resolution images
// between, reads as the same page written alone.
TEST(StackFile, ReadsEachPageAsTheSeparateFile) {
    for (const char* file :
         {"stack_pages.tif", "stack_imagej.tif", "stack_zip.tif", "stack_reduced.tif",
          "stack_big.tif", "stack_big_reduced.tif", "stack_tiles.tif"}) {
        const std::vector<TiffPage> pages = ListTiffPages((DataDir + file).c_str());
        ASSERT_EQ(pages.size(), 5u);
        for (std::size_t k = 0; k < pages.size(); ++k) {
            const std::string alone = DataDir + "stack_page" + std::to_string(k) + ".tif";
            EXPECT_EQ(Samples(DataDir + file, &pages[k]), Samples(alone)) << file << " " << k;
        }
    }
    const std::vector<TiffPage> sizes = ListTiffPages((DataDir + "stack_sizes.tif").c_str());
    ASSERT_EQ(sizes.size(), 3u);
    const auto third = Samples(DataDir + "stack_sizes.tif", &sizes[2]);
    ASSERT_EQ(third.size(), 20u);
    ASSERT_EQ(third[0].size(), 30u);
    EXPECT_EQ(third[19][29], Samples(DataDir + "stack_page2.tif")[19][29]);
}

// A handle opens its file once: with the name removed after opening, it still lists the pages,
// checks them and delivers each page's rows as the one-call functions read them from the file.
TEST(TiffFile, ReadsEverythingFromTheOneOpening) {
    for (const char* file : {"stack_zip.tif", "stack_tiles.tif", "stack_imagej_onedir.tif"}) {
        const std::string copy = TempDir() + "/" + file;
        WriteFile(copy, ReadFile(DataDir + file));
        TiffFile handle(copy.c_str());
        std::remove(copy.c_str());
        const std::vector<TiffPage> pages = handle.Pages();
        ASSERT_EQ(pages.size(), 5u) << file;
        for (std::size_t k = 0; k < pages.size(); ++k) {
            std::int32_t w = 0, h = 0, b = 0;
            handle.Check(&pages[k], &w, &h, &b);
            std::vector<std::vector<std::uint16_t>> rows;
            handle.ReadRows(
                &pages[k],
                [&](std::int32_t, const std::uint16_t* samples, std::int32_t width) {
                    rows.emplace_back(samples, samples + width);
                },
                &w, &h);
            EXPECT_EQ(rows, Samples(DataDir + file, &pages[k])) << file << " " << k;
        }
    }
}

// ImageJ's one-directory layout counts only when the description says ImageJ and the images are
// uncompressed, one after the other and all in the file; otherwise the chain rules.
TEST(StackFile, ReadsImageJsOneDirectoryLayoutOnlyWhereItHolds) {
    const std::vector<TiffPage> pages =
        ListTiffPages((DataDir + "stack_imagej_onedir.tif").c_str());
    ASSERT_EQ(pages.size(), 5u);
    EXPECT_EQ(pages[4].ifd, pages[0].ifd);
    EXPECT_EQ(pages[4].image, 4u);
    const auto stack = [](const std::string& text, unsigned compression, std::uint32_t count) {
        std::vector<std::uint8_t> file = {'I', 'I', 42, 0, 8, 0, 0, 0};
        std::vector<std::uint8_t> entries;
        const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t n,
                               std::uint32_t value) {
            for (std::uint32_t v : {std::uint32_t{tag} | std::uint32_t{type} << 16, n, value})
                for (int k = 0; k < 4; ++k)
                    entries.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        };
        const std::uint32_t data = 8 + 2 + 9 * 12 + 4, textAt = data + 24;
        entry(256, 3, 1, 4);
        entry(257, 3, 1, 2);
        entry(258, 3, 1, 8);
        entry(259, 3, 1, compression);
        entry(262, 3, 1, 1);
        entry(270, 2, static_cast<std::uint32_t>(text.size()), textAt);
        entry(273, 4, 1, data);
        entry(278, 3, 1, 2);
        entry(279, 4, 1, count);
        file.push_back(9);
        file.push_back(0);
        file.insert(file.end(), entries.begin(), entries.end());
        file.insert(file.end(), 4, 0);
        for (int i = 0; i < 24; ++i)
            file.push_back(static_cast<std::uint8_t>(i));
        file.insert(file.end(), text.begin(), text.end());
        const std::string path = TempDir() + "/ij.tif";
        ::WriteFile(path, std::string(file.begin(), file.end()));
        return path;
    };
    const std::string three = stack("ImageJ=1.54f\nimages=3\nslices=3\n", 1, 8);
    const std::vector<TiffPage> found = ListTiffPages(three.c_str());
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(Samples(three, &found[2]),
              (std::vector<std::vector<std::uint16_t>>{{16, 17, 18, 19}, {20, 21, 22, 23}}));
    for (const std::string& path : {stack("ImageJ=1.54f\nimages=9\n", 1, 8),  // past the end
                                    stack("ImageJ=1.54f\nimages=3\n", 5, 8),  // compressed
                                    stack("ImageJ=1.54f\nimages=3\n", 1, 7),  // not the rows
                                    stack("Fiji=1\nimages=3\n", 1, 8)})       // not ImageJ
        EXPECT_EQ(ListTiffPages(path.c_str()).size(), 1u) << path;
}

TEST(StackFile, IsTheSliceListWhenGivenAsTheDirectory) {
    const std::string file = DataDir + "stack_sizes.tif";
    std::vector<TiffPage> pages;
    std::int32_t w = 0, h = 0, n = 0, b = 0;
    const std::vector<std::string> paths =
        CheckSliceImages(file.c_str(), "-", &w, &h, &n, &b, &pages);
    EXPECT_EQ(paths, std::vector<std::string>(3, file));
    EXPECT_EQ(w, 37);
    EXPECT_EQ(h, 23);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(b, 8);
    const std::vector<TiffPage> inOrder = ListTiffPages(file.c_str());
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].ifd, inOrder[0].ifd);
    EXPECT_EQ(pages[2].ifd, inOrder[2].ifd);
    CheckSliceImages(file.c_str(), "--r", nullptr, nullptr, nullptr, nullptr, &pages);
    EXPECT_EQ(pages[0].ifd, inOrder[2].ifd);
    EXPECT_EQ(pages[2].ifd, inOrder[0].ifd);
    for (const char* option : {"--n", "--rn", "names.txt", "-a.tif"}) {
        EXPECT_EQ(FailureText([&] {
                      CheckSliceImages(file.c_str(), option, nullptr, nullptr, nullptr, nullptr,
                                       &pages);
                  }),
                  file + " : is a stack file: give - (images in file order) or --r (reverse "
                         "order) as the name file.")
            << option;
    }
    // A file of reduced-resolution images only has no slice.
    tifftest::TiffBuilder reduced;
    reduced.Long(254, 1).Long(256, 2).Long(257, 2).Short(258, 8).Short(262, 1);
    reduced.Long(273, reduced.Data({1, 2, 3, 4})).Long(278, 2).Long(279, 4);
    const std::string thumbs = tifftest::WriteFile("thumbs.tif", reduced.Bytes());
    EXPECT_EQ(FailureText([&] {
                  CheckSliceImages(thumbs.c_str(), "-", nullptr, nullptr, nullptr, nullptr, &pages);
              }),
              thumbs + " : no image file name.");
    // Slices of a directory get the first image of their files.
    CheckSliceImages((DataDir + ".").c_str(), "-g8_lzw.tif im1.tif", nullptr, nullptr, nullptr,
                     nullptr, &pages);
    EXPECT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].ifd, 0u);
}

TEST(StackFile, InASliceListStopsTheRun) {
    const std::string dir = TempDir();
    ::WriteFile(dir + "/a.tif", ReadFile(DataDir + "g8_lzw.tif"));
    ::WriteFile(dir + "/b.tif", ReadFile(DataDir + "stack_reduced.tif"));
    ::WriteFile(dir + "/names.txt", "a.tif\nb.tif\n");
    const std::string message =
        dir + "/b.tif : holds 5 images; give the file itself as the directory to read it as a "
              "stack.";
    for (const std::string& source : {std::string("-a.tif b.tif"), dir + "/names.txt"}) {
        EXPECT_EQ(FailureText([&] {
                      CheckSliceImages(dir.c_str(), source.c_str(), nullptr, nullptr, nullptr,
                                       nullptr);
                  }),
                  message)
            << source;
    }
}

// End to end: a stack file gives the very STL bytes of its pages as separate files, in order and
// with --r in reverse.
TEST(StackFile, GivesTheMeshOfTheSameSlicesAsSeparateFiles) {
    const std::string dir = TempDir(), slices = TempDir();
    for (int k = 0; k < 5; ++k) {
        const std::string name = "stack_page" + std::to_string(k) + ".tif";
        ::WriteFile(slices + "/" + name, ReadFile(DataDir + name));
    }
    const auto mesh = [&](const std::string& source, const char* order) {
        const std::string out = dir + "/out.stl";
        const RunResult r = RunVoxwrap({source, order, "120-255", out});
        EXPECT_EQ(r.status, 0) << source << " " << order << ": " << r.err;
        return ReadFile(out);
    };
    const std::string separate = mesh(slices, "-"), reversed = mesh(slices, "--r");
    ASSERT_FALSE(separate.empty());
    EXPECT_TRUE(separate != reversed);  // (meshes compared as bools: no binary dump on failure)
    for (const char* file :
         {"stack_pages.tif", "stack_imagej.tif", "stack_zip.tif", "stack_reduced.tif",
          "stack_big_reduced.tif", "stack_tiles.tif", "stack_imagej_onedir.tif"}) {
        EXPECT_TRUE(mesh(DataDir + file, "-") == separate) << file;
        EXPECT_TRUE(mesh(DataDir + file, "--r") == reversed) << file;
    }
    const RunResult bad =
        RunVoxwrap({DataDir + "stack_pages.tif", "--n", "120-255", dir + "/x.stl"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, DataDir +
                           "stack_pages.tif : is a stack file: give - (images in file order) or "
                           "--r (reverse order) as the name file.\n");
}

}  // namespace
