// The console device of a real process: standard input and output, a terminal or not.
#include "console/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "console/keys.h"

namespace orvel {

namespace {

constexpr std::string_view kClear = "\x1b[H\x1b[2J";
constexpr size_t kTypeahead = 1024;  // keys kept from one pause; a paste beyond waits in line mode

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
  if (in_tty_ && out_tty_ && can_edit_lines(getenv("TERM"))) {
    modes_.emplace(STDIN_FILENO);
    if (modes_->set(KeyMode::kQuiet)) editor_.emplace();
    // A keyboard whose mode cannot be set, or a terminal the editor cannot
    // draw on, is read as a line mode gives it.
    if (!editor_ || !editor_->draws_lines()) {
      editor_.reset();
      modes_.reset();
    }
  }
}

Terminal::~Terminal() {
  flush();
  if (tty_fd_ >= 0) close(tty_fd_);
}

size_t Terminal::read_input(char* buf, size_t size) {
  ssize_t n;
  while ((n = ::read(STDIN_FILENO, buf, size)) < 0 && errno == EINTR) {
  }
  return n > 0 ? static_cast<size_t>(n) : 0;  // an error ends the input like its end
}

// One read as line mode gives it: the keys typed at a pause first, a line
// left unfinished there joined with the one read next.
std::string Terminal::next_read() {
  if (!typed_.empty()) {
    TypedLines more = typed_lines(typed_, line_keys_);
    typed_.clear();
    if (!typed_lines_.unfinished.empty() && !more.reads.empty()) {
      more.reads.front().insert(0, typed_lines_.unfinished);
      typed_lines_.unfinished.clear();
    }
    typed_lines_.unfinished += more.unfinished;
    for (std::string& read : more.reads) typed_lines_.reads.push_back(std::move(read));
  }
  if (!typed_lines_.reads.empty()) {
    std::string read = std::move(typed_lines_.reads.front());
    typed_lines_.reads.pop_front();
    return read;
  }
  std::string read = std::move(typed_lines_.unfinished);
  typed_lines_.unfinished.clear();
  char chunk[4096];
  read.append(chunk, read_input(chunk, sizeof chunk));
  return read;
}

// One edited line, handed over in pieces of at most `size`.
size_t Terminal::read_edited(char* buf, size_t size) {
  if (edited_.empty()) {
    // The editor reads in its own mode and gives back the quiet one.
    std::optional<std::string> line = editor_->read_line(screen_line_, typed_);
    if (!line) return 0;
    edited_ = *line + '\n';
    screen_line_.clear();  // Enter took the cursor to a new line
  }
  size_t n = edited_.copy(buf, size);
  edited_.erase(0, n);
  return n;
}

size_t Terminal::read(char* buf, size_t size) {
  if (!in_tty_) return read_input(buf, size);
  if (editor_) return read_edited(buf, size);
  for (;;) {
    std::string read = next_read();
    if (read.empty()) return 0;
    // Cursor and function keys typed in the line are not its text.
    read = without_key_sequences(read);
    if (read.empty()) continue;  // the line held only such keys: not the end of input
    if (read.size() > size) {
      typed_lines_.reads.push_front(read.substr(size));
      read.resize(size);
    }
    read.copy(buf, read.size());
    return read.size();
  }
}

void Terminal::write(std::string_view bytes) {
  out_ += bytes;
  if (editor_) {
    size_t newline = bytes.rfind('\n');
    if (newline == bytes.npos) {
      screen_line_ += bytes;
    } else {
      screen_line_.assign(bytes.substr(newline + 1));
    }
  }
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
    screen_line_.clear();
  } else if (tty_fd_ >= 0) {
    flush();
    write_all(tty_fd_, kClear);
  }
}

std::optional<int> Terminal::read_key() {
  if (!in_tty_) return std::nullopt;
  // Held for the whole run with the editor; for this pause alone without it.
  std::optional<TerminalModes> own;
  TerminalModes& modes = modes_ ? *modes_ : own.emplace(STDIN_FILENO);
  KeyMode before = modes_ ? KeyMode::kQuiet : KeyMode::kLine;
  if (!modes.set(KeyMode::kRaw)) return std::nullopt;
  // Keys typed ahead at an earlier pause come first, as from the keyboard.
  size_t used = 0;
  int code = read_key_code([&](int timeout_ms) {
    if (used < typed_.size()) return static_cast<int>(static_cast<unsigned char>(typed_[used++]));
    return next_key_byte(timeout_ms);
  });
  typed_.erase(0, used);
  // Whatever else is already waiting was typed in raw mode: back in line mode
  // it would come as one unedited "line" of CRs and keys. It is kept here and
  // read as line mode would have read it (or given to the line editor as the
  // keys they are, to show and edit).
  for (int c; typed_.size() < kTypeahead && (c = next_key_byte(0)) >= 0;) {
    typed_ += static_cast<char>(c);
  }
  modes.set(before);
  const termios& mode = modes.line();
  line_keys_ = {mode.c_cc[VERASE], mode.c_cc[VEOF], (mode.c_iflag & IUTF8) != 0};
  if (code < 0) return std::nullopt;
  return code;
}

dosdate_t Terminal::today() { return local_date(); }

dosdate_t local_date() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return {static_cast<uint8_t>(local.tm_mday), static_cast<uint8_t>(local.tm_mon + 1),
          static_cast<uint32_t>(local.tm_year + 1900), static_cast<uint8_t>(local.tm_wday)};
}

void Terminal::exit(int status) {
  flush();
  modes_.reset();  // the keyboard as it was found
  _exit(status);
}

}  // namespace orvel
