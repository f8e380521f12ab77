# SPDX-License-Identifier: Apache-2.0
"""The wheel's native part, lmsview._lmsview, built by the project's CMake
(the version comes from its project() line, as everywhere else). setuptools'
own scratch goes under build/wheel, beside the CMake presets' folders."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
SCRATCH = ROOT / "build" / "wheel"


def version():
    found = re.search(r"project\(lmsview VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text())
    if not found:
        sys.exit("setup.py: no version in CMakeLists.txt's project()")
    return found.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = SCRATCH / "cmake"
        configure = ["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     "-DLMSVIEW_PYTHON=ON", "-DLMSVIEW_BUILD_TESTS=OFF", "-DLMSVIEW_BUILD_PROGRAMS=OFF",
                     "-DLMSVIEW_ROS2=OFF", "-DCMAKE_MODULE_LINKER_FLAGS=-s", "-DPython_EXECUTABLE=" + sys.executable]
        try:  # an isolated build has pybind11 from the index, not Debian's
            import pybind11
            configure.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
        except ImportError:
            pass
        if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "_lmsview", "--parallel",
                        str(os.cpu_count() or 1)], check=True)
        built = sorted((build / "python" / "site" / "lmsview").glob("_lmsview*.so"))
        if len(built) != 1:
            sys.exit("setup.py: CMake made %d modules, not one" % len(built))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


SCRATCH.mkdir(parents=True, exist_ok=True)
setup(
    version=version(),
    ext_modules=[Extension("lmsview._lmsview", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": str(SCRATCH / "setuptools")}, "egg_info": {"egg_base": str(SCRATCH)}},
)
