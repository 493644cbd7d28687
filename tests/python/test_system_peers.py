"""System functions against what Python and the kernel say about the same
things: process id, network adapters, free space, processors, uname, the
clocks in several time zones; user hash tables against a dict; named mutexes
seen from a second process; Ctrl-C ending Sleep in the tool and in Python.
Everything that touches the disk runs in conftest.py's sandbox."""
import datetime
import fcntl
import glob
import os
import platform
import random
import re
import signal
import socket
import subprocess
import sys
import time

import pytest

import cvfunc

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(cvfunc.__file__), "..", "..")
TOOL = os.path.join(BUILD, "cvfunc")


@pytest.fixture
def run_dir(sandbox, monkeypatch):
    """The sandbox with a runtime directory of its own, where the mutexes live."""
    run = sandbox.parent / "run"
    run.mkdir(mode=0o700)
    monkeypatch.setenv("XDG_RUNTIME_DIR", str(run))
    return run


def child_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return env


# ---------------------------------------------------------------- clocks and system facts

def test_process_id_and_executable():
    assert cvfunc.GetPID() == str(os.getpid())
    assert cvfunc.GetExecutableFile() == os.readlink("/proc/self/exe")


def test_ethernet_addresses_are_the_kernels_ethernet_links_in_index_order():
    want = []
    for index, name in sorted(socket.if_nameindex()):
        base = f"/sys/class/net/{name}"
        with open(f"{base}/type") as t, open(f"{base}/address") as a:
            kind, address = t.read().strip(), a.read().strip()
        if kind == "1" and len(address) == 17 and address != "00:00:00:00:00:00":
            want.append(address)
    assert (cvfunc.GetEthernetAddresses() or []) == want


def test_free_disk_space_is_what_statvfs_leaves_a_user(sandbox):
    for path in [sandbox, "/"]:
        s = os.statvfs(path)
        assert abs(cvfunc.GetFreeDiskSpace(str(path)) - s.f_bavail * s.f_frsize) < 64 << 20
    assert cvfunc.GetFreeDiskSpace(str(sandbox / "absent")) == -1


def sysfs_topology():
    """(package, core) of each online processor, as the kernel lists them."""
    ids = set()
    for cpu in glob.glob("/sys/devices/system/cpu/cpu[0-9]*"):
        read = lambda f: open(os.path.join(cpu, f)).read().strip()  # noqa: E731
        if (not os.path.exists(os.path.join(cpu, "online")) or read("online") == "1") and \
                os.path.exists(os.path.join(cpu, "topology/core_id")):
            ids.add((read("topology/physical_package_id"), read("topology/core_id")))
    return ids


def test_system_summary_matches_uname_and_the_processor_counts():
    info = cvfunc.GetSystemInfo()
    assert len(info) == 14
    u = platform.uname()
    numbers = [int(n) for n in re.findall(r"\d+", u.release)[:3]]
    assert info[5] == u.system and info[6] == u.machine
    assert info[8] == f"{numbers[0]}.{numbers[1]}" and info[9] == str(numbers[2])
    assert info[3] == str(os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES"))
    assert int(info[12]) == os.cpu_count()
    ids = sysfs_topology()
    if ids:
        assert int(info[10]) == len(ids) == cvfunc.GetMaxCores()
        assert int(info[11]) == len({p for p, _ in ids})


@pytest.mark.parametrize("zone", ["UTC", "Pacific/Kiritimati", "America/St_Johns"])
def test_date_and_time_are_local_time_of_the_zone(zone):
    if not os.path.exists(os.path.join("/usr/share/zoneinfo", zone)):
        pytest.skip(f"no time zone data for {zone}")
    script = ("import datetime, cvfunc\n"
              "print(cvfunc.Date('iso'), cvfunc.Time('useFractions'), cvfunc.EpochTime(),"
              " datetime.datetime.now().astimezone().isoformat())")
    iso, fractions, epoch, now = subprocess.run([sys.executable, "-c", script], env=dict(child_env(), TZ=zone),
                                                capture_output=True, text=True, check=True).stdout.split()
    now = datetime.datetime.fromisoformat(now)
    assert iso in {now.strftime("%Y-%m-%d"), (now - datetime.timedelta(seconds=2)).strftime("%Y-%m-%d")}
    t = datetime.datetime.combine(now.date(), datetime.time.fromisoformat(fractions), now.tzinfo)
    assert abs((now - t).total_seconds()) < 2 or abs((now - t).total_seconds()) > 86398
    # The same instant in UTC, whatever the zone.
    assert abs(datetime.datetime.fromtimestamp(float(epoch), datetime.timezone.utc) - now).total_seconds() < 2


# ---------------------------------------------------------------- hash tables against a dict

def test_hash_tables_behave_as_a_case_insensitive_dict():
    rng = random.Random(11)
    h = cvfunc.HashCreate()
    peer = {}  # folded key -> (spelling, value)
    words = [f"k{i}" for i in range(300)]
    spell = lambda w: "".join(c.upper() if rng.random() < 0.5 else c for c in w)  # noqa: E731
    for _ in range(300):
        op = rng.random()
        keys = [spell(rng.choice(words)) for _ in range(rng.randint(1, 20))]
        if op < 0.5:
            values = [str(rng.random()) for _ in keys]
            assert bool(cvfunc.HashAdd(h, keys, values)) is True
            for k, v in zip(keys, values):
                peer[k.lower()] = (k, v)
        elif op < 0.7:
            gone = sum(peer.pop(k.lower(), None) is not None for k in keys)
            assert cvfunc.HashRemove(h, keys) == gone
        else:
            got = cvfunc.HashSearch(h, keys + ["absent"], "-")
            assert got == [peer[k.lower()][1] if k.lower() in peer else "-" for k in keys] + ["-"]
        if len(peer) > 200:  # most keys go at once: the table compacts
            gone = [s for s, _ in list(peer.values())[:150]]
            assert cvfunc.HashRemove(h, gone) == 150
            for k in gone:
                del peer[k.lower()]
    assert sorted(cvfunc.HashKeys(h) or []) == sorted(s for s, _ in peer.values())
    assert bool(cvfunc.HashDelete(h)) is True
    assert cvfunc.Hash("Net1") == cvfunc.Hash("NET1") != cvfunc.Hash("Net2")


# ---------------------------------------------------------------- mutexes across processes

def taken_elsewhere(path):
    with open(path, "a") as f:
        try:
            fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            return True
        fcntl.flock(f, fcntl.LOCK_UN)
        return False


def test_a_mutex_held_by_another_process_is_refused_until_its_holder_dies(run_dir):
    # Names, ids and release by DestroyMutex within one process: the C++ tests.
    holder = subprocess.Popen([sys.executable, "-c", "import sys, cvfunc; print(cvfunc.CreateMutex('cvtest.peer'),"
                               " flush=True); sys.stdin.read()"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True, env=child_env())
    try:
        assert holder.stdout.readline().strip() != "None"
        path = run_dir / "cvfunc" / "mutex" / "cvtest.peer"
        assert taken_elsewhere(path) and cvfunc.CreateMutex("cvtest.peer") is None
    finally:
        holder.kill()
        holder.communicate(timeout=10)
    mine = cvfunc.CreateMutex("cvtest.peer")
    assert mine is not None
    # ... and this process now holds it against others, the flock peer included.
    assert taken_elsewhere(path)
    assert bool(cvfunc.DestroyMutex(mine)) is True


# ---------------------------------------------------------------- Ctrl-C ends Sleep

def interrupted_after(cmd, delay=0.7, **kw):
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)
    time.sleep(delay)
    t0 = time.monotonic()
    p.send_signal(signal.SIGINT)
    out, err = p.communicate(timeout=20)
    return p.returncode, out, err, time.monotonic() - t0


def test_ctrl_c_ends_a_sleep_of_the_tool_and_what_follows():
    # The REPL's pause: the tool-session tests.
    rc, out, err, took = interrupted_after([TOOL, "-e", "Sleep(1e300)", "-e", "'not reached'"])
    assert (rc, took < 2, "not reached" in out) == (1, True, False)
    assert "Interrupted in function 'Sleep'" in err


def test_ctrl_c_ends_a_sleep_in_python_as_keyboard_interrupt():
    rc, out, err, took = interrupted_after([sys.executable, "-c", "import cvfunc; cvfunc.Sleep(float('inf'))"],
                                           env=child_env(), delay=1.5)
    assert took < 2 and rc != 0
    assert err.rstrip().endswith("KeyboardInterrupt") and "lost sys.stderr" not in err, err
