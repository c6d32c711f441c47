// A console that keeps the bytes a run would have written to standard output.
#pragma once

#include <string>
#include <string_view>

#include "app/Console.h"
#include "platform/Utf.h"

namespace quorvel::app::test {

class BufferConsole final : public Console {
 public:
  explicit BufferConsole(LineEnd lineEnd = LineEnd::Lf) : Console(lineEnd) {}

  const std::string& Bytes() const { return bytes_; }
  void FailFromNowOn() { failing_ = true; }

 private:
  bool Emit(std::u16string_view line) override {
    if (failing_) {
      return false;
    }
    bytes_ += platform::Utf16ToUtf8(line);
    return true;
  }

  std::string bytes_;
  bool failing_ = false;
};

}  // namespace quorvel::app::test
