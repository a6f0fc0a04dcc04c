#include "io/raster.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

namespace tesk {
namespace {

// Rows move through a buffer of about this many bytes: few system calls,
// little memory.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

// Below this many bytes a thread costs more than it saves.
constexpr std::int64_t kParallelBytes = std::int64_t{8} << 20;

int rows_per_chunk(std::size_t row_bytes) {
  if (row_bytes == 0) return 1;
  return static_cast<int>(std::max<std::size_t>(1, kChunkBytes / row_bytes));
}

void widen_row(const unsigned char* p, int width, int n, std::int32_t* row) {
  if (width == 2) {
    for (int j = 0; j < n; ++j) row[j] = static_cast<std::int32_t>(p[2 * j] | (p[2 * j + 1] << 8));
  } else {
    for (int j = 0; j < n; ++j) {
      const std::uint32_t u = static_cast<std::uint32_t>(p[4 * j]) | (static_cast<std::uint32_t>(p[4 * j + 1]) << 8) |
                              (static_cast<std::uint32_t>(p[4 * j + 2]) << 16) |
                              (static_cast<std::uint32_t>(p[4 * j + 3]) << 24);
      row[j] = static_cast<std::int32_t>(u);
    }
  }
}

void narrow_row(const std::int32_t* row, int width, int n, unsigned char* p) {
  if (width == 2) {
    for (int j = 0; j < n; ++j) {
      const auto u = static_cast<std::uint32_t>(row[j]);
      p[2 * j] = static_cast<unsigned char>(u);
      p[2 * j + 1] = static_cast<unsigned char>(u >> 8);
    }
  } else {
    for (int j = 0; j < n; ++j) {
      const auto u = static_cast<std::uint32_t>(row[j]);
      p[4 * j] = static_cast<unsigned char>(u);
      p[4 * j + 1] = static_cast<unsigned char>(u >> 8);
      p[4 * j + 2] = static_cast<unsigned char>(u >> 16);
      p[4 * j + 3] = static_cast<unsigned char>(u >> 24);
    }
  }
}

}  // namespace

bool lecture(std::FILE* f1, int itype, IntGrid& itab) {
  const int width = sample_bytes(itype);
  const std::size_t row_bytes = static_cast<std::size_t>(itab.cols()) * static_cast<std::size_t>(width);
  const int chunk = rows_per_chunk(row_bytes);
  std::vector<unsigned char> buf(row_bytes * static_cast<std::size_t>(std::min(chunk, std::max(itab.rows(), 1))));
  for (int i0 = 0; i0 < itab.rows(); i0 += chunk) {
    const int n = std::min(chunk, itab.rows() - i0);
    const std::size_t bytes = row_bytes * static_cast<std::size_t>(n);
    if (std::fread(buf.data(), 1, bytes, f1) != bytes) return false;
    for (int k = 0; k < n; ++k) widen_row(buf.data() + row_bytes * static_cast<std::size_t>(k), width, itab.cols(), itab[i0 + k]);
  }
  return true;
}

namespace {

bool write_preview(std::FILE* f2, const ByteGrid& tab) {
  // tab is one block of rows.
  const std::size_t tab_bytes = tab.size();
  for (std::size_t done = 0; done < tab_bytes;) {
    const std::size_t n = std::min(kChunkBytes * 4, tab_bytes - done);
    if (std::fwrite(tab.data() + done, 1, n, f2) != n) return false;
    done += n;
  }
  return true;
}

bool write_samples(std::FILE* f3, int itype, const IntGrid& itab1) {
  const int width = sample_bytes(itype);
  const std::size_t row_bytes = static_cast<std::size_t>(itab1.cols()) * static_cast<std::size_t>(width);
  const int chunk = rows_per_chunk(row_bytes);
  std::vector<unsigned char> buf(row_bytes * static_cast<std::size_t>(std::min(chunk, std::max(itab1.rows(), 1))));
  for (int i0 = 0; i0 < itab1.rows(); i0 += chunk) {
    const int n = std::min(chunk, itab1.rows() - i0);
    for (int k = 0; k < n; ++k) narrow_row(itab1[i0 + k], width, itab1.cols(), buf.data() + row_bytes * static_cast<std::size_t>(k));
    const std::size_t bytes = row_bytes * static_cast<std::size_t>(n);
    if (std::fwrite(buf.data(), 1, bytes, f3) != bytes) return false;
  }
  return true;
}

}  // namespace

bool ecriture(std::FILE* f2, std::FILE* f3, int itype, const ByteGrid& tab, const IntGrid& itab1, std::FILE** failed,
              int threads) {
  bool ok2 = true, ok3 = true;
  int err2 = 0;
  if (threads > 1 && static_cast<std::int64_t>(tab.size()) * 2 >= kParallelBytes) {
    // errno belongs to the thread that sets it: the preview's is carried over.
    std::thread preview([&] {
      ok2 = write_preview(f2, tab);
      err2 = errno;
    });
    ok3 = write_samples(f3, itype, itab1);
    const int err3 = errno;
    preview.join();
    errno = ok2 ? err3 : err2;
  } else {
    ok2 = write_preview(f2, tab);
    ok3 = ok2 && write_samples(f3, itype, itab1);
  }
  if (!ok2 || !ok3) {
    if (failed) *failed = ok2 ? f3 : f2;
    return false;
  }
  return true;
}

}  // namespace tesk
