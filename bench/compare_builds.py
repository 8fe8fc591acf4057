#!/usr/bin/python3
"""Two builds of voxwrap on the same random stacks, byte for byte: the check that a change made
for speed changed no output. Each stack is written by tifffile and converted by both binaries
three ways (one object of 1-, --objects labels, --objects components=18, the last two with
--table); the exit status, standard error, mesh and table must agree. Small stacks (noise,
ellipsoids, boxes, random labels) crowd the degenerate cases; large ones (unions of ellipsoids,
sprinkled noise) fill several slabs. Timing decides nothing here.

usage: compare_builds.py OLD NEW [SMALL LARGE]   (default 600 small and 120 large stacks)
Prints every difference (and keeps its stack in the work folder) and a count; exits 1 on any.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
import tifffile

RUNS = (["1-"], ["--objects", "labels", "1-"], ["--objects", "components=18", "1-"])


def small(rng):
    n, h, w = int(rng.integers(1, 14)), int(rng.integers(1, 40)), int(rng.integers(1, 40))
    kind = int(rng.integers(4))
    if kind == 0:
        return (rng.random((n, h, w)) < rng.random() * 0.3).astype(np.uint16)
    if kind == 1:
        return ellipsoids(rng, (n, h, w), 1, 1.0)
    if kind == 2:
        return rng.integers(0, 4, (n, h, w)).astype(np.uint16)
    v = np.zeros((n, h, w), np.uint16)
    for label in range(1, 4):
        lo = [int(rng.integers(0, s)) for s in v.shape]
        hi = [int(rng.integers(a, s)) + 1 for a, s in zip(lo, v.shape)]
        v[lo[0]:hi[0], lo[1]:hi[1], lo[2]:hi[2]] = label
    return v


def large(rng):
    shape = (int(rng.integers(20, 90)), int(rng.integers(60, 200)), int(rng.integers(60, 200)))
    v = ellipsoids(rng, shape, int(rng.integers(1, 6)), 0.6)
    if rng.random() < 0.3:
        v[rng.random(shape) < 0.001] = 7
    return v


def ellipsoids(rng, shape, count, reach):
    z, y, x = np.mgrid[:shape[0], :shape[1], :shape[2]]
    v = np.zeros(shape, np.uint16)
    for label in range(1, count + 1):
        c = rng.random(3) * shape
        r = rng.random(3) * np.array(shape) * reach + 1
        v[((z - c[0]) / r[0]) ** 2 + ((y - c[1]) / r[1]) ** 2 + ((x - c[2]) / r[2]) ** 2 < 1] = label
    return v


def outcome(binary, args, stack, work):
    mesh, table = os.path.join(work, "out.stl"), os.path.join(work, "table.csv")
    for f in (mesh, table):
        if os.path.exists(f):
            os.remove(f)
    extra = ["--table", table] if args[0] == "--objects" else []
    run = subprocess.run([binary] + args[:-1] + extra + [stack, "-", args[-1], mesh], capture_output=True)
    digest = hashlib.sha256()
    for f in (mesh, table):
        if os.path.exists(f):
            with open(f, "rb") as data:
                digest.update(data.read())
    return run.returncode, run.stderr, digest.hexdigest()


def main():
    old, new = sys.argv[1], sys.argv[2]
    counts = (int(sys.argv[3]), int(sys.argv[4])) if len(sys.argv) == 5 else (600, 120)
    rng = np.random.default_rng(5)
    work = tempfile.mkdtemp(prefix="voxwrap-compare-")
    compared = differences = 0
    for make, count in zip((small, large), counts):
        for trial in range(count):
            stack = os.path.join(work, "stack")
            shutil.rmtree(stack, ignore_errors=True)
            os.makedirs(stack)
            for k, plane in enumerate(make(rng)):
                tifffile.imwrite(os.path.join(stack, f"s{k:03d}.tif"), plane)
            for args in RUNS:
                compared += 1
                a, b = outcome(old, args, stack, work), outcome(new, args, stack, work)
                if a != b:
                    differences += 1
                    kept = os.path.join(work, f"{make.__name__}{trial}")
                    shutil.copytree(stack, kept, dirs_exist_ok=True)
                    print(f"differ: {' '.join(args)} on {kept}: {a[:2]} against {b[:2]}", flush=True)
    print(f"{compared} runs compared, {differences} differ")
    if differences == 0:
        shutil.rmtree(work)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
