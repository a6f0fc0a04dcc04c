// Names of the six files of a data set.
//
// All lie in one directory: the data root, the directory name typed by the
// user, a separator.  The data root is the directory named by the
// environment variable TESK_IMAGES ("images" in the working directory when
// it is unset or empty), written without its trailing "/".  The digit of the
// input and full-width suffixes follows the sample width: 2 for 16-bit
// (itype 0), 4 for any other itype.
#pragma once

#include <string>

namespace tesk {

std::string data_root(const char* tesk_images);
std::string directory_prefix(const std::string& root, const std::string& nomdir);

struct InputNames {
  std::string nomim1;     // raster, NAME_c2.raw / NAME_c4.raw
  std::string nomdescr1;  // header, NAME_c2.txt / NAME_c4.txt
};
struct OutputNames {
  std::string nomim2;     // 8-bit preview, NAME_m1.raw
  std::string nomim3;     // full-width result, NAME_m2.raw / NAME_m4.raw
  std::string nomdescr2;  // NAME_m1.txt
  std::string nomdescr3;  // NAME_m2.txt / NAME_m4.txt
};

InputNames input_names(const std::string& prefix, const std::string& nomfic, int itype);
OutputNames output_names(const std::string& prefix, const std::string& nomfic1, int itype);

}  // namespace tesk
