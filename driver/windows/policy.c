/*
 * What the driver lets a caller reach. The device opens only for
 * Administrators and SYSTEM (kernel.c), but an administrator is not the
 * kernel: a driver that reads and writes any physical address, any MSR and
 * any port hands kernel control to whoever opens it. Each rule below gives
 * the library what its boards need and refuses the rest with
 * STATUS_ACCESS_DENIED.
 *
 *  what               | allowed                                       | refused, and why
 *  -------------------+-----------------------------------------------+----------------------------------------------
 *  device             | opened by Administrators and SYSTEM, as       | everyone else (DACL on the device object);
 *                     | \\.\ZELKORAN_0_1 only                         | opens of names below the device
 *  MSR read           | 0x198 performance status, 0x19C thermal       | every other index; there is no MSR write
 *                     | status, 0x1A2 temperature target              |
 *  PCI config read    | any bus/device/function, register 0..0xFF,    | misaligned or past 0xFF
 *                     | aligned to its width                          |
 *  PCI config write   | the SMBus controller's command register       | every other function, register or width,
 *                     | (I/O decode bit only) and host configuration  | and a write that changes other bits
 *                     | register (I2C-enable bit only), kPciWrites    |
 *  physical memory    | the chipset windows the boards use            | system RAM (memory manager's ranges, or
 *                     | (kMemoryWindows, plus the GPIO block named    | everything when they are unknown); any
 *                     | by its PCI BAR), <= 256 bytes, unit-aligned,  | other address; writes to read-only windows
 *                     | mapped uncached for the one request           |
 *  ports 0x00..0xFF   | Super I/O 0x2E/0x2F, 0x4E/0x4F; EC 0x62,      | DMA, interrupt controllers, timer 0/1,
 *                     | 0x66; speaker 0x42, 0x61, 0x43 (commands for  | keyboard controller (0x64 reset), RTC/CMOS,
 *                     | counter 2 only)                               | A20/reset 0x92, SMI command 0xB2, FPU
 *  ports 0x100+       | the rest: EC windows, Super I/O logical       | kDeniedPorts (ATA, floppy, DMA extension,
 *                     | devices, SMBus and chipset blocks (their      | interrupt edge control, PCI config
 *                     | bases are read from the chips at run time)    | mechanism and reset control 0xCF8..0xCFF);
 *                     |                                               | I/O BARs of PCI functions other than SMBus
 *                     |                                               | controllers (bus masters: disks, network,
 *                     |                                               | USB, audio can be made to write RAM)
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

/* Above it the bases of what the library drives (EC windows, Super I/O
 * logical devices, SMBus and chipset blocks) are read from the chips at run
 * time, so the block is open except for these fixed ranges. */
static const port_rule kDeniedPorts[] = {
    {0x0170, 0x0177}, /* secondary ATA command block */
    {0x01F0, 0x01F7}, /* primary ATA command block */
    {0x0370, 0x0377}, /* secondary floppy controller and ATA control */
    {0x03F0, 0x03F7}, /* primary floppy controller and ATA control */
    {0x040B, 0x040B}, /* DMA 1 extended mode */
    {0x0480, 0x048F}, /* DMA high page registers */
    {0x04D0, 0x04D1}, /* interrupt edge/level control */
    {0x04D6, 0x04D6}, /* DMA 2 extended mode */
    {0x0CF8, 0x0CFF}, /* PCI configuration address/data; reset control at 0xCF9 */
};

static int in_rules(uint32_t port, const port_rule* rules, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (port >= rules[i].first && port <= rules[i].last) return 1;
    return 0;
}

static int port_byte_allowed(uint32_t port, const zk_port_ranges* bars) {
    if (port < 0x100) return in_rules(port, kLegacyAllowed, COUNT(kLegacyAllowed));
    if (in_rules(port, kDeniedPorts, COUNT(kDeniedPorts))) return 0;
    if (bars == NULL || bars->overflow) return 0;
    for (uint32_t i = 0; i < bars->count && i < ZK_MAX_BAR_RANGES; ++i)
        if (port >= bars->range[i].first && port <= bars->range[i].last) return 0;
    return 1;
}

int zk_port_allowed(uint32_t port, uint32_t width, int write, uint32_t value, const zk_port_ranges* bars) {
    if (width != 1 && width != 2 && width != 4) return 0;
    if (port > 0xFFFFu || port + width - 1 > 0xFFFFu) return 0;
    for (uint32_t p = port; p < port + width; ++p) {
        if (!port_byte_allowed(p, bars)) return 0;
        if (p == PORT_TIMER_COMMAND && write &&
            (width != 1 || (value & TIMER_SELECT_MASK) != TIMER_SELECT_COUNTER2))
            return 0;
    }
    return 1;
}

/* ---------------------------------------------------------------- PCI */

#define PCI_ADDRESS(bus, dev, fn) (((uint32_t)(bus) << 8) | ((uint32_t)(dev) << 3) | (uint32_t)(fn))
#define PCI_CONFIG_BYTES 0x100u

#define PCI_COMMAND 0x04u
#define PCI_COMMAND_IO_DECODE 0x01u
#define SMBUS_HOST_CONFIG 0x40u
#define SMBUS_HOST_CONFIG_I2C 0x04u

typedef struct pci_write_rule {
    uint32_t pci_address;
    uint8_t offset;
    uint8_t width;
    uint8_t changeable; /* bits the write may change; the rest must keep their value */
} pci_write_rule;

/* Every configuration write the library makes: the SMBus controller of each
 * chipset generation has its I/O decoding switched on when it is located, and
 * its I2C framing switched on and off around an I2C block write. */
static const pci_write_rule kPciWrites[] = {
    {PCI_ADDRESS(0x00, 31, 4), PCI_COMMAND, 1, PCI_COMMAND_IO_DECODE},
    {PCI_ADDRESS(0x80, 31, 4), PCI_COMMAND, 1, PCI_COMMAND_IO_DECODE},
    {PCI_ADDRESS(0x00, 31, 4), SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
    {PCI_ADDRESS(0x00, 31, 3), SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
    {PCI_ADDRESS(0x00, 31, 1), SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
    {PCI_ADDRESS(0x00, 21, 0), SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
    {PCI_ADDRESS(0x80, 31, 4), SMBUS_HOST_CONFIG, 1, SMBUS_HOST_CONFIG_I2C},
};

int zk_pci_shape_ok(uint32_t pci_address, uint32_t offset, uint32_t width) {
    if (pci_address > 0xFFFFu) return 0;
    if (width != 1 && width != 2 && width != 4) return 0;
    if (offset % width != 0) return 0;
    return offset < PCI_CONFIG_BYTES && offset + width <= PCI_CONFIG_BYTES;
}

int zk_pci_write_allowed(uint32_t pci_address, uint32_t offset, uint32_t width, uint32_t current, uint32_t value) {
    if (!zk_pci_shape_ok(pci_address, offset, width)) return 0;
    for (size_t i = 0; i < COUNT(kPciWrites); ++i) {
        const pci_write_rule* r = &kPciWrites[i];
        if (r->pci_address == pci_address && r->offset == offset && r->width == width)
            return ((current ^ value) & ~(uint32_t)r->changeable) == 0;
    }
    return 0;
}

/* ---------------------------------------------------------------- memory */

typedef struct memory_window {
    uint64_t base;
    uint64_t size;
    int writable;
} memory_window;

/* Device memory the boards' chipsets put their registers in. */
static const memory_window kMemoryWindows[] = {
    {0xFED80300u, 0x100u, 0},   /* FCH power-management registers (the SMBus base is read there) */
    {0xFED81500u, 0x300u, 1},   /* FCH GPIO bank: LED and pin control bytes */
    {0xD0C50000u, 0x10000u, 1}, /* pad-configuration community: GPIO pads */
    {0xFD690000u, 0x10000u, 1}, /* pad-configuration community: LED pads */
    {0xFD6D0000u, 0x10000u, 1}, /* pad-configuration community: button pad */
};

static int overlaps(uint64_t a, uint64_t a_size, uint64_t b, uint64_t b_size) {
    return a < b + b_size && b < a + a_size;
}

static int inside(uint64_t a, uint64_t a_size, uint64_t base, uint64_t size) {
    return a >= base && a - base <= size && a_size <= size - (a - base);
}

int zk_memory_window_allowed(uint64_t address, uint32_t bytes, int write, uint64_t gpio_block) {
    if (bytes == 0 || bytes > ZK_MAX_MEMORY_BYTES) return 0;
    if (address > UINT64_MAX - bytes) return 0;
    for (size_t i = 0; i < COUNT(kMemoryWindows); ++i)
        if (inside(address, bytes, kMemoryWindows[i].base, kMemoryWindows[i].size))
            return !write || kMemoryWindows[i].writable;
    return gpio_block != 0 && inside(address, bytes, gpio_block, ZK_GPIO_BLOCK_BYTES);
}

int zk_memory_clear_of_ram(uint64_t address, uint32_t bytes, const zk_phys_range* ram) {
    if (ram == NULL) return 0;
    for (const zk_phys_range* r = ram; r->size != 0; ++r)
        if (overlaps(address, bytes, r->base, r->size)) return 0;
    return 1;
}
