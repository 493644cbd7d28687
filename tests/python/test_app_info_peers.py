"""The application's facts against the package's own version, and the
dialogs on a real terminal (a pty): the question on the terminal, the answer
typed back."""
import os

import pytest

import cvfunc
from test_tool_session import Terminal  # the tool on a pty


def test_version_info_is_the_packages_version():
    major, minor, patch = (int(p) for p in cvfunc.__version__.split("."))
    info = cvfunc.VersionInfo()
    assert info[0] == f"{major}.{minor:02d}" and info[2] == cvfunc.__version__
    assert cvfunc.GetAppInfo()[1] == f"cvfunc/{major}.{minor}"


def converse(script, answers, cwd):
    """Runs the tool on a terminal, answering each prompt in turn; the output."""
    t, out = Terminal(cwd, ["-e", script]), ""
    try:
        for answer in answers:
            found = t.read_until(r"\]: $")
            out += t.seen
            assert found, out
            t.send(answer + "\n")
        t.read_until(r"(?!)")  # to the end
        out += t.seen
        _, status = os.waitpid(t.pid, 0)
        t.pid = 0
        assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, out
        return out
    finally:
        if t.pid:
            os.kill(t.pid, 9)
            os.waitpid(t.pid, 0)
        os.close(t.fd)


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
