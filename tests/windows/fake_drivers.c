/*
 * Stand-in kernel drivers for the wine tests. Wine loads kernel drivers into
 * its own device host, so these let the library's driver paths run there for
 * real: service registration, device opens, requests, the handle count that
 * decides who removes the service, requests the driver leaves pending.
 *
 * Three builds of this file:
 *  - the I/O driver (installed as zelkoranx64.sys): answers the version and
 *    handle-count requests and keeps a 64 KiB port space in memory (writes
 *    read back); memory, PCI and MSR reads answer zeros, writes are dropped;
 *  - FAKE_DRIVER_FAILS_TO_START: the same file name, but it refuses to start;
 *  - FAKE_ZKEC: the second EC's driver, device ZKEC. A register reads as its
 *    own complement, except register 0xEE, whose read stays pending until
 *    the caller cancels it.
 */
#include <ddk/wdm.h>

#ifdef FAKE_ZKEC
#define DEVICE_NAME L"\\Device\\ZKEC"
#define LINK_NAME L"\\DosDevices\\ZKEC"
#define DEVICE_TYPE_CODE 0x0400
#else
#define DEVICE_NAME L"\\Device\\ZELKORAN_0_1"
#define LINK_NAME L"\\DosDevices\\ZELKORAN_0_1"
#define DEVICE_TYPE_CODE 0xEA60
#endif

#define VERSION_REPLY 0x01020304u /* 1.2.3.4 */

#define IOCTL_DRIVER_VERSION   0xEA602400u
#define IOCTL_HANDLE_COUNT     0xEA602404u
#define IOCTL_READ_MSR         0xEA602408u
#define IOCTL_READ_PORT_BYTE   0xEA606420u
#define IOCTL_READ_PORT_WORD   0xEA606424u
#define IOCTL_READ_PORT_DWORD  0xEA606440u
#define IOCTL_WRITE_PORT_BYTE  0xEA60A444u
#define IOCTL_WRITE_PORT_WORD  0xEA60A448u
#define IOCTL_WRITE_PORT_DWORD 0xEA60A44Cu
#define IOCTL_READ_MEMORY      0xEA606450u
#define IOCTL_READ_PCI         0xEA606458u

#define ZKEC_BEGIN         0x04001C00u
#define ZKEC_END           0x04001C04u
#define ZKEC_READ_REGISTER 0x04001C10u
#define ZKEC_PENDING_REGISTER 0xEE

static LONG handles;
static PDEVICE_OBJECT device;
static UNICODE_STRING deviceName, linkName;

#ifndef FAKE_ZKEC
static UCHAR ports[0x10000 + 4];

static ULONG Le32(const UCHAR* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((ULONG)p[3] << 24); }

static NTSTATUS IoDriverControl(ULONG code, UCHAR* buffer, ULONG inSize, ULONG outSize, ULONG_PTR* returned) {
    ULONG port = inSize >= 2 ? (buffer[0] | (buffer[1] << 8)) : 0;
    ULONG width = 0;
    switch (code) {
    case IOCTL_DRIVER_VERSION:
    case IOCTL_HANDLE_COUNT:
        if (outSize < 4) return STATUS_BUFFER_TOO_SMALL;
        *(ULONG*)buffer = code == IOCTL_DRIVER_VERSION ? VERSION_REPLY : (ULONG)handles;
        *returned = 4;
        return STATUS_SUCCESS;
    case IOCTL_READ_PORT_BYTE: width = 2; break; /* the value in the first of two bytes */
    case IOCTL_READ_PORT_WORD: width = 2; break;
    case IOCTL_READ_PORT_DWORD: width = 4; break;
    case IOCTL_WRITE_PORT_BYTE: width = 1; break;
    case IOCTL_WRITE_PORT_WORD: width = 2; break;
    case IOCTL_WRITE_PORT_DWORD: width = 4; break;
    case IOCTL_READ_MSR:
    case IOCTL_READ_MEMORY:
    case IOCTL_READ_PCI:
        RtlZeroMemory(buffer, outSize);
        *returned = outSize;
        return STATUS_SUCCESS;
    default:
        *returned = 0;
        return STATUS_SUCCESS; /* memory and PCI writes: accepted, dropped */
    }
    if (code == IOCTL_WRITE_PORT_BYTE || code == IOCTL_WRITE_PORT_WORD || code == IOCTL_WRITE_PORT_DWORD) {
        if (inSize < 4 + width) return STATUS_INVALID_PARAMETER;
        port = Le32(buffer) & 0xFFFF;
        RtlCopyMemory(ports + port, buffer + 4, width);
        *returned = 0;
        return STATUS_SUCCESS;
    }
    if (outSize < width) return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(buffer, ports + port, width);
    if (code == IOCTL_READ_PORT_BYTE) buffer[1] = 0;
    *returned = width;
    return STATUS_SUCCESS;
}
#endif

#ifdef FAKE_ZKEC
static void WINAPI CancelPending(PDEVICE_OBJECT dev, PIRP irp) {
    (void)dev;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

/* STATUS_PENDING when the IRP was left for cancellation. */
static NTSTATUS ZkecControl(PIRP irp, ULONG code, UCHAR* buffer, ULONG inSize, ULONG outSize, ULONG_PTR* returned) {
    switch (code) {
    case ZKEC_BEGIN:
    case ZKEC_END:
        return STATUS_SUCCESS;
    case ZKEC_READ_REGISTER:
        if (inSize < 1 || outSize < 1) return STATUS_INVALID_PARAMETER;
        if (buffer[0] == ZKEC_PENDING_REGISTER) {
            IoMarkIrpPending(irp);
            IoSetCancelRoutine(irp, CancelPending);
            return STATUS_PENDING;
        }
        buffer[0] = (UCHAR)~buffer[0];
        *returned = 1;
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}
#endif

static NTSTATUS WINAPI Dispatch(PDEVICE_OBJECT dev, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR returned = 0;
    (void)dev;
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE: InterlockedIncrement(&handles); break;
    case IRP_MJ_CLOSE: InterlockedDecrement(&handles); break;
    case IRP_MJ_DEVICE_CONTROL:
#ifdef FAKE_ZKEC
        status = ZkecControl(irp, stack->Parameters.DeviceIoControl.IoControlCode, irp->AssociatedIrp.SystemBuffer,
                             stack->Parameters.DeviceIoControl.InputBufferLength,
                             stack->Parameters.DeviceIoControl.OutputBufferLength, &returned);
        if (status == STATUS_PENDING) return status;
#else
        status = IoDriverControl(stack->Parameters.DeviceIoControl.IoControlCode, irp->AssociatedIrp.SystemBuffer,
                                 stack->Parameters.DeviceIoControl.InputBufferLength,
                                 stack->Parameters.DeviceIoControl.OutputBufferLength, &returned);
#endif
        break;
    default: break;
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = returned;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void WINAPI Unload(PDRIVER_OBJECT driver) {
    (void)driver;
    IoDeleteSymbolicLink(&linkName);
    IoDeleteDevice(device);
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry) {
    NTSTATUS status;
    (void)registry;
#ifdef FAKE_DRIVER_FAILS_TO_START
    return STATUS_UNSUCCESSFUL; /* before any device exists */
#endif
    RtlInitUnicodeString(&deviceName, DEVICE_NAME);
    RtlInitUnicodeString(&linkName, LINK_NAME);
    status = IoCreateDevice(driver, 0, &deviceName, DEVICE_TYPE_CODE, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = Dispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = Dispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Dispatch;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
