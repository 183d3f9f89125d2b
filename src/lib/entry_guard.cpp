#include "lib/python.h"  // first: it sets feature macros
#include "lib/entry_guard.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "codecs/internal_fault.h"

namespace native::py {
namespace {

// Text of an internal fault that carries none of its own.
constexpr const char* GENERIC_FAULT_TEXT =
    "internal fault in the native code of _native (no message given)";

void raise_panic(const std::string& text) {
  PendingError(ExceptionType::panic, text).raise();
}

}  // namespace

[[noreturn]] void abort_at_boundary(const char* what) {
  std::fprintf(stderr, "_native: uncaught panic at ffi boundary (while %s)\n", what);
  std::fflush(stderr);
  std::abort();
}

void raise_current_exception() {
  try {
    throw;
  } catch (const InternalFault& fault) {
    raise_panic(fault.what());
  } catch (const std::bad_alloc&) {
    // Memory ran out outside the core routines (which report it as a
    // value): the call ends without a result.
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    raise_panic(error.what());
  } catch (...) {
    raise_panic(GENERIC_FAULT_TEXT);
  }
}

}  // namespace native::py
