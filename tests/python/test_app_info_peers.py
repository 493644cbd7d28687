"""The application's facts against the package's own version, and the
dialogs on a real terminal (a pty): the question on the terminal, the answer
typed back."""
import os
import pty
import re
import select
import time

import pytest

import cvfunc

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(cvfunc.__file__), "..", "..")
TOOL = os.path.abspath(os.path.join(BUILD, "cvfunc"))


def test_version_info_is_the_packages_version():
    major, minor, patch = (int(p) for p in cvfunc.__version__.split("."))
    info = cvfunc.VersionInfo()
    assert info[0] == f"{major}.{minor:02d}" and info[2] == cvfunc.__version__
    assert cvfunc.GetAppInfo()[1] == f"cvfunc/{major}.{minor}"


def converse(script, answers, cwd):
    """Runs the tool on a terminal, answering each prompt in turn; the output."""
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(cwd)
        os.execv(TOOL, [TOOL, "-e", script])
    seen, pending = "", list(answers)
    end = time.monotonic() + 20
    try:
        while time.monotonic() < end:
            if not select.select([fd], [], [], 0.1)[0]:
                continue
            try:
                chunk = os.read(fd, 4096).decode(errors="replace")
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
            if pending and re.search(r"\]: $", seen):
                os.write(fd, pending.pop(0).encode() + b"\n")
        _, status = os.waitpid(pid, 0)
        pid = 0
        assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, seen
        return seen
    finally:
        if pid:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
        os.close(fd)


@pytest.mark.parametrize("answers, chosen", [
    (["n"], "No"),            # a unique start of a button's word
    (["maybe", "3"], "Cancel"),  # not a button: asked again; then by number
    ([""], "Yes"),            # Enter takes the default
])
def test_message_box_asks_on_the_terminal(tmp_path, answers, chosen):
    out = converse('MessageBox(["Delete the run?", "Cleanup"], ["YesNoCancel", "question"])', answers, tmp_path)
    assert "Question: Cleanup" in out and "Delete the run?" in out
    assert "1 Yes / 2 No / 3 Cancel [Yes]: " in out
    assert out.rstrip().splitlines()[-1].strip() == chosen


def test_choose_directory_asks_on_the_terminal(tmp_path):
    (tmp_path / "runs").mkdir()
    out = converse('ChooseDirectory("/data")', ["runs"], tmp_path)
    assert "Choose a directory [/data]: " in out
    assert out.rstrip().splitlines()[-1].strip() == str(tmp_path / "runs")


def test_import_without_numpy_says_what_to_install():
    import subprocess
    import sys
    run = subprocess.run([sys.executable, "-c", "import sys; sys.modules['numpy'] = None; import cvfunc"],
                         capture_output=True, text=True, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert run.returncode != 0
    assert "cvfunc needs numpy" in run.stderr and "python3-numpy" in run.stderr, run.stderr
