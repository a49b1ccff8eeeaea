// The console primitives: every screen of the program is written in these words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "console/device.h"
#include "console/text.h"

namespace orvel {

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

  // Called before every read that may wait for the person at the keyboard,
  // and every write (a terminal may hold a write back): whatever must not be
  // held meanwhile is let go there.
  void on_wait(void (*let_go)()) { let_go_ = let_go; }

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
  void put(std::string_view bytes) {
    let_go();
    device_.write(bytes);
  }
  void let_go() {
    if (let_go_) let_go_();
  }
  void before_wait();
  void show_field(std::string_view text);

  Device& device_;
  Buffer word_, line_;
  bool failed_ = false;  // the word buffer's failed state
  bool ended_ = false;   // end of input, for both buffers, for good
  std::string ahead_;    // bytes read from the device, not yet given to a buffer
  size_t ahead_pos_ = 0;
  std::optional<int> pending_key_;
  void (*let_go_)() = nullptr;
};

// The process's console: set once by main, or by a test.
Console& con();
void set_console(Console* console);

}  // namespace orvel
