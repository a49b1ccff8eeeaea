// Key sequences of a raw terminal: ESC sequences, Alt with a key, UTF-8 characters.
#include "console/keys.h"

namespace orvel {

namespace {

constexpr int kEsc = 27;
constexpr int kSequenceWait = 50;  // ms: a lone ESC has nothing after it by then
constexpr int kTwoStep = 256;

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

TypedLines typed_lines(std::string_view raw, const LineKeys& keys) {
  TypedLines typed;
  std::string line;
  for (unsigned char c : raw) {
    if (c == '\r' || c == '\n') {
      typed.reads.push_back(line + '\n');
      line.clear();
    } else if (keys.eof != 0 && c == keys.eof) {
      typed.reads.push_back(line);
      line.clear();
    } else if (keys.erase != 0 && c == keys.erase) {
      // A UTF-8 character goes whole when the terminal knows the input is UTF-8.
      while (keys.utf8 && !line.empty() && (line.back() & 0xc0) == 0x80) line.pop_back();
      if (!line.empty()) line.pop_back();
    } else {
      line += static_cast<char>(c);
    }
  }
  typed.unfinished = line;
  return typed;
}

}  // namespace orvel
