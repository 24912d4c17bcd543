#include "sim/zkec/zkec_model.h"

#include "sim/board.h"
#include "sim/chip_models.h"

namespace vek::sim {

ZkecModel::ZkecModel(Machine& machine) : machine_(machine), registers_(machine.zkec_registers()) {
    machine_.SetZkecDevice(this);
}

ZkecModel::~ZkecModel() { machine_.SetZkecDevice(nullptr); }

bool ZkecModel::Begin() {
    if (access_ || heldElsewhere_) return Refuse();
    access_ = true;
    ++sessions_;
    return true;
}

bool ZkecModel::End() {
    if (!access_) return Refuse();
    access_ = false;
    return true;
}

bool ZkecModel::ReadRegister(uint8_t reg, uint8_t* value) {
    if (!access_ || readsLeft_ == 0) return Refuse();
    if (readsLeft_ > 0) --readsLeft_;
    *value = registers_[reg];
    return true;
}

void ZkecModel::SetWord(uint8_t lowReg, uint8_t highReg, uint16_t value) {
    registers_[lowReg] = uint8_t(value);
    registers_[highReg] = uint8_t(value >> 8);
}

namespace {

// PMBus LINEAR11: five-bit exponent over an eleven-bit mantissa.
constexpr uint16_t Linear11(int exponent, int mantissa) {
    return uint16_t(((exponent & 0x1F) << 11) | (mantissa & 0x7FF));
}

// Readings of a running SBX-870 with firmware R01.E07 of 15 March 2024.
void SeedSbx870(ZkecModel& zkec) {
    zkec.SetWord(ZkecModel::kFan1Low, ZkecModel::kFan1High, Linear11(1, 1200));    // 2400 rpm
    zkec.SetWord(ZkecModel::kFan2Low, ZkecModel::kFan2High, Linear11(0, 1800));    // 1800 rpm
    zkec.SetWord(ZkecModel::kTemp1Low, ZkecModel::kTemp1High, Linear11(-3, 300));  // 37.5 C
    zkec.SetWord(ZkecModel::kTemp2Low, ZkecModel::kTemp2High, Linear11(-1, 83));   // 41.5 C
    zkec.SetWord(ZkecModel::kRailALow, ZkecModel::kRailAHigh, Linear11(-2, 48));   // 12.0 V
    zkec.Poke(ZkecModel::kRailBMode, 0x17);                                        // exponent -9
    zkec.SetWord(ZkecModel::kRailBLow, ZkecModel::kRailBHigh, 2560);               // 5.0 V
    zkec.Poke(ZkecModel::kFwRelease, 0x01);
    zkec.Poke(ZkecModel::kFwRevision, 0x07);
    zkec.Poke(ZkecModel::kFwMonth, 0x03);
    zkec.Poke(ZkecModel::kFwDay, 0x15);
    zkec.Poke(ZkecModel::kFwYear, 0x24);
}

} // namespace

void AddZkecModels(Board& board) {
    const PlatformEntry& row = board.row();
    if (row.chipKind != KIND_ZKEC && row.secondaryKind != KIND_ZKEC) return;
    SeedSbx870(board.Add<ZkecModel>());
}

} // namespace vek::sim
