#include "app/BoardSource.h"

#include <string>

#include "trace/Trace.h"
#include "platform/Utf.h"

namespace quorvel::app {

void DiscoveredBoards::CreateController() {
  discovery_.CreateController();
  // Standard error: the tool's output on standard output stays as scripts expect it.
  // Without the platform's modules no device can be found: say why, rather than only that
  // there is no board.
  if (!discovery_.BindingFailure().empty()) {
    trace::WriteErrorLine("ERROR: " + discovery_.BindingFailure());
  }
  for (const std::u16string& path : discovery_.SkippedDevices()) {
    trace::WriteErrorLine("quorvel: skipped a HID device that cannot be identified: " +
                             platform::Utf16ToUtf8(path));
  }
}

}  // namespace quorvel::app
