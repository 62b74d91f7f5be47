#include "worker_pool.hpp"

#include <algorithm>
#include <thread>

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <signal.h>
#endif

namespace lumo::python {
namespace {

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
  std::unique_lock lock(mutex_);
  for (;;) {
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
