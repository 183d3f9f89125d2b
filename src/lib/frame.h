// The frame around every entry point: the entry guard that turns pending
// errors and internal faults into Python exceptions, result objects, the
// sections that run with the interpreter detached, and the process-wide
// caches of interpreter objects.
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "codecs/internal_fault.h"
#include "lib/pending_error.h"

namespace native::py {

// Text of an internal fault that carries none of its own.
inline constexpr const char* kGenericFaultText =
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

// A process-wide cache of one interpreter object, filled once and never
// emptied.  A thread never waits for the filling while attached, so two
// threads filling the same cache cannot deadlock on the interpreter lock.
class ProcessCache {
 public:
  using Initialiser = PyObject* (*)();  // new reference, or null on failure
  constexpr explicit ProcessCache(Initialiser initialiser, const char* what)
      : initialiser_(initialiser), what_(what) {}
  // The cached object (borrowed: the cache keeps it alive for good).
  PyObject* get();

 private:
  Initialiser initialiser_;
  const char* what_;
  std::atomic<PyObject*> object_{nullptr};
  std::mutex filling_;
};

// Interned attribute names and other cached objects.
PyObject* interned_name___name__();
PyObject* interned_name___all__();
PyObject* interned_name_add_note();
PyObject* panic_exception_type();
PyObject* sequence_abc_type();

}  // namespace native::py
