// libFuzzer target: the input picks a simulated board (any platform row, so
// every chip kind the table names, secondary chips included) and a sequence of
// export calls with their arguments. Pointers are null or point at heap
// buffers of exactly the size the call's arguments promise, so a read or write
// past a caller's buffer is caught by AddressSanitizer. Every call must return
// one of the library's result codes.
//
// Input layout: u16 row index, u8 board flags, then per call u8 export index
// followed by the bytes its arguments consume. A call count past the input's
// end reads zeros.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/platform_table.h"
#include "sim/attached.h"
#include "sim/board.h"
#include "vek/vek.h"

namespace {

constexpr int kMaxCallsPerInput = 48;
constexpr uint32_t kMaxBuffer = 4096;
constexpr uint32_t kTextBytes = 80; // identity and EC text outputs (the interface's size)
constexpr uint32_t kSmbusBlockReadBytes = 33;
constexpr uint32_t kI2cBlockBytes = 32;
constexpr uint32_t kCurvePoints = 8; // smart-fan arrays, at their largest

uint64_t g_calls = 0;

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ >= end_; }
    template <class T>
    T get() {
        T v{};
        const size_t n = std::min(sizeof(T), size_t(end_ - p_));
        std::memcpy(&v, p_, n);
        p_ += n;
        return v;
    }
    uint8_t b() { return get<uint8_t>(); }
    uint32_t u() { return get<uint32_t>(); }
    int32_t i() { return get<int32_t>(); }
    double d() { return get<double>(); }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// Heap buffers for one call, freed after it.
class Arena {
public:
    ~Arena() {
        for (void* p : owned_) std::free(p);
    }
    // Null when the input says so, else exactly `bytes` bytes (0 allowed).
    void* Buffer(Input& in, uint32_t bytes) {
        if ((in.b() & 7) == 0) return nullptr;
        bytes = bytes > kMaxBuffer ? kMaxBuffer : bytes;
        void* p = std::malloc(bytes ? bytes : 1);
        if (bytes == 0) {
            // malloc(1) keeps one usable byte; a zero-byte buffer must have none.
            std::free(p);
            p = std::malloc(0);
        }
        if (p && bytes) std::memset(p, in.b(), bytes);
        owned_.push_back(p);
        return p;
    }
    template <class T>
    T* Out(Input& in, uint32_t count = 1) {
        return static_cast<T*>(Buffer(in, uint32_t(sizeof(T)) * count));
    }
    uint8_t* Bytes(Input& in, int64_t count) { return static_cast<uint8_t*>(Buffer(in, count < 0 ? 0 : uint32_t(count))); }
    char* Text(Input& in) { return static_cast<char*>(Buffer(in, kTextBytes)); }

private:
    std::vector<void*> owned_;
};

using Call = VEK_RESULT (*)(Input&, Arena&);

// clang-format off
const Call kCalls[] = {
    [](Input&, Arena&) { return VEK_API_Init(); },
    [](Input&, Arena&) { return VEK_API_Uninit(); },
    [](Input& in, Arena& m) { return VEK_API_GetVersion(m.Text(in)); },
    [](Input& in, Arena&) { return VEK_API_SetIOSleepTime(in.i() % 20000); },
    [](Input& in, Arena& m) { return VEK_Board_GetBIOSVersion(m.Text(in)); },
    [](Input& in, Arena& m) { return VEK_Board_GetPlatformName(m.Text(in)); },
    [](Input& in, Arena& m) { return VEK_Board_GetBIOSVendor(m.Text(in)); },
    [](Input& in, Arena& m) { return VEK_Board_GetECVersion(m.Text(in)); },
    [](Input& in, Arena& m) { int32_t item = in.i(); return VEK_Board_GetECInfo(item, m.Text(in)); },
    [](Input& in, Arena& m) { return VEK_Board_GetSerialNumber(m.Text(in)); },
    [](Input& in, Arena& m) { return VEK_Board_GetPlatformType(m.Text(in)); },
    [](Input& in, Arena& m) { return VEK_Get_Boot_Counter(m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) { return VEK_Get_Platform_Version(m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) { return VEK_GPIO_TotalSet(m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) { int32_t s = in.i(); return VEK_GPIO_TotalNumber(s, m.Out<uint32_t>(in)); },
    [](Input& in, Arena&) { int32_t s = in.i(); return VEK_GPIO_SetDirection(s, in.b()); },
    [](Input& in, Arena&) { int32_t s = in.i(), p = in.i(); return VEK_GPIO_SetPinDirection(s, p, in.b()); },
    [](Input& in, Arena& m) { int32_t s = in.i(); return VEK_GPIO_ReadDirection(s, m.Out<uint8_t>(in)); },
    [](Input& in, Arena& m) { int32_t s = in.i(), p = in.i(); return VEK_GPIO_ReadPinDirection(s, p, m.Out<uint8_t>(in)); },
    [](Input& in, Arena& m) { int32_t s = in.i(); return VEK_GPIO_Read(s, m.Out<uint8_t>(in)); },
    [](Input& in, Arena& m) { int32_t s = in.i(), p = in.i(); return VEK_GPIO_ReadPin(s, p, m.Out<uint8_t>(in)); },
    [](Input& in, Arena&) { int32_t s = in.i(); return VEK_GPIO_Write(s, in.b()); },
    [](Input& in, Arena&) { int32_t s = in.i(), p = in.i(); return VEK_GPIO_WritePin(s, p, in.b()); },
    [](Input&, Arena&) { return VEK_WDT_Available(); },
    [](Input& in, Arena& m) { uint32_t u = in.u(); uint8_t* lo = m.Out<uint8_t>(in); return VEK_WDT_GetRange(u, lo, m.Out<uint8_t>(in)); },
    [](Input& in, Arena&) { uint32_t u = in.u(); return VEK_WDT_SetConfig(u, in.b()); },
    [](Input& in, Arena& m) { uint32_t* u = m.Out<uint32_t>(in); return VEK_WDT_GetConfig(u, m.Out<uint8_t>(in)); },
    [](Input&, Arena&) { return VEK_WDT_Trigger(); },
    [](Input&, Arena&) { return VEK_WDT_Disable(); },
    [](Input& in, Arena& m) { uint32_t x = in.u(); return VEK_HWM_CPUTemperature(x, m.Out<double>(in)); },
    [](Input& in, Arena& m) { return VEK_HWM_SysTemperature(m.Out<double>(in)); },
    [](Input& in, Arena& m) { uint32_t x = in.u(); return VEK_HWM_Temperature(x, m.Out<double>(in)); },
    [](Input& in, Arena& m) { uint32_t x = in.u(); return VEK_HWM_Voltage(x, m.Out<double>(in)); },
    [](Input& in, Arena& m) { uint32_t x = in.u(); return VEK_HWM_Current(x, m.Out<double>(in)); },
    [](Input& in, Arena& m) { uint32_t x = in.u(); return VEK_HWM_GetFanSpeed(x, m.Out<uint32_t>(in)); },
    [](Input& in, Arena&) { uint32_t x = in.u(); return VEK_HWM_SetFanSpeed(x, in.i()); },
    [](Input& in, Arena& m) {
        uint32_t f = in.u();
        // The backend gives b and c their meaning; the largest is an eight-point
        // curve (temperatures in b, duties in c).
        uint32_t* a = m.Out<uint32_t>(in); uint32_t* b = m.Out<uint32_t>(in, kCurvePoints);
        uint32_t* c = m.Out<uint32_t>(in, kCurvePoints); uint32_t* d = m.Out<uint32_t>(in);
        return VEK_HWM_GetSmartfan(f, a, b, c, d);
    },
    [](Input& in, Arena& m) {
        uint32_t f = in.u(); int32_t mode = in.i();
        uint8_t* a = m.Out<uint8_t>(in, kCurvePoints); int32_t* b = m.Out<int32_t>(in, kCurvePoints);
        return VEK_HWM_SetSmartfan(f, mode, a, b, in.i());
    },
    [](Input& in, Arena&) { return VEK_HWM_Smartfan_Enable(in.u()); },
    [](Input& in, Arena&) { return VEK_HWM_Smartfan_Disable(in.u()); },
    [](Input& in, Arena&) { return VEK_HWM_SetMetronome(in.i()); },
    [](Input& in, Arena&) { uint32_t o = in.u(), d = in.u(), s = in.u(); return VEK_HWM_PlayNote(o, d, s, in.d()); },
    [](Input& in, Arena&) { double hz = in.d(); return VEK_HWM_SetBeep(hz, in.i()); },
    [](Input& in, Arena&) { return VEK_HWM_StartBeep(in.d()); },
    [](Input&, Arena&) { return VEK_HWM_StopBeep(); },
    [](Input&, Arena&) { return VEK_SMBus_Available(); },
    [](Input& in, Arena& m) { int32_t dir = in.i(); uint8_t a = in.b(), c = in.b(); return VEK_SMBus_ByteData(dir, a, c, m.Out<uint8_t>(in)); },
    [](Input& in, Arena& m) { int32_t dir = in.i(); uint8_t a = in.b(), c = in.b(); return VEK_SMBus_WordData(dir, a, c, m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) { uint8_t a = in.b(), c = in.b(); uint32_t* s = m.Out<uint32_t>(in); return VEK_SMBus_ProcessCall(a, c, s, m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) {
        int32_t dir = in.i(); uint8_t a = in.b(), c = in.b(); int32_t count = in.i();
        uint8_t* buf = m.Bytes(in, dir == 1 ? kSmbusBlockReadBytes : count);
        return VEK_SMBus_Block(dir, a, c, count, buf);
    },
    [](Input& in, Arena& m) { uint8_t a = in.b(); uint16_t o = in.get<uint16_t>(); int32_t n = in.i() % 1024; return VEK_SMBus_Read_EEPROM(a, o, n, m.Bytes(in, n)); },
    [](Input& in, Arena& m) { uint8_t a = in.b(); uint16_t o = in.get<uint16_t>(); int32_t n = in.i() % 1024; return VEK_SMBus_Write_EEPROM(a, o, n, m.Bytes(in, n)); },
    [](Input& in, Arena& m) { int32_t dir = in.i(); uint8_t a = in.b(); return VEK_SMBus_SendReceive(dir, a, m.Out<uint8_t>(in)); },
    [](Input& in, Arena&) { uint32_t dir = in.u(); uint8_t bus = in.b(); return VEK_I2C_Quick(dir, bus, in.b()); },
    [](Input& in, Arena& m) { uint32_t dir = in.u(); uint8_t bus = in.b(), a = in.b(); uint32_t c = in.u(); return VEK_I2C_ByteData(dir, bus, a, c, m.Out<uint8_t>(in)); },
    [](Input& in, Arena& m) { uint32_t dir = in.u(); uint8_t bus = in.b(), a = in.b(); uint32_t c = in.u(); return VEK_I2C_WordData(dir, bus, a, c, m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) { uint32_t dir = in.u(); uint8_t bus = in.b(), a = in.b(); return VEK_I2C_SendReceive(dir, bus, a, m.Out<uint8_t>(in)); },
    [](Input& in, Arena& m) {
        uint32_t dir = in.u(); uint8_t bus = in.b(), a = in.b(); uint32_t c = in.u();
        int32_t* count = m.Out<int32_t>(in);
        if (count) *count = in.i();
        // A read fills at most one SMBus block; a write sends the count's bytes.
        uint8_t* buf = m.Bytes(in, dir == 1 ? kI2cBlockBytes : (count ? *count : 0));
        return VEK_I2C_SMBusBlock(dir, bus, a, c, count, buf);
    },
    [](Input& in, Arena& m) { uint32_t dir = in.u(); uint8_t bus = in.b(), a = in.b(); uint32_t c = in.u(), n = in.u(); return VEK_I2C_SMBusI2CBlock(dir, bus, a, c, n, m.Bytes(in, n & 0xFF)); },
    [](Input& in, Arena& m) { uint8_t a = in.b(); uint32_t r = in.u(); int32_t n = in.i() % 256; return VEK_EC_IIC_Word_Addr_Write(a, r, m.Bytes(in, n), n); },
    [](Input& in, Arena& m) { uint8_t a = in.b(); uint32_t r = in.u(); int32_t n = in.i() % 256; return VEK_EC_IIC_Word_Addr_Read(a, r, m.Bytes(in, n), n); },
    [](Input& in, Arena& m) { uint8_t a = in.b(); uint32_t r = in.u(); int32_t n = in.i() % 256; return VEK_EC_IIC_Byte_Addr_Write(a, r, m.Bytes(in, n), n); },
    [](Input& in, Arena& m) { uint8_t a = in.b(); uint32_t r = in.u(); int32_t n = in.i() % 256; return VEK_EC_IIC_Byte_Addr_Read(a, r, m.Bytes(in, n), n); },
    [](Input& in, Arena&) { return VEK_EC_IIC_Set_Frequency(in.i()); },
    [](Input& in, Arena&) { uint8_t a = in.b(); return VEK_EC_IIC_Quick_Read(a, in.u()); },
    [](Input& in, Arena&) { uint8_t a = in.b(); return VEK_EC_IIC_Quick_Write(a, in.u()); },
    [](Input& in, Arena& m) { uint8_t a = in.b(); return VEK_EC_IIC_Receive_Byte(a, m.Out<uint8_t>(in)); },
    [](Input& in, Arena&) { uint8_t a = in.b(); return VEK_EC_IIC_Send_Byte(a, in.u()); },
    [](Input& in, Arena& m) { uint32_t d = in.u(); return VEK_BLC_Read_Brightness(d, m.Out<uint8_t>(in)); },
    [](Input& in, Arena&) { uint32_t d = in.u(); return VEK_BLC_Set_Brightness(d, in.b()); },
    [](Input& in, Arena&) { return VEK_BLC_Change_Brightness(in.u()); },
    [](Input& in, Arena&) { uint32_t s = in.u() % 3; return VEK_Screen_Set(s, in.b() % 3); },
    [](Input& in, Arena& m) { uint8_t d = in.b(), c = in.b(); return VEK_EC_SmartBattery(d, c, m.Bytes(in, 64)); },
    [](Input& in, Arena&) { uint32_t a = in.u(), b = in.u(); return VEK_EC_SMF_Config(a, b, in.i()); },
    [](Input&, Arena&) { return VEK_EC_SMF_Enable(); },
    [](Input&, Arena&) { return VEK_EC_SMF_Disable(); },
    [](Input& in, Arena& m) {
        uint32_t* a = m.Out<uint32_t>(in); uint32_t* b = m.Out<uint32_t>(in);
        uint32_t* c = m.Out<uint32_t>(in); uint32_t* d = m.Out<uint32_t>(in);
        return VEK_EC_SMF_GetConfig(a, b, c, d);
    },
    [](Input& in, Arena&) { int32_t s = in.i(); uint32_t it = in.u(); return VEK_LANBYPASS_Mode_Set(s, it, in.i()); },
    [](Input& in, Arena& m) { uint32_t s = in.u(), it = in.u(); return VEK_LANBYPASS_Mode_Get(s, it, m.Out<uint32_t>(in)); },
    [](Input& in, Arena&) { return VEK_LANBYPASS_WDT_Trigger(in.i()); },
    [](Input& in, Arena&) { return VEK_LANBYPASS_WDT_Disable(in.i()); },
    [](Input& in, Arena&) { uint32_t l = in.u(); return VEK_LED_Set(l, in.u()); },
    [](Input& in, Arena& m) { uint32_t l = in.u(); return VEK_LED_Get(l, m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) { uint32_t b = in.u(); return VEK_Button_Get(b, m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) { uint32_t a = in.u(); return VEK_StorageArea_Capacity(a, m.Out<uint32_t>(in)); },
    [](Input& in, Arena& m) { uint32_t a = in.u(), o = in.u(); int32_t n = in.i() % 4096; return VEK_StorageArea_Write(a, o, m.Bytes(in, n), n); },
    [](Input& in, Arena& m) { uint32_t a = in.u(), o = in.u(); int32_t n = in.i() % 4096; return VEK_StorageArea_Read(a, o, m.Bytes(in, n), n); },
    [](Input& in, Arena& m) { uint32_t s = in.u(); int32_t it = in.i(); return VEK_PMBus_Get(s, it, m.Out<uint32_t>(in)); },
};
// clang-format on
static_assert(std::size(kCalls) == 88, "every export once");

bool Defined(VEK_RESULT r) {
    // 0..17 except 13; the EC master's byte read reports 0x800 | mailbox status.
    return (r <= 17 && r != 13) || (r & ~0xFFu) == 0x800;
}

void PrintCalls() { std::fprintf(stderr, "vek fuzz: %llu export calls\n", static_cast<unsigned long long>(g_calls)); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(PrintCalls);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    const vek::PlatformEntry& row = vek::kPlatformTable[in.get<uint16_t>() % std::size(vek::kPlatformTable)];
    const uint8_t flags = in.b();
    vek::sim::Board board(row);
    vek::sim::Machine& machine = board.machine();
    machine.SetTraceEnabled(false);
    // Board conditions: a driver that needs starting without elevation, a
    // failing identity query, a missing ZKEC device.
    if (flags & 1) machine.SetElevated(false);
    if (flags & 2) machine.SetIdentityFailing(VEK_HOST_ID_SERIAL, true);
    if (flags & 4) machine.SetZkecPresent(false);
    // No delay service: the library spins on a 1 GHz counter itself (each
    // counter read costs 1 ms of virtual time, so long waits stay cheap).
    if (flags & 16) {
        machine.SetDelayService(false);
        machine.SetCounterFrequency(1'000'000'000);
        machine.SetCounterReadCost(1'000'000);
    }
    vek::sim::Attached attached(board);
    if (!attached.ok()) std::abort();
    if (!(flags & 8)) VEK_API_Init();
    for (int n = 0; n < kMaxCallsPerInput && !in.empty(); ++n) {
        const Call call = kCalls[in.b() % std::size(kCalls)];
        Arena arena;
        const VEK_RESULT r = call(in, arena);
        ++g_calls;
        if (!Defined(r)) {
            std::fprintf(stderr, "undefined result %u\n", r);
            std::abort();
        }
    }
    return 0;
}
