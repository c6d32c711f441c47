// The world file named by QUORVEL_SIM_WORLD: read once when the simulated modules
// load, and written back once, atomically, when the world core is unloaded or the
// process exits (or a control function asks), so that successive processes see the
// same boards and one continuing log, and a process killed leaves the file as it was.
// A write-back merges the process's own changes into the file as other processes left
// it, under a lock held for that alone; a linked file is written through its link.
#pragma once

#include <string>

#include "sim/World.h"

namespace quorvel::sim {

inline constexpr const char* kWorldVariable = "QUORVEL_SIM_WORLD";

// Reads the file named by the variable, if it is set, into the world and binds the
// world to it. A file that cannot be read or is not a valid world leaves the world
// empty and unbound (so it is not overwritten), and says why on standard error.
// Temporaries left beside it by processes that no longer run are removed first.
void LoadWorldFromEnvironment(TWorld& world);

// Writes the world back to its file if it changed; says why on standard error when
// it cannot.
void SaveWorldAtExit(TWorld& world);

// Writes text to path through a temporary file in the same folder (path + ".tmp" +
// the process ID), flushed to disk before it replaces path. False and a reason on
// failure; path is then unchanged.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error);

// Removes the temporaries of path that processes no longer running left behind (a
// process killed between writing and renaming).
void RemoveStaleTemporaries(const std::string& path);

}  // namespace quorvel::sim
