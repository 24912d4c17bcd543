// Platform I2C controllers ("I2C0", "I2C1") through the Windows Runtime
// (Windows.Devices.I2c, Windows.Devices.Enumeration).
//
// The runtime is reached through its binary interface directly: the few
// interfaces used are declared below, and combase is loaded at run time so the
// DLL still loads on systems that predate the runtime. Each opened device is a
// handle holding its own RoInitialize, used for one operation and closed.
#include <windows.h>

#include <objbase.h>

#include <hstring.h>
#include <inspectable.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "os/windows/com_ptr.h"
#include "os/windows/win_platform.h"

namespace vek::os::win {
namespace {

constexpr uint32_t kOpenFailed = 6;
constexpr uint32_t kNoTransfer = 0xFFFFFFFFu; // -1: nothing was sent
constexpr int32_t kLastKnownStatus = 4;        // I2cTransferStatus UnknownError

const wchar_t* const kControllerNames[] = {L"I2C0", L"I2C1"};

// ---- the runtime's binary interface, as far as it is used here ----

struct I2cTransferResult {
    int32_t status; // I2cTransferStatus: 0 full, 1 partial, 2 address not acknowledged, 3 clock stretch, 4 unknown
    uint32_t bytesTransferred;
};

enum AsyncStatus : int32_t { kAsyncStarted = 0, kAsyncCompleted = 1 };

// {00000036-0000-0000-C000-000000000046}
constexpr IID kIidAsyncInfo = {0x00000036, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {91A33BE3-7334-4512-96BC-FBAE9459F5F6}
constexpr IID kIidI2cDeviceStatics = {0x91A33BE3, 0x7334, 0x4512, {0x96, 0xBC, 0xFB, 0xAE, 0x94, 0x59, 0xF5, 0xF6}};
// {81B586B3-9693-41B1-A243-DED4F6E66926}
constexpr IID kIidI2cConnectionSettingsFactory = {
    0x81B586B3, 0x9693, 0x41B1, {0xA2, 0x43, 0xDE, 0xD4, 0xF6, 0xE6, 0x69, 0x26}};
// {C17F100E-3A46-4A78-8013-769DC9B97390}
constexpr IID kIidDeviceInformationStatics = {
    0xC17F100E, 0x3A46, 0x4A78, {0x80, 0x13, 0x76, 0x9D, 0xC9, 0xB9, 0x73, 0x90}};
// {30D5A829-7FA4-4026-83BB-D75BAE4EA99E}
constexpr IID kIidClosable = {0x30D5A829, 0x7FA4, 0x4026, {0x83, 0xBB, 0xD7, 0x5B, 0xAE, 0x4E, 0xA9, 0x9E}};

struct IAsyncInfoAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Id(uint32_t* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* error) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// IAsyncOperation<T> for an interface T: the layout is the same for every T.
struct IAsyncOperationAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IUnknown* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(IUnknown** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults(IInspectable** results) = 0;
};

// IVectorView<DeviceInformation>.
struct IVectorViewAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetAt(uint32_t index, IInspectable** item) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(uint32_t* size) = 0;
};

struct IDeviceInformationAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Id(HSTRING* id) = 0;
};

struct IDeviceInformationStaticsAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateFromIdAsync(HSTRING, IInspectable**) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFromIdAsyncAdditionalProperties(HSTRING, IInspectable*, IInspectable**) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAllAsync(IInspectable**) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAllAsyncDeviceClass(int32_t, IInspectable**) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAllAsyncAqsFilter(HSTRING filter, IAsyncOperationAbi** operation) = 0;
};

struct II2cDeviceStaticsAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelector(HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromFriendlyName(HSTRING name, HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING id, IInspectable* settings,
                                                  IAsyncOperationAbi** operation) = 0;
};

struct II2cConnectionSettingsFactoryAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Create(int32_t slaveAddress, IInspectable** settings) = 0;
};

struct II2cDeviceAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING*) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionSettings(IInspectable**) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(uint32_t, const uint8_t*) = 0;
    virtual HRESULT STDMETHODCALLTYPE WritePartial(uint32_t size, const uint8_t* data, I2cTransferResult* r) = 0;
    virtual HRESULT STDMETHODCALLTYPE Read(uint32_t, uint8_t*) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadPartial(uint32_t size, uint8_t* data, I2cTransferResult* r) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteRead(uint32_t, const uint8_t*, uint32_t, uint8_t*) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteReadPartial(uint32_t writeSize, const uint8_t* write, uint32_t readSize,
                                                       uint8_t* read, I2cTransferResult* r) = 0;
};

struct IClosableAbi : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// ---- combase, looked up once ----

struct Runtime {
    HRESULT(WINAPI* roInitialize)(int32_t) = nullptr;
    void(WINAPI* roUninitialize)() = nullptr;
    HRESULT(WINAPI* roGetActivationFactory)(HSTRING, REFIID, void**) = nullptr;
    HRESULT(WINAPI* createString)(LPCWSTR, UINT32, HSTRING*) = nullptr;
    HRESULT(WINAPI* deleteString)(HSTRING) = nullptr;
    PCWSTR(WINAPI* windowsGetStringRawBuffer)(HSTRING, UINT32*) = nullptr;
    bool usable = false;
};

template <typename Fn>
void Lookup(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const Runtime& Combase() {
    static const Runtime runtime = [] {
        Runtime r;
        HMODULE combase = LoadLibraryExW(L"combase.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (combase == nullptr) return r;
        Lookup(combase, "RoInitialize", r.roInitialize);
        Lookup(combase, "RoUninitialize", r.roUninitialize);
        Lookup(combase, "RoGetActivationFactory", r.roGetActivationFactory);
        Lookup(combase, "WindowsCreateString", r.createString);
        Lookup(combase, "WindowsDeleteString", r.deleteString);
        Lookup(combase, "WindowsGetStringRawBuffer", r.windowsGetStringRawBuffer);
        r.usable = r.roInitialize && r.roUninitialize && r.roGetActivationFactory && r.createString && r.deleteString;
        return r;
    }();
    return runtime;
}

class HString {
public:
    HString() = default;
    explicit HString(const wchar_t* text) {
        if (Combase().createString(text, UINT32(wcslen(text)), &s_) != S_OK) s_ = nullptr;
    }
    ~HString() {
        if (s_) Combase().deleteString(s_);
    }
    HString(const HString&) = delete;
    HString& operator=(const HString&) = delete;
    HSTRING get() const { return s_; }
    HSTRING* out() { return &s_; }

private:
    HSTRING s_ = nullptr;
};

// The activation factory of a runtime class; *error receives the failure.
template <typename Factory>
bool GetFactory(const wchar_t* className, const IID& iid, ComPtr<Factory>& factory, HRESULT* error) {
    HString name(className);
    if (!name.get()) {
        *error = E_OUTOFMEMORY;
        return false;
    }
    *error = Combase().roGetActivationFactory(name.get(), iid, factory.outVoid());
    return SUCCEEDED(*error);
}

// Blocks until the operation finishes and takes its result (which may be null,
// as for a slave that is in use); *error receives a failure.
template <typename T>
bool AwaitResult(IAsyncOperationAbi* operation, ComPtr<T>& result, HRESULT* error) {
    ComPtr<IAsyncInfoAbi> info;
    if (FAILED(*error = operation->QueryInterface(kIidAsyncInfo, info.outVoid()))) return false;
    AsyncStatus status = kAsyncStarted;
    while (SUCCEEDED(info->get_Status(&status)) && status == kAsyncStarted) Sleep(1);
    if (status != kAsyncCompleted) {
        if (FAILED(info->get_ErrorCode(error)) || SUCCEEDED(*error)) *error = E_FAIL;
        return false;
    }
    *error = operation->GetResults(reinterpret_cast<IInspectable**>(result.out()));
    return SUCCEEDED(*error);
}

// One opened slave device and the runtime initialisation it was opened under.
struct I2cHandle {
    HRESULT roInit = E_FAIL;
    ComPtr<II2cDeviceAbi> device;
    ~I2cHandle() {
        if (device) {
            ComPtr<IClosableAbi> closable;
            if (SUCCEEDED(device->QueryInterface(kIidClosable, closable.outVoid()))) closable->Close();
            device.reset();
        }
        if (SUCCEEDED(roInit)) Combase().roUninitialize();
    }
};

// The failure text as the open's callers receive it: allocated with the COM
// task allocator, freed by them with CoTaskMemFree.
wchar_t* TaskString(const std::wstring& text) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* p = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (p) std::memcpy(p, text.c_str(), bytes);
    return p;
}

// A platform error's own text.
std::wstring ErrorText(HRESULT hr) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, DWORD(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result;
    if (n != 0 && text) {
        result.assign(text, n);
        while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r')) result.pop_back();
    } else {
        wchar_t code[32];
        std::swprintf(code, 32, L"Error 0x%08lX", static_cast<unsigned long>(hr));
        result = code;
    }
    if (text) LocalFree(text);
    return result;
}

// The first controller matching the name, opened at the 7-bit address. On
// failure *message says why.
bool OpenDevice(const wchar_t* controller, uint8_t address7, I2cHandle& handle, std::wstring& message) {
    HRESULT hr = S_OK;
    auto failed = [&](HRESULT result) {
        hr = result;
        return FAILED(result);
    };
    ComPtr<II2cDeviceStaticsAbi> devices;
    ComPtr<IDeviceInformationStaticsAbi> information;
    ComPtr<II2cConnectionSettingsFactoryAbi> settingsFactory;
    if (!GetFactory(L"Windows.Devices.I2c.I2cDevice", kIidI2cDeviceStatics, devices, &hr) ||
        !GetFactory(L"Windows.Devices.Enumeration.DeviceInformation", kIidDeviceInformationStatics, information, &hr) ||
        !GetFactory(L"Windows.Devices.I2c.I2cConnectionSettings", kIidI2cConnectionSettingsFactory, settingsFactory,
                    &hr)) {
        message = ErrorText(hr);
        return false;
    }

    HString name(controller), selector;
    if (!name.get()) {
        message = L"Out of memory";
        return false;
    }
    ComPtr<IAsyncOperationAbi> finding;
    ComPtr<IVectorViewAbi> matches;
    uint32_t count = 0;
    if (failed(devices->GetDeviceSelectorFromFriendlyName(name.get(), selector.out())) ||
        failed(information->FindAllAsyncAqsFilter(selector.get(), finding.out())) ||
        !AwaitResult(finding.get(), matches, &hr) || !matches || failed(matches->get_Size(&count))) {
        message = ErrorText(hr);
        return false;
    }
    if (count == 0) {
        message = L"I2C controller not found";
        return false;
    }

    ComPtr<IDeviceInformationAbi> first;
    HString id;
    ComPtr<IInspectable> settings;
    ComPtr<IAsyncOperationAbi> opening;
    if (failed(matches->GetAt(0, reinterpret_cast<IInspectable**>(first.out()))) || !first ||
        failed(first->get_Id(id.out())) || failed(settingsFactory->Create(address7, settings.out())) ||
        failed(devices->FromIdAsync(id.get(), settings.get(), opening.out())) ||
        !AwaitResult(opening.get(), handle.device, &hr)) {
        message = ErrorText(hr);
        return false;
    }
    if (!handle.device) {
        wchar_t address[8];
        std::swprintf(address, 8, L"%X", unsigned(address7));
        uint32_t length = 0;
        const wchar_t* idText = Combase().windowsGetStringRawBuffer
                                    ? Combase().windowsGetStringRawBuffer(id.get(), &length)
                                    : L"";
        message = std::wstring(L"Slave address 0x") + address + L" on bus " + std::wstring(idText ? idText : L"", length) +
                  L" is in use or unavailable.";
        return false;
    }
    return true;
}

uint32_t TransferStatus(HRESULT hr, const I2cTransferResult& result, uint32_t* transferred) {
    if (FAILED(hr)) return kNoTransfer;
    if (transferred) *transferred = result.bytesTransferred;
    return result.status >= 0 && result.status <= kLastKnownStatus ? uint32_t(result.status) : kNoTransfer;
}

} // namespace

uint32_t I2cOpenDevice(uint32_t controller, uint8_t address7, void** handle, wchar_t** message) {
    if (message) *message = nullptr;
    if (handle == nullptr) return kOpenFailed;
    *handle = nullptr;
    std::wstring why;
    if (controller >= sizeof kControllerNames / sizeof kControllerNames[0]) {
        why = L"I2C controller not found";
    } else if (!Combase().usable) {
        why = L"Unknown error during i2c_open";
    } else {
        auto* opened = new (std::nothrow) I2cHandle;
        if (opened == nullptr) {
            why = L"Out of memory";
        } else {
            opened->roInit = Combase().roInitialize(1 /* RO_INIT_MULTITHREADED */);
            if (OpenDevice(kControllerNames[controller], address7, *opened, why)) {
                *handle = opened;
                return 0;
            }
            delete opened;
        }
    }
    if (message) *message = TaskString(why);
    return kOpenFailed;
}

uint32_t I2cOpen(uint32_t controller, uint8_t address7, void** handle) {
    wchar_t* message = nullptr;
    const uint32_t result = I2cOpenDevice(controller, address7, handle, &message);
    CoTaskMemFree(message); // every caller drops the text and answers 6
    return result;
}

uint32_t I2cTransfer(void* handle, const uint8_t* write, uint32_t wlen, uint8_t* read, uint32_t rlen,
                     uint32_t* transferred) {
    if (transferred) *transferred = 0;
    auto* h = static_cast<I2cHandle*>(handle);
    if (h == nullptr || !h->device) return kNoTransfer;
    const bool writes = write != nullptr && wlen != 0;
    const bool reads = read != nullptr && rlen != 0;
    I2cTransferResult result{};
    if (writes && reads)
        return TransferStatus(h->device->WriteReadPartial(wlen, write, rlen, read, &result), result, transferred);
    if (writes) return TransferStatus(h->device->WritePartial(wlen, write, &result), result, transferred);
    if (reads) return TransferStatus(h->device->ReadPartial(rlen, read, &result), result, transferred);
    return kNoTransfer;
}

void I2cClose(void* handle) { delete static_cast<I2cHandle*>(handle); }

} // namespace vek::os::win
