#!/usr/bin/python3
"""Writes a large CT-like phantom stack for the whole-run benchmark.

usage: make_phantom.py DIR [WIDTH HEIGHT SLICES]
DIR/raw holds uncompressed 16-bit slices (tifffile), DIR/lzw the same slices compressed with LZW
and the differencing predictor by libtiff's tiffcp. The phantom: a body of soft tissue (about
1000) with two lungs (about 200), a spine and ribs (about 2500), in air (about 50), all with
Gaussian noise; the range list 800-65535 keeps body and bone.
"""
import os
import subprocess
import sys

import numpy as np
import tifffile


def main():
    out = sys.argv[1]
    w, h, n = (int(a) for a in sys.argv[2:5]) if len(sys.argv) >= 5 else (512, 512, 256)
    raw, lzw = os.path.join(out, "raw"), os.path.join(out, "lzw")
    os.makedirs(raw, exist_ok=True)
    os.makedirs(lzw, exist_ok=True)
    rng = np.random.default_rng(1)
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    cx, cy = w / 2, h / 2
    for k in range(n):
        t = k / max(n - 1, 1)
        body = ((xx - cx) / (0.42 * w)) ** 2 + ((yy - cy) / (0.30 * h)) ** 2 <= 1 - 0.3 * (t - 0.5) ** 2
        lungs = (((np.abs(xx - cx) - 0.18 * w) / (0.12 * w)) ** 2 + ((yy - cy) / (0.18 * h)) ** 2) <= 1
        spine = ((xx - cx) / (0.05 * w)) ** 2 + ((yy - cy - 0.2 * h) / (0.05 * h)) ** 2 <= 1
        ribs = body & ~(((xx - cx) / (0.40 * w)) ** 2 + ((yy - cy) / (0.28 * h)) ** 2 <= 1) & (k % 16 < 4)
        img = np.where(body, 1000.0, 50.0)
        img = np.where(body & lungs & (0.15 < t) & (t < 0.85), 200.0, img)
        img = np.where(spine | ribs, 2500.0, img)
        img = img + rng.normal(0, 40, img.shape)
        img = np.clip(img, 0, 65535).astype(np.uint16)
        name = f"ct_{k:04d}.tif"
        tifffile.imwrite(os.path.join(raw, name), img, photometric="minisblack")
        subprocess.run(["tiffcp", "-c", "lzw:2", os.path.join(raw, name), os.path.join(lzw, name)],
                       check=True)


if __name__ == "__main__":
    main()
