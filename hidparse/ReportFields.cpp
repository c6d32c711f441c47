#include "hidparse/ReportFields.h"

#include <cstring>

namespace quorvel::hidparse {

namespace {
bool Fits(std::size_t bufferBytes, uint32_t bit, uint32_t bits) {
  return uint64_t{bit} + bits <= uint64_t{bufferBytes} * 8;
}
bool BitAt(std::span<const uint8_t> buffer, uint32_t bit) {
  return ((uint32_t{buffer[bit / 8]} >> (bit % 8)) & 1u) != 0;
}
void SetBitAt(std::span<uint8_t> buffer, uint32_t bit, bool on) {
  const auto mask = static_cast<uint8_t>(1u << (bit % 8));
  buffer[bit / 8] = static_cast<uint8_t>(on ? (buffer[bit / 8] | mask) : (buffer[bit / 8] & ~mask));
}
}  // namespace

uint32_t ReadBits(std::span<const uint8_t> buffer, uint32_t bit, uint32_t bits) {
  if (!Fits(buffer.size(), bit, bits)) {
    return 0;
  }
  const uint32_t count = bits < 32 ? bits : 32;
  uint32_t value = 0;
  uint32_t done = 0;
  while (done < count) {
    const uint32_t at = bit + done;
    const uint32_t shift = at % 8;
    const uint32_t take = (8 - shift) < (count - done) ? (8 - shift) : (count - done);
    const uint32_t chunk = (uint32_t{buffer[at / 8]} >> shift) & ((1u << take) - 1u);
    value |= chunk << done;
    done += take;
  }
  return value;
}

bool WriteBits(std::span<uint8_t> buffer, uint32_t bit, uint32_t bits, uint32_t value) {
  if (!Fits(buffer.size(), bit, bits)) {
    return false;
  }
  const bool negative = (value & 0x80000000u) != 0;
  for (uint32_t i = 0; i < bits; ++i) {
    const bool on = i < 32 ? ((value >> i) & 1u) != 0 : negative;
    SetBitAt(buffer, bit + i, on);
  }
  return true;
}

bool CopyBits(std::span<const uint8_t> from, uint32_t fromBit, std::span<uint8_t> to,
              uint32_t toBit, uint32_t bits) {
  if (!Fits(from.size(), fromBit, bits) || !Fits(to.size(), toBit, bits)) {
    return false;
  }
  if (fromBit % 8 == 0 && toBit % 8 == 0 && bits % 8 == 0) {
    if (bits > 0) {
      std::memmove(to.data() + toBit / 8, from.data() + fromBit / 8, bits / 8);
    }
    return true;
  }
  for (uint32_t i = 0; i < bits; ++i) {
    SetBitAt(to, toBit + i, BitAt(from, fromBit + i));
  }
  return true;
}

int64_t FieldNumber(uint32_t raw, uint32_t bits, bool isSigned) {
  if (bits == 0) {
    return 0;
  }
  if (bits >= 32) {
    return isSigned ? int64_t{static_cast<int32_t>(raw)} : int64_t{raw};
  }
  const uint32_t masked = raw & ((1u << bits) - 1u);
  if (isSigned && (masked & (1u << (bits - 1))) != 0) {
    return int64_t{masked} - (int64_t{1} << bits);
  }
  return masked;
}

}  // namespace quorvel::hidparse
