// A console device in memory: scripted input and keys in, a transcript out.
#pragma once

#include <algorithm>
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
  std::deque<int> keys;   // the key codes a pause gets, in order
  bool keyboard = false;  // false: a pause returns at once, as on a pipe
  dosdate_t date{6, 12, 2026, 0};
  size_t pauses = 0;  // pauses that asked for a key
  // True: a read gives at most one line, as a terminal does, and a byte 4 is its
  // end-of-file key: it hands over what precedes it on the line, or 0 bytes.
  bool terminal_lines = false;
  bool terminal_output = false;  // true: fields are shown as a terminal must see them
  size_t reads = 0;              // reads that asked for input: each one is a wait
  size_t unflushed_waits = 0;    // reads, key waits and exits that found output held back

  size_t read(char* buf, size_t size) override {
    ++reads;
    note_wait();
    size_t n = std::min(input.size() - read_pos_, size);
    bool eof_key = false;
    if (terminal_lines) {
      size_t end = input.find_first_of("\n\x04", read_pos_);
      if (end != std::string::npos && end - read_pos_ < n) {
        eof_key = input[end] == '\x04';
        n = end - read_pos_ + (eof_key ? 0 : 1);
      }
    }
    input.copy(buf, n, read_pos_);
    read_pos_ += n + (eof_key ? 1 : 0);  // the end-of-file key itself is not delivered
    return n;
  }
  bool reads_lines() const override { return terminal_lines; }
  bool writes_terminal() const override { return terminal_output; }
  void write(std::string_view bytes) override { output += bytes; }
  void flush() override { flushed_ = output.size(); }
  // A clear screen shows in the transcript as the terminal's clear sequence.
  void clear_screen() override { output += "\x1b[H\x1b[2J"; }
  std::optional<int> read_key() override {
    ++pauses;
    note_wait();
    if (!keyboard || keys.empty()) return std::nullopt;
    int code = keys.front();
    keys.pop_front();
    return code;
  }
  dosdate_t today() override { return date; }
  [[noreturn]] void exit(int status) override {
    note_wait();
    throw ExitRequest{status};
  }

 private:
  void note_wait() {
    if (flushed_ != output.size()) ++unflushed_waits;
  }

  size_t flushed_ = 0;
  size_t read_pos_ = 0;
};

}  // namespace orvel
