// vekctl sensors: the hardware monitor in the manner of lm-sensors.
//
//   vekctl sensors                         temperatures, voltages, currents, fans
//   vekctl sensors --json                  shaped like `sensors -j`: chip → feature → *_input
//   vekctl sensors fan FAN duty PERCENT    run a fan at a fixed duty
//   vekctl sensors fan FAN auto            put it back on its temperature curve
#include <cmath>

#include <fmt/core.h>

#include "tools/vekctl/vekctl.h"

namespace vekctl {

namespace {

constexpr uint32_t kCpus = 2;
constexpr uint32_t kTemperatureSensors = 7;
constexpr uint32_t kVoltageChannels = 19;
constexpr uint32_t kCurrentChannels = 3;
constexpr uint32_t kFans = 13;
constexpr uint32_t kCurvePoints = 8; // the longest curve a backend reports

bool Shown(VEK_RESULT r) { return r != VEK_ERR_UNSUPPORTED && r != VEK_ERR_ARGUMENT; }

// lm-sensors' names: label for people, tempN/inN/currN/fanN for the values.
struct Feature {
    std::string label;
    std::string key; // "temp1", "in0", ...
    const char* unit;
};

Feature FeatureOf(const Reading& r, uint32_t tempNumber) {
    switch (r.kind) {
    case Reading::CpuTemperature: return {fmt::format("CPU {}", r.index), fmt::format("temp{}", tempNumber), "°C"};
    case Reading::Temperature: return {fmt::format("Sensor {}", r.index), fmt::format("temp{}", tempNumber), "°C"};
    case Reading::Voltage: return {fmt::format("in{}", r.index), fmt::format("in{}", r.index), "V"};
    case Reading::Current: return {fmt::format("curr{}", r.index + 1), fmt::format("curr{}", r.index + 1), "A"};
    case Reading::Fan: return {fmt::format("fan{}", r.index + 1), fmt::format("fan{}", r.index + 1), "RPM"};
    }
    return {};
}

std::string FanControl(uint32_t fan) {
    uint32_t mode = 0, temps[kCurvePoints] = {}, duties[kCurvePoints] = {}, third[kCurvePoints] = {};
    if (VEK_HWM_GetSmartfan(fan, &mode, temps, duties, third) != VEK_OK) return "";
    switch (mode) {
    case 0: return "manual";
    case 1: return "curve";
    case 9: return "8-point curve";
    default: return fmt::format("mode {}", mode);
    }
}

int Show(const Global& g, Session& session) {
    Run run(g, session.source(), "sensors");
    const std::vector<Reading> readings = ReadAll();
    const std::string chip = "vek-" + (session.source().board.empty() ? "board" : session.source().board);
    const std::string adapter = session.source().simulated ? "Simulated board (vek-sim)" : "vek library";
    Json chipJson = {{"Adapter", adapter}};
    std::vector<std::string> lines;
    uint32_t tempNumber = 0;
    for (const Reading& r : readings) {
        const bool temperature = r.kind == Reading::CpuTemperature || r.kind == Reading::Temperature;
        if (temperature) ++tempNumber;
        const Feature f = FeatureOf(r, tempNumber);
        if (r.result != VEK_OK) {
            run.Fail(f.label, r.result);
            continue;
        }
        chipJson[f.label] = {{f.key + "_input", std::round(r.value * 1000) / 1000}}; // sensors -j prints three decimals
        std::string shown;
        if (r.kind == Reading::Fan) {
            shown = fmt::format("{:>6.0f} RPM", r.value);
            if (const std::string control = FanControl(r.index); !control.empty()) shown += "  (" + control + ")";
        } else if (temperature) {
            shown = fmt::format("{:+7.1f}°C", r.value);
        } else {
            shown = fmt::format("{:+8.2f} {}", r.value, f.unit);
        }
        lines.push_back(fmt::format("{:<13}{}", f.label + ":", shown));
    }
    return run.Finish(Json{{chip, chipJson}}, [&] {
        fmt::print("{}\nAdapter: {}\n", chip, adapter);
        for (const auto& l : lines) fmt::print("{}\n", l);
        if (lines.empty()) fmt::print("(no sensors on this board)\n");
    });
}

struct FanArgs {
    uint32_t fan = 0;
    std::string mode;
    int32_t percent = -1;
};

int SetFan(const Global& g, Session& session, const FanArgs& a) {
    Run run(g, session.source(), "sensors fan");
    const VEK_RESULT r = a.mode == "auto" ? VEK_HWM_Smartfan_Enable(a.fan) : VEK_HWM_SetFanSpeed(a.fan, a.percent);
    if (r != VEK_OK) run.Fail(fmt::format("fan {} {}", a.fan, a.mode), r);
    Json data = {{"fan", a.fan}, {"mode", a.mode}, {"result", ResultJson(r)}};
    if (a.mode == "duty") data["percent"] = a.percent;
    return run.Finish(data, [&] {
        if (r == VEK_OK) fmt::print("fan {}: {}\n", a.fan, a.mode == "auto" ? "on its curve" : fmt::format("{} %", a.percent));
    });
}

} // namespace

std::vector<Reading> ReadAll() {
    std::vector<Reading> out;
    auto add = [&](Reading::Kind kind, uint32_t index, double value, VEK_RESULT r) {
        if (Shown(r)) out.push_back({kind, index, value, r});
    };
    for (uint32_t cpu = 0; cpu < kCpus; ++cpu) {
        double t = 0;
        const VEK_RESULT r = VEK_HWM_CPUTemperature(cpu, &t);
        add(Reading::CpuTemperature, cpu, t, r);
    }
    for (uint32_t s = 0; s < kTemperatureSensors; ++s) {
        double t = 0;
        const VEK_RESULT r = VEK_HWM_Temperature(s, &t);
        add(Reading::Temperature, s, t, r);
    }
    for (uint32_t ch = 0; ch < kVoltageChannels; ++ch) {
        double v = 0;
        const VEK_RESULT r = VEK_HWM_Voltage(ch, &v);
        add(Reading::Voltage, ch, v, r);
    }
    for (uint32_t ch = 0; ch < kCurrentChannels; ++ch) {
        double a = 0;
        const VEK_RESULT r = VEK_HWM_Current(ch, &a);
        add(Reading::Current, ch, a, r);
    }
    for (uint32_t fan = 0; fan < kFans; ++fan) {
        uint32_t rpm = 0;
        const VEK_RESULT r = VEK_HWM_GetFanSpeed(fan, &rpm);
        add(Reading::Fan, fan, rpm, r);
    }
    return out;
}

void AddSensors(Registry& r) {
    CLI::App* sensors = r.app.add_subcommand("sensors", "temperatures, voltages, currents and fans (like sensors)");
    sensors->preparse_callback([a = r.action](size_t) { *a = Show; });

    auto args = std::make_shared<FanArgs>();
    CLI::App* fan = sensors->add_subcommand("fan", "set a fan: fan FAN duty PERCENT | fan FAN auto");
    fan->add_option("FAN", args->fan, "fan number")->required()->check(CLI::Range(0u, kFans - 1));
    fan->add_option("MODE", args->mode, "duty or auto")->required()->check(CLI::IsMember({"duty", "auto"}));
    fan->add_option("PERCENT", args->percent, "duty in percent (with duty)")->check(CLI::Range(0, 100));
    fan->callback([a = r.action, args] {
        if (args->mode == "duty" && args->percent < 0) throw CLI::ValidationError("PERCENT", "duty needs a percentage 0..100");
        if (args->mode == "auto" && args->percent >= 0) throw CLI::ValidationError("PERCENT", "auto takes no percentage");
        *a = [args](const Global& g, Session& s) { return SetFan(g, s, *args); };
    });
}

} // namespace vekctl
