#include "hidparse/ReportFields.h"

#include <gtest/gtest.h>

#include <array>

namespace quorvel::hidparse {
namespace {

TEST(ReportFields, ReadsAndWritesFieldsAcrossBytes) {
  struct TCase {
    uint32_t Bit, Bits, Value;
    std::array<uint8_t, 6> Bytes;  // the buffer after writing Value into zeros
  };
  const TCase cases[] = {
      {0, 8, 0xA5, {0xA5, 0, 0, 0, 0, 0}},
      {4, 8, 0xFF, {0xF0, 0x0F, 0, 0, 0, 0}},
      {12, 12, 0xABC, {0, 0xC0, 0xAB, 0, 0, 0}},
      {3, 1, 1, {0x08, 0, 0, 0, 0, 0}},
      {8, 32, 0x12345678, {0, 0x78, 0x56, 0x34, 0x12, 0}},
      {1, 32, 0xFFFFFFFF, {0xFE, 0xFF, 0xFF, 0xFF, 0x01, 0}},
      {8, 40, 0x80000001, {0, 0x01, 0, 0, 0x80, 0xFF}},  // wider than 32: sign fill
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bit " << c.Bit << ", " << c.Bits << " bits");
    std::array<uint8_t, 6> buffer{};
    ASSERT_TRUE(WriteBits(buffer, c.Bit, c.Bits, c.Value));
    EXPECT_EQ(buffer, c.Bytes);
    EXPECT_EQ(ReadBits(buffer, c.Bit, c.Bits), c.Value);
  }
}

TEST(ReportFields, WritingLeavesNeighbouringBitsAlone) {
  std::array<uint8_t, 3> buffer{0xFF, 0xFF, 0xFF};
  ASSERT_TRUE(WriteBits(buffer, 5, 10, 0));
  EXPECT_EQ(buffer, (std::array<uint8_t, 3>{0x1F, 0x80, 0xFF}));
}

TEST(ReportFields, NothingOutsideTheBuffer) {
  std::array<uint8_t, 2> buffer{0x12, 0x34};
  EXPECT_FALSE(WriteBits(buffer, 9, 8, 0xFF));
  EXPECT_EQ(buffer, (std::array<uint8_t, 2>{0x12, 0x34}));
  EXPECT_EQ(ReadBits(buffer, 16, 1), 0u);
  EXPECT_TRUE(WriteBits(buffer, 8, 8, 0xAB));  // exactly up to the end
  EXPECT_EQ(buffer[1], 0xAB);

  std::array<uint8_t, 4> target{};
  EXPECT_FALSE(CopyBits(buffer, 8, target, 0, 9));
  EXPECT_FALSE(CopyBits(buffer, 0, target, 24, 9));
  EXPECT_EQ(target, (std::array<uint8_t, 4>{}));
}

TEST(ReportFields, CopiesUnalignedBits) {
  const std::array<uint8_t, 3> from{0xF0, 0xAB, 0x0F};  // 0xFABF from bit 4
  std::array<uint8_t, 2> to{};
  ASSERT_TRUE(CopyBits(from, 8, to, 0, 16));
  EXPECT_EQ(to, (std::array<uint8_t, 2>{0xAB, 0x0F}));
  to = {};
  ASSERT_TRUE(CopyBits(from, 4, to, 0, 16));
  EXPECT_EQ(to, (std::array<uint8_t, 2>{0xBF, 0xFA}));
}

TEST(ReportFields, FieldNumbers) {
  EXPECT_EQ(FieldNumber(0x80, 8, true), -128);
  EXPECT_EQ(FieldNumber(0x80, 8, false), 128);
  EXPECT_EQ(FieldNumber(0x7F, 8, true), 127);
  EXPECT_EQ(FieldNumber(0xFFF, 12, true), -1);
  EXPECT_EQ(FieldNumber(0xFFFFFFFF, 32, true), -1);
  EXPECT_EQ(FieldNumber(0xFFFFFFFF, 32, false), 0xFFFFFFFFll);
  EXPECT_EQ(FieldNumber(0x1FF, 8, false), 0xFF);  // bits above the field are ignored
}

}  // namespace
}  // namespace quorvel::hidparse
