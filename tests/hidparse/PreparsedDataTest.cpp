// Preparsed-data blocks: what is not one of ours is refused by every function, never read
// as if it were.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/hidparse/Preparsed.h"

namespace quorvel::hidparse::test {
namespace {

// Every function that takes preparsed data, called on `data`; each must refuse it.
void ExpectRefused(PHIDP_PREPARSED_DATA data) {
  HIDP_CAPS caps{};
  EXPECT_EQ(HidP_GetCaps(data, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
  HIDP_LINK_COLLECTION_NODE node{};
  ULONG nodes = 1;
  EXPECT_EQ(HidP_GetLinkCollectionNodes(&node, &nodes, data), HIDP_STATUS_INVALID_PREPARSED_DATA);
  HIDP_BUTTON_CAPS button{};
  USHORT count = 1;
  EXPECT_EQ(HidP_GetSpecificButtonCaps(HidP_Input, 0, 0, 0, &button, &count, data),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  HIDP_VALUE_CAPS value{};
  EXPECT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 0, 0, 0, &value, &count, data),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  char report[9] = {};
  USAGE usages[4] = {};
  ULONG length = 4;
  EXPECT_EQ(HidP_GetUsages(HidP_Input, 9, 0, usages, &length, data, report, sizeof report),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_EQ(HidP_SetUsages(HidP_Input, 9, 0, usages, &length, data, report, sizeof report),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  ULONG raw = 0;
  EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 0, 0x30, &raw, data, report, sizeof report),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  HIDP_DATA list[2] = {};
  ULONG entries = 2;
  EXPECT_EQ(HidP_GetData(HidP_Input, list, &entries, data, report, sizeof report),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_EQ(HidP_InitializeReportForID(HidP_Input, 0, data, report, sizeof report),
            HIDP_STATUS_INVALID_PREPARSED_DATA);
  EXPECT_EQ(HidP_MaxDataListLength(HidP_Input, data), 0u);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0, data), 0u);
  EXPECT_FALSE(FreePreparsedData(data));
}

TEST(PreparsedData, NullIsRefused) {
  ExpectRefused(nullptr);
}

TEST(PreparsedData, ForeignMemoryIsRefused) {
  std::vector<uint64_t> garbage(64, 0xA5A5A5A5A5A5A5A5ull);
  ExpectRefused(reinterpret_cast<PHIDP_PREPARSED_DATA>(garbage.data()));
  std::vector<uint64_t> zeros(64, 0);
  ExpectRefused(reinterpret_cast<PHIDP_PREPARSED_DATA>(zeros.data()));
}

TEST(PreparsedData, DamagedOrShiftedBlockIsRefused) {
  const TPreparsed pp = FixturePreparsed("wheel-mouse.desc");
  auto* bytes = reinterpret_cast<unsigned char*>(pp.get());
  // Misaligned: a pointer into the block.
  ExpectRefused(reinterpret_cast<PHIDP_PREPARSED_DATA>(bytes + 8));
  // A changed byte anywhere in the header.
  for (const std::size_t offset : {0u, 8u, 24u, 40u}) {
    SCOPED_TRACE(offset);
    bytes[offset] ^= 0x40;
    HIDP_CAPS caps{};
    EXPECT_EQ(HidP_GetCaps(pp.get(), &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);
    EXPECT_FALSE(FreePreparsedData(pp.get()));
    bytes[offset] ^= 0x40;
  }
  HIDP_CAPS caps{};
  EXPECT_EQ(HidP_GetCaps(pp.get(), &caps), HIDP_STATUS_SUCCESS);
}

TEST(PreparsedData, OneBlockPerTopLevelCollection) {
  const std::vector<uint8_t> broken = {0x05, 0x01, 0xA1, 0x01};  // never closed
  EXPECT_EQ(MakePreparsedData(broken), nullptr);
  const std::vector<uint8_t> two = {0x09, 0x01, 0xA1, 0x01, 0xC0, 0x09, 0x02, 0xA1, 0x01, 0xC0};
  for (std::size_t collection : {0u, 1u}) {
    TPreparsed pp(MakePreparsedData(two, collection));
    ASSERT_NE(pp, nullptr);
    EXPECT_EQ(CapsOf(pp.get()).Usage, collection + 1);
  }
  EXPECT_EQ(MakePreparsedData(two, 2), nullptr);
}

}  // namespace
}  // namespace quorvel::hidparse::test
