// What the system shows as a thread's name: the kernel's on Linux, the thread's
// description on Windows; nothing where the system keeps none.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fstream>
#endif

namespace quorvel::hid::test {

inline std::optional<std::string> ShownThreadName(uint32_t threadId) {
#ifdef _WIN32
  using TGetThreadDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  auto get = reinterpret_cast<TGetThreadDescription>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  HANDLE thread = get ? ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId) : nullptr;
  if (thread == nullptr) {
    return std::nullopt;
  }
  PWSTR description = nullptr;
  std::optional<std::string> name;
  if (SUCCEEDED(get(thread, &description))) {
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, description, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, description, -1, text.data(), length, nullptr, nullptr);
    name = text;
    ::LocalFree(description);
  }
  ::CloseHandle(thread);
  return name;
#else
  std::ifstream comm("/proc/self/task/" + std::to_string(threadId) + "/comm");
  std::string name;
  if (!std::getline(comm, name)) {
    return std::nullopt;
  }
  return name;
#endif
}

// The name once it is `expected`, or the last one seen after about two seconds.
inline std::optional<std::string> AwaitShownThreadName(uint32_t threadId,
                                                       const std::string& expected) {
  std::optional<std::string> name;
  for (int i = 0; i < 200; ++i) {
    name = ShownThreadName(threadId);
    if (name == expected) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return name;
}

// The kernel keeps 15 bytes of a name.
inline std::string ShownForm(const std::string& name) {
#ifdef _WIN32
  return name;
#else
  return name.substr(0, 15);
#endif
}

}  // namespace quorvel::hid::test
