// Sections of a call that run with the thread detached from the
// interpreter (the interpreter lock released).
#pragma once

#include "lib/python.h"  // first: it sets feature macros

namespace native::py {

// Runs `work` with the thread detached from the interpreter.  It must touch
// no Python object.  The thread is attached again on every path, also when
// `work` ends in an internal fault, before the fault reaches the guard.
template <class Work>
auto run_detached(Work&& work) {
  struct Reattach {
    PyThreadState* state;
    ~Reattach() { PyEval_RestoreThread(state); }
  } reattach{PyEval_SaveThread()};
  return work();
}

}  // namespace native::py
