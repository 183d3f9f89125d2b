#include "lib/python.h"  // first: it sets feature macros
#include "lib/pending_error.h"

#include <cstdio>
#include <string>

#include "codecs/internal_fault.h"
#include "lib/interpreter_caches.h"

namespace native::py {
namespace {

PyObject* builtin_type(ExceptionType type) {
  switch (type) {
    case ExceptionType::value_error: return PyExc_ValueError;
    case ExceptionType::index_error: return PyExc_IndexError;
    case ExceptionType::type_error: return PyExc_TypeError;
    case ExceptionType::buffer_error: return PyExc_BufferError;
    case ExceptionType::system_error: return PyExc_SystemError;
    case ExceptionType::overflow_error: return PyExc_OverflowError;
    case ExceptionType::memory_error: return PyExc_MemoryError;
    case ExceptionType::panic: return panic_exception_type();
    case ExceptionType::other: break;
  }
  internal_fault("pending error without a type");
}

bool is_exception_class(PyObject* type) {
  if (!(PyType_GetFlags(Py_TYPE(type)) & Py_TPFLAGS_TYPE_SUBCLASS)) return false;
  return (PyType_GetFlags(reinterpret_cast<PyTypeObject*>(type)) &
          Py_TPFLAGS_BASE_EXC_SUBCLASS) != 0;
}

// UTF-8 text of a str into `out`, or false (with the error cleared) if it
// has none.
bool utf8_text(PyObject* str, std::string& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (!data) {
    PyErr_Clear();
    return false;
  }
  out.assign(data, static_cast<std::size_t>(size));
  return true;
}

}  // namespace

void PendingError::raise() && {
  if (object_) {
    PyErr_SetRaisedException(object_.release());
    return;
  }
  if (type_ == ExceptionType::memory_error) {
    PyErr_NoMemory();
    return;
  }
  PyObject* type = type_ == ExceptionType::other ? other_type_.get() : builtin_type(type_);
  Ref argument = must_not_fail(PyUnicode_FromStringAndSize(
      text_.data(), static_cast<Py_ssize_t>(text_.size())));
  if (type_ == ExceptionType::panic) {
    Ref tuple = must_not_fail(PyTuple_New(1));
    PyTuple_SetItem(tuple.get(), 0, argument.release());
    argument = std::move(tuple);
  }
  if (is_exception_class(type)) {
    PyErr_SetObject(type, argument.get());
  } else {
    PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
  }
}

PyObject* PendingError::materialise() {
  if (object_) return object_.get();
  PendingError deferred(std::move(*this));
  std::move(deferred).raise();
  PyObject* exception = PyErr_GetRaisedException();
  if (!exception) internal_fault("materialising an error: nothing was raised");
  *this = from_object(Ref::steal(exception));
  return object_.get();
}

PendingError type_mismatch(PyObject* object, const char* expected) {
  if (object == Py_None) {
    return PendingError(ExceptionType::type_error,
                        std::string("'None' is not an instance of '") + expected + "'");
  }
  std::string name;
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
  if (!qualname) PyErr_Clear();
  if (!qualname || !utf8_text(qualname.get(), name)) name = "<failed to extract type name>";
  return PendingError(ExceptionType::type_error,
                      "'" + name + "' object is not an instance of '" + expected + "'");
}

PendingError fetch_error() {
  Ref exception = Ref::steal(PyErr_GetRaisedException());
  if (!exception) {
    return PendingError(ExceptionType::system_error,
                        "attempted to fetch exception but none was set");
  }
  // Before the class exists no exception can be one: looking it up without
  // creating it keeps this path free of the class's one-time initialisation,
  // which may be what is running Python code on this thread right now.
  PyObject* panic_type = panic_exception_type_if_created();
  if (panic_type && reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) == panic_type) {
    // A PanicException that went through Python code and came back: resume
    // the fault rather than treating it as an ordinary error.
    std::string text;
    Ref str = Ref::steal(PyObject_Str(exception.get()));
    if (!str) PyErr_Clear();
    if (!str || !utf8_text(str.get(), text)) text = "Unwrapped panic from Python code";
    std::fputs("--- _native is resuming an internal fault after fetching a "
               "PanicException from Python. ---\nPython stack trace below:\n",
               stderr);
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    internal_fault(text);
  }
  return PendingError::from_object(std::move(exception));
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

}  // namespace native::py
