#include "core/thread_pool.h"

#include <algorithm>
#include <exception>

namespace tesk {

ThreadPool::ThreadPool(int threads) {
  const int n = std::max(1, threads);
  workers_.reserve(static_cast<std::size_t>(n - 1));
  for (int k = 1; k < n; ++k) workers_.emplace_back([this, k] { worker_loop(k); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  start_cv_.notify_all();
  for (auto& t : workers_) t.join();
}

void ThreadPool::worker_loop(int index) {
  std::uint64_t seen = 0;
  for (;;) {
    const std::function<void(std::int64_t, std::int64_t, int)>* job = nullptr;
    std::int64_t b = 0;
    std::int64_t e = 0;
    bool mine = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_cv_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      job = job_;
      mine = index < job_pieces_;
      b = job_begin_ + job_step_ * index;
      e = std::min(job_end_, b + job_step_);
    }
    if (!mine) continue;
    try {
      (*job)(b, e, index);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!error_) error_ = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--pending_ == 0) done_cv_.notify_one();
    }
  }
}

void ThreadPool::for_range(std::int64_t begin, std::int64_t end, std::int64_t grain,
                           const std::function<void(std::int64_t, std::int64_t, int)>& fn) {
  if (end <= begin) return;
  const std::int64_t total = end - begin;
  grain = std::max<std::int64_t>(1, grain);
  std::int64_t pieces = std::min<std::int64_t>(size(), (total + grain - 1) / grain);
  if (pieces <= 1) {
    fn(begin, end, 0);
    return;
  }
  const std::int64_t step = (total + pieces - 1) / pieces;
  pieces = (total + step - 1) / step;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &fn;
    job_begin_ = begin;
    job_step_ = step;
    job_end_ = end;
    job_pieces_ = static_cast<int>(pieces);
    pending_ = static_cast<int>(pieces) - 1;
    error_ = nullptr;
    ++generation_;
  }
  start_cv_.notify_all();
  std::exception_ptr mine;
  try {
    fn(begin, std::min(end, begin + step), 0);
  } catch (...) {
    mine = std::current_exception();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  done_cv_.wait(lock, [&] { return pending_ == 0; });
  job_ = nullptr;
  if (mine) std::rethrow_exception(mine);
  if (error_) std::rethrow_exception(error_);
}

}  // namespace tesk
