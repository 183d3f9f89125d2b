#include "codecs/fast_inflate.h"

#include "codecs/zlib_stream.h"
#include "reference/zlib.h"
#include "support/moving_bytes.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace native {
namespace {

using Bytes = std::vector<std::uint8_t>;
using support::MovingBytes;

// ------------------------------------------------------ hand-made DEFLATE

// DEFLATE's bit order: fields least significant bit first, Huffman
// codewords most significant bit first.
class BitWriter {
 public:
  void bits(std::uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) bit((value >> i) & 1);
  }
  void code(std::uint32_t codeword, unsigned length) {
    for (unsigned i = length; i-- > 0;) bit((codeword >> i) & 1);
  }
  void align() {
    while (used_ != 0) bit(0);
  }
  void bytes(const Bytes& b) {
    align();
    out_.insert(out_.end(), b.begin(), b.end());
  }
  Bytes finish() {
    align();
    return out_;
  }

 private:
  void bit(unsigned b) {
    if (used_ == 0) out_.push_back(0);
    out_.back() |= static_cast<std::uint8_t>(b << used_);
    used_ = (used_ + 1) % 8;
  }
  Bytes out_;
  unsigned used_ = 0;
};

// Canonical codewords of the lengths (0: unused), as RFC 1951 assigns them.
std::vector<std::uint32_t> canonical_codes(const std::vector<unsigned>& lens) {
  unsigned count[16] = {};
  for (unsigned len : lens) ++count[len];
  count[0] = 0;
  std::uint32_t next[16] = {};
  std::uint32_t code = 0;
  for (unsigned len = 1; len < 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<std::uint32_t> codes(lens.size());
  for (std::size_t s = 0; s < lens.size(); ++s) {
    if (lens[s] != 0) codes[s] = next[lens[s]]++;
  }
  return codes;
}

struct Code {
  std::vector<unsigned> lens;
  std::vector<std::uint32_t> codes;
  explicit Code(std::vector<unsigned> l) : lens(std::move(l)), codes(canonical_codes(lens)) {}
  void put(BitWriter& w, unsigned symbol) const { w.code(codes[symbol], lens[symbol]); }
};

Code fixed_litlen() {
  std::vector<unsigned> lens(288);
  for (unsigned s = 0; s < 288; ++s) lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  return Code(lens);
}
Code fixed_dist() { return Code(std::vector<unsigned>(32, 5)); }

// A complete code-length code: symbols 0-12 four bits, 13-18 five bits.
std::vector<unsigned> plain_precode() {
  std::vector<unsigned> lens(19, 4);
  for (unsigned s = 13; s < 19; ++s) lens[s] = 5;
  return lens;
}

constexpr unsigned PRECODE_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A dynamic block header: HLIT/HDIST/HCLEN as given by the sizes, all 19
// precode lengths, then the code lengths as `length_symbols` (precode
// symbol, extra bits, extra count) in order.
struct LengthSymbol {
  unsigned symbol, extra, extra_bits;
};
void dynamic_header(BitWriter& w, bool final, unsigned litlen_count, unsigned dist_count,
                    const std::vector<unsigned>& precode_lens,
                    const std::vector<LengthSymbol>& length_symbols) {
  w.bits(final ? 1 : 0, 1);
  w.bits(2, 2);
  w.bits(litlen_count - 257, 5);
  w.bits(dist_count - 1, 5);
  w.bits(19 - 4, 4);
  for (unsigned i = 0; i < 19; ++i) w.bits(precode_lens[PRECODE_ORDER[i]], 3);
  const Code precode(precode_lens);
  for (const LengthSymbol& s : length_symbols) {
    precode.put(w, s.symbol);
    w.bits(s.extra, s.extra_bits);
  }
}
std::vector<LengthSymbol> literal_lengths(const std::vector<unsigned>& lens) {
  std::vector<LengthSymbol> out;
  for (unsigned len : lens) out.push_back({len, 0, 0});
  return out;
}
std::vector<unsigned> concat(std::vector<unsigned> a, const std::vector<unsigned>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Lengths with the given symbols set (the rest 0).
std::vector<unsigned> lengths(unsigned count, std::initializer_list<std::pair<unsigned, unsigned>> set) {
  std::vector<unsigned> lens(count, 0);
  for (auto [symbol, len] : set) lens[symbol] = len;
  return lens;
}

std::optional<Bytes> lenient_content(const Bytes& raw) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  Bytes out(1 << 20);
  std::size_t produced = 0;
  const auto result = libdeflate_deflate_decompress(d, raw.data(), raw.size(), out.data(),
                                                    out.size(), &produced);
  libdeflate_free_decompressor(d);
  if (result != LIBDEFLATE_SUCCESS) return std::nullopt;
  out.resize(produced);
  return out;
}

Bytes wrap(const Bytes& raw, const Bytes& content) {
  Bytes stream;
  stream.reserve(2 + raw.size() + 4);  // also keeps GCC 12's -Warray-bounds quiet on the insert
  stream = {0x78, 0x9C};
  stream.insert(stream.end(), raw.begin(), raw.end());
  const auto adler = static_cast<std::uint32_t>(adler32(1, content.data(), static_cast<uInt>(content.size())));
  for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<std::uint8_t>(adler >> shift));
  return stream;
}

Bytes sample(std::size_t length, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(length);
  std::uint8_t level = 100;
  for (auto& byte : out) {
    if (random() % 6 == 0) level = static_cast<std::uint8_t>(level + random() % 7 - 3);
    byte = static_cast<std::uint8_t>(level ^ (random() % 8));
  }
  return out;
}

// ------------------------------------------------ streams zlib judges alone

// A stream of a class the fast inflater must leave to zlib: zlib's verdict
// (`zlib_accepts`), and whether a lenient whole-buffer decoder (libdeflate)
// takes it, in which case the trailer is the Adler-32 of its content so
// that only the decoding rules tell the decoders apart.
struct Crafted {
  std::string name;
  Bytes raw;
  bool lenient_accepts;
  bool zlib_accepts;
};

std::vector<Crafted> crafted_streams() {
  std::vector<Crafted> out;
  const Code fixed = fixed_litlen();
  const Code fixed_d = fixed_dist();
  const unsigned a = 'a';
  {  // 288 length codes (HLIT 31): zlib "too many length or distance symbols"
    BitWriter w;
    const auto lit = lengths(288, {{a, 1}, {256, 2}, {287, 2}});
    const auto dist = lengths(2, {{0, 1}, {1, 1}});
    dynamic_header(w, true, 288, 2, plain_precode(), literal_lengths(concat(lit, dist)));
    const Code code(lit);
    code.put(w, a);
    code.put(w, a);
    code.put(w, 256);
    out.push_back({"too_many_length_codes", w.finish(), true, false});
  }
  {  // 31 distance codes (HDIST 30)
    BitWriter w;
    const auto lit = lengths(257, {{a, 1}, {256, 1}});
    const auto dist = lengths(31, {{0, 1}, {30, 1}});
    dynamic_header(w, true, 257, 31, plain_precode(), literal_lengths(concat(lit, dist)));
    const Code code(lit);
    code.put(w, a);
    code.put(w, 256);
    out.push_back({"too_many_distance_codes", w.finish(), true, false});
  }
  for (unsigned symbol : {286u, 287u}) {  // fixed-code length symbols 286, 287
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    fixed.put(w, a);
    fixed.put(w, symbol);
    fixed_d.put(w, 0);  // distance 1
    fixed.put(w, 256);
    out.push_back({"fixed_length_symbol_" + std::to_string(symbol), w.finish(), true, false});
  }
  for (unsigned symbol : {30u, 31u}) {  // fixed-code distance symbols 30, 31
    BitWriter w;
    w.bits(0, 1);  // a stored block of 60000 bytes first: every distance is in reach
    w.bits(0, 2);
    const Bytes filler = sample(60000, symbol);
    w.bytes({static_cast<std::uint8_t>(filler.size()), static_cast<std::uint8_t>(filler.size() >> 8),
             static_cast<std::uint8_t>(~filler.size()), static_cast<std::uint8_t>(~filler.size() >> 8)});
    w.bytes(filler);
    w.bits(1, 1);
    w.bits(1, 2);
    fixed.put(w, 257);  // length 3
    fixed_d.put(w, symbol);
    w.bits(0, 14);
    fixed.put(w, 256);
    out.push_back({"fixed_distance_symbol_" + std::to_string(symbol), w.finish(), true, false});
  }
  {  // a code-length repeat past the last length
    BitWriter w;
    const auto lit = lengths(257, {{a, 1}, {256, 1}});
    auto symbols = literal_lengths(lit);
    symbols.push_back({1, 0, 0});   // the first of two distance lengths
    symbols.push_back({16, 0, 2});  // then three copies of it: one too many
    dynamic_header(w, true, 257, 2, plain_precode(), symbols);
    const Code code(lit);
    code.put(w, a);
    code.put(w, 256);
    out.push_back({"repeat_past_the_end", w.finish(), true, false});
  }
  {  // a repeat of the previous length with none before
    BitWriter w;
    std::vector<LengthSymbol> symbols = {{16, 0, 2}};
    for (unsigned i = 3; i < 257 + 2; ++i) symbols.push_back({i >= 256 ? 1u : 0u, 0, 0});
    dynamic_header(w, true, 257, 2, plain_precode(), symbols);
    out.push_back({"repeat_with_nothing_before", w.finish(), false, false});
  }
  {  // a code-length code of one 1-bit codeword: incomplete
    BitWriter w;
    std::vector<unsigned> precode(19, 0);
    precode[1] = 1;
    w.bits(1, 1);
    w.bits(2, 2);
    w.bits(0, 5);
    w.bits(0, 5);
    w.bits(15, 4);
    for (unsigned i = 0; i < 19; ++i) w.bits(precode[PRECODE_ORDER[i]], 3);
    for (int i = 0; i < 300; ++i) w.bits(0, 1);
    out.push_back({"incomplete_code_length_code", w.finish(), false, false});
  }
  {  // a length code of end-of-block alone, sent as the codeword '1'
    BitWriter w;
    const auto lit = lengths(257, {{256, 1}});
    const auto dist = lengths(1, {{0, 1}});
    dynamic_header(w, true, 257, 1, plain_precode(), literal_lengths(concat(lit, dist)));
    w.bits(1, 1);
    out.push_back({"single_length_code_sent_as_one", w.finish(), true, false});
  }
  // A distance code with no codeword, then a match; one 1-bit codeword
  // sent as '1' (zlib: invalid), and as '0' (zlib: fine).
  for (int variant = 0; variant < 3; ++variant) {
    BitWriter w;
    const auto lit = lengths(258, {{a, 2}, {256, 2}, {257, 1}});
    const auto dist = variant == 0 ? lengths(1, {}) : lengths(1, {{0, 1}});
    dynamic_header(w, true, 258, 1, plain_precode(), literal_lengths(concat(lit, dist)));
    const Code code(lit);
    code.put(w, a);
    code.put(w, 257);  // length 3
    w.bits(variant == 2 ? 0 : 1, 1);
    code.put(w, 256);
    static const char* const names[] = {"empty_distance_code_used", "single_distance_code_sent_as_one",
                                        "single_distance_code_sent_as_zero"};
    out.push_back({names[variant], w.finish(), true, variant == 2});
  }
  {  // a distance before the start of the output
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    fixed.put(w, a);
    fixed.put(w, 257);
    fixed_d.put(w, 1);  // distance 2, one byte out so far
    fixed.put(w, 256);
    out.push_back({"distance_too_far_back", w.finish(), false, false});
  }
  {  // over-subscribed length code: three 1-bit codewords
    BitWriter w;
    const auto lit = lengths(257, {{a, 1}, {'b', 1}, {256, 1}});
    const auto dist = lengths(2, {{0, 1}, {1, 1}});
    dynamic_header(w, true, 257, 2, plain_precode(), literal_lengths(concat(lit, dist)));
    w.code(0, 1);
    w.code(1, 1);
    out.push_back({"oversubscribed_length_code", w.finish(), false, false});
  }
  {  // over-subscribed distance code
    BitWriter w;
    const auto lit = lengths(258, {{a, 1}, {256, 2}, {257, 2}});
    const auto dist = lengths(3, {{0, 1}, {1, 1}, {2, 1}});
    dynamic_header(w, true, 258, 3, plain_precode(), literal_lengths(concat(lit, dist)));
    const Code code(lit);
    code.put(w, a);
    code.put(w, 256);
    out.push_back({"oversubscribed_distance_code", w.finish(), false, false});
  }
  {  // a stored block whose length and complement disagree
    BitWriter w;
    w.bits(1, 1);
    w.bits(0, 2);
    w.bytes({3, 0, 0xFC, 0xFE, 'a', 'b', 'c'});
    out.push_back({"stored_length_mismatch", w.finish(), false, false});
  }
  {  // no end-of-block code
    BitWriter w;
    const auto lit = lengths(257, {{a, 1}, {unsigned{'b'}, 1}});
    const auto dist = lengths(2, {{0, 1}, {1, 1}});
    dynamic_header(w, true, 257, 2, plain_precode(), literal_lengths(concat(lit, dist)));
    out.push_back({"missing_end_of_block", w.finish(), false, false});
  }
  return out;
}

// The fast path's verdict on a stream zlib judges `end`: the content only
// where zlib ends it, a failure of its own only where zlib fails alike.
bool verdict_agrees(FastInflate verdict, reference::InflateEnd end, bool may_inflate) {
  switch (verdict) {
    case FastInflate::inflated:
      return may_inflate && end == reference::InflateEnd::ended;
    case FastInflate::corrupt:
      return end == reference::InflateEnd::corrupt;
    case FastInflate::incomplete:
      return end == reference::InflateEnd::incomplete;
    case FastInflate::declined:
      return true;
  }
  return false;
}

class FallbackStreams : public ::testing::TestWithParam<Crafted> {};

TEST_P(FallbackStreams, FastPathDeclinesAndZlibDecides) {
  const Crafted& c = GetParam();
  const auto lenient = lenient_content(c.raw);
  EXPECT_EQ(lenient.has_value(), c.lenient_accepts) << "libdeflate's verdict changed";
  const Bytes stream = wrap(c.raw, lenient.value_or(Bytes{}));
  const reference::Inflated reference = reference::reference_inflate(stream);
  ASSERT_EQ(reference.end == reference::InflateEnd::ended, c.zlib_accepts);

  FastInflater fast;
  MovingBytes output;
  ASSERT_TRUE(output.grow(3));
  std::memcpy(output.spare().data(), "abc", 3);
  output.commit(3);
  EXPECT_TRUE(verdict_agrees(fast.inflate_into(stream, output), reference.end, false));
  EXPECT_EQ(output.size(), 3u);
  EXPECT_EQ(std::memcmp(output.data(), "abc", 3), 0);

  MovingBytes whole;
  const auto inflated = inflate_zlib_stream_into(stream, whole);
  if (c.zlib_accepts) {
    ASSERT_TRUE(inflated);
    EXPECT_EQ(Bytes(whole.data(), whole.data() + whole.size()), reference.content);
  } else {
    ASSERT_FALSE(inflated);
    EXPECT_EQ(inflated.error().message,
              reference.end == reference::InflateEnd::incomplete ? INFLATE_MESSAGE_INCOMPLETE
                                                                 : INFLATE_MESSAGE_CORRUPT);
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, FallbackStreams, ::testing::ValuesIn(crafted_streams()),
                         [](const auto& info) { return info.param.name; });

// ------------------------------------------------------------ the fast path

struct Setting {
  int level;
  int strategy;
};

class FastPathSettings : public ::testing::TestWithParam<Setting> {};

// zlib's own streams are taken by the fast path (not left to zlib), with
// the same content.
TEST_P(FastPathSettings, InflatesZlibStreamsItself) {
  const auto [level, strategy] = GetParam();
  for (std::size_t length : {0u, 1u, 100u, 5000u, 70000u, 300000u}) {
    const Bytes content = sample(length, static_cast<std::uint32_t>(length + level));
    const Bytes stream = reference::deflate_with(content, level, strategy);
    FastInflater fast;
    MovingBytes output;
    ASSERT_EQ(fast.inflate_into(stream, output), FastInflate::inflated) << length;
    ASSERT_EQ(output.size(), content.size());
    EXPECT_TRUE(content.empty() || std::memcmp(output.data(), content.data(), content.size()) == 0);
  }
}

INSTANTIATE_TEST_SUITE_P(LevelsAndStrategies, FastPathSettings,
                         ::testing::Values(Setting{0, Z_DEFAULT_STRATEGY}, Setting{1, Z_DEFAULT_STRATEGY},
                                           Setting{6, Z_DEFAULT_STRATEGY}, Setting{9, Z_DEFAULT_STRATEGY},
                                           Setting{6, Z_FILTERED}, Setting{6, Z_HUFFMAN_ONLY},
                                           Setting{6, Z_RLE}, Setting{6, Z_FIXED}));

TEST(FastInflater, AppendsAfterExistingContentAndReusesItsTables) {
  FastInflater fast;
  MovingBytes output;
  Bytes expected;
  for (std::uint32_t seed = 0; seed < 6; ++seed) {
    const Bytes content = sample(1000 + 3000 * seed, seed);
    expected.insert(expected.end(), content.begin(), content.end());
    ASSERT_EQ(fast.inflate_into(reference::deflate_with(content, static_cast<int>(seed) + 1), output),
              FastInflate::inflated);
  }
  ASSERT_EQ(output.size(), expected.size());
  EXPECT_EQ(std::memcmp(output.data(), expected.data(), expected.size()), 0);
}

TEST(FastInflater, TrailingBytesAreIgnored) {
  const Bytes content = sample(4000, 3);
  Bytes stream = reference::deflate_with(content, 6);
  stream.insert(stream.end(), {0x78, 0x9C, 0xFF, 0x00, 0x12});
  FastInflater fast;
  MovingBytes output;
  ASSERT_EQ(fast.inflate_into(stream, output), FastInflate::inflated);
  EXPECT_EQ(output.size(), content.size());
}

// Damage anywhere ends in the same verdict as zlib's: the fast path never
// reports success where zlib fails, and fails only where the bytes of the
// vector stay as they were.
TEST(FastInflater, DamagedStreamsNeverSucceedWhereZlibFails) {
  std::mt19937 random(11);
  FastInflater fast;
  int inflated = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const Bytes content = sample(200 + random() % 3000, static_cast<std::uint32_t>(trial));
    Bytes stream = reference::deflate_with(content, static_cast<int>(random() % 10),
                                 static_cast<int>(random() % 5));
    const std::size_t position = 2 + random() % (stream.size() - 2);
    stream[position] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    if (random() % 4 == 0) stream.resize(random() % stream.size());
    const reference::Inflated reference = reference::reference_inflate(stream);
    MovingBytes output;
    const FastInflate verdict = fast.inflate_into(stream, output);
    ASSERT_TRUE(verdict_agrees(verdict, reference.end, true)) << trial;
    if (verdict == FastInflate::inflated) {
      ++inflated;
      ASSERT_EQ(reference.end, reference::InflateEnd::ended) << trial;
      ASSERT_EQ(Bytes(output.data(), output.data() + output.size()), reference.content) << trial;
    } else {
      ASSERT_EQ(output.size(), 0u);
    }
  }
  EXPECT_GT(inflated, 0);
}

// The zlib stream of hand-made DEFLATE data inflates to `content`, by the
// reference and by the fast inflater.
void expect_inflated(const Bytes& deflate_data, const Bytes& content) {
  const Bytes stream = wrap(deflate_data, content);
  ASSERT_EQ(reference::reference_inflate(stream).content, content);
  FastInflater fast;
  MovingBytes output;
  ASSERT_EQ(fast.inflate_into(stream, output), FastInflate::inflated);
  EXPECT_EQ(Bytes(output.data(), output.data() + output.size()), content);
}

// Codewords of 15 bits (literal, length and distance) need subtables in both
// tables; the stream is long enough for the fast loop, and its last symbols
// go through the checked loop.
TEST(FastInflater, FifteenBitCodewordsInBothLoops) {
  // Lengths 1..14, 15, 15: a complete code.  The 15-bit codewords go to
  // 'x', a length symbol and distance symbol 7 (distance 13-16).
  std::vector<unsigned> lit(264, 0), dist(8, 0);
  const unsigned lit_symbols[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 256, 258, 'x', 263};
  const unsigned dist_symbols[16] = {0, 1, 2, 3, 4, 5, 6, 7};
  for (unsigned i = 0; i < 16; ++i) lit[lit_symbols[i]] = i < 14 ? i + 1 : 15;
  for (unsigned i = 0; i < 8; ++i) dist[dist_symbols[i]] = i < 6 ? i + 1 : 7;
  BitWriter w;
  dynamic_header(w, true, 264, 8, plain_precode(), literal_lengths(concat(lit, dist)));
  const Code lit_code(lit), dist_code(dist);
  Bytes content;
  for (int round = 0; round < 2000; ++round) {
    for (char c : std::string("abcdefghijklx")) {
      lit_code.put(w, static_cast<unsigned>(c));
      content.push_back(static_cast<std::uint8_t>(c));
    }
    lit_code.put(w, 263);  // length 9
    dist_code.put(w, 7);   // distance 13 + the 2 extra bits
    w.bits(round % 4, 2);
    const std::size_t from = content.size() - 13 - round % 4;
    for (int i = 0; i < 9; ++i) content.push_back(content[from + i]);
  }
  lit_code.put(w, 256);
  expect_inflated(w.finish(), content);
}

// The fast loop's longest iteration: two literals of 10 and 11 bits, a
// length of 15 bits plus 5 extra and a distance of 13 extra bits, whose
// codeword fills the root (8 bits) or needs a subtable (15 bits).  Those
// bits exceed one refill's, so the loop must refill before the distance.
class LongestIteration : public ::testing::TestWithParam<unsigned> {};

TEST_P(LongestIteration, RefillsBeforeTheDistance) {
  const unsigned distance_codeword_bits = GetParam();
  std::vector<unsigned> lit(286, 0), dist(30, 0);
  const unsigned lit_symbols[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 256, 'l', 'm', 284, 285};
  for (unsigned i = 0; i < 16; ++i) lit[lit_symbols[i]] = i < 15 ? i + 1 : 15;
  for (unsigned s = 0; s + 1 < distance_codeword_bits; ++s) dist[s] = s + 1;
  dist[28] = dist[29] = distance_codeword_bits;
  std::mt19937 random(7);
  Bytes content(32768);
  for (auto& byte : content) byte = static_cast<std::uint8_t>(random());
  BitWriter w;
  w.bits(0, 3);  // a stored block first: the window the distances reach into
  w.align();
  w.bits(0x8000, 16);
  w.bits(0x7fff, 16);
  w.bytes(content);
  dynamic_header(w, true, 286, 30, plain_precode(), literal_lengths(concat(lit, dist)));
  const Code lit_code(lit), dist_code(dist);
  for (int round = 0; round < 500; ++round) {
    for (char c : {'j', 'k'}) {
      lit_code.put(w, static_cast<unsigned>(c));
      content.push_back(static_cast<std::uint8_t>(c));
    }
    const unsigned length_extra = random() % 31, distance_extra = random() % 8192;
    lit_code.put(w, 284);  // length 227 + 5 extra bits
    w.bits(length_extra, 5);
    dist_code.put(w, 29);  // distance 24577 + 13 extra bits
    w.bits(distance_extra, 13);
    const std::size_t from = content.size() - 24577 - distance_extra;
    for (unsigned i = 0; i < 227 + length_extra; ++i) content.push_back(content[from + i]);
  }
  lit_code.put(w, 256);
  expect_inflated(w.finish(), content);
}

INSTANTIATE_TEST_SUITE_P(DistanceCodewords, LongestIteration, ::testing::Values(8u, 15u));

// Matches at every offset up to 40, short and long, copied by pattern
// stores or chained copies; the last ones near the end of the input, in the
// checked loop.
TEST(FastInflater, MatchesAtEveryShortOffset) {
  std::mt19937 random(5);
  for (unsigned period = 1; period <= 40; ++period) {
    Bytes content(period);
    for (auto& byte : content) byte = static_cast<std::uint8_t>(random());
    for (unsigned run = 0; run < 60; ++run) {
      const std::size_t length = run % 3 == 0 ? 3 + random() % 40 : 200 + random() % 5000;
      for (std::size_t i = 0; i < length; ++i) content.push_back(content[content.size() - period]);
      content.push_back(static_cast<std::uint8_t>(random()));  // breaks the match
      for (unsigned i = 0; i + 1 < period; ++i) content.push_back(content[content.size() - period]);
    }
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_RLE}) {
      const Bytes stream = reference::deflate_with(content, 9, strategy);
      FastInflater fast;
      MovingBytes output;
      ASSERT_EQ(fast.inflate_into(stream, output), FastInflate::inflated) << period;
      ASSERT_EQ(Bytes(output.data(), output.data() + output.size()), content) << period;
    }
  }
}

// Unknown size: the output grows as the content comes, so a 1000-fold
// expansion costs one decode; no growth step goes past doubling, so the
// capacity stays within twice the content.
TEST(FastInflater, GrowthAtThousandfoldExpansion) {
  const Bytes content(std::size_t{24} << 20, 'x');
  const Bytes stream = reference::deflate_with(content, 9);
  ASSERT_GT(content.size() / stream.size(), 1000u);
  FastInflater fast;
  MovingBytes output;
  ASSERT_EQ(fast.inflate_into(stream, output), FastInflate::inflated);
  ASSERT_EQ(output.size(), content.size());
  EXPECT_EQ(std::memcmp(output.data(), content.data(), content.size()), 0);
  EXPECT_LE(output.capacity(), 2 * output.size());
}

// An output that cannot grow (a result object may refuse) makes the fast
// path decline, whatever block needs the room, and leaves the bytes before
// the call as they were.
TEST(FastInflater, DeclinesWhenTheOutputCannotGrow) {
  const Bytes content = sample(300000, 7);
  FastInflater fast;
  for (int level : {0, 6}) {
    const Bytes stream = reference::deflate_with(content, level);
    for (std::uint64_t limit : std::initializer_list<std::uint64_t>{3, 4096, content.size() / 2,
                                                                    content.size() + 2}) {
      MovingBytes output(limit);
      ASSERT_TRUE(output.grow(3));
      std::memcpy(output.spare().data(), "abc", 3);
      output.commit(3);
      EXPECT_EQ(fast.inflate_into(stream, output), FastInflate::declined) << level << " " << limit;
      EXPECT_GT(output.refusals(), 0u);
      ASSERT_EQ(output.size(), 3u);
      EXPECT_EQ(std::memcmp(output.data(), "abc", 3), 0);
    }
  }
}

}  // namespace
}  // namespace native
