// Writes the fuzzers' seed corpora: valid inputs made by the project's own
// encoders (LZRW1, Speed chains) and by zlib, plus the edge cases of each
// format, in the layouts of fuzz_input.h.
//
//   make_seeds DIR     writes DIR/<fuzzer>/seed-NNN for every fuzzer
//
// Seeds stay below 64 KiB, the largest input the fuzzers are run with.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "codecs/speed_blob.h"
#include "fuzz_input.h"
#include "lzrw1_encoder.h"
#include "speed_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
namespace fz = native::fuzz;
namespace td = native::testdata;

constexpr std::size_t MAX_SEED_SIZE = 65536;

class Corpus {
 public:
  Corpus(const fs::path& root, const std::string& name) : dir_(root / name) {
    fs::create_directories(dir_);
  }
  ~Corpus() { std::printf("  %-12s %3d seeds\n", dir_.filename().c_str(), count_); }

  void add(const Bytes& seed) {
    if (seed.size() > MAX_SEED_SIZE) {
      throw std::logic_error(dir_.filename().string() + ": seed " + std::to_string(count_) + " too large (" +
                             std::to_string(seed.size()) + " bytes)");
    }
    char name[32];
    std::snprintf(name, sizeof name, "seed-%03d", count_++);
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
    if (!out) throw std::runtime_error("cannot write " + (dir_ / name).string());
  }

 private:
  fs::path dir_;
  int count_ = 0;
};

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(n);
  for (auto& byte : out) byte = static_cast<std::uint8_t>(random());
  return out;
}

// Contents of several kinds: survey-like records, text, runs, noise.
std::vector<Bytes> sample_contents() {
  std::vector<Bytes> contents;
  for (std::size_t size : {1u, 2u, 17u, 100u, 1000u, 5000u, 16368u}) {
    contents.push_back(td::survey_like_content(size, size));
  }
  contents.push_back(text("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"));
  contents.push_back(Bytes(3000, 0));
  contents.push_back(random_bytes(700, 7));
  Bytes pattern;
  for (int i = 0; i < 2000; ++i) pattern.push_back(static_cast<std::uint8_t>("abcdefghij"[i % 7]));
  contents.push_back(pattern);
  return contents;
}

// ------------------------------------------------------------------- LZRW1

void lzrw1_seeds(const fs::path& root) {
  Corpus corpus(root, "lzrw1");
  auto add = [&](std::uint16_t length, std::uint16_t start, const Bytes& input) {
    Bytes seed;
    fz::append_lzrw1_case_head(seed, length, start);
    corpus.add(concat(seed, input));
  };
  // The format's small cases: a literal, a clipped overlapping copy, a
  // copy first, offset 0.
  add(1, 0, {0x00, 0x00, 0x41});
  add(2, 0, {0x00, 0x00, 0x41});
  add(17, 0, {0x02, 0x00, 0x61, 0x0F, 0x01});
  add(5, 0, {0x02, 0x00, 0x61, 0x0F, 0x01});
  add(3, 0, {0x01, 0x00, 0x20, 0x01});
  add(3, 0, {0x02, 0x00, 0x61, 0x20, 0x00});
  add(0, 9, {});
  add(1, 0x8000, {0x00, 0x00, 0x41});  // start 2^64 - 1
  for (const Bytes& content : sample_contents()) {
    if (content.size() > 0xFFFF) continue;
    const Bytes stream = td::lzrw1_encode(content);
    const auto length = static_cast<std::uint16_t>(content.size());
    add(length, 0, stream);
    add(length, 5, concat(random_bytes(5, 1), stream));          // stream after junk
    add(length, 0, concat(stream, random_bytes(40, 2)));         // trailing bytes
    if (!stream.empty()) add(length, 0, Bytes(stream.begin(), stream.end() - 1));  // cut
  }
}

// ------------------------------------------------------------ Speed chains

void speed_seeds(const fs::path& root) {
  Corpus corpus(root, "speed_blob");
  auto add = [&](std::int64_t total, const Bytes& blob) {
    Bytes seed;
    fz::append_speed_case_head(seed, total);
    corpus.add(concat(seed, blob));
  };
  std::uint64_t options_seed = 0;
  for (const Bytes& content : sample_contents()) {
    if (content.size() > 20000) continue;
    for (auto coding : {td::SpeedChunkCoding::automatic, td::SpeedChunkCoding::stored_raw,
                        td::SpeedChunkCoding::lzrw1, td::SpeedChunkCoding::alternating}) {
      for (std::size_t chunk : {std::size_t{16368}, std::size_t{700}, std::size_t{5}}) {
        if (content.size() / chunk > 200) continue;  // keep chains short
        td::SpeedBlobOptions options;
        options.chunk_content = chunk;
        options.coding = coding;
        options.page_size = chunk == 5 ? 0 : 512;
        options.seed = ++options_seed;
        const Bytes blob = td::build_speed_blob(content, options);
        add(static_cast<std::int64_t>(content.size()), blob);
        if (chunk == 700) add(0, blob);  // first chunk only
      }
    }
  }
  // Hand-made heads and chains.
  Bytes head;
  td::append_speed_magic(head, 1, 3);
  Bytes raw5 = head;
  td::append_stored_raw_chunk(raw5, text("hello"));
  add(0, raw5);
  add(-1, raw5);
  add(6, concat(raw5, random_bytes(8, 4)));  // second chunk cut off
  Bytes two = raw5;
  td::append_lzrw1_chunk(two, text("!"));
  add(6, two);
  Bytes bad_marker = head;
  td::append_speed_subheader(bad_marker, 5, 17, 0xF0E1D2C4u);
  add(0, concat(bad_marker, text("hello")));
  Bytes short_link = head;
  td::append_speed_subheader(short_link, 1, 11, native::SPEED_MARKER_LZRW1);
  add(2, concat(concat(short_link, {0x00, 0x00, 0x41}), Bytes(20, 0)));
  Bytes wrong_subtype;
  td::append_speed_magic(wrong_subtype, 2, 5);
  add(0, wrong_subtype);
  add(0, Bytes(head.begin(), head.begin() + 11));
  add(900, concat(raw5, Bytes(100 - 33 - 8, 1)));
}

// -------------------------------------------------------------------- zlib

Bytes deflate_with(const Bytes& content, int level, int strategy = Z_DEFAULT_STRATEGY,
                   int window_bits = 15, const Bytes* dictionary = nullptr) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, window_bits, 8, strategy) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  if (dictionary != nullptr &&
      deflateSetDictionary(&stream, dictionary->data(), static_cast<uInt>(dictionary->size())) !=
          Z_OK) {
    throw std::runtime_error("deflateSetDictionary");
  }
  Bytes out(deflateBound(&stream, content.size()) + 64);
  stream.next_in = const_cast<Bytef*>(content.data());
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::vector<Bytes> zlib_streams() {
  std::vector<Bytes> streams;
  const std::vector<Bytes> contents = sample_contents();
  for (std::size_t i = 0; i < contents.size(); ++i) {
    const int level = static_cast<int>(i % 10);
    streams.push_back(deflate_with(contents[i], level));
  }
  const Bytes content = td::survey_like_content(4000, 99);
  for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
    streams.push_back(deflate_with(content, 6, strategy));
  }
  streams.push_back(deflate_with(content, 9, Z_DEFAULT_STRATEGY, 9));   // small window
  streams.push_back({0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});  // empty content
  streams.push_back(deflate_with(Bytes(1 << 18, 0), 9));                // ~1000-fold
  return streams;
}

std::vector<Bytes> edge_streams();

// Raw DEFLATE behind a zlib header, with the Adler-32 of what zlib inflates
// from it (as far as it gets).
Bytes zlib_wrapped(const Bytes& raw) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) throw std::runtime_error("inflateInit2");
  Bytes content(1 << 20);
  stream.next_in = const_cast<Bytef*>(raw.data());
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = content.data();
  stream.avail_out = static_cast<uInt>(content.size());
  inflate(&stream, Z_FINISH);
  const auto adler = static_cast<std::uint32_t>(adler32(1, content.data(), static_cast<uInt>(stream.total_out)));
  inflateEnd(&stream);
  Bytes out = {0x78, 0x9C};
  out.insert(out.end(), raw.begin(), raw.end());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(adler >> shift));
  return out;
}

void zlib_seeds(const fs::path& root) {
  Corpus corpus(root, "zlib_stream");
  for (const Bytes& stream : zlib_streams()) {
    corpus.add(stream);
    corpus.add(concat(stream, random_bytes(30, 5)));                 // trailing bytes
    corpus.add(Bytes(stream.begin(), stream.end() - 1));             // cut in the trailer
  }
  const Bytes content = td::survey_like_content(3000, 42);
  Bytes damaged = deflate_with(content, 6);
  damaged.back() ^= 1;  // Adler-32 mismatch
  corpus.add(damaged);
  corpus.add(deflate_with(content, 6, Z_DEFAULT_STRATEGY, -15));  // raw DEFLATE
  corpus.add(deflate_with(content, 6, Z_DEFAULT_STRATEGY, 31));   // gzip
  const Bytes dictionary = text("LINE FID X= Y= MAG= FLAG=");
  corpus.add(deflate_with(content, 6, Z_DEFAULT_STRATEGY, 15, &dictionary));
  corpus.add({});
  // More than one staging buffer of input: stored blocks of noise.
  corpus.add(deflate_with(random_bytes(40000, 11), 0));
  corpus.add(deflate_with(random_bytes(60000, 12), 1));
  // The edges of zlib's verdicts (as the fast inflater's seeds).
  for (const Bytes& raw : edge_streams()) corpus.add(zlib_wrapped(raw));
  // Padded to the lengths whose output refuses to grow (fuzz_input.h):
  // before any growth, and a quarter, half and three quarters in.
  const Bytes long_stream = deflate_with(td::survey_like_content(100000, 43), 6);
  for (unsigned limit : {1u, 3u, 5u, 7u}) {
    Bytes padded = long_stream;
    while (padded.size() % fz::ZLIB_STREAM_LIMIT_MODULUS != limit) padded.push_back(0);
    corpus.add(padded);
  }
}

// `period` random bytes repeated: matches at distance `period` only.
Bytes periodic(std::size_t size, std::size_t period, std::uint32_t seed) {
  const Bytes pattern = random_bytes(period, seed);
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = pattern[i % period];
  return out;
}

// Little-endian cells of `cell_size` bytes (4: float32 grid, 8: float64
// channel), a noisy ramp, with runs of one dummy value: blank margins of
// varying width in rows of 64 cells and, from `blank_row` on, whole rows.
Bytes with_dummy_runs(std::size_t rows, std::size_t cell_size, std::size_t blank_row,
                      std::uint32_t seed) {
  constexpr std::size_t COLUMNS = 64;
  std::mt19937 random(seed);
  Bytes out;
  for (std::size_t row = 0; row < rows; ++row) {
    const std::size_t left = row >= blank_row ? COLUMNS : random() % 20;
    const std::size_t right = row >= blank_row ? 0 : random() % 20;
    for (std::size_t column = 0; column < COLUMNS; ++column) {
      const bool blank = column < left || column >= COLUMNS - right;
      std::uint8_t cell[8];
      if (cell_size == 4) {
        const float value = blank ? 1.70141e38f : 52000.0f + static_cast<float>(column + random() % 16) * 0.25f;
        std::memcpy(cell, &value, 4);
      } else {
        const double value = blank ? -1.0e32 : 1000.0 + static_cast<double>(row) * 0.125 +
                                                   static_cast<double>(random() % 64) * 0.001;
        std::memcpy(cell, &value, 8);
      }
      out.insert(out.end(), cell, cell + cell_size);
    }
  }
  return out;
}

// Contents rich in long matches at short distances: every period of 1 to
// 16 bytes, dummy runs in grids and channels, zeros.
std::vector<Bytes> short_distance_contents() {
  std::vector<Bytes> contents;
  for (std::size_t period = 1; period <= 16; ++period) {
    contents.push_back(periodic(600 + 37 * period, period, static_cast<std::uint32_t>(period)));
  }
  contents.push_back(with_dummy_runs(24, 4, 18, 21));  // float32 grid, last rows blank
  contents.push_back(with_dummy_runs(16, 8, 12, 22));  // float64 channel
  Bytes mixed = periodic(700, 3, 3);                    // a period change mid-stream
  const Bytes other = periodic(900, 7, 4);
  mixed.insert(mixed.end(), other.begin(), other.end());
  mixed.insert(mixed.end(), 2000, 0);
  contents.push_back(mixed);
  return contents;
}

// DEFLATE bits, least significant first; Huffman codes most significant
// bit first, as the format sends them.
class BitWriter {
 public:
  void bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) put((value >> i) & 1);
  }
  void code(std::uint32_t value, int length) {
    for (int i = length - 1; i >= 0; --i) put((value >> i) & 1);
  }
  // A symbol of the fixed literal/length code.
  void fixed_litlen(unsigned symbol) {
    if (symbol < 144) code(0x30 + symbol, 8);
    else if (symbol < 256) code(0x190 + symbol - 144, 9);
    else if (symbol < 280) code(symbol - 256, 7);
    else code(0xC0 + symbol - 280, 8);
  }
  Bytes take() { return std::move(out_); }

 private:
  void put(unsigned bit) {
    if (used_ == 0) out_.push_back(0);
    out_.back() |= static_cast<std::uint8_t>(bit << used_);
    used_ = (used_ + 1) % 8;
  }
  Bytes out_;
  int used_ = 0;
};

// Fixed-code blocks at the edges of zlib's verdicts: a match reaching
// before the content (into the bytes already in the output when there
// are some), the invalid symbols of the fixed code, a stored block whose
// length check fails, and a long run cut before its end.
std::vector<Bytes> edge_streams() {
  std::vector<Bytes> streams;
  auto fixed_block = [](auto&& body) {
    BitWriter w;
    w.bits(1, 1);  // last block
    w.bits(1, 2);  // fixed codes
    body(w);
    return w.take();
  };
  for (unsigned distance_code : {0u, 1u, 3u, 29u, 30u, 31u}) {  // distances 1, 2, 4, 24577+, invalid
    streams.push_back(fixed_block([&](BitWriter& w) {
      w.fixed_litlen('a');
      w.fixed_litlen(257);  // length 3
      w.code(distance_code, 5);
      if (distance_code == 29) w.bits(0, 13);
      w.fixed_litlen(256);
    }));
  }
  for (unsigned symbol : {286u, 287u}) {
    streams.push_back(fixed_block([&](BitWriter& w) {
      w.fixed_litlen('a');
      w.fixed_litlen(symbol);
      w.fixed_litlen(256);
    }));
  }
  // 'a', then 258-byte matches at distance 1: a long run, with and without
  // its end-of-block symbol.
  for (bool ended : {true, false}) {
    streams.push_back(fixed_block([&](BitWriter& w) {
      w.fixed_litlen('a');
      for (int i = 0; i < 500; ++i) {
        w.fixed_litlen(285);
        w.code(0, 5);
      }
      if (ended) w.fixed_litlen(256);
    }));
  }
  // Stored blocks: a correct one, then LEN and NLEN that disagree.
  for (std::uint16_t check : {std::uint16_t{0xFFFA}, std::uint16_t{0xFFFB}}) {
    Bytes stored = {0x01, 0x05, 0x00, static_cast<std::uint8_t>(check), static_cast<std::uint8_t>(check >> 8)};
    for (char c : std::string("hello")) stored.push_back(static_cast<std::uint8_t>(c));
    streams.push_back(stored);
  }
  return streams;
}

void fast_inflate_seeds(const fs::path& root) {
  Corpus corpus(root, "fast_inflate");
  const std::vector<Bytes> contents = sample_contents();
  for (std::size_t i = 0; i < contents.size(); ++i) {
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
      Bytes seed;
      fz::append_fast_inflate_case_head(seed, false, static_cast<int>((i + strategy) % 10),
                                        strategy, static_cast<unsigned>(i % 3),
                                        static_cast<std::uint32_t>(i));
      corpus.add(concat(seed, contents[i]));
    }
  }
  // Raw DEFLATE as it stands: every block type, one of each.
  const Bytes content = td::survey_like_content(2000, 5);
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
    Bytes seed;
    fz::append_fast_inflate_case_head(seed, true, 0, 0, 0, 0);
    corpus.add(concat(seed, deflate_with(content, 6, strategy, -15)));
  }
  unsigned raw_seeds = 0;
  auto add_raw = [&](const Bytes& raw) {
    Bytes seed;
    fz::append_fast_inflate_case_head(seed, true, 0, 0, 0, 0, static_cast<fz::OutputRoom>(raw_seeds++ % 4));
    corpus.add(concat(seed, raw));
  };
  add_raw(deflate_with(content, 0, Z_DEFAULT_STRATEGY, -15));

  // Short distances, deflated by the harness (greedy, lazy and RLE
  // matching, fixed codes), then with a few flips.
  std::uint32_t flip_seed = 1000;
  for (const Bytes& sample : short_distance_contents()) {
    const bool periodic_only = sample.size() < 1500;
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_RLE, Z_FIXED}) {
      for (int level : {1, 6, 9}) {
        if (strategy != Z_DEFAULT_STRATEGY && level != 6) continue;
        if (periodic_only && level == 9) continue;
        Bytes seed;
        fz::append_fast_inflate_case_head(seed, false, level, strategy, flip_seed % 5 == 0 ? 1 : 0,
                                          flip_seed, static_cast<fz::OutputRoom>(flip_seed % 4));
        ++flip_seed;
        corpus.add(concat(seed, sample));
      }
    }
  }
  // The edges of zlib's verdicts, after no prefix and after a few bytes.
  for (const Bytes& stream : edge_streams()) {
    for (std::uint8_t prefix : {0, 3}) {
      Bytes seed;
      fz::append_fast_inflate_case_head(seed, true, 0, 0, 0, 0, static_cast<fz::OutputRoom>(raw_seeds++ % 4));
      seed.back() = prefix;
      corpus.add(concat(seed, stream));
    }
  }
  // Outputs that refuse to grow: before any growth, and a quarter, half and
  // three quarters into the content.
  for (unsigned limit : {1u, 3u, 5u, 7u}) {
    Bytes seed;
    fz::append_fast_inflate_case_head(seed, false, 6, Z_DEFAULT_STRATEGY, 0, 0,
                                      fz::OutputRoom::one_byte, limit);
    corpus.add(concat(seed, td::survey_like_content(30000, 50 + limit)));
  }
  // Streams cut in their last bytes: a symbol, an end-of-block code or a
  // stored block's content cut short.
  for (const Bytes& stream : {deflate_with(td::survey_like_content(3000, 8), 6, Z_DEFAULT_STRATEGY, -15),
                              deflate_with(periodic(20000, 4, 9), 6, Z_FIXED, -15),
                              deflate_with(random_bytes(300, 10), 0, Z_DEFAULT_STRATEGY, -15)}) {
    for (std::size_t cut = 1; cut <= 6 && cut < stream.size(); ++cut) {
      add_raw(Bytes(stream.begin(), stream.end() - static_cast<std::ptrdiff_t>(cut)));
    }
  }
  // Long runs: more content than a seed can hold, as raw DEFLATE (a few
  // hundred bytes each): zeros, one dummy value, short periods.
  add_raw(deflate_with(Bytes(512 * 1024, 0), 6, Z_DEFAULT_STRATEGY, -15));
  add_raw(deflate_with(Bytes(512 * 1024, 0), 6, Z_RLE, -15));
  add_raw(deflate_with(Bytes(300 * 1024, 0), 1, Z_FIXED, -15));
  add_raw(deflate_with(with_dummy_runs(1024, 4, 64, 23), 6, Z_DEFAULT_STRATEGY, -15));
  add_raw(deflate_with(with_dummy_runs(512, 8, 32, 24), 9, Z_DEFAULT_STRATEGY, -15));
  for (std::size_t period : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 12u, 15u, 16u}) {
    add_raw(deflate_with(periodic(256 * 1024, period, 40 + static_cast<std::uint32_t>(period)), 9,
                         Z_DEFAULT_STRATEGY, -15));
  }
}

// -------------------------------------------------------------- grid blocks

void grid_seeds(const fs::path& root) {
  Corpus corpus(root, "grid_blocks");
  Bytes body;
  std::vector<fz::GridLocation> locations;
  std::uint64_t total = 0;
  for (std::uint64_t i = 0; i < 6; ++i) {
    const Bytes content = td::survey_like_content(500 + 1500 * i, 100 + i);
    const Bytes stream = deflate_with(content, static_cast<int>(i + 1));
    body.insert(body.end(), 16, static_cast<std::uint8_t>(i));  // the sub-header the caller skips
    locations.push_back({body.size(), stream.size()});
    body.insert(body.end(), stream.begin(), stream.end());
    total += content.size();
  }
  auto add = [&](std::uint64_t hint, const std::vector<fz::GridLocation>& list, const Bytes& b,
                 unsigned growth_limit = 0) {
    Bytes seed;
    fz::append_grid_case_head(seed, hint, list, growth_limit);
    corpus.add(concat(seed, b));
  };
  for (std::uint64_t hint : {total, std::uint64_t{0}, std::uint64_t{100}, total + 1,
                             std::uint64_t{1} << 63, UINT64_MAX}) {
    add(hint, locations, body);
  }
  add(total, {}, body);
  // Outputs that refuse to grow partway through the blocks: after the
  // reservation of the exact hint is refused, and with no reservation.
  for (unsigned limit : {1u, 4u, 7u}) {
    add(total, locations, body, limit);
    add(0, locations, body, limit);
  }
  auto swapped = locations;
  std::swap(swapped[0], swapped[3]);
  swapped.push_back(swapped[1]);  // repeated
  add(total, swapped, body);
  auto past_end = locations;
  past_end[2].length = body.size();
  add(total, past_end, body);
  Bytes corrupt = body;
  corrupt[locations[3].offset + 5] ^= 0x55;
  add(total, locations, corrupt);
  add(total, locations, Bytes(body.begin(), body.end() - 3));  // last block cut
  auto zero_length = locations;
  zero_length[1].length = 0;
  add(total, zero_length, body);
  add(0, {{0, 8}}, {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});

  // Blocks of a grid with blank regions (one dummy value) and of short
  // periods, at the exact hint: the output is sized once, the copies of
  // short distances reach its end.
  Bytes blank_body;
  std::vector<fz::GridLocation> blank_locations;
  std::uint64_t blank_total = 0;
  for (std::uint64_t i = 0; i < 6; ++i) {
    const Bytes content = i < 3 ? with_dummy_runs(16, 4, 4 * i, static_cast<std::uint32_t>(30 + i))
                                : periodic(4096, 1 + 3 * (i - 3), static_cast<std::uint32_t>(i));
    const Bytes stream = deflate_with(content, i == 4 ? 1 : 6, i == 5 ? Z_RLE : Z_DEFAULT_STRATEGY);
    blank_body.insert(blank_body.end(), 16, 0xAB);
    blank_locations.push_back({blank_body.size(), stream.size()});
    blank_body.insert(blank_body.end(), stream.begin(), stream.end());
    blank_total += content.size();
  }
  add(blank_total, blank_locations, blank_body);
  add(blank_total - 1, blank_locations, blank_body);
}

// -------------------------------------------------------------- fixed width

void fixed_width_seeds(const fs::path& root) {
  Corpus corpus(root, "fixed_width");
  auto add = [&](std::uint16_t width, std::uint32_t count, const Bytes& records) {
    Bytes seed;
    fz::append_fixed_width_case_head(seed, width, count);
    corpus.add(concat(seed, records));
  };
  add(4, 2, {'L', '1', 0, 0, 'L', '1', '0', '0'});
  add(3, 2, {'a', 0, 'b', 0xFF, 0xFE, 0});
  add(0, 5, {});
  add(0, 0xFFFFFFFF, {1, 2, 3});
  add(7, 0, {});
  std::mt19937 random(3);
  for (std::uint16_t width : {1, 2, 3, 5, 8, 15, 16, 17, 31, 32, 33, 64, 100, 300}) {
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::size_t>(200, 8000 / width));
    Bytes records;
    for (std::uint32_t i = 0; i < count; ++i) {
      // Names such as "L1000", sometimes the whole width, sometimes with a
      // byte of 0x80 or more, padded with NULs or with junk after the NUL.
      std::string name = "L" + std::to_string(1000 + random() % 90000);
      Bytes record(width, 0);
      const std::size_t used = random() % 5 == 0 ? width : std::min<std::size_t>(width, name.size());
      for (std::size_t k = 0; k < used; ++k) {
        record[k] = k < name.size() ? static_cast<std::uint8_t>(name[k])
                                    : static_cast<std::uint8_t>('A' + k % 26);
      }
      if (random() % 7 == 0 && used > 0) record[random() % used] = static_cast<std::uint8_t>(0x80 | random());
      if (random() % 3 == 0) {
        for (std::size_t k = used + 1; k < width; ++k) record[k] = static_cast<std::uint8_t>(random() | 1);
      }
      records.insert(records.end(), record.begin(), record.end());
    }
    add(width, count, records);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  try {
    lzrw1_seeds(root);
    speed_seeds(root);
    zlib_seeds(root);
    fast_inflate_seeds(root);
    grid_seeds(root);
    fixed_width_seeds(root);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_seeds: %s\n", error.what());
    return 1;
  }
  return 0;
}
