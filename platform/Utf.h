// UTF-8 <-> UTF-16 conversion for the edges of the layer: the platform's text is
// UTF-16, POSIX file names, environment and console are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::platform {

// Malformed input (bad lead or continuation bytes, overlong forms, surrogate
// code points, values above U+10FFFF) becomes U+FFFD, one per bad sequence.
inline std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* end = p + in.size();
  while (p < end) {
    const unsigned char b = *p;
    char32_t cp = 0;
    int extra = 0;
    char32_t min = 0;
    if (b < 0x80) {
      out.push_back(static_cast<char16_t>(b));
      ++p;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1Fu, extra = 1, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0Fu, extra = 2, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07u, extra = 3, min = 0x10000;
    } else {
      out.push_back(u'\uFFFD');
      ++p;
      continue;
    }
    int taken = 1;
    bool ok = true;
    for (; taken <= extra; ++taken) {
      if (p + taken >= end || (p[taken] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[taken] & 0x3Fu);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(u'\uFFFD');
      p += taken;  // the lead and the continuations seen so far
      continue;
    }
    p += taken;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

// Unpaired surrogates become U+FFFD.
inline std::string Utf16ToUtf8(std::u16string_view in) {
  // At most three bytes per code unit (a pair of two gives four), written in place: the
  // console's whole output passes through here.
  std::string out(in.size() * 3, '\0');
  char* o = out.data();
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp < 0x80) {
      *o++ = static_cast<char>(cp);
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x800) {
      *o++ = static_cast<char>(0xC0 | (cp >> 6));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *o++ = static_cast<char>(0xE0 | (cp >> 12));
      *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *o++ = static_cast<char>(0xF0 | (cp >> 18));
      *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

// Equal but for the case of A-Z, as Windows compares file and resource names.
inline bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  auto lower = [](char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
  };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace quorvel::platform
