/*
 * The few kernel services the request handling needs. kernel.c implements
 * them with the HAL, the memory manager and guarded processor instructions;
 * the user-mode tests implement them over a fake machine.
 */
#ifndef ZELKORAN_HW_H
#define ZELKORAN_HW_H

#include <stdint.h>

#include "zelkoran.h"

#ifdef __cplusplus
extern "C" {
#endif

/* width 1, 2 or 4. Zero when the processor refused the instruction. */
int zk_hw_port_in(uint16_t port, uint32_t width, uint32_t* value);
int zk_hw_port_out(uint16_t port, uint32_t width, uint32_t value);
/* Zero when the processor faulted on the register (it does not implement it). */
int zk_hw_msr_read(uint32_t index, uint64_t* value);
/* Configuration space of one PCI function; nonzero when all size bytes moved. */
int zk_hw_pci_read(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, void* data, uint32_t size);
int zk_hw_pci_write(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, const void* data,
                    uint32_t size);
/* Maps device memory uncached for one request; NULL on failure. */
volatile void* zk_hw_map(uint64_t address, uint32_t size);
void zk_hw_unmap(volatile void* mapped, uint32_t size);
/* Copies the firmware's fixed ACPI description table ("FACP") into buffer;
 * returns its length, 0 when there is none or it does not fit. */
uint32_t zk_hw_acpi_fadt(void* buffer, uint32_t size);
/* The system RAM ranges, zero-terminated; NULL when the memory manager cannot say. */
const zk_phys_range* zk_hw_ram_ranges(void);
void zk_hw_ram_ranges_free(const zk_phys_range* ranges);

#ifdef __cplusplus
}
#endif

#endif /* ZELKORAN_HW_H */
