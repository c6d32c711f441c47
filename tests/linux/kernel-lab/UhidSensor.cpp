// A HID device that is not a relay board, on the guest kernel's HID stack through
// /dev/uhid: a hobby sensor on the shared pair 16c0:05df with a vendor-defined 8-byte input
// report and no feature report. The kernel tells a uhid device every time its first user
// opens it (UHID_OPEN) and its last one closes it (UHID_CLOSE): each is appended to a log as
// a line "open" or "close", so the lab can count the opens of this node from the kernel's
// side.
//
// Usage: uhid-sensor NAME LOG-FILE
// Prints "ready" once the device exists and then serves it until killed.
#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned char kDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (Vendor Defined 0xFF00)
    0x09, 0x02,        // Usage (0x02)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x08,        //   Report Count (8)
    0x09, 0x00,        //   Usage (0x00)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0xC0,              // End Collection
};
constexpr unsigned kBusUsb = 0x03;

void Log(const char* file, const char* line) {
  FILE* out = std::fopen(file, "a");
  if (out != nullptr) {
    std::fprintf(out, "%s\n", line);
    std::fclose(out);
  }
}

bool Send(int fd, const uhid_event& event) {
  return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s NAME LOG-FILE\n", argv[0]);
    return 2;
  }
  const char* log = argv[2];
  const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::perror("/dev/uhid");
    return 1;
  }
  static uhid_event event;
  std::memset(&event, 0, sizeof event);
  event.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name, "%s",
                argv[1]);
  event.u.create2.rd_size = sizeof kDescriptor;
  event.u.create2.bus = kBusUsb;
  event.u.create2.vendor = 0x16C0;
  event.u.create2.product = 0x05DF;
  event.u.create2.version = 0x0100;
  std::memcpy(event.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
  if (!Send(fd, event)) {
    std::perror("UHID_CREATE2");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);

  for (;;) {
    static uhid_event in;
    if (read(fd, &in, sizeof in) <= 0) {
      return 0;
    }
    static uhid_event reply;
    std::memset(&reply, 0, sizeof reply);
    if (in.type == UHID_OPEN) {
      Log(log, "open");
    } else if (in.type == UHID_CLOSE) {
      Log(log, "close");
    } else if (in.type == UHID_GET_REPORT) {
      reply.type = UHID_GET_REPORT_REPLY;
      reply.u.get_report_reply.id = in.u.get_report.id;
      reply.u.get_report_reply.err = 5;  // EIO: a sensor has no feature report
      Send(fd, reply);
    } else if (in.type == UHID_SET_REPORT) {
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = in.u.set_report.id;
      reply.u.set_report_reply.err = 5;
      Send(fd, reply);
    }
  }
}
