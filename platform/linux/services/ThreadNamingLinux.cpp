// Linux thread names: prctl for the calling thread, /proc for another.
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <string>

#include "platform/ThreadNaming.h"
#include "platform/Utf.h"
#include "platform/posix/UniqueFd.h"

namespace quorvel::platform {
namespace {

// The kernel keeps 15 bytes of a thread's name; a cut must not split a character.
std::string KernelName(const std::string& name) {
  constexpr std::size_t kMax = 15;
  if (name.size() <= kMax) {
    return name;
  }
  std::size_t end = kMax;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
    --end;
  }
  return name.substr(0, end);
}

}  // namespace

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(::gettid());
}

std::string ToAnsiCodePage(const std::u16string& text) {
  return Utf16ToUtf8(text);
}

void ShowThreadName(const std::string& name, uint32_t threadId) {
  const std::string shown = KernelName(name);
  if (threadId == CurrentThreadId()) {
    (void)::prctl(PR_SET_NAME, shown.c_str(), 0, 0, 0);
    return;
  }
  const std::string comm = "/proc/self/task/" + std::to_string(threadId) + "/comm";
  const posix::TUniqueFd fd(::open(comm.c_str(), O_WRONLY | O_CLOEXEC));
  if (fd.Valid()) {
    (void)!::write(fd.Get(), shown.data(), shown.size());
  }
}

}  // namespace quorvel::platform
