// A USB HID relay board on the guest kernel's HID stack, through /dev/uhid: vendor 16c0,
// product 05df, the board's 22-byte report descriptor and its 9-byte feature protocol.
// Every report request is appended to a log as one line of hex bytes, so the lab can check
// what reached the device byte for byte.
//
// Usage: uhid-relay-board NAME RELAYS BOARD-ID LOG-FILE [input] [state=FILE] [unplug-at=N]
//                         [any-report]
// Prints "ready" once the device exists and then serves it until killed. With "input" the
// descriptor also declares an 8-byte input report, and the command 0xF0 (which the board
// ignores) makes it send one: F0 01 02 03 04 05 06 07.
// With state=FILE the board's relay state is in FILE as two hex digits and a newline,
// rewritten before a set request is answered, so it is current when the request returns.
// With unplug-at=N the board unplugs itself when the Nth feature request (get or set)
// arrives: it leaves the request unanswered, destroys the device, logs "unplugged" and exits.
// With any-report the board answers a feature request of any report number, as the boards'
// firmware does (it ignores the number); the bytes are then those usbhid passes for a
// numbered report: the report without an ID byte in front, both ways.
#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr unsigned char kDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (Vendor Defined 0xFF00)
    0x09, 0x01,        // Usage (0x01)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x08,        //   Report Count (8)
    0x09, 0x00,        //   Usage (0x00)
    0xB2, 0x02, 0x01,  //   Feature (Data, Variable, Absolute, Buffered Bytes)
    0xC0,              // End Collection
};
// The same with an input report of the same 8 bytes before the end of the collection.
constexpr unsigned char kDescriptorWithInput[] = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
    0x75, 0x08, 0x95, 0x08, 0x09, 0x00, 0xB2, 0x02, 0x01, 0x09, 0x00,  //   Usage (0x00)
    0x81, 0x02,  //   Input (Data, Variable, Absolute)
    0xC0};
constexpr unsigned char kInputCommand = 0xF0;
constexpr unsigned kBusUsb = 0x03;

struct TBoard {
  unsigned Relays;
  unsigned char Id[5];
  unsigned char State;
};

void Log(const char* file, const char* what, unsigned rnum, const unsigned char* data,
         unsigned size) {
  FILE* out = std::fopen(file, "a");
  if (out == nullptr) {
    return;
  }
  std::fprintf(out, "%s %u:", what, rnum);
  for (unsigned i = 0; i < size; ++i) {
    std::fprintf(out, " %02x", data[i]);
  }
  std::fprintf(out, "\n");
  std::fclose(out);
}

void Note(const char* file, const char* what) {
  FILE* out = std::fopen(file, "a");
  if (out != nullptr) {
    std::fprintf(out, "%s\n", what);
    std::fclose(out);
  }
}

// The board's commands, in data bytes after the report-ID byte.
void Apply(TBoard& board, const unsigned char* data, unsigned size) {
  if (size < 2) {
    return;
  }
  const unsigned mask = (1u << board.Relays) - 1;
  const unsigned relay = data[1];
  switch (data[0]) {
    case 0xFF:
      if (relay >= 1 && relay <= board.Relays) {
        board.State = static_cast<unsigned char>(board.State | (1u << (relay - 1)));
      }
      break;
    case 0xFD:
      if (relay >= 1 && relay <= board.Relays) {
        board.State = static_cast<unsigned char>(board.State & ~(1u << (relay - 1)));
      }
      break;
    case 0xFE:
      board.State = static_cast<unsigned char>(mask);
      break;
    case 0xFC:
      board.State = 0;
      break;
    case 0xFA:
      if (size >= 6) {
        std::memcpy(board.Id, data + 1, 5);
      }
      break;
    default:
      break;
  }
}

bool Send(int fd, const uhid_event& event) {
  return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

void WriteState(int fd, unsigned char state) {
  if (fd < 0) {
    return;
  }
  char text[4];
  std::snprintf(text, sizeof text, "%02x\n", state);
  if (pwrite(fd, text, 3, 0) != 3) {
    std::perror("state file");
  }
}

struct TOptions {
  bool WithInput = false;
  const char* StateFile = nullptr;
  unsigned UnplugAt = 0;  // 0: never
  bool AnyReport = false;
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
  for (int i = 5; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "input") {
      options.WithInput = true;
    } else if (option == "any-report") {
      options.AnyReport = true;
    } else if (option.starts_with("state=")) {
      options.StateFile = argv[i] + 6;
    } else if (option.starts_with("unplug-at=")) {
      options.UnplugAt = static_cast<unsigned>(std::atoi(argv[i] + 10));
      if (options.UnplugAt == 0) {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (argc < 5 || std::strlen(argv[3]) != 5 || !ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s NAME RELAYS BOARD-ID(5 chars) LOG-FILE [input] [state=FILE] "
                 "[unplug-at=N] [any-report]\n",
                 argv[0]);
    return 2;
  }
  const bool withInput = options.WithInput;
  TBoard board{static_cast<unsigned>(std::atoi(argv[2])), {}, 0};
  std::memcpy(board.Id, argv[3], 5);
  const char* log = argv[4];
  const int state = options.StateFile == nullptr
                        ? -1
                        : open(options.StateFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  WriteState(state, board.State);
  unsigned requests = 0;

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
  event.u.create2.rd_size = withInput ? sizeof kDescriptorWithInput : sizeof kDescriptor;
  event.u.create2.bus = kBusUsb;
  event.u.create2.vendor = 0x16C0;
  event.u.create2.product = 0x05DF;
  event.u.create2.version = 0x0100;
  if (withInput) {
    std::memcpy(event.u.create2.rd_data, kDescriptorWithInput, sizeof kDescriptorWithInput);
  } else {
    std::memcpy(event.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
  }
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
    if ((in.type == UHID_GET_REPORT || in.type == UHID_SET_REPORT) &&
        ++requests == options.UnplugAt) {
      // The request stays pending: the kernel ends it when the device goes.
      if (in.type == UHID_GET_REPORT) {
        Log(log, "get", in.u.get_report.rnum, nullptr, 0);
      } else {
        Log(log, "set", in.u.set_report.rnum, in.u.set_report.data, in.u.set_report.size);
      }
      reply.type = UHID_DESTROY;
      if (!Send(fd, reply)) {
        std::perror("UHID_DESTROY");
        return 1;
      }
      Note(log, "unplugged");
      return 0;
    }
    if (in.type == UHID_GET_REPORT) {
      Log(log, "get", in.u.get_report.rnum, nullptr, 0);
      reply.type = UHID_GET_REPORT_REPLY;
      reply.u.get_report_reply.id = in.u.get_report.id;
      const unsigned rnum = in.u.get_report.rnum;
      if (in.u.get_report.rtype != UHID_FEATURE_REPORT || (rnum != 0 && !options.AnyReport)) {
        reply.u.get_report_reply.err = 5;  // EIO, as a stalled request
      } else if (rnum != 0) {
        unsigned char* data = reply.u.get_report_reply.data;
        std::memcpy(data, board.Id, 5);
        data[7] = board.State;
        reply.u.get_report_reply.size = 8;
      } else {
        // usbhid puts the 0 report ID first; a uhid device must do the same.
        unsigned char* data = reply.u.get_report_reply.data;
        data[0] = 0;
        std::memcpy(data + 1, board.Id, 5);
        data[8] = board.State;
        reply.u.get_report_reply.size = 9;
      }
      Send(fd, reply);
    } else if (in.type == UHID_SET_REPORT) {
      const unsigned size = in.u.set_report.size;
      Log(log, "set", in.u.set_report.rnum, in.u.set_report.data, size);
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = in.u.set_report.id;
      if (in.u.set_report.rtype == UHID_FEATURE_REPORT && options.AnyReport &&
          in.u.set_report.rnum != 0) {
        Apply(board, in.u.set_report.data, size);
        WriteState(state, board.State);
      } else if (in.u.set_report.rtype == UHID_FEATURE_REPORT && size >= 1) {
        Apply(board, in.u.set_report.data + 1, size - 1);
        WriteState(state, board.State);
        if (withInput && size >= 2 && in.u.set_report.data[1] == kInputCommand) {
          // Queued before the request completes: a reader finds it at once.
          static uhid_event input;
          std::memset(&input, 0, sizeof input);
          input.type = UHID_INPUT2;
          input.u.input2.size = 8;
          for (unsigned char i = 0; i < 8; ++i) {
            input.u.input2.data[i] = i == 0 ? kInputCommand : i;
          }
          Send(fd, input);
        }
      } else {
        reply.u.set_report_reply.err = 5;
      }
      Send(fd, reply);
    } else if (in.type == UHID_OUTPUT) {
      Log(log, "output", 0, in.u.output.data, in.u.output.size);
    }
  }
}
