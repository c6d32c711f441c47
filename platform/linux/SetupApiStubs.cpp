// Every device-installation export the layer never calls: present so that the binding
// finds its whole table, failing cleanly with ERROR_CALL_NOT_IMPLEMENTED. Declared without
// parameters: the caller owns the arguments in the platform's calling convention, and the
// result is returned in a full register so that handle, pointer and integer callers alike
// read the failure value.
#include "platform/PlatformTypes.h"
#include "platform/posix/Kernel.h"

namespace {

constexpr LONG_PTR kFailFalse = 0;
constexpr LONG_PTR kFailInvalidHandle = -1;
constexpr LONG_PTR kFailErrorCode = ERROR_CALL_NOT_IMPLEMENTED;
constexpr LONG_PTR kFailMinusOne = -1;
constexpr LONG_PTR kFailPromptCancel = 1;  // DPROMPT_CANCEL

LONG_PTR NotImplemented(LONG_PTR failure) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return failure;
}

}  // namespace

#define QUORVEL_SETUPAPI_STUB(name, failure) \
  extern "C" LONG_PTR name() {               \
    return NotImplemented(failure);          \
  }
#include "platform/linux/SetupApiStubs.def"
#undef QUORVEL_SETUPAPI_STUB
