// Two sessions of the program in one folder, each on its own pipes, taking turns
// a prompt at a time: neither loses the other's records or changes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/kind_screens.h"
#include "tests/process.h"

namespace orvel {
namespace {

using namespace screens;
using testkit::Image;
using testkit::PipeSession;
using testkit::TempDir;

enum Who { A, B };

// A line one session types, and the prompt it stops at afterwards.
struct Step {
  Who who;
  std::string typed;
  std::string until;
};
using Steps = std::vector<Step>;

Steps operator+(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A customer add from the customer menu, a line per field, back at the menu.
Steps add_customer(Who who, const CustomerText& c) {
  const char* prompts[] = {"\n SURNAME: ",
                           "\n FIRST NAME(S): ",
                           "\n TITLE (MR/MISS/MS): ",
                           "\n IDENTIDY NO: ",
                           "\n STREET: ",
                           "\n TOWN: ",
                           "\n CITY: ",
                           "\n POST CODE: ",
                           "\n DATE OF BIRTH: ",
                           "\n TELEPHON NUMBER: ",
                           "\n TODAY DATE: "};
  const std::string fields[] = {c.surname, c.fname,  c.title, c.cust_no, c.street, c.town,
                                c.city,    c.p_code, c.dob,   c.tel_no,  c.r_date};
  Steps steps{{who, "1\n", prompts[0]}};
  for (int i = 0; i < 11; ++i) {
    steps.push_back({who, fields[i] + "\n", i < 10 ? prompts[i + 1] : std::string(kCustomerMenu)});
  }
  return steps;
}

// Runs the steps in order with two sessions started in the folder; both end
// at the end of their input.
void play(const TempDir& dir, const Steps& steps) {
  PipeSession a(dir.path()), b(dir.path());
  PipeSession* session[] = {&a, &b};
  for (PipeSession* s : session) ASSERT_TRUE(s->wait_for(kMainMenu));
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    session[step.who]->send(step.typed);
    ASSERT_TRUE(session[step.who]->wait_for(step.until))
        << "step " << i << " of "
        << "AB"[step.who] << ": " << step.typed << "\n"
        << session[step.who]->output();
  }
  for (PipeSession* s : session) EXPECT_TRUE(s->finish().exited_with(0));
}

const CustomerText kSmith{"Smith",  "John",  "MR",     "12",   "1 High St", "Oldham",
                          "London", "AB1 2", "1/1/80", "0123", "7/12/26"};
const CustomerText kJones{"Jones", "Ann",    "MS",     "20",   "3 Mill La", "Millby",
                          "Leeds", "LS1 3X", "2/2/82", "0456", "8/12/26"};

// Both sessions at customer 12's update menu, each with the file as it was then.
Steps update_smith() {
  const std::string ask_id(kAskCustomerId), menu(kUpdateCustomerMenu);
  return {{A, "1\n4\n", ask_id}, {B, "1\n4\n", ask_id}, {A, "12\n", menu}, {B, "12\n", menu}};
}
Steps leave_update() {
  return {{A, "3\n", std::string(kCustomerMenu)}, {B, "3\n", std::string(kCustomerMenu)}};
}
Steps address(Who who, const std::string& street) {
  return {{who, "1\n", "\n Enter New STREET: "},
          {who, street + "\nOldham\nLondon\nAB1 2\n", std::string(kUpdateCustomerMenu)}};
}
Steps telephone(Who who, const std::string& tel) {
  return {{who, "2\n", std::string(kAskNewTelephone)},
          {who, tel + "\n", std::string(kUpdateCustomerMenu)}};
}

TEST(TwoSessions, LeavingAMenuKeepsWhatTheOtherAdded) {
  TempDir dir;
  play(dir, Steps{{A, "1\n", std::string(kCustomerMenu)}, {B, "1\n", std::string(kCustomerMenu)}} +
                add_customer(B, kSmith) + Steps{{A, "5\n", std::string(kMainMenu)}});
  EXPECT_EQ(Image<Customer>::added({kSmith.record()}).difference(dir.read("customer.dat")), "");
}

TEST(TwoSessions, InterleavedAddsAreBothKept) {
  const Steps a = add_customer(A, kSmith), b = add_customer(B, kJones);
  auto half = [](const Steps& s, bool first) {
    return first ? Steps(s.begin(), s.begin() + 6) : Steps(s.begin() + 6, s.end());
  };
  TempDir dir;
  play(dir, Steps{{A, "1\n", std::string(kCustomerMenu)}, {B, "1\n", std::string(kCustomerMenu)}} +
                half(a, true) + half(b, true) + half(a, false) + half(b, false));
  // The later save takes the next slot.
  EXPECT_EQ(Image<Customer>::added({kSmith.record(), kJones.record()})
                .difference(dir.read("customer.dat")),
            "");
}

// Each update is saved at once; each session's change is the fields it wrote
// since its last save. B's menu was drawn before A's changes: a value B types
// back over one is B's later change; a value A saved before is no change of
// A's when A's next update is saved.
TEST(TwoSessions, OnlyFieldsWrittenSinceTheLastSaveAreTheSessionsChange) {
  CustomerText both = kSmith;  // new values no shorter than the old: nothing left past a NUL
  both.tel_no = "0999";
  both.street = "9 New Rd", both.town = "Newton", both.city = "Durham", both.p_code = "YO1 1A";
  CustomerText a_street = kSmith;
  a_street.street = "19 High St", a_street.tel_no = "0777";
  const std::string menu(kUpdateCustomerMenu);
  const struct {
    const char* what;
    Steps steps;
    const CustomerText& after;
  } cases[] = {
      {"two fields of one record, one each",
       {{A, "2\n", std::string(kAskNewTelephone)},
        {B, "1\n", "\n Enter New STREET: "},
        {A, "0999\n", menu},
        {B, "9 New Rd\nNewton\nDurham\nYO1 1A\n", menu}},
       both},
      {"values typed back over the other's change",
       address(A, "9 New Rd") + telephone(A, "0999") + address(B, kSmith.street) +
           telephone(B, kSmith.tel_no),
       kSmith},
      {"a value typed back", telephone(A, "0999") + telephone(B, kSmith.tel_no), kSmith},
      {"a value saved before",
       telephone(A, "0999") + telephone(B, "0777") + address(A, "19 High St"), a_street},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    dir.write("customer.dat", Image<Customer>::added({kSmith.record()}).bytes());
    play(dir, update_smith() + c.steps + leave_update());
    EXPECT_EQ(Image<Customer>::added({c.after.record()}).difference(dir.read("customer.dat")), "");
  }
}

TEST(TwoSessions, TwoCostAdditionsBothCount) {
  const WebText page{"7", "a@b.c", "Page", "www.x.com", "1/1", "2/2", "150", "N", "nice"};
  TempDir dir;
  dir.write("web.dat", Image<Web>::added({page.record(150)}).bytes());
  const std::string ask(kAskAddCost), menu(kUpdateWebMenu);
  play(dir,
       {{A, "2\n4\n7\n4\n", ask}, {B, "2\n4\n7\n4\n", ask}, {A, "25\n", menu}, {B, "10\n", menu}});
  EXPECT_EQ(Image<Web>::added({page.record(185)}).difference(dir.read("web.dat")), "");
}

TEST(TwoSessions, FriendUpdateMenuKeepsTheOthersAdd) {
  const FriendText fr{"3",      "Doe",  "Jane",  "j@d.e",  "www.d.e", "4 Elm Rd",
                      "Leaves", "Bath", "BA1 1", "2/2/90", "0222",    "0777"};
  TempDir dir;
  const std::string menu(kUpdateFriendMenu);
  play(dir, {{A, "3\n4\n3\n", menu},
             {B, "3\n1\n" + fr.typed(), std::string(kRehberMenu)},
             {A, "x\n", menu},
             {A, "6\n5\n", std::string(kMainMenu)}});
  EXPECT_EQ(Image<Friend>::added({fr.record()}).difference(dir.read("friend.dat")), "");
}

// The i-th add of a session: every field that shows says whose and which.
CustomerText numbered(Who who, int i) {
  std::string id = std::string("AB").substr(who, 1) + std::to_string(i);
  CustomerText c = who == A ? kSmith : kJones;
  c.cust_no = id, c.surname += id, c.tel_no += id;
  return c;
}

// The file counts every add and holds each record once, in the counted slots.
void expect_all_kept(const std::string& bytes, const std::vector<CustomerText>& records) {
  Image<Customer> file = Image<Customer>::of(bytes);
  ASSERT_EQ(file.bytes().size(), bytes.size()) << "not one whole image";
  EXPECT_EQ(file[1].total, static_cast<int>(records.size()));
  for (const CustomerText& c : records) {
    SCOPED_TRACE(c.cust_no);
    const Customer want = c.record();
    int found = 0;
    for (int slot = kSlots - static_cast<int>(records.size()); slot < kSlots; ++slot) {
      found += memcmp(&file[slot], &want, offsetof(Customer, total)) == 0;
    }
    EXPECT_EQ(found, 1);
  }
}

// Five adds in each session, their lines taken turn about at random: every
// record of both lands in its own slot and the counter counts all ten.
TEST(TwoSessions, RandomlyInterleavedAddsAreAllKept) {
  std::vector<CustomerText> records;
  Steps lines[2];
  for (Who who : {A, B}) {
    lines[who] = {{who, "1\n", std::string(kCustomerMenu)}};
    for (int i = 0; i < 5; ++i) {
      records.push_back(numbered(who, i));
      lines[who] = lines[who] + add_customer(who, records.back());
    }
  }
  std::mt19937 rng(12);
  Steps steps;
  size_t next[2] = {0, 0};
  while (next[A] < lines[A].size() || next[B] < lines[B].size()) {
    Who who = next[A] == lines[A].size() ? B : next[B] == lines[B].size() ? A : Who(rng() % 2);
    steps.push_back(lines[who][next[who]++]);
  }
  TempDir dir;
  play(dir, steps);
  expect_all_kept(dir.read("customer.dat"), records);
}

constexpr uid_t kOwner = 4242, kOther = 4343;  // users no account needs to exist for

// The sharers differ in what they may do with the folder, or reach the file by
// names in two folders; each types all its adds at once, so their saves meet.
// Whatever each does (a rename, a write in place), one lock keeps them apart
// and no add is lost.
TEST(TwoSessions, SharersWithOtherRightsOrNamesLoseNoAdd) {
  struct Case {
    const char* what;
    mode_t folder;     // of kOwner; customer.dat is kOwner's, mode 0666
    bool two_folders;  // B works in other/, where customer.dat is a second name
  };
  const Case cases[] = {{"the other may not read the folder", 0711, false},
                        {"the other may not read the folder but may write it", 0733, false},
                        {"one file, two folders", 0755, true}};
  constexpr int kAdds = 25;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string mine = dir.file("mine"), other = dir.file("other");
    for (const std::string& folder : {mine, other}) {
      ASSERT_EQ(mkdir(folder.c_str(), c.folder), 0);
      ASSERT_EQ(chmod(folder.c_str(), c.folder), 0);
      ASSERT_EQ(chown(folder.c_str(), kOwner, kOwner), 0);
    }
    const std::string file = mine + "/customer.dat";
    dir.write("mine/customer.dat", Image<Customer>().bytes());
    ASSERT_EQ(chown(file.c_str(), kOwner, kOwner), 0);
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    if (c.two_folders) {
      ASSERT_EQ(link(file.c_str(), (other + "/customer.dat").c_str()), 0);
    }
    PipeSession a(mine, testkit::as_user(kOwner, kOwner));
    PipeSession b(c.two_folders ? other : mine, testkit::as_user(kOther, kOther));
    std::vector<CustomerText> records;
    std::string typed[2] = {"1\n", "1\n"};
    for (int i = 0; i < kAdds; ++i) {
      for (Who who : {A, B}) {
        records.push_back(numbered(who, i));
        for (const Step& step : add_customer(who, records.back())) typed[who] += step.typed;
      }
    }
    a.send(typed[A] + "5\n4\n1\n");
    b.send(typed[B] + "5\n4\n1\n");
    for (PipeSession* s : {&a, &b}) EXPECT_TRUE(s->finish().exited_with(0));
    expect_all_kept(testkit::read_file(file).value_or(""), records);
  }
}

}  // namespace
}  // namespace orvel
