#include "app/ArgumentGrammar.h"

#include <cstddef>

#include "app/FieldSet.h"
#include "app/NumberConversion.h"
#include "relay/RelayProtocol.h"

namespace quorvel::app {
namespace {

using relay::kAllRelays;
using relay::RelayBit;

// A value is read from a fixed position, the one just behind the keyword when
// the keyword opens the argument, wherever the keyword was found.
constexpr std::size_t kValueLimit = 100;

std::u16string_view ValueText(std::u16string_view A, std::u16string_view keyword) {
  if (A.size() <= keyword.size()) {
    return {};
  }
  return A.substr(keyword.size(), kValueLimit);
}

bool Contains(std::u16string_view text, std::u16string_view part) {
  return text.find(part) != std::u16string_view::npos;
}

// Every keyword of the grammar; "ON=" holds "N=".
bool HoldsKeyword(std::u16string_view A) {
  return Contains(A, u"ID=") || Contains(A, u"N=") || Contains(A, u"OFF=") || Contains(A, u"B=");
}

// "ON=" holds "N=" too, so the relay lists are tried first.
bool ParseRelayKeywords(std::u16string_view A, TRelayRequest& Request) {
  if (Contains(A, u"ON=") || Contains(A, u"OFF=")) {
    ParseOnOff(A, Request);
    return true;
  }
  if (Contains(A, u"N=")) {
    return ParseN(A, Request);
  }
  return ParseB(A, Request);
}

}  // namespace

void WriteInvalidArgument(Console& Output, std::u16string_view Argument) {
  Output.WriteLine(u"\r\n    ERROR: The argument \"" + std::u16string(Argument) +
                   u"\" is not valid!");
}

bool ParseID(std::u16string_view A, TRelayRequest& Request) {
  constexpr std::u16string_view kKeyword = u"ID=";
  if (!Contains(A, kKeyword)) {
    return true;
  }
  return TryStrToInt(ValueText(A, kKeyword), Request.ID);
}

void ParseOnOff(std::u16string_view A, TRelayRequest& Request) {
  constexpr std::u16string_view kOn = u"ON=";
  constexpr std::u16string_view kOff = u"OFF=";
  const bool all = Contains(A, u"=ALL");

  TFieldSet pieces;
  if (Contains(A, kOn)) {
    if (all) {
      Request.OnMask = kAllRelays;
      Request.TouchedMask = kAllRelays;
    } else {
      SplitFields(ValueText(A, kOn), pieces, u',');
      for (const std::u16string& piece : pieces.Fields) {
        std::int32_t relay = 0;
        if (TryStrToInt(piece, relay)) {
          Request.OnMask |= RelayBit(relay);
          Request.TouchedMask |= RelayBit(relay);
        }
      }
    }
  }
  if (Contains(A, kOff)) {
    if (all) {
      Request.OnMask = 0;
      Request.TouchedMask = kAllRelays;
    } else {
      SplitFields(ValueText(A, kOff), pieces, u',');
      for (const std::u16string& piece : pieces.Fields) {
        std::int32_t relay = 0;
        if (TryStrToInt(piece, relay)) {
          Request.OnMask &= static_cast<std::uint8_t>(~RelayBit(relay));
          Request.TouchedMask |= RelayBit(relay);
        }
      }
    }
  }
}

bool ParseN(std::u16string_view A, TRelayRequest& Request) {
  constexpr std::u16string_view kKeyword = u"N=";
  if (!Contains(A, kKeyword)) {
    return true;
  }
  const std::optional<std::uint8_t> relays = NumStrToByte(ValueText(A, kKeyword));
  if (!relays) {
    return false;
  }
  Request.OnMask = *relays;
  Request.TouchedMask = kAllRelays;
  return true;
}

bool ParseB(std::u16string_view A, TRelayRequest& Request) {
  constexpr std::u16string_view kKeyword = u"B=";
  if (!Contains(A, kKeyword)) {
    return true;
  }
  const std::optional<std::uint8_t> relays = BinStrToByte(ValueText(A, kKeyword));
  if (!relays) {
    return false;
  }
  Request.OnMask = *relays;
  Request.TouchedMask = kAllRelays;
  return true;
}

bool ParseArguments(std::span<const std::u16string> Arguments, TRelayRequest& Request,
                    Console& Output) {
  return ParseArguments(Arguments, Request, Output, {});
}

bool ParseArguments(std::span<const std::u16string> Arguments, TRelayRequest& Request,
                    Console& Output, std::span<const std::optional<std::int32_t>> Named) {
  Request.ID = 1;
  for (std::size_t i = 0; i < Arguments.size(); ++i) {
    const std::u16string& argument = Arguments[i];
    if (i < Named.size() && Named[i]) {
      if (Arguments.size() == 1) {
        Output.WriteLine(u"\r\n    ERROR: The argument \"ID=x\" cannot be used on its own!");
        return false;
      }
      Request.ID = *Named[i];
      continue;
    }
    const std::u16string A = UpperCaseAscii(argument);
    // A word without a keyword is a typo or a habit ("status", "--help", "0N=1"): acting on
    // it would write the board's state back and report success. An empty argument is what
    // a script passes for an empty variable, and means nothing.
    if (!argument.empty() && !HoldsKeyword(A)) {
      WriteInvalidArgument(Output, argument);
      return false;
    }
    bool valid = true;
    if (Contains(A, u"ID=")) {
      if (Arguments.size() == 1) {
        Output.WriteLine(u"\r\n    ERROR: The argument \"ID=x\" cannot be used on its own!");
        return false;
      }
      valid = ParseID(A, Request);
    }
    if (valid) {
      valid = ParseRelayKeywords(A, Request);
    }
    if (!valid) {
      WriteInvalidArgument(Output, argument);
      return false;
    }
  }
  return true;
}

}  // namespace quorvel::app
