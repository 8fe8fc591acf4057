#!/usr/bin/python3
"""Writes the slice stacks of the end-to-end tests.

Slices are written by tifffile (uncompressed, either byte order) and PIL, and some are then
LZW-compressed by libtiff's tiffcp, so every file comes from a real encoder. Beside each
stack's slices/ directory, voxels.txt lists the object voxels as "x y slice-name" lines: the
tests check the hull against them. Run from this directory: /usr/bin/python3 make_fixtures.py
"""
import os
import shutil
import subprocess

import numpy as np
import tifffile
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
OBJECT = 3000  # gray value of object pixels; the tests use the range list 1000-4095
BACKGROUND = 200


def stack_dir(name):
    """The slices go to NAME/slices, so that a directory listing finds only slices."""
    top = os.path.join(HERE, name)
    shutil.rmtree(top, ignore_errors=True)
    d = os.path.join(top, "slices")
    os.makedirs(d)
    return d


def write_slice(d, name, mask, how="tifffile", shape=None, values=None):
    """mask: 2D bool array (rows, columns) of object pixels."""
    img = np.where(mask, OBJECT, BACKGROUND).astype(np.uint16) if values is None else values
    path = os.path.join(d, name)
    if how == "tifffile":
        tifffile.imwrite(path, img, photometric="minisblack")
    elif how == "tifffile-be":
        tifffile.imwrite(path, img, photometric="minisblack", byteorder=">")
    elif how == "pil8":
        Image.fromarray(np.where(mask, 250, 10).astype(np.uint8)).save(path)
    elif how == "lzw":
        raw = path + ".raw.tif"
        tifffile.imwrite(raw, img, photometric="minisblack")
        subprocess.run(["tiffcp", "-c", "lzw:2", raw, path], check=True)
        os.remove(raw)
    else:
        raise ValueError(how)
    return path


def write_voxels(d, entries):
    with open(os.path.join(os.path.dirname(d), "voxels.txt"), "w") as f:
        for x, y, name in entries:
            f.write(f"{x} {y} {name}\n")


def stack(name, masks, how="tifffile", names=None):
    d = stack_dir(name)
    entries = []
    for k, mask in enumerate(masks):
        slice_name = names[k] if names else f"s{k:02d}.tif"
        write_slice(d, slice_name, mask, how)
        ys, xs = np.nonzero(mask)
        entries += [(int(x), int(y), slice_name) for x, y in zip(xs, ys)]
    write_voxels(d, entries)


def grid(w, h):
    return np.zeros((h, w), dtype=bool)


def main():
    # One object pixel in one slice.
    m = grid(5, 4)
    m[1, 2] = True
    stack("one_pixel", [m])

    # A rectangle, rows 3 to 7 and columns 4 to 6, through three slices: a box.
    m = grid(10, 10)
    m[3:8, 4:7] = True
    stack("box", [m, m, m])

    # A row counting columns 2 and 9 only, and the same row filled from 2 to 9.
    m = grid(12, 6)
    m[2, 2] = m[2, 9] = True
    m[4, 5] = True
    stack("row_gaps", [m])
    m = grid(12, 6)
    m[2, 2:10] = True
    m[4, 5] = True
    stack("row_filled", [m])

    # Object slices with an empty slice between them, and empty rows inside a plane.
    a = grid(8, 8)
    a[1, 1:3] = True
    a[5, 4:7] = True
    b = grid(8, 8)
    c = grid(8, 8)
    c[6, 0] = True
    c[2, 6:8] = True
    stack("empty_between", [a, b, c])

    # An L-shape, a cylinder and a one-slice disc.
    m = grid(12, 12)
    m[2:10, 2:4] = True
    m[8:10, 2:9] = True
    stack("l_shape", [m, m], how="tifffile-be")
    yy, xx = np.mgrid[0:16, 0:16]
    disc = (xx - 7.5) ** 2 + (yy - 7.5) ** 2 <= 6.2 ** 2
    stack("cylinder", [disc] * 5, how="lzw")
    stack("disc", [disc], how="pil8")

    # Random sparse objects, 16-bit LZW with the differencing predictor.
    rng = np.random.default_rng(20261207)
    for i in range(3):
        masks = [rng.random((14, 17)) < 0.04 for _ in range(6)]
        stack(f"random{i}", masks, how="lzw")

    # Slices of different sizes (12 x 5 and 7 x 9): the smaller ones are padded with 0.
    d = stack_dir("sizes")
    write_slice(d, "a.tif", None, values=np.full((5, 12), 7, np.uint16))
    write_slice(d, "b.tif", None, values=np.full((9, 7), 7, np.uint16))
    # With the range list 0 the object is the padding: rows 5 to 8 of a, columns 7 to 11 of b.
    write_voxels(d, [(x, y, "a.tif") for x in range(0, 12) for y in range(5, 9)]
                 + [(x, y, "b.tif") for x in range(7, 12) for y in range(0, 9)])

    # Names for the orders: by name s1, s10, s9, z; by number s1, s9, s10 (z has none).
    names = ["s1.tif", "s9.tif", "s10.tif", "z.tif"]
    masks = []
    for k, _ in enumerate(names):
        m = grid(9, 9)
        m[2 * k, k + 1] = True
        m[8 - k, 8 - 2 * k] = True
        masks.append(m)
    stack("order", masks, names=names)


if __name__ == "__main__":
    main()
