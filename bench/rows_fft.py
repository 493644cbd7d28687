"""Comparison rows of the transform: fft of 2^16, 2^20 and 2^22 samples
beside numpy.fft.rfft of the same samples.

`fft none` asks for no window, the same work as rfft; `fft hann` is the
default call, which also windows the samples. Both peers allocate their
result afresh on every call, as fft does. Run the rows twice to see what
fresh pages cost the peer (on this VM a fresh 4 KiB page costs 13-19 us):

    PYTHONPATH=build/python python3 bench/compare.py --only "fft none,fft hann"
    MALLOC_MMAP_MAX_=0 MALLOC_TRIM_THRESHOLD_=4294967296 PYTHONPATH=build/python \\
        python3 bench/compare.py --only "fft none,fft hann"

The second run keeps freed memory in the process, so numpy's result buffers
are reused pages, as they would be on hardware with cheap page faults.
"""

import numpy as np

import cvfunc

SIZES = [2**16, 2**20, 2**22]


def _even(n):
    rng = np.random.default_rng(n)
    return {"y": np.sin(2 * np.pi * 50 * np.arange(n) / n) + 0.01 * rng.standard_normal(n),
            "x": np.arange(n) * 1e-9}


def _wave(d):
    return cvfunc.Vector(d["y"], ref=d["x"])


def rows(Row, names):
    return [
        Row("fft", _even, lambda d: (_wave(d), "none"), lambda d: (lambda: np.fft.rfft(d["y"])),
            "numpy.fft.rfft", sizes=SIZES, label="fft none"),
        Row("fft", _even, lambda d: (_wave(d),), lambda d: (lambda: np.fft.rfft(d["y"])),
            "numpy.fft.rfft", sizes=SIZES, label="fft hann"),
    ]
