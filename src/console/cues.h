// Sound cues: short WAV files played at fixed points of the classic run.
//
// A cue is played synchronously: the run waits for it to end.  It never
// prints anything and never stops the run: without a sound directory, a
// cue file or a player, it is skipped.
#pragma once

#include <string>
#include <vector>

namespace tesk {

namespace cue {
inline constexpr const char* kDrumbl = "drumbl.wav";      // after the banner
inline constexpr const char* kMenuEnd = "menuend.wav";    // before the interval question; smoothing starts
inline constexpr const char* kMovPiece = "movpiece.wav";  // after each of the three answers
inline constexpr const char* kMenuLoop = "menuloop.wav";  // each dilation pass
inline constexpr const char* kFanfare2 = "Fanfare2.wav";  // saving starts
}  // namespace cue

class CuePlayer {
 public:
  virtual ~CuePlayer() = default;
  virtual void play(const char* file_name) = 0;
};

class SilentCues : public CuePlayer {
 public:
  void play(const char*) override {}
};

// Plays sounds_dir/file_name with an external player: `player` when given
// (run with the file's path as its only argument), else the first of aplay
// and paplay that starts, each looked up on the PATH.  The player's output
// goes to /dev/null.
class SystemCues : public CuePlayer {
 public:
  SystemCues(std::string sounds_dir, std::string player);
  void play(const char* file_name) override;

  // From TESK_SOUNDS (the directory) and TESK_SOUND_PLAYER (the player).
  static SystemCues from_environment();

 private:
  std::string dir_;
  std::vector<std::string> players_;  // those still worth trying, in order; empty: no player
};

}  // namespace tesk
