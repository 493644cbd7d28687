#!/usr/bin/env python3
"""Prints the coefficient table of the log-gamma core in FuncDll/Source/GammaFuncs.cpp.

lnGamma(2 + r) on -0.5 <= r < 0.5 is cut into eight slices of width 1/8. Each
slice gets the Taylor polynomial of degree 15 about a centre c, in t = r - c:
coefficient 0 is lnGamma(2 + c), 1 is digamma(2 + c), n >= 2 is
polygamma(n - 1, 2 + c) / n!. The two slices that meet at r = 0 are expanded
about 0 itself, where the constant term is exactly 0 and the others are
(1 - Euler's gamma) and (-1)^n (zeta(n) - 1) / n, so that the core keeps its
relative accuracy next to the zero of lnGamma at 2. With --check it also
evaluates the table as doubles (Horner) against 60-digit values.

Needs mpmath (not a build dependency: run it by hand when the table changes).
"""
import sys

import mpmath as mp

mp.mp.dps = 60
SLICES, DEGREE = 8, 15


def centre(j):
    if j in (3, 4):
        return mp.mpf(0)
    return mp.mpf(-0.5) + (mp.mpf(j) + mp.mpf(0.5)) / SLICES


def coefficients(c):
    z = 2 + c
    out = [mp.loggamma(z) if c != 0 else mp.mpf(0), mp.digamma(z)]
    out += [mp.polygamma(n - 1, z) / mp.factorial(n) for n in range(2, DEGREE + 1)]
    return [float(v) for v in out]


def check(table):
    worst = 0.0
    for j, cs in enumerate(table):
        lo = mp.mpf(-0.5) + mp.mpf(j) / SLICES
        for i in range(4000):
            r = float(lo + mp.mpf(i) / (4000 * SLICES))
            t = r - float(centre(j))
            v = 0.0
            for a in reversed(cs):
                v = v * t + a
            exact = mp.loggamma(2 + mp.mpf(r))
            if exact != 0:
                worst = max(worst, float(abs((v - exact) / exact)))
    return worst


def main():
    table = [coefficients(centre(j)) for j in range(SLICES)]
    for j, cs in enumerate(table):
        print("    {%.17g, {" % float(centre(j)))
        for k in range(0, len(cs), 4):
            print("        " + ", ".join("%.17g" % v for v in cs[k:k + 4]) + ",")
        print("    }},")
    if "--check" in sys.argv:
        print("// worst relative error: %.3g" % check(table))


if __name__ == "__main__":
    main()
