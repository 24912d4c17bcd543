/*
 * What the driver lets a caller reach. The device opens only for
 * Administrators and SYSTEM (kernel.c), but an administrator is not the
 * kernel: a driver that reads and writes any physical address, any MSR and
 * any port hands kernel control to whoever opens it. Each rule below gives
 * the library what its boards need and refuses the rest with
 * STATUS_ACCESS_DENIED. The table is driver/windows/README.md's.
 *
 *  what               | allowed
 *  -------------------+-------------------------------------------------------------
 *  any request        | a handle opened with read and write data access
 *  MSR read           | 0x198, 0x19C, 0x1A2; there is no MSR write
 *  PCI config read    | any function, register 0..0xFF aligned to its width
 *  PCI config write   | kPciWrites: SMBus-class function at the chipset's SMBus
 *                     | location, one bit; the driver writes current | that bit
 *  physical memory    | kMemoryWindows whose owner is on the bus and that no BAR or
 *                     | bridge window covers, the I/O hub GPIO block's registers;
 *                     | never RAM, <= 256 bytes, unit-aligned
 *  ports 0x00..0xFF   | kLegacyAllowed; timer command for counter 2 only; port B
 *                     | bits 0-1 only
 *  ports 0x100+       | the handle's set (zelkoran.h): EC ranges, the located SMBus
 *                     | and watchdog blocks, Super I/O ranges the library named
 *                     | that nothing else claims; never kNeverPorts
 */
#include "zelkoran.h"

#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

/* ---------------------------------------------------------------- MSRs */

#define MSR_PERF_STATUS 0x198u
#define MSR_THERM_STATUS 0x19Cu
#define MSR_TEMPERATURE_TARGET 0x1A2u

static const uint32_t kReadableMsrs[] = {MSR_PERF_STATUS, MSR_THERM_STATUS, MSR_TEMPERATURE_TARGET};

int zk_msr_allowed(uint32_t index) {
    for (size_t i = 0; i < COUNT(kReadableMsrs); ++i)
        if (kReadableMsrs[i] == index) return 1;
    return 0;
}

/* ---------------------------------------------------------------- ports */

typedef struct port_rule {
    uint16_t first, last;
} port_rule;

/* Below 0x100 sit the motherboard's own devices, whose misuse resets the
 * machine or hands out DMA; only these ports of that block are reachable. */
static const port_rule kLegacyAllowed[] = {
    {0x2E, 0x2F}, /* Super I/O configuration index/data */
    {0x42, 0x43}, /* timer counter 2 (speaker tone) and the timer command port */
    {0x4E, 0x4F}, /* Super I/O or EC index/data */
    {0x61, 0x61}, /* port B: speaker gate and data */
    {0x62, 0x62}, /* EC data */
    {0x66, 0x66}, /* EC command and status */
};

#define PORT_TIMER_COMMAND 0x43u
#define TIMER_SELECT_MASK 0xC0u
#define TIMER_SELECT_COUNTER2 0x80u /* counter 0 is the system tick: leave it alone */
#define PORT_B 0x61u
#define PORT_B_SPEAKER_BITS 0x03u   /* timer 2 gate, speaker data */
#define PORT_B_NMI_ENABLES 0x0Cu    /* SERR# and IOCHK# NMI enables; bits 4-7 are read-only status */

/* Above it nothing is reachable unless the handle's set names it, and these
 * never are, whatever a table or the library says: a grant that touches one is
 * refused as a whole. */
static const port_rule kNeverPorts[] = {
    {0x0170, 0x0177}, /* secondary ATA command block */
    {0x01F0, 0x01F7}, /* primary ATA command block */
    {0x0370, 0x0377}, /* secondary floppy controller and ATA control */
    {0x03B0, 0x03DF}, /* VGA registers, forwarded to a graphics card */
    {0x03F0, 0x03F7}, /* primary floppy controller and ATA control */
    {0x040B, 0x040B}, /* DMA 1 extended mode */
    {0x0480, 0x048F}, /* DMA high page registers */
    {0x04D0, 0x04D1}, /* interrupt edge/level control */
    {0x04D6, 0x04D6}, /* DMA 2 extended mode */
    {0x0C00, 0x0C01}, /* PCI interrupt routing index/data */
    {0x0CD6, 0x0CD7}, /* FCH power-management index/data (reaches every FCH register) */
    {0x0CF8, 0x0CFF}, /* PCI configuration address/data; reset control at 0xCF9 */
};

static int in_rules(uint32_t port, const port_rule* rules, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (port >= rules[i].first && port <= rules[i].last) return 1;
    return 0;
}

static int port_byte_allowed(uint32_t port, const zk_port_ranges* ports) {
    if (port < 0x100) return in_rules(port, kLegacyAllowed, COUNT(kLegacyAllowed));
    if (ports == NULL || in_rules(port, kNeverPorts, COUNT(kNeverPorts))) return 0;
    return zk_ports_overlap(ports, port, port);
}

int zk_port_allowed(uint32_t port, uint32_t width, int write, uint32_t value, const zk_port_ranges* ports) {
    if (width != 1 && width != 2 && width != 4) return 0;
    if (port > 0xFFFFu || port + width - 1 > 0xFFFFu) return 0;
    for (uint32_t p = port; p < port + width; ++p) {
        if (!port_byte_allowed(p, ports)) return 0;
        if (p == PORT_TIMER_COMMAND && write &&
            (width != 1 || (value & TIMER_SELECT_MASK) != TIMER_SELECT_COUNTER2))
            return 0;
        /* Port B is read before it is written (dispatch.c): a byte write only. */
        if (p == PORT_B && write && width != 1) return 0;
    }
    return 1;
}

int zk_port_b_write_allowed(uint32_t current, uint32_t value) {
    return ((current ^ value) & PORT_B_NMI_ENABLES) == 0;
}

uint32_t zk_port_b_value(uint32_t current, uint32_t value) {
    return (current & ~PORT_B_SPEAKER_BITS & 0xFFu) | (value & PORT_B_SPEAKER_BITS);
}

int zk_ports_overlap(const zk_port_ranges* set, uint32_t first, uint32_t last) {
    for (uint32_t i = 0; i < set->count && i < ZK_MAX_PORT_RANGES; ++i)
        if (first <= set->range[i].last && set->range[i].first <= last) return 1;
    return 0;
}

int zk_ports_add(zk_port_ranges* set, uint32_t first, uint32_t last) {
    if (first > last || last > 0xFFFFu) return 0;
    for (uint32_t i = 0; i < set->count && i < ZK_MAX_PORT_RANGES; ++i)
        if (set->range[i].first == first && set->range[i].last == last) return 1;
    if (set->count >= ZK_MAX_PORT_RANGES) {
        set->overflow = 1;
        return 0;
    }
    set->range[set->count].first = (uint16_t)first;
    set->range[set->count].last = (uint16_t)last;
    set->count++;
    return 1;
}

int zk_ports_clear(uint32_t first, uint32_t last, const zk_port_ranges* occupied) {
    if (first < 0x100 || first > last || last > 0xFFFFu) return 0;
    if (occupied == NULL || occupied->overflow) return 0;
    for (uint32_t p = first; p <= last; ++p)
        if (in_rules(p, kNeverPorts, COUNT(kNeverPorts))) return 0;
    return !zk_ports_overlap(occupied, first, last);
}

int zk_port_range_clear(uint32_t first, uint32_t count, const zk_port_ranges* occupied) {
    if (count == 0 || count > ZK_MAX_GRANT_PORTS || first > 0xFFFFu) return 0;
    return zk_ports_clear(first, first + count - 1, occupied);
}

/* ---------------------------------------------------------------- ACPI fixed hardware */

static uint32_t le16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
static uint32_t le32(const uint8_t* p) { return le16(p) | (le16(p + 2) << 16); }
static uint64_t le64(const uint8_t* p) { return (uint64_t)le32(p) | ((uint64_t)le32(p + 4) << 32); }

/* Fixed ACPI description table fields (byte offsets). */
#define FADT_SIGNATURE 0x50434146u /* "FACP" */
#define FADT_LENGTH 4u
#define FADT_SMI_CMD 48u
#define FADT_PM1A_EVT 56u          /* then PM1b event, PM1a/b control, PM2 control, PM timer, GPE0, GPE1 */
#define FADT_BLOCK_LENGTHS 88u     /* PM1 event, PM1 control, PM2 control, PM timer, GPE0, GPE1 */
#define FADT_V1_BYTES 116u
#define FADT_RESET_REG 116u        /* generic address */
#define FADT_X_PM1A_EVT 148u       /* eight generic addresses, same order as the 32-bit blocks */
#define GAS_BYTES 12u
#define GAS_SYSTEM_IO 1u
#define ACPI_PM_BLOCK_BYTES 0x100u /* PM1, SMI enable/status, GPE0, TCO: one decoded 256-byte block */

static void add_block(zk_port_ranges* out, uint64_t base, uint32_t length) {
    if (base == 0 || length == 0 || base > 0xFFFFu) return;
    const uint64_t last = base + length - 1;
    zk_ports_add(out, (uint32_t)base, last > 0xFFFFu ? 0xFFFFu : (uint32_t)last);
}

/* A generic address in system I/O space; width in bits. */
static void add_gas(zk_port_ranges* out, const uint8_t* gas, uint32_t length) {
    if (gas[0] != GAS_SYSTEM_IO) return;
    const uint32_t bits_bytes = (gas[1] + 7u) / 8u;
    add_block(out, le64(gas + 4), length > bits_bytes ? length : (bits_bytes ? bits_bytes : 1));
}

int zk_fadt_port_blocks(const uint8_t* fadt, uint32_t size, zk_port_ranges* out) {
    if (fadt == NULL || size < FADT_V1_BYTES || le32(fadt) != FADT_SIGNATURE) return 0;
    const uint32_t length = le32(fadt + FADT_LENGTH);
    if (length < FADT_V1_BYTES || length > size) return 0;
    /* Event and control blocks; the lengths byte per pair (event a/b share one, ...). */
    static const uint8_t kLengthOf[8] = {0, 0, 1, 1, 2, 3, 4, 5};
    const uint8_t* lengths = fadt + FADT_BLOCK_LENGTHS;
    add_block(out, le32(fadt + FADT_SMI_CMD), 1);
    for (uint32_t i = 0; i < 8; ++i) add_block(out, le32(fadt + FADT_PM1A_EVT + 4 * i), lengths[kLengthOf[i]]);
    const uint32_t pm_base = le32(fadt + FADT_PM1A_EVT);
    if (pm_base != 0) add_block(out, pm_base & ~(uint32_t)(ACPI_PM_BLOCK_BYTES - 1), ACPI_PM_BLOCK_BYTES);
    if (length >= FADT_RESET_REG + GAS_BYTES) add_gas(out, fadt + FADT_RESET_REG, 1);
    for (uint32_t i = 0; i < 8; ++i) {
        const uint32_t at = FADT_X_PM1A_EVT + GAS_BYTES * i;
        if (length < at + GAS_BYTES) break;
        add_gas(out, fadt + at, lengths[kLengthOf[i]]);
        if (i == 0 && fadt[at] == GAS_SYSTEM_IO && le64(fadt + at + 4) != 0 && le64(fadt + at + 4) <= 0xFFFFu)
            add_block(out, le64(fadt + at + 4) & ~(uint64_t)(ACPI_PM_BLOCK_BYTES - 1), ACPI_PM_BLOCK_BYTES);
    }
    return !out->overflow;
}

/* ---------------------------------------------------------------- PCI */

#define PCI_ADDRESS(bus, dev, fn) (((uint32_t)(bus) << 8) | ((uint32_t)(dev) << 3) | (uint32_t)(fn))
#define PCI_CONFIG_BYTES 0x100u

#define PCI_COMMAND 0x04u
#define PCI_COMMAND_IO_DECODE 0x01u
#define SMBUS_HOST_CONFIG 0x40u
#define SMBUS_HOST_CONFIG_I2C 0x04u
#define PCI_CLASS_SMBUS 0x0C05u

typedef struct pci_write_rule {
    uint32_t pci_address;
    uint16_t class_code; /* the function there must be of this class */
    uint8_t offset;
    uint8_t width;
    uint8_t changeable; /* bits the write may change; the rest must keep their value */
} pci_write_rule;

/* Every configuration write the library makes: the SMBus controller of each
 * chipset generation has its I/O decoding switched on when it is located, and
 * its I2C framing switched on and off around an I2C block write. On newer
 * chipsets other functions sit at some of these locations (audio at 00:1F.3,
 * an I2C controller at 00:15.0), so the class is part of the key. */
static const pci_write_rule kPciWrites[] = {
    {PCI_ADDRESS(0x00, 31, 4), PCI_CLASS_SMBUS, PCI_COMMAND, 1, PCI_COMMAND_IO_DECODE},
    {PCI_ADDRESS(0x80, 31, 4), PCI_CLASS_SMBUS, PCI_COMMAND, 1, PCI_COMMAND_IO_DECODE},
    {PCI_ADDRESS(0x00, 31, 4), PCI_CLASS_SMBUS, SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
    {PCI_ADDRESS(0x00, 31, 3), PCI_CLASS_SMBUS, SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
    {PCI_ADDRESS(0x00, 31, 1), PCI_CLASS_SMBUS, SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
    {PCI_ADDRESS(0x00, 21, 0), PCI_CLASS_SMBUS, SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
    {PCI_ADDRESS(0x80, 31, 4), PCI_CLASS_SMBUS, SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
};

int zk_pci_shape_ok(uint32_t pci_address, uint32_t offset, uint32_t width) {
    if (pci_address > 0xFFFFu) return 0;
    if (width != 1 && width != 2 && width != 4) return 0;
    if (offset % width != 0) return 0;
    return offset < PCI_CONFIG_BYTES && offset + width <= PCI_CONFIG_BYTES;
}

uint32_t zk_pci_write_mask(uint32_t pci_address, uint32_t class_code, uint32_t offset, uint32_t width) {
    if (!zk_pci_shape_ok(pci_address, offset, width)) return 0;
    for (size_t i = 0; i < COUNT(kPciWrites); ++i) {
        const pci_write_rule* r = &kPciWrites[i];
        if (r->pci_address == pci_address && r->class_code == class_code && r->offset == offset && r->width == width)
            return r->changeable;
    }
    return 0;
}

/* ---------------------------------------------------------------- memory */

/* Device memory the boards' chipsets put their registers in, cut down to the
 * registers the library touches. */
static const zk_memory_window kMemoryWindows[] = {
    {0xFED80300u, 0x2u, 0, ZK_OWNER_AMD_FCH},    /* FCH power-management registers 0-1: SMBus base */
    {0xFED8171Cu, 0x58u, 1, ZK_OWNER_AMD_FCH},   /* FCH GPIO 135..156 control dwords: LED pads */
    {0xD0C50508u, 0x34u, 1, ZK_OWNER_INTEL_PCH}, /* pad configuration: GPIO set 2 pads */
    {0xD0C506D0u, 0x1Cu, 1, ZK_OWNER_INTEL_PCH}, /* pad configuration: GPIO set 1 pads */
    {0xFD690700u, 0x78u, 1, ZK_OWNER_INTEL_PCH}, /* pad configuration: LED pads */
    {0xFD6D010Cu, 0x1u, 1, ZK_OWNER_INTEL_PCH},  /* button event status */
};

uint32_t zk_memory_window_count(void) { return (uint32_t)COUNT(kMemoryWindows); }
const zk_memory_window* zk_memory_window_at(uint32_t index) {
    return index < COUNT(kMemoryWindows) ? &kMemoryWindows[index] : NULL;
}

static int overlaps(uint64_t a, uint64_t a_size, uint64_t b, uint64_t b_size) {
    return a < b + b_size && b < a + a_size;
}

static int inside(uint64_t a, uint64_t a_size, uint64_t base, uint64_t size) {
    return a >= base && a - base <= size && a_size <= size - (a - base);
}

int zk_memory_window_allowed(uint64_t address, uint32_t bytes, int write, uint32_t windows, uint64_t gpio_block) {
    if (bytes == 0 || bytes > ZK_MAX_MEMORY_BYTES) return 0;
    if (address > UINT64_MAX - bytes) return 0;
    for (uint32_t i = 0; i < COUNT(kMemoryWindows); ++i)
        if ((windows >> i) & 1u)
            if (inside(address, bytes, kMemoryWindows[i].base, kMemoryWindows[i].size))
                return !write || kMemoryWindows[i].writable;
    return gpio_block != 0 &&
           inside(address, bytes, gpio_block + ZK_GPIO_REGISTERS_FIRST, ZK_GPIO_REGISTERS_BYTES);
}

int zk_memory_clear_of_ram(uint64_t address, uint32_t bytes, const zk_phys_range* ram) {
    if (ram == NULL) return 0;
    for (const zk_phys_range* r = ram; r->size != 0; ++r)
        if (overlaps(address, bytes, r->base, r->size)) return 0;
    return 1;
}

uint32_t zk_windows_clear_of(uint32_t windows, uint64_t base, uint64_t size) {
    for (uint32_t i = 0; i < COUNT(kMemoryWindows); ++i)
        if (overlaps(base, size, kMemoryWindows[i].base, kMemoryWindows[i].size)) windows &= ~(1u << i);
    return windows;
}
