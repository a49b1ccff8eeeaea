// The console device of a real process: standard input and output, a terminal or not.
#pragma once

#include <optional>
#include <string>

#include "console/console.h"
#include "console/keys.h"
#include "console/line_editor.h"
#include "console/raw_mode.h"

namespace orvel {

class Terminal : public Device {
 public:
  Terminal();
  ~Terminal() override;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  size_t read(char* buf, size_t size) override;
  bool reads_lines() const override { return in_tty_; }
  bool writes_terminal() const override { return out_tty_; }
  void write(std::string_view bytes) override;
  void flush() override;
  void clear_screen() override;
  std::optional<int> read_key() override;
  dosdate_t today() override;
  [[noreturn]] void exit(int status) override;

 private:
  size_t read_input(char* buf, size_t size);
  std::string next_read();
  size_t read_edited(char* buf, size_t size);

  bool in_tty_;
  bool out_tty_;
  int tty_fd_ = -1;  // the controlling terminal, for clearing when output goes elsewhere
  std::string out_;
  // Keys typed at a pause after its own key: the next pause takes from them
  // first, as from the keyboard; a line read takes them as line mode would,
  // or the line editor as typed keys.
  std::string typed_;
  LineKeys line_keys_;
  TypedLines typed_lines_;  // what a line read takes before the keyboard's next line
  // On a terminal that can show it, lines are read with the line editor; the
  // keyboard is then held in its modes from start to end.
  std::optional<TerminalModes> modes_;
  std::optional<LineEditor> editor_;
  std::string edited_;       // what is left of the line read last
  std::string screen_line_;  // the screen's current line as printed, the editor's prompt
};

// Today in the machine's time zone, as the terminal gives it.
dosdate_t local_date();

}  // namespace orvel
