"""vek — the board-support library from Python (ctypes over libvek.so.5).

    import vek
    with vek.Board() as board:            # VEK_API_Init / VEK_API_Uninit
        board.HWM_CPUTemperature(0)       # -> 52.0, or raises vek.VekError

Every export is a method of Board named as in C without the VEK_ prefix.
Pointers the library fills are returned (several as a tuple); results other
than 0 raise VekError with .code and .name. vek.sim attaches simulated boards.
"""
import ctypes
import os

from . import _api
from ._api import FUNCTIONS

__all__ = ["Board", "VekError", "RESULT_NAMES", "functions", "library", "sim"]

# Result codes and their names (the EC I2C master adds 0x800|status, see result_name).
RESULT_NAMES = {
    0: "OK", 1: "DRIVER_NOT_STARTED", 2: "DRIVER_FILE", 3: "DRIVER_START", 4: "DRIVER_NETWORK",
    5: "DRIVER_PLATFORM", 6: "NOT_INITIALISED", 7: "ARGUMENT", 8: "READ", 9: "WRITE",
    10: "UNSUPPORTED", 11: "SLEEP_RANGE", 12: "NOT_ELEVATED", 13: "UNASSIGNED_13", 14: "STATE",
    15: "SPEAKER_ARGUMENT", 16: "WMI", 17: "DEVICE",
}
EC_I2C_READ_ERROR = 0x800


def result_name(code):
    if code in RESULT_NAMES:
        return RESULT_NAMES[code]
    if code & ~0xFF == EC_I2C_READ_ERROR:
        return "EC_I2C_READ_STATUS_0x%02X" % (code & 0xFF)
    return "UNKNOWN_%d" % code


class VekError(Exception):
    """A vek call answered a result other than 0."""

    def __init__(self, code, function=None):
        self.code = code
        self.name = result_name(code)
        self.function = function
        where = "VEK_%s: " % function if function else ""
        super().__init__("%s%d %s" % (where, code, self.name))


_libraries = {}


def _load(name):
    """Loads lib<name>.so.5 from $VEK_LIBRARY_PATH or the system's library path."""
    if name not in _libraries:
        soname = "lib%s.so.5" % name
        directory = os.environ.get("VEK_LIBRARY_PATH")
        path = os.path.join(directory, soname) if directory else soname
        # Global, so libvek-sim binds to this very copy of libvek.
        _libraries[name] = ctypes.CDLL(path, mode=ctypes.RTLD_GLOBAL)
    return _libraries[name]


def library():
    """The loaded libvek (ctypes.CDLL), every export typed."""
    lib = _load("vek")
    if not getattr(lib, "_vek_typed", False):
        for fname, params in FUNCTIONS:
            f = getattr(lib, "VEK_" + fname)
            f.argtypes = _api.c_argtypes(params)
            f.restype = ctypes.c_uint32
        lib._vek_typed = True
    return lib


def _checked(ctype, value, name):
    """The value as ctype, refusing what the C type cannot hold (ctypes would truncate)."""
    if ctype is ctypes.c_double:
        return ctype(float(value))
    if not isinstance(value, int):
        raise TypeError("%s must be an integer, not %r" % (name, value))
    bits = ctypes.sizeof(ctype) * 8
    signed = ctype(-1).value == -1
    low, high = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    if not low <= value <= high:
        raise ValueError("%s=%d does not fit %s (%d..%d)" % (name, value, ctype.__name__, low, high))
    return ctype(value)


def _bind(fname, params):
    inputs = [p for p in params if type(p) in (_api.In, _api.InOut, _api.Data, _api.ArrayIn)]
    required = [p.name for p in inputs if type(p) in (_api.In, _api.ArrayIn)
                or (type(p) is _api.Data and p.size is None)]

    def method(self, *args, **kwargs):
        if len(args) > len(inputs):
            raise TypeError("%s takes %d arguments, %d given" % (fname, len(inputs), len(args)))
        values = dict(zip((p.name for p in inputs), args))
        for k, v in kwargs.items():
            if k in values or k not in {p.name for p in inputs}:
                raise TypeError("%s: unexpected or repeated argument %r" % (fname, k))
            values[k] = v
        missing = [n for n in required if n not in values]
        if missing:
            raise TypeError("%s: missing %s" % (fname, ", ".join(missing)))

        buffers, lengths = {}, {}
        for p in params:
            if type(p) is _api.Data:
                v = values.get(p.name, p.size)
                if isinstance(v, int):
                    if v < 0:
                        raise ValueError("%s: %s size must not be negative" % (fname, p.name))
                    n, raw = v, bytes(v)
                else:
                    raw = bytes(v)
                    n = len(raw)
                buf = (ctypes.c_uint8 * max(n, 1)).from_buffer_copy(raw.ljust(max(n, 1), b"\0"))
                buffers[p.name] = (buf, n)
                if p.length:
                    lengths[p.length] = n

        cargs, outs = [], []
        for p in params:
            t = type(p)
            if t is _api.Length:
                cargs.append(_checked(p.ctype, lengths[p.name], p.name))
            elif t is _api.In:
                cargs.append(_checked(p.ctype, values[p.name], p.name))
            elif t in (_api.Out, _api.InOut):
                cell = _checked(p.ctype, values.get(p.name, 0), p.name) if t is _api.InOut else p.ctype()
                cargs.append(ctypes.byref(cell))
                outs.append(lambda c=cell: c.value)
            elif t is _api.Text:
                text = ctypes.create_string_buffer(_api.Text.size)
                cargs.append(text)
                outs.append(lambda b=text: b.value.decode("utf-8", "replace"))
            elif t is _api.Data:
                buf, n = buffers[p.name]
                cargs.append(ctypes.cast(buf, ctypes.POINTER(ctypes.c_uint8)))
                outs.append(lambda b=buf, n=n: bytes(b[:n]))
            elif t is _api.Array:
                arr = (p.ctype * p.count)()
                cargs.append(arr)
                outs.append(lambda a=arr: list(a))
            elif t is _api.ArrayIn:
                items = list(values[p.name])
                arr = (p.ctype * max(len(items), 1))(*[_checked(p.ctype, x, p.name).value for x in items])
                cargs.append(arr)

        code = getattr(library(), "VEK_" + fname)(*cargs)
        if code != 0:
            raise VekError(code, fname)
        results = [get() for get in outs]
        if not results:
            return None
        return results[0] if len(results) == 1 else tuple(results)

    method.__name__ = fname
    method.__doc__ = "VEK_%s(%s)" % (fname, ", ".join(p.name for p in params))
    return method


class Board:
    """The library brought up on this machine, or on a simulated board with sim="NAME".

    with vek.Board() as board: ...   calls VEK_API_Init on entry and VEK_API_Uninit on exit.
    """

    def __init__(self, sim=None):
        self._sim_name = sim
        self._sim = None

    def __enter__(self):
        if self._sim_name is not None:
            from . import sim as _sim
            self._sim = _sim.attach(self._sim_name or None)
        try:
            self.API_Init()
        except Exception:
            self.API_Uninit()
            if self._sim:
                self._sim.detach()
            raise
        return self

    def __exit__(self, *exc):
        self.API_Uninit()
        if self._sim:
            self._sim.detach()
            self._sim = None
        return False

    @property
    def simulator(self):
        """The attached simulated board (vek.sim.Sim), or None on hardware."""
        return self._sim


for _name, _params in FUNCTIONS:
    setattr(Board, _name, _bind(_name, _params))


def functions():
    """[(name, [parameter names])] of the 88 exports as Board methods."""
    return [(n, [p.name for p in ps]) for n, ps in FUNCTIONS]


from . import sim  # noqa: E402  (needs VekError and _load above)
