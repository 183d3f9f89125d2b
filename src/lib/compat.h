// The few calls whose stable-ABI form depends on the build.  The abi3t build
// (Py_LIMITED_API 3.15) uses the current API; the abi3 build (Py_LIMITED_API
// 3.12, loaded by CPython 3.12 to 3.14) gets the nearest older equivalent
// with the same observable results.  Everything else in src/lib is in the
// 3.12 limited API already.
#pragma once

#include "lib/python.h"  // first: it sets feature macros

namespace native::py {

// The next item of an iterator: 1 with a new reference in *item, 0 at the
// end (StopIteration cleared), -1 with an exception set.
inline int iter_next_item(PyObject* iterator, PyObject** item) {
#if Py_LIMITED_API + 0 >= 0x030e0000
  return PyIter_NextItem(iterator, item);
#else
  // PyIter_Next clears StopIteration the same way and returns null both at
  // the end and on an error; only the error leaves an exception set.
  *item = PyIter_Next(iterator);
  if (*item) return 1;
  return PyErr_Occurred() ? -1 : 0;
#endif
}

}  // namespace native::py
