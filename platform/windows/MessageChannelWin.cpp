// The Windows message channel: a hidden top-level window of the creating thread,
// which receives the WM_DEVICECHANGE broadcasts (message-only windows do not) and
// the messages the controller posts to itself.
#include <windows.h>

#include <exception>
#include <utility>

#include "platform/MessageChannel.h"

namespace quorvel::platform {
namespace {

constexpr wchar_t kWindowClass[] = L"QuorvelDeviceChangeWindow";
// Posted when a read thread's delivery waits, so that a program running only
// its own message loop serves it.
constexpr UINT kServeDeliveries = WM_APP + 0x51;

class TWindowMessageChannel final : public TMessageChannel {
 public:
  TWindowMessageChannel(THandler handler, std::function<void()> serve) : serve_(std::move(serve)) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    // A second controller finds the class registered already.
    (void)RegisterClassW(&windowClass);
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                              /*hWndParent=*/nullptr, /*hMenu=*/nullptr, instance, this);
    // Set only now: the window's creation messages are not the controller's.
    handler_ = std::move(handler);
  }

  ~TWindowMessageChannel() override {
    if (window_ != nullptr) {
      handler_ = {};
      DestroyWindow(window_);
    }
  }

  void Post(const TChannelMessage& message) override {
    if (window_ != nullptr) {
      PostMessageW(window_, message.Msg, message.WParam, message.LParam);
    }
  }

  void Pump() override {
    // An error from the program's own dispatch comes first; a message that fails
    // here ends the pump, and what was not yet handled waits for the next one.
    if (window_ != nullptr && !pending_) {
      MSG msg;
      while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        if (pending_) {
          break;
        }
      }
    }
    if (pending_) {
      std::rethrow_exception(std::exchange(pending_, nullptr));
    }
  }

  int Fd() const override { return -1; }
  void SetChangeSource(std::unique_ptr<TDeviceChangeSource>) override {}
  bool HasChangeSource() const override { return false; }

  void WakeForDeliveries() override {
    if (window_ != nullptr) {
      PostMessageW(window_, kServeDeliveries, 0, 0);
    }
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* channel =
        reinterpret_cast<TWindowMessageChannel*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (msg == kServeDeliveries) {
      if (channel != nullptr && channel->serve_) {
        channel->serve_();
      }
      return 0;
    }
    if (channel != nullptr && channel->handler_) {
      try {
        channel->handler_({msg, wParam, static_cast<std::intptr_t>(lParam)});
      } catch (...) {
        // C++ exceptions must not unwind through the system's dispatch: the first
        // waits for Pump. Later messages are served all the same.
        if (!channel->pending_) {
          channel->pending_ = std::current_exception();
        }
      }
    }
    return DefWindowProcW(window, msg, wParam, lParam);
  }

  THandler handler_;
  std::function<void()> serve_;
  HWND window_ = nullptr;
  std::exception_ptr pending_;
};

}  // namespace

std::unique_ptr<TMessageChannel> OpenMessageChannel(TMessageChannel::THandler handler, int,
                                                    std::function<void()> serve) {
  return std::make_unique<TWindowMessageChannel>(std::move(handler), std::move(serve));
}

std::unique_ptr<TDeviceChangeSource> OpenDeviceChangeSource() {
  return nullptr;
}

}  // namespace quorvel::platform
