// ping: the load check.  Never detaches; cannot fail with bad input (the
// interpreter refuses any argument before the entry point runs).
#include "lib/python.h"  // first: it sets feature macros
#include "lib/entry_guard.h"
#include "lib/functions.h"
#include "lib/pending_error.h"

namespace native::py {

PyObject* ping(PyObject*, PyObject*) {
  return entry_guard([]() -> Result<Ref> {
    return must_not_fail(PyUnicode_FromStringAndSize("pong", 4));
  });
}

}  // namespace native::py
