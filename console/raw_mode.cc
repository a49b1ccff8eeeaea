// Raw keyboard mode for one pause, undone on every way out, a fatal signal included.
#include "console/raw_mode.h"

#include <signal.h>
#include <unistd.h>

namespace orvel {

namespace {

// Signals that end the process while a pause holds the keyboard: the mode
// is given back first, then the signal does what it always does.
constexpr int kFatal[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT};
struct sigaction g_previous[sizeof kFatal / sizeof kFatal[0]];
termios g_saved;
volatile sig_atomic_t g_fd = -1;

void restore_and_die(int sig) {
  if (g_fd >= 0) tcsetattr(g_fd, TCSANOW, &g_saved);
  signal(sig, SIG_DFL);
  raise(sig);
}

// A signal the user's shell set to be ignored stays ignored.
void catch_fatal_signals() {
  struct sigaction sa {};
  sa.sa_handler = restore_and_die;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_NODEFER;
  for (size_t i = 0; i < sizeof kFatal / sizeof kFatal[0]; ++i) {
    sigaction(kFatal[i], nullptr, &g_previous[i]);
    if (g_previous[i].sa_handler != SIG_IGN) sigaction(kFatal[i], &sa, nullptr);
  }
}

void release_fatal_signals() {
  for (size_t i = 0; i < sizeof kFatal / sizeof kFatal[0]; ++i) {
    sigaction(kFatal[i], &g_previous[i], nullptr);
  }
}

}  // namespace

RawMode::RawMode(int fd) : fd_(fd) {
  if (tcgetattr(fd, &g_saved) < 0) return;
  termios raw = g_saved;
  raw.c_iflag &= ~(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
  raw.c_cflag |= CS8;
  raw.c_lflag &= ~(ECHO | ICANON | IEXTEN | ISIG);  // Ctrl-C is a key here
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  g_fd = fd;
  catch_fatal_signals();
  if (tcsetattr(fd, TCSANOW, &raw) < 0) {
    release_fatal_signals();
    g_fd = -1;
    return;
  }
  active_ = true;
}

RawMode::~RawMode() {
  if (!active_) return;
  tcsetattr(fd_, TCSANOW, &g_saved);
  g_fd = -1;
  release_fatal_signals();
}

}  // namespace orvel
