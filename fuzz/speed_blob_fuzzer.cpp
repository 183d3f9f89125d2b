// speed_blob_output_length and decode_speed_chain_into against the plain
// chain walker: the same output length or head error, then the same bytes
// or the same first chain error.  Output lengths above 1 MiB are checked
// but not decoded, to keep each run small.
#include <cstdint>
#include <cstring>
#include <span>

#include "codecs/speed_blob.h"
#include "fuzz_input.h"
#include "reference/speed_blob.h"

using namespace native;
using namespace native::fuzz;
using namespace native::reference;

namespace {
constexpr std::uint64_t MAX_DECODED_OUTPUT = std::uint64_t{1} << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const SpeedCase c = read_speed_case({data, size});

  const auto length = speed_blob_output_length(c.blob, c.total);
  const LengthOutcome expected_length = reference_speed_output_length(c.blob, c.total);
  if (!length) {
    FUZZ_CHECK(!expected_length.length.has_value());
    FUZZ_CHECK(length.error().kind == expected_length.kind);
    FUZZ_CHECK(shown_message(length.error()) == expected_length.message);
    return 0;
  }
  const std::uint64_t output_length = *length;
  FUZZ_CHECK(expected_length.length.has_value());
  FUZZ_CHECK(output_length == *expected_length.length);
  FUZZ_CHECK(output_length >= 1);
  if (output_length > MAX_DECODED_OUTPUT) return 0;

  ExactBuffer output(output_length, 0xA5);
  const auto decoded = decode_speed_chain_into(c.blob, output.span());
  std::uint64_t read_end = 0;
  const Outcome expected = reference_speed_chain(c.blob, output_length, &read_end);

  if (!decoded) {
    FUZZ_CHECK(failed(decoded.error()) == expected);
    return 0;
  }
  FUZZ_CHECK(expected.bytes.has_value());
  FUZZ_CHECK(expected.bytes->size() == output_length);
  FUZZ_CHECK(std::memcmp(output.span().data(), expected.bytes->data(), output_length) == 0);

  // Nothing after the last chunk needed is read: the blob cut right after
  // it, in a block of its own, decodes the same.
  FUZZ_CHECK(read_end <= c.blob.size());
  ExactBuffer cut(read_end);
  std::memcpy(cut.span().data(), c.blob.data(), read_end);
  ExactBuffer again(output_length, 0x5A);
  FUZZ_CHECK(decode_speed_chain_into(cut.span(), again.span()).has_value());
  FUZZ_CHECK(std::memcmp(again.span().data(), expected.bytes->data(), output_length) == 0);
  return 0;
}
