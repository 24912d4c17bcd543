// Fault matrix: every fault the simulated chips can produce, crossed with the
// exports that reach it, on representative rows. Each cell checks the result,
// that the call returns within its budget of virtual time, that ApiLock is
// free afterwards, and that once the fault is gone the next call works again
// (nothing left poisoned).
//
// A Super I/O that stays deaf reads as floating ports (no failure path: the
// readings come back as 0xFF-derived values with result 0).
//
// To extend it: add a Fault (inject and heal on the board), a RowChoice for the
// chip kind, and cells naming both.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "sim/ec/ec_mailbox.h"
#include "sim/chipset/chipset_models.h"
#include "sim/chipset/platform_i2c.h"
#include "sim/ec/ec_model.h"
#include "sim/sio/sio1_model.h"
#include "sim/sio/sio2_model.h"
#include "sim/sio/sio5_model.h"
#include "sim/smbus/smbus_model.h"
#include "sim/zkec/zkec_model.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSec = 1'000 * kMs;
// One give-up wait of the EC interface or one SMBus/EC-I2C poll budget, plus
// the register pauses around it; a call without waits finishes within kInstant.
constexpr int64_t kWait = 1'010 * kMs;
constexpr int64_t kInstant = 10 * kMs;

// ---- faults ----

struct Fault {
    const char* name;
    std::function<void(sim::Board&)> inject;
    std::function<void(sim::Board&)> heal;
    bool beforeInit = false; // a fault Init itself meets (else it strikes mid-session)
};

sim::EcModel& Ec(sim::Board& b) { return *b.Find<sim::EcModel>(); }
sim::SmbusController& Smbus(sim::Board& b) { return *b.Find<sim::SmbusController>(); }
sim::EcMailbox& Mailbox(sim::Board& b) { return *b.Find<sim::EcMailbox>(); }

// Whichever Super I/O the board carries.
void SetSioDeaf(sim::Board& b, bool deaf) {
    if (auto* s = b.Find<sim::Sio1Model>()) s->SetSilent(deaf);
    if (auto* s = b.Find<sim::Sio2Model>()) s->SetDeaf(deaf);
    if (auto* s = b.Find<sim::Sio5Model>()) s->SetDeaf(deaf);
}

// Both EC command channels get the same fault.
Fault EcChannelFault(const char* name, bool sim::EcModel::ChannelFaults::*flag) {
    return {name,
            [flag](sim::Board& b) { Ec(b).acpi_faults().*flag = Ec(b).aux_faults().*flag = true; },
            [flag](sim::Board& b) {
                Ec(b).acpi_faults().*flag = Ec(b).aux_faults().*flag = false;
                b.machine().Advance(10 * kSec); // a byte the EC was still chewing on is taken
            }};
}

const Fault kEcStuckIbf = EcChannelFault("EC never clears IBF", &sim::EcModel::ChannelFaults::stuckIbf);
const Fault kEcNoObf = EcChannelFault("EC never sets OBF", &sim::EcModel::ChannelFaults::noObf);
const Fault kEcFloating = EcChannelFault("EC reads 0xFF", &sim::EcModel::ChannelFaults::floating);
const Fault kEcReadBack = {"EC read-back never matches",
                           [](sim::Board& b) {
                               VEK_WDT_SetConfig(0, 30); // armed while healthy
                               Ec(b).FailReadBack(0x08, 0);
                           },
                           [](sim::Board& b) { Ec(b).FailReadBack(0x08, 1); }};
const Fault kSmbusStretch = {"SMBus slave stretches forever", [](sim::Board& b) { Smbus(b).SetHung(true); },
                             [](sim::Board& b) { Smbus(b).SetHung(false); }};
const Fault kMailboxNak = {"EC I2C NAK", [](sim::Board& b) { Mailbox(b).FailWith(sim::EcMailbox::kNak, 1000); },
                           [](sim::Board& b) { Mailbox(b).FailWith(0, 0); }};
const Fault kMailboxTimeout = {"EC I2C master never finishes", [](sim::Board& b) { Mailbox(b).SetStalled(true); },
                               [](sim::Board& b) { Mailbox(b).SetStalled(false); }};
const Fault kMailboxCollision = {"EC I2C bus collision",
                                 [](sim::Board& b) { Mailbox(b).FailWith(0x40, 1000); },
                                 [](sim::Board& b) { Mailbox(b).FailWith(0, 0); }};
const Fault kDriverGone = {"driver stops answering mid-session",
                           [](sim::Board& b) { b.machine().SetDriverRunning(false); },
                           [](sim::Board& b) {
                               // A driver that comes back is picked up by the next Init.
                               b.machine().SetDriverRunning(true);
                               VEK_API_Uninit();
                               VEK_API_Init();
                           }};
const Fault kSerialFails = {"serial-number query fails",
                            [](sim::Board& b) { b.machine().SetIdentityFailing(VEK_HOST_ID_SERIAL, true); },
                            [](sim::Board& b) {
                                b.machine().SetIdentityFailing(VEK_HOST_ID_SERIAL, false);
                                VEK_API_Uninit();
                                VEK_API_Init();
                            },
                            true};

const Fault kSioDeaf = {"Super I/O stays deaf",
                        [](sim::Board& b) { SetSioDeaf(b, true); },
                        [](sim::Board& b) { SetSioDeaf(b, false); }};
const Fault kZkecStops = {"ZKEC stops answering mid-session",
                          [](sim::Board& b) { b.Find<sim::ZkecModel>()->StopAnsweringAfter(0); },
                          [](sim::Board& b) { b.Find<sim::ZkecModel>()->Recover(); }};

const Fault kZkecMissing = {"ZKEC device missing at Init",
                            [](sim::Board& b) { b.machine().SetZkecPresent(false); },
                            [](sim::Board& b) {
                                b.machine().SetZkecPresent(true);
                                VEK_API_Uninit();
                                VEK_API_Init();
                            },
                            true};

// Chipset pads and platform I2C slaves cannot be switched in place, so these
// faults aim the cell's call at a pad or slave that has the fault and heal by
// aiming it back at a sound one: the next call must find nothing poisoned.
int32_t g_padSet = 0, g_padPin = 0; // set counted after the EC's sets
uint8_t g_i2cSlave = 0;
// On the pad board the first pad set's pin 1 is an output; the second set's
// pin 5 is left in native mode by the firmware.
constexpr uint8_t kCutOffSlave = 0x35;

const Fault kPadWrongMode = {"chipset pad in the wrong mode", [](sim::Board&) { g_padSet = 2, g_padPin = 5; },
                             [](sim::Board&) { g_padSet = 1, g_padPin = 1; }};
const Fault kI2cPartial = {"platform I2C partial transfer",
                           [](sim::Board& b) {
                               for (auto& d : b.devices())
                                   if (auto* bus = dynamic_cast<sim::PlatformI2cBus*>(d.get());
                                       bus && std::string(bus->name()) == "I2C0")
                                       bus->Attach<sim::CutOffSlave>(kCutOffSlave, 2u, uint8_t(0x10));
                               g_i2cSlave = kCutOffSlave;
                           },
                           [](sim::Board&) { g_i2cSlave = sim::kPlatformBlockAddress; }};

// ---- representative rows ----

using RowChoice = std::function<bool(const PlatformEntry&, sim::Board&)>;

// EC rows by board: 12 reaches its RAM over the ACPI command interface, 11
// through the register window, 151 runs the kind-100 watchdog over the
// auxiliary channel and reads its fans over ACPI.
RowChoice EcBoard(uint32_t boardId) {
    return [boardId](const PlatformEntry& r, sim::Board& b) {
        return r.boardId == boardId && b.Find<sim::EcModel>();
    };
}
RowChoice SmbusRow(sim::SmbusController::Flavour f) {
    return [f](const PlatformEntry&, sim::Board& b) {
        auto* s = b.Find<sim::SmbusController>();
        return s && s->flavour() == f;
    };
}

template <class Model>
RowChoice PrimaryWith(uint32_t kind) {
    return [kind](const PlatformEntry& r, sim::Board& b) { return r.chipKind == kind && b.Find<Model>(); };
}
RowChoice Named(const char* name) {
    return [name](const PlatformEntry& r, sim::Board&) { return std::string(r.name) == name; };
}
RowChoice ZkecRow() {
    return [](const PlatformEntry&, sim::Board& b) { return b.Find<sim::ZkecModel>() != nullptr; };
}

const PlatformEntry& Pick(const RowChoice& choose) {
    for (const PlatformEntry& r : kPlatformTable) {
        sim::Board b(r);
        if (choose(r, b)) return r;
    }
    throw std::runtime_error("no row for this choice");
}

// ---- cells ----

struct Cell {
    const Fault& fault;
    const char* rowKind;
    RowChoice row;
    const char* exportName;
    std::function<VEK_RESULT()> call;
    VEK_RESULT expected;
    int64_t budgetNs; // virtual time the faulty call may take at most
};

uint8_t g_byte;
uint32_t g_word;
double g_value;
char g_text[80];
uint8_t g_block[64];

VEK_RESULT EcVersion() { return VEK_Board_GetECVersion(g_text); }
VEK_RESULT SysTemp() { return VEK_HWM_SysTemperature(&g_value); }
VEK_RESULT FanSpeed() { return VEK_HWM_GetFanSpeed(0, &g_word); }
VEK_RESULT WdtTrigger() {
    // Configured first: an unconfigured trigger re-arms only what the chip holds.
    if (VEK_RESULT r = VEK_WDT_SetConfig(0, 30)) return r;
    return VEK_WDT_Trigger();
}
VEK_RESULT GpioRead() { return VEK_GPIO_Read(1, &g_byte); }
VEK_RESULT EcI2cRead() { return VEK_EC_IIC_Byte_Addr_Read(0xA0, 0, g_block, 8); }
VEK_RESULT EcI2cByte() { return VEK_EC_IIC_Byte_Addr_Read(0xA0, 0, g_block, 1); }
VEK_RESULT SmbusByte() { return VEK_SMBus_ByteData(1, 0xA0, 0, &g_byte); }
VEK_RESULT SmbusWord() { return VEK_SMBus_WordData(1, 0xA0, 0, &g_word); }
VEK_RESULT SmbusEeprom() { return VEK_SMBus_Read_EEPROM(0xAE, 0, 4, g_block); }
VEK_RESULT Volt() { return VEK_HWM_Voltage(0, &g_value); }
VEK_RESULT Temp4() { return VEK_HWM_Temperature(4, &g_value); }
VEK_RESULT EcInfo128() { return VEK_Board_GetECInfo(128, g_text); }
VEK_RESULT Serial() { return VEK_Board_GetSerialNumber(g_text); }
int32_t PadSet() { return int32_t(Lib().primary.gpioSets[0]) + g_padSet; }
VEK_RESULT PadWrite() { return VEK_GPIO_WritePin(PadSet(), g_padPin, 1); }
VEK_RESULT PadRead() { return VEK_GPIO_ReadPin(PadSet(), g_padPin, &g_byte); }
VEK_RESULT I2cBlockRead() { return VEK_I2C_SMBusI2CBlock(1, 2, g_i2cSlave, 0, 4, g_block); }
VEK_RESULT I2cBlockWrite() {
    int32_t count = 4;
    return VEK_I2C_SMBusBlock(0, 2, g_i2cSlave, 0x80, &count, g_block);
}

using F = sim::SmbusController::Flavour;

std::vector<Cell> Cells() {
    const RowChoice acpi = EcBoard(12), window = EcBoard(11), ec100 = EcBoard(151);
    const RowChoice ich = SmbusRow(F::Ich), fch = SmbusRow(F::Fch), sch = SmbusRow(F::Sch);
    // Board 25 has the older part's fans, rails and pins (board 2 runs on the defaults: no fans).
    const RowChoice sio1 = [](const PlatformEntry& r, sim::Board& b) {
        return r.boardId == 25 && PrimaryWith<sim::Sio1Model>(KIND_SIO1)(r, b);
    };
    const RowChoice sio2 = PrimaryWith<sim::Sio2Model>(KIND_SIO2),
                    sio5 = PrimaryWith<sim::Sio5Model>(KIND_SIO5), zkec = ZkecRow();
    const RowChoice pads = Named("GTB-495"), platformI2c = Named("WSR-949");
    return {
        // fault, row, export, result, budget in virtual time
        {kEcStuckIbf, "EC ACPI", acpi, "GetECVersion", EcVersion, VEK_OK, 12 * kWait},
        {kEcStuckIbf, "EC ACPI", acpi, "SysTemperature", SysTemp, VEK_OK, 3 * kWait},
        {kEcStuckIbf, "EC ACPI", acpi, "GetFanSpeed", FanSpeed, VEK_OK, 6 * kWait},
        {kEcStuckIbf, "EC ACPI", acpi, "GPIO_Read", GpioRead, VEK_OK, 3 * kWait},
        {kEcStuckIbf, "EC ACPI", acpi, "EC_IIC block read", EcI2cRead, VEK_ERR_READ, 11 * kWait},
        {kEcStuckIbf, "EC kind 100", ec100, "WDT_Trigger", WdtTrigger, VEK_ERR_WRITE, 30 * kWait},
        {kEcStuckIbf, "EC kind 100", ec100, "GetFanSpeed", FanSpeed, VEK_OK, 12 * kWait},
        {kEcNoObf, "EC ACPI", acpi, "GetECVersion", EcVersion, VEK_OK, 4 * kWait},
        {kEcNoObf, "EC ACPI", acpi, "SysTemperature", SysTemp, VEK_OK, 1 * kWait},
        {kEcNoObf, "EC ACPI", acpi, "GetFanSpeed", FanSpeed, VEK_OK, 2 * kWait},
        {kEcNoObf, "EC kind 100", ec100, "GetFanSpeed", FanSpeed, VEK_OK, 3 * kWait},
        {kEcFloating, "EC ACPI", acpi, "GetECVersion", EcVersion, VEK_OK, 8 * kWait},
        {kEcFloating, "EC ACPI", acpi, "SysTemperature", SysTemp, VEK_OK, 2 * kWait},
        {kEcFloating, "EC ACPI", acpi, "GetFanSpeed", FanSpeed, VEK_OK, 4 * kWait},
        {kEcFloating, "EC ACPI", acpi, "EC_IIC block read", EcI2cRead, VEK_ERR_READ, 11 * kWait},
        {kEcFloating, "EC kind 100", ec100, "WDT_Trigger", WdtTrigger, VEK_ERR_WRITE, 30 * kWait},
        {kEcReadBack, "EC window", window, "WDT_Trigger", WdtTrigger, VEK_ERR_WRITE, kInstant},
        {kMailboxNak, "EC window", window, "EC_IIC block read", EcI2cRead, VEK_ERR_READ, kInstant},
        {kMailboxNak, "EC window", window, "EC_IIC byte read", EcI2cByte, 0x800u | sim::EcMailbox::kNak, kInstant},
        {kMailboxTimeout, "EC window", window, "EC_IIC block read", EcI2cRead, VEK_ERR_READ, 10 * kWait},
        {kMailboxTimeout, "EC window", window, "EC_IIC byte read", EcI2cByte, 0x800u, 10 * kWait},
        {kMailboxCollision, "EC window", window, "EC_IIC byte read", EcI2cByte, 0x800u | 0x40u, kInstant},
        {kSmbusStretch, "SMBus ICH", ich, "SMBus_ByteData", SmbusByte, VEK_ERR_READ, 2 * kWait},
        {kSmbusStretch, "SMBus ICH", ich, "SMBus_WordData", SmbusWord, VEK_ERR_READ, 2 * kWait},
        {kSmbusStretch, "SMBus ICH", ich, "SMBus_Read_EEPROM", SmbusEeprom, VEK_ERR_READ, 20 * kWait},
        {kSmbusStretch, "SMBus FCH", fch, "SMBus_ByteData", SmbusByte, VEK_ERR_READ, 2 * kWait},
        {kSmbusStretch, "SMBus SCH", sch, "SMBus_ByteData", SmbusByte, VEK_ERR_READ, 2 * kWait},
        {kDriverGone, "EC window", window, "WDT_Trigger", WdtTrigger, VEK_ERR_WRITE, kInstant},
        {kDriverGone, "EC ACPI", acpi, "GetFanSpeed", FanSpeed, VEK_OK, 4 * kWait},
        {kDriverGone, "EC window", window, "EC_IIC byte read", EcI2cByte, 0x800u | 0xFFu, 1 * kWait},
        {kDriverGone, "SMBus ICH", ich, "SMBus_ByteData", SmbusByte, VEK_ERR_READ, 2 * kWait},
        {kSerialFails, "EC window", window, "GetSerialNumber", Serial, VEK_OK, kInstant},
        {kSioDeaf, "Super I/O 1", sio1, "Voltage", Volt, VEK_OK, kInstant},
        {kSioDeaf, "Super I/O 1", sio1, "GetFanSpeed", FanSpeed, VEK_OK, kInstant},
        {kSioDeaf, "Super I/O 1", sio1, "GPIO_Read", GpioRead, VEK_OK, kInstant},
        {kSioDeaf, "Super I/O 2", sio2, "Voltage", Volt, VEK_OK, kInstant},
        {kSioDeaf, "Super I/O 2", sio2, "GetFanSpeed", FanSpeed, VEK_OK, kInstant},
        {kSioDeaf, "Super I/O 5", sio5, "Voltage", Volt, VEK_OK, kInstant},
        {kSioDeaf, "Super I/O 5", sio5, "GetFanSpeed", FanSpeed, VEK_OK, kInstant},
        {kZkecStops, "ZKEC", zkec, "Temperature 4", Temp4, 17, kInstant},
        {kZkecStops, "ZKEC", zkec, "ECInfo 128", EcInfo128, VEK_ERR_READ, kInstant},
        {kZkecMissing, "ZKEC", zkec, "Temperature 4", Temp4, 3, kInstant},
        {kZkecMissing, "ZKEC", zkec, "ECInfo 128", EcInfo128, 3, kInstant},
        {kPadWrongMode, "chipset pads", pads, "GPIO_WritePin", PadWrite, VEK_ERR_WRITE, kInstant},
        {kPadWrongMode, "chipset pads", pads, "GPIO_ReadPin", PadRead, VEK_ERR_READ, kInstant},
        {kI2cPartial, "platform I2C", platformI2c, "I2C block read", I2cBlockRead, VEK_ERR_WRITE, kWait},
        {kI2cPartial, "platform I2C", platformI2c, "I2C block write", I2cBlockWrite, VEK_ERR_WRITE, kWait},
    };
}

class FaultMatrix : public SimBoardTest {};

TEST_F(FaultMatrix, EveryCell) {
    for (const Cell& c : Cells()) {
        const std::string cell = std::string(c.fault.name) + " / " + c.rowKind + " / " + c.exportName;
        SCOPED_TRACE(cell);
        Use(Pick(c.row));
        machine().SetTraceEnabled(false);
        if (c.fault.beforeInit) c.fault.inject(*board);
        ASSERT_EQ(Init(), VEK_OK);
        if (!c.fault.beforeInit) c.fault.inject(*board);
        const int64_t t0 = machine().now_ns();
        const VEK_RESULT r = c.call();
        const int64_t spent = machine().now_ns() - t0;
        if (std::getenv("VEK_MATRIX_PRINT")) std::printf("CELL %-60s r=%u t=%.3fs\n", cell.c_str(), r, double(spent) / kSec);
        EXPECT_EQ(r, c.expected);
        EXPECT_LE(spent, c.budgetNs);
        EXPECT_TRUE(LockIsFree());
        c.fault.heal(*board);
        EXPECT_EQ(c.call(), VEK_OK) << "after the fault is gone";
        TearDown();
    }
}

} // namespace

// ---- the I/O driver's lifetime in one process ----

// A driver that stops answering (or answers its version with 0) for a while
// and then comes back: every Init after it answers again is ready, and
// Uninit lets go of a device this process opened whether or not it answers.
TEST_F(FaultMatrix, DriverThatFailsAndComesBack) {
    enum Step { kInit, kUninit, kVersionZero, kVersionRight, kDriverDown, kDriverUp };
    struct Action {
        Step step;
        uint32_t expected = 0; // Init's result; after Uninit, whether the device is still open
    };
    struct Case {
        const char* name;
        std::vector<Action> actions;
    } const cases[] = {
        {"version answers 0 at Init, then right",
         {{kVersionZero}, {kInit, VEK_ERR_DRIVER_START}, {kVersionRight}, {kInit, VEK_OK}, {kInit, VEK_OK}}},
        {"version answers 0 at Init, Uninit, then right",
         {{kVersionZero}, {kInit, VEK_ERR_DRIVER_START}, {kUninit, 0}, {kVersionRight}, {kInit, VEK_OK}}},
        {"stops answering mid-session, Uninit, comes back",
         {{kInit, VEK_OK}, {kDriverDown}, {kUninit, 0}, {kDriverUp}, {kInit, VEK_OK}}},
        // The next Init lets go of the dead device and starts the driver afresh.
        {"stops answering mid-session, Init again",
         {{kInit, VEK_OK}, {kDriverDown}, {kInit, VEK_OK}, {kUninit, 0}, {kInit, VEK_OK}}},
        {"answers again before the next Init",
         {{kInit, VEK_OK}, {kVersionZero}, {kInit, VEK_ERR_DRIVER_START}, {kVersionRight}, {kInit, VEK_OK}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Use(Pick(EcBoard(12)));
        machine().SetTraceEnabled(false);
        machine().SetElevated(true);
        for (size_t i = 0; i < c.actions.size(); ++i) {
            const Action& a = c.actions[i];
            SCOPED_TRACE("step " + std::to_string(i));
            switch (a.step) {
            case kInit: EXPECT_EQ(Init(), a.expected); break;
            case kUninit:
                EXPECT_EQ(VEK_API_Uninit(), VEK_OK);
                EXPECT_EQ(machine().driver_open(), a.expected != 0);
                break;
            case kVersionZero: machine().SetDriverVersion(0); break;
            case kVersionRight: machine().SetDriverVersion(sim::kDefaultDriverVersion); break;
            case kDriverDown: machine().SetDriverRunning(false); break;
            case kDriverUp: machine().SetDriverRunning(true); break;
            }
        }
        EXPECT_EQ(VEK_API_Uninit(), VEK_OK);
        EXPECT_FALSE(machine().driver_open());
        TearDown();
    }
}
