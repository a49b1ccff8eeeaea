// Keys of a raw terminal: the sequences of one key press, and lines typed key by key.
#include "console/keys.h"

#include <utility>

namespace orvel {

namespace {

constexpr int kEsc = 27;
constexpr int kSequenceWait = 50;  // ms: a lone ESC has nothing after it by then
constexpr int kTwoStep = 256;
constexpr size_t kTabStop = 8;

// The PC scan codes of the keys that arrive as escape sequences.
int scan_code_for_final(int final_byte) {
  switch (final_byte) {
    case 'A':
      return 72;  // up
    case 'B':
      return 80;  // down
    case 'C':
      return 77;  // right
    case 'D':
      return 75;  // left
    case 'H':
      return 71;  // home
    case 'F':
      return 79;  // end
    case 'Z':
      return 15;  // shift-tab
    case 'P':
      return 59;  // F1 to F4 as ESC O P..S
    case 'Q':
      return 60;
    case 'R':
      return 61;
    case 'S':
      return 62;
    default:
      return 0;
  }
}

int scan_code_for_number(int n) {
  switch (n) {
    case 1:
    case 7:
      return 71;  // home
    case 2:
      return 82;  // insert
    case 3:
      return 83;  // delete
    case 4:
    case 8:
      return 79;  // end
    case 5:
      return 73;  // page up
    case 6:
      return 81;  // page down
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      return 59 + n - 11;  // F1..F5
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      return 64 + n - 17;  // F6..F10
    case 23:
      return 133;  // F11
    case 24:
      return 134;  // F12
    default:
      return 0;
  }
}

// ESC [ then parameters, intermediates and one final byte.
int read_csi(const NextByte& next) {
  int c = next(kSequenceWait);
  if (c == '[') {  // the Linux console's F1..F5: ESC [ [ A..E
    int f = next(kSequenceWait);
    return kTwoStep + (f >= 'A' && f <= 'E' ? 59 + f - 'A' : 0);
  }
  int number = 0;  // the first parameter; a modifier after ';' does not change the key
  bool first = true;
  while (c >= 0x20 && c <= 0x3f) {
    if (c == ';') first = false;
    if (first && c >= '0' && c <= '9' && number < 1000) number = number * 10 + (c - '0');
    c = next(kSequenceWait);
  }
  int scan = c == '~' ? scan_code_for_number(number) : scan_code_for_final(c);
  return kTwoStep + scan;
}

bool is_alnum(int c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The continuation bytes of a multi-byte UTF-8 character belong to the same key.
void skip_utf8_tail(int lead, const NextByte& next) {
  if (lead < 0xc0 || lead > 0xf7) return;
  int tail = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : 1;
  for (int i = 0; i < tail; ++i) {
    if (next(kSequenceWait) < 0) return;
  }
}

// A key pressed with ESC in front of it: a sequence, Alt with a key, or ESC alone.
int read_escape(const NextByte& next) {
  int c = next(kSequenceWait);
  if (c < 0) return kEsc;
  if (c == '[') return read_csi(next);
  if (c == 'O') return kTwoStep + scan_code_for_final(next(kSequenceWait));
  // Alt with a letter or digit. Every caller discards the key, so one scan code
  // stands for them all: 0x10, the PC's code for Alt-Q.
  if (is_alnum(c)) return kTwoStep + 0x10;
  skip_utf8_tail(c, next);  // Alt with any other character: its bytes go with it
  return kEsc;
}

bool is_utf8_tail(unsigned char c) { return (c & 0xc0) == 0x80; }

// A tab is shown as blanks up to the next stop, not as a control character.
bool is_control(unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; }

// Ctrl-W takes back letters, digits and '_', as the terminal's driver does, and
// every byte of a UTF-8 character, so that a word such as "Muğla" goes whole.
bool is_word_byte(unsigned char c) { return is_alnum(c) || c == '_' || c >= 0x80; }

}  // namespace

int read_key_code(const NextByte& next) {
  int c = next(-1);
  if (c < 0) return -1;
  if (c == kEsc) return read_escape(next);
  skip_utf8_tail(c, next);
  return c;
}

std::string without_key_sequences(std::string_view bytes) {
  std::string out;
  size_t pos = 0;
  // The decoder reads the line up to its newline and finds it ended there.
  NextByte next = [&](int) {
    if (pos >= bytes.size() || bytes[pos] == '\n') return -1;
    return static_cast<int>(static_cast<unsigned char>(bytes[pos++]));
  };
  while (pos < bytes.size()) {
    // Only ESC starts a sequence; any other byte is text as typed, even one
    // that would lead a UTF-8 character (a Latin-1 letter, say).
    if (bytes[pos] != '\x1b') {
      out += bytes[pos++];
      continue;
    }
    size_t start = pos;
    if (read_key_code(next) < kTwoStep) out.append(bytes.substr(start, pos - start));
  }
  return out;
}

bool TypedLine::take(unsigned char key) {
  if (key == '\r' || key == '\n') {
    text_ += '\n';
    if (keys_.echo) shown_ += '\n';
    return true;
  }
  if (keys_.eof != 0 && key == keys_.eof) return true;
  if (keys_.erase != 0 && key == keys_.erase) {
    size_t from = text_.size();
    if (from > 0) --from;
    // A UTF-8 character goes whole when the terminal knows the input is UTF-8.
    while (keys_.utf8 && from > 0 && is_utf8_tail(text_[from])) --from;
    take_back(from);
  } else if (keys_.kill != 0 && key == keys_.kill) {
    take_back(0);
  } else if (keys_.werase != 0 && key == keys_.werase) {
    // What is no word first (blanks, punctuation), then the word before it.
    size_t from = text_.size();
    while (from > 0 && !is_word_byte(text_[from - 1])) --from;
    while (from > 0 && is_word_byte(text_[from - 1])) --from;
    take_back(from);
  } else {
    size_t before = text_.size();
    text_ += static_cast<char>(key);
    if (!keys_.echo) return false;
    if (keys_.echo_ctl && is_control(key)) {
      shown_ += '^';
      shown_ += static_cast<char>(key ^ 0x40);
    } else {
      shown_.append(text_, before);
    }
  }
  return false;
}

std::string TypedLine::shown() { return std::exchange(shown_, {}); }

// The screen column after the line's first `end` bytes as they are shown.
size_t TypedLine::column_at(size_t end) const {
  size_t column = start_;
  for (size_t i = 0; i < end; ++i) {
    unsigned char c = text_[i];
    if (c == '\t') {
      column = (column / kTabStop + 1) * kTabStop;
    } else if (is_control(c)) {
      column += keys_.echo_ctl ? 2 : 0;
    } else if (!is_utf8_tail(c)) {
      ++column;
    }
  }
  return column;
}

// Takes the text from `from` on out of the line, and off the screen.
void TypedLine::take_back(size_t from) {
  if (keys_.echo) {
    for (size_t n = column_at(text_.size()) - column_at(from); n > 0; --n) shown_ += "\b \b";
  }
  text_.resize(from);
}

}  // namespace orvel
