// The check the inflation harnesses share: inflate_zlib_stream_into's
// verdict on an output that held `prefix` bytes of PREFIX_BYTE before the
// call and may have refused to grow, held to zlib's own loop; if a refusal
// took the content with it, only out_of_memory.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "codecs/zlib_stream.h"
#include "fuzz_input.h"
#include "reference/zlib.h"
#include "support/moving_bytes.h"

namespace native::fuzz {

inline constexpr std::uint8_t PREFIX_BYTE = 'p';

inline void check_zlib_verdict(const DecodeResult<void>& inflated,
                               const support::MovingBytes& output, std::uint64_t prefix,
                               const reference::Inflated& reference) {
  using reference::InflateEnd;
  if (output.lost()) {
    FUZZ_CHECK(!inflated && inflated.error().kind == ErrorKind::out_of_memory);
    return;
  }
  for (std::uint64_t i = 0; i < prefix; ++i) FUZZ_CHECK(output.data()[i] == PREFIX_BYTE);
  if (inflated) {
    FUZZ_CHECK(reference.end == InflateEnd::ended);
    FUZZ_CHECK(output.size() == prefix + reference.content.size());
    FUZZ_CHECK(reference.content.empty() ||
               std::memcmp(output.data() + prefix, reference.content.data(),
                           reference.content.size()) == 0);
    return;
  }
  FUZZ_CHECK(output.size() == prefix);
  // Inputs this small never exhaust the memory an inflater needs.
  FUZZ_CHECK(inflated.error().codec == Codec::zlib);
  FUZZ_CHECK(inflated.error().kind == ErrorKind::value_error);
  const std::string& message = inflated.error().message;
  if (message == INFLATE_MESSAGE_OUT_OF_MEMORY) {
    // Only a refused growth, whether the stream is good or not: zlib may
    // not have reached its verdict yet.
    FUZZ_CHECK(output.refusals() > 0);
    return;
  }
  FUZZ_CHECK(reference.end != InflateEnd::ended);
  FUZZ_CHECK(message == (reference.end == InflateEnd::corrupt ? INFLATE_MESSAGE_CORRUPT
                                                              : INFLATE_MESSAGE_INCOMPLETE));
}

}  // namespace native::fuzz
