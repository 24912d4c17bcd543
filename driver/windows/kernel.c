/*
 * The kernel side: device object and its security, the I/O request entry
 * points, unload, and the hardware calls of hw.h. Request decoding and the
 * access rules live in dispatch.c and policy.c.
 *
 * A legacy (non-PnP) driver: the library registers it as a demand-start
 * kernel service, opens \\.\ZELKORAN_0_1, and removes the service when the
 * last handle closes.
 */
#include <ddk/ntifs.h>

#include "hw.h"
#include "zelkoran.h"

#define DEVICE_NAME L"\\Device\\ZELKORAN_0_1"
#define LINK_NAME L"\\DosDevices\\ZELKORAN_0_1"
#define DEVICE_TYPE_ZELKORAN 0xEA60

_Static_assert(ZK_STATUS_INVALID_DEVICE_REQUEST == STATUS_INVALID_DEVICE_REQUEST, "status");
_Static_assert(ZK_STATUS_ACCESS_DENIED == STATUS_ACCESS_DENIED, "status");
_Static_assert(ZK_STATUS_INVALID_PARAMETER == STATUS_INVALID_PARAMETER, "status");
_Static_assert(ZK_STATUS_NO_SUCH_DEVICE == STATUS_NO_SUCH_DEVICE, "status");
_Static_assert(ZK_STATUS_PRIVILEGED_INSTRUCTION == STATUS_PRIVILEGED_INSTRUCTION, "status");
_Static_assert(ZK_STATUS_INSUFFICIENT_RESOURCES == STATUS_INSUFFICIENT_RESOURCES, "status");
_Static_assert(ZK_STATUS_NOT_SUPPORTED == STATUS_NOT_SUPPORTED, "status");
_Static_assert(ZK_STATUS_INVALID_BUFFER_SIZE == STATUS_INVALID_BUFFER_SIZE, "status");
_Static_assert(sizeof(PHYSICAL_MEMORY_RANGE) == sizeof(zk_phys_range), "range layout");

static PDEVICE_OBJECT g_device;
static UNICODE_STRING g_device_name, g_link_name;
static LONG g_handles;
static volatile LONG g_in_flight;   /* requests being served; unload waits for none */
static volatile LONG g_unloading;

#define POOL_TAG 0x6B5A6B5Au /* "ZkZk" */

/* One open handle: what it may reach, and a lock so that the request naming a
 * port range never runs beside another request on the same handle. The lock
 * is an event, not a fast mutex: the RAM-range and firmware-table queries
 * made under it need PASSIVE_LEVEL. */
typedef struct handle_state {
    KEVENT lock;
    zk_handle h;
} handle_state;

/* ---------------------------------------------------------------- guarded instructions */

int zk_guarded_rdmsr(uint32_t index, uint64_t* value);
int zk_guarded_in(uint32_t port, uint32_t width, uint32_t* value);
int zk_guarded_out(uint32_t port, uint32_t width, uint32_t value);

#define EXCEPTION_UNWIND_FLAGS 0x66u /* unwinding, exit unwind, target unwind, collided unwind */

#if defined(__x86_64__)
/* The leading fields of the x64 DISPATCHER_CONTEXT. */
typedef struct guard_dispatch {
    ULONG64 control_pc;
    ULONG64 image_base;
    PVOID function_entry;
    ULONG64 establisher_frame;
    ULONG64 target_ip;
    PCONTEXT context_record;
    PVOID language_handler;
    PVOID handler_data;
} guard_dispatch;

/* handler_data: image-relative fault start, fault end, resume (guard_x64.S). */
EXCEPTION_DISPOSITION zk_guard_handler(PEXCEPTION_RECORD record, PVOID frame, PCONTEXT context,
                                       guard_dispatch* dispatch) {
    (void)frame;
    if (record->ExceptionFlags & EXCEPTION_UNWIND_FLAGS) return ExceptionContinueSearch;
    const ULONG* rva = (const ULONG*)dispatch->handler_data;
    const ULONG64 at = (ULONG64)(ULONG_PTR)record->ExceptionAddress;
    if (at < dispatch->image_base + rva[0] || at >= dispatch->image_base + rva[1]) return ExceptionContinueSearch;
    context->Rip = dispatch->image_base + rva[2];
    context->R11 = 0;
    return ExceptionContinueExecution;
}
#else
/* frame: the registration record guard_x86.S pushed. */
EXCEPTION_DISPOSITION __cdecl zk_guard_handler_x86(PEXCEPTION_RECORD record, PVOID frame, PCONTEXT context,
                                                   PVOID dispatch) {
    (void)dispatch;
    if (record->ExceptionFlags & EXCEPTION_UNWIND_FLAGS) return ExceptionContinueSearch;
    const ULONG* guard = (const ULONG*)frame; /* previous, handler, start, end, resume */
    const ULONG at = (ULONG)(ULONG_PTR)record->ExceptionAddress;
    if (at < guard[2] || at >= guard[3]) return ExceptionContinueSearch;
    context->Eip = guard[4];
    context->Ebx = 0;
    return ExceptionContinueExecution;
}
#endif

/* ---------------------------------------------------------------- hw.h */

int zk_hw_port_in(uint16_t port, uint32_t width, uint32_t* value) { return zk_guarded_in(port, width, value); }
int zk_hw_port_out(uint16_t port, uint32_t width, uint32_t value) { return zk_guarded_out(port, width, value); }
int zk_hw_msr_read(uint32_t index, uint64_t* value) { return zk_guarded_rdmsr(index, value); }

static ULONG pci_slot(uint32_t device, uint32_t function) {
    PCI_SLOT_NUMBER slot;
    slot.u.AsULONG = 0;
    slot.u.bits.DeviceNumber = device;
    slot.u.bits.FunctionNumber = function;
    return slot.u.AsULONG;
}

/* The HAL serialises with the kernel's own configuration cycles. */
int zk_hw_pci_read(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, void* data, uint32_t size) {
    return HalGetBusDataByOffset(PCIConfiguration, bus, pci_slot(device, function), data, offset, size) == size;
}

int zk_hw_pci_write(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset, const void* data,
                    uint32_t size) {
    return HalSetBusDataByOffset(PCIConfiguration, bus, pci_slot(device, function), (PVOID)data, offset, size) ==
           size;
}

volatile void* zk_hw_map(uint64_t address, uint32_t size) {
    PHYSICAL_ADDRESS physical;
    physical.QuadPart = (LONGLONG)address;
    return MmMapIoSpace(physical, size, MmNonCached);
}

void zk_hw_unmap(volatile void* mapped, uint32_t size) { MmUnmapIoSpace((PVOID)mapped, size); }

/* SystemFirmwareTableInformation; the kernel's import library has it, the driver headers do not declare it. */
#define SYSTEM_FIRMWARE_TABLE_INFORMATION_CLASS 76
#define PROVIDER_ACPI 0x41435049u /* 'ACPI' */
#define TABLE_FADT 0x50434146u    /* "FACP" as it lies in memory */
NTSYSAPI NTSTATUS NTAPI ZwQuerySystemInformation(ULONG information_class, PVOID information, ULONG length,
                                                 PULONG returned);

uint32_t zk_hw_acpi_fadt(void* buffer, uint32_t size) {
    ULONG query[(FIELD_OFFSET(SYSTEM_FIRMWARE_TABLE_INFORMATION, TableBuffer) + 512) / sizeof(ULONG)];
    SYSTEM_FIRMWARE_TABLE_INFORMATION* info = (SYSTEM_FIRMWARE_TABLE_INFORMATION*)query;
    const ULONG room = sizeof query - FIELD_OFFSET(SYSTEM_FIRMWARE_TABLE_INFORMATION, TableBuffer);
    ULONG returned = 0;
    RtlZeroMemory(query, sizeof query);
    info->ProviderSignature = PROVIDER_ACPI;
    info->Action = SystemFirmwareTable_Get;
    info->TableID = TABLE_FADT;
    info->TableBufferLength = room;
    if (!NT_SUCCESS(ZwQuerySystemInformation(SYSTEM_FIRMWARE_TABLE_INFORMATION_CLASS, info, sizeof query, &returned)))
        return 0;
    if (info->TableBufferLength == 0 || info->TableBufferLength > room || info->TableBufferLength > size) return 0;
    RtlCopyMemory(buffer, info->TableBuffer, info->TableBufferLength);
    return info->TableBufferLength;
}

const zk_phys_range* zk_hw_ram_ranges(void) { return (const zk_phys_range*)MmGetPhysicalMemoryRanges(); }

void zk_hw_ram_ranges_free(const zk_phys_range* ranges) { ExFreePool((PVOID)ranges); }

/* ---------------------------------------------------------------- device security */

/* S-1-5-18 (SYSTEM) and S-1-5-32-544 (Administrators). */
static const ULONG kSystemSid[] = {0x00000101u, 0x05000000u, 18u};
static const ULONG kAdministratorsSid[] = {0x00000201u, 0x05000000u, 32u, 544u};

/* Replaces the device's default DACL (which lets everyone open a named device)
 * with one that grants access to SYSTEM and Administrators only. */
static NTSTATUS restrict_device(PDEVICE_OBJECT device) {
    SECURITY_DESCRIPTOR sd;
    ULONG acl_buffer[32];
    PACL acl = (PACL)acl_buffer;
    HANDLE handle;
    NTSTATUS status = RtlCreateSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status)) status = RtlCreateAcl(acl, sizeof acl_buffer, ACL_REVISION);
    if (NT_SUCCESS(status)) status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)kSystemSid);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)kAdministratorsSid);
    if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&sd, TRUE, acl, FALSE);
    if (!NT_SUCCESS(status)) return status;
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
    if (!NT_SUCCESS(status)) return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &sd);
    ZwClose(handle);
    return status;
}

/* ---------------------------------------------------------------- requests */

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI on_create(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    handle_state* state;
    ACCESS_MASK access = 0;
    (void)device;
    /* The device itself is the only name: nothing opens below it. */
    if (stack->FileObject == NULL || stack->FileObject->FileName.Length != 0)
        return complete(irp, STATUS_ACCESS_DENIED, 0);
    state = (handle_state*)ExAllocatePoolWithTag(NonPagedPool, sizeof *state, POOL_TAG);
    if (state == NULL) return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    /* The access the open asked for (and the I/O manager checked against the
     * device's DACL). Windows always passes the security context; wine's
     * device host passes none and checks nothing, so there the handle counts
     * as opened for reading and writing. */
    access = stack->Parameters.Create.SecurityContext != NULL
                 ? stack->Parameters.Create.SecurityContext->DesiredAccess
                 : (ACCESS_MASK)(FILE_READ_DATA | FILE_WRITE_DATA);
    KeInitializeEvent(&state->lock, SynchronizationEvent, TRUE);
    /* Settled now, on this machine as it is: the SMBus controller and the
     * chipset blocks are looked up on every open, not once at start. */
    zk_open_handle(&state->h, (access & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0,
                   (access & (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL)) != 0);
    /* Also marks the file object as counted: a host may send a close for a refused open too. */
    stack->FileObject->FsContext = state;
    InterlockedIncrement(&g_handles);
    return complete(irp, STATUS_SUCCESS, FILE_OPENED);
}

static NTSTATUS NTAPI on_close(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    (void)device;
    if (stack->FileObject != NULL && stack->FileObject->FsContext != NULL) {
        ExFreePool(stack->FileObject->FsContext);
        stack->FileObject->FsContext = NULL;
        InterlockedDecrement(&g_handles);
    }
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI on_control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    handle_state* state = stack->FileObject != NULL ? (handle_state*)stack->FileObject->FsContext : NULL;
    uint32_t returned = 0;
    NTSTATUS status;
    (void)device;
    if (state == NULL) return complete(irp, STATUS_ACCESS_DENIED, 0);
    InterlockedIncrement(&g_in_flight);
    if (g_unloading) {
        InterlockedDecrement(&g_in_flight);
        return complete(irp, STATUS_DELETE_PENDING, 0);
    }
    KeWaitForSingleObject(&state->lock, Executive, KernelMode, FALSE, NULL);
    status = zk_dispatch(stack->Parameters.DeviceIoControl.IoControlCode, irp->AssociatedIrp.SystemBuffer,
                         stack->Parameters.DeviceIoControl.InputBufferLength,
                         stack->Parameters.DeviceIoControl.OutputBufferLength, &returned,
                         (uint32_t)InterlockedCompareExchange(&g_handles, 0, 0), &state->h);
    KeSetEvent(&state->lock, IO_NO_INCREMENT, FALSE);
    InterlockedDecrement(&g_in_flight);
    return complete(irp, status, NT_SUCCESS(status) ? returned : 0);
}

static NTSTATUS NTAPI on_other(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

/* Requests are served synchronously; unload waits for those under way, then
 * removes both names. No mapping outlives its request. */
static VOID NTAPI on_unload(PDRIVER_OBJECT driver) {
    LARGE_INTEGER pause;
    (void)driver;
    pause.QuadPart = -1000; /* 100 us, relative */
    InterlockedExchange(&g_unloading, 1);
    while (InterlockedCompareExchange(&g_in_flight, 0, 0) != 0) KeDelayExecutionThread(KernelMode, FALSE, &pause);
    IoDeleteSymbolicLink(&g_link_name);
    IoDeleteDevice(g_device);
    g_device = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry) {
    NTSTATUS status;
    (void)registry;
    RtlInitUnicodeString(&g_device_name, DEVICE_NAME);
    RtlInitUnicodeString(&g_link_name, LINK_NAME);

    status = IoCreateDevice(driver, 0, &g_device_name, DEVICE_TYPE_ZELKORAN, FILE_DEVICE_SECURE_OPEN, FALSE,
                            &g_device);
    if (!NT_SUCCESS(status)) return status;
    status = restrict_device(g_device);
    if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(&g_link_name, &g_device_name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g_device);
        g_device = NULL;
        return status;
    }

    for (int i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = on_other;
    driver->MajorFunction[IRP_MJ_CREATE] = on_create;
    driver->MajorFunction[IRP_MJ_CLOSE] = on_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = on_control;
    driver->DriverUnload = on_unload;
    g_device->Flags |= DO_BUFFERED_IO;
    g_device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
