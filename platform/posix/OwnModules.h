// The project's own modules that stand for the platform's libraries.
#pragma once

#include <string_view>

#include "platform/posix/Kernel.h"

namespace quorvel::posix {

// "libquorvel-setupapi.so" for "SetupApi.dll" and "libquorvel-hid.so" for
// "HID.dll" (Windows file names: any letter case); nullptr for any other name.
QUORVEL_POSIX_API const char* OwnModuleFile(std::u16string_view platformName);

}  // namespace quorvel::posix
