// The device-installation entry points the layer never calls. They take no parameters
// here: under the 64-bit calling conventions the caller owns its arguments, so a
// function that ignores them may leave them out. This file sees no declaration of the
// real functions, whose parameter lists differ.
#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/Kernel.h"
#endif

#include "sim/ModuleExport.h"

namespace {

enum TStubKind : LONG_PTR {
  kZero = 0,
  kInvalidHandle = -1,
  kErrorCode = ERROR_CALL_NOT_IMPLEMENTED,
  kPromptCancel = 1,  // DPROMPT_CANCEL
  kMinusOne = -1,
};

LONG_PTR NotImplemented(TStubKind kind) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return kind;
}

}  // namespace

#define QUORVEL_SIM_STUB(name, kind)          \
  QUORVEL_SIM_EXPORT LONG_PTR WINAPI name() { \
    return NotImplemented(kind);              \
  }
#include "sim/SetupApiStubs.inc"
#undef QUORVEL_SIM_STUB
