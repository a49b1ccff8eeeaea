// The input model (two buffers, one line a refill) and the output primitives.
#include "console/console.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

Console& con() { return *g_console; }
void set_console(Console* console) { g_console = console; }

void ask_word(const char* prompt, std::span<char> field) {
  con().text(prompt);
  con().word_input(field);
}

void ask_value(const char* prompt, std::span<char> value) {
  con().text(prompt);
  con().word_value(value);
}

void ask_line(const char* prompt, std::span<char> field) {
  con().text(prompt);
  con().line_input(field);
}

void show_today() {
  dosdate_t date = con().today();
  con().formatted("\n Date: %d", {date.day});
  con().formatted("/ %d", {date.month});
  con().formatted("/ %d", {static_cast<int32_t>(date.year)});
}

// One refill: the next line through its newline, or its first 512 characters.
// Carriage returns are dropped before they count.
std::string Console::next_line() {
  std::string line;
  if (ended_) return line;
  device_.flush();
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
    // newline there was ended by the end-of-file key.
    if (read_now && device_.reads_lines()) return line;
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
  size_t n = 0;
  int c;
  while ((c = peek(word_)) != kEnd && !is_blank(c)) {
    take(word_);
    if (n + 1 < field.size()) field[n++] = static_cast<char>(c);
  }
  field[n] = '\0';
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

bool Console::accept(std::string& taken, bool (*fits)(int)) {
  int c = peek(word_);
  if (c == kEnd || !fits(c)) return false;
  take(word_);
  taken += static_cast<char>(c);
  return true;
}

void Console::number_input(float& x) {
  if (failed_ || !skip_blanks()) return;
  std::string taken;
  accept(taken, is_sign);
  int digits = 0;
  while (accept(taken, is_digit)) ++digits;
  if (accept(taken, is_point)) {
    while (accept(taken, is_digit)) ++digits;
  }
  if (digits == 0) {
    failed_ = true;
    return;
  }
  if (accept(taken, is_exponent)) {
    accept(taken, is_sign);
    int exponent_digits = 0;
    while (accept(taken, is_digit)) ++exponent_digits;
    if (exponent_digits == 0) {
      failed_ = true;
      return;
    }
  }
  x = decimal_to_float(taken);
}

void Console::line_input(std::span<char> field) {
  size_t n = 0;
  bool took = false;
  int c;
  while ((c = peek(line_)) != kEnd) {
    take(line_);
    took = true;
    if (c == '\n') break;
    if (n + 1 < field.size()) field[n++] = static_cast<char>(c);
  }
  if (took) field[n] = '\0';
}

void Console::pause() {
  if (pending_key_) {
    pending_key_.reset();
    return;
  }
  device_.flush();
  std::optional<int> code = device_.read_key();
  if (code && *code >= 256) pending_key_ = *code - 256;
}

void Console::clear_screen() { device_.clear_screen(); }

void Console::text(std::string_view s) { device_.write(s); }

void Console::integer(int32_t value) { text(std::to_string(value)); }

void Console::number(float value) { text(format_number(value)); }

void Console::formatted(std::string_view format, std::initializer_list<int32_t> args) {
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
  text(out);
}

void Console::immediate_exit(int status) {
  device_.flush();
  device_.exit(status);
  std::abort();  // a device's exit never comes back
}

// General notation with 6 significant digits, as printf's %g; zero is 0
// whatever its sign, and a value that is not finite is +INF, -INF, +NAN or -NAN.
std::string format_number(float value) {
  if (value == 0) return "0";
  const char* sign = std::signbit(value) ? "-" : "+";
  if (std::isinf(value)) return std::string(sign) + "INF";
  if (std::isnan(value)) return std::string(sign) + "NAN";
  char out[32];
  snprintf(out, sizeof out, "%.6g", static_cast<double>(value));
  return out;
}

// The exact decimal value rounded to extended precision (a 64-bit mantissa),
// then to single precision; beyond the single range it is the largest value.
float decimal_to_float(const std::string& decimal) {
  long double wide = strtold(decimal.c_str(), nullptr);
  // Clamped before the conversion, which is undefined for values out of range.
  if (std::fabs(wide) > FLT_MAX) return wide < 0 ? -FLT_MAX : FLT_MAX;
  return static_cast<float>(wide);
}

}  // namespace orvel
