#include "sim/ReadyEvent.h"

#if defined(__linux__)
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#endif

namespace quorvel::sim {

#if defined(__linux__)

TReadyEvent::TReadyEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TReadyEvent::~TReadyEvent() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

void TReadyEvent::Set(bool ready) {
  if (fd_ < 0 || ready == ready_) {
    return;
  }
  std::uint64_t value = 1;
  // The counter stays above zero while ready: one write raises it, one read clears it.
  const auto n = ready ? write(fd_, &value, sizeof value) : read(fd_, &value, sizeof value);
  if (n == static_cast<ssize_t>(sizeof value)) {
    ready_ = ready;
  }
}

#else

TReadyEvent::TReadyEvent() = default;
TReadyEvent::~TReadyEvent() = default;
void TReadyEvent::Set(bool ready) {
  ready_ = ready;
}

#endif

}  // namespace quorvel::sim
