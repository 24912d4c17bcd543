#include "tools/vekctl/session.h"

#include <cstdio>
#include <stdexcept>

#include "vek/host.h"

namespace vekctl {

Session::~Session() {
    VEK_API_Uninit();
    if (board_) vek_host_detach();
}

bool Session::OpenSimulated(const std::string& name) {
    try {
        board_ = std::make_unique<vek::sim::Board>(name.empty() ? vek::sim::Board::Default()
                                                                 : vek::sim::Board::Named(name));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vekctl: %s (see 'vekctl boards')\n", e.what());
        return false;
    }
    vek_host_attach(&board_->platform());
    source_ = "simulated";
    result_ = VEK_API_Init();
    return true;
}

bool Session::Open(const Options& options) {
    if (!options.sim) {
        source_ = "this machine";
        result_ = VEK_API_Init();
        if (result_ == VEK_OK) return true;
        VEK_API_Uninit();
        if (!options.json)
            std::fprintf(stderr, "vekctl: no supported board here (VEK_API_Init: %u); using the simulator\n", result_);
    }
    if (!OpenSimulated(options.board)) return false;
    if (result_ != VEK_OK) {
        std::fprintf(stderr, "vekctl: VEK_API_Init failed: %s\n", ResultText(result_).c_str());
        return false;
    }
    return true;
}

void Emit(const Options& options, const Value& report) {
    if (options.json) PrintJson(report, stdout);
    else PrintText(report, stdout);
}

std::string ResultText(VEK_RESULT r) {
    static const char* kNames[] = {"ok", "driver not started", "driver file not found", "driver start failed",
                                   "driver on a network drive", "not supported by this system",
                                   "not initialised", "bad argument", "read failed", "write failed",
                                   "not supported on this board", "sleep time out of range",
                                   "not elevated", "13", "wrong state", "speaker argument", "WMI query failed",
                                   "device failed"};
    return std::to_string(r) + " (" + (r < std::size(kNames) ? kNames[r] : "unknown") + ")";
}

} // namespace vekctl
