// The tree the modules read: the real system in the modules, a fixture tree in the tests,
// which link the same entry points with a root of their own (tests/linux/TestRoot.cpp).
#pragma once

#include "platform/linux/modules/Sysfs.h"

namespace quorvel::hidraw {

const TSysfs& ModuleSysfs();

}  // namespace quorvel::hidraw
