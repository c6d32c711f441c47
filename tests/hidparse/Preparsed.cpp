#include "tests/hidparse/Preparsed.h"

#include <gtest/gtest.h>

#include "tests/hidparse/DescriptorFile.h"

namespace quorvel::hidparse::test {

TPreparsed FixturePreparsed(const std::string& name, std::size_t collection) {
  const auto bytes = LoadDescriptor(FixtureDir("descriptors") / name);
  const TParseResult parsed = ParseReportDescriptor(bytes);
  EXPECT_TRUE(parsed) << name << ": " << parsed.Error.Message;
  TPreparsed data(MakePreparsedData(bytes, collection));
  EXPECT_NE(data, nullptr) << name << ", collection " << collection;
  return data;
}

TCapsRow CapsOf(PHIDP_PREPARSED_DATA data) {
  HIDP_CAPS c{};
  EXPECT_EQ(HidP_GetCaps(data, &c), HIDP_STATUS_SUCCESS);
  return {c.Usage,
          c.UsagePage,
          c.InputReportByteLength,
          c.OutputReportByteLength,
          c.FeatureReportByteLength,
          c.NumberLinkCollectionNodes,
          c.NumberInputButtonCaps,
          c.NumberInputValueCaps,
          c.NumberInputDataIndices,
          c.NumberOutputButtonCaps,
          c.NumberOutputValueCaps,
          c.NumberOutputDataIndices,
          c.NumberFeatureButtonCaps,
          c.NumberFeatureValueCaps,
          c.NumberFeatureDataIndices};
}

namespace {
template <typename Record>
TCapRow CommonRow(const Record& r) {
  return {r.UsagePage,      r.Range.UsageMin,     r.Range.UsageMax,     r.ReportID,
          r.LinkCollection, r.Range.DataIndexMin, r.Range.DataIndexMax, r.IsAlias != 0};
}
USHORT Count(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type, bool buttons) {
  const TCapsRow caps = CapsOf(data);
  const USHORT counts[3][2] = {{caps.InButtons, caps.InValues},
                               {caps.OutButtons, caps.OutValues},
                               {caps.FeatureButtons, caps.FeatureValues}};
  return counts[type][buttons ? 0 : 1];
}
}  // namespace

std::vector<TCapRow> ButtonCaps(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type) {
  USHORT length = Count(data, type, true);
  std::vector<HIDP_BUTTON_CAPS> caps(length);
  const NTSTATUS status = HidP_GetSpecificButtonCaps(type, 0, 0, 0, caps.data(), &length, data);
  EXPECT_EQ(status, length == 0 ? HIDP_STATUS_USAGE_NOT_FOUND : HIDP_STATUS_SUCCESS);
  std::vector<TCapRow> rows;
  for (USHORT i = 0; i < length; ++i) {
    rows.push_back(CommonRow(caps[i]));
  }
  return rows;
}

std::vector<TCapRow> ValueCaps(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type) {
  USHORT length = Count(data, type, false);
  std::vector<HIDP_VALUE_CAPS> caps(length);
  const NTSTATUS status = HidP_GetSpecificValueCaps(type, 0, 0, 0, caps.data(), &length, data);
  EXPECT_EQ(status, length == 0 ? HIDP_STATUS_USAGE_NOT_FOUND : HIDP_STATUS_SUCCESS);
  std::vector<TCapRow> rows;
  for (USHORT i = 0; i < length; ++i) {
    TCapRow row = CommonRow(caps[i]);
    row.BitSize = caps[i].BitSize;
    row.ReportCount = caps[i].ReportCount;
    row.LogicalMin = caps[i].LogicalMin;
    row.LogicalMax = caps[i].LogicalMax;
    rows.push_back(row);
  }
  return rows;
}

std::vector<TNodeRow> LinkNodes(PHIDP_PREPARSED_DATA data) {
  ULONG length = CapsOf(data).Nodes;
  std::vector<HIDP_LINK_COLLECTION_NODE> nodes(length);
  EXPECT_EQ(HidP_GetLinkCollectionNodes(nodes.data(), &length, data), HIDP_STATUS_SUCCESS);
  std::vector<TNodeRow> rows;
  for (ULONG i = 0; i < length; ++i) {
    const auto& n = nodes[i];
    rows.push_back({n.LinkUsage, n.LinkUsagePage, n.Parent, n.NumberOfChildren, n.NextSibling,
                    n.FirstChild, n.CollectionType, n.IsAlias != 0});
  }
  return rows;
}

void PrintTo(const TCapsRow& r, std::ostream* out) {
  *out << "{usage " << r.UsagePage << ":" << r.Usage << ", lengths " << r.InputLength << "/"
       << r.OutputLength << "/" << r.FeatureLength << ", nodes " << r.Nodes << ", in "
       << r.InButtons << "b " << r.InValues << "v " << r.InIndices << "i, out " << r.OutButtons
       << "b " << r.OutValues << "v " << r.OutIndices << "i, feature " << r.FeatureButtons << "b "
       << r.FeatureValues << "v " << r.FeatureIndices << "i}";
}

void PrintTo(const TCapRow& r, std::ostream* out) {
  *out << std::hex << "{page 0x" << r.Page << ", usage 0x" << r.Usage << "..0x" << r.UsageMax
       << std::dec << ", id " << int{r.ReportId} << ", link " << r.Link << ", index " << r.Index
       << ".." << r.IndexMax << (r.IsAlias ? ", alias" : "") << ", bits " << r.BitSize << " x "
       << r.ReportCount << ", logical " << r.LogicalMin << ".." << r.LogicalMax << "}";
}

void PrintTo(const TNodeRow& r, std::ostream* out) {
  *out << "{usage " << r.Page << ":" << r.Usage << ", parent " << r.Parent << ", children "
       << r.Children << ", next " << r.NextSibling << ", first " << r.FirstChild << ", type "
       << r.Type << (r.IsAlias ? ", alias" : "") << "}";
}

}  // namespace quorvel::hidparse::test
