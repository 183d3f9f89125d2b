// Both passes of the fixed-width decoding against a per-byte reference:
// every length, max_len and every output byte, for the vector path and the
// portable one.  The records end where the fuzzer's copy of the input ends
// and each output fills a heap block of exactly its size, so any access
// outside them is an address-sanitizer report.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "codecs/fixed_width.h"
#include "fuzz_input.h"
#include "reference.h"

using namespace native;
using namespace native::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FixedWidthCase c = read_fixed_width_case({data, size});

  const FixedWidthLengths measured = measure_fixed_width_records(c.records, c.width, c.count);

  if (c.width == 0 || c.count == 0) {
    // Nothing to read, store or write, whatever the count.
    FUZZ_CHECK(measured.lengths.empty());
    FUZZ_CHECK(measured.max_len == 0);
    ExactBuffer empty(0);
    decode_fixed_width_records_into(c.records, c.width, measured.lengths, 0, empty.span());
    decode_fixed_width_records_into_portable(c.records, c.width, measured.lengths, 0,
                                             empty.span());
    return 0;
  }

  // Reference lengths: bytes before the first NUL, or the whole record.
  FUZZ_CHECK(measured.lengths.size() == c.count);
  std::uint64_t max_len = 0;
  for (std::uint64_t i = 0; i < c.count; ++i) {
    std::uint64_t len = 0;
    while (len < c.width && c.records[i * c.width + len] != 0) ++len;
    FUZZ_CHECK(measured.lengths[i] <= c.width);
    FUZZ_CHECK(measured.lengths[i] == len);
    if (len > max_len) max_len = len;
  }
  FUZZ_CHECK(measured.max_len == max_len);

  // Reference output: one code point per byte, little-endian, zero padding.
  const std::uint64_t output_size = c.count * max_len * 4;  // <= 4 * input size
  Bytes expected(output_size, 0);
  for (std::uint64_t i = 0; i < c.count; ++i) {
    for (std::uint64_t k = 0; k < measured.lengths[i]; ++k) {
      const std::uint8_t byte = c.records[i * c.width + k];
      const std::uint32_t code_point = byte < 0x80 ? byte : 0xFFFDu;
      for (unsigned b = 0; b < 4; ++b) {
        expected[(i * max_len + k) * 4 + b] = static_cast<std::uint8_t>(code_point >> (8 * b));
      }
    }
  }

  ExactBuffer fast(output_size, 0);
  decode_fixed_width_records_into(c.records, c.width, measured.lengths, measured.max_len,
                                  fast.span());
  FUZZ_CHECK(output_size == 0 || std::memcmp(fast.span().data(), expected.data(), output_size) == 0);

  ExactBuffer portable(output_size, 0);
  decode_fixed_width_records_into_portable(c.records, c.width, measured.lengths,
                                           measured.max_len, portable.span());
  FUZZ_CHECK(output_size == 0 ||
             std::memcmp(portable.span().data(), expected.data(), output_size) == 0);
  return 0;
}
