/* Built against an installed vek through pkg-config: attaches a simulated
 * board, turns its processor temperature knob and reads the value back
 * through the library. Exit 0 only when the library reports what was set. */
#include <stdio.h>
#include <string.h>

#include <vek/sim.h>
#include <vek/vek.h>

int main(void) {
    if (vek_sim_attach(NULL) != VEK_OK) return 10;
    if (VEK_API_Init() != VEK_OK) return 11;
    if (vek_sim_set_temperature(VEK_SIM_TEMP_CPU, 0, 77.0) != VEK_OK) return 12;
    double t = 0;
    if (VEK_HWM_CPUTemperature(0, &t) != VEK_OK || t != 77.0) {
        fprintf(stderr, "CPU temperature %.1f, expected 77.0\n", t);
        return 13;
    }
    char name[80] = {0};
    VEK_Board_GetPlatformName(name);
    if (strcmp(name, vek_sim_default_board()) != 0) return 14;
    VEK_API_Uninit();
    if (vek_sim_detach() != VEK_OK) return 15;
    printf("pkg-config consumer: %s, CPU %.1f C\n", name, t);
    return 0;
}
