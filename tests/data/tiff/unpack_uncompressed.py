#!/usr/bin/python3
"""unpack_uncompressed.py IN.tif OUT.raw: writes the samples of an uncompressed gray TIFF (first
image, any bit depth from 1 to 16, either byte order, FillOrder 1) as little-endian 16-bit values.

ImageMagick rounds some 12-bit values on the way from a PGM, so its 12-bit file gets its own
reference dump, taken from the file's bits by this independent unpacker: rows start on a byte
boundary, samples are packed most significant bit first, 16-bit samples in the file's byte order."""
import struct
import sys

import numpy as np

data = open(sys.argv[1], 'rb').read()
e = '<' if data[:2] == b'II' else '>'
ifd = struct.unpack_from(e + 'I', data, 4)[0]
n = struct.unpack_from(e + 'H', data, ifd)[0]
tags = {}
for i in range(n):
    tag, typ, count = struct.unpack_from(e + 'HHI', data, ifd + 2 + 12 * i)
    code, size = {3: ('H', 2), 4: ('I', 4)}.get(typ, ('B', 1))
    at = ifd + 2 + 12 * i + 8
    if count * size > 4:
        at = struct.unpack_from(e + 'I', data, at)[0]
    tags[tag] = [struct.unpack_from(e + code, data, at + size * k)[0] for k in range(count)]
assert tags.get(259, [1]) == [1] and tags.get(266, [1]) == [1]
w, h, b = tags[256][0], tags[257][0], tags.get(258, [1])[0]
strip = b''.join(data[o:o + c] for o, c in zip(tags[273], tags[279]))
row_bytes = (w * b + 7) // 8
out = []
for y in range(h):
    row = strip[y * row_bytes:(y + 1) * row_bytes]
    if b == 16:
        out += struct.unpack(e + 'H' * w, row)
    else:
        bits = ''.join(f'{v:08b}' for v in row)
        out += [int(bits[x * b:(x + 1) * b], 2) for x in range(w)]
np.array(out, dtype='<u2').tofile(sys.argv[2])
