"""Input files the benchmark rows make for a run: one scratch directory,
removed when the run ends, and each file made once however many rows and
sizes use it."""

import atexit
import tempfile

_DIR = None
_MADE = {}


def workdir():
    global _DIR
    if _DIR is None:
        _DIR = tempfile.TemporaryDirectory(prefix="cvfunc_bench_")
        atexit.register(_DIR.cleanup)
    return _DIR.name


def once(key, make):
    """make() the first time `key` is asked for; its result after that."""
    if key not in _MADE:
        _MADE[key] = make()
    return _MADE[key]
