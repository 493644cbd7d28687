"""Builds the extension of the Python package with the project's CMake build.

setuptools knows only how to hand the work on: `build_ext` configures a CMake
build (or reuses one), builds the extension and the function module, and puts
into the package what an installed package needs beside its Python files:

    cvfunc/_cvfunc.*.so   the extension
    cvfunc/libcvhost.so   the host it links to (found through $ORIGIN)
    cvfunc/libfunctions.so  the function module, found beside the host
    cvfunc/libmeasure.so    the measurement module, beside it
    cvfunc/share/         the reference and data tree, found beside the host

CVFUNC_CMAKE_BUILD_DIR names an existing, configured build to reuse (a
developer's `build/`): it is brought up to date, never reconfigured. Without
it a Release build is made in setuptools' temporary directory. CMAKE_ARGS
adds options to that configuration, CVFUNC_JOBS the number of compilers.
"""
import glob
import os
import shutil
import subprocess

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = os.environ.get("CVFUNC_CMAKE_BUILD_DIR")
        if build_dir:
            build_dir = os.path.abspath(build_dir)
            if not os.path.isfile(os.path.join(build_dir, "CMakeCache.txt")):
                raise SystemExit(f"CVFUNC_CMAKE_BUILD_DIR={build_dir} is not a configured CMake build")
        else:
            build_dir = os.path.abspath(os.path.join(self.build_temp, "cmake"))
            os.makedirs(build_dir, exist_ok=True)
            subprocess.check_call(["cmake", "-S", HERE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                                   "-DCVFUNC_PYTHON=ON", "-DCVFUNC_TESTS=OFF", "-DCVFUNC_BENCH=OFF",
                                   *os.environ.get("CMAKE_ARGS", "").split()])
        jobs = os.environ.get("CVFUNC_JOBS", str(os.cpu_count() or 1))
        subprocess.check_call(["cmake", "--build", build_dir, "-j", jobs, "--target", "_cvfunc", "functions", "measure"])

        target = os.path.dirname(os.path.abspath(self.get_ext_fullpath(ext.name)))
        os.makedirs(target, exist_ok=True)
        built = glob.glob(os.path.join(build_dir, "python", "cvfunc", "_cvfunc*.so"))
        if len(built) != 1:
            raise SystemExit(f"expected one built extension in {build_dir}/python/cvfunc, found {built}")
        shutil.copy2(built[0], self.get_ext_fullpath(ext.name))
        for library in ("libcvhost.so", "libfunctions.so", "libmeasure.so"):
            shutil.copy2(os.path.join(build_dir, library), os.path.join(target, library))
        share = os.path.join(target, "share")
        shutil.rmtree(share, ignore_errors=True)
        shutil.copytree(os.path.join(HERE, "share"), share, ignore=shutil.ignore_patterns("examples"))
        examples = os.path.join(share, "examples")
        os.makedirs(examples, exist_ok=True)
        for pattern in ("*.raw", "*.cir", "*.cvf"):
            for f in glob.glob(os.path.join(HERE, "examples", pattern)):
                shutil.copy2(f, examples)


# The name only tells setuptools where the extension goes; CMake names the file.
setup(ext_modules=[Extension("cvfunc._cvfunc", sources=[])],
      cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build-pip"}, "egg_info": {"egg_base": "build-pip"}})
