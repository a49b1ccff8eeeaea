// A console device in memory: scripted input and keys in, a transcript out.
#pragma once

#include <deque>
#include <string>

#include "console/console.h"

namespace orvel {

// What an immediate exit throws, so a test or a fuzz run ends and the process goes on.
struct ExitRequest {
  int status;
};

class MemoryDevice : public Device {
 public:
  std::string input;
  std::string output;
  std::deque<int> keys;             // the key codes a pause gets, in order
  bool keyboard = false;            // false: a pause returns at once, as on a pipe
  std::string clear_mark = "\x1b[H\x1b[2J";  // what a clear screen adds to the output
  dosdate_t date{6, 12, 2026, 0};
  size_t pauses = 0;                // pauses that asked for a key

  size_t read(char* buf, size_t size) override {
    size_t n = input.size() - read_pos_ < size ? input.size() - read_pos_ : size;
    input.copy(buf, n, read_pos_);
    read_pos_ += n;
    return n;
  }
  bool reads_lines() const override { return false; }
  void write(std::string_view bytes) override { output += bytes; }
  void flush() override {}
  void clear_screen() override { output += clear_mark; }
  std::optional<int> read_key() override {
    ++pauses;
    if (!keyboard || keys.empty()) return std::nullopt;
    int code = keys.front();
    keys.pop_front();
    return code;
  }
  dosdate_t today() override { return date; }
  [[noreturn]] void exit(int status) override { throw ExitRequest{status}; }

 private:
  size_t read_pos_ = 0;
};

}  // namespace orvel
