#!/usr/bin/env bash
# Builds the fixtures of the Deflate and Zstd strips (and, below, the stack files, BigTIFF and
# tiles) with real encoders: libtiff's tiffcp, tifffile and ImageMagick. Each fixture's samples
# equal those of a reference dump of make_sources.py (src<b>.raw, or im12.raw for ImageMagick's
# 12-bit file). Needs /usr/bin/python3 with numpy and tifffile, libtiff-tools and imagemagick;
# make_fixtures.sh runs it, or run it alone: the sources are rebuilt in a scratch directory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
im=/usr/bin/convert-im6.q16
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$here/make_sources.py" "$here"/im1.tif "$here"/im4.tif "$here"/im12.tif "$work"/
cd "$work"
$py make_sources.py
for b in 1 4 8 12 16; do cmp "src$b.raw" "$here/src$b.raw"; done  # the same samples as before

# Deflate (Compression 8) and Zstd (50000) from tiffcp; ":2" is Predictor 2.
tiffcp -c zip -r 8 src8.tif g8_zip.tif
tiffcp -c zip:2 -f lsb2msb -r 5 src8.tif g8_zip_pred_fill2.tif
tiffcp -c zstd -r 7 src8.tif g8_zstd.tif
tiffcp -c zip:2 -B -r 6 src16.tif g16_zip_pred_be.tif
tiffcp -c zstd:2 -L src16.tif g16_zstd_pred_le.tif      # one strip
tiffcp -c zstd -B -r 4 src16.tif g16_zstd_be.tif
tiffcp -c zip -r 5 im1.tif im1_zip.tif
tiffcp -c zstd -f lsb2msb im4.tif im4_zstd_fill2.tif
tiffcp -c zip -B -r 3 im12.tif im12_zip_be.tif
# tifffile's own zlib writer: Compression 8 with Predictor 2, and 32946 (the old Deflate code).
$py - <<'PY'
import numpy as np, tifffile
v16 = np.fromfile('src16.raw', '<u2').reshape(23, 37)
v8 = np.fromfile('src8.raw', '<u2').reshape(23, 37).astype(np.uint8)
tifffile.imwrite('g16_tifffile_zlib_pred.tif', v16, photometric='minisblack',
                 compression='zlib', predictor=True, rowsperstrip=10)
tifffile.imwrite('g8_tifffile_deflate.tif', v8, photometric='minisblack',
                 compression='deflate', rowsperstrip=23)
PY
# ImageMagick's Deflate.
$im src8.pgm -compress zip im8_zip.tif

# Refused variants, as encoders write them: JPEG (tiffcp), RGB (ImageMagick), 32-bit floating
# point and separate planes (tifffile).
tiffcp -c jpeg src8.tif refuse_jpeg.tif
$im src8.pgm -type TrueColor refuse_rgb.tif
$py - <<'PY'
import numpy as np, tifffile
v = np.fromfile('src16.raw', '<u2').reshape(23, 37)
tifffile.imwrite('refuse_float.tif', v.astype(np.float32), photometric='minisblack')
PY

# Stack files: five 8-bit pages (src8 rolled by 3 columns a page) as one file written by tifffile
# (a 3-D array), in ImageJ's form, recompressed by tiffcp, with a reduced-resolution page and a
# thumbnail among them, and as five separate files; and three pages of two sizes.
$py - <<'PY'
import numpy as np, tifffile
v8 = np.fromfile('src8.raw', '<u2').reshape(23, 37).astype(np.uint8)
pages = np.stack([np.roll(v8, 3 * k, axis=1) for k in range(5)])
tifffile.imwrite('stack_pages.tif', pages, photometric='minisblack')
tifffile.imwrite('stack_imagej.tif', pages, imagej=True)
for k in range(5):
    tifffile.imwrite(f'stack_page{k}.tif', pages[k], photometric='minisblack')
with tifffile.TiffWriter('stack_reduced.tif') as t:
    t.write(pages[0], photometric='minisblack')
    t.write(pages[0][::2, ::2], photometric='minisblack', subfiletype=1)  # reduced resolution
    for k in range(1, 5):
        t.write(pages[k], photometric='minisblack')
    t.write(pages[4][:4, :4], photometric='minisblack', subfiletype=1)  # a thumbnail
with tifffile.TiffWriter('stack_sizes.tif') as t:
    t.write(pages[0], photometric='minisblack')
    t.write(pages[1][:10, :20], photometric='minisblack')
    t.write(pages[2][:20, :30], photometric='minisblack')
PY
tiffcp -c zip:2 stack_pages.tif stack_zip.tif
# ImageJ's layout beyond 4 GiB, imitated small: tifffile's ImageJ file stores the five images one
# after the other; cutting the chain after the first directory leaves the layout ImageJ writes
# for big stacks (one directory, "images=5" in its description, the other images following).
$py - <<'PY'
import struct
b = bytearray(open('stack_imagej.tif', 'rb').read())
first, = struct.unpack_from('<I', b, 4)
n, = struct.unpack_from('<H', b, first)
struct.pack_into('<I', b, first + 2 + 12 * n, 0)
open('stack_imagej_onedir.tif', 'wb').write(b)
PY

# BigTIFF (version 43): tifffile (both byte orders, zlib with Predictor 2, a stack) and tiffcp -8.
$py - <<'PY'
import numpy as np, tifffile
v16 = np.fromfile('src16.raw', '<u2').reshape(23, 37)
tifffile.imwrite('big16_none_be.tif', v16, photometric='minisblack', bigtiff=True,
                 byteorder='>', rowsperstrip=5)
tifffile.imwrite('big16_zlib_pred_le.tif', v16, photometric='minisblack', bigtiff=True,
                 compression='zlib', predictor=True, rowsperstrip=7)
tifffile.imwrite('stack_big.tif', tifffile.imread('stack_pages.tif'), photometric='minisblack',
                 bigtiff=True)
PY
tiffcp -8 -c lzw:2 -r 6 src8.tif big8_lzw_pred.tif
tiffcp -8 -c zstd stack_reduced.tif stack_big_reduced.tif

# Tiles of 16 x 16 over the 37 x 23 images (3 x 2 tiles; the right and bottom ones cut): tiffcp for
# every compression and depth, tifffile (zlib with Predictor 2, BigTIFF), ImageMagick, and a tiled
# stack file.
tiffcp -t -w 16 -l 16 -c none src8.tif tile8_none.tif
tiffcp -t -w 16 -l 16 -c lzw:2 -B src16.tif tile16_lzw_pred_be.tif
tiffcp -t -w 16 -l 16 -c packbits im12.tif tile12_packbits.tif
tiffcp -t -w 32 -l 16 -c zip im1.tif tile1_zip.tif
tiffcp -t -w 16 -l 32 -c zstd -f lsb2msb im4.tif tile4_zstd_fill2.tif
$py - <<'PY'
import numpy as np, tifffile
v16 = np.fromfile('src16.raw', '<u2').reshape(23, 37)
tifffile.imwrite('tile16_tifffile_zlib_pred_big.tif', v16, photometric='minisblack',
                 tile=(16, 32), compression='zlib', predictor=True, bigtiff=True)
PY
$im src8.pgm -define tiff:tile-geometry=16x16 tile8_im.tif
tiffcp -t -w 16 -l 16 -c lzw stack_pages.tif stack_tiles.tif

for f in tile8_none.tif tile16_lzw_pred_be.tif tile12_packbits.tif tile1_zip.tif \
  tile4_zstd_fill2.tif tile16_tifffile_zlib_pred_big.tif tile8_im.tif stack_tiles.tif \
  big16_none_be.tif big16_zlib_pred_le.tif big8_lzw_pred.tif stack_big.tif \
  stack_big_reduced.tif stack_imagej_onedir.tif stack_pages.tif stack_imagej.tif stack_page0.tif stack_page1.tif stack_page2.tif \
  stack_page3.tif stack_page4.tif stack_reduced.tif stack_sizes.tif stack_zip.tif; do
  tiffinfo "$f" >/dev/null
  cp "$f" "$here/"
done

for f in g8_zip.tif g8_zip_pred_fill2.tif g8_zstd.tif g16_zip_pred_be.tif g16_zstd_pred_le.tif \
  g16_zstd_be.tif im1_zip.tif im4_zstd_fill2.tif im12_zip_be.tif g16_tifffile_zlib_pred.tif \
  g8_tifffile_deflate.tif im8_zip.tif refuse_jpeg.tif refuse_rgb.tif refuse_float.tif; do
  tiffinfo "$f" >/dev/null
  cp "$f" "$here/"
done
