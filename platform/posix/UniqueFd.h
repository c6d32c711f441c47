// The one owner of a POSIX descriptor: closes it once, moves, never copies.
// Header-only, so the kernel library, the modules and the layer share it without
// an export.
#pragma once

#include <unistd.h>

#include <utility>

namespace quorvel::posix {

class TUniqueFd {
 public:
  TUniqueFd() = default;
  // Takes ownership of `fd`; -1 owns nothing.
  explicit TUniqueFd(int fd) : fd_(fd) {}
  ~TUniqueFd() { Reset(); }
  TUniqueFd(TUniqueFd&& other) noexcept : fd_(other.Release()) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Gives up ownership without closing.
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace quorvel::posix
