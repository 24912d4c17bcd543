// Platform I2C against a real kernel bus: the i2c-stub module's SMBus adapter
// with one register-file chip, through /dev/i2c-N. Loads the modules when it
// may (root, modprobe present) and unloads what it loaded; skips otherwise.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "os/linux/i2c_dev.h"

namespace fs = std::filesystem;
using namespace vek;

namespace {

constexpr char kStubName[] = "SMBus stub driver";
constexpr uint8_t kChip = 0x50;

std::optional<int> StubBus() {
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator("/sys/class/i2c-adapter", ec)) {
        std::string name;
        std::getline(std::ifstream(e.path() / "name"), name);
        const std::string dir = e.path().filename().string();
        if (name == kStubName && dir.rfind("i2c-", 0) == 0) return std::atoi(dir.c_str() + 4);
    }
    return std::nullopt;
}

// The first chip address the loaded module serves (the parameter prints decimal).
int StubChip() {
    std::string first;
    std::getline(std::ifstream("/sys/module/i2c_stub/parameters/chip_addr"), first, ',');
    return first.empty() ? -1 : std::atoi(first.c_str());
}

class KernelStubBus : public ::testing::Test {
protected:
    void SetUp() override {
        bus = StubBus();
        if (!bus && geteuid() == 0 && std::system("command -v modprobe >/dev/null 2>&1") == 0) {
            const std::string load = "modprobe i2c-dev >/dev/null 2>&1; modprobe i2c-stub chip_addr=" +
                                     std::to_string(kChip) + " >/dev/null 2>&1";
            loaded = std::system(load.c_str()) == 0;
            bus = StubBus();
        }
        if (!bus) {
            reason = geteuid() != 0 ? "not root, and i2c-stub is not loaded"
                                    : "the i2c-stub module cannot be loaded on this machine";
            return;
        }
        chip = StubChip();
        if (chip < 0 || chip > 0x7F) reason = "i2c-stub serves no chip";
        else if (!fs::exists("/dev/i2c-" + std::to_string(*bus))) reason = "no /dev/i2c-N node (i2c-dev missing)";
        if (reason.empty()) setenv("VEK_I2C_MAP", ("I2C0=i2c-" + std::to_string(*bus)).c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VEK_I2C_MAP");
        if (loaded) (void)std::system("modprobe -r i2c-stub >/dev/null 2>&1");
    }

    std::optional<int> bus;
    int chip = -1;
    bool loaded = false;
    std::string reason;
};

#define SKIP_WITHOUT_STUB()                                         \
    do {                                                            \
        if (!reason.empty()) {                                      \
            std::printf("skipped: %s\n", reason.c_str());           \
            GTEST_SKIP() << reason;                                 \
        }                                                           \
    } while (0)

// One test: the module is loaded and unloaded once, never under another test process.
TEST_F(KernelStubBus, TransfersReachTheChipAndAnEmptyAddressIsNotAcknowledged) {
    SKIP_WITHOUT_STUB();
    void* h = nullptr;
    ASSERT_EQ(os::I2cOpen(0, uint8_t(chip), &h), 0u);
    const struct { const char* what; std::vector<uint8_t> write; std::vector<uint8_t> expect; } cases[] = {
        {"one register", {0x10, 0xAB}, {0xAB}},
        {"a block of registers", {0x20, 0x01, 0x02, 0x03}, {0x01, 0x02, 0x03}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t moved = 0;
        EXPECT_EQ(os::I2cTransfer(h, c.write.data(), uint32_t(c.write.size()), nullptr, 0, &moved), 0u);
        EXPECT_EQ(moved, c.write.size());
        std::vector<uint8_t> in(c.expect.size());
        EXPECT_EQ(os::I2cTransfer(h, c.write.data(), 1, in.data(), uint32_t(in.size()), &moved), 0u);
        EXPECT_EQ(in, c.expect);
        EXPECT_EQ(moved, 1 + in.size());
    }
    os::I2cClose(h);

    // An address with no chip behind it is not acknowledged.
    const uint8_t empty = uint8_t(chip == 0x7F ? 0x7E : chip + 1);
    ASSERT_EQ(os::I2cOpen(0, empty, &h), 0u);
    const uint8_t reg = 0;
    uint8_t v = 0;
    EXPECT_EQ(os::I2cTransfer(h, &reg, 1, &v, 1, nullptr), 2u);
    os::I2cClose(h);
}

} // namespace
