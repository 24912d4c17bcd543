// vekctl bus: SMBus and I2C in the manner of i2c-tools. Addresses are 7-bit
// (0x03..0x77) as i2cdetect prints them; numbers are hex with 0x or decimal.
//
//   vekctl bus detect [-y] BUS                   which addresses answer (i2cdetect)
//   vekctl bus get [-y] BUS ADDR [REG [b|w]]     read a register, or receive a byte (i2cget)
//   vekctl bus set [-y] [--force] BUS ADDR REG VALUE [b|w]   write a register (i2cset)
//   vekctl bus dump [-y] BUS ADDR                all 256 byte registers (i2cdump)
//   vekctl bus eeprom read [--force] ADDR OFFSET COUNT
//   vekctl bus eeprom write [-y] [--force] ADDR OFFSET BYTE...
//
// Bus 0 is the chipset SMBus controller, bus 1 the EC's I2C master, buses 2
// and 3 the platform I2C buses.
#include <cerrno>
#include <cstdlib>
#include <optional>

#include <fmt/core.h>

#include "tools/vekctl/vekctl.h"

namespace vekctl {

namespace {

constexpr uint32_t kLastBus = 3;
constexpr uint32_t kFirstAddress = 0x03;
constexpr uint32_t kLastAddress = 0x77;
constexpr uint32_t kRegisters = 256;
constexpr uint32_t kEepromSpace = 0x10000;
constexpr uint32_t kEepromChunk = 256;
// Memory-module SPD EEPROMs sit at 0x50..0x57 and take one-byte offsets.
constexpr uint32_t kSpdFirst = 0x50;
constexpr uint32_t kSpdLast = 0x57;

bool SpdRange(uint32_t addr) { return addr >= kSpdFirst && addr <= kSpdLast; }

uint32_t Value(const std::string& s) { return uint32_t(*ParseNumber(s, 0, UINT32_MAX)); }

// Present when a quick write (or, above, a receive byte) is answered. The SCH
// controller has no quick command; there a byte read stands in (it reports a
// NAK as an error).
VEK_RESULT Probe(uint8_t bus, uint8_t address) {
    if (ProbeByRead(address)) {
        uint8_t b = 0;
        return VEK_I2C_SendReceive(1, bus, address, &b);
    }
    VEK_RESULT r = VEK_I2C_Quick(0, bus, address);
    if (r == VEK_ERR_UNSUPPORTED && bus == 0) {
        uint8_t b = 0;
        r = VEK_I2C_ByteData(1, 0, address, 0, &b);
    }
    return r;
}

struct Args {
    bool yes = false;
    std::string bus, address, reg, value, mode;
    // eeprom
    std::string offset, count;
    std::vector<std::string> bytes;
    bool force = false;
};

int Detect(const Global& g, Session& session, const Args& a) {
    Run run(g, session.source(), "bus detect");
    const uint8_t bus = uint8_t(Value(a.bus));
    std::vector<uint32_t> present;
    Progress progress(fmt::format("scanning bus {}", bus), kLastAddress - kFirstAddress + 1);
    for (uint32_t addr = kFirstAddress; addr <= kLastAddress; ++addr) {
        progress.Step(addr - kFirstAddress);
        const VEK_RESULT r = Probe(bus, uint8_t(addr));
        if (r == VEK_ERR_UNSUPPORTED || r == VEK_ERR_NOT_INITIALISED || r == VEK_ERR_ARGUMENT) {
            run.Fail(fmt::format("bus {}", bus), r);
            break;
        }
        if (r == VEK_OK) present.push_back(addr);
    }
    return run.Finish(Json{{"bus", bus}, {"present", present}}, [&] {
        if (run.failed()) return;
        fmt::print("     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n");
        size_t next = 0;
        for (uint32_t row = 0; row < 0x80; row += 16) {
            fmt::print("{:02x}:", row);
            for (uint32_t addr = row; addr < row + 16; ++addr) {
                if (addr < kFirstAddress || addr > kLastAddress) fmt::print("   ");
                else if (next < present.size() && present[next] == addr) fmt::print(" {:02x}", present[next++]);
                else fmt::print(" --");
            }
            fmt::print("\n");
        }
    });
}

int Get(const Global& g, Session& session, const Args& a) {
    Run run(g, session.source(), "bus get");
    const uint8_t bus = uint8_t(Value(a.bus)), addr = uint8_t(Value(a.address));
    const bool word = a.mode == "w";
    uint32_t value = 0;
    VEK_RESULT r;
    if (a.reg.empty()) {
        uint8_t b = 0;
        r = VEK_I2C_SendReceive(1, bus, addr, &b);
        value = b;
    } else if (word) {
        r = VEK_I2C_WordData(1, bus, addr, Value(a.reg), &value);
    } else {
        uint8_t b = 0;
        r = VEK_I2C_ByteData(1, bus, addr, Value(a.reg), &b);
        value = b;
    }
    if (r != VEK_OK) run.Fail(fmt::format("bus {} address 0x{:02x}", bus, addr), r);
    Json data = {{"bus", bus}, {"address", addr}, {"register", a.reg.empty() ? Json(nullptr) : Json(Value(a.reg))},
                 {"width", word ? 16 : 8}, {"value", r == VEK_OK ? Json(value) : Json(nullptr)}};
    return run.Finish(data, [&] {
        if (r == VEK_OK) fmt::print("0x{:0{}x}\n", value, word ? 4 : 2);
    });
}

// Asked before a write on a terminal, as i2cset asks.
bool ConfirmWrite(const std::string& what, bool yes) {
    if (Confirm(what, yes)) return true;
    std::fprintf(stderr, "vekctl: aborted; nothing was written\n");
    return false;
}

int Set(const Global& g, Session& session, const Args& a) {
    const uint8_t bus = uint8_t(Value(a.bus)), addr = uint8_t(Value(a.address));
    if (!ConfirmWrite(fmt::format("write 0x{:x} to register 0x{:02x} of device 0x{:02x} on bus {}", Value(a.value),
                                  Value(a.reg), addr, bus),
                      a.yes))
        return kExitUsage;
    Run run(g, session.source(), "bus set");
    const bool word = a.mode == "w";
    uint32_t value = Value(a.value);
    VEK_RESULT r;
    if (word) {
        r = VEK_I2C_WordData(0, bus, addr, Value(a.reg), &value);
    } else {
        uint8_t b = uint8_t(value);
        r = VEK_I2C_ByteData(0, bus, addr, Value(a.reg), &b);
    }
    if (r != VEK_OK) run.Fail(fmt::format("bus {} address 0x{:02x}", bus, addr), r);
    return run.Finish(Json{{"bus", bus}, {"address", addr}, {"register", Value(a.reg)}, {"width", word ? 16 : 8},
                           {"value", value}, {"result", ResultJson(r)}},
                      nullptr);
}

// Sixteen bytes a row with their ASCII, as i2cdump prints; XX where a read failed.
void PrintRows(uint32_t first, const std::vector<std::optional<uint8_t>>& bytes) {
    fmt::print("      0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n");
    for (size_t i = 0; i < bytes.size(); i += 16) {
        std::string hex, ascii;
        for (size_t k = i; k < i + 16 && k < bytes.size(); ++k) {
            hex += bytes[k] ? fmt::format(" {:02x}", *bytes[k]) : " XX";
            ascii += bytes[k] && *bytes[k] >= 0x20 && *bytes[k] < 0x7F ? char(*bytes[k]) : bytes[k] ? '.' : 'X';
        }
        fmt::print("{:04x}:{:<48}    {}\n", first + i, hex, ascii);
    }
}

Json Bytes(const std::vector<std::optional<uint8_t>>& bytes) {
    Json list = Json::array();
    for (const auto& b : bytes) list.push_back(b ? Json(*b) : Json(nullptr));
    return list;
}

// A device that does not answer register 0 is not read further: on some
// controllers every missing answer costs a two-second time-out.
int Dump(const Global& g, Session& session, const Args& a) {
    Run run(g, session.source(), "bus dump");
    const uint8_t bus = uint8_t(Value(a.bus)), addr = uint8_t(Value(a.address));
    std::vector<std::optional<uint8_t>> bytes;
    Progress progress(fmt::format("reading 0x{:02x}", addr), kRegisters);
    for (uint32_t reg = 0; reg < kRegisters; ++reg) {
        progress.Step(reg);
        uint8_t b = 0;
        const VEK_RESULT r = VEK_I2C_ByteData(1, bus, addr, reg, &b);
        if (r != VEK_OK && reg == 0) {
            run.Fail(fmt::format("bus {} address 0x{:02x}", bus, addr), r);
            break;
        }
        bytes.push_back(r == VEK_OK ? std::optional<uint8_t>(b) : std::nullopt);
    }
    return run.Finish(Json{{"bus", bus}, {"address", addr}, {"registers", Bytes(bytes)}}, [&] {
        if (!bytes.empty()) PrintRows(0, bytes);
    });
}

int EepromRead(const Global& g, Session& session, const Args& a) {
    Run run(g, session.source(), "bus eeprom read");
    const uint32_t addr = Value(a.address), offset = Value(a.offset), count = Value(a.count);
    std::vector<std::optional<uint8_t>> bytes;
    Progress progress(fmt::format("reading EEPROM 0x{:02x}", addr), count);
    for (uint32_t done = 0; done < count;) {
        progress.Step(done);
        const uint32_t n = std::min(kEepromChunk, count - done);
        std::vector<uint8_t> chunk(n);
        const VEK_RESULT r = VEK_SMBus_Read_EEPROM(uint8_t(addr << 1), uint16_t(offset + done), int32_t(n), chunk.data());
        if (r != VEK_OK) {
            run.Fail(fmt::format("EEPROM 0x{:02x} offset 0x{:04x}", addr, offset + done), r);
            break;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        done += n;
    }
    return run.Finish(Json{{"address", addr}, {"offset", offset}, {"data", Bytes(bytes)}}, [&] {
        if (!bytes.empty()) PrintRows(offset, bytes);
    });
}

int EepromWrite(const Global& g, Session& session, const Args& a) {
    const uint32_t addr = Value(a.address), offset = Value(a.offset);
    if (!ConfirmWrite(fmt::format("write {} bytes at offset 0x{:04x} of the EEPROM at 0x{:02x}", a.bytes.size(), offset, addr), a.yes))
        return kExitUsage;
    Run run(g, session.source(), "bus eeprom write");
    std::vector<uint8_t> data;
    for (const std::string& b : a.bytes) data.push_back(uint8_t(Value(b)));
    const VEK_RESULT r = VEK_SMBus_Write_EEPROM(uint8_t(addr << 1), uint16_t(offset), int32_t(data.size()), data.data());
    if (r != VEK_OK) run.Fail(fmt::format("EEPROM 0x{:02x} offset 0x{:04x}", addr, offset), r);
    return run.Finish(Json{{"address", addr}, {"offset", offset}, {"written", r == VEK_OK ? data.size() : 0},
                           {"result", ResultJson(r)}},
                      [&] {
                          if (r == VEK_OK) fmt::print("{} bytes written\n", data.size());
                      });
}

template <class F>
void Bind(CLI::App* cmd, Action* action, std::shared_ptr<Args> args, F run) {
    cmd->callback([action, args, run] { *action = [args, run](const Global& g, Session& s) { return run(g, s, *args); }; });
}

} // namespace

void AddBus(Registry& r) {
    CLI::App* bus = r.app.add_subcommand("bus", "SMBus and I2C tools (i2cdetect, i2cget, i2cset, i2cdump)");
    bus->require_subcommand(1);
    bus->footer("Bus 0: chipset SMBus controller; 1: the EC's I2C master; 2, 3: platform I2C buses.\n"
                "Numbers are hex (0x..) or decimal. Writes ask for confirmation on a terminal unless -y;\n"
                "writes to 0x50..0x57 (memory-module SPD) need --force.");
    const auto busNumber = NumberIn(0, kLastBus);
    const auto address = NumberIn(kFirstAddress, kLastAddress);
    const auto reg = NumberIn(0, 0xFF);
    const auto mode = CLI::IsMember({"b", "w"});

    auto detect = std::make_shared<Args>();
    CLI::App* d = bus->add_subcommand("detect", "which addresses answer: detect [-y] BUS");
    d->add_flag("-y,--yes", detect->yes, "no questions (the default)");
    d->add_option("BUS", detect->bus, "bus 0..3")->required()->check(busNumber);
    Bind(d, r.action, detect, Detect);

    auto get = std::make_shared<Args>();
    CLI::App* gc = bus->add_subcommand("get", "read: get [-y] BUS ADDR [REG [b|w]] (no REG: receive byte)");
    gc->add_flag("-y,--yes", get->yes, "no questions (the default)");
    gc->add_option("BUS", get->bus, "bus 0..3")->required()->check(busNumber);
    gc->add_option("ADDR", get->address, "7-bit address")->required()->check(address);
    gc->add_option("REG", get->reg, "register 0..0xFF")->check(reg);
    gc->add_option("MODE", get->mode, "b byte (default), w word")->check(mode);
    Bind(gc, r.action, get, Get);

    auto set = std::make_shared<Args>();
    CLI::App* sc = bus->add_subcommand("set", "write: set [-y] BUS ADDR REG VALUE [b|w]");
    sc->add_flag("-y,--yes", set->yes, "do not ask for confirmation");
    sc->add_flag("--force", set->force, "allow writing to 0x50..0x57 (memory-module SPD)");
    sc->add_option("BUS", set->bus, "bus 0..3")->required()->check(busNumber);
    sc->add_option("ADDR", set->address, "7-bit address")->required()->check(address);
    sc->add_option("REG", set->reg, "register 0..0xFF")->required()->check(reg);
    sc->add_option("VALUE", set->value, "0..0xFF (b) or 0..0xFFFF (w)")->required()->check(NumberIn(0, 0xFFFF));
    sc->add_option("MODE", set->mode, "b byte (default), w word")->check(mode);
    sc->callback([a = r.action, set] {
        if (SpdRange(Value(set->address)) && !set->force)
            throw CLI::ValidationError("ADDR", fmt::format("0x{:02x} is in 0x50..0x57, where memory modules keep their SPD "
                                                           "EEPROM: a write there can leave the module unusable and the board "
                                                           "unable to boot; add --force if you are sure",
                                                           Value(set->address)));
        if (set->mode != "w" && Value(set->value) > 0xFF)
            throw CLI::ValidationError("VALUE", set->value + " does not fit a byte (use mode w for a word)");
        *a = [set](const Global& g, Session& s) { return Set(g, s, *set); };
    });

    auto dump = std::make_shared<Args>();
    CLI::App* dc = bus->add_subcommand("dump", "all byte registers: dump [-y] BUS ADDR");
    dc->add_flag("-y,--yes", dump->yes, "no questions (the default)");
    dc->add_option("BUS", dump->bus, "bus 0..3")->required()->check(busNumber);
    dc->add_option("ADDR", dump->address, "7-bit address")->required()->check(address);
    Bind(dc, r.action, dump, Dump);

    CLI::App* eeprom = bus->add_subcommand("eeprom", "serial EEPROMs with TWO-byte offsets on the chipset SMBus");
    eeprom->require_subcommand(1);
    eeprom->footer("These commands send a two-byte offset (24C32 and larger). A device with one-byte\n"
                   "offsets (24C02, memory-module SPD) takes the offset's low byte as data and\n"
                   "overwrites a byte even on a read, so addresses 0x50..0x57 (SPD) are refused\n"
                   "unless --force says the device there takes two-byte offsets.");
    auto spdCheck = [](const std::shared_ptr<Args>& a) {
        if (SpdRange(Value(a->address)) && !a->force)
            throw CLI::ValidationError("ADDR", fmt::format("0x{:02x} is in the SPD range 0x50..0x57: a memory module's SPD "
                                                           "EEPROM takes one-byte offsets and would take the offset as data "
                                                           "(a write can leave the module unusable); add --force if the "
                                                           "device there takes two-byte offsets",
                                                           Value(a->address)));
    };
    auto rd = std::make_shared<Args>();
    CLI::App* rc = eeprom->add_subcommand("read", "read [--force] ADDR OFFSET COUNT");
    rc->add_flag("--force", rd->force, "allow 0x50..0x57");
    rc->add_option("ADDR", rd->address, "7-bit address")->required()->check(address);
    rc->add_option("OFFSET", rd->offset, "0..0xFFFF")->required()->check(NumberIn(0, kEepromSpace - 1));
    rc->add_option("COUNT", rd->count, "bytes 1..0x10000")->required()->check(NumberIn(1, kEepromSpace));
    rc->callback([a = r.action, rd, spdCheck] {
        spdCheck(rd);
        if (Value(rd->offset) + Value(rd->count) > kEepromSpace)
            throw CLI::ValidationError("COUNT", "OFFSET + COUNT runs past 0xFFFF");
        *a = [rd](const Global& g, Session& s) { return EepromRead(g, s, *rd); };
    });
    auto wr = std::make_shared<Args>();
    CLI::App* wc = eeprom->add_subcommand("write", "write [--force] ADDR OFFSET BYTE...");
    wc->add_flag("--force", wr->force, "allow 0x50..0x57");
    wc->add_flag("-y,--yes", wr->yes, "do not ask for confirmation");
    wc->add_option("ADDR", wr->address, "7-bit address")->required()->check(address);
    wc->add_option("OFFSET", wr->offset, "0..0xFFFF")->required()->check(NumberIn(0, kEepromSpace - 1));
    wc->add_option("BYTE", wr->bytes, "bytes 0..0xFF")->required()->check(NumberIn(0, 0xFF));
    wc->callback([a = r.action, wr, spdCheck] {
        spdCheck(wr);
        if (Value(wr->offset) + wr->bytes.size() > kEepromSpace)
            throw CLI::ValidationError("BYTE", "the bytes run past offset 0xFFFF");
        *a = [wr](const Global& g, Session& s) { return EepromWrite(g, s, *wr); };
    });
}

} // namespace vekctl
