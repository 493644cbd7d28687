"""Runs an ngspice deck for the peer checks."""
import pathlib
import shutil
import subprocess

import pytest


def run_ngspice(work, deck, timeout=60):
    """Writes `deck` to work/deck.cir, runs ngspice on it in batch mode and
    returns (its standard output, the vectors of work/out.raw that the deck
    writes). Skips the test when ngspice is not installed.

    With only a .control block ngspice exits with 1 ("no simulations run")
    although the run succeeded, so the raw file is what tells."""
    import cvfunc

    if shutil.which("ngspice") is None:
        pytest.skip("ngspice is not installed")
    work = pathlib.Path(work)
    (work / "deck.cir").write_text(deck)
    run = subprocess.run(["ngspice", "-b", "deck.cir"], cwd=work, capture_output=True, text=True, timeout=timeout)
    raw = work / "out.raw"
    assert raw.exists(), run.stdout + run.stderr
    return run.stdout, cvfunc.load(str(raw))
