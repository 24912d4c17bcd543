#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <fmt/core.h>

#include "tools/vekctl/vekctl.h"
#include "vek/sim.h"

namespace vekctl {

namespace {

struct ResultInfo {
    const char* name;
    const char* hint;
};

// Indexed by code; the codes double as driver status codes during init.
constexpr std::array<ResultInfo, 18> kResults = {{
    {"OK", ""},
    {"DRIVER_NOT_STARTED", "the I/O driver is not running (or the EC version has an unknown format)"},
    {"DRIVER_FILE", "the I/O driver file was not found"},
    {"DRIVER_START", "the I/O driver could not be started"},
    {"DRIVER_NETWORK", "the library runs from a network drive; copy it to a local disk"},
    {"DRIVER_PLATFORM", "this operating system is not supported (or a PMBus reading failed)"},
    {"NOT_INITIALISED", "VEK_API_Init has not succeeded"},
    {"ARGUMENT", "an argument is out of range for this board"},
    {"READ", "the chip did not answer a read"},
    {"WRITE", "the chip did not take a write"},
    {"UNSUPPORTED", "this board does not have it"},
    {"SLEEP_RANGE", "the I/O sleep time is out of range"},
    {"NOT_ELEVATED", "the process lacks the rights for port and PCI access: run as root or grant "
                     "CAP_SYS_RAWIO and CAP_SYS_ADMIN (see vekctl(1))"},
    {"UNASSIGNED_13", ""},
    {"STATE", "not in a state that allows this (e.g. the watchdog is stopped)"},
    {"SPEAKER_ARGUMENT", "a note or tempo is out of range"},
    {"WMI", "the firmware query failed"},
    {"DEVICE", "the device failed"},
}};

// The EC's I2C master answers a failed byte read with this bit or'd onto its
// mailbox status byte.
constexpr VEK_RESULT kEcI2cReadError = 0x800;

} // namespace

std::string ResultName(VEK_RESULT r) {
    if (r < kResults.size()) return kResults[r].name;
    if ((r & ~0xFFu) == kEcI2cReadError) return fmt::format("EC_I2C_READ_STATUS_0x{:02X}", r & 0xFF);
    return fmt::format("UNKNOWN_{}", r);
}

std::string ResultHint(VEK_RESULT r) {
    if (r < kResults.size()) return kResults[r].hint;
    if ((r & ~0xFFu) == kEcI2cReadError) return "the EC's I2C master reported this status for a byte read (device absent or NAK)";
    return "";
}

Json ResultJson(VEK_RESULT r) { return Json{{"code", r}, {"name", ResultName(r)}}; }

// ---- envelopes for runs that end before a command ran ----

namespace {
struct EnvelopeState {
    bool json = false;
    std::string command;
};
EnvelopeState& Envelope() {
    static EnvelopeState state;
    return state;
}
} // namespace

void SetEnvelope(bool json, const std::string& command) { Envelope() = {json, command}; }

void FailureEnvelope(const Source& source, const Json& error) {
    if (!Envelope().json) return;
    Json out;
    out["schema"] = kSchema;
    out["command"] = Envelope().command;
    out["source"] = {{"kind", source.simulated ? "simulator" : "hardware"}, {"board", source.board}};
    out["ok"] = false;
    out["errors"] = Json::array({error});
    out["data"] = nullptr;
    std::puts(out.dump(2).c_str());
}

// ---- numbers ----

std::optional<uint64_t> ParseNumber(const std::string& word, uint64_t min, uint64_t max) {
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    const std::string digits = hex ? word.substr(2) : word;
    if (digits.empty()) return std::nullopt;
    for (char c : digits)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
            return std::nullopt;
    errno = 0;
    const unsigned long long v = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || v < min || v > max) return std::nullopt;
    return uint64_t(v);
}

CLI::Validator NumberIn(uint64_t min, uint64_t max) {
    return CLI::Validator(
        [min, max](std::string& s) -> std::string {
            const auto v = ParseNumber(s, min, max);
            if (!v) return fmt::format("'{}' is not a number {}..{} (decimal or 0x hex)", s, min, max);
            s = std::to_string(*v);
            return std::string();
        },
        fmt::format("{}..{}", min, max));
}

CLI::Validator SecondsIn(double min, double max) {
    return CLI::Validator(
        [min, max](std::string& s) -> std::string {
            size_t used = 0;
            double v = 0;
            try {
                v = std::stod(s, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != s.size() || !std::isfinite(v) || v < min || v > max)
                return fmt::format("'{}' is not a number of seconds {}..{}", s, min, max);
            return std::string();
        },
        "SECONDS");
}

bool Confirm(const std::string& what, bool yes) {
    if (yes || isatty(STDIN_FILENO) != 1) return true;
    std::fprintf(stderr, "vekctl: %s\nContinue? [y/N] ", what.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

std::string StateDir() {
    const char* dir = std::getenv("VEK_STATE_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/run/vek";
}

void SimulatedChangeNotice(const Source& source) {
    if (source.simulated)
        std::fprintf(stderr, "vekctl: note: the simulated board lasts this one run; the next vekctl starts it "
                             "afresh, so this change is gone (see vekctl(1), SIMULATED BOARDS)\n");
}

// ---- session ----

namespace {
// VEK_SIM_FAULT: faults a simulated board shows from the start, to rehearse
// what dashboards and alerts do when a chip stops answering.
struct FaultName {
    const char* name;
    uint32_t fault;
};
constexpr FaultName kFaults[] = {
    {"ec-busy", VEK_SIM_FAULT_EC_BUSY},
    {"smbus-hung", VEK_SIM_FAULT_SMBUS_HUNG},
    {"superio-silent", VEK_SIM_FAULT_SUPERIO_SILENT},
};
} // namespace

int Session::InjectFaults() {
    const char* env = std::getenv("VEK_SIM_FAULT");
    if (env == nullptr || *env == '\0') return kExitOk;
    std::string list = env;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string word = list.substr(at, comma - at);
        at = comma + 1;
        const FaultName* f = nullptr;
        for (const FaultName& k : kFaults)
            if (word == k.name) f = &k;
        if (f == nullptr) return UsageError(fmt::format("VEK_SIM_FAULT: unknown fault '{}' (ec-busy, smbus-hung, superio-silent)", word));
        if (const VEK_RESULT r = vek_sim_inject_fault(f->fault, 1); r != VEK_OK)
            return UsageError(fmt::format("VEK_SIM_FAULT: this board cannot show '{}' ({} {})", word, r, ResultName(r)));
    }
    return kExitOk;
}

Session::~Session() {
    if (initialised_) VEK_API_Uninit();
    if (attached_) vek_sim_detach();
}

int Session::Open(const Global& g) {
    if (g.sim || !g.board.empty()) {
        const VEK_RESULT a = vek_sim_attach(g.board.empty() ? nullptr : g.board.c_str());
        if (a != VEK_OK) return UsageError(fmt::format("no simulated board named '{}' (see 'vekctl boards')", g.board));
        attached_ = true;
        source_.simulated = true;
    }
    const VEK_RESULT r = VEK_API_Init();
    if (r != VEK_OK) {
        VEK_API_Uninit();
        Json error = ResultJson(r);
        if (source_.simulated) {
            std::fprintf(stderr, "vekctl: VEK_API_Init on the simulated board failed: %u %s\n", r, ResultName(r).c_str());
            error["what"] = "VEK_API_Init on the simulated board";
            FailureEnvelope(source_, error);
            return kExitFailed;
        }
        error["what"] = "VEK_API_Init: this machine is not a supported board";
        FailureEnvelope(source_, error);
        std::fprintf(stderr,
                     "vekctl: this machine is not a supported board (VEK_API_Init: %u %s)\n"
                     "  hint: %s\n"
                     "  To look at a simulated board instead, add --sim (or --board NAME).\n",
                     r, ResultName(r).c_str(),
                     r == VEK_ERR_UNSUPPORTED ? "this machine's board is not one the library knows (see 'vekctl boards')"
                                              : ResultHint(r).c_str());
        return kExitNoBoard;
    }
    initialised_ = true;
    if (source_.simulated) {
        if (const int status = InjectFaults(); status != kExitOk) return status;
    }
    char name[80] = {};
    if (VEK_Board_GetPlatformName(name) == VEK_OK) source_.board = name;
    if (source_.simulated && source_.board.empty()) source_.board = vek_sim_attached();
    return kExitOk;
}

// ---- output ----

void Run::Fail(const std::string& what, VEK_RESULT r) {
    const std::string hint = ResultHint(r);
    std::fprintf(stderr, "vekctl: %s: %u %s%s%s\n", what.c_str(), r, ResultName(r).c_str(), hint.empty() ? "" : " — ",
                 hint.c_str());
    Json e = ResultJson(r);
    e["what"] = what;
    errors_.push_back(std::move(e));
}

void Run::Error(const std::string& what, const std::string& message) {
    std::fprintf(stderr, "vekctl: %s: %s\n", what.c_str(), message.c_str());
    errors_.push_back(Json{{"code", nullptr}, {"name", "VEKCTL"}, {"what", what}, {"message", message}});
}

int Run::Finish(const Json& data, const std::function<void()>& text) {
    const int status = failed() ? kExitFailed : kExitOk;
    if (g_.json) {
        Json out;
        out["schema"] = kSchema;
        out["command"] = command_;
        out["source"] = {{"kind", s_.simulated ? "simulator" : "hardware"}, {"board", s_.board}};
        out["ok"] = !failed();
        out["errors"] = errors_;
        out["data"] = data;
        std::puts(out.dump(2).c_str());
        return status;
    }
    if (s_.simulated && !s_.board.empty())
        fmt::print("# simulated board {} (vek-sim): not this machine's hardware\n", s_.board);
    if (text) text();
    std::fflush(stdout);
    return status;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "vekctl: %s\n", message.c_str());
    FailureEnvelope(Source{}, Json{{"code", nullptr}, {"name", "COMMAND_LINE"}, {"what", message}});
    return kExitUsage;
}

void Warn(const std::string& message) { std::fprintf(stderr, "vekctl: warning: %s\n", message.c_str()); }

Progress::Progress(std::string what, uint32_t total)
    : what_(std::move(what)), total_(total), shown_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
    if (shown_) std::fprintf(stderr, "\r\033[K");
}

void Progress::Step(uint32_t done) {
    if (!shown_ || total_ == 0) return;
    std::fprintf(stderr, "\r%s %u/%u (%u%%)", what_.c_str(), done, total_, done * 100 / total_);
    std::fflush(stderr);
}

} // namespace vekctl
