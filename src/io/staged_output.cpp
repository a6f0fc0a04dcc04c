#include "io/staged_output.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/run_error.h"

namespace tesk {
namespace {

namespace fs = std::filesystem;

std::string join(const std::string& dir, const std::string& name) { return dir.empty() ? name : dir + "/" + name; }

// rename() that never replaces an existing file: renameat2's
// RENAME_NOREPLACE, else (a file system or kernel without it) a hard link
// to the new name, which fails on an existing one, and the removal of the
// old name.  Returns 0 or the errno of the failure (EEXIST: to exists).
int rename_no_replace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
#endif
  if (::link(from.c_str(), to.c_str()) == 0) return ::unlink(from.c_str()) == 0 ? 0 : errno;
  if (errno == EEXIST) return EEXIST;
  // No hard links here either: the last resort checks, then renames.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Holds SIGINT, SIGTERM and SIGHUP back while it lives: they are delivered
// when it goes.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

}  // namespace

Staging::~Staging() {
  if (committed_) return;
  for (const auto& o : outputs_)
    for (const auto& f : files_of(o)) ::unlink(join(o.dir, f).c_str());
}

std::string Staging::add(const std::string& path) {
  // An output named through a symbolic link replaces the file it points to,
  // as writing through the link would, and the link stays.
  std::error_code ec;
  fs::path p(path);
  if (fs::is_symlink(p, ec)) {
    const fs::path target = fs::weakly_canonical(p, ec);
    if (!ec) p = target;
  }
  Output o{p.parent_path().string(), ".tesk-tmp-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(outputs_.size()) + "-",
           p.filename().string()};
  for (const auto& f : files_of(o)) ::unlink(join(o.dir, f).c_str());
  outputs_.push_back(o);
  return join(o.dir, o.prefix + o.name);
}

std::string Staging::final_names(std::string text) const {
  for (const auto& o : outputs_)
    for (std::size_t at; (at = text.find(o.prefix)) != std::string::npos;) text.erase(at, o.prefix.size());
  return text;
}

std::vector<std::string> Staging::files_of(const Output& o) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(o.dir.empty() ? "." : o.dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string n = it->path().filename().string();
    if (n.compare(0, o.prefix.size(), o.prefix) == 0) names.push_back(n);
  }
  // The main file first, the sidecars after it in a fixed order.
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    const bool ma = a.size() == o.prefix.size() + o.name.size(), mb = b.size() == o.prefix.size() + o.name.size();
    return ma != mb ? ma : a < b;
  });
  return names;
}

void Staging::rename_into_place(const Output& o) {
  const auto files = files_of(o);
  for (const auto& f : files) {
    const std::string from = join(o.dir, f), to = join(o.dir, f.substr(o.prefix.size()));
    // Without overwrite no file may replace another, but for the sidecars
    // GDAL keeps beside a raster: once the main file has its name, those
    // follow it, over any an older output of that name left.
    const bool sidecar = f.ends_with(".aux.xml") || f.ends_with(".ovr");
    const bool claim = !overwrite_ && (&f == &files.front() || !sidecar);
    const int err = claim ? rename_no_replace(from, to) : (std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno);
    if (err == EEXIST)
      throw RunError(to + " appeared during the run: it is left as it is and the new result is dropped "
                          "(add --overwrite to replace it)");
    if (err != 0) throw RunError("cannot rename " + from + " to " + to + ": " + std::strerror(err));
  }
  // Sidecars of an older output of that name would describe the old data.
  for (const char* ext : {".aux.xml", ".ovr"}) {
    const std::string side = o.name + ext;
    if (std::find(files.begin(), files.end(), o.prefix + side) == files.end()) ::unlink(join(o.dir, side).c_str());
  }
}

void Staging::commit() {
  HeldSignals held;
  committed_ = true;
  for (const auto& o : outputs_) {
    try {
      rename_into_place(o);
    } catch (...) {
      committed_ = false;  // the destructor removes what is left
      throw;
    }
  }
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
