// Friends end to end: whole Rehber dialogues in-process, and the file they leave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/in_process.h"
#include "tests/kind_screens.h"

namespace orvel {
namespace {

using namespace screens;
using namespace testkit;

const FriendText kDoe{"12",     "Doe",   "Jane Ann", "jane@doe.uk", "www.doe.uk", "4 Elm Rd",
                      "Elmham", "Leeds", "LS2 9Q",   "1/2/90",      "0113",       "0777"};
const FriendText kRoe{"12",     "Roe",  "Rick",   "rick@roe.uk", "roe.uk/rick", "5 Oak Av",
                      "Oakley", "York", "YO1 7X", "3/4/85",      "0190",        "0788"};
const FriendText kPoe{"123",   "Poe",  "Edgar",  "ed@poe.us", "poe.us", "6 Ash La",
                      "Ashby", "Hull", "HU1 2B", "7/8/70",    "0148",   "0799"};
const FriendText kRay{"9",      "Ray", "",       "ray@r.uk", "r.uk", "7 Fen Rd",
                      "Fenton", "Ely", "CB7 4A", "9/9/99",   "0135", "0700"};
const FriendText kEmpty{};

// Doe and Roe share the number 12; Ray was added without a first name.
Image<Friend> four_friends() {
  return Image<Friend>::holding(
      {{10, kDoe.record()}, {20, kRoe.record()}, {30, kPoe.record()}, {40, kRay.record()}});
}

// The Rehber menu entered from the main menu, the steps, then the menu once more,
// where the end of input ends the run: nothing but the operations saves.
std::string in_rehber(std::initializer_list<std::string_view> steps) {
  return dialogue({kMainMenu, kRehberMenu, dialogue(steps), kRehberMenu});
}

TEST(RehberAdd, FirstAddTakesSlot499AndNumberOne) {
  TempDir dir;
  EXPECT_EQ(in_process(dir, "3\n1\n" + kDoe.typed()), in_rehber({friend_add(1)}));
  // The add itself saved the file.
  EXPECT_EQ(Image<Friend>::added({kDoe.record()}).difference(dir.read("friend.dat")), "");
}

TEST(RehberAdd, ListingShowsTheLaterAddFirst) {
  TempDir dir;
  std::string input = "3\n1\n" + kDoe.typed() + "1\n" + kPoe.typed() + "3\n";
  EXPECT_EQ(in_process(dir, input), in_rehber({friend_add(1), kRehberMenu, friend_add(2),
                                               kRehberMenu, kPoe.listed(), kDoe.listed()}));
  EXPECT_EQ(Image<Friend>::added({kDoe.record(), kPoe.record()}).difference(dir.read("friend.dat")),
            "");
}

// Each search is one pass of the find menu; '3' then leaves it.
TEST(RehberFind, Searches) {
  const Exchange cases[] = {
      {"by number", "1\n123\n", dialogue({kAskFriendId, kPoe.shown(), "\n"})},
      {"number held twice, the lower slot first", "1\n12\n",
       dialogue({kAskFriendId, kDoe.shown(), "\n", kRoe.shown(), "\n"})},
      {"number held by none", "1\n99\n", dialogue({kAskFriendId, kNotFount})},
      {"part of a number", "1\n1\n", dialogue({kAskFriendId, kNotFount})},
      {"a number is a word: blank lines before it wait", "1\n\n  \n9\n",
       dialogue({kAskFriendId, kRay.shown(), "\n"})},
      {"by first name, blank inside", "2\nJane Ann\n",
       dialogue({kAskFriendName, kDoe.shown(), "\n"})},
      {"a surname never matches", "2\nDoe\n", dialogue({kAskFriendName, kNotFount})},
      {"first name in lower case", "2\njane ann\n", dialogue({kAskFriendName, kNotFount})},
      {"part of the first name", "2\nJane\n", dialogue({kAskFriendName, kNotFount})},
      {"the whole line, its last blank too", "2\nJane Ann \n",
       dialogue({kAskFriendName, kNotFount})},
      {"an empty line finds every empty first name", "2\n\n",
       dialogue({kAskFriendName, hits(kEmpty, 37), kRay.shown(), "\n", hits(kEmpty, 459)})},
  };
  for (const Exchange& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("friend.dat", four_friends().bytes());
    EXPECT_EQ(in_process(dir, "3\n2\n" + c.typed + "3\n"),
              in_rehber({kFindFriendMenu, c.shown, kFindFriendMenu}));
  }
}

FriendText with(FriendText f, std::string FriendText::*field, std::string value) {
  f.*field = std::move(value);
  return f;
}

FriendText moved(FriendText f, std::string street, std::string town, std::string city,
                 std::string p_code) {
  f.street = std::move(street), f.town = std::move(town), f.city = std::move(city);
  f.p_code = std::move(p_code);
  return f;
}

// The file after an update of the two holders of 12 (slots 10 and 20).
Image<Friend> changed(const FriendText& doe, const FriendText& roe) {
  Image<Friend> image = four_friends();
  image[10] = doe.record();
  image[20] = roe.record();
  return image;
}

// One option: its prompts for each holder in turn, each holder typing its own values.
// Every case ends with '6' right after the change, so the file shows the last pass's save.
// No new text is shorter than the old, which leaves no old bytes after its NUL.
TEST(RehberUpdate, EveryOptionForEveryHolderInTurn) {
  struct Case {
    const char* name;
    std::string typed;
    std::string said;
    Image<Friend> after;
  };
  auto for_both = [](std::string_view prompts) {
    return dialogue({kUpdateFriendMenu, prompts, "\n", prompts, "\n", kUpdateFriendMenu});
  };
  std::string none_said(kUpdateFriendMenu);
  for (int option = 1; option <= 5; ++option) none_said += dialogue({kNotFount, kUpdateFriendMenu});
  const Case cases[] = {
      {"address", "12\n1\n9 New St\nNew Town\nBath\nBA1 1A\n8 Far Rd\nFar End\nHull\nHU2 2B\n6\n",
       for_both(kAskNewAddress),
       changed(moved(kDoe, "9 New St", "New Town", "Bath", "BA1 1A"),
               moved(kRoe, "8 Far Rd", "Far End", "Hull", "HU2 2B"))},
      {"e-mail", "12\n2\njane@new.co.uk\nrick@new.co.uk\n6\n", for_both(kAskNewFriendEmail),
       changed(with(kDoe, &FriendText::email, "jane@new.co.uk"),
               with(kRoe, &FriendText::email, "rick@new.co.uk"))},
      {"url", "12\n3\nwww.new.uk/jane\nwww.new.uk/rick\n6\n", for_both(kAskNewUrl),
       changed(with(kDoe, &FriendText::url, "www.new.uk/jane"),
               with(kRoe, &FriendText::url, "www.new.uk/rick"))},
      {"telephone", "12\n4\n0200\n0300\n6\n", for_both(kAskNewTelephone),
       changed(with(kDoe, &FriendText::tel_no, "0200"), with(kRoe, &FriendText::tel_no, "0300"))},
      {"mobile", "12\n5\n0711\n0722\n6\n", for_both(kAskNewMobile),
       changed(with(kDoe, &FriendText::mob_no, "0711"), with(kRoe, &FriendText::mob_no, "0722"))},
      {"a number held by none, every option and a wrong choice", "99\n1\n2\n3\n4\n5\n0\n6\n",
       none_said + std::string(kUpdateFriendMenu), four_friends()},
      // Four characters fit the number typed, never a friend's number (123 is Poe's).
      {"a number of four characters", "1234\n4\n6\n",
       dialogue({kUpdateFriendMenu, kNotFount, kUpdateFriendMenu}), four_friends()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("friend.dat", four_friends().bytes());
    EXPECT_EQ(in_process(dir, "3\n4\n" + c.typed), in_rehber({kAskFriendId, c.said}));
    EXPECT_EQ(c.after.difference(dir.read("friend.dat")), "");
  }
}

// The save before the first display of the menu writes the table even when
// nothing is chosen: into an empty directory, a whole image of zero bytes.
TEST(RehberUpdate, LeavingAtOnceStillWritesTheFile) {
  TempDir dir;
  EXPECT_EQ(in_process(dir, "3\n4\n12\n6\n"), in_rehber({kAskFriendId, kUpdateFriendMenu}));
  EXPECT_EQ(Image<Friend>().difference(dir.read("friend.dat")), "");
}

// Every pass saves before it draws, after a wrong choice too: a file removed
// while the menu waits is written again from the table as the Rehber menu loaded it.
TEST(RehberUpdate, EveryPassOfItsMenuSavesFirst) {
  TempDir dir;
  dir.write("friend.dat", four_friends().bytes());
  PipeDevice device;
  device.terminal_lines = true;  // one line a read, as typed
  device.input = "3\n4\n99\n0\n6\n";
  std::string at_second_pass;
  device.before_read = [&](size_t read) {
    if (read == 4) std::filesystem::remove(dir.file("friend.dat"));  // at the first choice
    if (read == 5) at_second_pass = dir.read("friend.dat");
  };
  EXPECT_EQ(run_program(dir, device), 0);
  EXPECT_EQ(device.output, in_rehber({kAskFriendId, kUpdateFriendMenu, kUpdateFriendMenu}));
  EXPECT_EQ(four_friends().difference(at_second_pass), "");
}

// A pasted line in the update menu is a choice per character and a save per
// pass; with nothing changed none of them touches the file, nor does '5'.
TEST(RehberUpdate, PassesOverAnUnchangedTableWriteNothing) {
  TempDir dir;
  dir.write("friend.dat", four_friends().bytes());
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};  // any write would show
  ASSERT_EQ(utimensat(AT_FDCWD, dir.file("friend.dat").c_str(), old, 0), 0);
  struct stat was {};
  ASSERT_EQ(stat(dir.file("friend.dat").c_str(), &was), 0);

  PipeDevice device;
  device.input = "3\n4\n12\n" + std::string(3000, 'x') + "\n6\n5\n";
  EXPECT_EQ(run_program(dir, device), 0);  // at the end of the input

  size_t menus = 0;
  for (size_t at = 0; (at = device.output.find(kUpdateFriendMenu, at)) != std::string::npos;
       at += kUpdateFriendMenu.size()) {
    ++menus;
  }
  EXPECT_EQ(menus, 3001u);  // the first pass and one per character
  struct stat is {};
  ASSERT_EQ(stat(dir.file("friend.dat").c_str(), &is), 0);
  EXPECT_EQ(is.st_ino, was.st_ino);
  EXPECT_EQ(is.st_mtim.tv_sec, was.st_mtim.tv_sec);
  EXPECT_EQ(is.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
  EXPECT_EQ(is.st_ctim.tv_sec, was.st_ctim.tv_sec);
  EXPECT_EQ(is.st_ctim.tv_nsec, was.st_ctim.tv_nsec);
  EXPECT_EQ(four_friends().difference(dir.read("friend.dat")), "");
}

// The same friend in a listing and as a search hit: other labels, separators and
// a rule before it. An empty table lists nothing at all.
TEST(RehberLayouts, ListingAndSearchHitDiffer) {
  const std::string listed =
      "\n_____________________________________________________________________"
      "\n No : 123\tEdgar Poe\n Dob: 7/8/70\tEmail: ed@poe.us\n Url: poe.us"
      "\n Address : 6 Ash La, Ashby, Hull, HU1 2B.\n Tel No  : 0148\t Mobile: 0799";
  const std::string hit =
      "\n No : 123\nEdgar Poe\n Date of Bith: 7/8/70\n Email: ed@poe.us\n Url: poe.us"
      "\n Address : 6 Ash La, Ashby, Hull, HU1 2B.\n Tel No  : 0148\n Mobile: 0799";
  TempDir dir;
  Image<Friend> image;
  image[30] = kPoe.record();
  dir.write("friend.dat", image.bytes());
  EXPECT_EQ(
      in_process(dir, "3\n3\n2\n1\n123\n3\n"),
      in_rehber({listed, kRehberMenu, kFindFriendMenu, kAskFriendId, hit, "\n", kFindFriendMenu}));

  TempDir empty;
  EXPECT_EQ(in_process(empty, "3\n3\n"), in_rehber({}));
  EXPECT_FALSE(empty.exists("friend.dat"));  // a listing saves nothing
}

}  // namespace
}  // namespace orvel
