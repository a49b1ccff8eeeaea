// Runs the built orvel binary for end-to-end tests: through pipes, or on a pseudo-terminal.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/kit.h"

namespace orvel::testkit {

using std::chrono::milliseconds;

struct RunResult {
  std::string output;
  int exit_status = -1;  // when the child exited
  int signal = 0;        // when a signal ended it
  bool timed_out = false;

  bool exited_with(int status) const { return !timed_out && signal == 0 && exit_status == status; }
};

struct RunOptions {
  milliseconds limit{20000};  // then the child is killed
  // Runs in the child just before exec (after setsid, redirection and chdir):
  // the place for setrlimit and the like.
  std::function<void()> before_exec;
  std::vector<std::string> env;  // extra NAME=value entries
};

// Runs orvel in `dir` with `input` as its whole standard input (closed after
// it) and no controlling terminal; gives all it wrote to standard output.
RunResult run_orvel(const std::string& dir, std::string_view input, const RunOptions& options = {});

// run_orvel's transcript, checking that the program ended by itself with status 0.
std::string transcript(const TempDir& dir, std::string_view input);

// orvel on the slave side of a pseudo-terminal, the test holding the master.
class PtySession {
 public:
  explicit PtySession(const std::string& dir);
  ~PtySession();  // kills the child if it still runs
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;

  // Types bytes at the terminal's keyboard.
  void send(std::string_view bytes);
  // Reads until `text` appears after the end of the previous match; the next
  // wait then looks only past this one. False when it did not come in time.
  bool wait_for(std::string_view text, milliseconds limit = milliseconds{10000});
  // Waits until the terminal is (raw) or is not (!raw) in non-canonical mode.
  bool wait_raw(bool raw, milliseconds limit = milliseconds{10000});
  // Everything the child wrote so far (as the terminal delivered it).
  const std::string& output() const { return out_; }
  // The output after the end of the last match.
  std::string_view unmatched() const { return std::string_view(out_).substr(mark_); }
  termios mode() const;  // the slave's current settings
  void signal(int sig);
  pid_t pid() const { return pid_; }
  // Waits for the child to end, reading what it still writes.
  RunResult wait_exit(milliseconds limit = milliseconds{10000});

 private:
  bool read_some(int timeout_ms);

  pid_t pid_ = -1;
  int master_ = -1;
  int slave_ = -1;  // kept open so the settings and the output outlive the child
  std::string out_;
  size_t mark_ = 0;
  bool reaped_ = false;
};

// orvel on pipes, driven a step at a time: the test sends what is typed and
// waits for the prompt each step stops at, so two sessions can take turns.
class PipeSession {
 public:
  explicit PipeSession(const std::string& dir);
  ~PipeSession();  // kills the child if it still runs
  PipeSession(const PipeSession&) = delete;
  PipeSession& operator=(const PipeSession&) = delete;

  void send(std::string_view bytes);
  // As PtySession::wait_for: past the previous match only.
  bool wait_for(std::string_view text, milliseconds limit = milliseconds{10000});
  const std::string& output() const { return out_; }
  // Ends the input and waits for the child to end.
  RunResult finish(milliseconds limit = milliseconds{10000});

 private:
  bool read_some(int timeout_ms);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_fd_ = -1;
  std::string out_;
  size_t mark_ = 0;
  bool reaped_ = false;
};

// True when two terminal settings agree in everything a program may change.
bool same_mode(const termios& a, const termios& b);

}  // namespace orvel::testkit
