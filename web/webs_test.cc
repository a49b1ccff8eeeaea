// Web pages end to end: whole dialogues in-process, and the file they leave.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>

#include "tests/in_process.h"
#include "tests/kind_screens.h"

namespace orvel {
namespace {

using namespace screens;
using namespace testkit;

const WebText kShop{"7",      "shop@a.uk", "Shop Front", "www.shop.example/a b", "1/1/26",
                    "2/2/26", "150",       "N",          "Two pages, one form."};
const WebText kBlog{"7",      "blog@b.uk", "Blog", "blog.example", "3/3/26",
                    "4/4/26", "80",        "Y",    "Weekly posts."};
const WebText kCafe{"123",    "cafe@c.uk", "Cafe Menu", "cafe.example", "5/5/26",
                    "6/6/26", "150",       "N",         "One page."};

// A file of three pages; the shop and the blog share web number 7.
Image<Web> three_webs() {
  return Image<Web>::holding(
      {{10, kShop.record(150)}, {20, kBlog.record(80)}, {30, kCafe.record(150)}});
}

// The web menu entered from the main menu, then the steps. The input ends at the
// web menu drawn after them, which ends the run (status 0) without a save, so
// the file is what the operations themselves wrote.
std::string in_webs(std::initializer_list<std::string_view> steps) {
  return dialogue({kMainMenu, kWebMenu, dialogue(steps), kWebMenu});
}

TEST(WebAdd, FirstAddTakesSlot499AndNumberOne) {
  TempDir dir;
  // '6' only redraws the web menu.
  EXPECT_EQ(in_process(dir, "2\n1\n" + kShop.typed() + "6\n"),
            dialogue({in_webs({web_add(1)}), kWebMenu}));
  // The add itself saved the file.
  EXPECT_EQ(Image<Web>::added({kShop.record(150)}).difference(dir.read("web.dat")), "");
}

TEST(WebAdd, SecondAddGoesBelowAndIsListedFirst) {
  TempDir dir;
  EXPECT_EQ(in_process(dir, "2\n1\n" + kShop.typed() + "1\n" + kCafe.typed() + "3\n"),
            in_webs({web_add(1), kWebMenu, web_add(2), kWebMenu, kCafe.listed(), kShop.listed()}));
  EXPECT_EQ(
      Image<Web>::added({kShop.record(150), kCafe.record(150)}).difference(dir.read("web.dat")),
      "");
}

// The cost as number input reads it and number output prints it. The slot had
// a customer number, a cost and a paid flag before: the add never touches the
// customer number, and a cost that is no number leaves the cost it found.
TEST(WebAdd, CostAsReadAndPrinted) {
  struct Case {
    std::string typed, shown;
    float stored;
    std::string paid;  // as stored
    bool paid_typed;   // false: the paid flag asks for no line of its own
  };
  const Case cases[] = {
      {"12.50", "12.5", 12.5f, "Y", true},
      {"-.5", "-0.5", -0.5f, "Y", true},
      {"1e3", "1000", 1000.0f, "Y", true},
      {"1e39", "3.40282e+38", FLT_MAX, "Y", true},
      {"-0", "0", -0.0f, "Y", true},
      // The rest of the word is the paid flag, which holds one character.
      {"12abc", "12", 12.0f, "a", false},
      // The failed number leaves "x" in the word buffer: the paid flag reads
      // nothing, the description its own line, the next choice a fresh line.
      {"x", "19.99", 19.99f, "", false},
  };
  Web held{};
  memcpy(held.cust_no, "C-42", 4);
  held.cost = 19.99f;
  put(held.paid, "N");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    TempDir dir;
    Image<Web> before;
    before[499] = held;
    dir.write("web.dat", before.bytes());
    WebText page{"5",      "e@f.uk", "Page", "www.p.example",  "1/3/26",
                 "1/4/26", c.typed,  c.paid, "Some words here"};
    page.cost_shown = c.shown;
    std::string typed = c.paid_typed ? page.typed()
                                     : lines({page.web_no, page.email, page.web_name, page.url,
                                              page.s_date, page.a_date, page.cost, page.com});
    EXPECT_EQ(in_process(dir, "2\n1\n" + typed + "3\n"),
              in_webs({web_add(1), kWebMenu, page.listed()}));
    Image<Web> expected;
    expected[499] = page.record(c.stored);
    memcpy(expected[499].cust_no, "C-42", 4);
    expected.counter(1);
    EXPECT_EQ(expected.difference(dir.read("web.dat")), "");
  }
}

// Each search is one pass of the find menu; '3' then leaves it.
TEST(WebFind, Searches) {
  const Exchange cases[] = {
      {"by web number", "1\n123\n", dialogue({kAskFindWebNo, kCafe.shown(), "\n"})},
      {"web number held twice, in slot order", "1\n7\n",
       dialogue({kAskFindWebNo, kShop.shown(), "\n", kBlog.shown(), "\n"})},
      {"web number held by none", "1\n99\n", dialogue({kAskFindWebNo, kNotFound})},
      {"four characters never match the three stored", "1\n1234\n",
       dialogue({kAskFindWebNo, kNotFound})},
      {"an empty line starts no search", "1\n\n123\n",
       dialogue({kAskFindWebNo, kCafe.shown(), "\n"})},
      {"by e-mail", "2\ncafe@c.uk\n", dialogue({kAskEmail, kCafe.shown(), "\n"})},
      {"e-mail in another case", "2\nCAFE@c.uk\n", dialogue({kAskEmail, kNotFount})},
      {"'9' redraws the find menu", "9\n", ""},
  };
  for (const Exchange& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("web.dat", three_webs().bytes());
    EXPECT_EQ(in_process(dir, "2\n2\n" + c.typed + "3\n"),
              in_webs({kFindWebMenu, c.shown, kFindWebMenu}));
    EXPECT_EQ(three_webs().difference(dir.read("web.dat")), "");
  }
}

// One call of the update, '7' leaving it; the file is checked at the web menu
// that follows, so every change was saved by the update itself.
TEST(WebUpdate, Options) {
  struct Case {
    const char* name;
    std::string typed;
    std::string said;  // after the first update menu
    Image<Web> after;
  };
  auto asked = [](std::string_view prompt) { return dialogue({prompt, "\n", kUpdateWebMenu}); };
  Case cases[] = {
      {"'4' adds to the cost", "123\n4\n25\n7\n", asked(kAskAddCost), three_webs()},
      {"'5' takes away more than the cost", "123\n5\n200\n7\n", asked(kAskTakeCost), three_webs()},
      {"the amount kept across passes, also by a failed input", "123\n4\n25\n4\nx\n7\n",
       dialogue({asked(kAskAddCost), asked(kAskAddCost)}), three_webs()},
      {"'1' e-mail", "123\n1\nnew@c.uk\n7\n", asked(kAskNewEmail), three_webs()},
      {"'2' page title, the whole line", "123\n2\n  New Cafe Menu \n7\n", asked(kAskNewPageTitle),
       three_webs()},
      {"'3' url, the first word; the next one is a choice", "123\n3\nwww.new.example 9\n7\n",
       dialogue({asked(kAskNewUrl), kUpdateWebMenu}), three_webs()},
      {"'6' paid", "123\n6\nY\n7\n", asked(kAskNewPaid), three_webs()},
      {"a number held twice, each in slot order", "7\n4\n10\n20\n7\n",
       dialogue({kAskAddCost, "\n", kAskAddCost, "\n", kUpdateWebMenu}), three_webs()},
      {"a number held by none; '4' asks for no amount", "99\n1\n4\n8\n0\n7\n",
       dialogue(
           {kNotFount, kUpdateWebMenu, kNotFount, kUpdateWebMenu, kUpdateWebMenu, kUpdateWebMenu}),
       three_webs()},
  };
  cases[0].after[30].cost = 175;
  cases[1].after[30].cost = -50;
  cases[2].after[30].cost = 200;
  put(cases[3].after[30].email, "new@c.uk");
  put(cases[4].after[30].web_name, "  New Cafe Menu ");
  put(cases[5].after[30].url, "www.new.example");
  put(cases[6].after[30].paid, "Y");
  cases[7].after[10].cost = 160;
  cases[7].after[20].cost = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("web.dat", three_webs().bytes());
    EXPECT_EQ(in_process(dir, "2\n4\n" + c.typed),
              in_webs({kAskUpdateWebNo, kUpdateWebMenu, c.said}));
    EXPECT_EQ(c.after.difference(dir.read("web.dat")), "");
  }
}

// The amounts start at +0 in every call: a failed amount adds +0, which turns
// a cost of -0 into 0 and leaves any other cost as it was.
TEST(WebUpdate, AmountsStartAtZeroEachCall) {
  std::string update_by_25 =
      dialogue({kAskUpdateWebNo, kUpdateWebMenu, kAskAddCost, "\n", kUpdateWebMenu, kWebMenu});
  std::string failed_update =
      dialogue({kAskUpdateWebNo, kUpdateWebMenu, kAskAddCost, "\n", kUpdateWebMenu});
  {
    TempDir dir;
    dir.write("web.dat", three_webs().bytes());
    EXPECT_EQ(in_process(dir, "2\n4\n123\n4\n25\n7\n4\n123\n4\nx\n7\n"),
              in_webs({update_by_25, failed_update}));
    Image<Web> expected = three_webs();
    expected[30].cost = 175;
    EXPECT_EQ(expected.difference(dir.read("web.dat")), "");
  }
  {
    TempDir dir;
    Image<Web> before = three_webs();
    before[30].cost = -0.0f;
    dir.write("web.dat", before.bytes());
    EXPECT_EQ(in_process(dir, "2\n4\n123\n4\nx\n7\n"), in_webs({failed_update}));
    before[30].cost = 0.0f;
    EXPECT_EQ(before.difference(dir.read("web.dat")), "");
  }
}

// The listing: every record in slot order, then back; '5' saves on the way out.
TEST(WebListing, AllRecordsInSlotOrder) {
  TempDir dir;
  dir.write("web.dat", three_webs().bytes());
  EXPECT_EQ(
      in_process(dir, "2\n3\n5\n4\n1\n"),
      dialogue({in_webs({kShop.listed(), kBlog.listed(), kCafe.listed()}), leave_and_quit()}));
  EXPECT_EQ(three_webs().difference(dir.read("web.dat")), "");
}

TEST(WebListing, EmptyTableShowsNothing) {
  TempDir dir;
  EXPECT_EQ(in_process(dir, "2\n3\n"), in_webs({}));
  EXPECT_FALSE(dir.exists("web.dat"));
}

// A listed record and a search hit of the same record, byte for byte: the
// listing puts e-mail, due date and paid flag after a tab, and its comments
// label is another word.
TEST(WebListing, LayoutDiffersFromASearchHit) {
  TempDir dir;
  dir.write("web.dat", three_webs().bytes());
  const std::string listed =
      "\n_____________________________________________________________________"
      "\n Web No: 123\t E-mail: cafe@c.uk\n Page Title: Cafe Menu\n Url: Http://cafe.example"
      "\n Start: 5/5/26\t Due: 6/6/26\n Cost (in pound): 150\t Paid (Y=Yes/N=No): N"
      "\n Descrip. & Com.: \nOne page.";
  const std::string hit =
      "\n Web No: 123\n E-mail: cafe@c.uk\n Page Title: Cafe Menu\n Url: Http://cafe.example"
      "\n Start: 5/5/26\n Due: 6/6/26\n Cost (in pound): 150\n Paid (Y=Yes/N=No): N"
      "\n\n Descrp. & Com.: \nOne page.";
  EXPECT_EQ(in_process(dir, "2\n3\n2\n1\n123\n3\n"),
            in_webs({kShop.listed(), kBlog.listed(), listed, kWebMenu, kFindWebMenu, kAskFindWebNo,
                     hit, "\n", kFindWebMenu}));
}

}  // namespace
}  // namespace orvel
