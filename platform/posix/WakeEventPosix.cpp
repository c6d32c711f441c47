#include "platform/WakeEvent.h"
#include "platform/posix/LinuxOnly.h"

namespace quorvel::platform {

struct TWakeEvent::TState {
  posix::TUniqueFd fd = posix::OpenWakeDescriptor();
};

TWakeEvent::TWakeEvent() : state_(std::make_unique<TState>()) {}
TWakeEvent::~TWakeEvent() = default;

void TWakeEvent::Signal() {
  if (state_->fd.Valid()) {
    posix::SignalWake(state_->fd.Get());
  }
}

void TWakeEvent::Drain() {
  if (state_->fd.Valid()) {
    (void)posix::DrainWake(state_->fd.Get());
  }
}

int TWakeEvent::Fd() const {
  return state_->fd.Get();
}

}  // namespace quorvel::platform
