#include "io/staged_output.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "core/injected_faults.h"
#include "core/run_error.h"

namespace tesk {
namespace {

namespace fs = std::filesystem;

std::string join(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }

bool exists_here(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The test builds fail the second move of a commit, so that the tests see
// a set put back: at the point fail-mid-rename before it, at
// fail-unlink-after-link (a new file with no older one of its name) once
// its link is made, the old name left in place.
bool injected_at(const char* point, std::size_t k) { return k == 1 && injected::fault(point); }

// rename() that never replaces an existing file: renameat2's
// RENAME_NOREPLACE, else (a file system or kernel without it) a hard link
// to the new name, which fails on an existing one, and the removal of the
// old name.  Returns 0 or the errno of the failure (EEXIST: to exists).
// `both` tells a failure that left the file at both names (the link made,
// the old name not removed): to must be removed like a file moved.
// unlink_fails: the test builds' fault.
int rename_no_replace(const std::string& from, const std::string& to, bool& both, bool unlink_fails) {
  both = false;
#ifdef RENAME_NOREPLACE
  if (!unlink_fails && ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (!unlink_fails && errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
#endif
  if (::link(from.c_str(), to.c_str()) == 0) {
    const int err = unlink_fails ? EIO : ::unlink(from.c_str()) == 0 ? 0 : errno;
    both = err != 0;
    return err;
  }
  if (errno == EEXIST) return EEXIST;
  // No hard links here either: the last resort checks, then renames.
  if (exists_here(to)) return EEXIST;
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int plain_rename(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// A directory output's move undone: the new directory back into the
// private one (from), then the older one, if it was moved aside, from where
// it was kept into place.
int put_back_directory(const std::string& from, const std::string& to, const std::string& kept) {
  if (exists_here(to))
    if (const int err = plain_rename(to, from)) return err;
  return exists_here(kept) ? plain_rename(kept, to) : 0;
}

// The stagings alive in the process, for discard_all(); its lock also
// keeps a commit whole.
std::mutex g_lock;
std::vector<Staging*> g_live;

// Marks the files kept aside in a private directory, apart from the new
// output's own.
constexpr const char* kKept = ".tesk-kept-";

}  // namespace

// One file moved by a commit: a new file into place (`kept`: where the file
// it replaces is kept meanwhile, "" when none), or a stale sidecar aside
// (`aside`).  `directory`: a new directory output replacing an older one,
// which goes to `kept`.
struct Staging::Move {
  std::string from, to, kept;
  bool aside = false;
  bool directory = false;
};

Staging::Staging(bool overwrite) : overwrite_(overwrite) {
  std::lock_guard lock(g_lock);
  g_live.push_back(this);
}

Staging::~Staging() {
  std::lock_guard lock(g_lock);
  discard();
  g_live.erase(std::find(g_live.begin(), g_live.end(), this));
}

void Staging::discard() {
  std::error_code ec;
  for (const auto& d : scratch_) fs::remove_all(d, ec);
  scratch_.clear();
  if (finished_) return;
  finished_ = true;
  for (const auto& o : outputs_) fs::remove_all(o.staging, ec);
}

std::string Staging::scratch(const std::string& path) {
  std::lock_guard lock(g_lock);  // made and registered as one, before a second signal's discard_all
  if (finished_) throw RunError("the run is stopping: no temporary directory is made");
  std::string tmpl = join(fs::path(path).parent_path().string(), ".tesk-XXXXXX");
  if (!::mkdtemp(tmpl.data()))
    throw FileSystemFault("cannot write beside " + path + ": no temporary directory can be made there (" +
                          std::strerror(errno) + ")");
  scratch_.push_back(tmpl);
  return tmpl;
}

void Staging::discard_all() {
  std::lock_guard lock(g_lock);
  for (Staging* s : g_live) s->discard();
}

std::string Staging::add(const std::string& path, const std::vector<std::string>& sidecars, bool replaces_directory) {
  // An output named through a symbolic link replaces the file it points to,
  // as writing through the link would, and the link stays.
  std::error_code ec;
  fs::path p(path);
  if (fs::is_symlink(p, ec)) {
    const fs::path target = fs::weakly_canonical(p, ec);
    if (!ec) p = target;
  }
  Output o{p.parent_path().string(), "", p.filename().string(), sidecars, replaces_directory && overwrite_};
  std::lock_guard lock(g_lock);  // made and registered as one, before a second signal's discard_all
  if (finished_) throw RunError("the run is stopping: no output is written");
  std::string tmpl = join(o.dir, ".tesk-XXXXXX");
  if (!::mkdtemp(tmpl.data()))
    throw FileSystemFault("cannot write " + path + ": no temporary directory can be made beside it (" +
                          std::strerror(errno) + ")");
  o.staging = tmpl;
  outputs_.push_back(o);
  return join(o.staging, o.name);
}

std::string Staging::final_names(std::string text) const {
  for (const auto& o : outputs_) {
    const std::string priv = fs::path(o.staging).filename().string() + "/";
    for (std::size_t at; (at = text.find(priv)) != std::string::npos;) text.erase(at, priv.size());
  }
  return text;
}

// What the commit does, in order: the stale sidecars aside, then the new
// files into place, each output's main file last, so that a reader never
// meets a new main file beside old sidecars.  Throws RunError, having
// moved nothing, when a final name is taken without overwrite.
void Staging::plan(std::vector<Move>& moves) const {
  std::vector<Move> asides;
  for (const auto& o : outputs_) {
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(o.staging, ec), end; !ec && it != end; it.increment(ec))
      files.push_back(it->path().filename().string());
    if (ec) throw RunError("cannot read the temporary directory " + o.staging + ": " + ec.message());
    std::sort(files.begin(), files.end(), [&](const std::string& a, const std::string& b) {
      return (a == o.name) != (b == o.name) ? b == o.name : a < b;
    });
    for (const auto& f : files) {
      Move m{join(o.staging, f), join(o.dir, f), "", false};
      if (is_directory(m.to)) {
        if (!o.replaces_directory || f != o.name || !is_directory(m.from))
          throw FileSystemFault("cannot write " + m.to + ": a directory of that name is in the way");
        m.kept = join(o.staging, kKept + f), m.directory = true;
        moves.push_back(m);
        continue;
      }
      if (exists_here(m.to)) {
        if (!overwrite_)
          throw OutputExists(m.to + " appeared during the run: it is left as it is and no output is written "
                                "(add --overwrite to replace it)");
        m.kept = join(o.staging, kKept + f);
      }
      moves.push_back(m);
    }
    for (const auto& s : o.sidecars) {
      const std::string name = fs::path(s).filename().string();
      if (std::find(files.begin(), files.end(), name) != files.end() || !exists_here(s) || is_directory(s)) continue;
      if (!overwrite_)
        throw OutputExists(s + " appeared during the run: it would describe another output, so it is left as it is "
                           "and no output is written (add --overwrite to replace it)");
      asides.push_back({s, join(o.staging, kKept + name), "", true});
    }
  }
  moves.insert(moves.begin(), asides.begin(), asides.end());
}

// Puts back the first `done` moves, latest first: what cannot be put back
// is named in `not_back` (an older file, kept in the private directory),
// or in `not_removed` (a new file left under its final name).
void Staging::undo(const std::vector<Move>& moves, std::size_t done, std::string& not_back,
                   std::string& not_removed) const {
  for (std::size_t k = done; k-- > 0;) {
    const Move& m = moves[k];
    std::string* left = &not_back;
    int err = 0;
    if (m.aside)
      err = plain_rename(m.to, m.from);
    else if (m.directory)
      err = put_back_directory(m.from, m.to, m.kept);
    else if (!m.kept.empty() && exists_here(m.kept))
      err = plain_rename(m.kept, m.to);
    else if (::unlink(m.to.c_str()) != 0)
      err = errno, left = &not_removed;
    if (err != 0) *left += (left->empty() ? "" : ", ") + (m.aside ? m.from : m.to);
  }
}

void Staging::commit() {
  std::lock_guard lock(g_lock);
  if (finished_) throw RunError("the outputs were removed before they could be renamed into place");
  std::vector<Move> moves;
  plan(moves);
  std::size_t done = 0;
  std::string failure;
  for (; done < moves.size(); ++done) {
    const Move& m = moves[done];
    int err = 0;
    if (injected_at("fail-mid-rename", done)) {
      err = EIO;
    } else if (m.directory) {  // the older directory aside, if still there, then the new one in
      if (exists_here(m.to) && (err = plain_rename(m.to, m.kept)) != 0) {
        failure = "cannot move " + m.to + " aside while it is replaced: " + std::strerror(err);
        break;
      }
      if ((err = plain_rename(m.from, m.to)) != 0) ++done;  // the older directory goes back with the others
    } else if (is_directory(m.aside ? m.from : m.to)) {  // never moved, never removed
      failure = "cannot write " + (m.aside ? m.from : m.to) + ": a directory of that name appeared during the run";
      break;
    } else if (m.aside) {
      err = plain_rename(m.from, m.to);
    } else if (!m.kept.empty()) {
      // Kept through a hard link, so that the new file replaces it in one
      // rename; a file system without hard links moves it aside instead.
      if (::link(m.to.c_str(), m.kept.c_str()) != 0 && (err = plain_rename(m.to, m.kept)) != 0) {
        failure = "cannot keep " + m.to + " while it is replaced: " + std::strerror(err);
        break;
      }
      if ((err = plain_rename(m.from, m.to)) != 0) ++done;  // the kept file goes back with the others
    } else {
      bool both = false;
      err = rename_no_replace(m.from, m.to, both, injected_at("fail-unlink-after-link", done));
      if (both) ++done;  // the new name goes with the others
    }
    if (err == EEXIST) {
      failure = m.to + " appeared during the run: it is left as it is";
      break;
    }
    if (err != 0) {
      failure = "cannot rename " + m.from + " to " + m.to + ": " + std::strerror(err);
      break;
    }
  }
  if (done == moves.size() && failure.empty()) {
    discard();  // the private directories, with the files kept aside
    return;
  }
  std::string not_back, not_removed;
  undo(moves, done, not_back, not_removed);
  if (not_back.empty() && not_removed.empty()) {
    discard();
    throw FileSystemFault(final_names(failure) + "; no output written, every existing file as it was");
  }
  std::string text = final_names(failure);
  if (!not_removed.empty()) text += "; new files could not be removed from their final names: " + not_removed;
  if (not_back.empty()) {
    discard();
    throw FileSystemFault(text);
  }
  // The older files that could not be put back are still in the private
  // directories, kept as .tesk-kept-NAME: they stay there for the user.
  finished_ = true;
  std::string dirs;
  for (const auto& o : outputs_) dirs += (dirs.empty() ? "" : ", ") + o.staging;
  throw FileSystemFault(text + "; the older files could not all be put back: " + not_back +
                        " (each is kept as .tesk-kept-NAME in " + dirs + ")");
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ea, eb;
  // Absolute first: a name that does not exist yet keeps its spelling in
  // weakly_canonical, so "b.tif" and "./b.tif" would not meet.
  const fs::path ra = fs::weakly_canonical(fs::absolute(a, ea), ea), rb = fs::weakly_canonical(fs::absolute(b, eb), eb);
  if (!ea && !eb && ra == rb) return true;
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace tesk
