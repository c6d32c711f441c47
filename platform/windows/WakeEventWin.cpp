#include "platform/WakeEvent.h"

namespace quorvel::platform {

struct TWakeEvent::TState {};

TWakeEvent::TWakeEvent() = default;
TWakeEvent::~TWakeEvent() = default;
void TWakeEvent::Signal() {}
void TWakeEvent::Drain() {}
int TWakeEvent::Fd() const {
  return -1;
}

}  // namespace quorvel::platform
