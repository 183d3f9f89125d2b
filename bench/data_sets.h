// Data sets of the benchmarks, shared by the Google Benchmark programs and
// the data tool that the Python driver calls, so that both measure the same
// bytes.  Every set is deterministic: synthetic ones from a seed, the mixed
// corpus from the machine's own files in a fixed order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace native::bench {

using Bytes = std::vector<std::uint8_t>;

// Text and binaries of this machine, interleaved in 64 KiB pieces: text from
// /usr/share/common-licenses and /usr/include, binaries from /usr/bin
// (regular files, sorted by path).  Repeats itself when the files run out;
// falls back to synthetic survey-like content on a machine without them.
Bytes mixed_corpus(std::size_t size);

// Runs of one byte value, 64 to 4096 bytes long: LZRW1 codes nearly all of
// it as 16-byte copies at offset 1.
Bytes long_run_content(std::size_t size, std::uint64_t seed);

// Uniform random bytes: incompressible.
Bytes random_content(std::size_t size, std::uint64_t seed);

// Header-like text lines and quantised doubles, as channel data holds.
Bytes survey_content(std::size_t size, std::uint64_t seed);

// Little-endian float32 cells of a smooth surface with instrument noise,
// row after row, as a grid body holds them.
Bytes grid_content(std::size_t size, std::uint64_t seed);

// Little-endian float64 samples of a channel: a slow random walk with
// instrument noise, recorded to 0.001.
Bytes channel_content(std::size_t size, std::uint64_t seed);

// CSV-like text: numbered rows of coordinates, readings and flags.
Bytes csv_content(std::size_t size, std::uint64_t seed);

// `period` random bytes repeated: DEFLATE codes it as long matches at
// distance `period` (runs, interleaved patterns).
Bytes periodic_content(std::size_t size, std::size_t period, std::uint64_t seed);

// The float32 grid of grid_content with about `blank_percent` % of its
// cells set to the grid dummy (1.70141e38): blank margins of varying width
// at both ends of every row, as the outline of a survey area leaves them
// (100: every cell blank).
Bytes blank_grid_content(std::size_t size, unsigned blank_percent, std::uint64_t seed);

// Every byte zero.
Bytes zero_content(std::size_t size);

// A valid LZRW1 stream that codes `content` as literals only: a zero
// control word before every 16 bytes.
Bytes lzrw1_all_literal_stream(std::span<const std::uint8_t> content);

// The content of a data set by name: "mixed", "long_run", "random",
// "survey", "grid", "channel", "csv", "zeros", "period_P" (P random bytes
// repeated) and "grid_blank_N" (N % of the grid's cells blank).  Throws
// std::invalid_argument for any other name.
Bytes content_by_name(const std::string& name, std::size_t size, std::uint64_t seed);

// A fixed-width text column: `count` records of `width` bytes.
//   narrow: every record fully used (no NUL), letters and digits;
//   wide:   names of `min_name` to `max_name` characters ("L1000", "T20431")
//           padded with NULs to the width.
Bytes fixed_width_column(std::size_t count, std::size_t width, std::size_t min_name,
                         std::size_t max_name, std::uint64_t seed);

}  // namespace native::bench
