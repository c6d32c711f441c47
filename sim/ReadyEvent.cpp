#include "sim/ReadyEvent.h"

namespace quorvel::sim {

#if defined(__linux__)

int TReadyEvent::Fd() const {
  return fd_.Get();
}

void TReadyEvent::Set(bool ready) {
  if (!fd_.Valid() || ready == ready_) {
    return;
  }
  // Signalled while ready: one signal raises it, one drain clears it.
  if (ready) {
    posix::SignalWake(fd_.Get());
    ready_ = true;
  } else if (posix::DrainWake(fd_.Get())) {
    ready_ = false;
  }
}

#else

int TReadyEvent::Fd() const {
  return -1;
}
void TReadyEvent::Set(bool ready) {
  ready_ = ready;
}

#endif

}  // namespace quorvel::sim
