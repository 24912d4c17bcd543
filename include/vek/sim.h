/*
 * vek-sim — a simulated board for applications built on vek.
 *
 * Link libvek-sim next to libvek, attach one of the library's boards by name
 * before VEK_API_Init, and every VEK_* call answers from a register-level model
 * of that board's chips instead of this machine's hardware:
 *
 *   vek_sim_attach("KVB-3410-LB");       (NULL or "" attaches the default board)
 *   VEK_API_Init();
 *   vek_sim_set_temperature(VEK_SIM_TEMP_CPU, 0, 91.0);
 *   ... the application reads 91 °C through VEK_HWM_CPUTemperature ...
 *   VEK_API_Uninit();
 *   vek_sim_detach();
 *
 * Knobs change what the modelled chips sense — the outside world — and answer
 * 10 (VEK_ERR_UNSUPPORTED) where the attached board's models have no such input.
 * Time on the simulated board is virtual: it passes with every request the
 * library makes and with vek_sim_advance_ms.
 *
 * Every function returns a VEK_RESULT: 0 done, 7 bad argument (null, unknown
 * board, index out of range), 14 wrong state (nothing attached, or attach and
 * detach while the library is initialised), 10 no such input on this board.
 * Not thread-safe against itself; VEK_* calls from other threads are fine.
 */
#ifndef VEK_SIM_H
#define VEK_SIM_H

#include <stdint.h>

#include "vek/vek.h"

#if defined(VEK_BUILDING_SIM)
#define VEK_SIM_EXPORT __attribute__((visibility("default")))
#else
#define VEK_SIM_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Boards the simulator can build: index 0 .. count-1 (the library's platform table). */
VEK_SIM_EXPORT uint32_t vek_sim_board_count(void);
/* Name of board index, or NULL past the end. The string lives as long as the process. */
VEK_SIM_EXPORT const char* vek_sim_board_name(uint32_t index);
/* Name of the board attached when none is named. */
VEK_SIM_EXPORT const char* vek_sim_default_board(void);

/* Build the named board and attach it to the library (7 unknown name, 14 while initialised
 * or already attached). */
VEK_SIM_EXPORT VEK_RESULT vek_sim_attach(const char* board);
/* Return the library to this machine's hardware and free the board (14 while initialised). */
VEK_SIM_EXPORT VEK_RESULT vek_sim_detach(void);
/* Name of the attached board, or NULL. */
VEK_SIM_EXPORT const char* vek_sim_attached(void);

/* Temperatures the chips measure. */
#define VEK_SIM_TEMP_CPU   0u /* processor die, index = processor (every board) */
#define VEK_SIM_TEMP_BOARD 1u /* the board sensor the fan controller's curve follows, index 0
                               (the EC's or the Super I/O's; most boards report it as a temperature) */
VEK_SIM_EXPORT VEK_RESULT vek_sim_set_temperature(uint32_t kind, uint32_t index, double celsius);

/* A fan that seizes (stalled 1) reports no rotation whatever it is driven at. fan is the
 * fan's number on the chip that drives it (EC or Super I/O), the library's fan number on
 * most boards. */
VEK_SIM_EXPORT VEK_RESULT vek_sim_set_fan_stalled(uint32_t fan, int stalled);

/* Level the outside world drives on an input pin (set and pin count from 1, as in VEK_GPIO_*). */
VEK_SIM_EXPORT VEK_RESULT vek_sim_set_gpio_input(int32_t set, int32_t pin, int level);

/* Faults: the chip stops answering the way real parts fail. on 0 clears it. */
#define VEK_SIM_FAULT_EC_BUSY        1u /* the EC's command ports never take a byte (its register window still answers) */
#define VEK_SIM_FAULT_SMBUS_HUNG     2u /* a slave holds the SMBus clock low: transactions never end */
#define VEK_SIM_FAULT_DRIVER_MISSING 3u /* the I/O driver is not installed (next VEK_API_Init gives 2) */
#define VEK_SIM_FAULT_NOT_ELEVATED   4u /* the process lacks the rights to start the driver */
#define VEK_SIM_FAULT_SUPERIO_SILENT 5u /* the Super I/O never answers its configuration ports */
VEK_SIM_EXPORT VEK_RESULT vek_sim_inject_fault(uint32_t fault, int on);

/* Let virtual time pass (watchdogs, timers, conversions). */
VEK_SIM_EXPORT VEK_RESULT vek_sim_advance_ms(uint32_t milliseconds);

#ifdef __cplusplus
}
#endif

#endif /* VEK_SIM_H */
