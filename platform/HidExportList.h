// The HidD_ exports of a HID module of ours, declared with their types (the HidP_ ones are
// in hidparse/HidPExports.h). The module's file that defines them includes this header, so
// that the compiler holds definitions and declarations to one another, and
// HidExportList.cpp lists them (ModuleExportList.h). POSIX only.
#pragma once

#include <type_traits>

#include "platform/Hid.h"

#define QUORVEL_HIDD_DECLARE(name, type) \
  extern "C" __attribute__((visibility("default"))) std::remove_pointer_t<type> name;
#define QUORVEL_HIDD_EXPORTS(X)                                           \
  X(HidD_Hello, quorvel::platform::THidD_Hello)                           \
  X(HidD_GetHidGuid, quorvel::platform::THidD_GetHidGuid)                 \
  X(HidD_GetPreparsedData, quorvel::platform::THidD_GetPreparsedData)     \
  X(HidD_FreePreparsedData, quorvel::platform::THidD_FreePreparsedData)   \
  X(HidD_GetConfiguration, quorvel::platform::THidD_Configuration)        \
  X(HidD_SetConfiguration, quorvel::platform::THidD_Configuration)        \
  X(HidD_FlushQueue, quorvel::platform::THidD_FlushQueue)                 \
  X(HidD_GetFeature, quorvel::platform::THidD_Buffer)                     \
  X(HidD_SetFeature, quorvel::platform::THidD_Buffer)                     \
  X(HidD_GetNumInputBuffers, quorvel::platform::THidD_GetNumInputBuffers) \
  X(HidD_SetNumInputBuffers, quorvel::platform::THidD_SetNumInputBuffers) \
  X(HidD_GetAttributes, quorvel::platform::THidD_GetAttributes)           \
  X(HidD_GetManufacturerString, quorvel::platform::THidD_Buffer)          \
  X(HidD_GetProductString, quorvel::platform::THidD_Buffer)               \
  X(HidD_GetSerialNumberString, quorvel::platform::THidD_Buffer)          \
  X(HidD_GetPhysicalDescriptor, quorvel::platform::THidD_Buffer)          \
  X(HidD_GetIndexedString, quorvel::platform::THidD_GetIndexedString)     \
  X(HidD_GetInputReport, quorvel::platform::THidD_Buffer)                 \
  X(HidD_SetOutputReport, quorvel::platform::THidD_Buffer)

QUORVEL_HIDD_EXPORTS(QUORVEL_HIDD_DECLARE)
#undef QUORVEL_HIDD_DECLARE
