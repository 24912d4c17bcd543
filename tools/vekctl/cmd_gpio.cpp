// vekctl gpio: the board's GPIO sets in the manner of libgpiod's tools.
//
//   vekctl gpio                         every set and line (gpioinfo)
//   vekctl gpio get SET PIN...          levels, space-separated (gpioget)
//   vekctl gpio set SET PIN=VALUE...    drive output pins (gpioset)
//   vekctl gpio dir SET PIN in|out      make a pin an input or an output
#include <fmt/core.h>


#include "tools/vekctl/vekctl.h"

namespace vekctl {

namespace {

constexpr int32_t kMaxSet = 255;
constexpr int32_t kPinsPerSet = 8; // the library's masks are one byte
// In the library's convention direction 1 is an input. A pin its chip has not
// set up as GPIO leaves the caller's byte alone.
constexpr uint8_t kInput = 1;
constexpr uint8_t kUnset = 0xFF;

const char* DirectionName(uint8_t d) { return d == kUnset ? "unused" : d == kInput ? "input" : "output"; }

int Info(const Global& g, Session& session) {
    Run run(g, session.source(), "gpio");
    uint32_t sets = 0;
    const VEK_RESULT rs = VEK_GPIO_TotalSet(&sets);
    if (rs != VEK_OK && rs != VEK_ERR_UNSUPPORTED) run.Fail("GPIO sets", rs);
    Json list = Json::array();
    std::string text;
    for (uint32_t set = 1; rs == VEK_OK && set <= sets; ++set) {
        uint32_t pins = 0;
        const VEK_RESULT rp = VEK_GPIO_TotalNumber(int32_t(set), &pins);
        if (rp != VEK_OK) {
            run.Fail(fmt::format("set {}", set), rp);
            continue;
        }
        Json lines = Json::array();
        text += fmt::format("set {} - {} lines:\n", set, pins);
        for (int32_t pin = 1; pin <= int32_t(std::min<uint32_t>(pins, kPinsPerSet)); ++pin) {
            uint8_t dir = kUnset, level = 0;
            const VEK_RESULT rd = VEK_GPIO_ReadPinDirection(int32_t(set), pin, &dir);
            const VEK_RESULT rl = VEK_GPIO_ReadPin(int32_t(set), pin, &level);
            if (rd != VEK_OK) run.Fail(fmt::format("set {} pin {} direction", set, pin), rd);
            if (rl != VEK_OK) run.Fail(fmt::format("set {} pin {} level", set, pin), rl);
            lines.push_back({{"pin", pin},
                             {"direction", rd == VEK_OK ? Json(DirectionName(dir)) : Json(nullptr)},
                             {"level", rl == VEK_OK ? Json(level) : Json(nullptr)}});
            text += fmt::format("\tline {:>2}: {:<7} {}\n", pin, rd == VEK_OK ? DirectionName(dir) : "?",
                                rl == VEK_OK ? fmt::format("level={}", level) : "level=?");
        }
        list.push_back({{"set", set}, {"pins", pins}, {"lines", lines}});
    }
    return run.Finish(Json{{"sets", rs == VEK_OK ? sets : 0}, {"gpio", list}}, [&] {
        if (rs == VEK_ERR_UNSUPPORTED) {
            fmt::print("this board has no GPIO the library serves\n");
            return;
        }
        fmt::print("GPIO sets count from 1; lines (pins) count from 1 within a set. "
                   "Use: gpio get SET PIN..., gpio set SET PIN=VALUE...\n{}",
                   text);
    });
}

struct GetArgs {
    int32_t set = 0;
    std::vector<int32_t> pins;
};

int Get(const Global& g, Session& session, const GetArgs& a) {
    Run run(g, session.source(), "gpio get");
    Json values = Json::array();
    std::string text;
    for (int32_t pin : a.pins) {
        uint8_t level = 0;
        const VEK_RESULT r = VEK_GPIO_ReadPin(a.set, pin, &level);
        if (r != VEK_OK) run.Fail(fmt::format("set {} pin {}", a.set, pin), r);
        values.push_back({{"pin", pin}, {"level", r == VEK_OK ? Json(level) : Json(nullptr)}});
        text += fmt::format("{}{}", text.empty() ? "" : " ", r == VEK_OK ? std::to_string(level) : "?");
    }
    return run.Finish(Json{{"set", a.set}, {"values", values}}, [&] { fmt::print("{}\n", text); });
}

struct SetArgs {
    int32_t set = 0;
    std::vector<std::pair<int32_t, uint8_t>> values;
};

int Set(const Global& g, Session& session, const SetArgs& a) {
    Run run(g, session.source(), "gpio set");
    Json done = Json::array();
    for (const auto& [pin, value] : a.values) {
        uint8_t dir = kUnset;
        if (VEK_GPIO_ReadPinDirection(a.set, pin, &dir) == VEK_OK && dir == kInput)
            Warn(fmt::format("set {} pin {} is an input: the level takes effect when it is made an output "
                             "('vekctl gpio dir {} {} out')", a.set, pin, a.set, pin));
        const VEK_RESULT r = VEK_GPIO_WritePin(a.set, pin, value);
        if (r != VEK_OK) run.Fail(fmt::format("set {} pin {}", a.set, pin), r);
        done.push_back({{"pin", pin}, {"value", value}, {"result", ResultJson(r)}});
    }
    const int status = run.Finish(Json{{"set", a.set}, {"written", done}}, nullptr);
    SimulatedChangeNotice(session.source());
    return status;
}

struct DirArgs {
    int32_t set = 0, pin = 0;
    std::string direction;
};

int Dir(const Global& g, Session& session, const DirArgs& a) {
    Run run(g, session.source(), "gpio dir");
    const VEK_RESULT r = VEK_GPIO_SetPinDirection(a.set, a.pin, a.direction == "in" ? kInput : 0);
    if (r != VEK_OK) run.Fail(fmt::format("set {} pin {}", a.set, a.pin), r);
    return run.Finish(Json{{"set", a.set}, {"pin", a.pin}, {"direction", a.direction}, {"result", ResultJson(r)}},
                      nullptr);
}

// "PIN=VALUE" with PIN 1..8 and VALUE 0 or 1.
std::pair<int32_t, uint8_t> ParsePinValue(const std::string& word) {
    const size_t eq = word.find('=');
    const auto pin = eq == std::string::npos ? std::nullopt : ParseNumber(word.substr(0, eq), 0, UINT32_MAX);
    const auto value = eq == std::string::npos ? std::nullopt : ParseNumber(word.substr(eq + 1), 0, UINT32_MAX);
    if (!pin || !value) throw CLI::ValidationError("PIN=VALUE", "'" + word + "' is not PIN=VALUE");
    if (*pin < 1 || *pin > kPinsPerSet) throw CLI::ValidationError("PIN=VALUE", fmt::format("pin {} is not 1..{}", *pin, kPinsPerSet));
    if (*value > 1) throw CLI::ValidationError("PIN=VALUE", fmt::format("value {} is not 0 or 1", *value));
    return {int32_t(*pin), uint8_t(*value)};
}

} // namespace

void AddGpio(Registry& r) {
    CLI::App* gpio = r.app.add_subcommand("gpio", "GPIO sets and pins (gpioinfo, gpioget, gpioset)");
    gpio->preparse_callback([a = r.action](size_t) { *a = Info; });
    const auto setRange = NumberIn(1, kMaxSet);
    const auto pinRange = NumberIn(1, kPinsPerSet);

    auto get = std::make_shared<GetArgs>();
    CLI::App* getCmd = gpio->add_subcommand("get", "read pin levels: get SET PIN...");
    getCmd->add_option("SET", get->set, "GPIO set (from 1)")->required()->check(setRange);
    getCmd->add_option("PIN", get->pins, "pins (1..8)")->required()->check(pinRange);
    getCmd->callback([a = r.action, get] { *a = [get](const Global& g, Session& s) { return Get(g, s, *get); }; });

    auto set = std::make_shared<SetArgs>();
    auto words = std::make_shared<std::vector<std::string>>();
    CLI::App* setCmd = gpio->add_subcommand("set", "drive output pins: set SET PIN=VALUE...");
    setCmd->add_option("SET", set->set, "GPIO set (from 1)")->required()->check(setRange);
    setCmd->add_option("PIN=VALUE", *words, "pin 1..8 and level 0 or 1")->required();
    setCmd->callback([a = r.action, set, words] {
        for (const std::string& w : *words) {
            const auto pv = ParsePinValue(w);
            for (const auto& seen : set->values)
                if (seen.first == pv.first)
                    throw CLI::ValidationError("PIN=VALUE", fmt::format("pin {} is given twice", pv.first));
            set->values.push_back(pv);
        }
        *a = [set](const Global& g, Session& s) { return Set(g, s, *set); };
    });

    auto dir = std::make_shared<DirArgs>();
    CLI::App* dirCmd = gpio->add_subcommand("dir", "pin direction: dir SET PIN in|out");
    dirCmd->add_option("SET", dir->set, "GPIO set (from 1)")->required()->check(setRange);
    dirCmd->add_option("PIN", dir->pin, "pin (1..8)")->required()->check(pinRange);
    dirCmd->add_option("DIRECTION", dir->direction, "in or out")->required()->check(CLI::IsMember({"in", "out"}));
    dirCmd->callback([a = r.action, dir] { *a = [dir](const Global& g, Session& s) { return Dir(g, s, *dir); }; });
}

} // namespace vekctl
