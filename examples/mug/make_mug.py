#!/usr/bin/python3
"""Writes the bundled example: 40 CT-like slices of a mug, 100 x 100 16-bit samples each.

The mug (a hollow cylinder with a bottom and a handle) sits in noisy background; object samples
are near 2500, background near 300, so the range list 1000-4095 selects the mug. Slices are
written uncompressed by tifffile and LZW-compressed (with the differencing predictor) by libtiff's
tiffcp. Run from this directory: /usr/bin/python3 make_mug.py
"""
import os
import shutil
import subprocess

import numpy as np
import tifffile

HERE = os.path.dirname(os.path.abspath(__file__))
SLICES = os.path.join(HERE, "slices")
W = H = 100
N = 40


def mug_mask(k, yy, xx):
    r = np.hypot(xx - 45.0, yy - 50.0)
    wall = (r <= 30) & (r >= 25)
    bottom = (r <= 30) & (k >= 2) & (k < 6)
    mask = (wall | bottom) & (k >= 2) & (k < N - 2)
    # The handle: a ring in the plane y = 50, around the point (80, 50, 20), of radius 11.
    ring = np.hypot(np.hypot(xx - 80.0, k - 20.0) - 11.0, yy - 50.0)
    mask |= (ring <= 3.2) & (xx >= 74)
    return mask


def main():
    rng = np.random.default_rng(7)
    shutil.rmtree(SLICES, ignore_errors=True)
    os.makedirs(SLICES)
    yy, xx = np.mgrid[0:H, 0:W].astype(float)
    names = []
    for k in range(N):
        mask = mug_mask(k, yy, xx)
        img = np.where(mask, rng.normal(2500, 150, (H, W)), rng.normal(300, 80, (H, W)))
        img = np.clip(img, 0, 4095).astype(np.uint16)
        name = f"mug_{k:03d}.tif"
        raw = os.path.join(SLICES, name + ".raw")
        tifffile.imwrite(raw, img, photometric="minisblack")
        subprocess.run(["tiffcp", "-c", "lzw:2", raw, os.path.join(SLICES, name)], check=True)
        os.remove(raw)
        names.append(name)
    with open(os.path.join(HERE, "names.txt"), "w") as f:
        f.write("\n".join(names) + "\n")


if __name__ == "__main__":
    main()
