// The one-time initialisation behind the process-wide caches of interpreter
// objects, free of the interpreter: the host supplies how a thread detaches
// and re-attaches while it waits, and the epoch (one per lifetime of the
// interpreter runtime) that a cached object belongs to.
//
// A cache is filled once per epoch and never emptied within it:
// - the fast path is one acquire load;
// - one thread runs the initialiser, attached; others wait, detached;
// - a failing initialiser leaves the cache empty (the next caller tries
//   again) and reports the failure;
// - the thread that runs the initialiser asking again (the initialiser ran
//   code that came back here) gets `reentered` instead of waiting forever;
// - an object from an earlier epoch is never handed out: the cache is filled
//   again (the old object is left alone: its runtime is gone);
// - no lock is held across a fork: a child forked while another thread was
//   filling starts from an empty cache, since that thread does not exist
//   there (the thread that forked keeps its own fill).  Windows has no fork:
//   there the caches behave the same, without the fork handling.
#pragma once

#include <atomic>
#include <cstdint>

namespace native {

struct ProcessCacheHooks {
  // Detaches the calling thread; the token goes back to `attach`.
  void* (*detach)();
  void (*attach)(void* token);
  // The current epoch; below 2**30 (wider values are truncated).
  std::uint32_t (*epoch)();
};

class ProcessCache {
 public:
  enum class Status { ready, initialiser_failed, reentered };
  struct Outcome {
    Status status;
    void* object;  // non-null exactly when ready
  };
  // Runs attached; returns the object, or null on failure.
  using Initialiser = void* (*)(void* context);

  constexpr ProcessCache() = default;
  // Takes the cache off the list the fork handler walks.
  ~ProcessCache();
  ProcessCache(const ProcessCache&) = delete;
  ProcessCache& operator=(const ProcessCache&) = delete;

  Outcome get(const ProcessCacheHooks& hooks, Initialiser initialiser, void* context = nullptr);

  // The object filled in `epoch`, or null; never fills nor waits.
  void* peek(std::uint32_t epoch) const;

  // Fork-child handling: every cache being filled by a thread other than
  // the calling one is set back to empty.  Registered with pthread_atfork
  // on the first fill (POSIX systems); exposed for the tests.
  static void reset_abandoned_fills();

 private:
  // state_ = epoch << 2 | phase: the futex word that waiters sleep on.
  enum Phase : std::uint32_t { empty = 0, filling = 1, filled = 2 };
  static constexpr std::uint32_t word(std::uint32_t epoch, Phase phase) {
    return (epoch << 2) | phase;
  }
  void enlist();
  static void install_fork_handler();
  static void reset_abandoned_fills_locked();  // the list's lock held

  std::atomic<std::uint32_t> state_{0};
  std::atomic<void*> object_{nullptr};
  std::atomic<std::uintptr_t> filler_{0};  // the filling thread's identity
  std::atomic<bool> enlisted_{false};
  ProcessCache* next_ = nullptr;  // the list of live caches that started a fill
};

}  // namespace native
