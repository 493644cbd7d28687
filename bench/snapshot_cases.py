"""The call cases of bench/snapshot.py: the sandbox the calls run in, the
pools of argument values, and the cases drawn from them.

Rules that keep two builds comparable:
- Which cases there are depends only on this file, the files of this
  checkout (share/reference, examples, tests/data) and what a build declares
  (names, argument counts and kinds); never on time, the environment or the
  build's location. Random choices use generators seeded from the function's
  name.
- Every value is made afresh for each call by its factory, so a function that
  changed an argument in place cannot change the next call's input.
- A value is named by a fixed label; a case is keyed by the function and the
  labels of its arguments, so the same key means the same call in both builds.
- Paths handed to functions lie inside the sandbox: functions that delete,
  copy or create files do so there and nowhere else. Never '..'.
"""

import hashlib
import os
import random
import re
import shutil
import wave
from pathlib import Path

import numpy as np

REPO = Path(__file__).resolve().parents[1]
REFERENCE_DIR = REPO / "share" / "reference"

# The file that marks a folder as a sandbox: reset() empties no other folder.
MARKER = ".cvfunc-snapshot-sandbox"

# One fixed time for every file and folder of the sandbox, so that stamps and
# file information agree between runs.
FIXED_TIME = 1577836800  # 2020-01-01 00:00:00 UTC

# Arguments per call: every count from the minimum up to this cap (or one more
# than the minimum when that is higher), and no further.
MAX_COUNT = 4
# Random combinations per argument count, on top of the one-at-a-time sweep.
RANDOM_PER_COUNT = 32


def seeded(*words):
    """A generator seeded from text, the same in every process (unlike hash())."""
    digest = hashlib.sha256("\x1f".join(map(str, words)).encode()).digest()
    return random.Random(int.from_bytes(digest[:8], "little"))


# ----------------------------------------------------------------- sandbox

class Sandbox:
    """A folder that stands in for the user's world: home, settings, temporary
    files and the current directory. reset() rebuilds it exactly."""

    def __init__(self, root):
        self.root = Path(root)
        self.work = self.root / "work"  # the current directory, holding the input files

    def env(self):
        """The whole environment of the snapshot process and of the tool: a
        fixed set, so that functions reading variables see the same values."""
        r = str(self.root)
        return {
            "PATH": "/usr/local/bin:/usr/bin:/bin",
            "HOME": r + "/home",
            "CVFUNC_HOME": r + "/cvfunc-home",
            "CVFUNC_SYSCONF": r + "/sysconf",
            "XDG_CONFIG_HOME": r + "/xdg/config",
            "XDG_DATA_HOME": r + "/xdg/data",
            "XDG_CACHE_HOME": r + "/xdg/cache",
            "XDG_STATE_HOME": r + "/xdg/state",
            "XDG_RUNTIME_DIR": r + "/xdg/runtime",
            "TMPDIR": r + "/tmp",
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "TZ": "UTC",
            "PYTHONHASHSEED": "0",
            "PYTHONDONTWRITEBYTECODE": "1",
        }

    def reset(self):
        """Removes whatever the last calls left and writes the input files anew."""
        root = self.root
        marker = root / MARKER
        if root.exists() and any(root.iterdir()) and not marker.exists():
            raise SystemExit(f"snapshot: {root} exists and is not a snapshot sandbox; "
                             "remove it or choose another --sandbox")
        if root.exists():
            for child in root.iterdir():
                if child.name == MARKER:
                    continue
                if child.is_dir() and not child.is_symlink():
                    shutil.rmtree(child, ignore_errors=True)
                else:
                    child.unlink(missing_ok=True)
        for sub in ("home", "cvfunc-home", "sysconf", "xdg/config", "xdg/data", "xdg/cache", "xdg/state",
                    "tmp", "work/sub/deeper", "work/empty-dir"):
            (root / sub).mkdir(parents=True, exist_ok=True)
        marker.touch()
        runtime = root / "xdg" / "runtime"
        runtime.mkdir(mode=0o700, parents=True, exist_ok=True)
        os.chmod(runtime, 0o700)
        for name, content in INPUT_FILES.items():
            path = self.work / name
            if isinstance(content, Path):
                if content.exists():
                    shutil.copyfile(content, path)
            else:
                path.write_bytes(content if isinstance(content, bytes) else content.encode())
        # Stamps last, deepest first: writing into a folder moves its stamp.
        for dirpath, dirnames, filenames in os.walk(root, topdown=False):
            for name in filenames + dirnames:
                os.utime(os.path.join(dirpath, name), (FIXED_TIME, FIXED_TIME), follow_symlinks=False)
        os.utime(root, (FIXED_TIME, FIXED_TIME))

    def enter(self):
        """Back into the working folder (a call may have changed or removed it)."""
        try:
            os.chdir(self.work)
        except OSError:
            self.work.mkdir(parents=True, exist_ok=True)
            os.chdir(self.work)


def _wav_bytes():
    """A short 16-bit mono tone, written with the standard library so that no
    test file is needed."""
    import io
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        t = np.arange(64)
        w.writeframes((np.sin(2 * np.pi * t / 16) * 12000).astype("<i2").tobytes())
    return buf.getvalue()


INPUT_FILES = {
    "notes.txt": "first line\nsecond line, with a comma\n\n# a comment\nkey = value\nlast 1.5 2.2k\n",
    "empty.txt": "",
    "table.csv": "time,v(in),v(out)\n0,0,0\n1e-6,1,0.1\n2e-6,1,0.3\n3e-6,1,0.45\n4e-6,1,0.6\n",
    "settings.ini": "[Section]\nkey=value\nnumber=42\n\n[Other]\nname=snapshot\n",
    "sub/inner.txt": "inner\nfile\n",
    "sub/deeper/leaf.cfg": "leaf=1\n",
    "circuit.cir": REPO / "examples" / "filter.cir",
    "ac.raw": REPO / "examples" / "filter_ac.raw",
    "tran.raw": REPO / "examples" / "filter_tran.raw",
    "step.raw": REPO / "examples" / "filter_step.raw",
    "mc.raw": REPO / "examples" / "filter_mc.raw",
    "net.s2p": REPO / "tests" / "data" / "touchstone" / "ntwk1.s2p",
    "noisy.s2p": REPO / "tests" / "data" / "touchstone" / "ex_18.s2p",
    "tone.wav": _wav_bytes(),
    "report.xml": "<?xml version=\"1.0\"?>\n<report><run id=\"1\"><value>1.5</value></run></report>\n",
}


# ----------------------------------------------------------------- values

class Value:
    """One argument value: a label for the snapshot file and a factory that
    makes it afresh for every call."""

    __slots__ = ("label", "make")

    def __init__(self, label, make):
        self.label, self.make = label, make

    def __repr__(self):
        return self.label


def _const(label, obj):
    """A value that is immutable or copied on every call."""
    if isinstance(obj, np.ndarray):
        return Value(label, lambda: obj.copy())
    if isinstance(obj, list):
        return Value(label, lambda: list(obj))
    return Value(label, lambda: obj)


def _runs(vector, runs, points, uneven=False):
    """Some runs of a multi-run Vector, each cut to a few points spread over
    the run (the first points of a step response are all zero). With `uneven`,
    run k keeps `points + k` points, so the runs differ in length."""
    import cvfunc
    values, refs, lengths = [], [], []
    for k in range(min(runs, len(vector.division_lengths))):
        run = vector.division(k)
        y, x = np.asarray(run.values), np.asarray(run.ref)
        keep = np.unique(np.linspace(0, y.size - 1, points + (k if uneven else 0)).round().astype(int))
        values.append(y[keep])
        refs.append(x[keep])
        lengths.append(keep.size)
    ref = cvfunc.Vector(np.concatenate(refs), phys=vector.ref_phys, name=vector.ref_name)
    return cvfunc.Vector(np.concatenate(values), ref=ref, phys=vector.phys, name=vector.name,
                         divisions=lengths, labels=list(vector.labels[:len(lengths)]) or None)


class Pools:
    """The values per argument kind. Building needs the cvfunc package (for
    Vectors and the simulation files) and a sandbox holding the input files."""

    def __init__(self, sandbox):
        import cvfunc
        V = cvfunc.Vector
        rng = np.random.default_rng(20240601)
        work = str(sandbox.work)

        scalars = [_const(repr(x), x) for x in (0.0, 1.0, 2.0, 3.0, -1.0, 0.5, -2.5, 10.0, 100.0)]
        scalars += [_const(t, float(t)) for t in ("1e-300", "1e300", "nan", "inf", "-inf")]
        scalars.append(_const("int 5", 5))

        rand64 = rng.normal(size=64)
        rand1000 = rng.uniform(-1, 1, 1000)
        x_even = np.linspace(0, 1e-3, 32)
        y_even = np.sin(2 * np.pi * 3 * x_even / 1e-3)
        x_long = np.linspace(0, 1e-3, 1000)
        y_long = np.sin(2 * np.pi * 7 * x_long / 1e-3) + 0.25
        x_uneven = np.sort(rng.uniform(0, 10, 50))
        y_uneven = np.cos(x_uneven) + 0.1 * rng.normal(size=50)
        cplx = rng.normal(size=8) + 1j * rng.normal(size=8)
        freq = np.logspace(1, 6, 25)
        h = 1 / (1 + 1j * freq / 1e3)

        vectors = [
            _const("empty", np.zeros(0)),
            _const("[4]", np.array([4.0])),
            _const("[1,-1]", np.array([1.0, -1.0])),
            _const("[3,1,2] list", [3, 1, 2]),
            _const("ramp8", np.arange(8.0)),
            _const("ramp-3..3", np.linspace(-3, 3, 13)),
            _const("[1,nan,3]", np.array([1.0, np.nan, 3.0])),
            _const("rand64", rand64),
            _const("rand1000", rand1000),
            Value("sine32 x-even", lambda: V(y_even.copy(), ref=V(x_even.copy(), phys="Time"), phys="Voltage")),
            Value("sine1000 x-even", lambda: V(y_long.copy(), ref=V(x_long.copy(), phys="Time"), phys="Voltage")),
            Value("cos50 x-uneven", lambda: V(y_uneven.copy(), ref=x_uneven.copy())),
            Value("ramp5 x-descending", lambda: V(np.arange(5.0), ref=np.arange(5.0)[::-1].copy())),
        ]
        complexes = [
            _const("cplx8", cplx),
            _const("[1j]", np.array([1j])),
            Value("lowpass25 x-freq", lambda: V(h.copy(), ref=V(freq.copy(), phys="Frequency"), phys="Voltage")),
        ]

        # Simulation results, loaded once and cut to a few points per run.
        loaded = {}
        for name in ("ac.raw", "tran.raw", "step.raw", "mc.raw"):
            try:
                loaded[name] = cvfunc.load(str(sandbox.work / name))
            except Exception:  # a build that cannot load them gets these values as failures
                loaded[name] = None

        def from_file(label, file, vector, cut):
            def make():
                data = loaded[file]
                if data is None:
                    raise RuntimeError(f"{file} could not be loaded")
                return cut(data[vector])
            return Value(label, make)

        files = [
            from_file("tran:out 40pt", "tran.raw", "out", lambda v: _runs(v, 1, 40)),
            from_file("step:out 5 runs x12", "step.raw", "out", lambda v: _runs(v, 5, 12)),
            from_file("mc:out 4 runs uneven", "mc.raw", "out", lambda v: _runs(v, 4, 6, uneven=True)),
        ]
        ac_files = [from_file("ac:out 30pt", "ac.raw", "out", lambda v: _runs(v, 1, 30))]

        texts = [_const(repr(s), s) for s in (
            "", "hello", "Hello World", "a,b,c", "a b  c", "1.5", "2.2k", "-3", "1e3", "xsort", "none",
            "hamming", "all", "lock", "x=1", "SNAP_VAR=1", "{name} and {value}", "*.txt", "  padded  ",
            "line1\nline2", "tab\there", "héllo wörld €", "C:\\dir\\file.txt", "%g %s", "[a-c]+")]
        texts.append(_const("'x'*1000", "x" * 1000))
        texts += [_const("list[a,b,c]", ["a", "b", "c"]), _const("list[b,a,b]", ["b", "a", "b"]),
                  _const("list[1,2]", ["1", "2"]), _const("list[]", [])]
        paths = [_const("sandbox/" + p, work + "/" + p) for p in (
            "notes.txt", "empty.txt", "table.csv", "settings.ini", "sub", "sub/inner.txt", "empty-dir",
            "tran.raw", "net.s2p", "tone.wav", "report.xml", "missing.txt", "new-dir/new.txt")]
        paths += [_const(repr(p), p) for p in ("notes.txt", "sub", "missing/x.txt", "~/file.txt")]
        paths.append(_const("sandbox-dir", work))

        every = {v.label: v for v in scalars + vectors + complexes + files + texts + paths}

        def pick(*labels):
            return [every[label] for label in labels]

        # A few values of the wrong kind in every pool: the host converts or refuses them.
        as_numbers = pick("''", "'2.2k'", "'hello'")
        as_texts = pick("1.0", "-2.5", "ramp8")
        mixed = (pick("0.0", "1.0", "2.0", "1e-300", "1e300", "nan", "empty", "[4]", "[1,-1]", "[3,1,2] list",
                      "ramp8", "sine32 x-even", "cos50 x-uneven", "cplx8", "step:out 5 runs x12")
                 + pick("''", "'hello'", "'Hello World'", "'a,b,c'", "list[a,b,c]", "list[]",
                        "sandbox/notes.txt", "sandbox/sub"))
        self.by_kind = {
            "real": scalars + vectors + files + pick("cplx8") + as_numbers,
            "numeric": scalars + vectors + files + complexes + ac_files + as_numbers,
            "string": texts + paths + as_texts,
            "any": mixed,
            "anyvector": mixed,
        }

    def for_kind(self, kind):
        return self.by_kind.get(kind, self.by_kind["any"])


# ----------------------------------------------------------------- reference examples

def reference_examples():
    """Every `example:` expression of the reference, in file and line order."""
    out = []
    for path in sorted(REFERENCE_DIR.glob("*.ref")):
        for line in path.read_text(encoding="utf-8").splitlines():
            if line.startswith("example:"):
                out.append(line[len("example:"):].strip())
    return out


def _split_top_level(text, sep):
    """Splits at `sep` outside quotes and brackets; None when unbalanced."""
    pieces, depth, quote, start = [], 0, None, 0
    for i, c in enumerate(text):
        if quote:
            if c == quote:
                quote = None
        elif c in "'\"":
            quote = c
        elif c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth < 0:
                return None
        elif c == sep and depth == 0:
            pieces.append(text[start:i].strip())
            start = i + 1
    if depth or quote:
        return None
    pieces.append(text[start:].strip())
    return pieces


def example_arguments(examples):
    """{lower-case name: [argument texts of one call]} from the examples that
    are a single call: their arguments are values the function accepts, the
    best seeds for the sweep."""
    out = {}
    for text in examples:
        m = re.match(r"\s*([A-Za-z_]\w*)\s*\((.*)\)\s*$", text, re.S)
        if not m or len(_split_top_level(text, ";") or ()) != 1:
            continue
        inner = m.group(2)
        # The final ')' must close the call's own '(' (not "f(a) + g(b)").
        if _split_top_level(inner, ",") is None:
            continue
        args = [] if not inner.strip() else _split_top_level(inner, ",")
        if any(not a for a in args):
            continue
        out.setdefault(m.group(1).lower(), []).append(args)
    return out


def _example_value(text):
    import cvfunc
    label = text if len(text) <= 40 else text[:32] + "~" + hashlib.sha1(text.encode()).hexdigest()[:6]
    return Value("`" + label + "`", lambda: cvfunc.eval(text))


# ----------------------------------------------------------------- cases

def argument_counts(lo, hi):
    return range(lo, min(hi, max(MAX_COUNT, lo + 1)) + 1)


def kind_of(kinds, i):
    """The declared kind of argument i: the last listed serves the rest."""
    if not kinds:
        return "any"
    return kinds[min(i, len(kinds) - 1)]


def cases(name, lo, hi, kinds, pools, examples):
    """The argument tuples (of Values) for one function, in a fixed order
    without repeats: for each argument count, the calls of the function's own
    examples, a sweep that varies one argument at a time over its whole pool
    (starting from an example call when there is one), and random mixtures."""
    rng = seeded(name)
    own = [[_example_value(a) for a in args] for args in examples.get(name.lower(), [])]
    chosen, seen = [], set()

    def add(args):
        key = tuple(v.label for v in args)
        if key not in seen:
            seen.add(key)
            chosen.append(tuple(args))

    for n in argument_counts(lo, hi):
        if n == 0:
            add(())
            continue
        pools_n = []
        for i in range(n):
            pool = list(pools.for_kind(kind_of(kinds, i)))
            labels = {v.label for v in pool}
            for ex in own:
                if len(ex) > i and ex[i].label not in labels:
                    labels.add(ex[i].label)
                    pool.append(ex[i])
            pools_n.append(pool)
        starts = [ex for ex in own if len(ex) == n]
        for ex in starts:
            add(ex)
        base = starts[0] if starts else [rng.choice(p) for p in pools_n]
        for i in range(n):
            for v in pools_n[i]:
                add(base[:i] + [v] + base[i + 1:])
        for _ in range(RANDOM_PER_COUNT):
            add([rng.choice(p) for p in pools_n])
    return chosen


def describe(name, args):
    return f"{name}({', '.join(v.label for v in args)})"
