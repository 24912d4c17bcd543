// The real I/O driver under wine: vek.dll installs and starts it through its
// own service code, this program talks to the device beside the library, and
// the library removes the service when its handle is the last one. The
// driver is zelkoranx64.sys for a 64-bit program and for a 32-bit one in a
// 64-bit prefix, zelkoran.sys in a 32-bit prefix.
//
//   wine_driver_test.exe        vek.dll and the driver lie beside the program;
//                               the board wine describes is in the platform table
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tests/windows/check.h"
#include "vek/host.h"
#include "vek/vek.h"

namespace {

constexpr wchar_t kDevice[] = L"\\\\.\\ZELKORAN_0_1";
constexpr wchar_t kService[] = L"ZELKORAN_0_1";
constexpr uint32_t kExpectedVersion = 0x05000100; // 5.0.1.0

template <typename Fn>
Fn Entry(HMODULE dll, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}
using NoArgs = VEK_RESULT(VEK_CALL*)();

// SERVICE_RUNNING, SERVICE_STOPPED, or 0 when the service does not exist.
DWORD ServiceState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, kService, SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status{};
    const DWORD state = service && QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return state;
}

struct Answer {
    bool ok;
    DWORD error;
    DWORD returned;
    unsigned char out[16];
};

Answer Ask(HANDLE device, DWORD code, const void* in, DWORD inSize, DWORD outSize) {
    Answer a{};
    a.ok = DeviceIoControl(device, code, const_cast<void*>(in), inSize, a.out, outSize, &a.returned, nullptr);
    a.error = a.ok ? 0 : GetLastError();
    return a;
}

// The Win32 error DeviceIoControl reports for a request completed with status.
DWORD ErrorFor(uint32_t status) {
    using Fn = ULONG(WINAPI*)(LONG);
    static const auto toDos = reinterpret_cast<Fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    return toDos ? toDos(LONG(status)) : 0;
}
constexpr uint32_t kAccessDenied = 0xC0000022;
constexpr uint32_t kInvalidBufferSize = 0xC0000206;
constexpr uint32_t kPrivilegedInstruction = 0xC0000096;

uint32_t U32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

// Requests a hostile caller would send, each refused by a rule before any
// instruction or mapping (wine faults on in/out and aborts the device host on
// a RAM-list query, so a request that got past the rules would show).
void DangerousRequestsAreRefused(HANDLE device) {
    struct Case {
        const char* what;
        DWORD code;
        unsigned char in[20];
        DWORD inSize, outSize;
    };
    const Case cases[] = {
        {"ACPI PM1a control 0x1804 (SLP_EN)", VEK_IOCTL_WRITE_PORT_WORD, {0x04, 0x18, 0, 0, 0x00, 0x3C}, 6, 0},
        {"FCH power-management index 0xCD6", VEK_IOCTL_WRITE_PORT_BYTE, {0xD6, 0x0C, 0, 0, 0x10}, 5, 0},
        {"PCI interrupt routing 0xC00", VEK_IOCTL_WRITE_PORT_BYTE, {0x00, 0x0C, 0, 0, 0x01}, 5, 0},
        {"PCI configuration address 0xCF8", VEK_IOCTL_WRITE_PORT_DWORD, {0xF8, 0x0C, 0, 0, 0x40, 0xF8, 0, 0x80}, 8, 0},
        {"port B as a word", VEK_IOCTL_WRITE_PORT_WORD, {0x61, 0, 0, 0, 0x03, 0x00}, 6, 0},
        {"a port nobody named (0x290)", VEK_IOCTL_READ_PORT_BYTE, {0x90, 0x02}, 2, 2},
        {"naming a range without the firmware's ACPI table", VEK_IOCTL_GRANT_PORTS, {0x90, 0x02, 8, 0}, 4, 0},
        {"FCH GPIO window on a machine without the FCH", VEK_IOCTL_READ_MEMORY,
         {0x1E, 0x17, 0xD8, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, 16, 1},
        {"pad window on a machine without the PCH", VEK_IOCTL_READ_MEMORY,
         {0x40, 0x07, 0x69, 0xFD, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, 16, 1},
    };
    for (const Case& c : cases) {
        const Answer a = Ask(device, c.code, c.in, c.inSize, c.outSize);
        if (!CHECK_EQ(a.error, ErrorFor(kAccessDenied))) std::printf("  refused? %s\n", c.what);
    }
    // The access rule (every request needs read and write access on the
    // handle) is not visible here: wine's device host passes the driver no
    // security context on an open.
}

void TestRealDriver() {
    CHECK_EQ(ServiceState(), DWORD(0));
    HMODULE dll = LoadLibraryW(L"vek.dll");
    if (!CHECK(dll != nullptr)) return;
    // Init installs and starts the driver itself. Under wine the board's chips
    // do not answer (port I/O is refused, below), so only the driver step counts.
    const VEK_RESULT init = Entry<NoArgs>(dll, "VEK_API_Init")();
    std::printf("VEK_API_Init: %u\n", init);
    CHECK(init != 2 && init != 3); // the file was found and the service started
    CHECK_EQ(ServiceState(), DWORD(SERVICE_RUNNING));

    HANDLE device = CreateFileW(kDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (CHECK(device != INVALID_HANDLE_VALUE)) {
        Answer version = Ask(device, VEK_IOCTL_DRIVER_VERSION, nullptr, 0, 4);
        CHECK(version.ok);
        CHECK_EQ(U32(version.out), kExpectedVersion);
        Answer handles = Ask(device, VEK_IOCTL_HANDLE_COUNT, nullptr, 0, 4);
        CHECK(handles.ok);
        CHECK_EQ(U32(handles.out), 2u); // the library's and ours

        // An oversized output buffer is refused, not padded.
        CHECK_EQ(Ask(device, VEK_IOCTL_DRIVER_VERSION, nullptr, 0, 8).error, ErrorFor(kInvalidBufferSize));

        const uint32_t thermalStatus = 0x19C, timeStamp = 0x10;
        Answer msr = Ask(device, VEK_IOCTL_READ_MSR, &thermalStatus, 4, 8);
        CHECK(msr.ok);
        CHECK_EQ(msr.returned, DWORD(8));
        CHECK_EQ(Ask(device, VEK_IOCTL_READ_MSR, &timeStamp, 4, 8).error, ErrorFor(kAccessDenied));

        // RAM is never mapped: 1 MiB, one byte. (Refused by the device-window
        // rule before the memory manager's RAM list is needed: wine has none.)
        unsigned char ram[16] = {};
        ram[2] = 0x10, ram[8] = 1, ram[12] = 1;
        CHECK_EQ(Ask(device, VEK_IOCTL_READ_MEMORY, ram, 16, 1).error, ErrorFor(kAccessDenied));

        // The reset control port is refused by rule; an allowed port reaches
        // the in instruction, which wine's device host cannot execute.
        const unsigned char reset[5] = {0xF9, 0x0C, 0, 0, 0x06};
        CHECK_EQ(Ask(device, VEK_IOCTL_WRITE_PORT_BYTE, reset, 5, 0).error, ErrorFor(kAccessDenied));
        // Wine's device host runs the driver in user mode, where in and out
        // fault: the driver's guard turns the fault into the request's status
        // and the host lives on to answer the next request.
        for (unsigned char at : {0x66, 0x62}) {
            const unsigned char ecPort[2] = {at, 0};
            Answer port = Ask(device, VEK_IOCTL_READ_PORT_BYTE, ecPort, 2, 2);
            std::printf("port %#x read: %s, error %#lx\n", at, port.ok ? "done" : "refused", port.error);
            CHECK(!port.ok);
            CHECK_EQ(port.error, ErrorFor(kPrivilegedInstruction));
            Answer after = Ask(device, VEK_IOCTL_DRIVER_VERSION, nullptr, 0, 4);
            CHECK(after.ok);
            CHECK_EQ(U32(after.out), kExpectedVersion);
        }

        DangerousRequestsAreRefused(device);
        CloseHandle(device);
    }
    // Nothing opens below the device's own name.
    HANDLE below = CreateFileW(L"\\\\.\\ZELKORAN_0_1\\x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(below == INVALID_HANDLE_VALUE);
    if (below != INVALID_HANDLE_VALUE) CloseHandle(below);

    // The library holds the last handle: Uninit stops and removes the service.
    CHECK_EQ(Entry<NoArgs>(dll, "VEK_API_Uninit")(), 0u);
    CHECK_EQ(ServiceState(), DWORD(0));
    HANDLE gone = CreateFileW(kDevice, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(gone == INVALID_HANDLE_VALUE); // unloaded: the name went with it
    if (gone != INVALID_HANDLE_VALUE) CloseHandle(gone);
    FreeLibrary(dll);
}

} // namespace

int main() {
    TestRealDriver();
    return vek::wine::Finish("wine_driver_test");
}
