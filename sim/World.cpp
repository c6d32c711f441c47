#include "sim/World.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

#include "wintypes/WinTypes.h"

namespace quorvel::sim {
namespace {

constexpr std::uint32_t kReadAccess = GENERIC_READ | GENERIC_ALL;
constexpr std::uint32_t kWriteAccess = GENERIC_WRITE | GENERIC_ALL;
// The HID class driver's limits for its input ring buffer.
constexpr std::uint32_t kMinInputBuffers = 2;
constexpr std::uint32_t kMaxInputBuffers = 512;

TBytes Copy(std::span<const std::uint8_t> bytes) {
  return TBytes(bytes.begin(), bytes.end());
}

// Writes code units and a terminating zero when they fit the byte buffer; nothing at
// all when they do not, as the HID class driver does with strings.
std::uint32_t WriteUnits(std::span<const char16_t> units, std::span<std::uint8_t> buffer) {
  const std::size_t needed = (units.size() + 1) * 2;
  if (buffer.size() < needed) {
    return ERROR_INSUFFICIENT_BUFFER;
  }
  for (std::size_t i = 0; i < units.size(); ++i) {
    buffer[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
    buffer[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  buffer[needed - 2] = 0;
  buffer[needed - 1] = 0;
  return ERROR_SUCCESS;
}

std::u16string Hex4(unsigned value) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string out;
  for (int shift = 12; shift >= 0; shift -= 4) {
    out.push_back(kDigits[(value >> shift) & 0xF]);
  }
  return out;
}

// The ID, instance and default properties of a device about to join `devices`.
std::string Number(const std::vector<std::shared_ptr<TSimDevice>>& devices, TSimDevice& device) {
  constexpr int kMaxId = std::numeric_limits<int>::max();
  constexpr std::uint32_t kMaxInstance = std::numeric_limits<std::uint32_t>::max();
  int maxId = 0;
  std::uint32_t maxInstance = 0;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const auto& d = *devices[i];
    if (device.Id != 0 && d.Id == device.Id) {
      return "id: " + std::to_string(device.Id) + " is taken by device " + std::to_string(i + 1);
    }
    if (device.Instance != 0 && d.Instance == device.Instance) {
      return "instance: " + std::to_string(device.Instance) + " is taken by device " +
             std::to_string(i + 1);
    }
    maxId = std::max(maxId, d.Id);
    maxInstance = std::max(maxInstance, d.Instance);
  }
  // After the largest number there is, the lowest free one: a device never gets a number
  // that wraps round, which a later run would refuse or read as "none".
  auto lowestFree = [&devices](auto member) {
    std::vector<std::uint64_t> taken;
    for (const auto& d : devices) {
      taken.push_back(static_cast<std::uint64_t>((*d).*member));
    }
    std::sort(taken.begin(), taken.end());
    std::uint64_t number = 1;
    for (const auto value : taken) {
      if (value == number) {
        ++number;
      } else if (value > number) {
        break;
      }
    }
    return number;
  };
  if (device.Id == 0) {
    device.Id = maxId < kMaxId ? maxId + 1 : static_cast<int>(lowestFree(&TSimDevice::Id));
  }
  if (device.Instance == 0) {
    device.Instance = maxInstance < kMaxInstance
                          ? maxInstance + 1
                          : static_cast<std::uint32_t>(lowestFree(&TSimDevice::Instance));
    BuildProperties(device);
  }
  return {};
}

}  // namespace

bool NumberDevices(std::vector<std::shared_ptr<TSimDevice>>& devices, std::string& error) {
  std::vector<std::shared_ptr<TSimDevice>> numbered;
  numbered.reserve(devices.size());
  for (auto& device : devices) {
    if (auto reason = Number(numbered, *device); !reason.empty()) {
      error = "device " + std::to_string(numbered.size() + 1) + ": " + reason;
      return false;
    }
    numbered.push_back(std::move(device));
  }
  devices = std::move(numbered);
  return true;
}

TWorld& TWorld::Instance() {
  // Deliberately never destroyed: modules may still call in while the process exits.
  static TWorld* world = new TWorld;
  return *world;
}

std::shared_ptr<TSimDevice> TWorld::Find(const std::unique_lock<std::mutex>&, int id) const {
  for (const auto& device : devices_) {
    if (device->Id == id) {
      return device;
    }
  }
  return nullptr;
}

bool TWorld::Reset(std::unique_lock<std::mutex>& lock,
                   std::vector<std::shared_ptr<TSimDevice>> devices, std::vector<TLogEntry> log,
                   std::string& error) {
  if (!NumberDevices(devices, error)) {
    return false;
  }
  for (auto& device : devices_) {
    device->Removed = true;
    UpdateReady(*device);
  }
  devices_ = std::move(devices);
  for (auto& device : devices_) {
    device->Removed = false;
  }
  const auto kept = std::min(log.size(), kMaxLogEntries);
  log_.assign(std::make_move_iterator(log.end() - static_cast<std::ptrdiff_t>(kept)),
              std::make_move_iterator(log.end()));
  Changed(lock);
  sinceSaved_ = {log_.size(), true, true};
  return true;
}

int TWorld::Add(std::unique_lock<std::mutex>& lock, std::shared_ptr<TSimDevice> device,
                std::string& error) {
  error = Number(devices_, *device);
  if (!error.empty()) {
    return 0;
  }
  device->Removed = false;
  devices_.push_back(device);
  Changed(lock);
  return device->Id;
}

bool TWorld::Remove(std::unique_lock<std::mutex>& lock, int id) {
  const auto it = std::find_if(devices_.begin(), devices_.end(),
                               [id](const auto& device) { return device->Id == id; });
  if (it == devices_.end()) {
    return false;
  }
  (*it)->Removed = true;
  UpdateReady(**it);
  devices_.erase(it);
  Changed(lock);
  return true;
}

void TWorld::ClearLog(std::unique_lock<std::mutex>& lock) {
  log_.clear();
  Changed(lock);
  sinceSaved_.Logged = 0;
  sinceSaved_.LogReplaced = true;
}

void TWorld::Changed(std::unique_lock<std::mutex>&) {
  byPath_.clear();
  for (auto& device : devices_) {
    UpdateReady(*device);
    // The path follows the identity, which a change may have touched.
    device->Path = DevicePath(*device);
    byPath_[device->Path] = device;
  }
  PublishDevices(devices_);
  vanishedSincePublished_ = false;
  wake_.notify_all();
  unsaved_ = true;
}

void TWorld::SetPersist(TPersist persist) {
  auto lock = Lock();
  persist_ = std::move(persist);
  unsaved_ = false;  // the world is what was just read
  sinceSaved_ = {};
}

bool TWorld::Save(const std::unique_lock<std::mutex>& lock, std::string& error) {
  if (!persist_ || !unsaved_) {
    return true;
  }
  if (!persist_(*this, lock, error)) {
    return false;
  }
  unsaved_ = false;
  sinceSaved_ = {};
  return true;
}

std::unique_lock<std::mutex> TWorld::LockForExit() const {
  std::unique_lock lock(mutex_, std::defer_lock);
  for (int attempt = 0; attempt < 300 && !lock.try_lock(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return lock;
}

std::vector<TInterfaceInfo> TWorld::Snapshot(bool presentOnly) const {
  auto lock = Lock();
  std::vector<TInterfaceInfo> set;
  for (const auto& device : devices_) {
    if (presentOnly && device->Vanished) {
      continue;
    }
    set.push_back({device->Id, device->Instance, device->Path, device->Properties,
                   device->Faults.InterfaceDetailError});
  }
  return set;
}

std::optional<std::uint32_t> TWorld::DeviceSetError() const {
  auto lock = Lock();
  for (const auto& device : devices_) {
    if (!device->Vanished && device->Faults.DeviceSetError) {
      return device->Faults.DeviceSetError;
    }
  }
  return std::nullopt;
}

void TWorld::UpdateReady(TSimDevice& device) {
  device.InputReady.Set(device.Gone() || !device.Generic.InputQueue.empty());
}

std::uint32_t TWorld::Enter(TSimDevice& device) {
  if (device.Gone()) {
    return ERROR_DEVICE_NOT_CONNECTED;
  }
  ++device.Counters.Calls;
  if (device.Faults.VanishAfter && device.Counters.Calls > *device.Faults.VanishAfter) {
    device.Vanished = true;
    vanishedSincePublished_ = true;
    UpdateReady(device);
    return ERROR_DEVICE_NOT_CONNECTED;
  }
  return ERROR_SUCCESS;
}

std::uint32_t TWorld::Finish(TSimDevice& device, TLogEntry entry) {
  const std::uint32_t error = entry.Error;
  log_.push_back(std::move(entry));
  while (log_.size() > kMaxLogEntries) {
    log_.pop_front();
  }
  sinceSaved_.Logged = std::min(sinceSaved_.Logged + 1, kMaxLogEntries);
  UpdateReady(device);
  if (vanishedSincePublished_) {
    PublishDevices(devices_);
    vanishedSincePublished_ = false;
  }
  wake_.notify_all();
  unsaved_ = true;
  return error;
}

std::uint32_t TWorld::Open(std::u16string_view path, std::uint32_t access, TSimHandle& handle) {
  auto lock = Lock();
  const auto found = byPath_.find(std::u16string(path));
  const auto device = found != byPath_.end() ? found->second : nullptr;
  if (!device) {
    return ERROR_FILE_NOT_FOUND;  // no such path: nothing reached a device
  }
  TLogEntry entry{device->Id, "CreateFileW", access, {}, {}, ERROR_SUCCESS};
  if (device->Vanished) {
    entry.Error = ERROR_FILE_NOT_FOUND;  // the path is gone with the device
  } else if (const auto error = Enter(*device); error != ERROR_SUCCESS) {
    entry.Error = ERROR_FILE_NOT_FOUND;
  } else if (device->Faults.Open == TOpenFault::Refused) {
    entry.Error = device->Faults.OpenError != 0 ? device->Faults.OpenError : ERROR_FILE_NOT_FOUND;
  } else if (device->Faults.Open == TOpenFault::MetadataOnly &&
             (access & (kReadAccess | kWriteAccess)) != 0) {
    entry.Error = ERROR_ACCESS_DENIED;
  }
  if (entry.Error == ERROR_SUCCESS) {
    ++device->OpenHandles;
    handle = {device, access};
  }
  return Finish(*device, std::move(entry));
}

void TWorld::Close(const TSimHandle& handle) {
  auto lock = Lock();
  auto& device = *handle.Device;
  --device.OpenHandles;
  // Closing always works, on a vanished device too; it is logged but not counted.
  Finish(device, {device.Id, "CloseHandle", std::nullopt, {}, {}, ERROR_SUCCESS});
}

std::uint32_t TWorld::GetAttributes(const TSimHandle& handle, std::uint16_t& vendor,
                                    std::uint16_t& product, std::uint16_t& version) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_GetAttributes", std::nullopt, {}, {}, Enter(device)};
  if (entry.Error == ERROR_SUCCESS && device.Faults.AttributesError) {
    entry.Error = *device.Faults.AttributesError;
  }
  if (entry.Error == ERROR_SUCCESS) {
    vendor = device.VendorId;
    product = device.ProductId;
    version = device.Version;
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::GetString(const TSimHandle& handle, TStringKind kind, std::uint32_t index,
                                std::span<std::uint8_t> buffer) {
  static constexpr const char* kCalls[] = {"HidD_GetManufacturerString", "HidD_GetProductString",
                                           "HidD_GetSerialNumberString", "HidD_GetIndexedString"};
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, kCalls[static_cast<int>(kind)], std::nullopt, {}, {}, Enter(device)};
  if (kind == TStringKind::Indexed) {
    entry.Arg = index;
  }
  if (entry.Error == ERROR_SUCCESS) {
    const std::u16string* text = nullptr;
    std::u16string languages;
    switch (kind) {
      case TStringKind::Manufacturer:
        text = device.Manufacturer ? &*device.Manufacturer : nullptr;
        break;
      case TStringKind::Product:
        text = device.Product ? &*device.Product : nullptr;
        break;
      case TStringKind::Serial:
        text = device.Serial ? &*device.Serial : nullptr;
        break;
      case TStringKind::Indexed:
        if (index == 0) {
          // String descriptor 0 is the list of language IDs, handed out as if it were text.
          languages.assign(device.Languages.begin(), device.Languages.end());
          text = device.Languages.empty() ? nullptr : &languages;
        } else if (const auto it = device.Strings.find(index); it != device.Strings.end()) {
          text = &it->second;
        }
        break;
    }
    // A string the device does not have is a stalled request.
    entry.Error = text == nullptr ? ERROR_GEN_FAILURE : WriteUnits(*text, buffer);
    if (entry.Error == ERROR_SUCCESS) {
      entry.Received = Copy(buffer.first((text->size() + 1) * 2));
    }
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::GetFeature(const TSimHandle& handle, std::span<std::uint8_t> report) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_GetFeature", std::nullopt, Copy(report), {}, Enter(device)};
  const auto& features = device.Layout.Feature;
  if (entry.Error != ERROR_SUCCESS) {
  } else if ((handle.Access & kReadAccess) == 0) {
    entry.Error = ERROR_ACCESS_DENIED;
  } else if (report.empty() || !features.Declares(report[0]) ||
             report.size() < features.ByteLength) {
    // The class driver checks the report ID and the length against the descriptor
    // before anything reaches the device.
    entry.Error = ERROR_INVALID_PARAMETER;
  } else if (++device.Counters.GetFeature,
             device.Faults.GetFeature.From != 0 &&
                 device.Counters.GetFeature >= device.Faults.GetFeature.From) {
    entry.Error = device.Faults.GetFeature.Error;
  } else if (device.Relay) {
    // A board given a descriptor of its own may declare a shorter report.
    std::array<std::uint8_t, TRelayBoard::kReportLength> answer{};
    device.Relay->FillReport(answer);
    std::copy_n(answer.begin() + 1, std::min(answer.size(), report.size()) - 1, report.begin() + 1);
  } else if (const auto it = device.Generic.Features.find(report[0]);
             it != device.Generic.Features.end()) {
    // The transfer asks for the report length: a longer stored report is cut to it.
    const auto n = std::min({it->second.size(), report.size(), std::size_t{features.ByteLength}});
    std::copy_n(it->second.begin(), n, report.begin());
  } else {
    entry.Error = ERROR_GEN_FAILURE;  // declared but never stored: the device stalls
  }
  entry.Received = Copy(report);
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::SetFeature(const TSimHandle& handle, std::span<const std::uint8_t> report) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_SetFeature", std::nullopt, Copy(report), {}, Enter(device)};
  const auto& features = device.Layout.Feature;
  if (entry.Error != ERROR_SUCCESS) {
  } else if ((handle.Access & kWriteAccess) == 0) {
    entry.Error = ERROR_ACCESS_DENIED;
  } else if (report.empty() || !features.Declares(report[0]) ||
             report.size() < features.ByteLength) {
    entry.Error = ERROR_INVALID_PARAMETER;
  } else if (++device.Counters.SetFeature,
             device.Faults.SetFeature.From != 0 &&
                 device.Counters.SetFeature >= device.Faults.SetFeature.From) {
    entry.Error = device.Faults.SetFeature.Error;
  } else {
    // A longer buffer is cut to the report's length, as the class driver does.
    const auto sent = report.first(features.ByteLength);
    if (device.Relay) {
      std::array<std::uint8_t, TRelayBoard::kReportLength> command{};
      std::copy_n(sent.begin(), std::min(sent.size(), command.size()), command.begin());
      device.Relay->Apply(command);
    } else {
      device.Generic.Features[sent[0]] = Copy(sent);
    }
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::GetInputReport(const TSimHandle& handle, std::span<std::uint8_t> report) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_GetInputReport", std::nullopt, Copy(report), {}, Enter(device)};
  const auto& inputs = device.Layout.Input;
  if (entry.Error != ERROR_SUCCESS) {
  } else if ((handle.Access & kReadAccess) == 0) {
    entry.Error = ERROR_ACCESS_DENIED;
  } else if (report.empty() || !inputs.Declares(report[0]) || report.size() < inputs.ByteLength) {
    entry.Error = ERROR_INVALID_PARAMETER;
  } else if (const auto it = device.Generic.InputReports.find(report[0]);
             it != device.Generic.InputReports.end()) {
    const auto n = std::min({it->second.size(), report.size(), std::size_t{inputs.ByteLength}});
    std::copy_n(it->second.begin(), n, report.begin());
  } else {
    entry.Error = ERROR_GEN_FAILURE;
  }
  entry.Received = Copy(report);
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::SetOutputReport(const TSimHandle& handle,
                                      std::span<const std::uint8_t> report) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_SetOutputReport", std::nullopt, Copy(report), {}, Enter(device)};
  const auto& outputs = device.Layout.Output;
  if (entry.Error != ERROR_SUCCESS) {
  } else if ((handle.Access & kWriteAccess) == 0) {
    entry.Error = ERROR_ACCESS_DENIED;
  } else if (report.empty() || !outputs.Declares(report[0]) || report.size() < outputs.ByteLength) {
    entry.Error = ERROR_INVALID_PARAMETER;
  } else {
    device.Generic.Outputs.push_back(Copy(report.first(outputs.ByteLength)));
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::ReadInput(const TSimHandle& handle, std::span<std::uint8_t> buffer,
                                std::uint32_t& done, bool wait) {
  done = 0;
  auto lock = Lock();
  auto& device = *handle.Device;
  if (device.Layout.Input.ByteLength == 0) {
    return Finish(device, {device.Id,
                           "ReadFile",
                           static_cast<std::uint32_t>(buffer.size()),
                           {},
                           {},
                           ERROR_INVALID_FUNCTION});
  }
  if ((handle.Access & kReadAccess) == 0) {
    return Finish(device, {device.Id,
                           "ReadFile",
                           static_cast<std::uint32_t>(buffer.size()),
                           {},
                           {},
                           ERROR_ACCESS_DENIED});
  }
  if (buffer.size() < device.Layout.Input.ByteLength) {
    return Finish(device, {device.Id,
                           "ReadFile",
                           static_cast<std::uint32_t>(buffer.size()),
                           {},
                           {},
                           ERROR_INVALID_USER_BUFFER});
  }
  if (!wait && !device.Gone() && device.Generic.InputQueue.empty()) {
    return ERROR_IO_PENDING;  // not an exchange yet: nothing to log
  }
  wake_.wait(lock, [&] { return device.Gone() || !device.Generic.InputQueue.empty(); });
  TLogEntry entry{device.Id, "ReadFile", static_cast<std::uint32_t>(buffer.size()),
                  {},        {},         Enter(device)};
  if (entry.Error == ERROR_SUCCESS) {
    const TBytes report = std::move(device.Generic.InputQueue.front());
    device.Generic.InputQueue.pop_front();
    const auto n = std::min<std::size_t>(report.size(), device.Layout.Input.ByteLength);
    std::copy_n(report.begin(), n, buffer.begin());
    done = static_cast<std::uint32_t>(n);
    entry.Received = Copy(buffer.first(n));
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::WriteOutput(const TSimHandle& handle, std::span<const std::uint8_t> report,
                                  std::uint32_t& done) {
  done = 0;
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "WriteFile", std::nullopt, Copy(report), {}, Enter(device)};
  const auto& outputs = device.Layout.Output;
  if (entry.Error != ERROR_SUCCESS) {
  } else if (outputs.ByteLength == 0) {
    entry.Error = ERROR_INVALID_FUNCTION;
  } else if ((handle.Access & kWriteAccess) == 0) {
    entry.Error = ERROR_ACCESS_DENIED;
  } else if (report.size() != outputs.ByteLength) {
    entry.Error = ERROR_INVALID_USER_BUFFER;
  } else if (!outputs.Declares(report[0])) {
    entry.Error = ERROR_INVALID_PARAMETER;
  } else {
    device.Generic.Outputs.push_back(Copy(report));
    done = static_cast<std::uint32_t>(report.size());
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::FlushQueue(const TSimHandle& handle) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_FlushQueue", std::nullopt, {}, {}, Enter(device)};
  if (entry.Error == ERROR_SUCCESS) {
    device.Generic.InputQueue.clear();
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::GetNumInputBuffers(const TSimHandle& handle, std::uint32_t& count) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_GetNumInputBuffers", std::nullopt, {}, {}, Enter(device)};
  if (entry.Error == ERROR_SUCCESS) {
    count = device.NumInputBuffers;
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::SetNumInputBuffers(const TSimHandle& handle, std::uint32_t count) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_SetNumInputBuffers", count, {}, {}, Enter(device)};
  if (entry.Error != ERROR_SUCCESS) {
  } else if (count < kMinInputBuffers || count > kMaxInputBuffers) {
    entry.Error = ERROR_INVALID_PARAMETER;
  } else {
    device.NumInputBuffers = count;
    while (device.Generic.InputQueue.size() > count) {
      device.Generic.InputQueue.pop_front();
    }
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::GetPhysicalDescriptor(const TSimHandle& handle,
                                            std::span<std::uint8_t> buffer) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{
      device.Id,    "HidD_GetPhysicalDescriptor", static_cast<std::uint32_t>(buffer.size()), {}, {},
      Enter(device)};
  if (entry.Error != ERROR_SUCCESS) {
  } else if (!device.PhysicalDescriptor) {
    entry.Error = ERROR_NOT_FOUND;
  } else if (buffer.size() < device.PhysicalDescriptor->size()) {
    entry.Error = ERROR_INSUFFICIENT_BUFFER;
  } else {
    std::copy(device.PhysicalDescriptor->begin(), device.PhysicalDescriptor->end(), buffer.begin());
    entry.Received = *device.PhysicalDescriptor;
  }
  return Finish(device, std::move(entry));
}

std::uint32_t TWorld::GetReportDescriptor(const TSimHandle& handle, TBytes& descriptor) {
  auto lock = Lock();
  auto& device = *handle.Device;
  TLogEntry entry{device.Id, "HidD_GetPreparsedData", std::nullopt, {}, {}, Enter(device)};
  if (entry.Error == ERROR_SUCCESS) {
    descriptor = device.ReportDescriptor;
  }
  return Finish(device, std::move(entry));
}

bool TWorld::PushInput(std::unique_lock<std::mutex>& lock, int id, TBytes report) {
  const auto device = Find(lock, id);
  if (!device || device->Gone()) {
    return false;
  }
  auto& queue = device->Generic.InputQueue;
  queue.push_back(std::move(report));
  while (queue.size() > device->NumInputBuffers) {
    queue.pop_front();  // the ring buffer drops the oldest report
  }
  Changed(lock);
  return true;
}

std::map<std::uint32_t, TPropertyValue> DefaultProperties(const TSimDevice& device) {
  const std::u16string vidPid =
      u"HID\\VID_" + Hex4(device.VendorId) + u"&PID_" + Hex4(device.ProductId);
  const auto number = Hex4(device.Instance & 0xFFFF);
  std::map<std::uint32_t, TPropertyValue> properties;
  properties[SPDRP_DEVICEDESC] = std::u16string(
      device.Relay ? u"HID-compliant vendor-defined device" : u"HID-compliant device");
  properties[SPDRP_HARDWAREID] =
      std::vector<std::u16string>{vidPid + u"&REV_" + Hex4(device.Version), vidPid, u"HID_DEVICE"};
  properties[SPDRP_CLASS] = std::u16string(u"HIDClass");
  properties[SPDRP_CLASSGUID] = std::u16string(u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}");
  properties[SPDRP_DRIVER] = u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\" + number;
  properties[SPDRP_MFG] = std::u16string(u"(Standard system devices)");
  properties[SPDRP_CONFIGFLAGS] = std::uint32_t{0};
  properties[SPDRP_CAPABILITIES] = std::uint32_t{0xA0};
  properties[SPDRP_PHYSICAL_DEVICE_OBJECT_NAME] = u"\\Device\\0000" + number;
  properties[SPDRP_ENUMERATOR_NAME] = std::u16string(u"HID");
  // GUID_BUS_TYPE_HID {eeaf37d0-1963-47c4-aa48-72476db7cf49} as the 16 bytes of a GUID.
  properties[SPDRP_BUSTYPEGUID] = TBytes{0xd0, 0x37, 0xaf, 0xee, 0x63, 0x19, 0xc4, 0x47,
                                         0xaa, 0x48, 0x72, 0x47, 0x6d, 0xb7, 0xcf, 0x49};
  return properties;
}

void BuildProperties(TSimDevice& device) {
  device.Properties = DefaultProperties(device);
  for (const auto& [code, value] : device.PropertyChanges) {
    if (value) {
      device.Properties[code] = *value;
    } else {
      device.Properties.erase(code);
    }
  }
}

}  // namespace quorvel::sim
