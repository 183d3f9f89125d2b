// inflate_zlib_stream against zlib's own loop over the whole input: the
// same content on success, and the same kind of failure (corrupt or
// incomplete) otherwise.  Inputs here are far too small for "out of
// memory" to be a legitimate outcome.
#include <cstdint>
#include <cstring>
#include <span>
#include <variant>

#include "codecs/zlib_stream.h"
#include "fuzz_input.h"
#include "reference.h"

using namespace native;
using namespace native::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const auto inflated = inflate_zlib_stream(input);

  Bytes expected;
  const RefInflate reference = reference_inflate(input, expected);

  if (const auto* failure = std::get_if<InflateFailure>(&inflated)) {
    FUZZ_CHECK(*failure != InflateFailure::out_of_memory);
    if (*failure == InflateFailure::corrupt) {
      FUZZ_CHECK(reference == RefInflate::corrupt);
    } else {
      FUZZ_CHECK(reference == RefInflate::incomplete);
    }
    return 0;
  }
  const ByteVector& content = std::get<ByteVector>(inflated);
  FUZZ_CHECK(reference == RefInflate::ended);
  FUZZ_CHECK(content.size() <= content.capacity());
  FUZZ_CHECK(content.size() == expected.size());
  FUZZ_CHECK(content.empty() || std::memcmp(content.data(), expected.data(), expected.size()) == 0);
  return 0;
}
