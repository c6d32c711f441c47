// Prints the distinct exports the device-installation binding and the HID
// binding look up, one per line, in table order: diff it against
// `nm -D --defined-only` of a module to see what the module lacks.
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "platform/Hid.h"
#include "platform/SetupApi.h"

namespace {

template <typename CountFn, typename ExportFn>
void PrintDistinct(CountFn count, ExportFn exportOf) {
  std::set<std::string_view> printed;
  for (std::size_t i = 0; i < count(); ++i) {
    if (printed.insert(exportOf(i)).second) {
      const std::string_view name = exportOf(i);
      std::fwrite(name.data(), 1, name.size(), stdout);
      std::fputc('\n', stdout);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvel::platform;
  const std::string which = argc > 1 ? argv[1] : "";
  if (which != "" && which != "setupapi" && which != "hid") {
    std::fprintf(stderr, "usage: %s [setupapi|hid]\n", argv[0]);
    return 2;
  }
  if (which != "hid") {
    PrintDistinct(SetupApiSlotCount, SetupApiSlotExport);
  }
  if (which != "setupapi") {
    PrintDistinct(HidSlotCount, HidSlotExport);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
