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

/* Port ranges that belong to PCI functions whose I/O BARs must stay out of reach. */
#define ZK_MAX_BAR_RANGES 64
typedef struct zk_port_ranges {
    uint32_t count;
    int overflow; /* more BARs than fit: every port above the legacy block is refused */
    struct {
        uint16_t first, last;
    } range[ZK_MAX_BAR_RANGES];
} zk_port_ranges;

/* Nonzero when the rule allows the access. */
int zk_msr_allowed(uint32_t index);
int zk_port_allowed(uint32_t port, uint32_t width, int write, uint32_t value, const zk_port_ranges* bars);
int zk_pci_shape_ok(uint32_t pci_address, uint32_t offset, uint32_t width);
/* current: the register's value read just before the write. */
int zk_pci_write_allowed(uint32_t pci_address, uint32_t offset, uint32_t width, uint32_t current, uint32_t value);
/* Inside one of the device windows (and writable for a write), at most
 * ZK_MAX_MEMORY_BYTES; gpio_block: base of the chipset GPIO block read from its
 * PCI BAR, 0 when absent. */
int zk_memory_window_allowed(uint64_t address, uint32_t bytes, int write, uint64_t gpio_block);
/* No byte in system RAM. ram: zero-terminated, NULL when unknown (then nothing is clear). */
int zk_memory_clear_of_ram(uint64_t address, uint32_t bytes, const zk_phys_range* ram);

/* Largest physical-memory request in bytes. */
#define ZK_MAX_MEMORY_BYTES 256u

/* PCI location of the chipset GPIO block's BAR (bus 2, device 0, function 2, register 0x14). */
#define ZK_GPIO_BAR_BUS 2u
#define ZK_GPIO_BAR_DEVICE 0u
#define ZK_GPIO_BAR_FUNCTION 2u
#define ZK_GPIO_BAR_OFFSET 0x14u
#define ZK_GPIO_BLOCK_BYTES 0x100u

/* ---- requests (dispatch.c) ---- */

/* Scans PCI for the I/O BARs to keep out of reach (once, at driver start). */
void zk_collect_bar_ranges(zk_port_ranges* out);

/*
 * One buffered device I/O control request. buffer holds in_size input bytes on
 * entry and receives the output (it is max(in_size, out_size) long, NULL when
 * both are 0). *returned gets the output bytes written; handles is the count of
 * open handles on the device. Returns an NTSTATUS.
 */
int32_t zk_dispatch(uint32_t code, void* buffer, uint32_t in_size, uint32_t out_size, uint32_t* returned,
                    uint32_t handles, const zk_port_ranges* bars);

#ifdef __cplusplus
}
#endif

#endif /* ZELKORAN_H */
