/*
 * Request decoding: every request of the library's table, its exact buffer
 * sizes, the rules of policy.c, then the hardware call. Buffers are
 * buffered-I/O system buffers: the input is copied out before the output is
 * written over it, and nothing is read or written past the sizes given.
 */
#include <string.h>

#include "hw.h"
#include "zelkoran.h"

static uint32_t get16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
static uint32_t get32(const uint8_t* p) { return get16(p) | (get16(p + 2) << 16); }
static uint64_t get64(const uint8_t* p) { return (uint64_t)get32(p) | ((uint64_t)get32(p + 4) << 32); }
static void put32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

#define PCI_BUS(a) (((a) >> 8) & 0xFFu)
#define PCI_DEVICE(a) (((a) >> 3) & 0x1Fu)
#define PCI_FUNCTION(a) ((a) & 7u)

/* ---------------------------------------------------------------- small requests */

static int32_t reply32(uint8_t* b, uint32_t in_size, uint32_t out_size, uint32_t value, uint32_t* returned) {
    if (in_size != 0 || out_size != 4) return ZK_STATUS_INVALID_BUFFER_SIZE;
    put32(b, value);
    *returned = 4;
    return ZK_STATUS_SUCCESS;
}

/* in: u32 index; out: u32 low, u32 high. */
static int32_t read_msr(uint8_t* b, uint32_t in_size, uint32_t out_size, uint32_t* returned) {
    if (in_size != 4 || out_size != 8) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t index = get32(b);
    if (!zk_msr_allowed(index)) return ZK_STATUS_ACCESS_DENIED;
    uint64_t value = 0;
    if (!zk_hw_msr_read(index, &value)) return ZK_STATUS_NOT_SUPPORTED;
    put32(b, (uint32_t)value);
    put32(b + 4, (uint32_t)(value >> 32));
    *returned = 8;
    return ZK_STATUS_SUCCESS;
}

/* ---------------------------------------------------------------- ports */

/* Byte and word reads take a u16 port and answer 2 bytes; the dword read takes
 * the port zero-extended to 32 bits and answers 4. */
static int32_t read_port(uint8_t* b, uint32_t in_size, uint32_t out_size, uint32_t width, uint32_t io_size,
                         const zk_handle* h, uint32_t* returned) {
    if (in_size != io_size || out_size != io_size) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t port = io_size == 4 ? get32(b) : get16(b);
    if (!zk_port_allowed(port, width, 0, 0, &h->ports)) return ZK_STATUS_ACCESS_DENIED;
    uint32_t value = 0;
    if (!zk_hw_port_in((uint16_t)port, width, &value)) return ZK_STATUS_PRIVILEGED_INSTRUCTION;
    memset(b, 0, io_size);
    for (uint32_t i = 0; i < width; ++i) b[i] = (uint8_t)(value >> (8 * i));
    *returned = io_size;
    return ZK_STATUS_SUCCESS;
}

#define PORT_B 0x61u

/* in: u32 port, then the value's width bytes. */
static int32_t write_port(const uint8_t* b, uint32_t in_size, uint32_t out_size, uint32_t width,
                          const zk_handle* h) {
    if (in_size != 4 + width || out_size != 0) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t port = get32(b);
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; ++i) value |= (uint32_t)b[4 + i] << (8 * i);
    if (!zk_port_allowed(port, width, 1, value, &h->ports)) return ZK_STATUS_ACCESS_DENIED;
    if (port == PORT_B) {
        /* The NMI enables share the register with the speaker bits. */
        uint32_t current = 0;
        if (!zk_hw_port_in(PORT_B, 1, &current)) return ZK_STATUS_PRIVILEGED_INSTRUCTION;
        if (!zk_port_b_write_allowed(current & 0xFFu, value)) return ZK_STATUS_ACCESS_DENIED;
        value = zk_port_b_value(current & 0xFFu, value);
    }
    if (!zk_hw_port_out((uint16_t)port, width, value)) return ZK_STATUS_PRIVILEGED_INSTRUCTION;
    return ZK_STATUS_SUCCESS;
}

/* ---------------------------------------------------------------- PCI */

static int pci_read(uint32_t pci, uint32_t offset, uint32_t width, uint32_t* value) {
    uint8_t raw[4] = {0, 0, 0, 0};
    if (!zk_hw_pci_read(PCI_BUS(pci), PCI_DEVICE(pci), PCI_FUNCTION(pci), offset, raw, width)) return 0;
    *value = get32(raw);
    return 1;
}

/* in: u32 PCI address, u32 offset; out: 1, 2 or 4 bytes. */
static int32_t read_pci(uint8_t* b, uint32_t in_size, uint32_t out_size, uint32_t* returned) {
    if (in_size != 8 || (out_size != 1 && out_size != 2 && out_size != 4)) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t pci = get32(b), offset = get32(b + 4);
    if (!zk_pci_shape_ok(pci, offset, out_size)) return ZK_STATUS_INVALID_PARAMETER;
    uint32_t value = 0;
    if (!pci_read(pci, offset, out_size, &value)) return ZK_STATUS_NO_SUCH_DEVICE;
    for (uint32_t i = 0; i < out_size; ++i) b[i] = (uint8_t)(value >> (8 * i));
    *returned = out_size;
    return ZK_STATUS_SUCCESS;
}

#define PCI_CLASS_CODE 0x0Au /* base class and subclass, one word */
#define PCI_CLASS_SMBUS_CODE 0x0C05u

/* in: u32 PCI address, u32 offset, then 1, 2 or 4 data bytes. The register is
 * written with its current value, only the rule's bits taken from the caller. */
static int32_t write_pci(const uint8_t* b, uint32_t in_size, uint32_t out_size) {
    if ((in_size != 9 && in_size != 10 && in_size != 12) || out_size != 0) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t width = in_size - 8;
    const uint32_t pci = get32(b), offset = get32(b + 4);
    if (!zk_pci_shape_ok(pci, offset, width)) return ZK_STATUS_INVALID_PARAMETER;
    uint32_t value = 0, current = 0, class_code = 0;
    for (uint32_t i = 0; i < width; ++i) value |= (uint32_t)b[8 + i] << (8 * i);
    if (!pci_read(pci, PCI_CLASS_CODE, 2, &class_code)) return ZK_STATUS_NO_SUCH_DEVICE;
    const uint32_t mask = zk_pci_write_mask(pci, class_code & 0xFFFFu, offset, width);
    if (mask == 0) return ZK_STATUS_ACCESS_DENIED;
    if (!pci_read(pci, offset, width, &current)) return ZK_STATUS_NO_SUCH_DEVICE;
    if (((current ^ value) & ~mask) != 0) return ZK_STATUS_ACCESS_DENIED;
    const uint32_t written = (current & ~mask) | (value & mask);
    uint8_t raw[4];
    for (uint32_t i = 0; i < 4; ++i) raw[i] = (uint8_t)(written >> (8 * i));
    if (!zk_hw_pci_write(PCI_BUS(pci), PCI_DEVICE(pci), PCI_FUNCTION(pci), offset, raw, width))
        return ZK_STATUS_NO_SUCH_DEVICE;
    return ZK_STATUS_SUCCESS;
}

/* ---------------------------------------------------------------- physical memory */

typedef struct memory_request {
    uint64_t address;
    uint32_t unit;
    uint32_t bytes;
} memory_request;

/* Decodes and checks the 16-byte header (r->bytes = unit * count) against the rules. */
static int32_t memory_header(const uint8_t* b, int write, const zk_handle* h, memory_request* r) {
    r->address = get64(b);
    r->unit = get32(b + 8);
    const uint32_t count = get32(b + 12);
    if (r->unit != 1 && r->unit != 2 && r->unit != 4) return ZK_STATUS_INVALID_PARAMETER;
    if (count == 0) return ZK_STATUS_INVALID_PARAMETER;
    if (count > ZK_MAX_MEMORY_BYTES / r->unit) return ZK_STATUS_ACCESS_DENIED;
    r->bytes = r->unit * count;
    if ((r->address & (r->unit - 1)) != 0) return ZK_STATUS_INVALID_PARAMETER;
    if (!zk_memory_window_allowed(r->address, r->bytes, write, h->windows, h->gpio_block))
        return ZK_STATUS_ACCESS_DENIED;
    /* Asked only for a window address: the list is rebuilt on every call. */
    const zk_phys_range* ram = zk_hw_ram_ranges();
    const int clear = zk_memory_clear_of_ram(r->address, r->bytes, ram);
    if (ram != NULL) zk_hw_ram_ranges_free(ram);
    return clear ? ZK_STATUS_SUCCESS : ZK_STATUS_ACCESS_DENIED;
}

/* One access of the unit's own width, so a register sees the bus cycle it expects. */
#define COPY_UNIT(type, p, d, write)                 \
    do {                                             \
        type v_;                                     \
        if (write) {                                 \
            memcpy(&v_, (d), sizeof v_);             \
            *(volatile type*)(p) = v_;               \
        } else {                                     \
            v_ = *(volatile type*)(p);               \
            memcpy((d), &v_, sizeof v_);             \
        }                                            \
    } while (0)

/* Unit-wide accesses to a mapping made uncached for this request alone. */
static int32_t copy_device_memory(const memory_request* r, uint8_t* data, int write) {
    volatile uint8_t* mapped = (volatile uint8_t*)zk_hw_map(r->address, r->bytes);
    if (mapped == NULL) return ZK_STATUS_INSUFFICIENT_RESOURCES;
    for (uint32_t at = 0; at < r->bytes; at += r->unit) {
        if (r->unit == 1) COPY_UNIT(uint8_t, mapped + at, data + at, write);
        else if (r->unit == 2) COPY_UNIT(uint16_t, mapped + at, data + at, write);
        else COPY_UNIT(uint32_t, mapped + at, data + at, write);
    }
    zk_hw_unmap(mapped, r->bytes);
    return ZK_STATUS_SUCCESS;
}

/* in: u64 address, u32 unit, u32 count; out: unit * count bytes. */
static int32_t read_memory(uint8_t* b, uint32_t in_size, uint32_t out_size, const zk_handle* h, uint32_t* returned) {
    if (in_size != 16) return ZK_STATUS_INVALID_BUFFER_SIZE;
    memory_request r;
    int32_t status = memory_header(b, 0, h, &r);
    if (status != ZK_STATUS_SUCCESS) return status;
    if (out_size != r.bytes) return ZK_STATUS_INVALID_BUFFER_SIZE;
    status = copy_device_memory(&r, b, 0);
    if (status == ZK_STATUS_SUCCESS) *returned = r.bytes;
    return status;
}

/* in: the same header, then unit * count data bytes. */
static int32_t write_memory(uint8_t* b, uint32_t in_size, uint32_t out_size, const zk_handle* h) {
    if (in_size < 16 || out_size != 0) return ZK_STATUS_INVALID_BUFFER_SIZE;
    memory_request r;
    const int32_t status = memory_header(b, 1, h, &r);
    if (status != ZK_STATUS_SUCCESS) return status;
    if (in_size - 16 != r.bytes) return ZK_STATUS_INVALID_BUFFER_SIZE;
    return copy_device_memory(&r, b + 16, 1);
}

/* ---------------------------------------------------------------- ports the library names */

/* in: u16 first port, u16 count. The range joins the handle's reachable ports
 * when it is short, above the legacy block, and claimed by nothing the driver
 * can enumerate now: no PCI I/O BAR, no bridge I/O window (behind which
 * hot-plugged devices get their ports), no ACPI fixed-hardware block. */
static int32_t grant_ports(const uint8_t* b, uint32_t in_size, uint32_t out_size, zk_handle* h) {
    if (in_size != 4 || out_size != 0) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t first = get16(b), count = get16(b + 2);
    if (count == 0 || count > ZK_MAX_GRANT_PORTS || first < 0x100 || first + count - 1 > 0xFFFFu)
        return ZK_STATUS_ACCESS_DENIED;
    int held = 1;
    for (uint32_t p = first; p < first + count && held; ++p) held = zk_ports_overlap(&h->ports, p, p);
    if (held) return ZK_STATUS_SUCCESS; /* the second context of the same chip names it again */
    if (h->library_grants >= ZK_MAX_LIBRARY_GRANTS) return ZK_STATUS_ACCESS_DENIED;
    zk_port_ranges occupied;
    zk_collect_claims(&occupied, NULL);
    if (!zk_port_range_clear(first, count, &occupied)) return ZK_STATUS_ACCESS_DENIED;
    if (!zk_ports_add(&h->ports, first, first + count - 1)) return ZK_STATUS_ACCESS_DENIED;
    h->library_grants++;
    return ZK_STATUS_SUCCESS;
}

/* ---------------------------------------------------------------- the table */

int32_t zk_dispatch(uint32_t code, void* buffer, uint32_t in_size, uint32_t out_size, uint32_t* returned,
                    uint32_t handles, zk_handle* h) {
    uint8_t* b = (uint8_t*)buffer;
    *returned = 0;
    /* The request codes of the version and handle count carry no access bits,
     * so the I/O manager checks nothing: every request needs both here. */
    if (h == NULL || !h->can_read || !h->can_write) return ZK_STATUS_ACCESS_DENIED;
    if (b == NULL && (in_size != 0 || out_size != 0)) return ZK_STATUS_INVALID_PARAMETER;
    switch (code) {
    case VEK_IOCTL_DRIVER_VERSION: return reply32(b, in_size, out_size, ZK_DRIVER_VERSION, returned);
    case VEK_IOCTL_HANDLE_COUNT: return reply32(b, in_size, out_size, handles, returned);
    case VEK_IOCTL_READ_MSR: return read_msr(b, in_size, out_size, returned);
    case VEK_IOCTL_READ_PORT_BYTE: return read_port(b, in_size, out_size, 1, 2, h, returned);
    case VEK_IOCTL_READ_PORT_WORD: return read_port(b, in_size, out_size, 2, 2, h, returned);
    case VEK_IOCTL_READ_PORT_DWORD: return read_port(b, in_size, out_size, 4, 4, h, returned);
    case VEK_IOCTL_WRITE_PORT_BYTE: return write_port(b, in_size, out_size, 1, h);
    case VEK_IOCTL_WRITE_PORT_WORD: return write_port(b, in_size, out_size, 2, h);
    case VEK_IOCTL_WRITE_PORT_DWORD: return write_port(b, in_size, out_size, 4, h);
    case VEK_IOCTL_READ_MEMORY: return read_memory(b, in_size, out_size, h, returned);
    case VEK_IOCTL_WRITE_MEMORY: return write_memory(b, in_size, out_size, h);
    case VEK_IOCTL_READ_PCI: return read_pci(b, in_size, out_size, returned);
    case VEK_IOCTL_WRITE_PCI: return write_pci(b, in_size, out_size);
    case VEK_IOCTL_GRANT_PORTS: return grant_ports(b, in_size, out_size, h);
    default: return ZK_STATUS_INVALID_DEVICE_REQUEST;
    }
}

/* ---------------------------------------------------------------- what the PCI bus claims */

#define PCI_VENDOR_ID 0x00u
#define PCI_CLASS_REVISION 0x08u
#define PCI_HEADER_TYPE 0x0Eu
#define PCI_HEADER_MULTIFUNCTION 0x80u
#define PCI_HEADER_LAYOUT 0x7Fu
#define PCI_BAR0 0x10u
#define PCI_BAR_IO 0x1u
#define PCI_BAR_TYPE_MASK 0x6u
#define PCI_BAR_64BIT 0x4u /* memory BAR type field bits 2:1 = 10 */
#define PCI_BAR_MEMORY_MASK 0xFFFFFFF0u
#define PCI_IO_BAR_MASK 0xFFFCu
#define PCI_IO_BAR_MAX_BYTES 0x100u     /* PCI caps an I/O BAR at 256 bytes */
#define PCI_MEMORY_REACH_MAX 0x10000000u /* 256 MiB: see memory_reach */
#define BRIDGE_IO_BASE 0x1Cu            /* u8 base, u8 limit; 0x30 u16 upper base, 0x32 u16 upper limit */
#define BRIDGE_IO_UPPER 0x30u
#define BRIDGE_IO_32BIT 0x1u
#define BRIDGE_MEMORY 0x20u             /* u16 base, u16 limit */
#define BRIDGE_PREFETCH 0x24u           /* u16 base, u16 limit; 0x28, 0x2C upper halves */
#define BRIDGE_PREFETCH_UPPER 0x28u
#define FADT_MAX_BYTES 512u

static uint32_t lowest_bit(uint64_t v) {
    const uint64_t bit = v & (~v + 1u);
    return bit > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)bit;
}

/* Sizing a BAR means writing it, which a live device must not see; a BAR is
 * aligned to its size, so its base's alignment bounds its reach (capped at
 * what PCI allows an I/O BAR, and for memory at 256 MiB so that one large,
 * highly aligned BAR does not swallow the chipset's fixed windows). */
static uint32_t io_bar_bytes(uint32_t base) {
    const uint32_t alignment = lowest_bit(base);
    return alignment < PCI_IO_BAR_MAX_BYTES ? alignment : PCI_IO_BAR_MAX_BYTES;
}
static uint64_t memory_reach(uint64_t base) {
    const uint32_t alignment = lowest_bit(base);
    return alignment < PCI_MEMORY_REACH_MAX ? alignment : PCI_MEMORY_REACH_MAX;
}

static void add_memory(uint32_t* windows, uint64_t base, uint64_t size) {
    if (windows != NULL && size != 0) *windows = zk_windows_clear_of(*windows, base, size);
}

static int cfg(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t offset, uint32_t width, uint32_t* value) {
    uint8_t raw[4] = {0, 0, 0, 0};
    if (!zk_hw_pci_read(bus, dev, fn, offset, raw, width)) return 0;
    *value = get32(raw);
    return 1;
}

static void collect_bars(zk_port_ranges* ports, uint32_t* memory, uint32_t bus, uint32_t dev,
                         uint32_t fn, uint32_t bars) {
    for (uint32_t i = 0; i < bars; ++i) {
        uint32_t bar = 0;
        if (!cfg(bus, dev, fn, PCI_BAR0 + 4 * i, 4, &bar) || bar == 0xFFFFFFFFu) continue;
        if (bar & PCI_BAR_IO) {
            const uint32_t base = bar & PCI_IO_BAR_MASK;
            if (base != 0 && ports != NULL) zk_ports_add(ports, base, base + io_bar_bytes(base) - 1);
            continue;
        }
        uint64_t base = bar & PCI_BAR_MEMORY_MASK;
        if ((bar & PCI_BAR_TYPE_MASK) == PCI_BAR_64BIT && i + 1 < bars) {
            uint32_t high = 0;
            if (cfg(bus, dev, fn, PCI_BAR0 + 4 * (i + 1), 4, &high)) base |= (uint64_t)high << 32;
            ++i; /* the next slot is the high half */
        }
        if (base != 0) add_memory(memory, base, memory_reach(base));
    }
}

/* A bridge forwards these ranges to its secondary bus: whatever sits or will
 * be hot-plugged behind it takes its ports and memory from them. */
static void collect_bridge_windows(zk_port_ranges* ports, uint32_t* memory, uint32_t bus, uint32_t dev,
                                   uint32_t fn) {
    uint32_t io = 0, io_upper = 0, mem = 0, pref = 0, pref_base_hi = 0, pref_limit_hi = 0;
    if (ports != NULL && cfg(bus, dev, fn, BRIDGE_IO_BASE, 2, &io)) {
        uint32_t base = (io & 0xF0u) << 8, limit = ((io >> 8) & 0xF0u) << 8 | 0xFFFu;
        if ((io & 0xFu) == BRIDGE_IO_32BIT && cfg(bus, dev, fn, BRIDGE_IO_UPPER, 4, &io_upper)) {
            base |= (io_upper & 0xFFFFu) << 16;
            limit |= (io_upper >> 16) << 16;
        }
        /* Both registers zero is how a bridge without I/O forwarding reads
         * (they are then hard-wired); firmware never opens a window over the
         * legacy block at 0. */
        if (base <= limit && base != 0 && base <= 0xFFFFu)
            zk_ports_add(ports, base, limit > 0xFFFFu ? 0xFFFFu : limit);
    }
    if (memory == NULL) return;
    if (cfg(bus, dev, fn, BRIDGE_MEMORY, 4, &mem)) {
        const uint64_t base = (uint64_t)(mem & 0xFFF0u) << 16, limit = ((uint64_t)(mem >> 16 & 0xFFF0u) << 16) | 0xFFFFFu;
        if (base <= limit) add_memory(memory, base, limit - base + 1);
    }
    if (cfg(bus, dev, fn, BRIDGE_PREFETCH, 4, &pref)) {
        uint64_t base = (uint64_t)(pref & 0xFFF0u) << 16, limit = ((uint64_t)(pref >> 16 & 0xFFF0u) << 16) | 0xFFFFFu;
        if ((pref & 0xFu) == 1u && cfg(bus, dev, fn, BRIDGE_PREFETCH_UPPER, 4, &pref_base_hi) &&
            cfg(bus, dev, fn, BRIDGE_PREFETCH_UPPER + 4, 4, &pref_limit_hi)) {
            base |= (uint64_t)pref_base_hi << 32;
            limit |= (uint64_t)pref_limit_hi << 32;
        }
        if (base <= limit) add_memory(memory, base, limit - base + 1);
    }
}

int zk_collect_claims(zk_port_ranges* ports, uint32_t* memory) {
    if (ports != NULL) memset(ports, 0, sizeof *ports);
    for (uint32_t bus = 0; bus < 256; ++bus) {
        for (uint32_t dev = 0; dev < 32; ++dev) {
            for (uint32_t fn = 0; fn < 8; ++fn) {
                uint32_t vendor = 0, header = 0;
                if (!cfg(bus, dev, fn, PCI_VENDOR_ID, 2, &vendor) || vendor == 0xFFFFu || vendor == 0) {
                    if (fn == 0) break;
                    continue;
                }
                if (!cfg(bus, dev, fn, PCI_HEADER_TYPE, 1, &header)) continue;
                const uint32_t layout = header & PCI_HEADER_LAYOUT;
                collect_bars(ports, memory, bus, dev, fn, layout == 0 ? 6 : layout == 1 ? 2 : 0);
                if (layout == 1) collect_bridge_windows(ports, memory, bus, dev, fn);
                if (fn == 0 && !(header & PCI_HEADER_MULTIFUNCTION)) break;
            }
        }
    }
    if (ports == NULL) return 1;
    uint8_t fadt[FADT_MAX_BYTES];
    const uint32_t size = zk_hw_acpi_fadt(fadt, sizeof fadt);
    if (size == 0 || size > sizeof fadt || !zk_fadt_port_blocks(fadt, size, ports)) {
        ports->overflow = 1; /* the firmware's own blocks are unknown: nothing is clear */
        return 0;
    }
    return 1;
}

/* ---------------------------------------------------------------- opening a handle */

#define VENDOR_INTEL 0x8086u
#define VENDOR_AMD 0x1022u
#define CLASS_ISA_BRIDGE 0x0601u
#define SMBUS_DECODE_ENABLE 0x80000000u /* SCH SMBus base and watchdog base registers */
#define WATCHDOG_BASE_REG 0x84u
#define WATCHDOG_BASE_MASK 0xFFC0u
#define WATCHDOG_PORTS 0x20u
#define FCH_PM_SMBUS 0xFED80300u /* PM registers 0-1: byte 1 is the SMBus base's high byte */
#define FCH_SMBUS_PORTS 0x40u    /* host block and the second (ASF) block 0x20 above it */

/* Where the chipset generations put their SMBus controller, and how its I/O
 * block is named: an I/O BAR on an SMBus-class function, the SCH's LPC bridge
 * register 0x40 with its enable bit, or the FCH's power-management register. */
typedef enum { SITE_IO_BAR, SITE_SCH_LPC, SITE_FCH } site_kind;
typedef struct smbus_site {
    uint8_t bus, dev, fn, reg;
    uint16_t class_code, vendor; /* vendor 0: any */
    site_kind kind;
    uint16_t mask, ports;
} smbus_site;

static const smbus_site kSmbusSites[] = {
    {0x00, 31, 4, 0x20, PCI_CLASS_SMBUS_CODE, 0, SITE_IO_BAR, 0xFFE0u, 0x20u},
    {0x80, 31, 4, 0x20, PCI_CLASS_SMBUS_CODE, 0, SITE_IO_BAR, 0xFFE0u, 0x20u},
    {0x00, 31, 3, 0x20, PCI_CLASS_SMBUS_CODE, 0, SITE_IO_BAR, 0xFFE0u, 0x20u},
    {0x00, 31, 1, 0x20, PCI_CLASS_SMBUS_CODE, 0, SITE_IO_BAR, 0xFFE0u, 0x20u},
    {0x00, 21, 0, 0x10, PCI_CLASS_SMBUS_CODE, 0, SITE_IO_BAR, 0xFFE0u, 0x20u},
    {0x00, 31, 0, 0x40, CLASS_ISA_BRIDGE, VENDOR_INTEL, SITE_SCH_LPC, 0xFFC0u, 0x40u},
    {0x00, 20, 0, 0x00, PCI_CLASS_SMBUS_CODE, VENDOR_AMD, SITE_FCH, 0xFF00u, FCH_SMBUS_PORTS},
};

/* The embedded controller's fixed ranges: mailbox, auxiliary channel, register window. */
static const struct {
    uint16_t first, last;
} kEcRanges[] = {{0x200, 0x201}, {0x25C, 0x25D}, {0xE300, 0xE3FF}};

static int site_matches(const smbus_site* s, uint32_t* vendor_out) {
    uint32_t vendor = 0, class_code = 0;
    if (!cfg(s->bus, s->dev, s->fn, PCI_VENDOR_ID, 2, &vendor) || vendor == 0xFFFFu || vendor == 0) return 0;
    if (!cfg(s->bus, s->dev, s->fn, PCI_CLASS_CODE, 2, &class_code) || class_code != s->class_code) return 0;
    if (s->vendor != 0 && vendor != s->vendor) return 0;
    *vendor_out = vendor;
    return 1;
}

/* The SMBus controller's I/O block and the watchdog block beside it. */
static void add_smbus_blocks(zk_handle* h, const smbus_site* s) {
    uint32_t reg = 0, base = 0;
    switch (s->kind) {
    case SITE_IO_BAR:
        if (cfg(s->bus, s->dev, s->fn, s->reg, 4, &reg) && (reg & PCI_BAR_IO)) base = reg & s->mask;
        break;
    case SITE_SCH_LPC:
        if (cfg(s->bus, s->dev, s->fn, s->reg, 4, &reg) && (reg & SMBUS_DECODE_ENABLE)) base = reg & s->mask;
        break;
    case SITE_FCH: {
        volatile uint8_t* pm = (volatile uint8_t*)zk_hw_map(FCH_PM_SMBUS, 2);
        if (pm == NULL) return;
        base = (uint32_t)pm[1] << 8;
        zk_hw_unmap(pm, 2);
        break;
    }
    }
    if (base >= 0x100 && base + s->ports - 1 <= 0xFFFFu) zk_ports_add(&h->ports, base, base + s->ports - 1);
    /* The watchdog's base register sits in the same function (the LPC bridge on SCH parts). */
    if (s->kind != SITE_FCH && cfg(s->bus, s->dev, s->fn, WATCHDOG_BASE_REG, 4, &reg) &&
        (reg & SMBUS_DECODE_ENABLE) && (reg & WATCHDOG_BASE_MASK) >= 0x100)
        zk_ports_add(&h->ports, reg & WATCHDOG_BASE_MASK, (reg & WATCHDOG_BASE_MASK) + WATCHDOG_PORTS - 1);
}

/* The I/O hub's GPIO block: only from the GPIO function itself, only a 32-bit
 * memory BAR (in the slot after a 64-bit BAR the register is that BAR's high
 * half), and only above the first MiB (below it lie RAM and firmware). */
static uint64_t gpio_block(void) {
    uint32_t id = 0, header = 0, bar0 = 0, bar = 0;
    if (!cfg(ZK_GPIO_BAR_BUS, ZK_GPIO_BAR_DEVICE, ZK_GPIO_BAR_FUNCTION, PCI_VENDOR_ID, 4, &id) ||
        id != ZK_GPIO_VENDOR_DEVICE)
        return 0;
    if (!cfg(ZK_GPIO_BAR_BUS, ZK_GPIO_BAR_DEVICE, ZK_GPIO_BAR_FUNCTION, PCI_HEADER_TYPE, 1, &header) ||
        (header & PCI_HEADER_LAYOUT) != 0)
        return 0;
    if (!cfg(ZK_GPIO_BAR_BUS, ZK_GPIO_BAR_DEVICE, ZK_GPIO_BAR_FUNCTION, PCI_BAR0, 4, &bar0) ||
        !cfg(ZK_GPIO_BAR_BUS, ZK_GPIO_BAR_DEVICE, ZK_GPIO_BAR_FUNCTION, ZK_GPIO_BAR_OFFSET, 4, &bar))
        return 0;
    if (!(bar0 & PCI_BAR_IO) && (bar0 & PCI_BAR_TYPE_MASK) == PCI_BAR_64BIT) return 0;
    if ((bar & PCI_BAR_IO) || (bar & PCI_BAR_TYPE_MASK) != 0 || bar == 0xFFFFFFFFu) return 0;
    const uint32_t base = bar & PCI_BAR_MEMORY_MASK;
    return base >= ZK_GPIO_BAR_MINIMUM ? base : 0;
}

void zk_open_handle(zk_handle* h, int can_read, int can_write) {
    memset(h, 0, sizeof *h);
    h->can_read = can_read != 0;
    h->can_write = can_write != 0;
    zk_port_ranges occupied;
    uint32_t clear = ~0u; /* windows no PCI device claims */
    zk_collect_claims(&occupied, &clear);
    for (size_t i = 0; i < sizeof kEcRanges / sizeof kEcRanges[0]; ++i)
        if (zk_ports_clear(kEcRanges[i].first, kEcRanges[i].last, &occupied))
            zk_ports_add(&h->ports, kEcRanges[i].first, kEcRanges[i].last);
    int amd_fch = 0, intel_pch = 0;
    for (size_t i = 0; i < sizeof kSmbusSites / sizeof kSmbusSites[0]; ++i) {
        uint32_t vendor = 0;
        if (!site_matches(&kSmbusSites[i], &vendor)) continue;
        add_smbus_blocks(h, &kSmbusSites[i]);
        if (kSmbusSites[i].kind == SITE_FCH) amd_fch = 1;
        else if (vendor == VENDOR_INTEL && kSmbusSites[i].class_code == PCI_CLASS_SMBUS_CODE) intel_pch = 1;
    }
    for (uint32_t i = 0; i < zk_memory_window_count(); ++i) {
        const zk_memory_window* w = zk_memory_window_at(i);
        const int owned = (w->owner == ZK_OWNER_AMD_FCH && amd_fch) || (w->owner == ZK_OWNER_INTEL_PCH && intel_pch);
        if (owned && ((clear >> i) & 1u)) h->windows |= 1u << i;
    }
    h->gpio_block = gpio_block();
}
