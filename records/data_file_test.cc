// Saves and loads against faults made for real: a directory or a pipe of the
// file's name, a file-size limit, kills, links, other users, owners and modes.
#include "records/data_file.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "records/records.h"
#include "records/save_seam.h"
#include "tests/in_process.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr size_t kImage = sizeof namelist;  // 90,000 bytes
constexpr char kFile[] = "customer.dat";

// The table saved whole and loaded, as each table's stream does them, each
// through a stream of its own, which knows nothing of the file yet.
bool save(const std::string& name, std::span<const std::byte> image) {
  return DataFile(name, kImage).save([image](const Found&) {
    return SavePlan{SavePlan::kWrite, image};
  });
}
void load(const std::string& name, std::span<std::byte> image) {
  DataFile(name, kImage).load(image);
}
bool save_namelist() { return save(kFile, std::as_bytes(std::span(namelist))); }
void load_namelist() { load(kFile, std::as_writable_bytes(std::span(namelist))); }

std::string read_file(const fs::path& path) { return testkit::read_file(path).value_or(""); }

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string table_image() { return {reinterpret_cast<const char*>(namelist), kImage}; }

// A whole customer image nobody would write by chance.
std::string pattern(unsigned seed) { return testkit::pattern(seed, kImage); }

void set_table(const std::string& bytes) { memcpy(namelist, bytes.data(), kImage); }

std::set<std::string> entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir))
    names.insert(e.path().filename());
  return names;
}

std::span<const std::byte> bytes_of(const std::string& s) {
  return std::as_bytes(std::span(s.data(), s.size()));
}

constexpr uid_t kA = 4242, kB = 4343;  // users no account needs to exist for
constexpr gid_t kG = 4444;             // a group both may belong to

// Runs `body` in a forked child as user `uid` of group `gid` with the groups
// given; its exit status is body's result (9 when the child could not switch).
int as_user(uid_t uid, gid_t gid, std::vector<gid_t> groups, const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
      _exit(9);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// A save of pattern(seed) in a child of that user: 0 saved, 1 failed.
int save_as(uid_t uid, std::vector<gid_t> groups, const std::string& file, unsigned seed) {
  return as_user(uid, uid, std::move(groups),
                 [&] { return save(file, bytes_of(pattern(seed))) ? 0 : 1; });
}

struct stat stat_of(const char* path) {
  struct stat st {};
  EXPECT_EQ(lstat(path, &st), 0) << path;
  return st;
}

// Each test in a fresh directory of its own, with a console in memory.
class DataFileTest : public testkit::InTempDir {
 protected:
  // Other users' children reach into the folder.
  DataFileTest() { chmod(dir_.path().c_str(), 0755); }

  // Nothing but these names in the working directory: no temporary left.
  void expect_only(std::set<std::string> names) { EXPECT_EQ(entries("."), names); }
};

TEST_F(DataFileTest, SaveOverWhatIsNoFileFails) {
  struct Case {
    const char* what;
    void (*make)();
  };
  const Case cases[] = {
      {"directory", [] { fs::create_directories("customer.dat/inner"); }},
      {"pipe", [] { ASSERT_EQ(mkfifo("customer.dat", 0644), 0); }},
      // Opening one may act: the null device stands for a terminal or a watchdog.
      {"device", [] { ASSERT_EQ(mknod("customer.dat", S_IFCHR | 0666, makedev(1, 3)), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("customer.dat");
    c.make();
    fs::file_status before = fs::symlink_status("customer.dat");
    const int opens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(opens, "customer.dat", IN_OPEN), 0);
    set_table(pattern(1));
    EXPECT_FALSE(save_namelist());
    // It cannot be loaded either: the unsaved record stays in memory.
    load_namelist();
    EXPECT_EQ(table_image(), pattern(1));
    char event[256];
    EXPECT_LT(read(opens, event, sizeof event), 0) << "it was opened";
    close(opens);
    EXPECT_EQ(fs::symlink_status("customer.dat").type(), before.type());
    if (fs::is_directory("customer.dat")) {
      EXPECT_EQ(entries("customer.dat"), std::set<std::string>{"inner"});
    }
    expect_only({"customer.dat"});
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
    load_namelist();
    EXPECT_EQ(table_image(), pattern(2));
  }
  alarm(0);
  EXPECT_FALSE(fs::exists("nowhere.dat"));
}

// What a save in a child under a file-size limit reported: 0 failed, 1 saved.
int save_under_limit(rlim_t limit) {
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(3);
    set_table(pattern(4));
    _exit(save_namelist() ? 1 : 0);
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
        save(kFile, std::as_bytes(std::span(image.data(), image.size())));
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
  EXPECT_TRUE(save_namelist());
  expect_only({"customer.dat"});
  EXPECT_EQ(read_file("customer.dat"), table_image());
}

// decoy/store/real.dat is where a ".." taken for "." would lead.
TEST_F(DataFileTest, LinkStaysALinkAndItsTargetIsReplaced) {
  struct Case {
    const char* what;
    const char* to;  // "/" at the start: from the test's folder
    bool chain;      // customer.dat -> hop.dat -> the target
  };
  const Case cases[] = {{"relative", "store/real.dat", false},
                        {"absolute", "/store/real.dat", false},
                        {"chain", "store/real.dat", true},
                        {"up through ../", "decoy/../store/real.dat", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"store", "decoy", "customer.dat", "hop.dat"}) fs::remove_all(name);
    fs::create_directories("store");
    fs::create_directories("decoy/store");
    write_file("store/real.dat", pattern(5));
    write_file("decoy/store/real.dat", pattern(5));
    fs::path target = c.to[0] == '/' ? fs::path(dir_.path() + c.to) : fs::path(c.to);
    if (c.chain) fs::create_symlink(target, "hop.dat");
    fs::path link_to = c.chain ? fs::path("hop.dat") : target;
    fs::create_symlink(link_to, "customer.dat");

    set_table(pattern(6));
    EXPECT_TRUE(save_namelist());
    ASSERT_TRUE(fs::is_symlink("customer.dat"));
    EXPECT_EQ(fs::read_symlink("customer.dat"), link_to);
    EXPECT_EQ(read_file("store/real.dat"), pattern(6));
    EXPECT_EQ(read_file("decoy/store/real.dat"), pattern(5));
    EXPECT_EQ(entries("store"), std::set<std::string>{"real.dat"});
    memset(namelist, 0, sizeof namelist);
    load_namelist();
    EXPECT_EQ(table_image(), pattern(6));
  }
}

// Names that lead to no file that may be written: the save fails, the load
// leaves the table, and what is there stays as it was.
TEST_F(DataFileTest, NameLeadingNowhereWritableIsNotSaved) {
  struct Case {
    const char* what;
    void (*make)();
  };
  const Case cases[] = {
      {"a link to itself", [] { fs::create_symlink("customer.dat", "customer.dat"); }},
      {"two links to each other",
       [] {
         fs::create_symlink("hop.dat", "customer.dat");
         fs::create_symlink("customer.dat", "hop.dat");
       }},
      // It cannot be read, so it cannot be merged with: never replaced.
      {"a file the user may write but not read",
       [] {
         write_file("customer.dat", pattern(3));
         ASSERT_EQ(chown("customer.dat", kA, kA), 0);
         ASSERT_EQ(chmod("customer.dat", 0200), 0);
       }},
  };
  ASSERT_EQ(chmod(".", 0777), 0);
  alarm(20);  // a walk that went round a loop for good would hang here
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"customer.dat", "hop.dat"}) fs::remove(name);
    c.make();
    const std::string before = read_file("customer.dat");
    int got = as_user(kA, kA, {}, [] {
      const auto start = std::chrono::steady_clock::now();
      bool saved = save(kFile, bytes_of(pattern(4)));
      // At once: a file there, whatever its rights, is never taken for none
      // (a first save would wait out the lock's time for the name to be free).
      bool at_once = std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
      set_table(pattern(2));
      load_namelist();
      return (saved ? 1 : 0) + (table_image() == pattern(2) ? 0 : 2) + (at_once ? 0 : 4);
    });
    EXPECT_EQ(got, 0);
    EXPECT_EQ(read_file("customer.dat"), before);
    std::set<std::string> left = entries(".");
    left.erase("hop.dat");
    EXPECT_EQ(left, std::set<std::string>{"customer.dat"});
  }
  alarm(0);
}

TEST_F(DataFileTest, PermissionBitsKeptOrTakenFromTheUmask) {
  struct Case {
    std::optional<mode_t> existing;
    mode_t mask;
    mode_t expected;
  };
  const Case cases[] = {
      {0640, 022, 0640}, {0600, 022, 0600},  {0604, 027, 0604},
      {0666, 077, 0666}, {07755, 022, 0755}, {{}, 022, 0644},
      {{}, 077, 0600},   {{}, 0, 0666},      {{}, 0227, 0440},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    fs::remove("customer.dat");
    if (c.existing) {
      write_file("customer.dat", pattern(7));
      ASSERT_EQ(chmod("customer.dat", *c.existing), 0);
    }
    mode_t old_mask = umask(c.mask);
    EXPECT_TRUE(save_namelist());
    umask(old_mask);
    struct stat st;
    ASSERT_EQ(stat("customer.dat", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected);
    EXPECT_EQ(read_file("customer.dat"), table_image());
    expect_only({"customer.dat"});
  }
}

// Files of kA and group kG in a folder anyone may write, saved in turn by the
// users given: each save lands, owner and group stay, no set-id bit survives.
TEST_F(DataFileTest, OwnerAndGroupKeptForEverySaver) {
  struct Saver {
    uid_t uid;
    std::vector<gid_t> groups;
    bool renames;  // a new inode; else written in place
  };
  struct Case {
    const char* what;
    mode_t mode;
    std::vector<Saver> savers;
    mode_t expected;
  };
  const Case cases[] = {
      {"another user's set-id file, root saves", 06755, {{0, {}, true}}, 0755},
      {"group-shared, a member saves, then the owner",
       0660,
       {{kB, {kG}, false}, {kA, {kG}, true}},
       0660},
  };
  ASSERT_EQ(chmod(".", 0777), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file("customer.dat", pattern(3));
    ASSERT_EQ(chown("customer.dat", kA, kG), 0);
    ASSERT_EQ(chmod("customer.dat", c.mode), 0);
    unsigned seed = 4;
    for (const Saver& saver : c.savers) {
      SCOPED_TRACE(saver.uid);
      ino_t inode = stat_of("customer.dat").st_ino;
      EXPECT_EQ(save_as(saver.uid, saver.groups, kFile, ++seed), 0);
      struct stat st = stat_of("customer.dat");
      EXPECT_EQ(st.st_ino != inode, saver.renames);
      EXPECT_EQ(st.st_uid, kA);
      EXPECT_EQ(st.st_gid, kG);
      EXPECT_EQ(st.st_mode & 07777, c.expected);
      EXPECT_EQ(read_file("customer.dat"), pattern(seed));
      expect_only({"customer.dat"});
    }
  }
}

// shared/ is a folder that others than its owner and the saver may write:
// sticky and anyone's, like /tmp; the saver's own with 0733; a group's share.
// The links point to store/real.dat, which the saver owns and nobody else may
// write. Refused: the save fails, the load leaves the table, link and target
// stay as they were.
TEST_F(DataFileTest, LinksInAFolderOthersMayWriteFollowedOnlyWhenTrusted) {
  struct Case {
    const char* what;
    uid_t saver;
    uid_t link_owner;
    std::optional<uid_t> hop_owner;  // customer.dat -> hop.dat -> real.dat
    bool followed;
    mode_t folder = 01777;  // with set-group-id, of group kG, the saver's and every link's
    uid_t folder_owner = 0;
  };
  const Case cases[] = {
      {"sticky: another user's link, root saves", 0, kA, {}, false},
      {"sticky: the saver's own link", kA, kA, {}, true},
      {"sticky: the folder owner's link", kA, 0, {}, true},
      {"sticky: own link to another user's link", kA, kA, kB, false},
      {"sticky: another user's link of the folder's group", kA, kB, {}, false, 03777},
      {"the saver's 0733 folder: another user's link", kA, kB, {}, false, 0733, kA},
      {"a 0733 folder, root saves: another user's link", 0, kB, {}, false, 0733, kA},
      {"a 0733 folder: its owner's link", kB, kA, {}, true, 0733, kA},
      {"a group's share: another member's link", kA, kB, {}, false, 02770},
      {"a group's share: its owner's link", kA, 0, {}, true, 02770},
      {"a group's share: the saver's own link", kA, kA, {}, true, 02770},
  };
  const std::string file = "shared/customer.dat";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("shared");
    fs::remove_all("store");
    fs::create_directory("shared");
    fs::create_directory("store");
    const bool group = c.folder & S_ISGID;
    ASSERT_EQ(chown("shared", c.folder_owner, kG), 0);
    ASSERT_EQ(chmod("shared", c.folder), 0);
    ASSERT_EQ(chmod("store", 0777), 0);
    write_file("store/real.dat", pattern(5));
    ASSERT_EQ(chown("store/real.dat", c.saver, c.saver), 0);
    ASSERT_EQ(chmod("store/real.dat", 0600), 0);
    fs::path to = fs::path(dir_.path()) / "store/real.dat";
    if (c.hop_owner) {
      fs::create_symlink(to, "shared/hop.dat");
      ASSERT_EQ(lchown("shared/hop.dat", *c.hop_owner, *c.hop_owner), 0);
      to = "hop.dat";
    }
    fs::create_symlink(to, "shared/customer.dat");
    ASSERT_EQ(lchown("shared/customer.dat", c.link_owner, group ? kG : c.link_owner), 0);

    std::vector<gid_t> groups;
    if (group) groups.push_back(kG);
    int got = as_user(c.saver, c.saver, groups, [&] {
      bool saved = save(file, bytes_of(pattern(6)));
      set_table(pattern(2));
      load(file, std::as_writable_bytes(std::span(namelist)));
      bool loaded = table_image() == pattern(6);
      return (saved == c.followed ? 0 : 1) + (loaded == c.followed ? 0 : 2);
    });
    EXPECT_EQ(got, 0);
    EXPECT_EQ(fs::read_symlink("shared/customer.dat"), to);
    EXPECT_TRUE(read_file("store/real.dat") == pattern(c.followed ? 6 : 5));
    EXPECT_EQ(entries("store"), std::set<std::string>{"real.dat"});
  }
}

// Where a rename would split a link or cannot be made, the same inode takes
// the new image: every name of it sees the new records.
TEST_F(DataFileTest, SavedInPlaceWhereARenameWouldNotKeepTheFile) {
  struct Case {
    const char* what;
    const char* name;
    std::vector<const char*> names;  // of the same file
    uid_t saver;
    void (*make)();
  };
  const Case cases[] = {
      {"hard link",
       "customer.dat",
       {"customer.dat", "other.dat"},
       0,
       [] { fs::create_hard_link("customer.dat", "other.dat"); }},
      {"folder the user cannot write",
       "ro/customer.dat",
       {"ro/customer.dat"},
       kA,
       [] { ASSERT_EQ(chmod("ro", 0555), 0); }},
      // No folder to flush after a rename, nor to clear.
      {"folder the user cannot read",
       "ro/customer.dat",
       {"ro/customer.dat"},
       kA,
       [] { ASSERT_EQ(chmod("ro", 0333), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directory("ro");
    write_file(c.name, pattern(3));
    ASSERT_EQ(chown(c.name, c.saver, c.saver), 0);
    c.make();
    ino_t inode = stat_of(c.name).st_ino;
    EXPECT_EQ(save_as(c.saver, {}, c.name, 4), 0);
    for (const char* name : c.names) {
      EXPECT_EQ(stat_of(name).st_ino, inode) << name;
      EXPECT_EQ(read_file(name), pattern(4)) << name;
    }
    ASSERT_EQ(chmod("ro", 0755), 0);
    fs::remove_all("ro");
    for (const char* name : c.names) fs::remove(name);
  }
}

// Only a save's own leftovers are cleared: exactly its pattern, a regular file,
// ours, one link, and no longer locked. Everything else of a like name stays.
TEST_F(DataFileTest, FilesNamedLikeATemporaryAreNotTouched) {
  const std::string others[] = {
      ".customer.dat.new",          ".customer.dat.orvel-abc12",  // not exactly the pattern
      ".customer.dat.orvel-ownedB", ".customer.dat.orvel-linked", ".web.dat.orvel-abc123",
      ".customer.dat.orvel-inUse1"};  // a live save's: its maker holds its lock
  for (unsigned i = 0; i < std::size(others); ++i) write_file(others[i], pattern(10 + i));
  ASSERT_EQ(chown(".customer.dat.orvel-ownedB", kB, kB), 0);
  fs::create_hard_link(".customer.dat.orvel-linked", "keep.dat");
  const int live = open(".customer.dat.orvel-inUse1", O_RDONLY);
  ASSERT_EQ(flock(live, LOCK_EX), 0);
  EXPECT_TRUE(save_namelist());
  EXPECT_TRUE(save_namelist());
  close(live);
  for (unsigned i = 0; i < std::size(others); ++i)
    EXPECT_EQ(read_file(others[i]), pattern(10 + i)) << others[i];
  std::set<std::string> all(std::begin(others), std::end(others));
  all.insert({"customer.dat", "keep.dat"});
  expect_only(all);
}

// A save killed after its temporary is whole and named, before the rename:
// the old file stays, one temporary is left, and the next save clears it.
TEST_F(DataFileTest, KilledBeforeTheRenameLeavesOneTemporaryTheNextSaveClears) {
  DataFile kept(kFile, kImage);  // a stream that saved before the kill: the folder changed since
  auto kept_save = [&](const std::string& image) {
    bool saved = kept.save([&](const Found&) {
      return SavePlan{SavePlan::kWrite, bytes_of(image)};
    });
    release_kept_lock();  // kept for a load right after; the child is another session
    return saved;
  };
  write_file("customer.dat", pattern(2));
  ASSERT_TRUE(kept_save(pattern(3)));
  pid_t pid = fork();
  if (pid == 0) {
    save_calls.renameat2 = [](int, const char*, int, const char*, unsigned) {
      raise(SIGKILL);
      return -1;
    };
    save(kFile, bytes_of(pattern(4)));
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(read_file("customer.dat"), pattern(3));
  std::set<std::string> left = entries(".");
  ASSERT_EQ(left.size(), 2u);
  left.erase("customer.dat");
  const std::string temp = *left.begin();
  EXPECT_TRUE(std::regex_match(temp, std::regex(R"(\.customer\.dat\.orvel-[A-Za-z0-9]{6})")))
      << temp;
  EXPECT_EQ(read_file(temp), pattern(4));

  // The next save clears it, one written in place (a second name) as well.
  fs::create_hard_link("customer.dat", "also.dat");
  EXPECT_TRUE(kept_save(table_image()));
  expect_only({"customer.dat", "also.dat"});
  EXPECT_EQ(read_file("also.dat"), table_image());
}

// A save lets go of the lock the last save kept for its load: two saves in a
// row, by one stream or by two of the one file, with no load between, both land.
TEST_F(DataFileTest, ASaveRightAfterASaveTakesTheKeptLock) {
  const std::chrono::milliseconds bound = lock_wait;
  lock_wait = 200ms;  // a save that waits on the kept lock fails at once
  for (bool in_place : {false, true}) {
    SCOPED_TRACE(in_place ? "in place" : "rename");
    for (const char* name : {"customer.dat", "other.dat"}) fs::remove(name);
    write_file("customer.dat", pattern(3));
    if (in_place) fs::create_hard_link("customer.dat", "other.dat");
    DataFile one(kFile, kImage), two(kFile, kImage);
    auto write = [](DataFile& stream, const std::string& image) {
      return stream.save([&](const Found&) { return SavePlan{SavePlan::kWrite, bytes_of(image)}; });
    };
    EXPECT_TRUE(write(one, pattern(4)));
    EXPECT_TRUE(write(one, pattern(5)));
    EXPECT_TRUE(write(two, pattern(6)));
    release_kept_lock();
    EXPECT_EQ(read_file("customer.dat"), pattern(6));
  }
  lock_wait = bound;
}

// An access list in the kernel's own form: version 2, then tag, permissions
// and id of each entry, little-endian.
std::string access_list(std::initializer_list<std::array<uint32_t, 3>> entries) {
  std::string blob;
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) blob += static_cast<char>(v >> (8 * i));
  };
  put(2, 4);
  for (const auto& [tag, perm, id] : entries) put(tag, 2), put(perm, 2), put(id, 4);
  return blob;
}

// A rename copies the mode alone: a file with an access list of its own, or in
// a folder whose default list would give the new file other rights, is written
// in place and keeps its list.
TEST_F(DataFileTest, AccessListsKeepTheFileInPlace) {
  constexpr uint32_t kAny = 0xffffffff;  // the id of the entries that name no one
  // Owner rw, user 4242 rw, group r, mask rw, others r.
  const std::string list = access_list(
      {{0x01, 6, kAny}, {0x02, 6, kA}, {0x04, 4, kAny}, {0x10, 6, kAny}, {0x20, 4, kAny}});
  const struct {
    const char* what;
    const char* on;
    const char* name;
  } cases[] = {{"the file's own list", "customer.dat", "system.posix_acl_access"},
               {"the folder's default list", ".", "system.posix_acl_default"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_file("customer.dat", pattern(3));
    if (setxattr(c.on, c.name, list.data(), list.size(), 0) != 0) {
      GTEST_SKIP() << "no access lists here: " << strerror(errno);
    }
    ino_t inode = stat_of("customer.dat").st_ino;
    set_table(pattern(4));
    EXPECT_TRUE(save_namelist());
    EXPECT_EQ(stat_of("customer.dat").st_ino, inode);
    EXPECT_EQ(read_file("customer.dat"), pattern(4));
    EXPECT_GT(getxattr(c.on, c.name, nullptr, 0), 0);
    removexattr(c.on, c.name);
    fs::remove("customer.dat");
  }
}

// Anyone who may open the file may take its lock and keep it: a save then
// fails after a while, and a load leaves the table, instead of hanging.
TEST_F(DataFileTest, ALockKeptByAnotherFailsTheSaveInsteadOfHanging) {
  write_file("customer.dat", pattern(3));
  set_table(pattern(4));
  int held = open("customer.dat", O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(save_namelist());
  load_namelist();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(read_file("customer.dat"), pattern(3));
  EXPECT_EQ(table_image(), pattern(4));
  close(held);  // and the lock with it
  EXPECT_TRUE(save_namelist());
  EXPECT_EQ(read_file("customer.dat"), pattern(4));
}

// How many requests wait in the kernel for the lock of the file `st` is.
int kernel_waiters(const struct stat& st) {
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  std::istringstream locks(testkit::read_file("/proc/locks").value_or(""));
  int waiting = 0;
  for (std::string line; std::getline(locks, line);)
    waiting += line.find("-> FLOCK") != std::string::npos && line.find(inode) != std::string::npos;
  return waiting;
}

// Saves that find the lock held wait for it in the kernel, and are served in
// the order they came, each as the one before it lets go.
TEST_F(DataFileTest, WaitingSavesAreServedInTheOrderTheyCame) {
  write_file("customer.dat", pattern(3));
  fs::create_hard_link("customer.dat", "other.dat");  // in place: all wait on one file
  const struct stat st = stat_of("customer.dat");
  int held = open("customer.dat", O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  int order[2];
  ASSERT_EQ(pipe(order), 0);
  std::vector<pid_t> waiters;
  for (char who = 'a'; who < 'f'; ++who) {
    pid_t pid = fork();
    if (pid == 0) {
      close(held);  // the lock stays the parent's alone
      // Noted under the lock: once it is let go, the next may note before this one.
      const std::string image = pattern(who);
      _exit(DataFile(kFile, kImage).save([&](const Found&) {
        return SavePlan{write(order[1], &who, 1) == 1 ? SavePlan::kWrite : SavePlan::kFail,
                        bytes_of(image)};
      })
                ? 0
                : 1);
    }
    waiters.push_back(pid);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (kernel_waiters(st) < static_cast<int>(waiters.size()) &&
           std::chrono::steady_clock::now() < until)
      usleep(1000);
    ASSERT_EQ(kernel_waiters(st), static_cast<int>(waiters.size())) << who << " waits elsewhere";
  }
  close(held);
  std::string served(waiters.size(), '?');
  for (char& c : served) ASSERT_EQ(read(order[0], &c, 1), 1);
  EXPECT_EQ(served, "abcde");
  for (pid_t pid : waiters) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_TRUE(read_file("other.dat") == pattern('e'));
  close(order[0]);
  close(order[1]);
}

// Each save that takes the name on to a new file lets the next waiter in: a
// save's wait is bounded per holder, so that a queue of renames does not cut
// it off, but by four holders' bounds in all, however often the file is
// handed on.
TEST_F(DataFileTest, AWaitHandedOnByRenamesBeginsAfreshFourTimesAtMost) {
  const std::chrono::milliseconds bound = lock_wait;
  lock_wait = std::chrono::milliseconds(400);
  for (int handed_on : {1, 8}) {  // every 300 ms: 600 ms in all, or 2.7 s
    SCOPED_TRACE(handed_on);
    write_file("customer.dat", pattern(3));
    int held = open("customer.dat", O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    pid_t pid = fork();
    if (pid == 0) {  // 0 saved, 1 gave up in time, 2 gave up late
      close(held);
      const auto start = std::chrono::steady_clock::now();
      if (save(kFile, bytes_of(pattern(5)))) _exit(0);
      _exit(std::chrono::steady_clock::now() - start < 4 * lock_wait + 100ms ? 1 : 2);
    }
    for (int i = 0; i < handed_on; ++i) {
      usleep(300'000);
      write_file("next.dat", pattern(4));
      int next = open("next.dat", O_RDONLY);
      ASSERT_EQ(flock(next, LOCK_EX), 0);
      fs::rename("next.dat", "customer.dat");
      close(std::exchange(held, next));
    }
    usleep(300'000);
    close(held);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), handed_on == 1 ? 0 : 1);
  }
  lock_wait = bound;
}

// What the file is (mode, names) is taken once the lock is held: a save that
// waited neither gives back rights taken away meanwhile nor splits a link made.
TEST_F(DataFileTest, AWaitingSaveTakesTheFileAsItIsOnceLocked) {
  struct Case {
    const char* what;
    void (*meanwhile)();
    mode_t mode;
    const char* other;  // a second name that must hold the new bytes, or none
  };
  const Case cases[] = {
      {"mode narrowed", [] { ASSERT_EQ(chmod("customer.dat", 0600), 0); }, 0600, nullptr},
      {"second name made", [] { fs::create_hard_link("customer.dat", "other.dat"); }, 0644,
       "other.dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"customer.dat", "other.dat"}) fs::remove(name);
    write_file("customer.dat", pattern(3));
    ASSERT_EQ(chmod("customer.dat", 0644), 0);
    int held = open("customer.dat", O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(held);  // the lock stays the parent's alone
      _exit(save(kFile, bytes_of(pattern(4))) ? 0 : 1);
    }
    usleep(200'000);  // the save has opened the file and waits for the lock
    c.meanwhile();
    close(held);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(stat_of("customer.dat").st_mode & 07777, c.mode);
    if (c.other) {
      EXPECT_TRUE(read_file(c.other) == pattern(4)) << "the link was split";
    }
  }
}

// In a folder that others may write, a second name of a file may have been
// planted there for a file elsewhere, whoever's file it is: it is written
// through only where those others could write the file anyway. Otherwise a
// saver who may rename it splits the link, and anyone else fails.
TEST_F(DataFileTest, AHardLinkInAFolderOthersMayWriteIsWrittenThroughOnlyForThem) {
  struct Case {
    const char* what;
    uid_t owner;
    gid_t group;
    mode_t mode;
    uid_t saver;
    std::vector<gid_t> groups;  // the saver's
    bool saved;
    mode_t folder = 01777;  // of root and group kG, or of the file's owner where 0733
    bool through = false;   // written in place: both names hold the new bytes
  };
  const Case cases[] = {
      {"sticky: another user's file, root saves", kA, kG, 0660, 0, {}, true},
      {"sticky: the user's own private file, linked by another", kA, kA, 0600, kA, {}, true},
      {"sticky: a file of the user's group, not the user's", kA, kG, 0660, kB, {kG}, false},
      {"sticky: a file anyone may write", kA, kA, 0666, kB, {}, true, 01777, true},
      {"the user's 0733 folder: the user's own private file", kA, kA, 0600, kA, {}, true, 0733},
      {"a group's share: a file the group may write", kA, kG, 0660, kB, {kG}, true, 02770, true},
      {"a group's share: a file of another group", kA, kA, 0666 & ~S_IWOTH, kA, {kG}, true, 02770},
  };
  fs::create_directories("store");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("shared");
    fs::create_directories("shared");
    ASSERT_EQ(chown("shared", c.folder == 0733 ? c.owner : 0, kG), 0);
    ASSERT_EQ(chmod("shared", c.folder), 0);
    write_file("store/secret.dat", pattern(3));
    ASSERT_EQ(chown("store/secret.dat", c.owner, c.group), 0);
    ASSERT_EQ(chmod("store/secret.dat", c.mode), 0);
    fs::create_hard_link("store/secret.dat", "shared/customer.dat");
    int got = as_user(c.saver, c.saver, c.groups,
                      [] { return save("shared/customer.dat", bytes_of(pattern(4))) ? 0 : 1; });
    EXPECT_EQ(got, c.saved ? 0 : 1);
    EXPECT_TRUE(read_file("store/secret.dat") == pattern(c.through ? 4 : 3));
    struct stat st = stat_of("shared/customer.dat");
    EXPECT_TRUE(read_file("shared/customer.dat") == pattern(c.saved ? 4 : 3));
    EXPECT_EQ(st.st_nlink, c.saved && !c.through ? 1u : 2u);
    EXPECT_EQ(st.st_uid, c.owner);
    EXPECT_EQ(st.st_gid, c.group);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(entries("shared"), std::set<std::string>{"customer.dat"});
  }
}

// Which flush fails (with EIO), and the how-many-th of its kind; or a kill
// just before a new file is named.
enum class Fault { kFolderFlush, kFileFlush, kDataFlush, kFileSystemFlush, kKillBeforeNamed };
Fault fault;
int calls_left;

bool fails(Fault which) { return fault == which && --calls_left == 0; }

const SaveCalls kFaulty = [] {
  SaveCalls calls = kSystemCalls;
  calls.fsync = [](int fd) {
    struct stat st {};
    fstat(fd, &st);
    if (fails(S_ISDIR(st.st_mode) ? Fault::kFolderFlush : Fault::kFileFlush))
      return errno = EIO, -1;
    return kSystemCalls.fsync(fd);
  };
  calls.fdatasync = [](int fd) {
    if (fails(Fault::kDataFlush)) return errno = EIO, -1;
    return kSystemCalls.fdatasync(fd);
  };
  calls.syncfs = [](int fd) {
    if (fails(Fault::kFileSystemFlush)) return errno = EIO, -1;
    return kSystemCalls.syncfs(fd);
  };
  calls.linkat = [](int from_dir, const char* from, int to_dir, const char* to, int flags) {
    if (fails(Fault::kKillBeforeNamed)) raise(SIGKILL);
    return kSystemCalls.linkat(from_dir, from, to_dir, to, flags);
  };
  return calls;
}();

// A save whose flush fails has failed: the old file stays (or, where the rename
// or the in-place save's last cut was made, the new one stays unflushed) and
// nothing is left past the table; the next save writes the image again, even
// where the file holds it already. A first save in a folder the user may write
// but not read flushes the whole file system, as the folder cannot be; its new
// file has no name until it is linked in, so a kill leaves nothing there that
// could never be listed and cleared.
TEST_F(DataFileTest, AFailedFlushFailsTheSaveAndTheNextWritesAgain) {
  const struct {
    const char* what;
    Fault fault;
    int nth;
    bool in_place;
    bool made;       // the failed save's rename, link or last cut was made
    uid_t user = 0;  // kA: in drop/, a folder of root's that kA cannot read
  } cases[] = {
      {"rename: the folder's flush", Fault::kFolderFlush, 1, false, true},
      {"rename: the new file's flush", Fault::kFileFlush, 1, false, false},
      {"in place: the undo record's flush", Fault::kDataFlush, 1, true, false},
      {"in place: the records' flush", Fault::kDataFlush, 2, true, false},
      {"in place: the last flush", Fault::kFileFlush, 1, true, true},
      {"first save, folder unreadable: the flush", Fault::kFileSystemFlush, 1, false, true, kA},
      {"first save, folder unreadable: a kill", Fault::kKillBeforeNamed, 1, false, false, kA},
  };
  const std::string old = pattern(3), now = pattern(4);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("drop");
    fs::create_directory("drop");
    ASSERT_EQ(chmod("drop", c.user ? 0733 : 0755), 0);
    if (!c.user) write_file("drop/customer.dat", old);
    if (c.in_place) fs::create_hard_link("drop/customer.dat", "drop/other.dat");
    int got = as_user(c.user, c.user, {}, [&] {
      DataFile stream("drop/customer.dat", kImage);
      auto save_now = [&] {
        bool saved = stream.save([&](const Found& found) {
          return SavePlan{found.bytes == now ? SavePlan::kKeep : SavePlan::kWrite, bytes_of(now)};
        });
        release_kept_lock();
        return saved;
      };
      fault = c.fault, calls_left = c.nth;
      save_calls = kFaulty;
      const bool failed = !save_now();
      save_calls = kSystemCalls;
      struct stat st {};
      stat("drop/customer.dat", &st);
      const bool as_left = read_file("drop/customer.dat") == (c.made ? now : c.user ? "" : old);
      return (failed ? 0 : 1) + (as_left ? 0 : 2) + (save_now() ? 0 : 4) +
             (read_file("drop/customer.dat") == now ? 0 : 8) +
             (!c.made || c.in_place || c.user || stat_of("drop/customer.dat").st_ino != st.st_ino
                  ? 0
                  : 16);
    });
    if (c.fault == Fault::kKillBeforeNamed) {
      EXPECT_EQ(got, 100 + SIGKILL);
      EXPECT_EQ(entries("drop"), std::set<std::string>{});
      continue;
    }
    EXPECT_EQ(got, 0) << "1 saved, 2 not as left, 4 not saved next, 8 not after it, 16 not again";
    const std::set<std::string> names = {"customer.dat", "other.dat"};
    EXPECT_EQ(entries("drop"), c.in_place ? names : std::set<std::string>{"customer.dat"});
  }
}

// While one process is inside a save, another's waits, then decides from what
// the first one wrote.
TEST_F(DataFileTest, SecondProcessSaveWaitsForTheFirst) {
  write_file("customer.dat", pattern(3));
  int entered[2], release[2], decided[2];
  ASSERT_EQ(pipe(entered), 0);
  ASSERT_EQ(pipe(release), 0);
  ASSERT_EQ(pipe(decided), 0);
  const std::string first = pattern(4), second = pattern(5);
  auto child = [](const DecideSave& decide) {
    pid_t pid = fork();
    if (pid == 0) _exit(DataFile(kFile, kImage).save(decide) ? 0 : 1);
    return pid;
  };
  pid_t one = child([&](const Found&) {
    char c;
    if (write(entered[1], "e", 1) != 1 || read(release[0], &c, 1) != 1) _exit(2);
    return SavePlan{SavePlan::kWrite, bytes_of(first)};
  });
  char c;
  ASSERT_EQ(read(entered[0], &c, 1), 1);
  pid_t two = child([&](const Found& now) {
    if (write(decided[1], now.bytes == first ? "d" : "x", 1) != 1) _exit(2);
    return SavePlan{SavePlan::kWrite, bytes_of(second)};
  });
  pollfd waiting{decided[0], POLLIN, 0};
  EXPECT_EQ(poll(&waiting, 1, 300), 0) << "the second save did not wait";
  ASSERT_EQ(write(release[1], "r", 1), 1);
  ASSERT_EQ(read(decided[0], &c, 1), 1);
  EXPECT_EQ(c, 'd');
  for (pid_t pid : {one, two}) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(read_file("customer.dat"), second);
  for (int fd : {entered[0], entered[1], release[0], release[1], decided[0], decided[1]}) close(fd);
}

// With no file there is nothing to lock: two first saves decide side by side,
// and the one that comes second to the name decides again from what the other
// put there, instead of replacing it.
TEST_F(DataFileTest, TwoFirstSavesNeverReplaceEachOther) {
  int entered[2], release[2];
  ASSERT_EQ(pipe(entered), 0);
  ASSERT_EQ(pipe(release), 0);
  const std::string first = pattern(4), second = pattern(5);
  pid_t one = fork();
  if (one == 0) {
    std::vector<std::optional<std::string>> seen;
    bool saved = DataFile(kFile, kImage).save([&](const Found& now) {
      seen.emplace_back();
      if (now.state == Found::kRead) seen.back() = now.bytes;
      char c;
      if (seen.size() == 1 && (write(entered[1], "e", 1) != 1 || read(release[0], &c, 1) != 1))
        _exit(2);
      return SavePlan{SavePlan::kWrite, bytes_of(first)};
    });
    bool decided_again = seen.size() == 2 && !seen[0] && seen[1] == second;
    _exit(saved && decided_again ? 0 : 1);
  }
  char c;
  ASSERT_EQ(read(entered[0], &c, 1), 1);
  EXPECT_TRUE(save(kFile, bytes_of(second)));
  EXPECT_EQ(read_file("customer.dat"), second);
  ASSERT_EQ(write(release[1], "r", 1), 1);
  int status = 0;
  waitpid(one, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(read_file("customer.dat"), first);
  expect_only({"customer.dat"});
  for (int fd : {entered[0], entered[1], release[0], release[1]}) close(fd);
}

}  // namespace
}  // namespace orvel

namespace orvel {
namespace {

timespec at_ns(int64_t ns) { return {ns / 1'000'000'000, ns % 1'000'000'000}; }

// A time with no digits below the second gives no sign of the file system's
// step: two seconds are assumed. Otherwise its trailing zeros or the clock's
// tick, whichever is longer.
TEST(TimestampStep, WholeSecondsTwoElseTrailingZerosOrTheTick) {
  const int64_t tick = timestamp_step_ns({5, 123'456'789});
  EXPECT_GE(tick, 1'000'000);
  EXPECT_LE(tick, 100'000'000);
  EXPECT_EQ(timestamp_step_ns({5, 0}), 2'000'000'000);
  EXPECT_EQ(timestamp_step_ns({5, 500'000'000}), 100'000'000);
  EXPECT_EQ(timestamp_step_ns({5, 120'000'000}), std::max<int64_t>(tick, 10'000'000));
}

// An identity is trusted only two whole steps after the change it shows.
TEST(RacilyClean, UntilTwoStepsAfterTheChange) {
  const struct {
    const char* what;
    int64_t changed;         // ns
    int64_t steps, plus_ns;  // the identity taken that many steps and ns after
    bool racy;
  } cases[] = {
      {"change time ahead of the clock", 1000'123'456'789, 0, -1, true},
      {"at the change", 1000'123'456'789, 0, 0, true},
      {"one step after", 1000'123'456'789, 1, 0, true},
      {"just short of two steps", 1000'123'456'789, 2, -1, true},
      {"two steps after", 1000'123'456'789, 2, 0, false},
      {"whole seconds: just short of four", 1000'000'000'000, 2, -1, true},
      {"whole seconds: four after", 1000'000'000'000, 2, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const timespec changed = at_ns(c.changed);
    const int64_t taken = c.changed + c.steps * timestamp_step_ns(changed) + c.plus_ns;
    EXPECT_EQ(racily_clean(at_ns(taken), changed), c.racy);
  }
}

}  // namespace
}  // namespace orvel
