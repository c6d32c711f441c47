// A low-speed USB HID relay board attached to the guest kernel through USB/IP (vhci_hcd),
// so that usbhid and hid-generic bind it as they bind a real board: device, configuration,
// interface, HID and endpoint descriptors, strings, the report descriptor, and GET_REPORT /
// SET_REPORT on the control endpoint. The interrupt IN endpoint never answers; the kernel's
// unlink of that transfer is answered, or closing the hidraw node would hang.
// Every report request is appended to a log as one line of hex bytes as it was on the wire.
//
// Usage: usbip-relay-board BOARD-ID LOG-FILE [port=N] [unplug-at=N] [product=NAME]
//        [any-report] [state=FILE]
// product=NAME replaces the product string "USBRelay8" (another device on the shared IDs).
// Prints "ready" once attached (to vhci_hcd's port 0, or port=N) and serves the board until
// killed. With unplug-at=N the board is detached when the Nth report request (get or set)
// arrives: the request is logged and left unanswered, the port detached as `usbip detach`
// does, and the board reads what still comes, answering nothing, until the kernel closes
// the connection; then it logs "unplugged" and exits.
// With any-report the board answers a feature request of any report number, as the boards'
// firmware does (it ignores the number).
// With state=FILE the board's relay state and its ID are in FILE (BoardStateFile.h),
// rewritten before a set request is answered.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "relay/RelayProtocol.h"
#include "tests/linux/kernel-lab/BoardStateFile.h"

namespace {

namespace relay = quorvel::relay;

using TBytes = std::vector<uint8_t>;

constexpr uint32_t kCmdSubmit = 1, kCmdUnlink = 2, kRetSubmit = 3, kRetUnlink = 4;
constexpr int32_t kStall = -32;       // -EPIPE
constexpr int32_t kConnReset = -104;  // -ECONNRESET
constexpr unsigned kLowSpeed = 1;

constexpr uint8_t Low(uint16_t value) {
  return static_cast<uint8_t>(value & 0xFF);
}
constexpr uint8_t High(uint16_t value) {
  return static_cast<uint8_t>(value >> 8);
}

const TBytes kReportDescriptor(relay::kReportDescriptor.begin(), relay::kReportDescriptor.end());
const TBytes kDevice = {0x12,
                        0x01,
                        0x10,
                        0x01,
                        0x00,
                        0x00,
                        0x00,
                        0x08,
                        Low(relay::kVendorId),
                        High(relay::kVendorId),
                        Low(relay::kProductId),
                        High(relay::kProductId),
                        Low(relay::kVersion),
                        High(relay::kVersion),
                        0x01,
                        0x02,
                        0x03,
                        0x01};
const TBytes kConfiguration = {0x09,
                               0x02,
                               0x22,
                               0x00,
                               0x01,
                               0x01,
                               0x00,
                               0x80,
                               0x0A,  // 34 bytes, 1 interface, 20 mA
                               0x09,
                               0x04,
                               0x00,
                               0x00,
                               0x01,
                               0x03,
                               0x00,
                               0x00,
                               0x00,  // interface 0: HID
                               0x09,
                               0x21,
                               0x01,
                               0x01,
                               0x00,
                               0x01,
                               0x22,  // HID 1.01, report descriptor:
                               static_cast<uint8_t>(relay::kReportDescriptor.size()),
                               0x00,
                               0x07,
                               0x05,
                               0x81,
                               0x03,
                               0x08,
                               0x00,
                               0x14};  // interrupt IN, 8 bytes, 20 ms
// Two languages, so that a reader of string 0 can be told from the 0x0409 fallback.
const TBytes kLanguages = {0x06, 0x03, 0x09, 0x04, 0x07, 0x04};
const std::string kStrings[] = {"", std::string(relay::kManufacturer),
                                std::string(relay::kProductPrefix) + "8", "QUSB1",
                                "Lab string four"};
constexpr std::size_t kProductIndex = 2;
// The product string served (product=NAME); kStrings' otherwise.
const char* ProductString = kStrings[kProductIndex].c_str();

struct TBoard {
  uint8_t Id[relay::kBoardIdLength];
  uint8_t State = 0;
  int StateFile = -1;  // state=FILE
};

uint32_t Get32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

bool ReadAll(int fd, uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = read(fd, data, size);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) {
        continue;
      }
      return false;
    }
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, data, size);
    if (put <= 0) {
      if (put < 0 && errno == EINTR) {
        continue;
      }
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

void Log(const char* file, const std::string& what, const TBytes& data) {
  FILE* out = std::fopen(file, "a");
  if (out == nullptr) {
    return;
  }
  std::fprintf(out, "%s:", what.c_str());
  for (const uint8_t byte : data) {
    std::fprintf(out, " %02x", byte);
  }
  std::fprintf(out, "\n");
  std::fclose(out);
}

TBytes StringDescriptor(const std::string& text) {
  TBytes descriptor{0, 0x03};
  for (const char c : text) {
    descriptor.push_back(static_cast<uint8_t>(c));
    descriptor.push_back(0);
  }
  descriptor[0] = static_cast<uint8_t>(descriptor.size());
  return descriptor;
}

// The board's commands, in the data bytes as they come on the wire (no report-ID byte).
void Apply(TBoard& board, const TBytes& data) {
  constexpr std::size_t kCommand = relay::DataOffset(relay::kCommandByte);
  constexpr std::size_t kRelay = relay::DataOffset(relay::kRelayByte);
  constexpr std::size_t kNewId = relay::DataOffset(relay::kNewBoardIdByte);
  if (data.size() <= kRelay) {
    return;
  }
  const uint8_t bit = relay::RelayBit(data[kRelay]);
  switch (data[kCommand]) {
    case relay::CmdRelayOn:
      board.State = static_cast<uint8_t>(board.State | bit);
      break;
    case relay::CmdRelayOff:
      board.State = static_cast<uint8_t>(board.State & ~bit);
      break;
    case relay::CmdAllOn:
      board.State = relay::kAllRelays;
      break;
    case relay::CmdAllOff:
      board.State = 0;
      break;
    case relay::CmdSetBoardId:
      if (data.size() >= kNewId + relay::kBoardIdLength) {
        std::memcpy(board.Id, &data[kNewId], relay::kBoardIdLength);
      }
      break;
    default:
      break;
  }
}

bool IsReportRequest(const uint8_t* setup) {
  return (setup[0] == 0xA1 && setup[1] == 0x01) || (setup[0] == 0x21 && setup[1] == 0x09);
}

void LogReportRequest(const uint8_t* setup, const TBytes& out, const char* log) {
  char what[32];
  std::snprintf(what, sizeof what, "%s %04x", setup[1] == 0x01 ? "get" : "set",
                setup[2] | setup[3] << 8u);
  Log(log, what, setup[1] == 0x01 ? TBytes{} : out);
}

// The cable pulled: the port detached, the connection drained until the kernel closes it.
int Unplug(int fd, unsigned port, const char* log) {
  FILE* detach = std::fopen("/sys/devices/platform/vhci_hcd.0/detach", "w");
  if (detach == nullptr || std::fprintf(detach, "%u", port) < 0 || std::fclose(detach) != 0) {
    std::perror("vhci_hcd detach");
    return 1;
  }
  uint8_t ignored[512];
  while (read(fd, ignored, sizeof ignored) > 0) {
  }
  Log(log, "unplugged", {});
  return 0;
}

// A control transfer: status, and for IN transfers the answer.
int32_t Control(TBoard& board, const uint8_t* setup, const TBytes& out, TBytes& in, const char* log,
                bool anyReport) {
  const uint8_t type = setup[0], request = setup[1];
  const unsigned value = setup[2] | setup[3] << 8u;
  const unsigned length = setup[6] | setup[7] << 8u;
  auto answer = [&](const TBytes& data) {
    in.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(
                                               std::min<std::size_t>(data.size(), length)));
    return 0;
  };
  if (type == 0x80 && request == 0x06) {  // GET_DESCRIPTOR
    const unsigned kind = value >> 8, index = value & 0xFF;
    if (kind == 1) {
      return answer(kDevice);
    }
    if (kind == 2) {
      return answer(kConfiguration);
    }
    if (kind == 3 && index == 0) {
      return answer(kLanguages);
    }
    if (kind == 3 && index < sizeof kStrings / sizeof kStrings[0]) {
      return answer(StringDescriptor(index == kProductIndex ? ProductString : kStrings[index]));
    }
    return kStall;
  }
  if (type == 0x81 && request == 0x06 && (value >> 8) == 0x22) {
    return answer(kReportDescriptor);
  }
  if (type == 0x80 && request == 0x00) {  // GET_STATUS
    return answer({0, 0});
  }
  if (type == 0x00 && request == 0x09) {  // SET_CONFIGURATION
    return 0;
  }
  if (type == 0x21 && request == 0x0A) {  // SET_IDLE
    return 0;
  }
  if (type == 0xA1 && request == 0x01) {  // GET_REPORT
    LogReportRequest(setup, out, log);
    if (value != 0x0300 && !(anyReport && value >> 8 == 0x03)) {
      return kStall;  // the board has one feature report, without an ID
    }
    TBytes report(relay::kReportLength - 1, 0);
    std::memcpy(&report[relay::DataOffset(relay::kBoardIdByte)], board.Id, relay::kBoardIdLength);
    report[relay::DataOffset(relay::kStateByte)] = board.State;
    return answer(report);
  }
  if (type == 0x21 && request == 0x09) {  // SET_REPORT
    LogReportRequest(setup, out, log);
    if (value != 0x0300 && !(anyReport && value >> 8 == 0x03)) {
      return kStall;
    }
    Apply(board, out);
    quorvel::lab::WriteBoardState(board.StateFile, board.State, board.Id);
    return 0;
  }
  return kStall;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned port = 0;
  unsigned unplugAt = 0;  // 0: never
  bool anyReport = false;
  const char* stateFile = nullptr;
  bool usable = argc >= 3 && std::strlen(argv[1]) == relay::kBoardIdLength;
  for (int i = 3; usable && i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option.starts_with("port=")) {
      port = static_cast<unsigned>(std::atoi(argv[i] + 5));
    } else if (option.starts_with("product=")) {
      ProductString = argv[i] + 8;
    } else if (option.starts_with("unplug-at=")) {
      unplugAt = static_cast<unsigned>(std::atoi(argv[i] + 10));
      usable = unplugAt > 0;
    } else if (option == "any-report") {
      anyReport = true;
    } else if (option.starts_with("state=")) {
      stateFile = argv[i] + 6;
    } else {
      usable = false;
    }
  }
  if (!usable) {
    std::fprintf(stderr,
                 "usage: %s BOARD-ID(5 chars) LOG-FILE [port=N] [unplug-at=N] [product=NAME] "
                 "[any-report] [state=FILE]\n",
                 argv[0]);
    return 2;
  }
  TBoard board;
  std::memcpy(board.Id, argv[1], relay::kBoardIdLength);
  const char* log = argv[2];
  board.StateFile = quorvel::lab::OpenBoardState(stateFile);
  quorvel::lab::WriteBoardState(board.StateFile, board.State, board.Id);

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
    std::perror("socketpair");
    return 1;
  }
  // vhci_hcd takes the kernel's end: "port sockfd devid speed" (ports 0 to 7 are on the
  // USB 2 hub).
  FILE* attach = std::fopen("/sys/devices/platform/vhci_hcd.0/attach", "w");
  if (attach == nullptr ||
      std::fprintf(attach, "%u %d %u %u", port, pair[1], (1u << 16) | 2u, kLowSpeed) < 0 ||
      std::fclose(attach) != 0) {
    std::perror("vhci_hcd attach");
    return 1;
  }
  close(pair[1]);
  const int fd = pair[0];
  unsigned requests = 0;
  std::printf("ready\n");
  std::fflush(stdout);

  for (;;) {
    uint8_t header[48];
    if (!ReadAll(fd, header, sizeof header)) {
      return 0;
    }
    const uint32_t command = Get32(header), seqnum = Get32(header + 4);
    const uint32_t direction = Get32(header + 12), endpoint = Get32(header + 16);
    uint8_t reply[48] = {};
    Put32(reply + 4, seqnum);
    if (command == kCmdUnlink) {
      // The only transfer left pending is the interrupt IN read: it is cancelled.
      Put32(reply, kRetUnlink);
      Put32(reply + 20, static_cast<uint32_t>(kConnReset));
      if (!WriteAll(fd, reply, sizeof reply)) {
        return 0;
      }
      continue;
    }
    if (command != kCmdSubmit) {
      return 1;
    }
    const uint32_t length = Get32(header + 24);
    TBytes out;
    if (direction == 0 && length > 0) {
      out.resize(length);
      if (!ReadAll(fd, out.data(), out.size())) {
        return 0;
      }
    }
    if (endpoint != 0) {
      continue;  // interrupt IN: the board has nothing to say
    }
    if (IsReportRequest(header + 40) && ++requests == unplugAt) {
      LogReportRequest(header + 40, out, log);
      return Unplug(fd, port, log);
    }
    TBytes in;
    const int32_t status = Control(board, header + 40, out, in, log, anyReport);
    Put32(reply, kRetSubmit);
    Put32(reply + 20, static_cast<uint32_t>(status));
    Put32(reply + 24, static_cast<uint32_t>(direction == 1 ? in.size() : out.size()));
    if (!WriteAll(fd, reply, sizeof reply) ||
        (direction == 1 && !in.empty() && !WriteAll(fd, in.data(), in.size()))) {
      return 0;
    }
  }
}
