// vekctl — look at a board through the vek library.
//
//   vekctl [info] [--board NAME | --sim] [--json]   identity, version, chips, owners, capabilities
//   vekctl boards [--json]                           the supported boards
//
// Without --board or --sim, vekctl first tries the machine it runs on and falls
// back to the default simulated board when no supported board is reachable.
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/library.h"
#include "platform/platform_table.h"
#include "sim/board.h"
#include "tools/vekctl/output.h"
#include "tools/vekctl/session.h"
#include "vek/host.h"
#include "vek/vek.h"

using namespace vekctl;

namespace {

struct Command {
    const char* name;
    CommandFn run;
    const char* help;
};
const Command kCommands[] = {
    {"info", CmdInfo, "board identity, library version, chips, owners and capability words"},
    {"sensors", CmdSensors, "temperatures, voltages, currents and fan speeds"},
    {"gpio", CmdGpio, "GPIO sets and pins: gpio [SET [PIN [VALUE]]]"},
    {"wdt", CmdWdt, "watchdog: wdt [config UNIT COUNT | trigger | disable]"},
    {"bus", CmdBus, "SMBus and I2C tools: bus detect|get|set|dump|eeprom ..."},
};

void Usage(FILE* out) {
    std::fprintf(out, "usage: vekctl [COMMAND] [ARGS] [--board NAME] [--sim] [--json]\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.help);
    std::fprintf(out,
                 "  boards   the boards the library supports\n"
                 "  --board NAME  use the simulated board NAME (see 'vekctl boards')\n"
                 "  --sim         use the default simulated board\n"
                 "  --json        machine-readable output\n");
}

std::optional<Options> Parse(int argc, char** argv) {
    Options o;
    bool commandSeen = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--json") o.json = true;
        else if (a == "--sim") o.sim = true;
        else if (a == "--board" && i + 1 < argc) { o.board = argv[++i]; o.sim = true; }
        else if (a == "-h" || a == "--help") { Usage(stdout); std::exit(0); }
        else if (!commandSeen && a[0] != '-') { o.command = a; commandSeen = true; }
        else if (commandSeen) o.args.push_back(a);
        else return std::nullopt;
    }
    return o;
}

const char* KindName(uint32_t kind) {
    switch (kind) {
    case 0: return "none";
    case 1: return "Super I/O (0x2E/0x4E)";
    case 2: return "Super I/O (0x2E/0x2F)";
    case 3: return "embedded controller";
    case 4: return "chipset devices";
    case 5: return "Super I/O (configurable port)";
    case 6: return "ZKEC controller";
    case 7: return "split";
    case 8: return "chipset GPIO LEDs";
    case 10: return "GPIO expander";
    case 11: return "embedded controller (alt)";
    case 13: return "none";
    case 100: return "EC kind-100 routines";
    default: return "unknown";
    }
}

Value Chip(uint32_t kind, uint32_t subtype) {
    return Value::Obj().Add("kind", Value::Num(kind)).Add("name", Value::Str(KindName(kind))).Add("subtype", Value::Num(subtype));
}

Value List(const uint32_t* list, size_t words) {
    Value v = Value::Arr();
    for (size_t i = 0; i < words; ++i) v.Push(Value::Num(list ? list[i] : 0));
    return v;
}

// The list as one line for people: "mode 7: 3 0 0 ...".
Value ListText(const uint32_t* list, size_t words) {
    std::string s = "mode " + std::to_string(list ? list[0] : 0) + ":";
    for (size_t i = 1; i < words; ++i) s += " " + std::to_string(list ? list[i] : 0);
    return Value::Str(s);
}

Value Capabilities(const vek::DeviceContext& ctx) {
    static const char* kNames[vek::CAP_COUNT] = {
        "CAP_API", "CAP_GPIO", "CAP_WDT", "CAP_SPEAKER", "CAP_FAN", "CAP_VOLTAGE", "CAP_CURRENT",
        "CAP_TEMPERATURE", "CAP_CPU_TEMPERATURE", "CAP_SMBUS", "CAP_SMART_BATTERY", "CAP_BACKLIGHT",
        "CAP_EC_SMARTFAN", "CAP_LED", "CAP_PLATFORM_VERSION_WMI", "CAP_BUTTON"};
    Value v = Value::Obj();
    for (uint32_t i = 0; i < vek::CAP_COUNT; ++i) v.Add(kNames[i], Value::Num(ctx.caps[i]));
    return v;
}

std::string Read(VEK_RESULT (*fn)(char*)) {
    char buf[80] = {};
    return fn(buf) == VEK_OK ? std::string(buf) : std::string();
}

Value InfoReport(const std::string& source, bool json) {
    const vek::DeviceContext& p = vek::Lib().primary;
    Value v = Value::Obj();
    v.Add("source", Value::Str(source));
    v.Add("platform_name", Value::Str(Read(VEK_Board_GetPlatformName)));
    v.Add("platform_type", Value::Str(Read(VEK_Board_GetPlatformType)));
    v.Add("bios_vendor", Value::Str(Read(VEK_Board_GetBIOSVendor)));
    v.Add("bios_version", Value::Str(Read(VEK_Board_GetBIOSVersion)));
    v.Add("serial_number", Value::Str(Read(VEK_Board_GetSerialNumber)));
    v.Add("library_version", Value::Str(Read(VEK_API_GetVersion)));
    v.Add("board_id", Value::Num(p.boardId));
    v.Add("chipset_id", Value::Num(p.chipsetId));
    v.Add("smbus", Value::Obj()
                       .Add("located", Value::Num(p.smbus.located))
                       .Add("io_base", Value::Hex(p.smbus.ioBase)));
    v.Add("main_chip", Chip(p.chipKind, p.subtype));
    v.Add("second_chip", Chip(p.secondaryKind, p.secondarySubtype));
    Value owners = Value::Obj();
    owners.Add("gpio", Value::Num(p.gpioOwner)).Add("wdt", Value::Num(p.wdtOwner));
    owners.Add("cpu_temperature", Value::Num(p.cpuTempOwner)).Add("led", Value::Num(p.ledOwner));
    auto list = [&](const uint32_t* l, size_t n) { return json ? List(l, n) : ListText(l, n); };
    owners.Add("fans", list(p.fanOwners, vek::FAN_OWNER_WORDS));
    owners.Add("voltages", list(p.voltageOwners, vek::VOLTAGE_OWNER_WORDS));
    owners.Add("temperatures", list(p.tempOwners, vek::TEMP_OWNER_WORDS));
    owners.Add("i2c", list(p.i2cOwners, vek::I2C_OWNER_WORDS));
    v.Add("owners", owners);
    v.Add("capabilities", Capabilities(p));
    return v;
}

int Boards(bool json) {
    if (json) {
        Value v = Value::Arr();
        for (const vek::PlatformEntry& r : vek::kPlatformTable)
            v.Push(Value::Obj()
                       .Add("name", Value::Str(r.name))
                       .Add("board_id", Value::Num(r.boardId))
                       .Add("chipset_id", Value::Num(r.chipsetId))
                       .Add("main_chip", Chip(r.chipKind, r.subtype))
                       .Add("second_chip", Chip(r.secondaryKind, r.secondarySubtype)));
        vekctl::PrintJson(v, stdout);
        return 0;
    }
    std::printf("%-24s %5s %7s  %-30s %s\n", "NAME", "BOARD", "CHIPSET", "MAIN CHIP", "SECOND CHIP");
    for (const vek::PlatformEntry& r : vek::kPlatformTable)
        std::printf("%-24s %5u %7u  %-30s %s\n", r.name, r.boardId, r.chipsetId, KindName(r.chipKind),
                    r.secondaryKind ? KindName(r.secondaryKind) : "-");
    return 0;
}

} // namespace

namespace vekctl {

int CmdInfo(const Options& options, Session& session) {
    Emit(options, InfoReport(session.source(), options.json));
    return 0;
}

} // namespace vekctl

int main(int argc, char** argv) {
    std::optional<Options> options = Parse(argc, argv);
    if (!options) {
        Usage(stderr);
        return 2;
    }
    if (options->command == "boards") return Boards(options->json);
    for (const Command& c : kCommands) {
        if (options->command != c.name) continue;
        Session session;
        if (!session.Open(*options)) return 1;
        return c.run(*options, session);
    }
    Usage(stderr);
    return 2;
}
