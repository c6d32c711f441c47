// Caps and link-collection queries: filters, capacities and their statuses.
#include <gtest/gtest.h>

#include <vector>

#include "tests/hidparse/Preparsed.h"

namespace quorvel::hidparse::test {
namespace {

TEST(CapsQuery, FiltersOnPageCollectionAndUsage) {
  const TPreparsed pp = FixturePreparsed("vendor-report-ids.desc");
  struct TCase {
    const char* Name;
    HIDP_REPORT_TYPE Type;
    USAGE Page;
    USHORT Link;
    USAGE Usage;
    NTSTATUS Status;
    std::vector<USAGE> Usages;  // of the caps returned, in order
  };
  const TCase cases[] = {
      {"no filter", HidP_Feature, 0, 0, 0, HIDP_STATUS_SUCCESS, {5, 6}},
      {"by usage", HidP_Feature, 0, 0, 6, HIDP_STATUS_SUCCESS, {6}},
      {"by page", HidP_Input, 0xFF00, 0, 0, HIDP_STATUS_SUCCESS, {3, 2}},
      {"by collection", HidP_Feature, 0, 1, 0, HIDP_STATUS_SUCCESS, {5, 6}},
      {"collection without values", HidP_Input, 0, 1, 0, HIDP_STATUS_USAGE_NOT_FOUND, {}},
      {"other page", HidP_Input, 0xFF01, 0, 0, HIDP_STATUS_USAGE_NOT_FOUND, {}},
      {"usage not there", HidP_Input, 0, 0, 7, HIDP_STATUS_USAGE_NOT_FOUND, {}},
      {"type without values", HidP_Output, 0, 0, 0, HIDP_STATUS_USAGE_NOT_FOUND, {}},
      {"bad type", static_cast<HIDP_REPORT_TYPE>(3), 0, 0, 0, HIDP_STATUS_INVALID_REPORT_TYPE, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<HIDP_VALUE_CAPS> caps(4);
    USHORT length = 4;
    EXPECT_EQ(
        HidP_GetSpecificValueCaps(c.Type, c.Page, c.Link, c.Usage, caps.data(), &length, pp.get()),
        c.Status);
    std::vector<USAGE> usages;
    for (USHORT i = 0; i < length && c.Status == HIDP_STATUS_SUCCESS; ++i) {
      usages.push_back(caps[i].NotRange.Usage);
    }
    EXPECT_EQ(usages, c.Usages);
    if (c.Status == HIDP_STATUS_USAGE_NOT_FOUND) {
      EXPECT_EQ(length, 0);
    }
  }
  // A usage inside a range matches the range.
  HIDP_BUTTON_CAPS button{};
  USHORT length = 1;
  EXPECT_EQ(HidP_GetSpecificButtonCaps(HidP_Output, 9, 0, 3, &button, &length, pp.get()),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(button.Range.UsageMin, 1);
  EXPECT_EQ(button.Range.UsageMax, 4);
}

TEST(CapsQuery, TooSmallFillsWhatFitsAndNamesTheCount) {
  const TPreparsed pp = FixturePreparsed("wheel-mouse.desc");
  std::vector<HIDP_VALUE_CAPS> caps(3);
  caps[1].UsagePage = 0xEEEE;
  USHORT length = 1;
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 0, 0, 0, caps.data(), &length, pp.get()),
            HIDP_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(caps[0].NotRange.Usage, 0x38);
  EXPECT_EQ(caps[1].UsagePage, 0xEEEE);

  length = 5;  // no buffer at all: only the count
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 0, 0, 0, nullptr, &length, pp.get()),
            HIDP_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 3);
}

TEST(CapsQuery, LinkCollectionNodesNeedRoomForAll) {
  const TPreparsed pp = FixturePreparsed("wheel-mouse.desc");
  HIDP_LINK_COLLECTION_NODE nodes[3] = {};
  nodes[0].LinkUsage = 0xEEEE;
  ULONG length = 1;
  EXPECT_EQ(HidP_GetLinkCollectionNodes(nodes, &length, pp.get()), HIDP_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(nodes[0].LinkUsage, 0xEEEE);  // nothing written

  nodes[0].UserContext = &length;
  length = 3;
  EXPECT_EQ(HidP_GetLinkCollectionNodes(nodes, &length, pp.get()), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(nodes[0].LinkUsage, 2);
  EXPECT_EQ(nodes[0].UserContext, &length);  // the caller's, untouched
}

}  // namespace
}  // namespace quorvel::hidparse::test
