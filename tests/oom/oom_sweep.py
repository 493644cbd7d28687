#!/usr/bin/env python3
"""Runs statements with one allocation failed, at every point or a sample of
points, through the tool, the REPL and the Python package, and checks that
the process survives it the way a user may expect:

- no death by a signal (an uncaught std::bad_alloc ends in SIGABRT);
- the tool exits with 0 or 1; with 1, stderr holds exactly one "Error:" line
  and no "terminate called"; the output files a statement writes are either
  absent, unchanged or whole, never half-written;
- the REPL reports the failed statement and still answers a later one with
  the loaded vectors intact, and ends with status 0;
- in Python a failing call raises MemoryError or cvfunc.Error, and the next
  call still gives the right answer.

The injector (libcvfunc_failalloc.so, tests/oom/FailAlloc.c) counts from main
in the tool and the REPL, and from just before the statement in Python. The
start-up of the tool (loading the module and the data file) makes the same
allocations whatever the statement; it is swept once, with a trivial
statement, and every other statement from just before its own first
allocation to the end of the run (printing, host events, unloading the
module).

Default: the fast sample that ctest runs. --full sweeps every point of every
statement through every front end (hours; `make oom-sweep`).
"""

import argparse
import collections
import concurrent.futures
import contextlib
import functools
import json
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import types

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
DATA = os.path.join(SOURCE, "tests", "data")
RAW = os.path.join(SOURCE, "examples", "filter_tran.raw")

# name, statement, files it writes (relative to the sandbox's out/), whether
# the statement is swept at every point in the fast run. {sb} is the run's
# sandbox, {data} the test data. Every statement succeeds without a failure.
BATTERY = [
    ("operators", "out * 2 + in / 3 - 1", [], False),
    ("compare", "(out > 0.5) && (in < 0.5)", [], False),
    ("scalar", "sqrt(abs(out)) + sin(time * 1k) - exp(-out)", [], False),
    ("special", "erf(out) + gamma(out + 1)", [], False),
    ("vector", "vector(50) + unitvec(50)", [], False),
    ("calculus", "integ(out) - diff(out)", [], False),
    ("curvefit", "CurveFit(out, mid)", [], False),
    ("expression", "ee('{Maximum(out)} * 2')", [], False),
    ("template", "rt('peak {p} of {n}', ['p', 'n'], [Str(Maximum(out)), 'out'])", [], False),
    ("crossings", "XFromY(out, 0.5)", [], True),
    ("interp", "Interp(out, 200)", [], False),
    ("yfromx", "YFromX(out, [100u, 200u, 300u])", [], False),
    ("maximum", "Maximum(out)", [], True),
    ("maxima", "Maxima(out)", [], False),
    ("mean", "Mean1(out, 410u, 610u)", [], False),
    ("rms", "RMS1(out, 410u, 610u)", [], False),
    ("timing", "CyclePeriod(out, 0.5)", [], False),
    ("delay", "PropagationDelay(in, out, 0.5, 0.5)", [], False),
    ("histogram", "Histogram(out, 10)", [], False),
    ("fft", "fft(out)", [], True),
    ("fourier", "Fourier(out, 5k, 8)", [], False),
    # Sizes that take the threads (forEachChunk) and buffers mapped directly.
    ("fft-big", "Maximum(mag(fft(Interp(out, 300000))))", [], False),
    ("fourier-big", "Maximum(mag(Fourier(out, 5k, 5000)))", [], False),
    ("spectrum", "Spectrum(out, 64)", [], False),
    ("fir", "FIR(out, [0.5, 0.5])", [], True),
    ("iir", "IIR(out, [1, 0.5])", [], False),
    ("wav-write", "WAV_WriteFile('{sb}/out/o.wav', [16, 1, 8000], out)", ["o.wav"], False),
    ("wav-read", "h = WAV_OpenFile('{data}/wav/mono.wav'); WAV_ReadData(h, [0, 100])", [], False),
    ("strings", "SubstString(ToUpper(Str(out)), 'E', 'x')", [], False),
    ("mid", "Mid(JoinStringArray(FormatNumber(out, 3), ','), 2, 40)", [], False),
    ("parse", "Parse('R1  n1,n2\\t1k C1 n2 0 1u')", [], False),
    ("scan", "Scan(JoinStringArray(FormatNumber(out, 3), ';'), ';')", [], False),
    ("regexp", "RegExp(FormatNumber(out, 3), '^[0-9.]+m$')", [], False),
    ("sort", "Sort(FormatNumber(out, 3))", [], False),
    ("query", "QueryData([1, 2, 3, 4], ['x', '2', '>'])", [], False),
    ("format", "FormatNumber(out, 4)", [], True),
    ("sprintf", "SprintfNumber('%s = %.3f V', 'Vout', Maximum(out))", [], False),
    ("base64", "ConvertToBase64(JoinStringArray(FormatNumber(out, 3), ','))", [], False),
    ("colour", "ConvertHTMLcolourToRGB('#336699')", [], False),
    ("paths", "CleanPath('/a//b/./c/../d/') & RelativePath('/a/b/c', '/a/x')", [], False),
    ("listdir", "ListDirectory('{data}/wav')", [], False),
    ("readfile", "ReadFile('{data}/rc2.cir')", [], False),
    ("md5", "GetMD5('{data}/rc2.cir')", [], False),
    ("settings", "WriteConfigSetting('oom', 'key', 'value'); ReadConfigSetting('oom', 'key')", [], False),
    ("ini", "WriteIniKey('{sb}/out/a.ini', 'sec', 'key', 'value'); ReadIniKey('{sb}/out/a.ini', 'sec', 'key')",
     ["a.ini"], False),
    ("hash", "h = HashCreate(); HashAdd(h, FormatNumber(out, 2), FormatNumber(out, 3)); HashKeys(h)", [], True),
    ("system", "GetEnvVar('HOME') & GetMaxCores() & GetSystemInfo()", [], False),
    ("touchstone", "ParseTouchstone('{data}/touchstone/ex_18.s2p', 2, 4)", [], False),
    ("report", "AppendSensitivityData('{sb}/out/r.xml', ['gain', 'bw'], [1, 2, 3, 4], [5, 6]); "
               "BuildMclogHTML('{sb}/out/r.xml', '{sb}/out/r.html')", ["r.xml", "r.html"], False),
    ("journal", "ApplyJournal(['{sb}/out/lib.txt', '{sb}/base.txt', '{sb}/journal.txt'], 4)", ["lib.txt"], False),
    ("laplace", "ParseLaplace('1/(1+s*2m+s^2*1u)')", [], False),
    ("sets", "SetUnion(FormatNumber(out, 2), FormatNumber(in, 2))", [], True),
    ("divisions", "Coll(Vec('v(out)'))", [], False),
]

# For the sanitizer build, whose allocator refuses whatever is above 1 MiB:
# statements whose inputs fit and whose work or results do not, so that the
# refusal falls at different depths (results, plans, text blocks, joins).
LARGE = [
    ("large-interp", "Interp(out, 200000)", [], False),
    ("large-fft", "Maximum(mag(fft(Interp(out, 120000))))", [], False),
    ("large-spectrum", "Maximum(mag(Spectrum(Interp(out, 120000), 262144)))", [], False),
    ("large-text", "length(FormatNumber(Interp(out, 120000), 12))", [], False),
    ("large-join", "length(JoinStringArray(FormatNumber(Interp(out, 60000), 12), ','))", [], False),
    ("large-sort", "length(Sort(FormatNumber(Interp(out, 90000), 6)))", [], False),
    ("large-sum", "length(integ(Interp(out, 120000)) + diff(Interp(out, 120000)))", [], False),
    ("large-histogram", "Histogram(Interp(out, 120000), 100)", [], False),
]

# Python calls with numpy arrays (the conversion paths), beside eval().
PY_CALLS = [
    ("py-fir", "cvfunc.FIR(np.linspace(0, 1, 3000), [0.5, 0.5])"),
    ("py-strings", "cvfunc.FormatNumber(np.linspace(0, 1, 500), 3)"),
    ("py-vector", "cvfunc.Vector(np.linspace(0, 1, 500), ref=np.arange(500.0)) * 2"),
]

CHECK = "Maximum(out)"
FORMATS = ("text", "json", "csv")
# The run's private folders and the variables that lead there.
HOMES = {"HOME": "home", "XDG_CONFIG_HOME": "config", "XDG_DATA_HOME": "data", "XDG_CACHE_HOME": "cache",
         "XDG_STATE_HOME": "state", "XDG_RUNTIME_DIR": "runtime", "CVFUNC_HOME": "cvhome",
         "CVFUNC_SYSCONF": "sysconf", "TMPDIR": "tmp"}


def fill(statement, sb):
    return statement.replace("{sb}", sb).replace("{data}", DATA)


def text(data):
    return (data or b"").decode(errors="replace")


def execute(cmd, env, cwd, timeout):
    """Status, output and errors of a command; a command that hangs is killed: "timeout"."""
    try:
        p = subprocess.run(cmd, env=env, cwd=cwd, capture_output=True, timeout=timeout)
        return p.returncode, text(p.stdout), text(p.stderr)
    except subprocess.TimeoutExpired as e:
        return "timeout", text(e.stdout), ""


@contextlib.contextmanager
def sandbox(base):
    """A fresh home for one run: settings, temporary files, outputs, fixtures."""
    sb = tempfile.mkdtemp(prefix="run-", dir=base)
    try:
        for d in [*HOMES.values(), "out"]:
            os.mkdir(os.path.join(sb, d))
        os.chmod(os.path.join(sb, "runtime"), 0o700)
        with open(os.path.join(sb, "base.txt"), "w") as f:
            f.write("A;1;2;3\nB;1;2;3\n\nC;x;y\na;second\nD;keep\nE;old\n")
        with open(os.path.join(sb, "journal.txt"), "w") as f:
            f.write("b;;new2;;edit\nC;z;;;add\nD;;;;delete\nE;;;;bogus\nA;;;;EDIT\nF;new;;;Add\n")
        yield sb
    finally:
        shutil.rmtree(sb, ignore_errors=True)


def environment(build, sb, k=0, **extra):
    env = {name: v for name, v in os.environ.items() if not name.startswith(("CVFUNC_", "XDG_", "ASAN_", "LSAN_"))}
    env.update({name: os.path.join(sb, d) for name, d in HOMES.items()})
    env.update(PYTHONPATH=os.path.join(build, "python"), LC_ALL="C",
               CVFUNC_FAIL_ALLOC_REPORT=os.path.join(sb, "report"), CVFUNC_FAIL_ALLOC_TRACE=os.path.join(sb, "trace"))
    if build_is_sanitized(build):
        # No injector here: AddressSanitizer's allocator refuses every request
        # above a size, and LeakSanitizer checks what such a failure leaves.
        env["ASAN_OPTIONS"] = "allocator_may_return_null=1:max_allocation_size_mb=1:detect_leaks=1"
    else:
        env["LD_PRELOAD"] = os.path.join(build, "libcvfunc_failalloc.so")
    if k:
        env["CVFUNC_FAIL_ALLOC_AT"] = str(k)
    env.update(extra)
    return env


@functools.lru_cache(maxsize=None)
def build_is_sanitized(build):
    cache = os.path.join(build, "CMakeCache.txt")
    return os.path.exists(cache) and "CVFUNC_SANITIZE:BOOL=ON" in open(cache).read()


def read_report(sb):
    try:
        fields = dict(line.split() for line in open(os.path.join(sb, "report")) if line.strip())
        return int(fields["allocations"]), int(fields["failed"])
    except (OSError, KeyError, ValueError):
        return None, None


# Libraries of the system whose own allocations, failed, end the process
# inside them (the line editor's set-up, OpenSSL's first use, glibc's NSS
# assertion): findings for those projects, counted apart from this one's.
OWN = re.compile(r"/(cvfunc|libcvhost\.so|libfunctions\.so|libcvfunc_failalloc\.so|_cvfunc[^/]*\.so)\(")
SYSTEM_RUNTIME = re.compile(r"/(libc\.so|libstdc\+\+\.so|libgcc_s\.so|ld-linux)[^/]*\(")


def inlined_from_pybind11(frame):
    """Whether the code at a frame of the extension is pybind11's own,
    inlined there from its headers."""
    m = re.match(r"(\S+)\(\+(0x[0-9a-f]+)\)", frame)
    if not m or not shutil.which("addr2line"):
        return False
    where = subprocess.run(["addr2line", "-i", "-e", m.group(1), m.group(2)], capture_output=True, text=True).stdout
    # The innermost source past the standard library's containers.
    for line in where.splitlines():
        if "/c++/" not in line:
            return "/pybind11/" in line
    return False


def foreign_allocator(sb, err="", trace="trace"):
    """The library that made the failed allocation, when it is not this
    project's and the failure never came back to it; else None. The stack is
    the last one in the trace file (an interpreter fails many in turn)."""
    if re.search(r"^cvfunc: [\w.]+\.c:\d+: \w+: Assertion", err, re.M):
        return "glibc (assertion)"
    try:
        text = open(os.path.join(sb, trace)).read()
    except OSError:
        return None
    stacks = re.split(r"\n(?=[^\n]*libcvfunc_failalloc\.so\(\+)", "\n" + text)
    for frame in stacks[-1].splitlines():
        if not frame or "libcvfunc_failalloc" in frame or SYSTEM_RUNTIME.search(frame):
            continue
        if OWN.search(frame):
            return "pybind11" if "_cvfunc" in frame and inlined_from_pybind11(frame) else None
        m = re.search(r"/([^/(]+)\(", frame)
        return m.group(1) if m else None
    return None


def finish(sb, files, rc, out, err, **more):
    """What a run of the tool or the REPL left: status, output, the injector's
    report, the files it was to write and any it should not have."""
    count, failed = read_report(sb)
    written = {name: os.path.join(sb, "out", name) for name in files}
    return types.SimpleNamespace(
        rc=rc, out=out.replace(sb, "{sb}"), err=err.replace(sb, "{sb}"), count=count, failed=failed,
        files={name: open(p, "rb").read() if os.path.exists(p) else None for name, p in written.items()},
        leftovers=sorted(set(os.listdir(os.path.join(sb, "out"))) - set(files)),
        foreign=foreign_allocator(sb, err), **more)


def judge(run, baseline, repl=False):
    """The problems of one run with a failed allocation (empty: none). A REPL
    whose failure fell before the session began (the module, the data) ends
    as the tool does with -e."""
    if run.rc == "timeout":
        return ["hung"]
    if run.rc < 0:
        return ["killed by %s" % signal.Signals(-run.rc).name]
    repl = repl and "Ctrl-D to end" in run.out
    problems = []
    if "terminate called" in run.err or (not repl and "Fatal" in run.err):
        problems.append("terminate on stderr")
    sanitizer = re.search(r"ERROR: (\w+Sanitizer): (\S+)|runtime error: .*", run.err)
    if sanitizer:
        return problems + [" ".join(g for g in sanitizer.groups() if g) or sanitizer.group(0)]
    errors = [line for line in run.err.splitlines() if line.startswith("Error:")]
    if repl and run.rc != 0 or not repl and run.rc not in (0, 1):
        problems.append("exit status %d" % run.rc)
    if repl and not run.answered:
        problems.append("the session did not answer %s afterwards" % CHECK)
    if not repl and run.rc == 1 and len(errors) != 1:
        problems.append("%d Error: lines" % len(errors))
    if not repl and run.rc == 0 and errors:
        problems.append("Error: line with status 0")
    for name, data in run.files.items():
        if data is not None and data != baseline.files[name]:
            problems.append("output file %s half-written (%d of %d bytes)" % (name, len(data), len(baseline.files[name])))
    if run.leftovers:
        problems.append("files left behind: %s" % ", ".join(run.leftovers))
    return problems


# ---------------------------------------------------------------- the tool

def tool_command(build, statement, fmt, sb):
    return [os.path.join(build, "cvfunc"), "--load", RAW, "-e", fill(statement, sb)] + \
        (["--format", fmt] if fmt != "text" else [])


def run_tool(build, base, statement, files, fmt, k):
    with sandbox(base) as sb:
        return finish(sb, files, *execute(tool_command(build, statement, fmt, sb), environment(build, sb, k), sb, 60))


# ---------------------------------------------------------------- the REPL

def run_repl(build, base, statement, files, k, expected, timeout=15):
    """Feeds the statement, then the check twice (the failure may fall on
    the first check), to the interactive loop on a terminal; ends with ^D."""
    with sandbox(base) as sb:
        master, slave = pty.openpty()
        try:
            p = subprocess.Popen([os.path.join(build, "cvfunc"), "--load", RAW], env=environment(build, sb, k, TERM="dumb"),
                                 cwd=sb, stdin=slave, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 start_new_session=True)
            os.close(slave)
            slave = None
            lines = [fill(statement, sb), CHECK, CHECK]
            # The terminal's own output is read only so that it never fills.
            got = {p.stdout.fileno(): bytearray(), p.stderr.fileno(): bytearray(), master: bytearray()}
            out, err = got[p.stdout.fileno()], got[p.stderr.fileno()]
            # Without a terminal for its output the line editor shows no prompt
            # (and the banner waits in the output's buffer): the first line goes
            # at once, the terminal keeping it until it is read, and each further
            # one once the answer to the line before (a value or an error, ending
            # in a new line) has arrived.
            sent, heard, last = 0, 0, time.monotonic() - 5
            deadline = time.monotonic() + timeout
            streams = set(got)
            while streams and time.monotonic() < deadline:
                ready, _, _ = select.select(list(streams), [], [], 0.05)
                for fd in ready:
                    try:
                        chunk = os.read(fd, 65536)
                    except OSError:
                        chunk = b""
                    got[fd] += chunk
                    if not chunk:
                        streams.discard(fd)
                answered = len(out) + len(err) > heard and (out + err).endswith(b"\n")
                if sent <= len(lines) and (answered or time.monotonic() - last > 5):
                    heard, last = len(out) + len(err), time.monotonic()
                    os.write(master, lines[sent].encode() + b"\n" if sent < len(lines) else b"\x04")
                    if os.environ.get("OOM_DEBUG"):
                        print("sent", sent, time.monotonic() - deadline + timeout, file=sys.stderr)
                    sent += 1
                if p.poll() is not None and not ready:
                    break
            try:
                rc = p.wait(timeout=max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                rc = "timeout"
            for stream in (p.stdout, p.stderr):
                stream.close()
            return finish(sb, files, rc, text(out), text(err), answered=expected in text(out))
        finally:
            os.close(master)
            if slave is not None:
                os.close(slave)


# ---------------------------------------------------------------- Python

PY_DRIVER = r"""
import ctypes, json, sys
import numpy as np
lib = ctypes.CDLL(None)
arm, disarm, failed = lib.cvfunc_failalloc_arm, lib.cvfunc_failalloc_disarm, lib.cvfunc_failalloc_failed
arm.argtypes = [ctypes.c_ulong]
disarm.restype = failed.restype = ctypes.c_ulong
import cvfunc
cvfunc.load(sys.argv[1])
expected = repr(cvfunc.eval(sys.argv[3]))
code, ks = sys.argv[2], json.loads(sys.argv[4])
compiled = compile(code, "<statement>", "eval")
for k in ks:
    print(json.dumps({"start": k}), flush=True)
    outcome = "ok"
    # Only the call is armed: what numpy does with its result afterwards
    # (printing it) is numpy's business.
    arm(k)
    try:
        result = eval(compiled, {"cvfunc": cvfunc, "np": np})
    except MemoryError:
        outcome = "MemoryError"
    except cvfunc.Error as e:
        outcome = "cvfunc.Error: " + str(e)
    except BaseException as e:
        outcome = "%s: %s" % (type(e).__name__, e)
    n, hit = disarm(), failed()
    result = None
    try:
        again = repr(cvfunc.eval(sys.argv[3])) == expected
    except BaseException as e:
        again = "%s: %s" % (type(e).__name__, e)
    print(json.dumps({"k": k, "count": n, "failed": hit, "outcome": outcome, "again": again}), flush=True)
"""


def run_python(build, base, code, ks):
    """One interpreter for a list of points; the next point runs only if the
    interpreter survived the one before."""
    with sandbox(base) as sb:
        env = environment(build, sb, CVFUNC_FAIL_ALLOC_ARM="call")
        del env["CVFUNC_FAIL_ALLOC_REPORT"]
        if ks == [0]:
            del env["CVFUNC_FAIL_ALLOC_TRACE"]
        rc, out, err = execute(["/usr/bin/python3", "-X", "faulthandler", "-c", PY_DRIVER, RAW, fill(code, sb), CHECK,
                                json.dumps(ks)], env, sb, 600)
        records = []
        for line in out.splitlines():
            with contextlib.suppress(ValueError):
                records.append(json.loads(line))
        # A point started and never reported is the one the interpreter died at.
        started = records[-1]["start"] if records and "start" in records[-1] else None
        results = [r for r in records if "start" not in r]
        return rc, results, started, err, foreign_allocator(sb) if rc != 0 else None


def judge_python(r):
    problems = []
    o = r["outcome"]
    if o != "ok" and o != "MemoryError" and not o.startswith("cvfunc.Error"):
        problems.append("raised " + o)
    if r["again"] is not True:
        problems.append("next call wrong: %s" % r["again"])
    return problems


# ---------------------------------------------------------------- the sweep

def points(lo, hi, budget):
    """At most `budget` points spread over [lo, hi], both ends included."""
    if hi < lo:
        return []
    n = hi - lo + 1
    if n <= budget:
        return list(range(lo, hi + 1))
    step = n / budget
    return sorted({lo + int(i * step) for i in range(budget)} | {hi})


def sanitizer_runs(build, battery, args):
    """The sanitizer build: the injector cannot stand in front of
    AddressSanitizer's allocator (tests/oom/FailAlloc.c), so each statement
    runs once with every allocation above 1 MiB refused, and the run must
    end as one with an injected failure does, with nothing leaked."""
    problems = unthrown = 0
    with tempfile.TemporaryDirectory(prefix="cvfunc-oom-", ignore_cleanup_errors=True) as base, \
            concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        runs = [(name, fmt, pool.submit(run_tool, build, base, statement, files, fmt, 0))
                for name, statement, files, every in battery + LARGE for fmt in FORMATS]
        for name, fmt, fut in runs:
            run = fut.result()
            if re.search(r"SUMMARY: AddressSanitizer: out-of-memory \S+ in operator new", run.err):
                # The sanitizer's operator new ends the process rather
                # than throw std::bad_alloc: nothing to judge.
                unthrown += 1
            elif found := judge(run, run):
                problems += 1
                print("FAIL tool-%s %s: %s\n%s" % (fmt, name, "; ".join(found), run.err[-2000:]), flush=True)
    print("sanitizer build: %d runs with allocations above 1 MiB refused (%d ended by the sanitizer's operator new), "
          "%d problems" % (len(runs), unthrown, problems))
    return 1 if problems else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", required=True, help="the build directory (cvfunc, libcvfunc_failalloc.so)")
    ap.add_argument("--full", action="store_true", help="every point of every statement")
    ap.add_argument("--frontends", default="tool,repl,python")
    ap.add_argument("--only", default="", help="comma-separated statement names")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--points", type=int, default=80,
                    help="fast run: points per statement in text (json, csv: a third; marked statements: four times)")
    ap.add_argument("--log", default="", help="write every problem with its command here")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    frontends = args.frontends.split(",")
    battery = [b for b in BATTERY if not args.only or b[0] in args.only.split(",")]
    if build_is_sanitized(build):
        return sanitizer_runs(build, battery, args)
    problems = []   # (front end, statement, k, [problems], command)
    foreign = {}
    started = time.monotonic()

    def sample(lo, hi, budget):
        return points(lo, hi, hi - lo + 1 if args.full else budget)

    def note(frontend, name, k, found, detail, library=None):
        if found and library:
            foreign.setdefault(library, []).append("%s %s k=%s: %s" % (frontend, name, k, "; ".join(found)))
        elif found:
            problems.append((frontend, name, k, found, detail))
            print("FAIL %s %s k=%s: %s" % (frontend, name, k, "; ".join(found)), flush=True)

    def baseline_failed(frontend, name, rc, err):
        note(frontend, name, 0, ["baseline failed (%s): %s" % (rc, err.strip()[-300:])], "")

    with tempfile.TemporaryDirectory(prefix="cvfunc-oom-", ignore_cleanup_errors=True) as base, \
            concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        if "tool" in frontends or "repl" in frontends:
            # Start-up, shared by every statement: swept with a trivial one.
            prefix = run_tool(build, base, "1", [], "text", 0).count
            print("tool start-up and exit: %d allocations" % prefix, flush=True)
        if "tool" in frontends:
            jobs = []
            for name, statement, files, every in [("startup", "1", [], False)] + battery:
                for fmt in ("text",) if name == "startup" else FORMATS:
                    baseline = run_tool(build, base, statement, files, fmt, 0)
                    if baseline.rc != 0 or baseline.count is None:
                        baseline_failed("tool-" + fmt, name, baseline.rc, baseline.err)
                        continue
                    # Where the statement starts: a little before the trivial
                    # run's count (whose exit allocates next to nothing).
                    if name == "startup":
                        ks = sample(1, baseline.count, 4 * args.points)
                    else:
                        budget = args.points * (4 if every else 1) if fmt == "text" else args.points // 3
                        ks = sample(max(1, prefix - 150), baseline.count, budget)
                    jobs += [(fmt, name, statement, files, k, baseline,
                              pool.submit(run_tool, build, base, statement, files, fmt, k)) for k in ks]
            delivered, errors, messages = 0, 0, collections.Counter()
            for fmt, name, statement, files, k, baseline, fut in jobs:
                run = fut.result()
                delivered += bool(run.failed)
                if run.rc == 1:
                    errors += 1
                    messages.update(re.sub(r"'[^']*'", "'…'", line) for line in run.err.splitlines()
                                    if line.startswith("Error:"))
                note("tool-" + fmt, name, k, judge(run, baseline),
                     "CVFUNC_FAIL_ALLOC_AT=%d %s" % (k, " ".join(repr(c) for c in tool_command(build, statement, fmt, "SB"))),
                     run.foreign)
            print("tool: %d runs, %d with the failure delivered, %d ended in an error (%.0f s)"
                  % (len(jobs), delivered, errors, time.monotonic() - started), flush=True)
            for message, n in messages.most_common():
                print("  %6d  %s" % (n, message))

        if "repl" in frontends:
            t0 = time.monotonic()
            check = run_tool(build, base, CHECK, [], "text", 0).out.strip().splitlines()[0]
            jobs = []
            for name, statement, files, every in battery:
                baseline = run_repl(build, base, statement, files, 0, check)
                if baseline.rc != 0 or not baseline.answered or baseline.count is None:
                    baseline_failed("repl", name, baseline.rc, baseline.err)
                    continue
                jobs += [(name, k, baseline, pool.submit(run_repl, build, base, statement, files, k, check))
                         for k in sample(max(1, prefix - 150), baseline.count, args.points // 8)]
            for name, k, baseline, fut in jobs:
                run = fut.result()
                note("repl", name, k, judge(run, baseline, repl=True), "", run.foreign)
            print("repl: %d runs (%.0f s)" % (len(jobs), time.monotonic() - t0), flush=True)

        if "python" in frontends:
            t0 = time.monotonic()
            calls = [(name, "cvfunc.eval(%r)" % statement) for name, statement, files, every in battery] + PY_CALLS
            jobs = []
            for name, code in calls:
                rc, results, _, err, _ = run_python(build, base, code, [0])
                if rc != 0 or not results:
                    baseline_failed("python", name, rc, err)
                    continue
                ks = sample(1, results[0]["count"], 4 * args.points)
                jobs.append((name, code, ks, pool.submit(run_python, build, base, code, ks)))
            pyruns = 0
            while jobs:
                name, code, ks, fut = jobs.pop(0)
                rc, results, crashed_at, err, died_in = fut.result()
                pyruns += len(results)
                for r in results:
                    note("python", name, r["k"], judge_python(r), "")
                if rc != 0:
                    what = ("killed by %s" % signal.Signals(-rc).name) if isinstance(rc, int) and rc < 0 else "status %s" % rc
                    last = [line for line in err.splitlines() if line.strip()][:2]
                    note("python", name, crashed_at, ["interpreter ended: " + what + " " + " / ".join(last)], "", died_in)
                    # The points after the one the interpreter died at.
                    rest = [k for k in ks if crashed_at is not None and k > crashed_at]
                    if rest:
                        jobs.append((name, code, rest, pool.submit(run_python, build, base, code, rest)))
            print("python: %d calls (%.0f s)" % (pyruns, time.monotonic() - t0), flush=True)

    for library, found in sorted(foreign.items()):
        print("in %s itself (not counted): %d, e.g. %s" % (library, len(found), found[0]))
    if args.log:
        with open(args.log, "w") as f:
            for frontend, name, k, found, detail in problems:
                f.write("%s %s k=%s: %s\n  %s\n" % (frontend, name, k, "; ".join(found), detail))
    print("%d problems (%.0f s)" % (len(problems), time.monotonic() - started))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
