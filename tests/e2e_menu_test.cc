// The main menu and the sub-menus end to end, through pipes and without a terminal.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>

#include "tests/process.h"
#include "tests/screens.h"

namespace orvel {
namespace {

using namespace screens;
using testkit::run_orvel;
using testkit::RunResult;
using testkit::TempDir;

struct Dialogue {
  const char* name;
  std::string input;
  std::string transcript;
};

// Each dialogue ends with status 0 and prints exactly its transcript.
void expect_dialogues(const std::vector<Dialogue>& cases) {
  for (const Dialogue& d : cases) {
    SCOPED_TRACE(d.name);
    TempDir dir;
    RunResult r = run_orvel(dir.path(), d.input);
    EXPECT_TRUE(r.exited_with(0)) << "status " << r.exit_status << " signal " << r.signal;
    EXPECT_EQ(r.output, d.transcript);
  }
}

size_t files_in(const TempDir& dir) {
  auto entries = std::filesystem::directory_iterator(dir.path());
  return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

const std::string kQuit = dialogue({kQuitConfirmation, kBye});

TEST(MainMenu, Transcripts) {
  expect_dialogues({
      {"quit", "4\n1\n", dialogue({kMainMenu, kQuit})},
      {"invalid choices redraw", "9\nx\n0\n5\n4\n1\n",
       dialogue({kMainMenu, kMainMenu, kMainMenu, kMainMenu, kMainMenu, kQuit})},
      {"confirmation again below itself, then back", "4\n3\n2\n4\n1\n",
       dialogue({kMainMenu, kQuitConfirmation, kQuitConfirmation, kMainMenu, kQuit})},
      {"blanks before the choice", "  \t\n\n \t4\n1\n", dialogue({kMainMenu, kQuit})},
      {"choices typed ahead on one line", "941\n", dialogue({kMainMenu, kMainMenu, kQuit})},
      {"carriage returns dropped", "9\r\n4\r\n1\r\n", dialogue({kMainMenu, kMainMenu, kQuit})},
  });
}

// Quitting saves nothing, and neither does the customer menu's '6'.
TEST(Menus, LeavingWithoutSavingWritesNoFile) {
  for (const char* input : {"4\n1\n", "1\n6\n4\n1\n"}) {
    SCOPED_TRACE(input);
    TempDir dir;
    RunResult r = run_orvel(dir.path(), input);
    EXPECT_TRUE(r.exited_with(0));
    EXPECT_EQ(files_in(dir), 0u);
  }
}

TEST(MainMenu, EndOfInputEndsWithStatusZero) {
  expect_dialogues({
      {"no input at all", "", std::string(kMainMenu)},
      {"at the main menu", "9\n", dialogue({kMainMenu, kMainMenu})},
      {"in the confirmation", "4\n", dialogue({kMainMenu, kQuitConfirmation})},
      {"in the confirmation after a wrong answer", "4\n7\n",
       dialogue({kMainMenu, kQuitConfirmation, kQuitConfirmation})},
      {"last line without its newline", "4\n1", dialogue({kMainMenu, kQuit})},
      {"unfinished line at the main menu", "9", dialogue({kMainMenu, kMainMenu})},
      {"only blank lines", "\n  \n\t\n", std::string(kMainMenu)},
      {"Ctrl-Z ends the input",
       "9\x1a"
       "4\n1\n",
       dialogue({kMainMenu, kMainMenu})},
      {"in a sub-menu", "1\n", dialogue({kMainMenu, kCustomerMenu})},
  });
}

TEST(SubMenus, Transcripts) {
  expect_dialogues({
      {"customer, '6' back", "1\n6\n4\n1\n",
       dialogue({kMainMenu, kCustomerMenu, kMainMenu, kQuit})},
      {"customer, '5' back", "1\n5\n4\n1\n",
       dialogue({kMainMenu, kCustomerMenu, kMainMenu, kQuit})},
      {"customer, invalid choices", "1\n0\n7\n5\n4\n1\n",
       dialogue({kMainMenu, kCustomerMenu, kCustomerMenu, kCustomerMenu, kMainMenu, kQuit})},
      {"web, '6' redraws", "2\n6\n5\n4\n1\n",
       dialogue({kMainMenu, kWebMenu, kWebMenu, kMainMenu, kQuit})},
      {"Rehber, '6' redraws", "3\n6\n5\n4\n1\n",
       dialogue({kMainMenu, kRehberMenu, kRehberMenu, kMainMenu, kQuit})},
      {"\"12\" on one line: customers, then their search", "12\n3\n6\n4\n1\n",
       dialogue({kMainMenu, kCustomerMenu, kFindCustomerMenu, kCustomerMenu, kMainMenu, kQuit})},
  });
}

// '5' saves the table as it is: all zero bytes when nothing was ever added.
TEST(SubMenus, FiveWritesTheWholeTable) {
  struct Case {
    const char* choice;
    const char* file;
    size_t size;
  };
  for (const Case& c : {Case{"1", "customer.dat", 90000}, Case{"2", "web.dat", 108500},
                        Case{"3", "friend.dat", 129500}}) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    RunResult r = run_orvel(dir.path(), std::string(c.choice) + "\n5\n4\n1\n");
    EXPECT_TRUE(r.exited_with(0));
    EXPECT_EQ(files_in(dir), 1u);
    EXPECT_EQ(dir.read(c.file), std::string(c.size, '\0'));
  }
}

// Leaving a menu goes back to the one before it; it does not call it anew.
// A small stack shows any nesting within a few thousand round trips.
TEST(SubMenus, RoundTripsDoNotNest) {
  constexpr int kTrips = 3000;
  std::string input;
  for (int i = 0; i < kTrips; ++i) input += "1\n6\n4\n2\n";
  input += "4\n1\n";
  testkit::RunOptions options;
  options.before_exec = [] {
    rlimit stack{512 * 1024, 512 * 1024};
    setrlimit(RLIMIT_STACK, &stack);
  };
  TempDir dir;
  RunResult r = run_orvel(dir.path(), input, options);
  EXPECT_TRUE(r.exited_with(0)) << "status " << r.exit_status << " signal " << r.signal;
  std::string expected;
  for (int i = 0; i < kTrips; ++i) {
    expected += dialogue({kMainMenu, kCustomerMenu, kMainMenu, kQuitConfirmation});
  }
  EXPECT_TRUE(r.output == dialogue({expected, kMainMenu, kQuit}));  // too long to print
}

}  // namespace
}  // namespace orvel
