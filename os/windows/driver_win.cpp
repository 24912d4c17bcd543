// The I/O driver: choosing its file, registering it with the service control
// manager, opening its device and sending it requests.
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <vector>

#include "os/windows/driver_choice.h"
#include "os/windows/win_platform.h"
#include "vek/host.h"
#include "zelkoran_digest.inc" // ZK_TRUSTED_DRIVERS, ZK_TRUSTED_VERSION: generated from this build's drivers

namespace vek::os::win {
namespace {

constexpr wchar_t kServiceName[] = L"ZELKORAN_0_1";
constexpr wchar_t kDeviceNt[] = L"\\\\.\\ZELKORAN_0_1";
constexpr wchar_t kDeviceVxd[] = L"\\\\.\\zelkoran.vxd";

// Service control manager values the driver service is registered with.
constexpr DWORD kScmAllAccess = 0xF003F;     // SC_MANAGER_ALL_ACCESS
constexpr DWORD kServiceAllAccess = 0xF01FF; // SERVICE_ALL_ACCESS
constexpr DWORD kKernelDriver = 1;           // SERVICE_KERNEL_DRIVER
constexpr DWORD kAutoStart = 2;              // SERVICE_AUTO_START
constexpr DWORD kDemandStart = 3;            // SERVICE_DEMAND_START
constexpr DWORD kErrorNormal = 1;            // SERVICE_ERROR_NORMAL
constexpr DWORD kControlStop = 1;            // SERVICE_CONTROL_STOP
constexpr DWORD kErrServiceExists = 1073;    // ERROR_SERVICE_EXISTS
constexpr DWORD kErrAlreadyRunning = 1056;   // ERROR_SERVICE_ALREADY_RUNNING
constexpr DWORD kErrMarkedForDelete = 1072;  // ERROR_SERVICE_MARKED_FOR_DELETE
constexpr int kMarkedForDeleteWaits = 200;   // 10 ms each

constexpr WORD kArchAmd64 = 9; // PROCESSOR_ARCHITECTURE_AMD64

constexpr int kInstallAttempts = 3;
constexpr int64_t kRetryStepUs = 200;

// Serialises service work between processes, so that one process's "last
// user, remove the service" cannot interleave with another's open. Global so
// that services in session 0 share it; a process that may not create global
// objects falls back to its session's. A holder that never lets go delays us
// by the wait, then we go on without it.
constexpr wchar_t kServiceMutexGlobal[] = L"Global\\ZELKORAN_0_1_service";
constexpr wchar_t kServiceMutexLocal[] = L"ZELKORAN_0_1_service";
constexpr DWORD kServiceMutexWaitMs = 10000;

struct TrustedDriver {
    wchar_t file[20];
    uint8_t sha256[kDriverDigestBytes];
    uint32_t version;
};
// The driver files built with this library; tests add their stand-ins.
constexpr int kMaxTrusted = 8;
TrustedDriver g_trusted[kMaxTrusted];
int g_trustedCount = -1; // -1: not yet filled from the built table

void FillTrusted() {
    if (g_trustedCount >= 0) return;
    struct Built {
        const wchar_t* file;
        uint8_t sha256[kDriverDigestBytes];
    };
    static constexpr Built kBuilt[] = {ZK_TRUSTED_DRIVERS};
    g_trustedCount = 0;
    for (const Built& b : kBuilt) {
        TrustedDriver& t = g_trusted[g_trustedCount++];
        wcsncpy(t.file, b.file, 19);
        std::memcpy(t.sha256, b.sha256, sizeof t.sha256);
        t.version = ZK_TRUSTED_VERSION;
    }
}

std::atomic<bool> g_processExiting{false};

struct DriverState {
    HANDLE device = INVALID_HANDLE_VALUE;
    uint32_t version = 0; // what the trusted file found answers
    bool isNt = false;
    DriverType type = kDriverNone;
    wchar_t file[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
};
DriverState g_driver;

// kernel32 entries that older systems lack: looked up, never imported.
template <typename Fn>
Fn Kernel32Entry(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    FARPROC entry = kernel32 ? GetProcAddress(kernel32, name) : nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(entry));
}

uint32_t QueryPlatformClass() {
    using GetVersionExFn = BOOL(WINAPI*)(OSVERSIONINFOW*);
    auto getVersionEx = Kernel32Entry<GetVersionExFn>("GetVersionExW");
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info; // the 276-byte record
    if (getVersionEx == nullptr || !getVersionEx(&info)) return 0xFFFFFFFFu; // unknown class
    return info.dwPlatformId;
}

bool RunningUnderWow64() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);
    auto isWow64Process = Kernel32Entry<IsWow64ProcessFn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool NativeAmd64() {
    using GetNativeSystemInfoFn = void(WINAPI*)(SYSTEM_INFO*);
    auto getNativeSystemInfo = Kernel32Entry<GetNativeSystemInfoFn>("GetNativeSystemInfo");
    if (getNativeSystemInfo == nullptr) return false;
    SYSTEM_INFO info{};
    getNativeSystemInfo(&info);
    return info.wProcessorArchitecture == kArchAmd64;
}

// dir + sep + file into out[MAX_PATH]; false when it does not fit.
bool JoinPath(wchar_t* out, const wchar_t* dir, const wchar_t* sub, const wchar_t* file) {
    const size_t need = wcslen(dir) + 1 + wcslen(sub) + wcslen(file) + 1;
    if (need > MAX_PATH) return false;
    wcscpy(out, dir);
    wcscat(out, L"\\");
    wcscat(out, sub);
    wcscat(out, file);
    return true;
}

bool FileExists(const wchar_t* path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

// A UNC path, or a drive letter mapped to a share.
bool OnNetworkDrive(const wchar_t* path) {
    if (path[0] == L'\\') return true;
    const wchar_t root[] = {path[0], L':', L'\\', 0};
    return GetDriveTypeW(root) == DRIVE_REMOTE;
}

HANDLE OpenNtDevice() {
    return CreateFileW(kDeviceNt, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseDevice() {
    if (g_driver.device != INVALID_HANDLE_VALUE) CloseHandle(g_driver.device);
    g_driver.device = INVALID_HANDLE_VALUE;
}

// The trusted entry for a file of this name with this content, or null.
const TrustedDriver* Trusted(const wchar_t* file, const uint8_t* digest) {
    FillTrusted();
    for (int i = 0; i < g_trustedCount; ++i)
        if (_wcsicmp(g_trusted[i].file, file) == 0 && std::memcmp(g_trusted[i].sha256, digest, kDriverDigestBytes) == 0)
            return &g_trusted[i];
    return nullptr;
}

bool DigestOf(HANDLE file, uint8_t* out) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
    HCRYPTHASH hash = 0;
    bool ok = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != 0;
    unsigned char chunk[4096];
    DWORD got = 0;
    while (ok && (ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != 0) && got != 0)
        ok = CryptHashData(hash, chunk, got, 0) != 0;
    DWORD size = kDriverDigestBytes;
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, out, &size, 0) && size == kDriverDigestBytes;
    if (hash) CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return ok;
}

// Opens path for reading and lets others read it but not change, rename or
// delete it: held from the digest until the driver is loaded, so the file
// checked is the file the kernel loads. Returns the handle when the file is a
// trusted driver (its version in *version), else closes it.
HANDLE OpenTrusted(const wchar_t* path, const wchar_t* file, uint32_t* version) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    uint8_t digest[kDriverDigestBytes];
    const TrustedDriver* t = DigestOf(h, digest) ? Trusted(file, digest) : nullptr;
    if (t == nullptr) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    *version = t->version;
    return h;
}

class FileLock {
public:
    explicit FileLock(HANDLE h) : h_(h) {}
    ~FileLock() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    HANDLE h_;
};

// The machine-wide service lock, held for one scope.
class ServiceLock {
public:
    ServiceLock() {
        h_ = CreateMutexW(nullptr, FALSE, kServiceMutexGlobal);
        if (h_ == nullptr) h_ = CreateMutexW(nullptr, FALSE, kServiceMutexLocal);
        if (h_ == nullptr) return;
        const DWORD wait = WaitForSingleObject(h_, kServiceMutexWaitMs);
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    ~ServiceLock() {
        if (held_) ReleaseMutex(h_);
        if (h_) CloseHandle(h_);
    }
    ServiceLock(const ServiceLock&) = delete;
    ServiceLock& operator=(const ServiceLock&) = delete;

private:
    HANDLE h_ = nullptr;
    bool held_ = false;
};

// The device answers the version of the file we checked; otherwise it is
// some other driver under our name, which we neither use nor remove.
bool DeviceIsOurs() {
    uint32_t version = 0;
    uint32_t returned = 0;
    return DriverRequest(VEK_IOCTL_DRIVER_VERSION, nullptr, 0, &version, sizeof version, &returned) &&
           returned == sizeof version && version == g_driver.version;
}

uint32_t OpenChecked() {
    if (g_driver.device == INVALID_HANDLE_VALUE) return VEK_HOST_DRIVER_START_FAILED;
    if (DeviceIsOurs()) return VEK_HOST_DRIVER_READY;
    CloseDevice();
    return VEK_HOST_DRIVER_START_FAILED;
}

// Finds the driver file (beside the library, else in the system drivers folder)
// and opens the device, registering and starting the service when it does not
// answer yet. Only a file whose digest matches a driver built with this
// library counts as found: an administrator's process must not load a file
// that someone with write access to the application folder put there.
uint32_t InstallAndOpen() {
    wchar_t module[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    const DWORD moduleLength = GetModuleFileNameW(Module(), module, MAX_PATH);
    if (moduleLength == 0 || moduleLength >= MAX_PATH) module[0] = 0;
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH) system[0] = 0;
    if (wchar_t* cut = wcsrchr(module, L'\\')) *cut = 0;

    wchar_t* path = g_driver.path;
    HANDLE file = INVALID_HANDLE_VALUE;
    auto found = [&](const wchar_t* dir, const wchar_t* sub) {
        if (!(dir[0] && JoinPath(path, dir, sub, g_driver.file) && FileExists(path))) return false;
        file = OpenTrusted(path, g_driver.file, &g_driver.version);
        return file != INVALID_HANDLE_VALUE;
    };
    if (!found(module, L"") && !found(system, L"drivers\\")) {
        path[0] = 0;
        return VEK_HOST_DRIVER_NO_FILE;
    }
    const FileLock keep(file);
    if (OnNetworkDrive(path)) return VEK_HOST_DRIVER_NETWORK;

    if (!g_driver.isNt) {
        // The legacy virtual device driver loads on open and unloads on close.
        g_driver.device = CreateFileW(kDeviceVxd, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        return OpenChecked();
    }

    const ServiceLock lock;
    g_driver.device = OpenNtDevice();
    if (g_driver.device != INVALID_HANDLE_VALUE) return OpenChecked(); // already running

    // A service left behind whose device does not open is registered afresh.
    ServiceControl(kServiceStopRemove, kServiceName, path);
    if (!ServiceControl(kServiceInstallStart, kServiceName, path)) {
        ServiceControl(kServiceStopRemove, kServiceName, path);
        return VEK_HOST_DRIVER_START_FAILED;
    }
    g_driver.device = OpenNtDevice();
    const uint32_t status = OpenChecked();
    // Nobody else can be using what we just installed.
    if (status != VEK_HOST_DRIVER_READY) ServiceControl(kServiceStopRemove, kServiceName, path);
    return status;
}

uint32_t HandleCount() {
    uint32_t count = 0;
    uint32_t returned = 0;
    if (!DriverRequest(VEK_IOCTL_HANDLE_COUNT, nullptr, 0, &count, sizeof count, &returned) ||
        returned < sizeof count)
        return 0;
    return count;
}

// ---- service control manager ----

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE h = nullptr) : h_(h) {}
    ~ScHandle() { reset(); }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset(SC_HANDLE h = nullptr) {
        if (h_) CloseServiceHandle(h_);
        h_ = h;
    }

private:
    SC_HANDLE h_;
};

// Read from the service's configuration; a service that does not open is not.
bool StartsAutomatically(SC_HANDLE manager, const wchar_t* name) {
    ScHandle service(OpenServiceW(manager, name, SERVICE_QUERY_CONFIG));
    if (!service) return false;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<unsigned char> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, needed, &needed)) return false;
    return config->dwStartType == kAutoStart;
}

SC_HANDLE CreateDriverService(SC_HANDLE manager, const wchar_t* name, const wchar_t* path, DWORD startType) {
    return CreateServiceW(manager, name, name, kServiceAllAccess, kKernelDriver, startType, kErrorNormal,
                          path, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void StopService(SC_HANDLE service) {
    SERVICE_STATUS status;
    ControlService(service, kControlStop, &status);
}

bool InstallStart(SC_HANDLE manager, const wchar_t* name, const wchar_t* path) {
    ScHandle created(CreateDriverService(manager, name, path, kDemandStart));
    // Another process's removal finishes once its driver has stopped.
    for (int wait = 0; !created && GetLastError() == kErrMarkedForDelete && wait < kMarkedForDeleteWaits; ++wait) {
        Sleep(10);
        created.reset(CreateDriverService(manager, name, path, kDemandStart));
    }
    if (!created && GetLastError() != kErrServiceExists) return false;
    created.reset();
    ScHandle service(OpenServiceW(manager, name, kServiceAllAccess));
    if (!service) return false;
    return StartServiceW(service.get(), 0, nullptr) || GetLastError() == kErrAlreadyRunning;
}

bool StopRemove(SC_HANDLE manager, const wchar_t* name) {
    // A service the administrator made permanent stays.
    if (StartsAutomatically(manager, name)) return false;
    ScHandle service(OpenServiceW(manager, name, kServiceAllAccess));
    if (!service) return true; // nothing to remove
    StopService(service.get());
    return DeleteService(service.get()) != 0;
}

bool MakePermanent(SC_HANDLE manager, const wchar_t* name, const wchar_t* path) {
    if (StartsAutomatically(manager, name)) return true;
    ScHandle service;
    HANDLE probe = OpenNtDevice();
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        service.reset(OpenServiceW(manager, name, kServiceAllAccess));
    } else {
        // Not answering: register it afresh before making it permanent.
        service.reset(OpenServiceW(manager, name, kServiceAllAccess));
        if (service) {
            StopService(service.get());
            DeleteService(service.get());
            service.reset();
        }
        service.reset(CreateDriverService(manager, name, path, kDemandStart));
        if (!service) service.reset(OpenServiceW(manager, name, kServiceAllAccess));
        if (service) StartServiceW(service.get(), 0, nullptr);
        if (g_driver.device == INVALID_HANDLE_VALUE) g_driver.device = OpenNtDevice();
    }
    if (!service) return false;
    return ChangeServiceConfigW(service.get(), kKernelDriver, kAutoStart, kErrorNormal, path, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr) != 0;
}

bool RemovePermanent(SC_HANDLE manager, const wchar_t* name) {
    if (!StartsAutomatically(manager, name)) return true;
    CloseDevice();
    ScHandle service(OpenServiceW(manager, name, kServiceAllAccess));
    if (!service) return false;
    SERVICE_STATUS status;
    if (!ControlService(service.get(), kControlStop, &status)) return false;
    return DeleteService(service.get()) != 0;
}

} // namespace

bool ServiceControl(int op, const wchar_t* name, const wchar_t* binaryPath) {
    if (name == nullptr || binaryPath == nullptr || name[0] == 0 || binaryPath[0] == 0) return false;
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, kScmAllAccess));
    if (!manager) return false;
    switch (op) {
    case kServiceInstallStart: return InstallStart(manager.get(), name, binaryPath);
    case kServiceStopRemove: return StopRemove(manager.get(), name);
    case kServiceMakePermanent: return MakePermanent(manager.get(), name, binaryPath);
    case kServiceRemovePermanent: return RemovePermanent(manager.get(), name);
    default: return false;
    }
}

uint32_t DriverStart() {
    CloseDevice();
    const uint32_t platformClass = QueryPlatformClass();
    g_driver.isNt = platformClass == kPlatformNt;
    const DriverChoice choice = ChooseDriver(platformClass, RunningUnderWow64(), NativeAmd64());
    g_driver.type = choice.type;
    wcscpy(g_driver.file, choice.file);
    if (choice.status != VEK_HOST_DRIVER_READY) return choice.status;

    uint32_t status = VEK_HOST_DRIVER_START_FAILED;
    for (int attempt = 0; attempt < kInstallAttempts; ++attempt) {
        status = InstallAndOpen();
        if (status == VEK_HOST_DRIVER_READY) break;
        SpinMicroseconds(attempt * kRetryStepUs);
    }
    return status;
}

void DriverStop() {
    // At process exit the loader lock is held and other threads are gone:
    // talking to the service manager from here can hang the exit. The handle
    // closes with the process; a service left running is reused by the next
    // start and removed by its last user.
    if (g_processExiting) {
        CloseDevice();
        return;
    }
    if (g_driver.isNt && g_driver.device != INVALID_HANDLE_VALUE) {
        // The driver counts open handles: 1 means nobody else uses it. Under
        // the service lock no other process opens the device in between.
        const ServiceLock lock;
        if (HandleCount() == 1) {
            CloseDevice();
            ServiceControl(kServiceStopRemove, kServiceName, g_driver.path);
        }
    }
    CloseDevice();
}

void SetProcessExiting() { g_processExiting = true; }

bool FileDigest(const wchar_t* path, uint8_t* out) {
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = DigestOf(h, out);
    CloseHandle(h);
    return ok;
}

bool TrustDriver(const wchar_t* file, const uint8_t* sha256, uint32_t version) {
    FillTrusted();
    if (wcslen(file) >= 20) return false;
    for (int i = 0; i < g_trustedCount; ++i) {
        if (_wcsicmp(g_trusted[i].file, file) == 0 && std::memcmp(g_trusted[i].sha256, sha256, kDriverDigestBytes) == 0) {
            g_trusted[i].version = version;
            return true;
        }
    }
    if (g_trustedCount >= kMaxTrusted) return false;
    TrustedDriver& t = g_trusted[g_trustedCount++];
    wcscpy(t.file, file);
    std::memcpy(t.sha256, sha256, kDriverDigestBytes);
    t.version = version;
    return true;
}

bool DriverOpen() { return g_driver.device != INVALID_HANDLE_VALUE; }

int DriverRequest(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                  uint32_t* returned) {
    DWORD got = 0;
    BOOL ok = FALSE;
    if (g_driver.device != INVALID_HANDLE_VALUE)
        ok = DeviceIoControl(g_driver.device, code, const_cast<void*>(in), inSize, out, outSize, &got, nullptr);
    if (returned) *returned = ok ? got : 0;
    return ok ? 1 : 0;
}

const wchar_t* DriverPath() { return g_driver.path; }

} // namespace vek::os::win
