/*
 * The smallest program on vek.dll through its import library: initialise,
 * print the board's name, let go. Exits with VEK_API_Init's result
 * (10: this board is not supported, 12: run it as administrator).
 * Build lines: README.md beside this folder.
 */
#include <stdio.h>

#include "vek/vek.h"

int main(void) {
    char name[80] = "";
    VEK_RESULT result = VEK_API_Init();
    if (result != VEK_OK) {
        printf("VEK_API_Init: result %lu\n", (unsigned long)result);
        return (int)result;
    }
    if (VEK_Board_GetPlatformName(name) == VEK_OK) printf("board %s\n", name);
    VEK_API_Uninit();
    return 0;
}
