// Customers end to end: whole dialogues in-process, and the file they leave.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/in_process.h"
#include "tests/kind_screens.h"
#include "tests/process.h"

namespace orvel {
namespace {

using namespace screens;
using namespace testkit;

const CustomerText kSmith{"Smith",  "John Paul", "MR",     "12",   "1 High St", "Old Town",
                          "London", "AB1 2C",    "1/1/80", "0123", "7/12/26"};
const CustomerText kJones{"Jones", "Ann",    "MS",     "12",   "2 Low Rd", "Hill",
                          "Leeds", "LS2 9Q", "3/3/71", "0456", "1/2/25"};
const CustomerText kBrown{"Brown", "Bo",     "MISS",   "7",    "3 Mill La", "Dale",
                          "York",  "YO1 7X", "5/5/95", "0789", "2/2/22"};
const CustomerText kEmpty{};

// A file of three customers; Smith and Jones share an identity number.
Image<Customer> three_customers() {
  return Image<Customer>::holding(
      {{10, kSmith.record()}, {20, kJones.record()}, {30, kBrown.record()}});
}

// The customer menu entered from the main menu, the steps, then '6' back and quit.
std::string in_customers(std::initializer_list<std::string_view> steps) {
  return dialogue({kMainMenu, kCustomerMenu, dialogue(steps), kCustomerMenu, leave_and_quit()});
}
const char* const kLeave = "6\n4\n1\n";

TEST(CustomerAdd, FirstAddTakesSlot499AndNumberOne) {
  TempDir dir;
  EXPECT_EQ(in_process(dir, "1\n1\n" + kSmith.typed() + kLeave), in_customers({customer_add(1)}));
  // The add itself saved the file.
  EXPECT_EQ(Image<Customer>::added({kSmith.record()}).difference(dir.read("customer.dat")), "");
}

TEST(CustomerAdd, ListingShowsTheLaterAddFirst) {
  TempDir dir;
  std::string input = "1\n1\n" + kSmith.typed() + "1\n" + kBrown.typed() + "3\n" + kLeave;
  EXPECT_EQ(in_process(dir, input),
            in_customers({customer_add(1), kCustomerMenu, customer_add(2), kCustomerMenu,
                          kBrown.listed(), kSmith.listed()}));
  EXPECT_EQ(Image<Customer>::added({kSmith.record(), kBrown.record()})
                .difference(dir.read("customer.dat")),
            "");
}

// The title, the identity number and the city are words: the rest of their
// line is the next word the add asks for, and a line input takes a fresh line.
TEST(CustomerAdd, WordFieldsLeaveTheRestOfTheirLine) {
  struct Case {
    const char* name;
    std::string typed;
    CustomerText stored;
  };
  CustomerText titled = kSmith, city = kSmith;
  titled.title = "MR", titled.cust_no = "X";
  city.city = "London", city.dob = "X";
  const Case cases[] = {
      {"title \"MR X\": X is the identity number",
       lines({"Smith", "John Paul", "MR X", "1 High St", "Old Town", "London", "AB1 2C", "1/1/80",
              "0123", "7/12/26"}),
       titled},
      {"city \"London X\": X is the date of birth",
       lines({"Smith", "John Paul", "MR", "12", "1 High St", "Old Town", "London X", "AB1 2C",
              "0123", "7/12/26"}),
       city},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    EXPECT_EQ(in_process(dir, "1\n1\n" + c.typed + kLeave), in_customers({customer_add(1)}));
    EXPECT_EQ(Image<Customer>::added({c.stored.record()}).difference(dir.read("customer.dat")), "");
  }
}

// The counter in slot 1 decides the slot: past the table's end it says so, and
// a negative one adds nothing without a word. Either way nothing is written.
TEST(CustomerAdd, CounterAtTheTableEnds) {
  struct Case {
    int32_t counter;
    std::string_view said;
  };
  for (const Case& c : {Case{500, kTableFull}, Case{-1, ""}}) {
    SCOPED_TRACE(c.counter);
    TempDir dir;
    std::string before = three_customers().counter(c.counter).bytes();
    dir.write("customer.dat", before);
    EXPECT_EQ(in_process(dir, std::string("1\n1\n") + kLeave), in_customers({c.said}));
    EXPECT_TRUE(dir.read("customer.dat") == before);
  }
}

TEST(CustomerAdd, LastFreeSlotIsSlotZero) {
  TempDir dir;
  dir.write("customer.dat", Image<Customer>().counter(499).bytes());
  EXPECT_EQ(in_process(dir, "1\n1\n" + kSmith.typed() + kLeave), in_customers({customer_add(500)}));
  EXPECT_EQ(Image<Customer>::of(dir.read("customer.dat"))[0].cust_no, std::string("12"));
}

// Each search is one pass of the find menu; '3' then leaves it.
TEST(CustomerFind, Searches) {
  const Exchange cases[] = {
      {"by identity number", "1\n7\n", dialogue({kAskCustomerId, kBrown.shown(), "\n"})},
      {"identity number held twice", "1\n12\n",
       dialogue({kAskCustomerId, kSmith.shown(), "\n", kJones.shown(), "\n"})},
      {"identity number held by none", "1\n99\n", dialogue({kAskCustomerId, kNotFount})},
      {"a key is the whole line", "1\n7 \n", dialogue({kAskCustomerId, kNotFount})},
      {"by post code, blank inside", "2\nAB1 2C\n", dialogue({kAskPostCode, kSmith.shown(), "\n"})},
      {"post code in lower case", "2\nab1 2c\n", dialogue({kAskPostCode, kNotFount})},
      {"an empty line finds the empty slots", "1\n\n",
       dialogue({kAskCustomerId, hits(kEmpty, 497)})},
  };
  for (const Exchange& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("customer.dat", three_customers().bytes());
    EXPECT_EQ(in_process(dir, "1\n2\n" + c.typed + "3\n" + kLeave),
              in_customers({kFindCustomerMenu, c.shown, kFindCustomerMenu}));
  }
}

// The search key holds four characters, one more than cust_no: a number typed
// one character too long finds nothing, however its first three read.
TEST(CustomerFind, AKeyLongerThanAnyNumberFindsNothing) {
  CustomerText numbered = kBrown;
  numbered.cust_no = "123";
  Image<Customer> image;
  image[30] = numbered.record();
  for (const auto& [typed, shown] :
       {std::pair<std::string, std::string>{"123", dialogue({numbered.shown(), "\n"})},
        {"1234", std::string(kNotFount)}}) {
    SCOPED_TRACE(typed);
    TempDir dir;
    dir.write("customer.dat", image.bytes());
    EXPECT_EQ(
        in_process(dir, "1\n2\n1\n" + typed + "\n3\n" + kLeave),
        in_customers({kFindCustomerMenu, dialogue({kAskCustomerId, shown}), kFindCustomerMenu}));
  }
}

TEST(CustomerUpdate, EveryHolderOfTheKeyInTurn) {
  struct Case {
    const char* name;
    std::string typed;
    std::string said;
    Image<Customer> after;
  };
  std::string new_address_said = dialogue({kAskNewAddress, "\n"});
  CustomerText smith_moved = kSmith, jones_moved = kJones;
  smith_moved.street = "9 New St", smith_moved.town = "New Town", smith_moved.city = "Leeds";
  smith_moved.p_code = "LS1 1A";
  jones_moved.street = "8 Far Rd", jones_moved.town = "Far", jones_moved.city = "Hull";
  jones_moved.p_code = "HU1 2B";
  CustomerText brown_called = kBrown, brown_moved = kBrown;
  brown_called.tel_no = "0999";
  brown_moved.street = "9 New St", brown_moved.town = "New Town", brown_moved.city = "Leeds";
  brown_moved.p_code = "LS1 1A";
  Case cases[] = {
      {"address of two slots, the lower first",
       "12\n1\n9 New St\nNew Town\nLeeds\nLS1 1A\n8 Far Rd\nFar\nHull\nHU1 2B\n3\n",
       dialogue({kUpdateCustomerMenu, new_address_said, new_address_said, kUpdateCustomerMenu}),
       three_customers()},
      {"telephone of one slot, '4' leaves", "7\n2\n0999\n4\n",
       dialogue({kUpdateCustomerMenu, kAskNewTelephone, "\n", kUpdateCustomerMenu}),
       three_customers()},
      {"a key held by none", "99\n1\n2\n3\n",
       dialogue(
           {kUpdateCustomerMenu, kNotFount, kUpdateCustomerMenu, kNotFount, kUpdateCustomerMenu}),
       three_customers()},
      {"the new city is a word: the rest of its line is the next choice",
       "7\n1\n9 New St\nNew Town\nLeeds 4\nLS1 1A\n",
       dialogue({kUpdateCustomerMenu, new_address_said, kUpdateCustomerMenu}), three_customers()},
  };
  cases[0].after[10] = smith_moved.record();
  cases[0].after[20] = jones_moved.record();
  cases[1].after[30] = brown_called.record();
  cases[3].after[30] = brown_moved.record();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("customer.dat", three_customers().bytes());
    EXPECT_EQ(in_process(dir, "1\n4\n" + c.typed + kLeave), in_customers({kAskCustomerId, c.said}));
    EXPECT_EQ(c.after.difference(dir.read("customer.dat")), "");  // saved before '6'
  }
}

// A shorter new text leaves the old one's bytes after its NUL, as the file always had.
TEST(CustomerUpdate, NewTextKeepsTheBytesAfterIt) {
  TempDir dir;
  dir.write("customer.dat", three_customers().bytes());
  in_process(dir, std::string("1\n4\n7\n2\n0\n3\n") + kLeave);
  Customer brown = Image<Customer>::of(dir.read("customer.dat"))[30];
  EXPECT_EQ(std::string(brown.tel_no, 5), std::string("0\0\x38\x39\0", 5));
}

// On a terminal a listing waits for a key after every record, the last one too.
TEST(CustomerListing, PausesAfterEachRecordOnATerminal) {
  TempDir dir;
  Image<Customer> image;
  image[3] = kSmith.record();
  image[4] = kBrown.record();
  dir.write("customer.dat", image.bytes());
  PtySession pty(dir.path());
  ASSERT_TRUE(pty.wait_for(on_tty(kMainMenu)));
  pty.send("1\n3\n");
  for (const CustomerText* listed : {&kSmith, &kBrown}) {
    ASSERT_TRUE(pty.wait_for(on_tty(listed->listed()))) << listed->surname;
    ASSERT_TRUE(pty.wait_raw(true));
    usleep(100 * 1000);  // time enough for anything that does not wait
    EXPECT_EQ(pty.unmatched(), "") << "after " << listed->surname;
    pty.send(" ");
  }
  EXPECT_TRUE(pty.wait_for(on_tty(kCustomerMenu)));
}

// The table is read again before every display of the menu, so a file put in
// place by someone else while the menu waits is what the next search sees.
TEST(CustomerMenu, FileReplacedOnDiskIsReadAtTheNextDisplay) {
  TempDir dir;
  PipeDevice device;
  device.terminal_lines = true;                  // one line a read, as typed
  device.input = "1\n0\n2\n1\n7\n3\n6\n4\n1\n";  // a wrong choice only redraws the menu
  device.before_read = [&](size_t read) {
    if (read == 2) dir.write("customer.dat", three_customers().bytes());  // at the first choice
  };
  EXPECT_EQ(run_program(dir, device), 0);
  EXPECT_EQ(device.output, in_customers({kCustomerMenu, kFindCustomerMenu, kAskCustomerId,
                                         kBrown.shown(), "\n", kFindCustomerMenu}));
}

// Both layouts of one customer, letter for letter: the listing puts the
// customer and the registration date after a tab and the date of birth last.
TEST(CustomerLayouts, ListingAndSearchHit) {
  TempDir dir;
  Image<Customer> image;
  image[30] = kBrown.record();
  dir.write("customer.dat", image.bytes());
  const std::string listed =
      "\n_____________________________________________________________________"
      "\n Cust No : 7\t Customer: MISS Bo Brown\n Address : 3 Mill La, Dale, York, YO1 7X."
      "\n Tel No  : 0789\t Reg Date: 2/2/22\n Date of Bith: 5/5/95";
  const std::string hit =
      "\n Cust No : 7\n Customer: MISS Bo Brown\n Address : 3 Mill La, Dale, York, YO1 7X."
      "\n Date of Bith: 5/5/95\n Tel No  : 0789\n Reg Date: 2/2/22";
  EXPECT_EQ(in_process(dir, std::string("1\n3\n2\n1\n7\n3\n") + kLeave),
            in_customers({listed, kCustomerMenu, kFindCustomerMenu, kAskCustomerId, hit, "\n",
                          kFindCustomerMenu}));
}

}  // namespace
}  // namespace orvel
