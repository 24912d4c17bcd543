// The compiled-in board list. Rows that share a board id sit on the same mainboard
// and differ only in the product name its firmware reports; the backends key their
// per-board pin, sensor and register maps on the board id alone.

#include "platform/platform_table.h"

#include <cstring>
#include <initializer_list>

namespace vek {
namespace {

// cpuTempOwner value for the temperature sensor at address byte 0x98 on the chipset
// SMBus, used where the board's own chip has no CPU sensor. (Not usable on a
// ChipKind 2 board: an owner equal to the row's own kind means "main chip".)
constexpr uint32_t CPU_TEMP_SMBUS_SENSOR = 2;

// Items first..last of an owner list (fans, voltages, sensors) go to `kind`.
struct Owner {
    uint32_t first;
    uint32_t last;
    uint32_t kind;
};

constexpr Owner Item(uint32_t item, uint32_t kind) { return {item, item, kind}; }
constexpr Owner Items(uint32_t first, uint32_t last, uint32_t kind) { return {first, last, kind}; }

// Entry 0 of an owner list is the mode; item i lives in entry i + 1. An item past
// the end of the list is an out-of-bounds write, which stops the constant evaluation.
template <size_t W>
constexpr void SetOwnerList(uint32_t (&list)[W], uint32_t mode,
                            std::initializer_list<Owner> items) {
    list[0] = mode;
    for (const Owner& o : items)
        for (uint32_t i = o.first; i <= o.last; ++i) list[i + 1] = o.kind;
}

// Builds one row. A fresh row says "the main chip serves everything"; the calls
// chained after it name what differs on the board.
class Row {
public:
    template <size_t N>
    constexpr Row(const char (&name)[N], uint32_t board, uint32_t chipset, uint32_t kind,
                  uint32_t subtype) {
        static_assert(N <= sizeof(PlatformEntry::name), "model name does not fit the row");
        for (size_t i = 0; i + 1 < N; ++i) e_.name[i] = name[i];
        e_.boardId = board;
        e_.chipsetId = chipset;
        e_.chipKind = kind;
        e_.subtype = subtype;
        // The EC boards route buses 2 and 3 to the EC; no other chip claims them
        // unless the row says so. Bus 0 is always the chipset SMBus.
        e_.i2cOwners[0] = kind == KIND_EC ? KIND_EC : I2C_NO_OWNER;
        for (size_t bus = 1; bus <= 3; ++bus) e_.i2cOwners[bus + 1] = I2C_NO_OWNER;
    }

    constexpr Row Second(uint32_t kind, uint32_t subtype) const {
        Row r = *this;
        r.e_.secondaryKind = kind;
        r.e_.secondarySubtype = subtype;
        return r;
    }
    constexpr Row Gpio(uint32_t owner) const {
        Row r = *this;
        r.e_.gpioOwner = owner;
        return r;
    }
    constexpr Row Wdt(uint32_t owner) const {
        Row r = *this;
        r.e_.wdtOwner = owner;
        return r;
    }
    constexpr Row CpuTemp(uint32_t owner) const {
        Row r = *this;
        r.e_.cpuTempOwner = owner;
        return r;
    }
    constexpr Row Led(uint32_t owner) const {
        Row r = *this;
        r.e_.ledOwner = owner;
        return r;
    }
    constexpr Row Fans(uint32_t mode, std::initializer_list<Owner> items = {}) const {
        Row r = *this;
        SetOwnerList(r.e_.fanOwners, mode, items);
        return r;
    }
    constexpr Row Voltages(uint32_t mode, std::initializer_list<Owner> items = {}) const {
        Row r = *this;
        SetOwnerList(r.e_.voltageOwners, mode, items);
        return r;
    }
    constexpr Row Temps(uint32_t mode, std::initializer_list<Owner> items = {}) const {
        Row r = *this;
        SetOwnerList(r.e_.tempOwners, mode, items);
        return r;
    }
    constexpr Row I2c(uint32_t owner) const {
        Row r = *this;
        r.e_.i2cOwners[0] = owner;
        return r;
    }
    // Buses 1..3 each with their own owner (bus 0 stays the chipset SMBus).
    constexpr Row I2cSplit(uint32_t bus1, uint32_t bus2, uint32_t bus3) const {
        Row r = *this;
        r.e_.i2cOwners[0] = OWNER_SPLIT;
        r.e_.i2cOwners[2] = bus1;
        r.e_.i2cOwners[3] = bus2;
        r.e_.i2cOwners[4] = bus3;
        return r;
    }

    constexpr operator PlatformEntry() const { return e_; }

private:
    PlatformEntry e_{};
};

template <size_t N>
constexpr Row Ec(const char (&name)[N], uint32_t board, uint32_t chipset, uint32_t subtype) {
    return Row(name, board, chipset, KIND_EC, subtype);
}
template <size_t N>
constexpr Row Sio1(const char (&name)[N], uint32_t board, uint32_t chipset, uint32_t subtype) {
    return Row(name, board, chipset, KIND_SIO1, subtype);
}
template <size_t N>
constexpr Row Sio2(const char (&name)[N], uint32_t board, uint32_t chipset, uint32_t subtype) {
    return Row(name, board, chipset, KIND_SIO2, subtype);
}
template <size_t N>
constexpr Row Sio5(const char (&name)[N], uint32_t board, uint32_t chipset, uint32_t subtype) {
    return Row(name, board, chipset, KIND_SIO5, subtype);
}
template <size_t N>
constexpr Row Chipset(const char (&name)[N], uint32_t board, uint32_t chipset, uint32_t subtype) {
    return Row(name, board, chipset, KIND_CHIPSET, subtype);
}

} // namespace

// Each row reads Kind("model name", board id, chipset id, subtype), Kind being the
// main chip (Ec 3, Sio1 1, Sio2 2, Sio5 5, Chipset 4), followed by the second chip
// and the owners that differ from "the main chip serves everything".
//
// Searched first to last and the first row whose name prefixes the product name
// wins, so a name that prefixes another one ("QX-7100", "QX-7100-E") comes after it.
// clang-format off
constexpr PlatformEntry kPlatformTable[] = {
    // First-generation fanless controllers; from the NRB-220 on, GPIO, watchdog and
    // sensors sit in EC memory behind the indirect interface. Nothing serves I2C
    // buses 2 and 3 on these boards.
    Ec("NRB-105A",           5,           1, 0).I2c(I2C_NO_OWNER),
    Ec("NRB-220 V2",         6,           0, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-220",            6,           0, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-226",            6,           0, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-230",            7,           0, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-231S",           7,           0, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-240",            8,           1, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-242",            8,           1, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-245",            8,           1, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-250",            9,           1, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-255",            9,           1, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-260",           10,           1, 1).I2c(I2C_NO_OWNER),
    Ec("NRB-265",           10,           1, 1).I2c(I2C_NO_OWNER),

    // Compact box PCs, EC on the register window.
    Ec("QX-2010",           11,           2, 0),
    Ec("QX-2110",           13,           2, 1),
    Ec("QX-2120",           13,           2, 1),
    Ec("QX-2210",           14,           3, 0),
    Ec("QX-2310",           15,           3, 1),
    Ec("QX-2320",           15,           3, 1),
    Ec("QX-2410",           16,           4, 1),
    Ec("QX-2510",           17,           4, 1),
    Ec("QX-2520",           17,           4, 1),
    Ec("QX-2610",           18,           5, 1),
    Ec("QX-2710",           20,           5, 1),
    Ec("QX-2720",           20,           5, 1),
    Ec("QX-3010",           27,           6, 1),
    Ec("QX-3110",           39,           6, 1),
    Ec("QX-3120",           39,           6, 1),
    Ec("QX-3210",           40,           7, 1),
    Ec("QX-3310",           41,           7, 1),
    Ec("QX-3320",           41,           7, 1),
    Ec("QX-3410",           44,           8, 1),
    Ec("QX-3510",           51,           8, 1),
    Ec("QX-3520",           51,           8, 1),
    Ec("QX-3610",           54,           9, 1),
    Ec("QX-3710",           57,           9, 1),
    Ec("QX-3720",           57,           9, 1),

    // QX-7000 box PCs: one mainboard behind every model of the series.
    Ec("QX-7100-E",         84,          14, 1),
    Ec("QX-7100",           84,          14, 1),
    Ec("QX-7110",           84,          14, 1),
    Ec("QX-7120",           84,          14, 1),
    Ec("QX-7130",           84,          14, 1),
    Ec("QX-7140",           84,          14, 1),
    Ec("QX-7150",           84,          14, 1),
    Ec("QX-7200",           84,          14, 1),
    Ec("QX-7210",           84,          14, 1),
    Ec("QX-7220",           84,          14, 1),
    Ec("QX-7230",           84,          14, 1),
    Ec("QX-7240",           84,          14, 1),
    Ec("QX-7250",           84,          14, 1),

    // Display controllers: EC on the ACPI ports with EC smart-fan control.
    Ec("DLT-5500-W",        12,           3, 1),
    Ec("DLT-5500",          12,           3, 1),
    Ec("DLT-5510",          12,           3, 1),
    Ec("DLT-6500",          86,          14, 1),
    Ec("DLT-6510",          86,          14, 1),
    Ec("DLT-6520 Pro",      86,          14, 1),

    // Industrial ATX and micro-ATX boards. The SBX-870 carries a power-management
    // controller behind the ZKEC driver for two fans, two rails and two sensors.
    Ec("SBX-870",           70,          13, 2)
        .Second(KIND_ZKEC, 1)
        .Gpio(KIND_EC)
        .Fans(OWNER_SPLIT, {Item(0, KIND_EC), Items(7, 8, KIND_ZKEC)})
        .Voltages(OWNER_SPLIT, {Items(0, 4, KIND_EC), Items(11, 12, KIND_ZKEC)})
        .Temps(OWNER_SPLIT, {Item(0, KIND_EC), Items(4, 5, KIND_ZKEC)}),
    Ec("SBX-871A",          71,          10, 1),
    Ec("SBX-871B",          71,          10, 1),
    Ec("SBX-873",           73,          10, 1),
    Ec("SBX-876A",          76,          11, 1),
    Ec("SBX-876B",          76,          11, 1),
    Ec("SBX-877",           77,          11, 1),
    Ec("SBX-878A",          78,          11, 1),
    Ec("SBX-878B",          78,          11, 1),
    Ec("SBX-880",           80,          12, 1),
    Ec("SBX-881A",          81,          13, 3),
    Ec("SBX-881B",          81,          13, 3),
    Ec("SBX-882",           82,          12, 1),
    Ec("SBX-883",           83,          13, 1),
    Ec("SBX-885",           85,          14, 1),
    Ec("SBX-887",           87,          14, 1),
    Ec("SBX-888A",          88,          15, 1),
    Ec("SBX-888B",          88,          15, 1),

    // Half-size SBCs. The GTB-489 adds a Super I/O that takes its fans, sensors and
    // half its GPIO; the GTB-493 adds one at 0x4E for GPIO and fans; the GTB-495
    // adds GPIO pads of the chipset after the EC set.
    Ec("GTB-489",           89,          16, 2)
        .Second(KIND_SIO2, 1)
        .Gpio(OWNER_SPLIT)
        .Fans(KIND_SIO2)
        .Voltages(OWNER_SPLIT, {Items(0, 1, KIND_EC), Items(2, 4, KIND_SIO2), Item(6, KIND_SIO2)})
        .Temps(KIND_SIO2)
        .CpuTemp(KIND_EC),
    Ec("GTB-490",           90,          15, 1),
    Ec("GTB-491A",          91,          15, 1),
    Ec("GTB-491C",          91,          15, 1),
    Ec("GTB-492A",          92,          16, 2),
    Ec("GTB-492B",          92,          16, 2),
    Ec("GTB-492C",          92,          16, 2),
    Ec("GTB-493",           93,          16, 2)
        .Second(KIND_SIO5, 0)
        .Gpio(KIND_SIO5)
        .Fans(KIND_SIO5),
    Ec("GTB-494A",          94,          17, 1),
    Ec("GTB-494B",          94,          17, 1),
    Ec("GTB-495",           95,          12, 2).Second(KIND_CHIPSET, 12).Gpio(OWNER_SPLIT),
    Ec("GTB-496A",          96,          17, 2),
    Ec("GTB-496B",          96,          17, 2),
    Ec("CGQ-97_M",          97,          17, 2),
    Ec("CGQ-97",            97,          17, 2),
    Ec("GTB-499",           99,          17, 2),
    Ec("GTB-500A",         100,          19, 2),
    Ec("GTB-500B",         100,          19, 2),
    Ec("GTB-500C",         100,          19, 2),
    Ec("GTB-501",          101,          19, 2),
    Ec("GTB-502A",         102,          19, 2),
    Ec("GTB-502B",         102,          19, 2),
    Ec("GTB-503",          103,          19, 2),

    // Network appliances with LAN-bypass relays; the later ones have status LEDs
    // and a reset button on the EC.
    Ec("KVB-2104A",        104,          17, 2),
    Ec("KVB-2104S",        104,          17, 2),
    Ec("KVB-3410-LB",      124,          21, 2).Led(KIND_EC),
    Ec("KVB-3410",         124,          21, 2).Led(KIND_EC),
    Ec("KVB-3510",         125,          21, 2).Led(KIND_EC),
    Ec("KVB-3520",         125,          21, 2).Led(KIND_EC),
    Ec("KVB-3910",         129,          22, 2).Led(KIND_EC),
    Ec("KVB-3920",         129,          22, 2).Led(KIND_EC),

    // 3.5-inch SBCs. YCB-121 boards carry an FCH; the YCB-122 has the EC storage
    // area and watches two PMBus supplies.
    Ec("YCB-108",          108,          19, 2),
    Ec("YCB-112",          112,          20, 2),
    Ec("YCB-115",          115,          20, 2),
    Ec("YCB-116A",         116,          20, 2),
    Ec("YCB-116B",         116,          20, 2),
    Ec("YCB-116C",         116,          20, 2),
    // The YCB-117 also brings up the chipset watchdog block; the EC's watchdog
    // stays the one the API drives.
    Ec("YCB-117",          117,          20, 2).Second(KIND_CHIPSET, 1),
    Ec("YCB-118",          118,          21, 2),
    Ec("YCB-119A",         119,          21, 2),
    Ec("YCB-119B",         119,          21, 2),
    Ec("YCB-119C",         119,          21, 2),
    Ec("YCB-120",          120,          21, 2),
    Ec("YCB-121A",         121, CHIPSET_FCH, 2),
    Ec("YCB-121R",         121, CHIPSET_FCH, 2),
    Ec("YCB-122 PSU",      122,          22, 2),
    Ec("YCB-123",          123,          22, 2),
    Ec("YCB-127",          127,          22, 2),

    // Panel PCs; most drive front-panel LEDs from the EC.
    Ec("TVB-1134",         134,          23, 2),
    Ec("TVB-1135A",        135,          23, 2),
    Ec("TVB-1135B",        135,          23, 2),
    Ec("TVB-1136A",        136,          23, 2).Led(KIND_EC),
    Ec("TVB-1136B",        136,          23, 2).Led(KIND_EC),
    Ec("TVB-1137X",        137,          24, 2).Led(KIND_EC),
    Ec("TVB-1137",         137,          24, 2).Led(KIND_EC),
    Ec("TVB-1138A",        138,          24, 2).Led(KIND_EC),
    Ec("TVB-1138B",        138,          24, 2).Led(KIND_EC),
    Ec("TVB-1139A",        139,          24, 2).Led(KIND_EC),
    Ec("TVB-1139B",        139,          24, 2).Led(KIND_EC),
    Ec("TVB-1140",         140,          24, 2),
    Ec("TVB-1141A",        141,          25, 2),
    Ec("TVB-1141B",        141,          25, 2),
    Ec("TVB-1141C",        141,          25, 2),
    Ec("TVB-1142",         142,          25, 2),

    // Current edge platforms; the platform I2C controllers of the SoC serve buses 2
    // and 3. The WSR-A5x boards carry an FCH.
    Ec("WSR-949",          149,          27, 2)
        .Second(KIND_CHIPSET, 27)
        .I2cSplit(KIND_EC, KIND_CHIPSET, KIND_CHIPSET),
    Ec("WSR-950",          150,          26, 2).Second(KIND_CHIPSET, 26).I2c(KIND_CHIPSET),
    Ec("WSR-952",          152,          18, 2).Second(KIND_CHIPSET, 18),
    Ec("WSR-953",          153,          28, 2),
    Ec("WSR-A54",          154, CHIPSET_FCH, 2),
    // The FCH pins of the WSR-A55 drive its LEDs and no GPIO header is fitted, so
    // the GPIO owner points away from the EC and the family reports unsupported.
    Ec("WSR-A55",          155, CHIPSET_FCH, 2).Gpio(OWNER_LED_GPIO).Led(OWNER_LED_GPIO),
    Ec("WSR-A56",          156, CHIPSET_FCH, 2)
        .Second(KIND_CHIPSET, CHIPSET_FCH)
        .I2cSplit(KIND_EC, KIND_CHIPSET, I2C_NO_OWNER),

    // Boards on the Super I/O at 0x2E/0x2F (ChipKind 2).
    Sio2("PBM-301",          1,           2, 2),
    Sio2("PBM-303",          3,           2, 2),
    Sio2("PBM-321",         21,           3, 2),
    Sio2("PBM-322",         22,           3, 2),
    Sio2("PBM-323",         23,           4, 2),
    Sio2("PBM-324",         24,           4, 2),
    Sio2("PBM-326",         26,           4, 1),
    Sio2("PBM-336",         36,           5, 0),
    Sio2("PBM-337",         37,           5, 2),
    Sio2("PBM-342",         42,           6, 2),
    Sio2("PBM-345",         45,           6, 2),
    Sio2("PBM-346",         46,           7, 2),
    Sio2("PBM-347",         47,           7, 2),
    Sio2("PBM-348",         48,           8, 1),
    Sio2("PBM-350",         50,           8, 2),
    Sio2("PBM-352",         52,           9, 2),
    Sio2("PBM-353",         53,           9, 4),
    Sio2("PBM-355",         55,          10, 2),
    Sio2("PBM-356",         56,          10, 3),

    // Boards on the ChipKind 1 Super I/O: GPIO, watchdog, sensors and fans on the chip.
    Sio1("HLS-102",          2,           2, 2),
    Sio1("HLS-104",          4,           2, 1),
    Sio1("HLS-119",         19,           3, 1),
    Sio1("HLS-125",         25,           4, 2),
    Sio1("HLS-128",         28,           4, 2),
    Sio1("HLS-129",         29,           4, 3),
    Sio1("HLS-130",         30,           5, 3),
    Sio1("HLS-131",         31,           5, 2),
    Sio1("HLS-132",         32,           5, 2),
    Sio1("HLS-133",         33,           5, 4),
    Sio1("HLS-134",         34,           6, 2),
    Sio1("HLS-135",         35,           6, 1),
    Sio1("HLS-138",         38,           6, 2),
    Sio1("HLS-149",         49,           7, 3),
    Sio1("HLS-158",         58,           9, 0),
    Sio1("HLS-161",         61,           9, 2),
    Sio1("HLS-162",         62,           9, 2),
    Sio1("HLS-163",         63,          10, 2),
    Sio1("HLS-165",         65,          10, 1),
    Sio1("HLS-166",         66,          11, 1),
    Sio1("HLS-167",         67,          11, 2),
    Sio1("HLS-168",         68,          11, 2),
    Sio1("HLS-169",         69,          12, 2),
    Sio1("HLS-172",         72,          12, 0),
    Sio1("HLS-175",         75,          12, 2),
    Sio1("RKB-9050-2L",     64,          10, 1),
    Sio1("RKB-9050",        64,          10, 1),

    // ZMB boards: ChipKind 1 subtype 5; several take their GPIO from the expander
    // at 0x40 on the SMBus.
    Sio1("ZMB-43",          43,           8, 5),
    Sio1("ZMB-79",          79,          13, 5).Gpio(OWNER_GPIO_EXPANDER),
    Sio1("ZMB-98",          98,          17, 5),
    Sio1("ZMB-105",        105,          19, 5),
    Sio1("ZMB-107-PD",     107,          19, 5).Gpio(OWNER_GPIO_EXPANDER),
    Sio1("ZMB-107",        107,          19, 5).Gpio(OWNER_GPIO_EXPANDER),
    Sio1("ZMB-109",        109,          20, 5)
        .Gpio(OWNER_GPIO_EXPANDER)
        .CpuTemp(CPU_TEMP_SMBUS_SENSOR),
    Sio1("ZMB-110",        110,          20, 5),
    Sio1("ZMB-111",        111,          21, 5).Gpio(OWNER_GPIO_EXPANDER),
    Sio1("ZMB-114",        114,          21, 5),
    Sio1("ZMB-130",        130,          22, 5),
    Sio1("ZMB-132",        132,          22, 5),

    // VXA boards: ChipKind 1 subtype 8 next to an EC that answers on its ACPI
    // interface and auxiliary channel (kind-100 routines) for some fans, a sensor
    // and, on the VXA-17, the watchdog. The VXA-16E is the subtype 5 revision.
    Sio1("VXA-12",         126,          22, 8).Gpio(OWNER_GPIO_EXPANDER),
    Sio1("VXA-16A",        144,          26, 8)
        .Second(KIND_CHIPSET, 26)
        .Gpio(OWNER_GPIO_EXPANDER)
        .Fans(OWNER_SPLIT, {Item(0, KIND_EC100), Item(2, KIND_EC100),
                            Item(4, KIND_EC100), Item(6, KIND_EC100)})
        .I2c(KIND_CHIPSET),
    Sio1("VXA-16E",        144,          26, 5)
        .Second(KIND_CHIPSET, 26)
        .Gpio(OWNER_GPIO_EXPANDER)
        .Fans(OWNER_SPLIT, {Item(0, KIND_EC100), Item(2, KIND_EC100),
                            Item(4, KIND_EC100), Item(6, KIND_EC100)})
        .I2c(KIND_CHIPSET),
    Sio1("VXA-17-L",       151,          26, 8)
        .Second(KIND_CHIPSET, 26)
        .Wdt(KIND_EC100)
        .Fans(OWNER_SPLIT, {Item(0, KIND_EC100), Item(2, KIND_EC100)})
        .Temps(OWNER_SPLIT, {Item(0, KIND_EC100)}),
    Sio1("VXA-17",         151,          26, 8)
        .Second(KIND_CHIPSET, 26)
        .Wdt(KIND_EC100)
        .Fans(OWNER_SPLIT, {Item(0, KIND_EC100), Item(2, KIND_EC100)})
        .Temps(OWNER_SPLIT, {Item(0, KIND_EC100)}),

    // Boards on the Super I/O with a configurable index port (ChipKind 5). The FMQ-333
    // has LEDs and a button on chipset pads, the FMQ-345 a platform I2C bus; the
    // FMQ-328 and FMQ-346 read the CPU from the sensor at 0x98 on the SMBus.
    Sio5("FMQ-274",         74,          10, 0),
    Sio5("FMQ-306",        106,          17, 1),
    Sio5("FMQ-328",        128,          22, 1).CpuTemp(CPU_TEMP_SMBUS_SENSOR),
    Sio5("FMQ-331",        131,          23, 1),
    Sio5("FMQ-333-T",      133,          20, 2).Second(KIND_CHIPSET, 20).Led(KIND_CHIPSET),
    Sio5("FMQ-333",        133,          20, 2).Second(KIND_CHIPSET, 20).Led(KIND_CHIPSET),
    Sio5("FMQ-343",        143,          25, 2),
    Sio5("FMQ-345",        145,          25, 2).Second(KIND_CHIPSET, 25).I2c(KIND_CHIPSET),
    Sio5("FMQ-346",        146,          25, 1).CpuTemp(CPU_TEMP_SMBUS_SENSOR),
    Sio5("FMQ-348",        148,          28, 3),

    // Chipset-only boards on SCH-class chipsets, whose LPC bridge holds the
    // watchdog block's base; the PXC-60 has the GPIO block of its I/O hub and its
    // fans and rails on a ChipKind 2 Super I/O.
    Chipset("PXC-59",       59,           1, 1),
    Chipset("PXC-60",       60,           0, 1)
        .Second(KIND_SIO2, 4)
        .Fans(KIND_SIO2)
        .Voltages(KIND_SIO2)
        .I2c(KIND_CHIPSET),
};
// clang-format on

// The header fixes the bound: surplus rows do not compile and missing ones would be
// zero-filled, i.e. nameless.
static_assert(
    [] {
        for (const PlatformEntry& row : kPlatformTable)
            if (row.name[0] == '\0') return false;
        return true;
    }(),
    "the platform table must fill every one of its PLATFORM_ROWS rows");

const PlatformEntry* FindPlatform(const char* productName) {
    if (productName == nullptr) return nullptr;
    for (const PlatformEntry& row : kPlatformTable) {
        const size_t n = std::strlen(row.name);
        // strncmp compares as unsigned char and stops at the product name's NUL, so
        // a product name shorter than the row's name never matches it.
        if (n != 0 && std::strncmp(row.name, productName, n) == 0) return &row;
    }
    return nullptr;
}

} // namespace vek
