// Answers and header values read the way scanf "%d" and "%s" read one stream,
// and what a refused answer shows of itself.
#include "core/scan.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tesk {
namespace {

using testing::TextStream;

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
      {" \n\t\r\v\f ", ScanStatus::End, 0},
  };
  for (const Case& c : cases) {
    TextStream in(c.text);
    Scanner scan(in.get());
    int value = -12345;
    EXPECT_EQ(scan.read_int(value), c.status) << '"' << c.text << '"';
    EXPECT_EQ(value, c.status == ScanStatus::Ok ? c.value : -12345) << '"' << c.text << '"';
  }
}

// One stream read by a sequence of reads: each goes on right after the last
// character the one before took. "i" reads a number, "w" a word, "p" takes
// the word a message would show; each step gives its status and what it
// read.
TEST(Scan, NextReadGoesOnAfterLastCharacterTaken) {
  struct Step {
    char op;
    ScanStatus status;
    std::string read;  // the number, the word or the peeked text
  };
  struct Case {
    const char* what;
    std::string text;
    std::vector<Step> steps;
  };
  using S = ScanStatus;
  const Case cases[] = {
      {"3.5: the dot stays for the next read", "3.5\n",
       {{'i', S::Ok, "3"}, {'i', S::NotANumber, ""}, {'w', S::Ok, ".5"}, {'w', S::End, ""}}},
      {"several answers on one line, digits glued to a word", "10 3\n0\n12abc",
       {{'i', S::Ok, "10"}, {'i', S::Ok, "3"}, {'i', S::Ok, "0"}, {'i', S::Ok, "12"}, {'w', S::Ok, "abc"}}},
      {"a number too large is taken whole", "2147483648 -2147483649 7",
       {{'i', S::OutOfRange, ""}, {'i', S::OutOfRange, ""}, {'i', S::Ok, "7"}, {'i', S::End, ""}}},
      {"a sign without digits is taken, what follows stays", "-x - 4",
       {{'i', S::NotANumber, ""}, {'w', S::Ok, "x"}, {'i', S::NotANumber, ""}, {'i', S::Ok, "4"}}},
      {"words and numbers share the stream", "  site1\tdem \n\n c:\\x_y.z  -5\n",
       {{'w', S::Ok, "site1"}, {'w', S::Ok, "dem"}, {'w', S::Ok, "c:\\x_y.z"}, {'i', S::Ok, "-5"}, {'w', S::End, ""}}},
      {"no length limit on a word", "  " + std::string(100000, 'n') + "\nnext",
       {{'w', S::Ok, std::string(100000, 'n')}, {'w', S::Ok, "next"}}},
      // A peek takes the word it shows: the next answer comes after it.
      {"a message shows the word, at most 40 characters, unprintable bytes as ?",
       "3.5 - 4 +x \x01\x02zz " + std::string(5000, 'y'),
       {{'i', S::Ok, "3"}, {'i', S::NotANumber, ""}, {'p', S::Ok, ".5"}, {'i', S::NotANumber, ""}, {'i', S::Ok, "4"},
        {'i', S::NotANumber, ""}, {'p', S::Ok, "x"}, {'i', S::NotANumber, ""}, {'p', S::Ok, "??zz"},
        {'i', S::NotANumber, ""}, {'p', S::Ok, std::string(40, 'y')}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TextStream in(c.text);
    Scanner scan(in.get());
    for (std::size_t k = 0; k < c.steps.size(); ++k) {
      const Step& step = c.steps[k];
      int v = -12345;
      std::string w = "kept";
      if (step.op == 'i') {
        EXPECT_EQ(scan.read_int(v), step.status) << "step " << k;
        EXPECT_EQ(v, step.status == S::Ok ? std::stoi(step.read) : -12345) << "step " << k;
      } else if (step.op == 'w') {
        EXPECT_EQ(scan.read_word(w), step.status) << "step " << k;
        EXPECT_EQ(w, step.status == S::Ok ? step.read : "kept") << "step " << k;
      } else {
        EXPECT_EQ(scan.peek_word(), step.read) << "step " << k;
      }
    }
  }
}

}  // namespace
}  // namespace tesk
