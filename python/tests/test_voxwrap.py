"""The Python package against the command line, numpy and itself.

The command line's binary comes from VOXWRAP_BINARY (.ci/python sets it); the comparisons with
it are skipped without it. Every volume is small: the point is agreement, not speed.
"""

import json
import os
import pickle
import struct
import subprocess
import sys
import threading
import time
import warnings

import csv
import pathlib

import h5py
import numpy as np
import pytest
import scipy.ndimage
import tifffile
import zarr

import voxwrap

BINARY = os.environ.get("VOXWRAP_BINARY")


def volume_of(dtype, seed=7):
    """A 7 x 9 x 11 volume: an ellipsoid of high values in low-valued noise, so that every
    selection below cuts a different object out of it. Floats hold NaN and -0.0 in the noise."""
    rng = np.random.default_rng(seed)
    z, y, x = np.mgrid[0:7, 0:9, 0:11]
    inside = ((z - 3) / 3.2) ** 2 + ((y - 4) / 4.5) ** 2 + ((x - 5) / 4) ** 2 <= 1
    if dtype == bool:
        return inside ^ (rng.random(inside.shape) < 0.04)
    if np.dtype(dtype).kind == "f":
        noise = rng.uniform(-1, 0.3, inside.shape)
        noise[rng.random(inside.shape) < 0.05] = np.nan
        noise[rng.random(inside.shape) < 0.05] = -0.0
        return np.where(inside, rng.uniform(0.5, 1, inside.shape), noise).astype(dtype)
    low, top = np.iinfo(dtype).min, np.iinfo(dtype).max
    noise = rng.integers(low, top // 3, inside.shape, dtype=dtype, endpoint=True)
    high = rng.integers(top // 2, top, inside.shape, dtype=dtype, endpoint=True)
    return np.where(inside, high, noise).astype(dtype)


def _nonzero(v):
    return (v != 0) & ~np.isnan(v) if v.dtype.kind == "f" else v != 0


def _within(lo, hi):
    return lambda v: (v >= lo) & (v <= hi)


# Per dtype: (select, the command line's range list, the selected samples as numpy says).
SELECTIONS = {
    bool: [(None, "1-", lambda v: v), ((1, None), "1-", lambda v: v), ("1", "1", lambda v: v)],
    np.uint8: [(None, "1-", _nonzero), ((100, 200), "100-200", _within(100, 200)),
               ("150-,7", "150-,7", lambda v: (v >= 150) | (v == 7))],
    np.uint16: [(None, "1-", _nonzero), ((30000, None), "30000-", lambda v: v >= 30000),
                ("-9000,40000-50000", "-9000,40000-50000", lambda v: (v <= 9000) | ((v >= 40000) & (v <= 50000)))],
    np.uint32: [(None, "1:", _nonzero), ((2**31, None), "2147483648:", lambda v: v >= 2**31),
                ("7,3000000000:", "7,3000000000:", lambda v: (v == 7) | (v >= 3000000000))],
    # Today's form on signed samples: their stored bits, 65036-65535 being -500..-1.
    np.int8: [(None, "-inf:-1,1:inf", _nonzero), ((-50, 60), "-50:60", _within(-50, 60)),
              ("0-40,200-255", "0-40,200-255", _within(-56, 40))],
    np.int16: [(None, "-inf:-1,1:inf", _nonzero), ((-1000, 400), "-1000:400", _within(-1000, 400)),
               ("0-500,65036-65535", "0-500,65036-65535", _within(-500, 500))],
    np.int32: [(None, "-inf:-1,1:inf", _nonzero), ((None, -10**9), ":-1000000000", lambda v: v <= -10**9),
               ("-inf:-2000000000,1500000000:inf", "-inf:-2000000000,1500000000:inf",
                lambda v: (v <= -2 * 10**9) | (v >= 1500000000))],
    np.float16: [(None, "-inf:-5e-324,5e-324:inf", _nonzero), ((0.5, None), "0.5:", lambda v: v >= 0.5),
                 ("-0.0,0.75:1", "-0.0,0.75:1", lambda v: (v == 0) | ((v >= 0.75) & (v <= 1)))],
    np.float32: [(None, "-inf:-5e-324,5e-324:inf", _nonzero), ((-0.25, 0.6), "-0.25:0.6", _within(-0.25, 0.6)),
                 ("-inf:-0.5,0:0", "-inf:-0.5,0:0", lambda v: (v <= -0.5) | (v == 0))],
    np.float64: [(None, "-inf:-5e-324,5e-324:inf", _nonzero), ((1e-3, None), "1e-3:", lambda v: v >= 1e-3),
                 (":-0.75,0.9:", ":-0.75,0.9:", lambda v: (v <= -0.75) | (v >= 0.9))],
}


def layout(volume, name):
    """The same samples in C order, Fortran order, a strided view with a reversed axis, or C
    order in the other byte order."""
    if name == "C":
        return np.ascontiguousarray(volume)
    if name == "swapped":
        return volume.astype(volume.dtype.newbyteorder("S"))
    if name == "F":
        return np.asfortranarray(volume)
    big = np.zeros((2 * volume.shape[0], volume.shape[1], 2 * volume.shape[2] + 1), volume.dtype)
    view = big[::2, ::-1, 1::2]
    view[...] = volume
    return view


# Output format and spacing (sz, sy, sx), taken in turn so that each appears with each dtype.
OUTPUTS = [("stl", None), ("ply", (2.0, 0.5, 0.25)), ("obj", None), ("stl-ascii", (3.0, 1.0, 0.5))]


def write_stack(volume, directory):
    """One uncompressed TIFF file per slice, as tifffile writes them (bool as 8-bit 0 and 1)."""
    directory.mkdir()
    for z, plane in enumerate(volume):
        tifffile.imwrite(directory / f"s{z:03d}.tif", np.ascontiguousarray(plane, dtype=np.uint8 if plane.dtype == bool else plane.dtype))


@pytest.mark.skipif(not BINARY, reason="VOXWRAP_BINARY (the command line) not set")
@pytest.mark.parametrize("dtype", list(SELECTIONS), ids=lambda d: np.dtype(d).name)
@pytest.mark.parametrize("layout_name", ["C", "F", "strided", "swapped"])
@pytest.mark.parametrize("case", [0, 1, 2])
def test_hull_writes_the_command_lines_bytes(tmp_path, dtype, layout_name, case):
    volume = volume_of(dtype)
    select, range_list, selected = SELECTIONS[dtype][case]
    fmt, spacing = OUTPUTS[(case + ["C", "F", "strided", "swapped"].index(layout_name)) % len(OUTPUTS)]
    write_stack(volume, tmp_path / "slices")
    cli_mesh, cli_report = tmp_path / "cli.mesh", tmp_path / "cli.json"
    options = ["--quiet", "--format", fmt, "--report", str(cli_report)]
    if spacing:
        options += ["--spacing", ",".join(str(s) for s in spacing[::-1])]
    subprocess.run([BINARY, *options, str(tmp_path / "slices"), "-", range_list, str(cli_mesh)], check=True)

    h = voxwrap.hull(layout(volume, layout_name), select, spacing=spacing, threads=2)
    h.write(tmp_path / "py.mesh", format=fmt)
    assert (tmp_path / "py.mesh").read_bytes() == cli_mesh.read_bytes()
    assert h.report() == json.loads(cli_report.read_text())
    assert h.object_voxels == np.count_nonzero(selected(volume))
    # The same stack read by the package's own TIFF route.
    s = voxwrap.hull_stack(tmp_path / "slices", "-", select, spacing=spacing)
    s.write(tmp_path / "stack.mesh", format=fmt)
    assert (tmp_path / "stack.mesh").read_bytes() == cli_mesh.read_bytes()


def test_faces_turn_outward_and_arrays_are_the_hulls_own():
    h = voxwrap.hull(volume_of(np.uint16), (30000, None), spacing=(2.0, 0.5, 0.25))
    v, f = h.vertices, h.faces
    assert v.dtype == np.float64 and f.dtype == np.int32 and v.shape[1] == f.shape[1] == 3
    # Counter-clockwise from outside in the coordinates of vertices: a positive signed volume.
    signed = np.einsum("ij,ij->", v[f[:, 0]], np.cross(v[f[:, 1]], v[f[:, 2]])) / 6
    assert signed > 0
    assert signed == pytest.approx(h.volume) == pytest.approx(h.six_volume * 2.0 * 0.5 * 0.25 / 6)
    assert isinstance(h.six_volume, int)
    # Views of the buffers the hull owns: no copy, not even between two reads.
    assert v.base is not None and f.base is not None
    assert np.shares_memory(h.vertices, v) and not v.flags.writeable
    (lo, hi) = h.bbox
    assert lo == tuple(v.min(axis=0)) and hi == tuple(v.max(axis=0))


def test_a_pickled_hull_is_the_same_hull(tmp_path):
    # As multiprocessing and dask send results between processes: the copy writes the same bytes.
    for h in (voxwrap.hull(volume_of(np.int16), "-5:"), voxwrap.hull(volume_of(np.uint8), spacing=(2.0, 0.5, 0.25))):
        copy = pickle.loads(pickle.dumps(h))
        assert repr(copy) == repr(h) and copy.report() == h.report() and copy.six_volume == h.six_volume
        for name in ("a.stl", "a.ply", "a.obj"):
            h.write(tmp_path / name)
            copy.write(tmp_path / ("copy_" + name))
            assert (tmp_path / name).read_bytes() == (tmp_path / ("copy_" + name)).read_bytes()


def test_a_long_hull_lets_other_threads_run():
    z, y, x = np.ogrid[0:96, 0:384, 0:384]
    ball = (((z - 48) / 45) ** 2 + ((y - 192) / 180) ** 2 + ((x - 192) / 180) ** 2 <= 1).astype(np.uint8)
    ticks, stop = [], threading.Event()

    def count():  # sleeps give the GIL back at once; only a thread that wants it waits
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.0002)

    # With a switch interval longer than the call, a thread that waits for the GIL gets it during
    # the call only when the call lets go of it: never, had the module kept it.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(5.0)
    counter = threading.Thread(target=count)
    counter.start()
    try:
        start = time.perf_counter()
        voxwrap.hull(ball, threads=1)
        end = time.perf_counter()
    finally:
        stop.set()
        counter.join()
        sys.setswitchinterval(interval)
    assert [t for t in ticks if start + (end - start) / 4 < t < end - (end - start) / 4]


def test_slices_from_iterables_give_the_arrays_hull(tmp_path):
    volume = volume_of(np.uint16)
    expected = voxwrap.hull(volume, "20000-")
    with h5py.File(tmp_path / "v.h5", "w") as f:
        f["v"] = volume
    with h5py.File(tmp_path / "v.h5", "r") as f:
        from_h5 = voxwrap.hull(f["v"], "20000-")
    sources = [
        from_h5,
        voxwrap.hull(zarr.array(volume, chunks=(2, 9, 11)), "20000-"),
        voxwrap.hull((plane for plane in volume), "20000-"),
        voxwrap.hull((plane for plane in volume), "20000-", count=len(volume)),
        voxwrap.hull(list(volume), "20000-"),
    ]
    for h in sources:
        assert np.array_equal(h.vertices, expected.vertices)
        assert np.array_equal(h.faces, expected.faces)
        assert h.object_voxels == expected.object_voxels
        assert h.report() == expected.report()
    # Every object of a generator, as of the array.
    streamed = voxwrap.regionprops_table((plane for plane in volume), "20000-", objects="components")
    whole = voxwrap.regionprops_table(volume, "20000-", objects="components")
    assert streamed.keys() == whole.keys() and all(np.array_equal(streamed[k], whole[k]) for k in whole)


def tiff_with_extra_strip_byte(path):
    # A 2 x 2 8-bit uncompressed image whose one strip counts 5 bytes: the reader takes 4 and
    # warns. Little-endian header (offset 8), 9 entries (2 + 9 * 12 + 4 = 114 bytes), strip at 122.
    entries = [(256, 4, 2), (257, 4, 2), (258, 3, 8), (259, 3, 1), (262, 3, 1), (273, 4, 122),
               (277, 3, 1), (278, 4, 2), (279, 4, 5)]
    data = b"II*\x00" + struct.pack("<I", 8) + struct.pack("<H", len(entries))
    for tag, kind, value in entries:
        data += struct.pack("<HHI", tag, kind, 1) + (struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value))
    data += struct.pack("<I", 0) + bytes([1, 2, 3, 4, 99])
    path.write_bytes(data)


def test_library_warnings_become_voxwrap_warnings(tmp_path):
    (tmp_path / "s").mkdir()
    tiff_with_extra_strip_byte(tmp_path / "s" / "a.tif")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        h = voxwrap.hull_stack(tmp_path / "s", "-", "1-", threads=1)
    assert h.object_voxels == 4
    # The header pass and the sampling read the strip: each says so, in order.
    assert {str(w.message) for w in caught} == {f"{tmp_path / 's' / 'a.tif'} : too many codes (warning)."}
    assert all(w.category is voxwrap.VoxwrapWarning for w in caught)


@pytest.mark.parametrize("dtype", ["int64", "uint64", "complex64"])
def test_other_dtypes_are_refused_not_cast(dtype):
    volume = np.ones((3, 3, 3), dtype)
    message = (f"dtype {dtype} is not supported: voxwrap reads bool, uint8, uint16, uint32, int8, int16, int32, "
               "float16, float32 and float64 samples.")
    with pytest.raises(voxwrap.Error, match=f"^{message}$"):
        voxwrap.hull(volume)
    with pytest.raises(voxwrap.Error, match=f"^{message}$"):
        voxwrap.hull(iter(volume), count=3)


def test_failures_carry_the_message_and_kind(tmp_path):
    box = np.ones((3, 3, 3), np.uint8)
    missing = tmp_path / "missing"
    cases = [
        (lambda: voxwrap.hull(box, "9-3"), voxwrap.Error, "bad range list.", "argument"),
        (lambda: voxwrap.hull(box, "200-"), voxwrap.Error, "no object.", "image"),
        (lambda: voxwrap.hull(box[0]), voxwrap.Error, "volume must be 3-D (z, y, x), not 2-D.", "argument"),
        (lambda: voxwrap.hull(iter([])), voxwrap.Error, "no object.", "image"),
        (lambda: voxwrap.hull(7), voxwrap.Error,
         "volume must be a 3-D array or an iterable of 2-D slices, not int.", "argument"),
        (lambda: voxwrap.hull(iter(box), count=2), voxwrap.Error, "the iterable holds more than 2 slices.",
         "argument"),
        (lambda: voxwrap.hull(iter([box[0], box[0, :2]])), voxwrap.Error, "slice 1 has shape (2, 3), not (3, 3).",
         "argument"),
        (lambda: voxwrap.hull(iter(box), count=4), voxwrap.Error, "the iterable ended after 3 of 4 slices.", "argument"),
        (lambda: voxwrap.hull(box, spacing=(1, 0, 1)), voxwrap.Error,
         "spacing (1, 0, 1) : bad value; give three positive numbers (sz, sy, sx).", "argument"),
        (lambda: voxwrap.hull(box, spacing=(1, 1, 1e38)), voxwrap.Error,
         "spacing : bad value (every coordinate must be a finite single-precision number).", "argument"),
        (lambda: voxwrap.hull_stack(missing), FileNotFoundError, f"{missing} : directory not open.", "not_found"),
        (lambda: voxwrap.hull_stack(tmp_path, ["a.tif"]), voxwrap.Error,
         "names ['a.tif'] : bad value; give a name file, \"-\" or a sorting option such as \"--n\".", "argument"),
        (lambda: voxwrap.hull(box, spacing="tiff"), voxwrap.Error,
         'spacing "tiff" : only hull_stack reads the spacing its TIFF files record; give (sz, sy, sx).',
         "argument"),
        (lambda: voxwrap.object_hulls(box, objects="blobs"), voxwrap.Error,
         'objects "blobs" : bad value; give "labels" or "components".', "argument"),
        (lambda: voxwrap.regionprops_table(box, objects="components", connectivity=8), voxwrap.Error,
         "objects: connectivity must be 6, 18 or 26.", "argument"),
        (lambda: voxwrap.object_hulls(box, min_voxels=28), voxwrap.Error, "no object.", "image"),
        (lambda: voxwrap.hull(box).write(tmp_path / "h.xyz"), voxwrap.Error,
         f"write: {tmp_path / 'h.xyz'} : no mesh format for this extension; give format \"stl\", "
         "\"stl-ascii\", \"ply\" or \"obj\".", "argument"),
        (lambda: voxwrap.hull(box).write(missing / "h.stl"), voxwrap.Error, "file not stored.", "output"),
    ]
    for call, kind_of_exception, message, kind in cases:
        with pytest.raises(kind_of_exception) as caught:
            call()
        assert isinstance(caught.value, voxwrap.Error) and isinstance(caught.value, ValueError)
        assert (str(caught.value), caught.value.kind) == (message, kind)


def test_a_volume_beyond_memory_is_a_memory_error():
    # A slice of 2^24 x 2^24 samples viewing one byte, from an iterable: the one-slice buffer
    # (2^49 bytes) cannot be had.
    huge = np.lib.stride_tricks.as_strided(np.ones(1, np.uint8), shape=(1, 1 << 24, 1 << 24), strides=(0, 0, 0))
    with pytest.raises(MemoryError, match="^no allocatable memory"):
        voxwrap.hull(list(huge), threads=1)


DATA = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data"


def labelled_volume():
    """A 9 x 10 x 12 label image: blocks of labels 3 and 7, a ball of label 5, and single voxels
    that meet the block of 3 only at a corner (label 7) or an edge (label 2), or nothing, so that
    6, 18 and 26 connectivity find different components."""
    v = np.zeros((9, 10, 12), np.uint16)
    v[1:4, 1:5, 1:6] = 3
    z, y, x = np.mgrid[0:9, 0:10, 0:12]
    v[((z - 6) / 2.5) ** 2 + ((y - 6) / 3) ** 2 + ((x - 7) / 3.5) ** 2 <= 1] = 5
    v[0:2, 7:10, 9:12] = 7
    v[4, 5, 6] = 7  # a corner of (3, 4, 5)
    v[2, 5, 6] = 2  # an edge of (2, 4, 5)
    v[8, 0, 0] = 7
    return v


# (objects, connectivity, min_voxels, largest, select, as an iterable of slices)
OBJECT_CASES = [
    ("labels", 26, 0, None, None, False, np.uint16),
    ("labels", 26, 2, None, "3-7", True, np.uint16),
    ("components", 6, 0, None, None, False, np.uint16),
    ("components", 18, 0, 2, (2, 6), True, np.uint16),
    ("components", 26, 3, None, None, False, np.uint16),
    ("components", 26, 0, 1, "5,7", False, np.uint16),
    # Labels beyond 16 bits, and negative ones: ids are the sample values.
    ("labels", 26, 0, None, None, False, np.uint32),
    ("labels", 26, 0, 3, None, True, np.int16),
]

# The labels of labelled_volume() as another kind: uint32 ids beyond 65535, int16 ids below 0.
RELABEL = {np.uint16: lambda v: v, np.uint32: lambda v: np.where(v > 0, v.astype(np.uint32) + 100000, 0),
           np.int16: lambda v: np.where(v > 0, -v.astype(np.int16), 0).astype(np.int16)}


def object_ids_and_voxels(volume, select, objects, connectivity):
    """The ids and voxel counts numpy and scipy find, before any filter."""
    lo, hi = {(2, 6): (2, 6), "3-7": (3, 7)}.get(select, (None, None))
    if select is None:
        chosen = volume != 0
    else:
        chosen = (volume >= lo) & (volume <= hi) if lo is not None else np.isin(volume, [5, 7])
    if objects == "labels":
        ids, counts = np.unique(volume[chosen], return_counts=True)
        return {int(i): int(n) for i, n in zip(ids, counts)}
    else:
        structure = scipy.ndimage.generate_binary_structure(3, {6: 1, 18: 2, 26: 3}[connectivity])
        labels, _ = scipy.ndimage.label(chosen, structure)
        counts = np.bincount(labels.ravel())
        counts[0] = 0
    return {int(i): int(counts[i]) for i in np.flatnonzero(counts)}


@pytest.mark.skipif(not BINARY, reason="VOXWRAP_BINARY (the command line) not set")
@pytest.mark.parametrize("case", OBJECT_CASES, ids=lambda c: "-".join(str(v) for v in c[:-1]) + "-" + np.dtype(c[-1]).name)
def test_objects_give_the_command_lines_table_and_files(tmp_path, case):
    objects, connectivity, min_voxels, largest, select, iterable, dtype = case
    volume = RELABEL[dtype](labelled_volume())
    spacing = (2.0, 0.5, 0.25)
    write_stack(volume, tmp_path / "slices")
    range_list = {None: voxwrap._voxwrap.nonzero_list(np.dtype(dtype)), (2, 6): "2-6"}.get(select, select)
    kind = objects if objects == "labels" else f"components={connectivity}"
    options = ["--quiet", "--objects", kind, "--table", str(tmp_path / "t.csv"), "--format", "ply",
               "--spacing", ",".join(str(s) for s in spacing[::-1])]
    options += ["--min-voxels", str(min_voxels)] if min_voxels else []
    options += ["--largest", str(largest)] if largest else []
    subprocess.run([BINARY, *options, str(tmp_path / "slices"), "-", range_list, str(tmp_path / "o{id}.ply")],
                   check=True)
    with open(tmp_path / "t.csv", newline="") as f:
        rows = list(csv.DictReader(f))

    source = list(volume) if iterable else volume
    arguments = dict(objects=objects, connectivity=connectivity, min_voxels=min_voxels, largest=largest,
                     spacing=spacing, threads=2)
    table = voxwrap.regionprops_table(source, select, **arguments)
    hulls = voxwrap.object_hulls(source, select, **arguments)
    assert list(table) == list(rows[0])
    for name, column in table.items():
        integral = name in ("id", "voxels", "hull_vertices", "hull_facets")
        assert column.dtype == (np.int64 if integral else np.float64)
        assert column.tolist() == [(int if integral else float)(r[name]) for r in rows], name
    assert list(hulls) == table["id"].tolist()
    found = object_ids_and_voxels(volume, select, objects, connectivity)
    for k, (i, h) in enumerate(hulls.items()):
        assert h.object_voxels == found[i] == table["voxels"][k]
        (lo, hi) = h.bbox
        assert lo == (table["bbox_min_z"][k], table["bbox_min_y"][k], table["bbox_min_x"][k])
        assert hi == (table["bbox_max_z"][k], table["bbox_max_y"][k], table["bbox_max_x"][k])
    for i in list(hulls)[:2] + list(hulls)[-1:]:
        hulls[i].write(tmp_path / "py.ply")
        assert (tmp_path / "py.ply").read_bytes() == (tmp_path / f"o{i}.ply").read_bytes()


OPTIONS = DATA / "options"


@pytest.mark.skipif(not BINARY, reason="VOXWRAP_BINARY (the command line) not set")
@pytest.mark.parametrize("directory, names", [(OPTIONS / "imagej" / "slices", "-"), (OPTIONS / "zunit" / "slices", "-"),
                                              (OPTIONS / "stack" / "imagej.tif", "--r")], ids=["imagej", "zunit", "stack"])
def test_spacing_tiff_is_the_command_lines(tmp_path, directory, names):
    for fmt in ("stl", "obj"):
        report = tmp_path / f"{fmt}.json"
        subprocess.run([BINARY, "--quiet", "--spacing", "tiff", "--format", fmt, "--report", str(report),
                        str(directory), names, "1-", str(tmp_path / f"cli.{fmt}")], check=True, capture_output=True)
        h = voxwrap.hull_stack(directory, names, "1-", spacing="tiff")
        h.write(tmp_path / f"py.{fmt}")
        assert (tmp_path / f"py.{fmt}").read_bytes() == (tmp_path / f"cli.{fmt}").read_bytes()
        assert h.report() == json.loads(report.read_text())


@pytest.mark.skipif(not BINARY, reason="VOXWRAP_BINARY (the command line) not set")
@pytest.mark.parametrize("directory, names", [(OPTIONS / "disagree" / "slices", "-"),
                                              (OPTIONS / "resolution" / "slices", "-"),
                                              (OPTIONS / "stack" / "differs.tif", "--r")],
                         ids=["disagree", "plane-only", "stack-pages"])
def test_spacing_tiff_refusals_are_the_command_lines(directory, names):
    cli = subprocess.run([BINARY, "--spacing", "tiff", str(directory), names, "1-", "/dev/null"], capture_output=True,
                         text=True)
    with pytest.raises(voxwrap.Error) as caught:
        voxwrap.hull_stack(directory, names, spacing="tiff")
    # The command line adds its usage line.
    assert cli.stderr.splitlines()[0] == str(caught.value)
    assert str(caught.value).startswith("--spacing tiff : ")


def test_rows_longer_than_a_counting_block_count_every_voxel():
    # Rows of 300001 samples: the eight-at-a-time count sums its 16-bit lanes more than once per
    # row (every 262136 samples; a lane would pass 32767 in a row of only object samples), and
    # ends with a tail of one.
    volume = np.random.default_rng(3).integers(0, 4, (2, 3, 300001), dtype=np.uint16)
    for select, chosen in [("0-3", volume < 4), ((1, 2), (volume >= 1) & (volume <= 2)),
                           ("0,3", (volume == 0) | (volume == 3))]:
        assert voxwrap.hull(volume, select, threads=1).object_voxels == np.count_nonzero(chosen)
