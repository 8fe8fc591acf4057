#!/usr/bin/python3
"""reorder_strips.py IN OUT: copies a classic TIFF and stores its strips in reverse order.

No encoder at hand writes strips out of order, so this moves the strip data of IN's first image to
the end of the file, last strip first, patches StripOffsets in place (same field type), and zeroes
the bytes where the strips used to be, so a reader that ignores StripOffsets cannot pass."""
import struct
import sys

data = bytearray(open(sys.argv[1], 'rb').read())
e = '<' if data[:2] == b'II' else '>'
ifd = struct.unpack_from(e + 'I', data, 4)[0]
n = struct.unpack_from(e + 'H', data, ifd)[0]
entries = {}
for i in range(n):
    tag, typ, count = struct.unpack_from(e + 'HHI', data, ifd + 2 + 12 * i)
    entries[tag] = (typ, count, ifd + 2 + 12 * i + 8)


def where(tag):
    typ, count, field = entries[tag]
    size = {3: 2, 4: 4}[typ]
    at = field if count * size <= 4 else struct.unpack_from(e + 'I', data, field)[0]
    code = e + ('H' if typ == 3 else 'I')
    return typ, count, [at + size * k for k in range(count)], code


_, count, offset_at, offset_code = where(273)
_, _, bytes_at, bytes_code = where(279)
offsets = [struct.unpack_from(offset_code, data, a)[0] for a in offset_at]
counts = [struct.unpack_from(bytes_code, data, a)[0] for a in bytes_at]
strips = [bytes(data[o:o + c]) for o, c in zip(offsets, counts)]
for o, c in zip(offsets, counts):
    data[o:o + c] = bytes(c)
for k in reversed(range(count)):
    struct.pack_into(offset_code, data, offset_at[k], len(data))
    data += strips[k]
open(sys.argv[2], 'wb').write(data)
