import os
import pathlib
import sys

# ctest sets PYTHONPATH; a bare `pytest tests/python` finds the package
# through CVFUNC_BUILD_DIR instead.
_build = os.environ.get("CVFUNC_BUILD_DIR")
if _build and os.path.join(_build, "python") not in sys.path:
    sys.path.insert(0, os.path.join(_build, "python"))

import pytest  # noqa: E402


@pytest.fixture(scope="session")
def data_dir():
    return pathlib.Path(os.environ.get("CVFUNC_TEST_DATA", pathlib.Path(__file__).parents[1] / "data"))


@pytest.fixture
def data_file(data_dir):
    def find(name):
        path = data_dir / name
        if not path.exists():
            pytest.skip(f"{name} is not in the test data")
        return path

    return find


@pytest.fixture
def sandbox(tmp_path, monkeypatch):
    """A private home for tests that touch the disk: HOME, the XDG variables,
    CVFUNC_HOME, the system settings directory and TMPDIR point into tmp_path,
    and the current directory is its work/ folder."""
    for name, rel in [("HOME", "home"), ("XDG_CONFIG_HOME", "home/.config"), ("XDG_DATA_HOME", "home/.local/share"),
                      ("CVFUNC_HOME", "cvhome"), ("CVFUNC_SYSCONF", "etc"), ("TMPDIR", "tmp")]:
        (tmp_path / rel).mkdir(parents=True, exist_ok=True)
        monkeypatch.setenv(name, str(tmp_path / rel))
    work = tmp_path / "work"
    work.mkdir()
    monkeypatch.chdir(work)
    return work
