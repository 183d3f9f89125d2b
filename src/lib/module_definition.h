// The static module definition: method table and exec step, shared by the
// export hook of the module.
#pragma once

#include "lib/python.h"  // first: it sets feature macros

namespace native::py {

// Adds the six functions and __all__ to a new module object.
int exec_module(PyObject* module);

}  // namespace native::py
