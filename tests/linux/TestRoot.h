// The tests' stand-in for the modules' root: the entry points read the tree set here.
#pragma once

#include <string>

namespace quorvel::hidraw::test {

// "" restores the real system.
void SetModuleRoot(const std::string& root);

}  // namespace quorvel::hidraw::test
