"""The string and set functions against Python's own: str.lower/upper/find/
replace/split, urllib's percent-encoding, and sets in dict.fromkeys order.

The library works on bytes and folds ASCII letters only, so the texts are
ASCII, where Python's case mapping is the same. An empty string to replace is
left out: Python inserts the new text between every two characters, the
library replaces nothing.
"""

import random
import urllib.parse

import pytest

import cvfunc


@pytest.fixture(scope="module")
def texts():
    rng = random.Random(41)
    alphabet = "abcABC xyz.-_/%+'\"\\\t\n"
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(0, 30))) for _ in range(400)]


def test_case_find_replace_and_counts_match_python(texts):
    rng = random.Random(3)
    for s in texts:
        assert cvfunc.ToLower(s) == s.lower() and cvfunc.ToUpper(s) == s.upper()
        what = rng.choice(["", "a", "Ab", "c.", "z", s[len(s) // 2 :][:3]])
        offset = rng.randint(-2, len(s) + 2)
        start = min(max(offset, 0), len(s))
        assert cvfunc.StrStr(s, what.swapcase(), offset) == s.lower()[start:].find(what.lower()), (s, what)
        old, new, count = rng.choice(["a", "aA", " ", "\\"]), rng.choice(["", "X", "aa"]), rng.randint(0, 3)
        assert cvfunc.SubstString(s, old, new, "all") == s.replace(old, new)
        assert cvfunc.SubstString(s, old, new, str(count)) == s.replace(old, new, count)
        assert list(cvfunc.CountChars(s, "a.\\ Z")) == [len(s.split(c)) - 1 for c in "a.\\ Z"]


def test_escapings_match_urllib_and_the_expression_language(texts):
    for s in texts + ["h\u00e9 \u20ac"]:
        kept, replaced = cvfunc.EscapeStringEncode(s), cvfunc.EscapeStringEncode(s, "replaceSpaces")
        assert kept == urllib.parse.quote(s, safe=" ") and replaced == urllib.parse.quote(s, safe="")
        assert urllib.parse.unquote(kept) == s and urllib.parse.unquote(replaced) == s
        assert cvfunc.eval("'" + cvfunc.EscapeString(s) + "'") == s


def first_spellings(items):
    """Distinct items ignoring case, in order, each spelled as it first came."""
    kept = {}
    for s in items:
        kept.setdefault(s.lower(), s)
    return list(kept.values())


def set_call(name, *lists):
    """A set function's result as a list; an empty result must be left unmade."""
    out = getattr(cvfunc, name)(*lists)
    assert out != [], f"{name} made an empty list instead of no result"
    return [] if out is None else out


def python_sets(a, b):
    """The four results by Python's sets, in the library's order and spelling."""
    fa, fb = {s.lower() for s in a}, {s.lower() for s in b}
    only_a = first_spellings([s for s in a if s.lower() not in fb])
    return {
        "SetUnion": first_spellings(a + b),
        "SetIntersect": first_spellings([s for s in b if s.lower() in fa]),
        "SetDifference": only_a,
        "SetSymmetricDifference": only_a + first_spellings([s for s in b if s.lower() not in fa]),
    }


def test_set_functions_match_python_sets():
    rng = random.Random(5)

    def names():
        bases = ["r1", "r2", "c1", "vout", "vin", "x"]
        return ["".join(c.upper() if rng.random() < 0.5 else c for c in rng.choice(bases)) for _ in range(rng.randint(0, 12))]

    for _ in range(300):
        a, b = names(), names()
        for name, expected in python_sets(a, b).items():
            assert set_call(name, a, b) == expected, (name, a, b)
        assert [s.lower() for s in set_call("SetUnion", a)] == list(dict.fromkeys(s.lower() for s in a))


@pytest.mark.parametrize("n", [255, 256, 257, 1_000_000])
def test_set_functions_at_table_boundaries_in_either_position(n):
    # The seen set starts at 256 slots and must grow with whatever is put in
    # it; a full table made a probe go round for ever.
    big = [f"Net{i}" if i % 3 else f"NET{i}" for i in range(n)]
    small = ["x", "net1", "NET2", "x", f"net{n - 1}"]
    for a, b in [(big, small), (small, big), (big, [f"net{i}" for i in range(n // 2, n + n // 2)])]:
        for name, expected in python_sets(a, b).items():
            assert set_call(name, a, b) == expected, (name, len(a), len(b))

