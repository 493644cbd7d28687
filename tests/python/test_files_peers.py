"""The path, directory and file functions against Python's own: os.path,
pathlib, shutil.copytree/rmtree, os.walk/scandir, hashlib, and locks seen by
other processes through fcntl.

Every test runs in conftest.py's sandbox, out of reach of the user's files.
"""

import hashlib
import os
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile

import pytest

import cvfunc

TOOL = pathlib.Path(cvfunc.__file__).parents[2] / "cvfunc"

def random_paths(n=300):
    rng = random.Random(7)
    parts = ["a", "b.c", "..", ".", "", ".hid", "x.tar.gz", "d e", "f.", "...", "g\\h", "C:", "d:x.y"]
    out = []
    for _ in range(n):
        p = "/".join(rng.choice(parts) for _ in range(rng.randint(1, 5)))
        out.append(("/" if rng.random() < 0.5 else "") + p)
    return out


# ----------------------------------------------------------------- path algebra

def test_split_clean_full_and_relative_paths_match_os_path(sandbox):
    for p in random_paths():
        drive, folder, name, ext = cvfunc.SplitPath(p)
        assert drive == "" and folder + name + ext == p
        assert (name, ext) == os.path.splitext(os.path.basename(p)), p
        if not p.startswith("//"):  # POSIX lets two leading slashes mean something else
            assert cvfunc.CleanPath(p) == (os.path.normpath(p) if p else ""), p
            assert cvfunc.FullPath(p) == os.path.abspath(p), p
            if p:
                assert cvfunc.RelativePath(p, "/a/b.c") == os.path.relpath(p, "/a/b.c"), p
        assert cvfunc.IsFullPath(p) == os.path.isabs(p)


def test_links_same_files_and_volumes_match_os(sandbox):
    (sandbox / "dir").mkdir()
    (sandbox / "dir" / "f").write_text("x")
    os.symlink("dir", sandbox / "ln")
    os.symlink("missing-target", sandbox / "dangling")
    for p in ["ln/f", "ln/../dir/f", "dangling", "dir/nope/../f", "ln", "dir/nope/x/../../../ln/f", "ln/nope/../f",
              "./dir//./f/", "nope/" * 3000 + "../" * 3000 + "ln/f"]:
        assert cvfunc.GetActualPath(p) == os.path.realpath(p), p
    assert bool(cvfunc.IsSameFile("ln/f", str(sandbox / "dir" / "f"))) is True
    assert cvfunc.IsSameFile("dir", "ln") == os.path.samefile("dir", "ln")
    volume = cvfunc.GetVolumeName("dir/f")
    assert os.path.ismount(volume) and os.stat(volume).st_dev == os.stat("dir/f").st_dev
    assert cvfunc.GetFileDir("dir/f") == str(sandbox / "dir") + "/"


# ----------------------------------------------------------------- directory trees

def make_tree(root, fan=4, depth=3):
    root.mkdir(parents=True, exist_ok=True)
    for k in range(fan):
        (root / f"f{k}.txt").write_text(f"{root.name}-{k}\n" * k)
    (root / ".dot").mkdir(exist_ok=True)
    if depth:
        for k in range(fan - 1):
            make_tree(root / f"d{k}", fan, depth - 1)


def snapshot(root):
    """Every entry below root: kind, content or link target."""
    out = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            p = pathlib.Path(dirpath) / name
            rel = str(p.relative_to(root))
            if p.is_symlink():
                out[rel] = ("link", os.readlink(p))
            elif p.is_dir():
                out[rel] = ("dir",)
            else:
                out[rel] = ("file", p.read_bytes(), p.stat().st_mode & 0o777)
    return out


def test_listings_match_scandir_and_walk(sandbox):
    make_tree(sandbox / "t")
    assert cvfunc.ListDirectory("t") == sorted(os.listdir("t"))
    assert cvfunc.ListDirectory("t", "fullpath") == sorted(e.path for e in os.scandir("t"))
    walked = []
    for dirpath, dirnames, _ in os.walk("t"):
        dirnames[:] = sorted(d for d in dirnames if not d.startswith("."))
        walked.append(dirpath)
    assert cvfunc.DescendDirectories("t") == walked
    assert len(cvfunc.DescendDirectories("t", "IncludeHidden")) == sum(1 for _ in os.walk("t"))


def test_copy_tree_matches_shutil_copytree_with_links_as_links(sandbox):
    make_tree(sandbox / "src")
    os.symlink("../f1.txt", sandbox / "src" / "d0" / "up")
    os.symlink(".", sandbox / "src" / "self")  # a loop: copied as a link, never entered
    os.chmod(sandbox / "src" / "f2.txt", 0o640)
    assert cvfunc.CopyTree("src", "ours") == "success"
    shutil.copytree("src", "theirs", symlinks=True)
    assert snapshot(sandbox / "ours") == snapshot(sandbox / "theirs")
    assert cvfunc.CopyTree("src", "src/d0/inside") == "failed"
    assert not (sandbox / "src" / "d0" / "inside").exists()


def test_delete_tree_keeps_link_targets_like_rmtree(sandbox):
    outside = sandbox / "outside"
    make_tree(outside, depth=1)
    before = snapshot(outside)
    for name in ["ours", "theirs"]:
        make_tree(sandbox / name, depth=2)
        os.symlink(outside, sandbox / name / "d0" / "to-outside")
        os.symlink(outside / "f1.txt", sandbox / name / "file-link")
    assert cvfunc.DeleteTree("ours") == "success"
    shutil.rmtree("theirs")
    assert not os.path.lexists("ours") and not os.path.lexists("theirs")
    os.symlink(outside, "top-link")
    assert cvfunc.DeleteTree("top-link") == "failed"  # rmtree refuses a link too
    with pytest.raises(OSError):
        shutil.rmtree("top-link")
    assert snapshot(outside) == before


# ----------------------------------------------------------------- file reading and digests

def test_read_and_filter_match_python_lines(sandbox):
    rng = random.Random(3)
    words = ["R1", "r1", "C2", "", " ", "\t", "V", "* c", ".end", "x y"]
    lines = [" ".join(rng.choice(words) for _ in range(rng.randint(0, 4))) for _ in range(2000)]
    text = "\r\n".join(lines) + "\n"
    pathlib.Path("f.txt").write_bytes(text.encode())
    assert cvfunc.ReadFile("f.txt") == text.replace("\r", "").split("\n")[:-1]
    nonblank = [ln.replace("\r", "") for ln in text.split("\n") if ln.strip(" \t\r\f\v")]
    want = [ln for ln in nonblank for k in ["r1", "V"] if ln.split() and ln.split()[0].lower() == k.lower()]
    assert cvfunc.FilterFile("f.txt", ["r1", "V"]) == want


def test_md5_matches_hashlib_and_crc32c_known_vectors(sandbox):
    rng = random.Random(5)
    for size in [0, 1, 63, 64, 65, 1 << 20, (1 << 20) + 7]:
        data = rng.randbytes(size)
        pathlib.Path("b.bin").write_bytes(data)
        assert cvfunc.GetMD5("b.bin") == hashlib.md5(data).hexdigest()
    for s in ["", "h\u00e9llo", "x" * 1000]:
        assert cvfunc.GetMD5String(s) == hashlib.md5(s.encode()).hexdigest()
    assert cvfunc.GetFileStamp(["b.bin", "missing"]) == hashlib.md5(data + b"file-didnt-open").hexdigest()

    def crc32c_unfinished(data):
        reg = 0xFFFFFFFF
        for b in data:
            reg ^= b
            for _ in range(8):
                reg = (reg >> 1) ^ (0x82F63B78 if reg & 1 else 0)
        return reg

    # The standard check value of CRC-32C is the inverted register of "123456789".
    assert int(cvfunc.CRC32("123456789")) ^ 0xFFFFFFFF == 0xE3069283
    for n in range(50):
        s = "".join(chr(rng.randint(32, 126)) for _ in range(n))
        assert cvfunc.CRC32(s) == str(crc32c_unfinished(s.encode()))


# ----------------------------------------------------------------- locks across processes

PROBE = """
import fcntl, sys
f = open(sys.argv[1], "r+")
try:
    fcntl.{call}(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
    print("free")
except OSError:
    print("held")
"""


def probe(path, call):
    code = PROBE.format(call=call)
    return subprocess.run([sys.executable, "-c", code, str(path)], capture_output=True, text=True,
                          timeout=30).stdout.strip()


def test_lock_is_seen_by_flock_and_lockf_of_another_process(sandbox):
    path = sandbox / "a.lock"
    assert cvfunc.CreateLockFile(str(path), ["lock"]) == "success"
    assert probe(path, "flock") == "held" and probe(path, "lockf") == "held"
    assert cvfunc.CreateLockFile(str(path), ["unlock"]) == "success"
    assert probe(path, "flock") == "free" and probe(path, "lockf") == "free"
    # Held by another process: this one cannot take it.
    holder = subprocess.Popen([sys.executable, "-c",
                               "import fcntl,sys,time; f=open(sys.argv[1],'r+'); fcntl.flock(f, fcntl.LOCK_EX); "
                               "print('ready', flush=True); time.sleep(60)", str(path)],
                              stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline().strip() == "ready"
        assert cvfunc.CreateLockFile(str(path), ["lock"]) == "failed"
        assert bool(cvfunc.CanOpenFile(str(path), "write")) is False
    finally:
        holder.kill()
        holder.wait()
    assert cvfunc.CreateLockFile(str(path), ["lock"]) == "success"


def test_a_lock_ends_with_the_tool_and_an_auto_delete_lock_with_the_python_call(sandbox):
    # The package fires PostCli after every call, so an AutoDelete lock lasts for the call only.
    path = sandbox / "c.lock"
    assert cvfunc.CreateLockFile(str(path), ["lock", "AutoDelete"]) == "success"
    assert probe(path, "flock") == "free"
    assert cvfunc.CreateLockFile(str(path), ["unlock"]) == "notexist"
    if not TOOL.exists():
        pytest.skip("the cvfunc tool is not built")
    run = subprocess.run([str(TOOL), "-e", f"CreateLockFile('{path}', 'lock')"], capture_output=True, text=True,
                         timeout=60)
    assert "success" in run.stdout and probe(path, "flock") == "free"


def test_read_only_directory_as_an_unprivileged_user(sandbox):
    """ExistDir gives 2 and leaves no probe behind; the superuser writes
    anywhere, so a root run drops to nobody for the tool it starts."""
    if not TOOL.exists() or (os.geteuid() == 0 and not os.access(TOOL, os.X_OK)):
        pytest.skip("no cvfunc tool")
    base = pathlib.Path(tempfile.mkdtemp(dir="/tmp"))  # outside root's private home, so nobody can reach it
    try:
        base.chmod(0o755)
        for name, mode in [("ro", 0o555), ("rw", 0o777)]:
            (base / name).mkdir()
            (base / name).chmod(mode)
        (base / "rw" / "$$Temp").write_text("theirs")
        drop = (lambda: (os.setgid(65534), os.setuid(65534))) if os.geteuid() == 0 else None
        exprs = [f"ExistDir('{base}/ro')", f"DirectoryIsWriteable('{base}/ro')", f"CanOpenFile('{base}/ro/x', 'write')",
                 f"ExistDir('{base}/rw')"]
        run = subprocess.run([str(TOOL)] + [x for e in exprs for x in ("-e", e)], preexec_fn=drop, capture_output=True,
                             text=True, timeout=60, env={"HOME": str(base), "PATH": "/usr/bin:/bin"})
        assert run.stdout.split() == ["2", "false", "false", "1"], run.stderr
        assert list((base / "ro").iterdir()) == [] and [p.name for p in (base / "rw").iterdir()] == ["$$Temp"]
        assert (base / "rw" / "$$Temp").read_text() == "theirs"
    finally:
        (base / "ro").chmod(0o755)
        shutil.rmtree(base)
