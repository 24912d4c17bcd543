"""The vek package against simulated boards (VEK_LIBRARY_PATH names the build's library directory)."""
import pathlib
import re

import pytest

import vek
from vek import _api

HEADER = pathlib.Path(__file__).resolve().parents[2] / "include" / "vek" / "vek.h"


@pytest.fixture
def board():
    with vek.sim.attach() as s, vek.Board() as b:
        b.sim = s
        yield b


def header_exports():
    """{name: [is_pointer per parameter]} from the public header."""
    text = HEADER.read_text()
    out = {}
    for name, params in re.findall(r"VEK_CALL VEK_(\w+)\(([^)]*)\);", text):
        params = params.strip()
        out[name] = [] if params == "void" else ["*" in p for p in params.split(",")]
    return out


def test_table_matches_every_export_of_the_header():
    header = header_exports()
    table = dict(_api.FUNCTIONS)
    assert set(table) == set(header)
    for name, params in table.items():
        pointers = [isinstance(p, (_api.Out, _api.InOut, _api.Text, _api.Data, _api.Array, _api.ArrayIn))
                    for p in params]
        assert pointers == header[name], name


def test_every_export_is_typed_in_the_library():
    lib = vek.library()
    for name, params in _api.FUNCTIONS:
        assert len(getattr(lib, "VEK_" + name).argtypes) == len(params), name


def test_board_context_initialises_and_uninitialises():
    with vek.sim.attach():
        with vek.Board() as b:
            assert b.Board_GetPlatformName() == vek.sim.default_board()
        with pytest.raises(vek.VekError) as e:
            b.GPIO_TotalSet()
        assert (e.value.code, e.value.name) == (6, "NOT_INITIALISED")


def test_board_with_sim_name_attaches_and_detaches():
    name = vek.sim.boards()[3]
    with vek.Board(sim=name) as b:
        assert b.simulator.name == name
    # detached again: a new board can be attached
    vek.sim.attach().detach()


@pytest.mark.parametrize("call, args, code, name", [
    ("HWM_Current", (0,), 10, "UNSUPPORTED"),
    ("GPIO_ReadPin", (1, 99), 7, "ARGUMENT"),
    ("WDT_GetRange", (5,), 7, "ARGUMENT"),
])
def test_failures_raise_with_code_and_name(board, call, args, code, name):
    with pytest.raises(vek.VekError) as e:
        getattr(board, call)(*args)
    assert (e.value.code, e.value.name, e.value.function) == (code, name, call)


@pytest.mark.parametrize("call, args, error", [
    ("GPIO_WritePin", (1, 5, 256), ValueError),        # u8 would wrap to 0
    ("GPIO_WritePin", (1, 2**32 + 5, 1), ValueError),  # i32 would wrap to pin 5
    ("HWM_SetFanSpeed", (-1, 50), ValueError),         # u32
    ("GPIO_ReadPin", (1,), TypeError),                 # missing pin
    ("GPIO_ReadPin", (1, 2, 3), TypeError),            # out-pointer is not an argument
    ("GPIO_WritePin", (1, "5", 1), TypeError),
])
def test_arguments_the_c_type_cannot_hold_are_refused(board, call, args, error):
    with pytest.raises(error):
        getattr(board, call)(*args)


def test_values_are_returned_not_out_pointers(board):
    assert isinstance(board.API_GetVersion(), str)
    lo, hi = board.WDT_GetRange(0)
    assert 0 < lo <= hi
    board.WDT_SetConfig(0, 7)
    assert board.WDT_GetConfig() == (0, 7)
    assert board.GPIO_TotalSet() >= 1


def test_eeprom_bytes_round_trip(board):
    address = 0x57 << 1
    board.SMBus_Write_EEPROM(address, 0x120, b"\x01\x02\xfe")
    assert board.SMBus_Read_EEPROM(address, 0x120, 3) == b"\x01\x02\xfe"


def test_cpu_temperature_knob_reaches_the_library(board):
    board.sim.set_temperature(vek.sim.TEMP_CPU, 0, 81.0)
    assert board.HWM_CPUTemperature(0) == 81.0


# One board per fan and sensor chip the knobs reach: the EC and the kind-5 Super I/O.
@pytest.mark.parametrize("name", [None, "FMQ-333"])
def test_board_temperature_and_stalled_fan_knobs(name):
    with vek.Board(sim=name or "") as b:
        b.simulator.set_temperature(vek.sim.TEMP_BOARD, 0, 71)
        assert b.HWM_Temperature(0) == 71.0
        assert b.HWM_GetFanSpeed(0) > 0
        b.simulator.set_fan_stalled(0)
        assert b.HWM_GetFanSpeed(0) == 0
        b.simulator.set_fan_stalled(0, False)
        assert b.HWM_GetFanSpeed(0) > 0


def test_gpio_input_knob_drives_inputs_only(board):
    level = board.GPIO_ReadPin(1, 1)
    board.sim.set_gpio_input(1, 1, not level)
    assert board.GPIO_ReadPin(1, 1) == (0 if level else 1)
    with pytest.raises(vek.VekError) as e:
        board.sim.set_gpio_input(1, 5, 1)  # pin 5 is an output
    assert e.value.name == "STATE"


def test_busy_ec_fails_command_channel_transfers(board):
    # The EC's I2C master is started through the command port, which a busy EC never takes.
    board.EC_IIC_Byte_Addr_Read(0xA0, 0, 1)
    board.sim.inject_fault(vek.sim.FAULT_EC_BUSY)
    with pytest.raises(vek.VekError) as e:
        board.EC_IIC_Byte_Addr_Read(0xA0, 0, 1)
    assert e.value.code & 0x800 and e.value.name.startswith("EC_I2C_READ_STATUS_")
    board.sim.inject_fault(vek.sim.FAULT_EC_BUSY, False)
    board.EC_IIC_Byte_Addr_Read(0xA0, 0, 1)


@pytest.mark.parametrize("fault, code", [
    (vek.sim.FAULT_DRIVER_MISSING, 2),
    (vek.sim.FAULT_NOT_ELEVATED, 12),
])
def test_init_faults(fault, code):
    with vek.sim.attach() as s:
        s.inject_fault(fault)
        with pytest.raises(vek.VekError) as e:
            with vek.Board():
                pass
        assert e.value.code == code


def test_attach_refuses_unknown_names_and_double_attach():
    with pytest.raises(vek.VekError) as e:
        vek.sim.attach("NO SUCH BOARD")
    assert e.value.code == 7
    with vek.sim.attach():
        with pytest.raises(vek.VekError) as e:
            vek.sim.attach()
        assert e.value.code == 14


# The monitor registers float to 0xFF: what that reads as depends on the chip's scaling.
# Before the every-board test: the kind-1 Super I/O backend keeps its configuration
# port across VEK_API_Uninit, so a kind-1 board brought up after another reads elsewhere.
@pytest.mark.parametrize("name, floating_celsius", [("FMQ-333", 255.0), ("HLS-125", 510.0)])
def test_silent_superio_reads_float_high(name, floating_celsius):
    with vek.Board(sim=name) as b:
        assert b.HWM_Temperature(0) < 100
        b.simulator.inject_fault(vek.sim.FAULT_SUPERIO_SILENT)
        assert b.HWM_Temperature(0) == floating_celsius
        assert b.HWM_GetFanSpeed(0) == 0  # the tachometer count floats too: no rotation
        b.simulator.inject_fault(vek.sim.FAULT_SUPERIO_SILENT, False)
        assert b.HWM_Temperature(0) < 100


def test_superio_fault_needs_a_superio():
    with vek.sim.attach() as s:  # the default board is an EC board
        with pytest.raises(vek.VekError) as e:
            s.inject_fault(vek.sim.FAULT_SUPERIO_SILENT)
        assert e.value.name == "UNSUPPORTED"


def test_every_board_comes_up():
    names = vek.sim.boards()
    assert len(names) == 220
    for name in names:
        with vek.Board(sim=name) as b:
            assert b.API_GetVersion()


def test_ec_i2c_status_codes_have_names():
    assert vek.result_name(0x804) == "EC_I2C_READ_STATUS_0x04"
    assert str(vek.VekError(0x804, "EC_IIC_Byte_Addr_Read")).endswith("EC_I2C_READ_STATUS_0x04")


# ---- transfers say their direction ----

@pytest.mark.parametrize("call, args, kwargs", [
    ("SMBus_ByteData", (0, 0xAE, 0), {}),            # write without data: used to write 0
    ("SMBus_WordData", (0, 0xAE, 0), {}),
    ("SMBus_SendReceive", (0, 0xAE), {}),
    ("I2C_ByteData", (0, 0, 0x57, 0), {}),
    ("I2C_SMBusBlock", (0, 0, 0x57, 0), {"data": b"\x01"}),  # the count is part of a block write
    ("SMBus_ProcessCall", (0xAE, 0), {}),            # a process call always sends a word
    ("SMBus_ByteData", (1, 0xAE, 0), {"data": 5}),   # a read takes no data
    ("I2C_WordData", (1, 0, 0x57, 0), {"data": 5}),
    ("SMBus_Write_EEPROM", (0xAE, 0, 3), {}),        # a count is no data to write
    ("EC_IIC_Byte_Addr_Write", (0xA0, 0, 2), {}),
    ("StorageArea_Write", (0, 0, 4), {}),
    ("SMBus_Read_EEPROM", (0xAE, 0, b"abc"), {}),    # a read takes a count
])
def test_transfers_make_their_direction_explicit(board, call, args, kwargs):
    with pytest.raises(TypeError):
        getattr(board, call)(*args, **kwargs)


def test_a_write_with_data_and_a_read_without_reach_the_library(board):
    address = 0x57 << 1
    board.SMBus_Write_EEPROM(address, 0x40, b"\x5a")
    assert board.SMBus_Read_EEPROM(address, 0x40, 1) == b"\x5a"
    assert isinstance(board.I2C_SendReceive(1, 0, 0x57), int)


@pytest.mark.parametrize("temperatures, ok", [([40, 50, 60, 70], True), ([40, 50, 60], False),
                                              ([40, 50, 60, 70, 80], False), ([40, 50, 60, 256], False)])
def test_smartfan_temperatures_are_exactly_four_bytes(board, temperatures, ok):
    try:
        board.HWM_SetSmartfan(0, 1, temperatures, [20, 100], 0)
    except vek.VekError:
        assert ok  # the library's answer; the binding passed it on
    except ValueError:
        assert not ok
    else:
        assert ok


# ---- one initialisation for every Board ----

def test_closing_an_inner_board_keeps_the_outer_one():
    with vek.Board(sim="") as outer:
        with vek.Board() as inner:
            assert inner.GPIO_TotalSet() >= 1
        assert outer.GPIO_TotalSet() >= 1          # used to answer 6: the inner exit uninitialised
        assert outer.simulator is not None
    with pytest.raises(vek.VekError) as e:
        outer.GPIO_TotalSet()
    assert e.value.code == 6


def test_boards_in_threads_share_the_library():
    import threading
    errors = []

    def worker():
        try:
            for _ in range(30):
                with vek.Board() as b:
                    b.HWM_CPUTemperature(0)
        except Exception as e:  # noqa: BLE001
            errors.append(e)

    with vek.sim.attach():
        threads = [threading.Thread(target=worker) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    assert errors == []


def test_a_second_simulated_board_cannot_open_beside_the_first():
    names = vek.sim.boards()
    with vek.Board(sim=names[1]):
        with pytest.raises(RuntimeError):
            vek.Board(sim=names[2]).__enter__()
        with vek.Board(sim=names[1]) as same:
            assert same.Board_GetPlatformName()


# ---- a package as Python users expect ----

def test_version_type_marker_and_signatures():
    pyproject = (pathlib.Path(__file__).resolve().parents[1] / "pyproject.toml").read_text()
    assert 'version = "%s"' % vek.__version__ in pyproject
    assert (pathlib.Path(vek.__file__).parent / "py.typed").is_file()
    import inspect
    import pydoc
    assert str(inspect.signature(vek.Board.GPIO_ReadPin)) == "(self, set: int, pin: int) -> int"
    assert str(inspect.signature(vek.Board.HWM_CPUTemperature)) == "(self, index: int) -> float"
    assert "WDT_GetRange(self, unit: int) -> Tuple[int, int]" in pydoc.render_doc(vek.Board, renderer=pydoc.plaintext)
