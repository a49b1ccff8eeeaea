// The whole program in this process, over PCco and a console in memory, in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "console/memory_device.h"
#include "console/terminal.h"
#include "tests/kit.h"

namespace orvel::testkit {

// A console in memory that acts as a pipe does: no clear sequence, no keyboard
// (pauses return at once), the clock's date; `before_read` runs before each
// read with its number, from 1, to change the files between two lines.
class PipeDevice : public MemoryDevice {
 public:
  std::function<void(size_t)> before_read;

  size_t read(char* buf, size_t size) override;
  void clear_screen() override {}
  dosdate_t today() override { return local_date(); }

 private:
  size_t count_ = 0;
};

// Sets every table to zero bytes, as a new process starts, and runs the main
// menu in `dir` until the program exits: its exit status, or nothing when the
// menu returned.
std::optional<int> run_program(const TempDir& dir, PipeDevice& device);

// The program's whole transcript for `input` typed in `dir`; checks that it
// ended by itself with status 0.
std::string in_process(const TempDir& dir, std::string_view input);

// The data files are relative names: while one of these lives the process
// works inside `dir`, and afterwards it is back where it was.
class WorkIn {
 public:
  explicit WorkIn(const TempDir& dir);
  ~WorkIn();
  WorkIn(const WorkIn&) = delete;
  WorkIn& operator=(const WorkIn&) = delete;

 private:
  std::string home_;
};

// A test that works inside a fresh temporary folder, with zeroed tables and
// a console in memory set as the process's console.
class InTempDir : public testing::Test {
 protected:
  InTempDir();
  ~InTempDir() override;

  TempDir dir_;
  MemoryDevice device_;
  Console console_{device_};

 private:
  WorkIn work_{dir_};
};

}  // namespace orvel::testkit
