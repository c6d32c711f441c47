#include "platform/linux/HidrawFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "hidparse/HidParse.h"
#include "platform/Utf.h"
#include "platform/linux/HidrawHandle.h"
#include "platform/linux/ModuleRoot.h"
#include "platform/posix/DescriptorFile.h"

namespace quorvel::hidraw {

namespace {

class THidrawFile final : public posix::TDescriptorFile {
 public:
  THidrawFile(std::u16string path, DWORD access, int fd, TReportShape shape)
      : TDescriptorFile(std::move(path), access, fd), Shape_(shape) {}

  // A report goes out as given (byte 0 is its ID, 0 for a device without IDs, as hidraw
  // and the platform both expect), at the one length the platform accepts.
  DWORD Write(const void* buffer, DWORD size, DWORD& done) override {
    if (Shape_.OutputLength != 0 && size != Shape_.OutputLength) {
      done = 0;
      return ERROR_INVALID_USER_BUFFER;
    }
    return TDescriptorFile::Write(buffer, size, done);
  }

  DWORD TryRead(void* buffer, DWORD size, DWORD& done) override {
    done = 0;
    if (Shape_.Length != 0 && size < Shape_.Length) {
      return ERROR_INVALID_USER_BUFFER;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    // hidraw leaves out the ID byte of a device without report IDs.
    const DWORD offset = Shape_.Length != 0 && !Shape_.Numbered ? 1 : 0;
    if (offset != 0 && size == offset) {
      return ERROR_HANDLE_EOF;  // only the ID byte fits: no data can be read
    }
    DWORD got = 0;
    const DWORD error = TDescriptorFile::TryRead(bytes + offset, size - offset, got);
    if (error != ERROR_SUCCESS) {
      return error;
    }
    DWORD length = got + offset;
    if (offset != 0) {
      bytes[0] = 0;
    }
    if (length < Shape_.Length) {
      std::memset(bytes + length, 0, Shape_.Length - length);
      length = Shape_.Length;
    }
    done = length;
    return ERROR_SUCCESS;
  }

 private:
  const TReportShape Shape_;
};

TReportShape ReportShape(int fd, const std::u16string& path) {
  DWORD ignored = ERROR_SUCCESS;
  const auto descriptor =
      THidrawHandle::FromDescriptor(fd, path).ReportDescriptor(ModuleSysfs(), ignored);
  const auto parsed =
      descriptor ? hidparse::ParseReportDescriptor(*descriptor) : hidparse::TParseResult{};
  if (!parsed || parsed.Descriptor->Collections.empty()) {
    return {};
  }
  const auto& collection = parsed.Descriptor->Collections.front();
  return {parsed.Descriptor->UsesReportIds, collection.ByteLength(hidparse::TReportKind::Input),
          collection.ByteLength(hidparse::TReportKind::Output)};
}

}  // namespace

bool THidrawProvider::Claims(std::u16string_view path) const {
  const std::string file = platform::Utf16ToUtf8(path);
  const auto resolved = TSysfs::Resolve(file);
  if (!resolved) {
    return false;
  }
  return ParentOf(*resolved) == ModuleSysfs().Rooted("/dev") &&
         BaseName(*resolved).substr(0, 6) == "hidraw";
}

std::shared_ptr<posix::TFileObject> THidrawProvider::Open(std::u16string_view path,
                                                          DWORD desiredAccess, DWORD /*shareMode*/,
                                                          DWORD flagsAndAttributes, DWORD& error) {
  const bool transfers = (desiredAccess & (GENERIC_READ | GENERIC_WRITE | GENERIC_ALL)) != 0;
  const int flags = posix::OpenFlags(desiredAccess, flagsAndAttributes);
  const std::string file = platform::Utf16ToUtf8(path);
  const int fd = posix::OpenDescriptor(file, flags);
  if (fd < 0) {
    error = posix::ErrorFromErrno(errno);
    return nullptr;
  }
  std::u16string owned(path);
  const TReportShape shape = transfers ? ReportShape(fd, owned) : TReportShape{};
  return std::make_shared<THidrawFile>(std::move(owned), desiredAccess, fd, shape);
}

}  // namespace quorvel::hidraw
