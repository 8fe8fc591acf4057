#!/usr/bin/python3
"""Writes the label stack of the per-object tests and the objects the tests expect of it.

labels/slices holds 8 uncompressed 16-bit slices of 24 x 20 (tifffile), label 0 the background:
  1  one voxel in the stack's first corner
  2  an 8 x 8 plate one slice thick
  3  a 12-voxel line along x on the last row of the last slice
  4, 5  two 2 x 2 x 2 cubes that touch only at a corner
  6  a U: two arms on the last column whose bridge is in the last slice alone
  7  a bar that splits into two stubs and joins again one slice further on
  8, 9  random voxels, which fall apart into many components
expected.txt lists, for the labels and for the components of the range list 1- with 6, 18 and 26
neighbours, one line per object: the mode (labels, 6, 18, 26), the id, the voxel count, the
smallest and largest x, y, z, and the sums of x, y, z. Components are found here by a plain
flood fill and numbered by their first voxel in slice, row, column order (as scipy.ndimage.label
numbers them), independently of the program. labels/voxels.txt lists every object voxel as
"x y z label c6 c18 c26": its label and its component for each neighbourhood. Run from this directory:
/usr/bin/python3 make_objects.py
"""
import itertools
import os
import shutil

import numpy as np
import tifffile

HERE = os.path.dirname(os.path.abspath(__file__))
W, H, N = 24, 20, 8


def volume():
    v = np.zeros((N, H, W), np.uint16)  # (z, y, x)
    v[0, 0, 0] = 1
    v[2, 2:10, 2:10] = 2
    v[7, H - 1, 0:12] = 3
    v[0:2, 2:4, 14:16] = 4
    v[2:4, 4:6, 16:18] = 5
    v[:, 8:10, 20] = 6
    v[:, 8:10, W - 1] = 6
    v[7, 8:10, 20:W] = 6
    v[3, 14:16, 2:9] = 7
    v[4, 14:16, 2] = 7
    v[4, 14:16, 8] = 7
    v[5, 14:16, 2:9] = 7
    rng = np.random.default_rng(7)
    blob = rng.random((4, 8, 10)) < 0.35
    region = v[3:7, 10:18, 10:20]
    region[blob & (region == 0)] = rng.choice([8, 9], size=(4, 8, 10))[blob & (region == 0)]
    return v


def components(mask, neighbours):
    """Labels 1, 2, ... by first voxel in (z, y, x) order; neighbours 6, 18 or 26."""
    offsets = [d for d in itertools.product((-1, 0, 1), repeat=3)
               if d != (0, 0, 0) and sum(map(abs, d)) <= {6: 1, 18: 2, 26: 3}[neighbours]]
    out = np.zeros(mask.shape, np.int64)
    count = 0
    for start in zip(*np.nonzero(mask)):  # numpy lists them in (z, y, x) raster order
        if out[start]:
            continue
        count += 1
        out[start] = count
        todo = [start]
        while todo:
            p = todo.pop()
            for d in offsets:
                q = tuple(a + b for a, b in zip(p, d))
                if all(0 <= q[k] < mask.shape[k] for k in range(3)) and mask[q] and not out[q]:
                    out[q] = count
                    todo.append(q)
    return out, count


def rows(mode, labelled, ids):
    lines = []
    for i in ids:
        z, y, x = np.nonzero(labelled == i)
        if len(x) == 0:
            continue
        lines.append(" ".join(str(int(a)) for a in (
            i, len(x), x.min(), y.min(), z.min(), x.max(), y.max(), z.max(),
            x.sum(), y.sum(), z.sum())))
        lines[-1] = mode + " " + lines[-1]
    return lines


def main():
    v = volume()
    top = os.path.join(HERE, "labels")
    shutil.rmtree(top, ignore_errors=True)
    os.makedirs(os.path.join(top, "slices"))
    for z in range(N):
        tifffile.imwrite(os.path.join(top, "slices", f"slice{z}.tif"), v[z],
                         photometric="minisblack")
    lines = rows("labels", v, range(1, int(v.max()) + 1))
    ids = [v]
    for c in (6, 18, 26):
        labelled, count = components(v > 0, c)
        lines += rows(str(c), labelled, range(1, count + 1))
        ids.append(labelled)
    with open(os.path.join(top, "voxels.txt"), "w") as f:
        for z, y, x in zip(*np.nonzero(v)):
            f.write(f"{x} {y} {z} " + " ".join(str(int(a[z, y, x])) for a in ids) + "\n")
    with open(os.path.join(HERE, "expected.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
