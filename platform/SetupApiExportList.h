// The exports of a device-installation module of ours, declared with their types: the five
// functions the layer calls and the stubs of SetupApiStubs.def. The module's files that
// define them include this header, so that the compiler holds definitions and declarations
// to one another, and SetupApiExportList.cpp lists them (ModuleExportList.h). POSIX only.
#pragma once

#include <type_traits>

#include "platform/SetupApi.h"
#include "platform/SetupApiStubs.h"

#define QUORVEL_SETUPAPI_EXPORT extern "C" __attribute__((visibility("default")))

QUORVEL_SETUPAPI_EXPORT std::remove_pointer_t<quorvel::platform::TSetupDiGetClassDevs>
    SetupDiGetClassDevsW;
QUORVEL_SETUPAPI_EXPORT std::remove_pointer_t<quorvel::platform::TSetupDiEnumDeviceInterfaces>
    SetupDiEnumDeviceInterfaces;
QUORVEL_SETUPAPI_EXPORT std::remove_pointer_t<quorvel::platform::TSetupDiGetDeviceInterfaceDetail>
    SetupDiGetDeviceInterfaceDetailW;
QUORVEL_SETUPAPI_EXPORT std::remove_pointer_t<quorvel::platform::TSetupDiGetDeviceRegistryProperty>
    SetupDiGetDeviceRegistryPropertyW;
QUORVEL_SETUPAPI_EXPORT std::remove_pointer_t<quorvel::platform::TSetupDiDestroyDeviceInfoList>
    SetupDiDestroyDeviceInfoList;

#define QUORVEL_SETUPAPI_STUB(name, failure) QUORVEL_SETUPAPI_EXPORT LONG_PTR WINAPI name();
#include "platform/SetupApiStubs.def"
#undef QUORVEL_SETUPAPI_STUB

#undef QUORVEL_SETUPAPI_EXPORT
