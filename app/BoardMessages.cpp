#include "app/BoardMessages.h"

#include "app/NumberConversion.h"

namespace quorvel::app {

std::u16string StatusLine(relay::TRelayMask State) {
  return u"\r\n    Status: " + StateToHex(State);
}

void WriteAccessDenied(Console& Output) {
  Output.WriteLine(
      u"    The device exists but could not be opened for writing; see the README on "
      u"permissions.");
}

}  // namespace quorvel::app
