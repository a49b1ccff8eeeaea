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
constexpr size_t kTypeahead = 1024;  // keys kept at once; more wait in the quiet keyboard

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
  if (!in_tty_) return;
  modes_.emplace(STDIN_FILENO);
  if (out_tty_ && can_edit_lines(getenv("TERM")) && modes_->set(KeyMode::kQuiet)) {
    editor_.emplace();
    // A terminal the editor cannot draw on is read as a line mode gives it.
    if (!editor_->draws_lines()) {
      editor_.reset();
      modes_->set(KeyMode::kLine);
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

// One read as line mode gives it; a line that starts with keys typed ahead is
// read key by key, since line mode cannot be given them.
std::string Terminal::next_read() {
  if (!typed_.empty()) return read_typed_line();
  char chunk[4096];
  std::string read(chunk, read_input(chunk, sizeof chunk));
  // The terminal echoed the line: after its Enter the cursor is on a new line.
  if (read.ends_with('\n')) {
    screen_line_.clear();
  } else {
    screen_line_ += read;
  }
  return read;
}

// The keys typed ahead first, then the keyboard's, each shown and edited as
// line mode would, in the quiet mode the kept keys left the keyboard in (keys
// typed meanwhile wait there unseen, in order after them).
std::string Terminal::read_typed_line() {
  const termios& mode = modes_->line();
  LineKeys keys{.erase = mode.c_cc[VERASE],
                .kill = mode.c_cc[VKILL],
                .werase = (mode.c_lflag & IEXTEN) != 0 ? mode.c_cc[VWERASE] : 0,
                .eof = mode.c_cc[VEOF],
                .utf8 = (mode.c_iflag & IUTF8) != 0,
                .echo = (mode.c_lflag & ECHO) != 0,
                .echo_ctl = (mode.c_lflag & ECHOCTL) != 0};
  TypedLine line(keys, out_tty_ ? screen_column(screen_line_) : 0);
  size_t used = 0;
  for (bool done = false; !done;) {
    int key;
    if (used < typed_.size()) {
      key = static_cast<unsigned char>(typed_[used++]);
    } else {
      echo(line.shown());  // the line as typed so far is on the screen before the wait
      if ((key = next_key_byte(-1)) < 0) break;  // the terminal is gone: the line so far
    }
    done = line.take(static_cast<unsigned char>(key));
  }
  typed_.erase(0, used);
  echo(line.shown());
  keep_waiting_keys();  // typed after the Enter, still out of line mode
  settle();
  return line.text();
}

// One edited line, handed over in pieces of at most `size`.
size_t Terminal::read_edited(char* buf, size_t size) {
  if (unread_.empty()) {
    // The editor reads in its own mode and gives back the quiet one.
    std::optional<std::string> line = editor_->read_line(screen_line_, typed_);
    if (!line) return 0;
    unread_ = *line + '\n';
    screen_line_.clear();  // Enter took the cursor to a new line
  }
  size_t n = unread_.copy(buf, size);
  unread_.erase(0, n);
  return n;
}

size_t Terminal::read(char* buf, size_t size) {
  if (!in_tty_) return read_input(buf, size);
  if (editor_) return read_edited(buf, size);
  while (unread_.empty()) {
    std::string read = next_read();
    if (read.empty()) return 0;
    // Cursor and function keys typed in the line are not its text; a line of
    // nothing else is not the end of input.
    unread_ = without_key_sequences(read);
  }
  size_t n = unread_.copy(buf, size);
  unread_.erase(0, n);
  return n;
}

void Terminal::write(std::string_view bytes) {
  out_ += bytes;
  size_t newline = bytes.rfind('\n');
  if (newline == bytes.npos) {
    screen_line_ += bytes;
  } else {
    screen_line_.assign(bytes.substr(newline + 1));
  }
  if (out_tty_) flush();
}

// What typed keys show goes where the terminal's own echo would show it.
void Terminal::echo(std::string_view shown) {
  if (out_tty_) {
    write(shown);
  } else if (tty_fd_ >= 0) {
    write_all(tty_fd_, shown);
  }
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
  if (!in_tty_ || !modes_->set(KeyMode::kRaw)) return std::nullopt;
  // Keys typed ahead at an earlier pause come first, as from the keyboard.
  size_t used = 0;
  int code = read_key_code([&](int timeout_ms) {
    if (used < typed_.size()) return static_cast<int>(static_cast<unsigned char>(typed_[used++]));
    return next_key_byte(timeout_ms);
  });
  typed_.erase(0, used);
  keep_waiting_keys();
  settle();
  if (code < 0) return std::nullopt;
  return code;
}

// Whatever else is already waiting was typed out of line mode: back in line
// mode it would come as one unedited "line" of CRs and keys, unseen. It is
// kept for the next pauses and the next line, which take it as the keys it is.
void Terminal::keep_waiting_keys() {
  for (int c; typed_.size() < kTypeahead && (c = next_key_byte(0)) >= 0;) {
    typed_ += static_cast<char>(c);
  }
}

// Between reads the keyboard is quiet while keys are kept for the next line,
// so that keys typed meanwhile wait behind them unseen, and always with the
// line editor; otherwise it is in the line mode it was found in.
void Terminal::settle() {
  modes_->set(editor_ || !typed_.empty() ? KeyMode::kQuiet : KeyMode::kLine);
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
