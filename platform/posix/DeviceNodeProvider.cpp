#include "platform/posix/DeviceNodeProvider.h"

#include <cerrno>

#include "trace/Trace.h"
#include "platform/Utf.h"
#include "platform/posix/DescriptorFile.h"

namespace quorvel::posix {
namespace {

// Any file: a synchronous read at the end reads 0 bytes, as on the platform.
class TDeviceNode final : public TDescriptorFile {
 public:
  using TDescriptorFile::TDescriptorFile;

  DWORD Read(void* buffer, DWORD size, DWORD& done) override {
    const DWORD error = TDescriptorFile::Read(buffer, size, done);
    return error == ERROR_HANDLE_EOF ? ERROR_SUCCESS : error;
  }
};

void TraceOpen(const std::string& file, DWORD access, int err) {
  const std::string asked = trace::TraceAccess((access & (GENERIC_READ | GENERIC_ALL)) != 0,
                                                  (access & (GENERIC_WRITE | GENERIC_ALL)) != 0);
  trace::TraceLine(err == 0 ? "node " + file + " opened for " + asked
                               : "node " + file + " refused for " + asked + ": " +
                                     trace::ErrnoText(err));
}

class TDeviceNodeProvider final : public TFileProvider {
 public:
  bool Claims(std::u16string_view) const override { return true; }

  std::shared_ptr<TFileObject> Open(std::u16string_view path, DWORD desiredAccess, DWORD,
                                    DWORD flagsAndAttributes, DWORD& error) override {
    const int flags = OpenFlags(desiredAccess, flagsAndAttributes);
    const std::string file = platform::Utf16ToUtf8(path);
    if (file.empty() || file.find('\0') != std::string::npos) {
      error = ERROR_INVALID_NAME;
      return nullptr;
    }
    const int fd = OpenDescriptor(file, flags);
    const int err = fd < 0 ? errno : 0;
    if (trace::TraceOn()) {
      TraceOpen(file, desiredAccess, err);
    }
    if (fd < 0) {
      error = ErrorFromErrno(err);
      return nullptr;
    }
    return std::make_shared<TDeviceNode>(std::u16string(path), desiredAccess, fd);
  }
};

}  // namespace

TFileProvider& DeviceNodeProvider() {
  static TDeviceNodeProvider provider;
  return provider;
}

}  // namespace quorvel::posix
