// Kernel uevents: what the layer reads of them, and where they come from.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/DeviceChangeSource.h"

namespace quorvel::platform {

struct TUevent {
  std::string Action;     // add, remove, change, bind, ...
  std::string Subsystem;  // SUBSYSTEM=
};

// Parses "ACTION@DEVPATH\0KEY=VALUE\0...". Bounded by `bytes`: a missing final
// NUL is tolerated, and a message without the header is rejected (false).
bool ParseUevent(std::span<const char> bytes, TUevent& event);

// A hidraw node appeared or went: the controller's "device nodes changed".
bool IsHidrawNodeChange(const TUevent& event);

// A source of uevent datagrams: the device-change source of Linux.
class TUeventChannel : public TDeviceChangeSource {
 public:
  enum class TReceive {
    kMessage,   // `message` holds one datagram from the kernel
    kRejected,  // a datagram that did not come from the kernel, or was cut short
    kLost,      // the kernel dropped messages (receive buffer overrun)
    kEmpty,     // nothing waits
  };
  // Never blocks.
  virtual TReceive Receive(std::vector<char>& message) = 0;
  // Several uevents read together need one rescan, not one each.
  bool TakeNodesChanged() final;

 private:
  std::vector<char> message_;
};

// The kernel's uevent multicast group on a netlink socket; null where it cannot
// be opened (no netlink, no permission).
std::unique_ptr<TUeventChannel> OpenKernelUeventChannel();

}  // namespace quorvel::platform
