// The chip models a simulated board carries, chosen from its platform row.
#pragma once

namespace vek::sim {

class Board;

// Called once by the Board constructor.
void AddChipModels(Board& board);

// Each family of models adds what the row names (their own files).
void AddEcModels(Board& board);         // the embedded controller (ec/ec_model.cpp)
void AddEcFanModels(Board& board);      // fans, tachometers, PMBus supplies behind the EC (ec/ec_fans.cpp)
void AddEcMailboxModels(Board& board);  // the EC's I2C mailbox and its slaves (ec/ec_mailbox.cpp)
void AddSmbusModels(Board& board);      // the chipset SMBus host controller and its slaves (smbus/smbus_model.cpp)
void AddChipsetModels(Board& board);    // chipset watchdog, GPIO, pads, platform I2C, core voltage (chipset/chipset_models.cpp)
void AddSio5Models(Board& board);       // the ChipKind 5 Super I/O (sio/sio5_model.cpp)
void AddSio2Models(Board& board);       // the ChipKind 2 Super I/O (sio/sio2_model.cpp)
void AddZkecModels(Board& board);       // the controller behind the ZKEC driver (zkec/zkec_model.cpp)
void AddSio1Models(Board& board);       // the ChipKind 1 Super I/O (sio/sio1_model.cpp)

} // namespace vek::sim
