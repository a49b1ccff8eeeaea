// The console device of a real process: standard input and output, a terminal or not.
#include "console/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include "console/keys.h"
#include "console/raw_mode.h"

namespace orvel {

namespace {

constexpr std::string_view kClear = "\x1b[H\x1b[2J";

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe or terminal: the text has nowhere to go
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

int next_key_byte(int timeout_ms) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  int ready;
  while ((ready = poll(&p, 1, timeout_ms)) < 0 && errno == EINTR) {
  }
  if (ready <= 0) return -1;
  unsigned char c;
  ssize_t n;
  while ((n = ::read(STDIN_FILENO, &c, 1)) < 0 && errno == EINTR) {
  }
  return n == 1 ? c : -1;
}

}  // namespace

Terminal::Terminal() : in_tty_(isatty(STDIN_FILENO)), out_tty_(isatty(STDOUT_FILENO)) {
  if (!out_tty_) tty_fd_ = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
}

Terminal::~Terminal() {
  flush();
  if (tty_fd_ >= 0) close(tty_fd_);
}

size_t Terminal::read(char* buf, size_t size) {
  ssize_t n;
  while ((n = ::read(STDIN_FILENO, buf, size)) < 0 && errno == EINTR) {
  }
  return n > 0 ? static_cast<size_t>(n) : 0;  // an error ends the input like its end
}

void Terminal::write(std::string_view bytes) {
  out_ += bytes;
  if (out_tty_) flush();
}

void Terminal::flush() {
  write_all(STDOUT_FILENO, out_);
  out_.clear();
}

// The clear sequence goes to the terminal itself, in order with the text.
void Terminal::clear_screen() {
  if (out_tty_) {
    write(kClear);
  } else if (tty_fd_ >= 0) {
    flush();
    write_all(tty_fd_, kClear);
  }
}

std::optional<int> Terminal::read_key() {
  if (!in_tty_) return std::nullopt;
  RawMode raw(STDIN_FILENO);
  if (!raw.active()) return std::nullopt;
  int code = read_key_code(next_key_byte);
  if (code < 0) return std::nullopt;
  return code;
}

dosdate_t Terminal::today() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {static_cast<uint8_t>(local.tm_mday), static_cast<uint8_t>(local.tm_mon + 1),
          static_cast<uint32_t>(local.tm_year + 1900), static_cast<uint8_t>(local.tm_wday)};
}

void Terminal::exit(int status) {
  flush();
  _exit(status);
}

}  // namespace orvel
