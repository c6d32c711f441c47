// The simulation's file provider for the POSIX kernel functions: it claims the
// interface paths of the simulated devices, so CreateFileW, ReadFile, WriteFile and
// overlapped reads on them reach the world.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/FileProvider.h"
#include "sim/World.h"

namespace quorvel::sim {

// Every simulated interface path begins with this; no real file name does.
inline constexpr std::u16string_view kPathPrefix = u"\\\\?\\quorvel-sim#";

class TSimFileObject final : public posix::TFileObject {
 public:
  TSimFileObject(TSimHandle handle, std::u16string path);
  ~TSimFileObject() override;
  TSimFileObject(const TSimFileObject&) = delete;
  TSimFileObject& operator=(const TSimFileObject&) = delete;

  const TSimHandle& Handle() const { return handle_; }

  const std::u16string& Path() const override { return path_; }
  DWORD DesiredAccess() const override { return handle_.Access; }
  DWORD Read(void* buffer, DWORD size, DWORD& done) override;
  DWORD Write(const void* buffer, DWORD size, DWORD& done) override;
  DWORD IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                  DWORD& returned) override;
  int ReadyFd() const override;
  DWORD TryRead(void* buffer, DWORD size, DWORD& done) override;

 private:
  TSimHandle handle_;
  std::u16string path_;
};

class TSimFileProvider final : public posix::TFileProvider {
 public:
  bool Claims(std::u16string_view path) const override;
  std::shared_ptr<posix::TFileObject> Open(std::u16string_view path, DWORD desiredAccess,
                                           DWORD shareMode, DWORD flagsAndAttributes,
                                           DWORD& error) override;
};

// Registers the provider for as long as the world core is loaded.
void RegisterSimFileProvider();
void UnregisterSimFileProvider();

}  // namespace quorvel::sim
