// Entry points of the module functions, as the method table sees them.
#pragma once

#include "lib/python.h"  // first: it sets feature macros

namespace native::py {

PyObject* ping(PyObject* self, PyObject* unused);
PyObject* lzrw1_decompress(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* decode_speed_blob(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* zlib_decompress(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PyObject* decompress_grd_blocks(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames);
PyObject* decode_fixed_width_strings_ucs4(PyObject* self, PyObject* const* args,
                                          Py_ssize_t nargs, PyObject* kwnames);

}  // namespace native::py
