#include "sim/posix/SimFileProvider.h"

#include <cstdio>

#include "sim/HandleLookup.h"

namespace quorvel::sim {
namespace {

TSimFileProvider& Provider() {
  static TSimFileProvider provider;
  return provider;
}

std::span<std::uint8_t> Bytes(void* buffer, DWORD size) {
  return {static_cast<std::uint8_t*>(buffer), buffer != nullptr ? size : 0};
}

}  // namespace

std::u16string DevicePath(const TSimDevice& device) {
  char tail[64];
  std::snprintf(tail, sizeof tail, "vid_%04x&pid_%04x#%u#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                device.VendorId, device.ProductId, device.Instance);
  std::u16string path(kPathPrefix);
  for (const char* c = tail; *c != '\0'; ++c) {
    path.push_back(static_cast<char16_t>(*c));
  }
  return path;
}

// The provider answers for every path; there is nothing to make.
void PublishDevices(const std::vector<std::shared_ptr<TSimDevice>>&) {}

TSimFileObject::TSimFileObject(TSimHandle handle, std::u16string path)
    : handle_(std::move(handle)), path_(std::move(path)) {}

TSimFileObject::~TSimFileObject() {
  TWorld::Instance().Close(handle_);
}

DWORD TSimFileObject::Read(void* buffer, DWORD size, DWORD& done) {
  return TWorld::Instance().ReadInput(handle_, Bytes(buffer, size), done, /*wait=*/true);
}

DWORD TSimFileObject::TryRead(void* buffer, DWORD size, DWORD& done) {
  return TWorld::Instance().ReadInput(handle_, Bytes(buffer, size), done, /*wait=*/false);
}

DWORD TSimFileObject::Write(const void* buffer, DWORD size, DWORD& done) {
  return TWorld::Instance().WriteOutput(
      handle_, {static_cast<const std::uint8_t*>(buffer), buffer != nullptr ? size : 0}, done);
}

DWORD TSimFileObject::IoControl(DWORD, const void*, DWORD, void*, DWORD, DWORD& returned) {
  // The HidD_ functions of the simulated module reach the world directly.
  returned = 0;
  return ERROR_INVALID_FUNCTION;
}

int TSimFileObject::ReadyFd() const {
  return handle_.Device->InputReady.Fd();
}

bool TSimFileProvider::Claims(std::u16string_view path) const {
  return path.substr(0, kPathPrefix.size()) == kPathPrefix;
}

std::shared_ptr<posix::TFileObject> TSimFileProvider::Open(std::u16string_view path,
                                                           DWORD desiredAccess, DWORD, DWORD,
                                                           DWORD& error) {
  TSimHandle handle;
  error = TWorld::Instance().Open(path, desiredAccess, handle);
  if (error != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_shared<TSimFileObject>(std::move(handle), std::u16string(path));
}

bool LookUpHandle(HANDLE handle, TSimHandle& out) {
  const auto object = std::dynamic_pointer_cast<TSimFileObject>(posix::ObjectFromHandle(handle));
  if (!object) {
    return false;
  }
  out = object->Handle();
  return true;
}

void RegisterSimFileProvider() {
  posix::RegisterFileProvider(&Provider());
}
void UnregisterSimFileProvider() {
  posix::UnregisterFileProvider(&Provider());
}

}  // namespace quorvel::sim
