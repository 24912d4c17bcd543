#include "sim/chip_models.h"

#include "sim/board.h"

namespace vek::sim {

void AddChipModels(Board& board) {
    AddEcModels(board);
    AddEcFanModels(board);
    AddEcMailboxModels(board);
    AddSmbusModels(board);
    AddChipsetModels(board);
    AddSio5Models(board);
    AddSio2Models(board);
    AddZkecModels(board);
    AddSio1Models(board);
}

} // namespace vek::sim
