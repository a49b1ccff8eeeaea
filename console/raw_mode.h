// Raw keyboard mode for one pause, undone on every way out, a fatal signal included.
#pragma once

#include <termios.h>

namespace orvel {

class RawMode {
 public:
  explicit RawMode(int fd);
  ~RawMode();
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

  // False when the keyboard's mode could not be read or set.
  bool active() const { return active_; }
  // The mode in effect before, given back when the pause ends.
  const termios& saved() const;

 private:
  int fd_;
  bool active_ = false;
};

}  // namespace orvel
