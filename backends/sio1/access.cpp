// Port access to the ChipKind 1 chip. Every port access is followed by the
// backend's pause; the chip needs it between index and data cycles.
#include "platform/process.h"
#include "backends/sio1/registers.h"
#include "backends/sio1/sio1.h"
#include "backends/superio/superio.h"
#include "hal/hal.h"

namespace vek::sio1 {

namespace {

// Where the configuration pair sits. A board strapped to 0x4E moves it there
// for the rest of the process.
uint16_t g_configPort = CFG_PORT_DEFAULT;

void Out(uint16_t port, uint8_t value) { superio::PortWrite(KIND_SIO1, port, value); }
uint8_t In(uint16_t port) { return superio::PortRead(KIND_SIO1, port); }

} // namespace

uint16_t ConfigPort() { return g_configPort; }
void SetConfigPort(uint16_t port) { g_configPort = port; }
void ResetProcessState() { g_configPort = CFG_PORT_DEFAULT; }

void Pause(int64_t microseconds) { hal::Delay(microseconds); }

ConfigMode::ConfigMode() {
    Out(g_configPort, CFG_KEY_ENTER);
    Out(g_configPort, CFG_KEY_ENTER);
}

ConfigMode::~ConfigMode() { Out(g_configPort, CFG_KEY_EXIT); }

void CfgWrite(uint8_t reg, uint8_t value) {
    Out(g_configPort, reg);
    Out(uint16_t(g_configPort + 1), value);
}

uint8_t CfgRead(uint8_t reg) {
    Out(g_configPort, reg);
    return In(uint16_t(g_configPort + 1));
}

void SelectDevice(uint8_t ldn) { CfgWrite(CR_DEVICE_SELECT, ldn); }

// A chip that did not answer at configuration leaves its monitor "base" at
// 0xFFFF, which wraps the index port down among the DMA and interrupt
// controllers. No Super I/O decodes below 0x100, so the monitor is treated as
// floating there: reads give 0xFF, writes go nowhere.
constexpr uint16_t kFirstDecodablePort = 0x100;

bool HwmReachable(const DeviceContext& ctx) { return Area(ctx).hwmIndexPort >= kFirstDecodablePort; }

void HwmWrite(const DeviceContext& ctx, uint8_t reg, uint8_t value) {
    if (!HwmReachable(ctx)) return;
    const uint16_t index = Area(ctx).hwmIndexPort;
    Out(index, reg);
    Out(uint16_t(index + 1), value);
}

uint8_t HwmRead(const DeviceContext& ctx, uint8_t reg) {
    if (!HwmReachable(ctx)) return 0xFF;
    const uint16_t index = Area(ctx).hwmIndexPort;
    Out(index, reg);
    return In(uint16_t(index + 1));
}

HwmBank::HwmBank(const DeviceContext& ctx, uint8_t bank) : ctx_(ctx), bank_(bank) {
    HwmWrite(ctx_, HWM_BANK_SELECT, bank);
}

void HwmBank::Select(uint8_t bank) {
    bank_ = bank;
    HwmWrite(ctx_, HWM_BANK_SELECT, bank);
}

HwmBank::~HwmBank() {
    if (bank_ != 0) HwmWrite(ctx_, HWM_BANK_SELECT, 0);
}

} // namespace vek::sio1
