// What every vekctl command shares: the board it talks to, result names, the
// JSON envelope and the way failures are reported.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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
    int InjectFaults();
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
    // A failure outside the library (a state file, a refusal): code null.
    void Error(const std::string& what, const std::string& message);
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

// A command line prints nothing to stderr except through these. With --json a
// usage error (exit 2) and "not a supported board" (exit 3) still print the
// envelope, ok false and the reason in errors.
int UsageError(const std::string& message);
void Warn(const std::string& message);
// Noted once the command line is known, for the envelopes printed on failure.
void SetEnvelope(bool json, const std::string& command);
// Prints {ok: false, errors: [error], data: null} when --json was given.
void FailureEnvelope(const Source& source, const Json& error);

// Numbers on the command line: decimal or 0x hex, in every position (a leading
// zero is still decimal). The validator rewrites the word as decimal, so CLI11
// converts it into any integer type; it also bounds it.
std::optional<uint64_t> ParseNumber(const std::string& word, uint64_t min, uint64_t max);
CLI::Validator NumberIn(uint64_t min, uint64_t max);
// A number of seconds min..max, fractions allowed.
CLI::Validator SecondsIn(double min, double max);

// Asks "Continue? [y/N]" on the terminal; true when stdin is no terminal, -y was
// given, or the answer is yes. Used before writes that cannot be undone.
bool Confirm(const std::string& what, bool yes);

// Where vekctl keeps what must outlive one run: VEK_STATE_DIR, else /run/vek.
std::string StateDir();
// A notice after a change on a simulated board, which lasts one process.
void SimulatedChangeNotice(const Source& source);

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
    uint32_t index;    // the library's index
    double value;
    VEK_RESULT result; // 0, the call's failure, or kImplausible
    std::string key;   // lm-sensors feature name: temp1, in0, curr1, fan1
    std::string label; // the name people see: the chip's label, else the key
};
// A reading the conversion made out of an answer no working chip gives (an
// all-ones register from a chip that stopped answering): a failed read.
inline constexpr VEK_RESULT kImplausible = VEK_ERR_READ;
// Every reading the board has; items answering 10 (not on this board) or 7
// (past the chip's last channel) are left out. Fan N is the library's fan N-1,
// as lm-sensors counts fans from 1.
std::vector<Reading> ReadAll();
// Why a value cannot be a reading, or nullptr when it can. index is the
// library's channel (a voltage's bound depends on the rail it carries).
const char* Implausible(Reading::Kind kind, uint32_t index, double value, bool fanDriven);
// The highest rail voltage input 'channel' carries on any board.
double RailVolts(uint32_t channel);

// bus detect: addresses where a quick write can do harm are probed with a
// read instead (as i2cdetect does).
bool ProbeByRead(uint32_t address);

// The watchdog timeout 'vekctl wdt config' recorded for this board (the
// library keeps its configuration per process; every run is a new process).
struct WatchdogConfig {
    uint32_t unit = 0; // 0 seconds, 1 minutes
    uint8_t count = 0;
};
std::optional<WatchdogConfig> RecordedWatchdog(const Source& source);
std::string WatchdogStateFile(const Source& source);

// The chip (or chips) serving this board, from the board's row.
struct BoardChips {
    bool known = false;
    uint32_t boardId = 0, chipsetId = 0;
    uint32_t kind = 0, subtype = 0, secondKind = 0, secondSubtype = 0;
    Json owners;
};
BoardChips ChipsOf(const std::string& platformName);
std::string ChipName(uint32_t kind);      // "embedded controller", ...
std::string ChipShortName(uint32_t kind); // lm-sensors style prefix: "ec", "sio5", ...
// lm-sensors chip name for this board's readings: "vek_ec-KVB-3410-LB".
std::string SensorChip(const Source& source);

} // namespace vekctl
