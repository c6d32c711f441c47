// Read-only access to the kernel's device tree (sysfs) and device nodes, below a root
// folder: "" on a real system, a fixture tree in tests. Every path handed out is rooted,
// so links resolved inside a fixture stay inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::hidraw {

class TSysfs {
 public:
  // root is canonicalised; "" (or "/") means the real system.
  explicit TSysfs(std::string_view root);

  const std::string& Root() const { return root_; }
  // An absolute system path ("/sys/class/hidraw") below the root.
  std::string Rooted(std::string_view absolute) const { return root_ + std::string(absolute); }
  // The system path of a rooted one ("/sys/devices/..."), the input when it is outside.
  std::string_view Unrooted(std::string_view rooted) const;

  // A text attribute without its trailing newline; nullopt when absent or unreadable.
  static std::optional<std::string> ReadText(const std::string& file);
  // A binary attribute, at most limit bytes; nullopt when absent or unreadable.
  static std::optional<std::vector<uint8_t>> ReadBinary(const std::string& file, std::size_t limit);
  // The path with every link resolved; nullopt when it does not exist.
  static std::optional<std::string> Resolve(const std::string& path);
  static bool Exists(const std::string& path);
  // Names in a folder, unordered; empty when it does not exist.
  static std::vector<std::string> List(const std::string& dir);

 private:
  std::string root_;
};

// "KEY=VALUE" lines of a uevent attribute, in order; lines without '=' are skipped.
using TUevent = std::vector<std::pair<std::string, std::string>>;
TUevent ParseUevent(std::string_view text);
// The value of a key, nullopt when the key is missing.
std::optional<std::string> UeventValue(const TUevent& uevent, std::string_view key);

// The folder holding a path ("/a/b" -> "/a"); "" for a name without a folder.
std::string ParentOf(std::string_view path);
std::string_view BaseName(std::string_view path);

// Unsigned hexadecimal text (no prefix, no sign) that fits the maximum; nullopt otherwise.
std::optional<uint32_t> ParseHex(std::string_view text, uint32_t maximum = 0xFFFFFFFFu);
std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t maximum = 0xFFFFFFFFu);

}  // namespace quorvel::hidraw
