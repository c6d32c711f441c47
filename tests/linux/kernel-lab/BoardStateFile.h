// The lab boards' own model for the checks (state=FILE): the relay state as two hex digits
// and the board's ID, a line each, rewritten before a request is answered, so the file is
// current when the request returns.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "relay/RelayProtocol.h"

namespace quorvel::lab {

// -1 without a file (nullptr) or when it cannot be made, after saying why.
inline int OpenBoardState(const char* path) {
  if (path == nullptr) {
    return -1;
  }
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path);
  }
  return fd;
}

inline void WriteBoardState(int fd, std::uint8_t state, const std::uint8_t* id) {
  if (fd < 0) {
    return;
  }
  // Always the same length, so one write at the start replaces the whole file.
  char text[3 + relay::kBoardIdLength + 2];
  std::snprintf(text, 4, "%02x\n", state);
  std::memcpy(text + 3, id, relay::kBoardIdLength);
  text[3 + relay::kBoardIdLength] = '\n';
  const auto size = static_cast<ssize_t>(3 + relay::kBoardIdLength + 1);
  if (pwrite(fd, text, static_cast<std::size_t>(size), 0) != size) {
    std::perror("state file");
  }
}

}  // namespace quorvel::lab
