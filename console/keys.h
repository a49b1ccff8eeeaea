// Keys of a raw terminal: one key press's bytes as its code, and lines typed key by key.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orvel {

// Gives the next byte, or -1 when none comes within timeout_ms (-1: wait for ever)
// or the input is closed.
using NextByte = std::function<int(int timeout_ms)>;

// The code of the next key press: below 256 for a key that gives a character,
// 256 plus a scan code for a function, cursor or editing key or Alt with a key.
// -1 when the input is closed.
int read_key_code(const NextByte& next);

// The bytes as typed, less every sequence read_key_code takes for a two-step
// key (cursor and function keys, Alt with a key). A lone ESC, or ESC with what
// makes no such key, stays; a newline is never part of a sequence.
std::string without_key_sequences(std::string_view bytes);

// The editing keys and echo of the terminal's line mode; 0 for a key that is disabled.
struct LineKeys {
  int erase = 0;          // takes back the last character of the line
  int kill = 0;           // takes back the whole line
  int werase = 0;         // takes back the last word
  int eof = 0;            // ends the line without a newline; at its start, the input
  bool utf8 = false;      // a character is taken back whole, not its last byte
  bool echo = false;      // what is typed is shown
  bool echo_ctl = false;  // a control character is shown as ^ and a letter
};

// A line typed key by key, edited and shown as the terminal's line mode would
// have: for keys typed while the keyboard was out of line mode, which line
// mode can no longer be given.
class TypedLine {
 public:
  // `column`: where on the screen the line starts, for taking back a tab.
  TypedLine(const LineKeys& keys, size_t column) : keys_(keys), start_(column) {}

  // Takes one key; true once the line is finished (Enter, or the end-of-file key).
  bool take(unsigned char key);
  // What the keys taken since the last call show on the screen.
  std::string shown();
  // The line as read: its text, with the newline after Enter; an empty one
  // finished is the end of input.
  const std::string& text() const { return text_; }

 private:
  size_t column_at(size_t end) const;
  void take_back(size_t from);

  LineKeys keys_;
  size_t start_;
  std::string text_;
  std::string shown_;
};
}  // namespace orvel
