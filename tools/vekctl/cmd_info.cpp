// vekctl info: who the board is and what the library serves on it.
// vekctl boards: every board the library knows, each with those families.
#include <fmt/core.h>

#include "platform/platform_table.h"
#include "tools/vekctl/vekctl.h"
#include "vek/host.h"
#include "vek/sim.h"

namespace vekctl {

namespace {

// A family is served when some read-only probe answers other than "not on
// this board" (10) or "no such index" (7): a probe that fails with 8 still
// shows a family the board has.
bool Answers(VEK_RESULT r) { return r != VEK_ERR_UNSUPPORTED && r != VEK_ERR_ARGUMENT; }

template <class F>
bool AnyIndex(uint32_t count, F probe) {
    for (uint32_t i = 0; i < count; ++i)
        if (Answers(probe(i))) return true;
    return false;
}

constexpr uint32_t kProbeSensors = 8, kProbeChannels = 20, kProbeFans = 13, kProbeItems = 8;

const std::vector<Family> kFamilies = {
    {"gpio", [] { uint32_t n = 0; return VEK_GPIO_TotalSet(&n) == VEK_OK && n > 0; }},
    {"watchdog", [] { return Answers(VEK_WDT_Available()); }},
    {"cpu-temperature", [] { double t; return Answers(VEK_HWM_CPUTemperature(0, &t)); }},
    {"temperature", [] { return AnyIndex(kProbeSensors, [](uint32_t i) { double t; return VEK_HWM_Temperature(i, &t); }); }},
    {"voltage", [] { return AnyIndex(kProbeChannels, [](uint32_t i) { double v; return VEK_HWM_Voltage(i, &v); }); }},
    {"current", [] { return AnyIndex(kProbeChannels, [](uint32_t i) { double a; return VEK_HWM_Current(i, &a); }); }},
    {"fan", [] { return AnyIndex(kProbeFans, [](uint32_t i) { uint32_t r; return VEK_HWM_GetFanSpeed(i, &r); }); }},
    {"smbus", [] { return VEK_SMBus_Available() == VEK_OK; }},
    {"backlight", [] { uint8_t l; return Answers(VEK_BLC_Read_Brightness(0, &l)); }},
    {"led", [] { return AnyIndex(kProbeItems, [](uint32_t i) { uint32_t v; return VEK_LED_Get(i, &v); }); }},
    {"button", [] { return AnyIndex(kProbeItems, [](uint32_t i) { uint32_t v; return VEK_Button_Get(i, &v); }); }},
    {"storage", [] { return AnyIndex(kProbeItems, [](uint32_t i) { uint32_t v; return VEK_StorageArea_Capacity(i, &v); }); }},
    {"lan-bypass", [] { uint32_t v; return Answers(VEK_LANBYPASS_Mode_Get(0, 0, &v)); }},
    {"ec-smart-fan", [] { uint32_t a, b, c, d; return Answers(VEK_EC_SMF_GetConfig(&a, &b, &c, &d)); }},
    {"pmbus", [] { return AnyIndex(kProbeItems, [](uint32_t i) { uint32_t v; return VEK_PMBus_Get(0, int32_t(i), &v); }); }},
    {"platform-version", [] { uint32_t v; return Answers(VEK_Get_Platform_Version(&v)); }},
    {"boot-counter", [] { uint32_t v; return Answers(VEK_Get_Boot_Counter(&v)); }},
};

struct Identity {
    const char* key;
    const char* label;
    VEK_RESULT (*read)(char*);
    bool optional; // 10 is an answer, not a failure
};
constexpr Identity kIdentity[] = {
    {"platform_name", "Board", VEK_Board_GetPlatformName, false},
    {"platform_type", "Board type", VEK_Board_GetPlatformType, false},
    {"bios_vendor", "BIOS vendor", VEK_Board_GetBIOSVendor, false},
    {"bios_version", "BIOS version", VEK_Board_GetBIOSVersion, false},
    {"serial_number", "Serial number", VEK_Board_GetSerialNumber, false},
    {"ec_version", "EC version", VEK_Board_GetECVersion, true},
    {"library_version", "Library version", VEK_API_GetVersion, false},
};

// The capability words in the library's order, one per family.
constexpr const char* kCapabilityNames[VEK_HOST_CAPABILITY_WORDS] = {
    "api",     "gpio",          "wdt",       "speaker",     "fan", "voltage",
    "current", "temperature",   "cpu_temperature", "smbus", "smart_battery", "backlight",
    "ec_smartfan", "led", "platform_version_wmi", "button",
};

// The board's capability words as the exports test them (bit 0 the main chip,
// bit 1 the second chip); null when the library cannot say.
Json Capabilities(VEK_RESULT* result = nullptr) {
    uint32_t words[VEK_HOST_CAPABILITY_WORDS] = {};
    const VEK_RESULT r = vek_host_capabilities(words);
    if (result != nullptr) *result = r;
    if (r != VEK_OK) return nullptr;
    Json caps = Json::object();
    for (uint32_t i = 0; i < VEK_HOST_CAPABILITY_WORDS; ++i) caps[kCapabilityNames[i]] = words[i];
    return caps;
}

std::string CapabilitiesText(const Json& caps) {
    std::string s;
    for (const auto& [name, word] : caps.items()) s += fmt::format("{}{}={}", s.empty() ? "" : " ", name, word.get<uint32_t>());
    return s;
}

std::string Join(const std::vector<std::string>& words) {
    std::string s;
    for (const auto& w : words) s += (s.empty() ? "" : " ") + w;
    return s.empty() ? "-" : s;
}

Json ChipJson(uint32_t kind, uint32_t subtype) {
    if (kind == vek::KIND_NONE) return nullptr;
    return Json{{"kind", kind}, {"subtype", subtype}, {"name", ChipName(kind)}};
}

template <size_t N>
Json List(const uint32_t (&words)[N]) {
    return Json{{"mode", words[0]}, {"items", std::vector<uint32_t>(words + 1, words + N)}};
}

std::string ChipText(const Json& chip) {
    if (chip.is_null()) return "none";
    return fmt::format("{} (kind {}, subtype {})", chip["name"].get<std::string>(), chip["kind"].get<uint32_t>(),
                       chip["subtype"].get<uint32_t>());
}

std::string ChipsetText(uint32_t id) {
    return id == vek::CHIPSET_FCH ? "AMD FCH (1001)" : fmt::format("Intel generation {}", id);
}

// The row's chips and owners, for info and boards.
void AddChips(Json& data, const BoardChips& chips) {
    if (!chips.known) {
        data["main_chip"] = nullptr;
        return;
    }
    data["board_id"] = chips.boardId;
    data["chipset"] = {{"id", chips.chipsetId}, {"name", ChipsetText(chips.chipsetId)}};
    data["main_chip"] = ChipJson(chips.kind, chips.subtype);
    data["second_chip"] = ChipJson(chips.secondKind, chips.secondSubtype);
    data["owners"] = chips.owners;
}

// "main chip" for 0, the owner's chip by kind otherwise.
std::string OwnerText(uint32_t owner) {
    if (owner == 0) return "main chip";
    if (owner == vek::OWNER_SPLIT) return "split between the chips";
    return fmt::format("{} ({})", ChipName(owner), owner);
}

int Info(const Global& g, Session& session) {
    Run run(g, session.source(), "info");
    Json data = Json::object();
    std::vector<std::pair<std::string, std::string>> lines;
    for (const Identity& item : kIdentity) {
        char text[80] = {};
        const VEK_RESULT r = item.read(text);
        if (r == VEK_OK) {
            data[item.key] = text;
            lines.emplace_back(item.label, text);
        } else {
            data[item.key] = nullptr;
            if (!(item.optional && r == VEK_ERR_UNSUPPORTED)) run.Fail(item.label, r);
        }
    }
    const std::vector<std::string> families = ServedFamilies();
    data["families"] = families;
    lines.emplace_back("Families", Join(families));
    VEK_RESULT capsResult = VEK_OK;
    data["capabilities"] = Capabilities(&capsResult);
    if (capsResult != VEK_OK) run.Fail("Capability words", capsResult);
    else lines.emplace_back("Capability words", CapabilitiesText(data["capabilities"]));
    const BoardChips chips = ChipsOf(data["platform_name"].is_string() ? data["platform_name"].get<std::string>() : "");
    AddChips(data, chips);
    if (chips.known) {
        lines.emplace_back("Main chip", ChipText(data["main_chip"]));
        lines.emplace_back("Second chip", ChipText(data["second_chip"]));
        lines.emplace_back("Chipset", ChipsetText(chips.chipsetId));
        const Json& o = chips.owners;
        lines.emplace_back("GPIO owner", OwnerText(o["gpio"]));
        lines.emplace_back("Watchdog owner", OwnerText(o["watchdog"]));
        lines.emplace_back("CPU temp owner", OwnerText(o["cpu_temperature"]));
        lines.emplace_back("LED owner", OwnerText(o["led"]));
        for (const char* list : {"fans", "voltages", "temperatures", "i2c"}) {
            std::string items;
            for (uint32_t v : o[list]["items"]) items += fmt::format(" {}", v);
            lines.emplace_back(fmt::format("{} owners", list), fmt::format("mode {}:{}", o[list]["mode"].get<uint32_t>(), items));
        }
    }
    return run.Finish(data, [&] {
        for (const auto& [label, value] : lines) fmt::print("{:<22}{}\n", label + ":", value);
    });
}

// Each board is brought up on the simulator in turn; a board whose row shares
// a name prefix with an earlier one is identified as that one by the library,
// which the "identified as" column shows.
int Boards(const Global& g, Session&) {
    Source none{true, ""};
    Run run(g, none, "boards");
    Json rows = Json::array();
    const uint32_t count = vek_sim_board_count();
    Progress progress("bringing up boards", count);
    for (uint32_t i = 0; i < count; ++i) {
        progress.Step(i);
        const std::string name = vek_sim_board_name(i);
        Json row = {{"name", name}};
        if (name.empty() || vek_sim_attach(name.c_str()) != VEK_OK) {
            row["init"] = ResultJson(VEK_ERR_ARGUMENT);
            row["families"] = Json::array();
            row["capabilities"] = nullptr;
            rows.push_back(row);
            continue;
        }
        const VEK_RESULT r = VEK_API_Init();
        row["init"] = ResultJson(r);
        char identified[80] = {};
        if (r == VEK_OK) VEK_Board_GetPlatformName(identified);
        row["identified_as"] = identified;
        row["families"] = r == VEK_OK ? ServedFamilies() : std::vector<std::string>{};
        row["capabilities"] = r == VEK_OK ? Capabilities() : Json(nullptr);
        AddChips(row, ChipsOf(identified));
        VEK_API_Uninit();
        vek_sim_detach();
        rows.push_back(row);
    }
    return run.Finish(rows, [&] {
        fmt::print("{:<24} {:<28} {}\n", "BOARD", "CHIPS (KIND/SUBTYPE)", "FAMILIES THE LIBRARY SERVES");
        for (const Json& row : rows) {
            std::string families = Join(row["families"].get<std::vector<std::string>>());
            if (row["init"]["code"] != 0) families = "(init: " + row["init"]["name"].get<std::string>() + ")";
            const std::string shown = row["name"].get<std::string>().empty() ? "(unnamed row)" : row["name"].get<std::string>();
            std::string note;
            if (row.contains("identified_as") && row["identified_as"] != row["name"])
                note = " [identified as " + row["identified_as"].get<std::string>() + "]";
            std::string chips = "-";
            if (row.contains("main_chip") && !row["main_chip"].is_null()) {
                chips = fmt::format("{} {}/{}", ChipShortName(row["main_chip"]["kind"]), row["main_chip"]["kind"].get<uint32_t>(),
                                    row["main_chip"]["subtype"].get<uint32_t>());
                if (!row["second_chip"].is_null())
                    chips += fmt::format(" + {} {}/{}", ChipShortName(row["second_chip"]["kind"]),
                                         row["second_chip"]["kind"].get<uint32_t>(), row["second_chip"]["subtype"].get<uint32_t>());
            }
            fmt::print("{:<24} {:<28} {}{}\n", shown, chips, families, note);
        }
    });
}

// Names without bringing each board up: fast enough for shell completion.
int Names(const Global& g, Session&) {
    Source none{true, ""};
    Run run(g, none, "boards");
    std::vector<std::string> names;
    for (uint32_t i = 0; i < vek_sim_board_count(); ++i)
        if (const char* n = vek_sim_board_name(i); n != nullptr && *n != '\0') names.push_back(n);
    if (g.json) return run.Finish(names, nullptr);
    for (const auto& n : names) fmt::print("{}\n", n);
    return kExitOk;
}

} // namespace

const std::vector<Family>& Families() { return kFamilies; }

std::string ChipName(uint32_t kind) {
    switch (kind) {
    case vek::KIND_SIO1: return "Super I/O (port 0x2E/0x4E, kind 1)";
    case vek::KIND_SIO2: return "Super I/O (port 0x2E/0x2F, kind 2)";
    case vek::KIND_EC: return "embedded controller";
    case vek::KIND_CHIPSET: return "chipset devices and platform I2C";
    case vek::KIND_SIO5: return "Super I/O (configurable port, kind 5)";
    case vek::KIND_ZKEC: return "controller behind the ZKEC driver";
    case vek::OWNER_LED_GPIO: return "chipset GPIO LEDs";
    case vek::OWNER_GPIO_EXPANDER: return "SMBus GPIO expander";
    case vek::KIND_EC_ALT: return "embedded controller (kind 11)";
    case vek::I2C_NO_OWNER: return "no chip";
    case vek::KIND_EC100: return "embedded controller (kind-100 routines)";
    default: return fmt::format("kind {}", kind);
    }
}

std::string ChipShortName(uint32_t kind) {
    switch (kind) {
    case vek::KIND_SIO1: return "sio1";
    case vek::KIND_SIO2: return "sio2";
    case vek::KIND_EC:
    case vek::KIND_EC_ALT:
    case vek::KIND_EC100: return "ec";
    case vek::KIND_CHIPSET: return "chipset";
    case vek::KIND_SIO5: return "sio5";
    case vek::KIND_ZKEC: return "zkec";
    default: return fmt::format("kind{}", kind);
    }
}

BoardChips ChipsOf(const std::string& platformName) {
    BoardChips c;
    const vek::PlatformEntry* row = platformName.empty() ? nullptr : vek::FindPlatform(platformName.c_str());
    if (row == nullptr) return c;
    c.known = true;
    c.boardId = row->boardId;
    c.chipsetId = row->chipsetId;
    c.kind = row->chipKind;
    c.subtype = row->subtype;
    c.secondKind = row->secondaryKind;
    c.secondSubtype = row->secondarySubtype;
    c.owners = {{"gpio", row->gpioOwner},         {"watchdog", row->wdtOwner},
                {"cpu_temperature", row->cpuTempOwner}, {"led", row->ledOwner},
                {"fans", List(row->fanOwners)},   {"voltages", List(row->voltageOwners)},
                {"temperatures", List(row->tempOwners)}, {"i2c", List(row->i2cOwners)}};
    return c;
}

std::string SensorChip(const Source& source) {
    std::string board = source.board.empty() ? "board" : source.board;
    for (char& ch : board)
        if (ch == ' ') ch = '_';
    const BoardChips chips = ChipsOf(source.board);
    return (chips.known ? ChipShortName(chips.kind) : std::string("vek")) + "-" + board;
}

std::vector<std::string> ServedFamilies() {
    std::vector<std::string> served;
    for (const Family& f : kFamilies)
        if (f.served()) served.push_back(f.name);
    return served;
}

void AddInfo(Registry& r) {
    *r.action = Info;
    CLI::App* info = r.app.add_subcommand("info", "board identity, library version and the families served (default)");
    info->callback([a = r.action] { *a = Info; });
    CLI::App* boards = r.app.add_subcommand("boards", "every supported board and the families the library serves on it");
    auto names = std::make_shared<bool>(false);
    boards->add_flag("--names", *names, "only the names, one a line (for scripts and completion)");
    boards->callback([a = r.action, nb = r.needsBoard, names] {
        *a = *names ? Action(Names) : Action(Boards);
        *nb = false;
    });
}

} // namespace vekctl
