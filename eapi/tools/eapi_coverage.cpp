// Which EAPI IDs each chip family serves: every simulated board is brought up
// through VEK_SIM_BOARD and asked for every ID; the table counts, per ChipKind
// of the board's main chip, on how many boards each ID answers success.
//
//   eapi_coverage            the table
//   eapi_coverage --boards   one line per board as well
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "eapi/EApi.h"
#include "platform/platform_table.h"
#include "vek/sim.h"

namespace {

struct Probe {
    const char* name;
    bool (*served)();
};

bool Value(EApiId_t id) {
    uint32_t v = 0;
    return EApiBoardGetValue(id, &v) == EAPI_STATUS_SUCCESS;
}
bool String(EApiId_t id) {
    char text[128];
    uint32_t len = sizeof text;
    return EApiBoardGetStringA(id, text, &len) == EAPI_STATUS_SUCCESS;
}

#define VALUE(id) {#id, [] { return Value(id); }}
#define STRING(id) {#id, [] { return String(id); }}

const Probe kProbes[] = {
    STRING(EAPI_ID_BOARD_MANUFACTURER_STR),
    STRING(EAPI_ID_BOARD_NAME_STR),
    STRING(EAPI_ID_BOARD_REVISION_STR),
    STRING(EAPI_ID_BOARD_SERIAL_STR),
    STRING(EAPI_ID_BOARD_BIOS_REVISION_STR),
    STRING(EAPI_ID_BOARD_HW_REVISION_STR),
    STRING(EAPI_ID_BOARD_PLATFORM_TYPE_STR),
    VALUE(EAPI_ID_GET_EAPI_SPEC_VERSION),
    VALUE(EAPI_ID_BOARD_BOOT_COUNTER_VAL),
    VALUE(EAPI_ID_BOARD_RUNNING_TIME_METER_VAL),
    VALUE(EAPI_ID_BOARD_PNPID_VAL),
    VALUE(EAPI_ID_BOARD_PLATFORM_REV_VAL),
    VALUE(EAPI_ID_BOARD_DRIVER_VERSION_VAL),
    VALUE(EAPI_ID_BOARD_LIB_VERSION_VAL),
    VALUE(EAPI_ID_HWMON_CPU_TEMP),
    VALUE(EAPI_ID_HWMON_CHIPSET_TEMP),
    VALUE(EAPI_ID_HWMON_SYSTEM_TEMP),
    VALUE(EAPI_ID_HWMON_VOLTAGE_VCORE),
    VALUE(EAPI_ID_HWMON_VOLTAGE_2V5),
    VALUE(EAPI_ID_HWMON_VOLTAGE_3V3),
    VALUE(EAPI_ID_HWMON_VOLTAGE_VBAT),
    VALUE(EAPI_ID_HWMON_VOLTAGE_5V),
    VALUE(EAPI_ID_HWMON_VOLTAGE_5VSB),
    VALUE(EAPI_ID_HWMON_VOLTAGE_12V),
    VALUE(EAPI_ID_HWMON_FAN_CPU),
    VALUE(EAPI_ID_HWMON_FAN_SYSTEM),
    {"EAPI_ID_BACKLIGHT_1",
     [] {
         uint32_t v = 0;
         return EApiVgaGetBacklightBrightness(EAPI_ID_BACKLIGHT_1, &v) == EAPI_STATUS_SUCCESS;
     }},
    {"EAPI_ID_STORAGE_STD",
     [] {
         uint32_t size = 0;
         return EApiStorageCap(EAPI_ID_STORAGE_STD, &size, nullptr) == EAPI_STATUS_SUCCESS;
     }},
    {"EAPI_ID_I2C_EXTERNAL",
     [] {
         uint32_t len = 0;
         return EApiI2CGetBusCap(EAPI_ID_I2C_EXTERNAL, &len) == EAPI_STATUS_SUCCESS;
     }},
    {"EAPI_ID_I2C_LVDS_1",
     [] {
         uint32_t len = 0;
         return EApiI2CGetBusCap(EAPI_ID_I2C_LVDS_1, &len) == EAPI_STATUS_SUCCESS;
     }},
    {"watchdog",
     [] {
         uint32_t reset = 0;
         return EApiWDogGetCap(nullptr, nullptr, &reset) == EAPI_STATUS_SUCCESS;
     }},
    {"EAPI_ID_GPIO_BANK00",
     [] {
         uint32_t in = 0;
         return EApiGPIOGetDirectionCaps(EAPI_ID_GPIO_BANK00, &in, nullptr) == EAPI_STATUS_SUCCESS;
     }},
};

} // namespace

int main(int argc, char** argv) {
    const bool perBoard = argc > 1 && std::strcmp(argv[1], "--boards") == 0;
    constexpr size_t kProbeCount = sizeof kProbes / sizeof kProbes[0];
    struct Tally {
        int boards = 0;
        int served[kProbeCount] = {};
    };
    std::map<uint32_t, Tally> byKind;
    int failed = 0;
    for (uint32_t i = 0; i < vek_sim_board_count(); ++i) {
        const char* name = vek_sim_board_name(i);
        const vek::PlatformEntry& row = vek::kPlatformTable[i];
        if (std::strcmp(row.name, name) != 0) {
            std::fprintf(stderr, "board %u: %s is not row %s\n", i, name, row.name);
            return 2;
        }
        setenv("VEK_SIM_BOARD", name, 1);
        if (EApiLibInitialize() != EAPI_STATUS_SUCCESS) {
            std::printf("%-24s initialisation failed\n", name);
            ++failed;
            continue;
        }
        Tally& t = byKind[row.chipKind];
        ++t.boards;
        std::string line;
        for (size_t p = 0; p < kProbeCount; ++p) {
            const bool ok = kProbes[p].served();
            t.served[p] += ok;
            line += ok ? '+' : '.';
        }
        if (perBoard) std::printf("%-24s kind %2u/%-2u %s\n", name, row.chipKind, row.secondaryKind, line.c_str());
        EApiLibUnInitialize();
    }
    std::printf("%-38s", "EAPI ID \\ ChipKind (boards)");
    for (const auto& [kind, t] : byKind) std::printf(" %3u (%3d)", kind, t.boards);
    std::printf("\n");
    for (size_t p = 0; p < kProbeCount; ++p) {
        std::printf("%-38s", kProbes[p].name);
        for (const auto& [kind, t] : byKind) std::printf(" %9d", t.served[p]);
        std::printf("\n");
    }
    return failed == 0 ? 0 : 1;
}
