#include "sim/WorldJson.h"

#include <array>
#include <charconv>
#include <initializer_list>

#include "platform/Utf.h"
#include "relay/RelayProtocol.h"
#include "wintypes/WinTypes.h"

namespace quorvel::sim {
namespace {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

// USB string descriptors hold at most 126 UTF-16 code units.
constexpr std::size_t kMaxStringUnits = 126;

struct TBadField {
  std::string Message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw TBadField{where + ": " + what};
}

constexpr std::array<std::pair<std::uint32_t, const char*>, 36> kPropertyNames = {{
    {SPDRP_DEVICEDESC, "SPDRP_DEVICEDESC"},
    {SPDRP_HARDWAREID, "SPDRP_HARDWAREID"},
    {SPDRP_COMPATIBLEIDS, "SPDRP_COMPATIBLEIDS"},
    {SPDRP_UNUSED0, "SPDRP_UNUSED0"},
    {SPDRP_SERVICE, "SPDRP_SERVICE"},
    {SPDRP_UNUSED1, "SPDRP_UNUSED1"},
    {SPDRP_UNUSED2, "SPDRP_UNUSED2"},
    {SPDRP_CLASS, "SPDRP_CLASS"},
    {SPDRP_CLASSGUID, "SPDRP_CLASSGUID"},
    {SPDRP_DRIVER, "SPDRP_DRIVER"},
    {SPDRP_CONFIGFLAGS, "SPDRP_CONFIGFLAGS"},
    {SPDRP_MFG, "SPDRP_MFG"},
    {SPDRP_FRIENDLYNAME, "SPDRP_FRIENDLYNAME"},
    {SPDRP_LOCATION_INFORMATION, "SPDRP_LOCATION_INFORMATION"},
    {SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, "SPDRP_PHYSICAL_DEVICE_OBJECT_NAME"},
    {SPDRP_CAPABILITIES, "SPDRP_CAPABILITIES"},
    {SPDRP_UI_NUMBER, "SPDRP_UI_NUMBER"},
    {SPDRP_UPPERFILTERS, "SPDRP_UPPERFILTERS"},
    {SPDRP_LOWERFILTERS, "SPDRP_LOWERFILTERS"},
    {SPDRP_BUSTYPEGUID, "SPDRP_BUSTYPEGUID"},
    {SPDRP_LEGACYBUSTYPE, "SPDRP_LEGACYBUSTYPE"},
    {SPDRP_BUSNUMBER, "SPDRP_BUSNUMBER"},
    {SPDRP_ENUMERATOR_NAME, "SPDRP_ENUMERATOR_NAME"},
    {SPDRP_SECURITY, "SPDRP_SECURITY"},
    {SPDRP_SECURITY_SDS, "SPDRP_SECURITY_SDS"},
    {SPDRP_DEVTYPE, "SPDRP_DEVTYPE"},
    {SPDRP_EXCLUSIVE, "SPDRP_EXCLUSIVE"},
    {SPDRP_CHARACTERISTICS, "SPDRP_CHARACTERISTICS"},
    {SPDRP_ADDRESS, "SPDRP_ADDRESS"},
    {SPDRP_UI_NUMBER_DESC_FORMAT, "SPDRP_UI_NUMBER_DESC_FORMAT"},
    {SPDRP_DEVICE_POWER_DATA, "SPDRP_DEVICE_POWER_DATA"},
    {SPDRP_REMOVAL_POLICY, "SPDRP_REMOVAL_POLICY"},
    {SPDRP_REMOVAL_POLICY_HW_DEFAULT, "SPDRP_REMOVAL_POLICY_HW_DEFAULT"},
    {SPDRP_REMOVAL_POLICY_OVERRIDE, "SPDRP_REMOVAL_POLICY_OVERRIDE"},
    {SPDRP_INSTALL_STATE, "SPDRP_INSTALL_STATE"},
    {SPDRP_LOCATION_PATHS, "SPDRP_LOCATION_PATHS"},
}};

std::string PropertyName(std::uint32_t code) {
  for (const auto& [value, name] : kPropertyNames) {
    if (value == code) {
      return name;
    }
  }
  char text[8];
  const auto end = std::to_chars(text, text + sizeof text, code, 16).ptr;
  return "0x" + std::string(text, end);
}

std::uint32_t PropertyCode(const std::string& name) {
  for (const auto& [value, text] : kPropertyNames) {
    if (name == text) {
      return value;
    }
  }
  std::uint32_t code = 0;
  if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
    const auto [end, ec] = std::from_chars(name.data() + 2, name.data() + name.size(), code, 16);
    if (ec == std::errc() && end == name.data() + name.size() && code < SPDRP_MAXIMUM_PROPERTY) {
      return code;
    }
  }
  Fail("properties", "unknown property \"" + name + "\"");
}

// A number, or a string in decimal or 0x-hexadecimal, no larger than max.
std::uint64_t Number(const TJson& json, const std::string& where, std::uint64_t max) {
  std::uint64_t value = 0;
  if (json.is_number_unsigned()) {
    value = json.get<std::uint64_t>();
  } else if (json.is_number_integer()) {
    if (json.get<std::int64_t>() < 0) {
      Fail(where, "must not be negative");
    }
    value = static_cast<std::uint64_t>(json.get<std::int64_t>());
  } else if (json.is_string()) {
    const auto& text = json.get_ref<const std::string&>();
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(begin, end, value, hex ? 16 : 10);
    if (ec != std::errc() || stop != end || begin == end) {
      Fail(where, "\"" + text + "\" is not a number");
    }
  } else {
    Fail(where, "must be a number");
  }
  if (value > max) {
    Fail(where, std::to_string(value) + " is larger than " + std::to_string(max));
  }
  return value;
}

std::uint32_t Error(const TJson& json, const std::string& where) {
  return static_cast<std::uint32_t>(Number(json, where, 0xFFFFFFFF));
}

std::u16string Text(const TJson& json, const std::string& where, bool usbString) {
  if (!json.is_string()) {
    Fail(where, "must be text");
  }
  auto text = Utf8ToUtf16(json.get_ref<const std::string&>());
  if (usbString && text.size() > kMaxStringUnits) {
    Fail(where, "longer than a USB string descriptor can hold (126 UTF-16 units)");
  }
  return text;
}

std::optional<std::u16string> OptionalText(const TJson& object, const char* key) {
  if (!object.contains(key) || object[key].is_null()) {
    return std::nullopt;
  }
  return Text(object[key], key, true);
}

TBytes Hex(const TJson& json, const std::string& where) {
  if (!json.is_string()) {
    Fail(where, "must be bytes as hexadecimal text");
  }
  auto bytes = ParseHex(json.get_ref<const std::string&>());
  if (!bytes) {
    Fail(where, "is not hexadecimal bytes (\"00 ff 12\")");
  }
  return std::move(*bytes);
}

bool Flag(const TJson& json, const std::string& where) {
  if (!json.is_boolean()) {
    Fail(where, "must be true or false");
  }
  return json.get<bool>();
}

void OnlyKeys(const TJson& object, const std::string& where,
              std::initializer_list<const char*> keys) {
  if (!object.is_object()) {
    Fail(where, "must be an object");
  }
  for (const auto& item : object.items()) {
    bool known = false;
    for (const char* key : keys) {
      known = known || item.key() == key;
    }
    if (!known) {
      Fail(where, "unknown field \"" + item.key() + "\"");
    }
  }
}

std::uint8_t ReportId(const std::string& key, const std::string& where) {
  return static_cast<std::uint8_t>(Number(TJson(key), where + " report ID", 0xFF));
}

std::map<std::uint8_t, TBytes> ReportsById(const TJson& json, const std::string& where) {
  if (!json.is_object()) {
    Fail(where, "must be an object of reports by report ID");
  }
  std::map<std::uint8_t, TBytes> reports;
  for (const auto& item : json.items()) {
    const auto id = ReportId(item.key(), where);
    auto bytes = Hex(item.value(), where + "." + item.key());
    if (bytes.empty() || bytes[0] != id) {
      Fail(where + "." + item.key(), "must begin with its report ID");
    }
    reports[id] = std::move(bytes);
  }
  return reports;
}

TJson ReportsToJson(const std::map<std::uint8_t, TBytes>& reports) {
  TJson json = TJson::object();
  for (const auto& [id, bytes] : reports) {
    json[std::to_string(id)] = ToHex(bytes);
  }
  return json;
}

TPropertyValue PropertyValue(const TJson& json, const std::string& where) {
  if (json.is_string()) {
    return Text(json, where, false);
  }
  if (json.is_array()) {
    std::vector<std::u16string> list;
    for (const auto& item : json) {
      list.push_back(Text(item, where, false));
      if (list.back().empty()) {
        Fail(where, "an empty text cannot stand in a list of texts");
      }
    }
    return list;
  }
  if (json.is_object()) {
    OnlyKeys(json, where, {"binary"});
    if (!json.contains("binary")) {
      Fail(where, "an object must hold \"binary\"");
    }
    return Hex(json["binary"], where);
  }
  return static_cast<std::uint32_t>(Number(json, where, 0xFFFFFFFF));
}

TJson PropertyToJson(const TPropertyValue& value) {
  if (const auto* text = std::get_if<std::u16string>(&value)) {
    return Utf16ToUtf8(*text);
  }
  if (const auto* list = std::get_if<std::vector<std::u16string>>(&value)) {
    TJson json = TJson::array();
    for (const auto& text : *list) {
      json.push_back(Utf16ToUtf8(text));
    }
    return json;
  }
  if (const auto* number = std::get_if<std::uint32_t>(&value)) {
    return *number;
  }
  return TJson{{"binary", ToHex(std::get<TBytes>(value))}};
}

TCallFault CallFault(const TJson& json, const std::string& where) {
  OnlyKeys(json, where, {"from", "error"});
  TCallFault fault;
  fault.From = static_cast<std::uint32_t>(
      Number(json.value("from", TJson(1u)), where + ".from", 0xFFFFFFFF));
  fault.Error = Error(json.value("error", TJson(ERROR_GEN_FAILURE)), where + ".error");
  if (fault.Error == ERROR_SUCCESS) {
    Fail(where + ".error", "a failure needs an error code other than 0");
  }
  return fault;
}

bool Printable(const std::string& text) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) {
      return false;
    }
  }
  return true;
}

void ReadRelay(const TJson& json, TSimDevice& device) {
  OnlyKeys(json, "relay", {"boardId", "boardIdBytes", "relays", "state", "commanded"});
  std::string id = "QRVL1";
  if (json.contains("boardIdBytes")) {
    const auto bytes = Hex(json["boardIdBytes"], "relay.boardIdBytes");
    id.assign(bytes.begin(), bytes.end());
  } else if (json.contains("boardId")) {
    if (!json["boardId"].is_string()) {
      Fail("relay.boardId", "must be text");
    }
    id = json["boardId"].get<std::string>();
  }
  if (id.size() != TRelayBoard::kBoardIdLength) {
    Fail("relay.boardId", "must be five characters, not " + std::to_string(id.size()));
  }
  const auto relays = static_cast<int>(Number(json.value("relays", TJson(8u)), "relay.relays", 8));
  if (!TRelayBoard::ValidRelayCount(relays)) {
    Fail("relay.relays", "must be 1, 2, 4 or 8");
  }
  // "commanded" is the state the board was told; "state" what it reports. Without a
  // stuck relay they are the same, and either may be given.
  const char* stateKey = json.contains("commanded") ? "commanded" : "state";
  const auto state =
      static_cast<std::uint8_t>(Number(json.value(stateKey, TJson(0u)), "relay.state", 0xFF));
  device.Relay.emplace(std::move(id), relays, state);
}

void ReadGeneric(const TJson& json, TSimDevice& device) {
  OnlyKeys(json, "generic", {"features", "inputReports", "input", "outputs"});
  auto& generic = device.Generic;
  if (json.contains("features")) {
    generic.Features = ReportsById(json["features"], "generic.features");
  }
  if (json.contains("inputReports")) {
    generic.InputReports = ReportsById(json["inputReports"], "generic.inputReports");
  }
  for (const char* key : {"input", "outputs"}) {
    if (!json.contains(key)) {
      continue;
    }
    if (!json[key].is_array()) {
      Fail(std::string("generic.") + key, "must be a list of reports");
    }
    for (const auto& report : json[key]) {
      auto bytes = Hex(report, std::string("generic.") + key);
      if (key == std::string("input")) {
        generic.InputQueue.push_back(std::move(bytes));
      } else {
        generic.Outputs.push_back(std::move(bytes));
      }
    }
  }
}

void ReadFaults(const TJson& json, TSimDevice& device) {
  OnlyKeys(json, "faults",
           {"open", "openError", "attributesError", "getFeature", "setFeature", "vanishAfter",
            "relayStuck", "interfaceDetailError", "deviceSetError"});
  auto& faults = device.Faults;
  if (json.contains("open")) {
    const auto& open = json["open"];
    if (open == "normal") {
      faults.Open = TOpenFault::None;
    } else if (open == "metadataOnly") {
      faults.Open = TOpenFault::MetadataOnly;
    } else if (open == "refused") {
      faults.Open = TOpenFault::Refused;
    } else {
      Fail("faults.open", "must be \"normal\", \"metadataOnly\" or \"refused\"");
    }
  }
  if (json.contains("openError")) {
    faults.OpenError = Error(json["openError"], "faults.openError");
  }
  if (json.contains("attributesError") && !json["attributesError"].is_null()) {
    faults.AttributesError = Error(json["attributesError"], "faults.attributesError");
  }
  if (json.contains("getFeature")) {
    faults.GetFeature = CallFault(json["getFeature"], "faults.getFeature");
  }
  if (json.contains("setFeature")) {
    faults.SetFeature = CallFault(json["setFeature"], "faults.setFeature");
  }
  if (json.contains("interfaceDetailError") && !json["interfaceDetailError"].is_null()) {
    faults.InterfaceDetailError =
        Error(json["interfaceDetailError"], "faults.interfaceDetailError");
  }
  if (json.contains("deviceSetError") && !json["deviceSetError"].is_null()) {
    faults.DeviceSetError = Error(json["deviceSetError"], "faults.deviceSetError");
  }
  if (json.contains("vanishAfter") && !json["vanishAfter"].is_null()) {
    faults.VanishAfter =
        static_cast<std::uint32_t>(Number(json["vanishAfter"], "faults.vanishAfter", 0xFFFFFFFF));
  }
  if (json.contains("relayStuck")) {
    if (!device.Relay) {
      Fail("faults.relayStuck", "only a relay board has relays");
    }
    const auto& stuck = json["relayStuck"];
    OnlyKeys(stuck, "faults.relayStuck", {"mask", "value"});
    device.Relay->SetStuck(
        static_cast<std::uint8_t>(Number(stuck.value("mask", TJson(0u)), "relayStuck.mask", 0xFF)),
        static_cast<std::uint8_t>(
            Number(stuck.value("value", TJson(0u)), "relayStuck.value", 0xFF)));
  }
}

void ReadCounters(const TJson& json, TSimDevice& device) {
  OnlyKeys(json, "counters", {"calls", "getFeature", "setFeature"});
  auto count = [&json](const char* key) {
    return static_cast<std::uint32_t>(
        Number(json.value(key, TJson(0u)), std::string("counters.") + key, 0xFFFFFFFF));
  };
  device.Counters = {count("calls"), count("getFeature"), count("setFeature")};
}

// Which device it is: number, instance, kind (relay board or generic) and USB IDs.
// True for a relay board, whose IDs and texts default to the real boards'.
bool ReadIdentity(const TJson& json, TSimDevice& device) {
  device.Id = static_cast<int>(Number(json.value("id", TJson(0u)), "id", 0x7FFFFFFF));
  device.Instance =
      static_cast<std::uint32_t>(Number(json.value("instance", TJson(0u)), "instance", 0xFFFFFFFF));
  if (json.contains("relay") && json.contains("generic")) {
    Fail("device", "is either a relay board or a generic device, not both");
  }
  const bool relay = json.contains("relay");
  if (relay) {
    ReadRelay(json["relay"], device);
  } else if (json.contains("generic")) {
    ReadGeneric(json["generic"], device);
  }
  auto number16 = [&json](const char* key, unsigned fallback) {
    return static_cast<std::uint16_t>(Number(json.value(key, TJson(fallback)), key, 0xFFFF));
  };
  device.VendorId = number16("vendorId", relay ? relay::kVendorId : 0);
  device.ProductId = number16("productId", relay ? relay::kProductId : 0);
  device.Version = number16("version", relay ? relay::kVersion : 0);
  return relay;
}

// The texts, the language IDs and the string descriptors by index.
void ReadStrings(const TJson& json, TSimDevice& device, bool relay) {
  if (relay) {
    // The real boards: the maker's web address, "USBRelayN", no serial number.
    device.Manufacturer = relay::kManufacturer16;
    device.Product = std::u16string(relay::kProductPrefix16) +
                     Utf8ToUtf16(std::to_string(device.Relay->Relays()));
  }
  for (auto [key, field] :
       {std::pair{"manufacturer", &device.Manufacturer}, std::pair{"product", &device.Product},
        std::pair{"serial", &device.Serial}}) {
    if (json.contains(key)) {
      *field = OptionalText(json, key);
    }
  }
  device.Languages = {0x0409};
  if (json.contains("languages")) {
    if (!json["languages"].is_array()) {
      Fail("languages", "must be a list of language IDs");
    }
    device.Languages.clear();
    for (const auto& language : json["languages"]) {
      const auto id = static_cast<std::uint16_t>(Number(language, "languages", 0xFFFF));
      if (id == 0) {
        Fail("languages", "0 is not a language ID");
      }
      device.Languages.push_back(id);
    }
    if (device.Languages.size() > kMaxStringUnits) {
      Fail("languages", "more than a string descriptor can hold");
    }
  }
  if (!json.contains("strings")) {
    // The usual string indices of a USB device descriptor.
    for (auto [index, field] : {std::pair{1u, &device.Manufacturer}, std::pair{2u, &device.Product},
                                std::pair{3u, &device.Serial}}) {
      if (*field) {
        device.Strings[index] = **field;
      }
    }
  } else {
    if (!json["strings"].is_object()) {
      Fail("strings", "must be an object of texts by string index");
    }
    for (const auto& item : json["strings"].items()) {
      const auto index =
          static_cast<std::uint32_t>(Number(TJson(item.key()), "strings index", 0xFF));
      if (index == 0) {
        Fail("strings", "index 0 holds the language IDs; use \"languages\"");
      }
      device.Strings[index] = Text(item.value(), "strings." + item.key(), true);
    }
  }
}

// The report descriptor (a relay board's by default) with its layout, and the
// physical descriptor.
void ReadDescriptors(const TJson& json, TSimDevice& device, bool relay) {
  device.ReportDescriptor = json.contains("reportDescriptor")
                                ? Hex(json["reportDescriptor"], "reportDescriptor")
                                : (relay ? TBytes(TRelayBoard::ReportDescriptor().begin(),
                                                  TRelayBoard::ReportDescriptor().end())
                                         : TBytes{});
  std::string reason;
  const auto layout = LayoutFromDescriptor(device.ReportDescriptor, &reason);
  if (!layout) {
    Fail("reportDescriptor", reason);
  }
  device.Layout = *layout;
  if (json.contains("physicalDescriptor") && !json["physicalDescriptor"].is_null()) {
    device.PhysicalDescriptor = Hex(json["physicalDescriptor"], "physicalDescriptor");
  }
}

// Properties that differ from the ones the device's identity gives.
void ReadProperties(const TJson& json, TSimDevice& device) {
  if (json.contains("properties")) {
    if (!json["properties"].is_object()) {
      Fail("properties", "must be an object of values by property name");
    }
    for (const auto& item : json["properties"].items()) {
      const auto code = PropertyCode(item.key());
      device.PropertyChanges[code] =
          item.value().is_null()
              ? std::nullopt
              : std::optional(PropertyValue(item.value(), "properties." + item.key()));
    }
  }
  // Built again when the world numbers a device that has no instance number yet.
  BuildProperties(device);
}

std::shared_ptr<TSimDevice> ReadDevice(const TJson& json) {
  OnlyKeys(
      json, "device",
      {"id", "instance", "vendorId", "productId", "version", "manufacturer", "product", "serial",
       "languages", "strings", "properties", "reportDescriptor", "physicalDescriptor", "relay",
       "generic", "faults", "counters", "numInputBuffers", "vanished",
       // written for readers by a running process; ignored when read back
       "path", "openHandles"});
  auto device = std::make_shared<TSimDevice>();
  const bool relay = ReadIdentity(json, *device);
  ReadStrings(json, *device, relay);
  ReadDescriptors(json, *device, relay);
  ReadProperties(json, *device);
  if (json.contains("faults")) {
    ReadFaults(json["faults"], *device);
  }
  if (json.contains("counters")) {
    ReadCounters(json["counters"], *device);
  }
  if (json.contains("numInputBuffers")) {
    device->NumInputBuffers =
        static_cast<std::uint32_t>(Number(json["numInputBuffers"], "numInputBuffers", 512));
    if (device->NumInputBuffers < 2) {
      Fail("numInputBuffers", "must be 2 to 512");
    }
  }
  if (json.contains("vanished")) {
    device->Vanished = Flag(json["vanished"], "vanished");
  }
  return device;
}

TJson Hex16(std::uint16_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) {
    text.push_back(kDigits[(value >> shift) & 0xF]);
  }
  return text;
}

}  // namespace

std::shared_ptr<TSimDevice> DeviceFromJson(const TJson& json, std::string& error) {
  try {
    return ReadDevice(json);
  } catch (const TBadField& bad) {
    error = bad.Message;
  } catch (const nlohmann::json::exception& bad) {
    error = bad.what();
  }
  return nullptr;
}

TJson DeviceToJson(const TSimDevice& device, bool withRuntime) {
  TJson json;
  json["id"] = device.Id;
  json["instance"] = device.Instance;
  json["vendorId"] = Hex16(device.VendorId);
  json["productId"] = Hex16(device.ProductId);
  json["version"] = Hex16(device.Version);
  for (auto [key, field] :
       {std::pair{"manufacturer", &device.Manufacturer}, std::pair{"product", &device.Product},
        std::pair{"serial", &device.Serial}}) {
    json[key] = *field ? TJson(Utf16ToUtf8(**field)) : TJson(nullptr);
  }
  json["languages"] = device.Languages;
  json["strings"] = TJson::object();
  for (const auto& [index, text] : device.Strings) {
    json["strings"][std::to_string(index)] = Utf16ToUtf8(text);
  }
  // Every property, and null for the usual ones this device lacks, so that reading the
  // description back gives the same set.
  json["properties"] = TJson::object();
  for (const auto& [code, value] : DefaultProperties(device)) {
    if (device.Properties.count(code) == 0) {
      json["properties"][PropertyName(code)] = nullptr;
    }
  }
  for (const auto& [code, value] : device.Properties) {
    json["properties"][PropertyName(code)] = PropertyToJson(value);
  }
  json["reportDescriptor"] = ToHex(device.ReportDescriptor);
  json["physicalDescriptor"] =
      device.PhysicalDescriptor ? TJson(ToHex(*device.PhysicalDescriptor)) : TJson(nullptr);
  TJson faults;
  if (device.Relay) {
    const auto& relay = *device.Relay;
    TJson board;
    if (Printable(relay.BoardId())) {
      board["boardId"] = relay.BoardId();
    } else {
      board["boardIdBytes"] = ToHex(std::span(
          reinterpret_cast<const std::uint8_t*>(relay.BoardId().data()), relay.BoardId().size()));
    }
    board["relays"] = relay.Relays();
    board["commanded"] = relay.Commanded();
    if (withRuntime) {
      board["state"] = relay.State();
    }
    json["relay"] = board;
    if (relay.StuckMask() != 0) {
      faults["relayStuck"] = {{"mask", relay.StuckMask()}, {"value", relay.StuckValue()}};
    }
  } else {
    TJson generic;
    generic["features"] = ReportsToJson(device.Generic.Features);
    generic["inputReports"] = ReportsToJson(device.Generic.InputReports);
    generic["input"] = TJson::array();
    for (const auto& report : device.Generic.InputQueue) {
      generic["input"].push_back(ToHex(report));
    }
    generic["outputs"] = TJson::array();
    for (const auto& report : device.Generic.Outputs) {
      generic["outputs"].push_back(ToHex(report));
    }
    json["generic"] = generic;
  }
  const auto& f = device.Faults;
  if (f.Open != TOpenFault::None) {
    faults["open"] = f.Open == TOpenFault::MetadataOnly ? "metadataOnly" : "refused";
    if (f.OpenError != 0) {
      faults["openError"] = f.OpenError;
    }
  }
  if (f.AttributesError) {
    faults["attributesError"] = *f.AttributesError;
  }
  if (f.GetFeature.From != 0) {
    faults["getFeature"] = {{"from", f.GetFeature.From}, {"error", f.GetFeature.Error}};
  }
  if (f.SetFeature.From != 0) {
    faults["setFeature"] = {{"from", f.SetFeature.From}, {"error", f.SetFeature.Error}};
  }
  if (f.VanishAfter) {
    faults["vanishAfter"] = *f.VanishAfter;
  }
  if (f.InterfaceDetailError) {
    faults["interfaceDetailError"] = *f.InterfaceDetailError;
  }
  if (f.DeviceSetError) {
    faults["deviceSetError"] = *f.DeviceSetError;
  }
  json["faults"] = faults.is_null() ? TJson::object() : faults;
  json["counters"] = {{"calls", device.Counters.Calls},
                      {"getFeature", device.Counters.GetFeature},
                      {"setFeature", device.Counters.SetFeature}};
  json["numInputBuffers"] = device.NumInputBuffers;
  json["vanished"] = device.Vanished;
  if (withRuntime) {
    json["path"] = Utf16ToUtf8(DevicePath(device));
    json["openHandles"] = device.OpenHandles;
  }
  return json;
}

TJson DevicesToJson(const std::vector<std::shared_ptr<TSimDevice>>& devices, bool withRuntime) {
  TJson json = TJson::array();
  for (const auto& device : devices) {
    json.push_back(DeviceToJson(*device, withRuntime));
  }
  return json;
}

TJson LogEntryToJson(const TLogEntry& entry) {
  TJson json;
  json["device"] = entry.Device;
  json["call"] = entry.Call;
  if (entry.Arg) {
    json["arg"] = *entry.Arg;
  }
  if (!entry.Sent.empty()) {
    json["sent"] = ToHex(entry.Sent);
  }
  if (!entry.Received.empty()) {
    json["received"] = ToHex(entry.Received);
  }
  json["error"] = entry.Error;
  return json;
}

bool LogEntryFromJson(const TJson& json, TLogEntry& entry, std::string& error) {
  try {
    OnlyKeys(json, "log entry", {"device", "call", "arg", "sent", "received", "error"});
    entry.Device = static_cast<int>(Number(json.value("device", TJson(0u)), "device", 0x7FFFFFFF));
    if (!json.contains("call") || !json["call"].is_string()) {
      Fail("log entry", "needs the call's name");
    }
    entry.Call = json["call"].get<std::string>();
    if (json.contains("arg")) {
      entry.Arg = static_cast<std::uint32_t>(Number(json["arg"], "arg", 0xFFFFFFFF));
    }
    entry.Sent = json.contains("sent") ? Hex(json["sent"], "sent") : TBytes{};
    entry.Received = json.contains("received") ? Hex(json["received"], "received") : TBytes{};
    entry.Error = Error(json.value("error", TJson(0u)), "error");
    return true;
  } catch (const TBadField& bad) {
    error = bad.Message;
  } catch (const nlohmann::json::exception& bad) {
    error = bad.what();
  }
  return false;
}

bool ParseJson(std::string_view text, TJson& json, std::string& error) {
  // The JSON library copies, compares and prints a value recursively: the depth is
  // checked on the text, in one pass that keeps only a count.
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) {
        error = "lists and objects nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
        json = TJson(TJson::value_t::discarded);
        return false;
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  json = TJson::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) {
    error = "not valid JSON";
    return false;
  }
  return true;
}

bool WorldFromJson(const TJson& json, TWorldDescription& world, std::string& error) {
  if (!json.is_object()) {
    error = "the world must be a JSON object";
    return false;
  }
  for (const auto& item : json.items()) {
    if (item.key() != "devices" && item.key() != "log") {
      error = "unknown field \"" + item.key() + "\"";
      return false;
    }
  }
  static const TJson kNone = TJson::array();
  const auto& devices = json.contains("devices") ? json["devices"] : kNone;
  const auto& log = json.contains("log") ? json["log"] : kNone;
  if (!devices.is_array() || !log.is_array()) {
    error = "\"devices\" and \"log\" must be lists";
    return false;
  }
  // Ids and instances taken twice are the world's to refuse, as it numbers the devices.
  for (std::size_t i = 0; i < devices.size(); ++i) {
    std::string reason;
    auto device = DeviceFromJson(devices[i], reason);
    if (!device) {
      error = "device " + std::to_string(i + 1) + ": " + reason;
      return false;
    }
    world.Devices.push_back(std::move(device));
  }
  for (std::size_t i = 0; i < log.size(); ++i) {
    TLogEntry entry;
    std::string reason;
    if (!LogEntryFromJson(log[i], entry, reason)) {
      error = "log entry " + std::to_string(i + 1) + ": " + reason;
      return false;
    }
    world.Log.push_back(std::move(entry));
  }
  return true;
}

std::string WorldToText(const TJson& devices, const std::vector<TLogEntry>& log) {
  std::string text = TJson{{"devices", devices}}.dump(2);
  // The log grows with every call: one entry per line keeps it readable and diffable.
  text.erase(text.size() - 2);  // "\n}"
  text += ",\n  \"log\": [";
  for (std::size_t i = 0; i < log.size(); ++i) {
    text += i == 0 ? "\n    " : ",\n    ";
    text += LogEntryToJson(log[i]).dump();
  }
  text += log.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return text;
}

}  // namespace quorvel::sim
