// Pieces of the Windows platform shared between its translation units (and the
// wine test programs, which drive them directly).
#pragma once

#include <windows.h>

#include <cstdint>

namespace vek::os::win {

// ---- platform_win.cpp ----
// The module whose directory holds the driver files: vek.dll itself, or the
// executable when the library is linked statically.
void SetModule(HMODULE module);
HMODULE Module();
// Waits on the performance counter, sleeping the bulk of long waits; 0 or less returns at once.
void SpinMicroseconds(int64_t microseconds);
// Token elevation (TokenElevation); false when the token cannot be queried.
bool ProcessElevated();
uint32_t ScreenSet(uint8_t on); // 0 posted / woken, 1 the post failed

// ---- driver_win.cpp ----
enum ServiceOp : int {
    kServiceInstallStart = 1,
    kServiceStopRemove = 2,
    kServiceMakePermanent = 3,
    kServiceRemovePermanent = 4,
};
uint32_t DriverStart();  // a VEK_HOST_DRIVER_* status; the device stays open when 0
void DriverStop();       // close; remove the service when this process is the last user
bool DriverOpen();
int DriverRequest(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                  uint32_t* returned);
bool ServiceControl(int op, const wchar_t* name, const wchar_t* binaryPath);
const wchar_t* DriverPath(); // the path the last start chose (empty before)
// The process is exiting (DLL_PROCESS_DETACH with a non-null reserved word):
// DriverStop then only closes the device.
void SetProcessExiting();
// SHA-256 of a file; false when it cannot be read.
constexpr uint32_t kDriverDigestBytes = 32;
bool FileDigest(const wchar_t* path, uint8_t* out);
// Accepts one more driver file (name, SHA-256, the version its device answers)
// besides the ones built with the library. Part of the static core for the
// tests' stand-in drivers; vek.dll does not export it.
bool TrustDriver(const wchar_t* file, const uint8_t* sha256, uint32_t version);

// ---- zkec_win.cpp ----
bool ZkecOpen(uint32_t* lastError);
void ZkecClose();
uint32_t ZkecRequest(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize);

// ---- wmi_win.cpp ----
uint32_t QueryIdentity(uint32_t item, char* out, uint32_t outSize); // 0, or 16
uint32_t BrightnessRead(uint8_t* level); // 0, 1, 2 or 17
uint32_t BrightnessSet(uint8_t level);
// Successful COM security initialisations of the identity query, process-wide.
int ComSecurityInitCount();
// Narrow (ANSI code page) copy of a wide value into out[outSize], shortened on a
// character boundary when too long. False for an empty value (out untouched).
bool WideToNarrow(const wchar_t* value, char* out, uint32_t outSize);

// ---- i2c_win.cpp ----
// Platform I2C controller 0 ("I2C0") or 1 ("I2C1"), device at a 7-bit address:
// 0 and *handle set, or 6 when no such controller or device can be opened.
uint32_t I2cOpen(uint32_t controller, uint8_t address7, void** handle);
// The same, with the reason of a failure ("I2C controller not found", "Slave
// address 0x.. on bus .. is in use or unavailable.", the platform error's text,
// "Out of memory", "Unknown error during i2c_open") in *message, allocated with
// CoTaskMemAlloc; the caller frees it with CoTaskMemFree.
uint32_t I2cOpenDevice(uint32_t controller, uint8_t address7, void** handle, wchar_t** message);
// Write, read, or write then read in one transfer. The transfer status (0 full,
// 1 partial, 2 address not acknowledged, 3 clock stretch time-out, 4 unknown
// error), or 0xFFFFFFFF when nothing was sent.
uint32_t I2cTransfer(void* handle, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                     uint32_t* transferred);
void I2cClose(void* handle);

} // namespace vek::os::win
