// The second EC's own driver, device \\.\ZKEC.
#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "os/windows/win_platform.h"
#include "vek/host.h"

namespace vek::os::win {
namespace {

constexpr char kZkecDevice[] = "\\\\.\\ZKEC";
// How long a cancelled request may take to come back before it is abandoned.
constexpr DWORD kCancelGraceMs = 100;

HANDLE g_zkec = INVALID_HANDLE_VALUE;

// Everything the kernel may still write to while a request is in flight: the
// OVERLAPPED and the request's own copies of the caller's buffers.
struct Request {
    OVERLAPPED overlapped{};
    std::vector<unsigned char> in;
    std::vector<unsigned char> out;
    ~Request() {
        if (overlapped.hEvent) CloseHandle(overlapped.hEvent);
    }
};

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
    std::unique_ptr<Request> request(new (std::nothrow) Request);
    if (!request) return ERROR_NOT_ENOUGH_MEMORY;
    try {
        request->in.assign(static_cast<const unsigned char*>(in), static_cast<const unsigned char*>(in) + inSize);
        request->out.resize(outSize);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // The device is opened for overlapped I/O, so each request carries its own
    // OVERLAPPED; one the driver leaves pending counts as failed.
    request->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (request->overlapped.hEvent == nullptr) return GetLastError();

    DWORD got = 0;
    if (DeviceIoControl(g_zkec, code, inSize ? request->in.data() : nullptr, inSize,
                        outSize ? request->out.data() : nullptr, outSize, &got, &request->overlapped)) {
        if (outSize) std::memcpy(out, request->out.data(), outSize);
        return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return error;

    // Not waited for. Cancelled, and if the driver does not let go in time the
    // request's memory is left to it: it completes into that, never into the
    // caller's buffers.
    CancelIoEx(g_zkec, &request->overlapped);
    if (WaitForSingleObject(request->overlapped.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) request.release();
    return VEK_HOST_ERROR_IO_PENDING;
}

} // namespace vek::os::win
