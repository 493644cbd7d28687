"""No layer of the host calls into a layer above it.

Headers keep a layer from including what lies above (the layer_* tests); this
checks the objects themselves, so that a function declared by hand cannot
reach upward either: no symbol that a layer's objects need may be defined
only by a layer above. Usage: check_symbols.py LAYER: OBJ... LAYER: OBJ...,
the layers from the lowest up."""
import subprocess
import sys


def symbols(objects, *flags):
    out = subprocess.run(["nm", "-C", *flags, *objects], capture_output=True, text=True, check=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split(None, 2) if "--defined-only" in flags else line.split(None, 1)
        if len(parts) >= 2 and (":" not in line or not line.endswith(":")):
            names.add(parts[-1])
    return names


def main(args):
    layers, current = [], None
    for a in args:
        if a.endswith(":"):
            current = (a[:-1], [])
            layers.append(current)
        elif current:
            current[1].append(a)
    defined = {name: symbols(objs, "--defined-only") for name, objs in layers}
    failures = 0
    for i, (name, objs) in enumerate(layers):
        needed = symbols(objs, "-u") - defined[name]
        for above, _ in layers[i + 1:]:
            upward = sorted(needed & defined[above])
            for s in upward:
                print(f"{name} uses {s}, which only {above} defines")
            failures += len(upward)
    print(f"{len(layers)} layers, {failures} upward references")
    return 1 if failures else 0


if __name__ == "__main__":
    # CMake may hand a layer's objects over as one ';'-separated argument.
    sys.exit(main([part for arg in sys.argv[1:] for part in arg.split(";") if part]))
