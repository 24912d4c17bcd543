// Board identity (ROOT\CIMV2) and monitor brightness (root\wmi) through WMI.
//
// COM is started and stopped around every query on the calling thread. Each
// successful CoInitializeEx is balanced by exactly one CoUninitialize, so a
// caller's own apartment survives the query.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "os/windows/com_ptr.h"
#include "os/windows/win_platform.h"
#include "vek/host.h"

namespace vek::os::win {
namespace {

constexpr uint32_t kQueryFailed = 16;

// Brightness results.
constexpr uint32_t kBrightnessDone = 0;
constexpr uint32_t kBrightnessNoMemory = 1;
constexpr uint32_t kBrightnessNoWmi = 2;
constexpr uint32_t kBrightnessNoMonitor = 17;

constexpr LONG kForwardOnlyImmediate = WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY; // 0x30
constexpr LONG kImmediate = WBEM_FLAG_RETURN_IMMEDIATELY;                                     // 0x10
constexpr CIMTYPE kCimUint8 = CIM_UINT8;   // 17
constexpr CIMTYPE kCimUint32 = CIM_UINT32; // 19

std::atomic<int> g_securityInits{0};

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : s_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(s_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return s_; }
    explicit operator bool() const { return s_ != nullptr; }

private:
    BSTR s_;
};

class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &v_; }
    VARIANT* operator->() { return &v_; }

private:
    VARIANT v_;
};

// CoInitializeEx on this thread for one query. A thread already in the other
// apartment kind (RPC_E_CHANGED_MODE) can still make the calls; only a
// successful start is undone.
class ComScope {
public:
    explicit ComScope(DWORD model) : hr_(CoInitializeEx(nullptr, model)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool started() const { return SUCCEEDED(hr_); }
    bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT hr_;
};

bool CreateLocator(ComPtr<IWbemLocator>& locator) {
    return SUCCEEDED(
        CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.outVoid()));
}

// ---- identity ----

struct IdentityQuery {
    const wchar_t* wql;
    const wchar_t* property;
};

// Indexed by vek_host_identity.
constexpr IdentityQuery kIdentityQueries[] = {
    {L"SELECT * FROM Win32_BaseBoard", L"Product"},
    {L"SELECT * FROM Win32_BIOS", L"Manufacturer"},
    {L"SELECT * FROM Win32_BIOS", L"SMBIOSBIOSVersion"},
    {L"SELECT * FROM Win32_BaseBoard", L"SerialNumber"},
    {L"SELECT * FROM Win32_BaseBoard", L"Version"},
};
static_assert(sizeof kIdentityQueries / sizeof kIdentityQueries[0] == VEK_HOST_ID_BOARD_VERSION + 1);

uint32_t RunIdentityQuery(const IdentityQuery& query, char* out, uint32_t outSize) {
    ComPtr<IWbemLocator> locator;
    if (!CreateLocator(locator)) return kQueryFailed;
    const Bstr ns(L"ROOT\\CIMV2"), language(L"WQL"), text(query.wql);
    if (!ns || !language || !text) return kQueryFailed;

    ComPtr<IWbemServices> services;
    if (FAILED(locator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.out())))
        return kQueryFailed;
    if (FAILED(CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
        return kQueryFailed;

    ComPtr<IEnumWbemClassObject> rows;
    if (FAILED(services->ExecQuery(language.get(), text.get(), kForwardOnlyImmediate, nullptr, rows.out())))
        return kQueryFailed;

    // Several objects (more than one baseboard): the last one's value stays.
    for (;;) {
        ComPtr<IWbemClassObject> row;
        ULONG count = 0;
        rows->Next(WBEM_INFINITE, 1, row.out(), &count);
        if (count == 0 || !row) break;
        Variant value;
        if (SUCCEEDED(row->Get(query.property, 0, value.get(), nullptr, nullptr)) && value->vt == VT_BSTR)
            WideToNarrow(value->bstrVal, out, outSize);
    }
    return 0;
}

// ---- brightness ----

// The COM preparation both brightness routines share: 0 with services
// connected to root\wmi, else 2.
uint32_t ConnectMonitorNamespace(const Bstr& ns, ComPtr<IWbemLocator>& locator, ComPtr<IWbemServices>& services) {
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
                         nullptr, EOAC_SECURE_REFS, nullptr);
    if (!CreateLocator(locator)) return kBrightnessNoWmi;
    if (FAILED(locator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.out())))
        return kBrightnessNoWmi;
    return kBrightnessDone;
}

bool ReadLevel(VARIANT* value, uint8_t* level) {
    if (value->vt == VT_UI1) {
        *level = value->bVal;
        return true;
    }
    if (FAILED(VariantChangeType(value, value, 0, VT_UI4))) return false;
    *level = static_cast<uint8_t>(value->ulVal);
    return true;
}

// Where a character of the ANSI code page may start, at or before `limit`.
size_t CharacterBoundary(const char* text, size_t limit) {
    if (GetACP() == CP_UTF8) {
        while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) --limit;
        return limit;
    }
    size_t at = 0;
    while (at < limit) {
        const size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[at])) ? 2 : 1;
        if (at + step > limit) break;
        at += step;
    }
    return at;
}

} // namespace

bool WideToNarrow(const wchar_t* value, char* out, uint32_t outSize) {
    if (value == nullptr || value[0] == 0 || out == nullptr || outSize == 0) return false;
    const int need = WideCharToMultiByte(CP_ACP, 0, value, -1, nullptr, 0, nullptr, nullptr);
    if (need <= 1) return false;
    std::unique_ptr<char[]> text(new (std::nothrow) char[need]);
    if (!text || WideCharToMultiByte(CP_ACP, 0, value, -1, text.get(), need, nullptr, nullptr) <= 0) return false;
    size_t length = std::strlen(text.get());
    if (length > outSize - 1) length = CharacterBoundary(text.get(), outSize - 1);
    std::memcpy(out, text.get(), length);
    out[length] = '\0';
    return true;
}

int ComSecurityInitCount() { return g_securityInits.load(); }

uint32_t QueryIdentity(uint32_t item, char* out, uint32_t outSize) {
    if (item > VEK_HOST_ID_BOARD_VERSION || out == nullptr || outSize == 0) return kQueryFailed;
    const ComScope com(COINIT_APARTMENTTHREADED);
    // Process security can be set once; the first query that starts COM does it.
    // When it fails (the application set it first) the query goes on regardless.
    if (com.started() && g_securityInits.load() == 0 &&
        SUCCEEDED(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr)))
        ++g_securityInits;
    return RunIdentityQuery(kIdentityQueries[item], out, outSize);
}

uint32_t BrightnessRead(uint8_t* level) {
    const Bstr ns(L"root\\wmi"), language(L"WQL"), query(L"Select * from WmiMonitorBrightness");
    if (!ns || !language || !query) return kBrightnessNoMemory;
    const ComScope com(COINIT_MULTITHREADED);
    if (!com.usable()) return kBrightnessNoWmi;
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    if (const uint32_t connected = ConnectMonitorNamespace(ns, locator, services); connected != kBrightnessDone)
        return connected;

    ComPtr<IEnumWbemClassObject> monitors;
    if (FAILED(services->ExecQuery(language.get(), query.get(), kImmediate, nullptr, monitors.out())))
        return kBrightnessNoMonitor;
    uint32_t result = kBrightnessNoMonitor;
    for (;;) {
        ComPtr<IWbemClassObject> monitor;
        ULONG count = 0;
        monitors->Next(WBEM_INFINITE, 1, monitor.out(), &count);
        if (count == 0 || !monitor) break;
        Variant value;
        uint8_t read = 0;
        if (FAILED(monitor->Get(L"CurrentBrightness", 0, value.get(), nullptr, nullptr)) ||
            !ReadLevel(value.get(), &read))
            return kBrightnessNoMonitor;
        if (level) *level = read;
        result = kBrightnessDone;
    }
    return result;
}

uint32_t BrightnessSet(uint8_t level) {
    wchar_t levelText[8];
    std::swprintf(levelText, sizeof levelText / sizeof levelText[0], L"%ld", long(level));
    const Bstr ns(L"root\\wmi"), language(L"WQL"), query(L"Select * from WmiMonitorBrightnessMethods"),
        className(L"WmiMonitorBrightnessMethods"), methodName(L"WmiSetBrightness"), timeout(L"0"),
        brightness(levelText);
    if (!ns || !language || !query || !className || !methodName || !timeout || !brightness)
        return kBrightnessNoMemory;
    const ComScope com(COINIT_MULTITHREADED);
    if (!com.usable()) return kBrightnessNoWmi;
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    if (const uint32_t connected = ConnectMonitorNamespace(ns, locator, services); connected != kBrightnessDone)
        return connected;

    ComPtr<IEnumWbemClassObject> monitors;
    if (FAILED(services->ExecQuery(language.get(), query.get(), kImmediate, nullptr, monitors.out())))
        return kBrightnessNoMonitor;
    bool any = false;
    for (;;) {
        ComPtr<IWbemClassObject> monitor;
        ULONG count = 0;
        monitors->Next(WBEM_INFINITE, 1, monitor.out(), &count);
        if (count == 0 || !monitor) break;
        any = true;

        ComPtr<IWbemClassObject> methods, signature, arguments;
        if (FAILED(services->GetObject(className.get(), 0, nullptr, methods.out(), nullptr)) ||
            FAILED(methods->GetMethod(L"WmiSetBrightness", 0, signature.out(), nullptr)) || !signature ||
            FAILED(signature->SpawnInstance(0, arguments.out())))
            return kBrightnessNoMonitor;

        // The values travel as text and WMI converts them to the declared types.
        VARIANT text;
        text.vt = VT_BSTR;
        text.bstrVal = timeout.get();
        if (FAILED(arguments->Put(L"Timeout", 0, &text, kCimUint32))) return kBrightnessNoMonitor;
        text.bstrVal = brightness.get();
        if (FAILED(arguments->Put(L"Brightness", 0, &text, kCimUint8))) return kBrightnessNoMonitor;

        Variant path;
        if (FAILED(monitor->Get(L"__PATH", 0, path.get(), nullptr, nullptr)) || path->vt != VT_BSTR)
            return kBrightnessDone;
        if (FAILED(services->ExecMethod(path->bstrVal, methodName.get(), 0, nullptr, arguments.get(), nullptr,
                                        nullptr)))
            return kBrightnessNoMonitor;
    }
    return any ? kBrightnessDone : kBrightnessNoMonitor;
}

} // namespace vek::os::win
