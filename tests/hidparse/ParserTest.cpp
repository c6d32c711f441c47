// Parsing rules shown on small descriptors written inline, one rule per case.
#include <gtest/gtest.h>

#include <vector>

#include "hidparse/HidParse.h"

namespace quorvel::hidparse {
namespace {

TReportDescriptor Parse(const std::vector<uint8_t>& bytes) {
  TParseResult result = ParseReportDescriptor(bytes);
  EXPECT_TRUE(result) << result.Error.Message;
  return result ? std::move(*result.Descriptor) : TReportDescriptor{};
}

TEST(Parser, LinkCollectionTreeListsTheNewestChildFirst) {
  // A(application) { B(physical) { D(logical) } C(physical) }
  const auto model = Parse({
      0x05, 0x01, 0x09, 0x0A,  // page 1, usage A
      0xA1, 0x01,              // Collection (Application)
      0x09, 0x0B, 0xA1, 0x00,  //   usage B, Collection (Physical)
      0x09, 0x0D, 0xA1, 0x02,  //     usage D, Collection (Logical)
      0xC0, 0xC0,              //   End, End
      0x09, 0x0C, 0xA1, 0x00,  //   usage C, Collection (Physical)
      0xC0, 0xC0,              //   End, End
  });
  ASSERT_EQ(model.Collections.size(), 1u);
  const auto& n = model.Collections[0].Nodes;
  ASSERT_EQ(n.size(), 4u);
  struct TExpect {
    uint16_t Usage, Parent, Children, NextSibling, FirstChild;
    uint8_t Type;
  };
  const TExpect expected[] = {
      {0x0A, 0, 2, 0, 3, 1},  // A: newest child C first
      {0x0B, 0, 1, 0, 2, 0},  // B
      {0x0D, 1, 0, 0, 0, 2},  // D
      {0x0C, 0, 0, 1, 0, 0},  // C: its sibling is the older B
  };
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(n[i].LinkUsage, expected[i].Usage);
    EXPECT_EQ(n[i].Parent, expected[i].Parent);
    EXPECT_EQ(n[i].NumberOfChildren, expected[i].Children);
    EXPECT_EQ(n[i].NextSibling, expected[i].NextSibling);
    EXPECT_EQ(n[i].FirstChild, expected[i].FirstChild);
    EXPECT_EQ(n[i].CollectionType, expected[i].Type);
  }
}

TEST(Parser, FieldsAndUsages) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    std::size_t Caps;         // input caps
    uint16_t InputLength;     // bytes, with the ID byte
    uint16_t FirstUsagePage;  // of the first input cap
    uint16_t FirstUsage;
    uint16_t FirstFields;
  };
  const TCase cases[] = {
      {"a 4-byte usage carries its own page",
       {0x05, 0x09, 0x09, 0x01, 0xA1, 0x01, 0x0B, 0x30, 0x00, 0x01, 0x00, 0x75, 0x08, 0x95, 0x01,
        0x81, 0x02, 0xC0},
       1,
       2,
       0x01,
       0x30,
       1},
      {"a short usage takes the page in force at the main item",
       {0x05, 0x09, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x30, 0x05, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81,
        0x02, 0xC0},
       1,
       2,
       0x01,
       0x30,
       1},
      {"surplus usages are dropped",
       {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x75, 0x08, 0x95,
        0x02, 0x81, 0x02, 0xC0},
       2,
       3,
       0x01,
       0x31,
       1},
      {"the last usage takes the remaining fields",
       {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x30, 0x09, 0x31, 0x75, 0x08, 0x95, 0x04, 0x81,
        0x02, 0xC0},
       2,
       5,
       0x01,
       0x31,
       3},
      {"report count 0 occupies nothing",
       {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x30, 0x75, 0x08, 0x95, 0x00, 0x81, 0x02, 0xC0},
       0,
       0,
       0,
       0,
       0},
      {"padding makes a report without caps",
       {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x03, 0x95, 0x03, 0x81, 0x01, 0xC0},
       0,
       3,
       0,
       0,
       0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto model = Parse(c.Bytes);
    ASSERT_EQ(model.Collections.size(), 1u);
    const auto& caps = model.Collections[0].Caps[IndexOf(TReportKind::Input)];
    ASSERT_EQ(caps.size(), c.Caps);
    EXPECT_EQ(model.Collections[0].ByteLength(TReportKind::Input), c.InputLength);
    if (!caps.empty()) {
      EXPECT_EQ(caps[0].UsagePage, c.FirstUsagePage);
      EXPECT_EQ(caps[0].UsageMin, c.FirstUsage);
      EXPECT_EQ(caps[0].Fields, c.FirstFields);
    }
  }
}

TEST(Parser, ReportsAreCountedPerIdAndKind) {
  // ID 1: 8 input bits; ID 2: 20 input bits and a 1-byte feature.
  const auto model = Parse({
      0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                    // vendor page, application
      0x85, 0x01, 0x09, 0x02, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02,  // ID 1 input
      0x85, 0x02, 0x09, 0x03, 0x75, 0x0A, 0x95, 0x02, 0x81, 0x02,  // ID 2 input
      0x09, 0x04, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02,              // ID 2 feature
      0xC0,
  });
  EXPECT_TRUE(model.UsesReportIds);
  ASSERT_EQ(model.Collections.size(), 1u);
  const auto& c = model.Collections[0];
  ASSERT_NE(c.FindReport(TReportKind::Input, 1), nullptr);
  EXPECT_EQ(c.FindReport(TReportKind::Input, 1)->ByteLength, 2);
  ASSERT_NE(c.FindReport(TReportKind::Input, 2), nullptr);
  EXPECT_EQ(c.FindReport(TReportKind::Input, 2)->ByteLength, 4);
  ASSERT_NE(c.FindReport(TReportKind::Feature, 2), nullptr);
  EXPECT_EQ(c.FindReport(TReportKind::Feature, 2)->ByteLength, 2);
  EXPECT_EQ(c.FindReport(TReportKind::Feature, 1), nullptr);
  EXPECT_EQ(c.FindReport(TReportKind::Output, 2), nullptr);
  EXPECT_EQ(c.ByteLength(TReportKind::Input), 4);
  EXPECT_EQ(c.ByteLength(TReportKind::Output), 0);
  // The second input item starts after the ID byte of its own report.
  EXPECT_EQ(c.Caps[IndexOf(TReportKind::Input)][1].BitOffset, 8u);
}

TEST(Parser, SignedAndUnsignedItemData) {
  const auto model = Parse({
      0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x30, 0x15,
      0xFF, 0x26, 0xFF, 0x00,                    // Logical -1 .. 255
      0x35, 0x80, 0x47, 0x00, 0x00, 0x01, 0x00,  // Physical -128 .. 65536
      0x55, 0xFD, 0x75, 0x10, 0x95, 0x01, 0x81, 0x02, 0xC0,
  });
  ASSERT_EQ(model.Collections.size(), 1u);
  const TCap& cap = model.Collections[0].Caps[IndexOf(TReportKind::Input)].at(0);
  EXPECT_EQ(cap.LogicalMin, -1);
  EXPECT_EQ(cap.LogicalMax, 255);
  EXPECT_EQ(cap.PhysicalMin, -128);
  EXPECT_EQ(cap.PhysicalMax, 65536);
  EXPECT_EQ(cap.UnitsExp, static_cast<uint32_t>(-3));  // a byte-encoded -3
}

}  // namespace
}  // namespace quorvel::hidparse
