"""Builds voxwrap._voxwrap with CMake (target _voxwrap, -DVOXWRAP_PYTHON=ON) for pip.

The metadata is in pyproject.toml. CMake finds pybind11 through its CMake config (Debian:
pybind11-dev) and the Python that runs this build; the build tree is setuptools' build_temp, so
a second `pip install .` from the same checkout rebuilds only what changed.
"""

import os
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = os.path.abspath(os.path.dirname(self.get_ext_fullpath(ext.name)))
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.run(
            ["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
             "-DVOXWRAP_PYTHON=ON", "-DVOXWRAP_TESTS=OFF",
             f"-DPython_EXECUTABLE={sys.executable}",
             f"-DVOXWRAP_PYTHON_OUTPUT_DIR={target}"],
            check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", build, "--target", "_voxwrap", "-j", jobs], check=True)


# setuptools' work files go to build-python/, apart from the CMake build in build/.
setup(
    ext_modules=[Extension("voxwrap._voxwrap", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-python"}},
)
