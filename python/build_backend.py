# SPDX-License-Identifier: Apache-2.0
"""setuptools' build backend, asking for the native build's tools only
where this machine lacks them: a Debian machine with cmake, ninja and
pybind11-dev builds the sdist and the wheel offline, and `python3 -m build
--no-isolation` finds nothing missing; elsewhere pip fetches them."""

import glob
import shutil

from setuptools import build_meta as _setuptools
from setuptools.build_meta import *  # noqa: F401,F403 (the backend's other hooks)


def _native_tools():
    needed = []
    if not shutil.which("cmake"):
        needed.append("cmake>=3.25")
    if not shutil.which("ninja"):
        needed.append("ninja")
    try:
        import pybind11  # noqa: F401
    except ImportError:
        if not glob.glob("/usr/lib/cmake/pybind11/pybind11Config.cmake") + glob.glob(
                "/usr/share/cmake/pybind11/pybind11Config.cmake"):
            needed.append("pybind11>=2.10")
    return needed


def get_requires_for_build_wheel(config_settings=None):
    return _setuptools.get_requires_for_build_wheel(config_settings) + _native_tools()
