"""Network parameters of an N-port as numpy arrays, read from a Touchstone file.

    >>> net = cvfunc.read_network("amp.s2p")
    >>> net.f                  # (nf,) frequencies in Hz
    >>> net.s[:, 1, 0]         # S21 over frequency: s is (nf, nports, nports), row and column from 0
    >>> net.z0                 # reference impedance: a scalar array, or one value per port
    >>> net.to_skrf()          # a scikit-rf Network, when scikit-rf is installed

The host's loader reads the file (the same one `cvfunc.load` and the tool's
--load use, so a file refused there is refused here with the same message),
and binds its vectors for eval() as load() does: frequency, S11, S21, ...

`s` always holds S-parameters. A file of Y-, Z-, H- or G-parameters keeps its
own values in `params` (Z in ohms, Y in siemens) and `kind`, and `s` is
computed from them with the reference impedances z0, which must be real and
positive, as the file format's are.
"""

import os as _os

import numpy as _np

from . import _cvfunc

__all__ = ["Network", "read_network"]

_KINDS = "SYZHG"


def _parameter_name(kind, row, column, ports):
    # The loader's names: S21, or S2_1 with ten ports or more.
    return f"{kind}{row + 1}{'_' if ports >= 10 else ''}{column + 1}"


def _to_s(kind, params, z0):
    """S-parameters from the file's kind of parameters, for real reference impedances z0 (per port).

    Each kind is a linear relation A v + B i = 0 between port voltages and currents. With
    v = sqrt(z0) (a + b) and i = (a - b) / sqrt(z0) that becomes b = S a, for every kind at once."""
    if kind == "S":
        return params
    n = params.shape[-1]
    eye = _np.broadcast_to(_np.eye(n, dtype=complex), params.shape)
    if kind == "Z":
        a, b = eye, -params
    elif kind == "Y":
        a, b = params, -eye
    else:
        # Hybrid two-ports: H takes (i1, v2) to (v1, i2), G takes (v1, i2) to (i1, v2).
        p11, p12, p21, p22 = params[:, 0, 0], params[:, 0, 1], params[:, 1, 0], params[:, 1, 1]
        one, zero = _np.ones_like(p11), _np.zeros_like(p11)
        first = _np.stack([_np.stack([one, -p12], -1), _np.stack([zero, -p22], -1)], -2)
        second = _np.stack([_np.stack([-p11, zero], -1), _np.stack([-p21, one], -1)], -2)
        a, b = (first, second) if kind == "H" else (second, first)
    k = _np.sqrt(_np.broadcast_to(z0, (n,)).astype(float))
    ak, bk = a * k, b / k  # scales the columns: A K and B K^-1
    try:
        return -_np.linalg.solve(ak - bk, ak + bk)
    except _np.linalg.LinAlgError:
        raise ValueError(f"the {kind}-parameters have no S-parameters for z0 = {z0}: "
                         "a matrix to invert is singular at some frequency") from None


def _hz(x):
    for unit, scale in (("GHz", 1e9), ("MHz", 1e6), ("kHz", 1e3)):
        if abs(x) >= scale:
            return f"{x / scale:g} {unit}"
    return f"{x:g} Hz"


class Network:
    """An N-port's network parameters over frequency.

    f       (nf,) float array, Hz, increasing
    s       (nf, n, n) complex array of S-parameters: s[:, r, c] is S(r+1)(c+1)
    z0      reference impedance in ohms: a 0-d array when one value holds for every port, else (n,)
    name    the file's name without its extension ("" when made from arrays)
    kind    "S", "Y", "Z", "H" or "G": the parameters the file holds
    params  (nf, n, n) complex array of those parameters (the same array as s for "S")
    metadata  what the loader reports about the file: version, ports, parameter, format,
              frequency_unit, z0 (all text; empty when made from arrays)
    """

    def __init__(self, f, s, z0=50.0, name="", kind="S", metadata=None):
        f = _np.asarray(f, dtype=float)
        params = _np.asarray(s, dtype=complex)
        z0 = _np.asarray(z0, dtype=float)
        kind = str(kind).upper()
        if f.ndim != 1:
            raise ValueError(f"f must be one-dimensional, not of shape {f.shape}")
        if params.ndim != 3 or params.shape[1] != params.shape[2] or params.shape[0] != f.size:
            raise ValueError(f"the parameters must be of shape (nf, n, n) with nf = {f.size} frequencies, "
                             f"not {params.shape}")
        n = params.shape[1]
        if z0.ndim > 1 or (z0.ndim == 1 and z0.size != n):
            raise ValueError(f"z0 must be one value or one per port ({n}), not of shape {z0.shape}")
        if not _np.all(z0 > 0):
            raise ValueError(f"z0 must be positive, not {z0}")
        if kind not in _KINDS or len(kind) != 1:
            raise ValueError(f"kind must be one of S, Y, Z, H, G, not {kind!r}")
        if kind in "HG" and n != 2:
            raise ValueError(f"{kind}-parameters describe two-ports, not {n} ports")
        self.f, self.z0, self.name, self.kind = f, z0, str(name), kind
        self.params = params
        self.s = _to_s(kind, params, z0)
        self.metadata = dict(metadata or {})

    @property
    def nports(self):
        return self.s.shape[1]

    def __repr__(self):
        points = f"{self.f.size} point{'' if self.f.size == 1 else 's'}"
        if self.f.size:
            points += f", {_hz(self.f[0])}" + (f" to {_hz(self.f[-1])}" if self.f.size > 1 else "")
        z0 = f"{float(self.z0):g}" if self.z0.ndim == 0 else "[" + ", ".join(f"{v:g}" for v in self.z0) + "]"
        kind = "" if self.kind == "S" else f", {self.kind}-parameters"
        return f"Network({self.name!r}, {self.nports}-port{kind}, {points}, z0={z0} ohm)"

    def to_skrf(self):
        """The same network as a scikit-rf Network (S-parameters, z0 per frequency and port)."""
        try:
            import skrf
        except ImportError as e:
            raise ImportError("Network.to_skrf needs scikit-rf, which this interpreter cannot import: install it "
                              "(Debian: apt install python3-scikit-rf; else: python3 -m pip install scikit-rf)") from e
        z0 = _np.broadcast_to(self.z0, (self.f.size, self.nports)).astype(complex)
        frequency = skrf.Frequency.from_f(self.f, unit="hz")
        unit = self.metadata.get("frequency_unit")
        if unit:
            frequency.unit = unit
        return skrf.Network(frequency=frequency, s=self.s.copy(), z0=z0, name=self.name or None)


def read_network(path):
    """Reads a Touchstone file (.sNp, .ts) into a Network, through the host's loader.

    Raises cvfunc.Error with the file, the line and what was found when the file cannot be read,
    and ValueError for a file that holds no network parameters (a CSV or raw file)."""
    vectors, metadata = _cvfunc.load(path, metadata=True)
    metadata = dict(metadata)
    names = [n for n in vectors if n != "frequency"]
    kind = metadata.get("parameter") or (names[0][0].upper() if names else "")
    ports = int(metadata["ports"]) if "ports" in metadata else int(round(len(names) ** 0.5))
    wanted = [[_parameter_name(kind, r, c, ports) for c in range(ports)] for r in range(ports)]
    if "frequency" not in vectors or kind not in _KINDS or any(n not in vectors for row in wanted for n in row):
        raise ValueError(f"{_os.fspath(path)!r} holds no network parameters over frequency (its vectors: "
                         f"{', '.join(list(vectors)[:6])}{', ...' if len(vectors) > 6 else ''})")
    f = _np.asarray(vectors["frequency"], dtype=float)
    params = _np.empty((f.size, ports, ports), dtype=complex)
    for r in range(ports):
        for c in range(ports):
            params[:, r, c] = _np.asarray(vectors[wanted[r][c]])
    z0 = _np.array([float(v) for v in metadata.get("z0", "50").split()])  # 50 ohms unless the file says
    z0 = z0[0] if z0.size == 1 else z0
    name = _os.path.splitext(_os.path.basename(_os.fspath(path)))[0]
    return Network(f, params, z0, name=name, kind=kind, metadata=metadata)
