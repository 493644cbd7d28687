"""Every function that replaces a user's file, killed in the middle of its
writes and run out of disk space.

Killed: the tool runs a script that rewrites one target over and over with
contents that alternate (or grow), and is SIGKILLed after a random delay,
many times; one writer for each way the functions write a file. After every kill the target must parse and hold exactly one of
the contents a complete write produces; after the next complete run no
temporary file ("TARGET.~PID.N.tmp") may be left beside it.

Disk full: the writer runs over a good file with RLIMIT_FSIZE below the size
of its new content (SIGXFSZ ignored, so a write fails with EFBIG as on a full
disk), and again on a nearly full 64 KiB tmpfs (a real ENOSPC) where mounting
one is allowed; every writing function. It must answer its documented failure, the old
file must be intact byte for byte and no temporary file may be left.

CVFUNC_CRASH_KILLS sets the kills per writer (default 24) for a longer run.
Every process runs in a private home: HOME, the XDG variables, CVFUNC_HOME,
CVFUNC_SYSCONF and TMPDIR point into a temporary directory.
"""

import configparser
import io
import math
import os
import pathlib
import random
import re
import resource
import signal
import subprocess
import time
import wave
import xml.etree.ElementTree as ET
import zlib

import pytest

BUILD = pathlib.Path(os.environ.get("CVFUNC_BUILD_DIR") or pathlib.Path(__file__).parents[2] / "build")
TOOL = str((BUILD / "cvfunc").resolve())
KILLS = int(os.environ.get("CVFUNC_CRASH_KILLS", "24"))
TEMPORARY = re.compile(r"\.~(\d+)\.(\d+)\.tmp$")
# What a run says while the build tree is being relinked under it.
REBUILDING = re.compile(r"Cannot load the function module|error while loading shared libraries|undefined symbol")
HOME_DIRS = [("HOME", "home"), ("XDG_CONFIG_HOME", "home/.config"), ("XDG_DATA_HOME", "home/.local/share"),
             ("CVFUNC_HOME", "cvhome"), ("CVFUNC_SYSCONF", "etc"), ("TMPDIR", "tmp")]


def temporaries(folder):
    return sorted(p.name for p in pathlib.Path(folder).iterdir() if TEMPORARY.search(p.name))


class Home:
    """A private home under `root` for the processes of one writer. The tool
    may be being rebuilt while this runs, so a run that cannot start or load
    its module is retried."""

    def __init__(self, root):
        self.root, self.env = root, dict(os.environ)
        for name, rel in HOME_DIRS:
            (root / rel).mkdir(parents=True, exist_ok=True)
            self.env[name] = str(root / rel)
        self.work = root / "work"
        self.work.mkdir(exist_ok=True)

    def _spawn(self, args, **kw):
        for attempt in range(30):
            try:
                return subprocess.Popen([TOOL, *args], cwd=self.work, env=self.env, stdin=subprocess.DEVNULL, **kw)
            except OSError:
                if attempt == 29:
                    raise
                time.sleep(2)

    def run(self, statements, preexec_fn=None):
        """Runs the statements as one script; (exit status, stdout lines, stderr)."""
        script = self.work / f"run{zlib.crc32(repr(statements).encode())}.cvs"
        script.write_text("\n".join(statements) + "\n")
        for attempt in range(30):
            p = self._spawn([str(script)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            preexec_fn=preexec_fn)
            out, err = p.communicate(timeout=120)
            if not REBUILDING.search(err):
                break
            time.sleep(2)
        return p.returncode, out.split(), err

    def start(self, script):
        return self._spawn([str(script)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def string_list(items):
    items = list(items)
    assert not any("'" in i for i in items)
    return "[" + ", ".join(f"'{i}'" for i in items) + "]"


# ----------------------------------------------------------------- contents and their readers

def ini_ballast(sections, keys):
    return "".join(f"[Ballast {s}]\n" + "".join(f"key{k} = value {s}.{k} " + "x" * 30 + "\n" for k in range(keys))
                   for s in range(sections))


def parse_ini(data):
    configparser.ConfigParser(interpolation=None).read_string(data.decode("utf-8"))


def parse_records(data):
    text = data.decode("utf-8")
    assert text == "" or text.endswith("\n"), "the last line is cut"
    for line in text.splitlines():
        assert ";" in line, f"not a record: {line[:60]!r}"


def parse_html(data):
    assert data.lstrip().lower().startswith(b"<!doctype html"), "no document type"
    assert data.rstrip().endswith(b"</html>"), "no closing </html>"


def parse_wav(data):
    with wave.open(io.BytesIO(data)) as w:
        frames = w.readframes(w.getnframes())
        assert len(frames) == w.getnframes() * w.getnchannels() * w.getsampwidth(), "short data chunk"


def data_file(measures, params, runs, seed):
    """A report data file: `measures` measurements and `params` parameters over
    runs 0 ... `runs`."""
    rng = random.Random(seed)
    out = ['<?xml version="1.0" encoding="UTF-8"?>', '<statreport version="1">',
           f"  <header><title>set{seed}</title><design>crash.cir</design>"
           f"<created>2026-01-0{seed % 9 + 1}T00:00:00Z</created><analysis>montecarlo</analysis></header>"]
    for name, analysis, count, draw in [("meas", "tran", measures, lambda m: rng.gauss(1.0 + m, 0.1)),
                                        ("R", "parameter", params, lambda m: rng.uniform(900, 1100))]:
        for m in range(count):
            out.append(f'  <merit name="{name}{m}" analysis="{analysis}">')
            out += [f'    <value run="{r}">{draw(m)!r}</value>' for r in range(runs + 1)]
            out.append("  </merit>")
    return "\n".join(out + ["</statreport>"]) + "\n"


def merits(data):
    root = ET.fromstring(data)
    assert root.tag == "statreport"
    return {(m.get("name"), m.get("analysis")): [(int(v.get("run")), float(v.text)) for v in m.iter("value")]
            for m in root.iter("merit")}


def small_wav():
    out = io.BytesIO()
    with wave.open(out, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"\x01\x00\xff\x7f" * 10)
    return out.getvalue()


def catalog(count):
    return "".join(f"D{i};model {i};pins 3;" + "param=" + "p" * (i % 50) + ";\n" for i in range(count))


def record_base(count):
    return "".join(f"K{i};a{i};b{i};c{i};d{i};e{i};f{i};g{i};h{i};\n" for i in range(count))


def selector_inputs(scale):
    """The six inputs of _BuildPartSelectorData, in argument order after the output."""
    return {
        "lib.idx": "".join(f"M{i};20200101;x;Cat{i % 20};model {i};x;ps_model;\n" for i in range(scale)),
        "user.lst": "M3;0\nM8;0\n",
        "cats.dat": "".join(f"Cat{j};Root|Group{j % 3}|Cat{j};\n" for j in range(20)),
        "cats.jnl": "Cat4;Root|Renamed;edit\n",
        "parts.dat": "".join(f"P{i};x;passive;Cat{i % 20};Part label {i};x;ps_generic;x;x;\n" for i in range(scale)),
        "parts.jnl": "P7;x;passive;Cat1;Edited label;x;;x;x;edit\nPnew;x;passive;Cat2;Added;x;;x;x;add\n",
    }


def write_files(folder, files):
    for name, content in files.items():
        (folder / name).write_bytes(content if isinstance(content, bytes) else content.encode())


LIBS = string_list(f"/lib/vendor{i}/models_{i}.lib" for i in range(6))
OLD_PAGE = "<!DOCTYPE html>\n<html><body>an old page</body></html>\n"
BIG_INI = ini_ballast(400, 20)


# ----------------------------------------------------------------- the writers killed

class Writer:
    """A writing function under kills: its target (relative to the private
    home's root) and first content, input files for the work folder, the
    statements that rewrite the target in turn and how its contents are read.
    `answer` is what a successful statement prints (one per statement of the
    cycle when they differ); `preamble` runs once before the writes. The kills
    cover each way of writing a file once; every function meets the full disk."""

    def __init__(self, name, target, first, cycle, answer="true", parse=lambda data: None, inputs=None,
                 preamble=(), kill_length=400):  # statements in a killed run: more than a kill lets through
        self.name, self.target, self.first, self._cycle, self.answer = name, target, first, cycle, answer
        self.parse, self.inputs, self.preamble, self.kill_length = parse, inputs or {}, preamble, kill_length

    def prepare(self, home):
        write_files(home.work, self.inputs)
        target = home.root / self.target
        write_files(target.parent, {target.name: self.first})
        return target

    def cycle(self, home):
        return self._cycle

    def kill_script(self, home, state, length):
        """The statements of one killed run (assignments, so nothing prints)."""
        c = self.cycle(home)
        return list(self.preamble) + [f"w{i} = {c[i % len(c)]}" for i in range(length)]

    def calibrate(self, home, target):
        """The contents complete writes give: each statement of the cycle run
        to completion, twice round (with the first target)."""
        cycle = self.cycle(home)
        answers = self.answer if isinstance(self.answer, tuple) else (self.answer,) * len(cycle)
        states = {target.read_bytes()}
        for statement, answer in list(zip(cycle, answers)) * 2:
            rc, out, err = home.run(list(self.preamble) + [statement])
            assert rc == 0 and out == [answer], f"{self.name}: {statement[:80]} -> {out} {err}"
            states.add(target.read_bytes())
        for s in states:
            self.parse(s)
        return states

    def verify(self, data, states):
        """None when `data` is a content a complete write gives, else why not."""
        if data in states:
            return None
        if not data:
            return "the file is empty"
        try:
            self.parse(data)
            why = "parses, but is no content a complete write gives"
        except Exception as e:  # noqa: BLE001 - any reader failure is the finding
            why = f"does not parse ({type(e).__name__}: {e})"
        return f"{len(data)} bytes, {why}"


class SensitivityData(Writer):
    """A growing file: each append adds the next run of one merit, so every
    complete write is the file with runs 1 ... K of it, K never falling."""

    def __init__(self):
        super().__init__("AppendSensitivityData", "work/data.xml", data_file(20, 0, 200, seed=3),
                         [self.statement(1), self.statement(2)])

    def prepare(self, home):
        target = super().prepare(home)
        self.ballast, self.floor = merits(target.read_bytes()), 0
        return target

    @staticmethod
    def statement(run):
        return f"AppendSensitivityData('data.xml', ['grow', 'ac'], [{run * 0.5!r}], [{run}])"

    def kill_script(self, home, state, length):
        start = len(merits(state).get(("grow", "ac"), [])) + 1
        return [f"w{run} = {self.statement(run)}" for run in range(start, start + length)]

    def calibrate(self, home, target):
        for statement in self.cycle(home):
            rc, out, err = home.run([statement])
            assert rc == 0 and out == ["true"], f"{statement} -> {out} {err}"

    def verify(self, data, states):
        try:
            found = merits(data)
        except Exception as e:  # noqa: BLE001
            return f"{len(data)} bytes, does not parse ({type(e).__name__}: {e})"
        grow = found.pop(("grow", "ac"), [])
        if found != self.ballast:
            return "the other merits changed"
        if grow != [(r, r * 0.5) for r in range(1, len(grow) + 1)]:
            return f"merit 'grow' holds runs {[r for r, _ in grow][:10]}... not 1 ... K"
        if len(grow) < self.floor:
            return f"merit 'grow' fell back from {self.floor} to {len(grow)} runs"
        self.floor = len(grow)
        return None


class LockFile(Writer):
    """CreateLockFile writes nothing: the user's file must keep its bytes, and
    the lock of a killed holder must be free for the next process."""

    def calibrate(self, home, target):
        return {target.read_bytes()}

    def verify(self, data, states):
        if data not in states:
            return f"the lock file changed: {data[:60]!r}"
        rc, out, err = self.home.run(["CreateLockFile('app.lock', 'lock')"])
        if out != ["success"]:
            return f"the lock of the killed holder is still taken: {out} {err}"
        return None


WRITERS = {w.name: w for w in [
    Writer("WriteIniKey", "work/user.ini", BIG_INI + "[Crash]\nkey = first\n",
           [f"WriteIniKey('user.ini', 'Crash', 'key', '{v}')" for v in ("alpha" * 30, "b")], parse=parse_ini),
    Writer("Add/RemoveConfigCollection", "cvhome/config.ini", BIG_INI,
           [f"AddConfigCollection('Libs', {LIBS})", f"RemoveConfigCollection('Libs', {LIBS})"], answer="6",
           parse=parse_ini),
    # The catalog is read whole before the copy replaces the destination.
    Writer("WriteDeviceCatalog", "work/devices.lib", "* an old catalog;\n",
           ["WriteDeviceCatalog(da, 'catalog.lib', 'devices.lib', ['* every other;'])",
            "WriteDeviceCatalog(db, 'catalog.lib', 'devices.lib', ['* every fifth;', '* second line;'])"],
           parse=parse_records, inputs={"catalog.lib": catalog(12000)},
           preamble=(f"da = {string_list(f'D{i}' for i in range(0, 12000, 2))}",
                     f"db = {string_list(f'D{i}' for i in range(0, 12000, 5))}")),
    # The call a journal is made for: the output is the base file itself.
    Writer("ApplyJournal-in-place", "work/parts.lib", record_base(12000),
           ["ApplyJournal(['parts.lib', 'parts.lib', 'edit.jnl'], 9)"], answer="12000", parse=parse_records,
           inputs={"edit.jnl": "K5;;;;edited;;;;;edit\nK6;x;;;;;;;;edit\n"}),
    SensitivityData(),
    Writer("BuildMclogHTML", "work/page.html", OLD_PAGE, [f"BuildMclogHTML('{d}.xml', 'page.html')" for d in "ab"],
           parse=parse_html, inputs={"a.xml": data_file(40, 4, 150, seed=5), "b.xml": data_file(25, 3, 120, seed=6)}),
    Writer("WAV_WriteFile", "work/sound.wav", small_wav(),
           ["WAV_WriteFile('sound.wav', [16, 1, 8000], a)", "WAV_WriteFile('sound.wav', [24, 0.5, 44100], b, a)"],
           answer="0", parse=parse_wav, preamble=("a = sin(vector(300000) / 10)", "b = cos(vector(200000) / 7)")),
    LockFile("CreateLockFile", "work/app.lock", "held by an earlier run\n",
             ["CreateLockFile('app.lock', 'lock')", "CreateLockFile('app.lock', 'unlock')"], answer="success",
             kill_length=20000)]}


# ----------------------------------------------------------------- the writers on a full disk

BIG = "x" * 20000
SELECTOR = selector_inputs(300)
PAGE = {"a.xml": data_file(20, 3, 40, seed=5)}
# Each writer's call over a good target whose rewrite needs more than
# FULL_LIMIT bytes, and the answer that reports the failure: (target file,
# its content, statements, failure, input files in the work folder). @T is
# the target's path, @W the work folder; a settings store (home=...) is the
# named folder itself.
DISK_FULL = {
    "WriteIniKey": ("user.ini", ini_ballast(3, 4) + "[Crash]\nkey = first\n",
                    f"WriteIniKey('@T', 'Crash', 'big', '{BIG}')", "false", {}),
    "WriteConfigSetting": ("config.ini", ini_ballast(3, 4) + "[Crash]\nkey = first\n",
                           f"WriteConfigSetting('Crash', 'big', '{BIG}')", "false", {}, "CVFUNC_HOME"),
    "AddConfigCollection": ("config.ini", ini_ballast(3, 4), "AddConfigCollection('Libs', " + string_list(
        f"/lib/vendor/a_long_library_file_name_{i:04}.lib" for i in range(400)) + ")", "-1", {}, "CVFUNC_HOME"),
    "RemoveConfigCollection": ("config.ini", ini_ballast(40, 12) + "[Libs]\n" + "".join(
        f"File{i + 1}=/lib/vendor{i}/models_{i}.lib\n" for i in range(6)),
        "RemoveConfigCollection('Libs', ['/lib/vendor0/models_0.lib'])", "-1", {}, "CVFUNC_HOME"),
    "DeleteConfigCollection": ("config.ini", ini_ballast(40, 12) + "[Gone]\nFile1=/lib/a.lib\n",
                               "DeleteConfigCollection('Gone')", "-1", {}, "CVFUNC_HOME"),
    "WriteRegSetting": ("registry.ini", "[Software\\Crash]\nName=first\n",
                        f"WriteRegSetting('Software\\Crash', 'Big', '{BIG}', 'HKCU')", "WriteFailed", {}, "CVFUNC_HOME"),
    "WriteRegSetting-HKLM": ("registry.ini", "[Software\\Crash]\nName=first\n",
                             f"WriteRegSetting('Software\\Crash', 'Big', '{BIG}', 'HKLM')", "WriteFailed", {},
                             "CVFUNC_SYSCONF"),
    "WriteDeviceCatalog": ("devices.lib", "* an old catalog;\nD1;old;\n", "WriteDeviceCatalog(" + string_list(
        f"D{i}" for i in range(600)) + ", '@W/catalog.lib', '@T')", "false", {"catalog.lib": catalog(600)}),
    "ApplyJournal": ("out.lib", "OLD;output;\n", "ApplyJournal(['@T', '@W/base.lib', '@W/none.jnl'], 9)", "-1",
                     {"base.lib": record_base(800)}),
    "ApplyJournal-in-place": ("parts.lib", record_base(400), "ApplyJournal(['@T', '@T', '@W/edit.jnl'], 9)", "-1",
                              {"edit.jnl": "K5;;;;edited;;;;;edit\n"}),
    "_BuildPartSelectorData": ("selector.dat", "old;selector;\n", "_BuildPartSelectorData(" + string_list(
        ["@T"] + [f"@W/{n}" for n in SELECTOR]) + ")", "-1", SELECTOR),
    "AppendSensitivityData": ("data.xml", data_file(2, 0, 5, seed=4), "AppendSensitivityData('@T', ['new'], ["
                              + ", ".join(str(0.25 * r) for r in range(1, 1001)) + "], ["
                              + ", ".join(str(r) for r in range(1, 1001)) + "])", "false", {}),
    "BuildMclogHTML": ("page.html", OLD_PAGE, "BuildMclogHTML('@W/a.xml', '@T')", "false", PAGE),
    "BuildSensitivityHTML": ("page.html", OLD_PAGE, "BuildSensitivityHTML('@W/a.xml', '@T')", "0", PAGE),
    "BuildWorstCaseHTML": ("page.html", OLD_PAGE, "BuildWorstCaseHTML('@W/a.xml', '@T')", "0", PAGE),
    "WAV_WriteFile": ("sound.wav", small_wav(),
                      ["a = sin(vector(100000) / 10)", "WAV_WriteFile('@T', [16, 1, 8000], a)"], "30", {}),
    "CreateLockFile": ("app.lock", "held by an earlier run\n", "CreateLockFile('@T', 'lock')", "success", {}),
}


# ----------------------------------------------------------------- kills

def startup_time(home, preamble):
    best = math.inf
    for _ in range(3):
        t = time.monotonic()
        home.run(list(preamble) + ["1"])
        best = min(best, time.monotonic() - t)
    return best


def campaign(writer, root):
    """Kills the writer KILLS times; what was seen after each kill and after
    one complete run at the end."""
    home = Home(root)
    writer.home = home
    target = writer.prepare(home)
    states = writer.calibrate(home, target)

    # Kills fall after the start-up and spread over a few writes.
    start = startup_time(home, writer.preamble)
    rounds = 6
    t = time.monotonic()
    rc, _, err = home.run(writer.kill_script(home, target.read_bytes(), rounds))
    assert rc == 0, err
    per_write = max((time.monotonic() - t - start) / rounds, 0.001)
    span = max(5 * per_write, 0.02)

    rng = random.Random(zlib.crc32(writer.name.encode()))
    faults, killed, ended_early, left_by_kills = [], 0, [], set()
    script = home.work / "kill.cvs"
    good = target.read_bytes()
    for k in range(3 * KILLS):
        if killed == KILLS:
            break
        script.write_text("\n".join(writer.kill_script(home, target.read_bytes(), writer.kill_length)) + "\n")
        delay = 0.8 * start + rng.uniform(0, span)
        p = home.start(script)
        time.sleep(delay)
        p.send_signal(signal.SIGKILL)
        if p.wait() == -signal.SIGKILL:
            killed += 1
        else:
            # It ended by itself: a kill that proves nothing (a relinked
            # build fails at start), so it is made again.
            ended_early.append(p.returncode)
            home.run(["1"])
        if not target.exists():
            faults.append(f"kill {k} after {delay * 1000:.0f} ms: the file is gone")
            target.write_bytes(good)
            continue
        why = writer.verify(target.read_bytes(), states)
        if why:
            faults.append(f"kill {k} after {delay * 1000:.0f} ms: {why}")
            target.write_bytes(good)
        good = target.read_bytes()
        left_by_kills.update(temporaries(target.parent))

    # One complete run of the writer over the same target.
    rc, _, err = home.run(writer.kill_script(home, target.read_bytes(), len(writer.cycle(home))))
    final = writer.verify(target.read_bytes(), states) if rc == 0 else f"the complete run failed: {err}"
    return {"faults": faults, "killed": killed, "ended_early": ended_early, "final": final,
            "left_by_kills": sorted(left_by_kills),
            "left_after_run": temporaries(target.parent), "per_write_ms": per_write * 1000}


@pytest.fixture(scope="module")
def campaigns(tmp_path_factory):
    """Each writer's kills, run once and shared by the tests that judge them."""
    root = tmp_path_factory.mktemp("crash")
    done = {}
    with pytest.MonkeyPatch.context() as mp:
        base = Home(root / "module")
        for name, _ in HOME_DIRS:
            mp.setenv(name, base.env[name])
        mp.chdir(base.work)

        def get(name):
            if name not in done:
                done[name] = campaign(WRITERS[name], root / re.sub(r"\W", "_", name))
            return done[name]

        yield get


@pytest.mark.parametrize("name", list(WRITERS))
def test_killed_writer_leaves_a_whole_file(campaigns, name):
    result = campaigns(name)
    assert not result["faults"], "\n".join(result["faults"])
    assert result["killed"] == KILLS, f"runs ended before their kill, exit codes {result['ended_early']}"
    assert result["final"] is None, result["final"]


@pytest.mark.parametrize("name", list(WRITERS))
def test_next_write_removes_temporaries_left_by_killed_writers(campaigns, name):
    """A killed writer's temporary file must not outlive the next complete
    write of that target: the writer removes temporaries whose process is
    gone."""
    result = campaigns(name)
    assert result["left_after_run"] == [], (
        f"temporary files left beside the target after a complete run "
        f"({len(result['left_by_kills'])} left by the kills): {result['left_after_run'][:5]}")


def test_removing_temporaries_spares_live_writers_and_other_files(sandbox):
    home = Home(sandbox.parent)
    (sandbox / "user.ini").write_text("[S]\nk=1\n")
    gone = subprocess.Popen(["true"])
    gone.wait()
    orphan = sandbox / f"user.ini.~{gone.pid}.3.tmp"
    kept = [sandbox / f"user.ini.~{os.getpid()}.0.tmp",  # its writer is alive
            sandbox / f"user.ini.~{gone.pid}.x.tmp", sandbox / f"user.ini.{gone.pid}.1.tmp",
            sandbox / f"user.ini.~{gone.pid}.tmp.bak"]
    for f in [orphan] + kept:
        f.write_text("partial")
    folder = sandbox / f"user.ini.~{gone.pid}.4.tmp"
    folder.mkdir()
    rc, out, err = home.run(["WriteIniKey('user.ini', 'S', 'k', '2')"])
    assert (rc, out) == (0, ["true"]), err
    assert not orphan.exists()
    assert all(f.read_text() == "partial" for f in kept) and folder.is_dir()


# ----------------------------------------------------------------- full disk

FULL_LIMIT = 8192


def ignore_sigxfsz_and_limit():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (FULL_LIMIT, FULL_LIMIT))


@pytest.fixture
def small_tmpfs(sandbox):
    """A 64 KiB tmpfs, or a skip where mounting is not allowed."""
    mount = sandbox.parent / "full"
    mount.mkdir()
    if os.geteuid() != 0:
        pytest.skip("mounting a tmpfs needs root")
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(mount)], capture_output=True, text=True)
    if r.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {r.stderr.strip()}")
    try:
        yield mount
    finally:
        subprocess.run(["umount", str(mount)], capture_output=True)


def fill_leaving(folder, free):
    """Fills the file system of `folder` up to `free` bytes."""
    filler = folder / "filler"
    with open(filler, "wb", buffering=0) as f:
        try:
            while True:
                f.write(b"\0" * 4096)
        except OSError:
            pass
    size = filler.stat().st_size
    os.truncate(filler, max(size - free, 0))


def disk_full(name, home, place):
    """Makes the good target of DISK_FULL[name] in `place`; (target, statements, failure)."""
    file, content, statements, failure, inputs, *store = DISK_FULL[name]
    if store:
        home.env[store[0]] = str(place)
    write_files(home.work, inputs)
    target = place / file
    write_files(place, {file: content})
    statements = [statements] if isinstance(statements, str) else statements
    return target, [s.replace("@T", str(target)).replace("@W", str(home.work)) for s in statements], failure


def run_over_full_disk(name, home, place, preexec_fn, fill):
    target, statements, failure = disk_full(name, home, place)
    before = target.read_bytes()
    if fill:
        fill_leaving(place, FULL_LIMIT)
    rc, out, err = home.run(statements, preexec_fn=preexec_fn)
    assert rc == 0 and out == [failure], f"{name} on a full disk answered {out} (exit {rc}) {err[:300]}"
    assert target.read_bytes() == before, "the old file changed"
    assert temporaries(target.parent) == []


def control_run(name, root):
    """The same call with room to write must succeed: else the failure above
    would prove nothing."""
    home = Home(root)
    target, statements, failure = disk_full(name, home, home.work)
    before = target.read_bytes()
    rc, out, err = home.run(statements)
    assert rc == 0, err
    if name != "CreateLockFile":
        assert out != [failure] and target.read_bytes() != before, f"{name} fails with room to write: {out}"
        assert len(target.read_bytes()) > FULL_LIMIT


@pytest.mark.parametrize("name", list(DISK_FULL))
def test_file_size_limit_keeps_the_old_file(sandbox, name):
    control_run(name, sandbox.parent / "control")
    run_over_full_disk(name, Home(sandbox.parent), sandbox, ignore_sigxfsz_and_limit, fill=False)


@pytest.mark.parametrize("name", list(DISK_FULL))
def test_full_tmpfs_keeps_the_old_file(sandbox, small_tmpfs, name):
    run_over_full_disk(name, Home(sandbox.parent), small_tmpfs, None, fill=True)
