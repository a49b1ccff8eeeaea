// Runs the built orvel binary for end-to-end tests: through pipes, or on a pseudo-terminal.
#include "tests/process.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace orvel::testkit {

namespace {

using Clock = std::chrono::steady_clock;

int ms_until(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + strerror(errno));
}

void record_status(RunResult& result, int status) {
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

// Waits for the child until the deadline, then kills it; `meanwhile` runs
// between two looks (the default sleeps a millisecond).
void reap(
    pid_t pid, Clock::time_point deadline, RunResult& result,
    const std::function<void()>& meanwhile = [] { usleep(1000); }) {
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return;
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timed_out = true;
      break;
    }
    meanwhile();
  }
  record_status(result, status);
}

// The program, opened while the child is still the test's user: another user
// it becomes may not reach the build folder (a clone in a private folder).
int open_orvel() { return open(ORVEL_BIN, O_RDONLY | O_CLOEXEC); }

[[noreturn]] void exec_orvel(int exe, const std::vector<std::string>& args = {}) {
  std::vector<char*> argv{const_cast<char*>(ORVEL_BIN)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  fexecve(exe, argv.data(), environ);
  _exit(127);
}

// orvel in `dir` with pipes for its input and output and no controlling
// terminal (clearing has nowhere to go); `in` and `out` get the test's ends.
// Standard error goes to `err` where it is given.
pid_t start_on_pipes(const std::string& dir, int& in, int& out,
                     const std::function<void()>& before_exec,
                     const std::vector<std::string>& args = {}, int err = -1) {
  signal(SIGPIPE, SIG_IGN);  // a child that ends early must not take the test with it
  int to[2], from[2];
  check(pipe2(to, O_CLOEXEC) == 0 && pipe2(from, O_CLOEXEC) == 0, "pipe2");
  pid_t pid = fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    setsid();
    dup2(to[0], STDIN_FILENO);
    dup2(from[1], STDOUT_FILENO);
    if (err >= 0) dup2(err, STDERR_FILENO);
    signal(SIGPIPE, SIG_DFL);
    const int exe = open_orvel();
    if (chdir(dir.c_str()) != 0) _exit(127);
    if (before_exec) before_exec();
    exec_orvel(exe, args);
  }
  close(to[0]);
  close(from[1]);
  in = to[1];
  out = from[0];
  return pid;
}

// Feeds the input and collects the output at once, so neither pipe can fill up
// and stall the other side; gives up at the deadline.
bool pump(int in, int out, std::string_view input, std::string& output,
          Clock::time_point deadline) {
  for (;;) {
    pollfd fds[2] = {{out, POLLIN, 0}, {in, POLLOUT, 0}};
    int n = poll(fds, in >= 0 ? 2 : 1, ms_until(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return false;
    if (in >= 0 && fds[1].revents) {
      ssize_t w = write(in, input.data(), input.size());
      if (w > 0) input.remove_prefix(static_cast<size_t>(w));
      if (w < 0 && errno != EAGAIN && errno != EINTR) input = {};  // the child stopped reading
      if (input.empty()) {
        close(in);
        in = -1;
      }
    }
    if (fds[0].revents) {
      char buf[65536];
      ssize_t r = read(out, buf, sizeof buf);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      output.append(buf, static_cast<size_t>(r));
    }
  }
  if (in >= 0) close(in);
  return true;
}

}  // namespace

RunResult run_orvel(const std::string& dir, std::string_view input, const RunOptions& options) {
  Clock::time_point deadline = Clock::now() + options.limit;
  int in, out;
  // A file of no name, read once the child is gone: no third pipe to drain.
  FILE* errors = options.capture_errors ? tmpfile() : nullptr;
  check(!options.capture_errors || errors, "tmpfile");
  if (errors) fcntl(fileno(errors), F_SETFD, FD_CLOEXEC);
  pid_t pid =
      start_on_pipes(dir, in, out, options.before_exec, options.args, errors ? fileno(errors) : -1);
  fcntl(in, F_SETFL, O_NONBLOCK);
  if (input.empty()) {
    close(in);
    in = -1;
  }
  RunResult result;
  if (!pump(in, out, input, result.output, deadline)) deadline = Clock::now();
  close(out);
  reap(pid, deadline, result);
  if (errors) {
    rewind(errors);
    for (int c; (c = fgetc(errors)) != EOF;) result.errors += static_cast<char>(c);
    fclose(errors);
  }
  return result;
}

std::string transcript(const TempDir& dir, std::string_view input) {
  RunResult r = run_orvel(dir.path(), input);
  if (!r.exited_with(0)) {
    ADD_FAILURE() << "status " << r.exit_status << " signal " << r.signal
                  << (r.timed_out ? " (timed out)" : "");
  }
  return r.output;
}

Session::~Session() {
  if (!reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (to_child_ >= 0 && to_child_ != from_child_) close(to_child_);
  close(from_child_);
}

void Session::send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(to_child_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    check(n > 0, "write to the program");
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

bool Session::read_some(int timeout_ms) {
  pollfd p{from_child_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char buf[65536];
  ssize_t n = read(from_child_, buf, sizeof buf);
  if (n <= 0) return false;
  out_.append(buf, static_cast<size_t>(n));
  return true;
}

bool Session::wait_for(std::string_view text, milliseconds limit) {
  Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    size_t at = out_.find(text, mark_);
    if (at != std::string::npos) {
      mark_ = at + text.size();
      return true;
    }
    if (Clock::now() >= deadline) return false;
    read_some(ms_until(deadline));
  }
}

RunResult Session::reap_reading(milliseconds limit) {
  RunResult result;
  reap(pid_, Clock::now() + limit, result, [this] { read_some(5); });
  reaped_ = true;
  while (read_some(0)) {
  }
  result.output = out_;
  return result;
}

namespace {

// The child stays as a shell does (the session's leader, its group outside
// orvel's), so orvel's group is not orphaned and may be stopped; it ends as
// orvel ended. Only orvel's process returns.
void run_in_own_group() {
  pid_t program = fork();
  if (program == 0) {
    setpgid(0, 0);
    signal(SIGTTOU, SIG_IGN);  // a background group taking the terminal
    tcsetpgrp(STDIN_FILENO, getpid());
    signal(SIGTTOU, SIG_DFL);
    return;
  }
  if (program < 0) _exit(127);
  setpgid(program, program);
  int status = 0;
  while (waitpid(program, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

}  // namespace

PtySession::PtySession(const std::string& dir, const std::function<void()>& before_exec,
                       bool own_group) {
  int master = -1;
  check(openpty(&master, &slave_, nullptr, nullptr, nullptr) == 0, "openpty");
  check(tcgetattr(slave_, &initial_) == 0, "tcgetattr");
  pid_ = fork();
  check(pid_ >= 0, "fork");
  if (pid_ == 0) {
    close(master);
    if (login_tty(slave_) != 0) _exit(127);
    const int exe = open_orvel();
    if (chdir(dir.c_str()) != 0) _exit(127);
    if (before_exec) before_exec();
    if (own_group) run_in_own_group();
    exec_orvel(exe);
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  to_child_ = from_child_ = master;
}

PtySession::~PtySession() {
  if (!reaped_) signal(SIGKILL);  // orvel itself, when a leader stands between
  close(slave_);
}

// Keeps reading meanwhile: a child blocked on a full terminal never gets there.
// Only a pause turns the signal keys off: a line editor reads without ICANON too.
bool PtySession::wait_raw(bool raw, milliseconds limit) {
  Clock::time_point deadline = Clock::now() + limit;
  for (;;) {
    bool now_raw = (mode().c_lflag & ISIG) == 0;
    if (now_raw == raw) return true;
    if (Clock::now() >= deadline) return false;
    read_some(1);
  }
}

termios PtySession::mode() const {
  termios t{};
  check(tcgetattr(slave_, &t) == 0, "tcgetattr");
  return t;
}

pid_t PtySession::program() const {
  pid_t group = tcgetpgrp(to_child_);
  return group > 0 ? group : pid_;
}

// Through a pidfd, and only once the process it holds is known to be of this
// terminal's session, which the test's own child leads: a number the kernel
// gave to another process meanwhile is never signalled.
void PtySession::signal(int sig) {
  const pid_t pid = program();
  const int held = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (held < 0) return;
  if (getsid(pid) == pid_) syscall(SYS_pidfd_send_signal, held, sig, nullptr, 0);
  close(held);
}

bool PtySession::wait_stopped(milliseconds limit) {
  Clock::time_point deadline = Clock::now() + limit;
  std::string stat_file = "/proc/" + std::to_string(program()) + "/stat";
  for (;;) {
    // "pid (name) state ...": the state follows the name's closing parenthesis.
    std::optional<std::string> stat = read_file(stat_file);
    size_t close = stat ? stat->rfind(')') : std::string::npos;
    if (close != std::string::npos && stat->substr(close + 2, 1) == "T") return true;
    if (Clock::now() >= deadline) return false;
    read_some(1);
  }
}

PipeSession::PipeSession(const std::string& dir, const std::function<void()>& before_exec) {
  pid_ = start_on_pipes(dir, to_child_, from_child_, before_exec);
}

std::function<void()> as_user(uid_t uid, gid_t gid, std::vector<gid_t> groups) {
  return [=] {
    if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
      _exit(126);
  };
}

RunResult PipeSession::finish(milliseconds limit) {
  close(to_child_);
  to_child_ = -1;
  Clock::time_point deadline = Clock::now() + limit;
  while (read_some(ms_until(deadline))) {
  }
  RunResult result;
  reap(pid_, deadline, result);
  reaped_ = true;
  result.output = out_;
  return result;
}

bool same_mode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

}  // namespace orvel::testkit
