// The second EC's own driver, device \\.\ZKEC.
#include <windows.h>

#include "os/windows/win_platform.h"
#include "vek/host.h"

namespace vek::os::win {
namespace {

constexpr char kZkecDevice[] = "\\\\.\\ZKEC";

HANDLE g_zkec = INVALID_HANDLE_VALUE;

} // namespace

bool ZkecOpen(uint32_t* lastError) {
    ZkecClose();
    g_zkec = CreateFileA(kZkecDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
    if (g_zkec != INVALID_HANDLE_VALUE) return true;
    if (lastError) *lastError = GetLastError();
    return false;
}

void ZkecClose() {
    if (g_zkec != INVALID_HANDLE_VALUE) CloseHandle(g_zkec);
    g_zkec = INVALID_HANDLE_VALUE;
}

uint32_t ZkecRequest(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize) {
    if (g_zkec == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    // The device is opened for overlapped I/O, so the request needs its own
    // OVERLAPPED; a request the driver leaves pending counts as failed.
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return GetLastError();
    DWORD got = 0;
    uint32_t error = 0;
    if (!DeviceIoControl(g_zkec, code, const_cast<void*>(in), inSize, out, outSize, &got, &overlapped)) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            // Not waited for, but not left running either: the driver would
            // complete it later into the caller's (by then stale) buffer.
            CancelIoEx(g_zkec, &overlapped);
            GetOverlappedResult(g_zkec, &overlapped, &got, TRUE);
            error = VEK_HOST_ERROR_IO_PENDING;
        }
    }
    CloseHandle(overlapped.hEvent);
    return error;
}

} // namespace vek::os::win
