#include "console/cues.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

extern char** environ;

namespace tesk {
namespace {

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

SystemCues::SystemCues(std::string sounds_dir, std::string player) : dir_(std::move(sounds_dir)) {
  while (dir_.size() > 1 && dir_.back() == '/') dir_.pop_back();
  if (dir_.empty()) return;  // no sound directory: every cue is skipped
  if (!player.empty())
    players_ = {std::move(player)};
  else
    players_ = {"aplay", "paplay"};
}

SystemCues SystemCues::from_environment() {
  const char* dir = std::getenv("TESK_SOUNDS");
  const char* player = std::getenv("TESK_SOUND_PLAYER");
  return SystemCues(dir ? dir : "", player ? player : "");
}

void SystemCues::play(const char* file_name) {
  if (dir_.empty()) return;
  const std::string path = dir_ + "/" + file_name;
  if (!is_regular_file(path)) return;

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  for (int fd = 0; fd <= 2; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  // posix_spawnp looks the player up on the PATH (a name with a slash is
  // taken as it is).  A player that is missing or cannot be run is dropped,
  // so that the next cue goes straight to the one that can; any other
  // failure only skips this cue.
  pid_t pid = 0;
  int rc = ENOENT;
  while (!players_.empty()) {
    std::vector<char*> argv = {players_.front().data(), const_cast<char*>(path.c_str()), nullptr};
    rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    if (rc != ENOENT && rc != EACCES && rc != ENOEXEC) break;
    players_.erase(players_.begin());
  }
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace tesk
