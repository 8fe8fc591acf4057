#!/bin/sh
# Rebuilds the slice fixtures from sample formulas with real encoders (Pillow, tifffile,
# libtiff's tiffcp). The tests recompute the same formulas, so any change here must be
# mirrored in tests/slices/rsi_test.cpp.
set -eu
cd "$(dirname "$0")"
/usr/bin/python3 - <<'PY'
import numpy as np
import tifffile
from PIL import Image

y, x = np.mgrid[0:80, 0:100]
Image.fromarray(((3 * x + 5 * y) % 255 + 1).astype(np.uint8)).save("g100x80.tif")

y, x = np.mgrid[0:120, 0:90]
tifffile.imwrite("raw90x120.tif", (1000 + 97 * x + 389 * y).astype(np.uint16),
                 photometric="minisblack")

y, x = np.mgrid[0:120, 0:100]
Image.fromarray(((x + 2 * y) % 251 + 1).astype(np.uint8)).save("raw100x120.tif")

y, x = np.mgrid[0:6, 0:10]
Image.fromarray(((x + y) % 2 == 0)).convert("1").save("b10x6.tif")
PY
tiffcp -c lzw raw90x120.tif g90x120.tif
tiffcp -c packbits raw100x120.tif g100x120.tif
rm raw90x120.tif raw100x120.tif
