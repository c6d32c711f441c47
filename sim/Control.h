// The control functions of the simulated world, exported by the world core for tests
// in the same process (see sim/SimControl.h for the C++ client). Every function takes
// and returns JSON text in the world file's format. A returned text stays valid on
// the calling thread until its next control call; a failure returns {"error": "..."}.
#pragma once

#ifdef _WIN32
#define QUORVEL_SIM_CONTROL extern "C" __declspec(dllexport)
#else
#define QUORVEL_SIM_CONTROL extern "C" __attribute__((visibility("default")))
#endif

// Replaces every device and the log with those of a world ({"devices": [...]}).
QUORVEL_SIM_CONTROL const char* QuorvelSim_Reset(const char* world);
// The whole world, devices with their run-time state, and the log.
QUORVEL_SIM_CONTROL const char* QuorvelSim_World();
// Adds a device at the end of the discovery order: {"id": n}.
QUORVEL_SIM_CONTROL const char* QuorvelSim_AddDevice(const char* device);
// Takes a device out of the world as if unplugged: open handles fail from now on.
QUORVEL_SIM_CONTROL const char* QuorvelSim_RemoveDevice(int id);
// Merges a partial description into a device (JSON merge patch) and returns the
// device; the device keeps its ID and its open handles.
QUORVEL_SIM_CONTROL const char* QuorvelSim_ChangeDevice(int id, const char* patch);
// One device with its run-time state (path, open handles, relay state).
QUORVEL_SIM_CONTROL const char* QuorvelSim_Device(int id);
// Queues an input report ("01 02 03", report ID first) as if the device sent it.
QUORVEL_SIM_CONTROL const char* QuorvelSim_PushInput(int id, const char* report);
// The exchange log as a list, oldest first; and emptying it.
QUORVEL_SIM_CONTROL const char* QuorvelSim_Log();
QUORVEL_SIM_CONTROL const char* QuorvelSim_ClearLog();
// Writes the world file now, when the world changed since it was read or last written
// (it is otherwise written once, when the world core is unloaded or the process exits).
QUORVEL_SIM_CONTROL const char* QuorvelSim_Save();
