#include "speed_builder.h"

#include "split_mix64.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "codecs/speed_blob.h"
#include "lzrw1_encoder.h"

namespace native::testdata {
namespace {


void append_u32le(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Filler that is never a run of zeros, so that a decoder reading it by
// mistake sees garbage rather than a harmless sub-header.
void append_filler(std::vector<std::uint8_t>& out, std::size_t count, SplitMix64& rng) {
  for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<std::uint8_t>(rng.next() | 1));
}

std::int32_t to_field(std::size_t value) {
  if (value > 0x7FFFFFFF) throw std::invalid_argument("chunk too large for a 32-bit field");
  return static_cast<std::int32_t>(value);
}

}  // namespace

void append_speed_magic(std::vector<std::uint8_t>& blob, std::int32_t subtype,
                        std::uint64_t seed) {
  SplitMix64 rng{seed ^ 0x5EEDu};
  append_filler(blob, SPEED_SUBTYPE_OFFSET, rng);
  append_u32le(blob, static_cast<std::uint32_t>(subtype));
  append_filler(blob, SPEED_MAGIC_LENGTH - SPEED_SUBTYPE_OFFSET - 4, rng);
}

void append_speed_subheader(std::vector<std::uint8_t>& blob, std::int32_t decompressed_length,
                            std::int32_t chunk_length, std::uint32_t marker) {
  append_u32le(blob, static_cast<std::uint32_t>(decompressed_length));
  append_u32le(blob, static_cast<std::uint32_t>(chunk_length));
  append_u32le(blob, marker);
}

void append_stored_raw_chunk(std::vector<std::uint8_t>& blob,
                             std::span<const std::uint8_t> content) {
  append_speed_subheader(blob, to_field(content.size()),
                         to_field(content.size() + SPEED_SUBHEADER_LENGTH),
                         SPEED_MARKER_STORED_RAW);
  blob.insert(blob.end(), content.begin(), content.end());
}

void append_lzrw1_chunk(std::vector<std::uint8_t>& blob, std::span<const std::uint8_t> content) {
  const std::size_t header_at = blob.size();
  append_speed_subheader(blob, 0, 0, SPEED_MARKER_LZRW1);
  lzrw1_encode_append(content, blob);
  std::vector<std::uint8_t> fields;
  append_speed_subheader(fields, to_field(content.size()), to_field(blob.size() - header_at),
                         SPEED_MARKER_LZRW1);
  std::memcpy(blob.data() + header_at, fields.data(), fields.size());
}

std::vector<std::uint8_t> build_speed_blob(std::span<const std::uint8_t> content,
                                           const SpeedBlobOptions& options) {
  if (content.empty()) throw std::invalid_argument("a Speed chain holds at least one byte");
  if (options.chunk_content < 1 || options.chunk_content > SPEED_MAX_CHUNK_CONTENT) {
    throw std::invalid_argument("chunk_content must be 1 to 16368");
  }
  std::vector<std::uint8_t> blob;
  blob.reserve(content.size() + content.size() / 8 + 64 + options.page_size);
  append_speed_magic(blob, SPEED_SUBTYPE, options.seed);

  std::size_t index = 0;
  for (std::size_t pos = 0; pos < content.size(); pos += options.chunk_content, ++index) {
    const auto piece = content.subspan(pos, std::min(options.chunk_content, content.size() - pos));
    switch (options.coding) {
      case SpeedChunkCoding::stored_raw:
        append_stored_raw_chunk(blob, piece);
        break;
      case SpeedChunkCoding::lzrw1:
        append_lzrw1_chunk(blob, piece);
        break;
      case SpeedChunkCoding::alternating:
        if (index % 2 == 0) {
          append_stored_raw_chunk(blob, piece);
        } else {
          append_lzrw1_chunk(blob, piece);
        }
        break;
      case SpeedChunkCoding::automatic: {
        const std::size_t chunk_at = blob.size();
        append_lzrw1_chunk(blob, piece);
        if (blob.size() - chunk_at >= piece.size() + SPEED_SUBHEADER_LENGTH) {
          blob.resize(chunk_at);
          append_stored_raw_chunk(blob, piece);
        }
        break;
      }
    }
  }

  if (options.page_size != 0) {
    SplitMix64 rng{options.seed ^ 0xFADEu};
    const std::size_t tail = blob.size() % options.page_size;
    append_filler(blob, tail == 0 ? 0 : options.page_size - tail, rng);
  }
  return blob;
}

std::vector<std::uint8_t> survey_like_content(std::size_t size, std::uint64_t seed) {
  SplitMix64 rng{seed};
  std::vector<std::uint8_t> out;
  out.reserve(size + 4096);
  long fiducial = static_cast<long>(rng.next() % 100000);
  double phase = rng.unit() * 6.283185307179586;
  while (out.size() < size) {
    if (rng.next() % 3 == 0) {
      // Text records, as in line headers and comment channels.
      const int lines = 4 + static_cast<int>(rng.next() % 24);
      for (int i = 0; i < lines; ++i, ++fiducial) {
        char line[160];
        const double x = 512000.0 + static_cast<double>(fiducial) * 12.5;
        const double y = 6712000.0 + 400.0 * std::sin(static_cast<double>(fiducial) / 900.0);
        const int n = std::snprintf(line, sizeof line,
                                    "LINE %4ld FID %7ld  X=%11.2f Y=%11.2f MAG=%9.2f FLAG=%c\n",
                                    fiducial / 2000 + 10, fiducial, x, y,
                                    55000.0 + 30.0 * std::sin(phase + fiducial / 50.0),
                                    "OKKKKKKX"[rng.next() % 8]);
        out.insert(out.end(), line, line + n);
      }
    } else {
      // A column of doubles: a smooth signal quantised to a fixed step, the
      // way instruments record, so neighbours share their high bytes.
      const int count = 64 + static_cast<int>(rng.next() % 512);
      const double step = (rng.next() % 2) ? 0.01 : 0.125;
      for (int i = 0; i < count; ++i) {
        phase += 0.01;
        double value = 1000.0 * std::sin(phase) + 3.0 * std::sin(phase * 37.0);
        if (rng.next() % 16 == 0) value += rng.unit();
        value = std::round(value / step) * step;
        std::uint8_t bytes[8];
        std::memcpy(bytes, &value, 8);
        out.insert(out.end(), bytes, bytes + 8);
      }
    }
  }
  out.resize(size);
  return out;
}

}  // namespace native::testdata
