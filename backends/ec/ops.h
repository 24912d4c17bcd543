// How the EC backend's routine tables are put together. Each part of the
// backend fills the entries it implements; an entry left null answers 10.
#pragma once

#include "backends/backend.h"

namespace vek::ec {

// Routine tables of the backend (ChipKind 3/11) and of the kind-100 routines.
const BackendOps& Ops();
const BackendOps& Kind100Ops();
const EcBoardOps& BoardOps();

// Filled by the parts of the backend:
void FillGpioWatchdogOps(BackendOps& ops);  // GPIO, watchdog (gpio_wdt.cpp)
void FillKind100WatchdogOps(BackendOps& ops);
void FillMonitorOps(BackendOps& ops);       // temperatures, voltages, currents, fans, smart fan (monitor.cpp)
void FillKind100MonitorOps(BackendOps& ops);
void FillMonitorBoardOps(EcBoardOps& ops);  // EC smart fan of fan 0, kind-100 start
void FillI2cMasterOps(BackendOps& ops);     // the EC's I2C master (i2c_master.cpp)
void FillBoardFunctionOps(BackendOps& ops, EcBoardOps& board); // LEDs, button, version, LAN bypass... (board_functions.cpp)
void FillPowerSupplyOps(EcBoardOps& board); // PMBus readings (power_supply.cpp)

} // namespace vek::ec
