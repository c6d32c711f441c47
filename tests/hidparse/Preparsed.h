// Test helpers: preparsed data of a fixture, owned, and the caps read back through the
// HidP_ functions as comparable rows.
#pragma once

#include <compare>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "hidparse/HidPExports.h"
#include "hidparse/HidParse.h"

namespace quorvel::hidparse::test {

struct TFreePreparsed {
  void operator()(PHIDP_PREPARSED_DATA data) const { FreePreparsedData(data); }
};
using TPreparsed = std::unique_ptr<std::remove_pointer_t<PHIDP_PREPARSED_DATA>, TFreePreparsed>;

// Fails the calling test when the fixture does not parse.
TPreparsed FixturePreparsed(const std::string& name, std::size_t collection = 0);

struct TCapsRow {
  USAGE Usage, UsagePage;
  USHORT InputLength, OutputLength, FeatureLength, Nodes;
  USHORT InButtons, InValues, InIndices;
  USHORT OutButtons, OutValues, OutIndices;
  USHORT FeatureButtons, FeatureValues, FeatureIndices;
  auto operator<=>(const TCapsRow&) const = default;
};
TCapsRow CapsOf(PHIDP_PREPARSED_DATA data);

// One button or value cap; the value-only columns stay 0 for buttons. For a single usage
// UsageMax and IndexMax are the zero Reserved slots of the platform's record.
struct TCapRow {
  USAGE Page;
  USAGE Usage, UsageMax;
  UCHAR ReportId;
  USHORT Link;
  USHORT Index, IndexMax;
  bool IsAlias;
  USHORT BitSize = 0, ReportCount = 0;
  LONG LogicalMin = 0, LogicalMax = 0;
  auto operator<=>(const TCapRow&) const = default;
};
std::vector<TCapRow> ButtonCaps(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type);
std::vector<TCapRow> ValueCaps(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type);

struct TNodeRow {
  USAGE Usage, Page;
  USHORT Parent, Children, NextSibling, FirstChild;
  ULONG Type;
  bool IsAlias;
  auto operator<=>(const TNodeRow&) const = default;
};
std::vector<TNodeRow> LinkNodes(PHIDP_PREPARSED_DATA data);

void PrintTo(const TCapsRow& row, std::ostream* out);
void PrintTo(const TCapRow& row, std::ostream* out);
void PrintTo(const TNodeRow& row, std::ostream* out);

}  // namespace quorvel::hidparse::test
