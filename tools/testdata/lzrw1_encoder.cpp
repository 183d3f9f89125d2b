#include "lzrw1_encoder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace native::testdata {
namespace {

constexpr std::size_t HASH_BITS = 12;
constexpr std::size_t MIN_MATCH = 3;
constexpr std::size_t MAX_MATCH = 16;
constexpr std::size_t MAX_OFFSET = 4095;
constexpr std::size_t NO_POSITION = SIZE_MAX;

inline std::size_t hash3(const std::uint8_t* p) {
  const std::uint32_t key = ((static_cast<std::uint32_t>(p[0]) << 4 ^ p[1]) << 4) ^ p[2];
  return ((40543u * key) >> 4) & ((1u << HASH_BITS) - 1);
}

}  // namespace

void lzrw1_encode_append(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& stream) {
  const std::uint8_t* const src = input.data();
  const std::size_t n = input.size();
  auto table = std::make_unique<std::array<std::size_t, std::size_t{1} << HASH_BITS>>();
  table->fill(NO_POSITION);

  stream.reserve(stream.size() + n + n / 8 + 4);
  std::size_t pos = 0;
  while (pos < n) {
    const std::size_t control_at = stream.size();
    stream.push_back(0);
    stream.push_back(0);
    unsigned control = 0;
    for (unsigned item = 0; item < 16 && pos < n; ++item) {
      if (n - pos >= MIN_MATCH) {
        std::size_t& slot = (*table)[hash3(src + pos)];
        const std::size_t candidate = slot;
        slot = pos;
        if (candidate != NO_POSITION && pos - candidate <= MAX_OFFSET) {
          const std::size_t offset = pos - candidate;
          const std::size_t limit = std::min(MAX_MATCH, n - pos);
          std::size_t length = 0;
          while (length < limit && src[candidate + length] == src[pos + length]) ++length;
          if (length >= MIN_MATCH) {
            stream.push_back(static_cast<std::uint8_t>((offset >> 8) << 4 | (length - 1)));
            stream.push_back(static_cast<std::uint8_t>(offset & 0xFF));
            control |= 1u << item;
            pos += length;
            continue;
          }
        }
      }
      stream.push_back(src[pos++]);
    }
    stream[control_at] = static_cast<std::uint8_t>(control & 0xFF);
    stream[control_at + 1] = static_cast<std::uint8_t>(control >> 8);
  }
}

std::vector<std::uint8_t> lzrw1_encode(std::span<const std::uint8_t> input) {
  std::vector<std::uint8_t> stream;
  lzrw1_encode_append(input, stream);
  return stream;
}

}  // namespace native::testdata
