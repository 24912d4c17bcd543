// vekctl wdt: the board's watchdog, shown in the manner of wdctl.
//
//   vekctl wdt                              state, stored timeout and range
//   vekctl wdt config UNIT COUNT [--start]  store a timeout (UNIT seconds|minutes)
//   vekctl wdt trigger                      start the watchdog, or feed it
//   vekctl wdt disable                      stop it
#include <fmt/core.h>

#include "tools/vekctl/vekctl.h"

namespace vekctl {

namespace {

constexpr const char* kUnits[2] = {"seconds", "minutes"};

uint32_t UnitNumber(const std::string& unit) { return unit == "minutes" || unit == "m" || unit == "1" ? 1 : 0; }

// Status after an action; the action's own failure is already recorded.
int Status(Run& run) {
    const VEK_RESULT avail = VEK_WDT_Available();
    Json data = Json::object();
    std::string state;
    if (avail == VEK_OK) state = "running";
    else if (avail == VEK_ERR_STATE) state = "stopped";
    else if (avail == VEK_ERR_UNSUPPORTED) state = "absent";
    else run.Fail("watchdog state", avail);
    data["state"] = state.empty() ? Json(nullptr) : Json(state);
    if (avail == VEK_ERR_UNSUPPORTED) {
        return run.Finish(data, [] { fmt::print("this board has no watchdog the library serves\n"); });
    }
    uint32_t unit = 0;
    uint8_t count = 0;
    const VEK_RESULT rc = VEK_WDT_GetConfig(&unit, &count);
    if (rc == VEK_OK) data["timeout"] = {{"count", count}, {"unit", kUnits[unit & 1]}};
    else if (rc != VEK_ERR_UNSUPPORTED) run.Fail("watchdog timeout", rc);
    Json range = Json::object();
    std::string rangeText;
    for (uint32_t u = 0; u < 2; ++u) {
        uint8_t lo = 0, hi = 0;
        const VEK_RESULT r = VEK_WDT_GetRange(u, &lo, &hi);
        if (r == VEK_OK) {
            range[kUnits[u]] = {{"min", lo}, {"max", hi}};
            rangeText += fmt::format("{}{}..{} {}", rangeText.empty() ? "" : ", ", lo, hi, kUnits[u]);
        } else if (r != VEK_ERR_UNSUPPORTED && r != VEK_ERR_ARGUMENT) {
            run.Fail(fmt::format("watchdog range in {}", kUnits[u]), r);
        }
    }
    data["range"] = range;
    return run.Finish(data, [&] {
        fmt::print("{:<15}{}\n", "Device:", "board watchdog (vek)");
        if (rc == VEK_OK) fmt::print("{:<15}{} {}\n", "Timeout:", count, kUnits[unit & 1]);
        if (!rangeText.empty()) fmt::print("{:<15}{}\n", "Timeout range:", rangeText);
        fmt::print("{:<15}{}\n", "State:", state.empty() ? "?" : state);
    });
}

void FeedReminder() {
    uint32_t unit = 0;
    uint8_t count = 0;
    if (VEK_WDT_GetConfig(&unit, &count) == VEK_OK)
        Warn(fmt::format("the watchdog is running: feed it with 'vekctl wdt trigger' within {} {} or the board "
                         "resets ('vekctl wdt disable' stops it)",
                         count, kUnits[unit & 1]));
}

int Show(const Global& g, Session& session) {
    Run run(g, session.source(), "wdt");
    return Status(run);
}

struct ConfigArgs {
    std::string unit;
    int count = 0;
    bool start = false;
};

// Starting (or feeding) the watchdog, the one step that needs a reminder.
void Start(Run& run, const char* what) {
    const VEK_RESULT t = VEK_WDT_Trigger();
    if (t != VEK_OK) run.Fail(what, t);
    else FeedReminder();
}

int Config(const Global& g, Session& session, const ConfigArgs& a) {
    Run run(g, session.source(), "wdt config");
    const VEK_RESULT r = VEK_WDT_SetConfig(UnitNumber(a.unit), uint8_t(a.count));
    if (r != VEK_OK) run.Fail("watchdog config", r);
    if (r == VEK_OK && a.start) Start(run, "watchdog start");
    return Status(run);
}

int Trigger(const Global& g, Session& session) {
    Run run(g, session.source(), "wdt trigger");
    Start(run, "watchdog trigger");
    return Status(run);
}

int Disable(const Global& g, Session& session) {
    Run run(g, session.source(), "wdt disable");
    if (const VEK_RESULT r = VEK_WDT_Disable(); r != VEK_OK) run.Fail("watchdog disable", r);
    return Status(run);
}

} // namespace

void AddWdt(Registry& r) {
    CLI::App* wdt = r.app.add_subcommand("wdt", "the watchdog (like wdctl)");
    wdt->preparse_callback([a = r.action](size_t) { *a = Show; });

    auto config = std::make_shared<ConfigArgs>();
    CLI::App* cfg = wdt->add_subcommand("config", "store a timeout: config UNIT COUNT [--start]");
    cfg->add_option("UNIT", config->unit, "seconds or minutes")
        ->required()
        ->check(CLI::IsMember({"seconds", "minutes", "s", "m", "0", "1"}));
    cfg->add_option("COUNT", config->count, "timeout count 1..255 (the board's range applies)")
        ->required()
        ->check(CLI::Range(1, 255));
    cfg->add_flag("--start", config->start, "start the watchdog with it");
    cfg->callback([a = r.action, config] { *a = [config](const Global& g, Session& s) { return Config(g, s, *config); }; });

    wdt->add_subcommand("trigger", "start the watchdog, or feed it while it runs")->callback([a = r.action] { *a = Trigger; });
    wdt->add_subcommand("disable", "stop the watchdog")->callback([a = r.action] { *a = Disable; });
    wdt->require_subcommand(0, 1);
}

} // namespace vekctl
