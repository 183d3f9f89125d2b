// The process-wide caches of interpreter objects: interned attribute names,
// the PanicException class and collections.abc.Sequence.  Each is a
// ProcessCache whose waits detach from the interpreter and whose epoch is
// the lifetime of the interpreter runtime: an embedding application that
// finalises the runtime and initialises it again gets the caches filled
// again in the new runtime (objects of the finalised one are never handed
// out, nor released).  Legacy sub-interpreters share the main
// interpreter's caches, as they share its memory and interned strings;
// isolated sub-interpreters do not load the module.
#pragma once

#include "lib/python.h"  // first: it sets feature macros

#include "lib/process_cache.h"

namespace native::py {

// One cached interpreter object.  An initialiser that fails, or that asks
// for its own cache again on the same thread (through Python code it ran),
// is an internal fault; the cache then stays empty.
class CachedObject {
 public:
  using Initialiser = PyObject* (*)();  // new reference, or null on failure
  constexpr CachedObject(Initialiser initialiser, const char* what)
      : initialiser_(initialiser), what_(what) {}
  // The cached object (borrowed: the cache keeps it alive for good).
  PyObject* get();
  // The object if this runtime has filled the cache already, else null.
  PyObject* peek() const;

 private:
  static void* fill(void* self);
  ProcessCache core_;
  Initialiser initialiser_;
  const char* what_;
};

PyObject* interned_name___name__();
PyObject* interned_name___all__();
PyObject* interned_name_add_note();
PyObject* interned_name_obj();
PyObject* panic_exception_type();
// The PanicException class if it exists in this runtime, else null (then no
// exception can be one of its instances).  Never creates it.
PyObject* panic_exception_type_if_created();
PyObject* sequence_abc_type();

}  // namespace native::py
