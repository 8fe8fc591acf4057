#!/usr/bin/python3
"""Every label's solidity by scikit-image's regionprops, timed, for comparison with
voxwrap --objects labels --table (bench/objects_skimage.sh runs both).

usage: objects_skimage.py DIR TABLE.csv
DIR holds the label stack's slices (read in name order with tifffile, as "-" lists them);
TABLE.csv is voxwrap's table of the same stack, to compare the solidities of both.
"""
import csv
import os
import sys
import time

import numpy as np
import tifffile
from skimage.measure import regionprops


def main():
    d, table = sys.argv[1], sys.argv[2]
    t0 = time.perf_counter()
    names = sorted(n for n in os.listdir(d) if n.endswith((".tif", ".tiff")))
    volume = np.stack([tifffile.imread(os.path.join(d, n)) for n in names])  # (z, y, x)
    t1 = time.perf_counter()
    solidity = {r.label: r.solidity for r in regionprops(volume)}
    t2 = time.perf_counter()
    ours = {}
    with open(table) as f:
        for row in csv.DictReader(f):
            ours[int(row["id"])] = float(row["solidity"])
    ratio = np.array([solidity[i] / ours[i] for i in ours if i in solidity])
    print(f"scikit-image read {t1 - t0:.2f} s, regionprops solidity {t2 - t1:.2f} s, "
          f"{len(solidity)} labels; its solidity / voxwrap's: min {ratio.min():.3f}, "
          f"median {np.median(ratio):.3f}, max {ratio.max():.3f}; "
          f"above 1: {sum(v > 1 for v in solidity.values())}")


if __name__ == "__main__":
    main()
