#include "codecs/speed_blob.h"

#include <cstring>
#include <string>

#include "codecs/lzrw1.h"

namespace native {
namespace {

// The caller has checked that 4 bytes lie at pos.
std::uint32_t read_u32le(std::span<const std::uint8_t> data, std::uint64_t pos) {
  const std::uint8_t* p = data.data() + pos;
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::int32_t read_i32le(std::span<const std::uint8_t> data, std::uint64_t pos) {
  return static_cast<std::int32_t>(read_u32le(data, pos));
}

bool plausible_decompressed_length(std::int32_t length) {
  return length >= 1 && length <= MAX_PLAUSIBLE_DECOMPRESSED_LENGTH;
}

DecodeError implausible_decompressed_length(std::int32_t length) {
  return value_error("decode_speed_blob: implausible decompressed_length=" +
                     std::to_string(length) +
                     " -- likely a misaligned or corrupt chunk header");
}

DecodeError chain_runs_off_the_end() {
  return index_error("decode_speed_blob: chunk chain runs off the end of the data -- truncated");
}

}  // namespace

DecodeResult<std::uint64_t> speed_blob_output_length(std::span<const std::uint8_t> data,
                                                     std::int64_t total) {
  const std::uint64_t data_len = data.size();
  // Order matters: a short blob with a wrong subtype reports the subtype.
  if (data_len < SPEED_SUBTYPE_OFFSET + 4) {
    return index_error("decode_speed_blob: truncated -- no chunk header");
  }
  const std::int32_t subtype = read_i32le(data, SPEED_SUBTYPE_OFFSET);
  if (subtype != SPEED_SUBTYPE) {
    return value_error("decode_speed_blob: not a Speed chunk (subtype=" +
                       std::to_string(subtype) + ")");
  }
  if (data_len < SPEED_MAGIC_LENGTH + SPEED_SUBHEADER_LENGTH) return chain_runs_off_the_end();

  const std::int32_t first_length = read_i32le(data, SPEED_MAGIC_LENGTH);
  if (!plausible_decompressed_length(first_length)) {
    return implausible_decompressed_length(first_length);
  }
  if (total <= first_length) return static_cast<std::uint64_t>(first_length);

  // total > first_length >= 1 here.  An overflowing bound accepts the total.
  std::uint64_t bound;
  if (!__builtin_mul_overflow(SPEED_EXPANSION_FACTOR, data_len, &bound) &&
      static_cast<std::uint64_t>(total) > bound) {
    return value_error("decode_speed_blob: blob header declares " + std::to_string(total) +
                       " decompressed byte(s), more than " + std::to_string(data_len) +
                       " byte(s) of chunk data could possibly produce");
  }
  return static_cast<std::uint64_t>(total);
}

DecodeStatus decode_speed_chain_into(std::span<const std::uint8_t> data,
                                     std::span<std::uint8_t> output) {
  const std::uint64_t data_len = data.size();
  const std::uint64_t out_len = output.size();
  std::uint64_t header_pos = SPEED_MAGIC_LENGTH;
  std::uint64_t produced = 0;

  // For the first sub-header speed_blob_output_length has made this check
  // already; repeating it keeps this routine safe on its own.
  if (data_len < header_pos + SPEED_SUBHEADER_LENGTH) return chain_runs_off_the_end();

  for (;;) {
    const std::int32_t chunk_out = read_i32le(data, header_pos);
    const std::int32_t chunk_length = read_i32le(data, header_pos + 4);
    const std::uint32_t marker = read_u32le(data, header_pos + 8);
    const std::uint64_t payload_pos = header_pos + SPEED_SUBHEADER_LENGTH;

    if (!plausible_decompressed_length(chunk_out)) {
      return implausible_decompressed_length(chunk_out);
    }
    const std::uint64_t chunk_len_out = static_cast<std::uint64_t>(chunk_out);
    if (chunk_len_out > out_len - produced) {
      return value_error("decode_speed_blob: chunks decode to more bytes than the blob header declares");
    }
    const std::span<std::uint8_t> chunk_output = output.subspan(produced, chunk_len_out);

    if (marker == SPEED_MARKER_STORED_RAW) {
      const std::int64_t stored = static_cast<std::int64_t>(chunk_length) - 12;
      if (stored != chunk_out) {
        return value_error(
            "decode_speed_blob: stored-raw chunk should have chunk_length-12 == "
            "decompressed_length (got chunk_length-12=" +
            std::to_string(stored) + ", decompressed_length=" + std::to_string(chunk_out) + ")");
      }
      // payload_pos <= data_len: the sub-header lies within data.
      if (chunk_len_out > data_len - payload_pos) {
        return index_error("decode_speed_blob: truncated stored-raw payload -- file cut off mid-chunk?");
      }
      std::memcpy(chunk_output.data(), data.data() + payload_pos, chunk_len_out);
    } else if (marker == SPEED_MARKER_LZRW1) {
      // The stream may read up to the end of data, past its chunk_length.
      if (DecodeStatus status = lzrw1_decode_into(data, payload_pos, chunk_output)) {
        return status;
      }
    } else {
      return value_error("decode_speed_blob: unrecognized marker value: " +
                         std::to_string(static_cast<std::int32_t>(marker)));
    }

    produced += chunk_len_out;
    // The last chunk's chunk_length is never examined, nor anything after it.
    if (produced == out_len) return std::nullopt;

    if (chunk_length < static_cast<std::int32_t>(SPEED_SUBHEADER_LENGTH)) {
      return value_error("decode_speed_blob: implausible chunk_length=" +
                         std::to_string(chunk_length) + " -- corrupt chunk chain");
    }
    header_pos += static_cast<std::uint64_t>(chunk_length);
    if (header_pos > data_len || data_len - header_pos < SPEED_SUBHEADER_LENGTH) {
      return chain_runs_off_the_end();
    }
  }
}

}  // namespace native
