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

// Decoded bytes, or the error (kind and full message).
struct Outcome {
  std::optional<Bytes> bytes;
  ErrorKind kind = ErrorKind::index_error;
  std::string message;
};
inline Outcome succeeded(Bytes bytes) { return {std::move(bytes), ErrorKind::index_error, {}}; }
inline Outcome failed(ErrorKind kind, std::string message) {
  return {std::nullopt, kind, std::move(message)};
}

// ------------------------------------------------------------------- LZRW1

inline const char* const REF_OUT_OF_INPUT = "lzrw1_decompress: ran out of input data";
inline const char* const REF_BAD_OFFSET =
    "lzrw1_decompress: back-reference offset out of range (corrupt data)";

// Appends `length` decoded bytes to `out`; back-references reach only the
// bytes appended by this call.  On success *read_end (if given) is one past
// the last input byte the stream needed.
inline std::optional<std::string> reference_lzrw1(std::span<const std::uint8_t> input,
                                                  std::uint64_t start, std::uint64_t length,
                                                  Bytes& out, std::uint64_t* read_end = nullptr) {
  const std::size_t base = out.size();
  auto produced = [&] { return static_cast<std::uint64_t>(out.size() - base); };
  // A position p has n bytes after it when p < size and size - p >= n.
  auto has = [&](std::uint64_t p, std::uint64_t n) {
    return p < input.size() && input.size() - p >= n;
  };
  std::uint64_t p = start;
  auto done = [&]() -> std::optional<std::string> {
    if (read_end != nullptr) *read_end = p;
    return std::nullopt;
  };
  if (length == 0) return done();
  while (produced() < length) {
    if (!has(p, 2)) return REF_OUT_OF_INPUT;
    const unsigned control = input[p] | input[p + 1] << 8;
    p += 2;
    for (unsigned item = 0; item < 16; ++item) {
      if (produced() == length) return done();
      if ((control >> item & 1) == 0) {
        if (!has(p, 1)) return REF_OUT_OF_INPUT;
        out.push_back(input[p]);
        p += 1;
      } else {
        if (!has(p, 2)) return REF_OUT_OF_INPUT;
        const unsigned b0 = input[p], b1 = input[p + 1];
        p += 2;
        const std::uint64_t offset = (b0 >> 4) * 256u + b1;
        std::uint64_t count = (b0 & 15u) + 1;
        if (offset == 0 || offset > produced()) return REF_BAD_OFFSET;
        if (count > length - produced()) count = length - produced();
        for (std::uint64_t j = 0; j < count; ++j) out.push_back(out[out.size() - offset]);
      }
    }
  }
  return done();
}

// ------------------------------------------------------------ Speed chains

inline std::int32_t ref_i32(std::span<const std::uint8_t> data, std::uint64_t pos) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(data[pos]) |
                                   static_cast<std::uint32_t>(data[pos + 1]) << 8 |
                                   static_cast<std::uint32_t>(data[pos + 2]) << 16 |
                                   static_cast<std::uint32_t>(data[pos + 3]) << 24);
}

inline std::string ref_implausible(std::int32_t length) {
  return "decode_speed_blob: implausible decompressed_length=" + std::to_string(length) +
         " -- likely a misaligned or corrupt chunk header";
}

// The output length of the blob head, or its error.  Sizes are compared in
// 128-bit arithmetic, so no bound can wrap.
struct RefLength {
  std::optional<std::uint64_t> length;
  ErrorKind kind = ErrorKind::index_error;
  std::string message;
};
inline RefLength reference_speed_output_length(std::span<const std::uint8_t> data,
                                               std::int64_t total) {
  const unsigned __int128 size = data.size();
  if (size < 12) return {std::nullopt, ErrorKind::index_error,
                         "decode_speed_blob: truncated -- no chunk header"};
  const std::int32_t subtype = ref_i32(data, 8);
  if (subtype != 1) {
    return {std::nullopt, ErrorKind::value_error,
            "decode_speed_blob: not a Speed chunk (subtype=" + std::to_string(subtype) + ")"};
  }
  if (size < 28) {
    return {std::nullopt, ErrorKind::index_error,
            "decode_speed_blob: chunk chain runs off the end of the data -- truncated"};
  }
  const std::int32_t first = ref_i32(data, 16);
  if (first < 1 || first > 199999999) {
    return {std::nullopt, ErrorKind::value_error, ref_implausible(first)};
  }
  if (total <= first) return {static_cast<std::uint64_t>(first), {}, {}};
  // A bound of 9 * size that does not fit in 64 bits accepts any total.
  const unsigned __int128 bound = 9 * size;
  if (bound <= UINT64_MAX && static_cast<unsigned __int128>(total) > bound) {
    return {std::nullopt, ErrorKind::value_error,
            "decode_speed_blob: blob header declares " + std::to_string(total) +
                " decompressed byte(s), more than " + std::to_string(data.size()) +
                " byte(s) of chunk data could possibly produce"};
  }
  return {static_cast<std::uint64_t>(total), {}, {}};
}

// The chain decoded into exactly `length` bytes.  On success *read_end is
// one past the last byte of `data` the chain needed.
inline Outcome reference_speed_chain(std::span<const std::uint8_t> data, std::uint64_t length,
                                     std::uint64_t* read_end = nullptr) {
  const unsigned __int128 size = data.size();
  Bytes out;
  std::uint64_t furthest = 0;
  auto reached = [&](std::uint64_t end) { furthest = end > furthest ? end : furthest; };
  unsigned __int128 h = 16;
  if (h + 12 > size) {
    return failed(ErrorKind::index_error,
                  "decode_speed_blob: chunk chain runs off the end of the data -- truncated");
  }
  for (;;) {
    const std::uint64_t at = static_cast<std::uint64_t>(h);
    reached(at + 12);
    const std::int32_t dl = ref_i32(data, at);
    const std::int32_t cl = ref_i32(data, at + 4);
    const std::uint32_t marker = static_cast<std::uint32_t>(ref_i32(data, at + 8));
    if (dl < 1 || dl > 199999999) return failed(ErrorKind::value_error, ref_implausible(dl));
    if (out.size() + static_cast<std::uint64_t>(dl) > length) {
      return failed(ErrorKind::value_error,
                    "decode_speed_blob: chunks decode to more bytes than the blob header declares");
    }
    if (marker == 0xF0E1D2C3u) {
      const std::int64_t stored = std::int64_t{cl} - 12;
      if (stored != dl) {
        return failed(ErrorKind::value_error,
                      "decode_speed_blob: stored-raw chunk should have chunk_length-12 == "
                      "decompressed_length (got chunk_length-12=" +
                          std::to_string(stored) + ", decompressed_length=" +
                          std::to_string(dl) + ")");
      }
      if (h + 12 + static_cast<unsigned>(dl) > size) {
        return failed(ErrorKind::index_error,
                      "decode_speed_blob: truncated stored-raw payload -- file cut off mid-chunk?");
      }
      for (std::int32_t i = 0; i < dl; ++i) out.push_back(data[at + 12 + i]);
      reached(at + 12 + static_cast<std::uint64_t>(dl));
    } else if (marker == 0xF4E5D6C7u) {
      std::uint64_t stream_end = 0;
      if (auto error =
              reference_lzrw1(data, at + 12, static_cast<std::uint64_t>(dl), out, &stream_end)) {
        return failed(ErrorKind::index_error, *error);
      }
      reached(stream_end);
    } else {
      return failed(ErrorKind::value_error, "decode_speed_blob: unrecognized marker value: " +
                                                std::to_string(static_cast<std::int32_t>(marker)));
    }
    if (out.size() == length) {
      if (read_end != nullptr) *read_end = furthest;
      return succeeded(std::move(out));
    }
    if (cl < 12) {
      return failed(ErrorKind::value_error, "decode_speed_blob: implausible chunk_length=" +
                                                std::to_string(cl) + " -- corrupt chunk chain");
    }
    h += static_cast<unsigned>(cl);
    if (h + 12 > size) {
      return failed(ErrorKind::index_error,
                    "decode_speed_blob: chunk chain runs off the end of the data -- truncated");
    }
  }
}

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
