// Initialisation, teardown and the checks every export makes before it
// reaches a backend.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

using Export = std::function<VEK_RESULT()>;

// Every export but Init, Uninit and Screen_Set, with harmless arguments.
std::vector<std::pair<const char*, Export>> AllCheckedExports() {
    static char text[80];
    static uint8_t b8[64];
    static uint32_t u32[4];
    static int32_t i32[2];
    static double d;
    return {
        {"GetVersion", [] { return VEK_API_GetVersion(text); }},
        {"SetIOSleepTime", [] { return VEK_API_SetIOSleepTime(5); }},
        {"GetBIOSVersion", [] { return VEK_Board_GetBIOSVersion(text); }},
        {"GetPlatformName", [] { return VEK_Board_GetPlatformName(text); }},
        {"GetBIOSVendor", [] { return VEK_Board_GetBIOSVendor(text); }},
        {"GetECVersion", [] { return VEK_Board_GetECVersion(text); }},
        {"GetECInfo", [] { return VEK_Board_GetECInfo(0, text); }},
        {"GetSerialNumber", [] { return VEK_Board_GetSerialNumber(text); }},
        {"GetPlatformType", [] { return VEK_Board_GetPlatformType(text); }},
        {"Boot_Counter", [] { return VEK_Get_Boot_Counter(u32); }},
        {"Platform_Version", [] { return VEK_Get_Platform_Version(u32); }},
        {"GPIO_TotalSet", [] { return VEK_GPIO_TotalSet(u32); }},
        {"GPIO_TotalNumber", [] { return VEK_GPIO_TotalNumber(0, u32); }},
        {"GPIO_SetDirection", [] { return VEK_GPIO_SetDirection(1, 0); }},
        {"GPIO_SetPinDirection", [] { return VEK_GPIO_SetPinDirection(1, 1, 0); }},
        {"GPIO_ReadDirection", [] { return VEK_GPIO_ReadDirection(1, b8); }},
        {"GPIO_ReadPinDirection", [] { return VEK_GPIO_ReadPinDirection(1, 1, b8); }},
        {"GPIO_Read", [] { return VEK_GPIO_Read(1, b8); }},
        {"GPIO_ReadPin", [] { return VEK_GPIO_ReadPin(1, 1, b8); }},
        {"GPIO_Write", [] { return VEK_GPIO_Write(1, 0); }},
        {"GPIO_WritePin", [] { return VEK_GPIO_WritePin(1, 1, 0); }},
        {"WDT_Available", [] { return VEK_WDT_Available(); }},
        {"WDT_GetRange", [] { return VEK_WDT_GetRange(0, b8, b8 + 1); }},
        {"WDT_SetConfig", [] { return VEK_WDT_SetConfig(0, 10); }},
        {"WDT_GetConfig", [] { return VEK_WDT_GetConfig(u32, b8); }},
        {"WDT_Trigger", [] { return VEK_WDT_Trigger(); }},
        {"WDT_Disable", [] { return VEK_WDT_Disable(); }},
        {"CPUTemperature", [] { return VEK_HWM_CPUTemperature(0, &d); }},
        {"SysTemperature", [] { return VEK_HWM_SysTemperature(&d); }},
        {"Temperature", [] { return VEK_HWM_Temperature(0, &d); }},
        {"Voltage", [] { return VEK_HWM_Voltage(0, &d); }},
        {"Current", [] { return VEK_HWM_Current(0, &d); }},
        {"GetFanSpeed", [] { return VEK_HWM_GetFanSpeed(0, u32); }},
        {"SetFanSpeed", [] { return VEK_HWM_SetFanSpeed(0, 50); }},
        {"GetSmartfan", [] { return VEK_HWM_GetSmartfan(0, u32, u32, u32, u32); }},
        {"SetSmartfan", [] { return VEK_HWM_SetSmartfan(0, 0, b8, i32, 0); }},
        {"Smartfan_Enable", [] { return VEK_HWM_Smartfan_Enable(0); }},
        {"Smartfan_Disable", [] { return VEK_HWM_Smartfan_Disable(0); }},
        {"SetMetronome", [] { return VEK_HWM_SetMetronome(60); }},
        {"PlayNote", [] { return VEK_HWM_PlayNote(0, 1, 0, 1); }},
        {"SetBeep", [] { return VEK_HWM_SetBeep(1000, 1); }},
        {"StartBeep", [] { return VEK_HWM_StartBeep(1000); }},
        {"StopBeep", [] { return VEK_HWM_StopBeep(); }},
        {"SMBus_Available", [] { return VEK_SMBus_Available(); }},
        {"SMBus_ByteData", [] { return VEK_SMBus_ByteData(1, 0xA0, 0, b8); }},
        {"SMBus_WordData", [] { return VEK_SMBus_WordData(1, 0xA0, 0, u32); }},
        {"SMBus_ProcessCall", [] { return VEK_SMBus_ProcessCall(0xA0, 0, u32, u32 + 1); }},
        {"SMBus_Block", [] { return VEK_SMBus_Block(1, 0xA0, 0, 0, b8); }},
        {"SMBus_Read_EEPROM", [] { return VEK_SMBus_Read_EEPROM(0xA0, 0, 1, b8); }},
        {"SMBus_Write_EEPROM", [] { return VEK_SMBus_Write_EEPROM(0xA0, 0, 1, b8); }},
        {"SMBus_SendReceive", [] { return VEK_SMBus_SendReceive(1, 0xA0, b8); }},
        {"I2C_Quick", [] { return VEK_I2C_Quick(0, 0, 0x50); }},
        {"I2C_ByteData", [] { return VEK_I2C_ByteData(1, 0, 0x50, 0, b8); }},
        {"I2C_WordData", [] { return VEK_I2C_WordData(1, 0, 0x50, 0, u32); }},
        {"I2C_SendReceive", [] { return VEK_I2C_SendReceive(1, 0, 0x50, b8); }},
        {"I2C_SMBusBlock", [] { return VEK_I2C_SMBusBlock(1, 0, 0x50, 0, i32, b8); }},
        {"I2C_SMBusI2CBlock", [] { return VEK_I2C_SMBusI2CBlock(1, 0, 0x50, 0, 1, b8); }},
        {"EC_IIC_Word_Addr_Write", [] { return VEK_EC_IIC_Word_Addr_Write(0xA0, 0, b8, 1); }},
        {"EC_IIC_Word_Addr_Read", [] { return VEK_EC_IIC_Word_Addr_Read(0xA0, 0, b8, 1); }},
        {"EC_IIC_Byte_Addr_Write", [] { return VEK_EC_IIC_Byte_Addr_Write(0xA0, 0, b8, 1); }},
        {"EC_IIC_Byte_Addr_Read", [] { return VEK_EC_IIC_Byte_Addr_Read(0xA0, 0, b8, 1); }},
        {"EC_IIC_Set_Frequency", [] { return VEK_EC_IIC_Set_Frequency(0); }},
        {"EC_IIC_Quick_Read", [] { return VEK_EC_IIC_Quick_Read(0xA0, 0); }},
        {"EC_IIC_Quick_Write", [] { return VEK_EC_IIC_Quick_Write(0xA0, 0); }},
        {"EC_IIC_Receive_Byte", [] { return VEK_EC_IIC_Receive_Byte(0xA0, b8); }},
        {"EC_IIC_Send_Byte", [] { return VEK_EC_IIC_Send_Byte(0xA0, 1); }},
        {"BLC_Read_Brightness", [] { return VEK_BLC_Read_Brightness(0, b8); }},
        {"BLC_Set_Brightness", [] { return VEK_BLC_Set_Brightness(0, 50); }},
        {"BLC_Change_Brightness", [] { return VEK_BLC_Change_Brightness(1); }},
        {"EC_SmartBattery", [] { return VEK_EC_SmartBattery(0x16, 0x0D, b8); }},
        {"EC_SMF_Config", [] { return VEK_EC_SMF_Config(0, 0, 0); }},
        {"EC_SMF_Enable", [] { return VEK_EC_SMF_Enable(); }},
        {"EC_SMF_Disable", [] { return VEK_EC_SMF_Disable(); }},
        {"EC_SMF_GetConfig", [] { return VEK_EC_SMF_GetConfig(u32, u32, u32, u32); }},
        {"LANBYPASS_Mode_Set", [] { return VEK_LANBYPASS_Mode_Set(0, 0, 0); }},
        {"LANBYPASS_Mode_Get", [] { return VEK_LANBYPASS_Mode_Get(0, 0, u32); }},
        {"LANBYPASS_WDT_Trigger", [] { return VEK_LANBYPASS_WDT_Trigger(0); }},
        {"LANBYPASS_WDT_Disable", [] { return VEK_LANBYPASS_WDT_Disable(0); }},
        {"LED_Set", [] { return VEK_LED_Set(0, 1); }},
        {"LED_Get", [] { return VEK_LED_Get(0, u32); }},
        {"Button_Get", [] { return VEK_Button_Get(0, u32); }},
        {"StorageArea_Capacity", [] { return VEK_StorageArea_Capacity(0, u32); }},
        {"StorageArea_Write", [] { return VEK_StorageArea_Write(0, 0, b8, 1); }},
        {"StorageArea_Read", [] { return VEK_StorageArea_Read(0, 0, b8, 1); }},
        {"PMBus_Get", [] { return VEK_PMBus_Get(0, 0, u32); }},
    };
}

TEST(ExportsBeforeInit, EveryCheckedExportAnswers6) {
    const auto exports = AllCheckedExports();
    EXPECT_EQ(exports.size(), 85u); // 88 less Init, Uninit, Screen_Set
    for (const auto& [name, call] : exports) EXPECT_EQ(call(), VEK_ERR_NOT_INITIALISED) << name;
}

TEST(ExportsBeforeInit, ScreenSetChecksItsOwnArguments) {
    EXPECT_EQ(VEK_Screen_Set(1, 0), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_Screen_Set(0, 2), VEK_ERR_ARGUMENT);
    EXPECT_EQ(VEK_Screen_Set(0, 1), VEK_OK); // wake needs no library state
}

class InitTest : public SimBoardTest {
protected:
    void SetUp() override { Use(RowWhere([](const PlatformEntry& r) { return r.chipKind == KIND_EC; })); }
};

TEST_F(InitTest, SucceedsAndCachesIdentity) {
    ASSERT_EQ(Init(), VEK_OK);
    char text[80];
    ASSERT_EQ(VEK_API_GetVersion(text), VEK_OK);
    EXPECT_STREQ(text, "5.0.1.20260626");
    ASSERT_EQ(VEK_Board_GetPlatformType(text), VEK_OK);
    EXPECT_STREQ(text, "Embedded Board");
    ASSERT_EQ(VEK_Board_GetPlatformName(text), VEK_OK);
    EXPECT_STREQ(text, board->row().name);
    ASSERT_EQ(VEK_Board_GetBIOSVendor(text), VEK_OK);
    EXPECT_EQ(std::string(text), machine().identity(VEK_HOST_ID_BIOS_VENDOR));
    ASSERT_EQ(VEK_Board_GetSerialNumber(text), VEK_OK);
    EXPECT_EQ(std::string(text), machine().identity(VEK_HOST_ID_SERIAL));
    EXPECT_EQ(Lib().primary.state, 1);
}

TEST_F(InitTest, BoardNotListedLeavesLibraryUninitialised) {
    machine().SetIdentity(VEK_HOST_ID_PRODUCT, "Some Desktop Board");
    EXPECT_EQ(Init(), VEK_ERR_UNSUPPORTED);
    char text[80];
    EXPECT_EQ(VEK_API_GetVersion(text), VEK_ERR_NOT_INITIALISED);
    EXPECT_EQ(machine().driver_starts(), 0); // the driver is not touched for an unknown board
    EXPECT_EQ(Lib().primary.state, -1);
}

TEST_F(InitTest, ProductNameMatchesByPrefix) {
    machine().SetIdentity(VEK_HOST_ID_PRODUCT, std::string(board->row().name) + " rev.B");
    EXPECT_EQ(Init(), VEK_OK);
    std::string shorter(board->row().name);
    shorter.pop_back();
    VEK_API_Uninit();
    machine().SetIdentity(VEK_HOST_ID_PRODUCT, shorter);
    if (FindPlatform(shorter.c_str()) == nullptr) {
        EXPECT_EQ(Init(), VEK_ERR_UNSUPPORTED);
    }
}

TEST_F(InitTest, FailedProductQueryGives10) {
    machine().SetIdentityFailing(VEK_HOST_ID_PRODUCT, true);
    EXPECT_EQ(Init(), VEK_ERR_UNSUPPORTED);
}

TEST_F(InitTest, DriverFailuresReportTheirStatusWhenElevated) {
    for (uint32_t status : {1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE(status);
        Rebuild();
        machine().SetDriverStartStatus(status);
        EXPECT_EQ(Init(), status);
        char text[80];
        EXPECT_EQ(VEK_API_GetVersion(text), VEK_ERR_NOT_INITIALISED);
        EXPECT_TRUE(LockIsFree());
    }
}

// The same process, without re-attaching anything: a failed driver step is
// tried again by the next Init.
TEST_F(InitTest, FailedDriverStepRecoversOnceTheDriverRuns) {
    const struct {
        const char* what;
        bool elevated;
        uint32_t startStatus;
        uint32_t first;
    } cases[] = {
        {"not elevated", false, VEK_HOST_DRIVER_READY, VEK_ERR_NOT_ELEVATED},
        {"driver not startable", true, VEK_HOST_DRIVER_START_FAILED, VEK_ERR_DRIVER_START},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rebuild();
        machine().SetElevated(c.elevated);
        machine().SetDriverStartStatus(c.startStatus);
        EXPECT_EQ(Init(), c.first);
        // Another (elevated) process starts the driver; this process can now use it.
        machine().SetDriverStartStatus(VEK_HOST_DRIVER_READY);
        machine().SetDriverRunning(true);
        EXPECT_EQ(Init(), VEK_OK);
        EXPECT_EQ(Lib().primary.state, 1);
        VEK_API_Uninit();
    }
}

// A failed Init changes nothing of the primary context the last Uninit left.
TEST_F(InitTest, FailedDriverStepLeavesThePrimaryContext) {
    ASSERT_EQ(Init(), VEK_OK);
    const DeviceContext before = Lib().primary;
    VEK_API_Uninit();
    machine().SetDriverStartStatus(VEK_HOST_DRIVER_START_FAILED);
    ASSERT_EQ(Init(), VEK_ERR_DRIVER_START);
    const DeviceContext& after = Lib().primary;
    EXPECT_EQ(after.state, -1);
    EXPECT_EQ(after.smbus.located, before.smbus.located);
    EXPECT_EQ(after.chipKind, before.chipKind);
    EXPECT_EQ(after.secondary, before.secondary);
    EXPECT_EQ(std::memcmp(after.versionString, before.versionString, sizeof before.versionString), 0);
}

TEST_F(InitTest, UninitThenExportsAnswer6AndReinitWorks) {
    ASSERT_EQ(Init(), VEK_OK);
    EXPECT_EQ(VEK_API_Uninit(), VEK_OK);
    EXPECT_EQ(Lib().primary.state, -1);
    EXPECT_FALSE(os::LockIsOpen());
    for (const auto& [name, call] : AllCheckedExports()) EXPECT_EQ(call(), VEK_ERR_NOT_INITIALISED) << name;
    EXPECT_EQ(Init(), VEK_OK);
    char text[80];
    EXPECT_EQ(VEK_API_GetVersion(text), VEK_OK);
    EXPECT_EQ(Init(), VEK_OK); // a second Init over a ready library also works
    EXPECT_EQ(machine().driver_starts(), 2); // once per process until a stop
}

TEST_F(InitTest, SleepTimeBounds) {
    ASSERT_EQ(Init(), VEK_OK);
    const std::pair<int32_t, VEK_RESULT> cases[] = {
        {0, VEK_OK}, {10'000'000, VEK_OK}, {10'000'001, VEK_ERR_SLEEP_RANGE}, {-1, VEK_ERR_SLEEP_RANGE}};
    for (auto [t, want] : cases) EXPECT_EQ(VEK_API_SetIOSleepTime(t), want) << t;
    EXPECT_EQ(Lib().ioDelayEc, 10'000'000);
    EXPECT_EQ(Lib().primary.ioDelay, 10'000'000);
    EXPECT_EQ(Lib().ioDelaySio1, 5); // other kinds keep theirs
}

TEST_F(InitTest, LongIdentityValuesAreShortenedNotOverrun) {
    machine().SetIdentity(VEK_HOST_ID_BIOS_VENDOR, std::string(300, 'V'));
    ASSERT_EQ(Init(), VEK_OK);
    char text[81];
    std::memset(text, 0x7E, sizeof text);
    ASSERT_EQ(VEK_Board_GetBIOSVendor(text), VEK_OK);
    EXPECT_EQ(std::strlen(text), 79u);
    EXPECT_EQ(text[80], 0x7E); // nothing written past the 80-byte buffer
}

TEST_F(InitTest, PlatformVersionFromWmiPacksFirstFourCharacters) {
    ASSERT_EQ(Init(), VEK_OK);
    Lib().primary.caps[CAP_PLATFORM_VERSION_WMI] = 1;
    const std::pair<const char*, uint32_t> cases[] = {{"1.02", 0x312E3032}, {"A1", 0x41310000}, {"V2.10b", 0x56322E31}};
    for (auto [text, want] : cases) {
        machine().SetIdentity(VEK_HOST_ID_BOARD_VERSION, text);
        uint32_t v = 0;
        EXPECT_EQ(VEK_Get_Platform_Version(&v), VEK_OK);
        EXPECT_EQ(v, want) << text;
    }
    machine().SetIdentityFailing(VEK_HOST_ID_BOARD_VERSION, true);
    uint32_t v = 123;
    EXPECT_EQ(VEK_Get_Platform_Version(&v), VEK_ERR_WMI);
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(LockIsFree());
}

TEST_F(InitTest, ScreenSetOffReportsThePlatformsAnswer) {
    EXPECT_EQ(VEK_Screen_Set(0, 0), VEK_ERR_DRIVER_NOT_STARTED); // no way to post the command here
}

TEST_F(InitTest, NullPointersGive7) {
    ASSERT_EQ(Init(), VEK_OK);
    // Open every family so the pointer check is what answers.
    for (uint32_t& cap : Lib().primary.caps) cap = 1;
    uint8_t b = 0;
    uint32_t u = 0;
    int32_t i = 0;
    const std::pair<const char*, std::function<VEK_RESULT()>> cases[] = {
        {"GetVersion", [] { return VEK_API_GetVersion(nullptr); }},
        {"GetBIOSVersion", [] { return VEK_Board_GetBIOSVersion(nullptr); }},
        {"GetPlatformName", [] { return VEK_Board_GetPlatformName(nullptr); }},
        {"GetSerialNumber", [] { return VEK_Board_GetSerialNumber(nullptr); }},
        {"GetECInfo", [] { return VEK_Board_GetECInfo(16, nullptr); }},
        {"Boot_Counter", [] { return VEK_Get_Boot_Counter(nullptr); }},
        {"Platform_Version", [] { return VEK_Get_Platform_Version(nullptr); }},
        {"GPIO_TotalSet", [] { return VEK_GPIO_TotalSet(nullptr); }},
        {"GPIO_TotalNumber", [] { return VEK_GPIO_TotalNumber(0, nullptr); }},
        {"WDT_GetRange", [&] { return VEK_WDT_GetRange(0, nullptr, &b); }},
        {"WDT_GetConfig", [&] { return VEK_WDT_GetConfig(&u, nullptr); }},
        {"CPUTemperature", [] { return VEK_HWM_CPUTemperature(1, nullptr); }},
        {"SysTemperature", [] { return VEK_HWM_SysTemperature(nullptr); }},
        {"Temperature", [] { return VEK_HWM_Temperature(0, nullptr); }},
        {"Voltage", [] { return VEK_HWM_Voltage(0, nullptr); }},
        {"Current", [] { return VEK_HWM_Current(0, nullptr); }},
        {"SMBus_ByteData", [] { return VEK_SMBus_ByteData(1, 0xA0, 0, nullptr); }},
        {"SMBus_WordData", [] { return VEK_SMBus_WordData(0, 0xA0, 0, nullptr); }},
        {"SMBus_ProcessCall", [&] { return VEK_SMBus_ProcessCall(0xA0, 0, &u, nullptr); }},
        {"SMBus_Block", [] { return VEK_SMBus_Block(1, 0xA0, 0, 0, nullptr); }},
        {"SMBus_Read_EEPROM", [] { return VEK_SMBus_Read_EEPROM(0xA0, 0, 4, nullptr); }},
        {"SMBus_SendReceive", [] { return VEK_SMBus_SendReceive(0, 0xA0, nullptr); }},
        {"I2C_ByteData", [] { return VEK_I2C_ByteData(1, 0, 0x50, 0, nullptr); }},
        {"I2C_WordData", [] { return VEK_I2C_WordData(1, 0, 0x50, 0, nullptr); }},
        {"I2C_SMBusBlock", [&] { return VEK_I2C_SMBusBlock(1, 0, 0x50, 0, &i, nullptr); }},
        {"I2C_SMBusI2CBlock", [] { return VEK_I2C_SMBusI2CBlock(1, 0, 0x50, 0, 4, nullptr); }},
        {"EC_IIC_Byte_Addr_Read", [] { return VEK_EC_IIC_Byte_Addr_Read(0xA0, 0, nullptr, 1); }},
        {"EC_IIC_Receive_Byte", [] { return VEK_EC_IIC_Receive_Byte(0xA0, nullptr); }},
        {"BLC_Read_Brightness", [] { return VEK_BLC_Read_Brightness(0, nullptr); }},
        {"EC_SmartBattery", [] { return VEK_EC_SmartBattery(0x16, 0x0D, nullptr); }},
        {"EC_SMF_GetConfig", [&] { return VEK_EC_SMF_GetConfig(&u, &u, nullptr, &u); }},
        {"LANBYPASS_Mode_Get", [] { return VEK_LANBYPASS_Mode_Get(0, 0, nullptr); }},
        {"LED_Get", [] { return VEK_LED_Get(0, nullptr); }},
        {"Button_Get", [] { return VEK_Button_Get(0, nullptr); }},
        {"PMBus_Get", [] { return VEK_PMBus_Get(0, 0, nullptr); }},
    };
    for (const auto& [name, call] : cases) EXPECT_EQ(call(), VEK_ERR_ARGUMENT) << name;
    EXPECT_TRUE(LockIsFree());
}

TEST_F(InitTest, EcInfoClearsOutputFirstAndRejectsUnknownItems) {
    ASSERT_EQ(Init(), VEK_OK);
    char text[80] = "stale";
    EXPECT_EQ(VEK_Board_GetECInfo(5, text), VEK_ERR_ARGUMENT);
    EXPECT_EQ(text[0], '\0');
}

} // namespace
