// Threads kept between batch computations. Starting a thread costs tens of
// microseconds, more than a short batch computes in; the pool's threads are
// started once and wait for the next batch.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <mutex>

namespace lumo::python {

class WorkerPool {
 public:
  using Task = void (*)(void* context);

  // The process's pool (made on first use; after a fork, the child's own).
  static WorkerPool& get();

  // Offers task(context) to up to `helpers` threads of the pool, started as
  // needed, each running it once when it wakes; returns how many it was
  // offered to: 0 while another batch has the pool (the caller then starts
  // threads of its own) or when no thread can be started. After an offer of
  // one or more, finish() must return true before `context` goes away.
  std::size_t offer(Task task, void* context, std::size_t helpers);

  // Withdraws the offer from the threads that have not taken it yet, and
  // waits up to `timeout` for those that have to return: true once they
  // all have (the pool is then free), false on timeout (call it again).
  bool finish(std::chrono::milliseconds timeout);

  // Forgets the pool in a child made by fork(), whose threads do not exist.
  static void forget_in_child();

 private:
  WorkerPool() = default;
  void serve();

  std::mutex mutex_;
  std::condition_variable offered_, returned_;
  std::size_t threads_ = 0;  // started
  bool busy_ = false;        // a batch has the pool
  Task task_ = nullptr;
  void* context_ = nullptr;
  std::size_t open_ = 0;     // threads that may still take the offer
  std::size_t running_ = 0;  // threads running the task
  std::atomic<std::uint64_t> offers_{0};  // offers made, read by the threads without the lock
};

}  // namespace lumo::python
