#include <unistd.h>

#include <array>
#include <cstdio>

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

// ---- session ----

Session::~Session() {
    if (initialised_) VEK_API_Uninit();
    if (attached_) vek_sim_detach();
}

int Session::Open(const Global& g) {
    if (g.sim || !g.board.empty()) {
        const VEK_RESULT a = vek_sim_attach(g.board.empty() ? nullptr : g.board.c_str());
        if (a != VEK_OK) {
            std::fprintf(stderr, "vekctl: no simulated board named '%s' (see 'vekctl boards')\n", g.board.c_str());
            return kExitUsage;
        }
        attached_ = true;
        source_.simulated = true;
    }
    const VEK_RESULT r = VEK_API_Init();
    if (r != VEK_OK) {
        VEK_API_Uninit();
        if (source_.simulated) {
            std::fprintf(stderr, "vekctl: VEK_API_Init on the simulated board failed: %u %s\n", r, ResultName(r).c_str());
            return kExitFailed;
        }
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
