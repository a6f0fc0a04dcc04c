// Running the tesk executable on a scratch data root for the hostile-input
// tests: a data set directory "d", the answers on standard input, the
// environment, and optionally a command put in front (setpriv, prlimit, sh).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tesk::hostile {

using testing::ProcessResult;

struct Scratch {
  testing::TempDir root;
  std::string dir;  // the data set directory, root/d

  Scratch() : dir(root / "d") { std::filesystem::create_directory(dir); }

  std::string at(const std::string& name) const { return dir + "/" + name; }
  void put(const std::string& name, const std::string& bytes) const { testing::write_file(at(name), bytes); }

  ProcessResult run(const std::string& answers, const std::vector<std::string>& front = {},
                    const std::vector<std::string>& env = {}) const {
    std::vector<std::string> argv = front;
    argv.push_back(TESK_EXE);
    std::vector<std::string> e = env;
    e.push_back("TESK_IMAGES=" + root.path());
    e.push_back("TESK_SOUNDS=");
    return testing::run_process(argv, answers, e);
  }

  // Names of the files in the data set directory, sorted.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// The text printed after the last prompt of the transcript: for a run that
// stopped, its message.
inline std::string tail_after(const std::string& out, const std::string& prompt) {
  const auto at = out.rfind(prompt);
  return at == std::string::npos ? "(prompt not shown)" : out.substr(at + prompt.size());
}

// Prefix that runs a command as an unprivileged user, so that file
// permissions hold; empty when the tests already run unprivileged.  Sets
// *available to false when root cannot drop its rights here.
inline std::vector<std::string> unprivileged(bool* available) {
  *available = true;
  if (geteuid() != 0) return {};
  const char* setpriv = "/usr/bin/setpriv";
  if (access(setpriv, X_OK) != 0) {
    *available = false;
    return {};
  }
  return {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
}

// The scratch tree made usable by an unprivileged user: directories open
// to all, files readable.
inline void open_to_all(const Scratch& s) {
  chmod(s.root.path().c_str(), 0755);
  for (const auto& e : std::filesystem::recursive_directory_iterator(s.root.path()))
    chmod(e.path().c_str(), e.is_directory() ? 0777 : 0644);
}

}  // namespace tesk::hostile
