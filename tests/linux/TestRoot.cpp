#include "tests/linux/TestRoot.h"

#include <memory>

#include "platform/linux/modules/ModuleRoot.h"

namespace quorvel::hidraw {

namespace {
std::unique_ptr<TSysfs>& Current() {
  static std::unique_ptr<TSysfs> current = std::make_unique<TSysfs>("");
  return current;
}
}  // namespace

const TSysfs& ModuleSysfs() {
  return *Current();
}

void test::SetModuleRoot(const std::string& root) {
  Current() = std::make_unique<TSysfs>(root);
}

}  // namespace quorvel::hidraw
