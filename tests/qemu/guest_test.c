/* Runs inside a QEMU q35 guest as root, against the Linux libvek.so and the
 * machine QEMU models: the ICH9 SMBus controller at 00:1f.3 with 256-byte
 * EEPROMs at 0x50..0x57 (one-byte word address, all zero at power-on), the
 * SMBIOS strings given on the command line, the PC speaker and the processor
 * chosen with -cpu.
 *
 *   vek_guest_test smbus PRODUCT VENDOR VERSION SERIAL   the library's checks
 *   vek_guest_test kernel PRODUCT VENDOR VERSION SERIAL  the same with i2c-i801 bound and a
 *                                                        kernel client on kReader
 *   vek_guest_test measure                               time a byte-data read and a 256-byte EEPROM read
 *   vek_guest_test pattern FILE                          fill a kernel EEPROM file with the pattern
 *   vek_guest_test reader FILE STOP [N]                  read FILE until STOP exists (at most N times),
 *                                                        count wrong bytes
 *   vek_guest_test cpu TJMAX                             processor thermal path only
 *   vek_guest_test exit CODE                             report CODE through isa-debug-exit
 *
 * Prints one line per check and exits 0 when all passed. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "vek/vek.h"

static int g_failures;
/* Set when the controller's kernel driver is bound: transactions go through
 * i2c-dev, so the register path's timings do not apply. */
static int g_kernel;

static void check(int ok, const char* what, const char* fmt, ...) {
    va_list ap;
    printf("%s %s", ok ? "ok  " : "FAIL", what);
    if (!ok && fmt) {
        printf(": ");
        va_start(ap, fmt);
        vprintf(fmt, ap);
        va_end(ap);
    }
    printf("\n");
    fflush(stdout);
    if (!ok) ++g_failures;
}

#define CHECK_RESULT(what, got, want) check((got) == (want), what, "result %u, want %u", (unsigned)(got), (unsigned)(want))

static double now_s(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int port_io(int write, unsigned port, uint8_t* value) {
    int fd = open("/dev/port", O_RDWR);
    if (fd < 0) return 0;
    ssize_t n = write ? pwrite(fd, value, 1, port) : pread(fd, value, 1, port);
    close(fd);
    return n == 1;
}

/* The EEPROMs QEMU attaches, by 7-bit address; each check uses its own part so
 * the checks do not see each other's writes. */
enum { kSpdScratch = 0x50, kSpdWord = 0x51, kSpdBlock = 0x52, kSpdI2c = 0x53, kSpdEeprom = 0x54,
       kLockA = 0x55, kLockB = 0x56, kReader = 0x57, kAbsent = 0x30 };
#define ADDR(a) ((uint8_t)((a) << 1))

/* One byte of an EEPROM as the part holds it, read with byte data. */
static int spd_byte(uint8_t a, uint8_t offset) {
    uint8_t v = 0;
    if (VEK_SMBus_ByteData(1, ADDR(a), offset, &v) != VEK_OK) return -1;
    return v;
}

static void identity(const char* product, const char* vendor, const char* version, const char* serial) {
    struct { const char* what; VEK_RESULT (*get)(char*); const char* want; } cases[] = {
        {"platform name from SMBIOS type 2", VEK_Board_GetPlatformName, product},
        {"BIOS vendor from SMBIOS type 0", VEK_Board_GetBIOSVendor, vendor},
        {"BIOS version from SMBIOS type 0", VEK_Board_GetBIOSVersion, version},
        {"serial number from SMBIOS type 2", VEK_Board_GetSerialNumber, serial},
        {"platform type", VEK_Board_GetPlatformType, "Embedded Board"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        char text[80] = {0};
        VEK_RESULT r = cases[i].get(text);
        check(r == VEK_OK && strcmp(text, cases[i].want) == 0, cases[i].what, "result %u, \"%s\", want \"%s\"", r,
              text, cases[i].want);
    }
}

static void byte_word_quick(void) {
    CHECK_RESULT("SMBus available", VEK_SMBus_Available(), VEK_OK);

    uint8_t b = 0x5A;
    CHECK_RESULT("byte-data write", VEK_SMBus_ByteData(0, ADDR(kSpdScratch), 0x10, &b), VEK_OK);
    check(spd_byte(kSpdScratch, 0x10) == 0x5A, "byte-data read back", "got %d", spd_byte(kSpdScratch, 0x10));

    /* Word data: low byte first on the wire, so at the lower offset. */
    uint32_t w = 0xBEEF;
    CHECK_RESULT("word-data write", VEK_SMBus_WordData(0, ADDR(kSpdWord), 0x20, &w), VEK_OK);
    check(spd_byte(kSpdWord, 0x20) == 0xEF && spd_byte(kSpdWord, 0x21) == 0xBE, "word-data layout low byte first",
          "%02x %02x", spd_byte(kSpdWord, 0x20), spd_byte(kSpdWord, 0x21));
    w = 0;
    VEK_RESULT r = VEK_SMBus_WordData(1, ADDR(kSpdWord), 0x20, &w);
    check(r == VEK_OK && w == 0xBEEF, "word-data read", "result %u, value %04x", r, w);

    /* Send byte sets the part's pointer; receive byte reads from it. */
    b = 0x20;
    CHECK_RESULT("send byte", VEK_SMBus_SendReceive(0, ADDR(kSpdWord), &b), VEK_OK);
    b = 0;
    r = VEK_SMBus_SendReceive(1, ADDR(kSpdWord), &b);
    check(r == VEK_OK && b == 0xEF, "receive byte", "result %u, value %02x", r, b);

    CHECK_RESULT("quick write to a present part", VEK_I2C_Quick(0, 0, kSpdScratch), VEK_OK);
}

static void absent_and_process_call(void) {
    /* The quick command stops on the device-error bit at once. */
    double t0 = now_s();
    CHECK_RESULT("quick write to an absent address", VEK_I2C_Quick(0, 0, kAbsent), VEK_ERR_WRITE);
    check(now_s() - t0 < 1.0, "absent address: quick command stops on device error", "%.2f s", now_s() - t0);

    /* The ICH controller raises only the device-error bit, never "complete",
     * for a NAK; a byte read waits for complete and gives up after its budget.
     * The kernel's driver stops on the device-error bit. */
    uint8_t b = 0;
    t0 = now_s();
    CHECK_RESULT("byte read from an absent address", VEK_SMBus_ByteData(1, ADDR(kAbsent), 0, &b), VEK_ERR_READ);
    /* At least the 2,001 one-millisecond pauses; the upper bound only says it
     * ends (each pass also costs an emulated port access). */
    double spent = now_s() - t0;
    if (g_kernel)
        check(spent < 1.0, "absent address: byte read through the kernel stops on device error", "%.2f s", spent);
    else
        check(spent >= 2.0 && spent < 30.0, "absent address: byte read gives up after its 2,001-pause budget",
              "%.2f s", spent);

    /* QEMU's controller has no process call: it answers with device error. */
    uint32_t sent = 0x1234, got = 0xFFFFFFFF;
    t0 = now_s();
    CHECK_RESULT("process call rejected by the controller", VEK_SMBus_ProcessCall(ADDR(kSpdScratch), 0, &sent, &got),
                 VEK_ERR_READ);
    spent = now_s() - t0;
    if (!g_kernel)
        check(spent >= 2.0 && spent < 30.0, "process call gives up after its 2,001-pause budget", "%.2f s", spent);
}

/* The part a kernel client owns: writes are refused, and reads too unless the
 * caller opted in; the part keeps its bytes. */
static void kernel_client(void) {
    uint8_t b = 0x77;
    CHECK_RESULT("byte-data write to a kernel client's part refused", VEK_SMBus_ByteData(0, ADDR(kReader), 0x10, &b),
                 VEK_ERR_UNSUPPORTED);
    uint8_t data[2] = {0x7A, 0x77};
    CHECK_RESULT("EEPROM write to a kernel client's part refused",
                 VEK_SMBus_Write_EEPROM(ADDR(kReader), 0x0010, 2, data), VEK_ERR_UNSUPPORTED);
    CHECK_RESULT("byte-data read of a kernel client's part refused", VEK_SMBus_ByteData(1, ADDR(kReader), 0x10, &b),
                 VEK_ERR_UNSUPPORTED);
}

static void blocks(void) {
    /* SMBus block write: command, count, data; the part stores the count too. */
    uint8_t out[33], in[40];
    for (int i = 0; i < 32; ++i) out[i] = (uint8_t)(0xC0 + i);
    CHECK_RESULT("block write of 32 bytes", VEK_SMBus_Block(0, ADDR(kSpdBlock), 0x40, 32, out), VEK_OK);
    int layout = spd_byte(kSpdBlock, 0x40) == 32;
    for (int i = 0; i < 32; ++i) layout = layout && spd_byte(kSpdBlock, (uint8_t)(0x41 + i)) == out[i];
    check(layout, "block write layout: count byte then the data", NULL);

    /* Block read: the part's byte at the command is the count. */
    memset(in, 0xEE, sizeof in);
    VEK_RESULT r = VEK_SMBus_Block(1, ADDR(kSpdBlock), 0x40, 0, in);
    int same = r == VEK_OK && in[0] == 32 && memcmp(in + 1, out, 32) == 0 && in[33] == 0xEE;
    check(same, "block read into a 32-byte data buffer", "result %u, count %u", r, in[0]);

    /* I2C block write: no count byte on the wire. */
    const uint8_t i2c[6] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02};
    CHECK_RESULT("I2C block write", VEK_I2C_SMBusI2CBlock(0, 0, kSpdI2c, 0x80, 6, (uint8_t*)i2c), VEK_OK);
    int i2cLayout = 1;
    for (int i = 0; i < 6; ++i) i2cLayout = i2cLayout && spd_byte(kSpdI2c, (uint8_t)(0x80 + i)) == i2c[i];
    check(i2cLayout, "I2C block write layout: data from the command on", NULL);

    /* I2C block read of several lengths; the last byte must not be a repeat of
     * the first (a restarted transfer) and the byte after must stay untouched. */
    const uint8_t lengths[] = {1, 2, 4, 6};
    for (size_t k = 0; k < sizeof lengths; ++k) {
        char what[64];
        snprintf(what, sizeof what, "I2C block read of %u bytes", lengths[k]);
        memset(in, 0xEE, sizeof in);
        r = VEK_I2C_SMBusI2CBlock(1, 0, kSpdI2c, 0x80, lengths[k], in);
        /* Through the kernel's driver on QEMU's controller the last byte of a
         * longer read comes back 0 (the driver ends the read on the complete
         * interrupt QEMU raises in place of byte-done); the rest must match. */
        const size_t same = g_kernel && lengths[k] > 1 ? lengths[k] - 1u : lengths[k];
        const int last = !g_kernel || lengths[k] == 1 || in[same] == 0;
        check(r == VEK_OK && memcmp(in, i2c, same) == 0 && last && in[lengths[k]] == 0xEE, what,
              "result %u, %02x %02x %02x %02x", r, in[0], in[1], in[2], in[3]);
    }
    /* Count 0 starts nothing; the controller stays usable. */
    CHECK_RESULT("I2C block read of 0 bytes", VEK_I2C_SMBusI2CBlock(1, 0, kSpdI2c, 0x80, 256, in), VEK_ERR_ARGUMENT);
    check(spd_byte(kSpdI2c, 0x80) == 0xDE, "controller usable after a count of 0", NULL);
}

/* The EEPROM routine speaks to two-byte-address parts; QEMU's parts take one
 * address byte. So the offset's high byte lands as the word address and the
 * low byte as the first data byte: the layout checked here is that of a
 * one-byte-address part receiving the two-byte-address sequence. */
static void eeprom(void) {
    uint8_t data[3] = {0x11, 0x22, 0x33};
    CHECK_RESULT("EEPROM write of 3 bytes", VEK_SMBus_Write_EEPROM(ADDR(kSpdEeprom), 0x6010, 3, data), VEK_OK);
    /* Each byte: word address 0x60, then offset low, then the data byte. */
    check(spd_byte(kSpdEeprom, 0x60) == 0x12 && spd_byte(kSpdEeprom, 0x61) == 0x33,
          "EEPROM write layout on a one-byte-address part", "%02x %02x", spd_byte(kSpdEeprom, 0x60),
          spd_byte(kSpdEeprom, 0x61));

    /* A read sets the address with a byte-data write (which stores the offset's
     * low byte at the high byte's place) and receives the byte after it. */
    uint8_t v = 0;
    VEK_RESULT r = VEK_SMBus_Read_EEPROM(ADDR(kSpdEeprom), 0x6007, 1, &v);
    check(r == VEK_OK && v == 0x33, "EEPROM read returns the byte after the word address", "result %u, %02x", r, v);
    check(spd_byte(kSpdEeprom, 0x60) == 0x07, "EEPROM read leaves the offset low byte at the word address", "%02x",
          spd_byte(kSpdEeprom, 0x60));
}

static void speaker(void) {
    uint8_t v = 0;
    CHECK_RESULT("speaker on", VEK_HWM_StartBeep(1000.0), VEK_OK);
    check(port_io(0, 0x61, &v) && (v & 3) == 3, "port 0x61 gate and data bits set", "%02x", v);
    CHECK_RESULT("speaker off", VEK_HWM_StopBeep(), VEK_OK);
    check(port_io(0, 0x61, &v) && (v & 3) == 0, "port 0x61 gate and data bits clear", "%02x", v);
}

/* Two processes hammer the one controller, each on its own EEPROM. Without the
 * system-wide lock their register sequences interleave and reads come back
 * wrong or time out. */
static int lock_worker(uint8_t a) {
    if (VEK_API_Init() != VEK_OK) return 2;
    int bad = 0;
    for (int i = 0; i < 25; ++i) {
        uint8_t w = (uint8_t)(a * 7 + i), r = 0;
        if (VEK_SMBus_ByteData(0, ADDR(a), (uint8_t)i, &w) != VEK_OK) ++bad;
        if (VEK_SMBus_ByteData(1, ADDR(a), (uint8_t)i, &r) != VEK_OK || r != w) ++bad;
    }
    VEK_API_Uninit();
    return bad ? 1 : 0;
}

static void cross_process_lock(void) {
    pid_t kids[2];
    const uint8_t parts[2] = {kLockA, kLockB};
    for (int k = 0; k < 2; ++k) {
        kids[k] = fork();
        if (kids[k] == 0) _exit(lock_worker(parts[k]));
    }
    int ok = 1;
    for (int k = 0; k < 2; ++k) {
        int status = 0;
        waitpid(kids[k], &status, 0);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    check(ok, "two processes share the controller under the lock", NULL);
}

static int run_smbus(char** argv) {
    /* The lock check runs first, in processes of their own, before this one initialises. */
    cross_process_lock();
    CHECK_RESULT("VEK_API_Init", VEK_API_Init(), VEK_OK);
    identity(argv[0], argv[1], argv[2], argv[3]);
    byte_word_quick();
    blocks();
    eeprom();
    absent_and_process_call();
    if (g_kernel) kernel_client();
    speaker();
    VEK_API_Uninit();
    return g_failures;
}

/* Guest-side timings, printed for the record: the mean of a byte-data read and
 * one 256-byte EEPROM read (on a part no check looks at afterwards). */
static int run_measure(void) {
    if (VEK_API_Init() != VEK_OK) return 1;
    enum { kReads = 50 };
    uint8_t b = 0, buf[256];
    double t0 = now_s();
    int bad = 0;
    for (int i = 0; i < kReads; ++i) bad += VEK_SMBus_ByteData(1, ADDR(kSpdScratch), 0x10, &b) != VEK_OK;
    const double byteUs = (now_s() - t0) / kReads * 1e6;
    t0 = now_s();
    bad += VEK_SMBus_Read_EEPROM(ADDR(kLockB), 0, 256, buf) != VEK_OK;
    const double eepromMs = (now_s() - t0) * 1e3;
    printf("measure: byte-data read %.0f us (mean of %d), 256-byte EEPROM read %.0f ms%s\n", byteUs, kReads, eepromMs,
           bad ? " (with failures)" : "");
    VEK_API_Uninit();
    return bad ? 1 : 0;
}

static uint8_t pattern_byte(int i) { return (uint8_t)(i * 7 + 3); }

static int run_pattern(const char* path) {
    uint8_t buf[256];
    for (int i = 0; i < 256; ++i) buf[i] = pattern_byte(i);
    int fd = open(path, O_WRONLY);
    if (fd < 0) return 1;
    ssize_t n = pwrite(fd, buf, sizeof buf, 0);
    close(fd);
    return n == (ssize_t)sizeof buf ? 0 : 1;
}

/* Reads the part through its kernel driver over and over; every read is a
 * string of SMBus transactions under the adapter's lock. */
static int run_reader(const char* path, const char* stop, long limit) {
    long reads = 0, wrong = 0, errors = 0;
    int shown = 0;
    while (access(stop, F_OK) != 0 && (limit == 0 || reads + errors < limit)) {
        uint8_t buf[256];
        int fd = open(path, O_RDONLY);
        ssize_t n = fd >= 0 ? pread(fd, buf, sizeof buf, 0) : -1;
        if (fd >= 0) close(fd);
        if (n != (ssize_t)sizeof buf) {
            ++errors;
            continue;
        }
        ++reads;
        for (int i = 0; i < 256; ++i) {
            if (buf[i] == pattern_byte(i)) continue;
            ++wrong;
            if (shown++ < 12) printf("kernel reader: offset %02x read %02x, want %02x\n", i, buf[i], pattern_byte(i));
        }
    }
    printf("kernel reader: %ld reads of 256 bytes, %ld wrong bytes, %ld failed reads\n", reads, wrong, errors);
    return reads > 0 && wrong == 0 && errors == 0 ? 0 : 1;
}

static int run_cpu(int tjmax) {
    CHECK_RESULT("VEK_API_Init", VEK_API_Init(), VEK_OK);
    /* QEMU has no thermal status register: the readout reads as 0, so the
     * value is the model's TjMax. */
    double t = -1;
    VEK_RESULT r = VEK_HWM_CPUTemperature(1, &t);
    check(r == VEK_OK && t == (double)tjmax, "processor thermal sensor: TjMax of the model", "result %u, %.1f, want %d",
          r, t, tjmax);
    VEK_API_Uninit();
    return g_failures;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "exit") == 0) {
        uint8_t code = (uint8_t)atoi(argv[2]);
        port_io(1, 0xF4, &code); /* isa-debug-exit: QEMU exits with code * 2 + 1 */
        return 1;
    }
    if (argc == 6 && strcmp(argv[1], "smbus") == 0) return run_smbus(argv + 2) ? 1 : 0;
    if (argc == 6 && strcmp(argv[1], "kernel") == 0) {
        g_kernel = 1;
        return run_smbus(argv + 2) ? 1 : 0;
    }
    if (argc == 2 && strcmp(argv[1], "measure") == 0) return run_measure();
    if (argc == 3 && strcmp(argv[1], "pattern") == 0) return run_pattern(argv[2]);
    if ((argc == 4 || argc == 5) && strcmp(argv[1], "reader") == 0)
        return run_reader(argv[2], argv[3], argc == 5 ? atol(argv[4]) : 0);
    if (argc == 3 && strcmp(argv[1], "cpu") == 0) return run_cpu(atoi(argv[2])) ? 1 : 0;
    fprintf(stderr, "usage: vek_guest_test smbus|kernel PRODUCT VENDOR VERSION SERIAL | measure | pattern FILE |"
                    " reader FILE STOP | cpu TJMAX | exit CODE\n");
    return 2;
}
