// What every vekctl command gets: its arguments and a library brought up on
// this machine or on a simulated board.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/board.h"
#include "tools/vekctl/output.h"
#include "vek/vek.h"

namespace vekctl {

struct Options {
    std::string command = "info";
    std::vector<std::string> args; // the command's own words, after the command name
    std::string board;             // simulated board by name
    bool sim = false;              // force the default simulated board
    bool json = false;
};

class Session {
public:
    ~Session();
    // Initialises the library on this machine, else on the simulated board.
    // Returns false (after printing why) when neither works.
    bool Open(const Options& options);
    const std::string& source() const { return source_; }
    vek::sim::Board* board() { return board_.get(); } // null on real hardware

private:
    bool OpenSimulated(const std::string& name);
    std::unique_ptr<vek::sim::Board> board_;
    std::string source_;
    VEK_RESULT result_ = VEK_ERR_UNSUPPORTED;
};

// Prints the report as text or JSON.
void Emit(const Options& options, const Value& report);

// Result text for people: "0 (ok)", "10 (not supported)".
std::string ResultText(VEK_RESULT r);

using CommandFn = int (*)(const Options& options, Session& session);

// Commands (one file each part of the board).
int CmdInfo(const Options& options, Session& session);
int CmdSensors(const Options& options, Session& session);  // cmd_sensors.cpp
int CmdGpio(const Options& options, Session& session);     // cmd_gpio_wdt.cpp
int CmdWdt(const Options& options, Session& session);      // cmd_gpio_wdt.cpp
int CmdBus(const Options& options, Session& session);      // cmd_bus.cpp: SMBus / I2C tools

} // namespace vekctl
