// A HID device that is not a relay board, on the guest kernel's HID stack through
// /dev/uhid: a hobby sensor on the shared pair 16c0:05df with a vendor-defined 8-byte input
// report and no feature report. The kernel tells a uhid device every time its first user
// opens it (UHID_OPEN) and its last one closes it (UHID_CLOSE): each is appended to a log as
// a line "open" or "close", so the lab can count the opens of this node from the kernel's
// side.
//
// Usage: uhid-sensor NAME LOG-FILE
// Prints "ready" once the device exists and then serves it until killed.
#include <cstdio>

#include "tests/linux/kernel-lab/UhidDevice.h"

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

void Log(const char* file, const char* line) {
  FILE* out = std::fopen(file, "a");
  if (out != nullptr) {
    std::fprintf(out, "%s\n", line);
    std::fclose(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s NAME LOG-FILE\n", argv[0]);
    return 2;
  }
  const char* log = argv[2];
  const int fd = quorvel::lab::CreateUhidDevice(argv[1], kDescriptor);
  if (fd < 0) {
    return 1;
  }

  for (;;) {
    static uhid_event in;
    static uhid_event reply;
    if (!quorvel::lab::NextUhidEvent(fd, in, reply)) {
      return 0;
    }
    if (in.type == UHID_OPEN) {
      Log(log, "open");
    } else if (in.type == UHID_CLOSE) {
      Log(log, "close");
    } else if (in.type == UHID_GET_REPORT) {
      reply.type = UHID_GET_REPORT_REPLY;
      reply.u.get_report_reply.id = in.u.get_report.id;
      reply.u.get_report_reply.err = 5;  // EIO: a sensor has no feature report
      quorvel::lab::SendUhid(fd, reply);
    } else if (in.type == UHID_SET_REPORT) {
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = in.u.set_report.id;
      reply.u.set_report_reply.err = 5;
      quorvel::lab::SendUhid(fd, reply);
    }
  }
}
