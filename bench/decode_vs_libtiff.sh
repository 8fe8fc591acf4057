#!/usr/bin/env bash
# Strip decoding of the reader beside libtiff's, on the same files, in one run: 2048 x 2048 16-bit
# slices written by tiffcp with LZW and Predictor 2 (the LZW decoders, one thread each), with
# Deflate (level 6) with and without Predictor 2 (ours through libdeflate, libtiff's through
# zlib), and Zstd for comparison. Each side is a small program built here (the libtiff one
# links libtiff-dev, only for this yardstick) that decodes the file's every strip into memory,
# 30 times; the median time per file is printed. Debian's libtiff decodes whole Deflate strips
# with libdeflate unless told otherwise, so it runs twice: with zlib (its DEFLATE_SUBCODEC pseudo
# tag set to zlib) and with libdeflate. Ours also allocates and fills the 2048 rows of 16-bit
# samples the program uses; libtiff only fills one strip buffer.
#   bench/decode_vs_libtiff.sh     (slices in $VOXWRAP_BENCH_DATA, default /tmp/voxwrap-bench)
#
# Figures of 2026-12-07 (2 shared cores under a load of about 5, libdeflate 1.14, zlib 1.2.13,
# libtiff 4.5.0, medians of 30 decodes of one 2048 x 2048 16-bit slice):
#   LZW, Predictor 2 (4.9 MB, 21:58, load about 3): voxwrap 57.4 / 56.7 ms   libtiff 72.0 / 64.8 ms
#   Deflate, no predictor (5.1 MB):  voxwrap 60.6 ms   libtiff+zlib 90.4 ms   libtiff+libdeflate 40.4 ms
#   Deflate, Predictor 2 (4.3 MB):   voxwrap 57.1 ms   libtiff+zlib 99.7 ms   libtiff+libdeflate 63.0 ms
#   Zstd, no predictor (5.1 MB):     voxwrap 42.3 ms   libtiff 34.8 ms
# voxwrap's time includes allocating and filling the 2048 rows the program keeps (about 20 ms
# for an uncompressed slice of this size); libtiff's only one strip buffer.
set -euo pipefail
cd "$(dirname "$0")/.."
export VOXWRAP_BENCH_DATA=${VOXWRAP_BENCH_DATA:-/tmp/voxwrap-bench}
data=$VOXWRAP_BENCH_DATA
mkdir -p "$data"
if [ ! -f "$data/slice_src.tif" ]; then
  /usr/bin/python3 - "$data/slice_src.tif" <<'PY'
import sys
import numpy as np
import tifffile
n = 2048
rng = np.random.default_rng(7)
y, x = np.mgrid[0:n, 0:n].astype(np.float32)
r = np.hypot(x - n / 2, y - n / 2)
v = np.where(r < n * 0.45, 1000 + 600 * np.sin(x / 97) * np.cos(y / 131), 20)
v = v + rng.normal(0, 12, (n, n))
tifffile.imwrite(sys.argv[1], np.clip(v, 0, 4095).astype(np.uint16), photometric='minisblack')
PY
fi
for job in lzw2:lzw:2 zip:zip zip2:zip:2 zstd:zstd; do
  name=${job%%:*}
  [ -f "$data/slice_$name.tif" ] || tiffcp -c "${job#*:}" -r 16 "$data/slice_src.tif" "$data/slice_$name.tif"
done

bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cat >"$bin/ours.cpp" <<'CPP'
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>
#include "tiff/rif.h"
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::vector<double> t;
        for (int k = 0; k < 30; ++k) {
            const auto start = std::chrono::steady_clock::now();
            RowTable rows;
            std::int32_t w = 0, h = 0;
            ReadImageFile(argv[i], &w, &h, nullptr, &rows, nullptr);
            t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(t.begin(), t.end());
        std::printf("voxwrap            %-40s %7.2f ms\n", argv[i], t[t.size() / 2] * 1e3);
    }
}
CPP
cat >"$bin/libtiff.c" <<'C'
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <tiffio.h>
static double now(void) { struct timespec s; clock_gettime(CLOCK_MONOTONIC, &s); return s.tv_sec + s.tv_nsec * 1e-9; }
static int cmp(const void* a, const void* b) { double x = *(const double*)a, y = *(const double*)b; return x < y ? -1 : x > y; }
int main(int argc, char** argv) {
    const int subcodec = argv[1][0] == 'z' ? DEFLATE_SUBCODEC_ZLIB : DEFLATE_SUBCODEC_LIBDEFLATE;
    for (int i = 2; i < argc; ++i) {
        double t[30];
        for (int k = 0; k < 30; ++k) {
            double start = now();
            TIFF* tif = TIFFOpen(argv[i], "r");
            uint16_t compression = 1;
            TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
            if (compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE)
                TIFFSetField(tif, TIFFTAG_DEFLATE_SUBCODEC, subcodec);
            tmsize_t size = TIFFStripSize(tif);
            unsigned char* buf = malloc(size);
            for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif); ++s) TIFFReadEncodedStrip(tif, s, buf, size);
            free(buf);
            TIFFClose(tif);
            t[k] = now() - start;
        }
        qsort(t, 30, sizeof t[0], cmp);
        printf("libtiff+%-10s %-40s %7.2f ms\n", argv[1], argv[i], t[15] * 1e3);
    }
    return 0;
}
C
g++ -std=c++17 -O2 -DNDEBUG -I. "$bin/ours.cpp" tiff/rif.cpp tiff/codecs.cpp -ldeflate -lzstd -o "$bin/ours"
gcc -O2 "$bin/libtiff.c" -ltiff -o "$bin/libtiff"
ls -l "$data"/slice_{lzw2,zip,zip2,zstd}.tif
for f in lzw2 zip zip2 zstd; do
  "$bin/ours" "$data/slice_$f.tif"
  "$bin/libtiff" zlib "$data/slice_$f.tif"
  case $f in zip | zip2) "$bin/libtiff" libdeflate "$data/slice_$f.tif" ;; esac
done
