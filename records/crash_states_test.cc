// Every state a kill or a power cut may leave of one save, loaded back by the
// program's own load: each is the whole old table or the whole new one, and
// once the save has said it is done, the new one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "records/data_file.h"
#include "records/save_seam.h"
#include "records/table_file.h"
#include "tests/in_process.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;

constexpr char kFile[] = "customer.dat";
constexpr size_t kImage = sizeof(Customer) * kSlots;
constexpr off_t kUnit = 512;  // what a disk writes whole, at the least

// One call a save made: 'w' a write, 't' a size set, 'f' a file's flush, 'n' a
// folder's, 'a' the file system's, 'r' a rename, 'l' a link, 'u' an unlink.
struct Call {
  char kind;
  ino_t file;
  off_t at;  // where a write goes; the size set
  std::string bytes, name, to;
};
std::vector<Call> calls;

ino_t inode(int fd, const char* name = "") {
  struct stat st {};
  fstatat(fd, name, &st, *name ? AT_SYMLINK_NOFOLLOW : AT_EMPTY_PATH);
  return st.st_ino;
}

void note(char kind, ino_t file, off_t at = 0, std::string bytes = {}, std::string name = {},
          std::string to = {}) {
  calls.push_back({kind, file, at, std::move(bytes), std::move(name), std::move(to)});
}

// The system's calls, each noted before it is made.
const SaveCalls kRecording = {
    [](int fd, const void* b, size_t n, off_t at) {
      note('w', inode(fd), at, {static_cast<const char*>(b), n});
      return kSystemCalls.pwrite(fd, b, n, at);
    },
    [](int fd, off_t size) {
      note('t', inode(fd), size);
      return kSystemCalls.ftruncate(fd, size);
    },
    [](int fd) {
      struct stat st {};
      fstat(fd, &st);
      note(S_ISDIR(st.st_mode) ? 'n' : 'f', st.st_ino);
      return kSystemCalls.fsync(fd);
    },
    [](int fd) {
      note('f', inode(fd));
      return kSystemCalls.fdatasync(fd);
    },
    [](int fd) {
      note('a', 0);
      return kSystemCalls.syncfs(fd);
    },
    [](int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
      note('r', inode(from_dir, from), 0, {}, from, to);
      return kSystemCalls.renameat2(from_dir, from, to_dir, to, flags);
    },
    [](int from_dir, const char* from, int to_dir, const char* to, int flags) {
      int fd = -1;
      note('l', sscanf(from, "/proc/self/fd/%d", &fd) == 1 ? inode(fd) : inode(from_dir, from), 0,
           {}, to);
      return kSystemCalls.linkat(from_dir, from, to_dir, to, flags);
    },
    [](int dir, const char* name, int flags) {
      note('u', 0, 0, {}, name);
      return kSystemCalls.unlinkat(dir, name, flags);
    },
};

bool is_name(const Call& c) { return c.kind == 'r' || c.kind == 'l' || c.kind == 'u'; }

void write_over(std::string& file, off_t at, std::string_view bytes) {
  if (file.size() < at + bytes.size()) file.resize(at + bytes.size(), '\0');
  file.replace(at, bytes.size(), bytes);
}

// What may be on the disk when the power goes after the first `cut` calls: the
// names as last flushed and then any first few of the later name calls; each
// file as last flushed, then any of the 512-byte units written since, with or
// without the size set since (a size that persists without its bytes shows
// zeros). All of it, or a unit of a write, is also what a kill leaves.
struct Cut {
  size_t cut;
  size_t names_flushed = 0, all_flushed = 0;
  std::map<ino_t, size_t> flushed;  // a file's calls up to its last flush

  explicit Cut(size_t at) : cut(at) {
    for (size_t i = 0; i < cut; ++i) {
      const Call& c = calls[i];
      if (c.kind == 'n' || c.kind == 'a') names_flushed = i + 1;
      if (c.kind == 'a') all_flushed = i + 1;
      if (c.kind == 'f') flushed[c.file] = i + 1;
    }
  }
  size_t since(ino_t file) const {
    auto f = flushed.find(file);
    return std::max(f == flushed.end() ? 0 : f->second, all_flushed);
  }
  size_t pending_names() const {
    size_t n = 0;
    for (size_t i = names_flushed; i < cut; ++i) n += is_name(calls[i]);
    return n;
  }
  // The data file's inode once `kept` of the pending name calls persisted.
  std::optional<ino_t> named(std::map<std::string, ino_t> names, size_t kept) const {
    for (size_t i = 0, pending = 0; i < cut; ++i) {
      const Call& c = calls[i];
      if (!is_name(c) || (i >= names_flushed && pending++ >= kept)) continue;
      if (c.kind != 'l') names.erase(c.name);
      if (c.kind != 'u') names[c.kind == 'r' ? c.to : c.name] = c.file;
    }
    auto n = names.find(kFile);
    return n == names.end() ? std::nullopt : std::optional(n->second);
  }
  // The units written to `file` since its last flush: the call, the unit's start.
  std::vector<std::pair<size_t, off_t>> units(ino_t file) const {
    std::vector<std::pair<size_t, off_t>> out;
    for (size_t i = since(file); i < cut; ++i) {
      const Call& c = calls[i];
      for (off_t at = c.at; c.kind == 'w' && c.file == file && at < end_of(c);
           at = (at / kUnit + 1) * kUnit)
        out.emplace_back(i, at);
    }
    return out;
  }
  static off_t end_of(const Call& c) { return c.at + static_cast<off_t>(c.bytes.size()); }
  // `file` (its bytes before the save) as the calls up to its flush left it,
  // with the chosen units since, and the size since where `sized`.
  std::string bytes(std::string file, ino_t ino, const std::vector<bool>& chosen,
                    bool sized) const {
    const size_t from = since(ino);
    const std::vector<std::pair<size_t, off_t>> pending = units(ino);
    size_t size = 0, flushed_size = 0, u = 0;
    for (size_t i = 0; i <= cut; ++i) {
      if (i == from) size = flushed_size = file.size();
      if (i == cut) break;
      const Call& c = calls[i];
      if (c.file != ino || (c.kind != 'w' && c.kind != 't')) continue;
      if (c.kind == 't') size = static_cast<size_t>(c.at);
      if (c.kind == 'w') size = std::max(size, static_cast<size_t>(end_of(c)));
      if (i < from || (c.kind == 't' && sized)) file.resize(size, '\0');
      if (c.kind == 'w' && i < from) write_over(file, c.at, c.bytes);
      for (; c.kind == 'w' && i >= from && u < pending.size() && pending[u].first == i; ++u) {
        const off_t at = pending[u].second, to = std::min((at / kUnit + 1) * kUnit, end_of(c));
        if (chosen[u]) write_over(file, at, std::string_view(c.bytes).substr(at - c.at, to - at));
      }
    }
    file.resize(sized ? size : flushed_size, '\0');
    return file;
  }
};

// Which of `n` units persist: every combination of a few; of many, none,
// all, each alone, all but each, and some at random.
std::vector<std::vector<bool>> choices(size_t n, std::mt19937& rng) {
  std::vector<std::vector<bool>> out;
  for (size_t mask = 0; n <= 8 && mask < (size_t{1} << n); ++mask) {
    out.emplace_back(n);
    for (size_t i = 0; i < n; ++i) out.back()[i] = mask >> i & 1;
  }
  if (n <= 8) return out;
  for (bool all : {false, true}) {
    out.emplace_back(n, all);
    for (size_t i = 0; i < n; ++i) (out.emplace_back(n, all), out.back()[i] = !all);
  }
  for (int r = 0; r < 16; ++r) {
    out.emplace_back(n);
    for (size_t i = 0; i < n; ++i) out.back()[i] = rng() % 2;
  }
  return out;
}

class CrashStates : public testkit::InTempDir {
 protected:
  ~CrashStates() override { save_calls = kSystemCalls; }

  // The table a new session loads from a state, as a new process does after a
  // crash. The load puts back what a save that did not finish left (it may
  // write the file, and nobody holds it): the file is then what it showed.
  // Other bytes past the table stay until a save, which leaves the same table
  // as one whole image.
  std::string load_state(const std::optional<std::string>& file) {
    testkit::WorkIn in(states_);
    fs::remove(kFile);
    if (file) std::ofstream(kFile, std::ios::binary) << *file;
    std::string shown(kImage, '\0');  // as a new process starts
    TableFile<Customer>(kFile).load(
        std::span<Customer, kSlots>(reinterpret_cast<Customer*>(shown.data()), kSlots));
    const std::string now = testkit::read_file(kFile).value_or("");
    if (now.size() <= kImage) {
      EXPECT_TRUE(shown.compare(0, now.size(), now) == 0) << "put back wrong";
    } else {
      EXPECT_TRUE(DataFile(kFile, kImage).save([&](const Found& found) {
        return SavePlan{found.bytes == shown ? SavePlan::kKeep : SavePlan::kWrite,
                        std::as_bytes(std::span(shown.data(), kImage))};
      }));
      release_kept_lock();
      EXPECT_TRUE(testkit::read_file(kFile) == shown) << "not one whole image";
    }
    return shown;
  }

  testkit::TempDir states_;
};

// A table with records at the slots given, their telephone as given.
std::string table_with(std::initializer_list<int> slots, const char* tel) {
  testkit::Image<Customer> image;
  for (int slot : slots) {
    testkit::put(image[slot].cust_no, std::to_string(slot));
    testkit::put(image[slot].street, "A long street name for " + std::to_string(slot));
    testkit::put(image[slot].tel_no, tel);
  }
  return image.counter(static_cast<int32_t>(slots.size())).bytes();
}

TEST_F(CrashStates, EachIsTheOldTableOrTheNew) {
  // Slot 22 lies across bytes 3,960 to 4,140: it crosses a page.
  static_assert(22 * sizeof(Customer) < 4096 && 23 * sizeof(Customer) > 4096);
  const std::string one = table_with({499, 22}, "0111"), added = table_with({499, 22, 498}, "0111"),
                    changed = table_with({499, 22}, "0222 3333 4444");
  const struct {
    const char* what;
    std::optional<std::string> old;  // none: no file before
    const std::string& now;
    bool in_place;  // a second name keeps the file in place
  } cases[] = {
      {"rename: an add", one, added, false},
      {"rename: an update across a page", one, changed, false},
      {"in place: an add", one, added, true},
      {"in place: an update across a page", one, changed, true},
      {"in place: a short file", one.substr(0, 400), one, true},
      {"in place: a short file cut before a key", one.substr(0, 22 * sizeof(Customer) + 35), one,
       true},  // the next byte, the new key's first, is no zero
      {"a first save", {}, one, false},
  };
  std::mt19937 rng(24);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {kFile, "other.dat"}) fs::remove(name);
    if (c.old) std::ofstream(kFile, std::ios::binary) << *c.old;
    if (c.in_place) fs::create_hard_link(kFile, "other.dat");
    TableFile<Customer> session(kFile);
    session.load(namelist);
    std::map<std::string, ino_t> names;
    std::map<ino_t, std::string> files;
    for (const fs::directory_entry& e : fs::directory_iterator(".")) {
      const std::string name = e.path().filename();
      files[names[name] = inode(AT_FDCWD, name.c_str())] = *testkit::read_file(name);
    }
    memcpy(namelist, c.now.data(), kImage);
    calls.clear();
    save_calls = kRecording;
    ASSERT_TRUE(session.save(namelist));
    save_calls = kSystemCalls;
    release_kept_lock();

    int states = 0;
    for (size_t at = 0; at <= calls.size(); ++at) {
      SCOPED_TRACE("after " + std::to_string(at) + " of " + std::to_string(calls.size()) +
                   " calls");
      const Cut cut(at);
      for (size_t kept = 0; kept <= cut.pending_names(); ++kept) {
        const std::optional<ino_t> file = cut.named(names, kept);
        const size_t units = file ? cut.units(*file).size() : 0;
        for (const std::vector<bool>& chosen : choices(units, rng)) {
          for (bool sized : {false, true}) {
            ++states;
            const std::string shown = load_state(
                file ? std::optional(cut.bytes(files[*file], *file, chosen, sized)) : std::nullopt);
            // The old table, as a new process loads it.
            const std::string old = c.old.value_or("");
            const bool before = shown == old + std::string(kImage - old.size(), '\0');
            EXPECT_TRUE(shown == c.now || (before && at < calls.size()))
                << (at < calls.size() ? "torn" : "saved, and not on the disk");
            if (HasFailure()) return;
          }
        }
      }
    }
    EXPECT_GT(states, 10);
  }
}

}  // namespace
}  // namespace orvel
