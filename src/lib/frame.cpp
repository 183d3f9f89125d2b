#include "lib/python.h"  // first: it sets feature macros
#include "lib/frame.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codecs/huge_pages.h"

namespace native::py {

[[noreturn]] void abort_at_boundary(const char* what) {
  std::fprintf(stderr, "_native: uncaught panic at ffi boundary (while %s)\n", what);
  std::fflush(stderr);
  std::abort();
}

void raise_panic(const std::string& text) {
  PendingError(ExceptionType::panic, text).raise();
}

void raise_current_exception() {
  try {
    throw;
  } catch (const InternalFault& fault) {
    raise_panic(fault.what());
  } catch (const std::bad_alloc&) {
    // Module-owned memory ran out: the call ends without a result.
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    raise_panic(error.what());
  } catch (...) {
    raise_panic(GENERIC_FAULT_TEXT);
  }
}

Ref must_not_fail(PyObject* new_reference) {
  if (new_reference) return Ref::steal(new_reference);
  if (PyErr_Occurred()) {
    PendingError error = fetch_error();
    std::move(error).raise();
    PyErr_WriteUnraisable(nullptr);
  }
  internal_fault("PyObject pointer is null");
}

Result<ResultBytes> create_result_bytearray(std::uint64_t length) {
  // A length of 2**63 or more reaches the interpreter as a negative size,
  // which it refuses with its own SystemError.
  Ref object = Ref::steal(
      PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)));
  if (!object) return fetch_error();
  auto* data = reinterpret_cast<std::uint8_t*>(PyByteArray_AsString(object.get()));
  if (!data) return fetch_error();
  advise_huge_pages(data, length);
  std::memset(data, 0, length);
  return ResultBytes{std::move(object), {data, static_cast<std::size_t>(length)}};
}

Ref build_result_tuple(std::uint64_t count, Ref bytearray) {
  Ref number = must_not_fail(PyLong_FromUnsignedLongLong(count));
  Ref tuple = must_not_fail(PyTuple_New(2));
  PyTuple_SetItem(tuple.get(), 0, number.release());
  PyTuple_SetItem(tuple.get(), 1, bytearray.release());
  return tuple;
}

}  // namespace native::py
