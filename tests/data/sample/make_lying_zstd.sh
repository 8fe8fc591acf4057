#!/usr/bin/env bash
# lying_zstd.tif: a 1.2 KB Zstd slice whose header claims 16384 x 16000 1-bit samples in one strip
# and whose data are corrupt. tifffile writes the slice (all 0) uncompressed, tiffcp compresses it
# with Zstd (a frame of about 1.2 KB, which passes the header pass's expansion bound), and 200
# bytes in the middle of the frame (the strip starts at byte 8) become 0xFF, so decompression
# fails part way: "Zstd data corrupt.".
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 -c "
import numpy as np, tifffile
tifffile.imwrite('$work/bits.tif', np.zeros((16000, 16384), dtype=bool),
                 photometric='minisblack', rowsperstrip=16000)"
tiffcp -c zstd -r 16000 "$work/bits.tif" "$work/zstd.tif"
/usr/bin/python3 -c "
data = bytearray(open('$work/zstd.tif', 'rb').read())
data[300:500] = b'\xff' * 200
open('lying_zstd.tif', 'wb').write(data)"
