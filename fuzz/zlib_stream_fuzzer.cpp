// inflate_zlib_stream_into against zlib's own loop over the whole input:
// the same content on success, and the same kind of failure (corrupt or
// incomplete) otherwise, into an output that moves on every growth and,
// for some input lengths, refuses to grow past a part of the content, and
// then again into one that loses the content on a refusal.
#include <cstdint>
#include <span>

#include "codecs/zlib_stream.h"
#include "fuzz_input.h"
#include "reference/zlib.h"
#include "support/moving_bytes.h"
#include "zlib_verdict.h"

using namespace native;
using namespace native::fuzz;
using namespace native::reference;

namespace {
// Streams that inflate to more are skipped.  Mutated "bombs" (up to a
// 1000-fold expansion of the input) would otherwise fill the corpus and cut
// the executions to a few hundred a second; 1 MiB still takes the output
// through several growths.
constexpr std::size_t MAX_CONTENT = std::size_t{1} << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const Inflated reference = reference_inflate(input, MAX_CONTENT);
  if (reference.end == InflateEnd::too_large) return 0;

  const std::uint64_t limit =
      growth_limit(size % ZLIB_STREAM_LIMIT_MODULUS, 0, reference.content.size());
  support::MovingBytes output(limit);
  check_zlib_verdict(inflate_zlib_stream_into(input, output), output, 0, reference);
  if (limit != UINT64_MAX) {
    support::MovingBytes losing(limit, support::MovingBytes::Refusal::loses_content);
    check_zlib_verdict(inflate_zlib_stream_into(input, losing), losing, 0, reference);
  }
  return 0;
}
