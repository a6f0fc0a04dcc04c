"""The compiled core of the Python package, tesk._core, built by the project's CMake for the Python that runs
pip (pyproject.toml says why setuptools drives CMake here).  The build goes to build/pip and builds the
module's target only (with GDAL, for tesk.run): no tests, no benchmarks.  CMAKE_BUILD_PARALLEL_LEVEL sets its jobs (2 unless
given)."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
VERSION = re.search(r"project\(tesk VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = ROOT / "build" / "pip"
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *generator, "-DCMAKE_BUILD_TYPE=Release",
                        f"-DPython3_EXECUTABLE={sys.executable}", "-DTESK_PYTHON=ON", "-DTESK_WITH_GDAL=ON",
                        "-DTESK_BUILD_TESTS=OFF", "-DTESK_BUILD_BENCH=OFF", "-DTESK_SANITIZE=OFF", "-DTESK_TSAN=OFF",
                        "-DTESK_FAULT_INJECTION=OFF"],
                       check=True)
        env = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL=os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2"))
        subprocess.run(["cmake", "--build", str(build), "--target", "tesk_python"], check=True, env=env)
        core = next((build / "python" / "tesk").glob("_core*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(core, target)


# setuptools' own files beside CMake's, in build/pip.
(ROOT / "build" / "pip").mkdir(parents=True, exist_ok=True)
setup(version=VERSION, ext_modules=[Extension("tesk._core", sources=[])], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build/pip/setuptools"}, "egg_info": {"egg_base": "build/pip"}})
