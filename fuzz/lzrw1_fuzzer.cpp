// lzrw1_decode_into against the plain decoder, with a fuzzed start and
// output length.  The output sits at the end of a heap block of exactly its
// length and the input ends where the fuzzer's copy of it ends, so a read or
// write past either is an address-sanitizer report.
#include <cstdint>
#include <cstring>
#include <span>

#include "codecs/lzrw1.h"
#include "fuzz_input.h"
#include "reference/lzrw1.h"

using namespace native;
using namespace native::fuzz;
using namespace native::reference;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Lzrw1Case c = read_lzrw1_case({data, size});

  ExactBuffer output(c.output_length, 0xA5);
  const auto decoded = lzrw1_decode_into(c.input, c.start, output.span());

  std::uint64_t read_end = 0;
  const Outcome expected = reference_lzrw1(c.input, c.start, c.output_length, &read_end);

  if (!decoded) {
    FUZZ_CHECK(decoded.error().codec == Codec::lzrw1);
    FUZZ_CHECK(failed(decoded.error()) == expected);
    return 0;
  }
  FUZZ_CHECK(expected.bytes.has_value());
  FUZZ_CHECK(expected.bytes->size() == c.output_length);
  FUZZ_CHECK(c.output_length == 0 ||
             std::memcmp(output.span().data(), expected.bytes->data(), c.output_length) == 0);

  // Bytes after the last item needed are never read: the stream cut right
  // after it, in a block of its own, decodes the same.
  if (read_end <= c.input.size()) {
    ExactBuffer cut(read_end);
    if (read_end > 0) std::memcpy(cut.span().data(), c.input.data(), read_end);
    ExactBuffer again(c.output_length, 0x5A);
    FUZZ_CHECK(lzrw1_decode_into(cut.span(), c.start, again.span()).has_value());
    FUZZ_CHECK(c.output_length == 0 ||
               std::memcmp(again.span().data(), expected.bytes->data(), c.output_length) == 0);
  }
  return 0;
}
