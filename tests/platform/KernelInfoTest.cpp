// The last error, the errno table, locale names, the platform version and the
// version information of the project's own modules.
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/FileProvider.h"

namespace quorvel::posix {
namespace {

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOther = 99;
  std::thread([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_INVALID_HANDLE);
  }).join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(ErrorFromErrno, MapsEachErrnoToTheErrorTheLayerExpects) {
  const struct {
    int Errno;
    DWORD Error;
  } cases[] = {
      {0, ERROR_SUCCESS},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {EACCES, ERROR_ACCESS_DENIED},
      {EPERM, ERROR_ACCESS_DENIED},
      {EBADF, ERROR_INVALID_HANDLE},
      {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {EINVAL, ERROR_INVALID_PARAMETER},
      {EBUSY, ERROR_BUSY},
      {ENODEV, ERROR_DEVICE_NOT_CONNECTED},
      {ENXIO, ERROR_DEVICE_NOT_CONNECTED},
      {EIO, ERROR_DEVICE_NOT_CONNECTED},
      {ESHUTDOWN, ERROR_DEVICE_NOT_CONNECTED},
      {EPIPE, ERROR_GEN_FAILURE},
      {ETIMEDOUT, ERROR_SEM_TIMEOUT},
      {ENOTTY, ERROR_INVALID_FUNCTION},
      {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
      {EOVERFLOW, ERROR_INSUFFICIENT_BUFFER},
      {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
      {EFAULT, ERROR_NOACCESS},
      {ECANCELED, ERROR_OPERATION_ABORTED},
      {EDOM, ERROR_GEN_FAILURE},  // anything else
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorFromErrno(c.Errno), c.Error) << "errno " << c.Errno;
  }
}

std::u16string Language(LCID locale) {
  WCHAR buffer[256] = {};
  const int written = GetLocaleInfoW(locale, LOCALE_SLANGUAGE, buffer, 256);
  return written > 0 ? std::u16string(buffer, static_cast<std::size_t>(written - 1)) : u"";
}

TEST(GetLocaleInfoW, NamesTheLanguagesUsbDevicesReport) {
  const struct {
    LCID Locale;
    std::u16string_view Name;
  } cases[] = {
      {0x0409, u"English (United States)"},
      {0x0407, u"German (Germany)"},
      {0x0414, u"Norwegian, Bokm\u00e5l (Norway)"},
      {0x0804, u"Chinese (Simplified, PRC)"},
      {0x0C04, u"Chinese (Traditional, Hong Kong S.A.R.)"},
      {0x1009, u"English (Canada)"},
      {0x0009, u"English"},
      {0x007F, u"Invariant Language (Invariant Country)"},
      {LOCALE_USER_DEFAULT, u"English (United States)"},
      {LOCALE_SYSTEM_DEFAULT, u"English (United States)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Language(c.Locale), c.Name) << std::hex << c.Locale;
  }
  WCHAR buffer[256];
  EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SLANGUAGE, buffer, 256), 24);
  EXPECT_EQ(buffer[23], u'\0');
}

TEST(GetLocaleInfoW, FailsClearly) {
  WCHAR buffer[256];
  const struct {
    const char* What;
    LCID Locale;
    LCTYPE Type;
    int Size;
    DWORD Error;
  } cases[] = {
      {"unknown language", 0x04FF, LOCALE_SLANGUAGE, 256, ERROR_INVALID_PARAMETER},
      {"garbage", 0xF0FF, LOCALE_SLANGUAGE, 256, ERROR_INVALID_PARAMETER},
      {"sort order", 0x00010407, LOCALE_SLANGUAGE, 256, ERROR_INVALID_PARAMETER},
      {"other information", 0x0409, 0x1001, 256, ERROR_INVALID_FLAGS},
      {"number form", 0x0409, LOCALE_SLANGUAGE | LOCALE_RETURN_NUMBER, 256, ERROR_INVALID_FLAGS},
      {"buffer too small", 0x0409, LOCALE_SLANGUAGE, 23, ERROR_INSUFFICIENT_BUFFER},
      {"negative size", 0x0409, LOCALE_SLANGUAGE, -1, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoW(c.Locale, c.Type, buffer, c.Size), 0) << c.What;
    EXPECT_EQ(GetLastError(), c.Error) << c.What;
  }
  EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SLANGUAGE, nullptr, 0), 24);  // the size needed
  EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SLANGUAGE | LOCALE_NOUSEROVERRIDE, buffer, 24), 24);
}

TEST(GetVersionExW, ReportsNt10AndChecksTheRecordSize) {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  info.szCSDVersion[0] = u'x';
  ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_EQ(info.dwMajorVersion, 10u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.szCSDVersion[0], u'\0');
  EXPECT_EQ(info.dwOSVersionInfoSize, sizeof(info));

  OSVERSIONINFOW wrong{};
  wrong.dwOSVersionInfoSize = 148;
  EXPECT_FALSE(GetVersionExW(&wrong));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(wrong.dwMajorVersion, 0u);
}

// The test's own HID and device-installation modules stand for the project's.
class FileVersion : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("LD_LIBRARY_PATH");
    FOld = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    setenv("LD_LIBRARY_PATH", QUORVEL_TEST_MODULES_DIR "/full", 1);
  }
  void TearDown() override {
    if (FOld) {
      setenv("LD_LIBRARY_PATH", FOld->c_str(), 1);
    } else {
      unsetenv("LD_LIBRARY_PATH");
    }
  }
  std::optional<std::string> FOld;
};

TEST_F(FileVersion, OwnModulesCarryTheProjectVersion) {
  for (const char16_t* name :
       {u"HID.dll", u"SetupAPI.dll", u"" QUORVEL_TEST_MODULES_DIR "/full/libquorvel-hid.so"}) {
    DWORD handle = 99;
    const DWORD size = GetFileVersionInfoSizeW(name, &handle);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(handle, 0u);
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(name, 0xFFFFFFFF, size, block.data()));

    for (const char16_t* subBlock :
         {u"StringFileInfo\\040904E4\\FileVersion", u"\\StringFileInfo\\040904e4\\FileVersion",
          u"\\StringFileInfo\\040904B0\\FileVersion"}) {
      LPVOID value = nullptr;
      UINT length = 0;
      ASSERT_TRUE(VerQueryValueW(block.data(), subBlock, &value, &length));
      const std::u16string text(static_cast<const char16_t*>(value));
      EXPECT_EQ(text, QUORVEL_TEST_VERSION);
      EXPECT_EQ(length, text.size() + 1);
    }
    LPVOID value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &value, &length));
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(static_cast<const VS_FIXEDFILEINFO*>(value)->dwSignature, 0xFEEF04BDu);
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &value, &length));
    EXPECT_EQ(*static_cast<const DWORD*>(value), 0x04E40409u);
    EXPECT_FALSE(
        VerQueryValueW(block.data(), u"\\StringFileInfo\\04070000\\FileVersion", &value, &length));
    EXPECT_FALSE(
        VerQueryValueW(block.data(), u"\\StringFileInfo\\040904E4\\Nothing", &value, &length));
  }
}

TEST_F(FileVersion, OtherOrMissingFilesHaveNone) {
  for (const char16_t* name : {u"kernel32.dll", u"/nowhere/libquorvel-hid.so", u"libc.so.6"}) {
    DWORD handle = 99;
    SetLastError(0);
    EXPECT_EQ(GetFileVersionInfoSizeW(name, &handle), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  }

  unsigned char garbage[64] = {};
  LPVOID value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValueW(garbage, u"\\", &value, &length));
  std::vector<unsigned char> small(8);
  EXPECT_FALSE(GetFileVersionInfoW(u"HID.dll", 0, 8, small.data()));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
}  // namespace quorvel::posix
