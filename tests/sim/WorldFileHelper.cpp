// A process of its own that binds the simulated modules, as the tool does, for the
// world-file tests:
//   helper switch <byte>...       sends one feature report (hexadecimal bytes) to the
//                                 first device
//   helper switch-kill <byte>...  the same, then the process kills itself (SIGKILL)
//   helper switch-exit <byte>...  the same, then exit() without unbinding anything
//   helper switch-save <byte>...  the same, then prints whether the world file is as
//                                 it was before the run ("file unchanged"/"file changed"),
//                                 asks the world to save, and prints it again
//   helper switch-remove <byte>...
//                                 the same, then removes the world file before the
//                                 world is written back
//   helper state                  prints the world as the control functions give it
// Exits 0 when the platform calls succeeded, 1 when one failed, 2 on bad usage.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/Hid.h"
#include "platform/SetupApi.h"
#include "platform/posix/Kernel.h"
#include "sim/SimControl.h"
#include "wintypes/WinTypes.h"

namespace {

using namespace quorvel;

constexpr GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// The first present HID interface's path, found as the layer's scan finds it.
std::u16string FirstPath() {
  const HDEVINFO set = platform::SetupDiGetClassDevsSlot()(&kHidGuid, nullptr, nullptr,
                                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  std::u16string path;
  SP_DEVICE_INTERFACE_DATA interface {};
  interface.cbSize = sizeof interface;
  if (platform::SetupDiEnumDeviceInterfacesSlot()(set, nullptr, &kHidGuid, 0, &interface)) {
    DWORD required = 0;
    platform::SetupDiGetDeviceInterfaceDetailSlot()(set, &interface, nullptr, 0, &required,
                                                    nullptr);
    std::vector<std::uint8_t> buffer(required, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (platform::SetupDiGetDeviceInterfaceDetailSlot()(set, &interface, detail, required, nullptr,
                                                        nullptr)) {
      path = reinterpret_cast<const char16_t*>(buffer.data() + 4);
    }
  }
  platform::SetupDiDestroyDeviceInfoListSlot()(set);
  return path;
}

int Switch(std::vector<std::uint8_t> report) {
  const auto path = FirstPath();
  if (path.empty()) {
    return 1;
  }
  const HANDLE handle =
      CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return 1;
  }
  const bool ok =
      platform::HidD_SetFeature(handle, report.data(), static_cast<ULONG>(report.size())) != 0;
  CloseHandle(handle);
  return ok ? 0 : 1;
}

std::string WorldFileText() {
  const char* path = std::getenv("QUORVEL_SIM_WORLD");
  std::ifstream in(path != nullptr ? path : "", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string before = WorldFileText();
  platform::SetModuleDirectoryForTest(QUORVEL_SIM_DIR);
  if (!platform::BindSetupApi() || !platform::BindHid()) {
    std::fprintf(stderr, "cannot bind the simulated modules\n");
    return 1;
  }
  int status = 2;
  const std::string command = argc > 1 ? argv[1] : "";
  if (command.rfind("switch", 0) == 0 && argc > 2) {
    std::vector<std::uint8_t> report;
    for (int i = 2; i < argc; ++i) {
      report.push_back(static_cast<std::uint8_t>(std::strtoul(argv[i], nullptr, 16)));
    }
    status = Switch(std::move(report));
    auto printFile = [&before] {
      std::printf("%s\n", WorldFileText() == before ? "file unchanged" : "file changed");
      std::fflush(stdout);
    };
    if (command == "switch-kill") {
      printFile();
      kill(getpid(), SIGKILL);
    } else if (command == "switch-exit") {
      std::exit(status);
    } else if (command == "switch-save") {
      printFile();
      sim::TSimControl control;
      control.Save();
      printFile();
    } else if (command == "switch-remove") {
      std::remove(std::getenv("QUORVEL_SIM_WORLD"));
    } else if (command != "switch") {
      status = 2;
    }
  } else if (command == "state" && argc == 2) {
    sim::TSimControl control;
    std::printf("%s\n", control.World().dump().c_str());
    status = 0;
  }
  platform::UnbindHid();
  platform::UnbindSetupApi();
  return status;
}
