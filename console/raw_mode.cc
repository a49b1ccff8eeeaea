// Raw keyboard mode for one pause, undone on every way out, a fatal signal included.
#include "console/raw_mode.h"

#include <signal.h>
#include <unistd.h>

namespace orvel {

namespace {

termios g_saved;
volatile sig_atomic_t g_fd = -1;
struct sigaction g_previous[NSIG];
bool g_caught[NSIG];

// The signals whose default action ends the process (SIGKILL and SIGSTOP
// cannot be caught; the ones that stop or are ignored leave the mode alone).
bool ends_process(int sig) {
  switch (sig) {
    case SIGHUP:
    case SIGINT:
    case SIGQUIT:
    case SIGILL:
    case SIGTRAP:
    case SIGABRT:
    case SIGBUS:
    case SIGFPE:
    case SIGUSR1:
    case SIGSEGV:
    case SIGUSR2:
    case SIGPIPE:
    case SIGALRM:
    case SIGTERM:
#ifdef SIGSTKFLT
    case SIGSTKFLT:
#endif
    case SIGXCPU:
    case SIGXFSZ:
    case SIGVTALRM:
    case SIGPROF:
    case SIGIO:
#ifdef SIGPWR
    case SIGPWR:
#endif
    case SIGSYS:
      return true;
    default:
      return sig >= SIGRTMIN && sig <= SIGRTMAX;
  }
}

// The mode is given back first, then the signal does what it always does.
void restore_and_die(int sig) {
  if (g_fd >= 0) tcsetattr(g_fd, TCSANOW, &g_saved);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);  // SA_NODEFER: delivered here and now
}

// A signal set to be ignored (by the parent, or by main for SIGPIPE and
// SIGXFSZ) stays ignored.
void catch_fatal_signals() {
  struct sigaction sa {};
  sa.sa_handler = restore_and_die;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_NODEFER;
  for (int sig = 1; sig < NSIG; ++sig) {
    g_caught[sig] = false;
    if (!ends_process(sig) || sigaction(sig, nullptr, &g_previous[sig]) < 0) continue;
    if (g_previous[sig].sa_handler == SIG_IGN) continue;
    g_caught[sig] = sigaction(sig, &sa, nullptr) == 0;
  }
}

void release_fatal_signals() {
  for (int sig = 1; sig < NSIG; ++sig) {
    if (g_caught[sig]) sigaction(sig, &g_previous[sig], nullptr);
  }
}

}  // namespace

RawMode::RawMode(int fd) : fd_(fd) {
  if (tcgetattr(fd, &g_saved) < 0) return;
  termios raw = g_saved;
  // BRKINT off: a break is read as a byte, it sends no SIGINT.
  // ICRNL off: Enter arrives as CR (13), the code the pause's key decoding knows.
  // INPCK off: no parity check on what is typed.
  // ISTRIP off: the eighth bit stays, so a UTF-8 letter arrives whole.
  // IXON off: Ctrl-S and Ctrl-Q are keys, not a stop and start of the output.
  raw.c_iflag &= ~(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
  // CS8: eight-bit characters.
  raw.c_cflag |= CS8;
  // ECHO off: the key is not shown.
  // ICANON off: each byte is readable at once, with no line editing.
  // IEXTEN off: Ctrl-V and the other extended keys are keys too.
  // ISIG off: Ctrl-C, Ctrl-\ and Ctrl-Z are keys here (Ctrl-C is code 3).
  raw.c_lflag &= ~(ECHO | ICANON | IEXTEN | ISIG);
  // A read waits for one byte, with no timer: the poll before it does the timing.
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // OPOST stays on: the pause writes nothing, and output written before it
  // (already through the terminal's processing) and after it goes out with
  // newlines as CR LF as always; a signal's exit leaves output as it found it.
  g_fd = fd;
  catch_fatal_signals();
  // TCSANOW, both ways: TCSADRAIN would wait for the screen to take all output
  // (for ever, if the terminal's reader is stopped), and TCSAFLUSH would throw
  // away the keys typed ahead, which are the user's input.
  if (tcsetattr(fd, TCSANOW, &raw) < 0) {
    release_fatal_signals();
    g_fd = -1;
    return;
  }
  active_ = true;
}

const termios& RawMode::saved() const { return g_saved; }

RawMode::~RawMode() {
  if (!active_) return;
  tcsetattr(fd_, TCSANOW, &g_saved);
  g_fd = -1;
  release_fatal_signals();
}

}  // namespace orvel
