// The frame's one failure value.  A pending error is either deferred (an
// exception type and its message text, no Python objects yet: safe to make
// while detached) or an exception object fetched from the interpreter.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <string>
#include <utility>

#include "codecs/expected.h"

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
  memory_error,  // raised without an argument, as the interpreter does
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

  PendingError(PendingError&&) = default;
  PendingError& operator=(PendingError&&) = default;

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

// A value or the pending error that prevented it: the core routines'
// result shape with the frame's failure value.
template <class T>
using Result = Expected<T, PendingError>;

// A new reference from an interpreter call that must not fail.  When it
// does anyway, the interpreter's error goes to the unraisable hook and the
// call ends with the internal fault "PyObject pointer is null".
Ref must_not_fail(PyObject* new_reference);

}  // namespace native::py
