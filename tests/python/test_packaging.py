"""The package as Python users install it: `pip install .` and `pip wheel .`
build it through the project's CMake build (reused here, so only what changed
is compiled) into a throwaway virtual environment, offline, on the system's
setuptools. The installed package must work from the environment alone."""
import glob
import os
import subprocess
import sys
import zipfile

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("CVFUNC_BUILD_DIR")

pytestmark = pytest.mark.skipif(not BUILD or not os.path.isfile(os.path.join(BUILD, "CMakeCache.txt")),
                                reason="needs the CMake build (CVFUNC_BUILD_DIR) to reuse")


def clean_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "CVFUNC_BUILD_DIR", "CVFUNC_MODULE", "CVFUNC_SHARE", "CVFUNC_TEST_DATA")}
    env.update(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", **extra)
    return env


def run(cmd, **kw):
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=900, **kw)
    assert r.returncode == 0, f"{cmd}\n{r.stdout[-3000:]}\n{r.stderr[-3000:]}"
    return r.stdout


@pytest.fixture(scope="module")
def venv(tmp_path_factory):
    where = tmp_path_factory.mktemp("venv")
    try:
        run([sys.executable, "-m", "venv", "--system-site-packages", str(where)])
    except AssertionError as e:
        pytest.skip(f"no venv: {e}")
    return where


def test_pip_install_gives_a_package_that_works_on_its_own(venv, tmp_path):
    python = str(venv / "bin" / "python")
    run([python, "-m", "pip", "install", "--no-build-isolation", "--no-deps", ROOT],
        env=clean_env(CVFUNC_CMAKE_BUILD_DIR=BUILD), cwd=tmp_path)
    out = run([python, "-c", """
import cvfunc, os
print(os.path.dirname(cvfunc.__file__))
print(float(cvfunc.Mean1(cvfunc.XY([0, 0, 3], [0, 2, 3]))))
print(cvfunc.SystemValuePath("SHAREPATH"))
print("crosses a level" in (cvfunc.XFromY.__doc__ or ""))
print(sorted({l.split()[-1] for l in open("/proc/self/maps") if "libcvhost" in l or "libfunctions" in l or "libmeasure" in l}))
"""], env=clean_env(HOME=str(tmp_path), CVFUNC_HOME=str(tmp_path)), cwd=tmp_path).split("\n")
    package = out[0]
    assert package.startswith(str(venv)), out
    assert out[1] == "0.5"
    assert out[2] == os.path.join(package, "share")
    assert out[3] == "True", "the function reference did not come with the package"
    # The host and the module come from the package, not from the build tree.
    assert out[4] == str([os.path.join(package, n) for n in ("libcvhost.so", "libfunctions.so", "libmeasure.so")]), out
    run([python, "-m", "pip", "uninstall", "-y", "cvfunc"], env=clean_env())
    assert not os.path.exists(package)


def test_pip_wheel_holds_the_extension_the_host_the_module_and_the_reference(tmp_path):
    run([sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-w", str(tmp_path), ROOT],
        env=clean_env(CVFUNC_CMAKE_BUILD_DIR=BUILD), cwd=tmp_path)
    wheel, = glob.glob(str(tmp_path / "cvfunc-*.whl"))
    names = zipfile.ZipFile(wheel).namelist()
    for expected in ("cvfunc/__init__.py", "cvfunc/libcvhost.so", "cvfunc/libfunctions.so", "cvfunc/libmeasure.so",
                     "cvfunc/share/reference/WindowStatsFuncs.ref", "cvfunc/share/examples/filter_mc.raw"):
        assert expected in names, expected
    assert any(n.startswith("cvfunc/_cvfunc") and n.endswith(".so") for n in names)
