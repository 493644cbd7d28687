"""Comparison rows of the text family: look-ups in lists of names and
splitting of delimited records, beside the Python that does the same."""

import numpy as np

import cvfunc

RNG = np.random.default_rng(2024)
RECORD_SIZES = [10**4, 10**5]


def _search(d):
    first = {}
    for k, s in enumerate(d["s"]):
        first.setdefault(s.lower(), k)
    return [first.get(s.lower(), -1) for s in d["t"]]


def records(n):
    """Delimited records of five fields: names, numbers and words."""
    vals = RNG.uniform(-1e3, 1e3, n)
    recs = [f"R{k};{vals[k]:.6g};net{k % 977};{k * 7 % 1000}k;TC=1" for k in range(n)]
    return {"r": recs, "line": " ".join(r.replace(";", ",") for r in recs)}


def rows(Row, names):
    NAME_SIZES = [10**5, 10**6]
    return [
        Row("Search", names, lambda d: (cvfunc.Vector(d["s"]), cvfunc.Vector(d["t"])),
            lambda d: (lambda: _search(d)), "dict of str.lower, first index", sizes=NAME_SIZES),
        Row("Parse", records, lambda d: (cvfunc.Vector([d["line"]]),),
            lambda d: (lambda: d["line"].replace(",", " ").split()), "str.replace + str.split",
            sizes=RECORD_SIZES),
        Row("SelectColumns", records, lambda d: (cvfunc.Vector(d["r"]), cvfunc.Vector([2.0]), ";"),
            lambda d: (lambda: [r.split(";")[2] for r in d["r"]]), "str.split, one field",
            sizes=RECORD_SIZES, label="SelectColumns 1"),
        Row("SelectColumns", records, lambda d: (cvfunc.Vector(d["r"]), cvfunc.Vector([1.0, 3.0]), ";"),
            lambda d: (lambda: [";".join(r.split(";")[1:4:2]) for r in d["r"]]), "str.split, two fields joined",
            sizes=RECORD_SIZES, label="SelectColumns 2"),
    ]
