#include "core/scan.h"

#include <cctype>
#include <climits>

namespace tesk {

int Scanner::skip_space() {
  int c = std::getc(in_);
  while (c != EOF && std::isspace(c)) c = std::getc(in_);
  return c;
}

ScanStatus Scanner::read_int(int& out) {
  int c = skip_space();
  if (c == EOF) return ScanStatus::End;
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = (c == '-');
    c = std::getc(in_);
  }
  if (c == EOF || !std::isdigit(c)) {
    if (c != EOF) std::ungetc(c, in_);
    return ScanStatus::NotANumber;
  }
  // Accumulate the magnitude as a negative number so INT_MIN fits.
  long long value = 0;
  bool overflow = false;
  while (c != EOF && std::isdigit(c)) {
    if (!overflow) {
      value = value * 10 + (c - '0');
      if (value > 2147483648LL) overflow = true;
    }
    c = std::getc(in_);
  }
  if (c != EOF) std::ungetc(c, in_);
  if (!negative && value > INT_MAX) overflow = true;
  if (overflow) return ScanStatus::OutOfRange;
  out = static_cast<int>(negative ? -value : value);
  return ScanStatus::Ok;
}

ScanStatus Scanner::read_word(std::string& out) {
  int c = skip_space();
  if (c == EOF) return ScanStatus::End;
  std::string word;
  while (c != EOF && !std::isspace(c)) {
    word.push_back(static_cast<char>(c));
    c = std::getc(in_);
  }
  if (c != EOF) std::ungetc(c, in_);
  out = std::move(word);
  return ScanStatus::Ok;
}

std::string Scanner::peek_word() {
  std::string word;
  int c = std::getc(in_);
  while (c != EOF && !std::isspace(c) && word.size() < 40) {
    word.push_back(static_cast<char>(std::isprint(c) ? c : '?'));
    c = std::getc(in_);
  }
  if (c != EOF) std::ungetc(c, in_);
  return word;
}

}  // namespace tesk
