// Fuzz target for the HidP_ functions over fuzzed report buffers, with property checks.
// Input: a 2-byte little-endian descriptor length, the descriptor, then the bytes that the
// reports, their report-ID choices and the values to set are drawn from. Every buffer has
// exactly the size it claims, so that AddressSanitizer catches an access past it. A property
// that does not hold prints what broke and aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "hidparse/HidPExports.h"
#include "hidparse/HidParse.h"

namespace {

using quorvel::hidparse::FreePreparsedData;
using quorvel::hidparse::MakePreparsedData;
using quorvel::hidparse::ParseReportDescriptor;
using quorvel::hidparse::TCollectionModel;

// Work per input stays bounded on descriptors with many caps or long ranges.
constexpr std::size_t kMaxCollections = 4;
constexpr std::size_t kMaxCapsChecked = 16;
constexpr int kReportsPerType = 2;

[[noreturn]] void Violated(const char* property, HIDP_REPORT_TYPE type, long long detail) {
  std::fprintf(stderr, "property violated: %s (report type %d, %lld)\n", property,
               static_cast<int>(type), detail);
  std::abort();
}

void Check(bool holds, const char* property, HIDP_REPORT_TYPE type, long long detail = 0) {
  if (!holds) {
    Violated(property, type, detail);
  }
}

// The fuzzed bytes after the descriptor; zeros once they run out.
class TStream {
 public:
  explicit TStream(std::span<const uint8_t> bytes) : Bytes(bytes) {}
  uint8_t Byte() { return At < Bytes.size() ? Bytes[At++] : uint8_t{0}; }
  uint32_t U32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      value |= uint32_t{Byte()} << (8 * i);
    }
    return value;
  }
  std::vector<char> Take(std::size_t length) {
    std::vector<char> out(length);
    for (char& c : out) {
      c = static_cast<char>(Byte());
    }
    return out;
  }

 private:
  std::span<const uint8_t> Bytes;
  std::size_t At = 0;
};

using TReport = std::vector<char>;

ULONG Length(const TReport& report) {
  return static_cast<ULONG>(report.size());
}

USAGE MinOf(const auto& cap) {
  return cap.IsRange ? cap.Range.UsageMin : cap.NotRange.Usage;
}
USAGE MaxOf(const auto& cap) {
  return cap.IsRange ? cap.Range.UsageMax : cap.NotRange.Usage;
}
USHORT IndexMaxOf(const auto& cap) {
  return cap.IsRange ? cap.Range.DataIndexMax : cap.NotRange.DataIndex;
}
bool Holds(const auto& cap, USAGE page, USAGE usage) {
  return cap.UsagePage == page && usage >= MinOf(cap) && usage <= MaxOf(cap);
}

// What one report type of the collection declares.
struct TType {
  HIDP_REPORT_TYPE Type{};
  PHIDP_PREPARSED_DATA Pp = nullptr;
  USHORT ByteLength = 0;
  USHORT DataIndices = 0;
  std::vector<HIDP_BUTTON_CAPS> Buttons;  // every cap, in the parser's order
  std::vector<HIDP_VALUE_CAPS> Values;
  std::vector<uint8_t> Ids;  // the report IDs the type uses
};

// The caps of one kind through the specific query with the count HIDP_CAPS gives: that count
// must suffice and be met exactly, and every data index must lie below the type's count.
template <typename Record, typename Query>
std::vector<Record> CapsOf(const TType& t, USHORT count, Query query) {
  std::vector<Record> caps(std::size_t{count} + 1);
  USHORT length = count;
  const NTSTATUS status = query(t.Type, USAGE{0}, USHORT{0}, USAGE{0}, caps.data(), &length, t.Pp);
  Check(
      status == (count == 0 ? HIDP_STATUS_USAGE_NOT_FOUND : HIDP_STATUS_SUCCESS) && length == count,
      "caps query returns the count HIDP_CAPS gives", t.Type, count);
  if (count > 0) {
    // One short: the count needed comes back and nothing lands past the capacity.
    std::vector<Record> small(count);
    std::memset(static_cast<void*>(&small[count - 1]), 0xEE, sizeof(Record));
    length = static_cast<USHORT>(count - 1);
    Check(query(t.Type, USAGE{0}, USHORT{0}, USAGE{0}, small.data(), &length, t.Pp) ==
                  HIDP_STATUS_BUFFER_TOO_SMALL &&
              length == count && small[count - 1].UsagePage == 0xEEEE,
          "caps query with too small a list", t.Type, count);
  }
  caps.resize(count);
  for (const Record& cap : caps) {
    Check(cap.Range.DataIndexMin <= IndexMaxOf(cap) && IndexMaxOf(cap) < t.DataIndices,
          "cap data indices in range", t.Type, IndexMaxOf(cap));
  }
  return caps;
}

TType Describe(PHIDP_PREPARSED_DATA pp, const HIDP_CAPS& caps, const TCollectionModel& model,
               int kind) {
  TType t;
  t.Type = static_cast<HIDP_REPORT_TYPE>(kind);
  t.Pp = pp;
  const USHORT lengths[] = {caps.InputReportByteLength, caps.OutputReportByteLength,
                            caps.FeatureReportByteLength};
  const USHORT indices[] = {caps.NumberInputDataIndices, caps.NumberOutputDataIndices,
                            caps.NumberFeatureDataIndices};
  const USHORT buttons[] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                            caps.NumberFeatureButtonCaps};
  const USHORT values[] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                           caps.NumberFeatureValueCaps};
  t.ByteLength = lengths[kind];
  t.DataIndices = indices[kind];
  t.Buttons = CapsOf<HIDP_BUTTON_CAPS>(t, buttons[kind], HidP_GetSpecificButtonCaps);
  t.Values = CapsOf<HIDP_VALUE_CAPS>(t, values[kind], HidP_GetSpecificValueCaps);
  for (const auto& report : model.Reports) {
    if (static_cast<int>(report.Kind) == kind) {
      t.Ids.push_back(report.ReportId);
    }
  }
  return t;
}

// The caps worked on per report: the first ones, so that the first cap of a usage (the one
// the functions use) is always among them when a later one is.
template <typename Record>
std::span<const Record> Checked(const std::vector<Record>& caps) {
  return {caps.data(), std::min(caps.size(), kMaxCapsChecked)};
}

// Usages of a cap to try: its ends and one the input picks.
std::vector<USAGE> UsagesOf(const auto& cap, TStream& in) {
  const USAGE min = MinOf(cap), max = MaxOf(cap);
  const uint32_t count = uint32_t{max} - min + 1;
  return {min, max, static_cast<USAGE>(min + in.Byte() % count)};
}

bool FitsBits(ULONG value, USHORT bitSize) {
  return bitSize >= 32 || (uint64_t{value} >> bitSize) == 0;
}

// The value cap the functions use for a usage in a report of that ID: the first that holds it.
const HIDP_VALUE_CAPS* ValueCapOf(const TType& t, USAGE page, USAGE usage, uint8_t id) {
  for (const HIDP_VALUE_CAPS& cap : t.Values) {
    if (Holds(cap, page, usage) && cap.ReportID == id) {
      return &cap;
    }
  }
  return nullptr;
}

// Pressed buttons of every page, with the announced maximum as capacity: it must suffice,
// and nothing may be written past it.
std::vector<USAGE_AND_PAGE> Pressed(const TType& t, TReport& report, NTSTATUS& status) {
  const ULONG capacity = HidP_MaxUsageListLength(t.Type, 0, t.Pp);
  std::vector<USAGE_AND_PAGE> list(capacity + 1);
  list[capacity].Usage = 0xBEEF;
  ULONG count = capacity;
  status = HidP_GetUsagesEx(t.Type, 0, list.data(), &count, t.Pp, report.data(), Length(report));
  Check(status != HIDP_STATUS_BUFFER_TOO_SMALL && list[capacity].Usage == 0xBEEF,
        "GetUsagesEx fits the maximum usage list length", t.Type, capacity);
  if (status != HIDP_STATUS_SUCCESS) {
    return {};
  }
  Check(count <= capacity, "GetUsagesEx count within capacity", t.Type, count);
  list.resize(count);
  return list;
}

bool Contains(const std::vector<USAGE_AND_PAGE>& list, USAGE page, USAGE usage) {
  return std::any_of(list.begin(), list.end(), [&](const USAGE_AND_PAGE& u) {
    return u.UsagePage == page && u.Usage == usage;
  });
}

// GetData with the announced maximum as capacity; every entry names a data index of the
// type, a button entry is on, a value entry fits its field. With oneShort, a list one entry
// too short gets the count needed and nothing past its end.
std::vector<HIDP_DATA> DataOf(const TType& t, TReport& report, NTSTATUS& status,
                              bool oneShort = false) {
  const ULONG capacity = HidP_MaxDataListLength(t.Type, t.Pp);
  std::vector<HIDP_DATA> list(capacity + 1);
  list[capacity].DataIndex = 0xBEEF;
  ULONG count = capacity;
  status = HidP_GetData(t.Type, list.data(), &count, t.Pp, report.data(), Length(report));
  Check(status != HIDP_STATUS_BUFFER_TOO_SMALL && list[capacity].DataIndex == 0xBEEF,
        "GetData fits the maximum data list length", t.Type, capacity);
  if (status != HIDP_STATUS_SUCCESS) {
    return {};
  }
  Check(count <= capacity, "GetData count within capacity", t.Type, count);
  if (oneShort && count > 0) {
    // One short: the count needed comes back and nothing lands past the capacity.
    const ULONG needed = count;
    std::vector<HIDP_DATA> small(needed);
    small[needed - 1].DataIndex = 0xBEEF;
    count = needed - 1;
    Check(HidP_GetData(t.Type, small.data(), &count, t.Pp, report.data(), Length(report)) ==
                  HIDP_STATUS_BUFFER_TOO_SMALL &&
              count == needed && small[needed - 1].DataIndex == 0xBEEF,
          "GetData with too small a list", t.Type, needed);
    count = needed;
  }
  list.resize(count);
  for (const HIDP_DATA& entry : list) {
    Check(entry.DataIndex < t.DataIndices, "GetData index in range", t.Type, entry.DataIndex);
    bool known = false;
    for (const HIDP_VALUE_CAPS& cap : t.Values) {
      if (entry.DataIndex >= cap.Range.DataIndexMin && entry.DataIndex <= IndexMaxOf(cap)) {
        known = true;
        Check(FitsBits(entry.RawValue, cap.BitSize), "GetData value fits its bit size", t.Type,
              entry.DataIndex);
      }
    }
    for (const HIDP_BUTTON_CAPS& cap : t.Buttons) {
      if (entry.DataIndex >= cap.Range.DataIndexMin && entry.DataIndex <= IndexMaxOf(cap)) {
        known = true;
        Check(entry.On == 1, "GetData button entry is on", t.Type, entry.DataIndex);
      }
    }
    Check(known, "GetData index belongs to a cap", t.Type, entry.DataIndex);
  }
  return list;
}

bool SameData(const std::vector<HIDP_DATA>& a, const std::vector<HIDP_DATA>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const HIDP_DATA& x, const HIDP_DATA& y) {
                      return x.DataIndex == y.DataIndex && x.RawValue == y.RawValue;
                    });
}

// Every getter over the report: capacities, sizes and indices hold, and the report stays
// as it was.
void CheckGetters(const TType& t, TReport& report) {
  const TReport before = report;
  NTSTATUS status = 0;
  for (const USAGE_AND_PAGE& u : Pressed(t, report, status)) {
    const bool declared = std::any_of(t.Buttons.begin(), t.Buttons.end(), [&](const auto& cap) {
      return Holds(cap, u.UsagePage, u.Usage);
    });
    Check(declared, "a pressed usage is a declared one", t.Type, u.Usage);
  }
  DataOf(t, report, status, /*oneShort=*/true);
  for (const HIDP_BUTTON_CAPS& cap : Checked(t.Buttons)) {
    const ULONG capacity = HidP_MaxUsageListLength(t.Type, cap.UsagePage, t.Pp);
    std::vector<USAGE> list(capacity + 1, 0xBEEF);
    ULONG count = capacity;
    status = HidP_GetUsages(t.Type, cap.UsagePage, 0, list.data(), &count, t.Pp, report.data(),
                            Length(report));
    Check(status != HIDP_STATUS_BUFFER_TOO_SMALL && list[capacity] == 0xBEEF,
          "GetUsages fits the maximum usage list length", t.Type, capacity);
    if (status == HIDP_STATUS_SUCCESS && count > 0) {
      // One short: the count needed comes back and nothing lands past the capacity.
      const ULONG needed = count;
      std::vector<USAGE> small(needed, 0xBEEF);
      count = needed - 1;
      status = HidP_GetUsages(t.Type, cap.UsagePage, 0, small.data(), &count, t.Pp, report.data(),
                              Length(report));
      Check(
          status == HIDP_STATUS_BUFFER_TOO_SMALL && count == needed && small[needed - 1] == 0xBEEF,
          "GetUsages with too small a list", t.Type, needed);
    }
  }
  TStream none({});
  for (const HIDP_VALUE_CAPS& cap : Checked(t.Values)) {
    for (const USAGE usage : UsagesOf(cap, none)) {
      ULONG raw = 0;
      if (HidP_GetUsageValue(t.Type, cap.UsagePage, 0, usage, &raw, t.Pp, report.data(),
                             Length(report)) == HIDP_STATUS_SUCCESS) {
        const HIDP_VALUE_CAPS* owner =
            ValueCapOf(t, cap.UsagePage, usage, static_cast<uint8_t>(report[0]));
        Check(owner != nullptr && FitsBits(raw, owner->BitSize), "a value fits its bit size",
              t.Type, usage);
      }
      LONG scaled = 0;
      HidP_GetScaledUsageValue(t.Type, cap.UsagePage, 0, usage, &scaled, t.Pp, report.data(),
                               Length(report));
      std::vector<char> array(std::size_t{cap.BitSize} * cap.ReportCount / 8 + 1);
      HidP_GetUsageValueArray(t.Type, cap.UsagePage, 0, usage, array.data(),
                              static_cast<USHORT>(std::min<std::size_t>(array.size(), 0xFFFF)),
                              t.Pp, report.data(), Length(report));
    }
  }
  Check(report == before, "getters leave the report as it is", t.Type);
}

// SetData of what GetData read, on the same report, applies every entry and keeps the list.
void CheckDataRoundTrip(const TType& t, const TReport& report) {
  TReport copy = report;
  NTSTATUS status = 0;
  std::vector<HIDP_DATA> list = DataOf(t, copy, status);
  if (status != HIDP_STATUS_SUCCESS) {
    return;
  }
  const std::vector<HIDP_DATA> read = list;
  auto count = static_cast<ULONG>(list.size());
  status = HidP_SetData(t.Type, list.data(), &count, t.Pp, copy.data(), Length(copy));
  Check(status == HIDP_STATUS_SUCCESS && count == read.size(), "SetData takes what GetData gave",
        t.Type, static_cast<long>(count));
  const std::vector<HIDP_DATA> again = DataOf(t, copy, status);
  Check(status == HIDP_STATUS_SUCCESS && SameData(read, again),
        "SetData(GetData) keeps every entry", t.Type, static_cast<long>(again.size()));
}

// One entry set through SetData reads back through GetData: a button index as on, a value
// index as the low bits of the raw value.
void CheckDataSetters(const TType& t, const TReport& report, TStream& in) {
  auto setOne = [&](USHORT index, ULONG raw, bool isButton) {
    TReport copy = report;
    HIDP_DATA entry{};
    entry.DataIndex = index;
    if (isButton) {
      entry.On = 1;
    } else {
      entry.RawValue = raw;
    }
    ULONG count = 1;
    if (HidP_SetData(t.Type, &entry, &count, t.Pp, copy.data(), Length(copy)) !=
        HIDP_STATUS_SUCCESS) {
      Check(count == 0, "a failed SetData names the entry", t.Type, index);
      return;
    }
    NTSTATUS status = 0;
    const std::vector<HIDP_DATA> list = DataOf(t, copy, status);
    const bool found = std::any_of(list.begin(), list.end(), [&](const HIDP_DATA& e) {
      return e.DataIndex == index && (isButton || e.RawValue == raw);
    });
    Check(status == HIDP_STATUS_SUCCESS && found, "an entry set reads back", t.Type, index);
  };
  for (const HIDP_BUTTON_CAPS& cap : Checked(t.Buttons)) {
    const uint32_t span = uint32_t{IndexMaxOf(cap)} - cap.Range.DataIndexMin + 1;
    setOne(cap.Range.DataIndexMin, 0, true);
    setOne(static_cast<USHORT>(cap.Range.DataIndexMin + in.Byte() % span), 0, true);
  }
  for (const HIDP_VALUE_CAPS& cap : Checked(t.Values)) {
    if (cap.ReportCount > 1 && !cap.IsRange) {
      continue;  // a value array has no entry of its own
    }
    const uint32_t raw = in.U32();
    setOne(cap.Range.DataIndexMin, cap.BitSize >= 32 ? raw : raw & ((1u << cap.BitSize) - 1u),
           false);
  }
}

// A button set reads back as pressed; unset, it reads back as released unless another cap
// of the report carries it too. An array field that has no value for "no button" may refuse
// the release, and then changes nothing.
void CheckButtons(const TType& t, const TReport& report, TStream& in) {
  for (const HIDP_BUTTON_CAPS& cap : Checked(t.Buttons)) {
    std::vector<USAGE> usages = UsagesOf(cap, in);
    usages.push_back(static_cast<USAGE>(in.U32()));  // anything, usually not declared
    for (const USAGE usage : usages) {
      TReport copy = report;
      ULONG count = 1;
      USAGE list[1] = {usage};
      NTSTATUS status =
          HidP_SetUsages(t.Type, cap.UsagePage, 0, list, &count, t.Pp, copy.data(), Length(copy));
      if (status != HIDP_STATUS_SUCCESS) {
        Check(count == 0, "a failed SetUsages names the usage", t.Type, usage);
        continue;
      }
      Check(count == 1, "SetUsages keeps the length on success", t.Type, usage);
      const auto id = static_cast<uint8_t>(copy[0]);
      Check(Contains(Pressed(t, copy, status), cap.UsagePage, usage),
            "a usage set reads back as pressed", t.Type, usage);
      std::size_t carriers = 0;
      bool array = false;
      for (const HIDP_BUTTON_CAPS& other : t.Buttons) {
        if (Holds(other, cap.UsagePage, usage) && other.ReportID == id && !other.IsAlias) {
          ++carriers;
          array |= (other.BitField & 0x02) == 0;  // Array, not Variable
        }
      }
      const TReport pressed = copy;
      status =
          HidP_UnsetUsages(t.Type, cap.UsagePage, 0, list, &count, t.Pp, copy.data(), Length(copy));
      if (array && status == HIDP_STATUS_VALUE_OUT_OF_RANGE) {
        // An array field without a value for "no button" cannot be released.
        Check(copy == pressed && count == 0, "a refused release changes nothing", t.Type, usage);
        continue;
      }
      Check(status == HIDP_STATUS_SUCCESS, "a usage set can be unset", t.Type, usage);
      if (carriers == 1) {
        Check(!Contains(Pressed(t, copy, status), cap.UsagePage, usage),
              "a usage unset reads back as released", t.Type, usage);
      }
    }
  }
}

// A raw value set reads back as its low bits; a scaled value set reads back within one
// logical step; a value array set reads back whole.
void CheckValues(const TType& t, const TReport& report, TStream& in) {
  for (const HIDP_VALUE_CAPS& cap : Checked(t.Values)) {
    for (const USAGE usage : UsagesOf(cap, in)) {
      TReport copy = report;
      const uint32_t raw = in.U32();
      if (HidP_SetUsageValue(t.Type, cap.UsagePage, 0, usage, raw, t.Pp, copy.data(),
                             Length(copy)) == HIDP_STATUS_SUCCESS) {
        const HIDP_VALUE_CAPS* owner =
            ValueCapOf(t, cap.UsagePage, usage, static_cast<uint8_t>(copy[0]));
        Check(owner != nullptr, "a value set belongs to the report", t.Type, usage);
        ULONG got = 0;
        Check(HidP_GetUsageValue(t.Type, cap.UsagePage, 0, usage, &got, t.Pp, copy.data(),
                                 Length(copy)) == HIDP_STATUS_SUCCESS &&
                  got == (owner->BitSize >= 32 ? raw : raw & ((1u << owner->BitSize) - 1u)),
              "a value set reads back", t.Type, usage);
      }

      copy = report;
      const bool physical = cap.PhysicalMin != 0 || cap.PhysicalMax != 0;
      const int64_t low = physical ? cap.PhysicalMin : cap.LogicalMin;
      const int64_t high = physical ? cap.PhysicalMax : cap.LogicalMax;
      int64_t scaled = static_cast<int32_t>(in.U32());
      if ((in.Byte() & 1) != 0 && high >= low) {  // mostly in range
        scaled = low + static_cast<int64_t>(static_cast<uint64_t>(scaled) %
                                            static_cast<uint64_t>(high - low + 1));
      }
      const NTSTATUS set =
          HidP_SetScaledUsageValue(t.Type, cap.UsagePage, 0, usage, static_cast<LONG>(scaled), t.Pp,
                                   copy.data(), Length(copy));
      const HIDP_VALUE_CAPS* owner =
          ValueCapOf(t, cap.UsagePage, usage, static_cast<uint8_t>(copy[0]));
      if ((set == HIDP_STATUS_SUCCESS || set == HIDP_STATUS_NULL) && owner == &cap) {
        LONG got = 0;
        const NTSTATUS get = HidP_GetScaledUsageValue(t.Type, cap.UsagePage, 0, usage, &got, t.Pp,
                                                      copy.data(), Length(copy));
        Check(get == set, "a scaled value set reads back with its status", t.Type, usage);
        if (set == HIDP_STATUS_SUCCESS) {
          // One logical step of the physical range, rounded up, and one for the rounding.
          const int64_t step =
              physical ? (high - low) / (int64_t{cap.LogicalMax} - cap.LogicalMin) + 2 : 0;
          const int64_t error = got > scaled ? got - scaled : scaled - got;
          Check(got >= low && got <= high && error <= step, "a scaled value set reads back", t.Type,
                usage);
        }
      }

      if (cap.ReportCount > 1 && !cap.IsRange && cap.BitSize % 8 == 0) {
        copy = report;
        const std::size_t bytes = std::size_t{cap.BitSize} * cap.ReportCount / 8;
        if (bytes <= 0xFFFF) {
          std::vector<char> inArray = in.Take(bytes);
          std::vector<char> outArray(bytes);
          const auto length = static_cast<USHORT>(bytes);
          if (HidP_SetUsageValueArray(t.Type, cap.UsagePage, 0, usage, inArray.data(), length, t.Pp,
                                      copy.data(), Length(copy)) == HIDP_STATUS_SUCCESS) {
            Check(HidP_GetUsageValueArray(t.Type, cap.UsagePage, 0, usage, outArray.data(), length,
                                          t.Pp, copy.data(), Length(copy)) == HIDP_STATUS_SUCCESS &&
                      inArray == outArray,
                  "a value array set reads back", t.Type, usage);
          }
        }
      }
    }
  }
}

// A report of the declared length plus or minus one byte is refused by every report
// function, and left as it is.
void CheckLengths(const TType& t) {
  const USAGE buttonPage = t.Buttons.empty() ? USAGE{1} : t.Buttons[0].UsagePage;
  const USAGE button = t.Buttons.empty() ? USAGE{1} : MinOf(t.Buttons[0]);
  const USAGE valuePage = t.Values.empty() ? USAGE{1} : t.Values[0].UsagePage;
  const USAGE value = t.Values.empty() ? USAGE{1} : MinOf(t.Values[0]);
  for (const std::size_t length : {std::size_t{t.ByteLength} - 1, std::size_t{t.ByteLength} + 1}) {
    TReport report(length, 0);
    const TReport before = report;
    const auto n = static_cast<ULONG>(length);
    char* r = report.data();
    USAGE usages[2] = {button, 0};
    USAGE_AND_PAGE pages[2] = {};
    HIDP_DATA data[2] = {};
    char array[64] = {};
    ULONG count = 1;
    ULONG raw = 0;
    LONG scaled = 0;
    const NTSTATUS statuses[] = {
        HidP_GetUsages(t.Type, buttonPage, 0, usages, &count, t.Pp, r, n),
        (count = 1, HidP_SetUsages(t.Type, buttonPage, 0, usages, &count, t.Pp, r, n)),
        (count = 1, HidP_UnsetUsages(t.Type, buttonPage, 0, usages, &count, t.Pp, r, n)),
        (count = 2, HidP_GetUsagesEx(t.Type, 0, pages, &count, t.Pp, r, n)),
        (count = 2, HidP_GetData(t.Type, data, &count, t.Pp, r, n)),
        (count = 1, HidP_SetData(t.Type, data, &count, t.Pp, r, n)),
        HidP_GetUsageValue(t.Type, valuePage, 0, value, &raw, t.Pp, r, n),
        HidP_SetUsageValue(t.Type, valuePage, 0, value, 1, t.Pp, r, n),
        HidP_GetScaledUsageValue(t.Type, valuePage, 0, value, &scaled, t.Pp, r, n),
        HidP_SetScaledUsageValue(t.Type, valuePage, 0, value, 0, t.Pp, r, n),
        HidP_GetUsageValueArray(t.Type, valuePage, 0, value, array, sizeof array, t.Pp, r, n),
        HidP_SetUsageValueArray(t.Type, valuePage, 0, value, array, sizeof array, t.Pp, r, n),
        HidP_InitializeReportForID(t.Type, t.Ids.empty() ? UCHAR{0} : t.Ids[0], t.Pp, r, n),
    };
    for (std::size_t i = 0; i < std::size(statuses); ++i) {
      Check(statuses[i] == HIDP_STATUS_INVALID_REPORT_LENGTH,
            "a report one byte off the declared length is refused", t.Type, static_cast<long>(i));
    }
    Check(report == before, "a refused report is left as it is", t.Type);
  }
}

void CheckType(const TType& t, TStream& in) {
  if (t.ByteLength == 0) {
    return;
  }
  CheckLengths(t);
  for (int i = 0; i < kReportsPerType; ++i) {
    const uint8_t choice = in.Byte();
    TReport report = in.Take(t.ByteLength);
    if (choice != 0xFF && !t.Ids.empty()) {  // 0xFF leaves byte 0 as fuzzed
      report[0] = static_cast<char>(t.Ids[choice % t.Ids.size()]);
    }
    CheckGetters(t, report);
    CheckDataRoundTrip(t, report);
    CheckDataSetters(t, report, in);
    CheckButtons(t, report, in);
    CheckValues(t, report, in);
  }
  for (const uint8_t id : t.Ids) {
    TReport report = in.Take(t.ByteLength);
    Check(HidP_InitializeReportForID(t.Type, id, t.Pp, report.data(), Length(report)) ==
                  HIDP_STATUS_SUCCESS &&
              static_cast<uint8_t>(report[0]) == id,
          "a declared report initialises", t.Type, id);
    NTSTATUS status = 0;
    DataOf(t, report, status);
    Check(status == HIDP_STATUS_SUCCESS, "an initialised report reads", t.Type, id);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::size_t declared = std::size_t{data[0]} | std::size_t{data[1]} << 8;
  const std::size_t descriptorLength = std::min(declared, size - 2);
  const std::vector<uint8_t> descriptor(data + 2, data + 2 + descriptorLength);
  const auto parsed = ParseReportDescriptor(descriptor);
  if (!parsed) {
    return 0;
  }
  TStream in({data + 2 + descriptorLength, size - 2 - descriptorLength});
  const auto& collections = parsed.Descriptor->Collections;
  for (std::size_t c = 0; c < collections.size() && c < kMaxCollections; ++c) {
    PHIDP_PREPARSED_DATA pp = MakePreparsedData(collections[c]);
    HIDP_CAPS caps{};
    if (HidP_GetCaps(pp, &caps) != HIDP_STATUS_SUCCESS) {
      Violated("a block just made is accepted", HidP_Input, static_cast<long long>(c));
    }
    for (int kind = 0; kind < 3; ++kind) {
      CheckType(Describe(pp, caps, collections[c], kind), in);
    }
    if (!FreePreparsedData(pp)) {
      Violated("a block just made is freed", HidP_Input, static_cast<long long>(c));
    }
  }
  return 0;
}
