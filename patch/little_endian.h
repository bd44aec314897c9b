// Little-endian numbers of the update description and the dictionary files,
// byte by byte, so that the host's byte order and alignment play no part.
#pragma once

#include <cstdint>

namespace tavelon::patch {

// The unsigned number in `size` bytes (at most 4), lowest byte first.
inline std::uint32_t DecodeLittleEndian(const unsigned char* bytes, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// The same bytes read as a signed number (two's complement): FF FF is -1.
inline std::int32_t DecodeSignedLittleEndian(const unsigned char* bytes,
                                             int size) {
  const std::int64_t sign = std::int64_t{1} << (8 * size - 1);
  const std::int64_t raw = DecodeLittleEndian(bytes, size);
  return static_cast<std::int32_t>(raw >= sign ? raw - 2 * sign : raw);
}

// Writes the low `size` bytes of `value`, lowest first.
inline void EncodeLittleEndian(std::uint32_t value, unsigned char* bytes,
                               int size) {
  for (int i = 0; i < size; ++i) {
    bytes[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFFu);
  }
}

}  // namespace tavelon::patch
