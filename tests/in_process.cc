// Runs the program in-process: fresh tables, a console in memory, a folder of its own.
#include "tests/in_process.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "records/records.h"

namespace orvel::testkit {

namespace {

namespace fs = std::filesystem;

// What a new process starts from: every slot of every table zero.
void zero_tables() {
  memset(namelist, 0, sizeof namelist);
  memset(weblist, 0, sizeof weblist);
  memset(friendlist, 0, sizeof friendlist);
}

}  // namespace

WorkIn::WorkIn(const TempDir& dir) : home_(fs::current_path()) { fs::current_path(dir.path()); }

WorkIn::~WorkIn() { fs::current_path(home_); }

size_t PipeDevice::read(char* buf, size_t size) {
  if (before_read) before_read(++count_);
  return MemoryDevice::read(buf, size);
}

std::optional<int> run_program(const TempDir& dir, PipeDevice& device) {
  WorkIn work(dir);
  zero_tables();
  return run_main_menu(device);
}

std::string in_process(const TempDir& dir, std::string_view input) {
  PipeDevice device;
  device.input = input;
  std::optional<int> status = run_program(dir, device);
  EXPECT_EQ(status, 0) << "the program did not exit with status 0";
  return device.output;
}

InTempDir::InTempDir() {
  zero_tables();
  set_console(&console_);
}

InTempDir::~InTempDir() { set_console(nullptr); }

}  // namespace orvel::testkit
