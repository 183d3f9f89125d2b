// Throughput of the core routines, per data set, without the interpreter.
//
//   native_codecs_bench [--quick] [Google Benchmark flags]
//
// Every benchmark first checks one run's output against the content it was
// made from and reports an error instead of a time when it differs; the
// program then exits with status 1.  --quick uses small data sets and a
// short minimum time: a smoke run for CI that fails only on wrong output.
//
// Rates are output bytes per CPU second ("bytes_per_second"; CPU time, so
// that other work on a shared machine disturbs them less); the counters
// in_bytes and out_bytes give the sizes of one call.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "codecs/fixed_width.h"
#include "codecs/grid_blocks.h"
#include "codecs/lzrw1.h"
#include "codecs/speed_blob.h"
#include "codecs/zlib_stream.h"
#include "benchmark_options.h"
#include "data_sets.h"
#include "lzrw1_encoder.h"
#include "speed_builder.h"
#include "support/byte_vector.h"

namespace native::bench {
namespace {

using support::ByteVector;

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

bool g_quick = false;

// "a/b/c": benchmark names and cache keys.  (Appending avoids a false
// -Wrestrict of GCC 12 on `"literal" + std::string`.)
std::string joined(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

std::string size_label(std::size_t size) {
  if (size >= MiB && size % MiB == 0) return std::to_string(size / MiB) + "MiB";
  if (size >= KiB && size % KiB == 0) return std::to_string(size / KiB) + "KiB";
  return std::to_string(size) + "B";
}

// Data sets are built on first use and kept for the whole run, so that a
// filtered run builds only what it measures.
template <class T>
std::shared_ptr<const T> cached(const std::string& key, const std::function<T()>& make) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<const void>> cache;
  std::lock_guard lock(mutex);
  auto& slot = cache[key];
  if (!slot) slot = std::make_shared<const T>(make());
  return std::static_pointer_cast<const T>(slot);
}

std::shared_ptr<const Bytes> content(const std::string& name, std::size_t size) {
  return cached<Bytes>(joined({"content", name, std::to_string(size)}),
                       [&] { return content_by_name(name, size, 20261208); });
}

void set_sizes(benchmark::State& state, std::size_t in_bytes, std::size_t out_bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out_bytes));
  state.counters["in_bytes"] = static_cast<double>(in_bytes);
  state.counters["out_bytes"] = static_cast<double>(out_bytes);
}

// ------------------------------------------------------------------ LZRW1

struct Lzrw1Case {
  Bytes content;
  Bytes stream;
};

void lzrw1_decode(benchmark::State& state, std::string set, std::size_t size) {
  const auto data = cached<Lzrw1Case>(joined({"lzrw1", set, std::to_string(size)}), [&] {
    if (set == "all_literal") {
      Bytes raw = random_content(size, 7);
      Bytes stream = lzrw1_all_literal_stream(raw);
      return Lzrw1Case{std::move(raw), std::move(stream)};
    }
    Bytes raw = *content(set, size);
    Bytes stream = testdata::lzrw1_encode(raw);
    return Lzrw1Case{std::move(raw), std::move(stream)};
  });
  Bytes output(data->content.size());
  if (!lzrw1_decode_into(data->stream, 0, output) || output != data->content) {
    state.SkipWithError("lzrw1_decode_into: wrong output");
    return;
  }
  for (auto _ : state) {
    const auto status = lzrw1_decode_into(data->stream, 0, output);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  set_sizes(state, data->stream.size(), output.size());
}

// ------------------------------------------------------------ Speed chains

struct SpeedCase {
  Bytes content;
  Bytes blob;
};

void speed_chain(benchmark::State& state, std::string coding, std::string set, std::size_t size) {
  const auto data = cached<SpeedCase>(joined({"speed", coding, set, std::to_string(size)}), [&] {
    testdata::SpeedBlobOptions options;
    options.coding = coding == "stored_raw" ? testdata::SpeedChunkCoding::stored_raw
                     : coding == "lzrw1"    ? testdata::SpeedChunkCoding::lzrw1
                                            : testdata::SpeedChunkCoding::automatic;
    options.seed = 11;
    Bytes raw = *content(set, size);
    Bytes blob = testdata::build_speed_blob(raw, options);
    return SpeedCase{std::move(raw), std::move(blob)};
  });
  const auto length = speed_blob_output_length(data->blob, static_cast<std::int64_t>(data->content.size()));
  if (!length || *length != data->content.size()) {
    state.SkipWithError("speed_blob_output_length: wrong length");
    return;
  }
  Bytes output(data->content.size());
  if (!decode_speed_chain_into(data->blob, output) || output != data->content) {
    state.SkipWithError("decode_speed_chain_into: wrong output");
    return;
  }
  for (auto _ : state) {
    // The whole job of a call: the head checks, then the chain.
    auto n = speed_blob_output_length(data->blob, static_cast<std::int64_t>(output.size()));
    benchmark::DoNotOptimize(n);
    const auto status = decode_speed_chain_into(data->blob, output);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  set_sizes(state, data->blob.size(), output.size());
}

// ------------------------------------------------------------------- zlib

Bytes zlib_compress(std::span<const std::uint8_t> raw, int level = 6) {
  uLongf bound = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(bound);
  if (compress2(out.data(), &bound, raw.data(), static_cast<uLong>(raw.size()), level) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  out.resize(bound);
  return out;
}

struct ZlibCase {
  Bytes content;
  Bytes stream;
};

std::shared_ptr<const ZlibCase> zlib_case(const std::string& set, std::size_t size) {
  return cached<ZlibCase>(joined({"zlib", set, std::to_string(size)}), [&] {
    Bytes raw = *content(set, size);
    Bytes stream = zlib_compress(raw);
    return ZlibCase{std::move(raw), std::move(stream)};
  });
}

// One zlib stream inflated in one call into a buffer of the known size:
// the least any zlib-based decoder can do.
bool bare_inflate(std::span<const std::uint8_t> in, std::uint8_t* out, std::size_t out_len,
                  z_stream* reused = nullptr) {
  z_stream local{};
  z_stream* stream = reused;
  if (stream == nullptr) {
    stream = &local;
    if (inflateInit2(stream, 15) != Z_OK) return false;
  } else if (inflateReset(stream) != Z_OK) {
    return false;
  }
  stream->next_in = const_cast<Bytef*>(in.data());
  stream->avail_in = static_cast<uInt>(in.size());
  stream->next_out = out;
  stream->avail_out = static_cast<uInt>(out_len);
  const int code = inflate(stream, Z_FINISH);
  const bool ok = code == Z_STREAM_END && stream->avail_out == 0;
  if (stream == &local) inflateEnd(stream);
  return ok;
}

void zlib_inflate_stream(benchmark::State& state, std::string set, std::size_t size) {
  const auto data = zlib_case(set, size);
  {
    ByteVector first;
    if (!inflate_zlib_stream_into(data->stream, first) || first.size() != data->content.size() ||
        std::memcmp(first.data(), data->content.data(), data->content.size()) != 0) {
      state.SkipWithError("inflate_zlib_stream_into: wrong output");
      return;
    }
  }
  for (auto _ : state) {
    ByteVector inflated;
    auto result = inflate_zlib_stream_into(data->stream, inflated);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(inflated.data());
  }
  set_sizes(state, data->stream.size(), data->content.size());
}

void zlib_bare_inflate(benchmark::State& state, std::string set, std::size_t size) {
  const auto data = zlib_case(set, size);
  Bytes output(data->content.size());
  if (!bare_inflate(data->stream, output.data(), output.size()) || output != data->content) {
    state.SkipWithError("bare inflate: wrong output");
    return;
  }
  for (auto _ : state) {
    const bool ok = bare_inflate(data->stream, output.data(), output.size());
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  set_sizes(state, data->stream.size(), output.size());
}

// ------------------------------------------------------------ grid blocks

struct GridCase {
  Bytes content;
  Bytes body;  // per block: a 16-byte sub-header, then the zlib payload
  std::vector<BlockLocation> locations;
  std::vector<std::size_t> block_sizes;  // content bytes of each block
};

std::shared_ptr<const GridCase> grid_case(std::size_t total, std::size_t block) {
  return cached<GridCase>(joined({"grid", std::to_string(total), std::to_string(block)}), [&] {
    GridCase c;
    c.content = *content("grid", total);
    for (std::size_t pos = 0; pos < total; pos += block) {
      const std::size_t n = std::min(block, total - pos);
      const Bytes payload = zlib_compress({c.content.data() + pos, n});
      c.body.insert(c.body.end(), 16, 0xAB);
      c.locations.push_back({c.body.size(), payload.size()});
      c.body.insert(c.body.end(), payload.begin(), payload.end());
      c.block_sizes.push_back(n);
    }
    return c;
  });
}

void grid_inflate_blocks(benchmark::State& state, std::size_t total, std::size_t block) {
  const auto data = grid_case(total, block);
  // As the module does it: reserved from the size hint (a refusal skipped),
  // then inflated.
  const auto inflate = [&](ByteVector& content) {
    (void)content.reserve(grid_content_reservation(data->body, data->locations, total));
    return inflate_grid_blocks_into(data->body, data->locations, content);
  };
  {
    ByteVector content;
    const auto first = inflate(content);
    if (!first || *first != data->locations.size() || content.size() != total ||
        std::memcmp(content.data(), data->content.data(), total) != 0) {
      state.SkipWithError("inflate_grid_blocks_into: wrong output");
      return;
    }
  }
  for (auto _ : state) {
    ByteVector content;
    auto blocks = inflate(content);
    benchmark::DoNotOptimize(blocks);
    benchmark::DoNotOptimize(content.data());
  }
  set_sizes(state, data->body.size(), total);
  state.counters["blocks"] = static_cast<double>(data->locations.size());
}

// The bare loop: every block inflated straight into its place in one
// preallocated buffer; with `reuse`, one inflater reset between blocks
// instead of a fresh one per block.
void grid_bare_inflate(benchmark::State& state, std::size_t total, std::size_t block, bool reuse) {
  const auto data = grid_case(total, block);
  Bytes output(total);
  z_stream stream{};
  if (reuse && inflateInit2(&stream, 15) != Z_OK) {
    state.SkipWithError("inflateInit2 failed");
    return;
  }
  auto run = [&] {
    std::size_t produced = 0;
    for (std::size_t i = 0; i < data->locations.size(); ++i) {
      const BlockLocation& location = data->locations[i];
      const std::span<const std::uint8_t> payload(data->body.data() + location.offset, location.length);
      if (!bare_inflate(payload, output.data() + produced, data->block_sizes[i],
                        reuse ? &stream : nullptr)) {
        return false;
      }
      produced += data->block_sizes[i];
    }
    return true;
  };
  if (!run() || output != data->content) {
    state.SkipWithError("bare block inflate: wrong output");
  } else {
    for (auto _ : state) {
      const bool ok = run();
      benchmark::DoNotOptimize(ok);
      benchmark::ClobberMemory();
    }
    set_sizes(state, data->body.size(), total);
    state.counters["blocks"] = static_cast<double>(data->locations.size());
  }
  if (reuse) inflateEnd(&stream);
}

// ------------------------------------------------------------ fixed width

struct ColumnCase {
  Bytes column;
  std::size_t width;
  std::size_t count;
};

std::shared_ptr<const ColumnCase> column_case(const std::string& shape, std::size_t count) {
  return cached<ColumnCase>(joined({"column", shape, std::to_string(count)}), [&] {
    const bool narrow = shape == "narrow";
    const std::size_t width = narrow ? 16 : 64;
    Bytes column = narrow ? fixed_width_column(count, width, 16, 16, 3)
                          : fixed_width_column(count, width, 5, 8, 5);
    return ColumnCase{std::move(column), width, count};
  });
}

// The expected UCS-4 of one record, byte by byte.
bool column_output_ok(const ColumnCase& c, const FixedWidthLengths& measured,
                      std::span<const std::uint8_t> output) {
  std::uint64_t max_len = 0;
  for (std::size_t i = 0; i < c.count; ++i) {
    const std::uint8_t* record = c.column.data() + i * c.width;
    std::size_t len = 0;
    while (len < c.width && record[len] != 0) ++len;
    if (measured.lengths[i] != len) return false;
    max_len = std::max<std::uint64_t>(max_len, len);
  }
  if (measured.max_len != max_len) return false;
  for (std::size_t i = 0; i < c.count; ++i) {
    for (std::size_t k = 0; k < max_len; ++k) {
      const std::uint8_t* at = output.data() + (i * max_len + k) * 4;
      std::uint32_t code;
      std::memcpy(&code, at, 4);
      const std::uint8_t byte = c.column[i * c.width + k];
      const std::uint32_t want = k >= measured.lengths[i] ? 0 : byte < 0x80 ? byte : 0xFFFD;
      if (code != want) return false;
    }
  }
  return true;
}

// Both passes into a fresh output, as one call does them (the vector's zero
// fill stands in for the page faults of a fresh result).
void fixed_width_decode(benchmark::State& state, std::string shape, std::size_t count) {
  const auto data = column_case(shape, count);
  std::uint64_t out_bytes = 0;
  {
    const FixedWidthLengths measured = *measure_fixed_width_records(data->column, data->width, count);
    Bytes output(count * measured.max_len * UCS4_CODE_POINT_SIZE);
    decode_fixed_width_records_into(data->column, data->width, measured.lengths, measured.max_len, output);
    if (!column_output_ok(*data, measured, output)) {
      state.SkipWithError("fixed-width decode: wrong output");
      return;
    }
    out_bytes = output.size();
  }
  for (auto _ : state) {
    const FixedWidthLengths measured = *measure_fixed_width_records(data->column, data->width, count);
    Bytes output(count * measured.max_len * UCS4_CODE_POINT_SIZE);
    decode_fixed_width_records_into(data->column, data->width, measured.lengths, measured.max_len, output);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  set_sizes(state, count * data->width, out_bytes);
}

// The two passes apart: where the time of a call goes.
void fixed_width_measure(benchmark::State& state, std::string shape, std::size_t count) {
  const auto data = column_case(shape, count);
  for (auto _ : state) {
    auto measured = measure_fixed_width_records(data->column, data->width, count);
    benchmark::DoNotOptimize(measured);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * data->width));
  state.counters["in_bytes"] = static_cast<double>(count * data->width);
}

void fixed_width_decode_pass(benchmark::State& state, std::string shape, std::size_t count) {
  const auto data = column_case(shape, count);
  const FixedWidthLengths measured = *measure_fixed_width_records(data->column, data->width, count);
  Bytes output(count * measured.max_len * UCS4_CODE_POINT_SIZE);
  for (auto _ : state) {
    decode_fixed_width_records_into(data->column, data->width, measured.lengths, measured.max_len, output);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  set_sizes(state, count * data->width, output.size());
}

// -------------------------------------------------------------- registry

template <class F, class... Args>
void add(const std::string& name, F f, Args... args) {
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) { f(state, args...); })
      ->Unit(benchmark::kMicrosecond);
}

void register_benchmarks() {
  const bool q = g_quick;
  const std::size_t lz = q ? 256 * KiB : 4 * MiB;
  for (const char* set : {"all_literal", "long_run", "mixed", "survey"}) {
    add(joined({"lzrw1_decode_into", set, size_label(lz)}), lzrw1_decode, std::string(set), lz);
  }
  if (!q) {
    for (std::size_t size : {64 * KiB, 1 * MiB, 16 * MiB}) {
      add(joined({"lzrw1_decode_into", "mixed", size_label(size)}), lzrw1_decode, std::string("mixed"), size);
    }
  }

  const std::size_t chain = q ? 1 * MiB : 16 * MiB;
  add(joined({"speed_chain", "stored_raw", "mixed", size_label(chain)}), speed_chain, std::string("stored_raw"),
      std::string("mixed"), chain);
  add(joined({"speed_chain", "lzrw1", "mixed", size_label(chain)}), speed_chain, std::string("lzrw1"),
      std::string("mixed"), chain);
  add(joined({"speed_chain", "automatic", "survey", size_label(chain)}), speed_chain, std::string("automatic"),
      std::string("survey"), chain);

  std::vector<std::size_t> zlib_sizes = {1 * KiB, 64 * KiB};
  if (!q) zlib_sizes.insert(zlib_sizes.end(), {1 * MiB, 64 * MiB});
  for (std::size_t size : zlib_sizes) {
    add(joined({"inflate_zlib_stream", "mixed", size_label(size)}), zlib_inflate_stream, std::string("mixed"), size);
    add(joined({"bare_inflate", "mixed", size_label(size)}), zlib_bare_inflate, std::string("mixed"), size);
  }

  const std::size_t grid_total = q ? 1 * MiB : 16 * MiB;
  for (std::size_t block : {1 * KiB, 4 * KiB, 16 * KiB, 64 * KiB}) {
    const std::string total_label = size_label(grid_total);
    const std::string block_label = "block:" + size_label(block);
    add(joined({"inflate_grid_blocks", total_label, block_label}), grid_inflate_blocks, grid_total, block);
    add(joined({"bare_inflate_blocks", "fresh", total_label, block_label}), grid_bare_inflate,
        grid_total, block, false);
    add(joined({"bare_inflate_blocks", "reset", total_label, block_label}), grid_bare_inflate,
        grid_total, block, true);
  }

  const std::size_t records = q ? 64 * 1024 : 1024 * 1024;
  for (const char* shape : {"narrow", "wide"}) {
    const std::string n = std::to_string(records);
    add(joined({"fixed_width", shape, n}), fixed_width_decode, std::string(shape), records);
    add(joined({"fixed_width_measure", shape, n}), fixed_width_measure, std::string(shape), records);
    add(joined({"fixed_width_decode_pass", shape, n}), fixed_width_decode_pass, std::string(shape),
        records);
  }
}

// Console output as usual, plus a note of every benchmark that reported an
// error (a wrong output), for the exit status.
class CheckingReporter : public benchmark::ConsoleReporter {
 public:
  explicit CheckingReporter(OutputOptions options) : ConsoleReporter(options) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) ++errors;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  int errors = 0;
};

}  // namespace
}  // namespace native::bench

int main(int argc, char** argv) {
  using namespace native::bench;
  const auto options = initialize_benchmark(argc, argv);
  if (!options) return 2;
  g_quick = options->quick;
  const bool color = options->color;
  register_benchmarks();
  CheckingReporter reporter(color ? benchmark::ConsoleReporter::OO_ColorTabular
                                  : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (reporter.errors > 0) {
    std::fprintf(stderr, "native_codecs_bench: %d benchmark(s) gave wrong output\n", reporter.errors);
    return 1;
  }
  return 0;
}
