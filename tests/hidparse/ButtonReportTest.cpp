// Buttons in reports: HidP_GetUsages(Ex), SetUsages, UnsetUsages, MaxUsageListLength,
// UsageListDifference, and the checks every report function makes first.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/hidparse/Preparsed.h"

namespace quorvel::hidparse::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Usages = std::vector<USAGE>;

PCHAR Chars(Bytes& report) {
  return reinterpret_cast<PCHAR>(report.data());
}
ULONG Length(const Bytes& report) {
  return static_cast<ULONG>(report.size());
}

TEST(ButtonReport, CommonChecksComeInTheirOrder) {
  const TPreparsed keyboard = FixturePreparsed("boot-keyboard.desc");
  struct TCase {
    const char* Name;
    PHIDP_PREPARSED_DATA Data;
    int Type;
    std::size_t Length;
    NTSTATUS Status;
  };
  const TCase cases[] = {
      {"no preparsed data", nullptr, HidP_Input, 9, HIDP_STATUS_INVALID_PREPARSED_DATA},
      {"report type 3", keyboard.get(), 3, 9, HIDP_STATUS_INVALID_REPORT_TYPE},
      {"one byte short", keyboard.get(), HidP_Input, 8, HIDP_STATUS_INVALID_REPORT_LENGTH},
      {"one byte long", keyboard.get(), HidP_Input, 10, HIDP_STATUS_INVALID_REPORT_LENGTH},
      {"length 0", keyboard.get(), HidP_Input, 0, HIDP_STATUS_INVALID_REPORT_LENGTH},
      {"no feature report, length 0", keyboard.get(), HidP_Feature, 0,
       HIDP_STATUS_REPORT_DOES_NOT_EXIST},
      {"no feature report, length 9", keyboard.get(), HidP_Feature, 9,
       HIDP_STATUS_INVALID_REPORT_LENGTH},
      {"input, right length", keyboard.get(), HidP_Input, 9, HIDP_STATUS_SUCCESS},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes report(16, 0);
    USAGE usages[16] = {};
    ULONG length = 16;
    const auto type = static_cast<HIDP_REPORT_TYPE>(c.Type);
    const auto reportLength = static_cast<ULONG>(c.Length);
    EXPECT_EQ(HidP_GetUsages(type, 7, 0, usages, &length, c.Data, Chars(report), reportLength),
              c.Status);
    ULONG value = 0;
    const NTSTATUS valueStatus =
        HidP_GetUsageValue(type, 7, 0, 4, &value, c.Data, Chars(report), reportLength);
    // The keyboard has no values, so a report that passes the checks finds no usage.
    EXPECT_EQ(valueStatus,
              c.Status == HIDP_STATUS_SUCCESS ? HIDP_STATUS_USAGE_NOT_FOUND : c.Status);
    EXPECT_EQ(HidP_InitializeReportForID(type, 0, c.Data, Chars(report), reportLength), c.Status);
  }
}

TEST(ButtonReport, GetUsagesReadsVariableBitsThenArrayFields) {
  const TPreparsed pp = FixturePreparsed("boot-keyboard.desc");
  struct TCase {
    const char* Name;
    Bytes Report;
    USAGE Page;
    ULONG Capacity;
    NTSTATUS Status;
    ULONG Found;
    Usages List;  // the entries written
  };
  const Bytes shiftA = {0, 0x22, 0, 0x04, 0x05, 0, 0, 0, 0};  // both shifts, keys a and b
  const TCase cases[] = {
      {"modifiers, then keys", shiftA, 7, 8, HIDP_STATUS_SUCCESS, 4, {0xE1, 0xE5, 0x04, 0x05}},
      {"too small: first ones and the count",
       shiftA,
       7,
       2,
       HIDP_STATUS_BUFFER_TOO_SMALL,
       4,
       {0xE1, 0xE5}},
      {"capacity 0 asks for the count", shiftA, 7, 0, HIDP_STATUS_BUFFER_TOO_SMALL, 4, {}},
      {"no buttons on that page", shiftA, 9, 8, HIDP_STATUS_USAGE_NOT_FOUND, 8, {}},
      {"LED page is output only", shiftA, 8, 8, HIDP_STATUS_USAGE_NOT_FOUND, 8, {}},
      {"0 is no key, 1 is a usage",
       {0, 0, 0, 0x00, 0x01, 0, 0, 0, 0},
       7,
       8,
       HIDP_STATUS_SUCCESS,
       1,
       {0x01}},
      {"index above Logical Maximum is no key",
       {0, 0, 0, 0x66, 0xFF, 0x65, 0, 0, 0},
       7,
       8,
       HIDP_STATUS_SUCCESS,
       1,
       {0x65}},
      {"nothing pressed", Bytes(9, 0), 7, 8, HIDP_STATUS_SUCCESS, 0, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes report = c.Report;
    Usages list(8, 0xEEEE);
    ULONG length = c.Capacity;
    EXPECT_EQ(HidP_GetUsages(HidP_Input, c.Page, 0, list.data(), &length, pp.get(), Chars(report),
                             Length(report)),
              c.Status);
    EXPECT_EQ(length, c.Found);
    const Usages written(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(c.List.size()));
    EXPECT_EQ(written, c.List);
    EXPECT_EQ(list[c.List.size()], 0xEEEE) << "wrote past the usages found or the capacity";
  }
}

TEST(ButtonReport, GetUsagesExNamesThePages) {
  const TPreparsed pp = FixturePreparsed("boot-keyboard.desc");
  Bytes report = {0, 0x01, 0, 0x29, 0, 0, 0, 0, 0};  // left control, escape
  USAGE_AND_PAGE list[4] = {};
  ULONG length = 4;
  ASSERT_EQ(HidP_GetUsagesEx(HidP_Input, 0, list, &length, pp.get(), Chars(report), Length(report)),
            HIDP_STATUS_SUCCESS);
  ASSERT_EQ(length, 2u);
  EXPECT_EQ(list[0].UsagePage, 7);
  EXPECT_EQ(list[0].Usage, 0xE0);
  EXPECT_EQ(list[1].UsagePage, 7);
  EXPECT_EQ(list[1].Usage, 0x29);
}

TEST(ButtonReport, LinkCollectionFilter) {
  const TPreparsed pp = FixturePreparsed("wheel-mouse.desc");  // buttons in collection 1
  Bytes report = {0, 0x05, 0, 0, 0};
  const std::pair<USHORT, NTSTATUS> cases[] = {
      {HIDP_LINK_COLLECTION_UNSPECIFIED, HIDP_STATUS_SUCCESS},
      {1, HIDP_STATUS_SUCCESS},
      {HIDP_LINK_COLLECTION_ROOT, HIDP_STATUS_USAGE_NOT_FOUND},
      {2, HIDP_STATUS_USAGE_NOT_FOUND},
  };
  for (const auto& [link, status] : cases) {
    SCOPED_TRACE(link);
    USAGE list[4] = {};
    ULONG length = 4;
    EXPECT_EQ(
        HidP_GetUsages(HidP_Input, 9, link, list, &length, pp.get(), Chars(report), Length(report)),
        status);
    if (status == HIDP_STATUS_SUCCESS) {
      EXPECT_EQ(Usages(list, list + length), (Usages{1, 3}));
    }
  }
}

TEST(ButtonReport, SetAndUnsetVariableButtons) {
  const TPreparsed pp = FixturePreparsed("boot-keyboard.desc");
  Bytes leds(2, 0);
  auto change = [&](bool set, Usages usages, NTSTATUS status, ULONG length) {
    ULONG count = static_cast<ULONG>(usages.size());
    const NTSTATUS got = set ? HidP_SetUsages(HidP_Output, 8, 0, usages.data(), &count, pp.get(),
                                              Chars(leds), Length(leds))
                             : HidP_UnsetUsages(HidP_Output, 8, 0, usages.data(), &count, pp.get(),
                                                Chars(leds), Length(leds));
    EXPECT_EQ(got, status);
    EXPECT_EQ(count, length);
  };
  change(true, {1, 3}, HIDP_STATUS_SUCCESS, 2);
  EXPECT_EQ(leds, (Bytes{0, 0x05}));
  change(false, {1}, HIDP_STATUS_SUCCESS, 1);
  EXPECT_EQ(leds, (Bytes{0, 0x04}));
  change(false, {2}, HIDP_STATUS_BUTTON_NOT_PRESSED, 0);
  change(false, {2, 3}, HIDP_STATUS_SUCCESS, 2);  // one of them was pressed
  EXPECT_EQ(leds, (Bytes{0, 0}));
  // Stops at the first usage it cannot find and says which one.
  change(true, {5, 6, 1}, HIDP_STATUS_USAGE_NOT_FOUND, 1);
  EXPECT_EQ(leds, (Bytes{0, 0x10}));
}

TEST(ButtonReport, UnsetClearsAUsageRepeatedOverSeveralFields) {
  // Button 1 over four 1-bit fields, then padding: any set field reads as button 1.
  const Bytes repeated = {0x05, 0x09, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x01, 0x75,
                          0x01, 0x95, 0x04, 0x81, 0x02, 0x81, 0x03, 0xC0};
  TPreparsed pp(MakePreparsedData(repeated));
  ASSERT_NE(pp, nullptr);
  auto pressed = [&](Bytes& report) {
    USAGE list[4] = {};
    ULONG length = 4;
    EXPECT_EQ(
        HidP_GetUsages(HidP_Input, 9, 0, list, &length, pp.get(), Chars(report), Length(report)),
        HIDP_STATUS_SUCCESS);
    return Usages(list, list + length);
  };
  for (const uint8_t fields : {uint8_t{0x04}, uint8_t{0x0A}, uint8_t{0x01}}) {
    SCOPED_TRACE(int{fields});
    Bytes report = {0, fields};
    EXPECT_EQ(pressed(report), Usages{1});
    Usages release = {1};
    ULONG count = 1;
    EXPECT_EQ(HidP_UnsetUsages(HidP_Input, 9, 0, release.data(), &count, pp.get(), Chars(report),
                               Length(report)),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(report, (Bytes{0, 0}));
    EXPECT_EQ(pressed(report), Usages{});
  }
}

TEST(ButtonReport, SetAndUnsetArrayButtons) {
  const TPreparsed pp = FixturePreparsed("boot-keyboard.desc");
  Bytes report(9, 0);
  auto set = [&](Usages usages, NTSTATUS status) {
    ULONG count = static_cast<ULONG>(usages.size());
    EXPECT_EQ(HidP_SetUsages(HidP_Input, 7, 0, usages.data(), &count, pp.get(), Chars(report),
                             Length(report)),
              status);
    return count;
  };
  set({0xE1, 0x04, 0x05}, HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report, (Bytes{0, 0x02, 0, 0x04, 0x05, 0, 0, 0, 0}));
  set({0x04}, HIDP_STATUS_SUCCESS);  // already down: not entered twice
  EXPECT_EQ(report, (Bytes{0, 0x02, 0, 0x04, 0x05, 0, 0, 0, 0}));
  set({0x06, 0x07, 0x08, 0x09}, HIDP_STATUS_SUCCESS);
  EXPECT_EQ(set({0x0A}, HIDP_STATUS_BUFFER_TOO_SMALL), 0u);  // six keys at most
  EXPECT_EQ(report, (Bytes{0, 0x02, 0, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09}));

  Usages release = {0x05};
  ULONG count = 1;
  ASSERT_EQ(HidP_UnsetUsages(HidP_Input, 7, 0, release.data(), &count, pp.get(), Chars(report),
                             Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report, (Bytes{0, 0x02, 0, 0x04, 0x00, 0x06, 0x07, 0x08, 0x09}));
  set({0x0A}, HIDP_STATUS_SUCCESS);  // takes the freed field
  EXPECT_EQ(report, (Bytes{0, 0x02, 0, 0x04, 0x0A, 0x06, 0x07, 0x08, 0x09}));
}

TEST(ButtonReport, UnsetNeedsAValueForNoButton) {
  // Buttons 1..2 in a 1-bit field (logical 0..1): every value presses one. Consumer 1..2 in
  // a 2-bit field (logical 0..3): 2 and 3 select no usage.
  const Bytes noEmpty = {0x05, 0x09, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x25, 0x01, 0x19,
                         0x01, 0x29, 0x02, 0x75, 0x01, 0x95, 0x01, 0x81, 0x00, 0x05, 0x0C,
                         0x15, 0x00, 0x25, 0x03, 0x19, 0x01, 0x29, 0x02, 0x75, 0x02, 0x95,
                         0x01, 0x81, 0x00, 0x75, 0x05, 0x81, 0x03, 0xC0};
  TPreparsed pp(MakePreparsedData(noEmpty));
  ASSERT_NE(pp, nullptr);
  struct TCase {
    const char* Name;
    USAGE Page;
    NTSTATUS Status;
    ULONG Done;
    Bytes After;
    Usages Pressed;  // on that page, afterwards
  };
  const TCase cases[] = {
      {"no value means no button: refused, nothing written", 9, HIDP_STATUS_VALUE_OUT_OF_RANGE, 0,
       Bytes{0, 0}, Usages{1}},
      {"a value past the item's usages clears the field", 0x0C, HIDP_STATUS_SUCCESS, 1,
       Bytes{0, 0x04}, Usages{}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes report(2, 0);  // a zeroed report presses usage 1 of both fields
    Usages release = {1};
    ULONG count = 1;
    EXPECT_EQ(HidP_UnsetUsages(HidP_Input, c.Page, 0, release.data(), &count, pp.get(),
                               Chars(report), Length(report)),
              c.Status);
    EXPECT_EQ(count, c.Done);
    EXPECT_EQ(report, c.After);
    USAGE list[4] = {};
    ULONG length = 4;
    ASSERT_EQ(HidP_GetUsages(HidP_Input, c.Page, 0, list, &length, pp.get(), Chars(report),
                             Length(report)),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(Usages(list, list + length), c.Pressed);
  }
  Bytes report(2, 0);
  HIDP_DATA entry{};  // button 1, data index 0, released
  ULONG count = 1;
  EXPECT_EQ(HidP_SetData(HidP_Input, &entry, &count, pp.get(), Chars(report), Length(report)),
            HIDP_STATUS_VALUE_OUT_OF_RANGE);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(report, Bytes(2, 0));
}

TEST(ButtonReport, ArrayWithLogicalMinimumOne) {
  // System keys: 2-bit field, 1..3 select 0x81..0x83, 0 is empty.
  const TPreparsed pp = FixturePreparsed("consumer-and-system.desc", 1);
  Bytes report(2, 0);
  Usages usages = {0x82};
  ULONG count = 1;
  ASSERT_EQ(HidP_SetUsages(HidP_Input, 1, 0, usages.data(), &count, pp.get(), Chars(report),
                           Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report, (Bytes{2, 0x02}));  // the setter claimed report 2
  USAGE list[2] = {};
  ULONG length = 2;
  ASSERT_EQ(
      HidP_GetUsages(HidP_Input, 1, 0, list, &length, pp.get(), Chars(report), Length(report)),
      HIDP_STATUS_SUCCESS);
  EXPECT_EQ(Usages(list, list + length), (Usages{0x82}));
  ASSERT_EQ(HidP_UnsetUsages(HidP_Input, 1, 0, usages.data(), &count, pp.get(), Chars(report),
                             Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report, (Bytes{2, 0x00}));
}

// Array items whose fields cannot hold every usage they declare.
// Report 1, keyboard page: six 8-bit fields, logical 0..101, usages 0..255.
const Bytes kShortKeyboard = {0x05, 0x07, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01,
                              0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65,
                              0x19, 0x00, 0x2A, 0xFF, 0x00, 0x81, 0x00, 0xC0};
// One report: a 1-bit field over buttons 1..12 (logical 0..1); a 2-bit signed field over
// buttons 1..7 (logical -1..5, the bits hold -2..1); two fields over consumer usages 1..4
// with Logical Minimum 5 above Maximum 1; then a field that holds buttons 1..255.
const Bytes kNarrowArrays = {
    0x05, 0x09, 0x09, 0x01, 0xA1, 0x01,                                                  //
    0x15, 0x00, 0x25, 0x01, 0x19, 0x01, 0x29, 0x0C, 0x75, 0x01, 0x95, 0x01, 0x81, 0x00,  //
    0x15, 0xFF, 0x25, 0x05, 0x19, 0x01, 0x29, 0x07, 0x75, 0x02, 0x81, 0x00,              //
    0x75, 0x05, 0x81, 0x03,                                                              //
    0x05, 0x0C, 0x15, 0x05, 0x25, 0x01, 0x19, 0x01, 0x29, 0x04, 0x75, 0x08, 0x95, 0x02,  //
    0x81, 0x00,                                                                          //
    0x05, 0x09, 0x15, 0x01, 0x26, 0xFF, 0x00, 0x19, 0x01, 0x29, 0xFF, 0x95, 0x01, 0x81,  //
    0x00, 0xC0,
};

TEST(ButtonReport, SetUsagesRefusesAUsageTheArrayCannotHold) {
  struct TCase {
    const char* Name;
    const Bytes* Descriptor;
    uint8_t Id;  // of the report
    USAGE Page;
    Usages Set;
    NTSTATUS Status;
    ULONG Done;      // *UsageLength after the call
    Usages Pressed;  // what GetUsages then reports
  };
  const TCase cases[] = {
      {"index 200 above Logical Maximum 101",
       &kShortKeyboard,
       1,
       7,
       {200},
       HIDP_STATUS_USAGE_NOT_FOUND,
       0,
       {}},
      {"stops there, keeps what came before",
       &kShortKeyboard,
       1,
       7,
       {0x04, 200, 0x05},
       HIDP_STATUS_USAGE_NOT_FOUND,
       1,
       {0x04}},
      {"the last usage the range holds",
       &kShortKeyboard,
       1,
       7,
       {101},
       HIDP_STATUS_SUCCESS,
       1,
       {101}},
      {"usage 0 is no event", &kShortKeyboard, 1, 7, {0}, HIDP_STATUS_USAGE_NOT_FOUND, 0, {}},
      // A zeroed report holds button 1 in the 1-bit field and 2 in the 2-bit one.
      {"1-bit field: button 6 goes to the field that holds it",
       &kNarrowArrays,
       0,
       9,
       {6},
       HIDP_STATUS_SUCCESS,
       1,
       {1, 2, 6}},
      {"2-bit signed field: button 4 would read back as -2",
       &kNarrowArrays,
       0,
       9,
       {4},
       HIDP_STATUS_SUCCESS,
       1,
       {1, 2, 4}},
      {"Logical Minimum above Maximum holds nothing",
       &kNarrowArrays,
       0,
       0x0C,
       {1},
       HIDP_STATUS_USAGE_NOT_FOUND,
       0,
       {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TPreparsed pp(MakePreparsedData(*c.Descriptor));
    ASSERT_NE(pp, nullptr);
    HIDP_CAPS caps{};
    ASSERT_EQ(HidP_GetCaps(pp.get(), &caps), HIDP_STATUS_SUCCESS);
    Bytes report = {c.Id};
    report.resize(caps.InputReportByteLength, 0);
    Usages set = c.Set;
    ULONG count = static_cast<ULONG>(set.size());
    EXPECT_EQ(HidP_SetUsages(HidP_Input, c.Page, 0, set.data(), &count, pp.get(), Chars(report),
                             Length(report)),
              c.Status);
    EXPECT_EQ(count, c.Done);
    Usages pressed(16, 0);
    ULONG length = static_cast<ULONG>(pressed.size());
    ASSERT_EQ(HidP_GetUsages(HidP_Input, c.Page, 0, pressed.data(), &length, pp.get(),
                             Chars(report), Length(report)),
              HIDP_STATUS_SUCCESS);
    pressed.resize(length);
    std::sort(pressed.begin(), pressed.end());
    EXPECT_EQ(pressed, c.Pressed);
    if (c.Status != HIDP_STATUS_SUCCESS) {
      continue;
    }
    // The release goes to the field the press went to, not to one that cannot hold it.
    ASSERT_EQ(HidP_UnsetUsages(HidP_Input, c.Page, 0, set.data(), &count, pp.get(), Chars(report),
                               Length(report)),
              HIDP_STATUS_SUCCESS);
    length = 16;
    ASSERT_EQ(HidP_GetUsages(HidP_Input, c.Page, 0, pressed.data(), &length, pp.get(),
                             Chars(report), Length(report)),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(std::count(pressed.begin(), pressed.begin() + length, c.Set.back()), 0);
  }

  // Nothing to press: a zeroed report is not claimed for report 1.
  TPreparsed keyboard(MakePreparsedData(kShortKeyboard));
  Bytes report(7, 0);
  Usages set = {255};
  ULONG count = 1;
  EXPECT_EQ(HidP_SetUsages(HidP_Input, 7, 0, set.data(), &count, keyboard.get(), Chars(report),
                           Length(report)),
            HIDP_STATUS_USAGE_NOT_FOUND);
  EXPECT_EQ(report, Bytes(7, 0));
}

TEST(ButtonReport, ReportIdSelectsTheControls) {
  const TPreparsed pp = FixturePreparsed("vendor-report-ids.desc");  // buttons in output 3
  struct TCase {
    const char* Name;
    uint8_t Id;
    NTSTATUS Get, Set;
    Bytes After;  // the report after SetUsages(button 2)
  };
  const TCase cases[] = {
      {"zeroed report: the setter claims ID 3",
       0,
       HIDP_STATUS_INCOMPATIBLE_REPORT_ID,
       HIDP_STATUS_SUCCESS,
       {3, 0x02}},
      {"report 3", 3, HIDP_STATUS_SUCCESS, HIDP_STATUS_SUCCESS, {3, 0x02}},
      {"report 1 has no buttons",
       1,
       HIDP_STATUS_INCOMPATIBLE_REPORT_ID,
       HIDP_STATUS_INCOMPATIBLE_REPORT_ID,
       {1, 0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes report = {c.Id, 0};
    USAGE list[4] = {};
    ULONG length = 4;
    EXPECT_EQ(
        HidP_GetUsages(HidP_Output, 9, 0, list, &length, pp.get(), Chars(report), Length(report)),
        c.Get);
    Usages button = {2};
    ULONG count = 1;
    EXPECT_EQ(HidP_SetUsages(HidP_Output, 9, 0, button.data(), &count, pp.get(), Chars(report),
                             Length(report)),
              c.Set);
    EXPECT_EQ(report, c.After);
  }
}

TEST(ButtonReport, ReleasingLeavesAZeroedReportAlone) {
  const TPreparsed pp = FixturePreparsed("vendor-report-ids.desc");
  Bytes report = {0, 0};
  Usages button = {2};
  ULONG count = 1;
  EXPECT_EQ(HidP_UnsetUsages(HidP_Output, 9, 0, button.data(), &count, pp.get(), Chars(report),
                             Length(report)),
            HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(report, (Bytes{0, 0}));
}

TEST(ButtonReport, MaxUsageListLength) {
  const TPreparsed keyboard = FixturePreparsed("boot-keyboard.desc");
  const TPreparsed mouse = FixturePreparsed("wheel-mouse.desc");
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0, keyboard.get()), 14u);  // 8 bits + 6 keys
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 7, keyboard.get()), 14u);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 8, keyboard.get()), 0u);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Output, 8, keyboard.get()), 5u);
  EXPECT_EQ(HidP_MaxUsageListLength(HidP_Input, 0, mouse.get()), 3u);
  EXPECT_EQ(HidP_MaxUsageListLength(static_cast<HIDP_REPORT_TYPE>(3), 0, mouse.get()), 0u);
}

TEST(ButtonReport, UsageListDifference) {
  struct TCase {
    Usages Previous, Current, Break, Make;
  };
  const TCase cases[] = {
      {{4, 5, 6, 0}, {5, 6, 7, 0}, {4, 0, 0, 0}, {7, 0, 0, 0}},
      {{0, 0, 0, 0}, {1, 2, 0, 0}, {0, 0, 0, 0}, {1, 2, 0, 0}},
      {{1, 2, 3, 4}, {0, 9, 9, 9}, {1, 2, 3, 4}, {0, 0, 0, 0}},  // a 0 ends the list
      {{1, 2, 3, 4}, {4, 3, 2, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}},
  };
  for (const TCase& c : cases) {
    Usages previous = c.Previous, current = c.Current;
    Usages breaks(4, 0xEEEE), makes(4, 0xEEEE);
    EXPECT_EQ(
        HidP_UsageListDifference(previous.data(), current.data(), breaks.data(), makes.data(), 4),
        HIDP_STATUS_SUCCESS);
    EXPECT_EQ(breaks, c.Break);
    EXPECT_EQ(makes, c.Make);
  }
  // The outputs may be the inputs themselves.
  Usages previous = {4, 5, 0}, current = {5, 6, 0};
  EXPECT_EQ(
      HidP_UsageListDifference(previous.data(), current.data(), previous.data(), current.data(), 3),
      HIDP_STATUS_SUCCESS);
  EXPECT_EQ(previous, (Usages{4, 0, 0}));
  EXPECT_EQ(current, (Usages{6, 0, 0}));
}

TEST(ButtonReport, ScanCodeTranslationIsNotOffered) {
  USAGE keys[1] = {4};
  HIDP_KEYBOARD_MODIFIER_STATE state{};
  EXPECT_EQ(
      HidP_TranslateUsagesToI8042ScanCodes(keys, 1, HidP_Keyboard_Make, &state, nullptr, nullptr),
      HIDP_STATUS_NOT_IMPLEMENTED);
}

}  // namespace
}  // namespace quorvel::hidparse::test
