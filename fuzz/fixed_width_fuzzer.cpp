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
#include "reference/fixed_width.h"

using namespace native;
using namespace native::fuzz;
using namespace native::reference;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FixedWidthCase c = read_fixed_width_case({data, size});

  // Inputs here are far too small for "out of memory" to be an outcome.
  const auto measure_result = measure_fixed_width_records(c.records, c.width, c.count);
  FUZZ_CHECK(measure_result.has_value());
  const FixedWidthLengths& measured = *measure_result;

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

  // Lengths: bytes before the first NUL, or the whole record.
  const FixedWidthDecoded expected = reference_fixed_width(c.records, c.width, c.count);
  FUZZ_CHECK(measured.lengths == expected.lengths);
  FUZZ_CHECK(measured.max_len == expected.max_len);

  // Output: one code point per byte, little-endian, zero padding; every
  // byte written, whatever the buffer held before.
  const std::uint64_t output_size = expected.output.size();  // <= 4 * input size
  ExactBuffer fast(output_size, 0xEE);
  decode_fixed_width_records_into(c.records, c.width, measured.lengths, measured.max_len,
                                  fast.span());
  FUZZ_CHECK(output_size == 0 ||
             std::memcmp(fast.span().data(), expected.output.data(), output_size) == 0);

  ExactBuffer portable(output_size, 0xEE);
  decode_fixed_width_records_into_portable(c.records, c.width, measured.lengths,
                                           measured.max_len, portable.span());
  FUZZ_CHECK(output_size == 0 ||
             std::memcmp(portable.span().data(), expected.output.data(), output_size) == 0);
  return 0;
}
