"""Every example of the README runs and prints what the README shows.

Shell blocks (```sh, also indented in a list) are transcripts: a line `$ COMMAND` runs COMMAND with
bash in the repository's root (`build/cvfunc` is the tool of the build under
test), and the lines after it, up to the next `$` line or the end of the
block, are its standard output. A line `...` stands for any number of lines.
A command without output lines must only succeed. Python blocks (```python)
are doctests, run in the repository's root with ELLIPSIS and
NORMALIZE_WHITESPACE, in order and in one namespace, as a reader goes through
them (and as doctest.testfile would). The function reference's examples are checked by the
C++ suite (tests/test_reference.cpp)."""
import doctest
import os
import re
import subprocess
import textwrap

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.abspath(os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(ROOT, "build"))
README = os.path.join(ROOT, "README.md")


def blocks(language):
    """(first line number, text) of every fenced block in `language`."""
    text = open(README, encoding="utf-8").read()
    for m in re.finditer(r"^( *)```" + language + r"\n(.*?)^\1```$", text, re.M | re.S):
        yield text.count("\n", 0, m.start()) + 2, textwrap.dedent(m.group(2))


def transcripts():
    """(line, command, expected lines or None) of every `$` line of the shell blocks."""
    for first, text in blocks("sh"):
        current = None
        for i, line in enumerate(text.splitlines()):
            if line.startswith("$ "):
                if current:
                    yield current
                current = (first + i, line[2:], [])
            elif current:
                current[2].append(line)
        if current:
            yield current


def matches(expected, got):
    """Whether the lines `got` match `expected`, where a line '...' matches any run of lines."""
    if not expected:
        return not got
    if expected[0] == "...":
        return any(matches(expected[1:], got[k:]) for k in range(len(got) + 1))
    return bool(got) and expected[0] == got[0] and matches(expected[1:], got[1:])


def test_the_readme_has_examples_of_both_kinds():
    assert len(list(transcripts())) >= 8
    assert sum(">>>" in text for _, text in blocks("python")) >= 2


@pytest.mark.parametrize("line,command,expected", list(transcripts()), ids=lambda v: str(v)[:60])
def test_shell_example(line, command, expected, tmp_path):
    command = re.sub(r"(^|[\s(])build/cvfunc\b", lambda m: m.group(1) + os.path.join(BUILD, "cvfunc"), command)
    env = dict(os.environ, HOME=str(tmp_path), CVFUNC_HOME=str(tmp_path / "cvfunc"), XDG_CONFIG_HOME=str(tmp_path),
               CVFUNC_OUT=str(tmp_path))
    r = subprocess.run(["bash", "-c", command], cwd=ROOT, env=env, capture_output=True, text=True, timeout=120,
                       stdin=subprocess.DEVNULL)
    assert r.returncode == 0, f"README.md:{line}: {command}\n{r.stderr}"
    got = r.stdout.rstrip("\n").split("\n") if r.stdout.strip() else []
    want = [l.rstrip() for l in expected]
    while want and not want[-1]:
        want.pop()
    if want:
        assert matches(want, [l.rstrip() for l in got]), \
            f"README.md:{line}: {command}\n--- README\n" + "\n".join(want) + "\n--- got\n" + r.stdout


NAMESPACE = {}


@pytest.mark.parametrize("line,text", list(blocks("python")), ids=lambda v: str(v)[:40])
def test_python_example(line, text, monkeypatch, tmp_path):
    monkeypatch.chdir(ROOT)
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.setenv("CVFUNC_HOME", str(tmp_path / "cvfunc"))
    test = doctest.DocTestParser().get_doctest(text, NAMESPACE, f"README.md:{line}", README, line)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    out = []
    runner.run(test, out=out.append, clear_globs=False)
    NAMESPACE.update(test.globs)  # the test works on a copy
    assert runner.failures == 0, "".join(out)
