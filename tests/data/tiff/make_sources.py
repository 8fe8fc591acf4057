#!/usr/bin/python3
"""Writes the source samples of the TIFF fixtures: for each bit depth b in 1, 4, 8, 12, 16 a
37 x 23 image (odd width, so packed rows end inside a byte), as

  src<b>.raw  the samples as little-endian unsigned 16-bit values, row after row (the exact values
              the reader must deliver),
  src<b>.pgm  the same samples as a binary PGM with maxval 2^b - 1 (input of ImageMagick),
  src8.tif, src16.tif  uncompressed TIFFs written by tifffile (input of tiffcp).

The samples are a smooth ramp plus noise from a fixed seed, so LZW and PackBits have both runs and
literals to encode."""
import numpy as np
import tifffile

W, H = 37, 23
rng = np.random.default_rng(20261207)
y, x = np.mgrid[0:H, 0:W]
base = (x * 1.7 + y * 0.9) / (W * 1.7 + H * 0.9)  # 0 .. 1
for b in (1, 4, 8, 12, 16):
    top = (1 << b) - 1
    v = np.floor(base * top + rng.normal(0, top * 0.03 + 0.4, (H, W)))
    v[5:9, 10:20] = top // 3  # a flat block: runs for PackBits, repeats for LZW
    v = np.clip(v, 0, top).astype(np.uint16)
    v.astype('<u2').tofile(f'src{b}.raw')
    with open(f'src{b}.pgm', 'wb') as f:
        f.write(f'P5\n{W} {H}\n{top}\n'.encode())
        f.write(v.astype('>u2' if top > 255 else 'u1').tobytes())
    if b in (8, 16):
        tifffile.imwrite(f'src{b}.tif', v.astype(np.uint8 if b == 8 else np.uint16),
                         photometric='minisblack', compression=None, rowsperstrip=H)
