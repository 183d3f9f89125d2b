// The LZRW1 format decoded the plain way, one item and one byte at a time:
// the yardstick for lzrw1_decode_into in the unit tests and the fuzzer.
#pragma once

#include <cstdint>
#include <span>

#include "reference/outcome.h"

namespace native::reference {

inline const char* const LZRW1_OUT_OF_INPUT = "lzrw1_decompress: ran out of input data";
inline const char* const LZRW1_BAD_OFFSET =
    "lzrw1_decompress: back-reference offset out of range (corrupt data)";

// `length` bytes decoded from the stream at input[start]; back-references
// reach only those bytes.  On success *read_end (if given) is one past the
// last input byte the stream needed.
inline Outcome reference_lzrw1(std::span<const std::uint8_t> input, std::uint64_t start,
                               std::uint64_t length, std::uint64_t* read_end = nullptr) {
  Bytes out;
  // A position p has n bytes after it when p < size and size - p >= n.
  auto has = [&](std::uint64_t p, std::uint64_t n) {
    return p < input.size() && input.size() - p >= n;
  };
  const auto out_of_input = [] { return failed(ErrorKind::index_error, LZRW1_OUT_OF_INPUT); };
  std::uint64_t p = start;
  auto done = [&] {
    if (read_end != nullptr) *read_end = p;
    return succeeded(std::move(out));
  };
  while (out.size() < length) {
    if (!has(p, 2)) return out_of_input();
    const unsigned control = input[p] | input[p + 1] << 8;
    p += 2;
    for (unsigned item = 0; item < 16; ++item) {
      if (out.size() == length) return done();
      if ((control >> item & 1) == 0) {
        if (!has(p, 1)) return out_of_input();
        out.push_back(input[p]);
        p += 1;
      } else {
        if (!has(p, 2)) return out_of_input();
        const unsigned b0 = input[p], b1 = input[p + 1];
        p += 2;
        const std::uint64_t offset = (b0 >> 4) * 256u + b1;
        std::uint64_t count = (b0 & 15u) + 1;
        if (offset == 0 || offset > out.size()) {
          return failed(ErrorKind::index_error, LZRW1_BAD_OFFSET);
        }
        if (count > length - out.size()) count = length - out.size();
        for (std::uint64_t j = 0; j < count; ++j) out.push_back(out[out.size() - offset]);
      }
    }
  }
  return done();
}

}  // namespace native::reference
