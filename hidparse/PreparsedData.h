// The flat preparsed-data block: a checked header followed by the arrays of one
// top-level collection. The HidP_ functions read it through a view.
#pragma once

#include <cstdint>
#include <span>

#include "hidparse/Model.h"
#include "wintypes/WinTypes.h"

namespace quorvel::hidparse {

struct TPreparsedView {
  uint16_t Usage = 0, UsagePage = 0;
  std::array<std::span<const TCap>, kReportKinds> Caps;
  std::array<uint16_t, kReportKinds> DataIndices{};
  std::array<uint16_t, kReportKinds> ByteLengths{};
  std::span<const TLinkNode> Nodes;
  std::span<const TUnknownGlobal> Unknowns;
  std::span<const TReportSpec> Reports;

  bool HasReport(TReportKind kind, uint8_t reportId) const;
};

// The view of a block made by MakePreparsedData; false for anything else.
bool ViewPreparsedData(PHIDP_PREPARSED_DATA data, TPreparsedView& view);

}  // namespace quorvel::hidparse
