// The initialisation function of the abi3 build, for CPython 3.12 to 3.14
// (builds with the global interpreter lock), which predate the slot-based
// export: PyInit__native returns a multi-phase module definition equivalent
// to the export hook's slots (same name, empty docstring, no module state,
// no method table of its own: the same exec step adds the six functions and
// __all__).  This is the only exported symbol of _native.abi3.so.
#include "lib/python.h"  // first: it sets feature macros
#include "lib/module_definition.h"

static_assert(Py_LIMITED_API + 0 == 0x030c0000, "the abi3 build targets CPython 3.12");

namespace {

// Py_mod_gil came with 3.13 and is not named by the 3.12 limited API; its
// id and value are part of the stable ABI from 3.13 on.  An interpreter
// that does not know a slot id refuses the whole definition, so 3.12 gets
// the definition without it.
constexpr int MOD_GIL_SLOT = 4;
void* const MOD_GIL_NOT_USED = reinterpret_cast<void*>(1);
constexpr unsigned long FIRST_VERSION_WITH_MOD_GIL = 0x030d0000;

void* const exec_step = reinterpret_cast<void*>(&native::py::exec_module);

PyModuleDef_Slot slots_with_gil[] = {
    {Py_mod_exec, exec_step},
    {MOD_GIL_SLOT, MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef_Slot slots_without_gil[] = {
    {Py_mod_exec, exec_step},
    {0, nullptr},
};

// m_doc "" gives the module the empty docstring, as the Py_mod_doc slot
// does for the abi3t build.
constexpr PyModuleDef definition_with(PyModuleDef_Slot* slots) {
  return {
      .m_base = PyModuleDef_HEAD_INIT,
      .m_name = "_native",
      .m_doc = "",
      .m_size = 0,
      .m_methods = nullptr,
      .m_slots = slots,
      .m_traverse = nullptr,
      .m_clear = nullptr,
      .m_free = nullptr,
  };
}

// The interpreter keeps a pointer to the definition: both live for good.
constinit PyModuleDef definition_with_gil = definition_with(slots_with_gil);
constinit PyModuleDef definition_without_gil = definition_with(slots_without_gil);

}  // namespace

// Py_Version is the running interpreter's version, not the headers'.
PyMODINIT_FUNC PyInit__native() {
  return PyModuleDef_Init(Py_Version >= FIRST_VERSION_WITH_MOD_GIL ? &definition_with_gil
                                                                : &definition_without_gil);
}
