// The device-installation entry points the layer never calls. This file sees no
// declaration of the real functions, whose parameter lists differ.
#include "platform/SetupApiStubs.h"

#include "sim/ModuleExport.h"

using namespace quorvel::platform::stubs;

#define QUORVEL_SETUPAPI_STUB(name, failure)  \
  QUORVEL_SIM_EXPORT LONG_PTR WINAPI name() { \
    return NotImplemented(failure);           \
  }
#include "platform/SetupApiStubs.def"
#undef QUORVEL_SETUPAPI_STUB
