#include "lib/python.h"  // first: it sets feature macros
#include "lib/interpreter_caches.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "codecs/internal_fault.h"
#include "lib/describe_exception.h"

namespace native::py {
namespace {

// Bumped by the runtime's last finalisation step; a cache filled under an
// older value belongs to a finalised runtime.
std::atomic<std::uint32_t> runtime_epoch{0};
// The epoch for which that finalisation callback is registered.
std::atomic<std::uint32_t> watched_epoch{UINT32_MAX};

void on_runtime_finalised() { runtime_epoch.fetch_add(1, std::memory_order_acq_rel); }

// Registers the finalisation callback once per runtime.  False with a
// Python error set when the runtime has no room for it: a cache filled
// without it could outlive its runtime unnoticed.
bool watch_runtime_finalisation() {
  const std::uint32_t epoch = runtime_epoch.load(std::memory_order_acquire);
  std::uint32_t watched = watched_epoch.load(std::memory_order_acquire);
  if (watched == epoch) return true;
  if (!watched_epoch.compare_exchange_strong(watched, epoch, std::memory_order_acq_rel)) {
    return true;  // another thread registers it for this runtime
  }
  if (Py_AtExit(on_runtime_finalised) != 0) {
    watched_epoch.store(watched, std::memory_order_release);
    PyErr_SetString(PyExc_RuntimeError, "no room left for a Py_AtExit callback");
    return false;
  }
  return true;
}

const ProcessCacheHooks INTERPRETER_HOOKS{
    [] { return static_cast<void*>(PyEval_SaveThread()); },
    [](void* state) { PyEval_RestoreThread(static_cast<PyThreadState*>(state)); },
    [] { return runtime_epoch.load(std::memory_order_acquire); },
};

// "{type}: {value}" of the current exception, which is cleared.
std::string describe_current_error() {
  Ref exception = Ref::steal(PyErr_GetRaisedException());
  if (!exception) return "no exception set";
  return describe_exception(exception.get(), Description::brief);
}

}  // namespace

void* CachedObject::fill(void* self) {
  if (!watch_runtime_finalisation()) return nullptr;
  return static_cast<CachedObject*>(self)->initialiser_();
}

PyObject* CachedObject::get() {
  const ProcessCache::Outcome outcome = core_.get(INTERPRETER_HOOKS, &fill, this);
  switch (outcome.status) {
    case ProcessCache::Status::ready:
      return static_cast<PyObject*>(outcome.object);
    case ProcessCache::Status::reentered:
      internal_fault(std::string(what_) + " asked for again by the thread that is filling it");
    case ProcessCache::Status::initialiser_failed:
      break;
  }
  internal_fault(std::string(what_) + " " + describe_current_error());
}

PyObject* CachedObject::peek() const {
  return static_cast<PyObject*>(core_.peek(INTERPRETER_HOOKS.epoch()));
}

namespace {

PyObject* intern(const char* text) {
  PyObject* name = PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(std::strlen(text)));
  if (name) PyUnicode_InternInPlace(&name);
  return name;
}

constexpr const char PANIC_EXCEPTION_DOC[] =
    "\n"
    "The exception raised when the native code of _native fails with an\n"
    "internal fault (a broken invariant, never bad input).\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

PyObject* create_panic_exception() {
  return PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", PANIC_EXCEPTION_DOC,
                                   PyExc_BaseException, nullptr);
}

PyObject* import_sequence_abc() {
  Ref module = Ref::steal(PyImport_ImportModule("collections.abc"));
  if (!module) return nullptr;
  return PyObject_GetAttrString(module.get(), "Sequence");
}

constinit CachedObject name_cache{[] { return intern("__name__"); }, "could not intern a name:"};
constinit CachedObject all_cache{[] { return intern("__all__"); }, "could not intern a name:"};
constinit CachedObject obj_cache{[] { return intern("obj"); }, "could not intern a name:"};
constinit CachedObject add_note_cache{[] { return intern("add_note"); },
                                      "could not intern a name:"};
constinit CachedObject panic_cache{create_panic_exception,
                                   "Failed to initialize new exception type."};
constinit CachedObject sequence_cache{import_sequence_abc,
                                      "could not import collections.abc.Sequence:"};

}  // namespace

PyObject* interned_name___name__() { return name_cache.get(); }
PyObject* interned_name___all__() { return all_cache.get(); }
PyObject* interned_name_add_note() { return add_note_cache.get(); }
PyObject* interned_name_obj() { return obj_cache.get(); }
PyObject* panic_exception_type() { return panic_cache.get(); }
PyObject* panic_exception_type_if_created() { return panic_cache.peek(); }
PyObject* sequence_abc_type() { return sequence_cache.get(); }

}  // namespace native::py
