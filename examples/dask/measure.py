#!/usr/bin/env python3
"""Measures many SPICE raw files on a Dask cluster with cvfunc.

The files are cut into batches; each batch is one task, run on a Dask worker
as one `cvfunc --each ... --format json` process, so that the tool's start-up
is paid once per batch and not once per file. The per-batch tables come back
in the order of the files and are joined into one pandas table: a row per
file and run, a column per printed statement, and an "error" column.

    # on this machine, two worker processes
    python3 measure.py -e 'Maximum(out)' -e 'Mean1(out)' 'runs/*.raw'
    # on a cluster: the scheduler's address; every worker needs cvfunc and
    # the files at the same path (a shared file system)
    python3 measure.py --scheduler tcp://10.0.0.5:8786 -e 'Maximum(out)' 'runs/*.raw'

From Python: `measure_files(client, files, statements)` with any
`distributed.Client`.
"""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys

import pandas as pd

# Files per task: enough that the tool's start-up (about 10 ms) is small
# beside the work, few enough that the workers share the load evenly.
DEFAULT_BATCH = 25


def find_tool():
    return os.environ.get("CVFUNC_TOOL") or shutil.which("cvfunc") or "cvfunc"


def measure_batch(files, statements, tool=None):
    """One task: the statements over `files` in one cvfunc process, as a table."""
    cmd = [tool or find_tool(), "--each", *files, "--format", "json", "--jobs", "1"]
    for s in statements:
        cmd += ["-e", s]
    r = subprocess.run(cmd, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    # 1 means some row holds an error: the table is still whole.
    if r.returncode not in (0, 1) or not r.stdout.startswith("["):
        raise RuntimeError(f"cvfunc failed ({r.returncode}): {r.stderr.strip()}")
    rows = json.loads(r.stdout)
    columns = ["file", "run", *dict.fromkeys(k for row in rows for k in row if k not in ("file", "run", "error")),
               "error"]
    return pd.DataFrame(rows, columns=columns)


def batches(files, size):
    return [files[i:i + size] for i in range(0, len(files), size)]


def measure_files(client, files, statements, batch=DEFAULT_BATCH, tool=None):
    """Maps the statements over `files` on the client's cluster; one table,
    in the order of the files."""
    files = [str(f) for f in files]
    futures = client.map(measure_batch, batches(files, max(1, batch)), statements=list(statements),
                         tool=tool, pure=False)
    tables = client.gather(futures)
    table = pd.concat(tables, ignore_index=True, sort=False)
    # A statement that failed in a whole batch leaves no column there; keep
    # the columns in the order the statements give them.
    front = [c for c in table.columns if c not in ("error",)]
    return table[front + ["error"]]


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("files", nargs="+", help="raw files or glob patterns")
    ap.add_argument("-e", dest="statements", action="append", required=True, help="a statement (repeatable)")
    ap.add_argument("--scheduler", help="address of a running Dask scheduler (default: a local cluster)")
    ap.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster")
    ap.add_argument("--batch", type=int, default=DEFAULT_BATCH, help="files per task")
    ap.add_argument("--tool", default=None, help="the cvfunc executable on the workers")
    ap.add_argument("-o", "--output", help="write the table as CSV here (default: standard output)")
    args = ap.parse_args(argv)

    from distributed import Client, LocalCluster

    files = [f for p in args.files for f in (sorted(glob.glob(p)) or [p])]
    if args.scheduler:
        client = Client(args.scheduler)
        cluster = None
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        table = measure_files(client, files, args.statements, batch=args.batch, tool=args.tool)
    finally:
        client.close()
        if cluster:
            cluster.close()
    table.to_csv(args.output or sys.stdout, index=False)
    return 1 if table["error"].notna().any() else 0


if __name__ == "__main__":
    sys.exit(main())
