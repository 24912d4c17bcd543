// The Windows platform layer against the services wine provides: WMI over a
// fake DMI table, the service control manager, named mutexes across processes,
// token elevation, device opens that fail.
//
//   wine_os_test.exe choice | identity PRODUCT VENDOR BIOSVERSION SERIAL BOARDVERSION
//                   | driver | network | lock | zkec | brightness
#include <windows.h>

#include <objbase.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "hal/hal.h"
#include "os/os.h"
#include "os/windows/driver_choice.h"
#include "os/windows/win_platform.h"
#include "tests/windows/check.h"

using namespace vek::os;
using vek::wine::ChildResult;
using vek::wine::RunSelf;

namespace {

constexpr wchar_t kServiceName[] = L"ZELKORAN_0_1";
constexpr wchar_t kMutexName[] = L"MutexForVEK";

// ------------------------------------------------------------ driver choice

void TestDriverChoice() {
    struct Case {
        uint32_t platformClass;
        bool wow64, amd64;
        const wchar_t* file;
        win::DriverType type;
        uint32_t status;
    } const cases[] = {
        {0, false, false, L"", win::kDriverNone, VEK_HOST_DRIVER_UNSUPPORTED},
        {1, false, false, L"zelkoran.vxd", win::kDriverVxd, VEK_HOST_DRIVER_READY},
        {2, false, false, L"zelkoran.sys", win::kDriverNt32, VEK_HOST_DRIVER_READY},
        {2, false, true, L"zelkoranx64.sys", win::kDriverX64, VEK_HOST_DRIVER_READY},
        {2, true, true, L"zelkoranx64.sys", win::kDriverX64, VEK_HOST_DRIVER_READY},
        {2, true, false, L"zelkorania64.sys", win::kDriverIa64, VEK_HOST_DRIVER_UNSUPPORTED},
        {3, false, true, L"", win::kDriverNone, VEK_HOST_DRIVER_NOT_STARTED},
    };
    for (const Case& c : cases) {
        const win::DriverChoice got = win::ChooseDriver(c.platformClass, c.wow64, c.amd64);
        CHECK(std::wstring(got.file) == c.file);
        CHECK_EQ(uint32_t(got.type), uint32_t(c.type));
        CHECK_EQ(got.status, c.status);
    }
}

// ------------------------------------------------------------ identity

uint32_t Identity(uint32_t item, char* out, uint32_t size) {
    const vek_host_platform& p = NativePlatform();
    return p.identity(p.user, item, out, size);
}

// The query starts and stops COM itself; the calling thread's own apartment
// must be exactly as it was afterwards.
struct ApartmentCase {
    DWORD model;
    const char* product;
    uint32_t result = 0;
    char value[80] = {};
    HRESULT again = E_FAIL; // CoInitializeEx after the query: S_FALSE while still initialised
};

DWORD WINAPI ApartmentThread(void* arg) {
    auto* c = static_cast<ApartmentCase*>(arg);
    const HRESULT own = CoInitializeEx(nullptr, c->model);
    c->result = Identity(VEK_HOST_ID_PRODUCT, c->value, sizeof c->value);
    c->again = CoInitializeEx(nullptr, c->model);
    if (SUCCEEDED(c->again)) CoUninitialize();
    if (SUCCEEDED(own)) CoUninitialize();
    return 0;
}

void TestIdentity(char** expected) {
    const uint32_t items[] = {VEK_HOST_ID_PRODUCT, VEK_HOST_ID_BIOS_VENDOR, VEK_HOST_ID_BIOS_VERSION,
                              VEK_HOST_ID_SERIAL, VEK_HOST_ID_BOARD_VERSION};
    for (uint32_t i = 0; i < 5; ++i) {
        // 80-byte buffers as the library uses them; a longer value is cut to 79 characters.
        char out[81];
        std::memset(out, '#', sizeof out);
        CHECK_EQ(Identity(items[i], out, 80), 0u);
        CHECK_STR(out, std::string(expected[i]).substr(0, 79));
        CHECK_EQ(out[80], '#');
    }

    // Short destinations: never written past out_size, always terminated.
    for (uint32_t size : {1u, 2u, 5u, 32u}) {
        char out[40];
        std::memset(out, '#', sizeof out);
        CHECK_EQ(Identity(VEK_HOST_ID_PRODUCT, out, size), 0u);
        CHECK_STR(out, std::string(expected[0]).substr(0, size - 1));
        CHECK_EQ(out[size], '#');
    }

    char untouched[8] = "keep";
    CHECK_EQ(Identity(VEK_HOST_ID_BOARD_VERSION + 1, untouched, sizeof untouched), 16u);
    CHECK_STR(untouched, "keep");

    // Process-wide COM security is set once, by the first query.
    CHECK_EQ(win::ComSecurityInitCount(), 1);

    for (DWORD model : {DWORD(COINIT_APARTMENTTHREADED), DWORD(COINIT_MULTITHREADED)}) {
        ApartmentCase c{model, expected[0]};
        HANDLE thread = CreateThread(nullptr, 0, ApartmentThread, &c, 0, nullptr);
        WaitForSingleObject(thread, 60000);
        CloseHandle(thread);
        CHECK_EQ(c.result, 0u);
        CHECK_STR(c.value, std::string(expected[0]).substr(0, 79));
        CHECK_EQ(long(c.again), long(S_FALSE));
    }
}

// ------------------------------------------------------------ driver file and service

std::wstring ModuleDir() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    return dir.substr(0, dir.rfind(L'\\'));
}

std::wstring SystemDriversDir() {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\drivers";
}

// Not a loadable driver: the service registers, its start fails.
void PutFakeDriver(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, "not a driver", 12, &written, nullptr);
    CloseHandle(f);
}

bool ServiceExists(DWORD* startType = nullptr) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceW(manager, kServiceName, SERVICE_QUERY_CONFIG) : nullptr;
    if (service && startType) {
        union {
            QUERY_SERVICE_CONFIGW config;
            unsigned char bytes[8192];
        } buffer;
        DWORD needed = 0;
        *startType = QueryServiceConfigW(service, &buffer.config, sizeof buffer, &needed)
                         ? buffer.config.dwStartType
                         : 0xFFFFFFFF;
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return service != nullptr;
}

void RegisterAutoStartService(const std::wstring& path) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

void DeleteServiceIfAny() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void TestDriverStart() {
    const std::wstring beside = ModuleDir() + L"\\zelkoranx64.sys";
    const std::wstring system = SystemDriversDir() + L"\\zelkoranx64.sys";
    CHECK(win::ProcessElevated()); // wine's default administrator token

    struct Case {
        const char* name;
        bool fileBeside, fileInSystem, autoStartService;
        uint32_t status;
        const std::wstring* path;
        bool serviceAfter;
    } const cases[] = {
        // No file anywhere: nothing is registered.
        {"no driver file", false, false, false, VEK_HOST_DRIVER_NO_FILE, nullptr, false},
        // The system drivers folder is the fallback; a driver that does not
        // start leaves no service behind.
        {"file in system drivers", false, true, false, VEK_HOST_DRIVER_START_FAILED, &system, false},
        {"file beside the module wins", true, true, false, VEK_HOST_DRIVER_START_FAILED, &beside, false},
        // A service the administrator set to start automatically is only
        // started, never removed.
        {"auto-start service kept", true, false, true, VEK_HOST_DRIVER_START_FAILED, &beside, true},
    };
    for (const Case& c : cases) {
        std::printf("driver case: %s\n", c.name);
        DeleteFileW(beside.c_str());
        DeleteFileW(system.c_str());
        if (c.fileBeside) PutFakeDriver(beside);
        if (c.fileInSystem) PutFakeDriver(system);
        if (c.autoStartService) RegisterAutoStartService(beside);

        CHECK_EQ(win::DriverStart(), c.status);
        CHECK(!win::DriverOpen());
        CHECK(std::wstring(win::DriverPath()) == (c.path ? *c.path : std::wstring()));
        DWORD startType = 0;
        CHECK_EQ(ServiceExists(&startType), c.serviceAfter);
        if (c.autoStartService) CHECK_EQ(startType, DWORD(SERVICE_AUTO_START));

        DeleteServiceIfAny();
    }
    DeleteFileW(beside.c_str());
    DeleteFileW(system.c_str());

    // Stop-and-remove leaves an automatic-start service alone; removal of a
    // service that is not registered counts as done.
    RegisterAutoStartService(beside);
    CHECK(!win::ServiceControl(win::kServiceStopRemove, kServiceName, beside.c_str()));
    CHECK(ServiceExists());
    DeleteServiceIfAny();
    CHECK(win::ServiceControl(win::kServiceStopRemove, kServiceName, beside.c_str()));
    CHECK(!win::ServiceControl(win::kServiceInstallStart, nullptr, beside.c_str()));
    CHECK(!win::ServiceControl(win::kServiceInstallStart, kServiceName, nullptr));

    // The split token's limited half is what a non-elevated application runs with.
    HANDLE limited = vek::wine::LimitedToken();
    CHECK(limited != nullptr);
    if (limited) {
        const ChildResult child = RunSelf(L"child-elevation", limited);
        CHECK_EQ(child.exitCode, DWORD(0));
        CloseHandle(limited);
    }
}

// Run from a drive wine reports as remote, with the driver file beside us.
int TestNetworkDrive() {
    const std::wstring dir = ModuleDir();
    const wchar_t root[] = {dir[0], L':', L'\\', 0};
    if (GetDriveTypeW(root) != DRIVE_REMOTE) {
        std::printf("SKIPPED: %ls is not a network drive here\n", root);
        return 0;
    }
    const std::wstring beside = dir + L"\\zelkoranx64.sys";
    PutFakeDriver(beside);
    CHECK_EQ(win::DriverStart(), VEK_HOST_DRIVER_NETWORK);
    CHECK(!ServiceExists());
    DeleteFileW(beside.c_str());
    return 0;
}

// ------------------------------------------------------------ lock

// Can another process take ApiLock within `ms`? Exit 0 yes, 1 no, 3 no such mutex.
int ChildProbeLock(DWORD ms) {
    HANDLE m = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kMutexName);
    if (m == nullptr) return 3;
    const DWORD wait = WaitForSingleObject(m, ms);
    const bool got = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (got) ReleaseMutex(m);
    CloseHandle(m);
    return got ? 0 : 1;
}

DWORD Probe() { return RunSelf(L"child-probe-lock 300").exitCode; }

void TestLock() {
    // Held in this process: another process cannot get it, then can.
    LockOpen();
    CHECK(LockIsOpen());
    CHECK_EQ(Probe(), DWORD(0)); // creating it did not leave it owned
    LockAcquire();
    CHECK_EQ(Probe(), DWORD(1));
    LockRelease();
    CHECK_EQ(Probe(), DWORD(0));

    LockClose();
    CHECK(!LockIsOpen());
    CHECK_EQ(Probe(), DWORD(3)); // gone with the last handle

    // Closing hands the mutex back (its wait may have won it): while another
    // process keeps the mutex alive, it must not stay owned by this thread.
    HANDLE keep = CreateMutexW(nullptr, FALSE, kMutexName);
    LockOpen();
    LockAcquire();
    LockRelease();
    LockClose();
    CHECK_EQ(Probe(), DWORD(0));

    // A process that died holding it: the next one reports and carries on,
    // and leaves it free.
    const ChildResult abandoned = RunSelf(L"child-abandoned");
    CHECK_EQ(abandoned.exitCode, DWORD(0));
    CHECK_EQ(abandoned.err.rfind("(slock_lock)WaitForSingleObject error: ", 0), size_t(0));
    CHECK_EQ(Probe(), DWORD(0));
    CloseHandle(keep);

    // The name taken by another kind of object: every step reports, none fails.
    HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, kMutexName);
    const ChildResult squatted = RunSelf(L"child-squatted");
    CHECK_EQ(squatted.exitCode, DWORD(0));
    CHECK_EQ(squatted.err.rfind("CreateMutex(MutexForVEK) error: 6\n(slock_lock)OpenMutex(MutexForVEK) error: ", 0),
             size_t(0));
    CHECK(squatted.err.size() > 14 && squatted.err.substr(squatted.err.size() - 14) == "Handle error.\n");
    CloseHandle(squatter);
}

int ChildHoldAndDie() {
    LockOpen();
    LockAcquire();
    ExitProcess(0); // no release: the mutex is abandoned
}

int ChildAbandoned() {
    if (RunSelf(L"child-hold-and-die").exitCode != 0) return 2;
    LockOpen();
    LockAcquire(); // abandoned: reported, and the mutex is ours
    LockRelease();
    LockClose();
    return 0;
}

int ChildSquatted() {
    LockOpen();
    LockAcquire();
    LockRelease();
    LockClose();
    return 0;
}

// ------------------------------------------------------------ ZKEC, brightness

void TestZkec() {
    const vek_host_platform& p = NativePlatform();
    uint32_t lastError = 0;
    CHECK_EQ(p.zkec_open(p.user, &lastError), 0);
    CHECK_EQ(lastError, uint32_t(ERROR_FILE_NOT_FOUND));
    uint8_t reg = 0x10, value = 0x5A;
    CHECK(p.zkec_request(p.user, VEK_ZKEC_READ_REGISTER, &reg, 1, &value, 1) != 0);
    CHECK_EQ(value, uint8_t(0x5A));

    const ChildResult child = RunSelf(L"child-zkec");
    CHECK_EQ(child.exitCode, DWORD(0));
    CHECK_STR(child.out, "Load ZKEC driver failed - 2\nVEK will not support ZKEC related function\n");
}

int ChildZkec() { return vek::hal::ZkecOpen() ? 1 : 0; }

void TestBrightness() {
    // Wine's root\wmi has no monitor brightness classes: no monitor to drive.
    const vek_host_platform& p = NativePlatform();
    uint8_t level = 77;
    CHECK_EQ(p.brightness_read(p.user, &level), 17u);
    CHECK_EQ(level, uint8_t(77));
    CHECK_EQ(p.brightness_set(p.user, 40), 17u);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    // Child processes of the cases above.
    if (mode == "child-probe-lock") return ChildProbeLock(argc > 2 ? std::atoi(argv[2]) : 0);
    if (mode == "child-hold-and-die") return ChildHoldAndDie();
    if (mode == "child-abandoned") return ChildAbandoned();
    if (mode == "child-squatted") return ChildSquatted();
    if (mode == "child-zkec") return ChildZkec();
    if (mode == "child-elevation") return win::ProcessElevated() ? 1 : 0;

    if (mode == "choice") {
        TestDriverChoice();
    } else if (mode == "identity" && argc == 7) {
        TestIdentity(argv + 2);
    } else if (mode == "driver") {
        TestDriverStart();
    } else if (mode == "network") {
        TestNetworkDrive();
    } else if (mode == "lock") {
        TestLock();
    } else if (mode == "zkec") {
        TestZkec();
    } else if (mode == "brightness") {
        TestBrightness();
    } else {
        std::printf("usage: wine_os_test choice|identity P V B S R|driver|network|lock|zkec|brightness\n");
        return 2;
    }
    return vek::wine::Finish(("wine_os_test " + mode).c_str());
}
