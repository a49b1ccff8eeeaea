// Turns the bytes of one key press on a raw terminal into the key's code.
#pragma once

#include <deque>
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

// The editing keys of the terminal's line mode; 0 for one that is disabled.
struct LineKeys {
  int erase = 0;  // takes back the last character of the line
  int eof = 0;    // ends the line without a newline; at its start, the input
  bool utf8 = false;
};

// Keys typed in raw mode, as line mode would have delivered them: one read a
// line, CR as the newline, the erase and end-of-file keys acting.
struct TypedLines {
  std::deque<std::string> reads;  // an empty one is the end of input
  std::string unfinished;         // typed without Enter: the start of the next line
};
TypedLines typed_lines(std::string_view raw, const LineKeys& keys);

}  // namespace orvel
