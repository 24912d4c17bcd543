// EApi.dll as a Windows application sees it: loaded by name beside vek.dll,
// every entry found by name and by ordinal, the library's contract on a board
// wine describes through its DMI table.
//
//   wine_eapi_test.exe unlisted     the board is not one of vek's
//   wine_eapi_test.exe listed NAME  the board is NAME, with the stand-in I/O driver
// EApi.dll, vek.dll and exports.txt lie beside the program.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "eapi/EApi.h"
#include "tests/windows/check.h"

namespace {

HMODULE g_dll = nullptr;

template <typename Fn>
Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(g_dll, name)));
}

using NoArgs = EApiStatus_t(EAPI_CALLTYPE*)();
using GetString = EApiStatus_t(EAPI_CALLTYPE*)(EApiId_t, char*, uint32_t*);
using GetValue = EApiStatus_t(EAPI_CALLTYPE*)(EApiId_t, uint32_t*);
using GpioLevel = EApiStatus_t(EAPI_CALLTYPE*)(EApiId_t, uint32_t, uint32_t*);

void TestExportTable() {
    const int exports = vek::wine::CheckExportTable(g_dll, "eapi_exports.txt");
    CHECK_EQ(exports, 25);
    CHECK(GetProcAddress(g_dll, "DllMain") == nullptr);
}

// Before initialisation, after a failed one and after uninitialisation. (Each
// call here may run twice: CHECK_EQ evaluates its arguments twice, in either
// order, so calls whose second run differs go through variables elsewhere.)
void CheckNotInitialised() {
    uint32_t v = 0;
    char text[16];
    uint32_t len = sizeof text;
    CHECK_EQ(Entry<GetValue>("EApiBoardGetValue")(EAPI_ID_GET_EAPI_SPEC_VERSION, &v), EAPI_STATUS_NOT_INITIALIZED);
    CHECK_EQ(Entry<GetString>("EApiBoardGetStringA")(EAPI_ID_BOARD_NAME_STR, text, &len), EAPI_STATUS_NOT_INITIALIZED);
    CHECK_EQ(Entry<GpioLevel>("EApiGPIOGetLevel")(EAPI_ID_GPIO_BANK00, 1, &v), EAPI_STATUS_NOT_INITIALIZED);
    CHECK_EQ(Entry<NoArgs>("EApiWDogTrigger")(), EAPI_STATUS_NOT_INITIALIZED);
    CHECK_EQ(Entry<NoArgs>("EApiLibUnInitialize")(), EAPI_STATUS_NOT_INITIALIZED);
}

void TestUnlisted() {
    CheckNotInitialised();
    const EApiStatus_t init = Entry<NoArgs>("EApiLibInitialize")();
    CHECK_EQ(init, EAPI_STATUS_UNSUPPORTED);
    CheckNotInitialised();
}

void TestListed(const char* board) {
    auto init = Entry<NoArgs>("EApiLibInitialize");
    auto uninit = Entry<NoArgs>("EApiLibUnInitialize");
    CheckNotInitialised();
    // CHECK_EQ evaluates its arguments twice: results go through variables.
    const EApiStatus_t first = init();
    if (!CHECK_EQ(first, EAPI_STATUS_SUCCESS)) return;
    const EApiStatus_t second = init();
    CHECK_EQ(second, EAPI_STATUS_INITIALIZED);
    // The buffer-length contract across the DLL boundary.
    auto getString = Entry<GetString>("EApiBoardGetStringA");
    auto getValue = Entry<GetValue>("EApiBoardGetValue");
    char name[128] = {};
    uint32_t len = 0;
    const EApiStatus_t query = getString(EAPI_ID_BOARD_NAME_STR, nullptr, &len);
    CHECK_EQ(query, EAPI_STATUS_MORE_DATA);
    CHECK_EQ(len, uint32_t(std::strlen(board) + 1));
    len = sizeof name;
    const EApiStatus_t read = getString(EAPI_ID_BOARD_NAME_STR, name, &len);
    CHECK_EQ(read, EAPI_STATUS_SUCCESS);
    CHECK_EQ(std::string(name), std::string(board));
    uint32_t v = 0;
    const EApiStatus_t revision = getValue(EAPI_ID_GET_EAPI_SPEC_VERSION, &v);
    CHECK_EQ(revision, EAPI_STATUS_SUCCESS);
    CHECK_EQ(v, 0x01000000u);
    const EApiStatus_t pnp = getValue(EAPI_ID_BOARD_PNPID_VAL, &v);
    CHECK_EQ(pnp, EAPI_STATUS_UNSUPPORTED);
    const EApiStatus_t closed = uninit();
    CHECK_EQ(closed, EAPI_STATUS_SUCCESS);
    CheckNotInitialised();
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    g_dll = LoadLibraryW(L"EApi.dll");
    if (CHECK(g_dll != nullptr)) {
        TestExportTable();
        if (mode == "unlisted") TestUnlisted();
        else if (mode == "listed" && argc > 2) TestListed(argv[2]);
        else CHECK(!"usage: wine_eapi_test.exe unlisted | listed NAME");
    }
    return vek::wine::Finish("wine_eapi_test");
}
