// Readings of the PMBus power supplies the EC polls: it keeps each supply's
// model name and raw PMBus values in its register file. Which column of
// registers belongs to which supply depends on the supply model.
#include <cmath>
#include <cstring>
#include <string_view>

#include "backends/ec/board_functions.h"
#include "backends/ec/ec.h"
#include "backends/ec/ops.h"
#include "vek/vek.h"

namespace vek::ec {

namespace {

enum class Decode : uint8_t {
    Linear11,        // float
    Linear11Integer, // u32, truncated toward zero
    Output,          // item 1: LINEAR11, or a 16-bit mantissa with its own exponent register (second model)
    SecondModelOnly, // LINEAR11 the first model does not report
    Byte,
    Word,
    ThreeBytes,
    Name,
};

struct PsuItem {
    Decode decode;
    uint8_t reg[2]; // first register in column 0, column 1
};

constexpr PsuItem kItems[] = {
    {Decode::Linear11, {0x75, 0x95}},        // 0
    {Decode::Output, {0x77, 0x97}},          // 1
    {Decode::Byte, {0x60, 0x90}},            // 2
    {Decode::Linear11, {0x7A, 0x4A}},        // 3
    {Decode::Byte, {0x61, 0x91}},            // 4
    {Decode::Word, {0x7C, 0x93}},            // 5
    {Decode::Linear11, {0x8C, 0xA0}},        // 6
    {Decode::Linear11, {0x9C, 0xB0}},        // 7
    {Decode::SecondModelOnly, {0x9A, 0xC0}}, // 8
    {Decode::Byte, {0x62, 0x92}},            // 9
    {Decode::Linear11, {0xCE, 0xDE}},        // 10
    {Decode::Linear11, {0xCC, 0xDC}},        // 11
    {Decode::Linear11Integer, {0xAC, 0xD0}}, // 12
    {Decode::ThreeBytes, {0x88, 0x39}},      // 13
    {Decode::Name, {0, 0}},                  // 14
    {Decode::ThreeBytes, {0x83, 0xED}},      // 15
};
constexpr uint8_t kOutputExponent[2] = {0x79, 0x99}; // item 1 exponent of the second model

enum class Model { First, Second };

struct ModelRow {
    std::string_view name;
    bool prefix;       // the name only has to begin with `name`
    Model model;
    int column[2];     // column of supply 0, 1; -1 when the model has no such supply
};

constexpr ModelRow kModels[] = {
    {"YSED0300A", true, Model::First, {1, 0}},
    {"FSP300-50RFB", false, Model::Second, {0, -1}},
};

constexpr uint32_t kNoReading = VEK_ERR_DEVICE;
constexpr uint32_t kUnknownModel = VEK_ERR_DRIVER_PLATFORM;

const ModelRow* Identify(const char (&name)[EC_PSU_NAME_BYTES]) {
    const std::string_view text(name, EC_PSU_NAME_BYTES);
    for (const ModelRow& m : kModels) {
        if (m.prefix ? text.substr(0, m.name.size()) == m.name : text == m.name) return &m;
    }
    return nullptr;
}

// 5-bit two's complement.
int Exponent5(uint8_t bits) {
    const int e = bits & 0x1F;
    return e >= 16 ? e - 32 : e;
}

// LINEAR11 as these supplies report it: exponent in the top five bits, an
// unsigned 11-bit mantissa below.
double Linear11(uint8_t lo, uint8_t hi) { return std::ldexp(double((hi & 0x07) << 8 | lo), Exponent5(hi >> 3)); }

void StoreFloat(uint32_t* out, double value) {
    const float f = float(value);
    std::memcpy(out, &f, sizeof f);
}

} // namespace

uint32_t PowerSupplyRead(DeviceContext& ctx, uint32_t supply, int32_t item, uint32_t* out) {
    if (ctx.boardId != EC_PSU_BOARD || supply > 1) return VEK_ERR_UNSUPPORTED;

    char name[EC_PSU_NAME_BYTES];
    bool blank = true;
    for (uint32_t k = 0; k < EC_PSU_NAME_BYTES; ++k) {
        const uint8_t b = ReadEcRegister(ctx, EC_REG_PSU_NAME + k);
        name[k] = char(b);
        blank = blank && (b == 0x00 || b == 0xFF);
    }
    if (blank) return VEK_ERR_READ; // the EC has seen no supply
    if (item == 14) {
        std::memcpy(out, name, EC_PSU_NAME_BYTES);
        return VEK_OK;
    }

    const ModelRow* model = Identify(name);
    if (model == nullptr) return kUnknownModel;
    const int column = model->column[supply];
    if (column < 0) return VEK_ERR_UNSUPPORTED;
    if (item < 0 || item > 15) return VEK_ERR_ARGUMENT;

    const PsuItem& it = kItems[item];
    const uint8_t reg = it.reg[column];
    auto* bytes = reinterpret_cast<uint8_t*>(out);
    switch (it.decode) {
    case Decode::Byte:
        bytes[0] = ReadEcRegister(ctx, reg);
        return VEK_OK;
    case Decode::ThreeBytes: {
        uint8_t b[3];
        for (int k = 0; k < 3; ++k) b[k] = ReadEcRegister(ctx, uint32_t(reg + k));
        if (b[0] == 0xFF && b[1] == 0xFF && b[2] == 0xFF) return kNoReading;
        std::memcpy(bytes, b, sizeof b);
        return VEK_OK;
    }
    default:
        break;
    }

    if (it.decode == Decode::SecondModelOnly && model->model != Model::Second) return VEK_ERR_UNSUPPORTED;
    const uint8_t lo = ReadEcRegister(ctx, reg);
    const uint8_t hi = ReadEcRegister(ctx, uint32_t(reg + 1));
    if (it.decode == Decode::Word) {
        // A status word: every bit set is a reading (all faults), not a gap.
        const uint16_t word = uint16_t(hi << 8 | lo);
        std::memcpy(bytes, &word, sizeof word);
        return VEK_OK;
    }
    if (lo == 0xFF && hi == 0xFF) return kNoReading;
    switch (it.decode) {
    case Decode::Linear11Integer:
        *out = uint32_t(Linear11(lo, hi)); // never negative: the mantissa is unsigned
        return VEK_OK;
    case Decode::Output:
        if (model->model == Model::Second) {
            const int exponent = Exponent5(ReadEcRegister(ctx, kOutputExponent[column]));
            StoreFloat(out, std::ldexp(double(hi << 8 | lo), exponent));
            return VEK_OK;
        }
        [[fallthrough]];
    default:
        StoreFloat(out, Linear11(lo, hi));
        return VEK_OK;
    }
}

void FillPowerSupplyOps(EcBoardOps& board) { board.pmbusGet = &PowerSupplyRead; }

} // namespace vek::ec
