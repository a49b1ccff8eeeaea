// The input model (two buffers, one line a refill) and the output primitives.
#include "console/console.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "console/number.h"

namespace orvel {

namespace {

Console* g_console = nullptr;

constexpr char kEndOfFile = 26;  // Ctrl-Z ends the input where it stands

bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_sign(int c) { return c == '+' || c == '-'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_point(int c) { return c == '.'; }
bool is_exponent(int c) { return c == 'e' || c == 'E'; }

// A word's or line's bytes as far as its field's cut can look: up to three
// past the W-1 it holds. The rest is dropped.
void keep(std::string& kept, int c, std::span<char> field) {
  if (kept.size() < field.size() + 2) kept += static_cast<char>(c);
}

// A word or line into its field: as much as fits without splitting a character, and the NUL.
void store(std::string_view text, std::span<char> field) {
  size_t n = utf8_cut(text, field.size() - 1);
  text.copy(field.data(), n);
  field[n] = '\0';
}

}  // namespace

Console& con() { return *g_console; }
void set_console(Console* console) { g_console = console; }

// One refill: the next line through its newline, or its first 512 characters.
// Carriage returns are dropped before they count.
std::string Console::next_line() {
  std::string line;
  if (ended_) return line;
  bool read_now = false;
  for (;;) {
    while (ahead_pos_ < ahead_.size() && line.size() < kRefill) {
      char c = ahead_[ahead_pos_++];
      if (c == '\r') continue;
      if (c == kEndOfFile) {
        ended_ = true;  // the rest of the input is never read
        return line;
      }
      line += c;
      if (c == '\n') return line;
    }
    if (line.size() == kRefill) return line;
    // A terminal hands over a finished line per read; a line without a
    // newline there was ended by the end-of-file key. A read of nothing but
    // carriage returns (a key pressed twice at a pause) is not that: it
    // delivered characters, so the wait goes on for a line.
    if (read_now && device_.reads_lines() && !line.empty()) return line;
    // Everything written is out before the read that may wait; a line already
    // read ahead waits for nothing, so a pipe's output goes out in large writes.
    before_wait();
    char chunk[4096];
    size_t n = device_.read(chunk, sizeof chunk);
    if (n == 0) {
      ended_ = true;
      return line;
    }
    ahead_.assign(chunk, n);
    ahead_pos_ = 0;
    read_now = true;
  }
}

int Console::peek(Buffer& b) {
  if (b.pos >= b.chars.size()) {
    b.chars = next_line();
    b.pos = 0;
    if (b.chars.empty()) return kEnd;
  }
  return static_cast<unsigned char>(b.chars[b.pos]);
}

// False, with the word buffer failed, when the input ends first.
bool Console::skip_blanks() {
  int c;
  while (is_blank(c = peek(word_))) take(word_);
  if (c == kEnd) failed_ = true;
  return c != kEnd;
}

bool Console::read_word(std::span<char> field) {
  if (failed_ || !skip_blanks()) return false;
  std::string kept;
  int c;
  while ((c = peek(word_)) != kEnd && !is_blank(c)) {
    take(word_);
    keep(kept, c, field);
  }
  store(kept, field);
  if (c == kEnd) failed_ = true;
  return true;
}

void Console::word_input(std::span<char> field) {
  if (!read_word(field)) field[0] = '\0';
}

void Console::word_value(std::span<char> value) { read_word(value); }

void Console::choice_input(char& c) {
  // A failed number leaves its line behind: drop it and wait for a new one.
  if (failed_) {
    failed_ = false;
    word_.pos = word_.chars.size();
  }
  if (!skip_blanks()) immediate_exit(0);
  c = static_cast<char>(peek(word_));
  take(word_);
}

// The next character when it fits (and takes it), else kEnd.
int Console::accept(bool (*fits)(int)) {
  int c = peek(word_);
  if (c == kEnd || !fits(c)) return kEnd;
  take(word_);
  return c;
}

void Console::number_input(float& x) {
  if (failed_ || !skip_blanks()) return;
  Decimal number;
  if (accept(is_sign) == '-') number.negate();
  bool digits = false;
  for (int c; (c = accept(is_digit)) != kEnd; digits = true) number.integer_digit(c);
  if (accept(is_point) != kEnd) {
    for (int c; (c = accept(is_digit)) != kEnd; digits = true) number.fraction_digit(c);
  }
  if (!digits) {
    failed_ = true;
    return;
  }
  if (accept(is_exponent) != kEnd) {
    if (accept(is_sign) == '-') number.negate_exponent();
    bool exponent_digits = false;
    for (int c; (c = accept(is_digit)) != kEnd; exponent_digits = true) number.exponent_digit(c);
    if (!exponent_digits) {
      failed_ = true;
      return;
    }
  }
  x = number.value();
}

void Console::line_input(std::span<char> field) {
  std::string kept;
  bool took = false;
  int c;
  while ((c = peek(line_)) != kEnd) {
    take(line_);
    took = true;
    if (c == '\n') break;
    keep(kept, c, field);
  }
  if (took) store(kept, field);
}

void Console::pause() {
  if (pending_key_) {
    pending_key_.reset();
    return;
  }
  before_wait();
  std::optional<int> code = device_.read_key();
  if (code && *code >= 256) pending_key_ = *code - 256;
}

void Console::before_wait() {
  let_go();
  device_.flush();
}

void Console::clear_screen() {
  let_go();
  device_.clear_screen();
}

// A terminal acts on the control bytes a field may hold (a data file from
// anyone); a pipe or a file gets the stored bytes as they are.
void Console::show_field(std::string_view text) {
  if (device_.writes_terminal()) {
    put(masked(text));
  } else {
    put(text);
  }
}

void Console::text(std::initializer_list<Piece> pieces) {
  for (const Piece& piece : pieces) {
    if (piece.is_field()) {
      show_field(piece.text());
    } else {
      put(piece.text());
    }
  }
}

void Console::integer(int32_t value) { put(std::to_string(value)); }

void Console::number(float value) { put(format_number(value)); }

void Console::formatted(Literal literal, std::initializer_list<int32_t> args) {
  std::string_view format = literal.view();
  std::string out;
  const int32_t* next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format.substr(i, 2) == "%d" && next != args.end()) {
      out += std::to_string(*next++);
      ++i;
    } else {
      out += format[i];
    }
  }
  put(out);
}

void Console::immediate_exit(int status) {
  device_.flush();
  device_.exit(status);
  std::abort();  // a device's exit never comes back
}

}  // namespace orvel
