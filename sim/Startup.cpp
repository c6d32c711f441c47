// Brings the world up when the world core is loaded, that is when a process binds
// the first simulated module, and takes the file provider down when it is unloaded.
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
