"""Encodings, identifiers, dates and colours against Python's own
implementations of the same things."""
import base64
import os
import random
import struct
import time
import uuid

import pytest

import cvfunc

# ---------------------------------------------------------------- Base64

TEXTS = ["", "f", "fo", "foo", "foobar", "caf\u00e9 \u65e5\u672c", "line\nbreaks\tand tabs", "x" * 1000,
         "".join(chr(c) for c in range(1, 128)) * 3]


@pytest.mark.parametrize("text", TEXTS)
def test_text_encodes_as_base64_does(text):
    coded = cvfunc.ConvertToBase64(text)
    assert coded == base64.b64encode(text.encode()).decode()
    assert cvfunc.ConvertFromBase64(coded) == text


def test_numbers_encode_as_their_little_endian_bytes():
    rng = random.Random(7)
    values = [0.0, -0.0, 1.0, 0.1, -1e-300, 1.7976931348623157e308, float("inf")]
    values += [struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0] for _ in range(200)]
    for v in values:
        if v != v:
            continue
        coded = cvfunc.ConvertNumberToBase64(v)
        assert coded == base64.b64encode(struct.pack("<d", v)).decode()
        assert struct.pack("<d", cvfunc.ConvertNumberFromBase64(coded)) == struct.pack("<d", v)
    for i in [0, 1, -1, 2**53, -(2**63), 2**63 - 1024, 123456789012]:
        assert cvfunc._ConvertIntegerToBase64(float(i)) == base64.b64encode(struct.pack("<q", int(float(i)))).decode()


# ---------------------------------------------------------------- identifiers


@pytest.mark.parametrize("name", ["GetGUID", "CvUUID"])
def test_identifiers_are_random_rfc_4122_uuids(name):
    seen = set()
    for _ in range(50):
        text = cvfunc.call(name)
        u = uuid.UUID(text)
        assert str(u) == text
        assert u.version == 4
        assert u.variant == uuid.RFC_4122
        seen.add(text)
    assert len(seen) == 50


# ---------------------------------------------------------------- dates

ZONES = ["UTC", "America/New_York", "Europe/Berlin", "Asia/Kolkata", "America/St_Johns",
         "Australia/Lord_Howe", "Pacific/Kiritimati", "Pacific/Pago_Pago", "EST5EDT,M3.2.0,M11.1.0"]

DATES = [(1970, 1, 1), (1969, 12, 31), (2000, 2, 29), (2021, 3, 14), (2021, 3, 28), (2021, 7, 4),
         (2021, 10, 3), (2021, 11, 7), (2038, 1, 19), (2100, 12, 31), (1901, 6, 15), (2020, 2, 30), (2020, 13, 1)]


@pytest.fixture(params=ZONES)
def zone(request):
    tz = request.param
    if "/" in tz and not os.path.exists(os.path.join("/usr/share/zoneinfo", tz)):
        pytest.skip(f"no time zone data for {tz}")
    old = os.environ.get("TZ")
    os.environ["TZ"] = tz
    time.tzset()
    yield tz
    if old is None:
        del os.environ["TZ"]
    else:
        os.environ["TZ"] = old
    time.tzset()


def local_date(seconds):
    t = time.localtime(seconds)
    return f"{t.tm_year}-{t.tm_mon:02d}-{t.tm_mday:02d}"


def test_iso_dates_as_mktime_reads_them(zone):
    for y, m, d in DATES:
        want = int(time.mktime((y, m, d, 0, 0, 0, 0, 0, 0)))   # is_dst 0: standard time
        assert cvfunc.ConvertIsoTimeToUnix(f"{y}-{m:02d}-{d:02d}") == want, (zone, y, m, d)
    names = ["jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"]
    for m, name in enumerate(names, 1):
        assert cvfunc.ConvertIsoTimeToUnix(f"2022-{name.upper()}-15") == int(time.mktime((2022, m, 15, 0, 0, 0, 0, 0, 0)))


def test_unix_times_as_localtime_shows_them(zone):
    rng = random.Random(11)
    for t in [0, 1, 86399, 86400, 951782400, 2147483647, 2147483648, 4102444799] + \
             [rng.randrange(0, 253402214400) for _ in range(300)]:
        assert cvfunc.ConvertUnixTimeToIso(float(t)) == local_date(t), (zone, t)
    assert cvfunc.ConvertUnixTimeToIso(-1.0) is None
    assert cvfunc.ConvertUnixTimeToIso(float("nan")) is None
    assert cvfunc.ConvertUnixTimeToIso(1e300) is None


# ---------------------------------------------------------------- colours


def test_css_named_colours():
    colors = pytest.importorskip("matplotlib.colors")
    assert len(colors.CSS4_COLORS) == 148
    for name, hex_text in colors.CSS4_COLORS.items():
        rgb = int(hex_text[1:], 16)
        assert cvfunc.ConvertHTMLcolourToRGB(name) == str(rgb), name
        assert cvfunc.ConvertHTMLcolourToRGB(name.upper()) == str(rgb), name
        assert cvfunc.ConvertRGBcolourToHTML(str(rgb)) == hex_text.lower(), name


def test_hex_colours_both_ways():
    rng = random.Random(3)
    for rgb in [0, 0xFFFFFF, 0x000080] + [rng.randrange(0, 1 << 24) for _ in range(500)]:
        text = f"#{rgb:06x}"
        assert cvfunc.ConvertHTMLcolourToRGB(text.upper()) == str(rgb)
        assert cvfunc.ConvertRGBcolourToHTML(str(rgb)) == text
    short = "#3a9"
    assert cvfunc.ConvertHTMLcolourToRGB(short) == str(int("33aa99", 16))
