// The channel a controller's window procedure is fed from: the messages it posts
// to itself and the system's "device nodes changed" notices, handed over when
// the application pumps. Windows: a hidden top-level window of the creating
// thread. Linux: a queue of posted messages and the device-change source, behind
// one descriptor an event loop can watch.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/DeviceChangeSource.h"
#include "wintypes/WinTypes.h"

namespace quorvel::platform {

struct TChannelMessage {
  UINT Msg;
  std::uintptr_t WParam;
  std::intptr_t LParam;
};

class TMessageChannel {
 public:
  // Runs on the pumping thread. An error it raises reaches Pump's caller; what was
  // not yet handled waits for the next Pump.
  using THandler = std::function<void(const TChannelMessage&)>;

  virtual ~TMessageChannel() = default;
  // Queues a message for the next Pump; from any thread.
  virtual void Post(const TChannelMessage& message) = 0;
  // Hands every waiting message to the handler.
  virtual void Pump() = 0;
  // Polls readable while messages wait; -1 where the platform has none.
  virtual int Fd() const = 0;
  // Replaces the source of device-change notices, e.g. with a stand-in in tests or
  // one the application already has; null: none. A channel without a descriptor
  // (Windows) keeps none: its window gets the system's broadcasts.
  virtual void SetChangeSource(std::unique_ptr<TDeviceChangeSource> source) = 0;
  virtual bool HasChangeSource() const = 0;
  // A worker's delivery waits: from any thread and under the caller's lock, so it
  // never blocks. A loop that watches no descriptor runs `serve` (given at opening)
  // the next time it dispatches.
  virtual void WakeForDeliveries() = 0;
};

// `deliveriesFd` polls readable while deliveries wait (-1: none), and the channel's
// descriptor includes it; `serve` runs them where no descriptor is watched.
std::unique_ptr<TMessageChannel> OpenMessageChannel(TMessageChannel::THandler handler,
                                                    int deliveriesFd, std::function<void()> serve);

}  // namespace quorvel::platform
