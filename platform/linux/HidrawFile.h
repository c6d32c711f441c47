// The files behind handles on hidraw nodes. They read input reports as the platform's
// ReadFile gives them: the report ID in byte 0 (0 for a device without report IDs, where
// hidraw gives the data alone) and always the collection's input report length, padded
// with zeros; and, as the platform's WriteFile, they take an output report only at the
// collection's output report length. Everything else is as for any device node.
#pragma once

#include <memory>
#include <string>

#include "platform/PlatformTypes.h"
#include "platform/posix/FileProvider.h"

namespace quorvel::hidraw {

// How a device's reports are laid out for the caller; a length of 0 passes reads or
// writes through.
struct TReportShape {
  bool Numbered = false;
  ULONG Length = 0;        // InputReportByteLength, ID byte included
  ULONG OutputLength = 0;  // OutputReportByteLength, ID byte included
};

// Claims the hidraw nodes below the modules' /dev (also through links to them).
class THidrawProvider final : public posix::TFileProvider {
 public:
  bool Claims(std::u16string_view path) const override;
  std::shared_ptr<posix::TFileObject> Open(std::u16string_view path, DWORD desiredAccess,
                                           DWORD shareMode, DWORD flagsAndAttributes,
                                           DWORD& error) override;
};

}  // namespace quorvel::hidraw
