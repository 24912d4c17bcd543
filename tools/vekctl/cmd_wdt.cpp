// vekctl wdt: the board's watchdog, shown in the manner of wdctl.
//
//   vekctl wdt                              recorded timeout, range, what the chip cannot tell
//   vekctl wdt config UNIT COUNT [--start]  set and record a timeout (UNIT seconds|minutes)
//   vekctl wdt trigger                      start the watchdog, or feed it, with the recorded timeout
//   vekctl wdt keepalive [--interval S]     feed it until SIGTERM/SIGINT (like watchdog(8))
//   vekctl wdt disable                      stop it
//
// The library keeps the timeout per process and every vekctl run is a new
// process, so 'config' records it in the state directory and every feed applies
// it again; a feed with the library's default would shorten it, or on EC boards
// write count 0 and stop the watchdog.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

#include <fmt/core.h>

#include "tools/vekctl/vekctl.h"

namespace vekctl {

namespace {

constexpr const char* kUnits[2] = {"seconds", "minutes"};

uint32_t UnitNumber(const std::string& unit) { return unit == "minutes" || unit == "m" || unit == "1" || unit == "0x1" ? 1 : 0; }
double Seconds(const WatchdogConfig& c) { return double(c.count) * (c.unit ? 60 : 1); }
Json TimeoutJson(const WatchdogConfig& c) {
    return Json{{"count", c.count}, {"unit", kUnits[c.unit & 1]}, {"seconds", Seconds(c)}};
}
std::string TimeoutText(const WatchdogConfig& c) { return fmt::format("{} {}", c.count, kUnits[c.unit & 1]); }

// Root-only: the file decides how long the board lives without a feed.
std::string Record(const Source& source, const WatchdogConfig& c) {
    const std::string dir = StateDir();
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return fmt::format("cannot create {}: {}", dir, std::strerror(errno));
    const std::string path = WatchdogStateFile(source), temp = path + ".new";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return fmt::format("cannot write {}: {}", temp, std::strerror(errno));
    const std::string text = fmt::format("unit={}\ncount={}\n", kUnits[c.unit & 1], c.count);
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size()) && fsync(fd) == 0;
    const int saved = errno;
    close(fd);
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return fmt::format("cannot write {}: {}", path, std::strerror(written ? errno : saved));
    }
    return "";
}

// Status after an action in this process; the action's own failure is already recorded.
int Status(Run& run, const std::optional<WatchdogConfig>& timeout, bool fresh) {
    const VEK_RESULT avail = VEK_WDT_Available();
    Json data = Json::object();
    std::string state;
    if (avail == VEK_ERR_UNSUPPORTED) {
        data["state"] = "absent";
        return run.Finish(data, [] { fmt::print("this board has no watchdog the library serves\n"); });
    }
    // A new process knows nothing of the chip's state: the library's flag is
    // its own, and the chip has no register that says whether it counts.
    if (fresh) state = "";
    else if (avail == VEK_OK) state = "running";
    else if (avail == VEK_ERR_STATE) state = "stopped";
    else run.Fail("watchdog state", avail);
    data["state"] = state.empty() ? Json(nullptr) : Json(state);
    data["timeout"] = timeout ? TimeoutJson(*timeout) : Json(nullptr);
    data["recorded_in"] = WatchdogStateFile(run.source());
    data["time_left"] = nullptr; // the chips count down without a readable counter
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
        fmt::print("{:<15}{}\n", "Timeout:",
                   timeout ? TimeoutText(*timeout) : "not recorded (set one with 'vekctl wdt config UNIT COUNT')");
        if (!rangeText.empty()) fmt::print("{:<15}{}\n", "Timeout range:", rangeText);
        fmt::print("{:<15}{}\n", "Time left:", "not reported by the hardware");
        fmt::print("{:<15}{}\n", "State:", state.empty() ? "not known to a new process (the chip does not report it)" : state);
    });
}

void FeedReminder(const std::optional<WatchdogConfig>& c) {
    Warn(fmt::format("the watchdog is running: feed it with 'vekctl wdt trigger' (or run 'vekctl wdt keepalive') "
                     "within {} or the board resets ('vekctl wdt disable' stops it)",
                     c ? TimeoutText(*c) : std::string("its timeout")));
}

int Show(const Global& g, Session& session) {
    Run run(g, session.source(), "wdt");
    return Status(run, RecordedWatchdog(session.source()), true);
}

struct ConfigArgs {
    std::string unit;
    int count = 0;
    bool start = false;
};

int Config(const Global& g, Session& session, const ConfigArgs& a) {
    Run run(g, session.source(), "wdt config");
    const WatchdogConfig c{UnitNumber(a.unit), uint8_t(a.count)};
    const VEK_RESULT r = VEK_WDT_SetConfig(c.unit, c.count);
    if (r != VEK_OK) run.Fail("watchdog config", r);
    if (r == VEK_OK) {
        if (const std::string e = Record(session.source(), c); !e.empty()) run.Error("watchdog record", e);
    }
    if (!run.failed() && a.start) {
        if (const VEK_RESULT t = VEK_WDT_Trigger(); t != VEK_OK) run.Fail("watchdog start", t);
        else FeedReminder(c);
    }
    const int status = Status(run, r == VEK_OK ? std::optional<WatchdogConfig>(c) : std::nullopt, false);
    if (r == VEK_OK) SimulatedChangeNotice(session.source());
    return status;
}

// One feed: the recorded timeout first (this process's library would otherwise
// use its default); with none recorded the library re-arms with the chip's own
// timeout where the chip can say it, and answers 14 where it cannot.
VEK_RESULT Feed(const std::optional<WatchdogConfig>& c) {
    if (c) {
        if (const VEK_RESULT r = VEK_WDT_SetConfig(c->unit, c->count); r != VEK_OK) return r;
    }
    return VEK_WDT_Trigger();
}

const char* kNoTimeout = "no watchdog timeout recorded and the chip cannot report its own; nothing was touched "
                         "(record one with 'vekctl wdt config UNIT COUNT')";

std::optional<WatchdogConfig> ChipTimeout() {
    WatchdogConfig c;
    if (VEK_WDT_GetConfig(&c.unit, &c.count) != VEK_OK || c.count == 0) return std::nullopt;
    return c;
}

int Trigger(const Global& g, Session& session) {
    Run run(g, session.source(), "wdt trigger");
    std::optional<WatchdogConfig> c = RecordedWatchdog(session.source());
    const VEK_RESULT r = Feed(c);
    if (r == VEK_ERR_STATE && !c) {
        run.Fail(kNoTimeout, r);
        return run.Finish(nullptr, nullptr);
    }
    if (r != VEK_OK) run.Fail("watchdog trigger", r);
    else {
        if (!c) c = ChipTimeout();
        FeedReminder(c);
    }
    return Status(run, c, false);
}

struct KeepaliveArgs {
    double interval = 1.0;
    bool disarm = false;
};

int Keepalive(const Global& g, Session& session, const KeepaliveArgs& a) {
    Run run(g, session.source(), "wdt keepalive");
    std::optional<WatchdogConfig> c = RecordedWatchdog(session.source());
    if (c && a.interval >= Seconds(*c))
        return UsageError(fmt::format("--interval {} s is not shorter than the watchdog timeout ({})", a.interval, TimeoutText(*c)));
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    uint64_t feeds = 0;
    const VEK_RESULT first = Feed(c);
    if (first != VEK_OK) {
        run.Fail(first == VEK_ERR_STATE && !c ? kNoTimeout : "watchdog trigger", first);
        return run.Finish(nullptr, nullptr);
    }
    ++feeds;
    if (!c) c = ChipTimeout();
    std::fprintf(stderr, "vekctl: feeding the watchdog every %g s (timeout %s) until SIGTERM or SIGINT\n", a.interval,
                 c ? TimeoutText(*c).c_str() : "the chip's own");
    const double whole = std::floor(a.interval);
    const timespec wait{time_t(whole), long((a.interval - whole) * 1e9)};
    int signal = 0;
    while (true) {
        signal = sigtimedwait(&stop, nullptr, &wait);
        if (signal == SIGINT || signal == SIGTERM) break;
        if (signal < 0 && errno != EAGAIN && errno != EINTR) break;
        if (signal < 0 && errno == EINTR) continue;
        const VEK_RESULT r = VEK_WDT_Trigger(); // the configuration applied by the first feed holds in this process
        if (r != VEK_OK) {
            run.Fail("watchdog trigger", r);
            break;
        }
        ++feeds;
    }
    bool disarmed = false;
    if (a.disarm) {
        if (const VEK_RESULT r = VEK_WDT_Disable(); r != VEK_OK) run.Fail("watchdog disable", r);
        else disarmed = true;
    }
    Json data = {{"feeds", feeds}, {"interval", a.interval}, {"disarmed", disarmed},
                 {"timeout", c ? TimeoutJson(*c) : Json(nullptr)}};
    return run.Finish(data, [&] {
        fmt::print("stopped after {} feeds; the watchdog is {}\n", feeds,
                   disarmed ? "disabled" : fmt::format("still running and resets the board unless fed within {}",
                                                       c ? TimeoutText(*c) : std::string("its timeout")));
    });
}

int Disable(const Global& g, Session& session) {
    Run run(g, session.source(), "wdt disable");
    if (const VEK_RESULT r = VEK_WDT_Disable(); r != VEK_OK) run.Fail("watchdog disable", r);
    return Status(run, RecordedWatchdog(session.source()), false);
}

} // namespace

std::string WatchdogStateFile(const Source& source) {
    if (!source.simulated) return StateDir() + "/watchdog";
    std::string board = source.board;
    for (char& ch : board)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '-') ch = '_';
    return StateDir() + "/watchdog.sim-" + board;
}

std::optional<WatchdogConfig> RecordedWatchdog(const Source& source) {
    std::ifstream in(WatchdogStateFile(source));
    std::string line, unit;
    std::optional<uint64_t> count;
    while (std::getline(in, line)) {
        if (line.rfind("unit=", 0) == 0) unit = line.substr(5);
        else if (line.rfind("count=", 0) == 0) count = ParseNumber(line.substr(6), 1, 255);
    }
    if (!count || (unit != "seconds" && unit != "minutes")) return std::nullopt;
    return WatchdogConfig{UnitNumber(unit), uint8_t(*count)};
}

void AddWdt(Registry& r) {
    CLI::App* wdt = r.app.add_subcommand("wdt", "the watchdog (like wdctl)");
    wdt->preparse_callback([a = r.action](size_t) { *a = Show; });
    wdt->footer("The timeout set with 'wdt config' is recorded in $VEK_STATE_DIR (default /run/vek);\n"
                "every 'wdt trigger' and 'wdt keepalive' applies it before feeding.");

    auto config = std::make_shared<ConfigArgs>();
    CLI::App* cfg = wdt->add_subcommand("config", "set and record a timeout: config UNIT COUNT [--start]");
    cfg->add_option("UNIT", config->unit, "seconds or minutes")
        ->required()
        ->check(CLI::IsMember({"seconds", "minutes", "s", "m", "0", "1", "0x0", "0x1"}));
    cfg->add_option("COUNT", config->count, "timeout count 1..255 (the board's range applies)")
        ->required()
        ->check(NumberIn(1, 255));
    cfg->add_flag("--start", config->start, "start the watchdog with it");
    cfg->callback([a = r.action, config] { *a = [config](const Global& g, Session& s) { return Config(g, s, *config); }; });

    wdt->add_subcommand("trigger", "start the watchdog, or feed it, with the recorded timeout")->callback([a = r.action] {
        *a = Trigger;
    });

    auto keep = std::make_shared<KeepaliveArgs>();
    CLI::App* ka = wdt->add_subcommand("keepalive", "feed the watchdog until SIGTERM or SIGINT (like watchdog(8))");
    ka->add_option("--interval", keep->interval, "seconds between feeds (0.1..3600, default 1)")
        ->check(SecondsIn(0.1, 3600));
    ka->add_flag("--disarm-on-exit", keep->disarm, "disable the watchdog when stopped (else it keeps counting)");
    ka->callback([a = r.action, keep] { *a = [keep](const Global& g, Session& s) { return Keepalive(g, s, *keep); }; });

    wdt->add_subcommand("disable", "stop the watchdog")->callback([a = r.action] { *a = Disable; });
    wdt->require_subcommand(0, 1);
}

} // namespace vekctl
