// What the lab's /dev/uhid devices share: creating the device on the shared vendor/product
// pair and the head of their event loop.
#pragma once

#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <span>

#include "relay/RelayProtocol.h"

namespace quorvel::lab {

inline bool SendUhid(int fd, const uhid_event& event) {
  return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

// Opens /dev/uhid and creates a USB device named `name` with `descriptor`, then prints
// "ready". Returns the descriptor to serve, or -1 after saying why.
inline int CreateUhidDevice(const char* name, std::span<const unsigned char> descriptor) {
  constexpr unsigned kBusUsb = 0x03;
  const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::perror("/dev/uhid");
    return -1;
  }
  // Large: kept off the stack.
  static uhid_event event;
  std::memset(&event, 0, sizeof event);
  event.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name, "%s",
                name);
  event.u.create2.rd_size = static_cast<unsigned short>(descriptor.size());
  event.u.create2.bus = kBusUsb;
  event.u.create2.vendor = relay::kVendorId;
  event.u.create2.product = relay::kProductId;
  event.u.create2.version = relay::kVersion;
  std::memcpy(event.u.create2.rd_data, descriptor.data(), descriptor.size());
  if (!SendUhid(fd, event)) {
    std::perror("UHID_CREATE2");
    close(fd);
    return -1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return fd;
}

// Waits for the kernel's next event into `in` and clears `reply` for the answer; false
// once the device is gone.
inline bool NextUhidEvent(int fd, uhid_event& in, uhid_event& reply) {
  if (read(fd, &in, sizeof in) <= 0) {
    return false;
  }
  std::memset(&reply, 0, sizeof reply);
  return true;
}

}  // namespace quorvel::lab
