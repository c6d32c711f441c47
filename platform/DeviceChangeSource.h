// Where the system says that device nodes came or went, for event loops that
// watch descriptors.
#pragma once

#include <memory>

namespace quorvel::platform {

class TDeviceChangeSource {
 public:
  virtual ~TDeviceChangeSource() = default;
  // Polls readable while notices wait.
  virtual int Fd() const = 0;
  // Reads every waiting notice and never blocks: true when one of them (or the
  // loss of some) means the device nodes changed.
  virtual bool TakeNodesChanged() = 0;
};

// The system's source; null where it has none or it cannot be opened (a sandbox,
// no permission). On Windows the message channel's window gets the system's
// broadcasts itself.
std::unique_ptr<TDeviceChangeSource> OpenDeviceChangeSource();

}  // namespace quorvel::platform
