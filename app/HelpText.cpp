#include "app/HelpText.h"

#include <array>

namespace quorvel::app {
namespace {

// "%s" stands for the program's name; "\r\n" inside a text is a line break.
constexpr std::array<std::u16string_view, 28> kHelpTexts = {
    u"\r\n    %s Version " QUORVEL_VERSION "\r\n",
    u"    Usage:\r\n",
    u"    ID = Board occurance i.e. The order in which the boards are found",
    u"    If ID is not specified then the default will be 1.",
    u"    If no boards are present then an error will be issued\r\n",
    u"    X = The relay board occurance",
    u"    Relay# = Relay number (1 - 8)\r\n",
    u"    Relay numbers may be comma separated\r\n",
    u"    -h or /?  Show help\r\n",
    u"    %s -h",
    u"    %s /?",
    u"    %s [ID=X] ON=Relay#, Relay#",
    u"    %s [ID=X] OFF=Relay#, Relay#",
    u"    %s [ID=X] N=Decimal Number",
    u"    %s [ID=X] N=0xHexadecimal Number",
    u"    %s [ID=X] N=$Hexadecimal Number",
    u"\r\n    Examples:\r\n",
    u"    %s ON=1",
    u"    %s ID=2 ON=1,3,5,7",
    u"    %s OFF=1,3,5,7",
    u"    %s ID=1 ON=ALL",
    u"    %s ID=2 OFF=ALL",
    u"    %s ID=1 ON=1 OFF=2",
    u"\r\n    The following four examples all turn relays 1, 2, 7 & 8 ON\r\n",
    u"    %s ID=1 N=0xC3    ",
    u"    %s ID=1 N=$C3    ",
    u"    %s ID=1 N=195    ",
    u"    %s ID=1 B=11000011",
};

// Appends text to out with "%s" replaced by the name.
void AppendWithName(std::u16string& out, std::u16string_view text, std::u16string_view name) {
  constexpr std::u16string_view kPlaceholder = u"%s";
  if (const auto at = text.find(kPlaceholder); at != std::u16string_view::npos) {
    out.append(text.substr(0, at)).append(name).append(text.substr(at + kPlaceholder.size()));
  } else {
    out.append(text);
  }
}

}  // namespace

std::u16string ProgramName(std::u16string_view Path, std::u16string_view FolderSeparators) {
  std::u16string_view name = Path;
  if (const auto folderEnd = name.find_last_of(FolderSeparators);
      folderEnd != std::u16string_view::npos) {
    name.remove_prefix(folderEnd + 1);
  }
  if (const auto extension = name.rfind(u'.'); extension != std::u16string_view::npos) {
    name = name.substr(0, extension);
  }
  return std::u16string(name);
}

std::u16string VersionLine(std::u16string_view ProgramName) {
  constexpr std::u16string_view kBreak = u"\r\n";
  std::u16string_view text = kHelpTexts.front();
  text.remove_prefix(kBreak.size());
  text.remove_suffix(kBreak.size());
  std::u16string line;
  AppendWithName(line, text, ProgramName);
  return line;
}

void ShowHelp(Console& Output, std::u16string_view ProgramName) {
  // The texts as one, each ended by a break: the same lines in one write, which a script
  // reading a pipe receives whole and the system serves with one call instead of 28.
  std::u16string help;
  help.reserve(2048);
  for (std::size_t i = 0; i < kHelpTexts.size(); ++i) {
    if (i > 0) {
      help += u"\r\n";
    }
    AppendWithName(help, kHelpTexts[i], ProgramName);
  }
  Output.WriteLine(help);
}

}  // namespace quorvel::app
