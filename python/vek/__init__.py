"""vek — the board-support library from Python (ctypes over libvek.so.5).

    import vek
    with vek.Board() as board:            # VEK_API_Init / VEK_API_Uninit
        board.HWM_CPUTemperature(0)       # -> 52.0, or raises vek.VekError

Every export is a method of Board named as in C without the VEK_ prefix.
Pointers the library fills are returned (several as a tuple); results other
than 0 raise VekError with .code and .name. vek.sim attaches simulated boards.
"""
import ctypes
import inspect
import os
import threading
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

from . import _api
from ._api import FUNCTIONS

__version__ = "5.0.1"
__all__ = ["Board", "VekError", "RESULT_NAMES", "functions", "library", "result_name", "sim", "__version__"]

# Result codes and their names (the EC I2C master adds 0x800|status, see result_name).
RESULT_NAMES: Dict[int, str] = {
    0: "OK", 1: "DRIVER_NOT_STARTED", 2: "DRIVER_FILE", 3: "DRIVER_START", 4: "DRIVER_NETWORK",
    5: "DRIVER_PLATFORM", 6: "NOT_INITIALISED", 7: "ARGUMENT", 8: "READ", 9: "WRITE",
    10: "UNSUPPORTED", 11: "SLEEP_RANGE", 12: "NOT_ELEVATED", 13: "UNASSIGNED_13", 14: "STATE",
    15: "SPEAKER_ARGUMENT", 16: "WMI", 17: "DEVICE",
}
EC_I2C_READ_ERROR = 0x800


def result_name(code: int) -> str:
    if code in RESULT_NAMES:
        return RESULT_NAMES[code]
    if code & ~0xFF == EC_I2C_READ_ERROR:
        return "EC_I2C_READ_STATUS_0x%02X" % (code & 0xFF)
    return "UNKNOWN_%d" % code


class VekError(Exception):
    """A vek call answered a result other than 0."""

    def __init__(self, code: int, function: Optional[str] = None) -> None:
        self.code = code
        self.name = result_name(code)
        self.function = function
        where = "VEK_%s: " % function if function else ""
        super().__init__("%s%d %s" % (where, code, self.name))


_libraries: Dict[str, ctypes.CDLL] = {}


def _load(name: str) -> ctypes.CDLL:
    """Loads lib<name>.so.5 from $VEK_LIBRARY_PATH or the system's library path."""
    if name not in _libraries:
        soname = "lib%s.so.5" % name
        directory = os.environ.get("VEK_LIBRARY_PATH")
        path = os.path.join(directory, soname) if directory else soname
        # Global, so libvek-sim binds to this very copy of libvek.
        _libraries[name] = ctypes.CDLL(path, mode=ctypes.RTLD_GLOBAL)
    return _libraries[name]


def library() -> ctypes.CDLL:
    """The loaded libvek (ctypes.CDLL), every export typed."""
    lib = _load("vek")
    if not getattr(lib, "_vek_typed", False):
        for fname, params in FUNCTIONS:
            f = getattr(lib, "VEK_" + fname)
            f.argtypes = _api.c_argtypes(params)
            f.restype = ctypes.c_uint32
        lib._vek_typed = True
    return lib


def _checked(ctype: Any, value: Any, name: str) -> Any:
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


_READ, _WRITE = 1, 0


def _transfer(fname, params, values):
    """"read", "write" or None: the direction argument, else the name (EC_IIC_*_Write)."""
    if any(p.name == "direction" for p in params if type(p) is _api.In):
        d = values.get("direction")
        return "read" if d == _READ else "write" if d == _WRITE else None
    if fname.endswith("Write") or fname.endswith("Write_EEPROM"):
        return "write"
    if fname.endswith("Read") or fname.endswith("Read_EEPROM"):
        return "read"
    return None


def _check_direction(fname, params, values):
    """A write carries its data, a read none: never a silent write of 0."""
    way = _transfer(fname, params, values)
    for p in params:
        t = type(p)
        given = p.name in values
        if t is _api.InOut:
            if way == "read" and given:
                raise TypeError("%s: a read takes no %s" % (fname, p.name))
            if way != "read" and not given:
                raise TypeError("%s: a write needs %s" % (fname, p.name))
        elif t is _api.Data and p.size is None:
            v = values.get(p.name)
            if way == "write" and isinstance(v, int):
                raise TypeError("%s: a write needs the bytes to send as %s, not a count" % (fname, p.name))
            if way == "read" and not isinstance(v, int):
                raise TypeError("%s: a read takes the number of bytes to receive as %s" % (fname, p.name))


_ANNOTATIONS = {_api.c_double: float}


def _signature(params):
    """The Python signature: what the caller passes and what comes back."""
    inputs, outs = [], []
    for p in params:
        t = type(p)
        if t is _api.In:
            inputs.append(inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                                            annotation=_ANNOTATIONS.get(p.ctype, int)))
        elif t is _api.InOut:
            inputs.append(inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD, default=None,
                                            annotation=Optional[int]))
            outs.append(int)
        elif t is _api.Data:
            if p.size is None:
                inputs.append(inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                                                annotation=Union[bytes, int]))
            else:
                inputs.append(inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD, default=p.size,
                                                annotation=Union[bytes, int]))
            outs.append(bytes)
        elif t is _api.ArrayIn:
            inputs.append(inspect.Parameter(p.name, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                                            annotation=Sequence[int]))
        elif t is _api.Out:
            outs.append(_ANNOTATIONS.get(p.ctype, int))
        elif t is _api.Text:
            outs.append(str)
        elif t is _api.Array:
            outs.append(List[int])
    ret = None if not outs else outs[0] if len(outs) == 1 else Tuple[tuple(outs)]
    self_param = inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)
    return inspect.Signature([self_param] + inputs, return_annotation=ret)


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
        values = {k: v for k, v in values.items() if v is not None}
        missing = [n for n in required if n not in values]
        if missing:
            raise TypeError("%s: missing %s" % (fname, ", ".join(missing)))
        _check_direction(fname, params, values)

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
                cells = max(n, p.min_size, 1)
                buf = (ctypes.c_uint8 * cells).from_buffer_copy(raw.ljust(cells, b"\0"))
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
                if len(items) > p.count or (p.exact and len(items) != p.count):
                    raise ValueError("%s: %s holds %s%d entries, %d given"
                                     % (fname, p.name, "exactly " if p.exact else "at most ", p.count, len(items)))
                arr = (p.ctype * p.count)(*[_checked(p.ctype, x, p.name).value for x in items])
                cargs.append(arr)

        code = getattr(library(), "VEK_" + fname)(*cargs)
        if code != 0:
            raise VekError(code, fname)
        results = [get() for get in outs]
        if not results:
            return None
        return results[0] if len(results) == 1 else tuple(results)

    method.__name__ = method.__qualname__ = fname
    method.__signature__ = _signature(params)
    method.__annotations__ = {k: v.annotation for k, v in method.__signature__.parameters.items() if k != "self"}
    method.__annotations__["return"] = method.__signature__.return_annotation
    method.__doc__ = "VEK_%s(%s)" % (fname, ", ".join(p.name for p in params))
    return method


# One library initialisation for every open Board: the library's state is
# process-wide, so the first Board in brings it up and the last one out takes
# it down; nested with blocks and other threads share it.
_session_lock = threading.RLock()
_session: Dict[str, Any] = {"users": 0, "sim": None, "sim_name": None}


class Board:
    """The library brought up on this machine, or on a simulated board with sim="NAME" ("" the default).

    with vek.Board() as board: ...   brings the library up on entry and down on exit. Boards
    share one initialisation: it is taken down when the last open Board leaves, so closing
    an inner (or another thread's) Board does not break an outer one.
    """

    def __init__(self, sim: Optional[str] = None) -> None:
        self._sim_name = sim
        self._depth = 0

    def __enter__(self) -> "Board":
        with _session_lock:
            if _session["users"] == 0:
                if self._sim_name is not None:
                    from . import sim as _sim
                    _session["sim"] = _sim.attach(self._sim_name or None)
                    _session["sim_name"] = self._sim_name
                try:
                    self.API_Init()
                except Exception:
                    library().VEK_API_Uninit()
                    if _session["sim"] is not None:
                        _session["sim"].detach()
                        _session["sim"] = _session["sim_name"] = None
                    raise
            elif self._sim_name is not None and self._sim_name != _session["sim_name"]:
                raise RuntimeError("a Board is open on %s; Board(sim=%r) cannot open beside it"
                                   % ("simulated board %r" % _session["sim_name"] if _session["sim"] else "this machine",
                                      self._sim_name))
            _session["users"] += 1
            self._depth += 1
        return self

    def __exit__(self, *exc: Any) -> bool:
        self.close()
        return False

    def close(self) -> None:
        """Leaves one with block; the library goes down when no Board is open."""
        with _session_lock:
            if self._depth == 0:
                return
            self._depth -= 1
            _session["users"] -= 1
            if _session["users"] == 0:
                library().VEK_API_Uninit()
                if _session["sim"] is not None:
                    _session["sim"].detach()
                    _session["sim"] = _session["sim_name"] = None

    @property
    def simulator(self) -> "Optional[sim.Sim]":
        """The attached simulated board (vek.sim.Sim) this Board opened, or None."""
        return _session["sim"] if self._depth else None


for _name, _params in FUNCTIONS:
    setattr(Board, _name, _bind(_name, _params))


def functions() -> List[Tuple[str, List[str]]]:
    """[(name, [parameter names])] of the 88 exports as Board methods."""
    return [(n, [p.name for p in ps]) for n, ps in FUNCTIONS]


from . import sim  # noqa: E402  (needs VekError and _load above)
