// Speed chunk chains decoded the plain way, one field at a time, with sizes
// compared in 128-bit arithmetic so that no bound can wrap: the yardstick
// for speed_blob_output_length and decode_speed_chain_into in the unit
// tests and the fuzzer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "reference/lzrw1.h"
#include "reference/outcome.h"

namespace native::reference {

__extension__ typedef unsigned __int128 uint128;

inline std::int32_t speed_i32(std::span<const std::uint8_t> data, std::uint64_t pos) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(data[pos]) |
                                   static_cast<std::uint32_t>(data[pos + 1]) << 8 |
                                   static_cast<std::uint32_t>(data[pos + 2]) << 16 |
                                   static_cast<std::uint32_t>(data[pos + 3]) << 24);
}

inline const char* const SPEED_RUNS_OFF =
    "decode_speed_blob: chunk chain runs off the end of the data -- truncated";

inline std::string speed_implausible_length(std::int32_t length) {
  return "decode_speed_blob: implausible decompressed_length=" + std::to_string(length) +
         " -- likely a misaligned or corrupt chunk header";
}

// The output length of the blob head, or its error.
struct LengthOutcome {
  std::optional<std::uint64_t> length;
  ErrorKind kind = ErrorKind::index_error;
  std::string message;
};

inline LengthOutcome reference_speed_output_length(std::span<const std::uint8_t> data,
                                                   std::int64_t total) {
  const uint128 size = data.size();
  if (size < 12) {
    return {std::nullopt, ErrorKind::index_error,
            "decode_speed_blob: truncated -- no chunk header"};
  }
  const std::int32_t subtype = speed_i32(data, 8);
  if (subtype != 1) {
    return {std::nullopt, ErrorKind::value_error,
            "decode_speed_blob: not a Speed chunk (subtype=" + std::to_string(subtype) + ")"};
  }
  if (size < 28) return {std::nullopt, ErrorKind::index_error, SPEED_RUNS_OFF};
  const std::int32_t first = speed_i32(data, 16);
  if (first < 1 || first > 199999999) {
    return {std::nullopt, ErrorKind::value_error, speed_implausible_length(first)};
  }
  if (total <= first) return {static_cast<std::uint64_t>(first), {}, {}};
  // A bound of 9 * size that does not fit in 64 bits accepts any total.
  const uint128 bound = 9 * size;
  if (bound <= UINT64_MAX && static_cast<uint128>(total) > bound) {
    return {std::nullopt, ErrorKind::value_error,
            "decode_speed_blob: blob header declares " + std::to_string(total) +
                " decompressed byte(s), more than " + std::to_string(data.size()) +
                " byte(s) of chunk data could possibly produce"};
  }
  return {static_cast<std::uint64_t>(total), {}, {}};
}

// The chain decoded into exactly `length` bytes.  On success *read_end (if
// given) is one past the last byte of `data` the chain needed.
inline Outcome reference_speed_chain(std::span<const std::uint8_t> data, std::uint64_t length,
                                     std::uint64_t* read_end = nullptr) {
  const uint128 size = data.size();
  Bytes out;
  std::uint64_t furthest = 0;
  auto reached = [&](std::uint64_t end) { furthest = end > furthest ? end : furthest; };
  uint128 h = 16;
  if (h + 12 > size) return failed(ErrorKind::index_error, SPEED_RUNS_OFF);
  for (;;) {
    const std::uint64_t at = static_cast<std::uint64_t>(h);
    reached(at + 12);
    const std::int32_t dl = speed_i32(data, at);
    const std::int32_t cl = speed_i32(data, at + 4);
    const std::uint32_t marker = static_cast<std::uint32_t>(speed_i32(data, at + 8));
    if (dl < 1 || dl > 199999999) {
      return failed(ErrorKind::value_error, speed_implausible_length(dl));
    }
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
      Outcome chunk = reference_lzrw1(data, at + 12, static_cast<std::uint64_t>(dl), &stream_end);
      if (!chunk.bytes) return chunk;
      out.insert(out.end(), chunk.bytes->begin(), chunk.bytes->end());
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
    if (h + 12 > size) return failed(ErrorKind::index_error, SPEED_RUNS_OFF);
  }
}

}  // namespace native::reference
