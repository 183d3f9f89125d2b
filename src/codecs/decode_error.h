// Failure values of the core routines.  The routines never throw for bad
// input: they return a DecodeError, which the interpreter frame raises as
// ValueError or IndexError with the message as the only argument.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace native {

enum class ErrorKind {
  value_error,  // malformed data
  index_error,  // data ends too early, or a reference out of range
};

struct DecodeError {
  ErrorKind kind;
  std::string message;  // full text, function prefix included
};

// Result of a routine that fills a caller-provided span: nullopt on success.
using DecodeStatus = std::optional<DecodeError>;

// Result of a routine that produces a value: the value or a decode error.
template <class T>
using DecodeResult = std::variant<T, DecodeError>;

inline DecodeError value_error(std::string message) {
  return {ErrorKind::value_error, std::move(message)};
}
inline DecodeError index_error(std::string message) {
  return {ErrorKind::index_error, std::move(message)};
}

}  // namespace native
