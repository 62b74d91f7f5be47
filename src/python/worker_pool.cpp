#include "worker_pool.hpp"

#include <algorithm>
#include <thread>

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <signal.h>
#endif

namespace lumo::python {
namespace {

// A hint to the CPU that this thread spins.
inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Never destroyed: its threads wait on it until the process ends.
WorkerPool* pool = nullptr;

}  // namespace

WorkerPool& WorkerPool::get() {
  // (called with the interpreter lock held: one caller at a time)
  if (pool == nullptr) pool = new WorkerPool();
  return *pool;
}

void WorkerPool::forget_in_child() { pool = nullptr; }

void WorkerPool::serve() {
#if defined(__unix__) || defined(__APPLE__)
  // Signals go to the interpreter's threads, never to these.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
#endif
  // A thread back from a batch watches for the next offer for a while before
  // it sleeps: batches called in a loop find it awake, where waking a
  // sleeping thread costs about as much as a short batch computes.
  constexpr auto kWatch = std::chrono::microseconds(200);
  std::unique_lock lock(mutex_);
  for (;;) {
    if (open_ == 0) {
      const std::uint64_t seen = offers_.load(std::memory_order_relaxed);
      lock.unlock();
      const auto until = std::chrono::steady_clock::now() + kWatch;
      while (offers_.load(std::memory_order_relaxed) == seen && std::chrono::steady_clock::now() < until)
        pause();
      lock.lock();
    }
    offered_.wait(lock, [&] { return open_ > 0; });
    --open_;
    ++running_;
    const Task task = task_;
    void* const context = context_;
    lock.unlock();
    task(context);  // (noexcept: the batch records its own failures)
    lock.lock();
    if (--running_ == 0) returned_.notify_all();
  }
}

std::size_t WorkerPool::offer(Task task, void* context, std::size_t helpers) {
  std::lock_guard lock(mutex_);
  if (busy_) return 0;
  while (threads_ < helpers) {
    try {
      std::thread([this] { serve(); }).detach();
      ++threads_;
    } catch (...) {
      break;
    }
  }
  helpers = std::min(helpers, threads_);
  if (helpers == 0) return 0;
  busy_ = true;
  task_ = task;
  context_ = context;
  open_ = helpers;
  offers_.fetch_add(1, std::memory_order_relaxed);
  for (std::size_t k = 0; k < helpers; ++k) offered_.notify_one();
  return helpers;
}

bool WorkerPool::finish(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  open_ = 0;
  if (!returned_.wait_for(lock, timeout, [&] { return running_ == 0; })) return false;
  busy_ = false;
  task_ = nullptr;
  context_ = nullptr;
  return true;
}

}  // namespace lumo::python
