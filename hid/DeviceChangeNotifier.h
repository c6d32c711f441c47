// The controller's device-change notification channel. It carries the messages
// the controller posts to itself and the system's "device nodes changed"
// notices, and hands each to the controller's window procedure when the
// application pumps. Windows: a hidden top-level window of the creating thread.
// POSIX: a queue of posted messages plus kernel uevents of the hidraw subsystem.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>

#include "hid/LayerTypes.h"
#include "platform/PlatformTypes.h"

namespace quorvel::hid {

class TUeventChannel;

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

#ifndef _WIN32
  // Replaces the source of kernel uevents (the netlink socket), e.g. with a
  // stand-in in tests or a channel the application already has; null: none.
  void SetUeventChannel(std::unique_ptr<TUeventChannel> channel);
  // Whether kernel uevents are being received.
  bool HasUeventChannel() const;
#endif

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace quorvel::hid
