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

// What taking back `n` columns shows: back, a blank over the character, back again.
std::string back(int n) { return n > 0 ? "\b \b" + back(n - 1) : ""; }

// One line typed out of line mode, edited and shown as line mode would have:
// the keys after the one that ends it are the next line's.
TEST(TypedLine, AsLineModeEditsAndShowsIt) {
  // Backspace, Ctrl-U, Ctrl-W and Ctrl-D; UTF-8; echo, of a control key as ^X.
  const LineKeys keys{0x7f, 0x15, 0x17, 0x04, true, true, true};
  LineKeys bytes = keys, no_werase = keys, no_echo = keys;
  bytes.utf8 = false;
  no_werase.werase = 0;
  no_echo.echo = false;
  const struct {
    std::string raw;  // octal escapes: \177 Backspace, \025 Ctrl-U, \027 Ctrl-W, \004 Ctrl-D
    std::string text;
    std::string shown;
    LineKeys keys;
    size_t column = 0;  // where the line starts on the screen
  } cases[] = {
      {"ab\177\177\177c\rd", "c\n", "ab" + back(2) + "c\n", keys},  // no erase past the start
      {"a\xc5\x9f\177", "a", "a\xc5\x9f" + back(1), keys},
      {"a\xc5\x9f\177", "a\xc5", "a\xc5\x9f", bytes},
      {"ab\004c", "ab", "ab", keys},
      {"ab cd\025x", "x", "ab cd" + back(5) + "x", keys},
      {"Ankara Mu\xc4\x9fla. \027", "Ankara ", "Ankara Mu\xc4\x9fla. " + back(7), keys},
      {"a\003\027\177", "a\003", "a^C^W" + back(2), no_werase},
      {"ab\t\177", "ab", "ab\t" + back(3), keys, 3},  // the tab from column 5 to 8
      {"ab\177c\r", "ac\n", "", no_echo},
  };
  for (const auto& c : cases) {
    TypedLine line(c.keys, c.column);
    for (unsigned char key : c.raw) {
      if (line.take(key)) break;
    }
    EXPECT_EQ(line.text(), c.text) << c.raw;
    EXPECT_EQ(line.shown(), c.shown) << c.raw;
  }
}

}  // namespace
}  // namespace orvel
