"""Tokenising and matching functions against peers that compute the same
thing: Python's `re` (where PCRE2 and Python agree), `fnmatch.fnmatchcase`
for the wildcards, `sorted` for the sort orders, and ngspice's own listing for
the logical lines of a netlist."""

import fnmatch
import random
import re
import shutil
import subprocess

import pytest

import cvfunc

RNG = random.Random(20261206)


def strings(result):
    """A string-list result; a function that set no result gives None."""
    return [] if result is None else list(result)


# ---------------------------------------------------------------- regular expressions

PATTERNS = [
    r"([A-Za-z]+)(\d*)",
    r"v\((\w+)(,(\w+))?\)",
    r"[+-]?\d+(\.\d*)?(e[+-]?\d+)?",
    r"(a|b)*c",
    r"[^;]+;([^;]*)",
    r"\w+",
]

SUBJECTS = ["R12", "vout", "v(out)", "v(a,b)", "v()", "1.5e-3", "-2", "+.5", "abbac", "c", "ab", "x;y", "a;b;c",
            "", "Q_1", "3k", "R 1"]


@pytest.mark.parametrize("pattern", PATTERNS)
def test_regexp_complete_matches_agree_with_python(pattern):
    compiled = re.compile(pattern)
    for subject in SUBJECTS:
        got = strings(cvfunc.call("RegExp", [subject], pattern))
        m = compiled.fullmatch(subject)
        if m is None:
            assert got[0] == "IncompleteMatch", (pattern, subject)
            continue
        want = [g or "" for g in m.groups()] if compiled.groups else [m.group(0)]
        assert got == ["CompleteMatch"] + want, (pattern, subject)


def test_regexp_verdict_covers_the_whole_list():
    names = ["R1", "R22", "C3"]
    got = strings(cvfunc.call("RegExp", names, r"([RC])(\d+)"))
    want = [g for n in names for g in re.fullmatch(r"([RC])(\d+)", n).groups()]
    assert got == ["CompleteMatch"] + want
    assert strings(cvfunc.call("RegExp", names + ["L1"], r"([RC])(\d+)"))[0] == "IncompleteMatch"


# ---------------------------------------------------------------- wildcards through QueryData

def random_text(alphabet, longest):
    return "".join(RNG.choice(alphabet) for _ in range(RNG.randint(0, longest)))


def test_wildcard_terms_agree_with_fnmatchcase():
    records = sorted({random_text("abAB", 7) for _ in range(300)})
    for _ in range(300):
        pattern = random_text("ab*?", 6)
        if not any(c in pattern for c in "*?"):
            pattern += "*"
        got = strings(cvfunc.call("QueryData", records, [pattern]))
        # Wildcard terms ignore case, as the exact terms do.
        want = [r for r in records if fnmatch.fnmatchcase(r.lower(), pattern.lower())]
        assert got == want, pattern


# ---------------------------------------------------------------- sorting

def distinct_names(n):
    seen, names = set(), []
    while len(names) < n:
        name = random_text("abcXYZ_019", 8) or "_"
        if name.lower() not in seen:
            seen.add(name.lower())
            names.append(name)
    return names


def test_parse_agrees_with_split_on_long_lines_of_repeated_tokens():
    # Long lists share the str objects of repeated texts: every element must
    # still be the text at its place, whatever shares a slot of that table
    # (lengths 2 to 40 around the word sizes, repeats, near misses, non-ASCII).
    pool = ["ab", "abc", "ab\u00e9", "net1", "net10", "NET1", "x" * 8, "x" * 9, "y" * 16, "y" * 17, "z" * 32,
            "z" * 33, "\u00b5A", "1k", "TC=1"] + ["q" + random_text("aZ9_", 39) for _ in range(300)]
    tokens = [RNG.choice(pool) for _ in range(20000)]
    line = " ".join(tokens)
    assert strings(cvfunc.call("Parse", line)) == line.split()
    assert strings(cvfunc.call("Parse", line.replace(" ", ",,"), ",")) == tokens


def test_sort_orders_agree_with_sorted():
    names = distinct_names(2000)
    assert strings(cvfunc.call("Sort", names)) == sorted(names, key=str.lower)
    # Texts that agree in their first 16 bytes and more, and ties that differ
    # only in case: both orders are stable, so they agree element for element.
    long = [RNG.choice(["X1.sub.", "x1.SUB.inst_", "X1.sub.inst_long_"]) + random_text("aB9", 4) for _ in range(3000)]
    assert strings(cvfunc.call("Sort", long)) == sorted(long, key=str.lower)
    by = [s.lower() for s in long]
    assert list(cvfunc.call("SortIdx", long, "reverse")) == sorted(range(len(long)), key=by.__getitem__, reverse=True)
    doubled = names + [n.upper() for n in names]
    assert [s.lower() for s in strings(cvfunc.call("Sort", doubled, "unique"))] == sorted(n.lower() for n in names)
    values = [v / 7.0 for v in RNG.sample(range(-10**6, 10**6), 3000)]
    order = sorted(range(len(values)), key=values.__getitem__)
    assert list(cvfunc.call("SortIdx", values)) == order
    assert list(cvfunc.call("SortIdx2", values, "reverse")) == order[::-1]
    z = [complex(RNG.uniform(-5, 5), RNG.uniform(-5, 5)) for _ in range(500)]
    assert list(cvfunc.call("SortIdx", z)) == sorted(range(len(z)), key=lambda k: abs(z[k]))


# ---------------------------------------------------------------- netlist lines against ngspice

DECKS = [
    """RC low-pass with continuations
* a comment line
V1 in 0 DC 0 AC 1
+ PULSE(0 1 1n
* a comment between continuation lines
+ 1n 1n 5n 10n) ; end-of-line comment
R1 in out 1k $ dollar comment
C1 out 0
+ 1u
.tran 1n 20n
""",
    """Divider with odd spacing
   R1   a   b   10k;tight comment
R2 b 0 10k\t$ tab before the dollar
V1 a 0 5
R3 b n$1 1k $ a dollar inside a name is no comment
R4 n$1 0 1k
   * indented comment
.subckt amp in out
R1 in out 1k
+ tc1=0.001 tc2=0
.ends amp
X1 a c amp
R9 c 0 1k
.op
""",
]


def normalised(line):
    return " ".join(line.lower().split())


def ngspice_listing(tmp_path, deck):
    """The logical lines ngspice lists for `deck`, without its title, the
    line it adds and the control block that asks for the listing."""
    if shutil.which("ngspice") is None:
        pytest.skip("ngspice is not installed")
    (tmp_path / "deck.cir").write_text(deck + ".control\nlisting\n.endc\n.end\n")
    run = subprocess.run(["ngspice", "-b", "deck.cir"], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    lines = [m.group(1) for m in re.finditer(r"^\s*\d+ : (.*)$", run.stdout, re.M)]
    assert lines, run.stdout + run.stderr
    body = lines[1:lines.index(".control")]
    return [normalised(x) for x in body if x != ".global gnd"]


@pytest.mark.parametrize("deck", DECKS, ids=["continuations", "comments and a subcircuit"])
def test_parse_spice_lines_agrees_with_ngspice_listing(tmp_path, deck):
    ours = strings(cvfunc.call("ParseSpiceLines", deck))
    assert [normalised(x) for x in ours[1:]] == ngspice_listing(tmp_path, deck)
