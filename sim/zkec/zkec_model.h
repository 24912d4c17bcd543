// The power-management controller behind the ZKEC driver, as the host sees it
// through that driver: a 256-byte register file the host may read only while it
// holds access. Begin grants access when nobody holds it, end gives it back; a
// read without access, a second begin and an end without access are refused.
// Readings are 16-bit PMBus words (LINEAR11, rail 12 LINEAR16 with its mode
// byte) split over a low and a high register.
#pragma once

#include <array>
#include <cstdint>

#include "sim/devices.h"
#include "sim/machine.h"

namespace vek::sim {

class ZkecModel : public Device, public ZkecDevice {
public:
    // Register layout of the controller on the SBX-870.
    static constexpr uint8_t kFan1Low = 0x90, kFan1High = 0x91;
    static constexpr uint8_t kTemp1Low = 0x92, kTemp1High = 0x93;
    static constexpr uint8_t kRailALow = 0x94, kRailAHigh = 0x95; // LINEAR11
    static constexpr uint8_t kRailBLow = 0x96, kRailBHigh = 0x97; // LINEAR16
    static constexpr uint8_t kRailBMode = 0x98;                  // VOUT_MODE: exponent in bits 0..4
    static constexpr uint8_t kFan2Low = 0xA0, kFan2High = 0xA1;
    static constexpr uint8_t kTemp2Low = 0xA2, kTemp2High = 0xA3;
    static constexpr uint8_t kFwRelease = 0x1D, kFwRevision = 0x1E;
    static constexpr uint8_t kFwYear = 0x2D, kFwMonth = 0x2E, kFwDay = 0x2F;

    // Registers live in the machine's ZKEC register file; the model claims the channel.
    explicit ZkecModel(Machine& machine);
    ~ZkecModel() override;
    const char* name() const override { return "ZKEC controller"; }

    bool Begin() override;
    bool End() override;
    bool ReadRegister(uint8_t reg, uint8_t* value) override;

    // A 16-bit reading into its low/high register pair.
    void SetWord(uint8_t lowReg, uint8_t highReg, uint16_t value);
    void Poke(uint8_t reg, uint8_t value) { registers_[reg] = value; }

    // ---- faults ----
    // After this many more register reads the controller stops answering reads
    // (until Recover); begin and end still go through the driver.
    void StopAnsweringAfter(int reads) { readsLeft_ = reads; }
    // Another agent (the firmware) holds access: begin is refused.
    void SetHeldElsewhere(bool held) { heldElsewhere_ = held; }
    void Recover() { readsLeft_ = -1; heldElsewhere_ = false; }

    bool access() const { return access_; }
    int sessions() const { return sessions_; }
    int refused() const { return refused_; }

private:
    bool Refuse() { return ++refused_, false; }

    Machine& machine_;
    std::array<uint8_t, 256>& registers_;
    bool access_ = false;
    bool heldElsewhere_ = false;
    int readsLeft_ = -1; // -1: answers for ever
    int sessions_ = 0;
    int refused_ = 0;
};

} // namespace vek::sim
