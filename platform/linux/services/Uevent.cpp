// Linux device changes: kernel uevents from the netlink socket.
#include "platform/linux/services/Uevent.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

#include "platform/posix/UniqueFd.h"

namespace quorvel::platform {

bool ParseUevent(std::span<const char> bytes, TUevent& event) {
  event = {};
  // Each field ends at a NUL or at the end of the message, never beyond.
  auto next = [&](std::size_t& at) {
    std::size_t end = at;
    while (end < bytes.size() && bytes[end] != '\0') {
      ++end;
    }
    std::string_view field(bytes.data() + at, end - at);
    at = end + 1;
    return field;
  };
  std::size_t at = 0;
  const std::string_view header = next(at);
  // Kernel messages start with "ACTION@DEVPATH"; udev's own start with "libudev".
  if (header.find('@') == std::string_view::npos) {
    return false;
  }
  while (at < bytes.size()) {
    const std::string_view field = next(at);
    if (field.starts_with("ACTION=")) {
      event.Action = field.substr(7);
    } else if (field.starts_with("SUBSYSTEM=")) {
      event.Subsystem = field.substr(10);
    }
  }
  return true;
}

bool IsHidrawNodeChange(const TUevent& event) {
  return event.Subsystem == "hidraw" && (event.Action == "add" || event.Action == "remove");
}

bool TUeventChannel::TakeNodesChanged() {
  bool nodesChanged = false;
  for (;;) {
    switch (Receive(message_)) {
      case TReceive::kMessage: {
        TUevent event;
        if (ParseUevent(message_, event) && IsHidrawNodeChange(event)) {
          nodesChanged = true;
        }
        break;
      }
      case TReceive::kLost:
        // Messages were dropped: whatever they said, a rescan catches up.
        nodesChanged = true;
        break;
      case TReceive::kRejected:
        break;
      case TReceive::kEmpty:
        return nodesChanged;
    }
  }
}

namespace {

class TKernelUeventChannel final : public TUeventChannel {
 public:
  explicit TKernelUeventChannel(posix::TUniqueFd fd) : fd_(std::move(fd)) {}

  int Fd() const override { return fd_.Get(); }

  TReceive Receive(std::vector<char>& message) override {
    // A uevent is at most a few KiB; a longer datagram is cut and rejected.
    message.resize(8192);
    sockaddr_nl sender{};
    iovec io{message.data(), message.size()};
    msghdr header{};
    header.msg_name = &sender;
    header.msg_namelen = sizeof sender;
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    const ssize_t got = ::recvmsg(fd_.Get(), &header, MSG_DONTWAIT);
    if (got < 0) {
      message.clear();
      if (errno == ENOBUFS) {
        return TReceive::kLost;
      }
      return errno == EINTR ? TReceive::kRejected : TReceive::kEmpty;
    }
    message.resize(static_cast<std::size_t>(got));
    // Only the kernel sends from port 0; anything else, or a cut message, is ignored.
    if ((header.msg_flags & MSG_TRUNC) != 0 || header.msg_namelen != sizeof sender ||
        sender.nl_family != AF_NETLINK || sender.nl_pid != 0) {
      message.clear();
      return TReceive::kRejected;
    }
    return TReceive::kMessage;
  }

 private:
  posix::TUniqueFd fd_;
};

}  // namespace

std::unique_ptr<TUeventChannel> OpenKernelUeventChannel() {
  posix::TUniqueFd fd(
      ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT));
  if (!fd.Valid()) {
    return nullptr;
  }
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = 1;  // the kernel's own uevent group
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return nullptr;
  }
  return std::make_unique<TKernelUeventChannel>(std::move(fd));
}

std::unique_ptr<TDeviceChangeSource> OpenDeviceChangeSource() {
  return OpenKernelUeventChannel();
}

}  // namespace quorvel::platform
