#include "lib/process_cache.h"

#include <pthread.h>

namespace native {
namespace {

// Never 0: pthread_t is a pointer on glibc.
std::uintptr_t this_thread() { return static_cast<std::uintptr_t>(pthread_self()); }

constexpr std::uint32_t EPOCH_MASK = (std::uint32_t{1} << 30) - 1;

// Every cache that ever started a fill, pushed once, never removed.
std::atomic<ProcessCache*> enlisted_caches{nullptr};
pthread_once_t fork_handler_once = PTHREAD_ONCE_INIT;

void install_fork_handler() {
  pthread_atfork(nullptr, nullptr, &ProcessCache::reset_abandoned_fills);
}

}  // namespace

void ProcessCache::enlist() {
  if (enlisted_.exchange(true, std::memory_order_acq_rel)) return;
  pthread_once(&fork_handler_once, install_fork_handler);
  ProcessCache* head = enlisted_caches.load(std::memory_order_relaxed);
  do {
    next_ = head;
  } while (!enlisted_caches.compare_exchange_weak(head, this, std::memory_order_release,
                                                  std::memory_order_relaxed));
}

void ProcessCache::reset_abandoned_fills() {
  const std::uintptr_t self = this_thread();
  for (ProcessCache* cache = enlisted_caches.load(std::memory_order_acquire); cache;
       cache = cache->next_) {
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
  const std::uintptr_t self = this_thread();
  std::uint32_t state = state_.load(std::memory_order_acquire);
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
