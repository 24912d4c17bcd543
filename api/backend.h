// The backends' routine tables, for the frame and its harnesses.
#pragma once

#include "backends/backend.h"
