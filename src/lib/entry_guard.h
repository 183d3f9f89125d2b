// The entry guard around every entry point (and the exec step): it runs the
// body, raises a pending error it returns, and turns an internal fault, or
// any other C++ exception, into a Python exception, so that no exception
// crosses into the interpreter.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <utility>

#include "lib/pending_error.h"

namespace native::py {

// Raises what a caught C++ exception stands for: an internal fault as
// PanicException (args == (text,)), exhausted memory outside the core
// routines as MemoryError.  Called only from a handler.
void raise_current_exception();

// Aborts the process: a fault happened while an error was being raised.
[[noreturn]] void abort_at_boundary(const char* what);

// `body` returns Result<Ref>; the guard returns the new reference, or null
// with the exception set.
template <class Body>
PyObject* entry_guard(Body&& body) noexcept {
  try {
    Result<Ref> outcome = body();
    if (outcome) return outcome->release();
    try {
      std::move(outcome.error()).raise();
    } catch (...) {
      abort_at_boundary("raising a pending error");
    }
    return nullptr;
  } catch (...) {
    try {
      raise_current_exception();
    } catch (...) {
      abort_at_boundary("raising an internal fault");
    }
    return nullptr;
  }
}

}  // namespace native::py
