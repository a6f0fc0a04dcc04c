// Outputs that appear whole or not at all.
//
// Every output of a run is written under a temporary name in its own
// directory, ".tesk-tmp-<pid>-<k>-NAME" (NAME keeps its extension, so that
// a driver that writes sidecar files beside its main file names them after
// it: ".tesk-tmp-<pid>-<k>-NAME.hdr", "...NAME.aux.xml").  Only when the
// whole run has succeeded does commit() rename every file of every output
// into place; until then, and whatever ends the run early, an existing
// file of the final name is left exactly as it was.  Dropping the staging
// without a commit removes the temporary files.
//
// A single-file output replaces an older one atomically (rename).  The
// files of a multi-file output, and the several outputs of one run, are
// renamed one after the other: a reader may meet a mixed set for that
// moment, but never a half-written file.
#pragma once

#include <string>
#include <vector>

namespace tesk {

class Staging {
 public:
  // overwrite: an output may replace an existing file of its name;
  // otherwise commit() refuses to, even for a file that appeared during the
  // run.
  explicit Staging(bool overwrite) : overwrite_(overwrite) {}
  ~Staging();
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  // The temporary name under which to write the output `path` (and
  // beside which its sidecars go); for a symbolic link, beside the file it
  // points to, which the commit replaces.  Leftovers of that exact name (a process
  // of the same id killed before it could clean up) are removed.
  std::string add(const std::string& path);

  // text with the temporary names of the outputs turned into their final
  // names (for messages).
  std::string final_names(std::string text) const;

  // Renames the files of every output into place, the main file of each
  // first, with SIGINT, SIGTERM and SIGHUP held back meanwhile; then
  // removes the sidecars (.aux.xml, .ovr) an older output of that name left
  // and the new one does not replace.  Throws RunError when a file cannot
  // be renamed (without overwrite: one that now exists); the outputs
  // renamed before it stay.
  void commit();

 private:
  struct Output {
    std::string dir;     // "" for the current directory
    std::string prefix;  // of every temporary file of the output
    std::string name;    // final file name, without the directory
  };
  std::vector<std::string> files_of(const Output& o) const;  // temporary names, main file first
  void rename_into_place(const Output& o);

  bool overwrite_;
  bool committed_ = false;
  std::vector<Output> outputs_;
};

// True when a and b name the same file: the same resolved path, or (when
// both exist) the same device and inode.
bool same_file(const std::string& a, const std::string& b);

}  // namespace tesk
