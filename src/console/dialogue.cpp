#include "console/dialogue.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>

#include "core/run_error.h"

namespace tesk {

void Dialogue::say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(out_, format, args);
  va_end(args);
}

void Dialogue::say_text(const std::string& text) { std::fwrite(text.data(), 1, text.size(), out_); }

void Dialogue::cue(const char* file_name) {
  std::fflush(out_);
  cues_.play(file_name);
}

void Dialogue::refuse(ScanStatus status) {
  switch (status) {
    case ScanStatus::End:
      throw RunError("\n Fin des donnees en entree : reponse attendue, traitement abandonne\n");
    case ScanStatus::OutOfRange:
      throw RunError("\n Reponse hors limites : nombre entier entre -2147483648 et 2147483647 attendu\n");
    default:
      break;
  }
  const std::string word = scan_.peek_word();
  throw RunError("\n Reponse \"" + word + "\" illisible : nombre entier attendu\n");
}

int Dialogue::ask_int() {
  std::fflush(out_);
  int value = 0;
  const ScanStatus status = scan_.read_int(value);
  if (status != ScanStatus::Ok) refuse(status);
  return value;
}

std::string Dialogue::ask_word() {
  std::fflush(out_);
  std::string word;
  const ScanStatus status = scan_.read_word(word);
  if (status != ScanStatus::Ok) refuse(status);
  // A name is a C string: it ends at its first NUL, as the classic
  // program's name buffers end it.  Left whole, "o\0x" would build paths
  // that the system cuts at the NUL, and all four outputs would open the
  // same file "o".
  word.resize(std::min(word.size(), word.find('\0')));
  return word;
}

void Dialogue::wait_key() {
  const int fd = fileno(in_);
  if (fd < 0 || !isatty(fd)) return;
  std::fflush(out_);
  termios saved {};
  if (tcgetattr(fd, &saved) != 0) return;
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &raw);
  unsigned char c = 0;
  [[maybe_unused]] const ssize_t n = read(fd, &c, 1);
  tcsetattr(fd, TCSANOW, &saved);
}

}  // namespace tesk
