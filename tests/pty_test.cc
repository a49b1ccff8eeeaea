// What only a terminal shows: echo, the clear sequence, pauses, Ctrl keys and the keyboard's mode.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "records/records.h"
#include "tests/kit.h"
#include "tests/process.h"
#include "tests/screens.h"

namespace orvel {
namespace {

using namespace screens;
using std::chrono::milliseconds;
using testkit::PtySession;
using testkit::RunResult;
using testkit::same_mode;
using testkit::TempDir;

const std::string kFindScreen = clear() + on_tty(kFindCustomerMenu);
constexpr milliseconds kQuiet{300};  // long enough for a wrongly ended pause to show

// A terminal that cannot show a line editor: lines are read as the terminal's line mode gives them.
void dumb_terminal() { setenv("TERM", "dumb", 1); }

// orvel on a terminal, started and showing its main menu.
class Terminal : public ::testing::Test {
 protected:
  void SetUp() override {
    pty_ = std::make_unique<PtySession>(dir_.path(), dumb_terminal);
    ASSERT_TRUE(pty_->wait_for(clear() + on_tty(kMainMenu)));
    before_ = pty_->mode();
  }

  // Types `line` once `screen` (as the terminal shows it) has appeared.
  void answer(std::string_view screen, std::string_view line) {
    ASSERT_TRUE(pty_->wait_for(screen)) << "waiting for: " << screen;
    pty_->send(line);
  }

  // The customer search by an empty ID: all 500 empty slots match, then one pause.
  void search_all() {
    ASSERT_NO_FATAL_FAILURE(answer(kFindScreen, "1\n"));
    answer(on_tty("\n Enter CUSTOMER ID: "), "\n");
  }

  void enter_search_and_pause() {
    pty_->send("1\n");
    ASSERT_NO_FATAL_FAILURE(answer(on_tty(kCustomerMenu), "2\n"));
    ASSERT_NO_FATAL_FAILURE(search_all());
    ASSERT_TRUE(pty_->wait_raw(true));
  }

  // From the search menu on the screen back out, quitting; the keyboard must be as it was.
  void quit_from_search() {
    pty_->send("3\n");
    const std::pair<std::string, const char*> steps[] = {{on_tty(kCustomerMenu), "6\n"},
                                                         {on_tty(kMainMenu), "4\n"},
                                                         {on_tty(kQuitConfirmation), "1\n"}};
    for (const auto& [screen, line] : steps) {
      ASSERT_NO_FATAL_FAILURE(answer(screen, line));
    }
    RunResult r = pty_->wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << "status " << r.exit_status << " signal " << r.signal;
    EXPECT_TRUE(r.output.ends_with(on_tty(kBye)));
    EXPECT_TRUE(same_mode(before_, pty_->mode()));
  }

  TempDir dir_;
  std::unique_ptr<PtySession> pty_;
  termios before_{};
};

TEST_F(Terminal, EchoesLinesAndClearsBeforeEachScreen) {
  pty_->send("9\n");
  // Cleared once after the choice and once more before the menu is drawn again.
  ASSERT_NO_FATAL_FAILURE(answer("9\r\n" + clear() + clear() + on_tty(kMainMenu), "4\n"));
  ASSERT_NO_FATAL_FAILURE(answer("4\r\n" + clear() + on_tty(kQuitConfirmation), "3\n"));
  ASSERT_NO_FATAL_FAILURE(answer("3\r\n" + on_tty(kQuitConfirmation), "1\n"));
  RunResult r = pty_->wait_exit();
  EXPECT_TRUE(r.exited_with(0));
  std::string menu = clear() + on_tty(kMainMenu);
  EXPECT_EQ(r.output, menu + "9\r\n" + clear() + menu + "4\r\n" + clear() +
                          on_tty(kQuitConfirmation) + "3\r\n" + on_tty(kQuitConfirmation) +
                          "1\r\n" + on_tty(kBye));
  EXPECT_TRUE(same_mode(before_, pty_->mode()));
}

TEST_F(Terminal, PauseWaitsForOneKeyWithoutEcho) {
  ASSERT_NO_FATAL_FAILURE(enter_search_and_pause());
  EXPECT_FALSE(pty_->wait_for(kFindScreen, kQuiet)) << "the pause did not wait";
  std::string_view hits = pty_->unmatched();
  size_t shown = 0;
  for (size_t at = 0; (at = hits.find("\r\n Cust No : ", at)) != hits.npos; ++at) ++shown;
  EXPECT_EQ(shown, 500u);
  EXPECT_FALSE(same_mode(before_, pty_->mode()));

  size_t waited_at = pty_->output().size();
  pty_->send("x");
  ASSERT_TRUE(pty_->wait_for(kFindScreen));
  EXPECT_EQ(pty_->output().substr(waited_at), kFindScreen) << "the key was echoed";
  EXPECT_TRUE(same_mode(before_, pty_->mode()));
  quit_from_search();
}

TEST_F(Terminal, FunctionKeySatisfiesTheNextPauseToo) {
  ASSERT_NO_FATAL_FAILURE(enter_search_and_pause());
  pty_->send("\x1bOP");  // F1
  ASSERT_NO_FATAL_FAILURE(search_all());
  // The second search's pause ends at once; the third waits again.
  ASSERT_NO_FATAL_FAILURE(search_all());
  ASSERT_TRUE(pty_->wait_raw(true));
  EXPECT_FALSE(pty_->wait_for(kFindScreen, kQuiet)) << "the third pause did not wait";
  pty_->send(" ");
  ASSERT_TRUE(pty_->wait_for(kFindScreen));
  quit_from_search();
}

TEST_F(Terminal, CtrlCInsideAPauseOnlyEndsThePause) {
  ASSERT_NO_FATAL_FAILURE(enter_search_and_pause());
  pty_->send("\x03");
  ASSERT_TRUE(pty_->wait_for(kFindScreen));
  EXPECT_TRUE(same_mode(before_, pty_->mode()));
  // Outside a pause it interrupts the program as usual.
  pty_->send("\x03");
  RunResult r = pty_->wait_exit();
  EXPECT_EQ(r.signal, SIGINT);
  EXPECT_TRUE(same_mode(before_, pty_->mode()));
}

TEST_F(Terminal, CtrlDAtTheStartOfALineEndsTheProgram) {
  pty_->send("4\n");
  ASSERT_NO_FATAL_FAILURE(answer(on_tty(kQuitConfirmation), "\x04"));
  RunResult r = pty_->wait_exit();
  EXPECT_TRUE(r.exited_with(0)) << "status " << r.exit_status << " signal " << r.signal;
  EXPECT_FALSE(r.output.ends_with(on_tty(kBye)));
  EXPECT_TRUE(same_mode(before_, pty_->mode()));
}

// Ctrl-D after some characters hands them over as a line; only a second one ends the input.
TEST_F(Terminal, CtrlDAfterCharactersDeliversThem) {
  pty_->send("9\x04");
  ASSERT_NO_FATAL_FAILURE(answer(clear() + clear() + on_tty(kMainMenu), "\x04"));
  RunResult r = pty_->wait_exit();
  EXPECT_TRUE(r.exited_with(0)) << "status " << r.exit_status << " signal " << r.signal;
}

// Keys typed at a pause after the one it takes are input, Enter a newline.
TEST_F(Terminal, EnterTwiceAtAPauseLeavesABlankLine) {
  ASSERT_NO_FATAL_FAILURE(enter_search_and_pause());
  pty_->send("\r\r");
  ASSERT_TRUE(pty_->wait_for(kFindScreen));
  // The blank line is skipped: the menu waits for a choice, the program goes on.
  EXPECT_FALSE(pty_->wait_for(clear(), kQuiet)) << "the blank line was taken for a choice";
  EXPECT_TRUE(same_mode(before_, pty_->mode()));
  quit_from_search();
}

TEST_F(Terminal, KeysTypedAfterThePauseKeyAreTheNextLine) {
  ASSERT_NO_FATAL_FAILURE(enter_search_and_pause());
  pty_->send("x5\r");
  ASSERT_TRUE(pty_->wait_for(kFindScreen));
  // '5' is no option of the search menu: it is drawn again, and waits.
  ASSERT_TRUE(pty_->wait_for(clear() + kFindScreen));
  EXPECT_FALSE(pty_->wait_for(clear(), kQuiet));
  quit_from_search();
}

// Left typed inside a word and Up inside a line store none of their bytes.
TEST_F(Terminal, CursorKeysInALineAreNotStored) {
  pty_->send("1\n");
  ASSERT_NO_FATAL_FAILURE(
      answer(on_tty(kCustomerMenu), "1\nDemr\x1b[Di\nAh\x1b[Amet\nMR\n7\nS\nT\nC\nP\nD\nT\nR\n"));
  ASSERT_TRUE(pty_->wait_for(on_tty(kCustomerMenu)));
  auto table = testkit::Image<Customer>::of(dir_.read("customer.dat"));
  ASSERT_EQ(table[1].total, 1);
  EXPECT_STREQ(table[499].surname, "Demri");
  EXPECT_STREQ(table[499].fname, "Ahmet");
}

// A signal that ends the program inside a pause gives the keyboard its mode back first.
class TerminalSignal : public Terminal, public ::testing::WithParamInterface<int> {};

TEST_P(TerminalSignal, InAPauseRestoresTheModeAndStillKills) {
  ASSERT_NO_FATAL_FAILURE(enter_search_and_pause());
  EXPECT_FALSE(same_mode(before_, pty_->mode()));
  pty_->signal(GetParam());
  RunResult r = pty_->wait_exit();
  EXPECT_EQ(r.signal, GetParam());
  EXPECT_TRUE(same_mode(before_, pty_->mode()));
}

// A signal the parent ignored stays ignored: the pause goes on waiting for its key.
TEST_F(Terminal, AnIgnoredSignalAtAPauseChangesNothing) {
  pty_ = std::make_unique<PtySession>(dir_.path(), [] {
    dumb_terminal();
    signal(SIGUSR1, SIG_IGN);
  });
  ASSERT_TRUE(pty_->wait_for(clear() + on_tty(kMainMenu)));
  before_ = pty_->mode();
  ASSERT_NO_FATAL_FAILURE(enter_search_and_pause());
  pty_->signal(SIGUSR1);
  EXPECT_FALSE(pty_->wait_raw(false, kQuiet)) << "the pause ended";
  pty_->send("k");
  ASSERT_TRUE(pty_->wait_raw(false));
  ASSERT_NO_FATAL_FAILURE(quit_from_search());
}

INSTANTIATE_TEST_SUITE_P(Fatal, TerminalSignal,
                         ::testing::Values(SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
}  // namespace orvel
