#!/usr/bin/python3
"""Writes a label stack for the per-object benchmark, like the output of a segmentation.

usage: make_labels.py DIR [WIDTH HEIGHT SLICES OBJECTS]
DIR holds uncompressed 16-bit slices (tifffile). The volume is cut into a grid of about OBJECTS
cells; each cell holds one ellipsoid of random radii and centre, labelled with the cell's number
(1, 2, ...), on a background of 0. Neighbouring ellipsoids may touch, so the components of the
range list 1- are fewer than the labels.
"""
import os
import sys

import numpy as np
import tifffile


def main():
    out = sys.argv[1]
    w, h, n, count = (int(a) for a in sys.argv[2:6]) if len(sys.argv) >= 6 else (1024, 1024, 1000, 10000)
    os.makedirs(out, exist_ok=True)
    # Cells of about equal edge: gx * gy * gz ~ count.
    edge = (w * h * n / count) ** (1 / 3)
    gx, gy, gz = (max(1, round(s / edge)) for s in (w, h, n))
    if gx * gy * gz > 65535:
        sys.exit("too many objects for 16-bit labels")
    cw, ch, cn = w / gx, h / gy, n / gz
    rng = np.random.default_rng(20)
    shape = (gz, gy, gx)
    cx = (np.arange(gx)[None, None, :] + rng.uniform(0.4, 0.6, shape)) * cw
    cy = (np.arange(gy)[None, :, None] + rng.uniform(0.4, 0.6, shape)) * ch
    cz = (np.arange(gz)[:, None, None] + rng.uniform(0.4, 0.6, shape)) * cn
    rx, ry, rz = (rng.uniform(0.3, 0.55, shape) * s for s in (cw, ch, cn))
    label = np.arange(1, gx * gy * gz + 1, dtype=np.uint16).reshape(shape)
    # Per row of cells along z, the maps that do not change from slice to slice: each pixel's
    # cell, its distance term in x and y, and its cell's centre and radius in z.
    xx = np.arange(w)
    yy = np.arange(h)
    ix = np.minimum((xx / cw).astype(int), gx - 1)[None, :]
    iy = np.minimum((yy / ch).astype(int), gy - 1)[:, None]
    planes = {}
    for k in range(n):
        iz = min(int(k / cn), gz - 1)
        if iz not in planes:
            planes.clear()
            at = (iz, iy, ix)
            flat = ((xx[None, :] + 0.5 - cx[at]) / rx[at]) ** 2 + ((yy[:, None] + 0.5 - cy[at]) / ry[at]) ** 2
            planes[iz] = (flat.astype(np.float32), cz[at].astype(np.float32), rz[at].astype(np.float32), label[at])
        flat, czm, rzm, lab = planes[iz]
        inside = flat + ((k + 0.5 - czm) / rzm) ** 2 <= 1
        img = np.where(inside, lab, 0).astype(np.uint16)
        tifffile.imwrite(os.path.join(out, "s%04d.tif" % k), img)
    print(gx * gy * gz, "cells")


if __name__ == "__main__":
    main()
