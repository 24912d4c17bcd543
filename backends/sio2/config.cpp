// ChipKind 2 configuration: per-board pin, rail and sensor wiring, and the
// chip set-up that routes the board's GPIO pins to the simple-I/O ports.
#include <algorithm>
#include <iterator>

#include "backends/superio/kernel_route.h"
#include "platform/process.h"
#include "backends/sio2/sio2.h"

namespace vek::sio2 {
namespace {

constexpr uint8_t _ = PIN_NONE;

// A capability word the row writes; value -1 marks an unused entry.
struct CapWrite {
    Capability cap = CAP_API;
    int8_t value = -1;
};

struct Row {
    uint8_t ids[3];
    uint8_t pins[PIN_ENTRIES];        // set 1 pins 1..8, then set 2; (chip set << 4) | bit
    uint8_t voltage[VOLTAGE_CHANNELS]; // channels 0..6; 0 = absent
    Divider ch4, ch2, ch3;
    bool fan1 = true;
    uint8_t cpuSource = 1;
    uint8_t tempEnable = 1;
    uint8_t cpuRegister = 0x2A;
    uint8_t sysTemp[3] = {0x29, REG_NONE, REG_NONE};
    bool parallelPortGpio = false; // board 26: the parallel port's pins also serve GPIO
    CapWrite caps[9] = {};
};


// clang-format off
constexpr Row kRows[] = {
    // subtype 0
    {.ids = {36}, .pins = {0x20, 0x21, 0x22, 0x23, 0x30, 0x31, 0x32, 0x33, _, _, _, _, _, _, _, _},
     .voltage = {0x21, 0x20, 0x22, 0x23, 0x24, 0, 0}, .ch4 = {30.6, 10}, .ch2 = {0, 0}, .ch3 = {6.8, 10}},
    // subtype 1
    {.ids = {26}, .pins = {0x11, 0x12, 0x30, 0x31, 0x32, 0x33, 0x36, 0x37,
                           0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77},
     .voltage = {0x20, 0x21, 0x22, 0x26, 0x24, 0, 0}, .ch4 = {49.9, 10}, .ch2 = {6.49, 10}, .ch3 = {15.5, 10},
     .parallelPortGpio = true},
    {.ids = {48}, .pins = {0x11, 0x12, 0x30, 0x31, 0x32, 0x33, 0x36, 0x37, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x22, 0x26, 0x24, 0, 0}, .ch4 = {49.9, 10}, .ch2 = {6.49, 10}, .ch3 = {15, 10}},
    // Second chip beside the EC: GPIO, rails and sensors only.
    {.ids = {89}, .pins = {0x72, 0x73, 0x74, 0x75, 0x76, 0x77, _, _, _, _, _, _, _, _, _, _},
     .voltage = {0, 0, 0x22, 0x26, 0x24, 0, 0x28}, .ch4 = {49.9, 10}, .ch2 = {6.49, 10}, .ch3 = {15, 10},
     .cpuSource = 0, .sysTemp = {0x29, 0x2A, 0x2B},
     .caps = {{CAP_GPIO, 1}, {CAP_VOLTAGE, 1}, {CAP_TEMPERATURE, 1}, {CAP_API, 0}, {CAP_WDT, 0},
              {CAP_SPEAKER, 0}, {CAP_FAN, 0}, {CAP_CPU_TEMPERATURE, 0}, {CAP_SMBUS, 0}}},
    // subtype 2
    {.ids = {1}, .pins = {0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {49.9, 10}, .ch2 = {7.5, 10}, .ch3 = {10, 10},
     .caps = {{CAP_SMBUS, 0}}},
    {.ids = {3}, .pins = {0x74, 0x75, 0x76, 0x77, 0x70, 0x71, 0x72, 0x73,
                          0x84, 0x85, 0x86, 0x87, 0x80, 0x81, 0x82, 0x83},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {49.9, 10}, .ch2 = {7.5, 10}, .ch3 = {10, 10}},
    {.ids = {21, 22, 52}, .pins = {0x11, 0x12, 0x47, 0x50, 0x14, 0x35, 0x36, 0x37,
                                  0x74, 0x75, 0x76, 0x77, 0x70, 0x71, 0x72, 0x73},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10}},
    {.ids = {23}, .pins = {0x77, 0x76, 0x75, 0x74, 0x73, 0x72, 0x71, 0x70,
                           0x87, 0x86, 0x85, 0x84, 0x83, 0x82, 0x81, 0x80},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10}},
    {.ids = {24}, .pins = {0x15, 0x16, 0x47, 0x50, 0x14, 0x35, 0x36, 0x37, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10}},
    {.ids = {37}, .pins = {0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0x28}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10}},
    {.ids = {42}, .pins = {0x87, 0x86, 0x85, 0x84, 0x83, 0x82, 0x81, 0x80,
                           0x77, 0x76, 0x75, 0x74, 0x73, 0x72, 0x71, 0x70},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10},
     .cpuSource = 2},
    {.ids = {45}, .pins = {0x11, 0x12, 0x47, 0x50, 0x14, 0x35, 0x36, 0x37, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10},
     .cpuRegister = 0x29, .sysTemp = {0x2A, REG_NONE, REG_NONE}},
    {.ids = {46}, .pins = {0x11, 0x14, 0x12, 0x35, 0x47, 0x36, 0x50, 0x37, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10},
     .cpuRegister = 0x29, .sysTemp = {0x2A, REG_NONE, REG_NONE}},
    {.ids = {47, 50}, .pins = {0x11, 0x12, 0x47, 0x50, 0x14, 0x35, 0x36, 0x37, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10}},
    {.ids = {55}, .pins = {0x15, 0x16, 0x47, 0x50, 0x14, 0x35, 0x36, 0x37, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x24, 0x23, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {2, 10}, .ch3 = {7.5, 10},
     .cpuSource = 2, .cpuRegister = 0, .sysTemp = {0x2A, REG_NONE, REG_NONE}},
    // subtype 3
    {.ids = {56}, .pins = {0x11, 0x12, 0x47, 0x50, 0x14, 0x10, 0x36, 0x37, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0, 0x25, 0x24, 0x22, 0, 0}, .ch4 = {31.6, 10}, .ch2 = {10, 10}, .ch3 = {6.8, 10}},
    // subtype 4
    {.ids = {53}, .pins = {0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, _, _, _, _, _, _, _, _},
     .voltage = {0x20, 0x21, 0x22, 0x23, 0x24, 0, 0}, .ch4 = {30, 10}, .ch2 = {10, 10}, .ch3 = {6.8, 10},
     .cpuSource = 0, .cpuRegister = 0, .sysTemp = {0x2A, REG_NONE, REG_NONE}},
    // Second chip of a chipset board: fans and rails; no GPIO.
    {.ids = {60}, .pins = {_, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _},
     .voltage = {0x22, 0x21, 0x26, 0x25, 0x24, 0, 0}, .ch4 = {30, 10}, .ch2 = {0, 0}, .ch3 = {30, 10},
     .fan1 = false},
};
// clang-format on
static_assert(std::size(kRows) == 18, "one row per ChipKind 2 hardware variant");

// Boards whose ADC reads 0..4.096 V in 16 mV steps; the others 0..3.072 V in 12 mV steps.
bool WideAdc(uint32_t subtype) { return subtype == 0 || subtype == 3 || subtype == 4; }

const Row* FindRow(uint32_t boardId) {
    for (const Row& r : kRows)
        for (uint8_t id : r.ids)
            if (id != 0 && id == boardId) return &r;
    return nullptr;
}

void SetInitial(DeviceContext& ctx) {
    Sio2Area& a = Area(ctx);
    a = Sio2Area{};
    // A board without a row has no GPIO pins (not 16 pins of chip set 0).
    std::fill(std::begin(a.pinCode), std::end(a.pinCode), PIN_NONE);
    a.fanCountHigh[0] = 0x18;
    a.fanCountLow[0] = 0x0D;
    a.fanCountHigh[1] = 0x19;
    a.fanCountLow[1] = 0x0E;
    a.fan0DutyControl = REG_NONE;
    a.fan1KeepControl = 1;
    a.cpuTempRegister = 0x2A;
    a.sysTemp[0] = 0x29;
    a.sysTemp[1] = a.sysTemp[2] = REG_NONE;
    std::fill(std::begin(ctx.gpioSets), std::end(ctx.gpioSets), 0u);
    ctx.wdtSio12 = WdtState{.minCount = {1, 1}, .maxCount = {255, 255}, .unit = 0, .count = 10, .running = 0, .configured = 0};
    ctx.ioDelay = 5;
    const bool wide = WideAdc(ctx.subtype);
    a.adcFullScale = wide ? 4.096 : 3.072;
    a.voltageLsb = wide ? 0.016 : 0.012;
}

void Apply(DeviceContext& ctx, const Row& row) {
    Sio2Area& a = Area(ctx);
    std::copy(std::begin(row.pins), std::end(row.pins), a.pinCode);
    std::copy(std::begin(row.voltage), std::end(row.voltage), a.voltageRegister);
    a.divider[4] = row.ch4;
    a.divider[2] = row.ch2;
    a.divider[3] = row.ch3;
    a.fanPresent[0] = 1;
    a.fanPresent[1] = row.fan1 ? 1 : 0;
    a.cpuTempSource = row.cpuSource;
    a.tempEnable = row.tempEnable;
    a.cpuTempRegister = row.cpuRegister;
    std::copy(std::begin(row.sysTemp), std::end(row.sysTemp), a.sysTemp);
}

// Routes entry i's pin to its simple-I/O port. Called in configuration mode.
void RoutePin(Sio2Area& a, int i) {
    const uint8_t set = a.pinCode[i] >> 4;
    const uint8_t mask = uint8_t(a.mask[i]);
    if (set >= 1 && set <= 6) {
        a.direction[i] = uint8_t(GPIO_OUTPUT_ENABLE_BASE + set);
        a.dataOffset[i] = uint8_t(set - 1);
        a.companion[i] = uint8_t(GPIO_PULLUP_BASE + set);
        if (set <= 5) {
            SelectDevice(LDN_GPIO);
            SetBits(uint8_t(CR_PIN_SELECT_BASE + set), mask);
        }
        SelectDevice(LDN_GPIO);
        SetBits(uint8_t(GPIO_SIMPLE_IO_BASE + set), mask);
        SetBits(a.companion[i], mask);
    } else if (set == 7 || set == 8) {
        a.direction[i] = set == 7 ? GPIO_SET7_OUTPUT_ENABLE : GPIO_SET8_OUTPUT_ENABLE;
        a.dataOffset[i] = uint8_t(set - 1);
        // These pins are shared with the parallel port, which must let go of them.
        SelectDevice(LDN_PARALLEL);
        Write(CR_ACTIVATE, 0x00);
        SelectDevice(LDN_GPIO);
        if (set == 7) SetBits(GPIO_SET7_SELECT, SET7_GPIO);
        else SetBits(CR_MULTI_FUNCTION, MF_SET8_GPIO);
    }
    // Chip sets 0 and 9..14 have no simple-I/O port: the entry stays without
    // registers and its pin answers 7.
}

// Called in configuration mode.
uint16_t ReadBase(uint8_t highReg, uint8_t lowReg) { return UsableBase(ReadPair(highReg, lowReg)); }

void SetEnvBits(const DeviceContext& ctx, uint8_t reg, uint8_t bits) {
    EnvWrite(ctx, reg, uint8_t(EnvRead(ctx, reg) | bits));
}

void ClaimOwnFamilies(DeviceContext& ctx) {
    const Sio2Area& a = Area(ctx);
    ctx.caps[CAP_GPIO] = ctx.gpioSets[0] != 0 ? 1 : 0;
    ctx.caps[CAP_WDT] = 1;
    ctx.caps[CAP_FAN] = (a.fanPresent[0] || a.fanPresent[1]) ? 1 : 0;
    ctx.caps[CAP_VOLTAGE] = 1;
    ctx.caps[CAP_TEMPERATURE] = a.tempEnable == 1 ? 1 : 0;
    ctx.caps[CAP_CPU_TEMPERATURE] = a.cpuTempSource == 1 ? 1 : 0;
}

} // namespace

void Configure(DeviceContext& ctx) {
    SetInitial(ctx);
    Sio2Area& a = Area(ctx);
    const Row* row = FindRow(ctx.boardId);
    if (row != nullptr) Apply(ctx, *row);

    {
        ConfigMode config;
        for (int i = 0; i < PIN_ENTRIES; ++i) {
            const uint8_t code = a.pinCode[i];
            a.mask[i] = 1u << (code & 0x0F);
            if ((code >> 4) >= 15) continue;
            const uint32_t set = i < 8 ? 1 : 2;
            ctx.gpioSets[0] = std::max(ctx.gpioSets[0], set);
            ++ctx.gpioSets[set];
            RoutePin(a, i);
        }
        SelectDevice(LDN_GPIO);
        a.gpioDataBase = ReadBase(GPIO_BASE_HIGH, GPIO_BASE_LOW);
        SelectDevice(LDN_ENV);
        a.envBase = ReadBase(CR_BASE_HIGH, CR_BASE_LOW);
        // Both logical devices decode 8 ports from their base.
        if (a.gpioDataBase != NO_BASE) hal::GrantPorts(a.gpioDataBase, 8);
        if (a.envBase != NO_BASE) hal::GrantPorts(a.envBase, 8);
        if (ctx.subtype != 4) {
            SelectDevice(LDN_GPIO);
            Write(CR_MULTI_FUNCTION, uint8_t(Read(CR_MULTI_FUNCTION) & ~MF_KEEP_BIT0));
        }
    }
    superio::NoteMonitorBlock(ctx, a.envBase == NO_BASE ? 0 : a.envBase, superio::MONITOR_BLOCK_SIZE, a.voltageLsb);
    if (a.envBase != NO_BASE && !superio::MonitorHeldByKernel(ctx)) {
        if (a.voltageRegister[6] != 0) SetEnvBits(ctx, ENV_VBAT_CONTROL, VBAT_ENABLE);
        EnvWrite(ctx, ENV_ADC_ENABLE, 0xFF);
    }

    if (row != nullptr && row->parallelPortGpio) {
        ConfigMode config;
        SelectDevice(LDN_PARALLEL);
        SetBits(PARALLEL_MODE, PARALLEL_PINS_SHARED);
    }
    if (ctx.isSecondary) ClaimOwnFamilies(ctx);
    if (row != nullptr)
        for (const CapWrite& c : row->caps)
            if (c.value >= 0) ctx.caps[c.cap] = uint32_t(c.value);
}

} // namespace vek::sio2
