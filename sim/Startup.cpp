// Brings the world up when the world core is loaded, that is when a process binds
// the first simulated module; when it is unloaded (on POSIX it stays loaded until
// the process exits; on Windows, DLL_PROCESS_DETACH runs this library's static
// destructors, at FreeLibrary of its last user or at the process's end) the world is
// written back to its file and the file provider taken down.
#include "sim/World.h"
#include "sim/WorldFile.h"

#ifndef _WIN32
#include "sim/posix/SimFileProvider.h"
#endif

namespace quorvel::sim {
namespace {

struct TStartup {
  TStartup() {
    LoadWorldFromEnvironment(TWorld::Instance());
#ifndef _WIN32
    RegisterSimFileProvider();
#endif
  }
  ~TStartup() {
    SaveWorldAtExit(TWorld::Instance());
#ifndef _WIN32
    UnregisterSimFileProvider();
#endif
  }
  TStartup(const TStartup&) = delete;
  TStartup& operator=(const TStartup&) = delete;
};

const TStartup startup;

}  // namespace
}  // namespace quorvel::sim
