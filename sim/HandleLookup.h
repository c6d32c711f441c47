// From a caller's HANDLE to the simulated device and the access it was opened with.
#pragma once

#include "sim/World.h"
#include "wintypes/WinTypes.h"

namespace quorvel::sim {

// False for a handle that is not open on a simulated device.
bool LookUpHandle(HANDLE handle, TSimHandle& out);

}  // namespace quorvel::sim
