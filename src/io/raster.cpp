#include "io/raster.h"

#include <vector>

namespace tesk {

bool lecture(std::FILE* f1, int itype, IntGrid& itab) {
  const int width = sample_bytes(itype);
  std::vector<unsigned char> buf(static_cast<std::size_t>(itab.cols()) * width);
  for (int i = 0; i < itab.rows(); ++i) {
    if (std::fread(buf.data(), 1, buf.size(), f1) != buf.size()) return false;
    std::int32_t* row = itab[i];
    const unsigned char* p = buf.data();
    if (width == 2) {
      for (int j = 0; j < itab.cols(); ++j, p += 2) row[j] = static_cast<std::int32_t>(p[0] | (p[1] << 8));
    } else {
      for (int j = 0; j < itab.cols(); ++j, p += 4) {
        const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
        row[j] = static_cast<std::int32_t>(u);
      }
    }
  }
  return true;
}

bool ecriture(std::FILE* f2, std::FILE* f3, int itype, const ByteGrid& tab, const IntGrid& itab1, std::FILE** failed) {
  for (int i = 0; i < tab.rows(); ++i) {
    if (std::fwrite(tab[i], 1, static_cast<std::size_t>(tab.cols()), f2) != static_cast<std::size_t>(tab.cols())) {
      if (failed) *failed = f2;
      return false;
    }
  }
  const int width = sample_bytes(itype);
  std::vector<unsigned char> buf(static_cast<std::size_t>(itab1.cols()) * width);
  for (int i = 0; i < itab1.rows(); ++i) {
    const std::int32_t* row = itab1[i];
    unsigned char* p = buf.data();
    for (int j = 0; j < itab1.cols(); ++j) {
      const std::uint32_t u = static_cast<std::uint32_t>(row[j]);
      *p++ = static_cast<unsigned char>(u);
      *p++ = static_cast<unsigned char>(u >> 8);
      if (width == 4) {
        *p++ = static_cast<unsigned char>(u >> 16);
        *p++ = static_cast<unsigned char>(u >> 24);
      }
    }
    if (std::fwrite(buf.data(), 1, buf.size(), f3) != buf.size()) {
      if (failed) *failed = f3;
      return false;
    }
  }
  return true;
}

}  // namespace tesk
