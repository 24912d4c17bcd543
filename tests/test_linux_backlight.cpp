// Display brightness on Linux against a fake backlight class in sysfs, and
// the ZKEC channel, which has no device on Linux.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "hal/hal.h"
#include "os/linux/backlight.h"
#include "os/os.h"

namespace fs = std::filesystem;
using namespace vek;

namespace {

constexpr uint32_t kNoDevice = 17;

class LinuxBacklight : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("vek_backlight_" + std::to_string(::getpid()));
        fs::create_directories(root);
        os::SetBacklightRoot(root.string());
    }
    void TearDown() override {
        os::SetBacklightRoot("/sys/class/backlight");
        fs::remove_all(root);
    }
    void Panel(const std::string& name, const std::string& type, uint64_t max, uint64_t now) {
        fs::create_directories(root / name);
        std::ofstream(root / name / "max_brightness") << max << "\n";
        std::ofstream(root / name / "brightness") << now << "\n";
        if (!type.empty()) std::ofstream(root / name / "type") << type << "\n";
    }
    uint64_t Raw(const std::string& name) {
        uint64_t v = 0;
        std::ifstream(root / name / "brightness") >> v;
        return v;
    }
    fs::path root;
};

TEST_F(LinuxBacklight, LevelsScaleToPercentBothWays) {
    const struct { uint64_t max; uint64_t raw; uint8_t level; } reads[] = {
        {255, 0, 0}, {255, 255, 100}, {255, 128, 50}, {7, 3, 43}, {7, 4, 57},
        {120000, 60000, 50}, {96, 500, 100} /* above max: full */,
    };
    for (const auto& r : reads) {
        SCOPED_TRACE(testing::Message() << r.raw << "/" << r.max);
        Panel("panel", "raw", r.max, r.raw);
        uint8_t level = 0xEE;
        EXPECT_EQ(os::BacklightRead(&level), 0u);
        EXPECT_EQ(level, r.level);
    }
    const struct { uint64_t max; uint8_t level; uint64_t raw; } sets[] = {
        {255, 0, 0}, {255, 100, 255}, {255, 40, 102}, {7, 50, 4}, {937, 33, 309}, {120000, 1, 1200},
    };
    for (const auto& s : sets) {
        SCOPED_TRACE(testing::Message() << int(s.level) << " of " << s.max);
        Panel("panel", "raw", s.max, 0);
        EXPECT_EQ(os::BacklightSet(s.level), 0u);
        EXPECT_EQ(Raw("panel"), s.raw);
        uint8_t back = 0;
        EXPECT_EQ(os::BacklightRead(&back), 0u);
        if (s.max >= 100) {
            EXPECT_EQ(back, s.level) << "a fine control reads back what was set";
        }
    }
}

// Read the preferred control; set every one, as for every monitor.
TEST_F(LinuxBacklight, FirmwareControlIsReadAndEveryControlIsSet) {
    Panel("intel_backlight", "raw", 1000, 250);
    Panel("acpi_video0", "firmware", 10, 8);
    Panel("dell_backlight", "platform", 15, 15);
    uint8_t level = 0;
    EXPECT_EQ(os::BacklightRead(&level), 0u);
    EXPECT_EQ(level, 80);
    EXPECT_EQ(os::BacklightSet(60), 0u);
    EXPECT_EQ(Raw("acpi_video0"), 6u);
    EXPECT_EQ(Raw("dell_backlight"), 9u);
    EXPECT_EQ(Raw("intel_backlight"), 600u);
}

TEST_F(LinuxBacklight, NoUsableControlAnswers17) {
    uint8_t level = 0;
    const struct { const char* what; std::function<void()> tree; } cases[] = {
        {"no backlight class", [&] { fs::remove_all(root); }},
        {"empty class", [] {}},
        {"zero maximum", [&] { Panel("panel", "raw", 0, 0); }},
        {"unreadable maximum", [&] { Panel("panel", "raw", 10, 5); std::ofstream(root / "panel" / "max_brightness") << "x"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root);
        fs::create_directories(root);
        c.tree();
        EXPECT_EQ(os::BacklightRead(&level), kNoDevice);
        EXPECT_EQ(os::BacklightSet(50), kNoDevice);
    }
    Panel("panel", "raw", 10, 5);
    EXPECT_EQ(os::BacklightSet(101), kNoDevice) << "levels run to 100";
    EXPECT_EQ(Raw("panel"), 5u);
    EXPECT_EQ(os::BacklightRead(nullptr), kNoDevice);
    fs::remove(root / "panel" / "brightness");
    EXPECT_EQ(os::BacklightRead(&level), kNoDevice);
    EXPECT_EQ(os::BacklightSet(10), kNoDevice);
}

TEST_F(LinuxBacklight, NativePlatformServesTheSeam) {
    const vek_host_platform& p = os::NativePlatform();
    ASSERT_TRUE(p.brightness_read && p.brightness_set);
    Panel("panel", "", 200, 100);
    uint8_t level = 0;
    EXPECT_EQ(p.brightness_read(p.user, &level), 0u);
    EXPECT_EQ(level, 50);
    EXPECT_EQ(p.brightness_set(p.user, 25), 0u);
    EXPECT_EQ(Raw("panel"), 50u);
}

// The controller's driver exists only on Windows: on Linux the channel has no
// device, so opening reports it missing and every request fails.
TEST(LinuxZkec, TheDeviceCannotBeOpened) {
    const vek_host_platform& p = os::NativePlatform();
    EXPECT_EQ(p.zkec_open, nullptr);
    EXPECT_EQ(p.zkec_request, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(hal::ZkecOpen());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Load ZKEC driver failed - 2\nVEK will not support ZKEC related function\n");
    uint8_t v = 0x3C;
    EXPECT_EQ(hal::ZkecBegin(), 3u);
    EXPECT_EQ(hal::ZkecReadRegister(0x1D, &v), 8u);
    EXPECT_EQ(v, 0x3C);
    EXPECT_EQ(hal::ZkecEnd(), 3u);
}

} // namespace
