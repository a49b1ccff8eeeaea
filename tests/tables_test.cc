// The three kinds' tables against their data files, through each kind's own save, load and add.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "console/memory_device.h"
#include "customer/cust.h"
#include "dialogue/table_dialogue.h"
#include "records/save_seam.h"
#include "records/table.h"
#include "records/table_file.h"
#include "records/written.h"
#include "rehber/reh.h"
#include "tests/in_process.h"
#include "tests/kind_screens.h"
#include "web/webs.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

struct Customers {
  using Rec = Customer;
  static constexpr const char* kFile = "customer.dat";
  static constexpr size_t kFileSize = 90000;
  static Table<Rec>& table() { return namelist; }
  static void save() { Cust().save_cust(); }
  static void load() { Cust().load_cust(); }
  static void add() { Cust().add_cust(); }
};

struct WebPages {
  using Rec = Web;
  static constexpr const char* kFile = "web.dat";
  static constexpr size_t kFileSize = 108500;
  static Table<Rec>& table() { return weblist; }
  static void save() { Webs().save_web(); }
  static void load() { Webs().load_web(); }
  static void add() { Webs().add_web(); }
};

struct Friends {
  using Rec = Friend;
  static constexpr const char* kFile = "friend.dat";
  static constexpr size_t kFileSize = 129500;
  static Table<Rec>& table() { return friendlist; }
  static void save() { Reh().save_fri(); }
  static void load() { Reh().load_fri(); }
  static void add() { Reh().add_fri(); }
};

std::string read_file(const char* name) { return testkit::read_file(name).value_or(""); }

using testkit::pattern;

// Each test in a fresh directory of its own, with a console in memory.
template <class Kind>
class TableTest : public testkit::InTempDir {
 protected:
  static constexpr size_t kImage = sizeof(Table<typename Kind::Rec>);

  static std::string image() { return {reinterpret_cast<const char*>(Kind::table()), kImage}; }
  static void set_image(const std::string& bytes) { memcpy(Kind::table(), bytes.data(), kImage); }
  static int32_t total() { return Kind::table()[1].total; }
  static void set_total(int32_t total) { Kind::table()[1].total = total; }
  static void set_step(int32_t num) { Kind::table()[2].num = num; }
};

using Kinds = testing::Types<Customers, WebPages, Friends>;
TYPED_TEST_SUITE(TableTest, Kinds);

TYPED_TEST(TableTest, SavedTableLoadsBackByteForByte) {
  const std::string saved = pattern(1, this->kImage);
  this->set_image(saved);
  TypeParam::save();
  std::string file = read_file(TypeParam::kFile);
  EXPECT_EQ(file.size(), TypeParam::kFileSize);
  EXPECT_EQ(file, saved);  // slot 0 first, bytes after each NUL as they were

  memset(TypeParam::table(), 0, this->kImage);
  TypeParam::load();
  EXPECT_EQ(this->image(), saved);
  EXPECT_EQ(this->device_.output, "");
}

// The file's bytes replace the table's from the start; whatever lies past
// the file's end, or past 500 records, keeps what it held.
TYPED_TEST(TableTest, LoadReplacesWhatTheFileCovers) {
  const size_t rec = sizeof(typename TypeParam::Rec);
  const struct {
    const char* what;
    std::optional<size_t> size;  // none: no file at all
  } cases[] = {
      {"missing", {}},
      {"empty", 0},
      {"400 bytes: customer slots 0, 1 and 40 bytes of 2", 400},
      {"one record", rec},
      {"one byte short", this->kImage - 1},
      {"whole", this->kImage},
      {"longer", this->kImage + 3 * rec + 5},
  };
  const std::string memory = pattern(2, this->kImage);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(TypeParam::kFile);
    size_t covered = 0;
    if (c.size) {
      std::ofstream(TypeParam::kFile, std::ios::binary) << pattern(3, *c.size);
      covered = std::min(*c.size, this->kImage);
    }
    this->set_image(memory);
    TypeParam::load();
    EXPECT_EQ(this->image(), pattern(3, covered) + memory.substr(covered));
  }
}

// A field typed back to the value it had at the load, over another session's
// change to it, is this session's change and wins; each table keeps the marks
// of its own fields.
TYPED_TEST(TableTest, AFieldTypedBackOverAnotherSessionsChangeWins) {
  using Rec = typename TypeParam::Rec;
  const RecordField field = fields_of<Rec>()[1];  // a text field after the key
  const size_t at = 499 * sizeof(Rec) + field.offset;
  std::string loaded = pattern(5, this->kImage), theirs = loaded;
  loaded.replace(at, 4, "old", 4);
  theirs.replace(at, 4, "new", 4);
  std::ofstream(TypeParam::kFile, std::ios::binary) << loaded;
  TableFile<Rec> file(TypeParam::kFile);
  file.load(TypeParam::table());
  this->dir_.write(TypeParam::kFile, theirs);
  char* typed = reinterpret_cast<char*>(TypeParam::table()) + at;
  memcpy(typed, "old", 4);
  mark_written(typed, field.width);
  EXPECT_TRUE(file.save(TypeParam::table()));
  release_kept_lock();
  EXPECT_TRUE(read_file(TypeParam::kFile) == loaded) << "the other session's change stayed";
}

// A reload after a failed save moves this session's add to the slot the file's
// counter gives, and the file's own add takes the slot it left: no mark of this
// session stays there, so a later change to that record by another stands.
TYPED_TEST(TableTest, AReloadAfterAFailedSaveLeavesNoMarkWhereTheAddWas) {
  using Rec = typename TypeParam::Rec;
  const RecordField first = fields_of<Rec>()[0];
  auto file_with = [&](const char* at_499) {  // another session's add, by a rename
    std::string bytes(this->kImage, '\0');
    memcpy(bytes.data() + 499 * sizeof(Rec) + first.offset, at_499, 3);
    const int32_t total = 1;
    memcpy(bytes.data() + sizeof(Rec) + offsetof(Rec, total), &total, sizeof total);
    std::ofstream("next.dat", std::ios::binary) << bytes;
    fs::rename("next.dat", TypeParam::kFile);
  };
  std::ofstream(TypeParam::kFile, std::ios::binary) << std::string(this->kImage, '\0');
  TableFile<Rec> file(TypeParam::kFile);
  file.load(TypeParam::table());
  Rec& added = TypeParam::table()[499];  // this session's add
  memcpy(reinterpret_cast<char*>(&added) + first.offset, "me", 3);
  mark_written(&added, sizeof added);
  this->set_total(1);
  file_with("B1");
  save_calls.fsync = [](int) { return errno = EIO, -1; };
  EXPECT_FALSE(file.save(TypeParam::table()));
  save_calls = kSystemCalls;
  file.load(TypeParam::table());  // this session's add moves to 498
  file_with("B2");                // the other session changes its record
  EXPECT_TRUE(file.save(TypeParam::table()));
  release_kept_lock();
  const std::string saved = read_file(TypeParam::kFile);
  EXPECT_STREQ(saved.data() + 499 * sizeof(Rec) + first.offset, "B2");
  EXPECT_STREQ(saved.data() + 498 * sizeof(Rec) + first.offset, "me");
}

// 499 less the counter; a negative counter adds nothing without a word, and
// a full table says so once, waits for a key and changes nothing.
TYPED_TEST(TableTest, AddSlotIsFourHundredNinetyNineLessTheCounter) {
  const struct {
    int32_t counter;
    std::optional<int> slot;
    bool full;
  } cases[] = {
      {0, 499, false},        {1, 498, false}, {499, 0, false}, {-1, {}, false},
      {INT32_MIN, {}, false}, {500, {}, true}, {501, {}, true}, {INT32_MAX, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.counter);
    this->set_image(pattern(4, this->kImage));
    this->set_total(c.counter);
    const std::string before = this->image();
    this->device_.output.clear();
    this->device_.pauses = 0;
    EXPECT_EQ(add_slot(TypeParam::table()), c.slot);
    EXPECT_EQ(this->device_.output, c.full ? "\n**Table Full**\n" : "");
    EXPECT_EQ(this->device_.pauses, c.full ? 1u : 0u);
    EXPECT_EQ(this->image(), before);
  }
}

// The add itself on a table it cannot add to: nothing read, nothing saved.
TYPED_TEST(TableTest, AddToAFullOrNegativeTableReadsAndSavesNothing) {
  for (int32_t counter : {500, INT32_MAX, -1}) {
    SCOPED_TRACE(counter);
    MemoryDevice device;  // a fresh input model for each case
    device.input = "unread words\n";
    Console console(device);
    set_console(&console);
    this->set_total(counter);
    const std::string before = this->image();
    TypeParam::add();
    EXPECT_EQ(device.output, counter >= 0 ? "\n**Table Full**\n" : "");
    EXPECT_EQ(device.pauses, counter >= 0 ? 1u : 0u);
    EXPECT_EQ(this->image(), before);
    EXPECT_FALSE(fs::exists(TypeParam::kFile));
    char word[16] = {};
    console.word_value(word);
    EXPECT_STREQ(word, "unread");
    set_console(&this->console_);
  }
}

// Slot 1's total becomes total + slot 2's num + 1, wrapping as the 32-bit
// field would; nothing else in the table changes.
TYPED_TEST(TableTest, CounterAdvancesByStepPlusOneAndWraps) {
  const struct {
    int32_t total, num, next;
  } cases[] = {
      {0, 0, 1},
      {7, 4, 12},
      {3, -1, 3},
      {INT32_MAX, 0, INT32_MIN},
      {0, INT32_MAX, INT32_MIN},
      {INT32_MIN, INT32_MIN, 1},
      {-1, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.total);
    this->set_image(pattern(5, this->kImage));
    this->set_total(c.total);
    this->set_step(c.num);
    std::string expected = this->image();
    EXPECT_EQ(advance_counter(TypeParam::table()), c.next);
    EXPECT_EQ(this->total(), c.next);
    this->set_total(c.total);
    EXPECT_EQ(this->image(), expected);
  }
}

// Successive adds from an empty table: the slot each takes and the running
// number it shows.
TYPED_TEST(TableTest, SuccessiveAddsWalkDownByTheStep) {
  const struct {
    int32_t num;
    int slots[3];
    int32_t numbers[3];
  } cases[] = {
      {0, {499, 498, 497}, {1, 2, 3}},
      {4, {499, 494, 489}, {5, 10, 15}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.num);
    memset(TypeParam::table(), 0, this->kImage);
    this->set_step(c.num);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(add_slot(TypeParam::table()), c.slots[i]);
      EXPECT_EQ(advance_counter(TypeParam::table()), c.numbers[i]);
    }
  }
}

// A save against the file as it is then: nothing written when it holds the
// table already, the table when nobody saved since the load, else a merge.
using SaveDecision = TableTest<Customers>;

TEST_F(SaveDecision, KeepsWritesOrMerges) {
  using testkit::Image;
  using testkit::put;
  Image<Customer> loaded;
  put(loaded[499].cust_no, "12");
  put(loaded[499].tel_no, "0123");
  loaded.counter(1);
  Image<Customer> phone = loaded, street = loaded, both = loaded, full = loaded;
  put(phone[499].tel_no, "0999");
  put(street[499].street, "2 Low Rd");
  put(both[499].tel_no, "0999");
  put(both[499].street, "2 Low Rd");
  full.counter(500);
  Image<Customer> added = loaded;
  put(added[498].cust_no, "20");
  added.counter(2);
  const std::string zeros(kImage, '\0');

  const struct {
    const char* what;
    std::optional<std::string> before;  // at the load; none: no file
    std::optional<std::string> other;   // what another session saved since
    std::string mine;                   // the table at the save
    bool saved, written;
    std::string after;  // the file afterwards
  } cases[] = {
      {"unchanged on the file: nothing written",
       loaded.bytes(),
       {},
       loaded.bytes(),
       true,
       false,
       loaded.bytes()},
      {"no file: created", {}, {}, zeros, true, true, zeros},
      {"the file still as loaded: written",
       loaded.bytes(),
       {},
       phone.bytes(),
       true,
       true,
       phone.bytes()},
      {"changed since the load: merged", loaded.bytes(), street.bytes(), phone.bytes(), true, true,
       both.bytes()},
      {"another session filled the table: fails", loaded.bytes(), full.bytes(), added.bytes(),
       false, false, full.bytes()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove("customer.dat");
    if (c.before) std::ofstream("customer.dat", std::ios::binary) << *c.before;
    TableFile<Customer> file("customer.dat");
    file.load(namelist);
    if (c.other) {
      std::ofstream("other.dat", std::ios::binary) << *c.other;
      fs::rename("other.dat", "customer.dat");
    }
    // An old time, so that any write would show in it.
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, "customer.dat", old, 0);
    struct stat was {};
    bool existed = stat("customer.dat", &was) == 0;
    set_image(c.mine);

    EXPECT_EQ(file.save(namelist), c.saved);
    EXPECT_EQ(read_file("customer.dat"), c.after);
    EXPECT_EQ(image(), c.saved ? c.after : c.mine);
    struct stat is {};
    ASSERT_EQ(stat("customer.dat", &is), 0);
    bool touched = !existed || is.st_ino != was.st_ino || is.st_mtim.tv_sec != was.st_mtim.tv_sec ||
                   is.st_mtim.tv_nsec != was.st_mtim.tv_nsec ||
                   is.st_ctim.tv_sec != was.st_ctim.tv_sec ||
                   is.st_ctim.tv_nsec != was.st_ctim.tv_nsec;
    EXPECT_EQ(touched, c.written);
  }
}

// A load knows the file again by its identity and reads it only when that
// changed, or when it was taken within one timestamp step of the file's last
// change: a change in that step may leave the identity as it was. Such a
// change is made here through a shared mapping (a store to a page already
// written through it stamps nothing), right after the change before it.
using Reload = TableTest<Customers>;

TEST_F(Reload, AChangeWithinOneTimestampStepIsSeen) {
  const std::string first = pattern(5, kImage);
  for (int tries = 0;; ++tries) {
    ASSERT_LT(tries, 20) << "the load never came within a timestamp step of the change";
    std::ofstream("customer.dat", std::ios::binary) << first;
    int fd = open("customer.dat", O_RDWR);
    ASSERT_GE(fd, 0);
    void* map = mmap(nullptr, kImage, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    char* bytes = static_cast<char*>(map);
    auto start = std::chrono::steady_clock::now();
    bytes[0] = 'A';  // stamps the file
    TableFile<Customer> file("customer.dat");
    file.load(namelist);
    bool soon = std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1);
    struct stat was, is;
    fstat(fd, &was);
    bytes[1] = 'B';  // stamps nothing
    fstat(fd, &is);
    munmap(map, kImage);
    close(fd);
    if (!soon) continue;
    ASSERT_EQ(is.st_ctim.tv_nsec, was.st_ctim.tv_nsec) << "the second change was stamped";
    ASSERT_EQ(is.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
    file.load(namelist);
    EXPECT_TRUE(image().starts_with("AB")) << "the second change was not read";
    // Past the step, with no change since, the load takes the base back: the
    // table is what the file holds, whatever it held in memory.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    file.load(namelist);
    memset(namelist, 0, kImage);
    file.load(namelist);
    EXPECT_TRUE(image() == read_file("customer.dat")) << "the base was not taken back";
    break;
  }
}

// Long enough after a change that the identity a load takes is trusted.
void past_two_steps() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

ssize_t read_pipe(int fd, char* c) { return read(fd, c, 1); }

void copy_times(const char* from, const char* to) {
  struct stat st {};
  stat(from, &st);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  utimensat(AT_FDCWD, to, times, 0);
}

// A load past the racy step: an unchanged file gives back what it holds, and
// another session's change is read however little of the identity it moves.
TEST_F(Reload, AfterAPauseShowsTheFileAsItIs) {
  const std::string first = pattern(1, kImage), second = pattern(2, kImage);
  const std::string short_file = first.substr(0, 400);
  const struct {
    const char* what;
    std::string before;
    std::function<void()> change;
    std::string after;  // what the table starts with once loaded again
  } cases[] = {
      {"unchanged, of another size: its bytes laid over again", short_file, [] {}, short_file},
      {"written in place, its size and times put back", first,
       [&] {
         std::ofstream("copy.dat", std::ios::binary) << first;
         copy_times("customer.dat", "copy.dat");
         int fd = open("customer.dat", O_WRONLY);
         ASSERT_EQ(pwrite(fd, second.data(), kImage, 0), static_cast<ssize_t>(kImage));
         close(fd);
         copy_times("copy.dat", "customer.dat");
       },
       second},
      {"replaced by a rename, size and times copied", first,
       [&] {
         std::ofstream("other.dat", std::ios::binary) << second;
         copy_times("customer.dat", "other.dat");
         fs::rename("other.dat", "customer.dat");
       },
       second},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream("customer.dat", std::ios::binary | std::ios::trunc) << c.before;
    TableFile<Customer> file("customer.dat");
    past_two_steps();
    file.load(namelist);
    c.change();
    memset(namelist, 0, kImage);
    file.load(namelist);
    EXPECT_TRUE(image().starts_with(c.after)) << "a stale table";
  }
}

// A save that fails leaves the file to be read again: what another session
// saved meanwhile shows at the next load.
TEST_F(Reload, AfterAFailedSaveShowsWhatAnotherSaved) {
  const std::string full = testkit::Image<Customer>().counter(500).bytes();
  std::ofstream("customer.dat", std::ios::binary) << testkit::Image<Customer>().counter(1).bytes();
  TableFile<Customer> file("customer.dat");
  file.load(namelist);
  std::ofstream("other.dat", std::ios::binary) << full;
  fs::rename("other.dat", "customer.dat");
  past_two_steps();
  testkit::put(namelist[498].cust_no, "20");
  namelist[1].total = 2;
  ASSERT_FALSE(file.save(namelist));
  file.load(namelist);
  EXPECT_TRUE(image() == full) << "the table as it was before the failed save";
}

// Another process holds the file's lock past the wait's bound through an add:
// the add's save fails and says so. The menu's reload then gives up too, or
// gets the lock and reads what the other session added meanwhile; either way
// the add typed stays, and once the lock is free the next add's save puts all
// in the file, whether it renames or writes in place (a second name keeps the
// file there). The program's own lock, kept from a save to the load right
// after it, is never kept while it waits for what is typed next (an update
// saves, then its menu asks again).
TEST_F(Reload, AnAddNotSavedWhileTheLockWasHeldIsSavedByTheNext) {
  screens::CustomerText first{"Smith", "John", "MR",     "12",   "1 High St", "Oldham",
                              "Leeds", "AB1",  "1/1/80", "0123", "7/12/26"};
  screens::CustomerText second = first, other = first;
  second.surname = "Jones", second.cust_no = "20";
  other.surname = "Other", other.cust_no = "30";
  const std::chrono::milliseconds bound = lock_wait;
  lock_wait = std::chrono::milliseconds(300);  // the save gives up at 300 ms, the reload at 600
  for (bool in_place : {false, true}) {
    for (int held_ms : {900, 450}) {  // 450: the reload gets the lock, and reads
      SCOPED_TRACE(std::string(in_place ? "in place, " : "rename, ") + std::to_string(held_ms));
      for (const char* name : {"customer.dat", "other.dat"}) fs::remove(name);
      dir_.write("customer.dat", testkit::Image<Customer>().bytes());
      if (in_place) fs::create_hard_link("customer.dat", "other.dat");
      past_two_steps();  // the file is known by its identity, as in use
      int locked[2];
      ASSERT_EQ(pipe(locked), 0);
      pid_t holder = -1;
      testkit::PipeDevice device;
      device.terminal_lines = true;  // a line a read, each one a wait
      device.input =
          "1\n1\n" + first.typed() + "1\n" + second.typed() + "4\n12\n2\n0999\n3\n5\n4\n1\n";
      int waits_locked = 0;
      device.before_read = [&](size_t read) {
        if (read == 2 && (holder = fork()) == 0) {  // another session, from the first add on
          int fd = open("customer.dat", O_RDWR);
          const std::string added = testkit::Image<Customer>::added({other.record()}).bytes();
          if (flock(fd, LOCK_EX) != 0 || write(locked[1], "l", 1) != 1 ||
              (held_ms == 450 && pwrite(fd, added.data(), added.size(), 0) != 90000))
            _exit(1);
          usleep(held_ms * 1000);
          _exit(0);
        }
        char c = 0;
        if (read == 2 && read_pipe(locked[0], &c) != 1) ADD_FAILURE() << "no other session";
        if (read == 14) waitpid(holder, nullptr, 0);  // let go by the second add's choice
        int fd = open("customer.dat", O_RDONLY);
        if ((read < 2 || read >= 14) && flock(fd, LOCK_EX | LOCK_NB) != 0) ++waits_locked;
        close(fd);
      };
      EXPECT_EQ(testkit::run_program(dir_, device), 0);
      for (int fd : locked) close(fd);
      EXPECT_EQ(waits_locked, 0);
      screens::CustomerText updated = first;
      updated.tel_no = "0999";
      auto want =
          held_ms == 450
              ? testkit::Image<Customer>::added({other.record(), updated.record(), second.record()})
              : testkit::Image<Customer>::added({updated.record(), second.record()});
      EXPECT_EQ(want.difference(read_file("customer.dat")), "");
      const size_t not_saved = device.output.find(screens::kNotSaved);
      EXPECT_NE(not_saved, std::string::npos);
      EXPECT_EQ(device.output.find(screens::kNotSaved, not_saved + 1), std::string::npos);
    }
  }
  lock_wait = bound;
}

// Ten sessions add at once on a slow disk (every flush takes 20 ms): each save
// waits its turn, which comes long before the five seconds' bound; none fails
// for it.
// A rename's waiters have to follow the name to the new file; in place, they
// all wait on the one file.
TEST_F(Reload, SharersOnASlowDiskAreServedInTurn) {
  constexpr int kSessions = 10, kAdds = 4;
  for (bool in_place : {false, true}) {
    SCOPED_TRACE(in_place ? "in place" : "rename");
    for (const char* name : {"customer.dat", "other.dat"}) fs::remove(name);
    if (in_place) {
      dir_.write("customer.dat", testkit::Image<Customer>().bytes());
      fs::create_hard_link("customer.dat", "other.dat");
    }
    std::vector<screens::CustomerText> records;
    std::vector<pid_t> sessions;
    for (int who = 0; who < kSessions; ++who) {
      std::string typed = "1\n";
      for (int i = 0; i < kAdds; ++i) {
        records.push_back({"S" + std::to_string(who), "F", "MR", std::to_string(who * 10 + i), "St",
                           "T", "C", "P", "D", "0" + std::to_string(i), "R"});
        typed += "1\n" + records.back().typed();
      }
      pid_t pid = fork();
      if (pid == 0) {
        auto slow = [](int fd) {
          usleep(20'000);
          return kSystemCalls.fsync(fd);
        };
        save_calls.fsync = slow;
        save_calls.fdatasync = slow;
        testkit::PipeDevice device;
        device.input = typed + "5\n4\n1\n";
        bool ok = testkit::run_program(dir_, device) == 0 &&
                  device.output.find(screens::kNotSaved) == std::string::npos;
        _exit(ok ? 0 : 1);
      }
      sessions.push_back(pid);
    }
    int failed = 0;
    for (pid_t pid : sessions) {
      int status = 0;
      waitpid(pid, &status, 0);
      failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(failed, 0) << "sessions that failed a save";
    testkit::Image<Customer> file = testkit::Image<Customer>::of(read_file("customer.dat"));
    EXPECT_EQ(file[1].total, kSessions * kAdds);
    for (const screens::CustomerText& c : records) {
      const Customer want = c.record();
      int found = 0;
      for (int slot = kSlots - kSessions * kAdds; slot < kSlots; ++slot)
        found += memcmp(&file[slot], &want, offsetof(Customer, total)) == 0;
      EXPECT_EQ(found, 1) << c.cust_no;
    }
  }
}

}  // namespace
}  // namespace orvel
