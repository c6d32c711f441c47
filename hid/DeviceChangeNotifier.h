// The controller's device-change notification channel. It carries the messages
// the controller posts to itself and the system's "device nodes changed"
// notices, and hands each to the controller's window procedure when the
// application pumps. The platform's message channel does the carrying; this
// ties it to the controller and to the main thread's deliveries.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>

#include "hid/LayerTypes.h"
#include "platform/MessageChannel.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hid {

class TDeviceChangeNotifier {
 public:
  using TWndProc = TDelegate<void(UINT Msg, std::uintptr_t WParam, std::intptr_t LParam)>;

  explicit TDeviceChangeNotifier(TWndProc wndProc);
  ~TDeviceChangeNotifier();
  TDeviceChangeNotifier(const TDeviceChangeNotifier&) = delete;
  TDeviceChangeNotifier& operator=(const TDeviceChangeNotifier&) = delete;

  // Queues a message for the next ProcessMessages.
  void Post(UINT Msg, std::uintptr_t WParam, std::intptr_t LParam);
  // Hands every waiting message to the window procedure; an error it raises
  // reaches the caller.
  void ProcessMessages();
  // Polls readable while messages wait; -1 where the platform has none.
  int Fd() const;

  // Replaces the source of the system's device-change notices (on Linux the
  // kernel's uevents), e.g. with a stand-in in tests or one the application
  // already has; null: none. Windows keeps none: its window gets the broadcasts.
  void SetChangeSource(std::unique_ptr<platform::TDeviceChangeSource> source);
  // Whether such notices are being received from a source.
  bool HasChangeSource() const;

 private:
  static void WakeChannel(void* channel);

  TWndProc wndProc_;
  std::unique_ptr<platform::TMessageChannel> channel_;
};

}  // namespace quorvel::hid
