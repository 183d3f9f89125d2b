// The fast inflater against the whole-buffer inflaters of other libraries,
// on the same zlib streams (zlib level 6, as bench/bench.py makes them):
// libdeflate (libdeflate_zlib_decompress given the exact size), ISA-L's
// igzip (isal_inflate and isal_inflate_stateless with the zlib wrapper;
// left out when the build found no libisal) and zlib's uncompress.  Every
// decoder writes into a buffer that already has room for the whole output,
// and keeps its state from call to call where its interface allows (zlib's
// uncompress sets up an inflater per call).
//
//   native_inflate_bench [--quick] [Google Benchmark flags]
//
// Every benchmark first checks one call's output against the content; a
// wrong output of the fast inflater is an error (exit status 1), a peer's
// is reported and its column left empty.  Rates are output bytes per CPU
// second.  After the runs, a summary: the fast inflater's MB/s and each
// peer's time / the fast inflater's time (above 1: the fast inflater is
// faster).
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#if NATIVE_BENCH_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "codecs/fast_inflate.h"
#include "support/byte_vector.h"
#include "benchmark_options.h"
#include "data_sets.h"

namespace native::bench {
namespace {

using support::ByteVector;

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;
constexpr std::uint64_t SEED = 20261208;  // bench/bench.py's seed: the same bytes

bool g_quick = false;

std::string size_label(std::size_t size) {
  if (size >= MiB && size % MiB == 0) return std::to_string(size / MiB) + "MiB";
  return std::to_string(size / KiB) + "KiB";
}

struct Case {
  std::string label;  // "grid/4KiB"
  Bytes content;
  Bytes stream;
};

Bytes zlib_compress(std::span<const std::uint8_t> raw) {
  uLongf bound = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(bound);
  if (compress2(out.data(), &bound, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  out.resize(bound);
  return out;
}

// ------------------------------------------------------------ inflaters
//
// Each inflates `stream` into `out` (room for exactly the content) and
// returns the number of bytes written, or -1 when it fails.

class Inflater {
 public:
  virtual ~Inflater() = default;
  virtual std::int64_t inflate(std::span<const std::uint8_t> stream, std::span<std::uint8_t> out) = 0;
};

// The fast path alone, appending to a vector emptied before each call, its
// capacity kept from the first (as a result buffer sized up front would be).
class FastInflaterCall final : public Inflater {
 public:
  std::int64_t inflate(std::span<const std::uint8_t> stream, std::span<std::uint8_t> out) override {
    output_.truncate(0);
    if (!output_.reserve(out.size())) return -1;
    if (inflater_.inflate_into(stream, output_) != FastInflate::inflated) return -1;
    // The comparison reads out; the copy is made outside the timed loop.
    if (copy_out_) std::memcpy(out.data(), output_.data(), std::min<std::size_t>(out.size(), output_.size()));
    return static_cast<std::int64_t>(output_.size());
  }
  void set_copy_out(bool copy) { copy_out_ = copy; }

 private:
  FastInflater inflater_;
  ByteVector output_;
  bool copy_out_ = false;
};

class LibdeflateCall final : public Inflater {
 public:
  LibdeflateCall() : decompressor_(libdeflate_alloc_decompressor()) {
    if (decompressor_ == nullptr) throw std::bad_alloc();
  }
  ~LibdeflateCall() override { libdeflate_free_decompressor(decompressor_); }
  std::int64_t inflate(std::span<const std::uint8_t> stream, std::span<std::uint8_t> out) override {
    // Given the exact size: no actual-size out-parameter, so the library
    // checks that the content fills the buffer.
    return libdeflate_zlib_decompress(decompressor_, stream.data(), stream.size(), out.data(),
                                      out.size(), nullptr) == LIBDEFLATE_SUCCESS
               ? static_cast<std::int64_t>(out.size())
               : -1;
  }

 private:
  libdeflate_decompressor* decompressor_;
};

class ZlibUncompressCall final : public Inflater {
 public:
  std::int64_t inflate(std::span<const std::uint8_t> stream, std::span<std::uint8_t> out) override {
    uLongf length = static_cast<uLongf>(out.size());
    return uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size())) == Z_OK
               ? static_cast<std::int64_t>(length)
               : -1;
  }
};

#if NATIVE_BENCH_HAVE_ISAL
// isal_inflate (the streaming call, given all input and all output room at
// once) or isal_inflate_stateless (ISA-L's one-shot routine).
class IsalCall final : public Inflater {
 public:
  explicit IsalCall(bool stateless) : stateless_(stateless), state_(std::make_unique<inflate_state>()) {}
  std::int64_t inflate(std::span<const std::uint8_t> stream, std::span<std::uint8_t> out) override {
    inflate_state& s = *state_;
    isal_inflate_reset(&s);
    s.crc_flag = ISAL_ZLIB;
    s.next_in = const_cast<std::uint8_t*>(stream.data());
    s.avail_in = static_cast<std::uint32_t>(stream.size());
    s.next_out = out.data();
    s.avail_out = static_cast<std::uint32_t>(out.size());
    const int code = stateless_ ? isal_inflate_stateless(&s) : isal_inflate(&s);
    if (code != ISAL_DECOMP_OK || (!stateless_ && s.block_state != ISAL_BLOCK_FINISH)) return -1;
    return static_cast<std::int64_t>(s.total_out);
  }

 private:
  bool stateless_;
  std::unique_ptr<inflate_state> state_;
};
#endif

std::vector<std::string> inflater_names() {
  std::vector<std::string> names = {"native", "libdeflate"};
#if NATIVE_BENCH_HAVE_ISAL
  names.push_back("isal");
  names.push_back("isal_stateless");
#endif
  names.push_back("zlib");
  return names;
}

std::unique_ptr<Inflater> make_inflater(const std::string& name) {
  if (name == "native") return std::make_unique<FastInflaterCall>();
  if (name == "libdeflate") return std::make_unique<LibdeflateCall>();
  if (name == "zlib") return std::make_unique<ZlibUncompressCall>();
#if NATIVE_BENCH_HAVE_ISAL
  if (name == "isal") return std::make_unique<IsalCall>(false);
  if (name == "isal_stateless") return std::make_unique<IsalCall>(true);
#endif
  throw std::invalid_argument("unknown inflater " + name);
}

// ----------------------------------------------------------- benchmarks

// Wrong outputs of the fast inflater (the exit status) and of the peers.
int g_native_errors = 0;
std::vector<std::string> g_peer_errors;

void inflate_case(benchmark::State& state, std::shared_ptr<const Case> c, std::string name) {
  auto inflater = make_inflater(name);
  Bytes out(c->content.size());
  if (auto* fast = dynamic_cast<FastInflaterCall*>(inflater.get())) fast->set_copy_out(true);
  const std::int64_t first = inflater->inflate(c->stream, out);
  if (first != static_cast<std::int64_t>(c->content.size()) || out != c->content) {
    state.SkipWithError((name + ": wrong output").c_str());
    if (name == "native") {
      ++g_native_errors;
    } else {
      g_peer_errors.push_back(name + " on " + c->label);
    }
    return;
  }
  if (auto* fast = dynamic_cast<FastInflaterCall*>(inflater.get())) fast->set_copy_out(false);
  for (auto _ : state) {
    const std::int64_t n = inflater->inflate(c->stream, out);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c->content.size()));
  state.counters["in_bytes"] = static_cast<double>(c->stream.size());
}

std::vector<std::shared_ptr<const Case>> cases() {
  std::vector<std::pair<std::string, std::size_t>> sets;
  const std::vector<std::size_t> sizes =
      g_quick ? std::vector<std::size_t>{4 * KiB, 64 * KiB}
              : std::vector<std::size_t>{4 * KiB, 64 * KiB, 1 * MiB, 16 * MiB};
  for (const char* name : {"grid", "channel", "csv"}) {
    for (std::size_t size : sizes) sets.emplace_back(name, size);
  }
  // Long matches at short distances: repeated patterns, blank grid regions.
  const std::size_t short_size = g_quick ? 64 * KiB : 1 * MiB;
  for (int period : {1, 2, 3, 4, 8, 16}) sets.emplace_back("period_" + std::to_string(period), short_size);
  for (int percent : {30, 100}) sets.emplace_back("grid_blank_" + std::to_string(percent), short_size);

  std::vector<std::shared_ptr<const Case>> out;
  for (const auto& [name, size] : sets) {
    auto c = std::make_shared<Case>();
    c->label = name + "/" + size_label(size);
    c->content = content_by_name(name, size, SEED);
    c->stream = zlib_compress(c->content);
    out.push_back(std::move(c));
  }
  return out;
}

// ------------------------------------------------------------- summary

struct Timing {
  double cpu_seconds_per_call = 0;
  std::size_t out_bytes = 0;
};

// Console output as usual, plus each run's CPU time per call for the
// summary (name "inflate/<set>/<size>/<inflater>").
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  explicit CollectingReporter(OutputOptions options) : ConsoleReporter(options) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const std::string name = run.benchmark_name();
      const auto slash = name.rfind('/');
      const auto first = name.find('/');
      if (slash == std::string::npos || first == slash) continue;
      times[name.substr(first + 1, slash - first - 1)][name.substr(slash + 1)] =
          run.cpu_accumulated_time / static_cast<double>(run.iterations);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::map<std::string, double>> times;  // set -> inflater -> s/call
};

void print_summary(const std::vector<std::shared_ptr<const Case>>& all, const CollectingReporter& reporter) {
  const std::vector<std::string> names = inflater_names();
  std::printf("\nSummary: the fast inflater's MB/s (output, per CPU second) and each peer's time / its time\n"
              "(above 1: the fast inflater is faster)%s\n\n",
#if NATIVE_BENCH_HAVE_ISAL
              ""
#else
              "; no libisal at build time: no ISA-L columns"
#endif
  );
  std::printf("| %-20s | %7s |", "data", "MB/s");
  for (const std::string& name : names) {
    if (name != "native") std::printf(" %14s |", name.c_str());
  }
  std::printf("\n|%s|%s|", std::string(22, '-').c_str(), std::string(8, '-').append(":").c_str());
  for (const std::string& name : names) {
    if (name != "native") std::printf("%s:|", std::string(15, '-').c_str());
  }
  std::printf("\n");
  for (const auto& c : all) {
    const auto found = reporter.times.find(c->label);
    if (found == reporter.times.end()) continue;
    const auto& row = found->second;
    const auto ours = row.find("native");
    if (ours == row.end()) continue;
    std::printf("| %-20s | %7.0f |", c->label.c_str(),
                static_cast<double>(c->content.size()) / ours->second / 1e6);
    for (const std::string& name : names) {
      if (name == "native") continue;
      const auto peer = row.find(name);
      if (peer == row.end()) {
        std::printf(" %14s |", "-");
      } else {
        std::printf(" %13.2fx |", peer->second / ours->second);
      }
    }
    std::printf("\n");
  }
}

}  // namespace
}  // namespace native::bench

int main(int argc, char** argv) {
  using namespace native::bench;
  const auto options = initialize_benchmark(argc, argv);
  if (!options) return 2;
  g_quick = options->quick;
  const bool color = options->color;

  const auto all = cases();
  for (const auto& c : all) {
    for (const std::string& name : inflater_names()) {
      benchmark::RegisterBenchmark(("inflate/" + c->label + "/" + name).c_str(),
                                   [c, name](benchmark::State& state) { inflate_case(state, c, name); })
          ->Unit(benchmark::kMicrosecond);
    }
  }
  CollectingReporter reporter(color ? benchmark::ConsoleReporter::OO_ColorTabular
                                    : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  print_summary(all, reporter);
  for (const std::string& error : g_peer_errors) {
    std::fprintf(stderr, "native_inflate_bench: peer gave a wrong output: %s\n", error.c_str());
  }
  if (g_native_errors > 0) {
    std::fprintf(stderr, "native_inflate_bench: %d benchmark(s) of the fast inflater gave wrong output\n",
                 g_native_errors);
    return 1;
  }
  return 0;
}
