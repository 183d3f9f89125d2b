// lzrw1_decode_into against the plain decoder, with a fuzzed start and
// output length.  The output sits at the end of a heap block of exactly its
// length and the input ends where the fuzzer's copy of it ends, so a read or
// write past either is an address-sanitizer report.
#include <cstdint>
#include <cstring>
#include <span>

#include "codecs/lzrw1.h"
#include "fuzz_input.h"
#include "reference.h"

using namespace native;
using namespace native::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Lzrw1Case c = read_lzrw1_case({data, size});

  ExactBuffer output(c.output_length, 0xA5);
  const DecodeStatus status = lzrw1_decode_into(c.input, c.start, output.span());

  Bytes expected;
  std::uint64_t read_end = 0;
  const auto expected_error =
      reference_lzrw1(c.input, c.start, c.output_length, expected, &read_end);

  if (status) {
    FUZZ_CHECK(status->kind == ErrorKind::index_error);
    FUZZ_CHECK(expected_error.has_value());
    FUZZ_CHECK(status->message == *expected_error);
    return 0;
  }
  FUZZ_CHECK(!expected_error.has_value());
  FUZZ_CHECK(expected.size() == c.output_length);
  FUZZ_CHECK(c.output_length == 0 ||
             std::memcmp(output.span().data(), expected.data(), expected.size()) == 0);

  // Bytes after the last item needed are never read: the stream cut right
  // after it, in a block of its own, decodes the same.
  if (read_end <= c.input.size()) {
    ExactBuffer cut(read_end);
    if (read_end > 0) std::memcpy(cut.span().data(), c.input.data(), read_end);
    ExactBuffer again(c.output_length, 0x5A);
    const DecodeStatus cut_status = lzrw1_decode_into(cut.span(), c.start, again.span());
    FUZZ_CHECK(!cut_status.has_value());
    FUZZ_CHECK(c.output_length == 0 ||
               std::memcmp(again.span().data(), expected.data(), expected.size()) == 0);
  }
  return 0;
}
