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
  std::string errors;    // standard error, where RunOptions::capture_errors asked for it
  int exit_status = -1;  // when the child exited
  int signal = 0;        // when a signal ended it
  bool timed_out = false;

  bool exited_with(int status) const { return !timed_out && signal == 0 && exit_status == status; }
};

struct RunOptions {
  milliseconds limit{20000};      // then the child is killed
  std::vector<std::string> args;  // the command line after the program's name
  bool capture_errors = false;    // else standard error is the test's own
  // Runs in the child just before exec (after setsid, redirection and chdir):
  // the place for setrlimit and the like.
  std::function<void()> before_exec;
};

// Runs orvel in `dir` with `input` as its whole standard input (closed after
// it) and no controlling terminal; gives all it wrote to standard output.
RunResult run_orvel(const std::string& dir, std::string_view input, const RunOptions& options = {});

// run_orvel's transcript, checking that the program ended by itself with status 0.
std::string transcript(const TempDir& dir, std::string_view input);

// A running orvel driven a step at a time: the test types and waits for the
// text each step stops at, so two sessions can take turns.
class Session {
 public:
  ~Session();  // kills the child if it still runs
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Types bytes at the program's input.
  void send(std::string_view bytes);
  // Reads until `text` appears after the end of the previous match; the next
  // wait then looks only past this one. False when it did not come in time.
  bool wait_for(std::string_view text, milliseconds limit = milliseconds{10000});
  // Everything the child wrote so far.
  const std::string& output() const { return out_; }
  // The output after the end of the last match.
  std::string_view unmatched() const { return std::string_view(out_).substr(mark_); }

 protected:
  Session() = default;
  bool read_some(int timeout_ms);
  // Waits for the child to end until the deadline, reading what it still writes.
  RunResult reap_reading(milliseconds limit);

  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  std::string out_;
  size_t mark_ = 0;
  bool reaped_ = false;
};

// orvel on the slave side of a pseudo-terminal, the test holding the master.
class PtySession : public Session {
 public:
  // before_exec runs in the child just before exec, as RunOptions' does.
  // With own_group, orvel runs in a process group of its own in the
  // terminal's foreground, as a shell starts it, so that Ctrl-Z stops it.
  explicit PtySession(const std::string& dir, const std::function<void()>& before_exec = {},
                      bool own_group = false);
  ~PtySession();

  // Waits until the keyboard is (raw) or is not (!raw) in a pause's raw mode,
  // where Ctrl-C and the other signal keys are keys.
  bool wait_raw(bool raw, milliseconds limit = milliseconds{10000});
  termios mode() const;                                     // the slave's current settings
  const termios& initial_mode() const { return initial_; }  // before orvel started
  void signal(int sig);
  // Waits until orvel is stopped (Ctrl-Z).
  bool wait_stopped(milliseconds limit = milliseconds{10000});
  // Waits for the child to end, reading what it still writes.
  RunResult wait_exit(milliseconds limit = milliseconds{10000}) { return reap_reading(limit); }

 private:
  pid_t program() const;  // orvel's own process, the leader of the foreground group

  int slave_ = -1;  // kept open so the settings and the output outlive the child
  termios initial_{};
};

// orvel on pipes, with no controlling terminal.
class PipeSession : public Session {
 public:
  // before_exec runs in the child just before exec, as RunOptions' does.
  explicit PipeSession(const std::string& dir, const std::function<void()>& before_exec = {});

  // Ends the input and waits for the child to end.
  RunResult finish(milliseconds limit = milliseconds{10000});
};

// A before_exec that makes the program run as user `uid` of group `gid` with
// the other groups given (the tests run as root); exit status 126 when it cannot.
std::function<void()> as_user(uid_t uid, gid_t gid, std::vector<gid_t> groups = {});

// True when two terminal settings agree in everything a program may change.
bool same_mode(const termios& a, const termios& b);

}  // namespace orvel::testkit
