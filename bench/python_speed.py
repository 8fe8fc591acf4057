#!/usr/bin/python3
"""voxwrap.hull on a volume in memory, timed against the command line and SciPy, and the memory
a slice-by-slice hull of an h5py or a zarr dataset holds (bench/python_speed.sh runs it).

usage: python_speed.py VOXWRAP DIR
DIR holds the phantom's uncompressed 16-bit slices (make_phantom.py's raw/); the range list
800-65535 keeps its body and bones. Each time is the best of several runs, the command line's
with its files in the page cache. Timing decides nothing here: the ratios are printed.
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import scipy.spatial
import tifffile

import voxwrap

RANGES = "800-65535"
SELECT = (800, 65535)


def best(run, repeats=7):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def voxel_corners(volume):
    """Every corner of every selected voxel, each once: the lattice points next to a selected
    voxel. Their hull is the hull of the selected cubes."""
    chosen = volume >= SELECT[0]
    n, h, w = chosen.shape
    lattice = np.zeros((n + 1, h + 1, w + 1), bool)
    for dz in (0, 1):
        for dy in (0, 1):
            for dx in (0, 1):
                lattice[dz:dz + n, dy:dy + h, dx:dx + w] |= chosen
    return np.argwhere(lattice).astype(np.float64)


def peak_memory_child(kind, path):
    """Run in a fresh interpreter: the growth of the resident set during one slice-by-slice
    hull, in MiB (the volume itself is on disk): its peak (VmHWM, which starts afresh with the
    interpreter, unlike ru_maxrss, which keeps the forking parent's) over its size before."""
    if kind == "h5py":
        import h5py

        dataset = h5py.File(path, "r")["v"]
    else:
        import zarr

        dataset = zarr.open(path, mode="r")
    voxwrap.hull(dataset[:1], RANGES)  # load the module's and the reader's code first
    before = status("VmRSS:")
    voxwrap.hull(dataset, RANGES)
    print((status("VmHWM:") - before) / 1024)


def status(field):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field))


def main():
    if len(sys.argv) == 4:
        return peak_memory_child(sys.argv[2], sys.argv[3])
    binary, directory = sys.argv[1], sys.argv[2]
    names = sorted(n for n in os.listdir(directory) if n.endswith(".tif"))
    volume = np.stack([tifffile.imread(os.path.join(directory, n)) for n in names])
    n, h, w = volume.shape
    slice_mib = h * w * volume.itemsize / 2**20
    print(f"volume {n} x {h} x {w} {volume.dtype}, {volume.nbytes / 2**20:.0f} MiB, range list {RANGES}")

    out = tempfile.mkdtemp()
    cli = best(lambda: subprocess.run([binary, "--quiet", directory, "-", RANGES, os.path.join(out, "h.stl")],
                                      check=True))
    cli_report = best(lambda: subprocess.run([binary, "--quiet", "--report", os.path.join(out, "r.json"), directory,
                                              "-", RANGES, os.path.join(out, "h.stl")], check=True))
    ours = best(lambda: voxwrap.hull(volume, RANGES))
    ours_one = best(lambda: voxwrap.hull(volume, RANGES, threads=1))
    print(f"command line (files):          {cli:.3f} s  (with --report, counting voxels: {cli_report:.3f} s)")
    print(f"voxwrap.hull (array):          {ours:.3f} s  (threads=1: {ours_one:.3f} s)")
    print(f"  ratio to the command line:   {ours / cli:.2f}  (to the counting run: {ours / cli_report:.2f})")

    start = time.perf_counter()
    corners = voxel_corners(volume)
    reduce = time.perf_counter() - start
    start = time.perf_counter()
    qhull = scipy.spatial.ConvexHull(corners)
    hull_time = time.perf_counter() - start
    ours_hull = voxwrap.hull(volume, RANGES)
    print(f"scipy.spatial.ConvexHull:      {reduce + hull_time:.3f} s  ({len(corners)} voxel corners found "
          f"by numpy in {reduce:.3f} s, Qhull {hull_time:.3f} s; volume {qhull.volume} vs {ours_hull.volume})")
    print(f"  voxwrap.hull is {(reduce + hull_time) / ours:.0f}x faster")

    import h5py
    import zarr

    h5 = os.path.join(out, "v.h5")
    with h5py.File(h5, "w") as f:
        f.create_dataset("v", data=volume, chunks=(1, h, w))
    zarr.save_array(os.path.join(out, "v.zarr"), volume, chunks=(1, h, w))
    for kind, path in (("h5py", h5), ("zarr", os.path.join(out, "v.zarr"))):
        grown = subprocess.run([sys.executable, __file__, binary, kind, path], check=True, capture_output=True,
                               text=True).stdout.strip()
        print(f"{kind} dataset, slice by slice: resident set grew {float(grown):.1f} MiB "
              f"(one slice {slice_mib:.1f} MiB, the volume {volume.nbytes / 2**20:.0f} MiB)")


if __name__ == "__main__":
    main()
