// zlib streams and grid blocks inflated the plain way, by zlib's own
// streaming loop with no staging buffer and no growth policy: the
// yardstick for inflate_zlib_stream_into and inflate_grid_blocks_into in
// the unit tests and the fuzzers.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "codecs/grid_blocks.h"
#include "reference/outcome.h"

namespace native::reference {

enum class InflateEnd { ended, corrupt, incomplete, too_large };

struct Inflated {
  InflateEnd end;
  Bytes content;  // the whole content when ended, else what came out first
};

// zlib's own stream of `content` with these settings: the streams the
// references and the module are compared on.
inline Bytes deflate_with(std::span<const std::uint8_t> content, int level,
                          int strategy = Z_DEFAULT_STRATEGY, int window_bits = 15,
                          int mem_level = 8) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, window_bits, mem_level, strategy) != Z_OK) {
    std::abort();
  }
  Bytes out(deflateBound(&stream, content.size()) + 64);
  stream.next_in = const_cast<Bytef*>(content.data());
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) std::abort();
  out.resize(stream.total_out);
  return out;
}

// The zlib stream at the start of `input`, fed `in_chunk` bytes and taken
// out `out_chunk` bytes at a time; too_large once the content passes
// `max_output` bytes.
inline Inflated reference_inflate(std::span<const std::uint8_t> input,
                                  std::size_t max_output = SIZE_MAX,
                                  std::size_t in_chunk = SIZE_MAX,
                                  std::size_t out_chunk = 65536) {
  z_stream stream{};
  if (inflateInit2(&stream, 15) != Z_OK) std::abort();
  Inflated result{InflateEnd::incomplete, {}};
  Bytes window(out_chunk);
  std::size_t fed = 0;
  for (;;) {
    if (stream.avail_in == 0 && fed < input.size()) {
      const std::size_t count = std::min({in_chunk, input.size() - fed, std::size_t{UINT32_MAX}});
      stream.next_in = const_cast<Bytef*>(input.data() + fed);
      stream.avail_in = static_cast<uInt>(count);
      fed += count;
    }
    stream.next_out = window.data();
    stream.avail_out = static_cast<uInt>(window.size());
    const int code = inflate(&stream, Z_NO_FLUSH);
    result.content.insert(result.content.end(), window.begin(),
                          window.end() - stream.avail_out);
    if (code == Z_STREAM_END) {
      result.end = InflateEnd::ended;
      break;
    }
    if (result.content.size() > max_output) {
      result.end = InflateEnd::too_large;
      break;
    }
    if (code == Z_OK) continue;
    // Z_BUF_ERROR: no progress was possible, and with room for output and
    // the input fed as soon as it runs dry, that means the input is used up.
    result.end = code == Z_BUF_ERROR ? InflateEnd::incomplete : InflateEnd::corrupt;
    break;
  }
  inflateEnd(&stream);
  return result;
}

// The location's payload, or nothing when it is out of range.
inline std::optional<std::span<const std::uint8_t>> grid_payload(
    std::span<const std::uint8_t> body, const BlockLocation& location) {
  if (location.offset > body.size() || location.length > body.size() - location.offset) {
    return std::nullopt;
  }
  return body.subspan(location.offset, location.length);
}

struct GridDecoded {
  std::uint64_t blocks_decoded = 0;
  Bytes content;
};

// The blocks in location order, up to the first one out of range or not
// inflating completely.
inline GridDecoded reference_grid_blocks(std::span<const std::uint8_t> body,
                                         std::span<const BlockLocation> locations) {
  GridDecoded result;
  for (const BlockLocation& location : locations) {
    const auto payload = grid_payload(body, location);
    if (!payload) break;
    const Inflated block = reference_inflate(*payload);
    if (block.end != InflateEnd::ended) break;
    result.content.insert(result.content.end(), block.content.begin(), block.content.end());
    ++result.blocks_decoded;
  }
  return result;
}

}  // namespace native::reference
