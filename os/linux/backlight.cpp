#include "os/linux/backlight.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "os/linux/sysfs.h"

namespace vek::os {
namespace {

constexpr uint32_t kDone = 0;
constexpr uint32_t kNoDevice = 17;
constexpr uint64_t kMaxLevel = 100;

std::string g_root = "/sys/class/backlight";

struct Panel {
    int rank; // lower is preferred
    std::string name;
    std::string dir;
    uint64_t max;
};

int RankOfType(const std::string& dir) {
    const std::string type = sysfs::FirstLine(dir + "/type");
    if (type == "firmware") return 0;
    if (type == "platform") return 1;
    if (type == "raw") return 2;
    return 3;
}

bool ReadNumber(const std::string& file, uint64_t* value) {
    std::ifstream in(file);
    return static_cast<bool>(in >> *value);
}

std::vector<Panel> Panels() {
    std::vector<Panel> panels;
    for (const std::string& name : sysfs::Entries(g_root)) {
        const std::string dir = g_root + "/" + name;
        uint64_t max = 0;
        if (!ReadNumber(dir + "/max_brightness", &max) || max == 0) continue;
        panels.push_back({RankOfType(dir), name, dir, max});
    }
    std::sort(panels.begin(), panels.end(),
              [](const Panel& a, const Panel& b) { return a.rank != b.rank ? a.rank < b.rank : a.name < b.name; });
    return panels;
}

} // namespace

void SetBacklightRoot(const std::string& root) { g_root = root; }
const std::string& BacklightRoot() { return g_root; }

uint32_t BacklightRead(uint8_t* level) {
    const std::vector<Panel> panels = Panels();
    uint64_t raw = 0;
    if (level == nullptr || panels.empty() || !ReadNumber(panels[0].dir + "/brightness", &raw)) return kNoDevice;
    const Panel& p = panels[0];
    *level = uint8_t(std::min(kMaxLevel, (std::min(raw, p.max) * kMaxLevel + p.max / 2) / p.max));
    return kDone;
}

uint32_t BacklightSet(uint8_t level) {
    const std::vector<Panel> panels = Panels();
    if (panels.empty() || level > kMaxLevel) return kNoDevice;
    for (const Panel& p : panels) {
        const std::string file = p.dir + "/brightness";
        if (!sysfs::Exists(file)) return kNoDevice;
        std::ofstream out(file);
        out << (level * p.max + kMaxLevel / 2) / kMaxLevel;
        out.flush();
        if (!out) return kNoDevice;
    }
    return kDone;
}

} // namespace vek::os
