// Built against an installed vek through find_package(vek): every board the
// simulator offers comes up, and one with a watchdog runs it down in virtual time.
#include <cstdio>

#include <vek/sim.h>
#include <vek/vek.h>

int main() {
    const uint32_t boards = vek_sim_board_count();
    if (boards == 0) return 10;
    uint32_t up = 0;
    for (uint32_t i = 0; i < boards; ++i) {
        if (vek_sim_attach(vek_sim_board_name(i)) != VEK_OK) continue;
        if (VEK_API_Init() == VEK_OK) ++up;
        VEK_API_Uninit();
        vek_sim_detach();
    }
    if (vek_sim_attach(nullptr) != VEK_OK || VEK_API_Init() != VEK_OK) return 11;
    if (VEK_WDT_SetConfig(0, 5) != VEK_OK || VEK_WDT_Trigger() != VEK_OK) return 12;
    if (VEK_WDT_Available() != VEK_OK) return 13;
    VEK_API_Uninit();
    vek_sim_detach();
    std::printf("find_package consumer: %u of %u boards initialised\n", up, boards);
    return up == boards ? 0 : 14;
}
