#include "platform/linux/modules/ModuleRoot.h"

namespace quorvel::hidraw {

const TSysfs& ModuleSysfs() {
  static const TSysfs system{""};
  return system;
}

}  // namespace quorvel::hidraw
