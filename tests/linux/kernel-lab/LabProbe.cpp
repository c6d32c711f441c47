// Runs in the lab's guest: binds the project's Linux modules the way the HID layer does,
// puts a relay board on the kernel's HID stack (the uhid emulator, started as a child), and
// checks enumeration, identity, strings and the feature protocol through the modules, byte
// for byte against the emulator's log; then unplugs the board and checks that the modules
// notice. Prints one "ok"/"not ok" line per check and a closing count.
//
// Usage: quorvel_kernel_lab_probe UHID-RELAY-BOARD-PROGRAM [USBIP-RELAY-BOARD-PROGRAM]
// With the second program the same is done for a board on the real USB HID driver (usbhid),
// attached through USB/IP.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Hid.h"
#include "platform/SetupApi.h"
#include "platform/Utf.h"
#include "platform/posix/Kernel.h"

namespace platform = quorvel::platform;

namespace {

const GUID kHidGuid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr char kLog[] = "/tmp/uhid-relay-board.log";
constexpr char kUsbLog[] = "/tmp/usbip-relay-board.log";
constexpr char kBoardId[] = "QLAB1";
constexpr char kUsbBoardId[] = "QUSBR";

int gPassed = 0;
int gFailed = 0;

void Check(bool ok, const std::string& what, const std::string& detail = {}) {
  ++(ok ? gPassed : gFailed);
  std::printf("%s %s%s%s\n", ok ? "ok" : "not ok", what.c_str(), detail.empty() ? "" : " - ",
              detail.c_str());
  std::fflush(stdout);
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
  std::string text;
  char part[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(part, sizeof part, i == 0 ? "%02x" : " %02x", bytes[i]);
    text += part;
  }
  return text;
}

std::string LastLogLine(const char* log = kLog) {
  std::ifstream in(log);
  std::string line;
  std::string last;
  while (std::getline(in, line)) {
    last = line;
  }
  return last;
}

bool WaitFor(const char* path, bool present) {
  for (int i = 0; i < 100; ++i) {
    struct stat info {};
    if ((::stat(path, &info) == 0) == present) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

struct TScanned {
  std::u16string Path;
  std::vector<std::u16string> HardwareIds;
  std::u16string Location;
  DWORD DevInst = 0;
};

std::vector<TScanned> Scan() {
  std::vector<TScanned> found;
  HDEVINFO set = platform::SetupDiGetClassDevsSlot()(&kHidGuid, nullptr, nullptr,
                                                     DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    return found;
  }
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!platform::SetupDiEnumDeviceInterfacesSlot()(set, nullptr, &kHidGuid, index, &data)) {
      break;
    }
    DWORD required = 0;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    platform::SetupDiGetDeviceInterfaceDetailSlot()(set, &data, nullptr, 0, &required, &info);
    std::vector<unsigned char> buffer(required, 0);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!platform::SetupDiGetDeviceInterfaceDetailSlot()(set, &data, detail, required, nullptr,
                                                         &info)) {
      continue;
    }
    TScanned scanned;
    scanned.Path = reinterpret_cast<const char16_t*>(buffer.data() + 4);
    scanned.DevInst = info.DevInst;
    DWORD size = 0;
    platform::SetupDiGetDeviceRegistryPropertySlot()(set, &info, SPDRP_HARDWAREID, nullptr, nullptr,
                                                     0, &size);
    std::vector<char16_t> ids(size / 2 + 2, 0);
    platform::SetupDiGetDeviceRegistryPropertySlot()(
        set, &info, SPDRP_HARDWAREID, nullptr, reinterpret_cast<PBYTE>(ids.data()), size, &size);
    for (const char16_t* at = ids.data(); *at != 0;
         at += std::char_traits<char16_t>::length(at) + 1) {
      scanned.HardwareIds.emplace_back(at);
    }
    std::array<char16_t, 256> location{};
    platform::SetupDiGetDeviceRegistryPropertySlot()(
        set, &info, SPDRP_LOCATION_INFORMATION, nullptr, reinterpret_cast<PBYTE>(location.data()),
        sizeof location - sizeof(char16_t), nullptr);
    scanned.Location = location.data();
    found.push_back(std::move(scanned));
  }
  platform::SetupDiDestroyDeviceInfoListSlot()(set);
  return found;
}

HANDLE Open(const std::u16string& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

std::string Utf8(const std::u16string& text) {
  return platform::Utf16ToUtf8(text);
}

// One feature exchange: what the call returned, its error and the buffer after it.
struct TExchange {
  bool Ok;
  DWORD Error;
  std::vector<unsigned char> Buffer;
};

TExchange SetFeature(HANDLE handle, std::vector<unsigned char> report) {
  const bool ok =
      platform::HidD_SetFeature(handle, report.data(), static_cast<ULONG>(report.size())) != FALSE;
  return {ok, ok ? ERROR_SUCCESS : GetLastError(), report};
}

TExchange GetFeature(HANDLE handle, unsigned char reportId, std::size_t length) {
  std::vector<unsigned char> report(length, 0xEE);
  report[0] = reportId;
  const bool ok =
      platform::HidD_GetFeature(handle, report.data(), static_cast<ULONG>(report.size())) != FALSE;
  return {ok, ok ? ERROR_SUCCESS : GetLastError(), report};
}

void CheckBoard(const TScanned& board) {
  // Identity with access 0: the kernel is not asked, sysfs answers.
  HANDLE identity = Open(board.Path, 0);
  Check(identity != INVALID_HANDLE_VALUE, "open with access 0");
  HIDD_ATTRIBUTES attributes{sizeof(HIDD_ATTRIBUTES), 0, 0, 0};
  const bool gotAttributes = platform::HidD_GetAttributes(identity, &attributes) != FALSE;
  Check(gotAttributes && attributes.VendorID == 0x16C0 && attributes.ProductID == 0x05DF,
        "attributes through access 0");
  std::array<char16_t, 254> text{};
  const bool gotProduct = platform::HidD_GetProductString(identity, text.data(), 508) != FALSE;
  Check(gotProduct && std::u16string(text.data()) == u"USBRelay2", "product string",
        Utf8(text.data()));
  text.fill(0);
  Check(!platform::HidD_GetSerialNumberString(identity, text.data(), 508), "no serial number");
  text.fill(0xFFFF);
  Check(platform::HidD_GetIndexedString(identity, 0, text.data(), 508) && text[0] == 0x0409 &&
            text[1] == 0 && text[2] == 0xFFFF,
        "language list");
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  HIDP_CAPS caps{};
  const bool gotCaps = platform::HidD_GetPreparsedData(identity, &preparsed) &&
                       platform::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  Check(gotCaps && caps.UsagePage == 0xFF00 && caps.FeatureReportByteLength == 9 &&
            caps.InputReportByteLength == 9,
        "capabilities from the report descriptor");
  if (preparsed != nullptr) {
    platform::HidD_FreePreparsedData(preparsed);
  }
  const TExchange denied = GetFeature(identity, 0, 9);
  Check(!denied.Ok && denied.Error == ERROR_ACCESS_DENIED, "no reports through access 0",
        std::to_string(denied.Error));
  CloseHandle(identity);

  HANDLE device = Open(board.Path, GENERIC_READ | GENERIC_WRITE);
  Check(device != INVALID_HANDLE_VALUE, "open for reading and writing",
        std::to_string(GetLastError()));
  attributes = {sizeof(HIDD_ATTRIBUTES), 0, 0, 0};
  Check(platform::HidD_GetAttributes(device, &attributes) && attributes.VendorID == 0x16C0 &&
            attributes.ProductID == 0x05DF,
        "attributes from the kernel");

  TExchange state = GetFeature(device, 0, 9);
  Check(state.Ok && state.Buffer[0] == 0 && std::memcmp(&state.Buffer[1], kBoardId, 5) == 0 &&
            state.Buffer[8] == 0,
        "get feature: board ID and state", Hex(state.Buffer.data(), state.Buffer.size()));

  struct TCommand {
    const char* What;
    std::vector<unsigned char> Report;
    std::string Wire;  // the emulator's log line
    unsigned char State;
  } commands[] = {
      {"relay 1 on", {0, 0xFF, 1, 0, 0, 0, 0, 0, 0}, "set 0: 00 ff 01 00 00 00 00 00 00", 0x01},
      {"relay 2 on", {0, 0xFF, 2, 0, 0, 0, 0, 0, 0}, "set 0: 00 ff 02 00 00 00 00 00 00", 0x03},
      {"relay 1 off", {0, 0xFD, 1, 0, 0, 0, 0, 0, 0}, "set 0: 00 fd 01 00 00 00 00 00 00", 0x02},
      // A longer buffer is cut to the report's length on the wire.
      {"all off, long buffer",
       {0, 0xFC, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB, 0xCC},
       "set 0: 00 fc 00 00 00 00 00 00 00",
       0x00},
      {"all on", {0, 0xFE, 0, 0, 0, 0, 0, 0, 0}, "set 0: 00 fe 00 00 00 00 00 00 00", 0x03},
  };
  for (const TCommand& command : commands) {
    const TExchange sent = SetFeature(device, command.Report);
    Check(sent.Ok && LastLogLine() == command.Wire, std::string("set feature: ") + command.What,
          LastLogLine());
    state = GetFeature(device, 0, 9);
    Check(state.Ok && state.Buffer[8] == command.State, std::string("state after ") + command.What,
          Hex(state.Buffer.data(), 9));
  }

  const std::string before = LastLogLine();
  const TExchange shortReport = SetFeature(device, {0, 0xFC, 0, 0});
  Check(!shortReport.Ok && shortReport.Error == ERROR_INVALID_PARAMETER && LastLogLine() == before,
        "a buffer shorter than the report is refused before the wire");
  // Report 1 is not declared: the request reaches the device, which fails it.
  const TExchange undeclared = GetFeature(device, 1, 9);
  Check(!undeclared.Ok && undeclared.Error == ERROR_GEN_FAILURE && LastLogLine() == "get 1:",
        "undeclared report passes to the device and fails", std::to_string(undeclared.Error));
  Check(platform::HidD_FlushQueue(device) != FALSE, "flush the input queue");
  ULONG buffers = 0;
  Check(platform::HidD_GetNumInputBuffers(device, &buffers) && buffers == 64, "input buffers");

  // An input report of a device without report IDs: hidraw gives the 8 bytes alone, the
  // platform's ReadFile gives the 0 ID byte first.
  Check(platform::HidD_FlushQueue(device) != FALSE, "flush before the input report");
  SetFeature(device, {0, 0xF0, 0, 0, 0, 0, 0, 0, 0});
  std::array<unsigned char, 12> input{};
  input.fill(0xEE);
  DWORD done = 0;
  const bool read =
      ReadFile(device, input.data(), static_cast<DWORD>(input.size()), &done, nullptr) != FALSE;
  const std::array<unsigned char, 9> expected{0x00, 0xF0, 1, 2, 3, 4, 5, 6, 7};
  Check(read && done == 9 && std::memcmp(input.data(), expected.data(), 9) == 0,
        "input report: ID byte first, full length", Hex(input.data(), done));

  // How long the layer's calls take on a real kernel, for the record (not a check).
  const auto started = std::chrono::steady_clock::now();
  constexpr int kRounds = 20;
  for (int i = 0; i < kRounds; ++i) {
    SetFeature(device, {0, 0xFC, 0, 0, 0, 0, 0, 0, 0});
    GetFeature(device, 0, 9);
  }
  const auto exchanged = std::chrono::steady_clock::now();
  Scan();
  const auto scanned = std::chrono::steady_clock::now();
  using TMicroseconds = std::chrono::duration<double, std::micro>;
  std::printf("# set+get feature: %.0f us per pair; scan: %.0f us\n",
              TMicroseconds(exchanged - started).count() / kRounds,
              TMicroseconds(scanned - exchanged).count());

  // The same board again keeps its instance number; a new one will not.
  const auto again = Scan();
  Check(again.size() == 1 && again[0].DevInst == board.DevInst, "same device, same instance");
  CloseHandle(device);
}

// Starts a board program and waits for its "ready" and for the node to appear.
pid_t Plug(const std::vector<const char*>& command) {
  int ready[2];
  if (::pipe(ready) != 0) {
    return -1;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(ready[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const char* arg : command) {
      args.push_back(const_cast<char*>(arg));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(ready[1]);
  char line[16] = {};
  const bool started = ::read(ready[0], line, sizeof line - 1) > 0;
  ::close(ready[0]);
  Check(started && std::strncmp(line, "ready", 5) == 0 && WaitFor("/dev/hidraw0", true),
        std::string(command[0]) + " plugged in");
  return child;
}

void Unplug(pid_t board, HANDLE held) {
  ::kill(board, SIGTERM);
  ::waitpid(board, nullptr, 0);
  Check(WaitFor("/dev/hidraw0", false), "board unplugged");
  const TExchange gone = GetFeature(held, 0, 9);
  Check(!gone.Ok && gone.Error == ERROR_DEVICE_NOT_CONNECTED, "vanished device: not connected",
        std::to_string(gone.Error));
  CloseHandle(held);
  Check(Scan().empty(), "scan after unplug is empty");
}

// The real USB HID driver: strings from the USB device, its version, languages and other
// strings from the device itself, and the report ID stripped on the wire.
void CheckUsbBoard(const char* program, DWORD previousInstance) {
  const pid_t board = Plug({program, kUsbBoardId, kUsbLog});
  const auto found = Scan();
  Check(found.size() == 1, "one USB HID interface");
  if (found.size() != 1) {
    ::kill(board, SIGTERM);
    return;
  }
  Check(found[0].HardwareIds.size() == 4 &&
            found[0].HardwareIds[0] == u"HID\\VID_16C0&PID_05DF&REV_0100",
        "USB hardware ID with bcdDevice", Utf8(found[0].HardwareIds[0]));
  Check(found[0].Location == u"usb-vhci_hcd.0-1/input0", "location is HID_PHYS",
        Utf8(found[0].Location));
  Check(found[0].DevInst > previousInstance, "another device, another instance");

  HANDLE identity = Open(found[0].Path, 0);
  HIDD_ATTRIBUTES attributes{sizeof(HIDD_ATTRIBUTES), 0, 0, 0};
  Check(platform::HidD_GetAttributes(identity, &attributes) && attributes.VersionNumber == 0x0100,
        "version from bcdDevice");
  const struct {
    const char* What;
    std::function<BOOLEAN(char16_t*)> Call;
    std::u16string Expected;
  } strings[] = {
      {"manufacturer",
       [&](char16_t* b) { return platform::HidD_GetManufacturerString(identity, b, 508); },
       u"www.dcttech.com"},
      // HID_NAME is "www.dcttech.com USBRelay8": never the product of a USB device.
      {"product", [&](char16_t* b) { return platform::HidD_GetProductString(identity, b, 508); },
       u"USBRelay8"},
      {"serial",
       [&](char16_t* b) { return platform::HidD_GetSerialNumberString(identity, b, 508); },
       u"QUSB1"},
      {"languages from the device",
       [&](char16_t* b) { return platform::HidD_GetIndexedString(identity, 0, b, 508); },
       std::u16string{char16_t{0x0409}, char16_t{0x0407}}},
      {"string 3 from sysfs",
       [&](char16_t* b) { return platform::HidD_GetIndexedString(identity, 3, b, 508); }, u"QUSB1"},
      {"string 4 from the device",
       [&](char16_t* b) { return platform::HidD_GetIndexedString(identity, 4, b, 508); },
       u"Lab string four"},
  };
  for (const auto& string : strings) {
    std::array<char16_t, 254> text{};
    Check(string.Call(text.data()) && std::u16string(text.data()) == string.Expected,
          std::string("USB ") + string.What, Utf8(text.data()));
  }
  CloseHandle(identity);

  HANDLE device = Open(found[0].Path, GENERIC_READ | GENERIC_WRITE);
  TExchange state = GetFeature(device, 0, 9);
  Check(state.Ok && state.Buffer[0] == 0 && std::memcmp(&state.Buffer[1], kUsbBoardId, 5) == 0,
        "USB get feature: ID byte first, then the board's 8 bytes",
        Hex(state.Buffer.data(), state.Buffer.size()));
  const TExchange on = SetFeature(device, {0, 0xFF, 3, 0, 0, 0, 0, 0, 0});
  Check(on.Ok && LastLogLine(kUsbLog) == "set 0300: ff 03 00 00 00 00 00 00",
        "USB set feature: 8 bytes on the wire", LastLogLine(kUsbLog));
  state = GetFeature(device, 0, 9);
  Check(state.Ok && state.Buffer[8] == 0x04, "USB state after relay 3 on",
        Hex(state.Buffer.data(), 9));
  const TExchange stalled = GetFeature(device, 1, 9);
  Check(!stalled.Ok && stalled.Error == ERROR_GEN_FAILURE && LastLogLine(kUsbLog) == "get 0301:",
        "USB report 1: the device stalls", std::to_string(stalled.Error));
  Unplug(board, device);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s UHID-RELAY-BOARD-PROGRAM [USBIP-RELAY-BOARD-PROGRAM]\n",
                 argv[0]);
    return 2;
  }
  const bool bound = platform::BindSetupApi() && platform::BindHid();
  Check(bound, "bind the two modules");
  if (!bound) {
    std::printf("%d passed, %d failed\n", gPassed, gFailed);
    return 1;
  }
  Check(Scan().empty(), "no HID device before the board");

  const pid_t board = Plug({argv[1], "USBRelay2", "2", kBoardId, kLog, "input"});

  const auto found = Scan();
  Check(found.size() == 1 && found[0].Path == u"/dev/hidraw0", "one HID interface: /dev/hidraw0",
        found.empty() ? "none" : Utf8(found[0].Path));
  if (found.size() == 1) {
    Check(!found[0].HardwareIds.empty() &&
              found[0].HardwareIds[0] == u"HID\\VID_16C0&PID_05DF&REV_0000",
          "hardware ID", found[0].HardwareIds.empty() ? "" : Utf8(found[0].HardwareIds[0]));
    CheckBoard(found[0]);
  }

  // Unplug while a handle is open: calls fail as for a vanished device.
  const DWORD instance = found.empty() ? 0 : found[0].DevInst;
  Unplug(board,
         found.empty() ? INVALID_HANDLE_VALUE : Open(found[0].Path, GENERIC_READ | GENERIC_WRITE));
  if (argc == 3) {
    CheckUsbBoard(argv[2], instance);
  }

  platform::UnbindHid();
  platform::UnbindSetupApi();
  std::printf("%d passed, %d failed\n", gPassed, gFailed);
  return gFailed == 0 ? 0 : 1;
}
