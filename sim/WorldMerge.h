// What a process writes back to a world file that other processes may have written
// since it read it: its own changes merged into the file as it stands, so that
// processes sharing one world file lose nothing of each other's work.
#pragma once

#include <vector>

#include "sim/WorldJson.h"

namespace quorvel::sim {

// A process's changes since it read the world file or last wrote it.
struct TOwnChanges {
  TJson Base;                  // the devices (DevicesToJson) as read or last written
  TJson Devices;               // the devices now
  std::vector<TLogEntry> Log;  // logged since, oldest first; the whole log when LogReplaced
  bool DevicesReplaced = false;
  bool LogReplaced = false;
};

// Merges own changes into the file's devices (DevicesToJson of the numbered devices) and
// log. Of a device it changed, the fields it changed replace the file's (so for a device
// both changed, the later write-back wins) and its call counts add to the file's; the
// devices it added are appended, renumbered when the file has given away their id or
// instance; the ones it removed go. Its log entries follow the file's, and the newest
// kMaxLogEntries are kept. A merge that would not read back as a world gives own
// devices whole.
void MergeOwnChanges(const TOwnChanges& own, TJson& devices, std::vector<TLogEntry>& log);

}  // namespace quorvel::sim
