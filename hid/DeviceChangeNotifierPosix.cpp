// POSIX device-change notification: the controller's posted messages and the
// kernel's hidraw uevents, both behind one epoll descriptor.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <mutex>

#include "hid/DeviceChangeNotifier.h"
#include "hid/MainThread.h"
#include "hid/Uevent.h"

namespace quorvel::hid {
namespace {

// WM_DEVICECHANGE with DBT_DEVNODES_CHANGED, as the system broadcasts it.
constexpr UINT kWmDeviceChange = 0x0219;
constexpr std::uintptr_t kDbtDevNodesChanged = 0x0007;

class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

struct TPosted {
  UINT Msg;
  std::uintptr_t WParam;
  std::intptr_t LParam;
};

}  // namespace

struct TDeviceChangeNotifier::TState {
  TDeviceChangeNotifier::TWndProc wndProc;
  TFd poll{::epoll_create1(EPOLL_CLOEXEC)};
  TFd posted{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::mutex lock;  // Post may come from another thread
  std::deque<TPosted> queue;
  std::unique_ptr<TUeventChannel> uevents;
  std::vector<char> message;

  void Watch(int fd) {
    if (poll.Get() >= 0 && fd >= 0) {
      epoll_event watch{};
      watch.events = EPOLLIN;
      watch.data.fd = fd;
      (void)::epoll_ctl(poll.Get(), EPOLL_CTL_ADD, fd, &watch);
    }
  }
  void Unwatch(int fd) {
    if (poll.Get() >= 0 && fd >= 0) {
      (void)::epoll_ctl(poll.Get(), EPOLL_CTL_DEL, fd, nullptr);
    }
  }
};

TDeviceChangeNotifier::TDeviceChangeNotifier(TWndProc wndProc)
    : state_(std::make_unique<TState>()) {
  state_->wndProc = wndProc;
  state_->Watch(state_->posted.Get());
  // Read threads' deliveries wake an event loop too.
  state_->Watch(TMainThreadQueue::Instance().ReadyFd());
  // Without netlink (a sandbox, no permission) there are no automatic rescans.
  SetUeventChannel(OpenKernelUeventChannel());
}

TDeviceChangeNotifier::~TDeviceChangeNotifier() = default;

void TDeviceChangeNotifier::SetUeventChannel(std::unique_ptr<TUeventChannel> channel) {
  if (state_->uevents) {
    state_->Unwatch(state_->uevents->Fd());
  }
  state_->uevents = std::move(channel);
  if (state_->uevents) {
    state_->Watch(state_->uevents->Fd());
  }
}

bool TDeviceChangeNotifier::HasUeventChannel() const {
  return state_->uevents != nullptr;
}

void TDeviceChangeNotifier::Post(UINT Msg, std::uintptr_t WParam, std::intptr_t LParam) {
  {
    std::lock_guard guard(state_->lock);
    state_->queue.push_back({Msg, WParam, LParam});
  }
  const uint64_t one = 1;
  (void)::write(state_->posted.Get(), &one, sizeof one);
}

void TDeviceChangeNotifier::ProcessMessages() {
  uint64_t count = 0;
  (void)::read(state_->posted.Get(), &count, sizeof count);
  std::deque<TPosted> waiting;
  {
    std::lock_guard guard(state_->lock);
    waiting.swap(state_->queue);
  }
  // Several uevents read together need one rescan, not one each.
  bool nodesChanged = false;
  if (state_->uevents) {
    for (bool more = true; more;) {
      switch (state_->uevents->Receive(state_->message)) {
        case TUeventChannel::TReceive::kMessage: {
          TUevent event;
          if (ParseUevent(state_->message, event) && IsHidrawNodeChange(event)) {
            nodesChanged = true;
          }
          break;
        }
        case TUeventChannel::TReceive::kLost:
          // Messages were dropped: whatever they said, a rescan catches up.
          nodesChanged = true;
          break;
        case TUeventChannel::TReceive::kRejected:
          break;
        case TUeventChannel::TReceive::kEmpty:
          more = false;
          break;
      }
    }
  }
  if (nodesChanged) {
    waiting.push_back({kWmDeviceChange, kDbtDevNodesChanged, 0});
  }
  while (!waiting.empty()) {
    const TPosted message = waiting.front();
    waiting.pop_front();
    try {
      state_->wndProc(message.Msg, message.WParam, message.LParam);
    } catch (...) {
      // The error goes to the caller; what was not yet handled waits for the next pump.
      std::lock_guard guard(state_->lock);
      state_->queue.insert(state_->queue.begin(), waiting.begin(), waiting.end());
      if (!state_->queue.empty()) {
        const uint64_t one = 1;
        (void)::write(state_->posted.Get(), &one, sizeof one);
      }
      throw;
    }
  }
}

int TDeviceChangeNotifier::Fd() const {
  return state_->poll.Get();
}

}  // namespace quorvel::hid
