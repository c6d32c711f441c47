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
// With state=FILE the board's relay state and its ID are in FILE (BoardStateFile.h),
// rewritten before a set request is answered, so they are current when the request returns.
// With unplug-at=N the board unplugs itself when the Nth feature request (get or set)
// arrives: it leaves the request unanswered, destroys the device, logs "unplugged" and exits.
// With any-report the board answers a feature request of any report number, as the boards'
// firmware does (it ignores the number); the bytes are then those usbhid passes for a
// numbered report: the report without an ID byte in front, both ways.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "relay/RelayProtocol.h"
#include "tests/linux/kernel-lab/BoardStateFile.h"
#include "tests/linux/kernel-lab/UhidDevice.h"

namespace {

namespace relay = quorvel::relay;

// The board's descriptor with an input report of the same 8 bytes before the end of the
// collection.
std::vector<unsigned char> DescriptorWithInput() {
  constexpr unsigned char kInput[] = {
      0x09, 0x00,  //   Usage (0x00)
      0x81, 0x02,  //   Input (Data, Variable, Absolute)
  };
  const auto body = relay::kReportDescriptor.begin() + relay::kReportDescriptorBody;
  std::vector<unsigned char> descriptor(relay::kReportDescriptor.begin(), body);
  descriptor.insert(descriptor.end(), std::begin(kInput), std::end(kInput));
  descriptor.insert(descriptor.end(), body, relay::kReportDescriptor.end());
  return descriptor;
}
constexpr unsigned char kInputCommand = 0xF0;

struct TBoard {
  unsigned Relays;
  unsigned char Id[relay::kBoardIdLength];
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

// The board's commands, in a report with its report-ID byte first.
void Apply(TBoard& board, const unsigned char* report, unsigned size) {
  if (size <= relay::kRelayByte) {
    return;
  }
  const unsigned number = report[relay::kRelayByte];
  const std::uint8_t bit = number <= board.Relays ? relay::RelayBit(static_cast<int>(number)) : 0;
  switch (report[relay::kCommandByte]) {
    case relay::CmdRelayOn:
      board.State = static_cast<unsigned char>(board.State | bit);
      break;
    case relay::CmdRelayOff:
      board.State = static_cast<unsigned char>(board.State & ~bit);
      break;
    case relay::CmdAllOn:
      board.State = relay::RelayMask(static_cast<int>(board.Relays));
      break;
    case relay::CmdAllOff:
      board.State = 0;
      break;
    case relay::CmdSetBoardId:
      if (size >= relay::kNewBoardIdByte + relay::kBoardIdLength) {
        std::memcpy(board.Id, report + relay::kNewBoardIdByte, relay::kBoardIdLength);
      }
      break;
    default:
      break;
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
  if (argc < 5 || std::strlen(argv[3]) != relay::kBoardIdLength ||
      !ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s NAME RELAYS BOARD-ID(5 chars) LOG-FILE [input] [state=FILE] "
                 "[unplug-at=N] [any-report]\n",
                 argv[0]);
    return 2;
  }
  const bool withInput = options.WithInput;
  TBoard board{static_cast<unsigned>(std::atoi(argv[2])), {}, 0};
  std::memcpy(board.Id, argv[3], relay::kBoardIdLength);
  const char* log = argv[4];
  const int state = quorvel::lab::OpenBoardState(options.StateFile);
  quorvel::lab::WriteBoardState(state, board.State, board.Id);
  unsigned requests = 0;

  const std::vector<unsigned char> descriptor =
      withInput ? DescriptorWithInput()
                : std::vector<unsigned char>(relay::kReportDescriptor.begin(),
                                             relay::kReportDescriptor.end());
  const int fd = quorvel::lab::CreateUhidDevice(argv[1], descriptor);
  if (fd < 0) {
    return 1;
  }

  for (;;) {
    static uhid_event in;
    static uhid_event reply;
    if (!quorvel::lab::NextUhidEvent(fd, in, reply)) {
      return 0;
    }
    if ((in.type == UHID_GET_REPORT || in.type == UHID_SET_REPORT) &&
        ++requests == options.UnplugAt) {
      // The request stays pending: the kernel ends it when the device goes.
      if (in.type == UHID_GET_REPORT) {
        Log(log, "get", in.u.get_report.rnum, nullptr, 0);
      } else {
        Log(log, "set", in.u.set_report.rnum, in.u.set_report.data, in.u.set_report.size);
      }
      reply.type = UHID_DESTROY;
      if (!quorvel::lab::SendUhid(fd, reply)) {
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
      if (in.u.get_report.rtype != UHID_FEATURE_REPORT ||
          (rnum != relay::kReportId && !options.AnyReport)) {
        reply.u.get_report_reply.err = 5;  // EIO, as a stalled request
      } else if (rnum != relay::kReportId) {
        unsigned char* data = reply.u.get_report_reply.data;
        std::memcpy(data + relay::DataOffset(relay::kBoardIdByte), board.Id, relay::kBoardIdLength);
        data[relay::DataOffset(relay::kStateByte)] = board.State;
        reply.u.get_report_reply.size = relay::kReportLength - 1;
      } else {
        // usbhid puts the 0 report ID first; a uhid device must do the same.
        unsigned char* data = reply.u.get_report_reply.data;
        data[relay::kReportIdByte] = relay::kReportId;
        std::memcpy(data + relay::kBoardIdByte, board.Id, relay::kBoardIdLength);
        data[relay::kStateByte] = board.State;
        reply.u.get_report_reply.size = relay::kReportLength;
      }
      quorvel::lab::SendUhid(fd, reply);
    } else if (in.type == UHID_SET_REPORT) {
      const unsigned size = in.u.set_report.size;
      Log(log, "set", in.u.set_report.rnum, in.u.set_report.data, size);
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = in.u.set_report.id;
      const bool numbered = in.u.set_report.rnum != relay::kReportId;
      if (in.u.set_report.rtype == UHID_FEATURE_REPORT && numbered && options.AnyReport) {
        std::vector<unsigned char> report(size + 1, relay::kReportId);
        std::memcpy(report.data() + 1, in.u.set_report.data, size);
        Apply(board, report.data(), static_cast<unsigned>(report.size()));
        quorvel::lab::WriteBoardState(state, board.State, board.Id);
      } else if (in.u.set_report.rtype == UHID_FEATURE_REPORT && !numbered && size >= 1) {
        Apply(board, in.u.set_report.data, size);
        quorvel::lab::WriteBoardState(state, board.State, board.Id);
        if (withInput && size >= 2 && in.u.set_report.data[1] == kInputCommand) {
          // Queued before the request completes: a reader finds it at once.
          static uhid_event input;
          std::memset(&input, 0, sizeof input);
          input.type = UHID_INPUT2;
          input.u.input2.size = 8;
          for (unsigned char i = 0; i < 8; ++i) {
            input.u.input2.data[i] = i == 0 ? kInputCommand : i;
          }
          quorvel::lab::SendUhid(fd, input);
        }
      } else {
        reply.u.set_report_reply.err = 5;
      }
      quorvel::lab::SendUhid(fd, reply);
    } else if (in.type == UHID_OUTPUT) {
      Log(log, "output", 0, in.u.output.data, in.u.output.size);
    }
  }
}
