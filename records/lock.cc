// A lock's wait in the kernel, cut short at its deadline by a timer's signal.
//
// A wait that tried again every few milliseconds starved: the session that had
// just let the lock go took it back before any waiter looked again. A blocking
// flock waits in the kernel, which wakes its waiters as soon as the lock is let
// go, so sharers are served about in turn. The wait is bounded all the same:
// anyone who may open the file may hold its lock for good.
#include "records/lock.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

namespace orvel {

namespace {

// Only there to end a wait: a handler without SA_RESTART makes flock return
// EINTR. It stays set for the rest of the run: the signal is this file's alone.
void wake(int) {}

int wake_signal() {
  static const int signo = [] {
    struct sigaction sa {};
    sa.sa_handler = wake;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGRTMIN, &sa, nullptr);
    return SIGRTMIN;
  }();
  return signo;
}

timespec from_ns(int64_t ns) { return {ns / 1'000'000'000, ns % 1'000'000'000}; }

// A timer that signals this thread at the deadline, and every 10 ms after it,
// in case its first signal came just before the wait began.
class Alarm {
 public:
  explicit Alarm(Clock::time_point deadline) {
    sigevent ev{};
    ev.sigev_notify = SIGEV_THREAD_ID;
    ev.sigev_signo = wake_signal();
    ev._sigev_un._tid = gettid();  // glibc names no field for it
    if (timer_create(CLOCK_MONOTONIC, &ev, &timer_) != 0) return;
    const int64_t left =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
    itimerspec when{from_ns(10'000'000), from_ns(left > 0 ? left : 1)};
    armed_ = timer_settime(timer_, 0, &when, nullptr) == 0;
    if (!armed_) timer_delete(timer_);
  }
  ~Alarm() {
    if (armed_) timer_delete(timer_);
  }
  Alarm(const Alarm&) = delete;
  Alarm& operator=(const Alarm&) = delete;

  explicit operator bool() const { return armed_; }

 private:
  timer_t timer_{};
  bool armed_ = false;
};

bool signal_blocked(int signo) {
  sigset_t now;
  return pthread_sigmask(SIG_BLOCK, nullptr, &now) == 0 && sigismember(&now, signo) == 1;
}

// Where no timer may be had, or its signal is blocked: tries again now and then.
bool poll_by(int fd, int how, Clock::time_point deadline) {
  while (flock(fd, how | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (Clock::now() >= deadline) return false;
    usleep(2000);
  }
  return true;
}

}  // namespace

bool lock_by(int fd, int how, Clock::time_point deadline) {
  if (flock(fd, how | LOCK_NB) == 0) return true;
  if (errno != EWOULDBLOCK || Clock::now() >= deadline) return false;  // no time left to wait
  Alarm alarm(deadline);
  if (!alarm || signal_blocked(wake_signal())) return poll_by(fd, how, deadline);
  for (;;) {
    if (flock(fd, how) == 0) return true;
    if (errno != EINTR) return false;
    if (Clock::now() >= deadline) {
      errno = EWOULDBLOCK;
      return false;
    }
  }
}

}  // namespace orvel
