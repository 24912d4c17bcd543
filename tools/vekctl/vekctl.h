// What every vekctl command shares: the board it talks to, result names, the
// JSON envelope and the way failures are reported.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "vek/vek.h"

namespace vekctl {

using Json = nlohmann::ordered_json;

// Exit statuses (documented in vekctl(1)).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;      // a library call failed
inline constexpr int kExitUsage = 2;       // the command line was rejected; nothing was touched
inline constexpr int kExitNoBoard = 3;     // this machine is not a supported board (and no --sim)

inline constexpr const char* kSchema = "vekctl/1";

// ---- result codes ----
std::string ResultName(VEK_RESULT r);  // "NOT_ELEVATED", "EC_I2C_READ_STATUS_0x04"
std::string ResultHint(VEK_RESULT r);  // what to do about it; may be empty
Json ResultJson(VEK_RESULT r);         // {"code": 12, "name": "NOT_ELEVATED"}

// ---- where the readings come from ----
struct Source {
    bool simulated = false;
    std::string board; // platform name the library identified (or the simulated board's)
};

struct Global {
    std::string board; // --board NAME: that simulated board
    bool sim = false;  // --sim: the default simulated board
    bool json = false;
};

// Brings the library up on this machine or on the simulated board. The
// destructor takes it down again.
class Session {
public:
    ~Session();
    // 0 when the library is initialised; else prints why and returns the exit status.
    int Open(const Global& g);
    const Source& source() const { return source_; }

private:
    Source source_;
    bool initialised_ = false;
    bool attached_ = false;
};

// ---- output ----
// One run of a command: collects failures, prints the report.
class Run {
public:
    Run(const Global& g, const Source& s, std::string command) : g_(g), s_(s), command_(std::move(command)) {}
    bool json() const { return g_.json; }
    const Source& source() const { return s_; }
    const Global& global() const { return g_; }

    // Records a failed call: a line on stderr with the code's name and a hint,
    // an entry in the JSON "errors" list, and a non-zero exit status.
    void Fail(const std::string& what, VEK_RESULT r);
    bool failed() const { return !errors_.empty(); }

    // Prints the text report (after the simulator notice) or the JSON envelope
    // around data; returns the exit status.
    int Finish(const Json& data, const std::function<void()>& text);

private:
    const Global& g_;
    const Source& s_;
    std::string command_;
    Json errors_ = Json::array();
};

// A command line prints nothing to stderr except through these.
int UsageError(const std::string& message);
void Warn(const std::string& message);

// Progress for long operations: drawn on stderr when it is a terminal, else silent.
class Progress {
public:
    Progress(std::string what, uint32_t total);
    ~Progress();
    void Step(uint32_t done);

private:
    std::string what_;
    uint32_t total_;
    bool shown_;
};

// ---- board families (what the library serves on a board) ----
struct Family {
    const char* name;
    bool (*served)(); // probes through read-only exports; true unless every probe answers 10 (or 7)
};
const std::vector<Family>& Families();
std::vector<std::string> ServedFamilies();

// ---- commands ----
// Each registers its subcommand; the callback it stores runs after the whole
// command line was parsed and the session is open.
using Action = std::function<int(const Global&, Session&)>;
struct Registry {
    CLI::App& app;
    const Global& global;
    Action* action;              // set by the chosen subcommand
    bool* needsBoard;            // false for commands that bring up their own boards
};
void AddInfo(Registry& r);       // cmd_info.cpp: info, boards
void AddSensors(Registry& r);    // cmd_sensors.cpp
void AddGpio(Registry& r);       // cmd_gpio.cpp
void AddWdt(Registry& r);        // cmd_wdt.cpp
void AddBus(Registry& r);        // cmd_bus.cpp
void AddMetrics(Registry& r);    // cmd_metrics.cpp: metrics, serve

// Readings the sensors and metrics commands share.
struct Reading {
    enum Kind { CpuTemperature, Temperature, Voltage, Current, Fan } kind;
    uint32_t index;
    double value;
    VEK_RESULT result;
};
// Every reading the board has; items answering 10 (not on this board) or 7
// (past the chip's last channel) are left out.
std::vector<Reading> ReadAll();

} // namespace vekctl
