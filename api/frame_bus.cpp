// SMBus, numbered I2C buses and the EC_IIC family: validation and bus routing.
#include <cstring>

#include "api/frame.h"

using namespace vek;
using namespace vek::frame;

namespace {

constexpr uint32_t kMaxBus = 3;
constexpr uint8_t kMax7BitAddress = 127;
constexpr int32_t kMaxBlock = 32;
constexpr uint32_t kEcMasterBus = 1;
constexpr uint32_t kChipsetEcIicBus = 2; // ChipKind 4 serves the EC_IIC family on its bus 2
enum : uint32_t { DIR_WRITE = 0, DIR_READ = 1 };
enum : uint32_t { PROTO_BYTE = 0, PROTO_WORD = 1, PROTO_BLOCK = 2 };

// ---- SMBus (primary context's chipset controller) ----

uint32_t CheckSmbus() {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (Cap(CAP_SMBUS) == 0) return VEK_ERR_UNSUPPORTED;
    return VEK_OK;
}

// Runs an SMBus transaction if this build has the controller's transactions.
template <class Fn, class... Args>
uint32_t SmbusCall(Fn SmbusOps::*op, Args... args) {
    const SmbusOps* ops = Smbus();
    if (ops == nullptr || ops->*op == nullptr) return VEK_ERR_UNSUPPORTED;
    return (ops->*op)(Primary(), args...);
}

// ---- numbered I2C buses ----

enum class BusPath { Unavailable, Smbus, EcMaster, Owner };

struct BusRoute {
    BusPath path;
    DeviceContext* owner; // buses 2 and 3
};

BusRoute RouteBus(uint32_t bus) {
    const DeviceContext& p = Primary();
    const uint32_t* owners = p.i2cOwners;
    if (bus == 0) return {Cap(CAP_SMBUS) != 0 ? BusPath::Smbus : BusPath::Unavailable, nullptr};
    if (owners == nullptr) return {BusPath::Unavailable, nullptr};
    if (bus == kEcMasterBus)
        return {(owners[0] == KIND_EC || owners[2] == KIND_EC) ? BusPath::EcMaster : BusPath::Unavailable, nullptr};
    const uint32_t owner = owners[0] == OWNER_SPLIT ? owners[bus + 1] : owners[0];
    DeviceContext* ctx = nullptr;
    if (owner == p.chipKind) ctx = &Primary();
    else if (owner == p.secondaryKind) ctx = Secondary();
    // Buses 2 and 3 are the chipset backend's platform buses. An owner of another
    // kind (the EC on most EC boards) has no platform bus behind these numbers,
    // so the bus is not available there rather than run chipset routines on a
    // context whose backend area belongs to a different chip.
    if (ctx == nullptr || ctx->chipKind != KIND_CHIPSET) return {BusPath::Unavailable, nullptr};
    return {BusPath::Owner, ctx};
}

// Checks shared by the I2C exports except Quick; on success fills the route.
uint32_t CheckI2c(uint32_t direction, uint8_t bus, uint8_t address, BusRoute* route) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (address > kMax7BitAddress || direction > DIR_READ || bus > kMaxBus) return VEK_ERR_ARGUMENT;
    *route = RouteBus(bus);
    return route->path == BusPath::Unavailable ? VEK_ERR_UNSUPPORTED : VEK_OK;
}

uint8_t AddressByte(uint8_t address7) { return uint8_t(address7 << 1); }

// The EC's I2C master and the platform I2C buses are BackendOps routines: the
// EC backend's on bus 1, the chipset backend's on buses 2 and 3.
uint32_t EcMasterKind() { return KIND_EC; }

// ---- EC_IIC family: the primary's own I2C master ----

struct EcIicRoute {
    uint32_t kind; // 0 when unsupported
    uint32_t bus;
};

// EC boards use their EC's master; a ChipKind 4 primary its platform bus 2.
// An i2cOwners mode of 0, or 7 on a ChipKind 1 primary, names no master.
EcIicRoute RouteEcIic() {
    const DeviceContext& p = Primary();
    const uint32_t mode = OwnerMode(p.i2cOwners);
    if (mode == 0 || (mode == OWNER_SPLIT && p.chipKind == KIND_SIO1)) return {0, 0};
    if (IsEcKind(p.chipKind)) return {p.chipKind, kEcMasterBus};
    if (p.chipKind == KIND_CHIPSET) return {KIND_CHIPSET, kChipsetEcIicBus};
    return {0, 0};
}

uint32_t CheckEcIicLength(int32_t length) {
    return (length >= 1 && length <= kMaxBlock) ? VEK_OK : VEK_ERR_ARGUMENT;
}

uint32_t ProtocolForLength(int32_t length) { return length == 1 ? uint32_t(PROTO_BYTE) : uint32_t(PROTO_BLOCK); }

// Checks shared by the EC_IIC register transfers, then `transfer` under the
// lock. ecOnly: the 16-bit-register transfers exist on the EC's master only.
template <class Transfer>
uint32_t EcIicRegisterTransfer(const uint8_t* data, int32_t length, bool ecOnly, Transfer transfer) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (uint32_t r = CheckEcIicLength(length)) return r;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    const EcIicRoute route = RouteEcIic();
    if (ecOnly ? !IsEcKind(route.kind) : route.kind == 0) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return transfer(route);
}

} // namespace

extern "C" {

// ---------------------------------------------------------------- SMBus

VEK_RESULT VEK_CALL VEK_SMBus_Available(void) {
    if (uint32_t r = CheckSmbus()) return r;
    switch (Primary().smbus.located) {
    case 1: return VEK_OK;
    case 0: return VEK_ERR_STATE;
    default: return VEK_ERR_UNSUPPORTED;
    }
}

VEK_RESULT VEK_CALL VEK_SMBus_ByteData(int32_t direction, uint8_t address, uint8_t command, uint8_t* data) {
    if (uint32_t r = CheckSmbus()) return r;
    ApiLockGuard lock;
    if ((direction != DIR_READ && direction != DIR_WRITE) || data == nullptr) return VEK_ERR_ARGUMENT;
    return SmbusCall(&SmbusOps::byteData, uint32_t(direction), address, command, data);
}

VEK_RESULT VEK_CALL VEK_SMBus_WordData(int32_t direction, uint8_t address, uint8_t command, uint32_t* data) {
    if (uint32_t r = CheckSmbus()) return r;
    ApiLockGuard lock;
    if ((direction != DIR_READ && direction != DIR_WRITE) || data == nullptr) return VEK_ERR_ARGUMENT;
    return SmbusCall(&SmbusOps::wordData, uint32_t(direction), address, command, data);
}

VEK_RESULT VEK_CALL VEK_SMBus_ProcessCall(uint8_t address, uint8_t command, uint32_t* sent, uint32_t* received) {
    if (uint32_t r = CheckSmbus()) return r;
    ApiLockGuard lock;
    if (sent == nullptr || received == nullptr) return VEK_ERR_ARGUMENT;
    return SmbusCall(&SmbusOps::processCall, address, command, uint16_t(*sent), received);
}

// Read: the count goes to the start of the buffer as a 32-bit number and the
// data follow from byte 1, so byte 0 ends up holding the count (33 bytes needed).
VEK_RESULT VEK_CALL VEK_SMBus_Block(int32_t direction, uint8_t address, uint8_t command, int32_t count,
                                     uint8_t* buffer) {
    if (uint32_t r = CheckSmbus()) return r;
    ApiLockGuard lock;
    if ((direction != DIR_READ && direction != DIR_WRITE) || buffer == nullptr) return VEK_ERR_ARGUMENT;
    if (direction == DIR_WRITE)
        return SmbusCall(&SmbusOps::blockWrite, address, command, count, static_cast<const uint8_t*>(buffer));
    int32_t received = 0;
    uint8_t data[kMaxBlock] = {};
    const uint32_t result = SmbusCall(&SmbusOps::blockRead, address, command, &received, data);
    if (result == VEK_OK) {
        std::memcpy(buffer, &received, sizeof received);
        std::memcpy(buffer + 1, data, size_t(received));
    }
    return result;
}

VEK_RESULT VEK_CALL VEK_SMBus_Read_EEPROM(uint8_t address, uint16_t offset, int32_t count, uint8_t* buffer) {
    if (uint32_t r = CheckSmbus()) return r;
    ApiLockGuard lock;
    if (buffer == nullptr || count < 0) return VEK_ERR_ARGUMENT;
    return SmbusCall(&SmbusOps::eeprom, 0u, address, offset, count, buffer);
}

VEK_RESULT VEK_CALL VEK_SMBus_Write_EEPROM(uint8_t address, uint16_t offset, int32_t count, uint8_t* buffer) {
    if (uint32_t r = CheckSmbus()) return r;
    ApiLockGuard lock;
    if (buffer == nullptr || count < 0) return VEK_ERR_ARGUMENT;
    return SmbusCall(&SmbusOps::eeprom, 1u, address, offset, count, buffer);
}

VEK_RESULT VEK_CALL VEK_SMBus_SendReceive(int32_t direction, uint8_t address, uint8_t* data) {
    if (uint32_t r = CheckSmbus()) return r;
    ApiLockGuard lock;
    if ((direction != DIR_READ && direction != DIR_WRITE) || data == nullptr) return VEK_ERR_ARGUMENT;
    if (direction == DIR_READ) return SmbusCall(&SmbusOps::receiveByte, address, data);
    return SmbusCall(&SmbusOps::sendByte, address, *data);
}

// ---------------------------------------------------------------- I2C buses

VEK_RESULT VEK_CALL VEK_I2C_Quick(uint32_t direction, uint8_t bus, uint8_t address) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (direction == DIR_READ) return VEK_ERR_UNSUPPORTED; // no quick read on these buses
    if (bus > kMaxBus) return VEK_ERR_ARGUMENT;
    const BusRoute route = RouteBus(bus);
    if (route.path == BusPath::Unavailable) return VEK_ERR_UNSUPPORTED;
    const uint8_t addressByte = AddressByte(address);
    ApiLockGuard lock;
    switch (route.path) {
    case BusPath::Smbus: {
        uint32_t result = SmbusCall(&SmbusOps::quick, addressByte, uint32_t(DIR_WRITE));
        return (result == VEK_OK || result == VEK_ERR_UNSUPPORTED) ? result : VEK_ERR_WRITE;
    }
    case BusPath::EcMaster:
        return Call(&BackendOps::i2cQuick, EcMasterKind(), Primary(), kEcMasterBus, addressByte, uint32_t(DIR_WRITE));
    default:
        return Call(&BackendOps::i2cQuick, KIND_CHIPSET, *route.owner, uint32_t(bus), addressByte, direction);
    }
}

VEK_RESULT VEK_CALL VEK_I2C_ByteData(uint32_t direction, uint8_t bus, uint8_t address, uint32_t command,
                                       uint8_t* data) {
    BusRoute route;
    if (uint32_t r = CheckI2c(direction, bus, address, &route)) return r;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    const uint8_t addressByte = AddressByte(address);
    const bool read = direction == DIR_READ;
    ApiLockGuard lock;
    switch (route.path) {
    case BusPath::Smbus:
        return SmbusCall(&SmbusOps::byteData, direction, addressByte, uint8_t(command), data);
    case BusPath::EcMaster:
        return Call(read ? &BackendOps::i2cReadRegister : &BackendOps::i2cWriteRegister, EcMasterKind(), Primary(),
                    0u, uint32_t(PROTO_BYTE), kEcMasterBus, addressByte, command, 1u, data);
    default:
        return Call(read ? &BackendOps::i2cReadRegister : &BackendOps::i2cWriteRegister, KIND_CHIPSET,
                    *route.owner, 0u, uint32_t(PROTO_BYTE), uint32_t(bus), addressByte, command, 1u, data);
    }
}

VEK_RESULT VEK_CALL VEK_I2C_WordData(uint32_t direction, uint8_t bus, uint8_t address, uint32_t command,
                                       uint32_t* data) {
    BusRoute route;
    if (uint32_t r = CheckI2c(direction, bus, address, &route)) return r;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    const uint8_t addressByte = AddressByte(address);
    const bool read = direction == DIR_READ;
    ApiLockGuard lock;
    if (route.path == BusPath::Smbus)
        return SmbusCall(&SmbusOps::wordData, direction, addressByte, uint8_t(command), data);
    // The other masters move the word's two bytes, low byte first; a read
    // stores the word as 32 bits, as the SMBus path does.
    uint8_t bytes[2] = {uint8_t(*data), uint8_t(*data >> 8)};
    const auto routine = read ? &BackendOps::i2cReadRegister : &BackendOps::i2cWriteRegister;
    const uint32_t result =
        route.path == BusPath::EcMaster
            ? Call(routine, EcMasterKind(), Primary(), 0u, uint32_t(PROTO_WORD), kEcMasterBus, addressByte, command,
                   2u, bytes)
            : Call(routine, KIND_CHIPSET, *route.owner, 0u, uint32_t(PROTO_WORD), uint32_t(bus), addressByte,
                   command, 2u, bytes);
    if (read && result == VEK_OK) *data = uint32_t(bytes[1]) << 8 | bytes[0];
    return result;
}

VEK_RESULT VEK_CALL VEK_I2C_SendReceive(uint32_t direction, uint8_t bus, uint8_t address, uint8_t* data) {
    BusRoute route;
    if (uint32_t r = CheckI2c(direction, bus, address, &route)) return r;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    const uint8_t addressByte = AddressByte(address);
    const bool read = direction == DIR_READ;
    ApiLockGuard lock;
    switch (route.path) {
    case BusPath::Smbus:
        return read ? SmbusCall(&SmbusOps::receiveByte, addressByte, data)
                    : SmbusCall(&SmbusOps::sendByte, addressByte, *data);
    case BusPath::EcMaster:
        return read ? Call(&BackendOps::i2cReceiveByte, EcMasterKind(), Primary(), kEcMasterBus, addressByte, data)
                    : Call(&BackendOps::i2cSendByte, EcMasterKind(), Primary(), kEcMasterBus, addressByte, *data);
    default:
        return read ? Call(&BackendOps::i2cReceiveByte, KIND_CHIPSET, *route.owner, uint32_t(bus), addressByte, data)
                    : Call(&BackendOps::i2cSendByte, KIND_CHIPSET, *route.owner, uint32_t(bus), addressByte, *data);
    }
}

// The buffer holds the data from byte 0 for both directions. Over the EC master
// a write sends the count as the first byte (the caller's buffer is shifted up
// by one and must hold count + 1 bytes).
VEK_RESULT VEK_CALL VEK_I2C_SMBusBlock(uint32_t direction, uint8_t bus, uint8_t address, uint32_t command,
                                         int32_t* count, uint8_t* buffer) {
    BusRoute route;
    if (uint32_t r = CheckI2c(direction, bus, address, &route)) return r;
    if (count == nullptr || buffer == nullptr) return VEK_ERR_ARGUMENT;
    const bool read = direction == DIR_READ;
    if (!read && (*count < 0 || *count > kMaxBlock)) return VEK_ERR_ARGUMENT;
    const uint8_t addressByte = AddressByte(address);
    ApiLockGuard lock;
    switch (route.path) {
    case BusPath::Smbus:
        if (!read)
            return SmbusCall(&SmbusOps::blockWrite, addressByte, uint8_t(command), *count,
                             static_cast<const uint8_t*>(buffer));
        return SmbusCall(&SmbusOps::blockRead, addressByte, uint8_t(command), count, buffer);
    case BusPath::EcMaster: {
        if (!read) {
            const int32_t n = *count;
            std::memmove(buffer + 1, buffer, size_t(n));
            buffer[0] = uint8_t(n);
            return Call(&BackendOps::i2cWriteRegister, EcMasterKind(), Primary(), 0u, uint32_t(PROTO_BLOCK),
                        kEcMasterBus, addressByte, command, uint32_t(n + 1), buffer);
        }
        // The slave's first byte is its count; the caller's buffer holds 32
        // bytes, so the data are copied from the internal buffer (whose byte
        // 32 the master never fills and reads as 0).
        uint8_t raw[kMaxBlock + 1] = {};
        uint32_t result = Call(&BackendOps::i2cReadRegister, EcMasterKind(), Primary(), 0u, uint32_t(PROTO_BLOCK),
                               kEcMasterBus, addressByte, command, uint32_t(kMaxBlock), raw);
        if (result == VEK_ERR_UNSUPPORTED) return result;
        *count = raw[0];
        if (raw[0] > kMaxBlock) return VEK_ERR_READ;
        std::memcpy(buffer, raw + 1, raw[0]);
        return result;
    }
    default:
        if (!read)
            return Call(&BackendOps::i2cBlockWrite, KIND_CHIPSET, *route.owner, uint32_t(bus), addressByte,
                        uint8_t(command), uint32_t(*count), buffer);
        return Call(&BackendOps::i2cBlockRead, KIND_CHIPSET, *route.owner, uint32_t(bus), addressByte,
                    uint8_t(command), count, buffer);
    }
}

// Bus 0 takes the count and command as their low bytes: a read is cut to 32
// bytes, a longer write refused with 7. The other masters judge the count.
VEK_RESULT VEK_CALL VEK_I2C_SMBusI2CBlock(uint32_t direction, uint8_t bus, uint8_t address, uint32_t command,
                                            uint32_t count, uint8_t* buffer) {
    BusRoute route;
    if (uint32_t r = CheckI2c(direction, bus, address, &route)) return r;
    if (buffer == nullptr) return VEK_ERR_ARGUMENT;
    const uint8_t addressByte = AddressByte(address);
    const bool read = direction == DIR_READ;
    ApiLockGuard lock;
    switch (route.path) {
    case BusPath::Smbus:
        return read ? SmbusCall(&SmbusOps::i2cBlockRead, addressByte, uint8_t(command), uint8_t(count), buffer)
                    : SmbusCall(&SmbusOps::i2cBlockWrite, addressByte, uint8_t(command), uint8_t(count),
                                static_cast<const uint8_t*>(buffer));
    case BusPath::EcMaster:
        return Call(read ? &BackendOps::i2cReadRegister : &BackendOps::i2cWriteRegister, EcMasterKind(), Primary(),
                    0u, uint32_t(PROTO_BLOCK), kEcMasterBus, addressByte, command, count, buffer);
    default:
        return Call(read ? &BackendOps::i2cReadRegister : &BackendOps::i2cWriteRegister, KIND_CHIPSET,
                    *route.owner, 0u, uint32_t(PROTO_BLOCK), uint32_t(bus), addressByte, command, count, buffer);
    }
}

// ---------------------------------------------------------------- EC_IIC

VEK_RESULT VEK_CALL VEK_EC_IIC_Set_Frequency(int32_t frequency) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    const EcIicRoute r = RouteEcIic();
    if (r.kind == 0) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return Call(&BackendOps::i2cSetFrequency, r.kind, Primary(), r.bus, frequency);
}

VEK_RESULT VEK_CALL VEK_EC_IIC_Word_Addr_Write(uint8_t address, uint32_t reg, uint8_t* data, int32_t length) {
    return EcIicRegisterTransfer(data, length, true, [&](const EcIicRoute& r) {
        return Call(&BackendOps::i2cWordAddrWrite, r.kind, Primary(), address, reg, data, uint32_t(length));
    });
}

VEK_RESULT VEK_CALL VEK_EC_IIC_Word_Addr_Read(uint8_t address, uint32_t reg, uint8_t* data, int32_t length) {
    return EcIicRegisterTransfer(data, length, true, [&](const EcIicRoute& r) {
        return Call(&BackendOps::i2cWordAddrRead, r.kind, Primary(), address, reg, data, uint32_t(length));
    });
}

// Length 1 is a byte transfer, 2..32 a block transfer with an 8-bit register.
VEK_RESULT VEK_CALL VEK_EC_IIC_Byte_Addr_Write(uint8_t address, uint32_t reg, uint8_t* data, int32_t length) {
    return EcIicRegisterTransfer(data, length, false, [&](const EcIicRoute& r) {
        return Call(&BackendOps::i2cWriteRegister, r.kind, Primary(), 0u, ProtocolForLength(length), r.bus, address,
                    reg, uint32_t(length), data);
    });
}

VEK_RESULT VEK_CALL VEK_EC_IIC_Byte_Addr_Read(uint8_t address, uint32_t reg, uint8_t* data, int32_t length) {
    return EcIicRegisterTransfer(data, length, false, [&](const EcIicRoute& r) {
        return Call(&BackendOps::i2cReadRegister, r.kind, Primary(), 0u, ProtocolForLength(length), r.bus, address,
                    reg, uint32_t(length), data);
    });
}

VEK_RESULT VEK_CALL VEK_EC_IIC_Quick_Read(uint8_t address, uint32_t) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    const EcIicRoute r = RouteEcIic();
    if (r.kind == 0) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return Call(&BackendOps::i2cQuick, r.kind, Primary(), r.bus, address, uint32_t(DIR_READ));
}

VEK_RESULT VEK_CALL VEK_EC_IIC_Quick_Write(uint8_t address, uint32_t) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    const EcIicRoute r = RouteEcIic();
    if (r.kind == 0) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return Call(&BackendOps::i2cQuick, r.kind, Primary(), r.bus, address, uint32_t(DIR_WRITE));
}

VEK_RESULT VEK_CALL VEK_EC_IIC_Receive_Byte(uint8_t address, uint8_t* data) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    const EcIicRoute r = RouteEcIic();
    if (r.kind == 0) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return Call(&BackendOps::i2cReceiveByte, r.kind, Primary(), r.bus, address, data);
}

VEK_RESULT VEK_CALL VEK_EC_IIC_Send_Byte(uint8_t address, uint32_t data) {
    if (!Ready()) return VEK_ERR_NOT_INITIALISED;
    if (data > 0xFF) return VEK_ERR_ARGUMENT;
    const EcIicRoute r = RouteEcIic();
    if (r.kind == 0) return VEK_ERR_UNSUPPORTED;
    ApiLockGuard lock;
    return Call(&BackendOps::i2cSendByte, r.kind, Primary(), r.bus, address, uint8_t(data));
}

} // extern "C"
