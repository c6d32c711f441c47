// The kernel functions the layer calls directly (CreateFileW, CloseHandle,
// GetLastError, GetLocaleInfoW, the file-version functions): the system's own on
// Windows, libquorvel-posix elsewhere. The one place in the layer that picks.
#pragma once

#include "platform/PlatformTypes.h"

#ifdef _WIN32
#include <winver.h>
#else
#include "platform/posix/Kernel.h"
#endif
