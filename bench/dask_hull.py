#!/usr/bin/python3
"""The hull of a chunked Zarr volume on a two-process local cluster against one process.

usage: dask_hull.py ZARR [WIDTH HEIGHT SLICES CHUNK]

Makes ZARR once (a CT-like uint16 phantom: a body of about 1000 with lungs of about 200, a spine
of about 2500, in air of about 50, all with Gaussian noise; chunks CHUNK^3, Blosc-LZ4 as zarr's
default), then measures, each after a warm-up read of the store:
  one process   voxwrap.hull over the Zarr array, read one chunk row of slices at a time and fed
                slice by slice (threads=2);
  cluster       voxwrap.dask.hull(da.from_zarr(ZARR)) on a LocalCluster of 2 worker processes of
                one thread each on 127.0.0.1;
and one chunk alone: its read and decompression, its reduction (reduce_block), the combine of
the tree's widest step and the final hull. Bytes moved: what the workers sent each other
(distributed's transfer_outgoing_bytes_total) plus what the client gathered, against the
volume's bytes. The selection 800- keeps body and bone.
"""
import os
import sys
import time

import numpy as np


def make(path, w, h, n, chunk):
    import zarr

    z = zarr.open(path, mode="w", shape=(n, h, w), chunks=(chunk,) * 3, dtype=np.uint16)
    rng = np.random.default_rng(1)
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float32)
    cx, cy = w / 2, h / 2
    for z0 in range(0, n, chunk):
        slab = np.empty((min(chunk, n - z0), h, w), np.uint16)
        for k in range(slab.shape[0]):
            t = (z0 + k) / max(n - 1, 1)
            body = ((xx - cx) / (0.42 * w)) ** 2 + ((yy - cy) / (0.30 * h)) ** 2 <= 1 - 0.3 * (t - 0.5) ** 2
            lungs = (((np.abs(xx - cx) - 0.18 * w) / (0.12 * w)) ** 2 + ((yy - cy) / (0.18 * h)) ** 2) <= 1
            spine = ((xx - cx) / (0.05 * w)) ** 2 + ((yy - cy - 0.2 * h) / (0.05 * h)) ** 2 <= 1
            img = np.where(body, 1000.0, 50.0)
            img = np.where(body & lungs & (0.15 < t) & (t < 0.85), 200.0, img)
            img = np.where(spine, 2500.0, img) + rng.normal(0, 40, img.shape)
            slab[k] = np.clip(img, 0, 65535).astype(np.uint16)
        z[z0:z0 + slab.shape[0]] = slab


def slices(z):
    # One chunk row of slices at a time: each chunk is decompressed once.
    step = z.chunks[0]
    for z0 in range(0, z.shape[0], step):
        yield from z[z0:z0 + step]


def main():
    import dask
    import dask.array as da
    import distributed
    import zarr

    import voxwrap
    import voxwrap.dask
    from voxwrap import _voxwrap

    path = sys.argv[1]
    w, h, n, chunk = (int(a) for a in sys.argv[2:6]) if len(sys.argv) >= 6 else (1024, 1024, 1000, 256)
    if not os.path.exists(path):
        t = time.perf_counter()
        make(path, w, h, n, chunk)
        print(f"made {path} in {time.perf_counter() - t:.1f} s")
    z = zarr.open(path, mode="r")
    select = (800, None)
    volume_bytes = z.nbytes
    print(f"volume {z.shape} {z.dtype} chunks {z.chunks}: {volume_bytes / 2**30:.2f} GiB, "
          f"stored {z.nbytes_stored / 2**30:.2f} GiB")

    for _ in slices(z):  # warm the page cache
        pass
    t = time.perf_counter()
    one = voxwrap.hull(slices(z), select, threads=2, count=z.shape[0])
    single = time.perf_counter() - t
    print(f"one process  voxwrap.hull, slice by slice: {single:.2f} s, six_volume {one.six_volume}, "
          f"{len(one.vertices)} corners")

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        array = da.from_zarr(path)
        voxwrap.dask.hull(array[:chunk, :chunk, :chunk], "0-")  # workers import voxwrap
        stats = {}
        with distributed.get_task_stream() as stream:
            t = time.perf_counter()
            hull = voxwrap.dask.hull(array, select, stats=stats)
            wall = time.perf_counter() - t
        sent = sum(client.run(lambda dask_worker: dask_worker.transfer_outgoing_bytes_total).values())
    moved = sent + stats["result_bytes"]
    print(f"cluster      voxwrap.dask.hull, 2 workers: {wall:.2f} s ({wall / single:.2f}x one process), "
          f"six_volume {hull.six_volume} ({'same' if hull.six_volume == one.six_volume else 'DIFFERENT'}), "
          f"same corners: {set(map(tuple, hull.vertices)) == set(map(tuple, one.vertices))}")
    # Compute time per kind of task on the workers: the chunk reads, reductions, combines.
    busy = {}
    for task in stream.data:
        kind = task["key"].split("-")[0].strip("('")
        for step in task["startstops"]:
            if step["action"] == "compute":
                count, seconds = busy.get(kind, (0, 0.0))
                busy[kind] = (count + 1, seconds + step["stop"] - step["start"])
    print("  worker compute: " + ", ".join(f"{kind} {count} x {1e3 * sec / count:.0f} ms"
                                         for kind, (count, sec) in sorted(busy.items())))
    with dask.config.set(scheduler="threads", num_workers=2):
        t = time.perf_counter()
        threaded = voxwrap.dask.hull(da.from_zarr(path), select)
        local = time.perf_counter() - t
    print(f"threads      voxwrap.dask.hull, 2 threads of this process: {local:.2f} s, "
          f"same six_volume: {threaded.six_volume == one.six_volume}")
    print(f"  {stats['blocks']} chunks sent {stats['block_bytes']} bytes of corners "
          f"(largest {stats['largest_block_bytes']}), tree depth {stats['tree_depth']}, "
          f"result {stats['result_points']} points")
    print(f"  moved: workers to workers {sent} bytes + to the client {stats['result_bytes']} = "
          f"{moved} bytes, {100 * moved / volume_bytes:.5f} % of the volume")

    # The chunks of the middle chunk row alone, on this process: read, then reduce, each; then
    # the tree's widest step on their reductions, and the final hull.
    c0 = (n // 2) // chunk * chunk
    reads, reduces, parts = [], [], []
    for y in range(0, h, chunk):
        for x in range(0, w, chunk):
            t = time.perf_counter()
            block = z[c0:c0 + chunk, y:y + chunk, x:x + chunk]
            reads.append(time.perf_counter() - t)
            t = time.perf_counter()
            parts.append(_voxwrap.reduce_block(block, (c0, y, x), "800-", False, 1))
            reduces.append(time.perf_counter() - t)
    print(f"{len(parts)} chunks of {chunk}^3 at z {c0}, each: read and decompress "
          f"{np.mean(reads) * 1e3:.0f} ms, reduce {np.mean(reduces) * 1e3:.0f} ms "
          f"(max {np.max(reduces) * 1e3:.0f}), {np.mean([p.points for p in parts]):.0f} corners "
          f"and {np.mean([p.nbytes for p in parts]):.0f} bytes on average")
    parts = parts[:voxwrap.dask.SPLIT_EVERY]
    t = time.perf_counter()
    root = _voxwrap.combine_blocks(parts)
    combine = time.perf_counter() - t
    t = time.perf_counter()
    root.hull(z.shape, None)
    final = time.perf_counter() - t
    print(f"combine of {len(parts)} chunks ({sum(p.points for p in parts)} points): "
          f"{combine * 1e3:.2f} ms; the final hull of {root.points} points: {final * 1e3:.2f} ms")


if __name__ == "__main__":
    main()
