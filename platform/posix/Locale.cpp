// GetLocaleInfoW for LOCALE_SLANGUAGE: the English display names of Microsoft's
// NLS data (as English Windows 7 prints them) for the language IDs that USB
// devices report.
#include <algorithm>
#include <iterator>
#include <string_view>

#include "platform/posix/Kernel.h"

namespace {

struct TLanguage {
  LANGID Id;
  std::u16string_view Name;
};

// Sorted by ID.
constexpr TLanguage kLanguages[] = {
    {0x0007, u"German"},
    {0x0009, u"English"},
    {0x007F, u"Invariant Language (Invariant Country)"},
    {0x0401, u"Arabic (Saudi Arabia)"},
    {0x0402, u"Bulgarian (Bulgaria)"},
    {0x0403, u"Catalan (Catalan)"},
    {0x0404, u"Chinese (Traditional, Taiwan)"},
    {0x0405, u"Czech (Czech Republic)"},
    {0x0406, u"Danish (Denmark)"},
    {0x0407, u"German (Germany)"},
    {0x0408, u"Greek (Greece)"},
    {0x0409, u"English (United States)"},
    {0x040A, u"Spanish (Spain, Traditional Sort)"},
    {0x040B, u"Finnish (Finland)"},
    {0x040C, u"French (France)"},
    {0x040D, u"Hebrew (Israel)"},
    {0x040E, u"Hungarian (Hungary)"},
    {0x040F, u"Icelandic (Iceland)"},
    {0x0410, u"Italian (Italy)"},
    {0x0411, u"Japanese (Japan)"},
    {0x0412, u"Korean (Korea)"},
    {0x0413, u"Dutch (Netherlands)"},
    {0x0414, u"Norwegian, Bokm\u00e5l (Norway)"},
    {0x0415, u"Polish (Poland)"},
    {0x0416, u"Portuguese (Brazil)"},
    {0x0418, u"Romanian (Romania)"},
    {0x0419, u"Russian (Russia)"},
    {0x041A, u"Croatian (Croatia)"},
    {0x041B, u"Slovak (Slovakia)"},
    {0x041D, u"Swedish (Sweden)"},
    {0x041E, u"Thai (Thailand)"},
    {0x041F, u"Turkish (Turkey)"},
    {0x0421, u"Indonesian (Indonesia)"},
    {0x0422, u"Ukrainian (Ukraine)"},
    {0x0424, u"Slovenian (Slovenia)"},
    {0x0425, u"Estonian (Estonia)"},
    {0x0426, u"Latvian (Latvia)"},
    {0x0427, u"Lithuanian (Lithuania)"},
    {0x042A, u"Vietnamese (Vietnam)"},
    {0x0439, u"Hindi (India)"},
    {0x0804, u"Chinese (Simplified, PRC)"},
    {0x0807, u"German (Switzerland)"},
    {0x0809, u"English (United Kingdom)"},
    {0x080A, u"Spanish (Mexico)"},
    {0x080C, u"French (Belgium)"},
    {0x0816, u"Portuguese (Portugal)"},
    {0x0C04, u"Chinese (Traditional, Hong Kong S.A.R.)"},
    {0x0C07, u"German (Austria)"},
    {0x0C09, u"English (Australia)"},
    {0x0C0A, u"Spanish (Spain, International Sort)"},
    {0x0C0C, u"French (Canada)"},
    {0x1004, u"Chinese (Simplified, Singapore)"},
    {0x1009, u"English (Canada)"},
};

static_assert(std::is_sorted(std::begin(kLanguages), std::end(kLanguages),
                             [](const TLanguage& a, const TLanguage& b) { return a.Id < b.Id; }));

// The user's and the system's default locale here is US English.
constexpr LANGID kDefaultLanguage = 0x0409;

const TLanguage* FindLanguage(LCID locale) {
  if ((locale & 0xFFFF0000u) != 0) {
    return nullptr;  // a sort order or reserved bits: no such locale here
  }
  LANGID id = static_cast<LANGID>(locale);
  if (id == LOCALE_NEUTRAL || id == LOCALE_USER_DEFAULT || id == LOCALE_SYSTEM_DEFAULT) {
    id = kDefaultLanguage;
  }
  const auto found = std::lower_bound(
      std::begin(kLanguages), std::end(kLanguages), id,
      [](const TLanguage& language, LANGID wanted) { return language.Id < wanted; });
  return found != std::end(kLanguages) && found->Id == id ? found : nullptr;
}

}  // namespace

extern "C" int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
  if (cchData < 0 || (cchData > 0 && lpLCData == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((LCType & ~(LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP)) != LOCALE_SLANGUAGE) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const TLanguage* language = FindLanguage(Locale);
  if (language == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int needed = static_cast<int>(language->Name.size()) + 1;
  if (cchData == 0) {
    return needed;
  }
  if (cchData < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(language->Name.begin(), language->Name.end(), lpLCData);
  lpLCData[needed - 1] = u'\0';
  return needed;
}
