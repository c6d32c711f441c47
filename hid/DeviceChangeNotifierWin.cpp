// Windows device-change notification: a hidden top-level window of the creating
// thread, which receives the WM_DEVICECHANGE broadcasts (message-only windows do
// not) and the messages the controller posts to itself.
#include <windows.h>

#include "hid/DeviceChangeNotifier.h"

namespace quorvel::hid {
namespace {

constexpr wchar_t kWindowClass[] = L"QuorvelDeviceChangeWindow";

}  // namespace

struct TDeviceChangeNotifier::TState {
  TDeviceChangeNotifier::TWndProc wndProc;
  HWND window = nullptr;
  // An error raised while the platform dispatched a message: C++ exceptions must
  // not unwind through the system's dispatch, so it waits for ProcessMessages.
  std::exception_ptr pending;

  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<TState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (state != nullptr && state->wndProc.Assigned() && !state->pending) {
      try {
        state->wndProc(msg, wParam, lParam);
      } catch (...) {
        state->pending = std::current_exception();
      }
    }
    return DefWindowProcW(window, msg, wParam, lParam);
  }
};

TDeviceChangeNotifier::TDeviceChangeNotifier(TWndProc wndProc)
    : state_(std::make_unique<TState>()) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &TState::WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  // A second controller finds the class registered already.
  (void)RegisterClassW(&windowClass);
  state_->window =
      CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                      /*hWndParent=*/nullptr, /*hMenu=*/nullptr, instance, state_.get());
  state_->wndProc = wndProc;
}

TDeviceChangeNotifier::~TDeviceChangeNotifier() {
  if (state_->window != nullptr) {
    state_->wndProc = {};
    DestroyWindow(state_->window);
  }
}

void TDeviceChangeNotifier::Post(UINT Msg, std::uintptr_t WParam, std::intptr_t LParam) {
  if (state_->window != nullptr) {
    PostMessageW(state_->window, Msg, WParam, LParam);
  }
}

void TDeviceChangeNotifier::ProcessMessages() {
  if (state_->window != nullptr) {
    MSG msg;
    while (!state_->pending && PeekMessageW(&msg, state_->window, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (state_->pending) {
    std::rethrow_exception(std::exchange(state_->pending, nullptr));
  }
}

int TDeviceChangeNotifier::Fd() const {
  return -1;
}

}  // namespace quorvel::hid
