"""Comparison row of the model library: the parts selector's data file built
from a library index, the user's models, the categories and 10^5 parts with
their journals, beside Python doing the same merge and line building (dicts
keyed by the folded name, str.split, a temporary file renamed into place).

The files are made once in a temporary directory, removed when the run
ends. n is the number of parts.
"""

import os
import random
import tempfile
import time

import cvfunc
from scratch import once as _once, workdir as _workdir


def _library(n):
    return _once(("library", n), lambda: _make_library(n))


def _make_library(n):
    rng = random.Random(7)
    d = _workdir()
    cats = [f"Cat{k}" for k in range(200)]
    models = [f"M{k}" for k in range(n // 5)]
    files = {
        "out": os.path.join(d, f"selector_{n}.txt"),
        "index": [f"{m};{'*' if rng.random() < 0.01 else ''};model;{rng.choice(cats)};;;;;" for m in models],
        "user": [f"{m};{int(time.time()) - rng.randint(0, 90) * 86400}" for m in rng.sample(models, 1000)],
        "cat": [f"{c};[{k % 100:02d}]Group{k % 7}|Sub{k}" for k, c in enumerate(cats)]
        + ["* All User Models *;User|All", "* Recently Added Models *;User|Recent"],
        "catjournal": [f"Cat{k};Edited|Sub{k};edit" for k in range(0, 200, 10)],
        "parts": [f"P{k};;{rng.choice(['passive', 'active'])};{rng.choice(cats)};Part {k};;{'' if k % 3 else 'generic'};;"
                  f"{'A' + str(k) if k % 11 == 0 else ''}" for k in range(n)],
        "partsjournal": [f"P{k};;passive;Cat1;New label;;;;;edit" for k in range(0, n, 100)]
        + [f"Q{k};;passive;Cat2;;;;;;add" for k in range(n // 100)],
    }
    paths = [files["out"]]
    for key in ["index", "user", "cat", "catjournal", "parts", "partsjournal"]:
        path = os.path.join(d, f"{key}_{n}.txt")
        with open(path, "w") as f:
            f.write("\n".join(files[key]) + "\n")
        paths.append(path)
    return paths


# ----------------------------------------------------------------- the Python peer

def _read(path):
    table = {}
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if line.strip():
                fields = line.split(";")
                if fields[-1] == "" and len(fields) > 1:
                    fields.pop()
                table.setdefault(fields[0].lower(), []).append((fields, line))
    return table


def _field(fields, i):
    return fields[i] if 0 <= i < len(fields) else ""


def _set(fields, j, value):
    fields = fields + [""] * (j + 1 - len(fields))
    fields[j] = value
    return fields, "".join(f + ";" for f in fields)


def _apply(base, journal, c):
    out = {}
    for key, records in base.items():
        j = journal.get(key)
        for fields, line in records:
            if not j:
                out.setdefault(key, []).append((fields, line))
                continue
            jf = j[0][0]
            if _field(jf, c).lower() != "edit":
                continue
            for k in range(1, min(len(fields), len(jf))):
                if k != c and jf[k]:
                    fields, line = _set(fields, k, jf[k])
            out.setdefault(key, []).append((fields, line))
    for key, records in journal.items():
        for fields, line in records:
            if _field(fields, c).lower() == "add":
                out.setdefault(key, []).append(_set(fields, c, ""))
    return out


def _python_selector(paths, lifetime_days=0):
    out, index, user, cat0, cat1, parts0, parts1 = paths
    lib, users = _read(index), _read(user)
    cutoff = int(time.time()) - lifetime_days * 86400
    models = {}
    for key, records in users.items():
        for u, _ in records:
            m = lib.get(key)
            if not m:
                continue
            models.setdefault(key, []).append(_set(m[0][0], 3, "* All User Models *"))
            if int(_field(u, 1) or 0) > cutoff or _field(m[0][0], 1) == "*":
                models.setdefault(key, []).append(_set(m[0][0], 3, "* Recently Added Models *"))
    for key, records in lib.items():
        for fields, line in records:
            if not (_field(fields, 3).lower() == "*** unknown ***" and key in users):
                models.setdefault(key, []).append((fields, line))
    parts = _apply(_read(parts0), _read(parts1), 9)
    cats = _apply(_read(cat0), _read(cat1), 2)
    unassigned = cats.get("*** unassigned ***")
    lines = []
    for table, skip in ((models, {}), (parts, models)):
        for key, records in table.items():
            if key in skip:
                continue
            for fields, line in records:
                cat = _field(fields, 3)
                k = cats.get(cat.lower())
                if k:
                    path = _field(k[0][0], 1)
                    if path[:12].lower() == "** hidden **":
                        continue
                else:
                    path = (_field(unassigned[0][0], 1) if unassigned else "*** Unassigned ***") + "|" + cat
                label = _field(fields, 4) or fields[0]
                lines.append(f"{path.rstrip('|')}|{label};<{line}>;{_field(fields, 6) or 'ps_model'};")
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(out))
    with os.fdopen(fd, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, out)
    return len(lines)


def rows(Row, names):
    return [
        Row("_BuildPartSelectorData", lambda n: {"p": _library(n)}, lambda d: (cvfunc.Vector(d["p"]),),
            lambda d: (lambda: _python_selector(d["p"])), "dicts, str.split, os.replace",
            sizes=[10**5], label="PartSelector"),
    ]
