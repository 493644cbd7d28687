"""A snapshot of what every script function returns, to prove that a change
of the code leaves every result bit for bit as it was.

    python3 bench/snapshot.py write OUT.txt      # the build whose package is on PYTHONPATH
    python3 bench/snapshot.py compare A.txt B.txt

`write` calls every registered function (cvfunc.functions()) many times and
writes one line per call: the case (function and arguments, by label) and a
sha256 digest of its outcome. `compare` prints every case whose digest differs
or that only one file has, with the first bytes of both digests and a short
account of both outcomes, and exits 1 if there is any; else it prints
"N cases over F functions: identical" and exits 0 (2: bad usage, or a file
that cannot be read). A snapshot whose writer was cut short stays OUT.txt.incomplete.

What is covered (see bench/snapshot_cases.py for the values):
- calls: for each function, every argument count from the minimum up to 4
  (one more than the minimum when that is 4 or more), each argument drawn from
  a pool for its declared kind (`cvfunc --list`): numbers (0, 1, -2.5, 1e-300,
  1e300, nan, inf, ...), vectors (empty, one element, ramps, seeded random,
  with even, uneven or descending x-values, complex, runs cut from the
  example simulations), strings (empty, words, numbers as text, options, paths
  in the sandbox), and the arguments of the function's own reference examples.
  One argument at a time is swept over its pool, plus seeded random mixtures;
- examples: every `example:` line of share/reference, run with cvfunc.eval;
- tool: every example (and a few statements on loaded files) run by
  `BUILD/cvfunc -e` in text, json and csv; its stdout, stderr and exit code.

The digest covers the result's type and kind, the exact bytes of its values
and x-values, physical types, units, names, division lengths and labels; or
the error's type and message; and every warning and log message the call
emitted. Paths of the build and source folders are replaced by <build> and
<source>, so that two checkouts in different places compare equal.

Calls run in a separate process whose whole environment is fixed (HOME,
XDG_*, CVFUNC_HOME, TMPDIR inside the sandbox /tmp/cvfunc-snapshot-sandbox,
TZ=UTC, C.UTF-8), with standard input empty (dialogs answer at once) and the
sandbox rebuilt, with fixed file times, before each function, example and
tool statement. The sandbox path must be the same for both builds.

The option MemoryLimitMB is fixed at 256 in both: by default a call may take
the memory available when it starts, which varies between runs.

Excluded: the functions in EXCLUDED below, each with its reason: those that
wait, or whose result depends on the clock, chance, the process or the
machine's state. The list was found by writing two snapshots of one build and
comparing them (`compare` names the functions that differ); examples and tool
statements that call an excluded function are skipped too.

Compare snapshots written on one machine: a few functions report the machine
itself (GetSystemInfo, GetEthernetAddresses, GetMaxCores, PrivilegedUser).
A snapshot has about 40,000 cases and takes 20 to 50 s.

Environment: CVFUNC_BUILD_DIR names the build whose `cvfunc` tool is run
(default: the folder above the package's python/ folder).
"""

import argparse
import contextlib
import fcntl
import hashlib
import logging
import os
import re
import struct
import subprocess
import sys
import time
import warnings
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
import snapshot_cases as sc  # noqa: E402

SANDBOX = "/tmp/cvfunc-snapshot-sandbox"
FORMAT_LINE = "# cvfunc call snapshot 1"

# Functions left out, and why. Keep this short: a function belongs here only
# when two snapshots of one build disagree on it, when calling it waits, or
# when it reads the calendar (Date differs only across midnight).
EXCLUDED = {
    "Sleep": "waits for the time it is given (up to 1e300 s here)",
    "Date": "today's date",
    "Time": "the time of day",
    "EpochTime": "the clock",
    "Seconds": "the clock",
    "TickCount": "the clock",
    "GetPerformanceTime": "the clock",
    "CvUUID": "a new random identifier every call",
    "GetGUID": "a new random identifier every call",
    "GetPID": "the process id",
    "GetTempFile": "a new file name every call",
    "GetFreeDiskSpace": "the free space of the disk, which other programs change",
    "_GetAvailableStack": "the stack left, which moves with the process's address layout",
}

# Tool statements on loaded files, beside the reference examples.
TOOL_LOADS = [
    ("step.raw", "out"),
    ("step.raw", "Maximum(out)"),
    ("step.raw", "XFromY(out, 0.5)"),
    ("mc.raw", "Mean1(out)"),
    ("mc.raw", "Histogram(Maximum(out), 5)"),
    ("ac.raw", "db(out)"),
    ("ac.raw", "phase(out)"),
    ("tran.raw", "Rms(out)"),
    ("table.csv", "out"),
    ("net.s2p", "S21"),
    ("noisy.s2p", "db(S11)"),
]
TOOL_FORMATS = [("text", []), ("json", ["--format", "json"]), ("csv", ["--format", "csv"])]

# The memory one call may hold. The default, the memory available when a call
# starts, varies from run to run and lets a count of 1e300 build 2**31 points
# (16 GiB); a fixed limit makes such calls fail at once, and alike every time.
MEMORY_LIMIT_MB = "256"


def fail(message):
    """Stops with status 2: 1 means that two snapshots differ."""
    print("snapshot: " + message, file=sys.stderr)
    sys.exit(2)


# ----------------------------------------------------------------- digests

class Normaliser:
    """Replaces the build's and the source's folder by placeholders, longest
    first, so that results naming them agree across checkouts."""

    def __init__(self, build):
        build = Path(build)
        source = build.parent
        cache = build / "CMakeCache.txt"
        if cache.exists():
            m = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", cache.read_text(errors="replace"), re.M)
            if m:
                source = Path(m.group(1))
        pairs = {}
        for path, name in ((source, "<source>"), (build, "<build>")):
            for p in {str(path), os.path.realpath(path)}:
                if len(p) > 1:
                    pairs[p] = name
        self.pairs = sorted(pairs.items(), key=lambda kv: -len(kv[0]))

    def __call__(self, text):
        for old, new in self.pairs:
            if old in text:
                text = text.replace(old, new)
        return text


class Digest:
    """sha256 over tagged, length-prefixed fields: no two different outcomes
    serialise alike."""

    def __init__(self, normalise):
        self.h = hashlib.sha256()
        self.normalise = normalise

    def field(self, tag, payload=b""):
        self.h.update(tag.encode() + b":" + len(payload).to_bytes(8, "little") + payload)

    def text(self, s):
        self.field("str", self.normalise(s).encode("utf-8", "surrogatepass"))

    def value(self, x):
        import cvfunc
        t = type(x)
        if x is None:
            self.field("None")
        elif isinstance(x, cvfunc.Vector):
            self.vector(x)
        elif isinstance(x, np.ndarray):
            self.array(x)
        elif isinstance(x, (bool, np.bool_)):
            self.field(t.__name__, b"1" if x else b"0")
        elif isinstance(x, (int, np.integer)):
            self.field(t.__name__, str(int(x)).encode())
        elif isinstance(x, (float, np.floating)):
            self.field(t.__name__, struct.pack("<d", float(x)))
        elif isinstance(x, (complex, np.complexfloating)):
            self.field(t.__name__, struct.pack("<dd", x.real, x.imag))
        elif isinstance(x, str):
            self.field(t.__name__)
            self.text(x)
        elif isinstance(x, (bytes, bytearray)):
            self.field(t.__name__, bytes(x))
        elif isinstance(x, (list, tuple)):
            self.field(t.__name__, str(len(x)).encode())
            for item in x:
                self.value(item)
        elif isinstance(x, dict):
            self.field("dict", str(len(x)).encode())
            for k in sorted(x, key=repr):
                self.value(k)
                self.value(x[k])
        else:  # not a type the package returns today; its text still tells results apart
            self.field("other " + t.__name__)
            self.text(re.sub(r" at 0x[0-9a-f]+", "", repr(x)))

    def array(self, a):
        self.field("ndarray " + a.dtype.str, repr(a.shape).encode())
        if a.dtype == object:
            for item in a.reshape(-1):
                self.value(item)
        else:
            self.field("bytes", np.ascontiguousarray(a).tobytes())

    def vector(self, v):
        self.field("Vector")
        for attr in ("kind", "is_scalar", "values", "ref", "phys", "unit", "name", "ref_phys", "ref_unit",
                     "ref_name", "division_lengths", "labels", "run_labels"):
            self.field("attr " + attr)
            try:
                self.value(getattr(v, attr))
            except Exception as e:  # an attribute that fails belongs to the outcome
                self.field("raises " + type(e).__name__)
                self.text(str(e))

    def hexdigest(self):
        return self.h.hexdigest()


def short(x, limit=60):
    """A few words about a result for people reading a difference."""
    import cvfunc
    if isinstance(x, cvfunc.Vector):
        try:
            s = f"Vector {x.kind}[{x.size}]"
            if x.ref is not None:
                s += " with x"
            if len(x.division_lengths) > 1:
                s += f" {len(x.division_lengths)} runs"
            if x.kind == "string" and x.size:
                s += f" {x.values[0]!r}.."
            elif x.kind != "none" and x.size:
                s += f" {np.asarray(x.values).reshape(-1)[0]!r}.."
        except Exception as e:
            s = f"Vector ({type(e).__name__})"
    elif isinstance(x, np.ndarray):
        s = f"{x.dtype}[{x.size}]" + (f" {x.reshape(-1)[0]!r}.." if x.size else "")
    elif isinstance(x, list):
        s = f"list[{len(x)}]" + (f" {x[0]!r}.." if x else "")
    else:
        s = repr(x)
    return clean(s, limit)


def clean(s, limit=60):
    s = s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")
    return s if len(s) <= limit else s[:limit - 2] + ".."


class Recorder(logging.Handler):
    """Keeps the package's informational messages: they belong to a call's outcome."""

    def __init__(self):
        super().__init__(logging.DEBUG)
        self.records = []

    def emit(self, record):
        self.records.append(record)


def observe(make_args, call, normalise, log):
    """Runs one call and returns (digest, short outcome). Every exception
    becomes the outcome; only Ctrl-C stops the snapshot."""
    import cvfunc
    log.records.clear()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        stage = "argument"
        try:
            args = make_args()
            stage = "call"
            result, status = call(args), "ok"
        except KeyboardInterrupt:
            raise
        except cvfunc.Error as e:
            result, status = str(e), stage + " Error"
        except BaseException as e:  # noqa: B036 - SystemExit and the like are outcomes here too
            result, status = str(e), f"{stage} {type(e).__name__}"
    d = Digest(normalise)
    d.text(status)
    if status == "ok":
        try:
            d.value(result)
            brief = normalise(short(result))
        except Exception as e:
            d.field("digest failed " + type(e).__name__)
            d.text(str(e))
            brief = "unreadable result"
    else:
        d.text(result)
        brief = clean(status + ": " + normalise(result), 80)
    for w in caught:
        d.field("warning " + w.category.__name__)
        d.text(str(w.message))
    for r in log.records:
        d.field("log " + r.levelname)
        d.text(r.getMessage())
    extra = len(caught) + len(log.records)
    return d.hexdigest(), brief + (f" (+{extra} msg)" if extra else "")


# ----------------------------------------------------------------- the writer process

def declared_kinds(tool, env):
    """{name: [argument kinds]} from `cvfunc --list`; empty when the tool
    cannot tell (every argument is then taken as 'any')."""
    try:
        out = subprocess.run([tool, "--list"], env=env, capture_output=True, text=True, timeout=60,
                             stdin=subprocess.DEVNULL).stdout
    except (OSError, subprocess.SubprocessError):
        return {}
    kinds = {}
    for line in out.splitlines():
        fields = line.split("\t")
        if len(fields) >= 3:
            kinds[fields[0]] = [k for k in fields[2].split(",") if k]
    return kinds


def calls_excluded(text):
    return any(re.search(r"(?<![\w])" + re.escape(name) + r"\s*\(", text, re.I) for name in EXCLUDED)


def worker(out_path, package, build, sandbox_root):
    sandbox = sc.Sandbox(sandbox_root)
    sandbox.reset()
    sandbox.enter()
    sys.path.insert(0, package)
    import cvfunc

    cvfunc.set_option("MemoryLimitMB", MEMORY_LIMIT_MB)
    normalise = Normaliser(build)
    log = Recorder()
    logger = logging.getLogger("cvfunc")
    logger.addHandler(log)
    logger.setLevel(logging.DEBUG)
    logger.propagate = False

    tool = os.path.join(build, "cvfunc")
    env = dict(os.environ)
    kinds = declared_kinds(tool, env)
    functions = sorted(cvfunc.functions(), key=lambda f: (f[0].lower(), f[0]))
    pools = sc.Pools(sandbox)
    examples = [e for e in sc.reference_examples() if not calls_excluded(e)]
    example_args = sc.example_arguments(examples)
    if not kinds:
        print(f"snapshot: could not list the argument kinds with {tool}; taking every argument as 'any'",
              file=sys.stderr)

    counts = {"call": 0, "example": 0, "tool": 0}
    slow, keys = [], set()
    with open(out_path, "w", encoding="utf-8") as out:
        def line(section, key, digest, brief):
            key = clean(key, 400)
            unique, n = key, 1
            while (section, unique) in keys:  # a long key cut short could meet another
                n += 1
                unique = f"{key} #{n}"
            keys.add((section, unique))
            out.write(f"{section}\t{unique}\t{digest}\t{brief}\n")
            counts[section] += 1

        out.write(FORMAT_LINE + "\n")
        out.write(f"# package {normalise(package)}; {len(functions)} functions; "
                  f"{len(EXCLUDED)} excluded: {', '.join(sorted(EXCLUDED))}\n")
        progress = sys.stderr.isatty()
        for name, lo, hi, _result in functions:
            if name in EXCLUDED:
                continue
            if progress:
                sys.stderr.write(f"\r{name:<40}")
            # Written at once: should a call kill the process, the file ends with its function's name.
            out.write(f"# running {name}\n")
            out.flush()
            started = time.perf_counter()
            sandbox.reset()
            for args in sc.cases(name, lo, hi, kinds.get(name), pools, example_args):
                sandbox.enter()
                digest, brief = observe(lambda a=args: [v.make() for v in a],
                                        lambda values, n=name: cvfunc.call(n, *values), normalise, log)
                line("call", sc.describe(name, args), digest, brief)
            slow.append((time.perf_counter() - started, name))
        if progress:
            sys.stderr.write("\r" + " " * 40 + "\r")

        out.write("# running the reference examples\n")
        out.flush()
        for text in examples:
            sandbox.reset()
            sandbox.enter()
            digest, brief = observe(lambda: None, lambda _, t=text: cvfunc.eval(t), normalise, log)
            line("example", text, digest, brief)
        out.write("# running the tool\n")
        out.flush()

        statements = [([], text) for text in examples] + [(["--load", f], s) for f, s in TOOL_LOADS]
        for load, text in statements:
            sandbox.reset()
            sandbox.enter()
            for fmt, flags in TOOL_FORMATS:
                argv = [tool, "--option", "MemoryLimitMB=" + MEMORY_LIMIT_MB, *load, "-e", text, *flags]
                try:
                    p = subprocess.run(argv, env=env, capture_output=True, stdin=subprocess.DEVNULL, timeout=60)
                    rc, stdout, stderr = p.returncode, p.stdout, p.stderr
                except subprocess.TimeoutExpired as e:
                    rc, stdout, stderr = "timeout", e.stdout or b"", e.stderr or b""
                except OSError as e:
                    rc, stdout, stderr = type(e).__name__, b"", str(e).encode()
                d = Digest(normalise)
                d.text(str(rc))
                d.text(stdout.decode("utf-8", "surrogateescape"))
                d.text(stderr.decode("utf-8", "surrogateescape"))
                first = (stdout or stderr).decode("utf-8", "replace").strip().split("\n")[0]
                line("tool", " ".join([fmt, *load, text]), d.hexdigest(),
                     clean(f"rc={rc} {normalise(first)}", 80))
        out.write(f"# cases: {counts['call']} calls, {counts['example']} examples, {counts['tool']} tool runs\n")

    slow.sort(reverse=True)
    print("slowest functions (s): " + ", ".join(f"{n} {t:.1f}" for t, n in slow[:5]), file=sys.stderr)
    print(f"{sum(counts.values())} cases over {len(slow)} functions "
          f"({counts['call']} calls, {counts['example']} examples, {counts['tool']} tool runs; "
          f"{len(EXCLUDED)} functions excluded)")


def find_package():
    """The folder holding the cvfunc package that `import cvfunc` would load here."""
    for folder in sys.path:
        if (Path(folder or ".") / "cvfunc" / "__init__.py").exists():
            return str(Path(folder or ".").resolve())
    fail("no cvfunc package on PYTHONPATH (e.g. PYTHONPATH=build/python)")


def write(out_path, sandbox_root):
    started = time.perf_counter()
    package = find_package()
    build = os.environ.get("CVFUNC_BUILD_DIR") or str(Path(package).parent)
    build = str(Path(build).resolve())
    if not os.access(os.path.join(build, "cvfunc"), os.X_OK):
        fail(f"no cvfunc tool in {build}; set CVFUNC_BUILD_DIR")
    sandbox_root = os.path.abspath(sandbox_root)
    env = sc.Sandbox(sandbox_root).env()
    # Written under another name until complete, so that a snapshot cut short
    # by a crash is never compared as if it were whole.
    unfinished = os.path.abspath(out_path) + ".incomplete"
    # One snapshot at a time per sandbox: a second waits rather than sharing it.
    with open(sandbox_root.rstrip("/") + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        p = subprocess.run([sys.executable, os.path.abspath(__file__), "_worker", unfinished,
                            "--package", package, "--build", build, "--sandbox", sandbox_root],
                           env=env, stdin=subprocess.DEVNULL, cwd="/")
    elapsed = time.perf_counter() - started
    if p.returncode:
        lines = []
        with contextlib.suppress(OSError), open(unfinished, encoding="utf-8") as f:
            lines = f.read().splitlines()
        last = next((line[len("# running "):] for line in reversed(lines) if line.startswith("# running ")), "")
        how = f"signal {-p.returncode}" if p.returncode < 0 else f"status {p.returncode}"
        fail(f"the writer ended with {how} after {elapsed:.1f} s" + (f", running {last}" if last else "")
                 + f"; what it wrote is in {unfinished}")
    os.replace(unfinished, out_path)
    print(f"wrote {out_path} in {elapsed:.1f} s")


# ----------------------------------------------------------------- compare

def read_snapshot(path):
    cases = {}
    try:
        f = open(path, encoding="utf-8")
    except OSError as e:
        fail(str(e))
    with f:
        first = f.readline().rstrip("\n")
        if first != FORMAT_LINE:
            fail(f"{path} is not a snapshot file")
        for number, line in enumerate(f, 2):
            if line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t", 3)
            if len(fields) != 4:
                fail(f"{path}:{number}: not a case line")
            section, key, digest, brief = fields
            cases[(section, key)] = (digest, brief)
    return cases


def function_of(section, key):
    return key.split("(", 1)[0] if section == "call" else f"{section} statements"


def compare(path_a, path_b):
    a, b = read_snapshot(path_a), read_snapshot(path_b)
    differ, only_a, only_b = [], [], []
    for k, (digest, brief) in a.items():
        if k not in b:
            only_a.append(k)
        elif b[k][0] != digest:
            differ.append(k)
    only_b = [k for k in b if k not in a]
    for k in differ:
        print(f"differs  {k[0]}  {k[1]}\n    A {a[k][0][:12]}  {a[k][1]}\n    B {b[k][0][:12]}  {b[k][1]}")
    for k in only_a:
        print(f"only in A  {k[0]}  {k[1]}\n    A {a[k][0][:12]}  {a[k][1]}")
    for k in only_b:
        print(f"only in B  {k[0]}  {k[1]}\n    B {b[k][0][:12]}  {b[k][1]}")

    functions = {function_of(*k) for k in a} | {function_of(*k) for k in b}
    functions = {f for f in functions if not f.endswith(" statements")}
    total = len(set(a) | set(b))
    if not (differ or only_a or only_b):
        print(f"{total} cases over {len(functions)} functions: identical")
        return 0
    per_function = {}
    for k in differ + only_a + only_b:
        f = function_of(*k)
        per_function[f] = per_function.get(f, 0) + 1
    print("\ncases that differ, per function: " +
          ", ".join(f"{f} {n}" for f, n in sorted(per_function.items(), key=lambda kv: (-kv[1], kv[0]))))
    print(f"{total} cases over {len(functions)} functions: {len(differ)} differ, {len(only_a)} only in A, "
          f"{len(only_b)} only in B (in {len(per_function)} functions or sections)")
    return 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = ap.add_subparsers(dest="command", required=True, metavar="{write,compare}")
    w = sub.add_parser("write", help="write the snapshot of the build whose package is on PYTHONPATH")
    w.add_argument("out")
    w.add_argument("--sandbox", default=SANDBOX, help=f"the sandbox folder, the same for both builds ({SANDBOX})")
    c = sub.add_parser("compare", help="print the cases that differ; exit 1 if any does")
    c.add_argument("a")
    c.add_argument("b")
    k = sub.add_parser("_worker")  # the writer's own process, started by `write`
    k.add_argument("out")
    k.add_argument("--package", required=True)
    k.add_argument("--build", required=True)
    k.add_argument("--sandbox", required=True)
    args = ap.parse_args()
    if args.command == "write":
        write(args.out, args.sandbox)
    elif args.command == "compare":
        sys.exit(compare(args.a, args.b))
    else:
        worker(args.out, args.package, args.build, args.sandbox)


if __name__ == "__main__":
    main()
