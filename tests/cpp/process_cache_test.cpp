// The one-time initialisation of the process-wide caches, with a mutex in
// the role of the interpreter lock: a thread is "attached" while it holds
// it.  Run by many threads, also under ThreadSanitizer (make test-tsan).
#include "lib/process_cache.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <barrier>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using native::ProcessCache;
using native::ProcessCacheHooks;
using Status = ProcessCache::Status;

constexpr int THREADS = 8;

// The stand-in for the interpreter lock, and whether this thread holds it.
std::mutex interpreter_lock;
thread_local bool attached = false;
std::atomic<int> detaches{0};
std::atomic<std::uint32_t> epoch{0};

void attach() {
  interpreter_lock.lock();
  attached = true;
}
void detach() {
  attached = false;
  interpreter_lock.unlock();
}

const ProcessCacheHooks HOOKS{
    [] {
      detaches.fetch_add(1);
      detach();
      return static_cast<void*>(&attached);
    },
    [](void* token) {
      EXPECT_EQ(token, &attached);  // given back to the thread that detached
      attach();
    },
    [] { return epoch.load(); },
};

// What an initialiser publishes: written with plain stores before the
// cache hands it out, read with plain loads by every thread after.
struct Published {
  int values[64];
  explicit Published(int seed) {
    for (int i = 0; i < 64; ++i) values[i] = seed + i;
  }
  bool intact(int seed) const {
    for (int i = 0; i < 64; ++i) {
      if (values[i] != seed + i) return false;
    }
    return true;
  }
};

// An initialiser that gives the lock up for a while, as Python code does:
// waiting threads must be detached, or it could never take it back.
struct SlowFill {
  std::atomic<int> runs{0};
  std::atomic<int> failures_left{0};
  std::vector<Published*> made;  // only touched by the filling thread
  static void* run(void* context) {
    auto* self = static_cast<SlowFill*>(context);
    EXPECT_TRUE(attached);
    const int run = self->runs.fetch_add(1) + 1;
    detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    attach();
    if (self->failures_left.fetch_sub(1) > 0) return nullptr;
    self->made.push_back(new Published(run * 1000));
    return self->made.back();
  }
  ~SlowFill() {
    for (Published* p : made) delete p;
  }
};

// Runs `body(i)` on THREADS threads, each attached, released together.
template <class Body>
void on_threads(Body body) {
  std::barrier start(THREADS);
  std::vector<std::thread> threads;
  for (int i = 0; i < THREADS; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      attach();
      body(i);
      EXPECT_TRUE(attached);
      detach();
    });
  }
  for (std::thread& t : threads) t.join();
}

TEST(ProcessCache, ConcurrentFirstFillsRunTheInitialiserOnce) {
  ProcessCache cache;
  SlowFill fill;
  std::vector<ProcessCache::Outcome> outcomes(THREADS);
  detaches = 0;
  on_threads([&](int i) { outcomes[i] = cache.get(HOOKS, &SlowFill::run, &fill); });
  EXPECT_EQ(fill.runs.load(), 1);
  ASSERT_EQ(fill.made.size(), 1u);
  for (const auto& outcome : outcomes) {
    EXPECT_EQ(outcome.status, Status::ready);
    EXPECT_EQ(outcome.object, fill.made[0]);
    EXPECT_TRUE(static_cast<Published*>(outcome.object)->intact(1000));
  }
  // Every thread that found the fill running waited detached.
  EXPECT_GE(detaches.load(), 1);
  // A filled cache is one load: no detaching, no initialiser.
  detaches = 0;
  attach();
  EXPECT_EQ(cache.get(HOOKS, &SlowFill::run, &fill).object, fill.made[0]);
  detach();
  EXPECT_EQ(detaches.load(), 0);
  EXPECT_EQ(fill.runs.load(), 1);
}

TEST(ProcessCache, PublishedObjectIsCompleteOnTheFastPath) {
  // Readers spin on the fast path while one thread fills: ThreadSanitizer
  // reports any read of the object not ordered after its construction.
  for (int round = 0; round < 20; ++round) {
    ProcessCache cache;
    static Published* made;
    made = nullptr;
    std::atomic<bool> go{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < THREADS - 1; ++i) {
      readers.emplace_back([&] {
        while (!go.load()) {
        }
        for (;;) {
          void* object = cache.peek(0);
          if (object) {
            EXPECT_TRUE(static_cast<Published*>(object)->intact(7));
            break;
          }
        }
      });
    }
    go = true;
    attach();
    auto outcome = cache.get(HOOKS, [](void*) -> void* { return made = new Published(7); });
    detach();
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(outcome.object, made);
    delete made;
  }
}

TEST(ProcessCache, FailingInitialiserLeavesTheCacheEmpty) {
  ProcessCache cache;
  SlowFill fill;
  fill.failures_left = 1;
  attach();
  EXPECT_EQ(cache.get(HOOKS, &SlowFill::run, &fill).status, Status::initialiser_failed);
  EXPECT_EQ(cache.peek(0), nullptr);
  const auto outcome = cache.get(HOOKS, &SlowFill::run, &fill);
  detach();
  EXPECT_EQ(outcome.status, Status::ready);
  EXPECT_EQ(outcome.object, fill.made.at(0));
  EXPECT_EQ(fill.runs.load(), 2);
  EXPECT_EQ(cache.peek(0), fill.made.at(0));
}

TEST(ProcessCache, WaitersTakeOverAfterAFailedFill) {
  ProcessCache cache;
  SlowFill fill;
  fill.failures_left = 3;
  std::vector<ProcessCache::Outcome> outcomes(THREADS);
  on_threads([&](int i) {
    // A failure is reported to the thread that ran the failing initialiser
    // only; every caller gets a result or its own failure, never a hang.
    do {
      outcomes[i] = cache.get(HOOKS, &SlowFill::run, &fill);
    } while (outcomes[i].status == Status::initialiser_failed);
  });
  EXPECT_EQ(fill.runs.load(), 4);
  ASSERT_EQ(fill.made.size(), 1u);
  for (const auto& outcome : outcomes) EXPECT_EQ(outcome.object, fill.made[0]);
}

struct Reentry {
  ProcessCache* cache;
  ProcessCache* other;
  Status inner = Status::ready;
  void* other_object = nullptr;
  int object = 0;
  static void* run(void* context) {
    auto* self = static_cast<Reentry*>(context);
    self->inner = self->cache->get(HOOKS, &Reentry::run, context).status;
    // Filling another cache from inside an initialiser is fine.
    self->other_object = self->other->get(HOOKS, [](void*) -> void* {
      static int other_object;
      return &other_object;
    }).object;
    return &self->object;
  }
};

TEST(ProcessCache, ReenteringTheCacheBeingFilledIsReported) {
  ProcessCache cache, other;
  Reentry reentry{&cache, &other};
  attach();
  const auto outcome = cache.get(HOOKS, &Reentry::run, &reentry);
  detach();
  EXPECT_EQ(reentry.inner, Status::reentered);
  EXPECT_NE(reentry.other_object, nullptr);
  EXPECT_EQ(outcome.status, Status::ready);
  EXPECT_EQ(outcome.object, &reentry.object);
}

TEST(ProcessCache, ReentryIsOnlyTheFillingThreads) {
  // While one thread's initialiser asks again (and is told so), the other
  // threads still wait for its result.
  ProcessCache cache, other;
  Reentry reentry{&cache, &other};
  std::vector<ProcessCache::Outcome> outcomes(THREADS);
  on_threads([&](int i) { outcomes[i] = cache.get(HOOKS, &Reentry::run, &reentry); });
  EXPECT_EQ(reentry.inner, Status::reentered);
  for (const auto& outcome : outcomes) {
    EXPECT_EQ(outcome.status, Status::ready);
    EXPECT_EQ(outcome.object, &reentry.object);
  }
}

TEST(ProcessCache, ANewEpochFillsAgain) {
  ProcessCache cache;
  int first = 1, second = 2;
  epoch = 5;
  attach();
  EXPECT_EQ(cache.get(HOOKS, [](void* c) { return c; }, &first).object, &first);
  EXPECT_EQ(cache.get(HOOKS, [](void* c) { return c; }, &second).object, &first);
  epoch = 6;
  EXPECT_EQ(cache.peek(6), nullptr);
  EXPECT_EQ(cache.get(HOOKS, [](void* c) { return c; }, &second).object, &second);
  detach();
  EXPECT_EQ(cache.peek(5), nullptr);  // never handed out again
  EXPECT_EQ(cache.peek(6), &second);
  epoch = 0;
}

// Forks while another thread is inside the initialiser; the child must fill
// the cache itself rather than wait for a thread it does not have.
TEST(ProcessCache, ChildForkedDuringAnotherThreadsFillStartsEmpty) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no fork";
#else
  static ProcessCache cache;
  static std::atomic<bool> inside{false}, release{false};
  static int parent_object, child_object;
  std::thread filler([] {
    attach();
    cache.get(HOOKS, [](void*) -> void* {
      inside = true;
      detach();  // the child is forked while this thread is in here
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      attach();
      return &parent_object;
    });
    detach();
  });
  while (!inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  attach();  // the interpreter forks while holding its lock
  const pid_t child = fork();
  if (child == 0) {
    alarm(10);  // a hang ends the child with SIGALRM
    const auto outcome = cache.get(HOOKS, [](void*) -> void* { return &child_object; });
    _exit(outcome.object == &child_object ? 0 : 1);
  }
  detach();
  release = true;
  filler.join();
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_EQ(cache.peek(0), &parent_object);
#endif
}

// The thread that forks from inside its own initialiser keeps its fill in
// the child: asking again there is still a re-entry, not a second fill.
TEST(ProcessCache, ChildForkedByTheFillingThreadKeepsItsFill) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no fork";
#else
  static ProcessCache cache;
  static int object, nested_object;
  static bool in_child = false;
  static Status child_reentry = Status::ready;
  attach();
  const auto outcome = cache.get(HOOKS, [](void*) -> void* {
    const pid_t child = fork();
    if (child == 0) {
      in_child = true;
      child_reentry = cache.get(HOOKS, [](void*) -> void* { return &nested_object; }).status;
      return &object;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? &object : nullptr;
  });
  detach();
  if (in_child) {
    _exit(child_reentry == Status::reentered && outcome.object == &object &&
                  cache.peek(0) == &object
              ? 0
              : 1);
  }
  EXPECT_EQ(outcome.status, Status::ready);
  EXPECT_EQ(outcome.object, &object);
#endif
}

}  // namespace
