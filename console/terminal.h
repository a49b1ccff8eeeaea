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
  std::string read_typed_line();
  size_t read_edited(char* buf, size_t size);
  void keep_waiting_keys();
  void settle();
  void echo(std::string_view shown);

  bool in_tty_;
  bool out_tty_;
  // The controlling terminal, for clearing and for what typed keys show when
  // output goes elsewhere.
  int tty_fd_ = -1;
  std::string out_;
  // Keys typed while the keyboard was out of line mode (at a pause, or after
  // the Enter of a line read key by key): the next pause takes from them
  // first, as from the keyboard; the next line takes them as typed keys.
  std::string typed_;
  // The keyboard's modes, held from start to end at a terminal.
  std::optional<TerminalModes> modes_;
  // On a terminal that can show it, lines are read with the line editor.
  std::optional<LineEditor> editor_;
  std::string unread_;  // what is left of the line read last
  // The screen's current line as printed: the editor's prompt, and where a
  // line read key by key starts.
  std::string screen_line_;
};

// Today in the machine's time zone, as the terminal gives it.
dosdate_t local_date();

}  // namespace orvel
