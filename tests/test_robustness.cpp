// Every export, on boards of each kind of routing, with argument values at and
// past their edges and null pointers: no crash, no hang, only result codes the
// library defines, and ApiLock free afterwards. Buffers are large enough for
// the counts passed, as the interface requires.
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr int32_t kInts[] = {0, 1, 2, 3, 7, 8, 9, 13, 14, 18, 19, 20, 32, 33, 100, 101, 127, 128, 255, 256,
                             1000, 1001, -1, INT32_MIN, INT32_MAX};
constexpr uint32_t kUints[] = {0, 1, 2, 3, 4, 5, 7, 12, 13, 16, 128, 255, 256, 0xFFFF, 0xFFFFFFFFu};
constexpr double kDoubles[] = {0, 1, 499.9, 500, 10000, 10000.1, -1, 1e300, 0.5};

struct Args {
    std::mt19937 rng;
    explicit Args(uint32_t seed) : rng(seed) {}
    int32_t i() { return kInts[rng() % std::size(kInts)]; }
    uint32_t u() { return kUints[rng() % std::size(kUints)]; }
    uint8_t b() { return uint8_t(kUints[rng() % std::size(kUints)]); }
    double d() { return kDoubles[rng() % std::size(kDoubles)]; }
    int32_t count() { return int32_t(rng() % 40) - 2; } // -2..37: within the 64-byte buffers
    template <class T>
    T* p(T* valid) { return rng() % 4 == 0 ? nullptr : valid; }
};

// Buffers far larger than any count passed above.
struct Buffers {
    char text[256];
    uint8_t bytes[256];
    uint32_t words[8];
    int32_t ints[8];
    double value;
};

std::vector<std::function<VEK_RESULT(Args&, Buffers&)>> AllExports() {
    return {
        [](Args& a, Buffers& m) { return VEK_API_GetVersion(a.p(m.text)); },
        [](Args& a, Buffers&) { return VEK_API_SetIOSleepTime(a.i()); },
        [](Args& a, Buffers& m) { return VEK_Board_GetBIOSVersion(a.p(m.text)); },
        [](Args& a, Buffers& m) { return VEK_Board_GetPlatformName(a.p(m.text)); },
        [](Args& a, Buffers& m) { return VEK_Board_GetBIOSVendor(a.p(m.text)); },
        [](Args& a, Buffers& m) { return VEK_Board_GetECVersion(a.p(m.text)); },
        [](Args& a, Buffers& m) { return VEK_Board_GetECInfo(a.i(), a.p(m.text)); },
        [](Args& a, Buffers& m) { return VEK_Board_GetSerialNumber(a.p(m.text)); },
        [](Args& a, Buffers& m) { return VEK_Board_GetPlatformType(a.p(m.text)); },
        [](Args& a, Buffers& m) { return VEK_Get_Boot_Counter(a.p(m.words)); },
        [](Args& a, Buffers& m) { return VEK_Get_Platform_Version(a.p(m.words)); },
        [](Args& a, Buffers& m) { return VEK_GPIO_TotalSet(a.p(m.words)); },
        [](Args& a, Buffers& m) { return VEK_GPIO_TotalNumber(a.i(), a.p(m.words)); },
        [](Args& a, Buffers&) { return VEK_GPIO_SetDirection(a.i(), a.b()); },
        [](Args& a, Buffers&) { return VEK_GPIO_SetPinDirection(a.i(), a.i(), a.b()); },
        [](Args& a, Buffers& m) { return VEK_GPIO_ReadDirection(a.i(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_GPIO_ReadPinDirection(a.i(), a.i(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_GPIO_Read(a.i(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_GPIO_ReadPin(a.i(), a.i(), a.p(m.bytes)); },
        [](Args& a, Buffers&) { return VEK_GPIO_Write(a.i(), a.b()); },
        [](Args& a, Buffers&) { return VEK_GPIO_WritePin(a.i(), a.i(), a.b()); },
        [](Args&, Buffers&) { return VEK_WDT_Available(); },
        [](Args& a, Buffers& m) { return VEK_WDT_GetRange(a.u(), a.p(m.bytes), a.p(m.bytes + 1)); },
        [](Args& a, Buffers&) { return VEK_WDT_SetConfig(a.u(), a.b()); },
        [](Args& a, Buffers& m) { return VEK_WDT_GetConfig(a.p(m.words), a.p(m.bytes)); },
        [](Args&, Buffers&) { return VEK_WDT_Trigger(); },
        [](Args&, Buffers&) { return VEK_WDT_Disable(); },
        [](Args& a, Buffers& m) { return VEK_HWM_CPUTemperature(a.u(), a.p(&m.value)); },
        [](Args& a, Buffers& m) { return VEK_HWM_SysTemperature(a.p(&m.value)); },
        [](Args& a, Buffers& m) { return VEK_HWM_Temperature(a.u(), a.p(&m.value)); },
        [](Args& a, Buffers& m) { return VEK_HWM_Voltage(a.u(), a.p(&m.value)); },
        [](Args& a, Buffers& m) { return VEK_HWM_Current(a.u(), a.p(&m.value)); },
        [](Args& a, Buffers& m) { return VEK_HWM_GetFanSpeed(a.u(), a.p(m.words)); },
        [](Args& a, Buffers&) { return VEK_HWM_SetFanSpeed(a.u(), a.i()); },
        [](Args& a, Buffers& m) {
            return VEK_HWM_GetSmartfan(a.u(), a.p(m.words), a.p(m.words + 2), a.p(m.words + 4), a.p(m.words + 6));
        },
        [](Args& a, Buffers& m) {
            m.ints[1] = a.rng() % 2 ? 100 : a.i();
            return VEK_HWM_SetSmartfan(a.u(), a.i(), a.p(m.bytes), a.p(m.ints), a.i());
        },
        [](Args& a, Buffers&) { return VEK_HWM_Smartfan_Enable(a.u()); },
        [](Args& a, Buffers&) { return VEK_HWM_Smartfan_Disable(a.u()); },
        [](Args& a, Buffers&) { return VEK_HWM_SetMetronome(a.i()); },
        [](Args& a, Buffers&) { return VEK_HWM_PlayNote(a.u(), a.u(), a.u(), a.d()); },
        [](Args& a, Buffers&) { return VEK_HWM_SetBeep(a.d(), a.i()); },
        [](Args& a, Buffers&) { return VEK_HWM_StartBeep(a.d()); },
        [](Args&, Buffers&) { return VEK_HWM_StopBeep(); },
        [](Args&, Buffers&) { return VEK_SMBus_Available(); },
        [](Args& a, Buffers& m) { return VEK_SMBus_ByteData(a.i(), a.b(), a.b(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_SMBus_WordData(a.i(), a.b(), a.b(), a.p(m.words)); },
        [](Args& a, Buffers& m) { return VEK_SMBus_ProcessCall(a.b(), a.b(), a.p(m.words), a.p(m.words + 1)); },
        [](Args& a, Buffers& m) { return VEK_SMBus_Block(a.i(), a.b(), a.b(), a.count(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_SMBus_Read_EEPROM(a.b(), uint16_t(a.u()), a.count(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_SMBus_Write_EEPROM(a.b(), uint16_t(a.u()), a.count(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_SMBus_SendReceive(a.i(), a.b(), a.p(m.bytes)); },
        [](Args& a, Buffers&) { return VEK_I2C_Quick(a.u(), a.b(), a.b()); },
        [](Args& a, Buffers& m) { return VEK_I2C_ByteData(a.u(), a.b(), a.b(), a.u(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_I2C_WordData(a.u(), a.b(), a.b(), a.u(), a.p(m.words)); },
        [](Args& a, Buffers& m) { return VEK_I2C_SendReceive(a.u(), a.b(), a.b(), a.p(m.bytes)); },
        [](Args& a, Buffers& m) {
            m.ints[0] = a.count();
            return VEK_I2C_SMBusBlock(a.u(), a.b(), a.b(), a.u(), a.p(m.ints), a.p(m.bytes));
        },
        [](Args& a, Buffers& m) { return VEK_I2C_SMBusI2CBlock(a.u(), a.b(), a.b(), a.u(), uint32_t(a.count()), a.p(m.bytes)); },
        [](Args& a, Buffers& m) { return VEK_EC_IIC_Word_Addr_Write(a.b(), a.u(), a.p(m.bytes), a.count()); },
        [](Args& a, Buffers& m) { return VEK_EC_IIC_Word_Addr_Read(a.b(), a.u(), a.p(m.bytes), a.count()); },
        [](Args& a, Buffers& m) { return VEK_EC_IIC_Byte_Addr_Write(a.b(), a.u(), a.p(m.bytes), a.count()); },
        [](Args& a, Buffers& m) { return VEK_EC_IIC_Byte_Addr_Read(a.b(), a.u(), a.p(m.bytes), a.count()); },
        [](Args& a, Buffers&) { return VEK_EC_IIC_Set_Frequency(a.i()); },
        [](Args& a, Buffers&) { return VEK_EC_IIC_Quick_Read(a.b(), a.u()); },
        [](Args& a, Buffers&) { return VEK_EC_IIC_Quick_Write(a.b(), a.u()); },
        [](Args& a, Buffers& m) { return VEK_EC_IIC_Receive_Byte(a.b(), a.p(m.bytes)); },
        [](Args& a, Buffers&) { return VEK_EC_IIC_Send_Byte(a.b(), a.u()); },
        [](Args& a, Buffers& m) { return VEK_BLC_Read_Brightness(a.u(), a.p(m.bytes)); },
        [](Args& a, Buffers&) { return VEK_BLC_Set_Brightness(a.u(), a.b()); },
        [](Args& a, Buffers&) { return VEK_BLC_Change_Brightness(a.u()); },
        [](Args& a, Buffers&) { return VEK_Screen_Set(a.u() % 3, a.b() % 3); },
        [](Args& a, Buffers& m) { return VEK_EC_SmartBattery(a.b(), a.b(), a.p(m.bytes)); },
        [](Args& a, Buffers&) { return VEK_EC_SMF_Config(a.u(), a.u(), a.i()); },
        [](Args&, Buffers&) { return VEK_EC_SMF_Enable(); },
        [](Args&, Buffers&) { return VEK_EC_SMF_Disable(); },
        [](Args& a, Buffers& m) {
            return VEK_EC_SMF_GetConfig(a.p(m.words), a.p(m.words + 1), a.p(m.words + 2), a.p(m.words + 3));
        },
        [](Args& a, Buffers&) { return VEK_LANBYPASS_Mode_Set(a.i(), a.u(), a.i()); },
        [](Args& a, Buffers& m) { return VEK_LANBYPASS_Mode_Get(a.u(), a.u(), a.p(m.words)); },
        [](Args& a, Buffers&) { return VEK_LANBYPASS_WDT_Trigger(a.i()); },
        [](Args& a, Buffers&) { return VEK_LANBYPASS_WDT_Disable(a.i()); },
        [](Args& a, Buffers&) { return VEK_LED_Set(a.u(), a.u()); },
        [](Args& a, Buffers& m) { return VEK_LED_Get(a.u(), a.p(m.words)); },
        [](Args& a, Buffers& m) { return VEK_Button_Get(a.u(), a.p(m.words)); },
        [](Args& a, Buffers& m) { return VEK_StorageArea_Capacity(a.u(), a.p(m.words)); },
        [](Args& a, Buffers& m) { return VEK_StorageArea_Write(a.u(), a.u() % 64, a.p(m.bytes), a.count()); },
        [](Args& a, Buffers& m) { return VEK_StorageArea_Read(a.u(), a.u() % 64, a.p(m.bytes), a.count()); },
        [](Args& a, Buffers& m) { return VEK_PMBus_Get(a.u(), a.i(), a.p(m.words)); },
    };
}

const std::set<VEK_RESULT> kDefinedResults = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15, 16, 17};

// The EC master's byte read reports a failed transfer as 0x800 | the mailbox status.
bool Defined(VEK_RESULT r) { return kDefinedResults.count(r) == 1 || (r & ~0xFFu) == 0x800; }

class Robustness : public SimBoardTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(Robustness, AnyArgumentsGiveDefinedResultsAndLeaveTheLockFree) {
    const uint32_t boardId = GetParam();
    Use(RowWhere([&](const PlatformEntry& r) { return r.boardId == boardId; }));
    ASSERT_EQ(Init(), VEK_OK);
    const auto exports = AllExports();
    EXPECT_EQ(exports.size(), 86u); // all but Init and Uninit
    Args args(boardId);
    Buffers buffers{};
    for (int round = 0; round < 12; ++round) {
        for (size_t i = 0; i < exports.size(); ++i) {
            const VEK_RESULT r = exports[i](args, buffers);
            EXPECT_TRUE(Defined(r)) << "export #" << i << " answered " << r;
        }
    }
    EXPECT_TRUE(LockIsFree());
}

// EC boards on the window, ACPI and indirect paths; the kind-100 Super I/O
// board; the split and ZKEC boards; LAN bypass; the storage-area board; the
// GPIO-expander and chipset-LED boards; an FCH board.
INSTANTIATE_TEST_SUITE_P(Boards, Robustness,
                         ::testing::Values(124u, 12u, 6u, 151u, 89u, 70u, 129u, 122u, 155u, 121u, 93u, 60u));

} // namespace
