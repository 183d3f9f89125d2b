// Fixed-width records decoded the plain way, byte by byte: the yardstick for
// both passes of the fixed-width decoding in the unit tests and the fuzzer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "reference/outcome.h"

namespace native::reference {

struct FixedWidthDecoded {
  std::vector<std::uint64_t> lengths;  // one per record, also for width 0
  std::uint64_t max_len = 0;
  Bytes output;  // count * max_len code points, 4 bytes little-endian each
};

// `input` holds at least count * width bytes.
inline FixedWidthDecoded reference_fixed_width(std::span<const std::uint8_t> input,
                                               std::uint64_t width, std::uint64_t count) {
  FixedWidthDecoded ref;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint64_t len = 0;
    while (len < width && input[i * width + len] != 0) ++len;
    ref.lengths.push_back(len);
    if (len > ref.max_len) ref.max_len = len;
  }
  ref.output.assign(count * ref.max_len * 4, 0);
  for (std::uint64_t i = 0; i < count; ++i) {
    for (std::uint64_t k = 0; k < ref.lengths[i]; ++k) {
      const std::uint8_t byte = input[i * width + k];
      const std::uint32_t code_point = byte < 0x80 ? byte : 0xFFFDu;
      for (unsigned b = 0; b < 4; ++b) {
        ref.output[(i * ref.max_len + k) * 4 + b] =
            static_cast<std::uint8_t>(code_point >> (8 * b));
      }
    }
  }
  return ref;
}

}  // namespace native::reference
