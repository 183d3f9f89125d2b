// The frame's one failure value.  A pending error is either deferred (an
// exception type and its message text, no Python objects yet: safe to make
// while detached) or an exception object fetched from the interpreter.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <string>
#include <utility>
#include <variant>

#include "codecs/decode_error.h"

namespace native::py {

// The exception types a deferred error can name; resolved to the
// interpreter's objects only when raised.
enum class ExceptionType {
  value_error,
  index_error,
  type_error,
  buffer_error,
  system_error,
  overflow_error,
  panic,   // PanicException, argument is the 1-tuple (text,)
  other,   // any type object, held in PendingError::other_type_
};

class PendingError {
 public:
  PendingError(ExceptionType type, std::string text)
      : type_(type), text_(std::move(text)) {}
  // A deferred error of an arbitrary type object (not necessarily an
  // exception class); raising checks it.
  PendingError(Ref type, std::string text)
      : type_(ExceptionType::other), text_(std::move(text)), other_type_(std::move(type)) {}
  // A fetched exception object.
  static PendingError from_object(Ref exception) {
    PendingError error(ExceptionType::other, {});
    error.object_ = std::move(exception);
    return error;
  }
  static PendingError from_decode_error(DecodeError error) {
    return PendingError(error.kind == ErrorKind::value_error ? ExceptionType::value_error
                                                             : ExceptionType::index_error,
                        std::move(error.message));
  }

  PendingError(PendingError&&) = default;
  PendingError& operator=(PendingError&&) = default;

  bool is_object() const { return static_cast<bool>(object_); }
  ExceptionType type() const { return type_; }
  const std::string& text() const { return text_; }

  // Sets the error as the interpreter's current exception; consumes it.
  void raise() &&;
  // The exception object; a deferred error is raised and fetched back once.
  PyObject* materialise();

 private:
  ExceptionType type_;
  std::string text_;
  Ref other_type_;
  Ref object_;
};

// The type-mismatch TypeError: "'{type}' object is not an instance of
// '{expected}'" or "'None' is not an instance of '{expected}'".
PendingError type_mismatch(PyObject* object, const char* expected);

// The interpreter's current exception as a pending error (object form), or
// the SystemError for "nothing set".  A PanicException fetched back from
// Python resumes as an internal fault.
PendingError fetch_error();

// A value or the pending error that prevented it.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}
  Result(PendingError error) : state_(std::move(error)) {}
  explicit operator bool() const { return state_.index() == 0; }
  T& operator*() { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  PendingError&& error() { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, PendingError> state_;
};

}  // namespace native::py
