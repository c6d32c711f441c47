#include "platform/linux/modules/Sysfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "platform/posix/UniqueFd.h"

namespace quorvel::hidraw {

namespace {

struct TDirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::string Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return std::string(text);
}

}  // namespace

TSysfs::TSysfs(std::string_view root) {
  if (root.empty() || root == "/") {
    return;
  }
  if (auto resolved = Resolve(std::string(root))) {
    root_ = *resolved == "/" ? std::string() : *resolved;
  } else {
    root_ = std::string(root);
  }
}

std::string_view TSysfs::Unrooted(std::string_view rooted) const {
  if (root_.empty()) {
    return rooted;
  }
  if (rooted.size() > root_.size() && rooted.substr(0, root_.size()) == root_ &&
      rooted[root_.size()] == '/') {
    return rooted.substr(root_.size());
  }
  return rooted;
}

std::optional<std::vector<uint8_t>> TSysfs::ReadBinary(const std::string& file, std::size_t limit) {
  const posix::TUniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    return std::nullopt;
  }
  // sysfs attributes report a size of 4096 whatever they hold: read to the end.
  std::vector<uint8_t> data;
  uint8_t chunk[4096];
  while (data.size() < limit) {
    const std::size_t want = std::min(sizeof chunk, limit - data.size());
    const ssize_t got = ::read(fd.Get(), chunk, want);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return std::nullopt;
    }
    if (got == 0) {
      break;
    }
    data.insert(data.end(), chunk, chunk + got);
  }
  return data;
}

std::optional<std::string> TSysfs::ReadText(const std::string& file) {
  // sysfs text attributes are at most a page.
  auto data = ReadBinary(file, 4096);
  if (!data) {
    return std::nullopt;
  }
  return Trimmed(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
}

std::optional<std::string> TSysfs::Resolve(const std::string& path) {
  // The kernel names an opened path in full: three calls, where realpath reads the link of
  // every component (some ten calls for a sysfs path; a listing resolves dozens).
  {
    const posix::TUniqueFd opened{::open(path.c_str(), O_PATH | O_CLOEXEC)};
    if (!opened.Valid()) {
      return std::nullopt;
    }
    char name[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(opened.Get());
    const ssize_t length = ::readlink(link.c_str(), name, sizeof name);
    if (length > 0 && static_cast<std::size_t>(length) < sizeof name && name[0] == '/') {
      return std::string(name, static_cast<std::size_t>(length));
    }
  }
  // No /proc, or a path the kernel cannot name from here: component by component.
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
  if (!resolved) {
    return std::nullopt;
  }
  return std::string(resolved.get());
}

bool TSysfs::Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> TSysfs::List(const std::string& dir) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, TDirCloser> handle(::opendir(dir.c_str()));
  if (!handle) {
    return names;
  }
  while (const dirent* entry = ::readdir(handle.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      names.emplace_back(name);
    }
  }
  return names;
}

TUevent ParseUevent(std::string_view text) {
  TUevent result;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0) {
      continue;
    }
    result.emplace_back(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
  }
  return result;
}

std::optional<std::string> UeventValue(const TUevent& uevent, std::string_view key) {
  for (const auto& [name, value] : uevent) {
    if (name == key) {
      return value;
    }
  }
  return std::nullopt;
}

std::string ParentOf(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') {
    path.remove_suffix(1);
  }
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    return std::string();
  }
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

std::string_view BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') {
    path.remove_suffix(1);
  }
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

namespace {

std::optional<uint32_t> ParseInBase(std::string_view text, uint32_t base, uint32_t maximum) {
  if (text.empty() || text.size() > 10) {
    return std::nullopt;
  }
  uint64_t value = 0;
  for (const char c : text) {
    uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > maximum) {
      return std::nullopt;
    }
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<uint32_t> ParseHex(std::string_view text, uint32_t maximum) {
  return ParseInBase(text, 16, maximum);
}

std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t maximum) {
  return ParseInBase(text, 10, maximum);
}

}  // namespace quorvel::hidraw
