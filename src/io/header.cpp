#include "io/header.h"

#include "core/scan.h"

namespace tesk {

Header read_header(std::FILE* f) {
  Header h;
  Scanner scan(f);
  int* fields[6] = {&h.nb_lig, &h.nb_col, &h.val, &h.min_al, &h.max_al, &h.taille_pix};
  for (int* field : fields) {
    if (scan.read_int(*field) != ScanStatus::Ok) break;
  }
  return h;
}

std::string format_header(const Header& h) {
  char buf[6 * 16];
  const int n = std::snprintf(buf, sizeof buf, "%d \n%d \n%d \n%d \n%d \n%d", h.nb_lig, h.nb_col, h.val, h.min_al,
                              h.max_al, h.taille_pix);
  return std::string(buf, static_cast<std::size_t>(n));
}

bool write_header(std::FILE* f, const Header& h) {
  const std::string text = format_header(h);
  return std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

}  // namespace tesk
