// The console primitives over a device in memory: the two buffers, numbers, output, pause.
#include "console/console.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "console/memory_device.h"

// Every allocation of this test program counted, so that a test can tell
// whether anything grew with its input.
static std::atomic<size_t> g_heap_live{0}, g_heap_peak{0};

void* operator new(size_t size) {
  void* p = malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  size_t live = g_heap_live += malloc_usable_size(p);
  for (size_t peak = g_heap_peak; live > peak && !g_heap_peak.compare_exchange_weak(peak, live);) {
  }
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  g_heap_live -= malloc_usable_size(p);
  free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace orvel {
namespace {

// A console reading the given lines; on a terminal each read is one line,
// so device.reads counts the waits for a typed line.
struct Rig {
  MemoryDevice device;
  Console console{device};
  explicit Rig(std::string input, bool terminal = true) {
    device.input = std::move(input);
    device.terminal_lines = terminal;
  }
  char choice() {
    char c = '?';
    console.choice_input(c);
    return c;
  }
  std::string word() {
    char w[32] = {};
    console.word_input(w);
    return w;
  }
  std::string line() {
    char l[1024] = {};
    console.line_input(l);
    return l;
  }
  // True when the choice input ends the program with status 0.
  bool choice_exits() {
    try {
      choice();
    } catch (const ExitRequest& e) {
      return e.status == 0;
    }
    return false;
  }
};

// The input model holds whether a read brings one line (a terminal) or all
// that is there (a pipe or a file): the tests of this fixture run in both.
class EitherInput : public testing::TestWithParam<bool> {
 protected:
  bool terminal() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(TerminalOrPipe, EitherInput, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Terminal" : "Pipe";
                         });

// What is left of a line in one buffer is never seen by the other. On a
// terminal, device.reads counts the waits for a typed line.
TEST_P(EitherInput, TheTwoBuffersNeverShareCharacters) {
  Rig rig("12\nline one\nSmith Jones\nnext\nX\n", terminal());
  EXPECT_EQ(rig.choice(), '1');
  EXPECT_EQ(rig.choice(), '2');  // without waiting
  if (terminal()) {
    EXPECT_EQ(rig.device.reads, 1u);
  }
  EXPECT_EQ(rig.line(), "line one");  // the choice's newline is not seen here
  EXPECT_EQ(rig.word(), "Smith");     // skips the newline after "12" and waits
  EXPECT_EQ(rig.word(), "Jones");
  if (terminal()) {
    EXPECT_EQ(rig.device.reads, 3u);
  }
  EXPECT_EQ(rig.line(), "next");
  EXPECT_EQ(rig.choice(), 'X');  // skips the newline after "Jones" and waits
  if (terminal()) {
    EXPECT_EQ(rig.device.reads, 5u);
  }
}

TEST(Buffers, WordSkipsEmptyAndBlankLines) {
  Rig rig("\n \t\v\f\r\nMR\n");
  EXPECT_EQ(rig.word(), "MR");
  EXPECT_EQ(rig.device.reads, 3u);
}

TEST(Buffers, LineKeepsItsBlanksAndDropsCarriageReturns) {
  Rig rig("  two  words \t\r\n\r\na\rb\r\n");
  EXPECT_EQ(rig.line(), "  two  words \t");
  char empty[4] = "old";
  rig.console.line_input(empty);
  EXPECT_EQ(std::string(empty, 4), std::string("\0ld\0", 4));  // bytes after the NUL stay
  EXPECT_EQ(rig.line(), "ab");
}

// After a failed number the next choice drops exactly one refill: the choice
// after it shows where that refill ended.
TEST(Buffers, ARefillIsOneLineOrItsFirst512CharactersOtherThanCR) {
  std::string a510(510, 'a'), cr_a511;
  for (int i = 0; i < 511; ++i) cr_a511 += "a\r";
  const std::pair<std::string, char> cases[] = {
      {"x1\nZ\n", 'Z'},                                 // one line a refill, even from a pipe
      {"x" + a510 + "\nZ\n", 'Z'},                      // 512 with its newline: one refill
      {"x" + a510 + "bcd\nZ\n", 'c'},                   // 513: the first 512, then the rest
      {"x\r" + cr_a511 + "cd\nZ\n", 'c'},               // 1024 bytes, of them 512 not CR
      {"x\r" + cr_a511.substr(0, 600) + "\nZ\n", 'Z'},  // 602 bytes, of them 301 not CR
  };
  for (const auto& [input, next] : cases) {
    for (bool terminal : {false, true}) {
      Rig rig(input, terminal);
      float x = 1;
      rig.console.number_input(x);
      EXPECT_EQ(rig.choice(), next) << input.size() << " bytes, terminal " << terminal;
    }
  }
}

TEST(Buffers, AWordRunsOnThroughTheNextRefill) {
  std::string cr_a1022;
  for (int i = 0; i < 1022; ++i) cr_a1022 += "a\r";
  for (bool terminal : {false, true}) {
    Rig rig(cr_a1022 + "\n", terminal);
    char w[1024] = {};
    rig.console.word_input(w);
    EXPECT_EQ(std::string(w), std::string(1022, 'a')) << "terminal " << terminal;
  }
}

TEST_P(EitherInput, CtrlZEndsItAndTheCharactersBeforeItCount) {
  Rig words("ab\x1axy\nmore\n", terminal());
  EXPECT_EQ(words.choice(), 'a');
  EXPECT_EQ(words.choice(), 'b');
  EXPECT_TRUE(words.choice_exits());

  Rig lines("ab\x1axy\nmore\n", terminal());
  char l[8] = "old";
  lines.console.line_input(l);
  EXPECT_STREQ(l, "ab");
  strcpy(l, "old");
  lines.console.line_input(l);
  EXPECT_STREQ(l, "old");
  EXPECT_EQ(lines.word(), "");
}

// The terminal's end-of-file key (byte 4 here) in mid-line hands over what was
// typed at once; at the start of a line it ends the input.
TEST(EndOfInput, TheTerminalsEndOfFileKey) {
  Rig rig("ab\x04xy\n\x04more\n");
  EXPECT_EQ(rig.choice(), 'a');
  EXPECT_EQ(rig.device.reads, 1u);
  EXPECT_EQ(rig.choice(), 'b');
  EXPECT_EQ(rig.choice(), 'x');
  EXPECT_EQ(rig.device.reads, 2u);
  EXPECT_EQ(rig.choice(), 'y');
  EXPECT_TRUE(rig.choice_exits());
  EXPECT_EQ(rig.line(), "");  // and holds for the line buffer too
}

// A terminal read of nothing but CRs (keys pressed at a pause) delivered
// characters: it is no end of input, the wait goes on.
TEST(EndOfInput, AReadOfOnlyCarriageReturnsIsNotTheEnd) {
  Rig rig(
      "\r\r\x04"
      "5\n");
  EXPECT_EQ(rig.choice(), '5');
}

TEST_P(EitherInput, EndOfInputAtEachPrimitive) {
  Rig rig("a last\nline", terminal());
  EXPECT_EQ(rig.choice(), 'a');
  char l[8] = "old";
  rig.console.line_input(l);
  EXPECT_STREQ(l, "line");  // a last line without its newline still counts
  rig.console.line_input(l);
  EXPECT_STREQ(l, "line");  // nothing came: the field is left alone
  char w[8] = "old", v[8] = "old";
  rig.console.word_input(w);
  EXPECT_STREQ(w, "last");
  rig.console.word_input(w);  // a record field gets the empty text
  EXPECT_STREQ(w, "");
  rig.console.word_value(v);  // a working value keeps its own
  EXPECT_STREQ(v, "old");
  float x = 3;
  rig.console.number_input(x);
  EXPECT_EQ(x, 3);
  size_t reads = rig.device.reads;
  EXPECT_TRUE(rig.choice_exits());
  EXPECT_EQ(rig.device.reads, reads);  // the end holds: the device is not asked again
  EXPECT_EQ(rig.device.output, "");
}

// A last line without its newline: choices and a word ended by the end still count.
TEST(EndOfInput, WhatTheWordBufferStillHoldsCounts) {
  Rig rig("xy last");
  EXPECT_EQ(rig.choice(), 'x');
  EXPECT_EQ(rig.choice(), 'y');
  EXPECT_EQ(rig.word(), "last");
  EXPECT_TRUE(rig.choice_exits());
}

TEST_P(EitherInput, OverlongWordAndLineStoreWidthLessOneAndTouchNothingElse) {
  Rig rig("abcdefgh ij\n0123456789\nlast\n", terminal());
  char w[8] = "WWWWWWW", l[8] = "LLLLLLL";
  rig.console.word_input(std::span(w, 4));
  EXPECT_EQ(std::string(w, 8), std::string("abc\0WWW\0", 8));
  rig.console.word_input(std::span(w, 4));  // "defgh" went with its word
  EXPECT_EQ(std::string(w, 8), std::string("ij\0\0WWW\0", 8));
  rig.console.line_input(std::span(l, 5));
  EXPECT_EQ(std::string(l, 8), std::string("0123\0LL\0", 8));
  rig.console.line_input(std::span(l, 5));  // the rest of the line went with it
  EXPECT_EQ(std::string(l, 8), std::string("last\0LL\0", 8));
}

// Widths stay in bytes; a UTF-8 character that would be cut is left out whole.
TEST(Overlong, ACutNeverSplitsAUtf8Character) {
  enum Read { kWord, kValue, kLine };
  const struct {
    Read read;
    size_t width;
    std::string typed;
    std::string stored;
  } cases[] = {
      {kLine, 20, "Ahmet \u015e\u00fckr\u00fc \u00c7a\u011flayan",
       "Ahmet \u015e\u00fckr\u00fc \u00c7a"},
      {kLine, 15, "Ahmet \u015e\u00fckr\u00fc \u00c7a\u011flayan", "Ahmet \u015e\u00fckr\u00fc"},
      {kLine, 14, "Ahmet \u015e\u00fckr\u00fc", "Ahmet \u015e\u00fckr"},
      {kWord, 5, "\u00c7a\u011flayan", "\u00c7a"},
      {kValue, 4, "\u00c7\u011e\u00dc", "\u00c7"},  // a search key or new value
      {kWord, 2, "\u015f", ""},                     // a one-byte field
      {kWord, 2, "a\u015f", "a"},
      {kWord, 4, "ab\u20ac", "ab"},            // three bytes
      {kWord, 6, "abc\U0001f600", "abc"},      // four bytes
      {kWord, 3, "a\xc4x", "a\xc4"},           // a lead byte with no character: one byte
      {kWord, 3, "\xc3\xa9\xa9", "\xc3\xa9"},  // a stray continuation byte after a whole one
  };
  for (const auto& c : cases) {
    Rig rig(c.typed + "\n");
    char f[32];
    memset(f, 'Z', sizeof f);
    std::span<char> target(f, c.width);
    if (c.read == kWord) rig.console.word_input(target);
    if (c.read == kValue) rig.console.word_value(target);
    if (c.read == kLine) rig.console.line_input(target);
    EXPECT_EQ(std::string(f), c.stored) << c.typed << " in " << c.width;
    EXPECT_EQ(f[c.width], 'Z') << c.typed;  // nothing past the field
  }
}

TEST(FailedWordBuffer, HoldsUntilTheNextChoiceDropsItsLine) {
  Rig rig("5e 7 8\nline\n4 6\n");  // the number fails at the blank after "5e"
  float x = 5;
  rig.console.number_input(x);
  EXPECT_EQ(x, 5);
  char v[8] = "val";
  rig.console.word_value(v);
  EXPECT_STREQ(v, "val");
  EXPECT_EQ(rig.word(), "");
  rig.console.number_input(x);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(rig.device.reads, 1u);  // none of them waited
  EXPECT_EQ(rig.line(), "line");    // the line buffer does not care
  EXPECT_EQ(rig.choice(), '4');     // " 7 8" is gone
  rig.console.number_input(x);
  EXPECT_EQ(x, 6);  // and the word buffer is good again
}

// The float's bits, so that -0 and +0 differ.
uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }

TEST(NumberInput, GrammarRangeAndWhatIsLeft) {
  const std::string zeros600(600, '0');
  const struct {
    std::string typed;
    float value;
    const char* left;  // the next word
  } cases[] = {
      {"12.50", 12.5f, "end"},
      {"-.5", -0.5f, "end"},
      {"1e3", 1000, "end"},
      {"2.5E-1", 0.25f, "end"},
      {"1.", 1, "end"},
      {"+7", 7, "end"},
      {"12abc", 12, "abc"},
      {"0x10", 0, "x10"},
      {"3e+2.5", 300, ".5"},
      {"1e39", FLT_MAX, "end"},
      {"-1e39", -FLT_MAX, "end"},
      {"1e99999", FLT_MAX, "end"},
      {"1e99999999999", FLT_MAX, "end"},  // an exponent past any int
      {"-1e-400", -0.0f, "end"},
      {"1e-46", 0.0f, "end"},
      {"1e-45", 0x1p-149f, "end"},
      {"1" + zeros600 + "e-600", 1, "end"},  // one number across two refills
      {"0." + zeros600 + "15e602", 15, "end"},
      {std::string(700, '9'), FLT_MAX, "end"},
  };
  for (const auto& c : cases) {
    Rig rig(c.typed + "\nend\n");
    float x = 99;
    rig.console.number_input(x);
    EXPECT_EQ(bits(x), bits(c.value)) << c.typed << " gave " << x;
    EXPECT_EQ(rig.word(), c.left) << c.typed;
  }
}

TEST(NumberInput, NoNumberKeepsTheTarget) {
  for (const char* typed : {"abc", ".", "-", "+", "5e", "5e+", "-.e1", "e5", "-x"}) {
    Rig rig(std::string(typed) + "\nmore\n");
    float x = 42;
    rig.console.number_input(x);
    EXPECT_EQ(x, 42) << typed;
    EXPECT_EQ(rig.word(), "") << typed;  // the word buffer failed, "more" is not read
  }
}

// Each case rounds one way straight to single precision and the other way
// through a 64-bit mantissa first.
TEST(NumberInput, RoundsToExtendedPrecisionFirst) {
  // 1 + 2^-24 + a tail below half a 64-bit ulp: at 64 bits 1 + 2^-24; then a tie, to the even 1.
  std::vector<std::pair<std::string, float>> cases = {
      {"1.0000000596046447753906250542101086242752217003726400434970855712890625", 1.0f}};
  // A float's upper midpoint plus a tail far below a 64-bit mantissa: a tie
  // there, which goes to the even float.
  for (float f : {1.0f, 0.1f, 3e10f, 123.456f}) {
    if (bits(f) & 1) f = std::nextafter(f, 0.0f);  // the even one of a pair
    long double mid = (static_cast<long double>(f) + std::nextafter(f, INFINITY)) / 2;
    char exact[160];
    snprintf(exact, sizeof exact, "%.80Lf", mid);  // every digit of the midpoint
    cases.emplace_back(std::string(exact) + "1", f);
  }
  for (const auto& [typed, f] : cases) {
    ASSERT_NE(strtof(typed.c_str(), nullptr), f) << typed;  // the case tells them apart
    Rig rig(typed + "\n");
    float x = 0;
    rig.console.number_input(x);
    EXPECT_EQ(x, f) << typed;
  }
}

// The even float f, half its ulp and 2^-60 of f above it: a 64-bit mantissa
// keeps the tail and rounds up, a 53-bit one lands on the midpoint and goes to even.
TEST(NumberInput, RoundsThroughSixtyFourBitsNotFiftyThree) {
  for (float f : {1.0f, 0.1f, 3e10f, 123.456f}) {
    if (bits(f) & 1) f = std::nextafter(f, 0.0f);
    float up = std::nextafter(f, INFINITY);
    long double exact =
        (static_cast<long double>(f) + up) / 2 + std::ldexp(1.0L, std::ilogb(f) - 60);
    char typed[160];
    snprintf(typed, sizeof typed, "%.90Lf", exact);
    ASSERT_EQ(static_cast<float>(strtod(typed, nullptr)), f) << typed;  // the case tells them apart
    Rig rig(std::string(typed) + "\n");
    float x = 0;
    rig.console.number_input(x);
    EXPECT_EQ(x, up) << typed;
  }
}

// Digits made as they are read: a number far longer than anything kept.
class DigitStream : public MemoryDevice {
 public:
  DigitStream(std::string head, char fill, size_t count, std::string tail)
      : head_(std::move(head)), fill_(fill), count_(count), tail_(std::move(tail)) {}
  size_t read(char* buf, size_t size) override {
    size_t n = 0;
    for (; n < size && pos_ < head_.size() + count_ + tail_.size(); ++n, ++pos_) {
      buf[n] = pos_ < head_.size()            ? head_[pos_]
               : pos_ < head_.size() + count_ ? fill_
                                              : tail_[pos_ - head_.size() - count_];
    }
    return n;
  }

 private:
  std::string head_;
  char fill_;
  size_t count_;
  std::string tail_;
  size_t pos_ = 0;
};

TEST(NumberInput, TenMillionDigitsInFlatMemory) {
  constexpr size_t kDigits = 10'000'000;
  // 1 + 2^-24 + 2^-64: a tie at 64 bits; any digit above it far away breaks the tie.
  const std::string tie = "1.0000000596046447754448351086242752217003726400434970855712890625";
  const struct {
    std::string head;
    char fill;
    std::string tail;
    float value;
  } cases[] = {
      {tie, '0', "1", std::nextafter(1.0f, 2.0f)},
      {tie, '0', "0", 1.0f},
      {"0.", '0', "15e10000002", 15},  // leading zeros only counted
      {"", '9', "e-9999999", 10},      // integer digits past the kept ones still count
      {"-", '7', "e-10000000", -7.0f / 9.0f},
  };
  for (const auto& c : cases) {
    DigitStream device(c.head, c.fill, kDigits, c.tail + "\nend\n");
    Console console(device);
    size_t before = g_heap_live;
    g_heap_peak = before;
    float x = 0;
    console.number_input(x);
    EXPECT_EQ(x, c.value) << c.head << " " << c.fill << " " << c.tail;
    EXPECT_LT(g_heap_peak - before, size_t{64 * 1024}) << "memory grew with the input";
  }
}

TEST(NumberOutput, SixSignificantDigits) {
  const std::pair<float, const char*> cases[] = {{0.0f, "0"},
                                                 {-0.0f, "0"},
                                                 {100, "100"},
                                                 {-50, "-50"},
                                                 {12.5f, "12.5"},
                                                 {19.99f, "19.99"},
                                                 {-19.99f, "-19.99"},
                                                 {0.5f, "0.5"},
                                                 {0.0001f, "0.0001"},
                                                 {0.00001f, "1e-05"},
                                                 {123456.5f, "123456"},
                                                 {999999.5f, "1e+06"},
                                                 {1234567, "1.23457e+06"},
                                                 {FLT_MAX, "3.40282e+38"},
                                                 {INFINITY, "+INF"},
                                                 {-INFINITY, "-INF"},
                                                 {NAN, "+NAN"},
                                                 {-NAN, "-NAN"}};
  for (auto [value, text] : cases) {
    Rig rig("");
    rig.console.number(value);
    EXPECT_EQ(rig.device.output, text);
  }
}

TEST(Output, InTheOrderOfTheCallsAndBoundedByTheField) {
  Rig rig("");
  char no_nul[4] = {'A', 'B', 'C', 'D'};
  char after_nul[6] = {'x', 'y', '\0', 'z', 'z', 'z'};
  rig.console.text(field(no_nul));
  rig.console.text(field(after_nul));
  rig.console.text("");
  rig.console.integer(INT32_MIN);
  rig.console.clear_screen();
  rig.console.formatted("\n");
  rig.console.integer(0);
  rig.console.formatted(" %d|%d", {-7, INT32_MAX});
  dosdate_t date = rig.console.today();  // the device's: 6 December 2026
  rig.console.formatted("\n Date: %d", {date.day});
  rig.console.formatted("/ %d", {static_cast<int32_t>(date.year)});
  EXPECT_EQ(rig.device.output, "ABCDxy-2147483648\x1b[H\x1b[2J\n0 -7|2147483647\n Date: 6/ 2026");
}

// A field's control bytes could move, clear or retitle a terminal; the
// program's own texts and a pipe get every byte as it is.
TEST(Output, FieldsShowNoControlBytesOnATerminal) {
  char stored[40] = "\x1b]0;owned\x07\x1b[2J\tok\x7f\r\n\xc3\xa7";
  for (bool terminal : {false, true}) {
    Rig rig("");
    rig.device.terminal_output = terminal;
    rig.console.text(field(stored));
    rig.console.text({"\n Name: ", field(stored), "\x1b[m\n"});
    std::string shown = terminal ? "?]0;owned??[2J\tok???\xc3\xa7" : stored;
    EXPECT_EQ(rig.device.output, shown + "\n Name: " + shown + "\x1b[m\n") << terminal;
  }
}

TEST(Output, PutOutBeforeEveryWait) {
  Rig rig("w\n");
  rig.device.keyboard = true;
  rig.device.keys = {'k'};
  rig.console.text("\n Name: ");
  rig.word();
  rig.console.number(1.5f);
  rig.console.pause();
  rig.console.text("bye");
  EXPECT_THROW(rig.console.immediate_exit(0), ExitRequest);
  EXPECT_EQ(rig.device.unflushed_waits, 0u);
}

// What must not be held while the person may be waited on (a save's kept
// lock) is let go before every read that may wait, even with nothing written
// before it, and before every write.
bool let_go = false;
TEST(Output, LetGoBeforeEveryWaitAndWrite) {
  Rig rig("w\nline\n");
  rig.device.keyboard = true;
  rig.device.keys = {'k'};
  rig.console.on_wait([] { let_go = true; });
  for (auto step : std::initializer_list<void (*)(Rig&)>{
           [](Rig& r) { r.word(); }, [](Rig& r) { r.line(); }, [](Rig& r) { r.console.pause(); },
           [](Rig& r) { r.console.text("x"); }, [](Rig& r) { r.console.clear_screen(); }}) {
    let_go = false;
    step(rig);
    EXPECT_TRUE(let_go);
  }
}

TEST(Text, EqualityAndCopy) {
  char abc[4] = "abc", abc_tail[6] = {'a', 'b', 'c', '\0', 'q', 'q'}, no_nul[3] = {'a', 'b', 'c'};
  char upper[4] = "ABC", abcd[5] = "abcd", empty[1] = "";
  EXPECT_TRUE(text_equal(abc, abc_tail));
  EXPECT_TRUE(text_equal(abc, no_nul));
  EXPECT_FALSE(text_equal(abc, upper));
  EXPECT_FALSE(text_equal(abc, abcd));
  EXPECT_FALSE(text_equal(empty, abc));
  EXPECT_TRUE(text_equal(empty, ""));

  char dst[8] = "ABCDEFG";
  text_copy(dst, abc);  // the bytes after the NUL stay
  EXPECT_EQ(std::string(dst, 8), std::string("abc\0EFG\0", 8));
  text_copy(dst, empty);
  EXPECT_EQ(std::string(dst, 8), std::string("\0bc\0EFG\0", 8));
}

TEST(Pause, KeysAndThePendingSecondStep) {
  Rig rig("");
  rig.device.keys = {'a'};
  rig.console.pause();  // no keyboard: back at once, the key untouched
  EXPECT_EQ(rig.device.keys.size(), 1u);

  rig.device.keyboard = true;
  rig.device.keys = {'a', 256 + 59, 256, 'b'};  // a, F1, a two-step code of scan code 0
  const size_t keys_left[] = {3, 2, 2, 1, 1, 0};
  const size_t asked[] = {2, 3, 3, 4, 4, 5};
  for (int i = 0; i < 6; ++i) {
    rig.console.pause();
    EXPECT_EQ(rig.device.keys.size(), keys_left[i]) << "pause " << i;
    EXPECT_EQ(rig.device.pauses, asked[i]) << "pause " << i;
  }
}

}  // namespace
}  // namespace orvel
