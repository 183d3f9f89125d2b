// Data tool of the Python benchmark driver: makes the same data sets as the
// Google Benchmark programs and codes them with the project's own LZRW1
// encoder and Speed chain builder.
//
//   native_bench_data content NAME SIZE [SEED]   > raw      (the names of content_by_name)
//   native_bench_data column COUNT WIDTH MIN MAX [SEED] > column
//   native_bench_data lzrw1                      < raw > stream
//   native_bench_data lzrw1_literal              < raw > stream   (literals only)
//   native_bench_data speed CODING [CHUNK]       < raw > blob     (stored_raw, lzrw1, automatic)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <iterator>
#include <string>

#include "data_sets.h"
#include "lzrw1_encoder.h"
#include "speed_builder.h"

namespace {

using native::bench::Bytes;

Bytes read_stdin() {
  std::cin >> std::noskipws;
  std::ios::sync_with_stdio(false);
  Bytes in;
  char buffer[1 << 16];
  while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
    in.insert(in.end(), buffer, buffer + std::cin.gcount());
  }
  return in;
}

void write_stdout(const Bytes& out) {
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    throw std::runtime_error("cannot write the output");
  }
}

std::size_t number(const char* text) { return static_cast<std::size_t>(std::stoull(text)); }

int usage() {
  std::fputs(
      "usage: native_bench_data content NAME SIZE [SEED]\n"
      "       native_bench_data column COUNT WIDTH MIN MAX [SEED]\n"
      "       native_bench_data lzrw1 | lzrw1_literal   (stdin -> stdout)\n"
      "       native_bench_data speed stored_raw|lzrw1|automatic [CHUNK]   (stdin -> stdout)\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "content" && (argc == 4 || argc == 5)) {
      const std::uint64_t seed = argc == 5 ? std::stoull(argv[4]) : 1;
      write_stdout(native::bench::content_by_name(argv[2], number(argv[3]), seed));
    } else if (command == "column" && (argc == 6 || argc == 7)) {
      const std::uint64_t seed = argc == 7 ? std::stoull(argv[6]) : 1;
      write_stdout(native::bench::fixed_width_column(number(argv[2]), number(argv[3]),
                                                     number(argv[4]), number(argv[5]), seed));
    } else if (command == "lzrw1" && argc == 2) {
      write_stdout(native::testdata::lzrw1_encode(read_stdin()));
    } else if (command == "lzrw1_literal" && argc == 2) {
      write_stdout(native::bench::lzrw1_all_literal_stream(read_stdin()));
    } else if (command == "speed" && (argc == 3 || argc == 4)) {
      native::testdata::SpeedBlobOptions options;
      const std::string coding = argv[2];
      if (coding == "stored_raw") {
        options.coding = native::testdata::SpeedChunkCoding::stored_raw;
      } else if (coding == "lzrw1") {
        options.coding = native::testdata::SpeedChunkCoding::lzrw1;
      } else if (coding == "automatic") {
        options.coding = native::testdata::SpeedChunkCoding::automatic;
      } else {
        return usage();
      }
      if (argc == 4) options.chunk_content = number(argv[3]);
      options.seed = 11;
      write_stdout(native::testdata::build_speed_blob(read_stdin(), options));
    } else {
      return usage();
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "native_bench_data: %s\n", error.what());
    return 1;
  }
  return 0;
}
