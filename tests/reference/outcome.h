// What a decode gives, as the module function would show it: the bytes, or
// the exception kind and the full message.  Shared by the unit tests and the
// fuzzers, with the plain reference decoders beside it.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "codecs/decode_error.h"

namespace native::reference {

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
  std::optional<Bytes> bytes;
  ErrorKind kind = ErrorKind::value_error;
  std::string message;
  bool operator==(const Outcome&) const = default;
};

inline Outcome succeeded(Bytes bytes) { return {std::move(bytes), ErrorKind::value_error, {}}; }
inline Outcome failed(ErrorKind kind, std::string message) {
  return {std::nullopt, kind, std::move(message)};
}

// The message of a core routine's error with the prefix the module adds:
// the function that owns the codec, stated here independently of the
// module's own table.
inline std::string shown_message(const DecodeError& error) {
  const char* prefix = "";
  switch (error.codec) {
    case Codec::lzrw1: prefix = "lzrw1_decompress: "; break;
    case Codec::speed_blob: prefix = "decode_speed_blob: "; break;
    case Codec::zlib: prefix = "zlib_decompress: "; break;
    case Codec::fixed_width: prefix = "decode_fixed_width_strings_ucs4: "; break;
    case Codec::output: break;  // out_of_memory only: no message
  }
  return prefix + error.message;
}
inline Outcome failed(const DecodeError& error) { return failed(error.kind, shown_message(error)); }

inline void PrintTo(const Outcome& outcome, std::ostream* os) {
  if (outcome.bytes) {
    *os << "bytes[" << outcome.bytes->size() << "]";
  } else {
    *os << (outcome.kind == ErrorKind::index_error ? "IndexError" : "ValueError") << " \""
        << outcome.message << "\"";
  }
}

}  // namespace native::reference
