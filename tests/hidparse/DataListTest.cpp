// Data lists: HidP_GetData, HidP_SetData, HidP_MaxDataListLength, and the extended
// attributes looked up by data index.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/hidparse/Preparsed.h"

namespace quorvel::hidparse::test {
namespace {

using Bytes = std::vector<uint8_t>;

PCHAR Chars(Bytes& report) {
  return reinterpret_cast<PCHAR>(report.data());
}
ULONG Length(const Bytes& report) {
  return static_cast<ULONG>(report.size());
}

struct TEntry {
  USHORT Index;
  ULONG Value;  // 1 for a pressed button
  auto operator<=>(const TEntry&) const = default;
};
void PrintTo(const TEntry& e, std::ostream* out) {
  *out << "{" << e.Index << ", " << e.Value << "}";
}

HIDP_DATA Button(USHORT index, bool on) {
  HIDP_DATA data{};
  data.DataIndex = index;
  data.On = on ? 1 : 0;
  return data;
}
HIDP_DATA Value(USHORT index, ULONG raw) {
  HIDP_DATA data{};
  data.DataIndex = index;
  data.RawValue = raw;
  return data;
}

TEST(DataList, GetDataListsButtonsThenValuesInCapsOrder) {
  const TPreparsed mouse = FixturePreparsed("wheel-mouse.desc");
  const TPreparsed keyboard = FixturePreparsed("boot-keyboard.desc");
  const TPreparsed gamepad = FixturePreparsed("gamepad.desc");
  struct TCase {
    const char* Name;
    PHIDP_PREPARSED_DATA Data;
    Bytes Report;
    ULONG Capacity;
    NTSTATUS Status;
    ULONG Count;
    std::vector<TEntry> Entries;  // those written
  };
  const TCase cases[] = {
      {"mouse: buttons 1 and 3, wheel, Y, X",
       mouse.get(),
       {0, 0x05, 0x10, 0xF0, 0x01},
       8,
       HIDP_STATUS_SUCCESS,
       5,
       {{0, 1}, {2, 1}, {3, 0x01}, {4, 0xF0}, {5, 0x10}}},
      {"too small: the first entries and the count",
       mouse.get(),
       {0, 0x05, 0x10, 0xF0, 0x01},
       2,
       HIDP_STATUS_BUFFER_TOO_SMALL,
       5,
       {{0, 1}, {2, 1}}},
      {"values are listed even when 0",
       mouse.get(),
       {0, 0, 0, 0, 0},
       8,
       HIDP_STATUS_SUCCESS,
       3,
       {{3, 0}, {4, 0}, {5, 0}}},
      {"gamepad: a value range lists each field",
       gamepad.get(),
       {0, 0x05, 0x20, 10, 20, 30, 40, 50, 60},
       10,
       HIDP_STATUS_SUCCESS,
       9,
       {{0, 1}, {2, 1}, {12, 2}, {13, 10}, {14, 20}, {15, 30}, {16, 40}, {17, 50}, {18, 60}}},
      {"keyboard: left control and key a",
       keyboard.get(),
       {0, 0x01, 0, 0, 0x04, 0, 0, 0, 0},
       8,
       HIDP_STATUS_SUCCESS,
       2,
       {{0, 1}, {12, 1}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes report = c.Report;
    std::vector<HIDP_DATA> list(12, Value(0xEEEE, 0xEEEEEEEE));
    ULONG length = c.Capacity;
    EXPECT_EQ(HidP_GetData(HidP_Input, list.data(), &length, c.Data, Chars(report), Length(report)),
              c.Status);
    EXPECT_EQ(length, c.Count);
    std::vector<TEntry> written;
    for (std::size_t i = 0; i < c.Entries.size(); ++i) {
      written.push_back({list[i].DataIndex, list[i].RawValue});
    }
    EXPECT_EQ(written, c.Entries);
    EXPECT_EQ(list[c.Entries.size()].DataIndex, 0xEEEE);
  }
}

TEST(DataList, MaxDataListLength) {
  const TPreparsed mouse = FixturePreparsed("wheel-mouse.desc");
  const TPreparsed keyboard = FixturePreparsed("boot-keyboard.desc");
  const TPreparsed vendor = FixturePreparsed("vendor-report-ids.desc");
  EXPECT_EQ(HidP_MaxDataListLength(HidP_Input, mouse.get()), 6u);
  EXPECT_EQ(HidP_MaxDataListLength(HidP_Input, keyboard.get()), 14u);  // 8 bits, 6 keys
  const TPreparsed gamepad = FixturePreparsed("gamepad.desc");
  EXPECT_EQ(HidP_MaxDataListLength(HidP_Input, gamepad.get()), 19u);
  EXPECT_EQ(HidP_MaxDataListLength(HidP_Feature, vendor.get()), 1u);  // arrays not listed
  EXPECT_EQ(HidP_MaxDataListLength(HidP_Feature, mouse.get()), 0u);
}

TEST(DataList, MaximaCoverArraysRepeatingOneUsage) {
  // Four array fields over two usages: every field may hold button 1.
  const Bytes fewUsages = {0x05, 0x09, 0x09, 0x01, 0xA1, 0x01, 0x19, 0x01, 0x29, 0x02, 0x15,
                           0x01, 0x25, 0x02, 0x75, 0x08, 0x95, 0x04, 0x81, 0x00, 0xC0};
  TPreparsed pp(MakePreparsedData(fewUsages));
  ASSERT_NE(pp, nullptr);
  Bytes report = {0, 1, 1, 1, 1};
  std::vector<HIDP_DATA> list(HidP_MaxDataListLength(HidP_Input, pp.get()));
  ULONG length = static_cast<ULONG>(list.size());
  EXPECT_EQ(HidP_GetData(HidP_Input, list.data(), &length, pp.get(), Chars(report), Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(length, 4u);
  std::vector<USAGE> usages(HidP_MaxUsageListLength(HidP_Input, 9, pp.get()));
  length = static_cast<ULONG>(usages.size());
  EXPECT_EQ(HidP_GetUsages(HidP_Input, 9, 0, usages.data(), &length, pp.get(), Chars(report),
                           Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(length, 4u);
}

TEST(DataList, SetDataStopsAtTheFirstFailingEntry) {
  const TPreparsed keyboard = FixturePreparsed("boot-keyboard.desc");
  struct TCase {
    const char* Name;
    std::vector<HIDP_DATA> List;
    NTSTATUS Status;
    ULONG Length;
    Bytes After;
  };
  const TCase cases[] = {
      {"a modifier and two keys",
       {Button(0, true), Button(12, true), Button(13, true)},
       HIDP_STATUS_SUCCESS,
       3,
       {0, 0x01, 0, 0x04, 0x05, 0, 0, 0, 0}},
      {"unknown index",
       {Button(1, true), Button(200, true), Button(2, true)},
       HIDP_STATUS_DATA_INDEX_NOT_FOUND,
       1,
       {0, 0x02, 0, 0, 0, 0, 0, 0, 0}},
      {"release of a button not pressed",
       {Button(3, false)},
       HIDP_STATUS_BUTTON_NOT_PRESSED,
       0,
       Bytes(9, 0)},
      {"press then release",
       {Button(3, true), Button(3, false)},
       HIDP_STATUS_SUCCESS,
       2,
       Bytes(9, 0)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes report(9, 0);
    std::vector<HIDP_DATA> list = c.List;
    ULONG length = static_cast<ULONG>(list.size());
    EXPECT_EQ(HidP_SetData(HidP_Input, list.data(), &length, keyboard.get(), Chars(report),
                           Length(report)),
              c.Status);
    EXPECT_EQ(length, c.Length);
    EXPECT_EQ(report, c.After);
  }
}

TEST(DataList, SetDataRefusesAnArrayIndexItsFieldCannotHold) {
  // Report 1: six 8-bit key fields, logical 0..101, usages 0..255 (indices 0..255).
  const Bytes shortKeyboard = {0x05, 0x07, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01,
                               0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65,
                               0x19, 0x00, 0x2A, 0xFF, 0x00, 0x81, 0x00, 0xC0};
  TPreparsed pp(MakePreparsedData(shortKeyboard));
  ASSERT_NE(pp, nullptr);
  struct TCase {
    const char* Name;
    std::vector<HIDP_DATA> List;
    NTSTATUS Status;
    ULONG Length;
    Bytes After;
  };
  const TCase cases[] = {
      {"index 200: nothing written, the report not claimed",
       {Button(200, true)},
       HIDP_STATUS_DATA_INDEX_NOT_FOUND,
       0,
       Bytes(7, 0)},
      {"usage 0 is no event", {Button(0, true)}, HIDP_STATUS_DATA_INDEX_NOT_FOUND, 0, Bytes(7, 0)},
      {"stops there",
       {Button(4, true), Button(102, true)},
       HIDP_STATUS_DATA_INDEX_NOT_FOUND,
       1,
       Bytes{1, 4, 0, 0, 0, 0, 0}},
      {"the last index the range holds",
       {Button(101, true)},
       HIDP_STATUS_SUCCESS,
       1,
       Bytes{1, 101, 0, 0, 0, 0, 0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes report(7, 0);
    std::vector<HIDP_DATA> list = c.List;
    ULONG length = static_cast<ULONG>(list.size());
    EXPECT_EQ(
        HidP_SetData(HidP_Input, list.data(), &length, pp.get(), Chars(report), Length(report)),
        c.Status);
    EXPECT_EQ(length, c.Length);
    EXPECT_EQ(report, c.After);
  }
}

TEST(DataList, SetDataValuesAndReportIds) {
  const TPreparsed vendor = FixturePreparsed("vendor-report-ids.desc");
  Bytes feature(10, 0);
  std::vector<HIDP_DATA> list = {Value(0, 25)};
  ULONG length = 1;
  ASSERT_EQ(HidP_SetData(HidP_Feature, list.data(), &length, vendor.get(), Chars(feature),
                         Length(feature)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(feature, (Bytes{2, 25, 0, 0, 0, 0, 0, 0, 0, 0}));
  list = {Value(1, 7)};
  EXPECT_EQ(HidP_SetData(HidP_Feature, list.data(), &length, vendor.get(), Chars(feature),
                         Length(feature)),
            HIDP_STATUS_IS_VALUE_ARRAY);
  EXPECT_EQ(length, 0u);

  HIDP_DATA got[4] = {};
  length = 4;
  ASSERT_EQ(HidP_GetData(HidP_Feature, got, &length, vendor.get(), Chars(feature), Length(feature)),
            HIDP_STATUS_SUCCESS);
  ASSERT_EQ(length, 1u);  // the value array is not listed
  EXPECT_EQ(got[0].DataIndex, 0);
  EXPECT_EQ(got[0].RawValue, 25u);

  Bytes input = {3, 0, 0, 0};  // no input report 3
  length = 4;
  EXPECT_EQ(HidP_GetData(HidP_Input, got, &length, vendor.get(), Chars(input), Length(input)),
            HIDP_STATUS_REPORT_DOES_NOT_EXIST);

  // Two input reports: once the report holds ID 1, a control of ID 2 does not fit.
  const Bytes twoIds = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                    //
                        0x85, 0x01, 0x09, 0x02, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02,  //
                        0x85, 0x02, 0x09, 0x03, 0x81, 0x02, 0xC0};
  TPreparsed pp(MakePreparsedData(twoIds));
  ASSERT_NE(pp, nullptr);
  Bytes report(2, 0);
  list = {Value(0, 0x11), Value(1, 0x22)};
  length = 2;
  EXPECT_EQ(HidP_SetData(HidP_Input, list.data(), &length, pp.get(), Chars(report), Length(report)),
            HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(report, (Bytes{1, 0x11}));

  // Releasing a button of report 3 in a zeroed output report claims nothing.
  Bytes output = {0, 0};
  list = {Button(1, false)};
  length = 1;
  EXPECT_EQ(
      HidP_SetData(HidP_Output, list.data(), &length, vendor.get(), Chars(output), Length(output)),
      HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
  EXPECT_EQ(output, (Bytes{0, 0}));
}

TEST(DataList, ExtendedAttributes) {
  const TPreparsed vendor = FixturePreparsed("vendor-report-ids.desc");
  alignas(8) unsigned char buffer[64];
  auto* attributes = reinterpret_cast<PHIDP_EXTENDED_ATTRIBUTES>(buffer);
  constexpr ULONG fixed = offsetof(HIDP_EXTENDED_ATTRIBUTES, Data);

  // The output buttons follow a reserved global item 0xC5 with data 0x2A.
  std::memset(buffer, 0xEE, sizeof buffer);
  ULONG length = sizeof buffer;
  ASSERT_EQ(HidP_GetExtendedAttributes(HidP_Output, 2, vendor.get(), attributes, &length),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(length, fixed + sizeof(HIDP_UNKNOWN_TOKEN));
  EXPECT_EQ(attributes->NumGlobalUnknowns, 1);
  HIDP_UNKNOWN_TOKEN token{};
  std::memcpy(&token, buffer + fixed, sizeof token);
  EXPECT_EQ(token.Token, 0xC5);
  EXPECT_EQ(token.BitField, 0x2Au);

  // Room for the fixed part only: the count arrives, the token does not.
  std::memset(buffer, 0xEE, sizeof buffer);
  length = sizeof(HIDP_EXTENDED_ATTRIBUTES);
  EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Output, 0, vendor.get(), attributes, &length),
            HIDP_STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(attributes->NumGlobalUnknowns, 1);
  EXPECT_EQ(length, fixed + sizeof(HIDP_UNKNOWN_TOKEN));
  EXPECT_EQ(buffer[sizeof(HIDP_EXTENDED_ATTRIBUTES)], 0xEE);

  length = sizeof buffer;
  EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 0, vendor.get(), attributes, &length),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(attributes->NumGlobalUnknowns, 0);
  length = sizeof buffer;
  EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Output, 4, vendor.get(), attributes, &length),
            HIDP_STATUS_DATA_INDEX_NOT_FOUND);
  length = sizeof(HIDP_EXTENDED_ATTRIBUTES) - 1;
  EXPECT_EQ(HidP_GetExtendedAttributes(HidP_Input, 0, vendor.get(), attributes, &length),
            HIDP_STATUS_BUFFER_TOO_SMALL);
}

}  // namespace
}  // namespace quorvel::hidparse::test
