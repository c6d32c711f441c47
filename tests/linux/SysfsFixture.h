// A fake sysfs and /dev tree in a temporary folder, built from fixture files (see
// fixtures/README.md) and removed again when the fixture goes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::hidraw::test {

class TSysfsFixture {
 public:
  // Builds a tree from the named files of the fixture folder ("usb-relay-board.tree").
  explicit TSysfsFixture(const std::vector<std::string>& trees);
  ~TSysfsFixture();
  TSysfsFixture(const TSysfsFixture&) = delete;
  TSysfsFixture& operator=(const TSysfsFixture&) = delete;

  const std::string& Root() const { return root_; }
  std::string Path(std::string_view absolute) const { return root_ + std::string(absolute); }
  // Removes part of the tree, as the kernel does when a device goes.
  void Remove(std::string_view absolute) const;

 private:
  std::string root_;
};

}  // namespace quorvel::hidraw::test
