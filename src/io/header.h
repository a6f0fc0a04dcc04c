// The header text beside a raster: six integers, rows first.
//
// Read like scanf "%d%d%d%d%d%d": any white space between values, whatever
// follows the sixth ignored; a value that cannot be read stops the reading
// and it and the values after it stay 0.  Written as
// "%d \n%d \n%d \n%d \n%d \n%d": one value a line, each of the first five
// followed by a blank, no line end after the sixth.
#pragma once

#include <cstdio>
#include <string>

namespace tesk {

struct Header {
  int nb_lig = 0;      // rows
  int nb_col = 0;      // columns
  int val = 0;         // third value, carried through
  int min_al = 0;      // minimum altitude, carried through
  int max_al = 0;      // maximum altitude, carried through
  int taille_pix = 0;  // pixel size, carried through

  bool operator==(const Header&) const = default;
};

Header read_header(std::FILE* f);
std::string format_header(const Header& h);

// Writes format_header(h); false on a write error.
bool write_header(std::FILE* f, const Header& h);

}  // namespace tesk
