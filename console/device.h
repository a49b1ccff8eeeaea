// What stands behind the console: a terminal, a pipe or a test's memory, and the date it keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

}  // namespace orvel
