// The test kit's temporary folder and file reader.
#include "tests/kit.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "app/pcco.h"
#include "console/memory_device.h"

namespace orvel::testkit {

namespace {

namespace fs = std::filesystem;

std::string default_base() {
  const char* base = getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

}  // namespace

std::optional<std::string> read_file(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char chunk[65536];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(n));
  close(fd);
  if (n < 0) return std::nullopt;  // a directory, say
  return bytes;
}

std::string pattern(unsigned seed, size_t size) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = rng() % 4 == 0 ? '\0' : static_cast<char>(rng());
  return bytes;
}

TempDir::TempDir() : TempDir(default_base()) {}

TempDir::TempDir(const std::string& base) {
  std::string pattern = base + "/orvel-test-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp in " + base);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool TempDir::exists(std::string_view name) const {
  std::error_code ignored;
  return fs::exists(file(name), ignored);
}

std::vector<std::string> TempDir::names() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(path_)) {
    names.push_back(e.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string TempDir::read(std::string_view name) const {
  return read_file(file(name)).value_or("");
}

void TempDir::write(std::string_view name, std::string_view bytes) const {
  std::string temp = file(std::string(name) + ".test-new");
  FILE* f = fopen(temp.c_str(), "wb");
  bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && fclose(f) != 0) ok = false;
  if (!ok || rename(temp.c_str(), file(name).c_str()) != 0) {
    throw std::runtime_error("cannot put " + std::string(name) + " in place");
  }
}

std::optional<int> run_main_menu(Device& device) {
  Console console(device);
  set_console(&console);
  std::optional<int> status;
  try {
    PCco().main_menu();
  } catch (const ExitRequest& exit) {
    status = exit.status;
  }
  set_console(nullptr);
  return status;
}

}  // namespace orvel::testkit
