"""voxwrap.dask against voxwrap on the whole array: the same corners, volume and counts for every
chunking. The scheduler is this process's own (synchronous) except in the cluster test."""

import os
import signal
import subprocess

import dask
import dask.array as da
import numpy as np
import pytest

import voxwrap
import voxwrap.dask

BINARY = os.environ.get("VOXWRAP_BINARY")


def volume(name):
    """A 12 x 14 x 17 volume: random labels, or one of the shapes a chunk's hull cannot hold
    alone (a single voxel, a plate one voxel thick across chunk borders, an object only in the
    far corner chunk, nothing at all)."""
    v = np.zeros((12, 14, 17), np.uint16)
    if name == "random":
        rng = np.random.default_rng(5)
        v[...] = rng.integers(1, 4, v.shape) * (rng.random(v.shape) < 0.05)
    elif name == "voxel":
        v[6, 7, 8] = 9
    elif name == "plate":
        v[5, 1:13, 2:16] = 3
    elif name == "corner":
        v[11, 12:, 15:] = 2
        v[10, 13, 16] = 1
    return v


CHUNKINGS = [(12, 14, 17), (4, 4, 4), (5, 3, 7), ((1, 11), (14,), (2, 2, 13))]


def corners(h):
    return {tuple(row) for row in h.vertices}


@pytest.mark.parametrize("chunks", CHUNKINGS, ids=str)
@pytest.mark.parametrize("name", ["random", "voxel", "plate", "corner", "empty"])
def test_hull_is_the_whole_arrays(name, chunks):
    v = volume(name)
    for dtype, select, sign in [(np.uint16, None, 1), (np.uint8, (2, 3), 1), (bool, None, 1),
                                (np.int16, (-3, -2), -1), (np.float32, (1.5, 3.0), 1)]:
        a = (sign * v).astype(dtype)
        with dask.config.set(scheduler="synchronous"):
            if name == "empty":
                with pytest.raises(voxwrap.Error) as whole_error:
                    voxwrap.hull(a, select)
                with pytest.raises(voxwrap.Error) as error:
                    voxwrap.dask.hull(da.from_array(a, chunks=chunks), select)
                assert str(error.value) == str(whole_error.value) == "no object."
                continue
            if not np.any(a if select is None else (a >= select[0]) & (a <= select[1])):
                continue
            whole = voxwrap.hull(a, select, spacing=(2.0, 1.0, 0.5))
            h = voxwrap.dask.hull(da.from_array(a, chunks=chunks), select, spacing=(2.0, 1.0, 0.5))
        assert corners(h) == corners(whole)
        assert h.six_volume == whole.six_volume
        assert h.report() == whole.report()


@pytest.mark.parametrize("chunks", CHUNKINGS[1:], ids=str)
def test_labels_are_each_labels_hull(tmp_path, chunks):
    v = volume("random")
    v[0:3, 0:2, 0:2] = 7  # a small label, left out by min_voxels
    with dask.config.set(scheduler="synchronous"):
        hulls = voxwrap.dask.object_hulls(da.from_array(v, chunks=chunks))
        table = voxwrap.dask.regionprops_table(da.from_array(v, chunks=chunks), min_voxels=13,
                                               spacing=(2.0, 1.0, 0.5))
    assert sorted(hulls) == [1, 2, 3, 7]
    for label, h in hulls.items():
        alone = voxwrap.hull(v == label)
        assert corners(h) == corners(alone) and h.six_volume == alone.six_volume
        assert h.object_voxels == np.count_nonzero(v == label)
    assert table["id"].tolist() == [1, 2, 3]
    if BINARY:  # the command line's --table on the same labels, as TIFF slices
        import tifffile

        (tmp_path / "s").mkdir()
        for z, plane in enumerate(v):
            tifffile.imwrite(tmp_path / "s" / f"{z:03d}.tif", plane)
        csv = subprocess.run([BINARY, "--quiet", "--objects", "labels", "--min-voxels", "13",
                              "--spacing", "0.5,1,2", "--table", "-", str(tmp_path / "s"), "-",
                              "1-", str(tmp_path / "m.stl")],
                             check=True, capture_output=True, text=True).stdout.splitlines()
        names = csv[0].split(",")
        for row, line in enumerate(csv[1:]):
            for name, text in zip(names, line.split(",")):
                assert table[name][row] == float(text), name


def test_a_local_cluster_of_two_processes_gives_the_same_hull():
    distributed = pytest.importorskip("distributed")

    def too_slow(signum, frame):
        raise TimeoutError("the cluster did not answer within 180 s")

    previous = signal.signal(signal.SIGALRM, too_slow)
    signal.alarm(180)
    try:
        v = volume("random")
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                      host="127.0.0.1", dashboard_address=None) as cluster, \
                distributed.Client(cluster):
            stats = {}
            h = voxwrap.dask.hull(da.from_array(v, chunks=(4, 7, 9)), stats=stats)
        whole = voxwrap.hull(v)
        assert corners(h) == corners(whole) and h.six_volume == whole.six_volume
        assert stats["blocks"] == 3 * 2 * 2 and stats["block_bytes"] < v.nbytes
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)
