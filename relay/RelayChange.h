// What any front asks of a board's relays: which go on, which go off, which flip. One
// type and one rule for the new state, whether the change came from the command line, an
// MQTT payload or a program.
#pragma once

#include <cstdint>

namespace quorvel::relay {

// One bit per relay, bit 0 relay 1: room for every relay a board family may have.
using TRelayMask = std::uint32_t;

inline constexpr int kMaskRelays = 32;

// The mask bit of relay n: 1 to kMaskRelays select a relay, every other number none.
constexpr TRelayMask RelayMaskBit(int n) {
  return n >= 1 && n <= kMaskRelays ? TRelayMask{1} << (n - 1) : 0;
}

// The relays 1 to Relays as a mask.
constexpr TRelayMask AllRelaysMask(int Relays) {
  if (Relays <= 0) {
    return 0;
  }
  return Relays >= kMaskRelays ? ~TRelayMask{0} : (TRelayMask{1} << Relays) - 1;
}

// Each relay at most in one of the three when built with SwitchOn, SwitchOff and Flip:
// the latest word for a relay wins, as "ON=1 OFF=1" leaves relay 1 off.
struct TRelayChange {
  TRelayMask On = 0;
  TRelayMask Off = 0;
  TRelayMask Toggle = 0;  // flipped from the state the board reports

  void SwitchOn(TRelayMask Relays) {
    On |= Relays;
    Off &= ~Relays;
    Toggle &= ~Relays;
  }
  void SwitchOff(TRelayMask Relays) {
    Off |= Relays;
    On &= ~Relays;
    Toggle &= ~Relays;
  }
  void Flip(TRelayMask Relays) {
    Toggle |= Relays;
    On &= ~Relays;
    Off &= ~Relays;
  }
  TRelayMask Named() const { return On | Off | Toggle; }
  bool operator==(const TRelayChange&) const = default;
};

// The state a change makes of the present one: relays it does not name keep theirs.
constexpr TRelayMask ApplyChange(TRelayMask Present, const TRelayChange& Change) {
  return ((Present | Change.On) & ~Change.Off) ^ Change.Toggle;
}

// A change that sets every relay of Relays to its bit in State.
constexpr TRelayChange SetAll(TRelayMask State, int Relays) {
  const TRelayMask all = AllRelaysMask(Relays);
  return {.On = State & all, .Off = all & ~State};
}

}  // namespace quorvel::relay
