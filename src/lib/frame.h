// The frame around every entry point: the entry guard that turns pending
// errors and internal faults into Python exceptions, result objects, the
// sections that run with the interpreter detached (the process-wide caches
// are in interpreter_caches.h).
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <cstdint>
#include <exception>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "codecs/internal_fault.h"
#include "lib/pending_error.h"

namespace native::py {

// Text of an internal fault that carries none of its own.
inline constexpr const char* GENERIC_FAULT_TEXT =
    "internal fault in the native code of _native (no message given)";

// Raises an internal fault as PanicException (args == (text,)).
void raise_panic(const std::string& text);

// Raises what a caught C++ exception stands for: an internal fault as
// PanicException, exhausted module-owned memory as MemoryError.
void raise_current_exception();

// Aborts the process: a fault happened while an error was being raised.
[[noreturn]] void abort_at_boundary(const char* what);

// The entry guard.  `body` returns Result<Ref>; the guard returns the new
// reference or null with the exception set.
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

// A new reference from an interpreter call that must not fail.  When it
// does anyway, the interpreter's error goes to the unraisable hook and the
// call ends with the internal fault "PyObject pointer is null".
Ref must_not_fail(PyObject* new_reference);

// Runs `work` with the thread detached from the interpreter.  It must touch
// no Python object.  The thread is attached again on every path, also when
// `work` ends in an internal fault, before the fault reaches the guard.
template <class Work>
auto run_detached(Work&& work) {
  struct Reattach {
    PyThreadState* state;
    ~Reattach() { PyEval_RestoreThread(state); }
  } reattach{PyEval_SaveThread()};
  return work();
}

// A bytearray created at its final length and zero-filled, to be filled in
// place before anyone else can see it.
struct ResultBytes {
  Ref object;
  std::span<std::uint8_t> bytes;
};
Result<ResultBytes> create_result_bytearray(std::uint64_t length);

// (count, bytearray)
Ref build_result_tuple(std::uint64_t count, Ref bytearray);

}  // namespace native::py
