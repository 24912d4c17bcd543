/*
 * zelkoran: the I/O driver's request handling and access rules.
 *
 * Plain C without kernel headers, so the same request decoding and policy
 * build into the kernel driver (kernel.c supplies the hardware calls of hw.h)
 * and into a user-mode test program (a fake supplies them).
 */
#ifndef ZELKORAN_H
#define ZELKORAN_H

#include <stddef.h>
#include <stdint.h>

#include "vek/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* major.minor.revision.release, most significant byte first. */
#define ZK_DRIVER_VERSION 0x05000100u /* 5.0.1.0 */

/* NTSTATUS values the requests complete with (kernel.c checks them against ntstatus.h). */
#define ZK_STATUS_SUCCESS ((int32_t)0x00000000)
#define ZK_STATUS_INVALID_DEVICE_REQUEST ((int32_t)0xC0000010) /* unknown request code */
#define ZK_STATUS_ACCESS_DENIED ((int32_t)0xC0000022)          /* a rule refused it */
#define ZK_STATUS_INVALID_PARAMETER ((int32_t)0xC000000D)      /* width, alignment or range malformed */
#define ZK_STATUS_NO_SUCH_DEVICE ((int32_t)0xC000000E)         /* PCI function did not answer */
#define ZK_STATUS_PRIVILEGED_INSTRUCTION ((int32_t)0xC0000096) /* the host trapped port I/O */
#define ZK_STATUS_INSUFFICIENT_RESOURCES ((int32_t)0xC000009A) /* mapping failed */
#define ZK_STATUS_NOT_SUPPORTED ((int32_t)0xC00000BB)          /* the processor lacks the MSR */
#define ZK_STATUS_INVALID_BUFFER_SIZE ((int32_t)0xC0000206)    /* short or oversized buffer */

/* ---- rules (policy.c) ---- */

/* A physical range; a zero-size entry ends a list. Same layout as the memory
 * manager's PHYSICAL_MEMORY_RANGE. */
typedef struct zk_phys_range {
    uint64_t base;
    uint64_t size;
} zk_phys_range;

/* A set of port ranges, inclusive. overflow: more ranges turned up than fit,
 * so the set is not known (a reachable set then grants nothing beyond what
 * fitted, an occupied set makes every grant fail). */
#define ZK_MAX_PORT_RANGES 128
typedef struct zk_port_ranges {
    uint32_t count;
    int overflow;
    struct {
        uint16_t first, last;
    } range[ZK_MAX_PORT_RANGES];
} zk_port_ranges;

/* What one open handle may reach, settled when it is opened (and, for the
 * Super I/O ranges, when the library names them on it). */
typedef struct zk_handle {
    int can_read, can_write; /* read and write data access granted on the open */
    zk_port_ranges ports;    /* reachable ports above 0xFF */
    uint32_t library_grants; /* ranges the library added */
    uint32_t windows;        /* bit i: memory window i of the table is enabled */
    uint64_t gpio_block;     /* I/O hub GPIO block base, 0 when not accepted */
} zk_handle;

/* Nonzero when the rule allows the access. ports: the handle's reachable ports above 0xFF. */
int zk_msr_allowed(uint32_t index);
int zk_port_allowed(uint32_t port, uint32_t width, int write, uint32_t value, const zk_port_ranges* ports);
/* Port B (0x61): only the speaker bits 0-1 may change; current is the value read just before. */
int zk_port_b_write_allowed(uint32_t current, uint32_t value);
/* What is written to port B instead: the caller's speaker bits, the rest as read
 * (bits 4-7 are read-only status, the refresh toggle among them flips every 15 us). */
uint32_t zk_port_b_value(uint32_t current, uint32_t value);
int zk_pci_shape_ok(uint32_t pci_address, uint32_t offset, uint32_t width);
/* The bits a write to this function's register may change, 0 when none.
 * class_code: the function's base class and subclass (0x0C05 for SMBus). */
uint32_t zk_pci_write_mask(uint32_t pci_address, uint32_t class_code, uint32_t offset, uint32_t width);
/* Inside one of the enabled device windows (and writable for a write), at
 * most ZK_MAX_MEMORY_BYTES; gpio_block: the accepted I/O hub GPIO block, 0 when none. */
int zk_memory_window_allowed(uint64_t address, uint32_t bytes, int write, uint32_t windows, uint64_t gpio_block);
/* No byte in system RAM. ram: zero-terminated, NULL when unknown (then nothing is clear). */
int zk_memory_clear_of_ram(uint64_t address, uint32_t bytes, const zk_phys_range* ram);

/* Adds [first, last] to set; 0 when it does not fit (overflow is set). */
int zk_ports_add(zk_port_ranges* set, uint32_t first, uint32_t last);
int zk_ports_overlap(const zk_port_ranges* set, uint32_t first, uint32_t last);
/* The ACPI fixed-hardware I/O blocks a fixed ACPI description table names:
 * PM1a/b event and control, PM2 control, PM timer, GPE0/1, SMI command, reset
 * register, and the whole 256-byte power-management block around PM1a event
 * (SMI enable/status and the TCO registers sit there). 0 when the table is
 * malformed. */
int zk_fadt_port_blocks(const uint8_t* fadt, uint32_t size, zk_port_ranges* out);
/* Whether a port range may be made reachable: above the legacy block, at most
 * ZK_MAX_GRANT_PORTS long, in none of the never-granted ranges and in no
 * occupied range (PCI I/O BARs, bridge windows, ACPI blocks). occupied must be
 * complete: with overflow set nothing is clear. */
int zk_port_range_clear(uint32_t first, uint32_t count, const zk_port_ranges* occupied);
/* The same without the length limit, for the driver's own fixed ranges. */
int zk_ports_clear(uint32_t first, uint32_t last, const zk_port_ranges* occupied);
/* windows (bit i: window i of the table) less those that [base, base + size) overlaps. */
uint32_t zk_windows_clear_of(uint32_t windows, uint64_t base, uint64_t size);

/* Largest physical-memory request in bytes. */
#define ZK_MAX_MEMORY_BYTES 256u
/* Longest port range the library may name: a Super I/O logical device decodes at most this many. */
#define ZK_MAX_GRANT_PORTS 16u
/* Most ranges the library may name on one handle. */
#define ZK_MAX_LIBRARY_GRANTS 8u

/* The memory windows of the boards' chipsets (policy.c's table); owner: what
 * must be on the PCI bus for the window to be enabled. */
enum zk_window_owner {
    ZK_OWNER_AMD_FCH = 1,   /* AMD SMBus controller at 00:14.0 */
    ZK_OWNER_INTEL_PCH = 2, /* Intel SMBus controller at one of the chipset SMBus locations */
};
typedef struct zk_memory_window {
    uint64_t base;
    uint32_t size;
    int writable;
    int owner;
} zk_memory_window;
uint32_t zk_memory_window_count(void);
const zk_memory_window* zk_memory_window_at(uint32_t index);

/* I/O hub GPIO block: function 02:00.2, memory BAR at 0x14; the library uses
 * its output, input and direction registers at 0x18..0x23. */
#define ZK_GPIO_BAR_BUS 2u
#define ZK_GPIO_BAR_DEVICE 0u
#define ZK_GPIO_BAR_FUNCTION 2u
#define ZK_GPIO_BAR_OFFSET 0x14u
#define ZK_GPIO_VENDOR_DEVICE 0x88038086u
#define ZK_GPIO_REGISTERS_FIRST 0x18u
#define ZK_GPIO_REGISTERS_BYTES 0x0Cu
#define ZK_GPIO_BAR_MINIMUM 0x100000u

/* ---- requests (dispatch.c) ---- */

/* VEK_IOCTL_GRANT_PORTS (vek/host.h): the library names a Super I/O port range
 * it drives, in u16 first port, u16 count; no output. Function 0x918,
 * buffered, write access. */

/* Settles what a newly opened handle may reach: the embedded controller's
 * fixed ranges, the located SMBus controller's I/O block, the chipset watchdog
 * block, the memory windows whose owner is present. */
void zk_open_handle(zk_handle* h, int can_read, int can_write);

/* What PCI devices and the firmware claim, read now: I/O BARs, bridge I/O
 * windows and the ACPI blocks go into ports; memory BARs and bridge memory
 * windows clear the memory windows they overlap from *windows. Either may be
 * NULL. Returns 0 when the ACPI table could not be read (ports then stay
 * overflowed: nothing is clear). */
int zk_collect_claims(zk_port_ranges* ports, uint32_t* windows);

/*
 * One buffered device I/O control request on handle h. buffer holds in_size
 * input bytes on entry and receives the output (it is max(in_size, out_size)
 * long, NULL when both are 0). *returned gets the output bytes written;
 * handles is the count of open handles on the device. Returns an NTSTATUS.
 */
int32_t zk_dispatch(uint32_t code, void* buffer, uint32_t in_size, uint32_t out_size, uint32_t* returned,
                    uint32_t handles, zk_handle* h);

#ifdef __cplusplus
}
#endif

#endif /* ZELKORAN_H */
