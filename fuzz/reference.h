// Yardsticks for the fuzzers: each format decoded the plain way, one item or
// one field at a time, with vectors that grow as needed.  Slow and obvious
// on purpose; the routines under test must give the same bytes and the same
// first error.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codecs/decode_error.h"

namespace native::fuzz {

using Bytes = std::vector<std::uint8_t>;

// -------------------------------------------------------------------- zlib

enum class RefInflate { ended, corrupt, incomplete, too_large };

// zlib's own loop over the whole input at once: the stream's content, or
// how it failed, or too_large once the content passes `max_output` bytes.
// Output grows in 64 KiB steps.
inline RefInflate reference_inflate(std::span<const std::uint8_t> input, Bytes& out,
                                    std::size_t max_output = SIZE_MAX) {
  z_stream stream{};
  if (inflateInit2(&stream, 15) != Z_OK) std::abort();
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  RefInflate result;
  for (;;) {
    std::uint8_t window[65536];
    stream.next_out = window;
    stream.avail_out = sizeof window;
    const int code = inflate(&stream, Z_NO_FLUSH);
    out.insert(out.end(), window, window + (sizeof window - stream.avail_out));
    if (code == Z_STREAM_END) {
      result = RefInflate::ended;
      break;
    }
    if (out.size() > max_output) {
      result = RefInflate::too_large;
      break;
    }
    if (code == Z_OK) continue;
    // Z_BUF_ERROR: no progress was possible, and with room for output that
    // means the input is used up.
    result = code == Z_BUF_ERROR ? RefInflate::incomplete : RefInflate::corrupt;
    break;
  }
  inflateEnd(&stream);
  return result;
}

}  // namespace native::fuzz
