// vek.dll as an application sees it: loaded by name, entries found by name and
// by ordinal, initialisation on a board wine describes through its DMI table.
//
//   wine_dll_test.exe first-board        print the first platform-table name
//   wine_dll_test.exe unlisted           the board is not in the table
//   wine_dll_test.exe listed VENDOR BIOSVERSION SERIAL
//                                        the board is the first table row
//   wine_dll_test.exe platform-i2c       the board has a platform I2C bus 2 (FMQ-345)
// vek.dll, exports.txt and the stand-in drivers lie beside the program.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform_table.h"
#include "tests/windows/check.h"
#include "vek/vek.h"

using vek::wine::Beside;
using vek::wine::ChildResult;
using vek::wine::RunSelf;

namespace {

HMODULE g_dll = nullptr;

template <typename Fn>
Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(g_dll, name)));
}

using NoArgs = VEK_RESULT(VEK_CALL*)();
using TextQuery = VEK_RESULT(VEK_CALL*)(char*);
using ScreenSet = VEK_RESULT(VEK_CALL*)(uint32_t, uint8_t);

bool LoadVek() {
    g_dll = LoadLibraryW(L"vek.dll");
    CHECK(g_dll != nullptr);
    return g_dll != nullptr;
}

void TestExportTable() {
    const int exports = vek::wine::CheckExportTable(g_dll, "exports.txt");
    CHECK_EQ(exports, 88);
    // The host seam belongs to the Linux and test builds, not to the product.
    CHECK(GetProcAddress(g_dll, "vek_host_attach") == nullptr);
    CHECK(GetProcAddress(g_dll, "vek_host_capabilities") == nullptr);
    CHECK(GetProcAddress(g_dll, "DllMain") == nullptr);
}

void TestUnlisted() {
    if (!LoadVek()) return;
    TestExportTable();
    auto init = Entry<NoArgs>("VEK_API_Init");
    auto uninit = Entry<NoArgs>("VEK_API_Uninit");
    auto version = Entry<TextQuery>("VEK_API_GetVersion");
    auto name = Entry<TextQuery>("VEK_Board_GetPlatformName");
    auto screen = Entry<ScreenSet>("VEK_Screen_Set");
    char text[80] = "";

    CHECK_EQ(version(text), 6u);
    CHECK_EQ(screen(1, 0), 7u);
    CHECK_EQ(screen(0, 2), 7u);
    for (int round = 0; round < 2; ++round) {
        CHECK_EQ(init(), 10u);
        CHECK_EQ(version(text), 6u);
        CHECK_EQ(name(text), 6u);
    }
    CHECK_EQ(uninit(), 0u);
    CHECK(FreeLibrary(g_dll));
}

// A driver file beside vek.dll under the name it looks for: the driver built
// with it (built_driver.sys) or a stand-in it must refuse.
void PutDriver(const char* from) {
    const std::string to = Beside(vek::wine::DriverFileA().c_str());
    DeleteFileA(to.c_str());
    if (from) CopyFileA(Beside(from).c_str(), to.c_str(), FALSE);
}

bool ServiceExists() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"ZELKORAN_0_1", SERVICE_QUERY_STATUS) : nullptr;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return service != nullptr;
}

// Init in a process of its own; "uninit" and "free" say how it lets go, else
// it just exits. Exit code: Init's result.
int ListedChild(const std::string& release) {
    if (!LoadVek()) return 100;
    const VEK_RESULT result = Entry<NoArgs>("VEK_API_Init")();
    if (release == "uninit") Entry<NoArgs>("VEK_API_Uninit")();
    if (release == "uninit" || release == "free") FreeLibrary(g_dll);
    return int(result);
}

void TestListed(char** identity) {
    PutDriver(nullptr);
    if (!LoadVek()) return;
    auto init = Entry<NoArgs>("VEK_API_Init");
    auto uninit = Entry<NoArgs>("VEK_API_Uninit");

    // The board is known, so the driver step runs: an administrator learns
    // that the driver file is missing, a limited token that it must elevate.
    // (Each in a process of its own: a process tries to start the driver once.)
    CHECK_EQ(RunSelf(L"child-listed uninit").exitCode, DWORD(2));
    HANDLE limited = vek::wine::LimitedToken();
    CHECK(limited != nullptr);
    if (limited) CHECK_EQ(RunSelf(L"child-listed uninit", limited).exitCode, DWORD(12));

    // A driver file the library was not built with is not its driver: 2, as
    // if missing, and nothing is installed.
    for (const char* planted : {"fake_iodriver.sys", "fake_iodriver_fails.sys"}) {
        PutDriver(planted);
        CHECK_EQ(RunSelf(L"child-listed uninit").exitCode, DWORD(2));
        CHECK(!ServiceExists());
    }

    // Its own driver: the library comes up on this board.
    PutDriver("built_driver.sys");
    CHECK_EQ(init(), 0u);
    CHECK(ServiceExists());
    struct Text {
        const char* entry;
        std::string expected;
    } const texts[] = {
        {"VEK_API_GetVersion", "5.0.1.20260626"},
        {"VEK_Board_GetPlatformName", vek::kPlatformTable[0].name},
        {"VEK_Board_GetPlatformType", "Embedded Board"},
        {"VEK_Board_GetBIOSVendor", identity[0]},
        {"VEK_Board_GetBIOSVersion", identity[1]},
        {"VEK_Board_GetSerialNumber", identity[2]},
    };
    for (const Text& t : texts) {
        char out[80] = "";
        CHECK_EQ(Entry<TextQuery>(t.entry)(out), 0u);
        CHECK_STR(out, t.expected);
    }
    // Once an administrator runs it, the driver serves limited processes too,
    // and they leave it installed for us.
    if (limited) CHECK_EQ(RunSelf(L"child-listed uninit", limited).exitCode, DWORD(0));
    CHECK(ServiceExists());
    // The last user out removes the service.
    CHECK_EQ(uninit(), 0u);
    CHECK(!ServiceExists());
    CHECK(FreeLibrary(g_dll));

    // FreeLibrary releases the driver for an application that never called
    // Uninit. At process exit only the handle goes (no service work under the
    // loader lock): the service stays for the next user, whose Uninit removes it.
    CHECK_EQ(RunSelf(L"child-listed free").exitCode, DWORD(0));
    CHECK(!ServiceExists());
    CHECK_EQ(RunSelf(L"child-listed exit").exitCode, DWORD(0));
    CHECK(ServiceExists());
    CHECK_EQ(RunSelf(L"child-listed uninit").exitCode, DWORD(0));
    CHECK(!ServiceExists());

    if (limited) CloseHandle(limited);
    PutDriver(nullptr);
}

// Bus 2 of the board is "I2C0", which wine's runtime cannot open: every
// transfer on it answers 6; bus 3 has no controller and answers 10.
void TestPlatformI2c() {
    PutDriver("built_driver.sys");
    if (!LoadVek()) return;
    CHECK_EQ(Entry<NoArgs>("VEK_API_Init")(), 0u);
    using ByteData = VEK_RESULT(VEK_CALL*)(uint32_t, uint8_t, uint8_t, uint32_t, uint8_t*);
    using Block = VEK_RESULT(VEK_CALL*)(uint32_t, uint8_t, uint8_t, uint32_t, int32_t*, uint8_t*);
    using SendReceive = VEK_RESULT(VEK_CALL*)(uint32_t, uint8_t, uint8_t, uint8_t*);
    auto byteData = Entry<ByteData>("VEK_I2C_ByteData");
    auto block = Entry<Block>("VEK_I2C_SMBusBlock");
    auto sendReceive = Entry<SendReceive>("VEK_I2C_SendReceive");
    uint8_t b = 0, data[33] = {};
    int32_t count = 2;
    CHECK_EQ(byteData(1, 2, 0x50, 0, &b), 6u);
    CHECK_EQ(byteData(0, 2, 0x50, 0, &b), 6u);
    CHECK_EQ(sendReceive(1, 2, 0x50, &b), 6u);
    CHECK_EQ(block(1, 2, 0x50, 0x80, &count, data), 6u);
    CHECK_EQ(block(0, 2, 0x50, 0x80, &count, data), 6u);
    CHECK_EQ(byteData(1, 3, 0x50, 0, &b), 10u);
    CHECK_EQ(Entry<NoArgs>("VEK_API_Uninit")(), 0u);
    CHECK(FreeLibrary(g_dll));
    PutDriver(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "first-board") {
        std::printf("%s\n", vek::kPlatformTable[0].name);
        return 0;
    }
    if (mode == "child-listed") return ListedChild(argc > 2 ? argv[2] : "");
    if (mode == "unlisted") {
        TestUnlisted();
    } else if (mode == "listed" && argc == 5) {
        TestListed(argv + 2);
    } else if (mode == "platform-i2c") {
        TestPlatformI2c();
    } else {
        std::printf("usage: wine_dll_test first-board|unlisted|listed VENDOR BIOSVERSION SERIAL|platform-i2c\n");
        return 2;
    }
    return vek::wine::Finish(("wine_dll_test " + mode).c_str());
}
