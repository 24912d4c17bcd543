/* An application built with the MSVC toolchain (clang-cl, lld-link) against
 * the SDK's vek.lib, without any C runtime: the entry point calls exports of
 * several argument sizes and returns 0 when each answers as an uninitialised
 * library must (6), 1 otherwise. */
#include "vek/vek.h"

/* The C runtime defines this when a program uses floating point; there is no runtime here. */
int _fltused;

int start(void) {
    uint8_t level = 0;
    char text[80];
    int32_t count = 0;
    uint8_t block[32];
    if (VEK_GPIO_ReadPin(1, 1, &level) != VEK_ERR_NOT_INITIALISED) return 1;                     /* @12 */
    if (VEK_HWM_PlayNote(4, 1, 0, 1.0) != VEK_ERR_NOT_INITIALISED) return 1;                     /* @20 */
    if (VEK_I2C_SMBusBlock(1, 0, 0x50, 0, &count, block) != VEK_ERR_NOT_INITIALISED) return 1;   /* @24 */
    if (VEK_Board_GetPlatformName(text) != VEK_ERR_NOT_INITIALISED) return 1;                    /* @4 */
    return VEK_API_Uninit() == VEK_OK ? 0 : 1;                                                    /* @0 */
}
