// vekctl bus: SMBus and I2C tools in the manner of i2c-tools. Addresses are
// 7-bit (0x03..0x77) as i2cdetect prints them; numbers take 0x for hex.
//
//   vekctl bus detect [BUS]                       which addresses answer (default bus 0)
//   vekctl bus get BUS ADDR REG [b|w]             read a byte or word register
//   vekctl bus set BUS ADDR REG VALUE [b|w]       write a byte or word register
//   vekctl bus dump BUS ADDR                      all 256 byte registers of a device
//   vekctl bus eeprom read ADDR OFFSET COUNT      serial EEPROM with two-byte offsets (bus 0)
//   vekctl bus eeprom write ADDR OFFSET BYTE...
//
// Bus 0 is the chipset SMBus controller, bus 1 the EC's I2C master, buses 2
// and 3 the platform I2C buses.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tools/vekctl/session.h"

namespace vekctl {

namespace {

constexpr uint32_t kFirstAddress = 0x03;
constexpr uint32_t kLastAddress = 0x77;
constexpr uint32_t kRegisters = 256;
constexpr uint32_t kMaxEepromRead = 65536;

constexpr const char* kUsage =
    "usage: vekctl bus detect [BUS]\n"
    "       vekctl bus get BUS ADDR REG [b|w]\n"
    "       vekctl bus set BUS ADDR REG VALUE [b|w]\n"
    "       vekctl bus dump BUS ADDR\n"
    "       vekctl bus eeprom read ADDR OFFSET COUNT\n"
    "       vekctl bus eeprom write ADDR OFFSET BYTE...\n";

int UsageError() {
    std::fputs(kUsage, stderr);
    return 2;
}

std::optional<uint32_t> Number(const std::string& s, uint32_t max) {
    if (s.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max || s[0] == '-') return std::nullopt;
    return uint32_t(v);
}

int Failed(const char* what, VEK_RESULT r) {
    std::fprintf(stderr, "vekctl: %s: %s\n", what, ResultText(r).c_str());
    return 1;
}

std::string Hex2(uint32_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x", v & 0xFF);
    return buf;
}

// Present when a quick write is answered. The SCH controller has no quick
// command; there a byte read stands in (it reports a NAK as an error).
VEK_RESULT Probe(uint8_t bus, uint8_t address) {
    VEK_RESULT r = VEK_I2C_Quick(0, bus, address);
    if (r == VEK_ERR_UNSUPPORTED && bus == 0) {
        uint8_t b = 0;
        r = VEK_I2C_ByteData(1, 0, address, 0, &b);
    }
    return r;
}

int Detect(const Options& o, uint8_t bus) {
    std::vector<uint32_t> present;
    for (uint32_t a = kFirstAddress; a <= kLastAddress; ++a) {
        const VEK_RESULT r = Probe(bus, uint8_t(a));
        if (r == VEK_ERR_UNSUPPORTED || r == VEK_ERR_NOT_INITIALISED) return Failed("detect", r);
        if (r == VEK_OK) present.push_back(a);
    }
    if (o.json) {
        Value list = Value::Arr();
        for (uint32_t a : present) list.Push(Value::Num(a));
        Emit(o, Value::Obj().Add("bus", Value::Num(bus)).Add("present", std::move(list)));
        return 0;
    }
    std::printf("     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n");
    size_t next = 0;
    for (uint32_t row = 0; row < 0x80; row += 16) {
        std::printf("%02x:", row);
        for (uint32_t a = row; a < row + 16; ++a) {
            if (a < kFirstAddress || a > kLastAddress) std::printf("   ");
            else if (next < present.size() && present[next] == a) std::printf(" %02x", present[next++]);
            else std::printf(" --");
        }
        std::printf("\n");
    }
    return 0;
}

struct Target {
    uint8_t bus;
    uint8_t address;
};

std::optional<Target> ParseTarget(const std::string& bus, const std::string& address) {
    const auto b = Number(bus, 3);
    const auto a = Number(address, 0x7F);
    if (!b || !a) return std::nullopt;
    return Target{uint8_t(*b), uint8_t(*a)};
}

std::optional<bool> ParseWidth(const std::vector<std::string>& args, size_t at) {
    if (args.size() <= at || args[at] == "b") return false;
    if (args[at] == "w") return true;
    return std::nullopt;
}

Value Register(const Target& t, uint32_t reg, uint32_t value, bool word) {
    return Value::Obj()
        .Add("bus", Value::Num(t.bus))
        .Add("address", Value::Num(t.address))
        .Add("register", Value::Num(reg))
        .Add(word ? "word" : "byte", Value::Num(value));
}

int Get(const Options& o, const Target& t, uint32_t reg, bool word) {
    uint32_t value = 0;
    VEK_RESULT r;
    if (word) {
        r = VEK_I2C_WordData(1, t.bus, t.address, reg, &value);
    } else {
        uint8_t b = 0;
        r = VEK_I2C_ByteData(1, t.bus, t.address, reg, &b);
        value = b;
    }
    if (r != VEK_OK) return Failed("get", r);
    if (o.json) Emit(o, Register(t, reg, value, word));
    else std::printf(word ? "0x%04x\n" : "0x%02x\n", value);
    return 0;
}

int Set(const Options& o, const Target& t, uint32_t reg, uint32_t value, bool word) {
    VEK_RESULT r;
    if (word) {
        r = VEK_I2C_WordData(0, t.bus, t.address, reg, &value);
    } else {
        uint8_t b = uint8_t(value);
        r = VEK_I2C_ByteData(0, t.bus, t.address, reg, &b);
    }
    if (r != VEK_OK) return Failed("set", r);
    if (o.json) Emit(o, Register(t, reg, value, word));
    else std::printf("ok\n");
    return 0;
}

// Rows of sixteen bytes: "0010: 00 11 22 ...". Unread cells print as XX.
void PrintRows(uint32_t first, const std::vector<std::optional<uint8_t>>& bytes) {
    for (size_t i = 0; i < bytes.size(); i += 16) {
        std::printf("%04x:", unsigned(first + i));
        for (size_t k = i; k < i + 16 && k < bytes.size(); ++k)
            std::printf(" %s", bytes[k] ? Hex2(*bytes[k]).c_str() : "XX");
        std::printf("\n");
    }
}

Value ByteArray(const std::vector<std::optional<uint8_t>>& bytes) {
    Value list = Value::Arr();
    for (const auto& b : bytes) list.Push(b ? Value::Num(*b) : Value::Str("error"));
    return list;
}

// A device that does not answer the first register is not read further: on
// some controllers every missing answer costs a two-second time-out.
int Dump(const Options& o, const Target& t) {
    std::vector<std::optional<uint8_t>> bytes;
    for (uint32_t reg = 0; reg < kRegisters; ++reg) {
        uint8_t b = 0;
        const VEK_RESULT r = VEK_I2C_ByteData(1, t.bus, t.address, reg, &b);
        if (r != VEK_OK && reg == 0) return Failed("dump", r);
        bytes.push_back(r == VEK_OK ? std::optional<uint8_t>(b) : std::nullopt);
    }
    if (o.json) {
        Emit(o, Value::Obj()
                    .Add("bus", Value::Num(t.bus))
                    .Add("address", Value::Num(t.address))
                    .Add("registers", ByteArray(bytes)));
        return 0;
    }
    std::printf("      0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n");
    PrintRows(0, bytes);
    return 0;
}

int Eeprom(const Options& o) {
    const std::vector<std::string>& a = o.args;
    if (a.size() < 4) return UsageError();
    const auto address = Number(a[2], 0x7F);
    const auto offset = Number(a[3], 0xFFFF);
    if (!address || !offset) return UsageError();
    const uint8_t addressByte = uint8_t(*address << 1);
    if (a[1] == "read") {
        const auto count = a.size() == 5 ? Number(a[4], kMaxEepromRead) : std::nullopt;
        if (!count) return UsageError();
        std::vector<uint8_t> data(*count);
        const VEK_RESULT r = VEK_SMBus_Read_EEPROM(addressByte, uint16_t(*offset), int32_t(*count), data.data());
        if (r != VEK_OK) return Failed("eeprom read", r);
        std::vector<std::optional<uint8_t>> shown(data.begin(), data.end());
        if (o.json) {
            Emit(o, Value::Obj()
                        .Add("address", Value::Num(*address))
                        .Add("offset", Value::Num(*offset))
                        .Add("data", ByteArray(shown)));
        } else {
            PrintRows(*offset, shown);
        }
        return 0;
    }
    if (a[1] == "write") {
        std::vector<uint8_t> data;
        for (size_t i = 4; i < a.size(); ++i) {
            const auto b = Number(a[i], 0xFF);
            if (!b) return UsageError();
            data.push_back(uint8_t(*b));
        }
        if (data.empty()) return UsageError();
        const VEK_RESULT r =
            VEK_SMBus_Write_EEPROM(addressByte, uint16_t(*offset), int32_t(data.size()), data.data());
        if (r != VEK_OK) return Failed("eeprom write", r);
        if (o.json)
            Emit(o, Value::Obj()
                        .Add("address", Value::Num(*address))
                        .Add("offset", Value::Num(*offset))
                        .Add("written", Value::Num(int64_t(data.size()))));
        else
            std::printf("%zu bytes written\n", data.size());
        return 0;
    }
    return UsageError();
}

} // namespace

int CmdBus(const Options& o, Session&) {
    const std::vector<std::string>& a = o.args;
    if (a.empty()) return UsageError();
    const std::string& sub = a[0];
    if (sub == "detect") {
        const auto bus = a.size() > 1 ? Number(a[1], 3) : std::optional<uint32_t>(0);
        if (!bus || a.size() > 2) return UsageError();
        return Detect(o, uint8_t(*bus));
    }
    if (sub == "eeprom") return Eeprom(o);
    if (a.size() < 3) return UsageError();
    const auto target = ParseTarget(a[1], a[2]);
    if (!target) return UsageError();
    if (sub == "dump") return a.size() == 3 ? Dump(o, *target) : UsageError();
    if (a.size() < 4) return UsageError();
    const auto reg = Number(a[3], 0xFF);
    if (!reg) return UsageError();
    if (sub == "get") {
        const auto word = ParseWidth(a, 4);
        if (!word || a.size() > 5) return UsageError();
        return Get(o, *target, *reg, *word);
    }
    if (sub == "set") {
        if (a.size() < 5) return UsageError();
        const auto word = ParseWidth(a, 5);
        const auto value = word ? Number(a[4], *word ? 0xFFFF : 0xFF) : std::nullopt;
        if (!word || !value || a.size() > 6) return UsageError();
        return Set(o, *target, *reg, *value, *word);
    }
    return UsageError();
}

} // namespace vekctl
