#include "lib/python.h"  // first: it sets feature macros
#include "lib/describe_exception.h"

namespace native::py {

// Each call below runs only while no error is set: a step that fails ends
// the description (the interpreter's API may not be called with an error
// set; debug builds assert it), and the error is cleared before returning.
std::string describe_exception(PyObject* exception, Description form) {
  const bool with_traceback = form == Description::with_traceback;
  std::string text = with_traceback ? "<undescribable error>" : "<unprintable exception>";
  Ref type_name = Ref::steal(PyType_GetQualName(Py_TYPE(exception)));
  Ref value = type_name ? Ref::steal(PyObject_Str(exception)) : Ref();
  const char* name = value ? PyUnicode_AsUTF8AndSize(type_name.get(), nullptr) : nullptr;
  const char* message = name ? PyUnicode_AsUTF8AndSize(value.get(), nullptr) : nullptr;
  if (message && !with_traceback) {
    text = std::string(name) + ": " + message;
  } else if (message) {
    // A traceback whose repr fails is described as None.
    Ref traceback = Ref::steal(PyException_GetTraceback(exception));
    Ref traceback_repr = traceback ? Ref::steal(PyObject_Repr(traceback.get())) : Ref();
    const char* tb = traceback_repr ? PyUnicode_AsUTF8AndSize(traceback_repr.get(), nullptr)
                                    : "None";
    if (tb) text = std::string("type: ") + name + ", value: " + message + ", traceback: " + tb;
  }
  PyErr_Clear();
  return text;
}

}  // namespace native::py
