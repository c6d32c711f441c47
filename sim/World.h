// The one simulated world of a process: its devices in discovery order, the exchange
// log, and every device call of the platform modules. Each call checks the device's
// faults, answers as the Windows HID class driver does, and is logged with its bytes.
// Thread-safe: every public function takes the world's lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sim/Device.h"

namespace quorvel::sim {

class TWorld;

struct TLogEntry {
  int Device = 0;
  std::string Call;                  // the platform function, e.g. "HidD_SetFeature"
  std::optional<std::uint32_t> Arg;  // desired access, string index, count or length
  TBytes Sent;                       // bytes the caller handed over
  TBytes Received;                   // the caller's buffer after the call
  std::uint32_t Error = 0;           // 0 for success
};

// What a module knows about an open handle.
struct TSimHandle {
  std::shared_ptr<TSimDevice> Device;
  std::uint32_t Access = 0;
};

// One element of a device-information set: what the scan reads, fixed when the set
// is made.
struct TInterfaceInfo {
  int Id = 0;
  std::uint32_t Instance = 0;
  std::u16string Path;
  std::map<std::uint32_t, TPropertyValue> Properties;
  std::optional<std::uint32_t> DetailError;  // the device's interfaceDetailError fault
};

enum class TStringKind { Manufacturer, Product, Serial, Indexed };

// The log keeps the newest entries up to this many; older ones are dropped first, so a
// world file that every run writes back stops growing.
inline constexpr std::size_t kMaxLogEntries = 1000;

// What the world holds that its file does not, since the file was read or last written:
// what a write-back merges into the file as it stands then.
struct TSinceSaved {
  std::size_t Logged = 0;        // the newest this many log entries are new
  bool DevicesReplaced = false;  // Reset: the devices replace the file's
  bool LogReplaced = false;      // Reset or ClearLog: the log replaces the file's
};

// Numbers the devices in order as TWorld::Add does. False, and a reason naming the device
// and its field, when an id or instance is taken.
bool NumberDevices(std::vector<std::shared_ptr<TSimDevice>>& devices, std::string& error);

// Writes the world somewhere (the world file); false and a reason when it cannot.
using TPersist =
    std::function<bool(const TWorld&, const std::unique_lock<std::mutex>&, std::string&)>;

class TWorld {
 public:
  static TWorld& Instance();

  TWorld() = default;
  TWorld(const TWorld&) = delete;
  TWorld& operator=(const TWorld&) = delete;

  // --- Structure (control functions, world file) ---------------------------------
  // The caller holds Lock() for the functions taking a lock reference.
  std::unique_lock<std::mutex> Lock() const { return std::unique_lock(mutex_); }
  const std::vector<std::shared_ptr<TSimDevice>>& Devices(
      const std::unique_lock<std::mutex>&) const {
    return devices_;
  }
  std::shared_ptr<TSimDevice> Find(const std::unique_lock<std::mutex>&, int id) const;
  const std::deque<TLogEntry>& Log(const std::unique_lock<std::mutex>&) const { return log_; }

  // Replaces every device and the log (of which it keeps the newest kMaxLogEntries),
  // numbering the devices in order as Add does. Devices still open elsewhere are gone.
  // False, and a reason naming the device and its field, when an id or instance is
  // taken; the world is then unchanged.
  bool Reset(std::unique_lock<std::mutex>& lock, std::vector<std::shared_ptr<TSimDevice>> devices,
             std::vector<TLogEntry> log, std::string& error);
  // Gives the device an ID and instance number when it has none (0): one after the
  // highest in use, or the lowest free one once the highest is the largest there is;
  // then its default registry properties, which name the instance. Returns the ID, or 0
  // and a reason naming the field when its ID or instance is taken.
  int Add(std::unique_lock<std::mutex>& lock, std::shared_ptr<TSimDevice> device,
          std::string& error);
  bool Remove(std::unique_lock<std::mutex>& lock, int id);
  void ClearLog(std::unique_lock<std::mutex>& lock);
  // After a change made through Find/Devices: wakes readers, publishes the devices,
  // and marks the world as changed since it was last saved.
  void Changed(std::unique_lock<std::mutex>& lock);

  // Where Save writes the world; nothing is written without one.
  void SetPersist(TPersist persist);
  // Writes the world through the persist function when it changed since it was read or
  // last saved; true when nothing is left unsaved.
  bool Save(const std::unique_lock<std::mutex>& lock, std::string& error);
  const TSinceSaved& SinceSaved(const std::unique_lock<std::mutex>&) const { return sinceSaved_; }
  // The lock for a save as the process ends, when the world can be taken within a few
  // seconds: a thread stopped while it held the lock (Windows ends the other threads
  // before it unloads a library) must not hang the exit.
  std::unique_lock<std::mutex> LockForExit() const;

  // --- Device-installation view ------------------------------------------------
  std::vector<TInterfaceInfo> Snapshot(bool presentOnly) const;
  // The deviceSetError fault of the first present device that has one.
  std::optional<std::uint32_t> DeviceSetError() const;

  // --- Device calls (each returns 0 or a Windows error code) --------------------
  std::uint32_t Open(std::u16string_view path, std::uint32_t access, TSimHandle& handle);
  void Close(const TSimHandle& handle);
  std::uint32_t GetAttributes(const TSimHandle& handle, std::uint16_t& vendor,
                              std::uint16_t& product, std::uint16_t& version);
  std::uint32_t GetString(const TSimHandle& handle, TStringKind kind, std::uint32_t index,
                          std::span<std::uint8_t> buffer);
  std::uint32_t GetFeature(const TSimHandle& handle, std::span<std::uint8_t> report);
  std::uint32_t SetFeature(const TSimHandle& handle, std::span<const std::uint8_t> report);
  std::uint32_t GetInputReport(const TSimHandle& handle, std::span<std::uint8_t> report);
  std::uint32_t SetOutputReport(const TSimHandle& handle, std::span<const std::uint8_t> report);
  // wait false: ERROR_IO_PENDING while nothing is queued.
  std::uint32_t ReadInput(const TSimHandle& handle, std::span<std::uint8_t> buffer,
                          std::uint32_t& done, bool wait);
  std::uint32_t WriteOutput(const TSimHandle& handle, std::span<const std::uint8_t> report,
                            std::uint32_t& done);
  std::uint32_t FlushQueue(const TSimHandle& handle);
  std::uint32_t GetNumInputBuffers(const TSimHandle& handle, std::uint32_t& count);
  std::uint32_t SetNumInputBuffers(const TSimHandle& handle, std::uint32_t count);
  std::uint32_t GetPhysicalDescriptor(const TSimHandle& handle, std::span<std::uint8_t> buffer);
  std::uint32_t GetReportDescriptor(const TSimHandle& handle, TBytes& descriptor);

  // Queues an input report as if the device had sent it (oldest dropped when full).
  bool PushInput(std::unique_lock<std::mutex>& lock, int id, TBytes report);

 private:
  // Counts the call and applies vanishing; 0 when the call may go on.
  std::uint32_t Enter(TSimDevice& device);
  // Logs an exchange with the device. An exchange changes only that device, so only
  // that device's readiness, and the published devices when it vanished, are updated.
  std::uint32_t Finish(TSimDevice& device, TLogEntry entry);
  void UpdateReady(TSimDevice& device);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<TSimDevice>> devices_;
  // Every present device by its interface path, for the opens.
  std::unordered_map<std::u16string, std::shared_ptr<TSimDevice>> byPath_;
  std::deque<TLogEntry> log_;
  TPersist persist_;
  bool unsaved_ = false;
  TSinceSaved sinceSaved_;
  bool vanishedSincePublished_ = false;
};

// The interface path of a device: a name of the simulation's own that the platform's
// file functions route to it.
std::u16string DevicePath(const TSimDevice& device);

// Makes the devices' interface paths openable where the platform's own file functions
// open them (Windows: one file per device, absent while the device cannot be opened);
// nothing to do where the simulation's file provider answers. Called with the world's
// lock held after every change.
void PublishDevices(const std::vector<std::shared_ptr<TSimDevice>>& devices);

// Registry properties every device has unless its description says otherwise.
std::map<std::uint32_t, TPropertyValue> DefaultProperties(const TSimDevice& device);

// The device's properties: the defaults for its identity and instance number with the
// changes of its description applied.
void BuildProperties(TSimDevice& device);

}  // namespace quorvel::sim
