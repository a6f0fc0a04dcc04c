// Grid<T>: the image matrices of a run (tab, itab, itab1, ...).
//
// One contiguous, zero-filled block of rows x cols elements, indexed row
// first then column like the classic row-pointer matrices: g[i][j] is row i,
// column j.  The pages of a fresh grid are the system's zero pages, only
// touched when they are written; a large grid asks for huge pages (grid.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tesk {

// A zero-filled block of `bytes` (nullptr when it cannot be had), and its
// release.
void* grid_block(std::size_t bytes);
void free_grid_block(void* p, std::size_t bytes);

template <class T>
class Grid {
 public:
  Grid() = default;

  // Throws std::bad_alloc when the block cannot be had; rows and cols must
  // not be negative (a zero count gives an empty grid).
  Grid(int rows, int cols) : rows_(rows), cols_(cols) {
    if (rows < 0 || cols < 0) throw std::bad_alloc();
    const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    if (n > 0) {
      if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
      data_ = std::unique_ptr<T[], Free>(static_cast<T*>(grid_block(n * sizeof(T))), Free{n * sizeof(T)});
      if (!data_) throw std::bad_alloc();
    }
  }

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  std::size_t size() const { return static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_); }
  bool empty() const { return size() == 0; }

  T* operator[](int i) { return data_.get() + static_cast<std::size_t>(i) * static_cast<std::size_t>(cols_); }
  const T* operator[](int i) const {
    return data_.get() + static_cast<std::size_t>(i) * static_cast<std::size_t>(cols_);
  }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  T* begin() { return data_.get(); }
  T* end() { return data_.get() + size(); }
  const T* begin() const { return data_.get(); }
  const T* end() const { return data_.get() + size(); }

  bool same_shape(const Grid& o) const { return rows_ == o.rows_ && cols_ == o.cols_; }

 private:
  struct Free {
    std::size_t bytes = 0;
    void operator()(T* p) const { free_grid_block(p, bytes); }
  };
  int rows_ = 0;
  int cols_ = 0;
  std::unique_ptr<T[], Free> data_;
};

using IntGrid = Grid<std::int32_t>;
using ByteGrid = Grid<std::uint8_t>;

// The allocator of a run's large lists (the pixels still to treat, the
// fronts of a growth, running sums): their blocks come from grid_block, so
// that a list of megabytes is mapped with huge pages like a grid rather
// than page by page.
template <class T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n == 0) n = 1;
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    void* p = grid_block(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept { free_grid_block(p, (n == 0 ? 1 : n) * sizeof(T)); }
  friend bool operator==(const BlockAllocator&, const BlockAllocator&) { return true; }
};
template <class T>
using BlockVector = std::vector<T, BlockAllocator<T>>;

}  // namespace tesk
