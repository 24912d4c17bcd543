// vekctl sensors: the hardware monitor in the manner of lm-sensors.
//
//   vekctl sensors                         temperatures, voltages, currents, fans
//   vekctl sensors --json                  shaped like `sensors -j`: chip → feature → *_input
//   vekctl sensors fan FAN duty PERCENT    run a fan at a fixed duty (FAN as shown: fan1 is 1)
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

const char* Unit(Reading::Kind kind) {
    switch (kind) {
    case Reading::CpuTemperature:
    case Reading::Temperature: return "°C";
    case Reading::Voltage: return "V";
    case Reading::Current: return "A";
    case Reading::Fan: return "RPM";
    }
    return "";
}

// The fan's controller, and whether it drives the fan: on its curve a fan turns.
struct Control {
    std::string text;
    bool driven = false;
};

Control FanControl(uint32_t fan) {
    uint32_t mode = 0, temps[kCurvePoints] = {}, duties[kCurvePoints] = {}, third[kCurvePoints] = {};
    if (VEK_HWM_GetSmartfan(fan, &mode, temps, duties, third) != VEK_OK) return {};
    switch (mode) {
    case 0: return {"manual", false};
    case 1: return {"curve", true};
    case 9: return {"8-point curve", true};
    default: return {fmt::format("mode {}", mode), false};
    }
}

int Show(const Global& g, Session& session) {
    Run run(g, session.source(), "sensors");
    const std::vector<Reading> readings = ReadAll();
    const std::string chip = SensorChip(session.source());
    const std::string adapter = session.source().simulated ? "Simulated board (vek-sim)" : "vek library";
    Json chipJson = {{"Adapter", adapter}};
    std::vector<std::string> lines;
    for (const Reading& r : readings) {
        std::string shown;
        if (r.result != VEK_OK) {
            // As sensors prints a failed feature: the label, then what went wrong.
            run.Fail(r.label, r.result);
            chipJson[r.label] = {{r.key + "_input", nullptr}};
            shown = "N/A";
        } else if (r.kind == Reading::Fan) {
            chipJson[r.label] = {{r.key + "_input", r.value}};
            shown = fmt::format("{:>6.0f} RPM", r.value);
        } else {
            chipJson[r.label] = {{r.key + "_input", std::round(r.value * 1000) / 1000}}; // sensors -j prints three decimals
            shown = r.kind == Reading::Voltage || r.kind == Reading::Current ? fmt::format("{:+8.2f} {}", r.value, Unit(r.kind))
                                                                           : fmt::format("{:+7.1f}{}", r.value, Unit(r.kind));
        }
        if (r.kind == Reading::Fan)
            if (const Control c = FanControl(r.index); !c.text.empty()) shown += "  (" + c.text + ")";
        lines.push_back(fmt::format("{:<13}{}", r.label + ":", shown));
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

// FAN is the number sensors shows (fanN); the library counts from 0.
int SetFan(const Global& g, Session& session, const FanArgs& a) {
    Run run(g, session.source(), "sensors fan");
    const uint32_t fan = a.fan - 1;
    const VEK_RESULT r = a.mode == "auto" ? VEK_HWM_Smartfan_Enable(fan) : VEK_HWM_SetFanSpeed(fan, a.percent);
    const std::string key = fmt::format("fan{}", a.fan);
    if (r != VEK_OK) run.Fail(fmt::format("{} {}", key, a.mode), r);
    Json data = {{"fan", key}, {"mode", a.mode}, {"result", ResultJson(r)}};
    if (a.mode == "duty") data["percent"] = a.percent;
    const int status = run.Finish(data, [&] {
        if (r == VEK_OK) fmt::print("{}: {}\n", key, a.mode == "auto" ? "on its curve" : fmt::format("{} %", a.percent));
    });
    if (r == VEK_OK) SimulatedChangeNotice(session.source());
    return status;
}

} // namespace

std::vector<Reading> ReadAll() {
    std::vector<Reading> out;
    uint32_t temps = 0;
    auto add = [&](Reading::Kind kind, uint32_t index, double value, VEK_RESULT r, std::string key, std::string label) {
        if (!Shown(r)) return;
        if (r == VEK_OK && Implausible(kind, index, value, kind == Reading::Fan && FanControl(index).driven)) r = kImplausible;
        out.push_back({kind, index, value, r, key, label.empty() ? key : label});
    };
    // Index 0 is the processor as the board's chip reads it (or its own sensor
    // where the chip has none), index 1 always the processor's own sensor: one
    // processor read two ways.
    static const char* const kCpuLabels[kCpus] = {"CPU", "CPU core"};
    for (uint32_t cpu = 0; cpu < kCpus; ++cpu) {
        double t = 0;
        const VEK_RESULT r = VEK_HWM_CPUTemperature(cpu, &t);
        if (Shown(r)) ++temps;
        add(Reading::CpuTemperature, cpu, t, r, fmt::format("temp{}", temps), kCpuLabels[cpu]);
    }
    for (uint32_t s = 0; s < kTemperatureSensors; ++s) {
        double t = 0;
        const VEK_RESULT r = VEK_HWM_Temperature(s, &t);
        if (Shown(r)) ++temps;
        // Sensor 0 is the one VEK_HWM_SysTemperature reads and the fan curve follows.
        add(Reading::Temperature, s, t, r, fmt::format("temp{}", temps), s == 0 ? "System" : "");
    }
    for (uint32_t ch = 0; ch < kVoltageChannels; ++ch) {
        double v = 0;
        const VEK_RESULT r = VEK_HWM_Voltage(ch, &v);
        add(Reading::Voltage, ch, v, r, fmt::format("in{}", ch), "");
    }
    for (uint32_t ch = 0; ch < kCurrentChannels; ++ch) {
        double a = 0;
        const VEK_RESULT r = VEK_HWM_Current(ch, &a);
        add(Reading::Current, ch, a, r, fmt::format("curr{}", ch + 1), "");
    }
    for (uint32_t fan = 0; fan < kFans; ++fan) {
        uint32_t rpm = 0;
        const VEK_RESULT r = VEK_HWM_GetFanSpeed(fan, &rpm);
        add(Reading::Fan, fan, rpm, r, fmt::format("fan{}", fan + 1), "");
    }
    // Every board sensor at an impossible value: the monitor chip has stopped
    // answering, and its voltages (full scale) and fans (no pulses) are the
    // same all-ones registers, only converted into believable numbers.
    bool sensors = false, silent = true;
    for (const Reading& r : out) {
        if (r.kind != Reading::Temperature) continue;
        sensors = true;
        silent = silent && r.result == kImplausible;
    }
    if (sensors && silent)
        for (Reading& r : out)
            if ((r.kind == Reading::Voltage || r.kind == Reading::Fan) && r.result == VEK_OK) r.result = kImplausible;
    return out;
}

void AddSensors(Registry& r) {
    CLI::App* sensors = r.app.add_subcommand("sensors", "temperatures, voltages, currents and fans (like sensors)");
    sensors->preparse_callback([a = r.action](size_t) { *a = Show; });

    auto args = std::make_shared<FanArgs>();
    CLI::App* fan = sensors->add_subcommand("fan", "set a fan: fan FAN duty PERCENT | fan FAN auto");
    fan->add_option("FAN", args->fan, "fan number as sensors shows it (fan1 is 1)")->required()->check(NumberIn(1, kFans));
    fan->add_option("MODE", args->mode, "duty or auto")->required()->check(CLI::IsMember({"duty", "auto"}));
    fan->add_option("PERCENT", args->percent, "duty in percent (with duty)")->check(NumberIn(0, 100));
    fan->callback([a = r.action, args] {
        if (args->mode == "duty" && args->percent < 0) throw CLI::ValidationError("PERCENT", "duty needs a percentage 0..100");
        if (args->mode == "auto" && args->percent >= 0) throw CLI::ValidationError("PERCENT", "auto takes no percentage");
        *a = [args](const Global& g, Session& s) { return SetFan(g, s, *args); };
    });
}

} // namespace vekctl
