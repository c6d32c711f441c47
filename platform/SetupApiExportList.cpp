// The export list of a device-installation module of ours (ModuleExportList.h); each module
// links this file once. POSIX only.
#include "platform/SetupApiExportList.h"

#include <cstdint>

#include "platform/ModuleExportList.h"

namespace {

#define QUORVEL_SETUPAPI_CALLED_EXPORTS(X) \
  X(SetupDiGetClassDevsW)                  \
  X(SetupDiEnumDeviceInterfaces)           \
  X(SetupDiGetDeviceInterfaceDetailW)      \
  X(SetupDiGetDeviceRegistryPropertyW)     \
  X(SetupDiDestroyDeviceInfoList)

constexpr const char* kNames[] = {QUORVEL_SETUPAPI_CALLED_EXPORTS(QUORVEL_EXPORT_LIST_NAME)
#define QUORVEL_SETUPAPI_STUB(name, failure) QUORVEL_EXPORT_LIST_NAME(name)
#include "platform/SetupApiStubs.def"
#undef QUORVEL_SETUPAPI_STUB
};

const quorvel::platform::TEntryPoint kAddresses[] = {
    QUORVEL_SETUPAPI_CALLED_EXPORTS(QUORVEL_EXPORT_LIST_ADDRESS)
#define QUORVEL_SETUPAPI_STUB(name, failure) QUORVEL_EXPORT_LIST_ADDRESS(name)
#include "platform/SetupApiStubs.def"
#undef QUORVEL_SETUPAPI_STUB
};

}  // namespace

QUORVEL_DEFINE_EXPORT_LIST(kNames, kAddresses);
