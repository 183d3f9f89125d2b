#include "lib/process_cache.h"

#include <mutex>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace native {
namespace {

// A thread's identity: the address of a thread-local object, never 0, unique
// among the live threads and, like pthread_self(), the same in a forked
// child for the thread that forked.  Portable where pthread_t is not an
// integer (a pointer to a structure on macOS).
thread_local char thread_identity;
std::uintptr_t this_thread() { return reinterpret_cast<std::uintptr_t>(&thread_identity); }

constexpr std::uint32_t EPOCH_MASK = (std::uint32_t{1} << 30) - 1;

// Every live cache that has started a fill: enlisted once, unlisted when
// destroyed (the production caches are static and stay for good; a cache
// that goes away, such as a test's on the stack, must not leave a dangling
// entry for the fork handler to walk).  The lock is held across fork by the
// handlers below, so the child finds the list whole.
std::mutex enlisted_lock;
ProcessCache* enlisted_caches = nullptr;

#if !defined(_WIN32)
std::once_flag fork_handler_once;
#endif

}  // namespace

// Windows has no fork, so no handler is registered there: a cache is only
// ever filled, waited for and handed out by the threads of its own process.
void ProcessCache::install_fork_handler() {
#if !defined(_WIN32)
  std::call_once(fork_handler_once, [] {
    pthread_atfork([] { enlisted_lock.lock(); }, [] { enlisted_lock.unlock(); },
                   [] {
                     reset_abandoned_fills_locked();
                     enlisted_lock.unlock();
                   });
  });
#endif
}

ProcessCache::~ProcessCache() {
  if (!enlisted_.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> hold(enlisted_lock);
  for (ProcessCache** link = &enlisted_caches; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
}

void ProcessCache::enlist() {
  if (enlisted_.load(std::memory_order_acquire)) return;
  install_fork_handler();
  std::lock_guard<std::mutex> hold(enlisted_lock);
  if (enlisted_.load(std::memory_order_relaxed)) return;
  next_ = enlisted_caches;
  enlisted_caches = this;
  enlisted_.store(true, std::memory_order_release);
}

void ProcessCache::reset_abandoned_fills() {
  std::lock_guard<std::mutex> hold(enlisted_lock);
  reset_abandoned_fills_locked();
}

void ProcessCache::reset_abandoned_fills_locked() {
  const std::uintptr_t self = this_thread();
  for (ProcessCache* cache = enlisted_caches; cache; cache = cache->next_) {
    const std::uint32_t state = cache->state_.load(std::memory_order_acquire);
    if ((state & 3) != filling || cache->filler_.load(std::memory_order_relaxed) == self) continue;
    cache->filler_.store(0, std::memory_order_relaxed);
    cache->state_.store(word(state >> 2, empty), std::memory_order_release);
  }
}

void* ProcessCache::peek(std::uint32_t epoch) const {
  if (state_.load(std::memory_order_acquire) != word(epoch & EPOCH_MASK, filled)) return nullptr;
  return object_.load(std::memory_order_relaxed);
}

ProcessCache::Outcome ProcessCache::get(const ProcessCacheHooks& hooks, Initialiser initialiser,
                                        void* context) {
  const std::uint32_t epoch = hooks.epoch() & EPOCH_MASK;
  std::uint32_t state = state_.load(std::memory_order_acquire);
  if (state == word(epoch, filled)) return {Status::ready, object_.load(std::memory_order_relaxed)};
  const std::uintptr_t self = this_thread();
  for (;;) {
    if (state == word(epoch, filled)) {
      return {Status::ready, object_.load(std::memory_order_relaxed)};
    }
    if (state == word(epoch, filling)) {
      // Only this thread ever stores its own id here, so seeing it means
      // this thread is the one running the initialiser.
      if (filler_.load(std::memory_order_relaxed) == self) return {Status::reentered, nullptr};
      void* token = hooks.detach();
      do {
        state_.wait(state, std::memory_order_acquire);
      } while ((state = state_.load(std::memory_order_acquire)) == word(epoch, filling));
      hooks.attach(token);
      continue;
    }
    // Empty, or anything left by an earlier epoch: this thread fills it.
    enlist();
    if (!state_.compare_exchange_strong(state, word(epoch, filling), std::memory_order_acquire,
                                        std::memory_order_acquire)) {
      continue;  // `state` holds what another thread put there
    }
    filler_.store(self, std::memory_order_relaxed);
    void* created = initialiser(context);
    filler_.store(0, std::memory_order_relaxed);
    if (created) object_.store(created, std::memory_order_relaxed);
    state_.store(word(epoch, created ? filled : empty), std::memory_order_release);
    state_.notify_all();
    if (!created) return {Status::initialiser_failed, nullptr};
    return {Status::ready, created};
  }
}

}  // namespace native
