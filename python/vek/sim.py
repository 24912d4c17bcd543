"""Simulated boards (libvek-sim.so.5): test a program against any supported board.

    with vek.sim.attach("KVB-3410-LB") as s, vek.Board() as board:
        s.set_temperature(vek.sim.TEMP_CPU, 0, 91.0)
        board.HWM_CPUTemperature(0)   # -> 91.0
"""
import ctypes
from typing import Any, List, Optional

from . import VekError, _load

TEMP_CPU = 0
TEMP_BOARD = 1
FAULT_EC_BUSY = 1
FAULT_SMBUS_HUNG = 2
FAULT_DRIVER_MISSING = 3
FAULT_NOT_ELEVATED = 4
FAULT_SUPERIO_SILENT = 5

_SIGNATURES = {
    "vek_sim_board_count": ([], ctypes.c_uint32),
    "vek_sim_board_name": ([ctypes.c_uint32], ctypes.c_char_p),
    "vek_sim_default_board": ([], ctypes.c_char_p),
    "vek_sim_attach": ([ctypes.c_char_p], ctypes.c_uint32),
    "vek_sim_detach": ([], ctypes.c_uint32),
    "vek_sim_attached": ([], ctypes.c_char_p),
    "vek_sim_set_temperature": ([ctypes.c_uint32, ctypes.c_uint32, ctypes.c_double], ctypes.c_uint32),
    "vek_sim_set_fan_stalled": ([ctypes.c_uint32, ctypes.c_int], ctypes.c_uint32),
    "vek_sim_set_gpio_input": ([ctypes.c_int32, ctypes.c_int32, ctypes.c_int], ctypes.c_uint32),
    "vek_sim_inject_fault": ([ctypes.c_uint32, ctypes.c_int], ctypes.c_uint32),
    "vek_sim_advance_ms": ([ctypes.c_uint32], ctypes.c_uint32),
}


def _lib():
    from . import library
    library()  # libvek first, so libvek-sim binds to it
    lib = _load("vek-sim")
    if not getattr(lib, "_vek_typed", False):
        for name, (args, res) in _SIGNATURES.items():
            f = getattr(lib, name)
            f.argtypes, f.restype = args, res
        lib._vek_typed = True
    return lib


def _call(name: str, *args: Any) -> None:
    code = getattr(_lib(), name)(*args)
    if code != 0:
        raise VekError(code, name)


def boards() -> List[str]:
    """Names of every board the simulator can build."""
    lib = _lib()
    return [lib.vek_sim_board_name(i).decode() for i in range(lib.vek_sim_board_count())]


def default_board() -> str:
    return _lib().vek_sim_default_board().decode()


class Sim:
    """An attached simulated board and its knobs. detach() (or leaving the with block) frees it."""

    def __init__(self, name: str) -> None:
        self.name = name

    def set_temperature(self, kind: int, index: int, celsius: float) -> None:
        _call("vek_sim_set_temperature", kind, index, float(celsius))

    def set_fan_stalled(self, fan: int, stalled: bool = True) -> None:
        _call("vek_sim_set_fan_stalled", fan, 1 if stalled else 0)

    def set_gpio_input(self, set_: int, pin: int, level: int) -> None:
        _call("vek_sim_set_gpio_input", set_, pin, 1 if level else 0)

    def inject_fault(self, fault: int, on: bool = True) -> None:
        _call("vek_sim_inject_fault", fault, 1 if on else 0)

    def advance_ms(self, milliseconds: int) -> None:
        _call("vek_sim_advance_ms", milliseconds)

    def detach(self) -> None:
        _call("vek_sim_detach")

    def __enter__(self) -> "Sim":
        return self

    def __exit__(self, *exc: Any) -> bool:
        if _lib().vek_sim_attached() is not None:
            self.detach()
        return False


def attach(name: Optional[str] = None) -> Sim:
    """Attach the named board (None: the default board) before VEK_API_Init."""
    _call("vek_sim_attach", name.encode() if name else None)
    return Sim(_lib().vek_sim_attached().decode())
