// The keyboard's modes (line, quiet, raw), set in one place and given back on every way out.
#include "console/raw_mode.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

namespace orvel {

namespace {

termios g_line;  // the mode found, given back on every way out
termios g_now;   // the mode set last, set again after a stop
volatile sig_atomic_t g_fd = -1;
volatile sig_atomic_t g_stopped = 0;
volatile sig_atomic_t g_continued = 0;
struct sigaction g_previous[NSIG];
bool g_caught[NSIG];

// The signals whose default action ends the process (SIGKILL and SIGSTOP
// cannot be caught; the ones that are ignored leave the mode alone).
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

void set_default(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
}

// The mode is given back first, then the signal does what it always does.
void restore_and_die(int sig) {
  if (g_fd >= 0) tcsetattr(g_fd, TCSANOW, &g_line);
  set_default(sig);
  raise(sig);  // SA_NODEFER: delivered here and now
}

// Ctrl-Z: the shell gets the terminal as it was found while the process is
// stopped; at `fg` the process's mode comes back. A stopped line editor has
// its handler called from here after its own clean-up.
void stop_here(int sig) {
  int saved_errno = errno;
  if (g_fd >= 0) tcsetattr(g_fd, TCSANOW, &g_line);
  g_stopped = 1;
  struct sigaction self {};
  sigaction(sig, nullptr, &self);
  set_default(sig);
  raise(sig);  // stops here (unless no shell could continue it: an orphaned group)
  sigaction(sig, &self, nullptr);
  if (g_fd >= 0) tcsetattr(g_fd, TCSANOW, &g_now);
  errno = saved_errno;
}

// A continue that follows no stop (a stray `kill -CONT`) is no reason to redraw.
void note_continue(int) {
  if (g_stopped) g_continued = 1;
}

void catch_signal(int sig, void (*handler)(int)) {
  g_caught[sig] = false;
  if (sigaction(sig, nullptr, &g_previous[sig]) < 0) return;
  // A signal set to be ignored (by the parent, or by main for SIGPIPE and
  // SIGXFSZ) stays ignored.
  if (g_previous[sig].sa_handler == SIG_IGN) return;
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  // SA_NODEFER: the signal raised again inside its handler is delivered at
  // once. SA_RESTART: a stop and a continue leave the program's reads and
  // writes going (the line editor's wait for a key has a handler of its own).
  sa.sa_flags = SA_NODEFER | SA_RESTART;
  g_caught[sig] = sigaction(sig, &sa, nullptr) == 0;
}

void catch_signals() {
  for (int sig = 1; sig < NSIG; ++sig) {
    if (ends_process(sig)) {
      catch_signal(sig, restore_and_die);
    } else {
      g_caught[sig] = false;
    }
  }
  catch_signal(SIGTSTP, stop_here);
  catch_signal(SIGCONT, note_continue);
}

void release_signals() {
  for (int sig = 1; sig < NSIG; ++sig) {
    if (g_caught[sig]) sigaction(sig, &g_previous[sig], nullptr);
  }
}

termios mode_for(KeyMode mode) {
  termios t = g_line;
  switch (mode) {
    case KeyMode::kLine:
      break;
    case KeyMode::kQuiet:
      // ECHO off: keys typed while the program works are not shown by the
      // terminal; the line editor, or the program reading a line key by key,
      // shows them once, when it reads them.
      // ICANON off: they wait as typed, to be taken as keys (the terminal's
      // own line editing would act on them first).
      t.c_lflag &= ~(ECHO | ICANON);
      // Nothing reads in this mode; a read would wait for one byte.
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
      break;
    case KeyMode::kRaw:
      // BRKINT off: a break is read as a byte, it sends no SIGINT.
      // ICRNL off: Enter arrives as CR (13), the code the pause's key decoding knows.
      // INPCK off: no parity check on what is typed.
      // ISTRIP off: the eighth bit stays, so a UTF-8 letter arrives whole.
      // IXON off: Ctrl-S and Ctrl-Q are keys, not a stop and start of the output.
      t.c_iflag &= ~(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
      // CS8: eight-bit characters.
      t.c_cflag |= CS8;
      // ECHO off: the key is not shown.
      // ICANON off: each byte is readable at once, with no line editing.
      // IEXTEN off: Ctrl-V and the other extended keys are keys too.
      // ISIG off: Ctrl-C, Ctrl-\ and Ctrl-Z are keys here (Ctrl-C is code 3).
      t.c_lflag &= ~(ECHO | ICANON | IEXTEN | ISIG);
      // A read waits for one byte, with no timer: the poll before it does the timing.
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
      break;
  }
  // OPOST stays on in every mode: output written before and after goes out
  // with newlines as CR LF as always; a signal's exit leaves output as it found it.
  return t;
}

}  // namespace

TerminalModes::TerminalModes(int fd) : fd_(fd) {
  if (tcgetattr(fd, &g_line) < 0) return;
  g_now = g_line;
  g_fd = fd;
  catch_signals();
  active_ = true;
}

TerminalModes::~TerminalModes() {
  if (!active_) return;
  tcsetattr(fd_, TCSANOW, &g_line);
  g_fd = -1;
  release_signals();
}

bool TerminalModes::set(KeyMode mode) {
  if (!active_) return false;
  termios t = mode_for(mode);
  // TCSANOW, every way: TCSADRAIN would wait for the screen to take all output
  // (for ever, if the terminal's reader is stopped), and TCSAFLUSH would throw
  // away the keys typed ahead, which are the user's input.
  if (tcsetattr(fd_, TCSANOW, &t) < 0) return false;
  g_now = t;
  return true;
}

const termios& TerminalModes::line() const { return g_line; }

bool continued_after_stop() {
  if (!g_continued) return false;
  g_continued = 0;
  g_stopped = 0;
  return true;
}

}  // namespace orvel
