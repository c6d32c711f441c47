// The default provider: opens any path as a file with open(2), for the device
// nodes of the real platform (and ordinary files and FIFOs, which tests use).
#pragma once

#include "platform/posix/FileProvider.h"

namespace quorvel::posix {

// Asked after every registered provider; claims every path.
TFileProvider& DeviceNodeProvider();

}  // namespace quorvel::posix
