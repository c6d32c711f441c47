// The world file named by QUORVEL_SIM_WORLD: read once when the simulated modules
// load, and written back atomically after every change, so that successive processes
// see the same boards and one continuing log.
#pragma once

#include <string>

#include "sim/World.h"

namespace quorvel::sim {

inline constexpr const char* kWorldVariable = "QUORVEL_SIM_WORLD";

// Reads the file named by the variable, if it is set, into the world and binds the
// world to it. A file that cannot be read or is not a valid world leaves the world
// empty and unbound (so it is not overwritten), and says why on standard error.
void LoadWorldFromEnvironment(TWorld& world);

// Writes text to path through a temporary file in the same folder, flushed to disk
// before it replaces path. False and a reason on failure; path is then unchanged.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);

}  // namespace quorvel::sim
