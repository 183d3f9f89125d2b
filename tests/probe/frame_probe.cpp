// _frame_probe: a test-only module on top of the same frame as _native.  It
// reaches the paths that no input to _native can: internal faults in a body
// and in a detached section, deferred errors of odd types, fetching with
// nothing set, calls that must not fail failing, and process caches filled
// from several threads at once.
#include "lib/python.h"  // first: it sets feature macros

#include <atomic>
#include <new>
#include <string>

#include "codecs/integers.h"
#include "codecs/internal_fault.h"
#include "lib/detached_section.h"
#include "lib/entry_guard.h"
#include "lib/interpreter_caches.h"
#include "lib/pending_error.h"

namespace native::py {
namespace {

std::string text_argument(PyObject* args) {
  const char* text = nullptr;
  if (!PyArg_ParseTuple(args, "s", &text)) internal_fault("probe: expected one str argument");
  return text;
}

PyObject* fault(PyObject*, PyObject* args) {
  return entry_guard([&]() -> Result<Ref> { internal_fault(text_argument(args)); });
}

PyObject* fault_without_text(PyObject*, PyObject*) {
  return entry_guard([]() -> Result<Ref> { throw 42; });
}

PyObject* fault_detached(PyObject*, PyObject* args) {
  return entry_guard([&]() -> Result<Ref> {
    const std::string text = text_argument(args);
    run_detached([&] { internal_fault(text); });
    return Ref::borrow(Py_None);
  });
}

PyObject* out_of_memory(PyObject*, PyObject*) {
  return entry_guard([]() -> Result<Ref> { throw std::bad_alloc(); });
}

PyObject* capacity_overflow(PyObject*, PyObject*) {
  return entry_guard([]() -> Result<Ref> {
    checked_size_product(std::uint64_t{1} << 62, 4);
    return Ref::borrow(Py_None);
  });
}

// deferred(type, text): raise a deferred error of an arbitrary type object.
PyObject* deferred(PyObject*, PyObject* args) {
  return entry_guard([&]() -> Result<Ref> {
    PyObject* type = nullptr;
    const char* text = nullptr;
    if (!PyArg_ParseTuple(args, "Os", &type, &text)) return fetch_error();
    return PendingError(Ref::borrow(type), text);
  });
}

PyObject* fetch_with_nothing_set(PyObject*, PyObject*) {
  return entry_guard([]() -> Result<Ref> { return fetch_error(); });
}

// call_and_fetch(f): call f(); its exception comes back through a fetch.
PyObject* call_and_fetch(PyObject*, PyObject* callable) {
  return entry_guard([&]() -> Result<Ref> {
    Ref outcome = Ref::steal(PyObject_CallNoArgs(callable));
    if (!outcome) return fetch_error();
    return outcome;
  });
}

// must_not_fail_failing(exception_type): a call that must not fail returns
// null with that exception set.
PyObject* must_not_fail_failing(PyObject*, PyObject* type) {
  return entry_guard([&]() -> Result<Ref> {
    PyErr_SetString(type, "failure that must not happen");
    return must_not_fail(nullptr);
  });
}

// A cache filled by a Python callable, to watch one-time initialisation
// from several threads.
PyObject* cache_initialiser = nullptr;
std::atomic<int> cache_initialiser_runs{0};

PyObject* run_cache_initialiser() {
  ++cache_initialiser_runs;
  return PyObject_CallNoArgs(cache_initialiser);
}
CachedObject probe_cache{run_cache_initialiser, "probe cache:"};

PyObject* set_cache_initialiser(PyObject*, PyObject* callable) {
  Py_XINCREF(callable);
  cache_initialiser = callable;
  Py_RETURN_NONE;
}

PyObject* cached(PyObject*, PyObject*) {
  return entry_guard([]() -> Result<Ref> { return Ref::borrow(probe_cache.get()); });
}

PyObject* cache_initialiser_run_count(PyObject*, PyObject*) {
  return PyLong_FromLong(cache_initialiser_runs.load());
}

PyObject* panic_type(PyObject*, PyObject*) {
  return entry_guard([]() -> Result<Ref> { return Ref::borrow(panic_exception_type()); });
}

PyMethodDef probe_methods[] = {
    {"fault", fault, METH_VARARGS, nullptr},
    {"fault_without_text", fault_without_text, METH_NOARGS, nullptr},
    {"fault_detached", fault_detached, METH_VARARGS, nullptr},
    {"out_of_memory", out_of_memory, METH_NOARGS, nullptr},
    {"capacity_overflow", capacity_overflow, METH_NOARGS, nullptr},
    {"deferred", deferred, METH_VARARGS, nullptr},
    {"fetch_with_nothing_set", fetch_with_nothing_set, METH_NOARGS, nullptr},
    {"call_and_fetch", call_and_fetch, METH_O, nullptr},
    {"must_not_fail_failing", must_not_fail_failing, METH_O, nullptr},
    {"set_cache_initialiser", set_cache_initialiser, METH_O, nullptr},
    {"cached", cached, METH_NOARGS, nullptr},
    {"cache_initialiser_run_count", cache_initialiser_run_count, METH_NOARGS, nullptr},
    {"panic_type", panic_type, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

int exec_probe(PyObject* module) { return PyModule_AddFunctions(module, probe_methods); }

#if Py_LIMITED_API + 0 >= 0x030f0000
// The abi3t build: slot-based export, as _native's.
PyABIInfo abi_info = {1, 0, PyABIInfo_STABLE | PyABIInfo_GIL | PyABIInfo_FREETHREADED, 0, 0};
char module_name[] = "_frame_probe";

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PySlot probe_slots[] = {
    {.sl_id = Py_mod_exec, .sl_func = reinterpret_cast<_Py_funcptr_t>(&exec_probe)},
    {.sl_id = Py_mod_abi, .sl_flags = PySlot_STATIC, .sl_ptr = &abi_info},
    {.sl_id = Py_mod_gil, .sl_flags = PySlot_INTPTR, .sl_ptr = Py_MOD_GIL_NOT_USED},
    {.sl_id = Py_mod_name, .sl_flags = PySlot_STATIC, .sl_ptr = module_name},
    PySlot_END,
};
#else
// The abi3 build (CPython 3.12 to 3.14, GIL only): a multi-phase definition.
PyModuleDef_Slot probe_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_probe)},
    {0, nullptr},
};
PyModuleDef probe_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_frame_probe",
    .m_doc = nullptr,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = probe_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};
#endif

}  // namespace
}  // namespace native::py

#if Py_LIMITED_API + 0 >= 0x030f0000
PyMODEXPORT_FUNC PyModExport__frame_probe() {
  return native::py::probe_slots;
}
#else
PyMODINIT_FUNC PyInit__frame_probe() { return PyModuleDef_Init(&native::py::probe_definition); }
#endif
