#include <windows.h>

#include <string>

#include "platform/ThreadNaming.h"

namespace quorvel::platform {
namespace {

// The exception debuggers take a thread's name from (the record's layout is theirs).
constexpr DWORD kNameThreadException = 0x406D1388;

#pragma pack(push, 8)
struct TThreadNameInfo {
  DWORD Type;  // 0x1000
  LPCSTR Name;
  DWORD ThreadId;
  DWORD Flags;
};
#pragma pack(pop)

LONG WINAPI ContinueAfterName(EXCEPTION_POINTERS* exception) {
  return exception->ExceptionRecord->ExceptionCode == kNameThreadException
             ? EXCEPTION_CONTINUE_EXECUTION
             : EXCEPTION_CONTINUE_SEARCH;
}

std::wstring Widen(const std::string& ansi) {
  const int length =
      ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), length);
  return wide;
}

// Windows 10 1607 and later keep a description that debuggers attached later, and
// crash dumps, show too.
void Describe(const std::string& name, DWORD threadId) {
  using TSetThreadDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto describe = kernel == nullptr
                      ? nullptr
                      : reinterpret_cast<TSetThreadDescription>(reinterpret_cast<void*>(
                            ::GetProcAddress(kernel, "SetThreadDescription")));
  if (describe == nullptr) {
    return;
  }
  HANDLE thread = ::OpenThread(THREAD_SET_LIMITED_INFORMATION, FALSE, threadId);
  if (thread != nullptr) {
    (void)describe(thread, Widen(name).c_str());
    ::CloseHandle(thread);
  }
}

}  // namespace

uint32_t CurrentThreadId() {
  return ::GetCurrentThreadId();
}

std::string ToAnsiCodePage(const std::u16string& text) {
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, size, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

void ShowThreadName(const std::string& name, uint32_t threadId) {
  Describe(name, threadId);
  if (!::IsDebuggerPresent()) {
    return;
  }
  // A debugger that passes the exception on leaves it to this handler, which
  // continues; without it the program would end.
  PVOID handler = ::AddVectoredExceptionHandler(0, &ContinueAfterName);
  const TThreadNameInfo info{0x1000, name.c_str(), threadId, 0};
  ::RaiseException(kNameThreadException, 0, sizeof info / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
  if (handler != nullptr) {
    ::RemoveVectoredExceptionHandler(handler);
  }
}

}  // namespace quorvel::platform
