"""The tool as a person uses it: several runs loaded side by side, and the
interactive session on a real terminal (a pty) — Tab completion, statements
over several lines, Ctrl-C that stops a statement and keeps the session."""
import os
import pty
import re
import select
import signal
import subprocess
import time

import pytest

import cvfunc

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(cvfunc.__file__), "..", "..")
TOOL = os.path.abspath(os.path.join(BUILD, "cvfunc"))
EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
TRAN = os.path.join(EXAMPLES, "filter_tran.raw")
MC = os.path.join(EXAMPLES, "filter_mc.raw")


def run_tool(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, stdin=subprocess.DEVNULL)


def test_runs_loaded_under_names_side_by_side():
    r = run_tool("--load", f"a={TRAN}", "--load", f"mc={MC}", "-e", "NumDivisions(mc.out)",
                 "-e", "XFromY(a.out, 0.5) - XFromY(Vec('a.v(out)'), 0.5)")
    assert r.returncode == 0, r.stderr
    words = r.stdout.split()
    assert words[0] == "20" and len(words) > 1 and set(words[1:]) == {"0"}
    r = run_tool("--load", f"a={TRAN}", "-e", "out")
    assert r.returncode == 1 and "Unknown name 'out'; did you mean a.out" in r.stderr


def test_unpaired_operands_warn_instead_of_answering_nothing_silently():
    r = run_tool("-e", "[1,2,3] - [1,2]", "-e", "[1,2,3] - 1")
    assert r.returncode == 0 and r.stdout.split() == ["(empty)", "0", "1", "2"], r
    assert r.stderr == "Warning: The operator '-' gave no result: it cannot pair operands of 3 and 2 elements\n"
    # Runs of different lengths: the same warning, with the lengths.
    r = run_tool("--load", f"a={TRAN}", "--load", f"b={MC}", "-e", "a.out - b.out")
    assert r.returncode == 0 and r.stdout.split() == ["(empty)"]
    assert "Warning: The operator '-' gave no result: it cannot pair operands of 1081 and 13073 elements" in r.stderr


class Terminal:
    """The tool on a pseudo-terminal, run in `home` (interactive unless `args` say otherwise)."""

    def __init__(self, home, args=("--load", TRAN)):
        env = dict(os.environ, CVFUNC_HOME=str(home), HOME=str(home), TERM="dumb")
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(home)
            os.execve(TOOL, [TOOL, *args], env)
        self.seen = ""

    def read_until(self, pattern, timeout=15):
        """Reads until `pattern` is in what was read since the last send, the tool ends, or the time is up."""
        end = time.monotonic() + timeout
        while not re.search(pattern, self.seen) and time.monotonic() < end:
            if select.select([self.fd], [], [], 0.1)[0]:
                try:
                    chunk = os.read(self.fd, 4096).decode(errors="replace")
                except OSError:
                    break
                if not chunk:
                    break
                self.seen += chunk
        return re.search(pattern, self.seen) is not None

    def send(self, text):
        self.seen = ""
        os.write(self.fd, text.encode())

    def close(self, timeout=30):
        """Ends the session with Ctrl-D and gives the exit status. A Ctrl-D sent just before the
        line editor takes the terminal is a stray character of the line: then the line is cleared
        (Ctrl-U) and Ctrl-D sent again. Output is drained meanwhile; the tool is killed at the end."""
        end = time.monotonic() + timeout
        keys, resend = b"\x04", 0.0
        while True:
            if time.monotonic() >= resend:
                try:
                    os.write(self.fd, keys)
                except OSError:  # the tool has just ended
                    pass
                keys, resend = b"\x15\x04", time.monotonic() + 2
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                break
            if time.monotonic() > end:
                os.kill(self.pid, signal.SIGKILL)
                _, status = os.waitpid(self.pid, 0)
                break
            self.read_until(r"(?!)", timeout=0.2)
        os.close(self.fd)
        return status


@pytest.fixture
def terminal(tmp_path):
    t = Terminal(tmp_path)
    assert t.read_until(r"> $")
    yield t
    if t.pid:
        try:
            os.kill(t.pid, signal.SIGKILL)
            os.waitpid(t.pid, 0)
        except ProcessLookupError:
            pass


def test_the_interactive_session(terminal):
    t = terminal
    t.send("XFr\t")                                   # Tab completes a function name
    assert t.read_until(r"XFromY")
    t.send("(out,\n")                                 # an open bracket continues the line
    assert t.read_until(r"\.\.\. $")
    t.send("0.5)\n")
    assert t.read_until(r"\d+\.\d+e-\d+\s[\s\S]*> $"), t.seen
    t.send("Sleep(30)\n")                             # Ctrl-C stops a pause ...
    time.sleep(0.5)
    os.kill(t.pid, signal.SIGINT)
    assert t.read_until(r"Interrupted in function 'Sleep'[\s\S]*> $"), t.seen
    t.send("x = Fourier(Interp(out, 1e6), 1e3, 4000)\n")  # ... and a later long call, named as itself,
    time.sleep(1.5)
    os.kill(t.pid, signal.SIGINT)
    assert t.read_until(r"Interrupted in function 'Fourier'"), t.seen
    t.send("vars\n")                                  # stopped mid-integration: no partial result
    assert t.read_until(r"> $") and not re.search(r"^x\r?$", t.seen, re.M), t.seen
    t.send("NumElems(out)\n")                         # the session and its vectors stay
    assert t.read_until(r"\b\d{2,}\b[\s\S]*> $"), t.seen
    t.send("half typed")                              # Ctrl-C at the prompt drops the line
    time.sleep(0.2)
    os.kill(t.pid, signal.SIGINT)
    assert t.read_until(r"> $")
    t.send("1 + 1\n")
    assert t.read_until(r"\b2\b[\s\S]*> $"), t.seen  # Ctrl-D only once the prompt is back
    status = t.close()
    t.pid = 0
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0


def test_the_example_of_the_help_text_works():
    text = subprocess.run([TOOL], input="help\n", capture_output=True, text=True).stdout
    example = re.search(r"e\.g\. (.*)\.\n", text).group(1)
    r = run_tool("-e", example)
    assert r.returncode == 0 and r.stdout.split() == ["0.5", "1.5"], (example, r)


def test_help_options_says_which_options_no_function_reads():
    r = run_tool("--help", "options")
    assert r.returncode == 0
    assert re.search(r"^  InterpOrder = '2'  \(read by no function here\)$", r.stdout, re.M), r.stdout
    assert re.search(r"^  MCNumberOfBins = '0'$", r.stdout, re.M)
    r = run_tool("--option", "InterpOrder=1", "--option", "MCNumberOfBins=4", "-e", "1")
    assert r.returncode == 0 and r.stdout == "1\n"
    assert r.stderr == ("Warning: no function here reads the option 'InterpOrder' (it is kept for a graphical host); "
                        "see cvfunc --help options\n")
