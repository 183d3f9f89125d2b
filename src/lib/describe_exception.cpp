#include "lib/python.h"  // first: it sets feature macros
#include "lib/describe_exception.h"

namespace native::py {

std::string describe_exception(PyObject* exception, Description form) {
  const bool with_traceback = form == Description::with_traceback;
  std::string text = with_traceback ? "<undescribable error>" : "<unprintable exception>";
  Ref type_name = Ref::steal(PyType_GetQualName(Py_TYPE(exception)));
  Ref value = Ref::steal(PyObject_Str(exception));
  Ref traceback = with_traceback ? Ref::steal(PyException_GetTraceback(exception)) : Ref();
  Ref traceback_repr = traceback ? Ref::steal(PyObject_Repr(traceback.get())) : Ref();
  if (type_name && value) {
    const char* name = PyUnicode_AsUTF8AndSize(type_name.get(), nullptr);
    const char* message = name ? PyUnicode_AsUTF8AndSize(value.get(), nullptr) : nullptr;
    if (!with_traceback) {
      if (name && message) text = std::string(name) + ": " + message;
    } else {
      const char* tb = traceback_repr ? PyUnicode_AsUTF8AndSize(traceback_repr.get(), nullptr)
                                      : "None";
      if (name && message && tb) {
        text = std::string("type: ") + name + ", value: " + message + ", traceback: " + tb;
      }
    }
  }
  PyErr_Clear();
  return text;
}

}  // namespace native::py
