// The identity getters of THidDevice: names, serial number, languages, indexed
// strings and the physical descriptor.
#include <array>
#include <cstdio>
#include <cstring>

#include "hid/HidDevice.h"
#include "hid/LanguageIds.h"
#include "platform/Hid.h"
#include "platform/PlatformKernel.h"

namespace quorvel::hid {
namespace {

constexpr ULONG kStringBytes = kStringUnits * sizeof(char16_t);

constexpr int kLocaleNameUnits = 256;
constexpr std::size_t kMaxDescriptorWords = 2048;

TString BufferText(const TStringBuffer& buffer) {
  std::size_t length = 0;
  while (length < buffer.size() && buffer[length] != 0) {
    ++length;
  }
  return TString(buffer.data(), length);
}

TStringBuffer Unwritten() {
  TStringBuffer buffer;
  buffer.fill(kUnwrittenWord);
  return buffer;
}

TString UnknownLocaleText(uint16_t language) {
  char text[32];
  std::snprintf(text, sizeof text, "Unknown Locale ID $%.4X", static_cast<unsigned>(language));
  return TString(text, text + std::strlen(text));
}

}  // namespace

const TString& THidDevice::VendorName() {
  if (FVendorName.empty() && OpenFile()) {
    TStringBuffer buffer{};
    if (platform::HidD_GetManufacturerString(hidFileHandle_.Get(), buffer.data(), kStringBytes)) {
      FVendorName = BufferText(buffer);
    }
    CloseFile();
  }
  return FVendorName;
}

const TString& THidDevice::ProductName() {
  if (FProductName.empty() && OpenFile()) {
    TStringBuffer buffer{};
    if (platform::HidD_GetProductString(hidFileHandle_.Get(), buffer.data(), kStringBytes)) {
      FProductName = BufferText(buffer);
    }
    CloseFile();
  }
  return FProductName;
}

const TString& THidDevice::SerialNumber() {
  if (FSerialNumber.empty() && OpenFile()) {
    TStringBuffer serial{};
    if (platform::HidD_GetSerialNumberString(hidFileHandle_.Get(), serial.data(), kStringBytes)) {
      // Some stacks answer a serial request with the language-ID list of string
      // index 0; such an answer is no serial number.
      TStringBuffer languages = Unwritten();
      (void)platform::HidD_GetIndexedString(hidFileHandle_.Get(), 0, languages.data(),
                                            kStringBytes);
      const std::size_t count = LanguageCount(languages);
      if (!std::equal(serial.begin(), serial.begin() + static_cast<std::ptrdiff_t>(count),
                      languages.begin())) {
        FSerialNumber = BufferText(serial);
      }
    }
    CloseFile();
  }
  return FSerialNumber;
}

const TStringList& THidDevice::LanguageStrings() {
  if (FLanguageStrings.empty() && OpenFile()) {
    TStringBuffer languages = Unwritten();
    std::size_t count = 0;
    if (platform::HidD_GetIndexedString(hidFileHandle_.Get(), 0, languages.data(), kStringBytes)) {
      count = LanguageCount(languages);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const uint16_t language = languages[i];
      std::array<WCHAR, kLocaleNameUnits> name{};
      const int written =
          ::GetLocaleInfoW(language, LOCALE_SLANGUAGE, name.data(), kLocaleNameUnits);
      if (written > 0) {
        std::size_t length = 0;
        while (length < name.size() && name[length] != 0) {
          ++length;
        }
        FLanguageStrings.emplace_back(reinterpret_cast<const char16_t*>(name.data()), length);
      } else {
        FLanguageStrings.push_back(UnknownLocaleText(language));
      }
    }
    CloseFile();
  }
  return FLanguageStrings;
}

TString THidDevice::GetDeviceString(uint8_t Idx) {
  if (Idx == 0 || !OpenFile()) {
    return {};
  }
  TStringBuffer buffer{};
  if (!platform::HidD_GetIndexedString(hidFileHandle_.Get(), Idx, buffer.data(), kStringBytes)) {
    return {};
  }
  return BufferText(buffer);
}

const TPhysicalDescriptor& THidDevice::PhysicalDescriptor() {
  if (FPhysicalDescriptor.empty() && OpenFile()) {
    FPhysicalDescriptor.assign(kMaxDescriptorWords, 0);
    // Offer 0, 2, 4, ... bytes until the descriptor fits; any error other than a
    // buffer that is too short ends the probe without a descriptor.
    std::size_t words = 0;
    for (;;) {
      if (platform::HidD_GetPhysicalDescriptor(hidFileHandle_.Get(), FPhysicalDescriptor.data(),
                                               static_cast<ULONG>(words * 2))) {
        break;
      }
      ++words;
      if (words > kMaxDescriptorWords || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        words = 0;
        break;
      }
    }
    FPhysicalDescriptor.resize(words);
    CloseFile();
  }
  return FPhysicalDescriptor;
}

}  // namespace quorvel::hid
