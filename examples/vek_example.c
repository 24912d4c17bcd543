/*
 * vek_example: load vek.dll at run time, initialise it, print the board's
 * identity and a few sensor readings. Exits with VEK_API_Init's result, so a
 * script can tell "board not supported" (10) from "run as administrator" (12).
 *
 *   vek_example.exe            (vek.dll and the driver file beside it)
 */
#include <windows.h>

#include <stdio.h>

#include "vek/vek.h"

typedef VEK_RESULT(VEK_CALL* NoArgs)(void);
typedef VEK_RESULT(VEK_CALL* TextQuery)(char* out);
typedef VEK_RESULT(VEK_CALL* IndexedDouble)(uint32_t index, double* value);
typedef VEK_RESULT(VEK_CALL* IndexedWord)(uint32_t index, uint32_t* value);

static HMODULE library;

static void (*entry(const char* name))(void) {
    FARPROC p = GetProcAddress(library, name);
    if (p == NULL) fprintf(stderr, "vek.dll has no %s\n", name);
    return (void (*)(void))p;
}

static void print_text(const char* label, const char* name) {
    TextQuery get = (TextQuery)entry(name);
    char text[80] = "";
    VEK_RESULT r = get ? get(text) : VEK_ERR_UNSUPPORTED;
    if (r == VEK_OK)
        printf("%-16s %s\n", label, text);
    else
        printf("%-16s (result %lu)\n", label, (unsigned long)r);
}

int main(void) {
    library = LoadLibraryA("vek.dll");
    if (library == NULL) {
        fprintf(stderr, "cannot load vek.dll (error %lu)\n", (unsigned long)GetLastError());
        return 1;
    }
    NoArgs init = (NoArgs)entry("VEK_API_Init");
    NoArgs uninit = (NoArgs)entry("VEK_API_Uninit");
    if (init == NULL || uninit == NULL) return 1;

    VEK_RESULT result = init();
    if (result != VEK_OK) {
        printf("VEK_API_Init: result %lu\n", (unsigned long)result);
        FreeLibrary(library);
        return (int)result;
    }

    print_text("library", "VEK_API_GetVersion");
    print_text("board", "VEK_Board_GetPlatformName");
    print_text("type", "VEK_Board_GetPlatformType");
    print_text("BIOS vendor", "VEK_Board_GetBIOSVendor");
    print_text("BIOS version", "VEK_Board_GetBIOSVersion");
    print_text("serial number", "VEK_Board_GetSerialNumber");

    IndexedDouble cpu = (IndexedDouble)entry("VEK_HWM_CPUTemperature");
    IndexedDouble temperature = (IndexedDouble)entry("VEK_HWM_Temperature");
    IndexedDouble voltage = (IndexedDouble)entry("VEK_HWM_Voltage");
    IndexedWord fan = (IndexedWord)entry("VEK_HWM_GetFanSpeed");
    double value;
    uint32_t rpm, i;
    if (cpu && cpu(0, &value) == VEK_OK) printf("%-16s %.1f C\n", "CPU", value);
    for (i = 0; temperature && i < 3; ++i)
        if (temperature(i, &value) == VEK_OK) printf("temperature %-4lu %.1f C\n", (unsigned long)i, value);
    for (i = 0; voltage && i < 4; ++i)
        if (voltage(i, &value) == VEK_OK) printf("voltage %-8lu %.3f V\n", (unsigned long)i, value);
    for (i = 0; fan && i < 2; ++i)
        if (fan(i, &rpm) == VEK_OK) printf("fan %-12lu %lu rpm\n", (unsigned long)i, (unsigned long)rpm);

    uninit();
    FreeLibrary(library);
    return 0;
}
