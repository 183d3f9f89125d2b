// The export hook: the interpreter looks up PyModExport__native and builds
// the module from the slots it returns.  This is the only exported symbol.
#include "lib/python.h"  // first: it sets feature macros
#include "lib/module_definition.h"

namespace {

PyABIInfo abi_info = {
    .abiinfo_major_version = 1,
    .abiinfo_minor_version = 0,
    .flags = PyABIInfo_STABLE | PyABIInfo_GIL | PyABIInfo_FREETHREADED,
    .build_version = 0,
    .abi_version = 0,
};
static_assert((PyABIInfo_STABLE | PyABIInfo_GIL | PyABIInfo_FREETHREADED) == 0x0007);

char module_name[] = "_native";
char module_doc[] = "";

// Members left out of a designated initializer are zero, as the slot
// format wants (reserved bits included).
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PySlot module_slots[] = {
    {.sl_id = Py_mod_exec, .sl_func = reinterpret_cast<_Py_funcptr_t>(&native::py::exec_module)},
    {.sl_id = Py_mod_abi, .sl_flags = PySlot_STATIC, .sl_ptr = &abi_info},
    {.sl_id = Py_mod_gil, .sl_flags = PySlot_INTPTR, .sl_ptr = Py_MOD_GIL_NOT_USED},
    {.sl_id = Py_mod_name, .sl_flags = PySlot_STATIC, .sl_ptr = module_name},
    {.sl_id = Py_mod_doc, .sl_flags = PySlot_STATIC, .sl_ptr = module_doc},
    PySlot_END,
};

}  // namespace

// PyMODEXPORT_FUNC: extern "C", default visibility on ELF and Mach-O (the
// export list keeps everything else local), dllexport on Windows.
PyMODEXPORT_FUNC PyModExport__native() {
  return module_slots;
}
