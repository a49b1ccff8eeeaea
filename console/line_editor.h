// Lines typed at a terminal read with GNU readline: the editing keys of any shell, one history.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvel {

// True when TERM names a terminal the editor can draw on (set, not "dumb").
bool can_edit_lines(const char* term);

// The screen's current line as the editor must measure it: tabs expanded to
// the terminal's stops every eight columns, escape sequences marked as taking
// no room.
std::string prompt_for(std::string_view shown);
// The column the cursor stands at after the screen's current line, measured so.
size_t screen_column(std::string_view shown);

// One per process, made before the first line is read.
class LineEditor {
 public:
  LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  // False when the terminal database does not know the terminal: the editor
  // could not move up a row and would scroll a long line sideways, the prompt
  // out of sight.
  bool draws_lines() const;

  // One line, without its newline; nothing at the end of input (Ctrl-D on an
  // empty line). `shown` is the screen's current line, already printed: the
  // editor draws it again when it redraws the line. The keys in `kept` were
  // typed ahead: the editor takes them first, as typed, and leaves there what
  // it did not need.
  std::optional<std::string> read_line(std::string_view shown, std::string& kept);
};

}  // namespace orvel
