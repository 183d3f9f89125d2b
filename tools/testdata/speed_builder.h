// Test-data generator: DB_COMP_SPEED blobs (magic, chunk chain, page
// padding) and content that looks like what such blobs hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace native::testdata {

// Files never hold chunks that decode to more than this.
inline constexpr std::size_t SPEED_MAX_CHUNK_CONTENT = 16368;

enum class SpeedChunkCoding {
  automatic,    // LZRW1 unless that does not make the chunk smaller
  stored_raw,
  lzrw1,
  alternating,  // stored-raw, LZRW1, stored-raw, ...
};

struct SpeedBlobOptions {
  std::size_t chunk_content = SPEED_MAX_CHUNK_CONTENT;  // 1 .. 16368
  SpeedChunkCoding coding = SpeedChunkCoding::automatic;
  std::size_t page_size = 4096;  // blob padded to a multiple of it; 0: no padding
  std::uint64_t seed = 0;        // magic filler and padding bytes (never zeros)
};

// A blob that decodes to `content` (which must not be empty) with the
// declared total content.size().  Throws std::invalid_argument for bad
// options.
std::vector<std::uint8_t> build_speed_blob(std::span<const std::uint8_t> content,
                                           const SpeedBlobOptions& options = {});

// Pieces for hand-made chains.  The magic's bytes other than the subtype
// are filled from `seed`.
void append_speed_magic(std::vector<std::uint8_t>& blob, std::int32_t subtype = 1,
                        std::uint64_t seed = 0);
void append_speed_subheader(std::vector<std::uint8_t>& blob, std::int32_t decompressed_length,
                            std::int32_t chunk_length, std::uint32_t marker);
// A well-formed chunk: sub-header and payload.
void append_stored_raw_chunk(std::vector<std::uint8_t>& blob,
                             std::span<const std::uint8_t> content);
void append_lzrw1_chunk(std::vector<std::uint8_t>& blob, std::span<const std::uint8_t> content);

// Deterministic content in the style of survey channel data: runs of text
// lines (header-like records with numbers) and runs of little-endian
// doubles sampled from smooth signals with noise.  Compresses to roughly
// half with LZRW1.
std::vector<std::uint8_t> survey_like_content(std::size_t size, std::uint64_t seed);

}  // namespace native::testdata
