// Board identity from DMI on Linux, and the ZKEC driver channel.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "hal/hal.h"
#include "os/linux/dmi.h"
#include "sim_fixture.h"

namespace fs = std::filesystem;
using namespace vek;
using namespace vek::test;

namespace {

class DmiTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("vek_dmi_" + std::to_string(::getpid()));
        fs::create_directories(root);
        saved = os::DmiRoot();
        os::SetDmiRoot(root.string());
    }
    void TearDown() override {
        os::SetDmiRoot(saved);
        fs::remove_all(root);
    }
    void Write(const char* file, const std::string& text) { std::ofstream(root / file) << text; }
    fs::path root;
    std::string saved;
};

TEST_F(DmiTest, ItemsMapToTheirFilesWithoutTheNewline) {
    const std::pair<uint32_t, const char*> files[] = {
        {VEK_HOST_ID_PRODUCT, "board_name"}, {VEK_HOST_ID_BIOS_VENDOR, "bios_vendor"},
        {VEK_HOST_ID_BIOS_VERSION, "bios_version"}, {VEK_HOST_ID_SERIAL, "board_serial"},
        {VEK_HOST_ID_BOARD_VERSION, "board_version"}};
    for (auto [item, file] : files) Write(file, std::string(file) + "-value\n");
    for (auto [item, file] : files) {
        char out[80] = {};
        EXPECT_EQ(os::ReadDmiIdentity(item, out, sizeof out), 0u);
        EXPECT_EQ(std::string(out), std::string(file) + "-value");
    }
}

TEST_F(DmiTest, LongValuesAreShortenedEmptyOnesLeaveTheBufferAndMissingOnesFail) {
    Write("board_name", std::string(200, 'N') + "\n");
    char out[33];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(os::ReadDmiIdentity(VEK_HOST_ID_PRODUCT, out, 32), 0u);
    EXPECT_EQ(std::strlen(out), 31u);
    EXPECT_EQ(out[32], '#');

    Write("bios_vendor", "\n");
    char kept[8] = "kept";
    EXPECT_EQ(os::ReadDmiIdentity(VEK_HOST_ID_BIOS_VENDOR, kept, sizeof kept), 0u);
    EXPECT_STREQ(kept, "kept");

    EXPECT_EQ(os::ReadDmiIdentity(VEK_HOST_ID_SERIAL, kept, sizeof kept), 16u); // no board_serial file
    EXPECT_EQ(os::ReadDmiIdentity(99, kept, sizeof kept), 16u);
}

// ---- ZKEC ----

class ZkecTest : public SimBoardTest {
protected:
    void SetUp() override {
        Use(RowWhere([](const PlatformEntry& r) { return r.secondaryKind == KIND_ZKEC; }));
        ASSERT_TRUE(hal::DriverStart());
    }
};

TEST_F(ZkecTest, MissingDriverPrintsTwoLinesAndEveryRequestFails) {
    machine().SetZkecPresent(false);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(hal::ZkecOpen());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Load ZKEC driver failed - 2\nVEK will not support ZKEC related function\n");
    uint8_t v = 0x5A;
    EXPECT_EQ(hal::ZkecBegin(), 3u);
    EXPECT_EQ(hal::ZkecEnd(), 3u);
    EXPECT_EQ(hal::ZkecReadRegister(0x10, &v), 8u);
    EXPECT_EQ(v, 0x5A);
}

TEST_F(ZkecTest, RequestsReadRegistersAndTreatPendingAsFailure) {
    machine().zkec_registers()[0x21] = 0x77;
    ASSERT_TRUE(hal::ZkecOpen());
    uint8_t v = 0;
    EXPECT_EQ(hal::ZkecBegin(), 0u);
    EXPECT_EQ(hal::ZkecReadRegister(0x21, &v), 0u);
    EXPECT_EQ(v, 0x77);
    EXPECT_EQ(hal::ZkecEnd(), 0u);
    machine().SetZkecPending(true);
    EXPECT_EQ(hal::ZkecBegin(), 3u);
    EXPECT_EQ(hal::ZkecReadRegister(0x21, &v), 8u);
    EXPECT_EQ(hal::ZkecEnd(), 3u);
    hal::ZkecClose();
    EXPECT_FALSE(machine().zkec_open());
}

} // namespace
