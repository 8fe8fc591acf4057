// Decode throughput of ReadImageFile on 2048 x 2048 16-bit slices (made by bench/tiff_decode.sh),
// in bytes of decoded samples per second. The files are read from $VOXWRAP_BENCH_DATA.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "tiff/rif.h"

using namespace voxwrap;  // the tests, benchmarks and harnesses speak the library's names

namespace {

void DecodeSlice(benchmark::State& state, const char* name) {
    const char* dir = std::getenv("VOXWRAP_BENCH_DATA");
    const std::string path = std::string(dir ? dir : "/tmp/voxwrap-bench") + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        state.SkipWithError("missing slice: run bench/tiff_decode.sh");
        return;
    }
    std::int64_t samples = 0;
    for (auto _ : state) {
        RowTable rows;
        std::int32_t width = 0, height = 0;
        ReadImageFile(path.c_str(), &width, &height, nullptr, &rows, nullptr);
        benchmark::DoNotOptimize(rows.data());
        samples += std::int64_t{width} * height;
    }
    state.SetBytesProcessed(samples * 2);
    state.counters["file_bytes"] = static_cast<double>(info.st_size);
}

void BM_DecodeUncompressed(benchmark::State& state) { DecodeSlice(state, "slice_none.tif"); }
void BM_DecodeLzwPredictor(benchmark::State& state) { DecodeSlice(state, "slice_lzw2.tif"); }
void BM_DecodePackBits(benchmark::State& state) { DecodeSlice(state, "slice_packbits.tif"); }
void BM_DecodeDeflatePredictor(benchmark::State& state) { DecodeSlice(state, "slice_zip2.tif"); }
void BM_DecodeZstd(benchmark::State& state) { DecodeSlice(state, "slice_zstd.tif"); }
void BM_HeaderOnly(benchmark::State& state) {
    const char* dir = std::getenv("VOXWRAP_BENCH_DATA");
    const std::string path = std::string(dir ? dir : "/tmp/voxwrap-bench") + "/slice_lzw2.tif";
    for (auto _ : state) {
        std::int32_t width = 0, height = 0, bits = 0;
        ReadImageFile(path.c_str(), &width, &height, &bits, nullptr, nullptr);
        benchmark::DoNotOptimize(width);
    }
}

BENCHMARK(BM_DecodeUncompressed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeLzwPredictor)->Unit(benchmark::kMillisecond)->UseRealTime();
// Two readers at once, one per thread (each call keeps its state to itself): with two free cores
// the samples per second should about double.
BENCHMARK(BM_DecodeLzwPredictor)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(2);
BENCHMARK(BM_DecodePackBits)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeDeflatePredictor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeZstd)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HeaderOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
