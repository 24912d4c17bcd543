// The I/O driver: choosing its file, registering it with the service control
// manager, opening its device and sending it requests.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "os/windows/driver_choice.h"
#include "os/windows/win_platform.h"
#include "vek/host.h"

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

constexpr WORD kArchAmd64 = 9; // PROCESSOR_ARCHITECTURE_AMD64

constexpr int kInstallAttempts = 3;
constexpr int64_t kRetryStepUs = 200;

struct DriverState {
    HANDLE device = INVALID_HANDLE_VALUE;
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

// Finds the driver file (beside the library, else in the system drivers folder)
// and opens the device, registering and starting the service when it does not
// answer yet.
uint32_t InstallAndOpen() {
    wchar_t module[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    const DWORD moduleLength = GetModuleFileNameW(Module(), module, MAX_PATH);
    if (moduleLength == 0 || moduleLength >= MAX_PATH) module[0] = 0;
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH) system[0] = 0;
    if (wchar_t* cut = wcsrchr(module, L'\\')) *cut = 0;

    wchar_t* path = g_driver.path;
    if (!(module[0] && JoinPath(path, module, L"", g_driver.file) && FileExists(path)) &&
        !(system[0] && JoinPath(path, system, L"drivers\\", g_driver.file) && FileExists(path))) {
        path[0] = 0;
        return VEK_HOST_DRIVER_NO_FILE;
    }
    if (OnNetworkDrive(path)) return VEK_HOST_DRIVER_NETWORK;

    if (!g_driver.isNt) {
        // The legacy virtual device driver loads on open and unloads on close.
        g_driver.device = CreateFileW(kDeviceVxd, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        return g_driver.device != INVALID_HANDLE_VALUE ? VEK_HOST_DRIVER_READY : VEK_HOST_DRIVER_START_FAILED;
    }

    g_driver.device = OpenNtDevice();
    if (g_driver.device != INVALID_HANDLE_VALUE) return VEK_HOST_DRIVER_READY; // already running

    // A service left behind whose device does not open is registered afresh.
    ServiceControl(kServiceStopRemove, kServiceName, path);
    if (!ServiceControl(kServiceInstallStart, kServiceName, path)) {
        ServiceControl(kServiceStopRemove, kServiceName, path);
        return VEK_HOST_DRIVER_START_FAILED;
    }
    g_driver.device = OpenNtDevice();
    return g_driver.device != INVALID_HANDLE_VALUE ? VEK_HOST_DRIVER_READY : VEK_HOST_DRIVER_START_FAILED;
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
    // The driver counts open handles: 1 means nobody else uses it.
    if (g_driver.isNt && HandleCount() == 1) {
        CloseDevice();
        ServiceControl(kServiceStopRemove, kServiceName, g_driver.path);
    }
    CloseDevice();
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
