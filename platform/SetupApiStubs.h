// The failure values of the device-installation exports the layer never calls (the list
// is platform/SetupApiStubs.def). The stubs take no parameters: under the 64-bit calling
// conventions the caller owns its arguments, so a function that ignores them may leave
// them out; the result fills a whole register, so handle, pointer and integer callers
// alike read the failure value. Includers see no declaration of the real functions.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/Kernel.h"
#endif

namespace quorvel::platform::stubs {

constexpr LONG_PTR kFailFalse = 0;           // FALSE, a null handle or pointer, a count of 0
constexpr LONG_PTR kFailInvalidHandle = -1;  // INVALID_HANDLE_VALUE
constexpr LONG_PTR kFailErrorCode = ERROR_CALL_NOT_IMPLEMENTED;  // returns its error code
constexpr LONG_PTR kFailMinusOne = -1;
constexpr LONG_PTR kFailPromptCancel = 1;  // DPROMPT_CANCEL

inline LONG_PTR NotImplemented(LONG_PTR failure) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return failure;
}

}  // namespace quorvel::platform::stubs
