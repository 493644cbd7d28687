"""How each script function's time grows with the size of its input.

Every registered function that takes a list, a string or a waveform is called
at n = 10^3, 10^4, 10^5 (and 10^6 where the 10^5 call took under 50 ms) on
generic inputs of its kinds, the other arguments at small valid values (the
table BUILDERS below, one row per function). Each size is timed as the best of
a few repetitions; the growth exponent is the slope of log(time) against
log(n) between the two largest sizes measured, after subtracting the cost of a
trivial call. An exponent above 1.3 (more than n log n) is flagged.

Each function runs in a worker process of its own, in a throwaway sandbox
(HOME, the XDG directories, CVFUNC_HOME, CVFUNC_SYSCONF and TMPDIR point into
it, and so does the working directory), single-threaded and at nice 10. A call
that runs longer than the cap (20 s) ends that function's ladder: the worker
is killed and the row says "> 20 s at n", so a function that never returns
cannot stall the run.

    python3 bench/scaling.py --build build [--quick] [--only NAME...] [--doc docs/BENCHMARKS.md]

--quick stops at 10^4 with fewer repetitions (a smoke run of the table);
--doc replaces the "Scaling" section of that Markdown file (and nothing else).
"""

import argparse
import datetime
import json
import math
import os
import platform
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

CAP_SECONDS = 20.0           # one call longer than this ends the ladder
SETUP_SECONDS = 120.0        # building the inputs of one size (untimed, but bounded)
FLAT_SECONDS = 50e-6         # below this at the largest size there is nothing to fit
BIG_STEP_SECONDS = 0.050     # 10^6 is tried only where 10^5 took less than this
LINEAR, NLOGN = 1.15, 1.3
# A function whose largest size costs less than this per element streams its
# data once: a steep last step there is the data leaving the 2 MiB cache.
STREAM_SECONDS_PER_ELEMENT = 5e-9
# Debian's numpy belongs to this interpreter, not to any other python3 on the PATH.
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable

# Never called: they delete, move or copy trees, change the process, sleep or
# wait, open dialogs, read the clipboard or launch programs (the fuzzing
# harness's list, fuzz/FuzzSupport.h, less the settings writers, which write
# inside the sandbox here and are measured).
SKIPPED = {
    "DeleteTree": "deletes a tree", "CopyTree": "copies a tree", "ChangeDir": "changes the working directory",
    "PutEnvVar": "changes the environment", "Sleep": "sleeps", "CreateMutex": "process-wide lock",
    "DestroyMutex": "process-wide lock", "MessageBox": "dialog", "ChooseDirectory": "dialog",
    "ReadClipboard": "clipboard", "HaveWebBrowser": "looks for other programs",
    "GetSignaturePublisher": "may run an external verifier",
    "VerifyEmbeddedSignature": "may run an external verifier",
}

# Functions whose inputs cannot be given a size (scalars, handles, fixed-form
# words), with the reason shown in the report.
NOT_APPLICABLE = {
    "Chr": "a character code", "Field": "three scalars", "Floor": "one scalar",
    "ConvertUnixTimeToIso": "one scalar", "ConvertNumberToBase64": "one scalar",
    "_ConvertIntegerToBase64": "one scalar", "ConvertNumberFromBase64": "exactly 8 bytes of Base64",
    "ConvertIsoTimeToUnix": "a fixed-form date", "GetLaplaceErrorMessage": "an error code",
    "WAV_CloseFile": "a handle", "GetTouchstoneErrors": "a handle of a failed load",
    "HashCreate": "option words", "GetTempFile": "makes one file in a directory",
    "CreateLockFile": "locks one file", "GetOldVersions": "a format word",
    "_ListUnresolvedDynamicFunctions": "an option word", "ConvertHTMLcolourToRGB": "a colour of a few characters",
    "ConvertRGBcolourToHTML": "a colour number",
    "_BuildPartSelectorData": "seven files of as many formats; the journal merge it shares is measured "
                              "through ApplyJournal",
}


# ================================================================ inputs (worker side)

class Inputs:
    """Generic inputs of each kind at size n, built once per size (untimed)."""

    def __init__(self, cvfunc, np):
        self.cv, self.np, self.cache = cvfunc, np, {}

    def _memo(self, key, make):
        if key not in self.cache:
            self.cache[key] = make()
        return self.cache[key]

    # ---- numbers
    def x(self, n):
        """An even time grid from 1 ns (positive, for the log-x fits)."""
        return self._memo(("x", n), lambda: (self.np.arange(n) + 1.0) * 1e-9)

    def wave(self, n, scale=1.0, offset=0.0, shift=0.0):
        """A sine with x-values in seconds, a crossing of 0 every 250 samples."""
        def make():
            np = self.np
            i = np.arange(n)
            y = offset + scale * np.sin(2 * np.pi * (i + shift) / 500.0 + 0.1)
            return self.cv.Vector(y, ref=self.x(n))
        return self._memo(("wave", n, scale, offset, shift), make)

    def W(self, n):
        return self.wave(n)

    def Wpos(self, n):
        return self.wave(n, 0.9, 1.0)

    def Wunit(self, n):
        return self.wave(n, 0.9)

    def Wge1(self, n):
        return self.wave(n, 0.9, 2.0)

    def W2(self, n):
        """The same sine a little later: a second waveform for two-wave functions."""
        return self.wave(n, 1.0, 0.0, -20.0)

    def Wpos2(self, n):
        return self.wave(n, 0.8, 1.1, -20.0)

    def R(self, n):
        """Plain reals without x-values."""
        return self._memo(("R", n), lambda: self.cv.Vector(
            self.np.random.default_rng(n).uniform(-1, 1, n)))

    def Rpos(self, n):
        return self._memo(("Rpos", n), lambda: self.cv.Vector(
            self.np.random.default_rng(n + 1).uniform(0.5, 5, n)))

    def rising(self, n):
        return self._memo(("rising", n), lambda: self.cv.Vector(self.np.arange(n) * 1.0))

    def ones(self, n):
        return self._memo(("ones", n), lambda: self.cv.Vector(self.np.ones(n)))

    def zeros(self, n):
        return self._memo(("zeros", n), lambda: self.cv.Vector(self.np.zeros(n)))

    def idx(self, n):
        """Every position 0 ... n-1, reversed."""
        return self._memo(("idx", n), lambda: self.cv.Vector(self.np.arange(n - 1, -1, -1) * 1.0))

    def half_idx(self, n):
        return self._memo(("half", n), lambda: self.cv.Vector(self.np.arange(0, n, 2) * 1.0))

    def C(self, n):
        """A complex response against frequency: a third-order low-pass on a log grid."""
        def make():
            np = self.np
            f = np.logspace(1, 9, n)
            s = 2j * np.pi * f / 1e6
            return self.cv.Vector(1 / (1 + s) ** 3, ref=f)
        return self._memo(("C", n), make)

    # ---- strings
    def names(self, n, tag="n"):
        """n distinct short names, letter case mixed."""
        return self._memo(("names", n, tag), lambda: self.cv.Vector(
            [f"{tag.upper() if i % 2 else tag}{i}" for i in range(n)]))

    def names2(self, n):
        """A second list: half of it in the first (other case), half new."""
        return self._memo(("names2", n), lambda: self.cv.Vector(
            [f"N{2 * i}" if i % 2 else f"m{i}" for i in range(n)]))

    def text(self, n):
        """n characters of netlist-like text: words, spaces, commas, digits."""
        unit = "R12 in,out 4.7k; C3 out 0 10p "
        return self._memo(("text", n), lambda: (unit * (n // len(unit) + 1))[:n])

    def path(self, n):
        """A relative path of n characters, directory names of 10."""
        return self._memo(("path", n), lambda: ("seg_00000/" * (n // 10 + 1))[:max(n - 4, 1)] + ".txt")

    def paths(self, n):
        return self._memo(("paths", n), lambda: self.cv.Vector([f"d{i % 97}/f{i}.txt" for i in range(n)]))

    def records(self, n):
        return self._memo(("records", n), lambda: self.cv.Vector(
            [f"{'R' if i % 3 else 'C'}{i};{i % 1000}k;n{i};n{i + 1}" for i in range(n)]))

    def expression(self, n):
        """A script expression of about n characters: a sum of names."""
        return self._memo(("expr", n), lambda: " + ".join(f"a{i % 50}" for i in range(max(n // 6, 1))))

    def template(self, n):
        return self._memo(("tmpl", n), lambda: "".join(
            f"{{R}}*x{i} + " if i % 2 else f"{{C}} - " for i in range(max(n // 9, 1))))

    def probes(self, n):
        return self._memo(("probes", n), lambda: " + ".join(
            f"V(n{i})" if i % 2 else f"I(R{i})" for i in range(max(n // 9, 1))))

    def params(self, n):
        """A device parameter string of about n characters."""
        return self._memo(("params", n), lambda: "10k " + " ".join(
            f"P{i}={i}" for i in range(max(n // 8, 1))) + " R=5")

    def laplace(self, n):
        """A transfer function of about n characters, of degree 1."""
        return self._memo(("lap", n), lambda: "1/(1+s*(1m" + "+1u" * max((n - 12) // 3, 1) + "))")

    def netlist_text(self, n):
        unit = "* comment\nR1 a b 1k ; load\n+ TC=1\nC1 b 0 1p\n"
        return self._memo(("net", n), lambda: (unit * (n // len(unit) + 1))[:n])

    def base64(self, n):
        import base64
        return self._memo(("b64", n), lambda: base64.b64encode(b"x" * (3 * n // 4)).decode()[:n // 4 * 4])

    # ---- files in the sandbox
    def lines_file(self, n):
        def make():
            name = f"lines_{n}.txt"
            with open(name, "w") as f:
                for i in range(n):
                    f.write(f"R{i} n{i} n{i + 1} {i % 1000}k\n" if i % 2 else f"C{i} n{i} 0 10p\n")
            return name
        return self._memo(("lines", n), make)

    def netlist_file(self, n):
        def make():
            name = f"net_{n}.cir"
            with open(name, "w") as f:
                for i in range(n):
                    f.write([f"R{i} n{i} n{i + 1} 1k\n", "+ TC=1\n", f"* note {i}\n",
                             f".INIT X{i % 100}.n{i}=0.5\n"][i % 4])
            return name
        return self._memo(("netf", n), make)

    def directory(self, n):
        def make():
            d = f"dir_{n}"
            os.makedirs(d, exist_ok=True)
            for i in range(n):
                if i % 100 == 0:
                    sub = os.path.join(d, f"s{i // 100}")
                    os.makedirs(sub, exist_ok=True)
                with open(os.path.join(sub, f"f{i}.txt"), "w") as f:
                    f.write("a\n;b\n")
            return d
        return self._memo(("dir", n), make)

    def flat_directory(self, n):
        def make():
            d = f"flat_{n}"
            os.makedirs(d, exist_ok=True)
            for i in range(n):
                with open(os.path.join(d, f"f{i}.txt"), "w") as f:
                    f.write("a\n;b\n")
            return d
        return self._memo(("flat", n), make)

    def ini_file(self, n, name=None, section="s"):
        def make():
            path = name or f"ini_{n}.ini"
            os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
            with open(path, "w") as f:
                f.write(f"[{section}]\n")
                for i in range(n):
                    f.write(f"k{i}=v{i}\n")
            return path
        return self._memo(("ini", n, name, section), make)

    def touchstone(self, n):
        def make():
            name = f"ts_{n}.s2p"
            with open(name, "w") as f:
                f.write("# GHz S RI R 50\n")
                for i in range(n):
                    f.write(f"{(i + 1) * 1e-3:.6f} 0.1 0.2 0.9 -0.1 0.01 0.02 0.3 0.4\n")
            return name
        return self._memo(("ts", n), make)

    def wav(self, n):
        def make():
            name = f"w_{n}.wav"
            self.cv.call("WAV_WriteFile", name, [16, 1, 8000], self.Wunit(n))
            return name
        return self._memo(("wav", n), make)

    def report(self, n):
        """A sensitivity data file of n runs of two measurements and a parameter."""
        def make():
            name = f"rep_{n}.xml"
            runs = self.np.arange(n) * 1.0
            rng = self.np.random.default_rng(7)
            self.cv.call("AppendSensitivityData", name, ["R1", "parameter"], rng.normal(1e3, 10, n), runs)
            self.cv.call("AppendSensitivityData", name, ["gain"], rng.normal(2, 0.1, n), runs)
            self.cv.call("AppendSensitivityData", name, ["bw"], rng.normal(1e6, 1e4, n), runs)
            return name
        return self._memo(("rep", n), make)

    def journal(self, n):
        """A base record file of n records and a journal editing a tenth of them."""
        def make():
            base, jnl = f"base_{n}.lib", f"jnl_{n}.jnl"
            with open(base, "w") as f:
                for i in range(n):
                    f.write(f"R{i};res;{i}k;;;;;;;\n")
            with open(jnl, "w") as f:
                for i in range(0, n, 10):
                    f.write(f"R{i};res;{i + 1}k;;;;;;;{'edit' if i % 20 else 'delete'}\n")
                for i in range(max(n // 10, 1)):
                    f.write(f"X{i};res;1k;;;;;;;add\n")
            return [f"out_{n}.lib", base, jnl]
        return self._memo(("jnl", n), make)

    def settings_home(self):
        return os.environ["CVFUNC_HOME"]

    def config_store(self, n, collection=False):
        """The configuration store with a section of n keys (a collection: File1 ... Filen)."""
        home = self.settings_home()
        os.makedirs(home, exist_ok=True)
        with open(os.path.join(home, "config.ini"), "w") as f:
            f.write("[other]\nkey=value\n[x]\n")
            for i in range(n):
                f.write(f"File{i + 1}=/lib/f{i}.lib\n" if collection else f"k{i}=v{i}\n")

    def clear_settings(self):
        for f in ("config.ini", "registry.ini"):
            p = os.path.join(self.settings_home(), f)
            if os.path.exists(p):
                os.remove(p)

    def registry(self, n):
        home = self.settings_home()
        os.makedirs(home, exist_ok=True)
        with open(os.path.join(home, "registry.ini"), "w") as f:
            f.write("[Software\\cvfunc]\n")
            for i in range(n):
                f.write(f"v{i}=x{i}\n")

    def classes(self, n):
        def make():
            sysconf = os.environ["CVFUNC_SYSCONF"]
            os.makedirs(sysconf, exist_ok=True)
            with open(os.path.join(sysconf, "classes.ini"), "w") as f:
                for i in range(n):
                    f.write(f"[.ext{i}\\shell\\open]\ncommand=x\n")
            return True
        return self._memo(("classes", n), make)

    def hash_table(self, n, fill=True):
        h = self.cv.call("HashCreate")
        if fill:
            self.cv.call("HashAdd", h, self.names(n), self.names(n, "v"))
        return h


# ================================================================ the table
# name: (what grows, builder(n, I) -> argument tuple, [largest size]).
# The builder runs before every repetition, untimed: functions that change
# state (tables, stores) get a fresh one each time.

def _unary(label, kind):
    return (label, lambda n, I: (getattr(I, kind)(n),))


_WAVE = "real waveform"
_CPLX = "complex response"
_NAMES = "list of n names"
_TEXT = "string of n characters"
_PATH = "path of n characters"

BUILDERS = {}

for f in ["abs", "atan", "atan_deg", "cos", "cos_deg", "cosh", "exp", "floorv", "maxidx", "mean", "minidx",
          "rnd", "sign", "sin", "sin_deg", "sinh", "sum", "tan", "tan_deg", "tanh", "_Not", "_UMinus", "erf",
          "erfc", "Val", "re", "real", "im", "imag"]:
    BUILDERS[f] = _unary(_WAVE, "W")
for f in ["ln", "log", "log10", "sqrt", "gamma", "lgamma"]:
    BUILDERS[f] = _unary(_WAVE + ", positive", "Wpos")
for f in ["acos", "asin", "atanh"]:
    BUILDERS[f] = _unary(_WAVE + ", within (-1, 1)", "Wunit")
BUILDERS["acosh"] = _unary(_WAVE + ", above 1", "Wge1")
BUILDERS["asinh"] = _unary(_WAVE, "W")
for f in ["db", "mag", "magnitude", "phase", "ph", "phase_rad", "arg", "arg_rad", "norm", "GroupDelay"]:
    BUILDERS[f] = _unary(_CPLX, "C")
for f in ["_And", "_Or", "_Minus", "_Plus", "_Times", "_Comma", "max", "min", "_Eq", "_Ne", "_Ge", "_Gt", "_Le",
          "_Lt", "atan2", "atan2_deg", "JoinVectors", "MaxN", "MinN"]:
    BUILDERS[f] = ("two real waveforms", lambda n, I: (I.W(n), I.W2(n)))
BUILDERS["_Mod"] = ("rising reals", lambda n, I: (I.rising(n), 7))
for f in ["_Divide", "_Power", "gammp", "gammq"]:
    BUILDERS[f] = ("two positive waveforms", lambda n, I: (I.Wpos(n), I.Wpos2(n)))
BUILDERS["chisquare"] = ("positive reals", lambda n, I: (I.Rpos(n), 3))
for f in ["area", "avg", "diff", "integ", "Mean1", "RMS1", "RMS1_AC", "RootSumOfSquares", "SumNoise", "Rms",
          "Maxima", "Minima", "Maximum", "Minimum", "Ref", "StripRef", "Coll", "fft", "Spectrum",
          "FourierWindow", "length", "veclength", "NumDivisions", "NumElems"]:
    BUILDERS[f] = _unary(_WAVE, "W")
for f in ["makevec", "unitvec", "vector", "makecomplexvec", "_NullString"]:
    BUILDERS[f] = ("count n (result of n)", lambda n, I: (n,))
BUILDERS["MakeString"] = ("count n (result of n)", lambda n, I: (n, "p"))
for f in ["CurveFit", "CurveFitPlot", "DiffMergeVecs"]:
    BUILDERS[f] = ("two real waveforms", lambda n, I: (I.W(n), I.W2(n)))
for f in ["CurveFitLog", "CurveFitLogX", "CurveFitLogY"]:
    BUILDERS[f] = ("two positive waveforms", lambda n, I: (I.Wpos(n), I.Wpos2(n)))
BUILDERS.update({
    "_Index": ("reals", lambda n, I: (I.R(n), n // 2)),
    "_TestRemoveItems": ("reals, n/2 positions", lambda n, I: (I.R(n), I.half_idx(n))),
    "MapArray": ("reals, n indices", lambda n, I: (I.R(n), I.idx(n))),
    "CopyDivisionData": ("reals", lambda n, I: ([1.0], I.R(n))),
    "CyclePeriod": (_WAVE, lambda n, I: (I.W(n), 0.0, 1)),
    "Jitter": (_WAVE, lambda n, I: (I.W(n), 0.0)),
    "PropagationDelay": ("two real waveforms", lambda n, I: (I.W(n), I.W2(n), 0.0, 0.0)),
    "XFromY": (_WAVE, lambda n, I: (I.W(n), 0.5)),
    "YFromX": (_WAVE + ", n x-values", lambda n, I: (I.W(n), I.x(n) + 0.5e-9)),
    "Interp": (_WAVE + ", n points", lambda n, I: (I.W(n), n)),
    "XY": ("reals, rising x", lambda n, I: (I.R(n), I.rising(n))),
    "XYOrdered": ("reals, shuffled x", lambda n, I: (I.R(n), I.Rpos(n))),
    "Truncate": (_WAVE, lambda n, I: (I.W(n), n * 0.25e-9, n * 0.75e-9)),
    "Range": ("reals", lambda n, I: (I.R(n), 1, n - 2)),
    "Histogram": ("reals", lambda n, I: (I.R(n), 50)),
    "Locate": ("rising reals", lambda n, I: (I.rising(n), n / 3 + 0.5)),
    "Ones": ("reals", lambda n, I: (I.ones(n),)),
    "Zeros": ("reals", lambda n, I: (I.zeros(n),)),
    "FIR": ("reals, 8 taps", lambda n, I: (I.R(n), [0.1, 0.2, 0.3, 0.2, 0.1, -0.05, 0.05, 0.1])),
    "IIR": ("reals, order 2", lambda n, I: (I.R(n), [0.5, 0.3, 0.2])),
    "LPF": (_WAVE, lambda n, I: (I.W(n), 5e-9)),
    "Fourier": (_WAVE + ", 10 harmonics", lambda n, I: (I.W(n), 2e6, 10)),
    "SpectrumUniv": (_WAVE + ", FFT", lambda n, I: (I.W(n), [0, 1])),
    "FieldV": ("reals", lambda n, I: (I.Rpos(n), 3, 1)),
    "Iff": ("reals", lambda n, I: (1, I.R(n), I.Rpos(n))),
    "IffV": ("reals, n conditions", lambda n, I: (I.R(n), I.W(n), I.W2(n))),
    "ev": ("reals", lambda n, I: (I.R(n), I.Rpos(n))),
    "FormatNumber": ("reals", lambda n, I: (I.R(n), 4)),
    "SprintfNumber": (_TEXT + " (format)", lambda n, I: ("%g " + I.text(n).replace("%", ""), 1.5)),
    "WAV_WriteFile": ("n samples", lambda n, I: ("out.wav", [16, 1, 8000], I.Wunit(n))),
    "WAV_OpenFile": ("WAV file of n samples", lambda n, I: (I.wav(n),)),
    "WAV_ReadData": ("WAV file of n samples",
                     lambda n, I: (I.cv.call("WAV_OpenFile", I.wav(n))[0], [0, 1])),
    "LoadTouchstone": ("2-port file of n frequencies", lambda n, I: (I.touchstone(n), 2)),
    "ParseTouchstone": ("2-port file of n frequencies", lambda n, I: (I.touchstone(n), 2, 2)),
    "ReadTouchstone": ("2-port file of n frequencies",
                       lambda n, I: (I.cv.call("LoadTouchstone", I.touchstone(n), 2)[0], 1, 0)),
    "DeleteTouchstone": ("2-port file of n frequencies",
                         lambda n, I: (I.cv.call("LoadTouchstone", I.touchstone(n), 2)[0],)),
    # strings
    "Ascii": (_TEXT, lambda n, I: (I.text(n),)),
    "Char": (_TEXT, lambda n, I: (I.text(n), -1)),
    "CountChars": (_TEXT, lambda n, I: (I.text(n), "k,0")),
    "Mid": (_TEXT, lambda n, I: (I.text(n), 1)),
    "StrStr": (_TEXT, lambda n, I: (I.text(n), "zz")),
    "StringLength": (_TEXT, lambda n, I: (I.text(n),)),
    "StringStartsWith": (_TEXT, lambda n, I: (I.text(n), "R12")),
    "SubstChar": (_TEXT, lambda n, I: (I.text(n), ",;", "_")),
    "SubstString": (_TEXT + ", all", lambda n, I: (I.text(n), "out", "output", "all")),
    "ToLower": (_TEXT, lambda n, I: (I.text(n),)),
    "ToUpper": (_TEXT, lambda n, I: (I.text(n),)),
    "EscapeString": (_TEXT, lambda n, I: (I.text(n).replace(";", '"'),)),
    "EscapeStringEncode": (_TEXT, lambda n, I: (I.text(n), "replaceSpaces")),
    "MkVec": (_TEXT, lambda n, I: (I.text(n),)),
    "Hash": (_TEXT, lambda n, I: (I.text(n),)),
    "CRC32": (_TEXT, lambda n, I: (I.text(n),)),
    "GetMD5String": (_TEXT, lambda n, I: (I.text(n),)),
    "ConvertToBase64": (_TEXT, lambda n, I: (I.text(n),)),
    "ConvertFromBase64": ("Base64 of n characters", lambda n, I: (I.base64(n),)),
    "_Test_ConvertUTF8ToMBCS": (_TEXT, lambda n, I: (I.text(n), 1252)),
    "Scan": (_TEXT, lambda n, I: (I.text(n), ",")),
    "Parse": (_TEXT, lambda n, I: (I.text(n),)),
    "ParseSpiceLines": ("netlist text of n characters", lambda n, I: (I.netlist_text(n),)),
    "ParseParameterString": ("parameter string of n characters",
                             lambda n, I: (I.params(n), ["R", "$unlabelled$1"], ["read", "1"])),
    "ParseParameterString2": ("parameter string of n characters",
                              lambda n, I: (I.params(n), ["R", "$unlabelled$1"], ["read", "1"])),
    "ee": ("expression of n characters", lambda n, I: (I.expression(n).replace("a", "1"),)),
    "ResolveTemplate": ("template of n characters", lambda n, I: (I.template(n), ["r", "c"], ["5", "7"])),
    "rt": ("template of n characters", lambda n, I: (I.template(n), ["r", "c"], ["5", "7"])),
    "SubstProbeExpression": ("expression of n characters", lambda n, I: (I.expression(n), "a7", "x1")),
    "ParseProbeExpression": ("expression of n characters", lambda n, I: (I.probes(n),)),
    "CheckLaplaceExpression": ("expression of n characters", lambda n, I: (I.laplace(n),)),
    "ParseLaplace": ("expression of n characters", lambda n, I: (I.laplace(n),)),
    "GetEnvVar": (_TEXT, lambda n, I: ("X" * n,)),
    "GetOption": (_TEXT, lambda n, I: ("X" * n,)),
    "SystemValue": (_TEXT, lambda n, I: ("X" * n,)),
    "SystemValuePath": (_TEXT, lambda n, I: ("X" * n,)),
    "GetHelpContextId": (_TEXT, lambda n, I: ("X" * n,)),
    "GetKnownFolderPath": (_TEXT, lambda n, I: ("X" * n,)),
    "GetPath": (_TEXT, lambda n, I: ("X" * n,)),
    "GetFileExtensions": (_TEXT, lambda n, I: ("X" * n,)),
    "Date": (_TEXT + " (format)", lambda n, I: (("%Y-%m-%d " * (n // 9 + 1))[:n],)),
    "Time": (_TEXT + " (format)", lambda n, I: (("%H:%M:%S " * (n // 9 + 1))[:n],)),
    # lists of names
    "_Concat": ("two lists of n names", lambda n, I: (I.names(n), I.names2(n))),
    "JoinStringArray": ("two lists of n names", lambda n, I: (I.names(n), I.names2(n))),
    "Str": (_NAMES, lambda n, I: (I.names(n),)),
    "Search": ("two lists of n names", lambda n, I: (I.names(n), I.names2(n))),
    "SetUnion": ("two lists of n names", lambda n, I: (I.names(n), I.names2(n))),
    "SetIntersect": ("two lists of n names", lambda n, I: (I.names(n), I.names2(n))),
    "SetDifference": ("two lists of n names", lambda n, I: (I.names(n), I.names2(n))),
    "SetSymmetricDifference": ("two lists of n names", lambda n, I: (I.names(n), I.names2(n))),
    "Sort": (_NAMES, lambda n, I: (I.names2(n),)),
    "SortIdx": (_NAMES, lambda n, I: (I.names2(n),)),
    "SortIdx2": (_NAMES, lambda n, I: (I.names2(n),)),
    "RegExp": (_NAMES, lambda n, I: (I.names(n), "([a-zA-Z]+)(\\d+)")),
    "BuildParameterString": ("two lists of n names", lambda n, I: (I.names(n), I.names2(n))),
    "SelectColumns": ("n records", lambda n, I: (I.records(n), [0, 2])),
    "SelectRows": ("n records", lambda n, I: (I.records(n), "r7", 0)),
    "QueryData": ("n records", lambda n, I: (I.records(n), ["R*;*;n1*", "C1*", "\\OR"])),
    "ExtractPartsTreeNameList": ("n selector lines", lambda n, I: (I.cv.Vector(
        [f"[02]Passive|Res{i % 50};<R{i};;;;;;;;R{i}A>;ps_model;" for i in range(n)]),)),
    "HashAdd": (_NAMES + " into a new table", lambda n, I: (I.hash_table(n, False), I.names(n), I.names(n, "v"))),
    "HashSearch": (_NAMES + " in a table of n", lambda n, I: (I.hash_table(n), I.names2(n), "-")),
    "HashRemove": (_NAMES + " from a table of n", lambda n, I: (I.hash_table(n), I.names2(n))),
    "HashKeys": ("table of n keys", lambda n, I: (I.hash_table(n),)),
    "HashDelete": ("table of n keys", lambda n, I: (I.hash_table(n),)),
    # paths
    "PathEqual": ("two lists of n paths", lambda n, I: (I.paths(n), I.paths(n))),
    "GetFileStamp": ("list of n paths", lambda n, I: (I.paths(n),)),
    "IsFileOfType": (_PATH, lambda n, I: (I.path(n), ["cir", "txt"])),
    "IsSameFile": ("two paths of n characters", lambda n, I: (I.path(n), I.path(n))),
    "RelativePath": (_PATH, lambda n, I: ("/" + I.path(n), "/seg_00000/x")),
    "FullPath": (_PATH, lambda n, I: (I.path(n), "/tmp")),
    "ListDirectory": ("directory of n files", lambda n, I: (I.flat_directory(n), "fullpath"), 10**5),
    "DescendDirectories": ("tree of n files", lambda n, I: (I.directory(n),), 10**5),
    "_LoadFiles": ("directory of n two-line files", lambda n, I: (I.flat_directory(n), ";"), 10**5),
    # files
    "ReadFile": ("file of n lines", lambda n, I: (I.lines_file(n),)),
    "FilterFile": ("file of n lines", lambda n, I: (I.lines_file(n), ["R1", "C2", "R301"])),
    "ReadSpiceFile": ("netlist of n lines", lambda n, I: (I.netlist_file(n),)),
    "ParseTrivaneInit": ("netlist of n lines", lambda n, I: (I.netlist_file(n),)),
    "GetMD5": ("file of n lines", lambda n, I: (I.lines_file(n),)),
    "ReadIniKey": ("INI file of n keys", lambda n, I: (I.ini_file(n), "s", f"k{n - 1}")),
    "WriteIniKey": ("INI file of n keys", lambda n, I: (I.ini_file(n), "s", "knew", "v")),
    "WriteDeviceCatalog": ("n devices, catalog of n lines",
                           lambda n, I: (I.names(n), I.lines_file(n), "catalog.out")),
    "ApplyJournal": ("record file of n lines", lambda n, I: (I.journal(n), 9)),
    # settings (in the sandbox's settings home)
    "AddConfigCollection": (_NAMES + " into a new collection",
                            lambda n, I: (I.clear_settings(), ("x", I.names(n)))[1]),
    "RemoveConfigCollection": (_NAMES + " from a collection of n",
                               lambda n, I: (I.config_store(n, True), ("x", I.cv.Vector(
                                   [f"/lib/f{i}.lib" for i in range(0, n, 2)])))[1]),
    "DeleteConfigCollection": ("collection of n files", lambda n, I: (I.config_store(n, True), ("x",))[1]),
    "ReadConfigCollection": ("collection of n files", lambda n, I: (I.config_store(n, True), ("x",))[1]),
    "ReadConfigSetting": ("section of n keys", lambda n, I: (I.config_store(n), ("x",))[1]),
    "WriteConfigSetting": ("store of n keys", lambda n, I: (I.config_store(n), ("x", "knew", "v"))[1]),
    "WriteRegSetting": ("registry key of n values",
                        lambda n, I: (I.registry(n), ("Software\\cvfunc", "new", "v"))[1]),
    "ReadRegSetting": ("registry key of n values",
                       lambda n, I: (I.registry(n), ("Software\\cvfunc", f"v{n - 1}"))[1]),
    "GetRegistryClassesRootKeys": ("classes tree of n keys", lambda n, I: (I.classes(n), ("",))[1]),
    # reports
    "AppendSensitivityData": ("n runs", lambda n, I: (
        (os.path.exists("app.xml") and os.remove("app.xml")), ("app.xml", ["gain"], I.R(n), I.rising(n)))[1]),
    "BuildMclogHTML": ("report of n runs", lambda n, I: (I.report(n), "mc.html")),
    "BuildSensitivityCsv": ("report of n runs", lambda n, I: (I.report(n),)),
    "BuildSensitivityHTML": ("report of n runs", lambda n, I: (I.report(n), "sens.html")),
    "BuildSensitivityPerturbCsv": ("report of n runs", lambda n, I: (I.report(n), 1)),
    "BuildWorstCaseHTML": ("report of n runs", lambda n, I: (I.report(n), "wc.html")),
    "MSWReadHeader": ("report of n runs", lambda n, I: (I.report(n),)),
    "XmlValidate": ("report of n runs", lambda n, I: (I.report(n), "")),
})

# Path functions: one path of n characters.
for f in ["_GetPathWithNoSpaces", "_SplitPathOld", "CleanPath", "ConvertLocalToUnix", "ConvertUnixToLocal",
          "GetActualPath", "GetCompatiblePathName", "GetLongPathName", "GetShortPathName", "GetUncPath",
          "GetVolumeName", "IsFullPath", "SplitPath", "TranslateLogicalPath", "MakeLogicalPath", "GetFileDir",
          "DirectoryIsWriteable", "ExistDir", "ExistFile", "GetDriveType", "GetFreeDiskSpace", "IsImageFile",
          "CanOpenFile", "GetFileInfo", "MakeDir", "MakeTree"]:
    BUILDERS.setdefault(f, (_PATH, lambda n, I: (I.path(n),)))


# ================================================================ worker

# The CPU time of the worker (user and system): at nice 10 on a machine where
# others build, a call that outlasts a scheduler slice waits behind them, and
# its wall time measures their work instead of the call's.
clock = time.process_time


def worker(name, sizes, quick):
    import numpy as np
    import cvfunc
    cvfunc.set_option("Threads", "1")
    out = sys.stdout

    def say(**kw):
        out.write(json.dumps(kw) + "\n")
        out.flush()

    # The cost of a call that does nothing: subtracted from every time.
    one, two = cvfunc.Vector(np.array([1.0])), cvfunc.Vector(np.array([2.0]))
    overhead = float("inf")
    for _ in range(300):
        t0 = clock()
        cvfunc.call("_Plus", one, two)
        overhead = min(overhead, clock() - t0)
    say(ev="overhead", t=overhead)

    def prebuilt(args):
        # Long texts become host values before the clock starts, as lists and
        # arrays already are: the conversion is not the function's work.
        return tuple(cvfunc.Vector([a]) if isinstance(a, str) and len(a) > 64 else a for a in args)

    row = BUILDERS[name]
    build, limit = row[1], (row[2] if len(row) > 2 else None)
    inputs = Inputs(cvfunc, np)
    last = None
    for n in sizes:
        if limit and n > limit:
            break
        if n >= 10**6 and (last is None or last >= BIG_STEP_SECONDS):
            break
        say(ev="setup", n=n)
        args = prebuilt(build(n, inputs))
        say(ev="call", n=n)
        error = None
        t0 = clock()
        try:
            result = cvfunc.call(name, *args)
        except cvfunc.Error as e:
            error = str(e)[:160]
        first = clock() - t0
        result = None  # noqa: F841 - released before the next call, outside the timing
        say(ev="first", n=n, t=first, err=error)
        # Fewer repetitions as calls get longer: the best of them is the figure.
        reps = 1 if first > 2 else 2 if first > 0.3 else 3 if quick or first > 0.02 else 7
        best = first
        for _ in range(reps - 1):
            args = prebuilt(build(n, inputs))
            t0 = clock()
            try:
                result = cvfunc.call(name, *args)
            except cvfunc.Error:
                pass
            best = min(best, clock() - t0)
            result = None
        say(ev="done", n=n, t=best, reps=reps)
        last = best
    say(ev="end")


# ================================================================ driver

def list_functions(tool):
    """(name, argument kinds) of every registered function, from `cvfunc --list`."""
    text = subprocess.run([tool, "--list"], capture_output=True, text=True, check=True).stdout
    rows = []
    for line in text.splitlines():
        parts = line.split("\t")
        if len(parts) >= 4:
            rows.append((parts[0], parts[1], parts[2].split(",")))
    return rows


def sandbox_env(root, build):
    env = dict(os.environ)
    for v in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "TMPDIR"):
        env[v] = root
    run = os.path.join(root, "run")
    home = os.path.join(root, "cvfunc-home")
    sysconf = os.path.join(root, "sysconf")
    for d in (run, home, sysconf):
        os.makedirs(d, exist_ok=True)
    os.chmod(run, 0o700)
    # A fresh 4 KiB page costs 13-19 us to fault in on this VM: glibc keeps
    # what is freed, so that a size whose buffers cross its mmap threshold does
    # not look like growth in the function itself.
    env.update(MALLOC_MMAP_MAX_="0", MALLOC_TRIM_THRESHOLD_=str(2**31 - 1), MALLOC_TOP_PAD_=str(1 << 30))
    env.update(XDG_RUNTIME_DIR=run, CVFUNC_HOME=home, CVFUNC_SYSCONF=sysconf, CVFUNC_THREADS="1",
               PYTHONPATH=os.path.join(build, "python") + os.pathsep + env.get("PYTHONPATH", ""))
    return env


def _limit_files():
    import resource
    cap = 2 << 30  # no file written by a call grows past 2 GiB
    resource.setrlimit(resource.RLIMIT_FSIZE, (cap, cap))
    os.setsid()


def measure(name, build, sizes, quick, scratch):
    """Runs one function's ladder in a worker; gives {n: seconds}, overhead, notes."""
    root = tempfile.mkdtemp(prefix=re.sub(r"\W", "_", name) + "-", dir=scratch)
    env = sandbox_env(root, build)
    cmd = [PYTHON, os.path.abspath(__file__), "--worker", name, "--sizes",
           ",".join(map(str, sizes))] + (["--quick"] if quick else [])
    proc = subprocess.Popen(cmd, cwd=root, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            preexec_fn=_limit_files, text=True)
    res = {"times": {}, "overhead": 0.0, "errors": {}, "timeout": None, "crash": None}
    phase, n_now, buf = "start", None, ""
    try:
        while True:
            allowed = {"start": 60, "overhead": 60, "setup": SETUP_SECONDS, "call": CAP_SECONDS,
                       "first": 3 * CAP_SECONDS, "done": SETUP_SECONDS}[phase]
            deadline = time.monotonic() + allowed
            line = None
            while line is None:
                if "\n" in buf:
                    line, buf = buf.split("\n", 1)
                    break
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                r, _, _ = select.select([proc.stdout], [], [], left)
                if r:
                    chunk = os.read(proc.stdout.fileno(), 65536).decode()
                    if not chunk:
                        break
                    buf += chunk
            if line is None:
                if proc.poll() is None and time.monotonic() >= deadline:
                    if phase == "call":
                        res["timeout"] = n_now
                    else:
                        res["crash"] = f"no answer in {allowed:.0f} s after {phase} at n={n_now}"
                else:
                    proc.wait()
                    err = proc.stderr.read().strip().splitlines()
                    res["crash"] = f"worker ended (status {proc.returncode}) in {phase} at n={n_now}" + (
                        f": {err[-1][:160]}" if err else "")
                break
            ev = json.loads(line)
            phase = ev["ev"]
            n_now = ev.get("n", n_now)
            if phase == "overhead":
                res["overhead"] = ev["t"]
            elif phase == "first" and ev.get("err"):
                res["errors"][ev["n"]] = ev["err"]
            elif phase == "done":
                res["times"][ev["n"]] = ev["t"]
            elif phase == "end":
                break
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        proc.stdout.close()
        proc.stderr.close()
        shutil.rmtree(root, ignore_errors=True)
    return res


def fit(res):
    """Exponent and class of one function from its times."""
    times, over = res["times"], res["overhead"]
    ns = sorted(times)
    if res["timeout"] is not None:
        t_cap = res["timeout"]
        if ns:
            lo = ns[-1]
            e = math.log(CAP_SECONDS / max(times[lo] - over, 1e-7)) / math.log(t_cap / lo)
            return e, "flagged", f"> {CAP_SECONDS:.0f} s at {fmt_n(t_cap)}; exponent at least {e:.2f}"
        return None, "flagged", f"> {CAP_SECONDS:.0f} s at {fmt_n(t_cap)}"
    if len(ns) < 2:
        return None, "unmeasured", res["crash"] or "fewer than two sizes"
    a, b = ns[-2], ns[-1]
    ta, tb = times[a] - over, times[b] - over
    if tb < FLAT_SECONDS:
        return None, "flat", ""
    e = math.log(tb / max(ta, 1e-7)) / math.log(b / a)
    cls = "linear" if e <= LINEAR else "n log n" if e <= NLOGN else "flagged"
    if cls != "linear" and tb / b < STREAM_SECONDS_PER_ELEMENT:
        # A few nanoseconds per element is one pass over data that no longer
        # fits the cache: no sort or search costs that little.
        cls = "linear, cache step"
    return e, cls, ""


def fmt_n(n):
    return f"10^{round(math.log10(n))}" if n > 0 and 10 ** round(math.log10(n)) == n else str(n)


def fmt_t(t):
    if t is None:
        return ""
    if t >= 1:
        return f"{t:.2f} s"
    if t >= 1e-3:
        return f"{t * 1e3:.2f} ms"
    return f"{t * 1e6:.1f} µs"


# Why each flagged function grows faster than n log n: read from its handler
# and the service it calls. A function flagged without an entry here is shown
# as "not yet diagnosed".
DIAGNOSES = {
    "ApplyJournal": "not a quadratic fault: checked at 2.5, 5, 10 and 20 x 10^4 records the time grows 2.43, "
                    "2.60 and 2.27 times per doubling (an exponent of 1.2 to 1.4 that does not rise). "
                    "Host/Services/PartsLibrary.cpp, `cv::applyLibraryJournal` is one pass with hash look-ups, but "
                    "over node-based containers (a `std::list` of records, each with its own field strings, and "
                    "a `std::unordered_map` index): the profile at 10^5 is 22 % hash look-up, 11 % rehashing "
                    "(`LibraryRecordTable` starts at 101 buckets and three tables are built: base, journal, "
                    "output) and 12 % `malloc_consolidate`. The working set, some 400 bytes per record, "
                    "leaves the cache between 10^4 and 10^5; reserving the index for the record count would "
                    "remove the rehashes.",
    "CurveFit": "not a fault: at 1, 2, 4 and 8 x 10^5 points the time doubles (1.88, 1.98, 2.20 times per "
                "doubling). The step from 10^5 to 10^6 moves two waveforms and the common grid (some 40 MB) "
                "out of the cache, at about 12 ns per point.",
    "CurveFitPlot": "not a fault: the same worker as CurveFit (FuncDll/Source/CurveFitFuncs.cpp) and the same "
                    "cache step.",
    "ParseParameterString": "not quadratic, but the dearest per byte of the parsers: at 1, 2, 4 and 8 x 10^5 "
                            "characters the time grows 2.57, 2.78 and 2.69 times per doubling. "
                            "FuncDll/Source/ParseFuncs.cpp, `parseParameterString` (read) indexes every token "
                            "of the string in a `std::unordered_map<std::string, int64_t>` of lower-cased "
                            "copies to answer a handful of names; the profile is that map's insertions and "
                            "rehashes (25 %) and the allocator (10 %). Its nodes outgrow the cache with the "
                            "string. Scanning for the few names asked (or reserving the map) would keep it "
                            "linear in practice.",
    "ParseParameterString2": "as ParseParameterString (2.06, 2.60, 2.40 times per doubling from 10^5): a "
                             "token index in a node-based hash map that outgrows the cache.",
    "PathEqual": "not a fault: 2.19, 2.29 and 2.25 times per doubling from 10^5 to 8 x 10^5; each pair of "
                 "paths is compared once (FuncDll/Source/PathFuncs.cpp), the two lists of short strings "
                 "and the result leaving the cache at 10^6.",
    "Search": "not quadratic (FuncDll/Source/StringFuncs.cpp, `search`, indexes the list once in a "
              "`std::unordered_map` sized for it, then one look-up per wanted name), but the hash table's "
              "random accesses dominate: 2.78, 3.53 and 2.72 times per doubling from 10^5 to 8 x 10^5, about "
              "420 ns per name at 8 x 10^5 (a bucket, a node and the string's text, each a cache and TLB "
              "miss). A flat open-addressing table as SetFuncs.cpp has would need one miss.",
    "SetIntersect": "not a fault: FuncDll/Source/SetFuncs.cpp's flat open-addressing table, 2.73, 2.47 and "
                    "2.38 times per doubling from 10^5 to 8 x 10^5, falling towards 2 as every probe misses "
                    "the cache.",
    "ReadConfigSetting": "not quadratic: Host/Services/IniFile.cpp, `IniDocument::keyNames`, one pass with an "
                         "`std::unordered_set<std::string>` of lower-cased names; the profile of 4 x 10^5 "
                         "keys is that set's insertions and rehashes (55 %) and the allocator (15 %): a "
                         "node per key, a growing table, each insertion a cache miss (2.77, 2.46, 3.29 "
                         "times per doubling from 2.5 x 10^4). Reserving the set for the key count would "
                         "save the rehashes.",
    "GetRegistryClassesRootKeys": "as ReadConfigSetting: Host/Services/SettingsStore.cpp, "
                                  "`sp_GetClassesRootSubKeyNames`, one pass over the section names with two "
                                  "`std::unordered_set<std::string>` (one in `IniDocument::sectionNames`, one "
                                  "of its own), each insertion a lower-cased copy and a cache miss.",
    "WriteDeviceCatalog": "not quadratic: FuncDll/Source/SettingsFuncs.cpp, `writeDeviceCatalog`, a reserved "
                          "hash set of the device names and one look-up per catalog line; the set's nodes "
                          "and the line reader's strings leave the cache between 10^4 and 10^5 (2.23, 3.47, "
                          "3.29 times per doubling from 2.5 x 10^4).",
    "HashDelete": "not a fault: freeing a table of n keys frees n groups and their strings one by one "
                  "(FuncDll/Source/HashFuncs.cpp, the table's destructor), 9 ns a key at 10^6, each free "
                  "touching a cold node.",
    "HashRemove": "not a fault (near the n log n bound): one open-addressing look-up per key "
                  "(FuncDll/Source/HashFuncs.cpp, `UserTable::remove`), each a cache miss once the table of "
                  "10^6 keys is out of the cache.",
}

# Functions whose small-size time or sub-linear growth deserves a word.
REMARKS = {
    "_TestRemoveItems": "was quadratic (0.37 ms at 10^3, 79 ms at 10^4, over 20 s at 10^5): every position was "
                        "found by a walk from the front of the list; now one walk along it removes them all.",
    "GetActualPath": "was quadratic (5.6 s at 10^6): `sp_ResolvePath` copied and examined the whole prefix for "
                     "every component; it now appends in place and stops examining below a missing component.",
    "GetVolumeName": "was quadratic (exponent 1.61) through the path resolution and a copy of the path per step "
                     "up; both now cut in place.",
    "SetDifference": "looped for ever from 256 names in its first list (the seen table, sized for the second "
                     "list, filled up); the table now doubles before it is half full. SetSymmetricDifference "
                     "likewise.",
    "WriteConfigSetting": "the store is replaced through a temporary file that is fsync'd and renamed: a "
                          "fixed cost of a few hundred µs or more that is most of the time at 10^3.",
    "WriteRegSetting": "as WriteConfigSetting: the fsync'd replacement is most of the time at 10^3.",
    "DeleteConfigCollection": "as WriteConfigSetting: the fsync'd replacement is most of the time at 10^3.",
    "WAV_WriteFile": "the fsync of the file written beside the target and renamed is most of the time at 10^3.",
    "AppendSensitivityData": "2-4 ms at 10^3: the report file is replaced atomically (fsync) and "
                             "parsed and written with libxml2.",
    "BuildMclogHTML": "about 10 ms at 10^3: reading the style sheet, the schema check of the data file and the "
                      "atomic, fsync'd write of the page come before any run is read.",
    "ConvertFromBase64": "the decoder's set-up (OpenSSL's EVP context) weighs at small sizes.",
    "AddConfigCollection": "no longer quadratic in this build (it took 0.28 s for 8,000 files before): about "
                           "5.6 µs a file at 10^5, most of it turning each name into an absolute path twice "
                           "(the entry, then its index key) and the fsync'd replacement of the store.",
    "_LoadFiles": "the cost is opening the n files, 4 µs each.",
    "ParseProbeExpression": "below 1 because the work stops growing: the expression parser refuses trees "
                            "deeper than 1024 levels (`kMaxTreeDepth`, Host/Core/Expr/Ast.h), and a sum of 3,000 "
                            "terms already is one (it answers 3 items instead of 3,003). From 10^4 characters "
                            "the times measure the refusal, so the ladder says nothing about long inputs.",
    "SubstProbeExpression": "as ParseProbeExpression: past 1024 levels the text comes back unchanged, so the "
                            "times from 10^4 characters up are those of the refusal.",
    "ee": "as ParseProbeExpression: a sum of more than 1024 terms is refused (the braced text comes back), so "
          "from 10^4 characters the times are those of the refusal; about 80 µs at 10^3 is parsing and "
          "evaluating through the session.",
    "MakeTree": "the work stops growing: directories are made one level at a time until the path passes "
                "PATH_MAX (4096 bytes), where `mkdir` fails.",
    "DeleteTouchstone": "releases a few arrays whatever the number of frequencies: nearly constant.",
    "ReadTouchstone": "irregular rather than sub-linear: a separate check gave 0.1 ms at 10^4, 2.6 ms at 10^5, "
                      "4.2 ms at 3 x 10^5 and 14 ms at 10^6 for copying one parameter out of the table; the "
                      "step to 10^5 is out of line with the rest and not explained here.",
}


def markdown(results, sizes, skipped, na, quick, started, elapsed):
    cpu = ""
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    L = ["## Scaling", ""]
    L.append(f"Run {started.date().isoformat()} on {cpu or 'this machine'} ({os.cpu_count()} cores, shared with "
             f"other work; Linux {platform.release()}), single-threaded (`CVFUNC_THREADS=1`) at nice 10; "
             f"the whole run took {elapsed / 60:.0f} min{' (quick run)' if quick else ''}. "
             "Written by `bench/scaling.py`.")
    L.append("")
    L.append("Every registered function that takes a list, a string or a waveform is called through "
             "`cvfunc.call` at n = 10^3, 10^4, 10^5, and 10^6 where the 10^5 call took under 50 ms, on "
             "generic inputs of its kinds (a sine with a time reference crossing zero every 250 samples, a "
             "complex low-pass response against frequency, n distinct short names, text with spaces, commas "
             "and digits, paths, and files, directories, tables or stores of n entries made beforehand); the "
             "other arguments are small valid values, one row per function in the script's table. Inputs, "
             "long texts included, become host values before the clock starts; a result's conversion to "
             "Python is timed with the call (it is linear). The time is the CPU time of the calling process "
             "(user and system), the best of 1 to 7 calls (fewer as calls get longer), less that of a trivial "
             "call: at nice 10 on a machine where others build, wall time would measure their work. glibc "
             "keeps freed memory (a fresh page costs 13-19 µs to fault in on this VM, which would otherwise "
             "show as growth wherever a buffer crosses the mmap threshold). The exponent is the slope of "
             "log(time) against log(n) between the two largest sizes measured; under 50 µs at the largest "
             "size is \"flat\". Up to 1.15 is linear, up to 1.3 n log n, above that flagged, except that a "
             "function whose largest size costs under 5 ns per element is \"linear, cache step\": one pass "
             "over data that no longer fits the 2 MiB cache (no sort or search costs that little). Each function "
             "runs in a process of its own inside a throwaway directory that is also its home, XDG "
             "directories, settings home, system settings directory and temporary directory; a call over "
             "20 s (wall time) ends its ladder.")
    L.append("")
    head = "| function | input that grows | " + " | ".join(f"n = {fmt_n(n)}" for n in sizes) + \
           " | exponent | class |"
    L += [head, "|" + "---|" * 2 + "---:|" * len(sizes) + "---:|---|"]
    flagged, odd = [], []
    for name in sorted(results, key=str.lower):
        r = results[name]
        e, cls, note = r["fit"]
        cells = []
        for n in sizes:
            if n in r["times"]:
                cells.append(fmt_t(r["times"][n]) + (" (fails)" if n in r["errors"] else ""))
            elif r["timeout"] == n:
                cells.append(f"> {CAP_SECONDS:.0f} s")
            else:
                cells.append("")
        ex = "" if e is None else (f"≥ {e:.2f}" if r["timeout"] is not None else f"{e:.2f}")
        L.append(f"| `{name}` | {r['label']} | " + " | ".join(cells) + f" | {ex} | {cls} |")
        if cls == "flagged":
            flagged.append(name)
        elif e is not None and e < 0.8:
            odd.append(name)
    L.append("")
    L.append("### Flagged: growth above n log n")
    L.append("")
    if not flagged:
        L.append("None.")
    for name in flagged:
        r = results[name]
        e, cls, note = r["fit"]
        times = ", ".join(f"{fmt_t(r['times'][n])} at {fmt_n(n)}" for n in sorted(r["times"]))
        what = note or f"exponent {e:.2f}"
        L.append(f"- `{name}` ({what}; {times}): {DIAGNOSES.get(name, 'not yet diagnosed.')}")
    L.append("")
    failing = [n for n in sorted(results, key=str.lower) if results[n]["errors"]]
    remarks = [n for n in sorted(set(odd) | set(REMARKS), key=str.lower) if n in results and n not in flagged]
    if remarks:
        L.append("### Other remarks")
        L.append("")
        for name in remarks:
            e = results[name]["fit"][0]
            text = REMARKS.get(name, "exponent below 0.8 between the two largest sizes.")
            L.append(f"- `{name}`" + (f" (exponent {e:.2f})" if e is not None else "") + f": {text}")
        L.append("")
    if failing:
        L.append("Rows marked \"(fails)\" time a call that ended in a message at that size: " + "; ".join(
            f"`{n}`: {next(iter(results[n]['errors'].values()))}" for n in failing) + ".")
        L.append("")
    crashed = [n for n in sorted(results, key=str.lower) if results[n]["crash"]]
    if crashed:
        L.append("Ladders cut short: " + "; ".join(f"`{n}`: {results[n]['crash']}" for n in crashed) + ".")
        L.append("")
    if skipped:
        L.append("Not measured: " + "; ".join(f"`{n}` ({why})" for n, why in sorted(
            skipped.items(), key=lambda i: i[0].lower())) + ".")
        L.append("")
    if na:
        L.append("No input that can be given a size (scalars, handles, fixed-form words only): " +
                 ", ".join(f"`{n}`" for n in sorted(na, key=str.lower)) + ".")
    L.append("")
    return "\n".join(L)


def replace_section(doc, section):
    text = open(doc).read() if os.path.exists(doc) else "# Benchmarks\n"
    m = re.search(r"^## Scaling\n.*?(?=^## |\Z)", text, flags=re.S | re.M)
    if m:
        text = text[:m.start()] + section + "\n" + text[m.end():]
    else:
        text = text.rstrip("\n") + "\n\n" + section
    with open(doc, "w") as f:
        f.write(text.rstrip("\n") + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default="build")
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--only", nargs="*")
    ap.add_argument("--doc", help="Markdown file whose Scaling section is replaced")
    ap.add_argument("--json", help="also write the raw results here")
    ap.add_argument("--from-json", help="write the report from the raw results of an earlier run")
    ap.add_argument("--worker", help=argparse.SUPPRESS)
    ap.add_argument("--sizes", help=argparse.SUPPRESS)
    a = ap.parse_args()
    if a.worker:
        worker(a.worker, [int(s) for s in a.sizes.split(",")], a.quick)
        return

    # Single-core numbers on a shared machine: below the builds, one thread.
    if os.nice(0) < 10:
        os.nice(10 - os.nice(0))
    build = os.path.abspath(a.build)
    sizes = [10**3, 10**4] if a.quick else [10**3, 10**4, 10**5, 10**6]
    functions = list_functions(os.path.join(build, "cvfunc"))
    only = {n.lower() for n in a.only} if a.only else None
    skipped, na, results = {}, [], {}
    started, t0 = datetime.datetime.now(), time.monotonic()
    earlier = None
    if a.from_json:
        earlier = json.load(open(a.from_json))
        started = datetime.datetime.fromisoformat(earlier["started"])
    scratch = tempfile.mkdtemp(prefix="cvfunc-scaling-")
    try:
        for name, counts, kinds in functions:
            if only and name.lower() not in only:
                continue
            if name in SKIPPED:
                skipped[name] = SKIPPED[name]
                continue
            if name not in BUILDERS:
                na.append(name)
                if name not in NOT_APPLICABLE and not counts.startswith("0-0") and any(
                        k in ("string", "real", "numeric", "any", "anyvector") for k in kinds):
                    print(f"scaling: {name} has no builder ({counts} {','.join(kinds)})", file=sys.stderr)
                continue
            if earlier is not None:
                if name not in earlier["results"]:
                    skipped[name] = "not reached in the time of that run"
                    continue
                r = earlier["results"][name]
                for k in ("times", "errors"):
                    r[k] = {int(n): v for n, v in r[k].items()}
            else:
                r = measure(name, build, sizes, a.quick, scratch)
                # The build may be relinked while this runs: a module that
                # cannot be loaded is waited for, not reported.
                for _ in range(20):
                    if not (r["crash"] and ("ImportError" in r["crash"] or "Cannot load" in r["crash"])):
                        break
                    time.sleep(30)
                    r = measure(name, build, sizes, a.quick, scratch)
            r["label"] = BUILDERS[name][0]
            r["fit"] = fit(r)
            results[name] = r
            e, cls, note = r["fit"]
            print(f"scaling: {name:28s} " + " ".join(f"{fmt_t(r['times'].get(n)):>10s}" for n in sizes) +
                  f"  {'' if e is None else f'{e:.2f}':>5s} {cls} {note} "
                  f"{'ERR ' + next(iter(r['errors'].values())) if r['errors'] else ''}"
                  f"{'CRASH ' + r['crash'] if r['crash'] else ''}", file=sys.stderr, flush=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    elapsed = earlier["elapsed"] if earlier else time.monotonic() - t0
    section = markdown(results, sizes, skipped, na, a.quick, started, elapsed)
    if a.json:
        with open(a.json, "w") as f:
            json.dump({"started": started.isoformat(), "elapsed": elapsed, "results": {
                k: {**v, "times": {str(n): t for n, t in v["times"].items()},
                    "errors": {str(n): t for n, t in v["errors"].items()}} for k, v in results.items()}},
                      f, indent=1)
    if a.doc:
        replace_section(a.doc, section)
    print(section)


if __name__ == "__main__":
    main()
