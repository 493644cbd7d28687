"""INI files and the settings stores against Python's configparser, and
writes by two processes at once.

Every test runs in conftest.py's sandbox, out of reach of the user's files.
"""

import configparser
import pathlib
import random
import subprocess

import pytest

import cvfunc


def listed(value):
    """A string-list result as a Python list (no result reads as none)."""
    if value is None:
        return []
    return [value] if isinstance(value, str) else list(value)


def peer(path):
    parser = configparser.ConfigParser(interpolation=None)
    parser.read(path, encoding="utf-8")
    return parser


def random_ini(rng):
    """A file both readers take alike: distinct sections and keys, ';'
    comments, blank lines, blanks around '=', no indented lines."""
    lines, sections = [], []
    chars = "abcXYZ019 _-.;#%/\\\"'$"
    for s in range(rng.randint(1, 6)):
        name = f"Sec{s}" + rng.choice(["", " x", ".y", "_z"])
        sections.append(name)
        lines.append(f"[{name}]")
        for k in range(rng.randint(0, 8)):
            if rng.random() < 0.2:
                lines.append(rng.choice(["", "; a comment", ";x=1"]))
            value = "".join(rng.choice(chars) for _ in range(rng.randint(0, 12))).strip()
            lines.append(f"key{k}{rng.choice(['', 'Q'])}{rng.choice(['=', ' = ', '= ', ' ='])}{value}")
    return "\n".join(lines) + rng.choice(["", "\n"])


def test_reading_matches_configparser_where_they_agree(sandbox):
    rng = random.Random(11)
    for n in range(60):
        path = sandbox / f"r{n}.ini"
        path.write_text(random_ini(rng))
        ref = peer(path)
        assert listed(cvfunc.ReadIniKey(str(path), "", "")) == ref.sections()
        for section in ref.sections():
            # configparser folds keys to lower case; here they keep their spelling.
            keys = listed(cvfunc.ReadIniKey(str(path), section, ""))
            assert [k.lower() for k in keys] == list(ref[section].keys())
            for key in keys:
                assert listed(cvfunc.ReadIniKey(str(path), section.upper(), key)) == [ref[section][key]]


def test_written_files_read_back_alike(sandbox):
    rng = random.Random(5)
    path = str(sandbox / "w.ini")
    want = {}
    for _ in range(200):
        section, key = f"S{rng.randint(0, 4)}", f"k{rng.randint(0, 9)}"
        if rng.random() < 0.2:
            assert bool(cvfunc.WriteIniKey(path, section, key)) is True
            want.get(section, {}).pop(key, None)
        else:
            value = "".join(rng.choice("ab ;#=%") for _ in range(rng.randint(0, 6))).strip()
            assert bool(cvfunc.WriteIniKey(path, section.lower(), key.upper(), value)) is True
            want.setdefault(section, {})[key] = value
    ref = peer(path)
    for section, keys in want.items():
        assert {k: v for k, v in ref[section.lower()].items()} == {k.lower(): v for k, v in keys.items()}


# ----------------------------------------------------------------- two processes at once

def test_two_tools_writing_one_file_keep_every_change(sandbox):
    tool = pathlib.Path(cvfunc.__file__).parents[2] / "cvfunc"
    if not tool.exists():
        pytest.skip("the cvfunc tool is not built")
    ini = sandbox / "shared.ini"
    scripts = {tag: "".join(f"WriteIniKey('{ini}', 'S', '{tag}{i}', '{i}')\n"
                            f"WriteConfigSetting('Shared', '{tag}{i}', '{i}')\n"
                            f"AddConfigCollection('Libs', '/libs/{tag}{i}.lib')\n"
                            f"WriteRegSetting('Software\\Acme', '{tag}{i}', '{i}', 'hkey_current_user')\n"
                            for i in range(50)) for tag in "ab"}
    procs = [subprocess.Popen([str(tool), "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
             for _ in scripts]
    outs = [p.communicate(script, timeout=300)[0] for p, script in zip(procs, scripts.values())]
    assert all(out.split() == ["true", "true", "1", "Ok"] * 50 for out in outs)
    want = sorted(f"{t}{i}" for t in "ab" for i in range(50))
    assert sorted(listed(cvfunc.ReadIniKey(str(ini), "S", ""))) == want
    assert sorted(listed(cvfunc.ReadConfigSetting("Shared"))) == want
    assert len(listed(cvfunc.ReadConfigCollection("Libs"))) == 100
    assert sorted(peer(pathlib.Path(cvfunc.GetConfigLoc()) / "registry.ini")["Software\\Acme"]) == want
    assert cvfunc.ReadRegSetting("SOFTWARE\\acme", "A7") == "7"
    assert sorted(p.name for p in sandbox.iterdir()) == ["shared.ini"]  # no temporary file left
