// The console primitives: every screen of the program is written in these words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvel {

struct dosdate_t {
  uint8_t day;
  uint8_t month;
  uint32_t year;
  uint8_t dayofweek;  // 0 = Sunday
};

// What stands behind the console: a terminal, a pipe or a test's memory.
class Device {
 public:
  virtual ~Device() = default;
  // Typed input, as read(2) gives it: 0 at end of input.
  virtual size_t read(char* buf, size_t size) = 0;
  // True when each read delivers one finished line (a terminal in line mode).
  virtual bool reads_lines() const = 0;
  virtual void write(std::string_view bytes) = 0;
  // Puts out everything written so far; called before any wait and before exit.
  virtual void flush() = 0;
  virtual void clear_screen() = 0;
  // Waits for one key press and gives its code (256 and up for a two-step key),
  // or nothing when there is no keyboard to wait on.
  virtual std::optional<int> read_key() = 0;
  virtual dosdate_t today() = 0;
  [[noreturn]] virtual void exit(int status) = 0;
};

// A text field's characters: up to its NUL, never past its width.
template <size_t N>
std::string_view field(const char (&f)[N]) {
  return {f, strnlen(f, N)};
}

template <size_t N, size_t M>
bool text_equal(const char (&a)[N], const char (&b)[M]) {
  return field(a) == field(b);
}

// Copies the source's characters and NUL; the destination's bytes after the NUL stay.
template <size_t N, size_t M>
void text_copy(char (&dst)[N], const char (&src)[M]) {
  static_assert(M <= N, "the source must fit the destination");
  std::string_view s = field(src);
  size_t n = s.size() < N ? s.size() : N - 1;
  memcpy(dst, s.data(), n);
  dst[n] = '\0';
}

std::string format_number(float value);
float decimal_to_float(const std::string& decimal);

class Console {
 public:
  explicit Console(Device& device) : device_(device) {}

  void clear_screen();
  void pause();
  void line_input(std::span<char> field);
  // Into a record field: a read that finds no word stores the empty text.
  void word_input(std::span<char> field);
  // Into an operation's working value: a read that finds no word leaves it.
  void word_value(std::span<char> value);
  void choice_input(char& c);
  void number_input(float& x);

  void text(std::string_view s);
  // A literal or a field: its text, bounded by its width.
  template <size_t N>
  void text(const char (&s)[N]) {
    text(field(s));
  }
  // Several texts in a row; each field must come through field().
  void text(std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) text(piece);
  }
  void integer(int32_t value);
  void number(float value);
  void formatted(std::string_view format, std::initializer_list<int32_t> args = {});

  dosdate_t today() { return device_.today(); }
  [[noreturn]] void immediate_exit(int status);

 private:
  struct Buffer {
    std::string chars;
    size_t pos = 0;
  };
  static constexpr int kEnd = -1;
  static constexpr size_t kRefill = 512;

  std::string next_line();
  int peek(Buffer& b);
  void take(Buffer& b) { ++b.pos; }
  bool skip_blanks();
  bool read_word(std::span<char> field);
  bool accept(std::string& taken, bool (*fits)(int));

  Device& device_;
  Buffer word_, line_;
  bool failed_ = false;  // the word buffer's failed state
  bool ended_ = false;   // end of input, for both buffers, for good
  std::string ahead_;    // bytes read from the device, not yet given to a buffer
  size_t ahead_pos_ = 0;
  std::optional<int> pending_key_;
};

// The process's console: set once by main, or by a test.
Console& con();
void set_console(Console* console);

// A prompt and the read that answers it.
void ask_word(const char* prompt, std::span<char> field);
void ask_value(const char* prompt, std::span<char> value);
void ask_line(const char* prompt, std::span<char> field);

// An update's prompt: its working value read, then copied into the record's field.
template <size_t M, size_t N>
void ask_new_value(const char* prompt, char (&value)[M], char (&field)[N]) {
  ask_value(prompt, value);
  text_copy(field, value);
}
template <size_t M, size_t N>
void ask_new_line(const char* prompt, char (&value)[M], char (&field)[N]) {
  ask_line(prompt, value);
  text_copy(field, value);
}

// Today's date as the adds show it: "\n Date: 6/ 12/ 2026".
void show_today();

}  // namespace orvel
