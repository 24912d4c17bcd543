// vekctl sensors: what the board's hardware monitor reads now, and its fans.
//
//   vekctl sensors                        temperatures, voltages, currents, fans
//   vekctl sensors fan FAN duty PERCENT   run a fan at a fixed duty, then show the sensors
//   vekctl sensors fan FAN auto           put a fan back on its temperature curve
//
// Items the board does not have (result 10) are left out; other failures are shown.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tools/vekctl/session.h"

namespace vekctl {

namespace {

constexpr uint32_t kTemperatureSensors = 7;
constexpr uint32_t kVoltageChannels = 19;
constexpr uint32_t kCurrentChannels = 3;
constexpr uint32_t kFans = 13;
constexpr uint32_t kCurvePoints = 8; // the longest curve a backend reports

// A reading: a plain number in JSON, with its unit for people.
Value Reading(double value, const char* unit, bool json) {
    char buf[48];
    if (json) {
        std::snprintf(buf, sizeof buf, "%.3f", value);
        Value v;
        v.kind = Value::Number;
        v.text = buf;
        return v;
    }
    std::snprintf(buf, sizeof buf, "%.2f %s", value, unit);
    return Value::Str(buf);
}

// One reading list: objects in JSON ({"sensor": 0, "celsius": 38.0}), aligned
// "sensor 0:  38.00 °C" lines for people.
class Items {
public:
    explicit Items(bool json) : json_(json), v_(json ? Value::Arr() : Value::Obj()) {}

    // Adds the item unless the board lacks it (result 10).
    void Add(const char* key, uint32_t index, VEK_RESULT r, const char* field, Value reading,
             const char* note = nullptr) {
        if (r == VEK_ERR_UNSUPPORTED) return;
        Value shown = r == VEK_OK ? std::move(reading) : Value::Str(ResultText(r));
        if (json_) {
            Value item = Value::Obj();
            item.Add(key, Value::Num(index));
            item.Add(r == VEK_OK ? field : "result", std::move(shown));
            if (note) item.Add("control", Value::Str(note));
            v_.Push(std::move(item));
        } else {
            if (note) shown.text += std::string(" (") + note + ")";
            v_.Add(std::string(key) + " " + std::to_string(index), std::move(shown));
        }
    }
    Value Take() {
        if (!json_ && v_.members.empty()) return Value::Str("none");
        return std::move(v_);
    }

private:
    bool json_;
    Value v_;
};

Value Temperatures(bool json) {
    Items items(json);
    for (uint32_t cpu = 0; cpu <= 1; ++cpu) {
        double t = 0;
        const VEK_RESULT r = VEK_HWM_CPUTemperature(cpu, &t);
        items.Add("cpu", cpu, r, "celsius", Reading(t, "°C", json));
    }
    for (uint32_t s = 0; s < kTemperatureSensors; ++s) {
        double t = 0;
        const VEK_RESULT r = VEK_HWM_Temperature(s, &t);
        items.Add("sensor", s, r, "celsius", Reading(t, "°C", json));
    }
    return items.Take();
}

Value Voltages(bool json) {
    Items items(json);
    for (uint32_t ch = 0; ch < kVoltageChannels; ++ch) {
        double volts = 0;
        const VEK_RESULT r = VEK_HWM_Voltage(ch, &volts);
        if (r == VEK_ERR_ARGUMENT) continue; // channels past the chip's last
        items.Add("channel", ch, r, "volts", Reading(volts, "V", json));
    }
    return items.Take();
}

Value Currents(bool json) {
    Items items(json);
    for (uint32_t ch = 0; ch < kCurrentChannels; ++ch) {
        double amps = 0;
        const VEK_RESULT r = VEK_HWM_Current(ch, &amps);
        if (r == VEK_ERR_ARGUMENT) continue;
        items.Add("channel", ch, r, "amperes", Reading(amps, "A", json));
    }
    return items.Take();
}

const char* ModeName(uint32_t mode) {
    switch (mode) {
    case 0: return "manual";
    case 1: return "curve";
    case 9: return "8-point curve";
    default: return "other";
    }
}

Value Fans(bool json) {
    Items items(json);
    for (uint32_t fan = 0; fan < kFans; ++fan) {
        uint32_t rpm = 0;
        const VEK_RESULT r = VEK_HWM_GetFanSpeed(fan, &rpm);
        if (r == VEK_ERR_ARGUMENT) continue;
        uint32_t mode = 0, temps[kCurvePoints] = {}, duties[kCurvePoints] = {}, third[kCurvePoints] = {};
        const bool curve = r != VEK_ERR_UNSUPPORTED &&
                           VEK_HWM_GetSmartfan(fan, &mode, temps, duties, third) == VEK_OK;
        items.Add("fan", fan, r, "rpm", json ? Value::Num(rpm) : Value::Str(std::to_string(rpm) + " rpm"),
                  curve ? ModeName(mode) : nullptr);
    }
    return items.Take();
}

bool ParseNumber(const std::string& s, long* out) {
    char* end = nullptr;
    *out = std::strtol(s.c_str(), &end, 0);
    return !s.empty() && end && *end == '\0';
}

// "fan FAN duty PERCENT" or "fan FAN auto"; false after printing why it failed.
bool RunFanCommand(const std::vector<std::string>& args) {
    long fan = 0, duty = 0;
    const bool dutyForm = args.size() == 4 && args[2] == "duty" && ParseNumber(args[3], &duty);
    const bool autoForm = args.size() == 3 && args[2] == "auto";
    if (args[0] != "fan" || !ParseNumber(args[1], &fan) || fan < 0 || (!dutyForm && !autoForm)) {
        std::fprintf(stderr, "usage: vekctl sensors fan FAN duty PERCENT | vekctl sensors fan FAN auto\n");
        return false;
    }
    const VEK_RESULT r = dutyForm ? VEK_HWM_SetFanSpeed(uint32_t(fan), int32_t(duty))
                                  : VEK_HWM_Smartfan_Enable(uint32_t(fan));
    if (r != VEK_OK) {
        std::fprintf(stderr, "vekctl: fan %ld: %s\n", fan, ResultText(r).c_str());
        return false;
    }
    return true;
}

} // namespace

int CmdSensors(const Options& options, Session&) {
    if (!options.args.empty() && !RunFanCommand(options.args)) return 1;
    Value report = Value::Obj();
    report.Add("temperatures", Temperatures(options.json));
    report.Add("voltages", Voltages(options.json));
    report.Add("currents", Currents(options.json));
    report.Add("fans", Fans(options.json));
    Emit(options, report);
    return 0;
}

} // namespace vekctl
