// The hal's encoding of every primitive into driver request bytes, its
// refusals before any request, the busy-wait, and the driver status machine.
#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"
#include "hal/hal.h"
#include "hal/platform_slot.h"

using namespace vek;
using vek::test::FakePlatform;
using Bytes = std::vector<uint8_t>;

namespace {

class HalTest : public ::testing::Test {
protected:
    void SetUp() override {
        hal::SetPlatform(&fake.platform());
        hal::DriverReset();
        ASSERT_TRUE(hal::DriverStart());
        fake.requests.clear();
    }
    void TearDown() override {
        hal::SetPlatform(nullptr);
        hal::DriverReset();
    }
    FakePlatform fake;
};

struct EncodingCase {
    const char* name;
    std::function<bool()> call;
    uint32_t code;
    Bytes in;
    uint32_t outSize;
};

TEST_F(HalTest, EachPrimitiveSendsItsRequestLayout) {
    uint8_t b = 0;
    uint16_t w = 0;
    uint32_t d = 0, lo = 0, hi = 0;
    uint8_t mem[4];
    const EncodingCase cases[] = {
        {"read port byte", [&] { return hal::ReadPortByte(0x1234, &b); }, 0xEA606420, {0x34, 0x12}, 2},
        {"read port word", [&] { return hal::ReadPortWord(0x0CF8, &w); }, 0xEA606424, {0xF8, 0x0C}, 2},
        {"read port dword", [&] { return hal::ReadPortDword(0xE300, &d); }, 0xEA606440, {0x00, 0xE3, 0, 0}, 4},
        {"write port byte", [&] { return hal::WritePortByte(0x62, 0x80); }, 0xEA60A444, {0x62, 0, 0, 0, 0x80}, 0},
        {"write port word", [&] { return hal::WritePortWord(0x2E, 0xBEEF); }, 0xEA60A448,
         {0x2E, 0, 0, 0, 0xEF, 0xBE}, 0},
        {"write port dword", [&] { return hal::WritePortDword(0xCFC, 0x11223344); }, 0xEA60A44C,
         {0xFC, 0x0C, 0, 0, 0x44, 0x33, 0x22, 0x11}, 0},
        {"read msr", [&] { return hal::ReadMsr(0x19C, &lo, &hi); }, 0xEA602408, {0x9C, 0x01, 0, 0}, 8},
        {"read pci word", [&] { return hal::ReadPciWord(hal::PciAddress(0, 31, 4), 0x20, &w); }, 0xEA606458,
         {0xFC, 0, 0, 0, 0x20, 0, 0, 0}, 2},
        {"read pci dword bus 0x80", [&] { return hal::ReadPciDword(hal::PciAddress(0x80, 31, 4), 0x44, &d); },
         0xEA606458, {0xFC, 0x80, 0, 0, 0x44, 0, 0, 0}, 4},
        {"write pci byte", [&] { return hal::WritePciByte(hal::PciAddress(0, 31, 4), 0x04, 0x03); }, 0xEA60A45C,
         {0xFC, 0, 0, 0, 0x04, 0, 0, 0, 0x03}, 0},
        {"write pci dword", [&] { return hal::WritePciDword(hal::PciAddress(1, 2, 3), 0x10, 0xA1B2C3D4); },
         0xEA60A45C, {0x13, 0x01, 0, 0, 0x10, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1}, 0},
        {"read memory", [&] { return hal::ReadPhysical(0xFED80000, 0x300, mem, 2, 1) == 2; }, 0xEA606450,
         {0x00, 0x03, 0xD8, 0xFE, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}, 2},
        {"write memory", [&] { const uint8_t data[4] = {1, 2, 3, 4}; return hal::WritePhysical(0xFEDC0000, 0x10, data, 2, 2) == 4; },
         0xEA60A454, {0x10, 0x00, 0xDC, 0xFE, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 2, 3, 4}, 0},
    };
    for (const EncodingCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake.requests.clear();
        EXPECT_TRUE(c.call());
        ASSERT_EQ(fake.requests.size(), 1u);
        EXPECT_EQ(fake.requests[0].code, c.code);
        EXPECT_EQ(fake.requests[0].in, c.in);
        EXPECT_EQ(fake.requests[0].outSize, c.outSize);
    }
}

TEST_F(HalTest, ReadsDecodeLittleEndianAnswers) {
    fake.fill = 0x10; // answer bytes 10 11 12 13
    uint8_t b = 0;
    uint16_t w = 0;
    uint32_t d = 0, lo = 0, hi = 0;
    EXPECT_TRUE(hal::ReadPortByte(0x80, &b));
    EXPECT_EQ(b, 0x10);
    EXPECT_TRUE(hal::ReadPortWord(0x80, &w));
    EXPECT_EQ(w, 0x1110);
    EXPECT_TRUE(hal::ReadPortDword(0x80, &d));
    EXPECT_EQ(d, 0x13121110u);
    EXPECT_TRUE(hal::ReadMsr(0x1A2, &lo, &hi));
    EXPECT_EQ(lo, 0x13121110u);
    EXPECT_EQ(hi, 0x17161514u);
}

TEST_F(HalTest, RefusalsSendNoRequest) {
    uint8_t buf[4];
    uint16_t w;
    uint32_t d, lo, hi;
    const std::pair<const char*, std::function<bool()>> refused[] = {
        {"word at odd offset", [&] { return hal::ReadPciWord(0xFC, 0x41, &w); }},
        {"dword at 0x42", [&] { return hal::ReadPciDword(0xFC, 0x42, &d); }},
        {"write word at odd offset", [&] { return hal::WritePciWord(0xFC, 0x03, 1); }},
        {"write dword at 0x02", [&] { return hal::WritePciDword(0xFC, 0x02, 1); }},
        {"size 3", [&] { return hal::ReadPci(0xFC, 0x40, buf, 3); }},
        {"null pci buffer", [&] { return hal::ReadPci(0xFC, 0x40, nullptr, 1); }},
        {"null memory buffer", [&] { return hal::ReadPhysical(0, 0, nullptr, 1, 1) != 0; }},
        {"null msr output", [&] { return hal::ReadMsr(0x10, nullptr, &hi); }},
        {"zero-length memory", [&] { return hal::ReadPhysical(0x1000, 0, buf, 0, 1) != 0; }},
    };
    for (const auto& [name, call] : refused) {
        SCOPED_TRACE(name);
        fake.requests.clear();
        EXPECT_FALSE(call());
        EXPECT_TRUE(fake.requests.empty());
    }
    // Aligned neighbours are sent.
    EXPECT_TRUE(hal::ReadPciWord(0xFC, 0x40, &w));
    EXPECT_TRUE(hal::ReadPciDword(0xFC, 0x44, &d));
    EXPECT_EQ(fake.requests.size(), 2u);
    (void)lo;
}

TEST_F(HalTest, ShortMemoryReadCountsAsFailure) {
    uint8_t buf[4];
    fake.shortBy = 1;
    EXPECT_EQ(hal::ReadPhysical(0xFED80000, 0x300, buf, 2, 1), 0u);
    fake.shortBy = 0;
    EXPECT_EQ(hal::ReadPhysical(0xFED80000, 0x300, buf, 2, 2), 4u);
}

TEST_F(HalTest, ProcessorWithoutMsrsNeverAsks) {
    hal::DriverReset();
    fake.cpuidEdx1 = 0;
    ASSERT_TRUE(hal::DriverStart());
    fake.requests.clear();
    uint32_t lo, hi;
    EXPECT_FALSE(hal::ReadMsr(0x19C, &lo, &hi));
    EXPECT_TRUE(fake.requests.empty());
}

TEST_F(HalTest, FailedRequestLeavesOutputsUntouched) {
    fake.answer = false;
    uint8_t b = 0x5A;
    uint16_t w = 0x5A5A;
    EXPECT_FALSE(hal::ReadPortByte(0x80, &b));
    EXPECT_FALSE(hal::ReadPciWord(0xFC, 0x20, &w));
    EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(w, 0x5A5A);
}

TEST_F(HalTest, DelaySpinsUntilTheCounterPassesTarget) {
    fake.frequency = 10'000'000; // 10 ticks per microsecond
    fake.counterStep = 7;
    fake.counter = 1000;
    hal::Delay(200);
    // Target 1007 + 2000; the loop stops at the first reading at or past it.
    EXPECT_GE(fake.counter, 1007 + 2000);
    EXPECT_LT(fake.counter, 1007 + 2000 + 7);

    const int64_t before = fake.counter;
    hal::Delay(0);
    hal::Delay(-5);
    EXPECT_EQ(fake.counter, before); // nothing to wait for: the counter is not even read
}

TEST_F(HalTest, LongDelayDoesNotOverflow) {
    fake.frequency = 3'000'000'000; // a fast counter
    fake.counterStep = int64_t(1) << 40;
    fake.counter = 0;
    hal::Delay(int64_t(3'000'000) * 1'000'000); // about 35 days: target 9e15 ticks
    EXPECT_GE(fake.counter, int64_t(9'000'000'000'000'000));
}

// ---- driver status ----

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        hal::SetPlatform(&fake.platform());
        hal::DriverReset();
    }
    void TearDown() override {
        hal::SetPlatform(nullptr);
        hal::DriverReset();
    }
    FakePlatform fake;
};

TEST_F(DriverTest, PrimitivesFailWithoutRequestBeforeStart) {
    uint8_t b;
    EXPECT_FALSE(hal::ReadPortByte(0x80, &b));
    EXPECT_EQ(hal::DriverVersion(), 0u);
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_EQ(hal::DriverStatus(), 1u);
}

// A failed start reports the platform's status and is run again by the next
// start; a successful one runs once.
TEST_F(DriverTest, FailedStartIsRetriedSuccessfulStartRunsOnce) {
    for (uint32_t status : {2u, 3u, 4u, 5u}) {
        SCOPED_TRACE(status);
        hal::DriverReset();
        fake.startStatus = status;
        EXPECT_FALSE(hal::DriverStart());
        EXPECT_EQ(hal::DriverStatus(), status);
        EXPECT_EQ(hal::DriverCheck(), status);
        fake.startStatus = 0;
        EXPECT_TRUE(hal::DriverStart());
        EXPECT_EQ(hal::DriverCheck(), 0u);
        fake.startStatus = status; // running: not started again
        EXPECT_TRUE(hal::DriverStart());
        EXPECT_EQ(hal::DriverCheck(), 0u);
    }
}

TEST_F(DriverTest, CheckTurnsSilentDriverIntoStatus3) {
    ASSERT_TRUE(hal::DriverStart());
    EXPECT_EQ(hal::DriverCheck(), 0u);
    fake.version = 0;
    EXPECT_EQ(hal::DriverCheck(), 3u);
}

TEST_F(DriverTest, StopClosesDeviceAndAllowsRestart) {
    ASSERT_TRUE(hal::DriverStart());
    hal::DriverStop();
    EXPECT_EQ(fake.stops, 1);
    EXPECT_EQ(hal::DriverVersion(), 0u);  // device closed: no request
    EXPECT_EQ(hal::DriverCheck(), 3u);
    EXPECT_TRUE(hal::DriverStart());      // the start sequence runs again in full
    EXPECT_EQ(hal::DriverCheck(), 0u);
}

} // namespace
