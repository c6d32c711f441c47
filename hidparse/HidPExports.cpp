// The HidP_ functions over the preparsed data of hidparse. Every length and count comes
// from the caller and is checked before a byte of the caller's buffers is touched.
#include "hidparse/HidPExports.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "hidparse/PreparsedData.h"
#include "hidparse/ReportFields.h"

namespace quorvel::hidparse {
namespace {

// A report buffer of the length the collection declares, and the caps of its type.
struct TReport {
  TPreparsedView View;
  TReportKind Kind = TReportKind::Input;
  std::span<const TCap> Caps;
  std::span<uint8_t> Bytes;
  uint8_t Id() const { return Bytes[0]; }
};

// The report type is only ever read here, as the int a C caller passed: loading an enum
// outside its declared values is undefined, and the layer passes its selector unchecked.
// Everything else takes the parameter by reference for that reason.
bool KindOf(const HIDP_REPORT_TYPE& type, std::size_t& kind) {
  int value = 0;
  static_assert(sizeof value == sizeof type);
  std::memcpy(&value, &type, sizeof value);
  if (value < 0 || static_cast<std::size_t>(value) >= kReportKinds) {
    return false;
  }
  kind = static_cast<std::size_t>(value);
  return true;
}

// The field of a control that carries `usage`: its place within a usage range.
uint32_t FieldOf(const TCap& cap, USAGE usage) {
  return cap.IsRange ? uint32_t{usage} - cap.UsageMin : 0;
}

// The checks every report-buffer function makes, in the platform's order.
NTSTATUS OpenReport(const HIDP_REPORT_TYPE& type, PHIDP_PREPARSED_DATA data, PCHAR report,
                    ULONG length, TReport& out) {
  if (!ViewPreparsedData(data, out.View)) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  std::size_t kind = 0;
  if (!KindOf(type, kind)) {
    return HIDP_STATUS_INVALID_REPORT_TYPE;
  }
  const uint16_t expected = out.View.ByteLengths[kind];
  if (length != expected || (report == nullptr && length != 0)) {
    return HIDP_STATUS_INVALID_REPORT_LENGTH;
  }
  if (expected == 0) {
    return HIDP_STATUS_REPORT_DOES_NOT_EXIST;
  }
  out.Kind = static_cast<TReportKind>(kind);
  out.Caps = out.View.Caps[kind];
  out.Bytes = {reinterpret_cast<uint8_t*>(report), length};
  return HIDP_STATUS_SUCCESS;
}

bool LinkMatches(const TCap& cap, USHORT linkCollection) {
  if (linkCollection == HIDP_LINK_COLLECTION_UNSPECIFIED) {
    return true;
  }
  if (linkCollection == HIDP_LINK_COLLECTION_ROOT) {
    return cap.LinkCollection == 0;
  }
  return cap.LinkCollection == linkCollection;
}

bool HasUsage(const TCap& cap, USAGE usage) {
  return usage >= cap.UsageMin && usage <= cap.UsageMax;
}

// The control a getter or setter works on. A getter takes it from the report that byte 0
// names. A setter on a report whose byte 0 is still 0 takes the first control of any report
// and claims the report for that control's ID.
template <typename Match>
NTSTATUS FindControl(TReport& report, bool setter, Match match, const TCap*& found) {
  const TCap* elsewhere = nullptr;
  for (const TCap& cap : report.Caps) {
    if (!match(cap)) {
      continue;
    }
    if (cap.ReportId == report.Id()) {
      found = &cap;
      return HIDP_STATUS_SUCCESS;
    }
    if (elsewhere == nullptr) {
      elsewhere = &cap;
    }
  }
  if (elsewhere == nullptr) {
    return HIDP_STATUS_USAGE_NOT_FOUND;
  }
  if (setter && report.Id() == 0) {
    report.Bytes[0] = elsewhere->ReportId;
    found = elsewhere;
    return HIDP_STATUS_SUCCESS;
  }
  return HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
}

uint32_t FieldBit(const TCap& cap, uint32_t field) {
  return cap.BitOffset + field * cap.BitSize;
}

uint32_t ReadField(const TReport& report, const TCap& cap, uint32_t field) {
  return ReadBits(report.Bytes, FieldBit(cap, field), cap.BitSize);
}

int64_t FieldValue(const TReport& report, const TCap& cap, uint32_t field) {
  return FieldNumber(ReadField(report, cap, field), cap.BitSize, cap.LogicalMin < 0);
}

// The usage an array field's value selects within this cap, 0 for none.
USAGE ArrayUsage(const TCap& cap, int64_t value) {
  if (value < cap.LogicalMin || value > cap.LogicalMax) {
    return 0;
  }
  const int64_t position = value - cap.LogicalMin - cap.ArrayFirst;
  if (position < 0 || position >= cap.UsageCount()) {
    return 0;
  }
  return static_cast<USAGE>(cap.UsageMin + position);
}

// The value an array field holds to carry `usage` of this cap: the usage's place in the
// item's list plus Logical Minimum. None when the logical range or the field's bits cannot
// hold it, or for usage 0 (no event): such a usage could never be read back.
std::optional<uint32_t> ArrayRawOf(const TCap& cap, USAGE usage) {
  if (!HasUsage(cap, usage)) {
    return std::nullopt;
  }
  const int64_t value = int64_t{cap.LogicalMin} + cap.ArrayFirst + (usage - cap.UsageMin);
  const auto raw = static_cast<uint32_t>(value);
  if (usage == 0 || FieldNumber(raw, cap.BitSize, cap.LogicalMin < 0) != value ||
      ArrayUsage(cap, value) != usage) {
    return std::nullopt;
  }
  return raw;
}

// Whether `usage` of this button cap can be stored in the report and read back.
bool CanPress(const TCap& cap, USAGE usage) {
  return cap.IsArray ? ArrayRawOf(cap, usage).has_value() : HasUsage(cap, usage);
}

bool SameArrayItem(const TCap& a, const TCap& b) {
  return a.IsArray && b.IsArray && a.ReportId == b.ReportId && a.BitOffset == b.BitOffset;
}

// Whether an array field holds a usage of any cap of the item.
bool ArrayFieldTaken(const TReport& report, const TCap& cap, uint32_t field) {
  const int64_t value = FieldValue(report, cap, field);
  return std::any_of(report.Caps.begin(), report.Caps.end(), [&](const TCap& other) {
    return SameArrayItem(cap, other) && ArrayUsage(other, value) != 0;
  });
}

// A raw value that no cap of the array item reads as a usage, for clearing a field: 0, a
// value just outside the logical range, or the first one past the item's usages. None when
// every value the field can hold selects a usage.
std::optional<uint32_t> EmptyArrayRaw(const TReport& report, const TCap& cap) {
  const uint32_t bits = std::min<uint32_t>(cap.BitSize, 32);
  const bool isSigned = cap.LogicalMin < 0;
  uint32_t listed = 0;  // usages of the whole item
  for (const TCap& other : report.Caps) {
    if (SameArrayItem(cap, other)) {
      listed = std::max(listed, other.ArrayFirst + other.UsageCount());
    }
  }
  const int64_t candidates[] = {0, int64_t{cap.LogicalMin} - 1, int64_t{cap.LogicalMax} + 1,
                                int64_t{cap.LogicalMin} + listed};
  for (const int64_t candidate : candidates) {
    const auto raw = static_cast<uint32_t>(candidate);
    if (FieldNumber(raw, bits, isSigned) != candidate) {
      continue;  // not representable in the field
    }
    const bool taken = std::any_of(report.Caps.begin(), report.Caps.end(), [&](const TCap& o) {
      return SameArrayItem(cap, o) && ArrayUsage(o, candidate) != 0;
    });
    if (!taken) {
      return raw;
    }
  }
  return std::nullopt;
}

// The raw value that reads back outside the logical range, for a field with a null state;
// none when the field's bits cannot express one.
std::optional<uint32_t> NullRaw(const TCap& cap) {
  const uint32_t bits = std::min<uint32_t>(cap.BitSize, 32);
  if (bits == 0) {
    return std::nullopt;
  }
  const bool isSigned = cap.LogicalMin < 0;
  const int64_t low = isSigned ? -(int64_t{1} << (bits - 1)) : 0;
  const int64_t high = isSigned ? (int64_t{1} << (bits - 1)) - 1 : (int64_t{1} << bits) - 1;
  if (low < cap.LogicalMin) {
    return static_cast<uint32_t>(low);
  }
  if (high > cap.LogicalMax) {
    return static_cast<uint32_t>(high);
  }
  return std::nullopt;
}

NTSTATUS SetButton(TReport& report, const TCap& cap, USAGE usage) {
  if (!cap.IsArray) {
    const uint32_t field = FieldOf(cap, usage);
    WriteBits(report.Bytes, FieldBit(cap, field), 1, 1);
    return HIDP_STATUS_SUCCESS;
  }
  const std::optional<uint32_t> raw = ArrayRawOf(cap, usage);
  if (!raw) {
    return HIDP_STATUS_USAGE_NOT_FOUND;  // callers pick caps that can carry it
  }
  for (uint32_t field = 0; field < cap.Fields; ++field) {
    if (ArrayUsage(cap, FieldValue(report, cap, field)) == usage) {
      return HIDP_STATUS_SUCCESS;  // already pressed
    }
  }
  for (uint32_t field = 0; field < cap.Fields; ++field) {
    if (!ArrayFieldTaken(report, cap, field)) {
      WriteBits(report.Bytes, FieldBit(cap, field), cap.BitSize, *raw);
      return HIDP_STATUS_SUCCESS;
    }
  }
  return HIDP_STATUS_BUFFER_TOO_SMALL;
}

// Clears the button: HIDP_STATUS_BUTTON_NOT_PRESSED when it was not pressed, and
// HIDP_STATUS_VALUE_OUT_OF_RANGE, with nothing written, for an array field that has no value
// meaning "no button".
NTSTATUS UnsetButton(TReport& report, const TCap& cap, USAGE usage) {
  bool pressed = false;
  if (!cap.IsArray) {
    // One usage over several fields reads as pressed while any of them is set.
    const uint32_t first = FieldOf(cap, usage);
    const uint32_t end = cap.IsRange ? first + 1 : cap.Fields;
    for (uint32_t field = first; field < end; ++field) {
      const uint32_t bit = FieldBit(cap, field);
      if (ReadBits(report.Bytes, bit, 1) != 0) {
        WriteBits(report.Bytes, bit, 1, 0);
        pressed = true;
      }
    }
    return pressed ? HIDP_STATUS_SUCCESS : HIDP_STATUS_BUTTON_NOT_PRESSED;
  }
  for (uint32_t field = 0; field < cap.Fields; ++field) {
    pressed |= ArrayUsage(cap, FieldValue(report, cap, field)) == usage;
  }
  if (!pressed) {
    return HIDP_STATUS_BUTTON_NOT_PRESSED;
  }
  const std::optional<uint32_t> empty = EmptyArrayRaw(report, cap);
  if (!empty) {
    return HIDP_STATUS_VALUE_OUT_OF_RANGE;  // whatever it held, the field would press a button
  }
  for (uint32_t field = 0; field < cap.Fields; ++field) {
    if (ArrayUsage(cap, FieldValue(report, cap, field)) == usage) {
      WriteBits(report.Bytes, FieldBit(cap, field), cap.BitSize, *empty);
    }
  }
  return HIDP_STATUS_SUCCESS;
}

// Calls emit(page, usage) for every pressed button of the report byte 0 names, in caps
// order, then field order.
template <typename Emit>
NTSTATUS ForEachPressed(const TReport& report, std::optional<USAGE> page, USHORT linkCollection,
                        Emit emit) {
  bool any = false, here = false;
  for (const TCap& cap : report.Caps) {
    if (!cap.IsButton || (page && cap.UsagePage != *page) || !LinkMatches(cap, linkCollection)) {
      continue;
    }
    any = true;
    if (cap.ReportId != report.Id()) {
      continue;
    }
    here = true;
    for (uint32_t field = 0; field < cap.Fields; ++field) {
      if (cap.IsArray) {
        if (const USAGE usage = ArrayUsage(cap, FieldValue(report, cap, field)); usage != 0) {
          emit(cap.UsagePage, usage);
        }
      } else if (ReadField(report, cap, field) != 0) {
        emit(cap.UsagePage, static_cast<USAGE>(cap.IsRange ? cap.UsageMin + field : cap.UsageMin));
        if (!cap.IsRange) {
          break;  // one usage repeated over several fields is reported once
        }
      }
    }
  }
  if (!any) {
    return HIDP_STATUS_USAGE_NOT_FOUND;
  }
  return here ? HIDP_STATUS_SUCCESS : HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
}

template <typename Out, typename Make>
NTSTATUS GetPressed(const HIDP_REPORT_TYPE& type, std::optional<USAGE> page, USHORT linkCollection,
                    Out* list, PULONG length, PHIDP_PREPARSED_DATA data, PCHAR report,
                    ULONG reportLength, Make make) {
  TReport r;
  if (const NTSTATUS status = OpenReport(type, data, report, reportLength, r);
      status != HIDP_STATUS_SUCCESS) {
    return status;
  }
  if (length == nullptr) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  const ULONG capacity = list != nullptr ? *length : 0;
  ULONG found = 0;
  const NTSTATUS status = ForEachPressed(r, page, linkCollection, [&](USAGE p, USAGE u) {
    if (found < capacity) {
      list[found] = make(p, u);
    }
    ++found;
  });
  if (status != HIDP_STATUS_SUCCESS) {
    return status;
  }
  *length = found;
  return found > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

NTSTATUS ChangeUsages(const HIDP_REPORT_TYPE& type, USAGE page, USHORT linkCollection, PUSAGE list,
                      PULONG length, PHIDP_PREPARSED_DATA data, PCHAR report, ULONG reportLength,
                      bool press) {
  TReport r;
  if (const NTSTATUS status = OpenReport(type, data, report, reportLength, r);
      status != HIDP_STATUS_SUCCESS) {
    return status;
  }
  if (length == nullptr || (list == nullptr && *length != 0)) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  bool anyReleased = false;
  for (ULONG i = 0; i < *length; ++i) {
    const USAGE usage = list[i];
    const TCap* cap = nullptr;
    // Only a press claims a zeroed report; a release finds nothing pressed there. Controls
    // that cannot carry the usage are passed over: none is claimed for nothing, and a
    // release goes to the control a press went to.
    NTSTATUS status = FindControl(
        r, /*setter=*/press,
        [&](const TCap& c) {
          return c.IsButton && c.UsagePage == page && LinkMatches(c, linkCollection) &&
                 CanPress(c, usage);
        },
        cap);
    if (status == HIDP_STATUS_SUCCESS && press) {
      status = SetButton(r, *cap, usage);
    } else if (status == HIDP_STATUS_SUCCESS) {
      status = UnsetButton(r, *cap, usage);
      anyReleased |= status == HIDP_STATUS_SUCCESS;
      if (status == HIDP_STATUS_BUTTON_NOT_PRESSED) {
        status = HIDP_STATUS_SUCCESS;  // answered below, for the list as a whole
      }
    }
    if (status != HIDP_STATUS_SUCCESS) {
      *length = i;
      return status;
    }
  }
  if (!press && !anyReleased && *length != 0) {
    *length = 0;
    return HIDP_STATUS_BUTTON_NOT_PRESSED;
  }
  return HIDP_STATUS_SUCCESS;
}

// The value control for page/collection/usage; buttons never match.
NTSTATUS FindValue(TReport& report, bool setter, USAGE page, USHORT linkCollection, USAGE usage,
                   const TCap*& found) {
  return FindControl(
      report, setter,
      [&](const TCap& c) {
        return !c.IsButton && c.UsagePage == page && LinkMatches(c, linkCollection) &&
               HasUsage(c, usage);
      },
      found);
}

// The opening of every value call: opens the report and finds the value control for
// page/collection/usage, then hands both to `body`, which does the rest.
template <typename Body>
NTSTATUS WithValue(const HIDP_REPORT_TYPE& type, PHIDP_PREPARSED_DATA data, PCHAR report,
                   ULONG reportLength, bool setter, USAGE page, USHORT linkCollection, USAGE usage,
                   Body body) {
  TReport r;
  if (const NTSTATUS status = OpenReport(type, data, report, reportLength, r);
      status != HIDP_STATUS_SUCCESS) {
    return status;
  }
  const TCap* cap = nullptr;
  if (const NTSTATUS status = FindValue(r, setter, page, linkCollection, usage, cap);
      status != HIDP_STATUS_SUCCESS) {
    return status;
  }
  return body(r, *cap);
}

bool LogPhyConsistent(const TCap& cap) {
  const bool hasPhysical = cap.PhysicalMin != 0 || cap.PhysicalMax != 0;
  return cap.LogicalMin < cap.LogicalMax && (!hasPhysical || cap.PhysicalMin < cap.PhysicalMax);
}

// round(a * b / c) for a >= 0, b > 0, c > 0, each below 2^32: the product fits 64 bits.
uint64_t MulDivRound(uint64_t a, uint64_t b, uint64_t c) {
  return (a * b + c / 2) / c;
}

NTSTATUS ValueArray(const HIDP_REPORT_TYPE& type, USAGE page, USHORT linkCollection, USAGE usage,
                    PCHAR buffer, USHORT bufferLength, PHIDP_PREPARSED_DATA data, PCHAR report,
                    ULONG reportLength, bool set) {
  return WithValue(type, data, report, reportLength, set, page, linkCollection, usage,
                   [&](TReport& r, const TCap& cap) -> NTSTATUS {
                     if (!cap.IsValueArray()) {
                       return HIDP_STATUS_NOT_VALUE_ARRAY;
                     }
                     if (cap.BitSize % 8 != 0) {
                       return HIDP_STATUS_NOT_IMPLEMENTED;
                     }
                     const uint32_t bits = uint32_t{cap.BitSize} * cap.Fields;
                     if (buffer == nullptr || bufferLength < (bits + 7) / 8) {
                       return HIDP_STATUS_BUFFER_TOO_SMALL;
                     }
                     std::span<uint8_t> caller{reinterpret_cast<uint8_t*>(buffer), bufferLength};
                     const bool copied = set ? CopyBits(caller, 0, r.Bytes, cap.BitOffset, bits)
                                             : CopyBits(r.Bytes, cap.BitOffset, caller, 0, bits);
                     return copied ? HIDP_STATUS_SUCCESS : HIDP_STATUS_INTERNAL_ERROR;
                   });
}

template <typename Record>
void FillCommon(Record& out, const TCap& cap) {
  out.UsagePage = cap.UsagePage;
  out.ReportID = cap.ReportId;
  out.IsAlias = cap.IsAlias;
  out.BitField = cap.BitField;
  out.LinkCollection = cap.LinkCollection;
  out.LinkUsage = cap.LinkUsage;
  out.LinkUsagePage = cap.LinkUsagePage;
  out.IsRange = cap.IsRange;
  out.IsStringRange = cap.IsStringRange;
  out.IsDesignatorRange = cap.IsDesignatorRange;
  out.IsAbsolute = cap.IsAbsolute;
  // The range and single views overlay each other; the Max/Reserved slots stay 0 where the
  // single view is the meaningful one.
  out.Range.UsageMin = cap.UsageMin;
  out.Range.UsageMax = cap.IsRange ? cap.UsageMax : 0;
  out.Range.StringMin = cap.StringMin;
  out.Range.StringMax = cap.IsStringRange ? cap.StringMax : 0;
  out.Range.DesignatorMin = cap.DesignatorMin;
  out.Range.DesignatorMax = cap.IsDesignatorRange ? cap.DesignatorMax : 0;
  out.Range.DataIndexMin = cap.DataIndexMin;
  out.Range.DataIndexMax = cap.IsRange ? cap.DataIndexMax : 0;
}

void Fill(HIDP_BUTTON_CAPS& out, const TCap& cap) {
  out = HIDP_BUTTON_CAPS{};
  FillCommon(out, cap);
}

void Fill(HIDP_VALUE_CAPS& out, const TCap& cap) {
  out = HIDP_VALUE_CAPS{};
  FillCommon(out, cap);
  out.HasNull = cap.HasNull;
  out.BitSize = cap.BitSize;
  out.ReportCount = cap.IsRange ? 1 : cap.Fields;
  out.UnitsExp = cap.UnitsExp;
  out.Units = cap.Units;
  out.LogicalMin = cap.LogicalMin;
  out.LogicalMax = cap.LogicalMax;
  out.PhysicalMin = cap.PhysicalMin;
  out.PhysicalMax = cap.PhysicalMax;
}

template <typename Record>
NTSTATUS SpecificCaps(const HIDP_REPORT_TYPE& type, USAGE page, USHORT linkCollection, USAGE usage,
                      Record* caps, PUSHORT length, PHIDP_PREPARSED_DATA data, bool buttons) {
  TPreparsedView view;
  if (!ViewPreparsedData(data, view)) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  std::size_t kind = 0;
  if (!KindOf(type, kind)) {
    return HIDP_STATUS_INVALID_REPORT_TYPE;
  }
  if (length == nullptr) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  const USHORT capacity = caps != nullptr ? *length : 0;
  USHORT matched = 0;
  for (const TCap& cap : view.Caps[kind]) {
    if (cap.IsButton != buttons || (page != 0 && cap.UsagePage != page) ||
        (linkCollection != 0 && cap.LinkCollection != linkCollection) ||
        (usage != 0 && !HasUsage(cap, usage))) {
      continue;
    }
    if (matched < capacity) {
      Fill(caps[matched], cap);
    }
    ++matched;  // at most the 0xFFFF caps a collection may hold
  }
  *length = matched;
  if (matched == 0) {
    return HIDP_STATUS_USAGE_NOT_FOUND;
  }
  return matched > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

// The cap that owns a data index; aliases share their index, the first one answers.
const TCap* CapOfIndex(std::span<const TCap> caps, USHORT index) {
  for (const TCap& cap : caps) {
    if (index >= cap.DataIndexMin && index <= cap.DataIndexMax) {
      return &cap;
    }
  }
  return nullptr;
}

}  // namespace
}  // namespace quorvel::hidparse

using namespace quorvel::hidparse;

extern "C" {

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, PHIDP_CAPS Capabilities) {
  TPreparsedView view;
  if (!ViewPreparsedData(PreparsedData, view)) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  if (Capabilities == nullptr) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  HIDP_CAPS caps{};
  caps.Usage = view.Usage;
  caps.UsagePage = view.UsagePage;
  caps.InputReportByteLength = view.ByteLengths[0];
  caps.OutputReportByteLength = view.ByteLengths[1];
  caps.FeatureReportByteLength = view.ByteLengths[2];
  caps.NumberLinkCollectionNodes = static_cast<USHORT>(view.Nodes.size());
  USHORT counts[kReportKinds][2] = {};
  for (std::size_t kind = 0; kind < kReportKinds; ++kind) {
    for (const TCap& cap : view.Caps[kind]) {
      ++counts[kind][cap.IsButton ? 0 : 1];
    }
  }
  caps.NumberInputButtonCaps = counts[0][0];
  caps.NumberInputValueCaps = counts[0][1];
  caps.NumberInputDataIndices = view.DataIndices[0];
  caps.NumberOutputButtonCaps = counts[1][0];
  caps.NumberOutputValueCaps = counts[1][1];
  caps.NumberOutputDataIndices = view.DataIndices[1];
  caps.NumberFeatureButtonCaps = counts[2][0];
  caps.NumberFeatureValueCaps = counts[2][1];
  caps.NumberFeatureDataIndices = view.DataIndices[2];
  *Capabilities = caps;
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS NTAPI HidP_GetLinkCollectionNodes(PHIDP_LINK_COLLECTION_NODE LinkCollectionNodes,
                                           PULONG LinkCollectionNodesLength,
                                           PHIDP_PREPARSED_DATA PreparsedData) {
  TPreparsedView view;
  if (!ViewPreparsedData(PreparsedData, view)) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  if (LinkCollectionNodesLength == nullptr) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  const ULONG needed = static_cast<ULONG>(view.Nodes.size());
  const ULONG capacity = LinkCollectionNodes != nullptr ? *LinkCollectionNodesLength : 0;
  *LinkCollectionNodesLength = needed;
  if (capacity < needed) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  for (ULONG i = 0; i < needed; ++i) {
    const TLinkNode& node = view.Nodes[i];
    HIDP_LINK_COLLECTION_NODE& out = LinkCollectionNodes[i];
    out.LinkUsage = node.LinkUsage;
    out.LinkUsagePage = node.LinkUsagePage;
    out.Parent = node.Parent;
    out.NumberOfChildren = node.NumberOfChildren;
    out.NextSibling = node.NextSibling;
    out.FirstChild = node.FirstChild;
    out.CollectionType = node.CollectionType;
    out.IsAlias = node.IsAlias ? 1u : 0u;
    out.Reserved = 0;
    // UserContext belongs to the caller.
  }
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS NTAPI HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                          USHORT LinkCollection, USAGE Usage,
                                          PHIDP_BUTTON_CAPS ButtonCaps, PUSHORT ButtonCapsLength,
                                          PHIDP_PREPARSED_DATA PreparsedData) {
  return SpecificCaps(ReportType, UsagePage, LinkCollection, Usage, ButtonCaps, ButtonCapsLength,
                      PreparsedData, /*buttons=*/true);
}

NTSTATUS NTAPI HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                         USHORT LinkCollection, USAGE Usage,
                                         PHIDP_VALUE_CAPS ValueCaps, PUSHORT ValueCapsLength,
                                         PHIDP_PREPARSED_DATA PreparsedData) {
  return SpecificCaps(ReportType, UsagePage, LinkCollection, Usage, ValueCaps, ValueCapsLength,
                      PreparsedData, /*buttons=*/false);
}

NTSTATUS NTAPI HidP_GetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList, PULONG DataLength,
                            PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength) {
  TReport r;
  if (const NTSTATUS status = OpenReport(ReportType, PreparsedData, Report, ReportLength, r);
      status != HIDP_STATUS_SUCCESS) {
    return status;
  }
  if (DataLength == nullptr) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  if (!r.View.HasReport(r.Kind, r.Id())) {
    return HIDP_STATUS_REPORT_DOES_NOT_EXIST;
  }
  const ULONG capacity = DataList != nullptr ? *DataLength : 0;
  ULONG found = 0;
  auto emit = [&](uint32_t index, bool isButton, uint32_t raw) {
    if (found < capacity) {
      HIDP_DATA& entry = DataList[found];
      entry.DataIndex = static_cast<USHORT>(index);
      entry.Reserved = 0;
      entry.RawValue = 0;
      if (isButton) {
        entry.On = 1;
      } else {
        entry.RawValue = raw;
      }
    }
    ++found;
  };
  for (const TCap& cap : r.Caps) {
    if (cap.ReportId != r.Id() || cap.IsAlias || cap.IsValueArray()) {
      continue;
    }
    for (uint32_t field = 0; field < cap.Fields; ++field) {
      if (cap.IsArray) {
        if (const USAGE usage = ArrayUsage(cap, FieldValue(r, cap, field)); usage != 0) {
          emit(cap.DataIndexMin + uint32_t{usage} - cap.UsageMin, true, 0);
        }
      } else if (cap.IsButton) {
        if (ReadField(r, cap, field) != 0) {
          emit(cap.DataIndexMin + (cap.IsRange ? field : 0), true, 0);
          if (!cap.IsRange) {
            break;
          }
        }
      } else {
        emit(cap.DataIndexMin + field, false, ReadField(r, cap, field));
      }
    }
  }
  *DataLength = found;
  return found > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

NTSTATUS NTAPI HidP_SetData(HIDP_REPORT_TYPE ReportType, PHIDP_DATA DataList, PULONG DataLength,
                            PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report, ULONG ReportLength) {
  TReport r;
  if (const NTSTATUS status = OpenReport(ReportType, PreparsedData, Report, ReportLength, r);
      status != HIDP_STATUS_SUCCESS) {
    return status;
  }
  if (DataLength == nullptr || (DataList == nullptr && *DataLength != 0)) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  for (ULONG i = 0; i < *DataLength; ++i) {
    const HIDP_DATA& entry = DataList[i];
    const TCap* cap = CapOfIndex(r.Caps, entry.DataIndex);
    unsigned char on = 0;  // the BOOLEAN view of the entry's value
    std::memcpy(&on, reinterpret_cast<const unsigned char*>(&entry) + offsetof(HIDP_DATA, On), 1);
    // As with HidP_UnsetUsages, only a press or a value claims a zeroed report.
    const bool release = cap != nullptr && cap->IsButton && on == 0;
    const uint32_t offset = cap != nullptr ? uint32_t{entry.DataIndex} - cap->DataIndexMin : 0;
    const auto usage = static_cast<USAGE>(cap != nullptr ? cap->UsageMin + offset : 0);
    NTSTATUS status = HIDP_STATUS_SUCCESS;
    if (cap == nullptr) {
      status = HIDP_STATUS_DATA_INDEX_NOT_FOUND;
    } else if (cap->IsValueArray()) {
      status = HIDP_STATUS_IS_VALUE_ARRAY;
    } else if (cap->IsButton && on != 0 && !CanPress(*cap, usage)) {
      // An array index its field cannot hold: no report can carry it, as GetData shows.
      status = HIDP_STATUS_DATA_INDEX_NOT_FOUND;
    } else if (cap->ReportId != r.Id() && (r.Id() != 0 || release)) {
      status = HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
    }
    if (status == HIDP_STATUS_SUCCESS) {
      r.Bytes[0] = cap->ReportId;
      if (!cap->IsButton) {
        WriteBits(r.Bytes, FieldBit(*cap, offset), cap->BitSize, entry.RawValue);
      } else {
        status = on != 0 ? SetButton(r, *cap, usage) : UnsetButton(r, *cap, usage);
      }
    }
    if (status != HIDP_STATUS_SUCCESS) {
      *DataLength = i;
      return status;
    }
  }
  return HIDP_STATUS_SUCCESS;
}

ULONG NTAPI HidP_MaxDataListLength(HIDP_REPORT_TYPE ReportType,
                                   PHIDP_PREPARSED_DATA PreparsedData) {
  TPreparsedView view;
  std::size_t kind = 0;
  if (!ViewPreparsedData(PreparsedData, view) || !KindOf(ReportType, kind)) {
    return 0;
  }
  ULONG total = 0;
  for (const TCap& cap : view.Caps[kind]) {
    if (cap.IsAlias || cap.IsValueArray()) {
      continue;
    }
    if (cap.IsArray) {
      total += cap.Fields;  // every field may repeat one usage of this cap
    } else {
      total += cap.IsRange ? cap.UsageCount() : 1;
    }
  }
  return total;
}

NTSTATUS NTAPI HidP_GetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                              PUSAGE UsageList, PULONG UsageLength,
                              PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                              ULONG ReportLength) {
  return GetPressed(ReportType, UsagePage, LinkCollection, UsageList, UsageLength, PreparsedData,
                    Report, ReportLength, [](USAGE, USAGE usage) { return usage; });
}

NTSTATUS NTAPI HidP_GetUsagesEx(HIDP_REPORT_TYPE ReportType, USHORT LinkCollection,
                                PUSAGE_AND_PAGE ButtonList, PULONG UsageLength,
                                PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                ULONG ReportLength) {
  return GetPressed(ReportType, std::nullopt, LinkCollection, ButtonList, UsageLength,
                    PreparsedData, Report, ReportLength, [](USAGE page, USAGE usage) {
                      USAGE_AND_PAGE entry{};
                      entry.Usage = usage;
                      entry.UsagePage = page;
                      return entry;
                    });
}

NTSTATUS NTAPI HidP_SetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                              PUSAGE UsageList, PULONG UsageLength,
                              PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                              ULONG ReportLength) {
  return ChangeUsages(ReportType, UsagePage, LinkCollection, UsageList, UsageLength, PreparsedData,
                      Report, ReportLength, /*press=*/true);
}

NTSTATUS NTAPI HidP_UnsetUsages(HIDP_REPORT_TYPE ReportType, USAGE UsagePage, USHORT LinkCollection,
                                PUSAGE UsageList, PULONG UsageLength,
                                PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                ULONG ReportLength) {
  return ChangeUsages(ReportType, UsagePage, LinkCollection, UsageList, UsageLength, PreparsedData,
                      Report, ReportLength, /*press=*/false);
}

ULONG NTAPI HidP_MaxUsageListLength(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                    PHIDP_PREPARSED_DATA PreparsedData) {
  TPreparsedView view;
  std::size_t kind = 0;
  if (!ViewPreparsedData(PreparsedData, view) || !KindOf(ReportType, kind)) {
    return 0;
  }
  ULONG total = 0;
  for (const TCap& cap : view.Caps[kind]) {
    if (!cap.IsButton || (UsagePage != 0 && cap.UsagePage != UsagePage)) {
      continue;
    }
    if (cap.IsArray) {
      total += cap.Fields;
    } else {
      total += cap.IsRange ? cap.UsageCount() : 1;
    }
  }
  return total;
}

NTSTATUS NTAPI HidP_GetUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                  USHORT LinkCollection, USAGE Usage, PULONG UsageValue,
                                  PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                  ULONG ReportLength) {
  return WithValue(ReportType, PreparsedData, Report, ReportLength, /*setter=*/false, UsagePage,
                   LinkCollection, Usage, [&](TReport& r, const TCap& cap) -> NTSTATUS {
                     if (UsageValue == nullptr) {
                       return HIDP_STATUS_BUFFER_TOO_SMALL;
                     }
                     *UsageValue = ReadField(r, cap, FieldOf(cap, Usage));
                     return HIDP_STATUS_SUCCESS;
                   });
}

NTSTATUS NTAPI HidP_GetScaledUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                        USHORT LinkCollection, USAGE Usage, PLONG UsageValue,
                                        PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                        ULONG ReportLength) {
  return WithValue(ReportType, PreparsedData, Report, ReportLength, /*setter=*/false, UsagePage,
                   LinkCollection, Usage, [&](TReport& r, const TCap& cap) -> NTSTATUS {
                     if (UsageValue == nullptr) {
                       return HIDP_STATUS_BUFFER_TOO_SMALL;
                     }
                     if (!LogPhyConsistent(cap)) {
                       return HIDP_STATUS_BAD_LOG_PHY_VALUES;
                     }
                     const int64_t logical = FieldValue(r, cap, FieldOf(cap, Usage));
                     if (logical < cap.LogicalMin || logical > cap.LogicalMax) {
                       if (cap.HasNull) {
                         *UsageValue = 0;
                         return HIDP_STATUS_NULL;
                       }
                       return HIDP_STATUS_VALUE_OUT_OF_RANGE;
                     }
                     if (cap.PhysicalMin == 0 && cap.PhysicalMax == 0) {
                       *UsageValue = static_cast<LONG>(logical);
                       return HIDP_STATUS_SUCCESS;
                     }
                     const uint64_t scaled = MulDivRound(
                         static_cast<uint64_t>(logical - cap.LogicalMin),
                         static_cast<uint64_t>(int64_t{cap.PhysicalMax} - cap.PhysicalMin),
                         static_cast<uint64_t>(int64_t{cap.LogicalMax} - cap.LogicalMin));
                     *UsageValue =
                         static_cast<LONG>(cap.PhysicalMin + static_cast<int64_t>(scaled));
                     return HIDP_STATUS_SUCCESS;
                   });
}

NTSTATUS NTAPI HidP_GetUsageValueArray(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                       USHORT LinkCollection, USAGE Usage, PCHAR UsageValue,
                                       USHORT UsageValueByteLength,
                                       PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                       ULONG ReportLength) {
  return ValueArray(ReportType, UsagePage, LinkCollection, Usage, UsageValue, UsageValueByteLength,
                    PreparsedData, Report, ReportLength, /*set=*/false);
}

NTSTATUS NTAPI HidP_SetUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                  USHORT LinkCollection, USAGE Usage, ULONG UsageValue,
                                  PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                  ULONG ReportLength) {
  return WithValue(ReportType, PreparsedData, Report, ReportLength, /*setter=*/true, UsagePage,
                   LinkCollection, Usage, [&](TReport& r, const TCap& cap) -> NTSTATUS {
                     const uint32_t field = FieldOf(cap, Usage);
                     WriteBits(r.Bytes, FieldBit(cap, field), cap.BitSize, UsageValue);
                     return HIDP_STATUS_SUCCESS;
                   });
}

NTSTATUS NTAPI HidP_SetScaledUsageValue(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                        USHORT LinkCollection, USAGE Usage, LONG UsageValue,
                                        PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                        ULONG ReportLength) {
  return WithValue(ReportType, PreparsedData, Report, ReportLength, /*setter=*/true, UsagePage,
                   LinkCollection, Usage, [&](TReport& r, const TCap& cap) -> NTSTATUS {
                     if (!LogPhyConsistent(cap)) {
                       return HIDP_STATUS_BAD_LOG_PHY_VALUES;
                     }
                     const uint32_t bit = FieldBit(cap, FieldOf(cap, Usage));
                     const bool hasPhysical = cap.PhysicalMin != 0 || cap.PhysicalMax != 0;
                     const int32_t low = hasPhysical ? cap.PhysicalMin : cap.LogicalMin;
                     const int32_t high = hasPhysical ? cap.PhysicalMax : cap.LogicalMax;
                     if (UsageValue < low || UsageValue > high) {
                       const std::optional<uint32_t> null = NullRaw(cap);
                       if (cap.HasNull && null) {
                         WriteBits(r.Bytes, bit, cap.BitSize, *null);
                         return HIDP_STATUS_NULL;
                       }
                       return HIDP_STATUS_VALUE_OUT_OF_RANGE;
                     }
                     int64_t logical = UsageValue;
                     if (hasPhysical) {
                       logical =
                           cap.LogicalMin +
                           static_cast<int64_t>(MulDivRound(
                               static_cast<uint64_t>(int64_t{UsageValue} - low),
                               static_cast<uint64_t>(int64_t{cap.LogicalMax} - cap.LogicalMin),
                               static_cast<uint64_t>(int64_t{high} - low)));
                     }
                     const auto raw = static_cast<uint32_t>(logical);
                     if (FieldNumber(raw, cap.BitSize, cap.LogicalMin < 0) != logical) {
                       // A logical range wider than the field: the value would read back as another
                       // one.
                       return HIDP_STATUS_VALUE_OUT_OF_RANGE;
                     }
                     WriteBits(r.Bytes, bit, cap.BitSize, raw);
                     return HIDP_STATUS_SUCCESS;
                   });
}

NTSTATUS NTAPI HidP_SetUsageValueArray(HIDP_REPORT_TYPE ReportType, USAGE UsagePage,
                                       USHORT LinkCollection, USAGE Usage, PCHAR UsageValue,
                                       USHORT UsageValueByteLength,
                                       PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                       ULONG ReportLength) {
  return ValueArray(ReportType, UsagePage, LinkCollection, Usage, UsageValue, UsageValueByteLength,
                    PreparsedData, Report, ReportLength, /*set=*/true);
}

NTSTATUS NTAPI HidP_UsageListDifference(PUSAGE PreviousUsageList, PUSAGE CurrentUsageList,
                                        PUSAGE BreakUsageList, PUSAGE MakeUsageList,
                                        ULONG UsageListLength) {
  if (UsageListLength == 0) {
    return HIDP_STATUS_SUCCESS;
  }
  if (PreviousUsageList == nullptr || CurrentUsageList == nullptr || BreakUsageList == nullptr ||
      MakeUsageList == nullptr) {
    return HIDP_STATUS_INTERNAL_ERROR;
  }
  // A 0 ends a list early.
  auto listOf = [UsageListLength](const USAGE* list) {
    std::vector<USAGE> out;
    for (ULONG i = 0; i < UsageListLength && list[i] != 0; ++i) {
      out.push_back(list[i]);
    }
    return out;
  };
  const std::vector<USAGE> previous = listOf(PreviousUsageList);
  const std::vector<USAGE> current = listOf(CurrentUsageList);
  // Built apart and written last, so an output may be the same array as an input.
  auto onlyIn = [](const std::vector<USAGE>& in, const std::vector<USAGE>& notIn) {
    std::vector<USAGE> out;
    for (const USAGE usage : in) {
      if (std::find(notIn.begin(), notIn.end(), usage) == notIn.end()) {
        out.push_back(usage);
      }
    }
    return out;
  };
  const std::vector<USAGE> breaks = onlyIn(previous, current);
  const std::vector<USAGE> makes = onlyIn(current, previous);
  std::fill(BreakUsageList, BreakUsageList + UsageListLength, USAGE{0});
  std::fill(MakeUsageList, MakeUsageList + UsageListLength, USAGE{0});
  std::copy(breaks.begin(), breaks.end(), BreakUsageList);
  std::copy(makes.begin(), makes.end(), MakeUsageList);
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS NTAPI HidP_TranslateUsagesToI8042ScanCodes(PUSAGE, ULONG, HIDP_KEYBOARD_DIRECTION,
                                                    PHIDP_KEYBOARD_MODIFIER_STATE,
                                                    PHIDP_INSERT_SCANCODES, PVOID) {
  // PS/2 scan codes have no meaning for the devices this layer serves.
  return HIDP_STATUS_NOT_IMPLEMENTED;
}

NTSTATUS NTAPI HidP_GetExtendedAttributes(HIDP_REPORT_TYPE ReportType, USHORT DataIndex,
                                          PHIDP_PREPARSED_DATA PreparsedData,
                                          PHIDP_EXTENDED_ATTRIBUTES Attributes,
                                          PULONG LengthAttributes) {
  TPreparsedView view;
  if (!ViewPreparsedData(PreparsedData, view)) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  std::size_t kind = 0;
  if (!KindOf(ReportType, kind)) {
    return HIDP_STATUS_INVALID_REPORT_TYPE;
  }
  const TCap* cap = CapOfIndex(view.Caps[kind], DataIndex);
  if (cap == nullptr) {
    return HIDP_STATUS_DATA_INDEX_NOT_FOUND;
  }
  constexpr ULONG fixed = offsetof(HIDP_EXTENDED_ATTRIBUTES, Data);
  if (Attributes == nullptr || LengthAttributes == nullptr ||
      *LengthAttributes < sizeof(HIDP_EXTENDED_ATTRIBUTES)) {
    return HIDP_STATUS_BUFFER_TOO_SMALL;
  }
  const ULONG capacity = *LengthAttributes;
  const ULONG count = std::min<ULONG>(cap->TokenCount, 0xFF);
  const ULONG needed = fixed + count * ULONG{sizeof(HIDP_UNKNOWN_TOKEN)};
  const ULONG fitting = std::min<ULONG>(count, (capacity - fixed) / sizeof(HIDP_UNKNOWN_TOKEN));
  auto* bytes = reinterpret_cast<unsigned char*>(Attributes);
  std::memset(bytes, 0, fixed);
  Attributes->NumGlobalUnknowns = static_cast<UCHAR>(count);
  // The tokens sit at Data, only 4-aligned in the caller's buffer: copied bytewise.
  Attributes->GlobalUnknowns = reinterpret_cast<PHIDP_UNKNOWN_TOKEN>(bytes + fixed);
  const auto unknowns = view.Unknowns.subspan(cap->FirstToken, cap->TokenCount);
  for (ULONG i = 0; i < fitting; ++i) {
    HIDP_UNKNOWN_TOKEN token{};
    token.Token = unknowns[i].Prefix;
    token.BitField = unknowns[i].Data;
    std::memcpy(bytes + fixed + i * sizeof token, &token, sizeof token);
  }
  *LengthAttributes = needed;
  return fitting < count ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

NTSTATUS NTAPI HidP_InitializeReportForID(HIDP_REPORT_TYPE ReportType, UCHAR ReportID,
                                          PHIDP_PREPARSED_DATA PreparsedData, PCHAR Report,
                                          ULONG ReportLength) {
  TReport r;
  if (const NTSTATUS status = OpenReport(ReportType, PreparsedData, Report, ReportLength, r);
      status != HIDP_STATUS_SUCCESS) {
    return status;
  }
  if (!r.View.HasReport(r.Kind, ReportID)) {
    return HIDP_STATUS_REPORT_DOES_NOT_EXIST;
  }
  std::fill(r.Bytes.begin(), r.Bytes.end(), uint8_t{0});
  r.Bytes[0] = ReportID;
  // Fields with a null state start null, so that sending the report changes only what the
  // caller set.
  for (const TCap& cap : r.Caps) {
    if (cap.ReportId != ReportID || cap.IsButton || !cap.HasNull) {
      continue;
    }
    if (const std::optional<uint32_t> null = NullRaw(cap)) {
      for (uint32_t field = 0; field < cap.Fields; ++field) {
        WriteBits(r.Bytes, FieldBit(cap, field), cap.BitSize, *null);
      }
    }
  }
  return HIDP_STATUS_SUCCESS;
}

}  // extern "C"
