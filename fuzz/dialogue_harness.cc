// One whole dialogue from a fuzzer's bytes: data files first, then typed input and keys.
#include "fuzz/dialogue_harness.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/pcco.h"
#include "console/memory_device.h"
#include "records/records.h"
#include "tests/kit.h"

namespace orvel {

namespace {

namespace fs = std::filesystem;

struct Kind {
  const char* name;
  size_t record;
  size_t total;  // offset of the add counter in a record
  size_t num;    // offset of the step
  std::span<std::byte> table;
};

const Kind kKinds[] = {
    {"customer.dat", sizeof(Customer), offsetof(Customer, total), offsetof(Customer, num),
     std::as_writable_bytes(std::span(namelist))},
    {"web.dat", sizeof(Web), offsetof(Web, total), offsetof(Web, num),
     std::as_writable_bytes(std::span(weblist))},
    {"friend.dat", sizeof(Friend), offsetof(Friend, total), offsetof(Friend, num),
     std::as_writable_bytes(std::span(friendlist))},
};

enum FileChoice { kAbsent, kRaw, kTiled, kCounted };

[[noreturn]] void fail(const std::string& what) {
  fprintf(stderr, "dialogue harness: %s\n", what.c_str());
  abort();
}

// Takes bytes from the front of the input; short at its end, never past it.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  std::string take(size_t n) {
    n = n < size_ - pos_ ? n : size_ - pos_;
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  uint32_t number(size_t width) {
    std::string s = take(width);
    uint32_t value = 0;
    for (size_t i = s.size(); i-- > 0;) value = value << 8 | static_cast<uint8_t>(s[i]);
    return value;
  }
  std::string rest() { return take(size_ - pos_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The bytes of one data file as the input chooses them.
std::string file_bytes(const Kind& kind, FileChoice choice, Bytes& in) {
  std::string bytes = in.take(in.number(2));
  if (choice == kRaw) return bytes;
  std::string image(kind.table.size(), '\0');
  if (choice == kTiled) {
    for (size_t i = 0; !bytes.empty() && i < image.size(); ++i) image[i] = bytes[i % bytes.size()];
    return image;
  }
  bytes.copy(image.data(), image.size());
  uint32_t counter = in.number(4), step = in.number(4);
  memcpy(&image[kind.record + kind.total], &counter, 4);
  memcpy(&image[2 * kind.record + kind.num], &step, 4);
  return image;
}

void write_file(const char* name, const std::string& bytes) {
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      close(fd) != 0) {
    fail(std::string("cannot write ") + name);
  }
}

// What each data file was before the run: its bytes, or nothing for a
// directory or no file at all.
struct Before {
  std::optional<std::string> bytes;
  bool directory = false;
};

// Keeps no transcript, but reads every byte written, so a text that reaches
// past its memory shows up under the sanitizers. It may hand over the input a
// line a read, as a terminal does.
class QuietDevice : public MemoryDevice {
 public:
  uint32_t hash = 2166136261u;
  bool terminal_lines = false;

  size_t read(char* buf, size_t size) override {
    size_t n = std::min(size, input.size() - pos_);
    if (terminal_lines) {
      size_t newline = input.find('\n', pos_);
      if (newline != std::string::npos) n = std::min(n, newline + 1 - pos_);
    }
    input.copy(buf, n, pos_);
    pos_ += n;
    return n;
  }
  bool reads_lines() const override { return terminal_lines; }
  void write(std::string_view bytes) override {
    for (char c : bytes) hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
  }
  void clear_screen() override {}

 private:
  size_t pos_ = 0;
};

void clear_dir() {
  for (const fs::directory_entry& e : fs::directory_iterator(".")) fs::remove_all(e.path());
}

// A save leaves the whole new image or the old file; nothing else remains.
std::string check_files(const Before (&before)[3]) {
  for (const fs::directory_entry& e : fs::directory_iterator(".")) {
    std::string name = e.path().filename();
    bool known = false;
    for (const Kind& kind : kKinds) known = known || name == kind.name;
    if (!known) return "left behind: " + name;
  }
  for (int i = 0; i < 3; ++i) {
    const Kind& kind = kKinds[i];
    if (before[i].directory) {
      if (!fs::is_directory(kind.name)) return std::string(kind.name) + " is no longer a directory";
      continue;
    }
    std::optional<std::string> after = testkit::read_file(kind.name);
    if (!after || after == before[i].bytes) continue;
    if (after->size() != kind.table.size()) {
      return std::string(kind.name) + " saved with " + std::to_string(after->size()) + " bytes";
    }
  }
  return "";
}

// Removed with its contents at exit.
std::optional<testkit::TempDir> scratch;

}  // namespace

void enter_scratch_dir() {
  if (scratch) return;
  scratch.emplace(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string());
  if (chdir(scratch->path().c_str()) != 0) fail("no scratch directory");
}

std::string run_dialogue(const uint8_t* data, size_t size) {
  if (!scratch) fail("no scratch directory entered");
  clear_dir();
  for (const Kind& kind : kKinds) std::fill(kind.table.begin(), kind.table.end(), std::byte{0});

  Bytes in(data, size);
  uint8_t files = static_cast<uint8_t>(in.number(1));
  uint8_t console_kind = static_cast<uint8_t>(in.number(1));
  Before before[3];
  for (int i = 0; i < 3; ++i) {
    auto choice = static_cast<FileChoice>(files >> (2 * i) & 3);
    if (choice == kAbsent) {
      before[i].directory = files & 0x40;
      if (before[i].directory) fs::create_directory(kKinds[i].name);
      continue;
    }
    before[i].bytes = file_bytes(kKinds[i], choice, in);
    write_file(kKinds[i].name, *before[i].bytes);
  }

  QuietDevice device;
  device.keyboard = console_kind & 1;
  device.terminal_lines = console_kind & 2;
  if (device.keyboard) {
    for (char key : in.take(in.number(1))) {
      uint8_t b = static_cast<uint8_t>(key);
      device.keys.push_back(b < 0x80 ? b : 256 + (b & 0x7f));
    }
  }
  device.input = in.rest();

  std::optional<int> status = testkit::run_main_menu(device);
  if (!status) return "the main menu returned";
  if (*status != 0) return "exit status " + std::to_string(*status);
  return check_files(before);
}

}  // namespace orvel
