/*
 * A board written from include/vek/host.h alone: a processor whose thermal
 * sensor reads 65 degrees, ports that float, an empty PCI space. The library
 * identifies it, brings it up and reads the processor temperature through it.
 * Exits 0 when every step gave what the board says.
 */
#include <stdio.h>
#include <string.h>

#include "vek/host.h"
#include "vek/vek.h"

static const char* kProduct = "NRB-105A rev 2"; /* a supported board, by prefix */
static int64_t g_clock;                            /* microseconds */

static uint32_t start(void* user) { (void)user; return VEK_HOST_DRIVER_READY; }
static int elevated(void* user) { (void)user; return 1; }

static void put32(void* out, uint32_t v) { memcpy(out, &v, 4); }

static int request(void* user, uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                   uint32_t* returned) {
    (void)user;
    uint32_t index = 0;
    *returned = 0;
    switch (code) {
    case VEK_IOCTL_DRIVER_VERSION:
        put32(out, 0x01000000);
        *returned = 4;
        return 1;
    case VEK_IOCTL_READ_MSR:
        memcpy(&index, in, 4);
        put32(out, index == 0x1A2 ? 95u << 16 : index == 0x19C ? 30u << 16 : 0);
        put32((char*)out + 4, 0);
        *returned = 8;
        return 1;
    case VEK_IOCTL_READ_PORT_BYTE: case VEK_IOCTL_READ_PORT_WORD: case VEK_IOCTL_READ_PORT_DWORD:
    case VEK_IOCTL_READ_PCI: case VEK_IOCTL_READ_MEMORY:
        memset(out, 0xFF, out_size); /* nothing decodes here */
        *returned = out_size;
        return 1;
    default: /* writes go nowhere */
        return in_size > 0;
    }
}

static uint32_t identity(void* user, uint32_t item, char* out, uint32_t size) {
    (void)user;
    const char* text = item == VEK_HOST_ID_PRODUCT ? kProduct : item == VEK_HOST_ID_BIOS_VENDOR ? "Fake BIOS" : "";
    snprintf(out, size, "%s", text);
    return 0;
}

static void cpuid(void* user, uint32_t leaf, uint32_t regs[4]) {
    (void)user;
    regs[0] = leaf == 1 ? 0x000906EAu : 0; /* family 6 model 0x9E */
    regs[1] = regs[2] = 0;
    regs[3] = leaf == 1 ? 1u << 5 : 0; /* MSRs present */
}

static int64_t frequency(void* user) { (void)user; return 1000000; }
static int64_t now(void* user) { (void)user; return g_clock; }
static void delay(void* user, int64_t us) { (void)user; g_clock += us; }

#define CHECK(cond, what)                                   \
    do {                                                    \
        if (!(cond)) {                                      \
            fprintf(stderr, "fake board: %s failed\n", what); \
            return 1;                                       \
        }                                                   \
    } while (0)

int main(void) {
    vek_host_platform p;
    memset(&p, 0, sizeof p);
    p.size = sizeof p;
    p.driver_start = start;
    p.process_elevated = elevated;
    p.driver_request = request;
    p.identity = identity;
    p.cpuid = cpuid;
    p.counter_frequency = frequency;
    p.counter_now = now;
    p.delay_us = delay;

    CHECK(vek_host_attach(&p) == 0, "attach");
    CHECK(VEK_API_Init() == VEK_OK, "init");
    char text[80];
    CHECK(VEK_Board_GetPlatformName(text) == VEK_OK && strcmp(text, kProduct) == 0, "platform name");
    CHECK(VEK_Board_GetBIOSVendor(text) == VEK_OK && strcmp(text, "Fake BIOS") == 0, "BIOS vendor");
    double celsius = 0;
    CHECK(VEK_HWM_CPUTemperature(1, &celsius) == VEK_OK && celsius == 65.0, "processor temperature");
    CHECK(VEK_API_Uninit() == VEK_OK, "uninit");
    CHECK(vek_host_detach() == 0, "detach");
    printf("fake board: %s, processor at %.0f degrees\n", kProduct, celsius);
    return 0;
}
