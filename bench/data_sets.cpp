#include "data_sets.h"

#include "split_mix64.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "speed_builder.h"

namespace native::bench {
namespace {

namespace fs = std::filesystem;

using testdata::SplitMix64;

constexpr std::size_t CORPUS_PIECE = 64 * 1024;
constexpr std::size_t GRID_COLUMNS = 1024;
constexpr float GRID_DUMMY = 1.70141e38f;

// Regular files under `roots`, each root's list sorted by path, roots in
// the order given.  Symbolic links are skipped (their targets are listed
// under their own names), as is anything unreadable.
std::vector<fs::path> regular_files(std::initializer_list<const char*> roots, bool recursive) {
  std::vector<fs::path> all;
  for (const char* root : roots) {
    std::vector<fs::path> found;
    std::error_code error;
    auto add = [&](const fs::directory_entry& entry) {
      std::error_code ignored;
      if (entry.is_regular_file(ignored) && !entry.is_symlink(ignored)) {
        found.push_back(entry.path());
      }
    };
    if (recursive) {
      for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                               error),
           end;
           !error && it != end; it.increment(error)) {
        add(*it);
      }
    } else {
      for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        add(*it);
      }
    }
    std::sort(found.begin(), found.end());
    all.insert(all.end(), found.begin(), found.end());
  }
  return all;
}

// The files' bytes one after the other, reading files in order until
// `limit` bytes are had (or the files run out).
class FileStream {
 public:
  explicit FileStream(std::vector<fs::path> files) : files_(std::move(files)) {}

  // Up to `count` more bytes, wrapping around to the first file after the
  // last; fewer only when no file yields anything.
  std::size_t read(std::uint8_t* out, std::size_t count) {
    std::size_t got = 0;
    std::size_t fruitless = 0;  // files in a row that gave no byte
    while (got < count) {
      if (!current_.is_open()) {
        if (files_.empty() || fruitless > files_.size()) return got;
        current_.clear();
        current_.open(files_[next_file_], std::ios::binary);
        next_file_ = (next_file_ + 1) % files_.size();
        if (!current_.is_open()) {
          ++fruitless;
          continue;
        }
      }
      current_.read(reinterpret_cast<char*>(out + got), static_cast<std::streamsize>(count - got));
      const auto n = static_cast<std::size_t>(current_.gcount());
      got += n;
      fruitless = n > 0 ? 0 : fruitless + 1;
      if (!current_) current_.close();  // end of this file (or a read error)
    }
    return got;
  }

 private:
  std::vector<fs::path> files_;
  std::size_t next_file_ = 0;
  std::ifstream current_;
};

}  // namespace

Bytes mixed_corpus(std::size_t size) {
  FileStream text(regular_files({"/usr/share/common-licenses", "/usr/include"}, true));
  FileStream binary(regular_files({"/usr/bin"}, false));
  Bytes out(size);
  std::size_t filled = 0;
  bool take_text = true;
  int empty_turns = 0;
  while (filled < size && empty_turns < 2) {
    const std::size_t want = std::min(CORPUS_PIECE, size - filled);
    const std::size_t got = (take_text ? text : binary).read(out.data() + filled, want);
    filled += got;
    empty_turns = got == 0 ? empty_turns + 1 : 0;
    take_text = !take_text;
  }
  if (filled < size) {
    const Bytes rest = testdata::survey_like_content(size - filled, 0xC0FFEE);
    std::memcpy(out.data() + filled, rest.data(), rest.size());
  }
  return out;
}

Bytes long_run_content(std::size_t size, std::uint64_t seed) {
  SplitMix64 rng{seed};
  Bytes out;
  out.reserve(size + 4096);
  while (out.size() < size) {
    const std::size_t run = 64 + rng.next() % (4096 - 64 + 1);
    out.insert(out.end(), run, static_cast<std::uint8_t>(rng.next()));
  }
  out.resize(size);
  return out;
}

Bytes random_content(std::size_t size, std::uint64_t seed) {
  SplitMix64 rng{seed};
  Bytes out(size);
  for (std::size_t i = 0; i < size; i += 8) {
    const std::uint64_t word = rng.next();
    std::memcpy(out.data() + i, &word, std::min<std::size_t>(8, size - i));
  }
  return out;
}

Bytes survey_content(std::size_t size, std::uint64_t seed) {
  return testdata::survey_like_content(size, seed);
}

Bytes grid_content(std::size_t size, std::uint64_t seed) {
  SplitMix64 rng{seed};
  Bytes out(size);
  const std::size_t cells = size / 4;
  for (std::size_t i = 0; i < cells; ++i) {
    const double x = static_cast<double>(i % GRID_COLUMNS);
    const double y = static_cast<double>(i / GRID_COLUMNS);
    double value = 52000.0 + 350.0 * std::sin(x / 83.0) * std::cos(y / 61.0) + 40.0 * std::sin((x + y) / 17.0);
    value += (rng.unit() - 0.5) * 0.5;           // instrument noise
    value = std::round(value * 100.0) / 100.0;  // recorded to 0.01 nT
    const float cell = static_cast<float>(value);
    std::memcpy(out.data() + i * 4, &cell, 4);
  }
  for (std::size_t i = cells * 4; i < size; ++i) out[i] = 0;
  return out;
}

Bytes channel_content(std::size_t size, std::uint64_t seed) {
  SplitMix64 rng{seed};
  Bytes out(size, 0);
  double level = 1000.0;
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    level += (rng.unit() - 0.5) * 0.6;
    const double noise = (rng.unit() - 0.5) * 0.02;
    const double sample = std::round((level + noise) * 1000.0) / 1000.0;
    std::memcpy(out.data() + i, &sample, 8);
  }
  return out;
}

Bytes csv_content(std::size_t size, std::uint64_t seed) {
  SplitMix64 rng{seed};
  std::string text;
  text.reserve(size + 128);
  char row[160];
  for (std::uint64_t fid = 1; text.size() < size; ++fid) {
    const int n = std::snprintf(
        row, sizeof row, "%llu,%.2f,%.2f,%.3f,%.1f,%d\n", static_cast<unsigned long long>(fid),
        512000.0 + 0.5 * static_cast<double>(fid), 6700000.0 + (rng.unit() - 0.5) * 6.0,
        52000.0 + (rng.unit() - 0.5) * 40.0, 80.0 + (rng.unit() - 0.5) * 4.0,
        static_cast<int>(rng.next() % 4));
    text.append(row, static_cast<std::size_t>(n));
  }
  return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

Bytes periodic_content(std::size_t size, std::size_t period, std::uint64_t seed) {
  if (period == 0) throw std::invalid_argument("period 0");
  const Bytes pattern = random_content(period, seed);
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = pattern[i % period];
  return out;
}

Bytes blank_grid_content(std::size_t size, unsigned blank_percent, std::uint64_t seed) {
  if (blank_percent > 100) throw std::invalid_argument("more than 100 % blank");
  Bytes out = grid_content(size, seed);
  const double mean = blank_percent / 100.0;
  const double swing = 0.6 * std::min(mean, 1.0 - mean);  // 0 at 0 % and 100 %
  const std::size_t rows = (size / 4 + GRID_COLUMNS - 1) / GRID_COLUMNS;
  for (std::size_t row = 0; row < rows; ++row) {
    const double y = static_cast<double>(row);
    const double fraction = mean + swing * std::sin(y * 6.283185307179586 / 97.0);
    const auto blank = static_cast<std::size_t>(std::lround(fraction * GRID_COLUMNS));
    const auto left = static_cast<std::size_t>(std::lround((0.5 + 0.4 * std::sin(y / 13.0)) * blank));
    for (std::size_t column = 0; column < GRID_COLUMNS; ++column) {
      if (column >= left && column < GRID_COLUMNS - (blank - left)) continue;
      const std::size_t at = (row * GRID_COLUMNS + column) * 4;
      if (at + 4 > size) break;
      std::memcpy(out.data() + at, &GRID_DUMMY, 4);
    }
  }
  return out;
}

Bytes zero_content(std::size_t size) { return Bytes(size, 0); }

Bytes lzrw1_all_literal_stream(std::span<const std::uint8_t> content) {
  Bytes stream;
  stream.reserve(content.size() + content.size() / 8 + 2);
  for (std::size_t pos = 0; pos < content.size(); pos += 16) {
    stream.push_back(0);
    stream.push_back(0);
    const std::size_t n = std::min<std::size_t>(16, content.size() - pos);
    stream.insert(stream.end(), content.begin() + static_cast<std::ptrdiff_t>(pos),
                  content.begin() + static_cast<std::ptrdiff_t>(pos + n));
  }
  return stream;
}

Bytes content_by_name(const std::string& name, std::size_t size, std::uint64_t seed) {
  if (name == "mixed") return mixed_corpus(size);
  if (name == "long_run") return long_run_content(size, seed);
  if (name == "random") return random_content(size, seed);
  if (name == "survey") return survey_content(size, seed);
  if (name == "grid") return grid_content(size, seed);
  if (name == "channel") return channel_content(size, seed);
  if (name == "csv") return csv_content(size, seed);
  if (name == "zeros") return zero_content(size);
  // "period_P", "grid_blank_N": a number after the kind's prefix.
  const auto numbered = [&](const std::string& prefix) -> std::optional<std::size_t> {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::string digits = name.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 6) {
      return std::nullopt;
    }
    return static_cast<std::size_t>(std::stoul(digits));
  };
  if (const auto period = numbered("period_")) return periodic_content(size, *period, seed);
  if (const auto percent = numbered("grid_blank_")) {
    return blank_grid_content(size, static_cast<unsigned>(*percent), seed);
  }
  throw std::invalid_argument("unknown data set: " + name);
}

Bytes fixed_width_column(std::size_t count, std::size_t width, std::size_t min_name,
                         std::size_t max_name, std::uint64_t seed) {
  static constexpr char PREFIXES[] = "LTXP";
  static constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-";
  SplitMix64 rng{seed};
  Bytes out(count * width, 0);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* record = out.data() + i * width;
    if (min_name >= width) {
      for (std::size_t k = 0; k < width; ++k) {
        record[k] = static_cast<std::uint8_t>(ALPHABET[rng.next() % (sizeof ALPHABET - 1)]);
      }
      continue;
    }
    const std::size_t span = max_name - min_name + 1;
    const std::size_t length = std::min(width, min_name + static_cast<std::size_t>(rng.next() % span));
    record[0] = static_cast<std::uint8_t>(PREFIXES[rng.next() % 4]);
    for (std::size_t k = 1; k < length; ++k) {
      record[k] = static_cast<std::uint8_t>('0' + rng.next() % 10);
    }
  }
  return out;
}

}  // namespace native::bench
