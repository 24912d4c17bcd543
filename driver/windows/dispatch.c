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
                         const zk_port_ranges* bars, uint32_t* returned) {
    if (in_size != io_size || out_size != io_size) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t port = io_size == 4 ? get32(b) : get16(b);
    if (!zk_port_allowed(port, width, 0, 0, bars)) return ZK_STATUS_ACCESS_DENIED;
    uint32_t value = 0;
    if (!zk_hw_port_in((uint16_t)port, width, &value)) return ZK_STATUS_PRIVILEGED_INSTRUCTION;
    memset(b, 0, io_size);
    for (uint32_t i = 0; i < width; ++i) b[i] = (uint8_t)(value >> (8 * i));
    *returned = io_size;
    return ZK_STATUS_SUCCESS;
}

/* in: u32 port, then the value's width bytes. */
static int32_t write_port(const uint8_t* b, uint32_t in_size, uint32_t out_size, uint32_t width,
                          const zk_port_ranges* bars) {
    if (in_size != 4 + width || out_size != 0) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t port = get32(b);
    uint32_t value = 0;
    for (uint32_t i = 0; i < width; ++i) value |= (uint32_t)b[4 + i] << (8 * i);
    if (!zk_port_allowed(port, width, 1, value, bars)) return ZK_STATUS_ACCESS_DENIED;
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

/* in: u32 PCI address, u32 offset, then 1, 2 or 4 data bytes. */
static int32_t write_pci(const uint8_t* b, uint32_t in_size, uint32_t out_size) {
    if ((in_size != 9 && in_size != 10 && in_size != 12) || out_size != 0) return ZK_STATUS_INVALID_BUFFER_SIZE;
    const uint32_t width = in_size - 8;
    const uint32_t pci = get32(b), offset = get32(b + 4);
    if (!zk_pci_shape_ok(pci, offset, width)) return ZK_STATUS_INVALID_PARAMETER;
    uint32_t value = 0, current = 0;
    for (uint32_t i = 0; i < width; ++i) value |= (uint32_t)b[8 + i] << (8 * i);
    if (!pci_read(pci, offset, width, &current)) return ZK_STATUS_NO_SUCH_DEVICE;
    if (!zk_pci_write_allowed(pci, offset, width, current, value)) return ZK_STATUS_ACCESS_DENIED;
    if (!zk_hw_pci_write(PCI_BUS(pci), PCI_DEVICE(pci), PCI_FUNCTION(pci), offset, b + 8, width))
        return ZK_STATUS_NO_SUCH_DEVICE;
    return ZK_STATUS_SUCCESS;
}

/* ---------------------------------------------------------------- physical memory */

#define PCI_BAR_IO 0x1u
#define PCI_BAR_MEMORY_MASK 0xFFFFFFF0u

/* The chipset GPIO block lives where its function's memory BAR points. */
static uint64_t gpio_block_base(void) {
    uint32_t bar = 0;
    const uint32_t pci = (ZK_GPIO_BAR_BUS << 8) | (ZK_GPIO_BAR_DEVICE << 3) | ZK_GPIO_BAR_FUNCTION;
    if (!pci_read(pci, ZK_GPIO_BAR_OFFSET, 4, &bar) || bar == 0xFFFFFFFFu || (bar & PCI_BAR_IO)) return 0;
    return bar & PCI_BAR_MEMORY_MASK;
}

typedef struct memory_request {
    uint64_t address;
    uint32_t unit;
    uint32_t bytes;
} memory_request;

/* Decodes and checks the 16-byte header (r->bytes = unit * count) against the rules. */
static int32_t memory_header(const uint8_t* b, int write, memory_request* r) {
    r->address = get64(b);
    r->unit = get32(b + 8);
    const uint32_t count = get32(b + 12);
    if (r->unit != 1 && r->unit != 2 && r->unit != 4) return ZK_STATUS_INVALID_PARAMETER;
    if (count == 0) return ZK_STATUS_INVALID_PARAMETER;
    if (count > ZK_MAX_MEMORY_BYTES / r->unit) return ZK_STATUS_ACCESS_DENIED;
    r->bytes = r->unit * count;
    if ((r->address & (r->unit - 1)) != 0) return ZK_STATUS_INVALID_PARAMETER;
    if (!zk_memory_window_allowed(r->address, r->bytes, write, gpio_block_base())) return ZK_STATUS_ACCESS_DENIED;
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
static int32_t read_memory(uint8_t* b, uint32_t in_size, uint32_t out_size, uint32_t* returned) {
    if (in_size != 16) return ZK_STATUS_INVALID_BUFFER_SIZE;
    memory_request r;
    int32_t status = memory_header(b, 0, &r);
    if (status != ZK_STATUS_SUCCESS) return status;
    if (out_size != r.bytes) return ZK_STATUS_INVALID_BUFFER_SIZE;
    status = copy_device_memory(&r, b, 0);
    if (status == ZK_STATUS_SUCCESS) *returned = r.bytes;
    return status;
}

/* in: the same header, then unit * count data bytes. */
static int32_t write_memory(uint8_t* b, uint32_t in_size, uint32_t out_size) {
    if (in_size < 16 || out_size != 0) return ZK_STATUS_INVALID_BUFFER_SIZE;
    memory_request r;
    const int32_t status = memory_header(b, 1, &r);
    if (status != ZK_STATUS_SUCCESS) return status;
    if (in_size - 16 != r.bytes) return ZK_STATUS_INVALID_BUFFER_SIZE;
    return copy_device_memory(&r, b + 16, 1);
}

/* ---------------------------------------------------------------- the table */

int32_t zk_dispatch(uint32_t code, void* buffer, uint32_t in_size, uint32_t out_size, uint32_t* returned,
                    uint32_t handles, const zk_port_ranges* bars) {
    uint8_t* b = (uint8_t*)buffer;
    *returned = 0;
    if (b == NULL && (in_size != 0 || out_size != 0)) return ZK_STATUS_INVALID_PARAMETER;
    switch (code) {
    case VEK_IOCTL_DRIVER_VERSION: return reply32(b, in_size, out_size, ZK_DRIVER_VERSION, returned);
    case VEK_IOCTL_HANDLE_COUNT: return reply32(b, in_size, out_size, handles, returned);
    case VEK_IOCTL_READ_MSR: return read_msr(b, in_size, out_size, returned);
    case VEK_IOCTL_READ_PORT_BYTE: return read_port(b, in_size, out_size, 1, 2, bars, returned);
    case VEK_IOCTL_READ_PORT_WORD: return read_port(b, in_size, out_size, 2, 2, bars, returned);
    case VEK_IOCTL_READ_PORT_DWORD: return read_port(b, in_size, out_size, 4, 4, bars, returned);
    case VEK_IOCTL_WRITE_PORT_BYTE: return write_port(b, in_size, out_size, 1, bars);
    case VEK_IOCTL_WRITE_PORT_WORD: return write_port(b, in_size, out_size, 2, bars);
    case VEK_IOCTL_WRITE_PORT_DWORD: return write_port(b, in_size, out_size, 4, bars);
    case VEK_IOCTL_READ_MEMORY: return read_memory(b, in_size, out_size, returned);
    case VEK_IOCTL_WRITE_MEMORY: return write_memory(b, in_size, out_size);
    case VEK_IOCTL_READ_PCI: return read_pci(b, in_size, out_size, returned);
    case VEK_IOCTL_WRITE_PCI: return write_pci(b, in_size, out_size);
    default: return ZK_STATUS_INVALID_DEVICE_REQUEST;
    }
}

/* ---------------------------------------------------------------- I/O BARs */

#define PCI_VENDOR_ID 0x00u
#define PCI_CLASS_REVISION 0x08u
#define PCI_HEADER_TYPE 0x0Eu
#define PCI_HEADER_MULTIFUNCTION 0x80u
#define PCI_HEADER_LAYOUT 0x7Fu
#define PCI_BAR0 0x10u
#define PCI_BAR_64BIT 0x4u /* memory BAR type field bits 2:1 = 10 */
#define PCI_BAR_TYPE_MASK 0x6u
#define PCI_IO_BAR_MASK 0xFFFCu
#define PCI_CLASS_SMBUS 0x0C05u
#define PCI_IO_BAR_MAX_BYTES 0x100u /* PCI caps an I/O BAR at 256 bytes */

/* Sizing a BAR means writing it, which a live device must not see; the size
 * is bounded by the base's alignment and by the 256-byte cap instead. */
static uint32_t io_bar_bytes(uint32_t base) {
    const uint32_t alignment = base & (~base + 1u);
    return alignment < PCI_IO_BAR_MAX_BYTES ? alignment : PCI_IO_BAR_MAX_BYTES;
}

static void add_range(zk_port_ranges* out, uint32_t base) {
    if (out->count == ZK_MAX_BAR_RANGES) {
        out->overflow = 1;
        return;
    }
    out->range[out->count].first = (uint16_t)base;
    out->range[out->count].last = (uint16_t)(base + io_bar_bytes(base) - 1);
    out->count++;
}

static void collect_function(zk_port_ranges* out, uint32_t bus, uint32_t dev, uint32_t fn, uint32_t layout) {
    uint8_t class_revision[4];
    if (!zk_hw_pci_read(bus, dev, fn, PCI_CLASS_REVISION, class_revision, 4)) return;
    /* The SMBus controller's registers are what the library drives. */
    if (get16(class_revision + 2) == PCI_CLASS_SMBUS) return;
    const uint32_t bars = layout == 0 ? 6 : layout == 1 ? 2 : 0;
    for (uint32_t i = 0; i < bars; ++i) {
        uint8_t raw[4];
        if (!zk_hw_pci_read(bus, dev, fn, PCI_BAR0 + 4 * i, raw, 4)) continue;
        const uint32_t bar = get32(raw);
        if (bar == 0xFFFFFFFFu) continue;
        if (!(bar & PCI_BAR_IO)) {
            if ((bar & PCI_BAR_TYPE_MASK) == PCI_BAR_64BIT) ++i; /* the next slot is the high half */
            continue;
        }
        const uint32_t base = bar & PCI_IO_BAR_MASK;
        if (base >= 0x100) add_range(out, base);
    }
}

void zk_collect_bar_ranges(zk_port_ranges* out) {
    memset(out, 0, sizeof *out);
    for (uint32_t bus = 0; bus < 256; ++bus) {
        for (uint32_t dev = 0; dev < 32; ++dev) {
            for (uint32_t fn = 0; fn < 8; ++fn) {
                uint8_t id[2], header = 0;
                if (!zk_hw_pci_read(bus, dev, fn, PCI_VENDOR_ID, id, 2)) {
                    if (fn == 0) break;
                    continue;
                }
                const uint32_t vendor = get16(id);
                if (vendor == 0xFFFFu || vendor == 0) {
                    if (fn == 0) break;
                    continue;
                }
                if (!zk_hw_pci_read(bus, dev, fn, PCI_HEADER_TYPE, &header, 1)) continue;
                collect_function(out, bus, dev, fn, header & PCI_HEADER_LAYOUT);
                if (fn == 0 && !(header & PCI_HEADER_MULTIFUNCTION)) break;
            }
        }
    }
}
