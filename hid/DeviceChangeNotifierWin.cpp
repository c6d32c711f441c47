// Windows device-change notification: a hidden top-level window of the creating
// thread, which receives the WM_DEVICECHANGE broadcasts (message-only windows do
// not) and the messages the controller posts to itself.
#include <windows.h>

#include "hid/DeviceChangeNotifier.h"
#include "hid/MainThread.h"

namespace quorvel::hid {
namespace {

constexpr wchar_t kWindowClass[] = L"QuorvelDeviceChangeWindow";
// Posted when a read thread's delivery waits, so that a program running only
// its own message loop serves it.
constexpr UINT kServeDeliveries = WM_APP + 0x51;

}  // namespace

struct TDeviceChangeNotifier::TState {
  TDeviceChangeNotifier::TWndProc wndProc;
  HWND window = nullptr;
  // The first error raised while the platform dispatched a message: C++
  // exceptions must not unwind through the system's dispatch, so it waits for
  // ProcessMessages. Later messages are served all the same.
  std::exception_ptr pending;

  static void WakeWindow(void* context) {
    PostMessageW(static_cast<HWND>(context), kServeDeliveries, 0, 0);
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (msg == kServeDeliveries) {
      TMainThreadQueue::Instance().Serve();
      return 0;
    }
    auto* state = reinterpret_cast<TState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (state != nullptr && state->wndProc.Assigned()) {
      try {
        state->wndProc(msg, wParam, lParam);
      } catch (...) {
        if (!state->pending) {
          state->pending = std::current_exception();
        }
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
  if (state_->window != nullptr) {
    TMainThreadQueue::Instance().AddWaker(&TState::WakeWindow, state_->window);
  }
}

TDeviceChangeNotifier::~TDeviceChangeNotifier() {
  if (state_->window != nullptr) {
    TMainThreadQueue::Instance().RemoveWaker(&TState::WakeWindow, state_->window);
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
  // An error from the program's own dispatch comes first; a message that fails
  // here ends the pump, and what was not yet handled waits for the next one.
  if (state_->window != nullptr && !state_->pending) {
    MSG msg;
    while (PeekMessageW(&msg, state_->window, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (state_->pending) {
        break;
      }
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
