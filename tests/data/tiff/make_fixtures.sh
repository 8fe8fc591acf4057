#!/usr/bin/env bash
# Rebuilds the TIFF fixtures of tests/tiff/rif_test.cpp from scratch with real encoders: tifffile
# (the 8- and 16-bit sources), ImageMagick (1, 4, 12 and 16 bits) and libtiff's tiffcp (every
# compression, byte order, fill order and strip layout). Each fixture's samples equal those of
# src<b>.raw, the source samples of its bit depth. Needs /usr/bin/python3 with numpy and tifffile,
# libtiff-tools and imagemagick. See README for the list.
set -euo pipefail
cd "$(dirname "$0")"
py=/usr/bin/python3
im=/usr/bin/convert-im6.q16  # the real ImageMagick, whatever "convert" is on the PATH

$py make_sources.py

# 8 bits, from tifffile's uncompressed src8.tif.
tiffcp -c none -L -r 5 src8.tif g8_none_le.tif        # 5 strips, the last of 3 rows
tiffcp -c none -B -r 5 src8.tif g8_none_be.tif
tiffcp -c lzw -r 8 src8.tif g8_lzw.tif
tiffcp -c lzw:2 -r 8 src8.tif g8_lzw_pred.tif
tiffcp -c packbits -r 7 src8.tif g8_packbits.tif
tiffcp -c none -f lsb2msb src8.tif g8_fill2.tif
tiffcp -c lzw -f lsb2msb -r 6 src8.tif g8_lzw_fill2.tif

# 16 bits, from tifffile's uncompressed src16.tif.
tiffcp -c none -L -r 6 src16.tif g16_none_le.tif
tiffcp -c none -B -r 6 src16.tif g16_none_be.tif
tiffcp -c lzw:2 -L src16.tif g16_lzw_pred_le.tif
tiffcp -c lzw:2 -B -r 4 src16.tif g16_lzw_pred_be.tif
tiffcp -c packbits -B -r 10 src16.tif g16_packbits_be.tif
tiffcp -c lzw -f lsb2msb -B -r 9 src16.tif g16_lzw_fill2_be.tif
tiffcp -c lzw:2 -L -r 3 src16.tif g16_lzw_pred_r3.tif
$py reorder_strips.py g16_lzw_pred_r3.tif g16_lzw_reversed.tif  # 8 strips, stored last first
rm g16_lzw_pred_r3.tif

# 1, 4, 12 and 16 bits written by ImageMagick, then recompressed by tiffcp.
for b in 1 4 12 16; do
  $im src$b.pgm -depth $b im$b.tif
done
# ImageMagick rounds some 12-bit values, so im12.tif has its own reference dump, unpacked from the
# file's bits; for the other depths the same unpacker must give the source samples back.
$py unpack_uncompressed.py im12.tif im12.raw
for b in 1 4 16; do
  $py unpack_uncompressed.py im$b.tif check.raw
  cmp check.raw src$b.raw
done
rm check.raw
tiffcp -c lzw -r 5 im1.tif im1_lzw.tif
tiffcp -c packbits -B -r 4 im1.tif im1_packbits_be.tif
tiffcp -c lzw -r 7 im4.tif im4_lzw.tif
tiffcp -c packbits -f lsb2msb im4.tif im4_packbits_fill2.tif
tiffcp -c lzw -B -r 5 im12.tif im12_lzw_be.tif
tiffcp -c packbits -L -r 2 im12.tif im12_packbits_le.tif
tiffcp -c none -B im12.tif im12_none_be.tif

# Two pages: the reader takes the first (8-bit) image only.
tiffcp g8_none_le.tif g16_none_le.tif multipage.tif

rm -f src*.pgm src8.tif src16.tif
./make_codec_fixtures.sh
for f in *.tif; do
  tiffinfo "$f" >/dev/null  # every fixture must be a valid TIFF for libtiff itself
done
