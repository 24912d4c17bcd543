// The native Windows platform: every host entry served by the OS itself.
#include <windows.h>

#include <cpuid.h>

#include <atomic>

#include "os/hybrid_wait.h"
#include "os/os.h"
#include "os/windows/win_platform.h"

namespace vek::os {
namespace win {
namespace {

HMODULE g_module = nullptr;

constexpr DWORD kTokenElevationClass = 20; // TokenElevation
constexpr WPARAM kMonitorPower = 0xF170;   // SC_MONITORPOWER
constexpr LPARAM kMonitorOff = 2;

int64_t CounterFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

int64_t CounterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// ---- host entries ----

uint32_t HostDriverStart(void*) { return DriverStart(); }
void HostDriverStop(void*) { DriverStop(); }
int HostProcessElevated(void*) { return ProcessElevated() ? 1 : 0; }

int HostDriverRequest(void*, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                      uint32_t* returned) {
    return DriverRequest(code, in, inSize, out, outSize, returned);
}

int HostZkecOpen(void*, uint32_t* lastError) { return ZkecOpen(lastError) ? 1 : 0; }
void HostZkecClose(void*) { ZkecClose(); }
uint32_t HostZkecRequest(void*, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize) {
    return ZkecRequest(code, in, inSize, out, outSize);
}

uint32_t HostIdentity(void*, uint32_t item, char* out, uint32_t outSize) {
    return QueryIdentity(item, out, outSize);
}

void HostCpuid(void*, uint32_t leaf, uint32_t regs[4]) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
    // On 32-bit x86 this first proves the instruction exists (EFLAGS.ID).
    if (__get_cpuid_max(0, nullptr) == 0) return;
    unsigned a, b, c, d;
    __cpuid_count(leaf, 0, a, b, c, d);
    regs[0] = a;
    regs[1] = b;
    regs[2] = c;
    regs[3] = d;
}

// The performance counter in nanoseconds (split so large counts do not overflow).
int64_t CounterNs() {
    static const int64_t f = CounterFrequency();
    const int64_t ticks = CounterNow();
    return (ticks / f) * 1'000'000'000 + (ticks % f) * 1'000'000'000 / f;
}

// CreateWaitableTimerExW flag (Windows 10 1803 and later); older systems
// refuse it and every wait stays a spin.
constexpr DWORD kHighResolutionTimer = 0x00000002;
std::atomic<bool> g_timerRefused{false};
// High-resolution timers wake within about half a tick of the scheduler.
constexpr int64_t kWindowsMinSpinNs = 100'000;
WakeLateness g_lateness{kWindowsMinSpinNs};

bool SleepUntilNs(int64_t wakeNs) {
    if (g_timerRefused.load(std::memory_order_relaxed)) return false;
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        g_timerRefused.store(true, std::memory_order_relaxed);
        return false;
    }
    LARGE_INTEGER due;
    due.QuadPart = -((wakeNs - CounterNs()) / 100); // relative, in 100 ns units
    bool slept = false;
    if (due.QuadPart < 0 && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE))
        slept = WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(timer);
    return slept;
}

void HostDelayUs(void*, int64_t microseconds) {
    WaitUntil(DeadlineNs(CounterNs(), microseconds), g_lateness, CounterNs, SleepUntilNs);
}

int64_t HostCounterFrequency(void*) { return CounterFrequency(); }
int64_t HostCounterNow(void*) { return CounterNow(); }

uint32_t HostBrightnessRead(void*, uint8_t* level) { return BrightnessRead(level); }
uint32_t HostBrightnessSet(void*, uint8_t level) { return BrightnessSet(level); }
uint32_t HostScreenSet(void*, uint8_t on) { return ScreenSet(on); }

uint32_t HostI2cOpen(void*, uint32_t controller, uint8_t address7, void** handle) {
    return I2cOpen(controller, address7, handle);
}
uint32_t HostI2cTransfer(void*, void* handle, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                         uint32_t* transferred) {
    return I2cTransfer(handle, write, wlen, read, rlen, transferred);
}
void HostI2cClose(void*, void* handle) { I2cClose(handle); }

vek_host_platform MakeNativePlatform() {
    vek_host_platform p{};
    p.size = sizeof p;
    p.driver_start = HostDriverStart;
    p.driver_stop = HostDriverStop;
    p.process_elevated = HostProcessElevated;
    p.driver_request = HostDriverRequest;
    p.zkec_open = HostZkecOpen;
    p.zkec_close = HostZkecClose;
    p.zkec_request = HostZkecRequest;
    p.identity = HostIdentity;
    p.cpuid = HostCpuid;
    p.counter_frequency = HostCounterFrequency;
    p.counter_now = HostCounterNow;
    p.delay_us = HostDelayUs;
    p.brightness_read = HostBrightnessRead;
    p.brightness_set = HostBrightnessSet;
    p.screen_set = HostScreenSet;
    p.i2c_open = HostI2cOpen;
    p.i2c_transfer = HostI2cTransfer;
    p.i2c_close = HostI2cClose;
    return p;
}

} // namespace

void SetModule(HMODULE module) { g_module = module; }
HMODULE Module() { return g_module; }

void SpinMicroseconds(int64_t microseconds) { HostDelayUs(nullptr, microseconds); }

bool ProcessElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD elevated = 0;
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(kTokenElevationClass),
                                        &elevated, sizeof elevated, &size);
    CloseHandle(token);
    return ok && elevated != 0;
}

uint32_t ScreenSet(uint8_t on) {
    if (on == 0) return PostMessageW(HWND_BROADCAST, WM_SYSCOMMAND, kMonitorPower, kMonitorOff) ? 0 : 1;
    // Any input wakes a monitor that power management switched off; a one-pixel
    // move there and back leaves the pointer where it was.
    INPUT moves[2] = {};
    for (INPUT& move : moves) {
        move.type = INPUT_MOUSE;
        move.mi.dwFlags = MOUSEEVENTF_MOVE;
    }
    moves[0].mi.dx = 1;
    moves[1].mi.dx = -1;
    SendInput(2, moves, sizeof(INPUT));
    return 0;
}

} // namespace win

const vek_host_platform& NativePlatform() {
    static const vek_host_platform platform = win::MakeNativePlatform();
    return platform;
}

} // namespace vek::os
