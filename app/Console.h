// The one writer of the tool's lines.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::app {

enum class LineEnd { Lf, CrLf };

#ifdef _WIN32
inline constexpr LineEnd kPlatformLineEnd = LineEnd::CrLf;
#else
inline constexpr LineEnd kPlatformLineEnd = LineEnd::Lf;
#endif

// Texts are written as the tool's messages spell them, with "\r\n" marking a
// line break inside a text; each break and each line's end become the
// platform's line end. Every line is handed on (and flushed) at once, so a
// crash or a hung device never swallows what was already said.
class Console {
 public:
  explicit Console(LineEnd lineEnd = kPlatformLineEnd) : lineEnd_(lineEnd) {}
  virtual ~Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void WriteLine(std::u16string_view text);

  // True once any line could not be written.
  bool Failed() const { return failed_; }

 protected:
  // Delivers one finished line, line end included; false when it could not.
  virtual bool Emit(std::u16string_view line) = 0;

 private:
  LineEnd lineEnd_;
  bool failed_ = false;
};

// Standard output: UTF-8 bytes, written in binary mode on Windows so the C
// runtime adds no second CR. A Windows console window gets the UTF-16 text
// directly, whatever its code page.
class StdoutConsole final : public Console {
 public:
  StdoutConsole();

 private:
  bool Emit(std::u16string_view line) override;
#ifdef _WIN32
  bool isConsoleWindow_ = false;
#endif
};

}  // namespace quorvel::app
