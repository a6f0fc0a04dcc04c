// Several tiles computed at once, their results taken one by one in the
// tiles' order, and the memory they share.
//
// Why the bytes cannot depend on the timing: each tile's result is a
// function of the tile alone (its core, its halos, tried in a fixed order,
// and the whole run's parameters; the stages give the same bytes at every
// thread count), and every effect on the run's state (the stored rows, the
// totals, the remarks, the first error) happens in take, which the calling
// thread runs for tile 0, 1, 2, ... in that order whatever order the tiles
// finish in.  An error of tile k is thrown when take reaches k, after the
// tiles before it were taken, as a run of one tile at a time would throw it.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tesk {

// A budget of bytes shared by the tiles in flight: a tile's attempt holds
// what its grids need while it runs.  A request never waits while holding
// anything, and none exceeds the whole budget, so every request is met once
// the attempts running end.
class MemoryGate {
 public:
  explicit MemoryGate(std::uint64_t budget) : free_(budget) {}
  // Waits until `bytes` (at most the budget) are free and takes them;
  // returns false, taking nothing, once stop() was called.
  bool acquire(std::uint64_t bytes) {
    std::unique_lock lock(m_);
    cv_.wait(lock, [&] { return stopped_ || free_ >= bytes; });
    if (stopped_) return false;
    free_ -= bytes;
    return true;
  }
  void release(std::uint64_t bytes) {
    {
      std::lock_guard lock(m_);
      free_ += bytes;
    }
    cv_.notify_all();
  }
  void stop() {
    {
      std::lock_guard lock(m_);
      stopped_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::uint64_t free_;
  bool stopped_ = false;
};

// Runs compute(k) for k = 0 .. count - 1 on `flight` threads, never more
// than `ahead` tiles (at least `flight`; by default `flight`) ahead of the
// last one taken, and take(k, result) on the calling thread in the order of
// k.  The results of up to ahead - 1 tiles may wait for the one before them
// to be taken.  With a flight of 1 everything runs
// on the calling thread.  On the first error in the order of k (thrown by
// compute or take), stop is set, so that the tiles still running may end
// early, halt() is called (to wake a tile waiting for memory), the threads
// are joined and the error is thrown.
template <class T, class Compute, class Take, class Halt>
void in_flight(int count, int flight, std::atomic<bool>& stop, Compute compute, Take take, Halt halt, int ahead = 0) {
  if (flight <= 1) {
    for (int k = 0; k < count; ++k) {
      T r = compute(k);
      take(k, r);
    }
    return;
  }
  const int window = std::max(flight, ahead);
  std::mutex m;
  std::condition_variable ready, room;
  std::vector<std::optional<T>> results(static_cast<std::size_t>(count));
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(count));
  int next = 0, taken = 0;
  const auto work = [&] {
    for (;;) {
      int k;
      {
        std::unique_lock lock(m);
        room.wait(lock, [&] { return stop || next >= count || next < taken + window; });
        if (stop || next >= count) return;
        k = next++;
      }
      std::optional<T> r;
      std::exception_ptr e;
      try {
        r.emplace(compute(k));
      } catch (...) {
        e = std::current_exception();
      }
      {
        std::lock_guard lock(m);
        results[static_cast<std::size_t>(k)] = std::move(r);
        errors[static_cast<std::size_t>(k)] = e;
      }
      ready.notify_all();
    }
  };
  std::vector<std::thread> workers;
  // Stops and joins the workers however the loop below ends.
  struct Join {
    std::vector<std::thread>& workers;
    std::atomic<bool>& stop;
    std::mutex& m;
    std::condition_variable& room;
    Halt& halt;
    ~Join() {
      if (std::uncaught_exceptions() > 0) {
        {
          std::lock_guard lock(m);
          stop = true;
        }
        halt();
      }
      room.notify_all();
      for (std::thread& t : workers) t.join();
    }
  } join{workers, stop, m, room, halt};
  const int n = std::min(flight, count);
  for (int w = 0; w < n; ++w) workers.emplace_back(work);
  for (int k = 0; k < count; ++k) {
    std::optional<T> r;
    {
      std::unique_lock lock(m);
      const auto at = static_cast<std::size_t>(k);
      ready.wait(lock, [&] { return results[at] || errors[at]; });
      if (errors[at]) std::rethrow_exception(errors[at]);
      r = std::move(results[at]);
      results[at].reset();
      taken = k + 1;
    }
    room.notify_all();
    take(k, *r);
  }
}

}  // namespace tesk
