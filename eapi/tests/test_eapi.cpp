// The EAPI library on simulated boards, through its exports only (and vek's,
// to see what the board did). Each test runs in its own process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "eapi/EApi.h"
#include "eapi/mapping.h"
#include "platform/platform_table.h"
#include "vek/sim.h"
#include "vek/vek.h"

namespace {

using vek::kPlatformTable;
using vek::PlatformEntry;

std::string NameOf(const PlatformEntry& row) { return std::string(row.name, strnlen(row.name, sizeof row.name)); }

// Rows a simulated board is built from: named, and the first row of that name.
std::vector<const PlatformEntry*> BoardRows() {
    std::vector<const PlatformEntry*> rows;
    for (const PlatformEntry& row : kPlatformTable) {
        if (row.name[0] == '\0') continue;
        bool first = true;
        for (const PlatformEntry* seen : rows) first = first && NameOf(*seen) != NameOf(row);
        if (first) rows.push_back(&row);
    }
    return rows;
}

const PlatformEntry& RowWhere(const std::function<bool(const PlatformEntry&)>& pred) {
    for (const PlatformEntry* row : BoardRows())
        if (pred(*row)) return *row;
    throw std::runtime_error("no such board");
}

class EApiTest : public ::testing::Test {
protected:
    void Open(const std::string& board) {
        setenv("VEK_SIM_BOARD", board.c_str(), 1);
        ASSERT_EQ(EApiLibInitialize(), EAPI_STATUS_SUCCESS) << board;
    }
    void Open(const PlatformEntry& row) { Open(NameOf(row)); }
    void TearDown() override { EApiLibUnInitialize(); }
};

// ---- library lifecycle ----

using Call = std::function<EApiStatus_t()>;

std::vector<std::pair<const char*, Call>> EveryCall() {
    static uint32_t u;
    static uint8_t bytes[8];
    static char text[8];
    return {
        {"GetStringA", [] { u = sizeof text; return EApiBoardGetStringA(EAPI_ID_BOARD_NAME_STR, text, &u); }},
        {"GetValue", [] { return EApiBoardGetValue(EAPI_ID_GET_EAPI_SPEC_VERSION, &u); }},
        {"GetBacklightEnable", [] { return EApiVgaGetBacklightEnable(EAPI_ID_BACKLIGHT_1, &u); }},
        {"SetBacklightEnable", [] { return EApiVgaSetBacklightEnable(EAPI_ID_BACKLIGHT_1, EAPI_BACKLIGHT_SET_ON); }},
        {"GetBacklightBrightness", [] { return EApiVgaGetBacklightBrightness(EAPI_ID_BACKLIGHT_1, &u); }},
        {"SetBacklightBrightness", [] { return EApiVgaSetBacklightBrightness(EAPI_ID_BACKLIGHT_1, 10); }},
        {"StorageCap", [] { return EApiStorageCap(EAPI_ID_STORAGE_STD, &u, &u); }},
        {"StorageAreaRead", [] { return EApiStorageAreaRead(EAPI_ID_STORAGE_STD, 0, bytes, 1, 1); }},
        {"StorageAreaWrite", [] { return EApiStorageAreaWrite(EAPI_ID_STORAGE_STD, 0, bytes, 1); }},
        {"I2CGetBusCap", [] { return EApiI2CGetBusCap(EAPI_ID_I2C_EXTERNAL, &u); }},
        {"I2CWriteReadRaw", [] { return EApiI2CWriteReadRaw(EAPI_ID_I2C_EXTERNAL, 0xA0, bytes, 2, bytes, 1, 2); }},
        {"I2CReadTransfer", [] { return EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, 0xA0, 0, bytes, 1, 1); }},
        {"I2CWriteTransfer", [] { return EApiI2CWriteTransfer(EAPI_ID_I2C_EXTERNAL, 0xA0, 0, bytes, 1); }},
        {"I2CProbeDevice", [] { return EApiI2CProbeDevice(EAPI_ID_I2C_EXTERNAL, 0xA0); }},
        {"WDogGetCap", [] { return EApiWDogGetCap(&u, &u, &u); }},
        {"WDogStart", [] { return EApiWDogStart(0, 0, 1000); }},
        {"WDogTrigger", [] { return EApiWDogTrigger(); }},
        {"WDogStop", [] { return EApiWDogStop(); }},
        {"GPIOGetDirectionCaps", [] { return EApiGPIOGetDirectionCaps(EAPI_ID_GPIO_BANK00, &u, &u); }},
        {"GPIOGetDirection", [] { return EApiGPIOGetDirection(EAPI_ID_GPIO_BANK00, 1, &u); }},
        {"GPIOSetDirection", [] { return EApiGPIOSetDirection(EAPI_ID_GPIO_BANK00, 1, 1); }},
        {"GPIOGetLevel", [] { return EApiGPIOGetLevel(EAPI_ID_GPIO_BANK00, 1, &u); }},
        {"GPIOSetLevel", [] { return EApiGPIOSetLevel(EAPI_ID_GPIO_BANK00, 1, 0); }},
    };
}

TEST_F(EApiTest, EveryCallAnswersNotInitialisedBeforeInitialiseAndAfterUninitialise) {
    for (const auto& [name, call] : EveryCall()) EXPECT_EQ(call(), EAPI_STATUS_NOT_INITIALIZED) << name;
    EXPECT_EQ(EApiLibUnInitialize(), EAPI_STATUS_NOT_INITIALIZED);
    Open(vek_sim_default_board());
    EXPECT_EQ(EApiLibInitialize(), EAPI_STATUS_INITIALIZED);
    EXPECT_EQ(EApiLibUnInitialize(), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(EApiLibUnInitialize(), EAPI_STATUS_NOT_INITIALIZED);
    for (const auto& [name, call] : EveryCall()) EXPECT_EQ(call(), EAPI_STATUS_NOT_INITIALIZED) << name;
    // And the simulated board was handed back: it can be attached again.
    Open(vek_sim_default_board());
}

TEST_F(EApiTest, UnknownSimulatedBoardLeavesTheLibraryUninitialised) {
    setenv("VEK_SIM_BOARD", "NO-SUCH-BOARD-42", 1);
    EXPECT_EQ(EApiLibInitialize(), EAPI_STATUS_UNSUPPORTED);
    EXPECT_EQ(vek_sim_attached(), nullptr);
    uint32_t v = 0;
    EXPECT_EQ(EApiBoardGetValue(EAPI_ID_GET_EAPI_SPEC_VERSION, &v), EAPI_STATUS_NOT_INITIALIZED);
}

// ---- board strings ----

TEST_F(EApiTest, StringBufferLengthContract) {
    const std::string board = vek_sim_default_board();
    Open(board);
    const uint32_t needed = uint32_t(board.size()) + 1;
    struct Case {
        const char* what;
        bool nullBuffer;
        uint32_t length;
        EApiStatus_t status;
        uint32_t lengthOut;
        std::string text;
    } cases[] = {
        {"exact", false, needed, EAPI_STATUS_SUCCESS, needed, board},
        {"roomy", false, 200, EAPI_STATUS_SUCCESS, needed, board},
        {"one short: terminator does not fit", false, needed - 1, EAPI_STATUS_MORE_DATA, needed,
         board.substr(0, needed - 2)},
        {"one byte", false, 1, EAPI_STATUS_MORE_DATA, needed, ""},
        {"length query", true, 0, EAPI_STATUS_MORE_DATA, needed, "unchanged"},
        {"null buffer with a length", true, 5, EAPI_STATUS_INVALID_PARAMETER, 5, "unchanged"},
    };
    for (const Case& c : cases) {
        char buffer[256];
        std::strcpy(buffer, "unchanged");
        uint32_t length = c.length;
        EXPECT_EQ(EApiBoardGetStringA(EAPI_ID_BOARD_NAME_STR, c.nullBuffer ? nullptr : buffer, &length), c.status)
            << c.what;
        EXPECT_EQ(length, c.lengthOut) << c.what;
        EXPECT_EQ(std::string(buffer), c.text) << c.what;
    }
    char buffer[8];
    EXPECT_EQ(EApiBoardGetStringA(EAPI_ID_BOARD_NAME_STR, buffer, nullptr), EAPI_STATUS_INVALID_PARAMETER);
    uint32_t length = sizeof buffer;
    EXPECT_EQ(EApiBoardGetStringA(EAPI_ID_BOARD_MANUFACTURER_STR, buffer, &length), EAPI_STATUS_UNSUPPORTED);
    EXPECT_EQ(EApiBoardGetStringA(7, buffer, &length), EAPI_STATUS_UNSUPPORTED);
}

TEST_F(EApiTest, StringsCarryVeksIdentity) {
    Open(vek_sim_default_board());
    struct Case {
        EApiId_t id;
        VEK_RESULT (*vek)(char*);
    } cases[] = {
        {EAPI_ID_BOARD_NAME_STR, VEK_Board_GetPlatformName},
        {EAPI_ID_BOARD_SERIAL_STR, VEK_Board_GetSerialNumber},
        {EAPI_ID_BOARD_BIOS_REVISION_STR, VEK_Board_GetBIOSVersion},
        {EAPI_ID_BOARD_PLATFORM_TYPE_STR, VEK_Board_GetPlatformType},
    };
    for (const Case& c : cases) {
        char expected[80] = {}, text[128] = {};
        uint32_t length = sizeof text;
        ASSERT_EQ(c.vek(expected), VEK_OK);
        EXPECT_EQ(EApiBoardGetStringA(c.id, text, &length), EAPI_STATUS_SUCCESS) << c.id;
        EXPECT_STREQ(text, expected) << c.id;
        EXPECT_EQ(length, std::strlen(expected) + 1) << c.id;
    }
}

// ---- board values ----

TEST_F(EApiTest, ValueUnitsAndFixedValues) {
    Open(vek_sim_default_board());
    uint32_t v = 0;
    EXPECT_EQ(EApiBoardGetValue(EAPI_ID_HWMON_CPU_TEMP, nullptr), EAPI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(EApiBoardGetValue(0x12345, &v), EAPI_STATUS_UNSUPPORTED);
    ASSERT_EQ(EApiBoardGetValue(EAPI_ID_GET_EAPI_SPEC_VERSION, &v), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(v, 0x01000000u);
    ASSERT_EQ(EApiBoardGetValue(EAPI_ID_BOARD_DRIVER_VERSION_VAL, &v), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(v, EAPI_VER_CREATE(5, 0, 1)); // vek 5.0.1.<date>
    // Temperatures in tenths of a kelvin, rounded to the nearest tenth.
    const struct {
        double celsius;
        uint32_t deciKelvin;
    } temps[] = {{91.0, 3641}, {0.0, 2731}, {-20.5, 2526}, {37.25, 3104}};
    for (const auto& t : temps) {
        ASSERT_EQ(vek_sim_set_temperature(VEK_SIM_TEMP_CPU, 0, t.celsius), VEK_OK);
        ASSERT_EQ(EApiBoardGetValue(EAPI_ID_HWMON_CPU_TEMP, &v), EAPI_STATUS_SUCCESS) << t.celsius;
        double vekC = 0;
        ASSERT_EQ(VEK_HWM_CPUTemperature(0, &vekC), VEK_OK);
        EXPECT_EQ(int64_t(v), std::llround(vekC * 10) + 2731) << t.celsius;
    }
    // A seized fan reads 0 rpm, which is a reading, not a failure.
    ASSERT_EQ(vek_sim_set_fan_stalled(0, 1), VEK_OK);
    ASSERT_EQ(EApiBoardGetValue(EAPI_ID_HWMON_FAN_CPU, &v), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(v, 0u);
}

// On every board each value ID is served exactly when vek serves its channel,
// and the mapped-out IDs never are.
TEST_F(EApiTest, EveryBoardServesAValueExactlyWhenVekServesItsChannel) {
    for (const PlatformEntry* row : BoardRows()) {
        Open(*row);
        for (EApiId_t id : eapi::kAllValueIds) {
            uint32_t v = 0;
            const EApiStatus_t s = EApiBoardGetValue(id, &v);
            const eapi::ValueRow* map = nullptr;
            for (const eapi::ValueRow& r : eapi::kValues)
                if (r.id == id) map = &r;
            if (map == nullptr) {
                EXPECT_EQ(s, EAPI_STATUS_UNSUPPORTED) << NameOf(*row) << " " << std::hex << id;
                continue;
            }
            double d = 0;
            uint32_t n = 0;
            VEK_RESULT vekResult = VEK_OK;
            switch (map->source) {
            case eapi::ValueSource::Voltage: vekResult = VEK_HWM_Voltage(map->channel, &d); break;
            case eapi::ValueSource::Fan: vekResult = VEK_HWM_GetFanSpeed(map->channel, &n); break;
            case eapi::ValueSource::CpuTemp: vekResult = VEK_HWM_CPUTemperature(map->channel, &d); break;
            case eapi::ValueSource::SysTemp: vekResult = VEK_HWM_SysTemperature(&d); break;
            case eapi::ValueSource::BootCounter: vekResult = VEK_Get_Boot_Counter(&n); break;
            default: break;
            }
            const EApiStatus_t expected = vekResult == VEK_OK ? EAPI_STATUS_SUCCESS
                                          : vekResult == VEK_ERR_UNSUPPORTED ? EAPI_STATUS_UNSUPPORTED
                                                                             : s;
            EXPECT_EQ(s, expected) << NameOf(*row) << " " << std::hex << id << " vek " << std::dec << vekResult;
            if (s == EAPI_STATUS_SUCCESS && map->source == eapi::ValueSource::Voltage) {
                EXPECT_EQ(int64_t(v), std::llround(d * 1000)) << NameOf(*row) << " " << std::hex << id;
            }
        }
        EApiLibUnInitialize();
    }
}

// The first board on which probe() holds once the library is up on it.
std::string FirstBoardWith(const std::function<bool()>& probe) {
    for (const PlatformEntry* row : BoardRows()) {
        setenv("VEK_SIM_BOARD", NameOf(*row).c_str(), 1);
        if (EApiLibInitialize() != EAPI_STATUS_SUCCESS) continue;
        const bool found = probe();
        EApiLibUnInitialize();
        if (found) return NameOf(*row);
    }
    return {};
}

// ---- storage ----

TEST_F(EApiTest, StorageAreaContract) {
    Open(RowWhere([](const PlatformEntry& r) { return r.boardId == 122; }));
    uint32_t size = 0, block = 0;
    ASSERT_EQ(EApiStorageCap(EAPI_ID_STORAGE_STD, &size, &block), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(block, 1u);
    EXPECT_EQ(EApiStorageCap(EAPI_ID_STORAGE_STD, nullptr, nullptr), EAPI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(EApiStorageCap(1, &size, nullptr), EAPI_STATUS_UNSUPPORTED);

    uint8_t pattern[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(EApiStorageAreaWrite(EAPI_ID_STORAGE_STD, 0, pattern, 8), EAPI_STATUS_SUCCESS);
    const struct {
        const char* what;
        uint32_t offset, bufLen, count;
        bool nullBuffer;
        EApiStatus_t status;
        int firstByte; // expected buffer[0], -1 untouched
    } reads[] = {
        {"whole area", 0, 8, 8, false, EAPI_STATUS_SUCCESS, 1},
        {"last byte", 7, 1, 1, false, EAPI_STATUS_SUCCESS, 8},
        {"past the end", 5, 8, 4, false, EAPI_STATUS_INVALID_BLOCK_LENGTH, -1},
        {"offset wraps 32 bits", 0xFFFFFFFF, 8, 2, false, EAPI_STATUS_INVALID_BLOCK_LENGTH, -1},
        {"buffer shorter than count", 4, 2, 4, false, EAPI_STATUS_MORE_DATA, 5},
        {"zero count", 0, 8, 0, false, EAPI_STATUS_INVALID_PARAMETER, -1},
        {"zero buffer length", 0, 0, 1, false, EAPI_STATUS_INVALID_PARAMETER, -1},
        {"null buffer", 0, 8, 1, true, EAPI_STATUS_INVALID_PARAMETER, -1},
    };
    for (const auto& r : reads) {
        uint8_t buffer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(EApiStorageAreaRead(EAPI_ID_STORAGE_STD, r.offset, r.nullBuffer ? nullptr : buffer, r.bufLen, r.count),
                  r.status)
            << r.what;
        EXPECT_EQ(buffer[0], r.firstByte < 0 ? 0xEE : r.firstByte) << r.what;
        // A short buffer is never written past its end.
        if (r.status == EAPI_STATUS_MORE_DATA) {
            EXPECT_EQ(buffer[r.bufLen], 0xEE) << r.what;
        }
    }
    EXPECT_EQ(EApiStorageAreaWrite(EAPI_ID_STORAGE_STD, 4, pattern, 5), EAPI_STATUS_INVALID_BLOCK_LENGTH);
    EXPECT_EQ(EApiStorageAreaWrite(EAPI_ID_STORAGE_STD, 0, pattern, 0), EAPI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(EApiStorageAreaWrite(EAPI_ID_STORAGE_STD, 0, nullptr, 1), EAPI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(EApiStorageAreaWrite(2, 0, pattern, 1), EAPI_STATUS_UNSUPPORTED);
    uint8_t two[2] = {0xA5, 0x5A};
    ASSERT_EQ(EApiStorageAreaWrite(EAPI_ID_STORAGE_STD, 6, two, 2), EAPI_STATUS_SUCCESS);
    uint8_t all[8] = {};
    ASSERT_EQ(EApiStorageAreaRead(EAPI_ID_STORAGE_STD, 0, all, 8, 8), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<uint8_t>(all, all + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0xA5, 0x5A}));
}

TEST_F(EApiTest, StorageIsUnsupportedOffItsBoard) {
    Open(vek_sim_default_board());
    uint32_t size = 0;
    uint8_t byte = 0;
    EXPECT_EQ(EApiStorageCap(EAPI_ID_STORAGE_STD, &size, nullptr), EAPI_STATUS_UNSUPPORTED);
    EXPECT_EQ(EApiStorageAreaRead(EAPI_ID_STORAGE_STD, 0, &byte, 1, 1), EAPI_STATUS_UNSUPPORTED);
}

// ---- I2C ----

constexpr uint32_t kEeprom = EAPI_I2C_ENC_7BIT_ADDR(0x50); // a 256-byte EEPROM, one offset byte
constexpr uint32_t kNobody = EAPI_I2C_ENC_7BIT_ADDR(0x5B);

// The EC's I2C master (default board) and a platform I2C controller (FMQ-345)
// each carry an EEPROM at 0x50.
class EApiI2cTest : public EApiTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override { Open(*GetParam() ? std::string(GetParam()) : std::string(vek_sim_default_board())); }
};

TEST_P(EApiI2cTest, TransfersAndTheirResults) {
    uint32_t max = 0;
    ASSERT_EQ(EApiI2CGetBusCap(EAPI_ID_I2C_EXTERNAL, &max), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(max, 32u);
    EXPECT_EQ(EApiI2CGetBusCap(EAPI_ID_I2C_LVDS_1, &max), EAPI_STATUS_UNSUPPORTED);
    EXPECT_EQ(EApiI2CGetBusCap(EAPI_ID_I2C_EXTERNAL, nullptr), EAPI_STATUS_INVALID_PARAMETER);

    uint8_t data[3] = {0x11, 0x22, 0x33};
    ASSERT_EQ(EApiI2CWriteTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, EAPI_I2C_ENC_STD_CMD(0x40), data, 3),
              EAPI_STATUS_SUCCESS);
    uint8_t in[4] = {};
    ASSERT_EQ(EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, EAPI_I2C_ENC_STD_CMD(0x40), in, 4, 3),
              EAPI_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<uint8_t>(in, in + 3), (std::vector<uint8_t>{0x11, 0x22, 0x33}));
    // Without a command the first byte written is the offset.
    uint8_t noCmd[2] = {0x41, 0x99};
    ASSERT_EQ(EApiI2CWriteTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, EAPI_I2C_NO_CMD, noCmd, 2), EAPI_STATUS_SUCCESS);
    uint8_t one = 0;
    ASSERT_EQ(EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, EAPI_I2C_ENC_STD_CMD(0x41), &one, 1, 1),
              EAPI_STATUS_SUCCESS);
    EXPECT_EQ(one, 0x99);
    // Raw: write the offset, read three back (counts include the address byte).
    uint8_t offset = 0x40;
    uint8_t raw[3] = {};
    ASSERT_EQ(EApiI2CWriteReadRaw(EAPI_ID_I2C_EXTERNAL, uint8_t(kEeprom), &offset, 2, raw, 3, 4), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(std::vector<uint8_t>(raw, raw + 3), (std::vector<uint8_t>{0x11, 0x99, 0x33}));

    const struct {
        const char* what;
        std::function<EApiStatus_t()> call;
        EApiStatus_t status;
    } cases[] = {
        {"read into a short buffer", [&] { return EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, 0x40, in, 2, 3); },
         EAPI_STATUS_MORE_DATA},
        {"raw read into a short buffer",
         [&] { return EApiI2CWriteReadRaw(EAPI_ID_I2C_EXTERNAL, uint8_t(kEeprom), &offset, 2, raw, 2, 4); },
         EAPI_STATUS_MORE_DATA},
        {"33 bytes", [&] { return EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, 0, in, 64, 33); },
         EAPI_STATUS_INVALID_BLOCK_LENGTH},
        {"raw 33 bytes", [&] { return EApiI2CWriteReadRaw(EAPI_ID_I2C_EXTERNAL, uint8_t(kEeprom), &offset, 2, raw, 3, 34); },
         EAPI_STATUS_INVALID_BLOCK_LENGTH},
        {"nothing to do", [&] { return EApiI2CWriteReadRaw(EAPI_ID_I2C_EXTERNAL, uint8_t(kEeprom), nullptr, 0, nullptr, 0, 0); },
         EAPI_STATUS_INVALID_PARAMETER},
        {"raw write without buffer",
         [&] { return EApiI2CWriteReadRaw(EAPI_ID_I2C_EXTERNAL, uint8_t(kEeprom), nullptr, 2, nullptr, 0, 0); },
         EAPI_STATUS_INVALID_PARAMETER},
        {"zero count", [&] { return EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, 0, in, 4, 0); },
         EAPI_STATUS_INVALID_PARAMETER},
        {"null buffer", [&] { return EApiI2CWriteTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, 0, nullptr, 1); },
         EAPI_STATUS_INVALID_PARAMETER},
        {"reserved command type", [&] { return EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, 3u << 30, in, 4, 1); },
         EAPI_STATUS_INVALID_PARAMETER},
        {"address with reserved bits", [&] { return EApiI2CProbeDevice(EAPI_ID_I2C_EXTERNAL, 0x1A0); },
         EAPI_STATUS_INVALID_PARAMETER},
        {"10-bit address", [&] { return EApiI2CProbeDevice(EAPI_ID_I2C_EXTERNAL, EAPI_I2C_ENC_10BIT_ADDR(0x350)); },
         EAPI_STATUS_UNSUPPORTED},
        {"10-bit read", [&] { return EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, EAPI_I2C_ENC_10BIT_ADDR(0x50), 0, in, 4, 1); },
         EAPI_STATUS_UNSUPPORTED},
        {"several bytes without a command",
         [&] { return EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, EAPI_I2C_NO_CMD, in, 4, 2); },
         EAPI_STATUS_UNSUPPORTED},
        {"probe present", [&] { return EApiI2CProbeDevice(EAPI_ID_I2C_EXTERNAL, kEeprom); }, EAPI_STATUS_SUCCESS},
        {"probe absent", [&] { return EApiI2CProbeDevice(EAPI_ID_I2C_EXTERNAL, kNobody); }, EAPI_STATUS_NOT_FOUND},
        {"read absent", [&] { return EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kNobody, 0, in, 4, 2); },
         EAPI_STATUS_NOT_FOUND},
        {"write absent", [&] { return EApiI2CWriteTransfer(EAPI_ID_I2C_EXTERNAL, kNobody, 0, data, 2); },
         EAPI_STATUS_NOT_FOUND},
        {"display bus", [&] { return EApiI2CProbeDevice(EAPI_ID_I2C_LVDS_2, kEeprom); }, EAPI_STATUS_UNSUPPORTED},
    };
    for (const auto& c : cases) EXPECT_EQ(c.call(), c.status) << c.what;
    EXPECT_EQ(in[0], 0x11); // the short-buffer read filled what fitted
}

INSTANTIATE_TEST_SUITE_P(Buses, EApiI2cTest, ::testing::Values("", "FMQ-345"));

TEST_F(EApiTest, ExtendedCommandGoesHighByteFirstOnTheEcBus) {
    Open(vek_sim_default_board());
    // The EEPROM takes one offset byte: the command's high byte (0x00) becomes
    // the offset and its low byte the first data byte.
    uint8_t data = 0x77;
    ASSERT_EQ(EApiI2CWriteTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, EAPI_I2C_ENC_EXT_CMD(0x0030), &data, 1),
              EAPI_STATUS_SUCCESS);
    uint8_t in[2] = {};
    ASSERT_EQ(EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, EAPI_I2C_ENC_STD_CMD(0x00), in, 2, 2),
              EAPI_STATUS_SUCCESS);
    EXPECT_EQ(in[0], 0x30);
    EXPECT_EQ(in[1], 0x77);
}

TEST_F(EApiTest, ExtendedCommandIsUnsupportedOnAPlatformBus) {
    Open("FMQ-345");
    uint8_t in[2] = {};
    EXPECT_EQ(EApiI2CReadTransfer(EAPI_ID_I2C_EXTERNAL, kEeprom, EAPI_I2C_ENC_EXT_CMD(0x0010), in, 2, 2),
              EAPI_STATUS_UNSUPPORTED);
}

// ---- watchdog ----

TEST_F(EApiTest, WatchdogTimeoutsRoundUpOntoVeksUnits) {
    Open(vek_sim_default_board());
    uint8_t secMin = 0, secMax = 0, minMin = 0, minMax = 0;
    ASSERT_EQ(VEK_WDT_GetRange(0, &secMin, &secMax), VEK_OK);
    ASSERT_EQ(VEK_WDT_GetRange(1, &minMin, &minMax), VEK_OK);
    ASSERT_GE(secMax, 3);
    ASSERT_GE(minMax, uint32_t(secMax) / 60 + 2);
    uint32_t delay = 9, event = 9, reset = 0;
    ASSERT_EQ(EApiWDogGetCap(&delay, &event, &reset), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(delay, 0u); // vek's watchdogs have one stage: reset
    EXPECT_EQ(event, 0u);
    EXPECT_EQ(reset, uint32_t(minMax) * 60000);
    EXPECT_EQ(EApiWDogGetCap(nullptr, nullptr, nullptr), EAPI_STATUS_INVALID_PARAMETER);

    const struct {
        uint32_t ms;
        uint32_t unit;
        uint32_t count;
    } starts[] = {
        {1, 0, std::max<uint32_t>(1, secMin)},
        {1500, 0, std::max<uint32_t>(2, secMin)},
        {uint32_t(secMax) * 1000, 0, secMax},
        {uint32_t(secMax) * 1000 + 1, 1, std::max<uint32_t>(uint32_t(secMax) / 60 + 1, minMin)},
        {reset, 1, minMax},
    };
    for (const auto& s : starts) {
        ASSERT_EQ(EApiWDogStart(0, 0, s.ms), EAPI_STATUS_SUCCESS) << s.ms;
        uint32_t unit = 9;
        uint8_t count = 0;
        ASSERT_EQ(VEK_WDT_GetConfig(&unit, &count), VEK_OK);
        EXPECT_EQ(unit, s.unit) << s.ms;
        EXPECT_EQ(count, s.count) << s.ms;
        EXPECT_EQ(VEK_WDT_Available(), VEK_OK) << "not running after a start of " << s.ms;
        EXPECT_EQ(EApiWDogStart(0, 0, s.ms), EAPI_STATUS_RUNNING);
        EXPECT_EQ(EApiWDogTrigger(), EAPI_STATUS_SUCCESS);
        ASSERT_EQ(EApiWDogStop(), EAPI_STATUS_SUCCESS);
        EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    }
    EXPECT_EQ(EApiWDogTrigger(), EAPI_STATUS_ERROR); // stopped: a trigger must not restart it
    EXPECT_EQ(VEK_WDT_Available(), VEK_ERR_STATE);
    const uint32_t bad[][3] = {{1, 0, 1000}, {0, 1, 1000}, {0, 0, 0}, {0, 0, reset + 1}};
    for (const auto& b : bad) EXPECT_EQ(EApiWDogStart(b[0], b[1], b[2]), EAPI_STATUS_INVALID_PARAMETER) << b[2];
}

// ---- GPIO ----

TEST_F(EApiTest, GpioIdsMasksAndDirections) {
    Open(vek_sim_default_board());
    uint32_t sets = 0, pins1 = 0;
    ASSERT_EQ(VEK_GPIO_TotalSet(&sets), VEK_OK);
    ASSERT_EQ(VEK_GPIO_TotalNumber(1, &pins1), VEK_OK);
    ASSERT_GE(pins1, 2u);
    uint32_t inputs = 0, outputs = 0;
    ASSERT_EQ(EApiGPIOGetDirectionCaps(EAPI_ID_GPIO_BANK00, &inputs, &outputs), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(inputs & 0xFF, (1u << pins1) - 1);
    EXPECT_EQ(outputs, inputs);
    const uint32_t missing = pins1 < 8 ? pins1 : sets * 8; // first GPIO number with no pin behind it
    uint32_t u = 0;
    const struct {
        const char* what;
        EApiStatus_t status;
        EApiStatus_t expected;
    } cases[] = {
        {"empty mask", EApiGPIOGetLevel(EAPI_ID_GPIO_BANK00, 0, &u), EAPI_STATUS_INVALID_PARAMETER},
        {"null level", EApiGPIOGetLevel(EAPI_ID_GPIO_BANK00, 1, nullptr), EAPI_STATUS_INVALID_PARAMETER},
        {"null caps", EApiGPIOGetDirectionCaps(EAPI_ID_GPIO_BANK00, nullptr, nullptr), EAPI_STATUS_INVALID_PARAMETER},
        {"single GPIO, mask bit 1", EApiGPIOGetLevel(EAPI_ID_GPIO_GPIO00, 2, &u), EAPI_STATUS_INVALID_BITMASK},
        {"bank bit with no pin", EApiGPIOSetLevel(EAPI_ID_GPIO_BANK00, 1u << missing, 0), EAPI_STATUS_INVALID_BITMASK},
        {"GPIO with no pin", EApiGPIOGetLevel(EAPI_GPIO_GPIO_ID(missing), 1, &u), EAPI_STATUS_UNSUPPORTED},
        {"bank with no pins", EApiGPIOGetLevel(EAPI_ID_GPIO_BANK02, 1, &u), EAPI_STATUS_UNSUPPORTED},
        {"not a GPIO ID", EApiGPIOGetLevel(0x20000, 1, &u), EAPI_STATUS_UNSUPPORTED},
    };
    for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;

    // Bank bits 0 and 1 are set 1 pins 1 and 2: pin 1 output, pin 2 input; the rest stay.
    uint8_t before = 0;
    ASSERT_EQ(VEK_GPIO_ReadDirection(1, &before), VEK_OK);
    ASSERT_EQ(EApiGPIOSetDirection(EAPI_ID_GPIO_BANK00, 0x3, EAPI_GPIO_INPUT << 1 | EAPI_GPIO_OUTPUT),
              EAPI_STATUS_SUCCESS);
    uint8_t after = 0;
    ASSERT_EQ(VEK_GPIO_ReadDirection(1, &after), VEK_OK);
    EXPECT_EQ(after, uint8_t((before & ~0x3) | 0x2));
    uint32_t dir = 0;
    ASSERT_EQ(EApiGPIOGetDirection(EAPI_ID_GPIO_GPIO01, 1, &dir), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(dir, 1u);

    // Levels: a single-GPIO ID drives its pin alone; an input reads the outside world.
    ASSERT_EQ(EApiGPIOSetLevel(EAPI_ID_GPIO_GPIO00, 1, EAPI_GPIO_HIGH), EAPI_STATUS_SUCCESS);
    uint8_t pin = 0;
    ASSERT_EQ(VEK_GPIO_ReadPin(1, 1, &pin), VEK_OK);
    EXPECT_EQ(pin, 1);
    ASSERT_EQ(vek_sim_set_gpio_input(1, 2, 1), VEK_OK);
    uint32_t level = 0;
    ASSERT_EQ(EApiGPIOGetLevel(EAPI_ID_GPIO_BANK00, 0x3, &level), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(level, 0x3u);
    ASSERT_EQ(vek_sim_set_gpio_input(1, 2, 0), VEK_OK);
    ASSERT_EQ(EApiGPIOGetLevel(EAPI_ID_GPIO_GPIO01, 1, &level), EAPI_STATUS_SUCCESS);
    EXPECT_EQ(level, 0u);
    ASSERT_EQ(EApiGPIOSetLevel(EAPI_ID_GPIO_BANK00, 0x1, 0xFFFFFFFE), EAPI_STATUS_SUCCESS);
    ASSERT_EQ(VEK_GPIO_ReadPin(1, 1, &pin), VEK_OK);
    EXPECT_EQ(pin, 0);
}

TEST_F(EApiTest, GpioNumbersFollowVekSetsEightApart) {
    // A board with a second set: GPIO 8 is its pin 1, bank bit 8.
    const std::string board = FirstBoardWith([] {
        uint32_t sets = 0;
        return VEK_GPIO_TotalSet(&sets) == VEK_OK && sets >= 2;
    });
    ASSERT_FALSE(board.empty());
    Open(board);
    ASSERT_EQ(EApiGPIOSetDirection(EAPI_GPIO_GPIO_ID(8), 1, EAPI_GPIO_OUTPUT), EAPI_STATUS_SUCCESS);
    ASSERT_EQ(EApiGPIOSetLevel(EAPI_ID_GPIO_BANK00, 1u << 8, 1u << 8), EAPI_STATUS_SUCCESS);
    uint8_t dir = 9, pin = 9;
    ASSERT_EQ(VEK_GPIO_ReadPinDirection(2, 1, &dir), VEK_OK);
    ASSERT_EQ(VEK_GPIO_ReadPin(2, 1, &pin), VEK_OK);
    EXPECT_EQ(dir, 0);
    EXPECT_EQ(pin, 1);
}

TEST_F(EApiTest, SetWithoutDirectionRegisterKeepsLevelsAndRefusesDirections) {
    // Board 81's EC ports 4 and 5 have a data register and no direction register.
    Open(RowWhere([](const PlatformEntry& r) { return r.boardId == 81; }));
    const EApiId_t set4pin1 = EAPI_GPIO_GPIO_ID(24);
    uint32_t u = 0;
    EXPECT_EQ(EApiGPIOGetDirection(set4pin1, 1, &u), EAPI_STATUS_UNSUPPORTED);
    EXPECT_EQ(EApiGPIOSetDirection(EAPI_ID_GPIO_BANK00, 1u << 24, 0), EAPI_STATUS_UNSUPPORTED);
    EXPECT_EQ(EApiGPIOGetLevel(set4pin1, 1, &u), EAPI_STATUS_SUCCESS);
}

} // namespace
