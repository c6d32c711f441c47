// How the simulated modules export their entry points: the Windows names with C
// linkage, visible from outside the shared library or DLL.
#pragma once

#ifdef _WIN32
#define QUORVEL_SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define QUORVEL_SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif
