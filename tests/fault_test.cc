// Faults made for real against the built program: kills during saves, a file-size
// limit, and input that ends at every prompt.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "records/data_file.h"
#include "records/records.h"
#include "tests/process.h"

namespace orvel {
namespace {

using std::chrono::milliseconds;
using testkit::run_orvel;
using testkit::RunOptions;
using testkit::RunResult;
using testkit::TempDir;

constexpr size_t kImage = sizeof(Customer) * kSlots;

std::string lines(const std::vector<std::string>& typed) {
  std::string input;
  for (const std::string& line : typed) input += line + "\n";
  return input;
}

// The lines of the k-th customer add: every field says k, so a record shows
// which add wrote it and whether it was written whole.
std::vector<std::string> customer_add(int k) {
  std::string n = std::to_string(k);
  return {"1",         "S" + n, "First " + n, "T" + n, n,       n + " Long Street",
          "Town " + n, "C" + n, "P" + n,      "D" + n, "0" + n, "R" + n};
}

// From the main menu: adds number `first` to `last`, then saves, leaves and quits.
std::string adds_session(int first, int last) {
  std::vector<std::string> typed = {"1"};
  for (int k = first; k <= last; ++k) {
    std::vector<std::string> add = customer_add(k);
    typed.insert(typed.end(), add.begin(), add.end());
  }
  typed.insert(typed.end(), {"5", "4", "1"});
  return lines(typed);
}

// customer.dat as it stands after the first `count` adds to an empty table.
testkit::Image<Customer> image_after(int count) {
  testkit::Image<Customer> image;
  for (int k = 1; k <= count; ++k) {
    Customer& r = image[kSlots - k];
    std::string n = std::to_string(k);
    testkit::put(r.surname, "S" + n);
    testkit::put(r.fname, "First " + n);
    testkit::put(r.cust_title, "T" + n);
    testkit::put(r.cust_no, n);
    testkit::put(r.street, n + " Long Street");
    testkit::put(r.town, "Town " + n);
    testkit::put(r.city, "C" + n);
    testkit::put(r.p_code, "P" + n);
    testkit::put(r.dob, "D" + n);
    testkit::put(r.tel_no, "0" + n);
    testkit::put(r.r_date, "R" + n);
  }
  return image.counter(count);
}

constexpr uid_t kOwner = 4242, kMember = 4343;  // users no account needs to exist for
constexpr gid_t kGroup = 4444;

// Sessions of adds killed at random moments: every file left shows, as a load
// takes it, exactly the adds its counter counts, each whole. The owner's saves
// rename a new file over the old; a group member's, who may not give a new file
// the owner's name, write the changed records in place.
TEST(KilledDuringAdds, EveryFileLeftHoldsItsCountedRecordsWhole) {
  const struct {
    const char* what;
    bool in_place;
  } cases[] = {{"the owner renames", false}, {"a group member writes in place", true}};
  constexpr int kAdds = 60;
  // How long a whole session takes here, so the kills land inside one.
  TempDir trial;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(run_orvel(trial.path(), adds_session(1, kAdds)).exited_with(0));
  ASSERT_EQ(image_after(kAdds).difference(trial.read("customer.dat")), "");
  auto whole = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string file = dir.file("customer.dat");
    // The member's file is the owner's, shared with the group; the folder is not theirs.
    auto fresh = [&] {
      dir.write("customer.dat", testkit::Image<Customer>().bytes());
      return chown(file.c_str(), kOwner, kGroup) == 0 && chmod(file.c_str(), 0660) == 0;
    };
    ASSERT_TRUE(!c.in_place || fresh());
    RunOptions options;
    if (c.in_place) options.before_exec = testkit::as_user(kMember, kMember, {kGroup});
    std::mt19937 random(61226);
    std::uniform_int_distribution<int> moment(0, static_cast<int>(whole.count() * 6 / 5) + 1);
    int counter = 0, kills = 0;
    for (int round = 0; round < 15; ++round) {
      if (counter > kSlots - 1 - kAdds) {  // room for the next session's adds
        std::filesystem::remove(file);
        ASSERT_TRUE(!c.in_place || fresh());
        counter = 0;
      }
      options.limit = milliseconds(moment(random));
      RunResult run = run_orvel(dir.path(), adds_session(counter + 1, counter + kAdds), options);
      SCOPED_TRACE("round " + std::to_string(round) + ", killed after " +
                   std::to_string(options.limit.count()) + " ms");
      if (run.timed_out) {
        ++kills;
      } else {
        ASSERT_TRUE(run.exited_with(0)) << run.signal;
      }
      // A kill before the rename may leave one temporary of its own pattern (the
      // next save clears it away); the data file itself is what must be whole.
      int temporaries = 0;
      for (const std::string& name : dir.names()) {
        if (name == "customer.dat") continue;
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(\.customer\.dat\.orvel-[A-Za-z0-9]{6})")))
            << name << " left in the directory";
        ++temporaries;
      }
      EXPECT_LE(temporaries, c.in_place ? 0 : 1);
      if (!dir.exists("customer.dat")) {
        ASSERT_EQ(counter, 0) << "a saved file has gone";
        continue;
      }
      // As a load shows it: an in-place save cut short leaves its undo record.
      FileRead file = read_data_file(dir.file("customer.dat"), kImage);
      ASSERT_EQ(file.state, FileRead::kRead);
      ASSERT_EQ(file.image.size(), kImage);
      int now = testkit::Image<Customer>::of(file.image)[1].total;
      ASSERT_GE(now, counter);
      ASSERT_LE(now, counter + kAdds);
      ASSERT_EQ(image_after(now).difference(file.image), "") << "after " << now << " adds";
      counter = now;
    }
    EXPECT_GT(kills, 0) << "no session was cut short";
  }
}

// A valid old customer.dat, then a session under a file-size limit below one
// image: every save fails, says so and leaves the old file; the program goes on.
TEST(FileSizeLimit, SaveFailsAndTheOldFileStays) {
  TempDir dir;
  ASSERT_TRUE(run_orvel(dir.path(), adds_session(1, 2)).exited_with(0));
  const std::string old = dir.read("customer.dat");
  ASSERT_EQ(image_after(2).difference(old), "");

  RunOptions options;
  options.before_exec = [] {
    rlimit limit{kImage / 2, kImage / 2};
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_DFL);  // the program has to ignore it itself
  };
  RunResult run = run_orvel(dir.path(), adds_session(3, 3), options);
  ASSERT_TRUE(run.exited_with(0)) << "signal " << run.signal << ", timed out " << run.timed_out;
  EXPECT_EQ(dir.read("customer.dat"), old);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"customer.dat"});

  // The add's save fails; the sub-menu's reload keeps the add that was typed,
  // and the save of '5' tries it again, and says so again.
  const std::string failed = "\n**File Not Saved**\n";
  size_t add_failed = run.output.find("\n TODAY DATE: ");
  ASSERT_NE(add_failed, std::string::npos);
  add_failed = run.output.find(failed, add_failed);
  ASSERT_NE(add_failed, std::string::npos) << run.output;
  size_t menu_again = run.output.find("CUSTOMER MENU", add_failed);
  ASSERT_NE(menu_again, std::string::npos);
  const size_t leave_failed = run.output.find(failed, menu_again);
  ASSERT_NE(leave_failed, std::string::npos);
  EXPECT_NE(run.output.find("MAIN MENU", leave_failed), std::string::npos);
  EXPECT_TRUE(run.output.ends_with("\n\t\tBye..."));
}

// A whole dialogue of one kind: add, list, both searches, every update option,
// leave, quit. Each step is a run of typed lines, split at '|'.
struct Dialogue {
  const char* kind;
  std::vector<std::string> steps;
};

const Dialogue kDialogues[] = {
    {"customer",
     {"1",                                                                        // its menu
      "1|Smith|John Paul|MR|7|1 High St|Old Town|Leeds|LS1|1/2/70|0113|6/12/26",  // add
      "3",                                                                        // list
      "2|1|7|2|LS1|5|3",                              // find by number, by post code, back
      "4|7|1|2 Low Rd|New Town|York|YO1|2|0190|9|3",  // new address, telephone, leave
      "4|8|4",                                        // a number no one has, leave by 4
      "5|6|4|3|1"}},                                  // save, main menu, quit asked twice
    {"web",
     {"2",                                                                  // its menu
      "1|7|a@b.example|My Page|www.b.example/x|1/1/26|2/2/26|150|N|Notes",  // add
      "3",                                                                  // list
      "2|1|7|2|a@b.example|9|3",  // find by number, by e-mail, back
      "4|7|1|c@d.example|2|New Title|3|e.example|4|25|5|200|6|Y|8|7",  // every update option
      "5|4|1"}},
    {"friend",
     {"3",                                                                               // its menu
      "1|7|Doe|Jane|j@d.example|d.example|2 Low Rd|New Town|York|YO1|3/4/80|0190|0770",  // add
      "3",                                                                               // list
      "2|1|7|2|Jane|4|3",  // find by number, by name, back
      "4|7|1|3 Mid St|Midtown|Hull|HU1|2|e@f.example|3|f.example|4|0114|5|0771|8|6",  // update
      "5|4|1"}},
};

std::vector<std::string> typed_lines(const Dialogue& dialogue) {
  std::vector<std::string> typed;
  for (const std::string& step : dialogue.steps) {
    size_t from = 0, bar;
    while ((bar = step.find('|', from)) != std::string::npos) {
      typed.push_back(step.substr(from, bar - from));
      from = bar + 1;
    }
    typed.push_back(step.substr(from));
  }
  return typed;
}

void PrintTo(const Dialogue& dialogue, std::ostream* out) { *out << dialogue.kind; }

bool ends_at_a_choice(const std::string& output) {
  return output.ends_with("Enter number: ") || output.ends_with("Enter Number:") ||
         output.ends_with("\n\t\tBye...");
}

class EndOfInput : public testing::TestWithParam<Dialogue> {};

// Cut after each line, and inside the line after it (no newline): the program
// always ends with status 0 at the next choice, whatever prompt the input ended at.
TEST_P(EndOfInput, AtEveryPromptEndsWithStatusZero) {
  const std::vector<std::string> typed = typed_lines(GetParam());
  std::string whole = lines(typed);
  size_t cut = 0;
  for (size_t i = 0; i <= typed.size(); ++i) {
    std::vector<size_t> cuts = {cut};
    if (i < typed.size() && typed[i].size() > 1) cuts.push_back(cut + typed[i].size() / 2);
    for (size_t at : cuts) {
      TempDir dir;
      RunOptions options;
      options.limit = milliseconds(10000);
      RunResult run = run_orvel(dir.path(), std::string_view(whole).substr(0, at), options);
      SCOPED_TRACE("input cut after " + std::to_string(at) + " bytes: " + whole.substr(0, at));
      ASSERT_TRUE(run.exited_with(0)) << "status " << run.exit_status << ", signal " << run.signal
                                      << ", hung " << run.timed_out;
      EXPECT_TRUE(ends_at_a_choice(run.output)) << run.output.substr(run.output.size() / 2);
    }
    if (i < typed.size()) cut += typed[i].size() + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, EndOfInput, testing::ValuesIn(kDialogues),
                         [](const testing::TestParamInfo<Dialogue>& info) {
                           return std::string(info.param.kind);
                         });

}  // namespace
}  // namespace orvel
