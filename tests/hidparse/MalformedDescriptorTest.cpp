// Broken descriptors must be refused with an error that names the offending item, and
// never yield preparsed data.
#include <gtest/gtest.h>

#include <algorithm>

#include "hidparse/HidParse.h"
#include "tests/hidparse/DescriptorFile.h"

namespace quorvel::hidparse::test {
namespace {

struct TMalformed {
  const char* File;
  std::size_t Offset;
  uint8_t Prefix;  // 0 when the error is at the end of the descriptor
  const char* Message;
};

const TMalformed kMalformed[] = {
    {"aliased-array.desc", 22, 0x81, "aliased usages in an array item"},
    {"empty.desc", 4, 0x00, "no top-level collection"},
    {"end-collection-underflow.desc", 7, 0xC0, "End Collection without an open collection"},
    {"huge-report-count.desc", 8, 0x96, "Report Count 65535 above 12288"},
    {"huge-report-size.desc", 2, 0x76, "Report Size 257 above 256"},
    {"huge-report.desc", 13, 0x81, "Input report 0 grows to 24577 bytes"},
    {"input-outside-collection.desc", 8, 0x81, "Input item outside any collection"},
    {"long-item-skipped.desc", 11, 0x00, "1 collection(s) not closed"},
    {"nested-delimiter.desc", 8, 0xA9, "nested Delimiter set"},
    {"pop-underflow.desc", 6, 0xB4, "Pop without Push"},
    {"push-overflow.desc", 6, 0xA4, "Push deeper than 4"},
    {"range-in-delimiter.desc", 8, 0x19, "usage range inside a Delimiter set"},
    {"report-id-zero.desc", 6, 0x85, "Report ID 0 outside 1..255"},
    {"too-many-data-indices.desc", 27, 0x81, "more than 65535 data indices"},
    {"truncated-item.desc", 6, 0x26, "item needs 2 data bytes, 1 left"},
    {"truncated-long-item.desc", 2, 0xFE, "long item of 16 data bytes truncated"},
    {"unclosed-collection.desc", 11, 0x00, "1 collection(s) not closed"},
    {"usage-maximum-below-minimum.desc", 8, 0x29, "Usage Maximum 0x2 below Usage Minimum 0x5"},
    {"usage-minimum-alone.desc", 12, 0x81, "Usage Minimum without Usage Maximum"},
};

void PrintTo(const TMalformed& c, std::ostream* out) {
  *out << c.File;
}

class MalformedDescriptor : public ::testing::TestWithParam<TMalformed> {};

TEST_P(MalformedDescriptor, FailsNamingTheItem) {
  const TMalformed& c = GetParam();
  const auto bytes = LoadDescriptor(FixtureDir("malformed") / c.File);
  ASSERT_FALSE(bytes.empty());
  const TParseResult result = ParseReportDescriptor(bytes);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.Error.Offset, c.Offset);
  EXPECT_EQ(result.Error.Prefix, c.Prefix);
  EXPECT_NE(result.Error.Message.find(c.Message), std::string::npos) << result.Error.Message;
  EXPECT_NE(result.Error.Message.find("offset " + std::to_string(c.Offset)), std::string::npos)
      << result.Error.Message;
  EXPECT_EQ(MakePreparsedData(bytes), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MalformedDescriptor, ::testing::ValuesIn(kMalformed),
                         [](const ::testing::TestParamInfo<TMalformed>& fixture) {
                           std::string name = fixture.param.File;
                           name = name.substr(0, name.find('.'));
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(MalformedDescriptorFixtures, EveryFileIsInTheTable) {
  std::vector<std::string> listed;
  for (const auto& c : kMalformed) {
    listed.emplace_back(c.File);
  }
  EXPECT_EQ(FixtureNames("malformed"), listed);
}

}  // namespace
}  // namespace quorvel::hidparse::test
