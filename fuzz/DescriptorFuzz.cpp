// Fuzz target for the report-descriptor parser and the HidP_ functions over what it
// accepts. The input is copied to a buffer of its exact size, so that AddressSanitizer
// catches a read one byte past the descriptor; report buffers are built the same way.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "hidparse/HidPExports.h"
#include "hidparse/HidParse.h"

namespace {

using quorvel::hidparse::FreePreparsedData;
using quorvel::hidparse::MakePreparsedData;
using quorvel::hidparse::ParseReportDescriptor;

// A report of exactly `length` bytes, filled from the fuzz input.
std::vector<char> ReportFrom(const std::vector<uint8_t>& input, std::size_t length,
                             uint8_t reportId) {
  std::vector<char> report(length);
  for (std::size_t i = 0; i < length; ++i) {
    report[i] = input.empty() ? char{0} : static_cast<char>(input[(i * 7) % input.size()]);
  }
  if (length > 0) {
    report[0] = static_cast<char>(reportId);
  }
  return report;
}

void ExerciseReport(PHIDP_PREPARSED_DATA pp, HIDP_REPORT_TYPE type, std::size_t length,
                    const std::vector<uint8_t>& input, const std::vector<HIDP_VALUE_CAPS>& values,
                    const std::vector<HIDP_BUTTON_CAPS>& buttons) {
  std::vector<uint8_t> ids = {0};
  for (const auto& cap : values)
    ids.push_back(cap.ReportID);
  for (const auto& cap : buttons)
    ids.push_back(cap.ReportID);
  for (const uint8_t id : ids) {
    std::vector<char> report = ReportFrom(input, length, id);
    const auto reportLength = static_cast<ULONG>(report.size());
    char* data = report.data();

    std::vector<USAGE_AND_PAGE> pressed(HidP_MaxUsageListLength(type, 0, pp) + 1);
    ULONG count = static_cast<ULONG>(pressed.size());
    HidP_GetUsagesEx(type, 0, pressed.data(), &count, pp, data, reportLength);
    std::vector<HIDP_DATA> list(HidP_MaxDataListLength(type, pp) + 1);
    ULONG entries = static_cast<ULONG>(list.size());
    if (HidP_GetData(type, list.data(), &entries, pp, data, reportLength) == HIDP_STATUS_SUCCESS) {
      HidP_SetData(type, list.data(), &entries, pp, data, reportLength);
    }
    for (const auto& cap : buttons) {
      USAGE usages[4] = {cap.Range.UsageMin, cap.Range.UsageMax, 1, 0};
      ULONG n = 4;
      HidP_GetUsages(type, cap.UsagePage, cap.LinkCollection, usages, &n, pp, data, reportLength);
      n = 3;
      HidP_SetUsages(type, cap.UsagePage, 0, usages, &n, pp, data, reportLength);
      n = 3;
      HidP_UnsetUsages(type, cap.UsagePage, 0, usages, &n, pp, data, reportLength);
    }
    for (const auto& cap : values) {
      const USAGE usage = cap.Range.UsageMin;
      ULONG raw = 0;
      LONG scaled = 0;
      HidP_GetUsageValue(type, cap.UsagePage, 0, usage, &raw, pp, data, reportLength);
      HidP_GetScaledUsageValue(type, cap.UsagePage, 0, usage, &scaled, pp, data, reportLength);
      HidP_SetScaledUsageValue(type, cap.UsagePage, 0, usage, scaled + 1, pp, data, reportLength);
      HidP_SetUsageValue(type, cap.UsagePage, 0, usage, raw ^ 0x5A5A5A5Au, pp, data, reportLength);
      std::vector<char> array(static_cast<std::size_t>(cap.BitSize) * cap.ReportCount / 8 + 1);
      const auto arrayLength = static_cast<USHORT>(array.size() > 0xFFFF ? 0xFFFF : array.size());
      HidP_GetUsageValueArray(type, cap.UsagePage, 0, usage, array.data(), arrayLength, pp, data,
                              reportLength);
      HidP_SetUsageValueArray(type, cap.UsagePage, 0, usage, array.data(), arrayLength, pp, data,
                              reportLength);
      unsigned char attributes[64];
      ULONG attributesLength = sizeof attributes;
      HidP_GetExtendedAttributes(type, cap.Range.DataIndexMin, pp,
                                 reinterpret_cast<PHIDP_EXTENDED_ATTRIBUTES>(attributes),
                                 &attributesLength);
    }
    HidP_InitializeReportForID(type, id, pp, data, reportLength);
  }
}

void Exercise(PHIDP_PREPARSED_DATA pp, const std::vector<uint8_t>& input) {
  HIDP_CAPS caps{};
  if (HidP_GetCaps(pp, &caps) != HIDP_STATUS_SUCCESS) {
    __builtin_trap();  // a block we just made must be accepted
  }
  std::vector<HIDP_LINK_COLLECTION_NODE> nodes(caps.NumberLinkCollectionNodes);
  ULONG nodeCount = static_cast<ULONG>(nodes.size());
  HidP_GetLinkCollectionNodes(nodes.data(), &nodeCount, pp);
  const USHORT lengths[] = {caps.InputReportByteLength, caps.OutputReportByteLength,
                            caps.FeatureReportByteLength};
  const USHORT buttonCounts[] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                                 caps.NumberFeatureButtonCaps};
  const USHORT valueCounts[] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                                caps.NumberFeatureValueCaps};
  for (int t = 0; t < 3; ++t) {
    const auto type = static_cast<HIDP_REPORT_TYPE>(t);
    std::vector<HIDP_BUTTON_CAPS> buttons(buttonCounts[t]);
    USHORT n = buttonCounts[t];
    HidP_GetSpecificButtonCaps(type, 0, 0, 0, buttons.data(), &n, pp);
    buttons.resize(n < buttons.size() ? n : buttons.size());
    std::vector<HIDP_VALUE_CAPS> values(valueCounts[t]);
    n = valueCounts[t];
    HidP_GetSpecificValueCaps(type, 0, 0, 0, values.data(), &n, pp);
    values.resize(n < values.size() ? n : values.size());
    // Cap the work per input so the fuzzer keeps its pace on descriptors with many caps.
    if (buttons.size() > 16)
      buttons.resize(16);
    if (values.size() > 16)
      values.resize(16);
    ExerciseReport(pp, type, lengths[t], input, values, buttons);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::vector<uint8_t> input(data, data + size);
  const auto parsed = ParseReportDescriptor(input);
  if (!parsed) {
    return 0;
  }
  const std::size_t collections = parsed.Descriptor->Collections.size();
  for (std::size_t c = 0; c < collections && c < 4; ++c) {
    PHIDP_PREPARSED_DATA pp = MakePreparsedData(parsed.Descriptor->Collections[c]);
    Exercise(pp, input);
    if (!FreePreparsedData(pp)) {
      __builtin_trap();
    }
  }
  return 0;
}
