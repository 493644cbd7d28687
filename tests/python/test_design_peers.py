"""ParseLaplace against sympy.

The returned vector is [error, numerator degree, denominator degree,
numerator coefficients, denominator coefficients], each polynomial from the
constant term upward. sympy gives the same rational function (compared at
random complex points) and, where the expression hides no common factor,
the same degrees after cancelling.
"""

import random

import numpy as np
import pytest
import sympy

import cvfunc

S = sympy.Symbol("s")

# (expression for cvfunc, the same for sympy, whether the degrees must match
# sympy's reduced form: False where the expression hides a common factor that
# only sympy's exact arithmetic cancels)
TABLE = [
    ("1/(1+s)", "1/(1+s)", True),
    ("s^2 + 2*s + 1", "s**2 + 2*s + 1", True),
    ("2.2k*s/(1meg + s^3)", "2200*s/(1000000 + s**3)", True),
    ("1/(1 + 1/(1 + 1/s))", "1/(1 + 1/(1 + 1/s))", True),
    ("(1+s)^-3 * (2-s)^2", "(1+s)**-3 * (2-s)**2", True),
    ("-s^2/(3u*s + 1)", "-s**2/(Rational(3, 1000000)*s + 1)", True),
    ("1/(s+1) - 1/(s+2) + 1/(s+3)", "1/(s+1) - 1/(s+2) + 1/(s+3)", True),
    ("(s^2 + 1p)/(s^4 + 2*s^2*1n + 5)", "(s**2 + Rational(1, 10**12))/(s**4 + 2*s**2/10**9 + 5)", True),
    ("10k/(s*(1 + s/100)*(1 + s/10k))", "10000/(s*(1 + s/100)*(1 + s/10000))", True),
    ("s/s^3", "s/s**3", True),
    ("(s^2 - 1)/(s - 1)", "(s**2 - 1)/(s - 1)", False),
    ("((s+1)^2)^3/(2*s+5)^4", "((s+1)**2)**3/(2*s+5)**4", True),
    ("1.5e3/(4.7m*s + 1)^2", "1500/(Rational(47, 10000)*s + 1)**2", True),
    ("--s + 7", "s + 7", True),
    ("(1+s)^20/(1+2*s)^19", "(1+s)**20/(1+2*s)**19", True),
]


def rational(v):
    assert v[0] == 0, f"parse error {v[0]}"
    dn, dd = int(v[1]), int(v[2])
    num = np.asarray(v[3 : 3 + dn + 1])
    den = np.asarray(v[4 + dn : 4 + dn + dd + 1])
    assert len(v) == dn + dd + 5
    return num, den


def value_at(num, den, z):
    return np.polyval(num[::-1], z) / np.polyval(den[::-1], z)


def points(rng, n=12):
    return [complex(rng.uniform(-3, 3), rng.uniform(-3, 3)) for _ in range(n)]


@pytest.mark.parametrize("text,peer,same_degrees", TABLE)
def test_same_rational_function_as_sympy(text, peer, same_degrees):
    expr = sympy.sympify(peer, locals={"s": S})
    num, den = rational(cvfunc.ParseLaplace(text))
    f = sympy.lambdify(S, expr, "numpy")
    rng = random.Random(text)
    for z in points(rng):
        want = complex(f(z))
        assert abs(value_at(num, den, z) - want) <= 1e-9 * max(1.0, abs(want)), (text, z)
    if same_degrees:
        n, d = sympy.fraction(sympy.cancel(sympy.together(expr)))
        assert (len(num) - 1, len(den) - 1) == (sympy.degree(n, S), sympy.degree(d, S)), text


def random_expression(rng, depth):
    """The same random expression in both syntaxes."""
    if depth == 0 or rng.random() < 0.3:
        choice = rng.random()
        if choice < 0.4:
            return "s", "s"
        if choice < 0.7:
            k = rng.randint(1, 9)
            return str(k), str(k)
        mantissa, (suffix, exponent) = rng.randint(1, 99), rng.choice([("m", -3), ("u", -6), ("k", 3), ("", 0)])
        return f"{mantissa}{suffix}", f"({mantissa}*Rational(10)**({exponent}))"
    op = rng.choice("+-*/^")
    a, pa = random_expression(rng, depth - 1)
    if op == "^":
        e = rng.randint(-2, 3)
        return f"({a})^{e}", f"({pa})**({e})"
    b, pb = random_expression(rng, depth - 1)
    return f"({a}){op}({b})", f"({pa}){op}({pb})"


def test_random_expressions_agree_with_sympy():
    rng = random.Random(17)
    checked = 0
    for _ in range(300):
        text, peer = random_expression(rng, 4)
        v = cvfunc.ParseLaplace(text)
        try:
            expr = sympy.sympify(peer, locals={"s": S})
        except ZeroDivisionError:
            continue
        if expr.has(sympy.zoo, sympy.nan) or sympy.cancel(sympy.together(expr)).as_numer_denom()[1] == 0:
            assert v[0] != 0, text
            continue
        if v[0] == 10:  # a denominator that vanishes identically on the way, as 1/(s-s)
            continue
        num, den = rational(v)
        f = sympy.lambdify(S, expr, "numpy")
        for z in points(random.Random(text), 4):
            want = complex(f(z))
            got = value_at(num, den, z)
            if not np.isfinite(want) or abs(want) > 1e12:
                continue
            assert abs(got - want) <= 1e-7 * max(1.0, abs(want)), (text, z, got, want)
        checked += 1
    assert checked > 200
