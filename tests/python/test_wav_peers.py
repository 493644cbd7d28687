"""WAV files against other readers and writers: files written by WAV_WriteFile read back by Python's wave
module and by sox, files made by sox read by WAV_OpenFile / WAV_ReadData, and the real files of
tests/data/wav decoded independently with numpy."""

import shutil
import struct
import subprocess
import wave

import numpy as np
import pytest

import cvfunc

FULL = 2147483647.0
SOX = shutil.which("sox")
needs_sox = pytest.mark.skipif(SOX is None, reason="sox is not installed")


def quantised(x, bits):
    """The integer samples WAV_WriteFile stores for values x at scale 1."""
    q = np.round(np.asarray(x) * FULL / 2.0 ** (32 - bits))
    return np.clip(q, -(2 ** (bits - 1)), 2 ** (bits - 1) - 1).astype(np.int64)


def decode_pcm(raw, width, big_endian=False):
    """Little- (or big-) endian integer PCM of `width` bytes per sample; 8-bit data is unsigned."""
    b = np.frombuffer(raw, np.uint8)[: len(raw) // width * width].reshape(-1, width).astype(np.int64)
    if big_endian:
        b = b[:, ::-1]
    v = sum(b[:, k] << (8 * k) for k in range(width))
    if width == 1:
        return v - 128
    return np.where(v >= 1 << (8 * width - 1), v - (1 << (8 * width)), v)


def assert_reads(path, full):
    """WAV_ReadData gives the first two columns of `full` (samples at 32-bit full scale); returns the x-values."""
    handle, status = (int(v) for v in cvfunc.WAV_OpenFile(str(path)))
    assert status == 0, status
    try:
        left, right = cvfunc.WAV_ReadData(handle, [0]), cvfunc.WAV_ReadData(handle, [1])
    finally:
        assert cvfunc.WAV_CloseFile(handle) == 1
    np.testing.assert_array_equal(np.round(np.asarray(left) * FULL), full[:, 0])
    np.testing.assert_array_equal(np.round(np.asarray(right) * FULL), full[:, min(1, full.shape[1] - 1)])
    return np.asarray(left.ref)


def sox_info(path, flag):
    return subprocess.run([SOX, "--i", flag, str(path)], check=True, capture_output=True, text=True).stdout.strip()


def sox_samples(path, kind):
    """Interleaved samples as sox decodes them: 's32' integers or 'f64' doubles."""
    raw = subprocess.run([SOX, str(path), "-t", kind, "-"], check=True, capture_output=True).stdout
    return np.frombuffer(raw, np.int32 if kind == "s32" else np.float64)


@pytest.mark.parametrize("bits,channels", [(bits, channels) for bits in (8, 16, 24, 32) for channels in (1, 2)])
def test_python_wave_and_sox_read_what_we_write(tmp_path, bits, channels):
    path = tmp_path / "out.wav"
    rng = np.random.default_rng(bits)
    data = [rng.uniform(-1.05, 1.05, 300) for _ in range(channels)]  # past full scale too
    data[0][:3] = [1.0, -1.0, 0.0]
    assert cvfunc.WAV_WriteFile(str(path), [bits, 1.0, 8000], *data) == 0
    expected = np.stack([quantised(d, bits) for d in data], axis=1)
    with wave.open(str(path), "rb") as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == (channels, bits // 8, 8000, 300)
        got = decode_pcm(w.readframes(w.getnframes()), bits // 8).reshape(-1, channels)
    np.testing.assert_array_equal(got, expected)
    if SOX:
        assert [sox_info(path, flag) for flag in ("-r", "-b", "-c", "-s")] == ["8000", str(bits), str(channels), "300"]
        np.testing.assert_array_equal(sox_samples(path, "s32"), (expected << (32 - bits)).ravel())


@needs_sox
@pytest.mark.parametrize("encoding,bits,channels", [
    (enc, bits, channels) for enc, bits in [("signed-integer", 16), ("signed-integer", 24), ("signed-integer", 32),
                                            ("unsigned-integer", 8), ("floating-point", 32), ("floating-point", 64)]
    for channels in (1, 2)])
def test_we_read_what_sox_writes(tmp_path, encoding, bits, channels):
    path = tmp_path / "sox.wav"
    subprocess.run([SOX, "-n", "-r", "11025", "-e", encoding, "-b", str(bits), "-c", str(channels), str(path),
                    "synth", "0.02", "sine", "440", "sine", "1000", "vol", "0.9"], check=True)
    if encoding == "floating-point":
        ref = np.clip(np.round(sox_samples(path, "f64") * FULL), -FULL - 1, FULL)
    else:
        ref = sox_samples(path, "s32").astype(np.float64)
    assert len(ref) == channels * int(sox_info(path, "-s")) == channels * round(0.02 * 11025)
    np.testing.assert_allclose(np.diff(assert_reads(path, ref.reshape(-1, channels))), 1 / 11025, rtol=1e-9)


def riff_chunks(data):
    """(fmt fields, data bytes, big-endian) of a RIFF/RIFX WAVE file."""
    big = data[:4] == b"RIFX"
    e = ">" if big else "<"
    pos, fmt = 12, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack(e + "I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            tag, ch, rate, _, align, bits = struct.unpack(e + "HHIIHH", body[:16])
            if tag == 0xFFFE:
                tag = struct.unpack(e + "H", body[24:26])[0]
            fmt = (tag, ch, rate, align, bits)
        elif cid == b"data":
            return fmt, body, big
        pos += 8 + size + (size & 1)
    raise ValueError("no data chunk")


USABLE = [
    "mono.wav", "waveformatex-16bit-44100Hz-stereo.wav", "pcmwaveformat-16bit-44100Hz-mono-extra.wav",
    "pcmwaveformat-8bit-44100Hz-mono.wav", "test-8000Hz-le-2ch-1byteu.wav", "waveformatex-8bit-11025Hz-mono.wav",
    "test-8000Hz-le-3ch-5S-24bit.wav", "waveformatextensible-24bit-192kHz-mono.wav",
    "waveformatextensible-24bit-4byte-48kHz-stereo.wav", "test-44100Hz-le-1ch-4bytes.wav",
    "test-1234Hz-le-1ch-10S-20bit-extra.wav", "nonstandard-01.wav", "waveformatex-ieeefloat-44100Hz-mono.wav",
    "waveformatextensible-ieeefloat-44100Hz-mono.wav", "test-44100Hz-2ch-32bit-float-le.wav",
    "test-44100Hz-2ch-32bit-float-be.wav", "test-48000Hz-2ch-64bit-float-le-wavex.wav",
]


@pytest.mark.parametrize("name", USABLE)
def test_real_files_match_an_independent_decoding(data_file, name):
    path = data_file("wav/" + name)
    (tag, ch, rate, align, bits), body, big = riff_chunks(path.read_bytes())
    width = align // ch
    frames = len(body) // align
    body = body[: frames * align]
    if tag == 3:
        v = np.frombuffer(body, (">" if big else "<") + ("f4" if width == 4 else "f8")).astype(np.float64)
        full = np.clip(np.round(v * FULL), -FULL - 1, FULL)
    else:
        full = decode_pcm(body, width, big).astype(np.float64) * 2.0 ** (32 - 8 * width)
    x = assert_reads(path, full.reshape(frames, ch))
    np.testing.assert_allclose(x, np.arange(frames) / rate, rtol=1e-12, atol=1e-15)
