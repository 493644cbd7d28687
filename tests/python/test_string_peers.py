"""The string and set functions against Python's own: str.lower/upper/find/
replace/split, urllib's percent-encoding, and sets with dict.fromkeys order.

The functions work on bytes and fold ASCII letters only, so the texts here
are ASCII, where Python's case mapping is the same. Kept away from the one
place where the library knowingly differs: an empty string to replace, which
Python inserts between every two characters and the library leaves alone.
"""

import random
import urllib.parse

import pytest

import cvfunc

ALPHABET = "abcABC xyz.-_/%+'\"\\\t"


@pytest.fixture(scope="module")
def texts():
    rng = random.Random(41)
    return ["".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 30))) for _ in range(400)]


@pytest.fixture(scope="module")
def names():
    # Few distinct names in mixed case, so that lists repeat and collide often.
    rng = random.Random(5)

    def name():
        base = rng.choice(["r1", "r2", "c1", "l1", "vout", "vin", "q3", "x"])
        return "".join(c.upper() if rng.random() < 0.5 else c for c in base)

    return [[name() for _ in range(rng.randint(0, 12))] for _ in range(300)]


def test_case_conversion_matches_python(texts):
    for s in texts:
        assert cvfunc.ToLower(s) == s.lower()
        assert cvfunc.ToUpper(s) == s.upper()


def test_strstr_matches_find_on_folded_text(texts):
    rng = random.Random(3)
    for s in texts:
        what = s[rng.randint(0, len(s)):][: rng.randint(0, 3)] if rng.random() < 0.7 else rng.choice(["ab", "Z", "c."])
        offset = rng.randint(-2, len(s) + 2)
        start = min(max(offset, 0), len(s))
        assert cvfunc.StrStr(s, what.swapcase(), offset) == s.lower()[start:].find(what.lower()), (s, what, offset)


def test_substring_replacement_matches_replace(texts):
    rng = random.Random(9)
    for s in texts:
        old = rng.choice(["a", "ab", "aA", " ", "\\", "bc a"])
        new = rng.choice(["", "X", "aa", "a"])
        assert cvfunc.SubstString(s, old, new, "all") == s.replace(old, new)
        count = rng.randint(0, 4)
        assert cvfunc.SubstString(s, old, new, str(count)) == s.replace(old, new, count)


def test_counted_characters_match_split(texts):
    for s in texts:
        counts = cvfunc.CountChars(s, "a.\\ Z")
        assert list(counts) == [len(s.split(c)) - 1 for c in "a.\\ Z"]


def test_percent_encoding_matches_urllib(texts):
    for s in texts + ["h\u00e9 \u20ac", "~-._"]:
        kept = cvfunc.EscapeStringEncode(s)
        assert kept == urllib.parse.quote(s, safe=" ")
        replaced = cvfunc.EscapeStringEncode(s, "replaceSpaces")
        assert replaced == urllib.parse.quote(s, safe="")
        assert urllib.parse.unquote(kept) == s and urllib.parse.unquote(replaced) == s


def test_escaped_text_reads_back_as_a_string_literal(texts):
    for s in texts:
        assert cvfunc.eval("'" + cvfunc.EscapeString(s) + "'") == s


def test_search_matches_a_folded_index(names):
    rng = random.Random(8)
    for lst in names:
        wanted = [rng.choice(["R1", "vOut", "nope", "x"]) for _ in range(rng.randint(2, 5))]
        folded = [n.lower() for n in lst]
        expect = [folded.index(w.lower()) if w.lower() in folded else -1 for w in wanted]
        assert list(cvfunc.Search(lst, wanted)) == expect
        assert int(cvfunc.Search(lst, wanted, "count")[0]) == sum(i >= 0 for i in expect)


def first_spellings(items):
    """Distinct items ignoring case, in order, each spelled as it first came."""
    kept = {}
    for s in items:
        kept.setdefault(s.lower(), s)
    return list(kept.values())


def test_set_functions_match_python_sets(names):
    for a, b in zip(names, names[1:]):
        fa, fb = {s.lower() for s in a}, {s.lower() for s in b}
        assert cvfunc.SetUnion(a, b) == first_spellings(a + b)
        assert cvfunc.SetIntersect(a, b) == first_spellings([s for s in b if s.lower() in fa])
        assert cvfunc.SetDifference(a, b) == first_spellings([s for s in a if s.lower() not in fb])
        symmetric = cvfunc.SetSymmetricDifference(a, b)
        assert symmetric == first_spellings([s for s in a if s.lower() not in fb]) + first_spellings(
            [s for s in b if s.lower() not in fa]
        )
        assert {s.lower() for s in symmetric} == fa ^ fb
        assert [s.lower() for s in cvfunc.SetUnion(a)] == list(dict.fromkeys(s.lower() for s in a))


def test_string_lists_come_back_as_python_lists():
    assert cvfunc._Concat(["a", "b", "c"], ["x"]) == ["ax", "bx", "cx"]
    assert cvfunc._Concat([], ["x"]) == ["x"]
    assert cvfunc.MakeString(3, ["p"]) == ["p", "", ""]
    assert cvfunc._NullString(-2) == []
    assert cvfunc.SetUnion([]) == []
