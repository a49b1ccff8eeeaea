// The keyboard's modes (line, quiet, raw), set in one place and given back on every way out.
#pragma once

#include <termios.h>

namespace orvel {

enum class KeyMode {
  kLine,   // the mode the terminal was found in: line editing and echo by the terminal
  kQuiet,  // between reads, where keys are taken as typed: they wait unseen and unedited
  kRaw,    // a pause: one key at a time, no echo, Ctrl-C a key
};

// Holds the terminal from its construction to its destruction: the mode in
// effect then is the line mode, and it is given back at the end, before a
// signal that ends the process acts, and while Ctrl-Z has the process stopped.
// One at a time in a process.
class TerminalModes {
 public:
  explicit TerminalModes(int fd);
  ~TerminalModes();
  TerminalModes(const TerminalModes&) = delete;
  TerminalModes& operator=(const TerminalModes&) = delete;

  // False when the keyboard's mode could not be read.
  bool active() const { return active_; }
  // False when the mode could not be set.
  bool set(KeyMode mode);
  // The line mode, as it was found.
  const termios& line() const;

 private:
  int fd_;
  bool active_ = false;
};

// True, once, when the process was stopped (Ctrl-Z) and has been continued
// since the last call: what was on the screen may need drawing again.
bool continued_after_stop();

}  // namespace orvel
