// Which report IDs a device's report descriptor declares for each report type, and the
// byte length the platform requires for each type: the longest report of that type,
// report-ID byte included (as HIDP_CAPS gives it). A simulated device is one interface,
// that is the first top-level collection of its descriptor.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>

namespace quorvel::sim {

struct TReportLayout {
  struct TReports {
    std::set<std::uint8_t> Ids;  // 0 alone when the descriptor declares no report IDs
    std::uint16_t ByteLength = 0;
    bool Declares(std::uint8_t id) const { return Ids.count(id) != 0; }
  };
  TReports Input, Output, Feature;
};

// nullopt and the parser's reason for a descriptor it rejects. An empty descriptor
// declares no reports.
std::optional<TReportLayout> LayoutFromDescriptor(std::span<const std::uint8_t> descriptor,
                                                  std::string* reason = nullptr);

}  // namespace quorvel::sim
