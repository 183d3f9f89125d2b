// The one describer of exception objects, for the texts of internal faults
// ("could not append __name__ to __all__: ...", a cache that cannot be
// filled).
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <string>

namespace native::py {

// How describe_exception words its description.
enum class Description {
  brief,           // "{type}: {value}", or "<unprintable exception>"
  with_traceback,  // "type: {type}, value: {value}, traceback: {repr or None}",
                   // or "<undescribable error>"
};

// A description of an exception object for the text of an internal fault.
// Any error raised while describing it is cleared.
std::string describe_exception(PyObject* exception, Description form);

}  // namespace native::py
