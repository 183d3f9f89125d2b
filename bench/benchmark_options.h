// The command line both Google Benchmark programs take: --quick (a short
// minimum time, unless one is given) on top of Google Benchmark's own
// flags, and whether the reporter should use colour (a reporter of one's own
// does not follow --benchmark_color by itself).
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <vector>

namespace native::bench {

struct BenchmarkOptions {
  bool quick = false;
  bool color = false;
};

// Hands the flags to Google Benchmark; nothing when one is not recognised
// (the program should then exit with status 2).
inline std::optional<BenchmarkOptions> initialize_benchmark(int argc, char** argv) {
  BenchmarkOptions options;
  options.color = isatty(STDOUT_FILENO) != 0;
  std::vector<char*> args;
  bool has_min_time = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      options.quick = true;
      continue;
    }
    if (std::strcmp(argv[i], "--benchmark_color=false") == 0) options.color = false;
    if (std::strcmp(argv[i], "--benchmark_color=true") == 0) options.color = true;
    if (std::strncmp(argv[i], "--benchmark_min_time", 20) == 0) has_min_time = true;
    args.push_back(argv[i]);
  }
  static char quick_min_time[] = "--benchmark_min_time=0.01";
  if (options.quick && !has_min_time) args.push_back(quick_min_time);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return std::nullopt;
  return options;
}

}  // namespace native::bench
