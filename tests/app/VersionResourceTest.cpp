// The version resource of Quorvel.exe, read back as Windows programs read it: it names
// the product and carries the version the help shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/HelpText.h"
#include "platform/Utf.h"
#include "tests/app/BufferConsole.h"
#include "tests/app/ProcessRunner.h"

namespace quorvel::app {
namespace {

class VersionResource {
 public:
  explicit VersionResource(const std::wstring& file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size != 0) {
      data_.resize(size);
      if (!GetFileVersionInfoW(file.c_str(), 0, size, data_.data())) {
        data_.clear();
      }
    }
  }
  bool Found() const { return !data_.empty(); }

  std::string Text(const std::wstring& name) const {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040904B0\\" + name;
    if (!VerQueryValueW(data_.data(), path.c_str(), &value, &length) || length == 0) {
      return "(none)";
    }
    const std::wstring text(static_cast<const wchar_t*>(value));
    return platform::Utf16ToUtf8(std::u16string(text.begin(), text.end()));
  }

  const VS_FIXEDFILEINFO* Fixed() const {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), L"\\", &value, &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
      return nullptr;
    }
    return static_cast<const VS_FIXEDFILEINFO*>(value);
  }

 private:
  std::vector<BYTE> data_;
};

// "1.2.1" from the help's first line, "    Quorvel Version 1.2.1".
std::string HelpVersion() {
  test::BufferConsole console;
  ShowHelp(console, u"Quorvel");
  const std::string& help = console.Bytes();
  const std::string marker = "Quorvel Version ";
  const std::size_t at = help.find(marker);
  if (at == std::string::npos) {
    return "(none)";
  }
  const std::size_t start = at + marker.size();
  return help.substr(start, help.find('\n', start) - start);
}

TEST(VersionResource, NamesTheProductAndTheVersionTheHelpShows) {
  const std::string version = HelpVersion();
  EXPECT_EQ(version, QUORVEL_VERSION);
  const VersionResource resource(test::BesideThisTest("Quorvel.exe").wstring());
  ASSERT_TRUE(resource.Found()) << "GetFileVersionInfoW found no version resource";
  EXPECT_EQ(resource.Text(L"ProductName"), "Quorvel");
  EXPECT_EQ(resource.Text(L"ProductVersion"), version);
  EXPECT_EQ(resource.Text(L"FileVersion"), version);
  EXPECT_EQ(resource.Text(L"OriginalFilename"), "Quorvel.exe");

  const VS_FIXEDFILEINFO* fixed = resource.Fixed();
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDU);
  const std::string numbers = std::to_string(HIWORD(fixed->dwProductVersionMS)) + "." +
                              std::to_string(LOWORD(fixed->dwProductVersionMS)) + "." +
                              std::to_string(HIWORD(fixed->dwProductVersionLS));
  EXPECT_EQ(numbers, version);
  EXPECT_EQ(LOWORD(fixed->dwProductVersionLS), 0);
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
}  // namespace quorvel::app
