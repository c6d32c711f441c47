// The Linux message channel: the posted messages, waiting deliveries and the
// kernel's hidraw uevents, all behind one epoll descriptor.
#include <sys/epoll.h>

#include <deque>
#include <mutex>
#include <utility>

#include "platform/MessageChannel.h"
#include "platform/WakeEvent.h"
#include "platform/posix/UniqueFd.h"

namespace quorvel::platform {
namespace {

// WM_DEVICECHANGE with DBT_DEVNODES_CHANGED, as the system broadcasts it.
constexpr UINT kWmDeviceChange = 0x0219;
constexpr std::uintptr_t kDbtDevNodesChanged = 0x0007;

class TLinuxMessageChannel final : public TMessageChannel {
 public:
  TLinuxMessageChannel(THandler handler, int deliveriesFd) : handler_(std::move(handler)) {
    Watch(posted_.Fd());
    // Read threads' deliveries wake an event loop too.
    Watch(deliveriesFd);
    // Without netlink (a sandbox, no permission) there are no automatic rescans.
    SetChangeSource(OpenDeviceChangeSource());
  }

  void Post(const TChannelMessage& message) override {
    {
      std::lock_guard guard(lock_);
      queue_.push_back(message);
    }
    posted_.Signal();
  }

  void Pump() override {
    posted_.Drain();
    std::deque<TChannelMessage> waiting;
    {
      std::lock_guard guard(lock_);
      waiting.swap(queue_);
    }
    if (source_ && source_->TakeNodesChanged()) {
      waiting.push_back({kWmDeviceChange, kDbtDevNodesChanged, 0});
    }
    while (!waiting.empty()) {
      const TChannelMessage message = waiting.front();
      waiting.pop_front();
      try {
        handler_(message);
      } catch (...) {
        // The error goes to the caller; what was not yet handled waits for the next pump.
        std::lock_guard guard(lock_);
        queue_.insert(queue_.begin(), waiting.begin(), waiting.end());
        if (!queue_.empty()) {
          posted_.Signal();
        }
        throw;
      }
    }
  }

  int Fd() const override { return poll_.Get(); }

  void SetChangeSource(std::unique_ptr<TDeviceChangeSource> source) override {
    if (source_) {
      Unwatch(source_->Fd());
    }
    source_ = std::move(source);
    if (source_) {
      Watch(source_->Fd());
    }
  }

  bool HasChangeSource() const override { return source_ != nullptr; }

  // The deliveries' descriptor is watched already.
  void WakeForDeliveries() override {}

 private:
  void Watch(int fd) {
    if (poll_.Valid() && fd >= 0) {
      epoll_event watch{};
      watch.events = EPOLLIN;
      watch.data.fd = fd;
      (void)::epoll_ctl(poll_.Get(), EPOLL_CTL_ADD, fd, &watch);
    }
  }
  void Unwatch(int fd) {
    if (poll_.Valid() && fd >= 0) {
      (void)::epoll_ctl(poll_.Get(), EPOLL_CTL_DEL, fd, nullptr);
    }
  }

  THandler handler_;
  posix::TUniqueFd poll_{::epoll_create1(EPOLL_CLOEXEC)};
  TWakeEvent posted_;
  std::mutex lock_;  // Post may come from another thread
  std::deque<TChannelMessage> queue_;
  std::unique_ptr<TDeviceChangeSource> source_;
};

}  // namespace

std::unique_ptr<TMessageChannel> OpenMessageChannel(TMessageChannel::THandler handler,
                                                    int deliveriesFd, std::function<void()>) {
  return std::make_unique<TLinuxMessageChannel>(std::move(handler), deliveriesFd);
}

}  // namespace quorvel::platform
