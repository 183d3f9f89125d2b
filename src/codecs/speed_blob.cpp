#include "codecs/speed_blob.h"

#include <cstring>
#include <string>

#include "codecs/integers.h"
#include "codecs/lzrw1.h"

namespace native {
namespace {

// A sub-header's decompressed_length field, if it is plausible.
DecodeResult<std::uint64_t> checked_decompressed_length(std::int32_t field) {
  if (field < 1 || field > MAX_PLAUSIBLE_DECOMPRESSED_LENGTH) {
    return value_error(Codec::speed_blob, "implausible decompressed_length=" +
                                              std::to_string(field) +
                                              " -- likely a misaligned or corrupt chunk header");
  }
  return static_cast<std::uint64_t>(field);
}

DecodeError chain_runs_off_the_end() {
  return index_error(Codec::speed_blob, "chunk chain runs off the end of the data -- truncated");
}

}  // namespace

DecodeResult<std::uint64_t> speed_blob_output_length(std::span<const std::uint8_t> data,
                                                     std::int64_t total) {
  const std::uint64_t data_len = data.size();
  // Order matters: a short blob with a wrong subtype reports the subtype.
  if (data_len < SPEED_SUBTYPE_OFFSET + 4) {
    return index_error(Codec::speed_blob, "truncated -- no chunk header");
  }
  const std::int32_t subtype = load_i32le(data.data() + SPEED_SUBTYPE_OFFSET);
  if (subtype != SPEED_SUBTYPE) {
    return value_error(Codec::speed_blob,
                       "not a Speed chunk (subtype=" + std::to_string(subtype) + ")");
  }
  if (data_len < SPEED_MAGIC_LENGTH + SPEED_SUBHEADER_LENGTH) return chain_runs_off_the_end();

  const auto first_length =
      checked_decompressed_length(load_i32le(data.data() + SPEED_MAGIC_LENGTH));
  if (!first_length) return first_length.error();
  // first_length <= MAX_PLAUSIBLE_DECOMPRESSED_LENGTH: the compare is signed.
  if (total <= static_cast<std::int64_t>(*first_length)) return *first_length;

  // total > first_length >= 1 here.  An overflowing bound accepts the total.
  const auto bound = checked_product(SPEED_EXPANSION_FACTOR, data_len);
  if (bound && static_cast<std::uint64_t>(total) > *bound) {
    return value_error(Codec::speed_blob, "blob header declares " + std::to_string(total) +
                                              " decompressed byte(s), more than " +
                                              std::to_string(data_len) +
                                              " byte(s) of chunk data could possibly produce");
  }
  return static_cast<std::uint64_t>(total);
}

DecodeResult<void> decode_speed_chain_into(std::span<const std::uint8_t> data,
                                           std::span<std::uint8_t> output) {
  const std::uint64_t data_len = data.size();
  const std::uint64_t out_len = output.size();
  std::uint64_t header_pos = SPEED_MAGIC_LENGTH;
  std::uint64_t produced = 0;

  // For the first sub-header speed_blob_output_length has made this check
  // already; repeating it keeps this routine safe on its own.
  if (data_len < header_pos + SPEED_SUBHEADER_LENGTH) return chain_runs_off_the_end();

  for (;;) {
    // The sub-header lies within data (checked before the loop and at the
    // end of every pass).
    const std::uint8_t* subheader = data.data() + header_pos;
    const auto decompressed_length = checked_decompressed_length(load_i32le(subheader));
    const std::int32_t chunk_length = load_i32le(subheader + 4);
    const std::uint32_t marker = load_u32le(subheader + 8);
    const std::uint64_t payload_pos = header_pos + SPEED_SUBHEADER_LENGTH;

    if (!decompressed_length) return decompressed_length.error();
    if (*decompressed_length > out_len - produced) {
      return value_error(Codec::speed_blob,
                         "chunks decode to more bytes than the blob header declares");
    }
    const std::span<std::uint8_t> chunk_output = output.subspan(produced, *decompressed_length);

    if (marker == SPEED_MARKER_STORED_RAW) {
      const std::int64_t stored =
          static_cast<std::int64_t>(chunk_length) - static_cast<std::int64_t>(SPEED_SUBHEADER_LENGTH);
      if (stored != static_cast<std::int64_t>(*decompressed_length)) {
        return value_error(Codec::speed_blob,
                           "stored-raw chunk should have chunk_length-12 == "
                           "decompressed_length (got chunk_length-12=" +
                               std::to_string(stored) + ", decompressed_length=" +
                               std::to_string(*decompressed_length) + ")");
      }
      // payload_pos <= data_len: the sub-header lies within data.
      if (*decompressed_length > data_len - payload_pos) {
        return index_error(Codec::speed_blob,
                           "truncated stored-raw payload -- file cut off mid-chunk?");
      }
      std::memcpy(chunk_output.data(), data.data() + payload_pos, *decompressed_length);
    } else if (marker == SPEED_MARKER_LZRW1) {
      // The stream may read up to the end of data, past its chunk_length.
      auto decoded = lzrw1_decode_into(data, payload_pos, chunk_output);
      if (!decoded) return decoded.error();
    } else {
      return value_error(Codec::speed_blob, "unrecognized marker value: " +
                                                std::to_string(static_cast<std::int32_t>(marker)));
    }

    produced += *decompressed_length;
    // The last chunk's chunk_length is never examined, nor anything after it.
    if (produced == out_len) return {};

    if (chunk_length < static_cast<std::int32_t>(SPEED_SUBHEADER_LENGTH)) {
      return value_error(Codec::speed_blob, "implausible chunk_length=" +
                                                std::to_string(chunk_length) +
                                                " -- corrupt chunk chain");
    }
    header_pos += static_cast<std::uint64_t>(chunk_length);
    if (header_pos > data_len || data_len - header_pos < SPEED_SUBHEADER_LENGTH) {
      return chain_runs_off_the_end();
    }
  }
}

}  // namespace native
