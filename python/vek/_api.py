"""The 88 exports of libvek: C parameter types and how Python sees each one.

A parameter is one of
  In(t)          a value the caller passes
  Out(t)         a pointer the library fills; its value is returned
  InOut(t)       a pointer the caller may preset (keyword, default 0); returned after the call
  Text()         an 80-byte text buffer the library fills; returned as str
  Data(length)   a byte buffer: the caller passes bytes to send or an int (bytes to
                 receive); its contents are returned. `length` names the parameter that
                 carries the size, which the binding fills in.
  Array(t, n)    n values the library fills; returned as a list
  ArrayIn(t, n)  a list the caller passes, n cells long in C
"""
import ctypes
from ctypes import c_double, c_int32, c_uint8, c_uint16, c_uint32


class In:
    def __init__(self, name, ctype):
        self.name, self.ctype = name, ctype


class Out(In):
    pass


class InOut(In):
    pass


class Text:
    ctype = ctypes.c_char_p
    size = 80

    def __init__(self, name="text"):
        self.name = name


class Data:
    ctype = ctypes.POINTER(c_uint8)

    def __init__(self, name, length, size=None, min_size=0):
        # min_size: bytes the library may write whatever the count (a block read's count byte and data)
        self.name, self.length, self.size, self.min_size = name, length, size, min_size


class Array:
    def __init__(self, name, ctype, count):
        self.name, self.ctype, self.count = name, ctype, count


class ArrayIn:
    """A list the caller passes: `count` cells reach the library (zero-padded);
    exact: the caller must give exactly that many."""

    def __init__(self, name, ctype, count, exact=False):
        self.name, self.ctype, self.count, self.exact = name, ctype, count, exact


# Sizes the binding fills in from a Data parameter (never passed by the caller).
class Length(In):
    pass


u8, u16, u32, i32, f64 = c_uint8, c_uint16, c_uint32, c_int32, c_double
SMARTFAN_POINTS = 8   # the longest curve a fan controller reports
SMARTFAN_TEMPERATURES = 4  # VEK_HWM_SetSmartfan's uint8_t a: four temperature bytes
SMART_BATTERY_BYTES = 32

FUNCTIONS = [
    # API and board identity
    ("API_Init", []),
    ("API_Uninit", []),
    ("API_GetVersion", [Text()]),
    ("API_SetIOSleepTime", [In("microseconds", i32)]),
    ("Board_GetBIOSVersion", [Text()]),
    ("Board_GetPlatformName", [Text()]),
    ("Board_GetBIOSVendor", [Text()]),
    ("Board_GetECVersion", [Text()]),
    ("Board_GetECInfo", [In("item", i32), Text()]),
    ("Board_GetSerialNumber", [Text()]),
    ("Board_GetPlatformType", [Text()]),
    ("Get_Boot_Counter", [Out("count", u32)]),
    ("Get_Platform_Version", [Out("version", u32)]),
    # GPIO
    ("GPIO_TotalSet", [Out("count", u32)]),
    ("GPIO_TotalNumber", [In("set", i32), Out("count", u32)]),
    ("GPIO_SetDirection", [In("set", i32), In("mask", u8)]),
    ("GPIO_SetPinDirection", [In("set", i32), In("pin", i32), In("direction", u8)]),
    ("GPIO_ReadDirection", [In("set", i32), Out("mask", u8)]),
    ("GPIO_ReadPinDirection", [In("set", i32), In("pin", i32), Out("direction", u8)]),
    ("GPIO_Read", [In("set", i32), Out("value", u8)]),
    ("GPIO_ReadPin", [In("set", i32), In("pin", i32), Out("value", u8)]),
    ("GPIO_Write", [In("set", i32), In("value", u8)]),
    ("GPIO_WritePin", [In("set", i32), In("pin", i32), In("value", u8)]),
    # Watchdog
    ("WDT_Available", []),
    ("WDT_GetRange", [In("unit", u32), Out("min", u8), Out("max", u8)]),
    ("WDT_SetConfig", [In("unit", u32), In("count", u8)]),
    ("WDT_GetConfig", [Out("unit", u32), Out("count", u8)]),
    ("WDT_Trigger", []),
    ("WDT_Disable", []),
    # Hardware monitor, fans, speaker
    ("HWM_CPUTemperature", [In("index", u32), Out("value", f64)]),
    ("HWM_SysTemperature", [Out("value", f64)]),
    ("HWM_Temperature", [In("sensor", u32), Out("value", f64)]),
    ("HWM_Voltage", [In("index", u32), Out("value", f64)]),
    ("HWM_Current", [In("index", u32), Out("value", f64)]),
    ("HWM_GetFanSpeed", [In("fan", u32), Out("rpm", u32)]),
    ("HWM_SetFanSpeed", [In("fan", u32), In("percent", i32)]),
    ("HWM_GetSmartfan", [In("fan", u32), Out("mode", u32), Array("a", u32, SMARTFAN_POINTS),
                         Array("b", u32, SMARTFAN_POINTS), Array("c", u32, SMARTFAN_POINTS)]),
    ("HWM_SetSmartfan", [In("fan", u32), In("mode", i32), ArrayIn("a", u8, SMARTFAN_TEMPERATURES, exact=True),
                         ArrayIn("b", i32, SMARTFAN_POINTS), In("c", i32)]),
    ("HWM_Smartfan_Enable", [In("fan", u32)]),
    ("HWM_Smartfan_Disable", [In("fan", u32)]),
    ("HWM_SetMetronome", [In("bpm", i32)]),
    ("HWM_PlayNote", [In("octave", u32), In("degree", u32), In("sharp", u32), In("beats", f64)]),
    ("HWM_SetBeep", [In("hz", f64), In("seconds", i32)]),
    ("HWM_StartBeep", [In("hz", f64)]),
    ("HWM_StopBeep", []),
    # Chipset SMBus (8-bit address byte)
    ("SMBus_Available", []),
    ("SMBus_ByteData", [In("direction", i32), In("address", u8), In("command", u8), InOut("data", u8)]),
    ("SMBus_WordData", [In("direction", i32), In("address", u8), In("command", u8), InOut("data", u32)]),
    ("SMBus_ProcessCall", [In("address", u8), In("command", u8), InOut("sent", u32), Out("received", u32)]),
    ("SMBus_Block", [In("direction", i32), In("address", u8), In("command", u8), Length("count", i32),
                     Data("data", "count", min_size=33)]),
    ("SMBus_Read_EEPROM", [In("address", u8), In("offset", u16), Length("count", i32), Data("data", "count")]),
    ("SMBus_Write_EEPROM", [In("address", u8), In("offset", u16), Length("count", i32), Data("data", "count")]),
    ("SMBus_SendReceive", [In("direction", i32), In("address", u8), InOut("data", u8)]),
    # Numbered I2C buses (7-bit address)
    ("I2C_Quick", [In("direction", u32), In("bus", u8), In("address", u8)]),
    ("I2C_ByteData", [In("direction", u32), In("bus", u8), In("address", u8), In("command", u32), InOut("data", u8)]),
    ("I2C_WordData", [In("direction", u32), In("bus", u8), In("address", u8), In("command", u32), InOut("data", u32)]),
    ("I2C_SendReceive", [In("direction", u32), In("bus", u8), In("address", u8), InOut("data", u8)]),
    ("I2C_SMBusBlock", [In("direction", u32), In("bus", u8), In("address", u8), In("command", u32),
                        InOut("count", i32), Data("data", None, size=32, min_size=33)]),
    ("I2C_SMBusI2CBlock", [In("direction", u32), In("bus", u8), In("address", u8), In("command", u32),
                           Length("count", u32), Data("data", "count")]),
    # The EC's I2C master
    ("EC_IIC_Word_Addr_Write", [In("address", u8), In("reg", u32), Data("data", "length"), Length("length", i32)]),
    ("EC_IIC_Word_Addr_Read", [In("address", u8), In("reg", u32), Data("data", "length"), Length("length", i32)]),
    ("EC_IIC_Byte_Addr_Write", [In("address", u8), In("reg", u32), Data("data", "length"), Length("length", i32)]),
    ("EC_IIC_Byte_Addr_Read", [In("address", u8), In("reg", u32), Data("data", "length"), Length("length", i32)]),
    ("EC_IIC_Set_Frequency", [In("frequency", i32)]),
    ("EC_IIC_Quick_Read", [In("address", u8), In("unused", u32)]),
    ("EC_IIC_Quick_Write", [In("address", u8), In("unused", u32)]),
    ("EC_IIC_Receive_Byte", [In("address", u8), Out("data", u8)]),
    ("EC_IIC_Send_Byte", [In("address", u8), In("data", u32)]),
    # Backlight and screen
    ("BLC_Read_Brightness", [In("display", u32), Out("level", u8)]),
    ("BLC_Set_Brightness", [In("display", u32), In("level", u8)]),
    ("BLC_Change_Brightness", [In("step", u32)]),
    ("Screen_Set", [In("screen", u32), In("on", u8)]),
    # Embedded-controller board functions
    ("EC_SmartBattery", [In("device", u8), In("command", u8), Data("data", None, size=SMART_BATTERY_BYTES)]),
    ("EC_SMF_Config", [In("a", u32), In("b", u32), In("c", i32)]),
    ("EC_SMF_Enable", []),
    ("EC_SMF_Disable", []),
    ("EC_SMF_GetConfig", [Out("a", u32), Out("b", u32), Out("c", u32), Out("d", u32)]),
    ("LANBYPASS_Mode_Set", [In("segment", i32), In("item", u32), In("value", i32)]),
    ("LANBYPASS_Mode_Get", [In("segment", u32), In("item", u32), Out("value", u32)]),
    ("LANBYPASS_WDT_Trigger", [In("segment", i32)]),
    ("LANBYPASS_WDT_Disable", [In("segment", i32)]),
    ("LED_Set", [In("led", u32), In("value", u32)]),
    ("LED_Get", [In("led", u32), Out("value", u32)]),
    ("Button_Get", [In("button", u32), Out("state", u32)]),
    ("StorageArea_Capacity", [In("area", u32), Out("size", u32)]),
    ("StorageArea_Write", [In("area", u32), In("offset", u32), Data("data", "length"), Length("length", i32)]),
    ("StorageArea_Read", [In("area", u32), In("offset", u32), Data("data", "length"), Length("length", i32)]),
    ("PMBus_Get", [In("supply", u32), In("item", i32), Out("value", u32)]),
]

assert len(FUNCTIONS) == 88, len(FUNCTIONS)


def c_argtypes(params):
    """The ctypes argument list of one export."""
    types = []
    for p in params:
        if isinstance(p, (Out, InOut)):
            types.append(ctypes.POINTER(p.ctype))
        elif isinstance(p, (In, Length)):
            types.append(p.ctype)
        elif isinstance(p, Text):
            types.append(ctypes.c_char_p)
        elif isinstance(p, Data):
            types.append(ctypes.POINTER(c_uint8))
        elif isinstance(p, (Array, ArrayIn)):
            types.append(ctypes.POINTER(p.ctype))
    return types
