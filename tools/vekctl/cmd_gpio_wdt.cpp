// vekctl gpio and wdt: the board's GPIO sets and pins, and its watchdog.
//
//   vekctl gpio                      every set: direction and level of each pin
//   vekctl gpio SET                  one set
//   vekctl gpio SET PIN              one pin
//   vekctl gpio SET PIN VALUE        drive a pin (0 or 1), then show it
//   vekctl wdt                       state, range and stored timeout
//   vekctl wdt config UNIT COUNT     store a timeout (unit 0 seconds, 1 minutes)
//   vekctl wdt trigger | disable     start/reload or stop the watchdog
//   (steps combine: vekctl wdt config 1 5 trigger)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/ec/ec_model.h"
#include "sim/sio/sio1_model.h"
#include "tools/vekctl/session.h"

namespace vekctl {

namespace {

bool ParseInt(const std::string& s, long long* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    *out = std::strtoll(s.c_str(), &end, 0);
    return end && *end == '\0';
}

Value Result(VEK_RESULT r) { return Value::Str(ResultText(r)); }

// In the library's convention direction 1 is an input. A pin the chip has not
// configured as GPIO leaves the caller's byte alone.
constexpr uint8_t kUnset = 0xFF;
const char* DirectionName(uint8_t d) { return d == kUnset ? "not configured" : d ? "in" : "out"; }

// One line per pin for people: "out, level 1".
Value PinLine(int32_t set, int32_t pin) {
    uint8_t dir = kUnset, level = 0;
    const VEK_RESULT rd = VEK_GPIO_ReadPinDirection(set, pin, &dir);
    const VEK_RESULT rl = VEK_GPIO_ReadPin(set, pin, &level);
    std::string text = rd == VEK_OK ? DirectionName(dir) : ResultText(rd);
    text += rl == VEK_OK ? ", level " + std::to_string(level) : ", " + ResultText(rl);
    return Value::Str(text);
}

Value PinReport(int32_t set, int32_t pin) {
    Value v = Value::Obj();
    v.Add("pin", Value::Num(pin));
    uint8_t dir = kUnset, level = 0;
    const VEK_RESULT rd = VEK_GPIO_ReadPinDirection(set, pin, &dir);
    const VEK_RESULT rl = VEK_GPIO_ReadPin(set, pin, &level);
    v.Add("direction", rd == VEK_OK ? Value::Str(DirectionName(dir)) : Result(rd));
    v.Add("level", rl == VEK_OK ? Value::Num(level) : Result(rl));
    return v;
}

Value SetReport(int32_t set, bool json) {
    Value v = Value::Obj();
    v.Add("set", Value::Num(set));
    uint32_t pins = 0;
    const VEK_RESULT rp = VEK_GPIO_TotalNumber(set, &pins);
    v.Add("pins", rp == VEK_OK ? Value::Num(pins) : Result(rp));
    uint8_t dir = 0, level = 0;
    const VEK_RESULT rd = VEK_GPIO_ReadDirection(set, &dir);
    const VEK_RESULT rl = VEK_GPIO_Read(set, &level);
    v.Add("direction_mask", rd == VEK_OK ? Value::Hex(dir) : Result(rd));
    v.Add("levels", rl == VEK_OK ? Value::Hex(level) : Result(rl));
    const int32_t last = rp == VEK_OK && pins <= 8 ? int32_t(pins) : 8;
    Value list = json ? Value::Arr() : Value::Obj();
    for (int32_t pin = 1; pin <= last; ++pin) {
        if (json) {
            list.Push(PinReport(set, pin));
        } else {
            list.Add("pin " + std::to_string(pin), PinLine(set, pin));
        }
    }
    v.Add("pin_states", list);
    return v;
}

// A simulated chip's own view of its watchdog.
Value TimerReport(const vek::sim::TimerState& w, int64_t now) {
    Value s = Value::Obj();
    s.Add("running", Value::Num(w.running ? 1 : 0));
    s.Add("timeout_s", Value::Num(w.timeoutNs / 1'000'000'000));
    s.Add("remaining_ms", Value::Num(w.running ? (w.deadlineNs - now) / 1'000'000 : 0));
    s.Add("expiries", Value::Num(w.expiries));
    return s;
}

// The watchdogs of the simulated EC and Super I/O, where the board has them.
void AddSimulatedWatchdog(Session& session, Value& v) {
    if (session.board() == nullptr) return;
    const int64_t now = session.board()->machine().now_ns();
    if (auto* ec = session.board()->Find<vek::sim::EcModel>()) v.Add("simulated_ec", TimerReport(ec->watchdog(), now));
    if (auto* sio = session.board()->Find<vek::sim::Sio1Model>())
        v.Add("simulated_superio", TimerReport(sio->watchdog(), now));
}

int Usage(const char* text) {
    std::fprintf(stderr, "usage: vekctl %s\n", text);
    return 2;
}

} // namespace

int CmdGpio(const Options& options, Session&) {
    long long set = 0, pin = 0, value = 0;
    const auto& a = options.args;
    if (a.size() > 3 || (a.size() >= 1 && !ParseInt(a[0], &set)) || (a.size() >= 2 && !ParseInt(a[1], &pin)) ||
        (a.size() == 3 && !ParseInt(a[2], &value)))
        return Usage("gpio [SET [PIN [VALUE]]]");

    Value report = Value::Obj();
    int status = 0;
    if (a.empty()) {
        uint32_t sets = 0;
        const VEK_RESULT r = VEK_GPIO_TotalSet(&sets);
        report.Add("sets", r == VEK_OK ? Value::Num(sets) : Result(r));
        Value list = Value::Arr();
        for (uint32_t s = 1; r == VEK_OK && s <= sets; ++s) list.Push(SetReport(int32_t(s), options.json));
        report.Add("gpio", list);
        status = r == VEK_OK ? 0 : 1;
    } else if (a.size() == 1) {
        report = SetReport(int32_t(set), options.json);
    } else {
        if (a.size() == 3) {
            const VEK_RESULT r = VEK_GPIO_WritePin(int32_t(set), int32_t(pin), uint8_t(value));
            report.Add("write", Result(r));
            status = r == VEK_OK ? 0 : 1;
        }
        report.Add("set", Value::Num(set));
        report.Add("state", PinReport(int32_t(set), int32_t(pin)));
    }
    Emit(options, report);
    return status;
}

int CmdWdt(const Options& options, Session& session) {
    const auto& a = options.args;
    Value report = Value::Obj();
    int status = 0;
    // Steps run in order, so one invocation can configure and start.
    for (size_t i = 0; i < a.size(); ++i) {
        const std::string step = a[i];
        VEK_RESULT r;
        if (step == "config") {
            long long unit = 0, count = 0;
            if (i + 2 >= a.size() || !ParseInt(a[i + 1], &unit) || !ParseInt(a[i + 2], &count) || unit < 0 ||
                count < 0 || count > 255)
                return Usage("wdt config UNIT COUNT   (unit 0 seconds, 1 minutes; count 1..255)");
            r = VEK_WDT_SetConfig(uint32_t(unit), uint8_t(count));
            i += 2;
        } else if (step == "trigger") {
            r = VEK_WDT_Trigger();
        } else if (step == "disable") {
            r = VEK_WDT_Disable();
        } else {
            return Usage("wdt [config UNIT COUNT] [trigger | disable]");
        }
        report.Add(step, Result(r));
        if (r != VEK_OK) status = 1;
    }

    const VEK_RESULT avail = VEK_WDT_Available();
    report.Add("state", avail == VEK_OK ? Value::Str("running")
                        : avail == VEK_ERR_STATE ? Value::Str("stopped")
                                                 : Result(avail));
    const char* units[2] = {"seconds", "minutes"};
    Value range = Value::Obj();
    for (uint32_t u = 0; u < 2; ++u) {
        uint8_t lo = 0, hi = 0;
        const VEK_RESULT r = VEK_WDT_GetRange(u, &lo, &hi);
        range.Add(units[u], r == VEK_OK ? Value::Str(std::to_string(lo) + ".." + std::to_string(hi)) : Result(r));
    }
    report.Add("range", range);
    uint32_t unit = 0;
    uint8_t count = 0;
    const VEK_RESULT rc = VEK_WDT_GetConfig(&unit, &count);
    if (rc == VEK_OK) {
        report.Add("timeout", Value::Obj().Add("count", Value::Num(count)).Add("unit", Value::Str(units[unit & 1])));
    } else {
        report.Add("timeout", Result(rc));
    }
    AddSimulatedWatchdog(session, report);
    Emit(options, report);
    return status;
}

} // namespace vekctl
