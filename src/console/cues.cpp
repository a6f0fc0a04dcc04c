#include "console/cues.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace tesk {
namespace {

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string find_on_path(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::string dirs = path;
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > start ? dirs.substr(start, end - start) : std::string(".");
    const std::string candidate = dir + "/" + name;
    if (is_regular_file(candidate) && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace

SystemCues::SystemCues(std::string sounds_dir, std::string player) : dir_(std::move(sounds_dir)) {
  while (dir_.size() > 1 && dir_.back() == '/') dir_.pop_back();
  if (dir_.empty()) return;  // no sound directory: every cue is skipped
  if (!player.empty()) {
    player_ = find_on_path(player);
  } else {
    for (const char* name : {"aplay", "paplay"}) {
      player_ = find_on_path(name);
      if (!player_.empty()) break;
    }
  }
}

SystemCues SystemCues::from_environment() {
  const char* dir = std::getenv("TESK_SOUNDS");
  const char* player = std::getenv("TESK_SOUND_PLAYER");
  return SystemCues(dir ? dir : "", player ? player : "");
}

void SystemCues::play(const char* file_name) {
  if (dir_.empty() || player_.empty()) return;
  const std::string path = dir_ + "/" + file_name;
  if (!is_regular_file(path)) return;

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  std::vector<char*> argv = {const_cast<char*>(player_.c_str()), const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, player_.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace tesk
