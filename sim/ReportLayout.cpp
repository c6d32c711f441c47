#include "sim/ReportLayout.h"

#include "hidparse/HidParse.h"

namespace quorvel::sim {

std::optional<TReportLayout> LayoutFromDescriptor(std::span<const std::uint8_t> descriptor,
                                                  std::string* reason) {
  TReportLayout layout;
  if (descriptor.empty()) {
    return layout;
  }
  const auto parsed = hidparse::ParseReportDescriptor(descriptor);
  if (!parsed) {
    if (reason != nullptr) {
      *reason = parsed.Error.Message + " (byte " + std::to_string(parsed.Error.Offset) + ")";
    }
    return std::nullopt;
  }
  if (parsed.Descriptor->Collections.empty()) {
    if (reason != nullptr) {
      *reason = "no top-level collection";
    }
    return std::nullopt;
  }
  for (const auto& report : parsed.Descriptor->Collections.front().Reports) {
    auto& reports = report.Kind == hidparse::TReportKind::Input    ? layout.Input
                    : report.Kind == hidparse::TReportKind::Output ? layout.Output
                                                                   : layout.Feature;
    reports.Ids.insert(report.ReportId);
    if (report.ByteLength > reports.ByteLength) {
      reports.ByteLength = report.ByteLength;
    }
  }
  return layout;
}

}  // namespace quorvel::sim
