#!/usr/bin/python3
"""Writes the stack files of the sample-kind tests: signed, 32-bit and floating-point samples.

Every fixture is a stack file of 3 images of 13 x 21 samples (21 columns: rows end off the
8-sample blocks). tifffile writes the uncompressed and zlib ones; libtiff's tiffcp recompresses
tifffile's output with LZW, Deflate and Zstd and the horizontal (2) or floating-point (3)
predictor. Each recompressed file is checked by decoding it back with `tiffcp -c none` and
comparing with the array. counts.txt lists, for every fixture and range list, the object voxels
numpy counts on the array tifffile reads back (NaN never selected; a list without a colon on
signed samples: their stored bits); mask_<kind>.tif is the uint8
0/1 stack of the first range of that kind, whose hull a test compares with the fixture's.
labels_<kind>.tif are label stacks (ids beyond 16 bits, negative ids), labels.txt their voxels
per id. mixed/ holds an unsigned 16-bit slice and a 32-bit float one. Run from anywhere:
/usr/bin/python3 make_samples.py
"""
import os
import shutil
import subprocess

import numpy as np
import tifffile

HERE = os.path.dirname(os.path.abspath(__file__))
SHAPE = (3, 13, 21)


def values(dtype, seed):
    """Random samples of the kind, with its extremes, zeros, and for floats NaN, inf, -0.0."""
    rng = np.random.default_rng(seed)
    dt = np.dtype(dtype)
    if dt.kind == "f":
        a = rng.normal(0, 600, SHAPE).astype(dt)
        a[rng.random(SHAPE) < 0.2] = 0.5  # a boundary of the probability-map range
        a.flat[:8] = [np.nan, np.inf, -np.inf, -0.0, 0.0, np.finfo(dt).max, np.finfo(dt).min, 1e-3]
        a[1, 5, 3:9] = -1000.0
        a[2, 0, 0] = np.nan
    else:
        info = np.iinfo(dt)
        a = rng.integers(max(info.min, -3000), min(info.max, 70000), SHAPE, dtype=np.int64)
        a = a.astype(dt)
        a.flat[:3] = [info.min, info.max, 0]
        a[1, 12, 20] = info.max
    return a


# kind name: (dtype, byte order of tifffile's file, ranges)
KINDS = {
    "uint32": ("uint32", "<", ["1:4294967295", "65536:", "1000:4095.5", ":0", "-inf:-1"]),
    "int8": ("int8", "<", ["-128:-1", "-0.5:0.5", "100:inf", "-20:-20,7", "128-255"]),
    "int16": ("int16", ">", ["-1000:400", "-32768:-32768", ":-500,300:", "0:32767", "0-500,65036-65535"]),
    "int32": ("int32", ">", ["-2147483648:-1", "-1000:400", "-inf:inf", "2147483647:"]),
    "float16": ("float16", "<", ["0.5:", "-1000:400", "-inf:-500,300:inf", "0,0.5:0.5", "1e-3:2.5e-3"]),
    "float32": ("float32", "<", ["0.5:", "-1000:400", "-inf:-500,300:inf", "-0:-0", "1e-3:2.5e-3",
                                 ":"]),
    "float64": ("float64", ">", ["0.5:", "-1000:-1000", "inf:inf", "-inf:-500,300:inf", "0:0"]),
}

# fixture suffix: (tifffile options, tiffcp compression or None); predictor 3 for floats only
ENCODINGS = {
    "none": ({}, None),
    "zlib_tiles": ({"compression": "zlib", "tile": (16, 16)}, None),
    "lzw2": ({}, "lzw:2"),
    "zip2_tiles": ({"tile": (16, 16)}, "zip:2"),
    "zstd2": ({}, "zstd:2"),
    "lzw3": ({}, "lzw:3"),
    "zip3_tiles": ({"tile": (16, 16)}, "zip:3"),
    "zstd3": ({}, "zstd:3"),
}


def count(a, ranges):
    if ":" not in ranges:  # stored bits: signed samples as their unsigned view
        bits = a.view(np.dtype(a.dtype.str.replace("i", "u")))
        sel = np.zeros(a.shape, bool)
        for item in ranges.split(","):
            lo, hi = item.split("-")
            sel |= (bits >= int(lo)) & (bits <= int(hi))
        return sel
    v = a.astype(np.float64)
    sel = np.zeros(a.shape, bool)
    for item in ranges.split(","):
        if ":" in item:
            lo, hi = item.split(":")
            lo = float(lo) if lo else -np.inf
            hi = float(hi) if hi else np.inf
        else:
            lo = hi = float(item)
        with np.errstate(invalid="ignore"):
            sel |= (v >= lo) & (v <= hi)
    return sel


def main():
    for name in os.listdir(HERE):
        if name.endswith(".tif"):
            os.remove(os.path.join(HERE, name))
    lines = []
    for seed, (kind, (dtype, order, ranges)) in enumerate(KINDS.items()):
        a = values(dtype, seed)
        floating = np.dtype(dtype).kind == "f"
        for suffix, (options, codec) in ENCODINGS.items():
            if codec and codec.endswith(":3") and not floating:
                continue
            path = os.path.join(HERE, f"{kind}_{suffix}.tif")
            source = path if codec is None else path + ".src.tif"
            tifffile.imwrite(source, a, byteorder=order, photometric="minisblack", **options)
            if codec is not None:
                subprocess.run(["tiffcp", "-c", codec, source, path], check=True)
                os.remove(source)
                back = path + ".back.tif"
                subprocess.run(["tiffcp", "-c", "none", path, back], check=True)
                decoded = tifffile.imread(back)
                os.remove(back)
                assert np.array_equal(decoded.view(np.uint8), a.view(np.uint8)), path
            b = tifffile.imread(path) if codec is None else a
            assert np.array_equal(b.view(np.uint8), a.view(np.uint8)), path
            for r in ranges:
                lines.append(f"{kind}_{suffix}.tif {r} {int(count(b, r).sum())}\n")
        mask = count(a, ranges[0]).astype(np.uint8)
        tifffile.imwrite(os.path.join(HERE, f"mask_{kind}.tif"), mask, photometric="minisblack")
        lines.append(f"mask_{kind}.tif 1 {int(mask.sum())}\n")
    with open(os.path.join(HERE, "counts.txt"), "w") as f:
        f.writelines(lines)
    # Label stacks: ids beyond 16 bits and negative ones; labels.txt lists "file id voxels".
    rng = np.random.default_rng(99)
    labels = []
    for name, dtype, ids in [("labels_uint32", "uint32", [0, 5, 65536 + 5, 70000, 4294967295]),
                             ("labels_int32", "int32", [0, -2147483648, -1, 70000, 2147483647]),
                             ("labels_int16", "int16", [0, -1000, -1, 7, 32767])]:
        a = np.array(ids, dtype)[rng.integers(0, len(ids), SHAPE)]
        tifffile.imwrite(os.path.join(HERE, name + ".tif"), a, photometric="minisblack")
        for v in ids:
            n = int((a == v).sum())
            if v != 0 and n:
                labels.append(f"{name}.tif {v} {n}\n")
    with open(os.path.join(HERE, "labels.txt"), "w") as f:
        f.writelines(labels)
    mixed = os.path.join(HERE, "mixed")
    shutil.rmtree(mixed, ignore_errors=True)
    os.makedirs(mixed)
    tifffile.imwrite(os.path.join(mixed, "a.tif"), np.full((4, 5), 3000, np.uint16))
    tifffile.imwrite(os.path.join(mixed, "b.tif"), np.full((4, 5), 0.5, np.float32))


if __name__ == "__main__":
    main()
