#!/usr/bin/env python3
"""Fills in the output of new examples in the function reference.

For each `example:` of share/reference/*.ref that has no `output:` lines yet,
runs `cvfunc -e EXPRESSION` and prints what it printed; with --write, inserts
it as `output:` lines after the example. Examples that already have output
are left alone: the tests compare those, and a changed output is a changed
behaviour to look at, not to re-record.

    scripts/reference-outputs.py BUILD_DIR [--write] [FILE.ref ...]
"""
import pathlib
import subprocess
import sys


def run(cvfunc, expression):
    p = subprocess.run([cvfunc, "-e", expression], capture_output=True, text=True, timeout=60)
    if p.returncode != 0:
        return None, p.stderr.strip()
    return p.stdout.splitlines(), p.stderr.strip()


def main(argv):
    args = [a for a in argv if not a.startswith("--")]
    write = "--write" in argv
    if not args:
        sys.exit(__doc__)
    cvfunc = str(pathlib.Path(args[0]) / "cvfunc")
    root = pathlib.Path(__file__).resolve().parents[1] / "share" / "reference"
    files = [pathlib.Path(f) for f in args[1:]] or sorted(root.glob("*.ref"))
    failed = False
    for path in files:
        lines = path.read_text().split("\n")
        out = []
        for i, line in enumerate(lines):
            out.append(line)
            if not line.startswith("example:"):
                continue
            following = lines[i + 1] if i + 1 < len(lines) else ""
            if following.startswith("output:"):
                continue
            expression = line[len("example:"):].strip()
            printed, errors = run(cvfunc, expression)
            if printed is None:
                print(f"{path.name}:{i + 1}: {expression}: FAILED: {errors}")
                failed = True
                continue
            print(f"{path.name}:{i + 1}: {expression}")
            for p in printed:
                print(f"    {p}")
            out.extend("output: " + p if p else "output:" for p in printed)
        if write:
            path.write_text("\n".join(out))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main(sys.argv[1:])
