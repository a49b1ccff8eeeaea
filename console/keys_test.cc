// Key presses of a raw terminal, from scripted bytes, turned into one code each.
#include "console/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvel {
namespace {

constexpr int kTimeout = -1;  // in a script: no byte comes within the wait

// Gives the scripted bytes in order and notes each wait asked for; after the
// script the input is closed.
struct Script {
  explicit Script(std::vector<int> b) : bytes(std::move(b)) {}
  std::vector<int> bytes;
  size_t pos = 0;
  std::vector<int> waits;
  int operator()(int timeout_ms) {
    waits.push_back(timeout_ms);
    return pos < bytes.size() ? bytes[pos++] : -1;
  }
  int key() { return read_key_code(std::ref(*this)); }
};

std::string times(int n, std::string_view s) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::vector<int> bytes_of(const std::string& s) {
  std::vector<int> out;
  for (unsigned char c : s) out.push_back(c);
  return out;
}

TEST(KeyCode, EachSequenceIsOneWholeKeyPress) {
  const int kAny = -2;  // any two-step code will do
  const struct {
    std::string bytes;
    int code;
  } cases[] = {
      {"a", 'a'},
      {"\r", 13},
      {"\x03", 3},       // Ctrl-C only ends the pause
      {"\x1b\x1b", 27},  // Esc pressed twice is read as one Esc key
      {"\x1bOP", 256 + 59},
      {"\x1b[11~", 256 + 59},
      {"\x1b[[A", 256 + 59},  // the Linux console's F1
      {"\x1b[A", 256 + 72},
      {"\x1b[1;5A", kAny},
      {"\x1b[3~", 256 + 83},
      {"\x1bx", kAny},  // Alt+x
      {"\x1b"
       "7",
       kAny},
      {"\xc3\xa9", 0xc3},  // a two-byte character
      {"\xe2\x82\xac", 0xe2},
      {"\xf0\x9f\x98\x80", 0xf0},
      {"\x1b\xc3\xa9", 27},  // Alt with a character that is not a letter or digit
  };
  for (const auto& c : cases) {
    Script in{bytes_of(c.bytes + "z")};
    int code = in.key();
    if (c.code == kAny) {
      EXPECT_GE(code, 256) << c.bytes;
    } else {
      EXPECT_EQ(code, c.code) << c.bytes;
    }
    EXPECT_EQ(in.key(), 'z') << c.bytes;         // the next call starts after the whole press
    EXPECT_EQ(in.waits.front(), -1) << c.bytes;  // a key press is waited for without end
  }
}

TEST(KeyCode, ALoneEscIsEndedByTheShortWait) {
  Script in{{27, kTimeout, 'a'}};
  EXPECT_EQ(in.key(), 27);
  ASSERT_EQ(in.waits.size(), 2u);
  EXPECT_GT(in.waits[1], 0);
  EXPECT_LE(in.waits[1], 200);  // short enough not to be felt, long enough for a sequence
  EXPECT_EQ(in.key(), 'a');
}

TEST(KeyCode, CutShortSequencesStillEndAtTheWait) {
  const std::vector<int> cases[] = {
      {27, '[', '1', kTimeout, 'a'},
      {27, 'O', kTimeout, 'a'},
      {0xe2, 0x82, kTimeout, 'a'},
  };
  for (const std::vector<int>& bytes : cases) {
    Script in{bytes};
    EXPECT_GE(in.key(), 0);
    EXPECT_EQ(in.key(), 'a') << bytes[0];
  }
}

TEST(KeyCode, ClosedInput) {
  Script closed{std::vector<int>{}};
  EXPECT_EQ(closed.key(), -1);
  Script esc_then_closed{{27}};
  EXPECT_EQ(esc_then_closed.key(), 27);
  EXPECT_EQ(esc_then_closed.key(), -1);
}

// A line typed on a terminal keeps its text and loses the keys that move the cursor.
TEST(KeySequences, TakenOutOfATypedLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"Demr\x1b[Di\n", "Demri\n"},
      {"a\x1b[Ab\x1bOPc\x1b[15~d\x1b[1;5Ce\n", "abcde\n"},
      {"\xc3\x87"
       "a\x1b[3~\xc4\x9f\n",
       "\xc3\x87"
       "a\xc4\x9f\n"},
      {"a\x1bx\n", "a\n"},                     // Alt with a letter is a two-step key too
      {"a\x1b", "a\x1b"},                      // a lone ESC stays
      {"a\x1b\n", "a\x1b\n"},                  // and the newline after it
      {"a\x1b\xc3\xa9\n", "a\x1b\xc3\xa9\n"},  // ESC with a character that makes no key
      {"\xe9\x1b[D\n", "\xe9\n"},              // a Latin-1 letter, then Left
      {"\x1b[A", ""},
  };
  for (const auto& [typed, kept] : cases) EXPECT_EQ(without_key_sequences(typed), kept) << typed;
}

// The line mode of a usual terminal: Backspace, Ctrl-U, Ctrl-W, Ctrl-D, UTF-8, echo as ^X.
constexpr LineKeys kKeys{.erase = 0x7f,
                         .kill = 0x15,
                         .werase = 0x17,
                         .eof = 0x04,
                         .utf8 = true,
                         .echo = true,
                         .echo_ctl = true};

// Keys that came out of line mode, edited and shown as line mode would have.
TEST(TypedLine, AsLineModeEditsAndShowsIt) {
  LineKeys bytes = kKeys, no_werase = kKeys, no_echo = kKeys;
  bytes.utf8 = false;
  no_werase.werase = 0;
  no_echo.echo = false;
  auto back = [](int columns) { return times(columns, "\b \b"); };
  const struct {
    std::string raw;
    std::vector<std::string> reads;  // the finished lines
    std::string unfinished;
    std::string shown;
    LineKeys keys = kKeys;
    size_t column = 0;
  } cases[] = {
      {"\r\r", {"\n", "\n"}, "", "\n\n"},
      {"5\r", {"5\n"}, "", "5\n"},
      {"ab", {}, "ab", "ab"},
      {"ab\x7f\x7f\x7f"
       "c\r\x7f"
       "d",
       {"c\n"},
       "d",
       "ab" + back(2) + "c\nd"},  // no erase past a line's start
      {"a\xc5\x9f\x7f\r", {"a\n"}, "", "a\xc5\x9f" + back(1) + "\n"},
      {"a\xc5\x9f\x7f\r", {"a\xc5\n"}, "", "a\xc5\x9f\n", bytes},
      {"ab\x04\x04x\n", {"ab", "", "x\n"}, "", "abx\n"},  // the second one: the end of input
      {"ab cd\x15x", {}, "x", "ab cd" + back(5) + "x"},
      {"Ankara Mu\xc4\x9fla. \x17", {}, "Ankara ", "Ankara Mu\xc4\x9fla. " + back(7)},
      {"ab\x17", {}, "ab\x17", "ab^W", no_werase},
      {"a\x03\x7f", {}, "a", "a^C" + back(2)},
      {"ab\t\x7f", {}, "ab", "ab\t" + back(3), kKeys, 3},  // the tab from column 5 to 8
      {"ab\x7f"
       "c\r",
       {"ac\n"},
       "",
       "",
       no_echo},
  };
  for (const auto& c : cases) {
    std::vector<std::string> reads;
    std::string shown;
    TypedLine line(c.keys, c.column);
    for (unsigned char key : c.raw) {
      if (!line.take(key)) continue;
      shown += line.shown();
      reads.push_back(line.text());
      line = TypedLine(c.keys, 0);
    }
    shown += line.shown();
    EXPECT_EQ(reads, c.reads) << c.raw;
    EXPECT_EQ(line.text(), c.unfinished) << c.raw;
    EXPECT_EQ(shown, c.shown) << c.raw;
  }
}

}  // namespace
}  // namespace orvel
