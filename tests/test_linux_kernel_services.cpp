// The kernel's EC and speaker interfaces on fake trees: plain files stand in
// for /dev/ec, ec_sys's debugfs file and the speaker's event node.
#include <gtest/gtest.h>

#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "os/linux/kernel_ec.h"
#include "os/linux/kernel_speaker.h"

namespace fs = std::filesystem;
using namespace vek;

namespace {

class KernelServices : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("vek_kernel_" + std::to_string(::getpid()));
        fs::create_directories(root);
    }
    void TearDown() override {
        os::SetKernelEcFiles({});
        os::SetSpeakerRoots("/sys/class/input", "/dev/input");
        fs::remove_all(root);
    }
    // A 256-byte EC RAM image whose byte k is k ^ seed.
    fs::path EcImage(const std::string& name, uint8_t seed, fs::perms mode = fs::perms::owner_read |
                                                                            fs::perms::owner_write) {
        const fs::path file = root / name;
        std::ofstream out(file, std::ios::binary);
        for (int k = 0; k < 256; ++k) out.put(char(uint8_t(k) ^ seed));
        out.close();
        fs::permissions(file, mode);
        return file;
    }
    fs::path root;
};

TEST_F(KernelServices, EcRamGoesToTheFirstInterfaceThatExists) {
    const fs::path devEc = root / "dev-ec";
    const fs::path debugfs = EcImage("io", 0x5A);
    const bool root_user = ::geteuid() == 0; // root writes to a read-only file regardless
    const struct {
        const char* what;
        std::vector<std::string> files;
        uint32_t read, write;
        uint8_t value; // byte 0x10 read back
    } cases[] = {
        {"no interface: nothing loaded", {devEc.string(), (root / "none").string()}, 1, 1, 0xEE},
        {"ec_sys's debugfs file", {devEc.string(), debugfs.string()}, 0, 0, 0x10 ^ 0x5A},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        os::SetKernelEcFiles(c.files);
        uint8_t v = 0xEE;
        EXPECT_EQ(os::KernelEcRead(0x10, &v), c.read);
        EXPECT_EQ(v, c.value);
        EXPECT_EQ(os::KernelEcWrite(0x11, 0x99), c.write);
    }
    uint8_t v = 0;
    EXPECT_EQ(os::KernelEcRead(0x11, &v), 0u);
    EXPECT_EQ(v, 0x99) << "the write landed at its offset";
    EXPECT_EQ(os::KernelEcRead(0xFF, &v), 0u);
    EXPECT_EQ(v, 0xFF ^ 0x5A) << "the last byte of EC RAM";
    EXPECT_EQ(os::KernelEcRead(0x10, nullptr), 2u);

    // /dev/ec first when both are there.
    EcImage("dev-ec", 0xA5);
    EXPECT_EQ(os::KernelEcRead(0x10, &v), 0u);
    EXPECT_EQ(v, 0x10 ^ 0xA5);

    // ec_sys without write_support: its file is read-only; the write fails, reads still work.
    if (!root_user) {
        os::SetKernelEcFiles({EcImage("ro", 0, fs::perms::owner_read).string()});
        EXPECT_EQ(os::KernelEcWrite(0x11, 1), 2u);
        EXPECT_EQ(os::KernelEcRead(0x11, &v), 0u);
    }
    // An image shorter than EC RAM: a read past its end is a failed transfer, not a zero byte.
    std::ofstream(root / "short", std::ios::binary) << "ab";
    os::SetKernelEcFiles({(root / "short").string()});
    v = 0x42;
    EXPECT_EQ(os::KernelEcRead(0x80, &v), 2u);
    EXPECT_EQ(v, 0x42);
}

// One input device per row: which one the speaker is, by its sound capabilities.
TEST_F(KernelServices, SpeakerIsTheInputDeviceThatSoundsTones) {
    const fs::path input = root / "input", dev = root / "dev";
    fs::create_directories(dev);
    os::SetSpeakerRoots(input.string(), dev.string());
    const struct {
        const char* event;
        const char* snd; // capabilities/snd, nullptr: none
    } devices[] = {
        {"event0", nullptr},  // keyboard
        {"event1", "2"},      // bell only (SND_BELL)
        {"mouse0", "6"},      // not an event node
        {"event4", "0 6"},    // the speaker: click, bell, tone; a high word too
    };
    EXPECT_EQ(os::SpeakerEventNode(), "");
    EXPECT_EQ(os::KernelTone(440), 1u) << "no speaker device";
    EXPECT_EQ(os::KernelTone(0), 0u) << "stopping nothing";
    for (const auto& d : devices) {
        fs::create_directories(input / d.event / "device" / "capabilities");
        if (d.snd) std::ofstream(input / d.event / "device" / "capabilities" / "snd") << d.snd << "\n";
    }
    ASSERT_EQ(os::SpeakerEventNode(), (dev / "event4").string());

    std::ofstream(dev / "event4").close();
    EXPECT_EQ(os::KernelTone(1000), 0u);
    EXPECT_EQ(os::KernelTone(0), 0u);
    std::ifstream in(dev / "event4", std::ios::binary);
    std::vector<input_event> events;
    input_event e{};
    while (in.read(reinterpret_cast<char*>(&e), sizeof e)) events.push_back(e);
    ASSERT_EQ(events.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(events[i].type, EV_SND);
        EXPECT_EQ(events[i].code, SND_TONE);
    }
    EXPECT_EQ(events[0].value, 1000);
    EXPECT_EQ(events[1].value, 0) << "tone off";
}

} // namespace
