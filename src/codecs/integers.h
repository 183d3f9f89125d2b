// Byte-order loads and stores (little-endian fields; the big-endian
// Adler-32 trailer of zlib streams), and overflow-checked sums and
// products: the one home of these helpers for every codec.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "codecs/internal_fault.h"

namespace native {

// The caller has checked that the bytes at `p` exist.
inline std::uint16_t load_u16le(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t load_u32le(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::int32_t load_i32le(const std::uint8_t* p) {
  return static_cast<std::int32_t>(load_u32le(p));
}
// One word load, for bit readers.
inline std::uint64_t load_u64le(const std::uint8_t* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
  return value;
}
inline std::uint32_t load_u32be(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}
inline void store_u32le(std::uint8_t* p, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  std::memcpy(p, bytes, sizeof bytes);
}

// a + b and a * b, or nothing when the result does not fit in 64 bits.
inline std::optional<std::uint64_t> checked_sum(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}
inline std::optional<std::uint64_t> checked_product(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

// a * b in decimal, exact also past 64 bits: for messages that print it.
inline std::string decimal_product(std::uint64_t a, std::uint64_t b) {
  __extension__ typedef unsigned __int128 uint128;
  uint128 value = static_cast<uint128>(a) * b;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return digits;
}

// a * b for sizes of module-owned memory; overflow past the signed 64-bit
// range is the fault "capacity overflow".
inline std::uint64_t checked_size_product(std::uint64_t a, std::uint64_t b) {
  const std::optional<std::uint64_t> product = checked_product(a, b);
  if (!product || *product > INT64_MAX) internal_fault("capacity overflow");
  return *product;
}

}  // namespace native
