#include "tests/linux/SysfsFixture.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quorvel::hidraw::test {

namespace fs = std::filesystem;

namespace {

std::string NextWord(std::string_view& rest) {
  const std::size_t space = rest.find(' ');
  std::string word(rest.substr(0, space));
  rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  return word;
}

std::vector<char> HexBytes(std::string_view text, const std::string& where) {
  text = text.substr(0, text.find('#'));
  std::vector<char> bytes;
  std::istringstream in{std::string(text)};
  std::string pair;
  while (in >> pair) {
    std::size_t used = 0;
    const unsigned long value = std::stoul(pair, &used, 16);
    if (used != pair.size() || value > 0xFF) {
      throw std::runtime_error(where + ": bad byte " + pair);
    }
    bytes.push_back(static_cast<char>(value));
  }
  return bytes;
}

void Append(const fs::path& file, const char* data, std::size_t size) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out.write(data, static_cast<std::streamsize>(size));
}

void Build(const fs::path& root, const fs::path& tree) {
  std::ifstream in(tree);
  if (!in) {
    throw std::runtime_error("missing fixture " + tree.string());
  }
  fs::path current = root;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    const std::string where = tree.filename().string() + ":" + std::to_string(number);
    std::string_view rest = text;
    if (rest.empty() || rest.front() == '#') {
      continue;
    }
    const std::string verb = NextWord(rest);
    const std::string name = NextWord(rest);
    const fs::path target = name.starts_with('/') ? root / name.substr(1) : current / name;
    if (verb == "dir") {
      fs::create_directories(target);
      current = target;
    } else if (verb == "text") {
      const std::string value = std::string(rest) + "\n";
      Append(target, value.data(), value.size());
    } else if (verb == "line") {
      const std::string value = std::string(rest) + "\n";
      Append(target, value.data(), value.size());
    } else if (verb == "hex") {
      const std::vector<char> bytes = HexBytes(rest, where);
      Append(target, bytes.data(), bytes.size());
    } else if (verb == "link") {
      const fs::path destination = root / std::string(rest).substr(1);
      fs::create_directories(target.parent_path());
      fs::create_symlink(fs::relative(destination, target.parent_path()), target);
    } else if (verb == "node") {
      Append(target, "", 0);
    } else {
      throw std::runtime_error(where + ": unknown line " + text);
    }
  }
}

}  // namespace

TSysfsFixture::TSysfsFixture(const std::vector<std::string>& trees) {
  std::string pattern = (fs::temp_directory_path() / "quorvel-sysfs-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder");
  }
  root_ = fs::canonical(pattern).string();
  fs::create_directories(fs::path(root_) / "sys/class/hidraw");
  for (const std::string& tree : trees) {
    Build(root_, fs::path(QUORVEL_LINUX_FIXTURES) / tree);
  }
}

TSysfsFixture::~TSysfsFixture() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void TSysfsFixture::Remove(std::string_view absolute) const {
  fs::remove_all(Path(absolute));
}

}  // namespace quorvel::hidraw::test
