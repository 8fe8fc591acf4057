"""voxwrap.dask: the exact hull of a chunked volume, computed where its chunks lie.

    >>> import dask.array as da, voxwrap.dask
    >>> h = voxwrap.dask.hull(da.from_zarr("organ.zarr"), (1000, 4095))

Each chunk is reduced on a worker to the corners of its own hull, in the whole volume's
coordinates, with its voxel count (per label for label volumes): a few kilobytes, never voxels.
The reductions are combined in a tree, each combine keeping only the corners of its union's hull,
and the last step builds the Hull on the caller. Every corner of the whole's hull is a corner of
the hull of the chunk that holds it, so the result has the vertex set, the exact six_volume and
the measurements of voxwrap.hull on the whole array; only the triangles of coplanar faces may be
split otherwise. Any scheduler runs it: the threads of this process, or a distributed cluster.
"""

import itertools

import numpy as np

from . import Error, _count, _range_list, _spacing_xyz, _voxwrap

__all__ = ["hull", "object_hulls", "regionprops_table"]

# Reductions combined at once: the tree's fan-in. A combine costs little next to a chunk, so
# a wide tree keeps the steps few without queuing much work on one worker.
SPLIT_EVERY = 8


def _reduce(block, offset, ranges, labels):
    # On a worker: the chunk's samples go no further than this call. One thread per chunk: the
    # scheduler already runs one chunk per worker thread.
    return _voxwrap.reduce_block(np.asarray(block), offset, ranges, labels, 1)


def _nbytes(part):
    return part.nbytes


def _combine(*parts):
    return _voxwrap.combine_blocks(list(parts))


def _blocks(array, select, labels, spacing_xyz):
    """The delayed reductions of every chunk, after checking the array, the selection and the
    spacing on the caller (where a bad dtype, range list or spacing fails before any chunk is
    read)."""
    import dask
    import dask.array as da

    if not isinstance(array, da.Array):
        raise Error(f"array must be a dask.array.Array, not {type(array).__name__}.")
    if array.ndim != 3:
        raise Error(f"volume must be 3-D (z, y, x), not {array.ndim}-D.")
    ranges = _range_list(select, array.dtype)
    # The dtype and the range list checked on one zero sample, as every chunk will be.
    _voxwrap.reduce_block(np.zeros((1, 1, 1), array.dtype), (0, 0, 0), ranges, labels, 1)
    _voxwrap.check_volume(array.shape, spacing_xyz)
    starts = [np.concatenate(([0], np.cumsum(c)[:-1])).astype(int).tolist() for c in array.chunks]
    chunks = array.to_delayed()
    reduce = dask.delayed(_reduce, pure=True)
    parts = []
    for index in itertools.product(*(range(len(c)) for c in array.chunks)):
        offset = tuple(starts[axis][k] for axis, k in enumerate(index))
        parts.append(reduce(chunks[index], offset, ranges, labels))
    return parts


def _tree(parts, stats):
    """Combines the parts SPLIT_EVERY at a time until one is left; stats, when a dict, receives
    the bytes of every part that leaves a task (an upper bound on what crosses the network)."""
    import dask

    combine = dask.delayed(_combine, pure=True)
    level, depth = list(parts), 0
    while len(level) > 1:
        level = [combine(*level[k:k + SPLIT_EVERY]) for k in range(0, len(level), SPLIT_EVERY)]
        depth += 1
    if len(level) == 0:
        return _voxwrap.combine_blocks([]), 0
    if stats is None:
        return level[0].compute(), depth
    # The block results are computed with the root so that they are counted, not recomputed.
    # Each size is taken where its part lies: only the numbers travel.
    size = dask.delayed(_nbytes, pure=True)
    root, *block_sizes = dask.compute(level[0], *[size(p) for p in parts])
    stats.update(blocks=len(parts), block_bytes=int(sum(block_sizes)),
                 largest_block_bytes=int(max(block_sizes)), result_bytes=root.nbytes,
                 result_points=root.points, tree_depth=depth)
    return root, depth


def hull(array, select=None, *, spacing=None, stats=None):
    """The exact convex hull of the selected voxel cubes of a 3-D dask array.

    array: a dask.array.Array (z, y, x) of bool, uint8 or uint16, chunked in any way along
        every axis (da.from_zarr, da.from_array on an h5py dataset, ...).
    select, spacing: as voxwrap.hull.
    stats: an optional dict, filled with what the chunks sent back: "blocks", "block_bytes"
        (the bytes of all their reductions), "largest_block_bytes", "result_bytes",
        "result_points" and "tree_depth".

    Runs on dask's current scheduler (a distributed.Client when one is active). Returns a
    voxwrap.Hull equal to voxwrap.hull(array.compute(), select, spacing=spacing) in vertex set,
    six_volume and measurements; a volume without an object raises voxwrap.Error "no object.".
    """
    spacing_xyz = _spacing_xyz(spacing)
    root, _ = _tree(_blocks(array, select, False, spacing_xyz), stats)
    return root.hull(array.shape, spacing_xyz)


def object_hulls(array, select=None, *, min_voxels=0, largest=None, spacing=None, stats=None):
    """The hull of every label of a 3-D dask array of labels, by label value.

    Every selected value (select as voxwrap.hull; None: every nonzero value) is one object.
    min_voxels leaves out labels of fewer voxels; then largest=K keeps the K labels of most
    voxels (ties to the smaller value), as the command line's --min-voxels and --largest.
    Returns {label: voxwrap.Hull} in label order; no label left raises voxwrap.Error
    "no object.". stats: as hull().
    """
    spacing_xyz = _spacing_xyz(spacing)
    minimum, top = _count(min_voxels, "min_voxels"), _count(largest, "largest")
    root, _ = _tree(_blocks(array, select, True, spacing_xyz), stats)
    return root.objects(array.shape, spacing_xyz, minimum, top, False)


def regionprops_table(array, select=None, *, min_voxels=0, largest=None, spacing=None, stats=None):
    """The command line's --table for the labels of a 3-D dask array, as a dict of numpy
    arrays by column name (ready for pandas.DataFrame), one entry per label in label order.
    Arguments as object_hulls; the numbers are the command line's exactly (the rows are made
    by the same code)."""
    spacing_xyz = _spacing_xyz(spacing)
    minimum, top = _count(min_voxels, "min_voxels"), _count(largest, "largest")
    root, _ = _tree(_blocks(array, select, True, spacing_xyz), stats)
    return root.objects(array.shape, spacing_xyz, minimum, top, True)
