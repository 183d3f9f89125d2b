// The fast inflater against zlib on streams built to reach the places
// where a whole-buffer decoder may be more lenient than zlib: zlib's own
// streams (every level, strategy and memory level: dynamic, fixed and
// stored blocks) with bits flipped, and raw DEFLATE straight from the
// fuzzer.  Each is wrapped with a zlib header and three trailers: the
// Adler-32 of what zlib inflates from the raw data, of what libdeflate (a
// more lenient decoder) inflates from it, and the original one, so that a
// checksum mismatch does not hide a decoder that takes what zlib rejects.
//
// The output already holds a few bytes, and its room is one byte or, as a
// size hint makes it, zlib's content size exactly, one more or one less; it
// moves on every growth and, as the input says, refuses to grow past a
// part of the content.  Whenever the fast inflater reports success, zlib
// must succeed with the same content (so a good stream whose content
// cannot fit is declined); when it fails, the output must hold what it
// held.  The full routine (fast path, then zlib) must end as zlib does, or
// out of memory.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "codecs/fast_inflate.h"
#include "codecs/zlib_stream.h"
#include "fuzz_input.h"
#include "reference/zlib.h"
#include "support/moving_bytes.h"
#include "zlib_verdict.h"

using namespace native;
using namespace native::fuzz;
using namespace native::reference;
using native::support::MovingBytes;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t MAX_CONTENT = std::size_t{1} << 20;

Bytes deflate_raw(std::span<const std::uint8_t> content, int level, int strategy,
                  int mem_level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -15, mem_level, strategy) != Z_OK) std::abort();
  Bytes out(deflateBound(&stream, content.size()) + 16);
  stream.next_in = const_cast<Bytef*>(content.data());
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// What zlib inflates from raw DEFLATE (up to MAX_CONTENT), if it ends.
std::optional<Bytes> zlib_raw_content(std::span<const std::uint8_t> raw) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) std::abort();
  static Bytes window(MAX_CONTENT);  // filled once, reused
  Bytes& out = window;
  stream.next_in = const_cast<Bytef*>(raw.data());
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int code = inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  if (code != Z_STREAM_END) return std::nullopt;
  return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(stream.total_out));
}

std::optional<Bytes> libdeflate_raw_content(std::span<const std::uint8_t> raw) {
  static libdeflate_decompressor* const decompressor = libdeflate_alloc_decompressor();
  static Bytes out(MAX_CONTENT);
  std::size_t produced = 0;
  if (libdeflate_deflate_decompress(decompressor, raw.data(), raw.size(), out.data(), out.size(),
                                    &produced) != LIBDEFLATE_SUCCESS) {
    return std::nullopt;
  }
  return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced));
}

Bytes wrap(std::span<const std::uint8_t> raw, std::uint32_t adler) {
  Bytes stream = {0x78, 0x9C};
  stream.insert(stream.end(), raw.begin(), raw.end());
  for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<std::uint8_t>(adler >> shift));
  return stream;
}

std::uint32_t adler_of(const Bytes& content) {
  return static_cast<std::uint32_t>(adler32(1, content.data(), static_cast<uInt>(content.size())));
}

void compare(const Bytes& stream, const FastInflateCase& c) {
  const Inflated reference = reference_inflate(stream, MAX_CONTENT);
  if (reference.end == InflateEnd::too_large) return;

  // Appending after `prefix` bytes already there, with the room chosen
  // around the size of zlib's content.
  const std::uint64_t exact = c.prefix + reference.content.size();
  std::uint64_t capacity = c.prefix + 1;
  if (c.room == OutputRoom::exact) capacity = exact;
  if (c.room == OutputRoom::exact_plus_one) capacity = exact + 1;
  if (c.room == OutputRoom::exact_less_one && exact > c.prefix) capacity = exact - 1;
  capacity = std::max<std::uint64_t>(capacity, 1);
  const std::uint64_t limit =
      std::max(capacity, growth_limit(c.growth_limit, c.prefix, reference.content.size()));
  const auto start = [&](MovingBytes& output) {
    FUZZ_CHECK(output.reserve(capacity));
    std::memset(output.spare().data(), PREFIX_BYTE, c.prefix);
    output.commit(c.prefix);
  };

  // The fast path alone.
  static FastInflater fast_inflater;  // reused, as the grid loop does
  MovingBytes output(limit);
  start(output);
  const FastInflate verdict = fast_inflater.inflate_into(stream, output);
  // A failure of the fast path's own is zlib's verdict exactly.
  if (verdict == FastInflate::corrupt) FUZZ_CHECK(reference.end == InflateEnd::corrupt);
  if (verdict == FastInflate::incomplete) FUZZ_CHECK(reference.end == InflateEnd::incomplete);
  if (verdict == FastInflate::inflated) {
    FUZZ_CHECK(reference.end == InflateEnd::ended);
    FUZZ_CHECK(output.size() == exact);
    FUZZ_CHECK(reference.content.empty() ||
               std::memcmp(output.data() + c.prefix, reference.content.data(),
                           reference.content.size()) == 0);
  } else {
    FUZZ_CHECK(output.size() == c.prefix);
  }
  for (unsigned i = 0; i < c.prefix; ++i) FUZZ_CHECK(output.data()[i] == PREFIX_BYTE);

  // The whole routine ends as zlib does, or out of memory.
  MovingBytes whole(limit);
  start(whole);
  check_zlib_verdict(inflate_zlib_stream_into(stream, whole), whole, c.prefix, reference);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const FastInflateCase c = read_fast_inflate_case({data, size});
  Bytes raw;
  std::uint32_t original_adler = 1;
  if (c.raw) {
    raw.assign(c.data.begin(), c.data.end());
  } else {
    raw = deflate_raw(c.data, c.level, c.strategy, c.mem_level);
    original_adler = static_cast<std::uint32_t>(adler32(1, c.data.data(), static_cast<uInt>(c.data.size())));
    std::mt19937 random(c.flip_seed);
    for (unsigned i = 0; i < c.flips && !raw.empty(); ++i) {
      const std::size_t position = random() % raw.size();
      if (random() % 4 == 0) {
        raw[position] = static_cast<std::uint8_t>(random());
      } else {
        raw[position] ^= static_cast<std::uint8_t>(1u << (random() % 8));
      }
    }
  }
  if (const auto content = zlib_raw_content(raw)) compare(wrap(raw, adler_of(*content)), c);
  if (const auto content = libdeflate_raw_content(raw)) {
    compare(wrap(raw, adler_of(*content)), c);
  }
  compare(wrap(raw, original_adler), c);
  return 0;
}
