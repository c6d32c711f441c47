// Little-endian bit fields of a report buffer: fields are packed LSB first and may cross
// byte boundaries. Every access is checked against the buffer's length.
#pragma once

#include <cstdint>
#include <span>

namespace quorvel::hidparse {

// The low 32 bits of the field [bit, bit + bits); 0 for a field outside the buffer.
uint32_t ReadBits(std::span<const uint8_t> buffer, uint32_t bit, uint32_t bits);

// Writes the field [bit, bit + bits) from value; above bit 32 the field is filled with the
// sign of value, as a LONG widened. False, and nothing written, outside the buffer.
bool WriteBits(std::span<uint8_t> buffer, uint32_t bit, uint32_t bits, uint32_t value);

// Copies bits from one buffer into another; false, and nothing copied, when either range
// lies outside its buffer.
bool CopyBits(std::span<const uint8_t> from, uint32_t fromBit, std::span<uint8_t> to,
              uint32_t toBit, uint32_t bits);

// A raw field value read as the number it stands for: sign-extended from its size when
// isSigned, zero-extended otherwise.
int64_t FieldNumber(uint32_t raw, uint32_t bits, bool isSigned);

}  // namespace quorvel::hidparse
