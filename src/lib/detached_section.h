// Sections of a call that run with the thread detached from the
// interpreter (the interpreter lock released).
#pragma once

#include "lib/python.h"  // first: it sets feature macros
#include <type_traits>

namespace native::py {

// The thread detached from the interpreter for the object's lifetime.  The
// work inside must touch no Python object, except through attached().
class DetachedSection {
 public:
  DetachedSection() noexcept : state_(PyEval_SaveThread()) {}
  ~DetachedSection() { PyEval_RestoreThread(state_); }
  DetachedSection(const DetachedSection&) = delete;
  DetachedSection& operator=(const DetachedSection&) = delete;

  // Runs `work` with the thread attached again for a moment (to grow a
  // result object, say), and detaches once more on every path, also when
  // `work` ends in an internal fault.
  template <class Work>
  auto attached(Work&& work) {
    PyEval_RestoreThread(state_);
    struct Redetach {
      DetachedSection& section;
      ~Redetach() { section.state_ = PyEval_SaveThread(); }
    } redetach{*this};
    return work();
  }

 private:
  PyThreadState* state_;
};

// Runs `work` in a detached section, handing it the section when it takes
// one.  The thread is attached again on every path, also when `work` ends
// in an internal fault, before the fault reaches the guard.
template <class Work>
auto run_detached(Work&& work) {
  DetachedSection section;
  if constexpr (std::is_invocable_v<Work, DetachedSection&>) {
    return work(section);
  } else {
    return work();
  }
}

}  // namespace native::py
