#include "io/paths.h"

namespace tesk {

std::string data_root(const char* tesk_images) {
#ifdef _WIN32
  (void)tesk_images;
  return "c:\\images";
#endif
  std::string root = (tesk_images && *tesk_images) ? tesk_images : "images";
  while (!root.empty() && root.back() == '/') root.pop_back();
  return root;
}

std::string directory_prefix(const std::string& root, const std::string& nomdir) {
#ifdef _WIN32
  return root + "\\" + nomdir + "\\";
#else
  return root + "/" + nomdir + "/";
#endif
}

InputNames input_names(const std::string& prefix, const std::string& nomfic, int itype) {
  const std::string base = prefix + nomfic;
  const char* digit = itype == 0 ? "2" : "4";
  return {base + "_c" + digit + ".raw", base + "_c" + digit + ".txt"};
}

OutputNames output_names(const std::string& prefix, const std::string& nomfic1, int itype) {
  const std::string base = prefix + nomfic1;
  const char* digit = itype == 0 ? "2" : "4";
  return {base + "_m1.raw", base + "_m" + digit + ".raw", base + "_m1.txt", base + "_m" + digit + ".txt"};
}

}  // namespace tesk
