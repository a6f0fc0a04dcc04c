// Answers and header values read the way scanf "%d" and "%s" read one stream.
#include "core/scan.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>

namespace tesk {
namespace {

// A stream over a copy of `text`, closed at the end of the scope.
class TextStream {
 public:
  explicit TextStream(const std::string& text) : text_(text) {
    // fmemopen refuses a zero size; an empty text is a stream at its end.
    f_ = text_.empty() ? std::tmpfile() : fmemopen(text_.data(), text_.size(), "r");
  }
  ~TextStream() {
    if (f_) std::fclose(f_);
  }
  std::FILE* get() const { return f_; }

 private:
  std::string text_;
  std::FILE* f_;
};

TEST(Scan, NumbersFollowPercentD) {
  struct Case {
    const char* text;
    ScanStatus status;
    int value;  // expected value when Ok; otherwise the value must stay untouched
  } cases[] = {
      {"42", ScanStatus::Ok, 42},
      {"  \n\t 42\n", ScanStatus::Ok, 42},
      {"+5", ScanStatus::Ok, 5},
      {"-0", ScanStatus::Ok, 0},
      {"-17", ScanStatus::Ok, -17},
      {"007", ScanStatus::Ok, 7},
      {"2147483647", ScanStatus::Ok, INT_MAX},
      {"-2147483648", ScanStatus::Ok, INT_MIN},
      {"2147483648", ScanStatus::OutOfRange, 0},
      {"-2147483649", ScanStatus::OutOfRange, 0},
      {"99999999999999999999999", ScanStatus::OutOfRange, 0},
      {"abc", ScanStatus::NotANumber, 0},
      {".5", ScanStatus::NotANumber, 0},
      {"-", ScanStatus::NotANumber, 0},
      {"+x", ScanStatus::NotANumber, 0},
      {"", ScanStatus::End, 0},
      {" \n\t ", ScanStatus::End, 0},
  };
  for (const Case& c : cases) {
    TextStream in(c.text);
    Scanner scan(in.get());
    int value = -12345;
    EXPECT_EQ(scan.read_int(value), c.status) << '"' << c.text << '"';
    EXPECT_EQ(value, c.status == ScanStatus::Ok ? c.value : -12345) << '"' << c.text << '"';
  }
}

TEST(Scan, NextReadGoesOnAfterLastCharacterTaken) {
  {  // "3.5": 3, then ".5" is no number, and it is still there for a word.
    TextStream in("3.5\n");
    Scanner scan(in.get());
    int v = 0;
    ASSERT_EQ(scan.read_int(v), ScanStatus::Ok);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(scan.read_int(v), ScanStatus::NotANumber);
    EXPECT_EQ(v, 3);
    std::string word;
    ASSERT_EQ(scan.read_word(word), ScanStatus::Ok);
    EXPECT_EQ(word, ".5");
    EXPECT_EQ(scan.read_word(word), ScanStatus::End);
  }
  {  // Several answers on one line, then digits glued to a word.
    TextStream in("10 3\n0\n12abc");
    Scanner scan(in.get());
    int a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(scan.read_int(a), ScanStatus::Ok);
    ASSERT_EQ(scan.read_int(b), ScanStatus::Ok);
    ASSERT_EQ(scan.read_int(c), ScanStatus::Ok);
    ASSERT_EQ(scan.read_int(d), ScanStatus::Ok);
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 3);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(d, 12);
    std::string word;
    ASSERT_EQ(scan.read_word(word), ScanStatus::Ok);
    EXPECT_EQ(word, "abc");
  }
  {  // A number too large is consumed whole: the next read sees what follows it.
    TextStream in("2147483648 7");
    Scanner scan(in.get());
    int v = 0;
    EXPECT_EQ(scan.read_int(v), ScanStatus::OutOfRange);
    ASSERT_EQ(scan.read_int(v), ScanStatus::Ok);
    EXPECT_EQ(v, 7);
  }
  {  // A sign without digits is taken; what follows the sign stays.
    TextStream in("-x");
    Scanner scan(in.get());
    int v = 0;
    EXPECT_EQ(scan.read_int(v), ScanStatus::NotANumber);
    std::string word;
    ASSERT_EQ(scan.read_word(word), ScanStatus::Ok);
    EXPECT_EQ(word, "x");
  }
}

TEST(Scan, WordsFollowPercentS) {
  TextStream in("  site1\tdem \n\n c:\\x_y.z  -5\n");
  Scanner scan(in.get());
  std::string w;
  ASSERT_EQ(scan.read_word(w), ScanStatus::Ok);
  EXPECT_EQ(w, "site1");
  ASSERT_EQ(scan.read_word(w), ScanStatus::Ok);
  EXPECT_EQ(w, "dem");
  ASSERT_EQ(scan.read_word(w), ScanStatus::Ok);
  EXPECT_EQ(w, "c:\\x_y.z");
  int v = 0;  // a word and a number share the stream
  ASSERT_EQ(scan.read_int(v), ScanStatus::Ok);
  EXPECT_EQ(v, -5);
  w = "kept";
  EXPECT_EQ(scan.read_word(w), ScanStatus::End);
  EXPECT_EQ(w, "kept");

  // No length limit on a word.
  const std::string long_name(300, 'n');
  TextStream in2(long_name + " next");
  Scanner scan2(in2.get());
  ASSERT_EQ(scan2.read_word(w), ScanStatus::Ok);
  EXPECT_EQ(w, long_name);
  ASSERT_EQ(scan2.read_word(w), ScanStatus::Ok);
  EXPECT_EQ(w, "next");
}

}  // namespace
}  // namespace tesk
