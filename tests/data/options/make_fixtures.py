#!/usr/bin/python3
"""Writes the slice stacks of the --spacing tiff tests, with tifffile.

Each stack is a box of object voxels (columns 3-6, rows 2-4, every slice; gray value 3000, the
tests use the range list 1000-4095) in 8 x 8 slices of 16 bits:
- imagej/: three slices in tifffile's ImageJ mode: 0.35 micrometres per pixel (XResolution and
  YResolution rational, ResolutionUnit none), "spacing=2.5" and "unit=\\u00B5m" in the
  ImageDescription;
- resolution/: two plain TIFF slices of 100 pixels per centimetre (ResolutionUnit 3): a pixel
  size, but no distance between slices;
- disagree/: like imagej/, but the third slice says "spacing=3";
- zunit/: three slices in ImageJ mode of 2 pixels per micron ("unit=micron") whose slice
  distance is given in millimetres ("spacing=0.0025", "zunit=mm"): 0.5 x 0.5 x 2.5 micrometres;
- stack/imagej.tif: the same three slices as one stack file in ImageJ mode (the description on
  the first page only, the resolution on every page);
- stack/differs.tif: a stack file of three pages, each with its own resolution and ImageJ
  description, the second of 2 pixels per unit and "spacing=3" where the others have 4 and
  "spacing=2".
Run from this directory: /usr/bin/python3 make_fixtures.py
"""
import os
import shutil

import numpy as np
import tifffile

HERE = os.path.dirname(os.path.abspath(__file__))


def stack_dir(name):
    top = os.path.join(HERE, name)
    shutil.rmtree(top, ignore_errors=True)
    d = os.path.join(top, "slices")
    os.makedirs(d)
    return d


def box():
    a = np.full((8, 8), 200, np.uint16)
    a[2:5, 3:7] = 3000
    return a


def imagej(name, spacings):
    d = stack_dir(name)
    for k, z in enumerate(spacings):
        tifffile.imwrite(os.path.join(d, "s%02d.tif" % k), box(), imagej=True,
                         resolution=(1 / 0.35, 1 / 0.35),
                         metadata={"spacing": z, "unit": "\\u00B5m"})


imagej("imagej", [2.5, 2.5, 2.5])
imagej("disagree", [2.5, 2.5, 3])
d = stack_dir("resolution")
for k in range(2):
    tifffile.imwrite(os.path.join(d, "s%02d.tif" % k), box(), resolution=(100, 100),
                     resolutionunit="CENTIMETER")

zunit = {"spacing": 0.0025, "unit": "micron", "zunit": "mm"}
d = stack_dir("zunit")
for k in range(3):
    tifffile.imwrite(os.path.join(d, "s%02d.tif" % k), box(), imagej=True, resolution=(2, 2),
                     metadata=zunit)
top = os.path.join(HERE, "stack")
shutil.rmtree(top, ignore_errors=True)
os.makedirs(top)
tifffile.imwrite(os.path.join(top, "imagej.tif"), np.stack([box()] * 3), imagej=True,
                 resolution=(2, 2), metadata=dict(zunit, axes="ZYX"))
with tifffile.TiffWriter(os.path.join(top, "differs.tif")) as t:
    for k in range(3):
        ppu, z = (2, 3) if k == 1 else (4, 2)
        t.write(box(), resolution=(ppu, ppu), resolutionunit="NONE", metadata=None,
                description="ImageJ=1.54f\nimages=3\nunit=mm\nspacing=%d\n" % z)
