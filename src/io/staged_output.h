// Outputs that appear whole or not at all.
//
// Every output of a run is written into a private directory of its own,
// made with mkdtemp beside the output (".tesk-XXXXXX"), under the output's
// own file name, so that the files a driver adds beside its main file get
// the names they will have (EHdr's "dem.hdr" beside "dem.bil", GeoTIFF's
// "dem.tif.aux.xml").  Only when the whole run has succeeded does commit()
// move every file of every output into place.  Until then, and whatever
// ends the run early, the files of the final names are left exactly as
// they were, and dropping the staging removes the private directories.
//
// The commit is whole or nothing.  Each file being replaced is first kept
// under a hard link in the private directory, then the new file is renamed
// over it, so that a single file is replaced atomically; the stale
// sidecars of an older output are moved aside likewise.  A directory
// output replacing an older one moves it aside in one rename, then takes
// its place in another.  When a rename
// fails midway, every file already moved is put back and the older set is
// as it was; a move that failed after putting the new file under its final
// name (a hard link made, the old name not removed) counts as made, and is
// undone with the others.  Only files the staging made, and with overwrite the stale
// sidecars of the outputs it replaces, are ever removed.
#pragma once

#include <string>
#include <vector>

namespace tesk {

class Staging {
 public:
  // overwrite: an output may replace existing files of its names;
  // otherwise commit() refuses to, even for a file that appeared during
  // the run.
  explicit Staging(bool overwrite);
  ~Staging();
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  // The name under which to write the output `path`, in a new private
  // directory beside it; for a symbolic link, beside the file it points to,
  // which the commit replaces (the link stays).  `sidecars` are the files
  // an older output of that name may have left beside it (absolute or
  // relative like path): with overwrite, those the new output does not
  // write are removed with the commit.  replaces_directory: the output is
  // itself a directory (a Zarr store) that may take the place of an older
  // directory of its name, which the commit moves aside into the private
  // directory, and removes with it once the commit is whole (never given
  // without overwrite).  Throws RunError when the directory cannot be made.
  std::string add(const std::string& path, const std::vector<std::string>& sidecars = {},
                  bool replaces_directory = false);

  // A private directory beside path for the run's own temporary files,
  // which no commit moves: it goes with the staging, whatever ends the run.
  // Throws RunError when it cannot be made.
  std::string scratch(const std::string& path);

  // text with the private directories of the outputs turned into the
  // final directories (for messages).
  std::string final_names(std::string text) const;

  // Moves every file of every output into place, whole or not at all.
  // Throws RunError, saying what is on disk, when a file cannot be moved
  // (without overwrite: when a file of a final name exists).
  void commit();

  // Removes every private directory of every staging not yet committed,
  // from any thread; a commit under way finishes first.  For the end of a
  // process stopped by a second signal.
  static void discard_all();

 private:
  struct Output {
    std::string dir;      // the final directory, "" for the current one
    std::string staging;  // the private directory
    std::string name;     // the main file's name
    std::vector<std::string> sidecars;
    bool replaces_directory = false;
  };
  struct Move;
  void discard();  // with the registry's lock held
  void plan(std::vector<Move>& moves) const;
  void undo(const std::vector<Move>& moves, std::size_t done, std::string& not_back, std::string& not_removed) const;

  bool overwrite_;
  bool finished_ = false;
  std::vector<Output> outputs_;
  std::vector<std::string> scratch_;
};

// True when a and b name the same file: the same resolved path, or (when
// both exist) the same device and inode.
bool same_file(const std::string& a, const std::string& b);

}  // namespace tesk
