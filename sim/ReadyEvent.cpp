#include "sim/ReadyEvent.h"

#if defined(__linux__)
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#endif

namespace quorvel::sim {

#if defined(__linux__)

TReadyEvent::TReadyEvent() : FFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TReadyEvent::~TReadyEvent() {
  if (FFd >= 0) {
    close(FFd);
  }
}

void TReadyEvent::Set(bool ready) {
  if (FFd < 0 || ready == FReady) {
    return;
  }
  std::uint64_t value = 1;
  // The counter stays above zero while ready: one write raises it, one read clears it.
  const auto n = ready ? write(FFd, &value, sizeof value) : read(FFd, &value, sizeof value);
  if (n == static_cast<ssize_t>(sizeof value)) {
    FReady = ready;
  }
}

#else

TReadyEvent::TReadyEvent() = default;
TReadyEvent::~TReadyEvent() = default;
void TReadyEvent::Set(bool ready) {
  FReady = ready;
}

#endif

}  // namespace quorvel::sim
