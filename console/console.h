// The console primitives: every screen of the program is written in these words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "console/text.h"

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
  // True when what is written shows on a terminal, which acts on control bytes.
  virtual bool writes_terminal() const = 0;
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

std::string format_number(float value);

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

  // The program's own text, as it is.
  void text(Literal s) { put(s.view()); }
  // A field's text: on a terminal with its control bytes masked.
  void text(Field f) { show_field(f.text()); }
  // Several in a row, literals and fields mixed.
  void text(std::initializer_list<Piece> pieces);
  void integer(int32_t value);
  void number(float value);
  void formatted(Literal format, std::initializer_list<int32_t> args = {});

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
  int accept(bool (*fits)(int));
  void put(std::string_view bytes) { device_.write(bytes); }
  void show_field(std::string_view text);

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
void ask_word(Literal prompt, std::span<char> field);
void ask_value(Literal prompt, std::span<char> value);
void ask_line(Literal prompt, std::span<char> field);

// An update's prompt: its working value read, then copied into the record's field.
template <size_t M, size_t N>
void ask_new_value(Literal prompt, char (&value)[M], char (&field)[N]) {
  ask_value(prompt, value);
  text_copy(field, value);
}
template <size_t M, size_t N>
void ask_new_line(Literal prompt, char (&value)[M], char (&field)[N]) {
  ask_line(prompt, value);
  text_copy(field, value);
}

// Today's date as the adds show it: "\n Date: 6/ 12/ 2026".
void show_today();

}  // namespace orvel
