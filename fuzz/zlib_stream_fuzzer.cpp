// inflate_zlib_stream against zlib's own loop over the whole input: the
// same content on success, and the same kind of failure (corrupt or
// incomplete) otherwise.
#include <cstdint>
#include <cstring>
#include <span>

#include "codecs/zlib_stream.h"
#include "fuzz_input.h"
#include "reference/zlib.h"

using namespace native;
using namespace native::fuzz;
using namespace native::reference;

namespace {
// Streams that inflate to more are skipped.  Mutated "bombs" (up to a
// 1000-fold expansion of the input) would otherwise fill the corpus and cut
// the executions to a few hundred a second; 1 MiB still takes the output
// vector through several growths.
constexpr std::size_t MAX_CONTENT = std::size_t{1} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const Inflated reference = reference_inflate(input, MAX_CONTENT);
  if (reference.end == InflateEnd::too_large) return 0;
  const Bytes& expected = reference.content;

  const auto inflated = inflate_zlib_stream(input);

  if (!inflated) {
    // Inputs here are far too small for "out of memory" to be an outcome.
    FUZZ_CHECK(inflated.error().codec == Codec::zlib);
    FUZZ_CHECK(inflated.error().kind == ErrorKind::value_error);
    if (inflated.error().message == INFLATE_MESSAGE_CORRUPT) {
      FUZZ_CHECK(reference.end == InflateEnd::corrupt);
    } else {
      FUZZ_CHECK(inflated.error().message == INFLATE_MESSAGE_INCOMPLETE);
      FUZZ_CHECK(reference.end == InflateEnd::incomplete);
    }
    return 0;
  }
  const ByteVector& content = *inflated;
  FUZZ_CHECK(reference.end == InflateEnd::ended);
  FUZZ_CHECK(content.size() <= content.capacity());
  FUZZ_CHECK(content.size() == expected.size());
  FUZZ_CHECK(content.empty() || std::memcmp(content.data(), expected.data(), expected.size()) == 0);
  return 0;
}
