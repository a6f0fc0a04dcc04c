// A small pool of worker threads and a parallel loop over index ranges.
//
// Only work whose result cannot depend on the order of the pieces is handed
// to it: every piece writes its own part of the output.  With one thread the
// loop runs inline in the caller, in increasing order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tesk {

class ThreadPool {
 public:
  // threads counts the caller: a pool of n runs n - 1 workers.
  explicit ThreadPool(int threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }

  // Splits [begin, end) into at most size() contiguous pieces (never smaller
  // than grain, except the last) and runs fn(piece_begin, piece_end, piece)
  // on them, the caller taking the first piece.  Returns when every piece
  // is done; an exception thrown by a piece is rethrown here (the first one).
  void for_range(std::int64_t begin, std::int64_t end, std::int64_t grain,
                 const std::function<void(std::int64_t, std::int64_t, int)>& fn);

 private:
  void worker_loop(int index);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_cv_;
  std::condition_variable done_cv_;
  const std::function<void(std::int64_t, std::int64_t, int)>* job_ = nullptr;
  std::int64_t job_begin_ = 0;
  std::int64_t job_step_ = 0;
  std::int64_t job_end_ = 0;
  int job_pieces_ = 0;
  std::uint64_t generation_ = 0;
  int pending_ = 0;
  bool stopping_ = false;
  std::exception_ptr error_;
};

}  // namespace tesk
