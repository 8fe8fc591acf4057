// Signed, 32-bit and floating-point stacks, written by tifffile and recompressed by tiffcp
// (tests/data/samples/make_samples.py): the voxels each range list selects, the hulls, and what
// is refused before any slice is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sample/objects.h"
#include "sample/selection.h"
#include "support.h"
#include "tiff/rif.h"
#include "voxwrap/voxwrap.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

const std::string kData = SourcePath("tests/data/samples") + "/";

struct CountRow {
    std::string file, ranges;
    std::int64_t voxels = 0;
};

// counts.txt: "file ranges voxels", the voxels numpy counts on the array tifffile reads back.
std::vector<CountRow> Counts() {
    std::ifstream in(kData + "counts.txt");
    std::vector<CountRow> rows;
    CountRow row;
    while (in >> row.file >> row.ranges >> row.voxels)
        rows.push_back(row);
    return rows;
}

// Every kind x compression x predictor x range list of the fixtures: the object voxels are
// numpy's count (negative, fractional, infinite and boundary bounds; NaN never selected; on
// signed samples a list without a colon selects stored bits, as it always has).
TEST(SampleKinds, ObjectVoxelsAreNumpysCount) {
    const std::vector<CountRow> rows = Counts();
    ASSERT_GT(rows.size(), 150u);
    for (const CountRow& row : rows) {
        SampleOptions options;
        options.countVoxels = true;
        options.threads = 1;
        const Stack stack = ListStack(kData + row.file, "-");
        EXPECT_EQ(SampleStack(stack, Selection::FromRangeList(row.ranges), options).voxels,
                  row.voxels)
            << row.file << " " << row.ranges;
    }
}

// The hull of every fixture is, byte for byte, the hull of the uint8 0/1 mask of its first
// range list (so are the components of a float stack); and on an unsigned 16-bit stack "A:B" writes the bytes "A-B" writes.
TEST(SampleKinds, HullIsTheMaskStacksHull) {
    const std::string out = TempDir();
    std::vector<std::string> checked;
    for (const CountRow& row : Counts()) {
        const std::string kind = row.file.substr(0, row.file.find('_'));
        if (kind == "mask" || std::find(checked.begin(), checked.end(), row.file) != checked.end())
            continue;
        checked.push_back(row.file);  // the first range list of the file is its kind's first
        const RunResult mask =
            RunVoxwrap({kData + "mask_" + kind + ".tif", "-", "1", out + "/mask.stl"});
        const RunResult samples = RunVoxwrap({kData + row.file, "-", row.ranges, out + "/s.stl"});
        ASSERT_EQ(mask.status, 0) << mask.err;
        ASSERT_EQ(samples.status, 0) << row.file << ": " << samples.err;
        EXPECT_EQ(ReadFile(out + "/s.stl"), ReadFile(out + "/mask.stl")) << row.file;
    }
    // Components of a float stack: the mask's, mesh and table alike.
    for (const std::string stack : {"float32_lzw3.tif 0.5:", "mask_float32.tif 1"}) {
        const std::string file = stack.substr(0, stack.find(' ')),
                          range = stack.substr(file.size() + 1);
        const std::string name = out + "/" + file;
        ASSERT_EQ(RunVoxwrap({"--objects", "components", "--table", name + ".csv", kData + file,
                              "-", range, name + ".stl"})
                      .status,
                  0);
    }
    EXPECT_EQ(ReadFile(out + "/float32_lzw3.tif.stl"), ReadFile(out + "/mask_float32.tif.stl"));
    EXPECT_EQ(ReadFile(out + "/float32_lzw3.tif.csv"), ReadFile(out + "/mask_float32.tif.csv"));
    const std::string mug = SourcePath("examples/mug");
    ASSERT_EQ(RunVoxwrap({mug + "/slices", mug + "/names.txt", "1000:4095", out + "/v.stl"}).status,
              0);
    EXPECT_EQ(ReadFile(out + "/v.stl"), ReadFile(mug + "/expected.stl"));
}

// Labels are the samples' values, beyond 16 bits and below zero: every label's voxels are numpy's
// count, and its mesh is the one-object run's for the range list "id:id".
TEST(SampleKinds, LabelsAreTheSampleValues) {
    std::ifstream in(kData + "labels.txt");
    std::map<std::string, std::string> expected;  // file: "id,voxels" lines
    std::string file, id, voxels;
    while (in >> file >> id >> voxels)
        expected[file] += id + "," + voxels + "\n";
    ASSERT_EQ(expected.size(), 3u);
    const std::string out = TempDir();
    for (const auto& [name, rows] : expected) {
        const RunResult r = RunVoxwrap({"--objects", "labels", "--table", "-", kData + name, "-",
                                        ":-1,1:", out + "/{id}.stl"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream table(r.out);
        std::string line, got;
        std::getline(table, line);  // the header
        while (std::getline(table, line)) {
            const std::size_t comma = line.find(',', line.find(',') + 1);
            got += line.substr(0, comma) + "\n";
        }
        EXPECT_EQ(got, rows) << name;
        const std::string last = rows.substr(rows.rfind('\n', rows.size() - 2) + 1);
        const std::string label = last.substr(0, last.find(','));
        ASSERT_EQ(RunVoxwrap({kData + name, "-", label + ":" + label, out + "/one.stl"}).status, 0);
        EXPECT_EQ(ReadFile(out + "/" + label + ".stl"), ReadFile(out + "/one.stl")) << name;
    }
}

// The in-memory object sampler fed 32-bit labels gives the objects the files give.
TEST(SampleKinds, ObjectSamplerTakesLabelWords) {
    const Stack stack = ListStack(kData + "labels_uint32.tif", "-");
    const Selection selection = Selection::FromRangeList("1:");
    const SampleSelection compiled(selection, stack.samples);
    ObjectRule rule;
    ObjectSampler memory(stack.width, stack.height, 3, selection, stack.samples, rule);
    std::vector<std::string> paths;
    std::vector<TiffPage> pages;
    for (const Slice& slice : stack.slices) {
        paths.push_back(slice.path);
        pages.push_back(TiffPage{slice.ifd, slice.image});
        std::vector<std::uint32_t> words;
        std::int32_t w = 0, h = 0;
        ReadImageWords(
            slice.path.c_str(),
            [&](std::int32_t, const void* row, std::int32_t n) {
                const auto* p = static_cast<const std::uint32_t*>(row);
                words.insert(words.end(), p, p + n);
            },
            stack.samples, &w, &h, nullptr, &pages.back());
        memory.Add(words.data(), w, w, h);
    }
    const std::vector<SampledObject> files = SampleObjects(
        TiffSlices(paths, pages, &compiled), stack.width, stack.height, compiled, rule);
    const std::vector<SampledObject> fed = memory.Finish();
    ASSERT_EQ(files.size(), 4u);
    ASSERT_EQ(fed.size(), files.size());
    for (std::size_t k = 0; k < files.size(); ++k) {
        EXPECT_EQ(fed[k].id, files[k].id);
        EXPECT_EQ(fed[k].voxels, files[k].voxels);
        EXPECT_EQ(fed[k].points.x, files[k].points.x);
        EXPECT_EQ(fed[k].points.z, files[k].points.z);
    }
    EXPECT_EQ(files.back().id, 4294967295);
}

// Refused before any slice is loaded, with the message that says what to write instead.
TEST(SampleKinds, RefusesWhatWouldSelectTheWrongVoxels) {
    const std::string floats = kData + "float32_none.tif", ints = kData + "int32_none.tif";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } rows[] = {
        {{floats, "-", "1000-4095"},
         "1000-4095 : the slices hold floating-point samples; write the range with a colon, such "
         "as 0.5: or -1000:400."},
        {{kData + "float16_none.tif", "-", "1"},
         "1 : the slices hold floating-point samples; write the range with a colon, such as 0.5: "
         "or -1000:400."},
        {{ints, "-", "5-"},
         "5- : the slices hold 32-bit integer samples; write the range with a colon, such as "
         "1:70000 or -1000:400."},
        {{kData + "mixed", "-", "0.5:"},
         kData + "mixed/b.tif : holds 32-bit floating-point samples where the first slice holds "
                 "unsigned 16-bit samples."},
        {{"--objects", "labels", floats, "-", "0.5:"},
         "--objects labels : the slices hold 32-bit floating-point samples; labels must be "
         "integers."},
        {{floats, "-", "1:0"}, "bad range list."},
        {{floats, "-", "1:2:3"}, "bad range list."},
        {{floats, "-", "nan:"}, "bad range list."},
        {{floats, "-", "0x10:"}, "bad range list."},
        {{floats, "-", " 1:2"}, "bad range list."},
        {{floats, "-", "1e:2"}, "bad range list."},
        {{floats, "-", "inf:-inf"}, "bad range list."},
        {{floats, "-", "1-2:3"}, "bad range list."},
    };
    const std::string out = TempDir() + "/o.stl";
    for (const auto& row : rows) {
        std::vector<std::string> args = row.args;
        args.push_back(out);
        const RunResult r = RunVoxwrap(args);
        EXPECT_EQ(r.status, 1) << row.args.back();
        EXPECT_EQ(r.err, row.message + "\n") << row.args.back();
    }
}

// Typed slices from memory give the points of the uint16 0/1 mask of the same selection, and a
// slice of another type than the sampler's kind is refused.
TEST(SampleKinds, InMemorySamplersTakeTypedSlices) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> f = {0.5f, nan, -0.0f, 3.f, 0.25f, 9.f, -7.f, 0.5f, 2.f, nan, 1.f, 0};
    const std::vector<std::int32_t> i = {-5, 7, 0, -2147483647 - 1, 70000, 3, 2, 1, -1, 4, 5, 0};
    const struct {
        SampleType type;
        const char* ranges;
        std::vector<std::uint16_t> mask;
    } rows[] = {
        {{SampleType::Format::Float, 32}, "0.5:3", {1, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 0}},
        {{SampleType::Format::Float, 32}, "-0:0,9", {0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}},
        {{SampleType::Format::Signed, 32}, ":-1,4:", {1, 1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0}},
    };
    for (const auto& row : rows) {
        const Selection selection = Selection::FromRangeList(row.ranges);
        SliceSampler typed(4, 3, 1, selection, row.type);
        if (row.type.format == SampleType::Format::Float) {
            typed.Add(f.data(), 4, 4, 3);
        } else {
            typed.Add(i.data(), 4, 4, 3);
        }
        SliceSampler mask(4, 3, 1, Selection::FromRangeList("1"));
        mask.Add(row.mask.data(), 4, 4, 3);
        const Points a = typed.Finish(), b = mask.Finish();
        EXPECT_EQ(a.x, b.x) << row.ranges;
        EXPECT_EQ(a.y, b.y) << row.ranges;
        EXPECT_EQ(a.z, b.z) << row.ranges;
    }
    SliceSampler floats(4, 3, 1, Selection::FromRangeList("0:"), {SampleType::Format::Float, 32});
    EXPECT_EQ(FailureText([&] { floats.Add(i.data(), 4, 4, 3); }),
              "sampler: samples of another kind.");
}

// The feeding rules, for a count known before and one known only at the end (kAnySlices): slices
// added, then one Finish.
TEST(SampleKinds, SamplersKeepTheirSliceCount) {
    const std::uint16_t one[1] = {1};
    const Selection selection = Selection::FromRangeList("1");
    const struct {
        std::int64_t N;
        int adds, finishes;
        const char* failure;
    } cases[] = {
        {0, 0, 0, "sampler: the stack size must be positive."},
        {-2, 0, 0, "sampler: the stack size must be positive."},
        {voxwrap::kAnySlices, 0, 1, "sampler: the stack size must be positive."},
        {2, 1, 1, "sampler: fewer slices than the stack holds."},
        {1, 2, 0, "sampler: more slices than the stack holds."},
        {voxwrap::kAnySlices, 3, 2, "sampler: already finished."},
        {voxwrap::kAnySlices, 3, 1, "(no failure)"},
    };
    for (const auto& c : cases) {
        for (const bool objects : {false, true}) {
            const std::string text = FailureText([&] {
                auto run = [&](auto& sampler) {
                    for (int k = 0; k < c.adds; ++k)
                        sampler.Add(one, 1, 1, 1);
                    for (int k = 0; k < c.finishes; ++k)
                        sampler.Finish();
                };
                if (objects) {
                    ObjectSampler sampler(1, 1, c.N, selection, ObjectRule{});
                    run(sampler);
                } else {
                    SliceSampler sampler(1, 1, c.N, selection);
                    run(sampler);
                }
            });
            EXPECT_EQ(text, c.failure)
                << c.N << " " << c.adds << " " << c.finishes << " " << objects;
        }
    }
}

}  // namespace
