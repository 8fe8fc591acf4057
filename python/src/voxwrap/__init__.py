"""voxwrap: the exact convex hull of the selected voxel cubes of a 3-D image.

    >>> import numpy as np, voxwrap
    >>> h = voxwrap.hull(volume, (1000, 4095), spacing=(2.0, 0.5, 0.5))
    >>> h.volume, h.solidity, h.vertices.shape, h.faces.shape
    >>> h.write("hull.stl")

Arrays are indexed (z, y, x) and the spacing is given in that order too. The hull is computed
exactly in voxel units (the voxel at (z, y, x) is the cube [z, z+1] x [y, y+1] x [x, x+1]) and
scaled once at the end; mesh files are byte for byte the command line's.
"""

import numbers
import operator

import numpy as np

__all__ = ["hull", "hull_stack", "object_hulls", "regionprops_table", "Hull", "Error", "NotFoundError",
           "VoxwrapWarning"]


class Error(ValueError):
    """A failure of voxwrap: str(error) is the command line's message, kind what went wrong
    ("argument", "not_found", "image", "geometry", "output", "cancelled")."""

    def __init__(self, message, kind="argument"):
        super().__init__(message)
        self.kind = kind


class NotFoundError(Error, FileNotFoundError):
    """A file or directory that does not exist: both a voxwrap.Error and a FileNotFoundError."""


class VoxwrapWarning(UserWarning):
    """What the library noticed and went on, such as extra data at the end of a TIFF strip."""


def _error(message, kind):
    # Called by the compiled module to turn the library's failures into Python exceptions.
    return (NotFoundError if kind == "not_found" else Error)(message, kind)


from ._voxwrap import Hull  # noqa: E402  (the module's translator needs _error above)
from . import _voxwrap  # noqa: E402


def _range_list(select, dtype=None):
    """The range list for samples of dtype (None: unsigned). select None: every nonzero sample
    (True for bool; NaN, not a number, is never selected); a range-list string in either form of
    the command line ("1000-4095": stored values of unsigned and signed samples up to 16 bits;
    "-1000:400", "0.5:": values, any kind); or a tuple (lo, hi), inclusive, either end None for
    open, which selects values: any real numbers, inf and -inf included."""
    if select is None:
        return _voxwrap.nonzero_list(np.dtype(dtype if dtype is not None else np.uint16))
    if isinstance(select, str):
        return select
    if isinstance(select, tuple) and len(select) == 2:
        ends = []
        for end in select:
            if end is None:
                ends.append("")
            elif isinstance(end, numbers.Integral) and not isinstance(end, bool):
                ends.append(str(int(end)))
            elif isinstance(end, numbers.Real) and not isinstance(end, bool) and end == end:
                ends.append(repr(float(end)))  # the shortest text that reads back as the same double
            else:
                raise Error(f"select {select!r} : bad value; the ends are numbers or None.")
        return ":".join(ends)
    raise Error(f"select {select!r} : bad value; give None, a range list such as \"1000-4095\" or \"-1000:400\", "
                "or a tuple (lo, hi).")


def _spacing_xyz(spacing):
    """(sz, sy, sx) in array order -> (sx, sy, sz) as the library takes it; None stays None."""
    if spacing is None:
        return None
    if isinstance(spacing, str):
        if spacing == "tiff":
            raise Error('spacing "tiff" : only hull_stack reads the spacing its TIFF files record; give (sz, sy, sx).')
        raise Error(f"spacing {spacing!r} : bad value; give three positive numbers (sz, sy, sx).")
    try:
        values = [float(s) for s in spacing]
    except (TypeError, ValueError):
        values = []
    if len(values) != 3 or not all(np.isfinite(v) and v > 0 for v in values):
        raise Error(f"spacing {spacing!r} : bad value; give three positive numbers (sz, sy, sx).")
    return (values[2], values[1], values[0])


def _threads(threads):
    """None: one worker per core (0 to the library); else 1 to 1024 as --threads takes."""
    if threads is None:
        return 0
    if isinstance(threads, numbers.Integral) and not isinstance(threads, bool) and 1 <= threads <= 1024:
        return int(threads)
    raise Error(f"threads {threads!r} : bad value; give an integer from 1 to 1024 or None.")


def hull(volume, select=None, *, spacing=None, threads=None, count=None):
    """The exact convex hull of the selected voxel cubes of a volume.

    volume: a 3-D numpy array (z, y, x) of bool, uint8, uint16, uint32, int8, int16, int32,
        float16, float32 or float64 in any memory layout and byte order, never copied whole,
        never cast (bool, uint8 and uint16 are read through the strides by the workers, several
        slices at once, a row at a time; the other kinds a slice at a time), or an
        iterable of 2-D slices of equal shape and dtype (an h5py or zarr dataset, a list, a
        generator), read one slice at a time to its end.
    select: None (every nonzero sample, True for bool; NaN is never selected), a range list in
        either form of the command line ("1000-4095", "1,5,7-9,200-": stored values of unsigned
        and signed samples of up to 16 bits; "-1000:400", "0.5:", "-inf:-500,300:inf": values,
        compared exactly, for every kind), or a tuple (lo, hi) of values, inclusive, either end
        None for open.
    spacing: (sz, sy, sx), the size of a voxel along each array axis; None: voxel units.
    threads: workers that reduce slices (None: one per core); the result is the same for any.
    count: the number of slices of an iterable without len(), when known: a stream that ends
        sooner or goes on is then refused.

    Other dtypes (int64, complex, ...) raise voxwrap.Error; no dtype is ever cast silently.
    """
    _range_list(select)  # a bad select is refused before any slice is read
    spacing_xyz = _spacing_xyz(spacing)
    workers = _threads(threads)
    if isinstance(volume, np.ndarray):
        return _voxwrap.hull_volume(_volume(volume), _range_list(select, volume.dtype), workers, spacing_xyz)
    sampler = _feed(volume, count, lambda w, h, n, dtype: _voxwrap.Sampler(
        w, h, n, _range_list(select, dtype), workers, spacing_xyz, dtype))
    return sampler.finish()


def object_hulls(volume, select=None, *, objects="labels", connectivity=26, min_voxels=0, largest=None,
                 spacing=None, threads=None, count=None):
    """The hull of every object of a volume, as {id: Hull} in id order.

    objects: "labels" (every selected value is an object, its id the value) or "components"
        (every connected component of the selected voxels, numbered 1, 2, ... by its first voxel
        in (z, y, x) order, as scipy.ndimage.label numbers them), connected through faces (6),
        faces and edges (18) or faces, edges and corners (26).
    min_voxels: drop the objects of fewer voxels; largest: then keep the largest objects of most
        voxels, ties to the smaller id; None or 0 keeps every object.
    volume, select, spacing, threads, count: as hull(). Each Hull writes the bytes the command
    line writes to its "{id}" file with --objects.
    """
    return _objects(volume, select, objects, connectivity, min_voxels, largest, spacing, threads, count, False)


def regionprops_table(volume, select=None, *, objects="labels", connectivity=26, min_voxels=0, largest=None,
                      spacing=None, threads=None, count=None):
    """The measurements of every object, as the command line's --table: a dict of numpy arrays,
    one row per object in id order, ready for pandas.DataFrame.

    The columns and their values are the CSV's: id, voxels, volume, hull_volume, hull_area,
    solidity, hull_vertices, hull_facets, bbox_min_x .. bbox_max_z, centroid_x .. centroid_z.
    x, y and z keep the command line's meaning, which is the array's axes in reverse: x is axis 2
    (columns), y axis 1 (rows), z axis 0 (slices); Hull.bbox gives the same box in array order
    (z, y, x). Arguments as object_hulls().
    """
    return _objects(volume, select, objects, connectivity, min_voxels, largest, spacing, threads, count, True)


def _count(value, name):
    if value is None:
        return 0
    if isinstance(value, numbers.Integral) and not isinstance(value, bool) and value >= 0:
        return int(value)
    raise Error(f"{name} {value!r} : bad value; give an integer of at least 0.")


def _objects(volume, select, objects, connectivity, min_voxels, largest, spacing, threads, count, table):
    _range_list(select)  # a bad select is refused before any slice is read
    spacing_xyz = _spacing_xyz(spacing)
    workers = _threads(threads)
    if connectivity not in (6, 18, 26) or isinstance(connectivity, bool):
        raise Error("objects: connectivity must be 6, 18 or 26.")
    if not isinstance(objects, str):
        raise Error(f'objects {objects!r} : bad value; give "labels" or "components".')
    at_least, keep = _count(min_voxels, "min_voxels"), _count(largest, "largest")
    if isinstance(volume, np.ndarray):
        return _voxwrap.objects_volume(_volume(volume), _range_list(select, volume.dtype), objects, int(connectivity), at_least, keep,
                                       workers, spacing_xyz, table)
    sampler = _feed(volume, count, lambda w, h, n, dtype: _voxwrap.ObjectSampler(
        w, h, n, _range_list(select, dtype), workers, spacing_xyz, dtype, objects, int(connectivity)))
    return sampler.finish(at_least, keep, table)


def _volume(volume):
    if volume.ndim != 3:
        raise Error(f"volume must be 3-D (z, y, x), not {volume.ndim}-D.")
    return volume


def _feed(volume, count, make):
    # One slice at a time: only the slice being read is held. Every slice must have the shape
    # and dtype of the first (or the dataset's shape), so that the selection means the same.
    # make(width, height, slices, dtype) gives the sampler that takes them; slices is -1 for an
    # iterable whose length shows only at its end (a generator), which the sampler then takes as
    # the slices it was given.
    try:
        length = len(volume)
    except TypeError:
        length = None
    if count is not None:
        count = operator.index(count)
        if length is not None and length != count:
            raise Error(f"count {count} : the iterable holds {length} slices.")
        length = count
    try:
        slices = iter(volume)
    except TypeError:
        raise Error(f"volume must be a 3-D array or an iterable of 2-D slices, not "
                    f"{type(volume).__name__}.") from None
    shape = getattr(volume, "shape", None)
    dtype = getattr(volume, "dtype", None)
    first = None
    if shape is None or len(shape) != 3 or dtype is None:
        first = _next_slice(slices, 0, length)
        if first is None:
            raise Error("no object.", "image")
        shape = (length,) + first.shape
        dtype = first.dtype
    if len(shape) != 3:
        raise Error(f"slice 0 has shape {shape[1:]}, not 2-D.")
    _, h, w = shape
    dtype = np.dtype(dtype)
    sampler = make(w, h, -1 if length is None else length, dtype)
    k = 0
    while length is None or k < length:
        s = first if k == 0 and first is not None else _next_slice(slices, k, length)
        if s is None:
            break
        if s.ndim != 2 or s.shape != (h, w):
            raise Error(f"slice {k} has shape {s.shape}, not {(h, w)}.")
        if s.dtype != dtype:
            raise Error(f"slice {k} has dtype {s.dtype}, not {dtype} like slice 0.")
        sampler.add_slice(s)
        k += 1
    if length is not None and next(slices, None) is not None:
        raise Error(f"the iterable holds more than {length} slices.")
    return sampler


def _next_slice(slices, k, length):
    # Slice k, or None at the end of an iterable of unknown length.
    try:
        return np.asarray(next(slices))
    except StopIteration:
        if length is None:
            return None
        raise Error(f"the iterable ended after {k} of {length} slices.") from None


def hull_stack(directory, names="-", select="1-", *, spacing=None, threads=None):
    """The hull of a TIFF stack read as the command line reads it.

    directory: the folder of slices, or a stack file; names: the command line's nameFile (a
    name file, "-" and names, or a sorting option "-", "--n", "--v", ...); select: as hull().
    spacing: (sz, sy, sx); or "tiff", the voxel size the slices record as --spacing tiff reads
    it (resolution tags, ImageJ's unit and slice spacing), which every slice must record alike;
    its unit names the unit in report() and the mesh files.
    """
    import os

    if isinstance(names, os.PathLike):
        names = os.fspath(names)  # a name file
    if not isinstance(names, str):
        raise Error(f"names {names!r} : bad value; give a name file, \"-\" or a sorting option such as \"--n\".")
    tiff = isinstance(spacing, str) and spacing == "tiff"
    ranges = None if select is None else _range_list(select)  # None: every nonzero sample of the stack's kind
    return _voxwrap.hull_stack(os.fspath(directory), names, ranges, _threads(threads),
                               None if tiff else _spacing_xyz(spacing), tiff)
