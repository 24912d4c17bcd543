// How the EAPI IDs land on vek's exports. Data only: eapi.cpp has one small
// function per EAPI call that looks its ID up here.
#pragma once

#include <cstdint>

#include "eapi/EApi.h"

namespace eapi {

// Board strings and where vek keeps them.
enum class StringSource : uint8_t {
    PlatformName,    // VEK_Board_GetPlatformName: the baseboard product name
    SerialNumber,    // VEK_Board_GetSerialNumber
    BiosVersion,     // VEK_Board_GetBIOSVersion
    PlatformType,    // VEK_Board_GetPlatformType
    PlatformVersion, // VEK_Get_Platform_Version, shown as text
    EcRevision,      // VEK_Board_GetECInfo item 16: the EC's hardware revision letter
};

struct StringRow {
    EApiId_t id;
    StringSource source;
};

// The manufacturer string has no source: vek reports the BIOS vendor, which is
// not the board's maker, so that ID answers unsupported.
inline constexpr StringRow kStrings[] = {
    {EAPI_ID_BOARD_NAME_STR, StringSource::PlatformName},
    {EAPI_ID_BOARD_REVISION_STR, StringSource::PlatformVersion},
    {EAPI_ID_BOARD_SERIAL_STR, StringSource::SerialNumber},
    {EAPI_ID_BOARD_BIOS_REVISION_STR, StringSource::BiosVersion},
    {EAPI_ID_BOARD_HW_REVISION_STR, StringSource::EcRevision},
    {EAPI_ID_BOARD_PLATFORM_TYPE_STR, StringSource::PlatformType},
};

enum class ValueSource : uint8_t {
    EapiRevision, // the EAPI revision this library implements
    BootCounter, // VEK_Get_Boot_Counter
    VekVersion,  // VEK_API_GetVersion, as version.revision.build
    LibVersion,  // this library
    CpuTemp,     // VEK_HWM_CPUTemperature(channel)
    SysTemp,     // VEK_HWM_SysTemperature
    Voltage,     // VEK_HWM_Voltage(channel)
    Fan,         // VEK_HWM_GetFanSpeed(channel)
};

struct ValueRow {
    EApiId_t id;
    ValueSource source;
    uint32_t channel;
};

// vek numbers its monitor channels alike on every chip family that has them:
// voltage 0 is the processor core, 2 the 3.3 V rail (6.49k/10k divider), 3 the
// 5 V rail (15k/10k), 4 the 12 V rail (49.9k/10k), 6 the battery (measured on
// demand); fan 0 cools the processor, fan 1 the system. The frame sends each
// channel to whichever chip owns it on the board, so one row per ID serves
// every ChipKind and a chip without the channel answers 10 (unsupported).
// Not mapped, so unsupported everywhere: the running-time meter, the PnP ID
// and platform revision (no such data in vek), the chipset temperature (no
// sensor is named as one), 2.5 V and 5 V standby (no channel is wired to them
// on the standard rows).
inline constexpr ValueRow kValues[] = {
    {EAPI_ID_GET_EAPI_SPEC_VERSION, ValueSource::EapiRevision, 0},
    {EAPI_ID_BOARD_BOOT_COUNTER_VAL, ValueSource::BootCounter, 0},
    {EAPI_ID_BOARD_DRIVER_VERSION_VAL, ValueSource::VekVersion, 0},
    {EAPI_ID_BOARD_LIB_VERSION_VAL, ValueSource::LibVersion, 0},
    {EAPI_ID_HWMON_CPU_TEMP, ValueSource::CpuTemp, 0},
    {EAPI_ID_HWMON_SYSTEM_TEMP, ValueSource::SysTemp, 0},
    {EAPI_ID_HWMON_VOLTAGE_VCORE, ValueSource::Voltage, 0},
    {EAPI_ID_HWMON_VOLTAGE_3V3, ValueSource::Voltage, 2},
    {EAPI_ID_HWMON_VOLTAGE_5V, ValueSource::Voltage, 3},
    {EAPI_ID_HWMON_VOLTAGE_12V, ValueSource::Voltage, 4},
    {EAPI_ID_HWMON_VOLTAGE_VBAT, ValueSource::Voltage, 6},
    {EAPI_ID_HWMON_FAN_CPU, ValueSource::Fan, 0},
    {EAPI_ID_HWMON_FAN_SYSTEM, ValueSource::Fan, 1},
};

// Every value ID of the standard, for callers that list them (tests, tools).
inline constexpr EApiId_t kAllValueIds[] = {
    EAPI_ID_GET_EAPI_SPEC_VERSION, EAPI_ID_BOARD_BOOT_COUNTER_VAL, EAPI_ID_BOARD_RUNNING_TIME_METER_VAL,
    EAPI_ID_BOARD_PNPID_VAL,       EAPI_ID_BOARD_PLATFORM_REV_VAL, EAPI_ID_BOARD_DRIVER_VERSION_VAL,
    EAPI_ID_BOARD_LIB_VERSION_VAL, EAPI_ID_HWMON_CPU_TEMP,         EAPI_ID_HWMON_CHIPSET_TEMP,
    EAPI_ID_HWMON_SYSTEM_TEMP,     EAPI_ID_HWMON_VOLTAGE_VCORE,    EAPI_ID_HWMON_VOLTAGE_2V5,
    EAPI_ID_HWMON_VOLTAGE_3V3,     EAPI_ID_HWMON_VOLTAGE_VBAT,     EAPI_ID_HWMON_VOLTAGE_5V,
    EAPI_ID_HWMON_VOLTAGE_5VSB,    EAPI_ID_HWMON_VOLTAGE_12V,      EAPI_ID_HWMON_FAN_CPU,
    EAPI_ID_HWMON_FAN_SYSTEM,
};

// I2C buses. vek's numbered buses: 0 the chipset SMBus host, 1 the EC's I2C
// master, 2 and 3 the platform I2C controllers. The baseboard bus is the EC's
// master where the board has one, else the first platform controller. vek has
// no bus on a display connector, so the LVDS IDs answer unsupported.
struct BusRow {
    EApiId_t id;
    uint8_t candidates[2]; // vek bus numbers, first available wins
};

inline constexpr BusRow kBuses[] = {
    {EAPI_ID_I2C_EXTERNAL, {1, 2}},
};

inline constexpr uint8_t kEcMasterBus = 1;   // the only bus with 16-bit register transfers
inline constexpr uint32_t kMaxBlockLength = 32; // data bytes per vek bus transaction

// GPIO numbering: EAPI GPIO n is vek set n / 8 + 1, pin n % 8 + 1, whether or
// not the set has all eight pins (so numbers stay put when a set is short).
// Bank k holds GPIOs 32k .. 32k + 31: sets 4k + 1 .. 4k + 4.
inline constexpr uint32_t kPinsPerSet = 8;
inline constexpr uint32_t kBankWidth = 32;
inline constexpr EApiId_t kBankBase = 0x10000;
inline constexpr EApiId_t kBankLast = 0x1FFFF;

// User storage: vek's area 0 is EAPI_ID_STORAGE_STD; its EC writes byte by byte.
inline constexpr EApiId_t kStorageId = EAPI_ID_STORAGE_STD;
inline constexpr uint32_t kStorageArea = 0;
inline constexpr uint32_t kStorageBlockLength = 1;

// Backlight: vek's display 0 is EAPI_ID_BACKLIGHT_1; vek holds brightness in percent.
inline constexpr EApiId_t kBacklightId = EAPI_ID_BACKLIGHT_1;
inline constexpr uint32_t kVekDisplay = 0;
inline constexpr uint32_t kVekBrightnessMax = 100;

} // namespace eapi
