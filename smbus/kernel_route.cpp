#include "smbus/kernel_route.h"

#include <algorithm>
#include <cstring>

#include "hal/hal.h"
#include "smbus/transactions.h"
#include "vek/vek.h"

namespace vek::smbus {
namespace {

struct Route {
    bool owned = false;       // a kernel driver owns the controller
    void* handle = nullptr;   // the platform's service, when it opened
    char owner[32] = {};
};
Route g_routes[2]; // primary, secondary

Route& RouteOf(const DeviceContext& ctx) { return g_routes[ctx.isSecondary ? 1 : 0]; }

void Release(Route& r) {
    const vek_host_platform& p = hal::Platform();
    if (r.handle != nullptr && p.smbus_close != nullptr) p.smbus_close(p.user, r.handle);
    r = Route{};
}

// One transfer through the service. Refusals (the adapter lacks the transfer,
// or a kernel client owns the address) are 10; bus failures keep the
// routine's own failure code, as the register path reports them.
uint32_t Run(const DeviceContext& ctx, uint8_t addressByte, vek_host_smbus_transfer& t, uint32_t failure) {
    const Route& r = RouteOf(ctx);
    const vek_host_platform& p = hal::Platform();
    if (r.handle == nullptr || p.smbus_transfer == nullptr) return VEK_ERR_UNSUPPORTED;
    switch (p.smbus_transfer(p.user, r.handle, uint8_t(addressByte >> 1), &t)) {
    case VEK_HOST_SMBUS_OK: return VEK_OK;
    case VEK_HOST_SMBUS_UNSUPPORTED:
    case VEK_HOST_SMBUS_REFUSED: return VEK_ERR_UNSUPPORTED;
    default: return failure;
    }
}

vek_host_smbus_transfer Transfer(uint8_t read, uint8_t kind, uint8_t command = 0, uint16_t word = 0) {
    vek_host_smbus_transfer t{};
    t.read = read;
    t.kind = kind;
    t.command = command;
    t.word = word;
    return t;
}

Flavour FlavourOfCtx(const DeviceContext& ctx) { return FlavourOf(ctx.chipsetId); }

// The same refusals as the register path (transfer kinds a controller
// flavour lacks, argument checks) come first, so both paths answer alike.

uint32_t Quick(DeviceContext& ctx, uint8_t addressByte, uint32_t direction) {
    if (FlavourOfCtx(ctx) == Flavour::Sch) return VEK_ERR_UNSUPPORTED;
    auto t = Transfer(direction == 1 ? 1 : 0, VEK_HOST_SMBUS_QUICK);
    return Run(ctx, addressByte, t, VEK_ERR_WRITE);
}

uint32_t ByteData(DeviceContext& ctx, uint32_t read, uint8_t addressByte, uint8_t command, uint8_t* data) {
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    auto t = Transfer(read ? 1 : 0, VEK_HOST_SMBUS_BYTE_DATA, command, read ? 0 : *data);
    const uint32_t result = Run(ctx, addressByte, t, read ? VEK_ERR_READ : VEK_ERR_WRITE);
    if (result == VEK_OK && read) *data = uint8_t(t.word);
    return result;
}

uint32_t WordData(DeviceContext& ctx, uint32_t read, uint8_t addressByte, uint8_t command, uint32_t* data) {
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    auto t = Transfer(read ? 1 : 0, VEK_HOST_SMBUS_WORD_DATA, command, read ? 0 : uint16_t(*data));
    const uint32_t result = Run(ctx, addressByte, t, read ? VEK_ERR_READ : VEK_ERR_WRITE);
    if (result == VEK_OK && read) *data = t.word;
    return result;
}

uint32_t ProcessCall(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint16_t sent, uint32_t* received) {
    if (received == nullptr) return VEK_ERR_ARGUMENT;
    if (FlavourOfCtx(ctx) == Flavour::Fch) return VEK_ERR_UNSUPPORTED;
    auto t = Transfer(0, VEK_HOST_SMBUS_PROC_CALL, command, sent);
    const uint32_t result = Run(ctx, addressByte, t, VEK_ERR_READ);
    if (result == VEK_OK) *received = t.word;
    return result;
}

uint32_t BlockRead(DeviceContext& ctx, uint8_t addressByte, uint8_t command, int32_t* count, uint8_t* data) {
    if (count == nullptr || data == nullptr) return VEK_ERR_ARGUMENT;
    auto t = Transfer(1, VEK_HOST_SMBUS_BLOCK_DATA, command);
    const uint32_t result = Run(ctx, addressByte, t, VEK_ERR_READ);
    if (result != VEK_OK) return result;
    const int32_t n = std::min<int32_t>(t.length, kMaxBlock);
    std::memcpy(data, t.block, size_t(n));
    *count = n;
    return VEK_OK;
}

uint32_t BlockWrite(DeviceContext& ctx, uint8_t addressByte, uint8_t command, int32_t count, const uint8_t* data) {
    if (count < 0 || count > kMaxBlock || data == nullptr) return VEK_ERR_ARGUMENT;
    auto t = Transfer(0, VEK_HOST_SMBUS_BLOCK_DATA, command);
    t.length = uint8_t(count);
    std::memcpy(t.block, data, size_t(count));
    return Run(ctx, addressByte, t, VEK_ERR_WRITE);
}

uint32_t I2cBlockRead(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint8_t count, uint8_t* data) {
    if (data == nullptr) return VEK_ERR_ARGUMENT;
    if (FlavourOfCtx(ctx) != Flavour::Ich) return VEK_ERR_UNSUPPORTED;
    if (count == 0) return VEK_ERR_ARGUMENT;
    auto t = Transfer(1, VEK_HOST_SMBUS_I2C_BLOCK, command);
    t.length = uint8_t(std::min<int>(count, kMaxBlock));
    const uint32_t result = Run(ctx, addressByte, t, VEK_ERR_READ);
    if (result == VEK_OK) std::memcpy(data, t.block, std::min<size_t>(t.length, size_t(std::min<int>(count, kMaxBlock))));
    return result;
}

uint32_t I2cBlockWrite(DeviceContext& ctx, uint8_t addressByte, uint8_t command, uint8_t count, const uint8_t* data) {
    if (FlavourOfCtx(ctx) != Flavour::Ich) return VEK_ERR_UNSUPPORTED;
    if (count > kMaxBlock || data == nullptr) return VEK_ERR_ARGUMENT;
    auto t = Transfer(0, VEK_HOST_SMBUS_I2C_BLOCK, command);
    t.length = count;
    std::memcpy(t.block, data, count);
    return Run(ctx, addressByte, t, VEK_ERR_WRITE);
}

uint32_t SendByte(DeviceContext& ctx, uint8_t addressByte, uint8_t value) {
    auto t = Transfer(0, VEK_HOST_SMBUS_BYTE, value);
    return Run(ctx, addressByte, t, VEK_ERR_WRITE);
}

uint32_t ReceiveByte(DeviceContext& ctx, uint8_t addressByte, uint8_t* value) {
    if (value == nullptr) return VEK_ERR_ARGUMENT;
    auto t = Transfer(1, VEK_HOST_SMBUS_BYTE);
    const uint32_t result = Run(ctx, addressByte, t, VEK_ERR_READ);
    if (result == VEK_OK) *value = uint8_t(t.word);
    return result;
}

// The two-byte-offset EEPROM sequence as SMBus transfers: a byte-data write of
// offset high (command) and low (data), then a receive byte; writes are one
// word-data write of offset high, offset low and the data byte.
uint32_t Eeprom(DeviceContext& ctx, uint32_t mode, uint8_t addressByte, uint16_t offset, int32_t count,
                uint8_t* buffer) {
    if (FlavourOfCtx(ctx) == Flavour::Fch) return VEK_ERR_UNSUPPORTED;
    if (mode > 1 || count <= 0) return VEK_OK;
    if (buffer == nullptr) return VEK_ERR_ARGUMENT;
    for (int32_t i = 0; i < count; ++i, ++offset) {
        const uint8_t high = uint8_t(offset >> 8), low = uint8_t(offset);
        if (mode == 0) {
            auto set = Transfer(0, VEK_HOST_SMBUS_BYTE_DATA, high, low);
            if (const uint32_t r = Run(ctx, addressByte, set, VEK_ERR_READ); r != VEK_OK) return r;
            auto get = Transfer(1, VEK_HOST_SMBUS_BYTE);
            if (const uint32_t r = Run(ctx, addressByte, get, VEK_ERR_READ); r != VEK_OK) return r;
            buffer[i] = uint8_t(get.word);
        } else {
            auto put = Transfer(0, VEK_HOST_SMBUS_WORD_DATA, high, uint16_t(low | buffer[i] << 8));
            if (const uint32_t r = Run(ctx, addressByte, put, VEK_ERR_READ); r != VEK_OK) return r;
        }
    }
    return VEK_OK;
}

constexpr SmbusOps kKernelOps{
    .quick = &Quick,
    .byteData = &ByteData,
    .wordData = &WordData,
    .processCall = &ProcessCall,
    .blockRead = &BlockRead,
    .blockWrite = &BlockWrite,
    .i2cBlockRead = &I2cBlockRead,
    .i2cBlockWrite = &I2cBlockWrite,
    .sendByte = &SendByte,
    .receiveByte = &ReceiveByte,
    .eeprom = &Eeprom,
};

// Where the controller's PCI function and register block are, in the
// platform's terms: the SCH map's base sits in the LPC bridge, not in an
// SMBus function of its own.
uint32_t LocationWord(const DeviceContext& ctx) {
    const bool sch = FlavourOfCtx(ctx) == Flavour::Sch;
    const uint32_t size = sch ? 0x40 : 0x20;
    return uint32_t(ctx.smbus.ioBase) | size << 16 | (sch ? 0x80000000u : 0);
}

} // namespace

void AttachKernelRoute(DeviceContext& ctx) {
    Route& r = RouteOf(ctx);
    Release(r);
    const vek_host_platform& p = hal::Platform();
    if (ctx.smbus.located != 1 || p.resource_owner == nullptr) return;
    const uint32_t pci = hal::PciAddress(ctx.smbus.pciBus, ctx.smbus.pciDevice, ctx.smbus.pciFunction);
    char owner[sizeof r.owner] = {};
    if (p.resource_owner(p.user, VEK_HOST_RES_SMBUS, pci, LocationWord(ctx), owner, sizeof owner) ==
        VEK_HOST_OWNER_NONE)
        return;
    r.owned = true;
    std::memcpy(r.owner, owner, sizeof owner);
    r.owner[sizeof r.owner - 1] = '\0';
    void* handle = nullptr;
    if (p.smbus_open != nullptr && p.smbus_transfer != nullptr &&
        p.smbus_open(p.user, pci, ctx.smbus.ioBase, &handle) == 0)
        r.handle = handle;
}

void ReleaseKernelRoutes() {
    for (Route& r : g_routes) Release(r);
}

const SmbusOps* KernelOps(const DeviceContext& ctx) { return RouteOf(ctx).owned ? &kKernelOps : nullptr; }

const char* KernelOwner(const DeviceContext& ctx) { return RouteOf(ctx).owner; }

} // namespace vek::smbus
