// Every device-installation export the layer never calls: present so that the binding
// finds its whole table.
#include "platform/SetupApiStubs.h"

using namespace quorvel::platform::stubs;

#define QUORVEL_SETUPAPI_STUB(name, failure) \
  extern "C" LONG_PTR name() {               \
    return NotImplemented(failure);          \
  }
#include "platform/SetupApiStubs.def"
#undef QUORVEL_SETUPAPI_STUB
