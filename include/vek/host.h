/*
 * vek host seam — attach your own hardware platform before VEK_API_Init.
 *
 * Everything the library asks of hardware or of the operating system goes
 * through one vek_host_platform: the I/O driver's request channel (the same
 * request codes and byte layouts the Windows kernel driver answers), the ZKEC
 * driver's channel, board identity, elevation, time, and a few optional OS
 * services. The library's own Windows and Linux layers are implementations of
 * this very structure; the simulator and test harnesses are others.
 *
 * A fake board needs only this header:
 *
 *   static int my_request(void* u, uint32_t code, const void* in, uint32_t in_size,
 *                         void* out, uint32_t out_size, uint32_t* returned) {
 *       if (code == VEK_IOCTL_READ_PORT_BYTE) { ... decode the u16 port from in,
 *           put the byte into ((uint8_t*)out)[0], *returned = 2; return 1; }
 *       ...
 *   }
 *   vek_host_platform p = { sizeof p };
 *   p.driver_request = my_request;  p.driver_start = my_start;  ...
 *   vek_host_attach(&p);
 *   VEK_API_Init();
 *
 * Request layouts (all little-endian; "in" is what the library sends, "out"
 * what the platform must fill, "returned" the number of out bytes written):
 *
 *   VEK_IOCTL_DRIVER_VERSION  in: none              out: u32 (major<<24|minor<<16|rev<<8|rel); 0 = no driver
 *   VEK_IOCTL_HANDLE_COUNT    in: none              out: u32 open handles on the device
 *   VEK_IOCTL_READ_MSR        in: u32 index         out: u32 low, u32 high
 *   VEK_IOCTL_READ_PORT_BYTE  in: u16 port          out: 2 bytes, value in byte 0
 *   VEK_IOCTL_READ_PORT_WORD  in: u16 port          out: u16
 *   VEK_IOCTL_READ_PORT_DWORD in: u32 port          out: u32 (the library passes the same buffer)
 *   VEK_IOCTL_WRITE_PORT_BYTE in: u32 port, u8      (5 bytes)
 *   VEK_IOCTL_WRITE_PORT_WORD in: u32 port, u16     (6 bytes)
 *   VEK_IOCTL_WRITE_PORT_DWORD in: u32 port, u32    (8 bytes)
 *   VEK_IOCTL_READ_MEMORY     in: u64 address, u32 unit size, u32 count   out: unit*count bytes
 *   VEK_IOCTL_WRITE_MEMORY    in: u64 address, u32 unit size, u32 count, data bytes
 *   VEK_IOCTL_READ_PCI        in: u32 pci address (bus<<8|dev<<3|fn), u32 offset   out: 1, 2 or 4 bytes
 *   VEK_IOCTL_WRITE_PCI       in: u32 pci address, u32 offset, 1, 2 or 4 data bytes
 *   VEK_IOCTL_GRANT_PORTS     in: u16 first port, u16 count (at most 16)   out: none
 *       the library names a Super I/O port range it found and will drive; the
 *       Windows driver refuses ports above 0xFF it has not been told of. A
 *       platform without such rules may fail it: the library ignores the answer.
 *
 * ZKEC requests: VEK_ZKEC_BEGIN and VEK_ZKEC_END carry no data;
 * VEK_ZKEC_READ_REGISTER sends one register byte and receives one value byte.
 *
 * Threading: the library calls the platform with its system-wide lock held,
 * except for identity, time and the optional OS services, which may be called
 * from any thread that calls the library.
 */
#ifndef VEK_HOST_H
#define VEK_HOST_H

#include <stdint.h>

#if defined(_WIN32)
#define VEK_HOST_EXPORT
#elif defined(VEK_BUILDING_LIBRARY)
#define VEK_HOST_EXPORT __attribute__((visibility("default")))
#else
#define VEK_HOST_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* I/O driver request codes (buffered device I/O control, device type 0xEA60). */
#define VEK_IOCTL_DRIVER_VERSION   0xEA602400u
#define VEK_IOCTL_HANDLE_COUNT     0xEA602404u
#define VEK_IOCTL_READ_MSR         0xEA602408u
#define VEK_IOCTL_READ_PORT_BYTE   0xEA606420u
#define VEK_IOCTL_READ_PORT_WORD   0xEA606424u
#define VEK_IOCTL_READ_PORT_DWORD  0xEA606440u
#define VEK_IOCTL_WRITE_PORT_BYTE  0xEA60A444u
#define VEK_IOCTL_WRITE_PORT_WORD  0xEA60A448u
#define VEK_IOCTL_WRITE_PORT_DWORD 0xEA60A44Cu
#define VEK_IOCTL_READ_MEMORY      0xEA606450u
#define VEK_IOCTL_WRITE_MEMORY     0xEA60A454u
#define VEK_IOCTL_READ_PCI         0xEA606458u
#define VEK_IOCTL_WRITE_PCI        0xEA60A45Cu
#define VEK_IOCTL_GRANT_PORTS      0xEA60A460u

/* ZKEC driver request codes (device type 0x0400). */
#define VEK_ZKEC_BEGIN             0x04001C00u
#define VEK_ZKEC_END               0x04001C04u
#define VEK_ZKEC_READ_REGISTER     0x04001C10u

/* Operating-system error the ZKEC channel treats as failure: request pending. */
#define VEK_HOST_ERROR_IO_PENDING  997u

/* Identity items asked of vek_host_platform.identity. */
typedef enum vek_host_identity {
    VEK_HOST_ID_PRODUCT = 0,       /* baseboard product name: the platform-table key */
    VEK_HOST_ID_BIOS_VENDOR = 1,
    VEK_HOST_ID_BIOS_VERSION = 2,
    VEK_HOST_ID_SERIAL = 3,        /* baseboard serial number */
    VEK_HOST_ID_BOARD_VERSION = 4  /* baseboard version text */
} vek_host_identity;

/* Driver status codes returned by driver_start (and by VEK_API_Init). */
#define VEK_HOST_DRIVER_READY        0u
#define VEK_HOST_DRIVER_NOT_STARTED  1u /* unknown operating-system class */
#define VEK_HOST_DRIVER_NO_FILE      2u
#define VEK_HOST_DRIVER_START_FAILED 3u
#define VEK_HOST_DRIVER_NETWORK      4u
#define VEK_HOST_DRIVER_UNSUPPORTED  5u

/* Resources asked of resource_owner, with what a and b carry. */
#define VEK_HOST_RES_SMBUS        0u /* SMBus host controller: a PCI address (bus<<8|dev<<3|fn),
                                        b I/O base | I/O size << 16 | 1 << 31 when a is only the
                                        bridge holding the base */
#define VEK_HOST_RES_EC           1u /* EC ports: a data port, b command port */
#define VEK_HOST_RES_SIO_MONITOR  2u /* Super I/O hardware-monitor block: a base, b size */
#define VEK_HOST_RES_SIO_GPIO     3u /* Super I/O GPIO block: a base, b size */
#define VEK_HOST_RES_WATCHDOG     4u /* chipset watchdog block: a base, b size */
#define VEK_HOST_RES_SPEAKER      5u /* ports 0x61, 0x42, 0x43: a and b unused */

#define VEK_HOST_OWNER_NONE    0u /* nothing else drives it: the library may */
#define VEK_HOST_OWNER_KERNEL  1u /* a kernel driver owns it (named in driver) */
#define VEK_HOST_OWNER_HIDDEN  2u /* claimed, but the claimant cannot be seen */

/* SMBus transfer kinds (the SMBus protocol of each transaction). */
#define VEK_HOST_SMBUS_QUICK      0u
#define VEK_HOST_SMBUS_BYTE       1u /* send byte (command is the byte) / receive byte */
#define VEK_HOST_SMBUS_BYTE_DATA  2u
#define VEK_HOST_SMBUS_WORD_DATA  3u
#define VEK_HOST_SMBUS_PROC_CALL  4u /* writes word, reads the answer into word */
#define VEK_HOST_SMBUS_BLOCK_DATA 5u
#define VEK_HOST_SMBUS_I2C_BLOCK  6u /* no count byte on the wire */

/* smbus_transfer status. */
#define VEK_HOST_SMBUS_OK          0u
#define VEK_HOST_SMBUS_NO_ACK      1u /* the slave did not answer */
#define VEK_HOST_SMBUS_TIMEOUT     2u /* bus busy or stuck */
#define VEK_HOST_SMBUS_FAILED      3u /* any other failure reported by the controller */
#define VEK_HOST_SMBUS_UNSUPPORTED 4u /* the adapter does not offer this transfer */
#define VEK_HOST_SMBUS_REFUSED     5u /* the address belongs to a kernel driver */

typedef struct vek_host_smbus_transfer {
    uint8_t read;      /* 1 read, 0 write; a quick command carries its direction bit here */
    uint8_t kind;      /* VEK_HOST_SMBUS_* transfer kind */
    uint8_t command;
    uint8_t length;    /* block data bytes: written, or wanted (I2C block) / received (block) */
    uint16_t word;     /* byte (low half) and word data, both directions; process call in and out */
    uint8_t block[32];
} vek_host_smbus_transfer;

/* Hardware-monitor reading kinds: milli-degrees Celsius, millivolts, revolutions per minute. */
#define VEK_HOST_HWMON_TEMPERATURE 0u
#define VEK_HOST_HWMON_VOLTAGE     1u
#define VEK_HOST_HWMON_FAN         2u

typedef struct vek_host_platform {
    /* sizeof(vek_host_platform) as the caller compiled it; entries past it are absent. */
    uint32_t size;
    /* Passed back as the first argument of every entry. */
    void* user;

    /* ---- I/O driver ---- */
    /* Install, start and open the driver; returns a VEK_HOST_DRIVER_* status. Required. */
    uint32_t (*driver_start)(void* user);
    /* Release the driver (remove it when this process is its last user). Optional. */
    void (*driver_stop)(void* user);
    /* Nonzero when the process may install drivers. Optional: absent means not elevated. */
    int (*process_elevated)(void* user);
    /* One request of the table above. Nonzero on success; *returned receives the out
     * bytes written. Required. */
    int (*driver_request)(void* user, uint32_t code, const void* in, uint32_t in_size,
                          void* out, uint32_t out_size, uint32_t* returned);

    /* ---- ZKEC driver (optional: absent means the device does not exist) ---- */
    /* Nonzero when the device opened; else *last_error holds the OS error. */
    int (*zkec_open)(void* user, uint32_t* last_error);
    void (*zkec_close)(void* user);
    /* 0 on success, else the OS error (VEK_HOST_ERROR_IO_PENDING counts as failure too). */
    uint32_t (*zkec_request)(void* user, uint32_t code, const void* in, uint32_t in_size,
                             void* out, uint32_t out_size);

    /* ---- identity ---- */
    /* Write the item as NUL-terminated text of at most out_size bytes (shorten longer
     * values) and return 0; return 16 when the query failed. An empty value may leave
     * out untouched. Optional: absent means every query fails. */
    uint32_t (*identity)(void* user, uint32_t item, char* out, uint32_t out_size);

    /* ---- processor ---- */
    /* Processor identification, sub-leaf 0: regs = EAX, EBX, ECX, EDX. Optional: absent
     * means a processor without the instruction (all zero). */
    void (*cpuid)(void* user, uint32_t leaf, uint32_t regs[4]);

    /* ---- time ---- */
    /* Performance counter and its ticks per second. Required. */
    int64_t (*counter_frequency)(void* user);
    int64_t (*counter_now)(void* user);
    /* Optional: when present the platform performs every wait itself and must not return
     * early (the library's own platforms sleep the bulk of long waits on the OS timer and
     * spin the rest; a simulator advances its virtual clock); when absent the library
     * spins on counter_now. */
    void (*delay_us)(void* user, int64_t microseconds);

    /* ---- optional OS services (absent: the library answers as a system without them) ---- */
    /* Monitor brightness of display 0: 0 done, 1, 2 or 17 as the library's result codes. */
    uint32_t (*brightness_read)(void* user, uint8_t* level);
    uint32_t (*brightness_set)(void* user, uint8_t level);
    /* Screen power: on 0 = off, 1 = wake. 0 done, 1 failed. */
    uint32_t (*screen_set)(void* user, uint8_t on);
    /* Platform I2C controllers (0 = "I2C0", 1 = "I2C1"): open a device at a 7-bit
     * address; 0 and *handle set on success, else a nonzero failure. */
    uint32_t (*i2c_open)(void* user, uint32_t controller, uint8_t address7, void** handle);
    /* Write wlen bytes then read rlen bytes (either may be 0) as one transfer.
     * Returns 0 on success; *transferred receives the bytes moved (written plus
     * read). A failure returns the transfer status: 1 partial transfer, 2 address
     * not acknowledged, 3 clock-stretch time-out, 4 unknown error, 0xFFFFFFFF when
     * nothing was sent; *transferred still counts the bytes that did move. */
    uint32_t (*i2c_transfer)(void* user, void* handle, const uint8_t* write, uint32_t wlen,
                             uint8_t* read, uint32_t rlen, uint32_t* transferred);
    void (*i2c_close)(void* user, void* handle);

    /* ---- kernel ownership and the kernel's services (optional) ----
     * Where the operating system's own drivers own a device, the library does not
     * drive its registers beside them: it asks resource_owner first and then uses
     * the matching service below, or refuses. Absent resource_owner means nothing
     * else drives the hardware. */
    /* VEK_HOST_OWNER_* for the resource (VEK_HOST_RES_*, arguments a and b as listed
     * there); when driver is not null the owner's name is written there as
     * NUL-terminated text of at most driver_size bytes. */
    uint32_t (*resource_owner)(void* user, uint32_t resource, uint32_t a, uint32_t b, char* driver,
                               uint32_t driver_size);
    /* The SMBus host controller through its kernel driver. Open: 0 and *handle set,
     * else nonzero (no adapter, no access). */
    uint32_t (*smbus_open)(void* user, uint32_t pci_address, uint16_t io_base, void** handle);
    /* One SMBus transfer to a 7-bit address; VEK_HOST_SMBUS_* status. */
    uint32_t (*smbus_transfer)(void* user, void* handle, uint8_t address7, vek_host_smbus_transfer* transfer);
    void (*smbus_close)(void* user, void* handle);
    /* Embedded-controller RAM through the kernel's EC driver, one byte at an
     * offset: 0 done, nonzero failed. */
    uint32_t (*ec_ram_read)(void* user, uint8_t offset, uint8_t* value);
    uint32_t (*ec_ram_write)(void* user, uint8_t offset, uint8_t value);
    /* One reading of the kernel's hardware-monitor driver that owns the monitor
     * block at io_base: kind VEK_HOST_HWMON_*, input index as the driver numbers
     * it (voltages from in0, temperatures and fans from 1): millidegrees C,
     * millivolts at the pin, rpm. 0 and *value set, else nonzero (no such reading). */
    uint32_t (*hwmon_read)(void* user, uint16_t io_base, uint32_t kind, uint32_t index, int32_t* value);
    /* The PC speaker through its kernel driver: a tone at hz, 0 silences it.
     * 0 done, nonzero when the driver's device cannot be used. */
    uint32_t (*speaker_tone)(void* user, uint32_t hz);
} vek_host_platform;

/*
 * Attach a platform (copied; the user pointer must stay valid until detached).
 * Returns 0, 7 when the platform is null, too small or lacks a required entry,
 * 14 while the library is initialised (call VEK_API_Uninit first).
 * Passing the library's own native platform back is never needed: with nothing
 * attached, the library uses the operating system it runs on.
 */
VEK_HOST_EXPORT uint32_t vek_host_attach(const vek_host_platform* platform);
/* Return to the native platform. Returns 14 while the library is initialised. */
VEK_HOST_EXPORT uint32_t vek_host_detach(void);

/* Number of capability words, one per family, in this order: API, GPIO, WDT,
 * SPEAKER, FAN, VOLTAGE, CURRENT, TEMPERATURE, CPU_TEMPERATURE, SMBUS,
 * SMART_BATTERY, BACKLIGHT, EC_SMARTFAN, LED, PLATFORM_VERSION_WMI, BUTTON. */
#define VEK_HOST_CAPABILITY_WORDS 16u
/*
 * Copy the board's capability words as the exports test them: the main chip's,
 * with the second chip's merged in. Bit 0 means the main chip serves the family,
 * bit 1 the second chip; the speaker word holds 1 (PC speaker) or 2 (EC beeper).
 * Returns 0, 6 before a successful VEK_API_Init (or after VEK_API_Uninit),
 * 7 when words is null. A diagnostic view: nothing in the product's export table.
 */
VEK_HOST_EXPORT uint32_t vek_host_capabilities(uint32_t words[VEK_HOST_CAPABILITY_WORDS]);

#ifdef __cplusplus
}
#endif

#endif /* VEK_HOST_H */
