// Lines edited at a terminal: what the editing keys store, typed-ahead keys, and the terminal given
// back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "records/records.h"
#include "tests/kit.h"
#include "tests/process.h"
#include "tests/screens.h"

namespace orvel {
namespace {

using namespace screens;
using testkit::Image;
using testkit::PtySession;
using testkit::RunResult;
using testkit::same_mode;
using testkit::TempDir;

const std::string kLeft = "\x1b[D", kRight = "\x1b[C", kUp = "\x1b[A", kDown = "\x1b[B";
const std::string kHome = "\x1b[1~", kEnd = "\x1b[4~", kDelete = "\x1b[3~";

std::string times(int n, const std::string& key) {
  std::string keys;
  for (int i = 0; i < n; ++i) keys += key;
  return keys;
}

// What a terminal sends for a paste: the text between the bracketed-paste marks
// if the program last turned that mode on (ESC [?2004h), not off (ESC [?2004l).
std::string pasted(std::string_view output, std::string_view text) {
  size_t on = output.rfind("\x1b[?2004h"), off = output.rfind("\x1b[?2004l");
  if (on == output.npos || (off != output.npos && off > on)) return std::string(text);
  return "\x1b[200~" + std::string(text) + "\x1b[201~";
}

// An xterm 32 columns wide, with nobody's ~/.inputrc.
void editing_terminal() {
  setenv("TERM", "xterm-256color", 1);
  setenv("INPUTRC", "/dev/null", 1);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 32;
  ioctl(STDIN_FILENO, TIOCSWINSZ, &size);
}

// The answers to a customer add after its surname, each a plain word.
constexpr std::string_view kRestOfTheAdd = "F\rMR\r7\rS\rT\rC\rP\rD\rT\rR\r";

class LineEditing : public ::testing::Test {
 protected:
  void start(const std::function<void()>& terminal = editing_terminal, bool own_group = false) {
    pty_ = std::make_unique<PtySession>(dir_.path(), terminal, own_group);
    ASSERT_TRUE(pty_->wait_for(clear() + on_tty(kMainMenu)));
  }

  void answer(std::string_view screen, std::string_view keys) {
    ASSERT_TRUE(pty_->wait_for(screen)) << "waiting for: " << screen;
    pty_->send(keys);
  }

  void enter_add() {
    pty_->send("1\r");
    ASSERT_NO_FATAL_FAILURE(answer(on_tty(kCustomerMenu), "1\r"));
  }

  Customer added() { return Image<Customer>::of(dir_.read("customer.dat"))[499]; }

  void end_at_menu() {
    ASSERT_TRUE(pty_->wait_for(on_tty(kCustomerMenu)));
    pty_->send("\x04");  // Ctrl-D on an empty line: the end of input
    RunResult r = pty_->wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << "status " << r.exit_status << " signal " << r.signal;
    EXPECT_TRUE(same_mode(pty_->initial_mode(), pty_->mode()));
  }

  TempDir dir_;
  std::unique_ptr<PtySession> pty_;
};

TEST_F(LineEditing, KeysEditTheLineThatIsStored) {
  struct Typed {
    std::string_view prompt;
    std::string keys;
    std::string stored;
  };
  const Typed fields[] = {
      {"\n SURNAME: ", "Demr" + kLeft + "i", "Demir"},  // Left inside a word
      {"\n FIRST NAME(S): ", "Al Can" + times(4, kLeft) + "i", "Ali Can"},
      {"\n TITLE (MR/MISS/MS): ", "xM" + kHome + kDelete + kEnd + "R", "MR"},
      {"\n IDENTIDY NO: ", kUp + kUp + kDown, "MR"},  // two lines back, one forward
      // Wider than the terminal, and edited at its start.
      {"\n STREET: ", "igh Street, Flat 21 Block C" + kHome + "H", "High Street, Flat 21 Block C"},
      {"\n TOWN: ", "Old\tTown", "Old\tTown"},  // Tab is a character
      {"\n CITY: ",
       "xx\x15"
       "Ankara Izmir\x17",
       "Ankara"},                                                   // Ctrl-U, Ctrl-W
      {"\n POST CODE: ", "ğla" + times(3, kLeft) + "Mu", "Muğla"},  // over a two-byte character
      {"\n DATE OF BIRTH: ", "1990abc" + times(4, kLeft) + kRight + "\x0b", "1990"},  // Ctrl-K
      {"\n TELEPHON NUMBER: ", "5551x2" + times(2, kLeft) + "\x04", "55512"},         // Ctrl-D
      {"\n TODAY DATE: ",
       "6/12\x01"
       "0\x05/2026",
       "06/12/2026"},  // Ctrl-A, Ctrl-E
  };
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(enter_add());
  for (const Typed& field : fields) {
    ASSERT_NO_FATAL_FAILURE(answer(on_tty(field.prompt), field.keys + "\r"));
  }
  ASSERT_NO_FATAL_FAILURE(end_at_menu());
  Customer r = added();
  const char* stored[] = {r.surname, r.fname,  r.cust_title, r.cust_no, r.street, r.town,
                          r.city,    r.p_code, r.dob,        r.tel_no,  r.r_date};
  for (size_t i = 0; i < std::size(fields); ++i) {
    EXPECT_EQ(stored[i], fields[i].stored) << "at" << fields[i].prompt;
  }
}

// A paste of two lines, each with its Enter, is two typed lines: it fills two fields.
TEST_F(LineEditing, APasteOfTwoLinesFillsTwoFields) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_NO_FATAL_FAILURE(enter_add());
  // Once the first key shows, the line is being read and its paste mode is set.
  ASSERT_NO_FATAL_FAILURE(answer(on_tty("\n SURNAME: "), "D"));
  ASSERT_TRUE(pty_->wait_for("D"));
  pty_->send(pasted(pty_->output(), "emir\rAli Can\r"));
  ASSERT_NO_FATAL_FAILURE(answer(on_tty("\n TITLE (MR/MISS/MS): "), kRestOfTheAdd.substr(2)));
  ASSERT_NO_FATAL_FAILURE(end_at_menu());
  EXPECT_STREQ(added().surname, "Demir");
  EXPECT_STREQ(added().fname, "Ali Can");
}

// A TERM the terminal database does not know gives the editor no way to move
// up a row (it would scroll the line sideways, the prompt out of sight): lines
// are read as the terminal's line mode gives them, an arrow key taken out.
TEST_F(LineEditing, AnUnknownTerminalReadsLinesAsLineModeDoes) {
  ASSERT_NO_FATAL_FAILURE(start([] {
    editing_terminal();
    setenv("TERM", "orvel-no-such-terminal", 1);
  }));
  ASSERT_NO_FATAL_FAILURE(enter_add());
  ASSERT_NO_FATAL_FAILURE(answer(on_tty("\n SURNAME: "), "Demr" + kLeft + "i\r"));
  pty_->send(kRestOfTheAdd);
  ASSERT_NO_FATAL_FAILURE(end_at_menu());
  EXPECT_STREQ(added().surname, "Demri");
}

// Stopped, the shell has the terminal as it was; continued, the prompt and the line come back.
TEST_F(LineEditing, StopAndContinueKeepTheLine) {
  ASSERT_NO_FATAL_FAILURE(start(editing_terminal, true));
  ASSERT_NO_FATAL_FAILURE(enter_add());
  ASSERT_NO_FATAL_FAILURE(answer(on_tty("\n SURNAME: "), "Gü"));
  ASSERT_TRUE(pty_->wait_for("Gü"));  // read: the kernel drops unread keys at Ctrl-Z
  pty_->send("\x1a");
  ASSERT_TRUE(pty_->wait_stopped());
  EXPECT_TRUE(same_mode(pty_->initial_mode(), pty_->mode()));
  pty_->signal(SIGCONT);
  ASSERT_NO_FATAL_FAILURE(answer(" SURNAME: Gü", "l\r"));
  pty_->send(kRestOfTheAdd);
  ASSERT_NO_FATAL_FAILURE(end_at_menu());
  EXPECT_STREQ(added().surname, "Gül");
}

// A signal that ends the program during a line edit gives the terminal back first.
class FatalSignal : public LineEditing, public ::testing::WithParamInterface<int> {};

TEST_P(FatalSignal, DuringALineRestoresTheTerminal) {
  ASSERT_NO_FATAL_FAILURE(start());
  pty_->send("9");
  ASSERT_TRUE(pty_->wait_for("9"));
  pty_->signal(GetParam());
  RunResult r = pty_->wait_exit();
  EXPECT_EQ(r.signal, GetParam());
  EXPECT_TRUE(same_mode(pty_->initial_mode(), pty_->mode()));
}

INSTANTIATE_TEST_SUITE_P(Signals, FatalSignal, ::testing::Values(SIGUSR1, SIGTERM, SIGINT),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

// Keys typed ahead, with the line editor and without (TERM=dumb).
class TypedAhead : public LineEditing, public ::testing::WithParamInterface<const char*> {
 protected:
  void start_on_term() {
    const char* term = GetParam();
    start([term] {
      editing_terminal();
      setenv("TERM", term, 1);
    });
  }
};

// The key typed with the search's choice and its empty line ends the pause after the hits.
TEST_P(TypedAhead, AKeyTypedWithTheChoiceEndsThePause) {
  ASSERT_NO_FATAL_FAILURE(start_on_term());
  pty_->send("1\r");
  ASSERT_NO_FATAL_FAILURE(answer(on_tty(kCustomerMenu), "2\r"));
  std::string find = clear() + on_tty(kFindCustomerMenu);
  ASSERT_NO_FATAL_FAILURE(answer(find, "1\r\rx"));
  ASSERT_TRUE(pty_->wait_for(find)) << "the pause did not end";
}

// Keys typed at the first pause of a listing end the next ones; what is left
// arrives at the next line, where it can still be taken back.
TEST_P(TypedAhead, KeysAtOnePauseEndTheNextOnes) {
  Image<Customer> table;
  for (int slot : {497, 498, 499}) testkit::put(table[slot].cust_no, std::to_string(slot));
  dir_.write("customer.dat", table.counter(3).bytes());
  ASSERT_NO_FATAL_FAILURE(start_on_term());
  pty_->send("1\r");
  ASSERT_NO_FATAL_FAILURE(answer(on_tty(kCustomerMenu), "3\r"));
  ASSERT_TRUE(pty_->wait_raw(true));
  pty_->send("abcX\025Y Z\027\177\177");  // Ctrl-U takes X, Ctrl-W Z, Backspace " " and Y
  ASSERT_TRUE(pty_->wait_for(clear() + on_tty(kCustomerMenu))) << "a pause went on waiting";
  pty_->send("5\r");
  ASSERT_TRUE(pty_->wait_for(clear() + on_tty(kMainMenu)));
  size_t menus = 0;
  for (size_t at = 0; (at = pty_->output().find(on_tty(kCustomerMenu), at)) != std::string::npos;
       ++at) {
    ++menus;
  }
  EXPECT_EQ(menus, 2u) << "X was taken as a choice";
}

// Keys typed while the program is busy (a load waits for the lock another
// holds) show once, after the kept ones, when the next line is read; a signal
// that ends the program while that line is read gives the terminal back first.
TEST_P(TypedAhead, KeysTypedWhileALoadWaitsShowOnce) {
  Image<Customer> table;
  testkit::put(table[499].cust_no, "7");
  dir_.write("customer.dat", table.counter(1).bytes());
  ASSERT_NO_FATAL_FAILURE(start_on_term());
  pty_->send("1\r");
  ASSERT_NO_FATAL_FAILURE(answer(on_tty(kCustomerMenu), "3\r"));
  ASSERT_TRUE(pty_->wait_raw(true));
  // Changed under the lock: the load after the listing must read it, and wait.
  int held = open(dir_.file("customer.dat").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  ASSERT_EQ(futimens(held, nullptr), 0);
  pty_->send("x#");  // x ends the pause, # is kept
  ASSERT_TRUE(pty_->wait_raw(false));
  pty_->send("%");
  EXPECT_FALSE(pty_->wait_for(on_tty(kCustomerMenu), std::chrono::milliseconds{500}))
      << "the load did not wait";
  close(held);
  ASSERT_TRUE(pty_->wait_for(on_tty(kCustomerMenu) + "#%"));
  EXPECT_EQ(std::ranges::count(pty_->output(), '#'), 1);
  EXPECT_EQ(std::ranges::count(pty_->output(), '%'), 1);
  pty_->signal(SIGTERM);
  EXPECT_EQ(pty_->wait_exit().signal, SIGTERM);
  EXPECT_TRUE(same_mode(pty_->initial_mode(), pty_->mode()));
}

INSTANTIATE_TEST_SUITE_P(Terminals, TypedAhead, ::testing::Values("xterm-256color", "dumb"),
                         [](const auto& info) { return info.index == 0 ? "Editing" : "Dumb"; });

}  // namespace
}  // namespace orvel
