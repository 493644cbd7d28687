"""Every function that replaces a user's file, killed in the middle of its
writes and run out of disk space.

Killed: the tool runs a script that rewrites one target over and over with
contents that alternate (or grow), and is SIGKILLed after a random delay,
many times. After every kill the target must parse and hold exactly one of
the contents a complete write produces; after the next complete run no
temporary file ("TARGET.~PID.N.tmp") may be left beside it.

Disk full: the writer runs over a good file with RLIMIT_FSIZE below the size
of its new content (SIGXFSZ ignored, so a write fails with EFBIG as on a full
disk), and again on a nearly full 64 KiB tmpfs (a real ENOSPC) where mounting
one is allowed. The function must answer its documented failure, the old
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
        self.env = dict(os.environ)
        for name, rel in HOME_DIRS:
            (root / rel).mkdir(parents=True, exist_ok=True)
            self.env[name] = str(root / rel)
        self.work = root / "work"
        self.work.mkdir(exist_ok=True)
        self.cvhome = pathlib.Path(self.env["CVFUNC_HOME"])
        self.etc = pathlib.Path(self.env["CVFUNC_SYSCONF"])

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


def quoted(text):
    assert "'" not in text
    return f"'{text}'"


def string_list(items):
    return "[" + ", ".join(quoted(i) for i in items) + "]"


# ----------------------------------------------------------------- contents and their readers

def ini_ballast(sections, keys, prefix="Ballast"):
    return "".join(f"[{prefix} {s}]\n" + "".join(f"key{k} = value {s}.{k} " + "x" * 30 + "\n" for k in range(keys))
                   for s in range(sections))


def parse_ini(data):
    parser = configparser.ConfigParser(interpolation=None)
    parser.read_string(data.decode("utf-8"))
    return parser


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


def data_file(measures, params, runs, seed, nominal=True):
    """A report data file: `measures` measurements and `params` parameters over
    `runs` runs (and the nominal run 0)."""
    rng = random.Random(seed)
    first = 0 if nominal else 1
    out = ['<?xml version="1.0" encoding="UTF-8"?>', '<statreport version="1">',
           f"  <header><title>set{seed}</title><design>crash.cir</design>"
           f"<created>2026-01-0{seed % 9 + 1}T00:00:00Z</created><analysis>montecarlo</analysis></header>"]
    for m in range(measures):
        out.append(f'  <merit name="meas{m}" analysis="tran">')
        out += [f'    <value run="{r}">{rng.gauss(1.0 + m, 0.1)!r}</value>' for r in range(first, runs + 1)]
        out.append("  </merit>")
    for p in range(params):
        out.append(f'  <merit name="R{p}" analysis="parameter">')
        out += [f'    <value run="{r}">{rng.uniform(900, 1100)!r}</value>' for r in range(first, runs + 1)]
        out.append("  </merit>")
    out.append("</statreport>")
    return "\n".join(out) + "\n"


def merits(data):
    root = ET.fromstring(data)
    assert root.tag == "statreport"
    return {(m.get("name"), m.get("analysis")): [(int(v.get("run")), float(v.text)) for v in m.iter("value")]
            for m in root.iter("merit")}


def small_wav(path):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"\x01\x00\xff\x7f" * 10)


def catalog_lines(count):
    return [f"D{i};model {i};pins 3;" + "param=" + "p" * (i % 50) + ";" for i in range(count)]


def record_base(count):
    return "".join(f"K{i};a{i};b{i};c{i};d{i};e{i};f{i};g{i};h{i};\n" for i in range(count))


def selector_inputs(folder, scale):
    """The six inputs of _BuildPartSelectorData; their names in argument order after the output."""
    files = {
        "lib.idx": "".join(f"M{i};20200101;x;Cat{i % 20};model {i};x;ps_model;\n" for i in range(scale)),
        "user.lst": "M3;0\nM8;0\n",
        "cats.dat": "".join(f"Cat{j};Root|Group{j % 3}|Cat{j};\n" for j in range(20)),
        "cats.jnl": "Cat4;Root|Renamed;edit\n",
        "parts.dat": "".join(f"P{i};x;passive;Cat{i % 20};Part label {i};x;ps_generic;x;x;\n" for i in range(scale)),
        "parts.jnl": "P7;x;passive;Cat1;Edited label;x;;x;x;edit\nPnew;x;passive;Cat2;Added;x;;x;x;add\n",
    }
    for name, text in files.items():
        (folder / name).write_text(text)
    return [str(folder / n) for n in files]


# ----------------------------------------------------------------- the writers

class Writer:
    """One writing function: how its target is prepared, the statements that
    rewrite it in turn, and how its contents are read. `answer` is what a
    successful statement prints (one per statement of the cycle when they
    differ); `preamble` runs once before the writes."""

    name = ""
    answer = "true"
    preamble = ()
    kill_length = 400  # statements in a killed run: more than a kill lets through
    parse = staticmethod(lambda data: None)

    def prepare(self, home):
        """Makes the inputs and the first target; returns the target."""
        raise NotImplementedError

    def cycle(self, home):
        raise NotImplementedError

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

    def disk_full(self, home, place):
        """Prepares a good target in `place` whose rewrite needs more than
        FULL_LIMIT bytes; returns (target, statement or statements, the
        answer that reports failure)."""
        raise NotImplementedError


class IniKey(Writer):
    name = "WriteIniKey"
    parse = staticmethod(parse_ini)

    def prepare(self, home):
        target = home.work / "user.ini"
        target.write_text(ini_ballast(400, 20) + "[Crash]\nkey = first\n")
        return target

    def cycle(self, home):
        return [f"WriteIniKey('user.ini', 'Crash', 'key', '{v}')" for v in ("alpha" * 30, "b")]

    def disk_full(self, home, place):
        target = place / "user.ini"
        target.write_text(ini_ballast(3, 4) + "[Crash]\nkey = first\n")
        return target, f"WriteIniKey('{target}', 'Crash', 'big', '{'x' * 20000}')", "false"


class ConfigSetting(Writer):
    name = "WriteConfigSetting"
    parse = staticmethod(parse_ini)

    def prepare(self, home):
        target = home.cvhome / "config.ini"
        target.write_text(ini_ballast(400, 20) + "[Crash]\nkey = first\n")
        return target

    def cycle(self, home):
        return [f"WriteConfigSetting('Crash', 'key', '{v}')" for v in ("alpha" * 30, "b")] + \
               ["WriteConfigSetting('Crash', 'key')"]

    def disk_full(self, home, place):
        home.env["CVFUNC_HOME"] = str(place)
        target = place / "config.ini"
        target.write_text(ini_ballast(3, 4) + "[Crash]\nkey = first\n")
        return target, f"WriteConfigSetting('Crash', 'big', '{'x' * 20000}')", "false"


LIBS = [f"/lib/vendor{i}/models_{i}.lib" for i in range(6)]


class Collections(Writer):
    """AddConfigCollection and RemoveConfigCollection in turn."""
    name = "Add/RemoveConfigCollection"
    answer = str(len(LIBS))
    parse = staticmethod(parse_ini)

    def prepare(self, home):
        target = home.cvhome / "config.ini"
        target.write_text(ini_ballast(400, 20))
        return target

    def cycle(self, home):
        return [f"AddConfigCollection('Libs', {string_list(LIBS)})",
                f"RemoveConfigCollection('Libs', {string_list(LIBS)})"]

    def disk_full(self, home, place):
        home.env["CVFUNC_HOME"] = str(place)
        target = place / "config.ini"
        target.write_text(ini_ballast(3, 4))
        many = [f"/lib/vendor/a_long_library_file_name_{i:04}.lib" for i in range(400)]
        return target, f"AddConfigCollection('Libs', {string_list(many)})", "-1"


class AddCollection(Collections):
    name = "AddConfigCollection"


class RemoveCollection(Collections):
    name = "RemoveConfigCollection"

    def disk_full(self, home, place):
        home.env["CVFUNC_HOME"] = str(place)
        target = place / "config.ini"
        target.write_text(ini_ballast(40, 12) + "[Libs]\n" + "".join(f"File{i + 1}={f}\n" for i, f in enumerate(LIBS)))
        return target, f"RemoveConfigCollection('Libs', {string_list(LIBS[:1])})", "-1"


class DeleteCollection(Writer):
    """AddConfigCollection and DeleteConfigCollection in turn."""
    name = "DeleteConfigCollection"
    answer = (str(len(LIBS)), "1")
    parse = staticmethod(parse_ini)

    def prepare(self, home):
        target = home.cvhome / "config.ini"
        target.write_text(ini_ballast(400, 20))
        return target

    def cycle(self, home):
        return [f"AddConfigCollection('Gone', {string_list(LIBS)})", "DeleteConfigCollection('Gone')"]

    def disk_full(self, home, place):
        home.env["CVFUNC_HOME"] = str(place)
        target = place / "config.ini"
        target.write_text(ini_ballast(40, 12) + "[Gone]\nFile1=/lib/a.lib\n")
        return target, "DeleteConfigCollection('Gone')", "-1"


class RegSetting(Writer):
    name = "WriteRegSetting"
    answer = "Ok"
    parse = staticmethod(parse_ini)
    tree = "HKCU"

    def prepare(self, home):
        target = home.cvhome / "registry.ini"
        target.write_text(ini_ballast(400, 20, prefix="Software\\Ballast") + "[Software\\Crash]\nName=first\n")
        return target

    def cycle(self, home):
        return [f"WriteRegSetting('Software\\Crash', 'Name', '{v}')" for v in ("alpha" * 30, "b")]

    def disk_full(self, home, place):
        home.env["CVFUNC_HOME" if self.tree == "HKCU" else "CVFUNC_SYSCONF"] = str(place)
        target = place / "registry.ini"
        target.write_text("[Software\\Crash]\nName=first\n")
        return (target, f"WriteRegSetting('Software\\Crash', 'Big', '{'x' * 20000}', '{self.tree}')", "WriteFailed")


class RegSettingMachine(RegSetting):
    name = "WriteRegSetting-HKLM"
    tree = "HKLM"

    def prepare(self, home):
        target = home.etc / "registry.ini"
        target.write_text(ini_ballast(400, 20, prefix="Software\\Ballast") + "[Software\\Crash]\nName=first\n")
        return target

    def cycle(self, home):
        return [f"WriteRegSetting('Software\\Crash', 'Name', '{v}', 'HKLM')" for v in ("alpha" * 30, "b")]


class DeviceCatalog(Writer):
    name = "WriteDeviceCatalog"
    parse = staticmethod(parse_records)
    preamble = (f"da = {string_list(f'D{i}' for i in range(0, 12000, 2))}",
                f"db = {string_list(f'D{i}' for i in range(0, 12000, 5))}")

    def prepare(self, home):
        (home.work / "catalog.lib").write_text("\n".join(catalog_lines(12000)) + "\n")
        target = home.work / "devices.lib"
        target.write_text("* an old catalog;\n")
        return target

    def cycle(self, home):
        return ["WriteDeviceCatalog(da, 'catalog.lib', 'devices.lib', ['* every other;'])",
                "WriteDeviceCatalog(db, 'catalog.lib', 'devices.lib', ['* every fifth;', '* second line;'])"]

    def disk_full(self, home, place):
        (home.work / "catalog.lib").write_text("\n".join(catalog_lines(600)) + "\n")
        target = place / "devices.lib"
        target.write_text("* an old catalog;\nD1;old;\n")
        names = string_list(f"D{i}" for i in range(600))
        return target, f"WriteDeviceCatalog({names}, '{home.work}/catalog.lib', '{target}')", "false"


class Journal(Writer):
    name = "ApplyJournal"
    answer = ("12000", "8000")
    parse = staticmethod(parse_records)

    def prepare(self, home):
        (home.work / "base.lib").write_text(record_base(12000))
        (home.work / "a.jnl").write_text("K5;;;;edited;;;;;edit\nK9;;;;;;;;;delete\nNEW1;n;n;n;n;n;n;n;n;add\n")
        (home.work / "b.jnl").write_text("".join(f"K{i};;;;;;;;;delete\n" for i in range(0, 12000, 3)))
        target = home.work / "out.lib"
        target.write_text("OLD;output;\n")
        return target

    def cycle(self, home):
        return [f"ApplyJournal(['out.lib', 'base.lib', '{j}.jnl'], 9)" for j in ("a", "b")]

    def disk_full(self, home, place):
        (home.work / "base.lib").write_text(record_base(800))
        target = place / "out.lib"
        target.write_text("OLD;output;\n")
        return target, f"ApplyJournal(['{target}', '{home.work}/base.lib', '{home.work}/none.jnl'], 9)", "-1"


class JournalInPlace(Writer):
    """The call a journal is made for: the output is the base file itself."""
    name = "ApplyJournal-in-place"
    answer = "12000"
    parse = staticmethod(parse_records)

    def prepare(self, home):
        (home.work / "edit.jnl").write_text("K5;;;;edited;;;;;edit\nK6;x;;;;;;;;edit\n")
        target = home.work / "parts.lib"
        target.write_text(record_base(12000))
        return target

    def cycle(self, home):
        return ["ApplyJournal(['parts.lib', 'parts.lib', 'edit.jnl'], 9)"]

    def disk_full(self, home, place):
        target = place / "parts.lib"
        target.write_text(record_base(400))  # ~18 KB: its rewrite is larger than the limit
        (home.work / "edit.jnl").write_text("K5;;;;edited;;;;;edit\n")
        return target, f"ApplyJournal(['{target}', '{target}', '{home.work}/edit.jnl'], 9)", "-1"


class PartSelector(Writer):
    name = "_BuildPartSelectorData"
    answer = ("12003", "6021")  # every model and part; one entry per category instead of the models
    parse = staticmethod(parse_records)

    def prepare(self, home):
        self.inputs = selector_inputs(home.work, 6000)
        target = home.work / "selector.dat"
        target.write_text("old;selector;\n")
        return target

    def cycle(self, home):
        files = string_list(["selector.dat"] + self.inputs)
        return [f"_BuildPartSelectorData({files})", f"_BuildPartSelectorData({files}, 'compressmodels')"]

    def disk_full(self, home, place):
        inputs = selector_inputs(home.work, 300)
        target = place / "selector.dat"
        target.write_text("old;selector;\n")
        return target, f"_BuildPartSelectorData({string_list([str(target)] + inputs)})", "-1"


class SensitivityData(Writer):
    """A growing file: each append adds the next run of one merit, so every
    complete write is the file with runs 1 ... K of it, K never falling."""
    name = "AppendSensitivityData"

    def prepare(self, home):
        target = home.work / "data.xml"
        target.write_text(data_file(20, 0, 200, seed=3))
        self.ballast = merits(target.read_bytes())
        self.floor = 0
        return target

    @staticmethod
    def statement(run):
        return f"AppendSensitivityData('data.xml', ['grow', 'ac'], [{run * 0.5!r}], [{run}])"

    def kill_script(self, home, state, length):
        start = len(merits(state).get(("grow", "ac"), [])) + 1
        return [f"w{run} = {self.statement(run)}" for run in range(start, start + length)]

    def cycle(self, home):
        return [self.statement(1), self.statement(2)]

    def calibrate(self, home, target):
        for statement in self.cycle(home):
            rc, out, err = home.run([statement])
            assert rc == 0 and out == ["true"], f"{statement} -> {out} {err}"
        return None

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

    def disk_full(self, home, place):
        target = place / "data.xml"
        target.write_text(data_file(2, 0, 5, seed=4))
        values = ", ".join(str(0.25 * r) for r in range(1, 1001))
        runs = ", ".join(str(r) for r in range(1, 1001))
        return target, f"AppendSensitivityData('{target}', ['new'], [{values}], [{runs}])", "false"


class Page(Writer):
    """A report page built from one data file, then from another."""
    parse = staticmethod(parse_html)

    def __init__(self, name, answer, extra="", fail="false"):
        self.name, self.answer, self.extra, self.fail = name, answer, extra, fail

    def prepare(self, home):
        (home.work / "a.xml").write_text(data_file(40, 4, 150, seed=5))
        (home.work / "b.xml").write_text(data_file(25, 3, 120, seed=6))
        target = home.work / "page.html"
        target.write_text("<!DOCTYPE html>\n<html><body>an old page</body></html>\n")
        return target

    def cycle(self, home):
        return [f"{self.name}('{d}.xml', 'page.html'{self.extra})" for d in ("a", "b")]

    def disk_full(self, home, place):
        (home.work / "a.xml").write_text(data_file(20, 3, 40, seed=5))
        target = place / "page.html"
        target.write_text("<!DOCTYPE html>\n<html><body>an old page</body></html>\n")
        return target, f"{self.name}('{home.work}/a.xml', '{target}'{self.extra})", self.fail


class Wav(Writer):
    name = "WAV_WriteFile"
    answer = "0"
    parse = staticmethod(parse_wav)
    preamble = ("a = sin(vector(300000) / 10)", "b = cos(vector(200000) / 7)")

    def prepare(self, home):
        target = home.work / "sound.wav"
        small_wav(target)
        return target

    def cycle(self, home):
        return ["WAV_WriteFile('sound.wav', [16, 1, 8000], a)", "WAV_WriteFile('sound.wav', [24, 0.5, 44100], b, a)"]

    def disk_full(self, home, place):
        target = place / "sound.wav"
        small_wav(target)
        return target, ["a = sin(vector(100000) / 10)", f"WAV_WriteFile('{target}', [16, 1, 8000], a)"], "30"


class LockFile(Writer):
    """CreateLockFile writes nothing: the user's file must keep its bytes, and
    the lock of a killed holder must be free for the next process."""
    name = "CreateLockFile"
    answer = "success"
    kill_length = 20000

    def calibrate(self, home, target):
        return {target.read_bytes()}

    def prepare(self, home):
        target = home.work / "app.lock"
        target.write_text("held by an earlier run\n")
        return target

    def cycle(self, home):
        return ["CreateLockFile('app.lock', 'lock')", "CreateLockFile('app.lock', 'unlock')"]

    def verify(self, data, states):
        if data not in states:
            return f"the lock file changed: {data[:60]!r}"
        rc, out, err = self.home.run(["CreateLockFile('app.lock', 'lock')"])
        if out != ["success"]:
            return f"the lock of the killed holder is still taken: {out} {err}"
        return None

    def disk_full(self, home, place):
        target = place / "app.lock"
        target.write_text("held by an earlier run\n")
        return target, f"CreateLockFile('{target}', 'lock')", "success"


WRITERS = {w.name: w for w in [
    IniKey(), ConfigSetting(), Collections(), DeleteCollection(), RegSetting(), RegSettingMachine(),
    DeviceCatalog(), Journal(), JournalInPlace(), PartSelector(), SensitivityData(),
    Page("BuildMclogHTML", "true"), Page("BuildSensitivityHTML", "1", fail="0"),
    Page("BuildWorstCaseHTML", "1", fail="0"), Wav(), LockFile()]}
DISK_FULL = {w.name: w for w in [AddCollection(), RemoveCollection()] + list(WRITERS.values())
             if w.name != "Add/RemoveConfigCollection"}


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


def run_over_full_disk(writer, home, place, preexec_fn, fill):
    target, statements, failure = writer.disk_full(home, place)
    statements = [statements] if isinstance(statements, str) else statements
    before = target.read_bytes()
    if fill:
        fill_leaving(place, FULL_LIMIT)
    rc, out, err = home.run(statements, preexec_fn=preexec_fn)
    assert rc == 0 and out == [failure], f"{writer.name} on a full disk answered {out} (exit {rc}) {err[:300]}"
    assert target.read_bytes() == before, "the old file changed"
    assert temporaries(target.parent) == []


def control_run(writer, root):
    """The same call with room to write must succeed: else the failure above
    would prove nothing."""
    home = Home(root)
    target, statements, failure = writer.disk_full(home, home.work)
    statements = [statements] if isinstance(statements, str) else statements
    before = target.read_bytes()
    rc, out, err = home.run(statements)
    assert rc == 0, err
    if writer.name != "CreateLockFile":
        assert out != [failure] and target.read_bytes() != before, f"{writer.name} fails with room to write: {out}"
        assert len(target.read_bytes()) > FULL_LIMIT


@pytest.mark.parametrize("name", list(DISK_FULL))
def test_file_size_limit_keeps_the_old_file(sandbox, name):
    control_run(DISK_FULL[name], sandbox.parent / "control")
    home = Home(sandbox.parent)
    run_over_full_disk(DISK_FULL[name], home, sandbox, ignore_sigxfsz_and_limit, fill=False)


@pytest.mark.parametrize("name", list(DISK_FULL))
def test_full_tmpfs_keeps_the_old_file(sandbox, small_tmpfs, name):
    home = Home(sandbox.parent)
    run_over_full_disk(DISK_FULL[name], home, small_tmpfs, None, fill=True)
