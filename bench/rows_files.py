"""Comparison rows of the file family: reading and filtering a large netlist,
the MD5 digest of a large file, and listing and descending a tree of 10^5
entries, each beside Python doing the same work.

The files are made once in a temporary directory, shared by the rows and
removed when the run ends. n is the size in bytes for the file rows and the
number of entries for the directory rows.
"""

import hashlib
import os
import random

import cvfunc
from scratch import once as _once, workdir as _workdir


def _netlist(n):
    """A netlist of about n bytes: elements, models, comments, continuation lines."""
    def make():
        path = os.path.join(_workdir(), f"deck_{n}.cir")
        rng = random.Random(1)
        kinds = ["R", "C", "L", "M", "Q", "X", "V"]
        lines = []
        size = 0
        k = 0
        while size < n:
            kind = rng.choice(kinds)
            if k % 50 == 0:
                line = f"* section {k}"
            elif k % 17 == 0:
                line = f"+ w={rng.random():.4g}u l={rng.random():.4g}u"
            else:
                line = f"{kind}{k} n{rng.randint(0, 999)} n{rng.randint(0, 999)} {rng.random() * 1000:.5g}"
            lines.append(line)
            size += len(line) + 1
            k += 1
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        return path
    return _once(("netlist", n), make)


def _blob(n):
    def make():
        path = os.path.join(_workdir(), f"blob_{n}.bin")
        chunk = os.urandom(1 << 20)
        with open(path, "wb") as f:
            for _ in range(n >> 20):
                f.write(chunk)
        return path
    return _once(("blob", n), make)


def _flat(n):
    """A directory of n empty files."""
    def make():
        path = os.path.join(_workdir(), f"flat_{n}")
        os.mkdir(path)
        for k in range(n):
            os.close(os.open(os.path.join(path, f"f{k:06d}.dat"), os.O_CREAT | os.O_WRONLY, 0o644))
        return path
    return _once(("flat", n), make)


def _tree(n):
    """A tree of about n entries: directories of directories of 10 files each."""
    def make():
        root = os.path.join(_workdir(), f"tree_{n}")
        per = 10
        leaves = max(1, n // (per + 1))
        fan = max(1, int(leaves ** 0.5))
        made = 0
        for a in range(fan):
            for b in range(-(-leaves // fan)):
                if made >= leaves:
                    break
                d = os.path.join(root, f"d{a:04d}", f"e{b:04d}")
                os.makedirs(d)
                for k in range(per):
                    os.close(os.open(os.path.join(d, f"f{k}.txt"), os.O_CREAT | os.O_WRONLY, 0o644))
                made += 1
        return root
    return _once(("tree", n), make)


KEYWORDS = ["R", "C", "M"]


def _filter_python(path):
    keys = {k.lower() for k in KEYWORDS}
    out = []
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            first = line.split(None, 1)
            if first and first[0].lower() in keys:
                out.append(line.rstrip("\r\n"))
    return out


def _walk_python(root):
    out = []
    for dirpath, dirnames, _ in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if not d.startswith("."))
        out.append(dirpath)
    return out


def _md5_python(path):
    h = hashlib.md5()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest()


def rows(Row, names):
    big = [10**8]
    return [
        Row("ReadFile", lambda n: {"p": _netlist(n)}, lambda d: (d["p"],),
            lambda d: (lambda: open(d["p"], encoding="utf-8", errors="surrogateescape").read().splitlines()),
            "str.splitlines of the file", sizes=big, reads=lambda d: os.path.getsize(d["p"])),
        Row("FilterFile", lambda n: {"p": _netlist(n)}, lambda d: (d["p"], cvfunc.Vector(KEYWORDS)),
            lambda d: (lambda: _filter_python(d["p"])), "first word of each line in a set", sizes=big),
        Row("GetMD5", lambda n: {"p": _blob(n)}, lambda d: (d["p"],), lambda d: (lambda: _md5_python(d["p"])),
            "hashlib.md5 in 1 MiB reads", sizes=[1 << 28], reads=lambda d: os.path.getsize(d["p"])),
        Row("ListDirectory", lambda n: {"p": _flat(n)}, lambda d: (d["p"],),
            lambda d: (lambda: sorted(os.listdir(d["p"]))), "sorted(os.listdir)", sizes=[10**5]),
        Row("DescendDirectories", lambda n: {"p": _tree(n)}, lambda d: (d["p"],),
            lambda d: (lambda: _walk_python(d["p"])), "os.walk, sorted", sizes=[10**5]),
    ]
