// The Windows platform layer against the services wine provides: WMI over a
// fake DMI table, the service control manager, named mutexes across processes,
// token elevation, device opens that fail.
//
//   wine_os_test.exe choice | identity PRODUCT VENDOR BIOSVERSION SERIAL BOARDVERSION
//                   | driver | network | lock | zkec | brightness | i2c
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <set>
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

// The stand-in drivers beside this program: one that runs, one whose start fails.
enum class Driver { kNone, kWorking, kFailing };

constexpr uint32_t kStandInVersion = 0x01020304; // what fake_drivers.c answers

// The library installs only the driver files it was built with. The stand-ins
// are accepted in this process under the driver's name (version: what the
// device must answer; a stand-in trusted with another version is refused
// once opened).
void TrustStandIns(uint32_t version = kStandInVersion) {
    for (const wchar_t* file : {L"\\fake_iodriver.sys", L"\\fake_iodriver_fails.sys"}) {
        uint8_t digest[win::kDriverDigestBytes];
        CHECK(win::FileDigest((ModuleDir() + file).c_str(), digest));
        CHECK(win::TrustDriver(vek::wine::DriverFile(), digest, version));
    }
}

void PutDriver(Driver kind, const std::wstring& path) {
    DeleteFileW(path.c_str());
    if (kind == Driver::kNone) return;
    const std::wstring from = ModuleDir() + (kind == Driver::kWorking ? L"\\fake_iodriver.sys"
                                                                      : L"\\fake_iodriver_fails.sys");
    CopyFileW(from.c_str(), path.c_str(), FALSE);
}

struct ServiceInfo {
    bool exists = false;
    DWORD startType = 0;
    std::wstring displayName;
};

ServiceInfo QueryService() {
    ServiceInfo info;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceW(manager, kServiceName, SERVICE_QUERY_CONFIG) : nullptr;
    if (service) {
        info.exists = true;
        union {
            QUERY_SERVICE_CONFIGW config;
            unsigned char bytes[8192];
        } buffer;
        DWORD needed = 0;
        if (QueryServiceConfigW(service, &buffer.config, sizeof buffer, &needed)) {
            info.startType = buffer.config.dwStartType;
            info.displayName = buffer.config.lpDisplayName ? buffer.config.lpDisplayName : L"";
        }
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
    return info;
}

void RegisterService(const std::wstring& path, DWORD startType) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                       SERVICE_KERNEL_DRIVER, startType, SERVICE_ERROR_NORMAL, path.c_str(),
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

// A mark on the registered service that survives only if nobody re-registers it.
void MarkService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
    if (service) {
        ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, L"marked");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

// Stops and deletes a kernel-driver service left by an earlier run, if any.
void StopKernelDriver(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void RemoveServiceIfAny() { StopKernelDriver(kServiceName); }

uint32_t Request32(uint32_t code) {
    uint32_t value = 0, returned = 0;
    if (!win::DriverRequest(code, nullptr, 0, &value, sizeof value, &returned) || returned != 4) return 0;
    return value;
}

void TestDriverStart() {
    const std::wstring beside = ModuleDir() + L"\\" + vek::wine::DriverFile();
    const std::wstring system = SystemDriversDir() + L"\\" + vek::wine::DriverFile();
    CHECK(win::ProcessElevated()); // wine's default administrator token

    // Files the library was not built with: a planted driver is not found,
    // nothing is installed, and the system folder's copy is no better.
    const std::wstring planted = ModuleDir() + L"\\fake_iodriver.sys";
    for (const std::wstring* where : {&beside, &system}) {
        CopyFileW(planted.c_str(), where->c_str(), FALSE);
        CHECK_EQ(win::DriverStart(), VEK_HOST_DRIVER_NO_FILE);
        CHECK(!win::DriverOpen());
        CHECK(!QueryService().exists);
        DeleteFileW(where->c_str());
    }
    // A trusted file whose device answers another version is some other
    // driver: not used, and the service this start made for it is removed.
    TrustStandIns(0x05000100);
    PutDriver(Driver::kWorking, beside);
    CHECK_EQ(win::DriverStart(), VEK_HOST_DRIVER_START_FAILED);
    CHECK(!win::DriverOpen());
    CHECK(!QueryService().exists);
    PutDriver(Driver::kNone, beside);
    TrustStandIns();

    struct Case {
        const char* name;
        Driver besideFile, systemFile;
        DWORD preRegistered; // start type of a service already there, 0 none
        uint32_t status;
        const std::wstring* path;
        bool serviceAfterStop;
    } const cases[] = {
        {"no driver file", Driver::kNone, Driver::kNone, 0, VEK_HOST_DRIVER_NO_FILE, nullptr, false},
        // The system drivers folder is the fallback; a driver that does not
        // start leaves no service behind.
        {"only in system drivers, fails", Driver::kNone, Driver::kFailing, 0, VEK_HOST_DRIVER_START_FAILED, &system,
         false},
        {"beside the module wins", Driver::kWorking, Driver::kFailing, 0, VEK_HOST_DRIVER_READY, &beside, false},
        // A leftover service whose device does not open is registered afresh.
        {"stale demand-start service", Driver::kWorking, Driver::kNone, SERVICE_DEMAND_START, VEK_HOST_DRIVER_READY,
         &beside, false},
        // A service the administrator set to start automatically is started,
        // never removed: not when it fails, not by the last user.
        {"auto-start service, fails", Driver::kFailing, Driver::kNone, SERVICE_AUTO_START,
         VEK_HOST_DRIVER_START_FAILED, &beside, true},
        {"auto-start service, runs", Driver::kWorking, Driver::kNone, SERVICE_AUTO_START, VEK_HOST_DRIVER_READY,
         &beside, true},
    };
    for (const Case& c : cases) {
        std::printf("driver case: %s\n", c.name);
        PutDriver(c.besideFile, beside);
        PutDriver(c.systemFile, system);
        if (c.preRegistered) RegisterService(c.preRegistered == SERVICE_AUTO_START ? beside : L"C:\\nowhere.sys",
                                             c.preRegistered);

        CHECK_EQ(win::DriverStart(), c.status);
        CHECK_EQ(win::DriverOpen(), c.status == VEK_HOST_DRIVER_READY);
        CHECK(std::wstring(win::DriverPath()) == (c.path ? *c.path : std::wstring()));
        if (win::DriverOpen()) {
            CHECK_EQ(Request32(VEK_IOCTL_DRIVER_VERSION), 0x01020304u);
            CHECK_EQ(Request32(VEK_IOCTL_HANDLE_COUNT), 1u);
        }
        win::DriverStop();
        CHECK(!win::DriverOpen());
        const ServiceInfo after = QueryService();
        CHECK_EQ(after.exists, c.serviceAfterStop);
        if (c.preRegistered == SERVICE_AUTO_START) CHECK_EQ(after.startType, DWORD(SERVICE_AUTO_START));

        RemoveServiceIfAny();
    }
    PutDriver(Driver::kNone, system);

    // Two processes on one driver: the second opens the running device without
    // touching the service, and only the last one out removes it.
    PutDriver(Driver::kWorking, beside);
    CHECK_EQ(win::DriverStart(), VEK_HOST_DRIVER_READY);
    MarkService();
    const ChildResult second = RunSelf(L"child-driver-user");
    CHECK_EQ(second.exitCode, DWORD(0));
    CHECK_STR(second.out, "handles 2\n");
    const ServiceInfo shared = QueryService();
    CHECK(shared.exists);
    CHECK(shared.displayName == L"marked");
    CHECK_EQ(Request32(VEK_IOCTL_HANDLE_COUNT), 1u);
    win::DriverStop();
    CHECK(!QueryService().exists);
    RemoveServiceIfAny();
    PutDriver(Driver::kNone, beside);

    // Stop-and-remove leaves an automatic-start service alone; removal of a
    // service that is not registered counts as done; name and path are required.
    RegisterService(beside, SERVICE_AUTO_START);
    CHECK(!win::ServiceControl(win::kServiceStopRemove, kServiceName, beside.c_str()));
    CHECK(QueryService().exists);
    RemoveServiceIfAny();
    CHECK(win::ServiceControl(win::kServiceStopRemove, kServiceName, beside.c_str()));
    CHECK(!win::ServiceControl(win::kServiceInstallStart, nullptr, beside.c_str()));
    CHECK(!win::ServiceControl(win::kServiceInstallStart, kServiceName, nullptr));

    // The split token's limited half is what a non-elevated application runs with.
    HANDLE limited = vek::wine::LimitedToken();
    CHECK(limited != nullptr);
    if (limited) {
        CHECK_EQ(RunSelf(L"child-elevation", limited).exitCode, DWORD(0));
        CloseHandle(limited);
    }
}

// A second user of the running driver: prints the handle count it sees.
int ChildDriverUser() {
    TrustStandIns();
    if (win::DriverStart() != VEK_HOST_DRIVER_READY) return 1;
    std::printf("handles %u\n", Request32(VEK_IOCTL_HANDLE_COUNT));
    win::DriverStop();
    return 0;
}

// Starts and stops the driver `rounds` times; while it holds the device the
// device must answer. Exit code: the rounds that went wrong.
int ChildStartStop(int rounds) {
    TrustStandIns();
    int bad = 0;
    for (int i = 0; i < rounds; ++i) {
        if (win::DriverStart() != VEK_HOST_DRIVER_READY) {
            ++bad;
            continue;
        }
        for (int k = 0; k < 4; ++k) {
            if (Request32(VEK_IOCTL_DRIVER_VERSION) != kStandInVersion) ++bad;
            Sleep(DWORD(k & i & 1));
        }
        win::DriverStop();
    }
    std::printf("%d of %d rounds went wrong\n", bad, rounds);
    return bad;
}

// Two processes starting and stopping at once: neither removes the service
// while the other holds the device, and the last one out removes it.
void TestConcurrentStartStop() {
    const std::wstring beside = ModuleDir() + L"\\" + vek::wine::DriverFile();
    PutDriver(Driver::kWorking, beside);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    HANDLE children[2] = {};
    for (HANDLE& child : children) {
        std::wstring command = L"\"" + std::wstring(self) + L"\" child-start-stop 25";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (CHECK(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process))) {
            CloseHandle(process.hThread);
            child = process.hProcess;
        }
    }
    for (HANDLE child : children) {
        if (child == nullptr) continue;
        DWORD code = 99;
        if (WaitForSingleObject(child, 120000) != WAIT_OBJECT_0) TerminateProcess(child, 99);
        GetExitCodeProcess(child, &code);
        CHECK_EQ(code, DWORD(0));
        CloseHandle(child);
    }
    // Wine's device host takes a handle's close after CloseHandle returns, so
    // the last child may still have counted the other's handle and left the
    // service; the next user out removes it.
    CHECK_EQ(win::DriverStart(), VEK_HOST_DRIVER_READY);
    win::DriverStop();
    CHECK(!QueryService().exists);
    RemoveServiceIfAny();
    PutDriver(Driver::kNone, beside);
}

// Run from a drive wine reports as remote, with a driver file beside us.
void TestNetworkDrive() {
    const std::wstring dir = ModuleDir();
    const wchar_t root[] = {dir[0], L':', L'\\', 0};
    if (GetDriveTypeW(root) != DRIVE_REMOTE) {
        std::printf("SKIPPED: %ls is not a network drive here\n", root);
        return;
    }
    const std::wstring beside = dir + L"\\" + vek::wine::DriverFile();
    TrustStandIns();
    PutDriver(Driver::kWorking, beside);
    CHECK_EQ(win::DriverStart(), VEK_HOST_DRIVER_NETWORK);
    CHECK(!win::DriverOpen());
    CHECK(!QueryService().exists);
    PutDriver(Driver::kNone, beside);
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

// Closing the lock while other threads wait on it or hold it: they all come
// back, nothing waits on a closed handle, and the mutex is left free.
DWORD WINAPI Hammer(void* stop) {
    while (!*static_cast<volatile LONG*>(stop) && LockIsOpen()) {
        LockAcquire();
        LockRelease();
    }
    return 0;
}

void TestLockCloseUnderContention() {
    LockOpen();
    volatile LONG stop = 0;
    HANDLE threads[4];
    for (HANDLE& t : threads) t = CreateThread(nullptr, 0, Hammer, const_cast<LONG*>(&stop), 0, nullptr);
    Sleep(50);
    LockClose(); // the hammering threads find no lock from here on and stop
    CHECK(!LockIsOpen());
    InterlockedExchange(const_cast<LONG*>(&stop), 1);
    CHECK_EQ(WaitForMultipleObjects(4, threads, TRUE, 10000), DWORD(WAIT_OBJECT_0));
    for (HANDLE t : threads) CloseHandle(t);
    CHECK_EQ(Probe(), DWORD(3)); // the handle was closed once everyone had let go
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

// Registers and starts a kernel driver from a file beside this program.
bool StartKernelDriver(const wchar_t* name, const std::wstring& path) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    const bool started = service && StartServiceW(service, 0, nullptr);
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return started;
}


void TestZkec() {
    const vek_host_platform& p = NativePlatform();

    // No driver: the open fails with the system's reason, shown on stdout.
    uint32_t lastError = 0;
    CHECK_EQ(p.zkec_open(p.user, &lastError), 0);
    CHECK_EQ(lastError, uint32_t(ERROR_FILE_NOT_FOUND));
    uint8_t reg = 0x10, value = 0x5A;
    CHECK(p.zkec_request(p.user, VEK_ZKEC_READ_REGISTER, &reg, 1, &value, 1) != 0);
    CHECK_EQ(value, uint8_t(0x5A));
    const ChildResult child = RunSelf(L"child-zkec");
    CHECK_EQ(child.exitCode, DWORD(0));
    CHECK_STR(child.out, "Load ZKEC driver failed - 2\nVEK will not support ZKEC related function\n");

    // With the driver: requests on the overlapped handle complete, and one the
    // driver leaves pending fails at once without spoiling the next.
    const wchar_t kFakeZkec[] = L"VEK_FAKE_ZKEC";
    StopKernelDriver(kFakeZkec);
    if (!CHECK(StartKernelDriver(kFakeZkec, ModuleDir() + L"\\fake_zkec.sys"))) return;
    CHECK_EQ(p.zkec_open(p.user, &lastError), 1);
    CHECK_EQ(p.zkec_request(p.user, VEK_ZKEC_BEGIN, nullptr, 0, nullptr, 0), 0u);
    struct Read {
        uint8_t reg;
        uint32_t result;
        uint8_t value;
    } const reads[] = {
        {0x12, 0, 0xED},
        {0xEE, VEK_HOST_ERROR_IO_PENDING, 0x5A}, // pending: out untouched
        {0x00, 0, 0xFF},
    };
    for (const Read& r : reads) {
        uint8_t out = 0x5A;
        const DWORD started = GetTickCount();
        CHECK_EQ(p.zkec_request(p.user, VEK_ZKEC_READ_REGISTER, &r.reg, 1, &out, 1), r.result);
        CHECK_EQ(out, r.value);
        CHECK(GetTickCount() - started < 2000);
    }
    CHECK_EQ(p.zkec_request(p.user, VEK_ZKEC_END, nullptr, 0, nullptr, 0), 0u);
    p.zkec_close(p.user);
    CHECK(p.zkec_request(p.user, VEK_ZKEC_END, nullptr, 0, nullptr, 0) != 0);
    StopKernelDriver(kFakeZkec);
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

// Watches the COM task allocator: which blocks are allocated and not yet freed.
class TaskAllocations : public IMallocSpy {
public:
    std::set<void*> live;
    int allocations = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *out = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override {
        if (block) {
            live.insert(block);
            ++allocations;
        }
        return block;
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
        live.erase(block);
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newRequest, BOOL) override {
        live.erase(block);
        *newRequest = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override {
        if (block) live.insert(block);
        return block;
    }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

void TestI2c() {
    // Wine has no Windows.Devices.I2c: no controller opens, nothing is sent.
    const vek_host_platform& p = NativePlatform();

    // The open's failure text is task-allocated and freed before the seam answers 6.
    static TaskAllocations spy; // outlives a refused revoke
    const HRESULT registered = CoRegisterMallocSpy(&spy);
    CHECK_EQ(registered, S_OK);
    {
        void* handle = nullptr;
        wchar_t* message = nullptr;
        CHECK_EQ(vek::os::win::I2cOpenDevice(2, 0x50, &handle, &message), 6u);
        CHECK(message != nullptr && spy.live.count(message) == 1);
        CoTaskMemFree(message);
        CHECK(spy.live.count(message) == 0);
        const std::set<void*> before = spy.live;
        const int allocated = spy.allocations;
        for (uint32_t controller : {0u, 1u, 2u}) CHECK_EQ(p.i2c_open(p.user, controller, 0x50, &handle), 6u);
        CHECK(spy.allocations >= allocated + 3); // one message per failed open
        CHECK(spy.live == before);              // and every one freed
        std::printf("task allocator: %d blocks allocated, %d live\n", spy.allocations, int(spy.live.size()));
    }
    // Revoking is refused while blocks allocated under the spy are still live
    // (the runtime keeps some for the process); the spy then goes when they do.
    const HRESULT revoked = CoRevokeMallocSpy();
    CHECK(revoked == S_OK || (revoked == E_ACCESSDENIED && !spy.live.empty()));

    for (uint32_t controller : {0u, 1u, 2u}) {
        void* handle = reinterpret_cast<void*>(1);
        CHECK_EQ(p.i2c_open(p.user, controller, 0x50, &handle), 6u);
        CHECK(handle == nullptr);
    }
    uint8_t data[2] = {0x10, 0};
    uint32_t moved = 99;
    CHECK_EQ(p.i2c_transfer(p.user, nullptr, data, 1, data + 1, 1, &moved), 0xFFFFFFFFu);
    CHECK_EQ(moved, 0u);
    p.i2c_close(p.user, nullptr);

    // The reason travels as a task-allocated string: a controller number past
    // "I2C1" is not found; wine's missing runtime class reports its own error text.
    wchar_t* message = nullptr;
    void* handle = nullptr;
    CHECK_EQ(vek::os::win::I2cOpenDevice(2, 0x50, &handle, &message), 6u);
    CHECK(message != nullptr && std::wcscmp(message, L"I2C controller not found") == 0);
    CoTaskMemFree(message);
    message = nullptr;
    CHECK_EQ(vek::os::win::I2cOpenDevice(0, 0x50, &handle, &message), 6u);
    CHECK(message != nullptr && message[0] != L'\0');
    CHECK(handle == nullptr);
    CoTaskMemFree(message);
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
    if (mode == "child-driver-user") return ChildDriverUser();
    if (mode == "child-start-stop") return ChildStartStop(argc > 2 ? std::atoi(argv[2]) : 1);

    if (mode == "choice") {
        TestDriverChoice();
    } else if (mode == "identity" && argc == 7) {
        TestIdentity(argv + 2);
    } else if (mode == "driver") {
        TestDriverStart();
        TestConcurrentStartStop();
    } else if (mode == "network") {
        TestNetworkDrive();
    } else if (mode == "lock") {
        TestLock();
        TestLockCloseUnderContention();
    } else if (mode == "zkec") {
        TestZkec();
    } else if (mode == "brightness") {
        TestBrightness();
    } else if (mode == "i2c") {
        TestI2c();
    } else {
        std::printf("usage: wine_os_test choice|identity P V B S R|driver|network|lock|zkec|brightness|i2c\n");
        return 2;
    }
    return vek::wine::Finish(("wine_os_test " + mode).c_str());
}
