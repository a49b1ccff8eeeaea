// Saves and loads against faults made for real: a directory or a pipe of the
// file's name, a file-size limit, a kill in mid-save, links and permission bits.
#include "records/data_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "console/memory_device.h"
#include "records/table.h"
#include "tests/in_process.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

constexpr size_t kImage = sizeof namelist;  // 90,000 bytes
const DataFile kFile{"customer.dat"};

std::string read_file(const fs::path& path) { return testkit::read_file(path).value_or(""); }

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string table_image() { return {reinterpret_cast<const char*>(namelist), kImage}; }

// A table image nobody would write by chance; NULs often, bytes after them too.
std::string pattern(unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(kImage, '\0');
  for (char& c : bytes) c = rng() % 4 == 0 ? '\0' : static_cast<char>(rng());
  return bytes;
}

void set_table(const std::string& bytes) { memcpy(namelist, bytes.data(), kImage); }

std::set<std::string> entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir))
    names.insert(e.path().filename());
  return names;
}

// Each test in a fresh directory of its own, with a console in memory.
class DataFileTest : public testkit::InTempDir {
 protected:
  // Nothing but these names in the working directory: no temporary left.
  void expect_only(std::set<std::string> names) { EXPECT_EQ(entries("."), names); }
};

TEST_F(DataFileTest, SaveOverWhatIsNoFileFailsAndSaysSo) {
  struct Case {
    const char* what;
    void (*make)();
  };
  const Case cases[] = {
      {"directory", [] { fs::create_directories("customer.dat/inner"); }},
      {"pipe", [] { ASSERT_EQ(mkfifo("customer.dat", 0644), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("customer.dat");
    c.make();
    fs::file_status before = fs::symlink_status("customer.dat");
    device_.output.clear();
    device_.pauses = 0;
    set_table(pattern(1));
    save_table(kFile, namelist);
    EXPECT_EQ(device_.output, "\n**File Not Saved**\n");
    EXPECT_EQ(device_.pauses, 1u);
    EXPECT_EQ(fs::symlink_status("customer.dat").type(), before.type());
    if (fs::is_directory("customer.dat")) {
      EXPECT_EQ(entries("customer.dat"), std::set<std::string>{"inner"});
    }
    expect_only({"customer.dat"});
    // It cannot be loaded either: the unsaved record stays in memory.
    load_table(kFile, namelist);
    EXPECT_EQ(table_image(), pattern(1));
  }
}

TEST_F(DataFileTest, LoadOfNoFileKeepsTheTable) {
  struct Case {
    const char* what;
    void (*make)();
  };
  const Case cases[] = {
      {"missing", [] {}},
      {"directory", [] { fs::create_directory("customer.dat"); }},
      {"pipe with no writer", [] { ASSERT_EQ(mkfifo("customer.dat", 0644), 0); }},
      {"dangling link", [] { fs::create_symlink("nowhere.dat", "customer.dat"); }},
  };
  alarm(10);  // a load that waited on the pipe would hang here for good
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("customer.dat");
    c.make();
    set_table(pattern(2));
    load_table(kFile, namelist);
    EXPECT_EQ(table_image(), pattern(2));
    EXPECT_EQ(device_.output, "");
  }
  alarm(0);
  EXPECT_FALSE(fs::exists("nowhere.dat"));
}

// What a save in a child under a file-size limit reported: 0 failed with the
// message and a pause, 1 saved without a word, 2 anything else.
int save_under_limit(rlim_t limit) {
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(3);
    MemoryDevice device;
    Console console(device);
    set_console(&console);
    set_table(pattern(4));
    save_table(kFile, namelist);
    if (device.output == "\n**File Not Saved**\n" && device.pauses == 1) _exit(0);
    _exit(device.output.empty() && device.pauses == 0 ? 1 : 2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST_F(DataFileTest, FileSizeLimitKeepsTheOldFileWhole) {
  struct Case {
    rlim_t limit;
    int report;
    unsigned kept;  // the pattern the file holds afterwards
  };
  const Case cases[] = {{0, 0, 3}, {512, 0, 3}, {kImage - 1, 0, 3}, {kImage, 1, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    write_file("customer.dat", pattern(3));
    EXPECT_EQ(save_under_limit(c.limit), c.report);
    EXPECT_EQ(read_file("customer.dat"), pattern(c.kept));
    expect_only({"customer.dat"});
  }
}

// A child saves whole images in a loop, all bytes of the i-th one equal to i,
// and is killed at a moment of its own; the file is always one whole image.
TEST_F(DataFileTest, KilledInMidSaveLeavesOneWholeImage) {
  std::mt19937 rng(7);
  for (int round = 0; round < 25; ++round) {
    SCOPED_TRACE(round);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(ready[0]);
      std::string image(kImage, '\0');
      for (unsigned i = 1;; ++i) {
        image.assign(kImage, static_cast<char>(i % 250 + 1));
        kFile.save(std::as_bytes(std::span(image.data(), image.size())));
        if (i == 1 && write(ready[1], "s", 1) != 1) _exit(1);
      }
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);  // the first save is whole
    close(ready[0]);
    usleep(rng() % 3000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    std::string got = read_file("customer.dat");
    ASSERT_EQ(got.size(), kImage);
    EXPECT_NE(got[0], '\0');
    EXPECT_EQ(got.find_first_not_of(got[0]), std::string::npos);
  }
  // A kill may leave a half-made temporary; the next save clears it away.
  save_table(kFile, namelist);
  expect_only({"customer.dat"});
  EXPECT_EQ(read_file("customer.dat"), table_image());
}

TEST_F(DataFileTest, LinkStaysALinkAndItsTargetIsReplaced) {
  struct Case {
    const char* what;
    bool absolute;
    bool chain;  // customer.dat -> hop.dat -> store/real.dat
  };
  const Case cases[] = {
      {"relative", false, false}, {"absolute", true, false}, {"chain", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("store");
    fs::remove("customer.dat");
    fs::remove("hop.dat");
    fs::create_directory("store");
    write_file("store/real.dat", pattern(5));
    fs::path target =
        c.absolute ? fs::path(dir_.path()) / "store/real.dat" : fs::path("store/real.dat");
    if (c.chain) fs::create_symlink(target, "hop.dat");
    fs::path link_to = c.chain ? fs::path("hop.dat") : target;
    fs::create_symlink(link_to, "customer.dat");

    set_table(pattern(6));
    save_table(kFile, namelist);
    EXPECT_EQ(device_.output, "");
    ASSERT_TRUE(fs::is_symlink("customer.dat"));
    EXPECT_EQ(fs::read_symlink("customer.dat"), link_to);
    EXPECT_EQ(read_file("store/real.dat"), pattern(6));
    EXPECT_EQ(entries("store"), std::set<std::string>{"real.dat"});
    memset(namelist, 0, sizeof namelist);
    load_table(kFile, namelist);
    EXPECT_EQ(table_image(), pattern(6));
  }
}

TEST_F(DataFileTest, PermissionBitsKeptOrTakenFromTheUmask) {
  struct Case {
    std::optional<mode_t> existing;
    mode_t mask;
    mode_t expected;
  };
  const Case cases[] = {
      {0640, 022, 0640}, {0600, 022, 0600}, {0604, 027, 0604}, {0666, 077, 0666},
      {{}, 022, 0644},   {{}, 077, 0600},   {{}, 0, 0666},     {{}, 0227, 0440},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    fs::remove("customer.dat");
    if (c.existing) {
      write_file("customer.dat", pattern(7));
      ASSERT_EQ(chmod("customer.dat", *c.existing), 0);
    }
    mode_t old_mask = umask(c.mask);
    save_table(kFile, namelist);
    umask(old_mask);
    struct stat st;
    ASSERT_EQ(stat("customer.dat", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected);
    EXPECT_EQ(read_file("customer.dat"), table_image());
    expect_only({"customer.dat"});
  }
}

}  // namespace
}  // namespace orvel
