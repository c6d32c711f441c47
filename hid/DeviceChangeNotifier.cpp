#include "hid/DeviceChangeNotifier.h"

#include "hid/MainThread.h"

namespace quorvel::hid {

TDeviceChangeNotifier::TDeviceChangeNotifier(TWndProc wndProc) : wndProc_(wndProc) {
  TMainThreadQueue& deliveries = TMainThreadQueue::Instance();
  channel_ = platform::OpenMessageChannel(
      [this](const platform::TChannelMessage& message) {
        wndProc_(message.Msg, message.WParam, message.LParam);
      },
      deliveries.ReadyFd(), [] { TMainThreadQueue::Instance().Serve(); });
  deliveries.AddWaker(&WakeChannel, channel_.get());
}

TDeviceChangeNotifier::~TDeviceChangeNotifier() {
  TMainThreadQueue::Instance().RemoveWaker(&WakeChannel, channel_.get());
}

void TDeviceChangeNotifier::WakeChannel(void* channel) {
  static_cast<platform::TMessageChannel*>(channel)->WakeForDeliveries();
}

void TDeviceChangeNotifier::SetChangeSource(std::unique_ptr<platform::TDeviceChangeSource> source) {
  channel_->SetChangeSource(std::move(source));
}

bool TDeviceChangeNotifier::HasChangeSource() const {
  return channel_->HasChangeSource();
}

void TDeviceChangeNotifier::Post(UINT Msg, std::uintptr_t WParam, std::intptr_t LParam) {
  channel_->Post({Msg, WParam, LParam});
}

void TDeviceChangeNotifier::ProcessMessages() {
  channel_->Pump();
}

int TDeviceChangeNotifier::Fd() const {
  return channel_->Fd();
}

}  // namespace quorvel::hid
