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
    raise_panic(kGenericFaultText);
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

namespace {

// "{type}: {value}" of the current exception, which is cleared.
std::string describe_current_error() {
  Ref exception = Ref::steal(PyErr_GetRaisedException());
  if (!exception) return "no exception set";
  std::string text = "<unprintable exception>";
  Ref type_name = Ref::steal(PyType_GetQualName(Py_TYPE(exception.get())));
  Ref value = Ref::steal(PyObject_Str(exception.get()));
  if (type_name && value) {
    const char* name = PyUnicode_AsUTF8AndSize(type_name.get(), nullptr);
    const char* message = name ? PyUnicode_AsUTF8AndSize(value.get(), nullptr) : nullptr;
    if (name && message) text = std::string(name) + ": " + message;
  }
  PyErr_Clear();
  return text;
}

}  // namespace

PyObject* ProcessCache::get() {
  if (PyObject* cached = object_.load(std::memory_order_acquire)) return cached;
  PyThreadState* state = PyEval_SaveThread();
  std::unique_lock lock(filling_);  // waits detached
  if (PyObject* cached = object_.load(std::memory_order_acquire)) {
    lock.unlock();
    PyEval_RestoreThread(state);
    return cached;
  }
  PyEval_RestoreThread(state);
  PyObject* created = initialiser_();
  if (!created) {
    std::string detail = describe_current_error();
    lock.unlock();
    internal_fault(std::string(what_) + " " + detail);
  }
  object_.store(created, std::memory_order_release);
  return created;
}

namespace {

PyObject* intern(const char* text) {
  PyObject* name = PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(std::strlen(text)));
  if (name) PyUnicode_InternInPlace(&name);
  return name;
}

constexpr const char kPanicExceptionDoc[] =
    "\n"
    "The exception raised when the native code of _native fails with an\n"
    "internal fault (a broken invariant, never bad input).\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

PyObject* create_panic_exception() {
  return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicExceptionDoc,
                                   PyExc_BaseException, nullptr);
}

PyObject* import_sequence_abc() {
  Ref module = Ref::steal(PyImport_ImportModule("collections.abc"));
  if (!module) return nullptr;
  return PyObject_GetAttrString(module.get(), "Sequence");
}

ProcessCache name_cache{[] { return intern("__name__"); }, "could not intern a name:"};
ProcessCache all_cache{[] { return intern("__all__"); }, "could not intern a name:"};
ProcessCache add_note_cache{[] { return intern("add_note"); }, "could not intern a name:"};
ProcessCache panic_cache{create_panic_exception, "Failed to initialize new exception type."};
ProcessCache sequence_cache{import_sequence_abc, "could not import collections.abc.Sequence:"};

}  // namespace

PyObject* interned_name___name__() { return name_cache.get(); }
PyObject* interned_name___all__() { return all_cache.get(); }
PyObject* interned_name_add_note() { return add_note_cache.get(); }
PyObject* panic_exception_type() { return panic_cache.get(); }
PyObject* sequence_abc_type() { return sequence_cache.get(); }

}  // namespace native::py
