// vekctl's rules that need no board: which values count as failed reads, and
// which addresses bus detect must probe with a read.
#include <cmath>
#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "tools/vekctl/vekctl.h"

namespace vekctl {
namespace {

struct Case {
    Reading::Kind kind;
    uint32_t index;
    double value;
    bool fanDriven;
    bool failed;
};

// Values read by a monitor chip that stopped answering (all-ones registers
// through each family's conversion), beside the highest honest readings.
const Case kCases[] = {
    {Reading::Voltage, 4, 24.0, false, false},   // 12 V rail at twice: still believable
    {Reading::Voltage, 4, 24.48, false, true},   // 0xFF x 0.008 x (110+10)/10
    {Reading::Voltage, 3, 9.99, false, false},
    {Reading::Voltage, 3, 10.037, false, true},  // 0xFF x 0.008 x (39.2+10)/10
    {Reading::Voltage, 2, 6.746, false, false},  // a 5 V rail on in2
    {Reading::Voltage, 2, 10.5, false, true},
    {Reading::Voltage, 0, 3.36, false, false},   // 3.3 V on in0
    {Reading::Voltage, 0, 192.0, false, true},   // 16-bit all ones on a 3 V converter
    {Reading::Voltage, 6, 4.712, false, false},  // battery input at its highest honest reading
    {Reading::Voltage, 6, 6.12, false, true},    // 0xFF x 2 x 0.012
    {Reading::Voltage, 11, 12.0, false, false},  // channels without a row: up to the 12 V rail
    {Reading::Voltage, 17, 24.5, false, true},
    {Reading::Voltage, 1, 0.0, false, false},
    {Reading::Voltage, 1, -0.001, false, true},
    {Reading::Voltage, 4, std::numeric_limits<double>::quiet_NaN(), false, true},
    {Reading::Voltage, 4, std::numeric_limits<double>::infinity(), false, true},
    {Reading::Temperature, 0, 150.0, false, false},
    {Reading::Temperature, 0, 255.0, false, true},
    {Reading::CpuTemperature, 0, 510.0, false, true},
    {Reading::Temperature, 0, -55.0, false, false},
    {Reading::Temperature, 0, -56.0, false, true},
    {Reading::Current, 0, -100.0, false, false},
    {Reading::Current, 0, 100.5, false, true},
    {Reading::Fan, 0, 0.0, false, false},        // a stopped fan in manual mode
    {Reading::Fan, 0, 0.0, true, true},          // no pulses while its curve drives it
    {Reading::Fan, 0, 30000.0, false, false},
    {Reading::Fan, 0, 30001.0, true, true},
};

TEST(VekctlRules, ImpossibleReadingsAreFailedReads) {
    for (const Case& c : kCases)
        EXPECT_EQ(Implausible(c.kind, c.index, c.value, c.fanDriven) != nullptr, c.failed)
            << "kind " << c.kind << " index " << c.index << " value " << c.value;
}

// i2cdetect's ranges: everything 0x03..0x77 gets a quick write except the
// EEPROM write-protect block and the EEPROMs.
TEST(VekctlRules, DetectProbesEepromRangesWithARead) {
    std::set<uint32_t> read;
    for (uint32_t a = 0x03; a <= 0x77; ++a)
        if (ProbeByRead(a)) read.insert(a);
    std::set<uint32_t> expected;
    for (uint32_t a = 0x30; a <= 0x37; ++a) expected.insert(a);
    for (uint32_t a = 0x50; a <= 0x5F; ++a) expected.insert(a);
    EXPECT_EQ(read, expected);
}

} // namespace
} // namespace vekctl
