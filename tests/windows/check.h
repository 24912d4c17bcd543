// A minimal check harness for the programs that run under wine: every check
// prints on failure, and the program ends with "N passed, N failed".
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace vek::wine {

struct Tally {
    int passed = 0;
    int failed = 0;
};
inline Tally& Counts() {
    static Tally tally;
    return tally;
}

inline bool Record(bool ok, const char* file, int line, const std::string& what) {
    if (ok) {
        ++Counts().passed;
    } else {
        ++Counts().failed;
        std::printf("FAIL %s:%d: %s\n", file, line, what.c_str());
        std::fflush(stdout);
    }
    return ok;
}

inline std::string Show(const std::string& s) { return "\"" + s + "\""; }
inline std::string Show(const char* s) { return s ? Show(std::string(s)) : std::string("(null)"); }
template <typename T>
std::string Show(const T& v) {
    return std::to_string(v);
}

// Closing line of a test program; its exit code.
inline int Finish(const char* program) {
    std::printf("%s: %d passed, %d failed\n", program, Counts().passed, Counts().failed);
    return Counts().failed == 0 ? 0 : 1;
}

// The I/O driver file vek.dll picks here: the x64 driver for a 64-bit process
// and for a 32-bit one under WoW64, the x86 driver on 32-bit Windows.
inline const wchar_t* DriverFile() {
    BOOL wow64 = FALSE;
    if (sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)) return L"zelkoranx64.sys";
    return L"zelkoran.sys";
}
inline std::string DriverFileA() {
    std::string narrow;
    for (const wchar_t* p = DriverFile(); *p; ++p) narrow += char(*p);
    return narrow;
}

// ---- processes ----

struct ChildResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out; // stdout and stderr, each captured whole
    std::string err;
};

inline std::string ReadWhole(HANDLE file) {
    std::string text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    // The C runtime's text mode wrote "\r\n" for every "\n".
    std::string lines;
    for (char c : text)
        if (c != '\r') lines += c;
    return lines;
}

inline HANDLE TempCapture() {
    wchar_t dir[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"vek", 0, name);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// Runs this same program with `args`, optionally under another token, and
// waits (bounded) for it.
inline ChildResult RunSelf(const std::wstring& args, HANDLE token = nullptr, DWORD timeoutMs = 60000) {
    ChildResult result;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + args;
    HANDLE out = TempCapture(), err = TempCapture();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    BOOL started = token ? CreateProcessAsUserW(token, nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                                nullptr, &startup, &process)
                         : CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                          &startup, &process);
    if (started) {
        if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
        GetExitCodeProcess(process.hProcess, &result.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        std::printf("cannot start child: error %lu\n", GetLastError());
    }
    result.out = ReadWhole(out);
    result.err = ReadWhole(err);
    CloseHandle(out);
    CloseHandle(err);
    return result;
}

// The non-elevated half of this administrator's split token (UAC's filtered
// token), as a primary token for a child process; null when there is none.
inline HANDLE LimitedToken() {
    HANDLE own = nullptr, limited = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &own)) return nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
        DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                         &limited);
        CloseHandle(linked.LinkedToken);
    }
    CloseHandle(own);
    return limited;
}

} // namespace vek::wine

#define CHECK(cond) ::vek::wine::Record(bool(cond), __FILE__, __LINE__, #cond)
#define CHECK_EQ(actual, expected)                                                                        \
    ::vek::wine::Record((actual) == (expected), __FILE__, __LINE__,                                       \
                        std::string(#actual " == " #expected ": got ") + ::vek::wine::Show(actual) +     \
                            ", expected " + ::vek::wine::Show(expected))
#define CHECK_STR(actual, expected)                                                                       \
    ::vek::wine::Record(std::string(actual) == std::string(expected), __FILE__, __LINE__,                 \
                        std::string(#actual ": got ") + ::vek::wine::Show(std::string(actual)) +          \
                            ", expected " + ::vek::wine::Show(std::string(expected)))

namespace vek::wine {

// A file in the folder of the running program.
inline std::string Beside(const char* file) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dir(self);
    return dir.substr(0, dir.rfind('\\') + 1) + file;
}

// Each "ordinal name" line of the list beside the program is an export of dll
// at that ordinal; returns how many lines were checked.
inline int CheckExportTable(HMODULE dll, const char* list) {
    std::ifstream lines(Beside(list));
    CHECK(lines.good());
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        unsigned ordinal = 0;
        std::string name;
        if (!(fields >> ordinal >> name)) continue;
        ++count;
        FARPROC byName = GetProcAddress(dll, name.c_str());
        FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
        if (!CHECK(byName != nullptr)) std::printf("  missing %s\n", name.c_str());
        if (!CHECK(byName == byOrdinal)) std::printf("  %s is not at ordinal %u\n", name.c_str(), ordinal);
    }
    return count;
}

} // namespace vek::wine
