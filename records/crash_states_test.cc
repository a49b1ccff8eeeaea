// Every state a kill or a power cut may leave of one save, loaded back by the
// program's own load: each is the whole old table or the whole new one, and
// once the save has said it is done, the new one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
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
constexpr size_t kUnit = 512;  // what a disk writes whole, at the least
constexpr size_t kPage = 4096;

// One call a save made, as the seam saw it.
struct Call {
  enum Kind { kWrite, kTruncate, kFlush, kFlushNames, kFlushAll, kRename, kLink, kUnlink };
  Kind kind = kWrite;
  ino_t file = 0;  // what it wrote, flushed or named
  off_t at = 0;    // kWrite: where; kTruncate: the size
  std::string bytes;
  std::string name;  // kRename: the old name; kLink, kUnlink: the name
  std::string to;    // kRename: the new name
};

std::vector<Call> calls;

void note(Call::Kind kind, ino_t file, off_t at = 0, std::string bytes = {}, std::string name = {},
          std::string to = {}) {
  Call& c = calls.emplace_back();
  c.kind = kind, c.file = file, c.at = at;
  c.bytes = std::move(bytes), c.name = std::move(name), c.to = std::move(to);
}

ino_t inode_of(int fd) {
  struct stat st {};
  fstat(fd, &st);
  return st.st_ino;
}

ino_t inode_at(int dir, const char* name) {
  struct stat st {};
  fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW);
  return st.st_ino;
}

// The system's calls, each one noted before it is made.
const SaveCalls kRecording = {
    [](int fd, const void* bytes, size_t size, off_t at) {
      note(Call::kWrite, inode_of(fd), at, {static_cast<const char*>(bytes), size});
      return kSystemCalls.pwrite(fd, bytes, size, at);
    },
    [](int fd, off_t size) {
      note(Call::kTruncate, inode_of(fd), size);
      return kSystemCalls.ftruncate(fd, size);
    },
    [](int fd) {
      struct stat st {};
      fstat(fd, &st);
      note(S_ISDIR(st.st_mode) ? Call::kFlushNames : Call::kFlush, st.st_ino);
      return kSystemCalls.fsync(fd);
    },
    [](int fd) {
      note(Call::kFlush, inode_of(fd));
      return kSystemCalls.fdatasync(fd);
    },
    [](int fd) {
      note(Call::kFlushAll, 0);
      return kSystemCalls.syncfs(fd);
    },
    [](int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
      note(Call::kRename, inode_at(from_dir, from), 0, {}, from, to);
      return kSystemCalls.renameat2(from_dir, from, to_dir, to, flags);
    },
    [](int from_dir, const char* from, int to_dir, const char* to, int flags) {
      int fd = -1;
      ino_t file = sscanf(from, "/proc/self/fd/%d", &fd) == 1 ? inode_of(fd)
                   : flags & AT_EMPTY_PATH                    ? inode_of(from_dir)
                                                              : inode_at(from_dir, from);
      note(Call::kLink, file, 0, {}, to);
      return kSystemCalls.linkat(from_dir, from, to_dir, to, flags);
    },
    [](int dir, const char* name, int flags) {
      note(Call::kUnlink, 0, 0, {}, name);
      return kSystemCalls.unlinkat(dir, name, flags);
    },
};

// A folder as the disk holds it: names, and the bytes of each file.
struct Disk {
  std::map<std::string, ino_t> names;
  std::map<ino_t, std::string> files;

  void apply_name(const Call& c) {
    if (c.kind == Call::kRename) names.erase(c.name), names[c.to] = c.file;
    if (c.kind == Call::kLink) names[c.name] = c.file;
    if (c.kind == Call::kUnlink) names.erase(c.name);
  }
};

void write_over(std::string& file, off_t at, std::string_view bytes) {
  const size_t end = static_cast<size_t>(at) + bytes.size();
  if (file.size() < end) file.resize(end, '\0');
  file.replace(static_cast<size_t>(at), bytes.size(), bytes);
}

bool is_name_call(const Call& c) {
  return c.kind == Call::kRename || c.kind == Call::kLink || c.kind == Call::kUnlink;
}

// The part of a write in one unit of the disk.
struct Unit {
  size_t call;
  off_t at;
  size_t size;
};

std::vector<Unit> units_of(size_t call, const Call& c, size_t unit) {
  std::vector<Unit> units;
  for (off_t at = c.at; at < c.at + static_cast<off_t>(c.bytes.size());) {
    off_t end = std::min<off_t>((at / static_cast<off_t>(unit) + 1) * static_cast<off_t>(unit),
                                c.at + static_cast<off_t>(c.bytes.size()));
    units.push_back({call, at, static_cast<size_t>(end - at)});
    at = end;
  }
  return units;
}

// What may be on the disk when the power goes after the first `cut` calls: the
// names as flushed and then any first few of the later name calls; each file
// as flushed, then any of the units written since, with or without the size
// changes made since (a size that persists without its bytes shows zeros).
class PowerCut {
 public:
  PowerCut(const Disk& start, size_t cut) : start_(start), cut_(cut) {
    for (size_t i = 0; i < cut; ++i) {
      const Call& c = calls[i];
      if (c.kind == Call::kFlushNames || c.kind == Call::kFlushAll) names_flushed_ = i + 1;
      if (c.kind == Call::kFlush) flushed_[c.file] = i + 1;
      if (c.kind == Call::kFlushAll) all_flushed_ = i + 1;
    }
  }

  size_t name_calls_pending() const {
    size_t n = 0;
    for (size_t i = names_flushed_; i < cut_; ++i) n += is_name_call(calls[i]);
    return n;
  }

  // The data file's inode once `names` of the pending name calls persisted.
  Disk names_after(size_t names) const {
    Disk disk = start_;
    for (size_t i = 0, pending = 0; i < cut_; ++i) {
      if (!is_name_call(calls[i])) continue;
      if (i >= names_flushed_ && pending++ >= names) continue;
      disk.apply_name(calls[i]);
    }
    return disk;
  }

  // Calls since `file` was last flushed, before the cut.
  size_t since(ino_t file) const {
    auto f = flushed_.find(file);
    return std::max(all_flushed_, f == flushed_.end() ? 0 : f->second);
  }

  std::vector<Unit> pending_units(ino_t file) const {
    std::vector<Unit> units;
    for (size_t i = since(file); i < cut_; ++i) {
      if (calls[i].kind == Call::kWrite && calls[i].file == file) {
        std::vector<Unit> more = units_of(i, calls[i], kUnit);
        units.insert(units.end(), more.begin(), more.end());
      }
    }
    return units;
  }

  // The file's bytes with the flushed calls, the chosen units, and the size
  // changes since its flush where `sized`.
  std::string bytes(ino_t file, const std::vector<bool>& chosen, bool sized) const {
    auto was = start_.files.find(file);
    std::string bytes = was == start_.files.end() ? "" : was->second;
    const size_t from = since(file);
    for (size_t i = 0; i < from; ++i) {
      const Call& c = calls[i];
      if (c.file != file) continue;
      if (c.kind == Call::kWrite) write_over(bytes, c.at, c.bytes);
      if (c.kind == Call::kTruncate) bytes.resize(static_cast<size_t>(c.at), '\0');
    }
    const size_t flushed_size = bytes.size();
    size_t size = flushed_size;
    std::vector<Unit> units = pending_units(file);
    for (size_t i = from, u = 0; i < cut_; ++i) {
      const Call& c = calls[i];
      if (c.file != file) continue;
      if (c.kind == Call::kTruncate) {
        size = static_cast<size_t>(c.at);
        if (sized) bytes.resize(size, '\0');
      }
      if (c.kind != Call::kWrite) continue;
      size = std::max(size, static_cast<size_t>(c.at) + c.bytes.size());
      for (; u < units.size() && units[u].call == i; ++u) {
        if (chosen[u])
          write_over(bytes, units[u].at,
                     std::string_view(c.bytes).substr(units[u].at - c.at, units[u].size));
      }
    }
    bytes.resize(sized ? size : flushed_size, '\0');
    return bytes;
  }

 private:
  const Disk& start_;
  size_t cut_;
  size_t names_flushed_ = 0, all_flushed_ = 0;
  std::map<ino_t, size_t> flushed_;
};

// Which of `n` units persist: all combinations of a few; of many, none, all,
// each alone, all but each, and some at random.
std::vector<std::vector<bool>> choices(size_t n, std::mt19937& rng) {
  std::vector<std::vector<bool>> out;
  if (n <= 8) {
    for (size_t mask = 0; mask < (size_t{1} << n); ++mask) {
      std::vector<bool> c(n);
      for (size_t i = 0; i < n; ++i) c[i] = mask >> i & 1;
      out.push_back(c);
    }
    return out;
  }
  out.push_back(std::vector<bool>(n, false));
  out.push_back(std::vector<bool>(n, true));
  for (size_t i = 0; i < n; ++i) {
    out.push_back(std::vector<bool>(n, false));
    out.back()[i] = true;
    out.push_back(std::vector<bool>(n, true));
    out.back()[i] = false;
  }
  for (int r = 0; r < 16; ++r) {
    out.push_back(std::vector<bool>(n));
    for (size_t i = 0; i < n; ++i) out.back()[i] = rng() % 2;
  }
  return out;
}

// The folder as it was before the save.
Disk disk_now() {
  Disk disk;
  for (const fs::directory_entry& e : fs::directory_iterator(".")) {
    if (!e.is_regular_file()) continue;
    const std::string name = e.path().filename();
    const ino_t file = inode_at(AT_FDCWD, name.c_str());
    disk.names[name] = file;
    disk.files[file] = testkit::read_file(name).value_or("");
  }
  return disk;
}

class CrashStates : public testkit::InTempDir {
 protected:
  ~CrashStates() override { save_calls = kSystemCalls; }

  // Loads the data file as a state leaves it, in a folder of its own, by a
  // session that knows nothing yet: the table it shows, or the sentinel where
  // there is no file.
  std::string load_state(const std::optional<std::string>& file) {
    testkit::WorkIn in(states_);
    fs::remove(kFile);
    if (file) std::ofstream(kFile, std::ios::binary) << *file;
    std::vector<Customer> table(kSlots);
    memset(table.data(), 0x5a, kImage);
    TableFile<Customer>(kFile).load(std::span<Customer, kSlots>(table.data(), kSlots));
    std::string shown(reinterpret_cast<const char*>(table.data()), kImage);
    // Whoever saves next puts back what a save that did not finish left: then
    // the file is one whole image, the one shown.
    if (file && file->size() > kImage) {
      EXPECT_TRUE(DataFile(kFile, kImage).save([&](const Found& now) {
        const bool same = now.state == Found::kRead && now.bytes == shown;
        return SavePlan{same ? SavePlan::kKeep : SavePlan::kWrite,
                        std::as_bytes(std::span(shown.data(), kImage))};
      }));
      release_kept_lock();
      EXPECT_TRUE(testkit::read_file(kFile) == shown) << "not put back whole";
    }
    return shown;
  }

  testkit::TempDir states_;
};

// A table of records at the slots given, counted as adds.
std::string table_with(std::initializer_list<int> slots, const char* tel) {
  testkit::Image<Customer> image;
  for (int slot : slots) {
    testkit::put(image[slot].cust_no, std::to_string(slot));
    testkit::put(image[slot].surname, "Surname of slot " + std::to_string(slot));
    testkit::put(image[slot].street, "A long street name for " + std::to_string(slot));
    testkit::put(image[slot].tel_no, tel);
  }
  return image.counter(static_cast<int32_t>(slots.size())).bytes();
}

TEST_F(CrashStates, EachIsTheOldTableOrTheNew) {
  // Slot 22 lies across bytes 3,960 to 4,140: it crosses a page.
  static_assert(22 * sizeof(Customer) < kPage && 23 * sizeof(Customer) > kPage);
  const struct {
    const char* what;
    std::optional<std::string> old;  // none: no file before
    std::string now;
    bool second_name;  // a hard link keeps the file in place
  } cases[] = {
      {"rename: an add", table_with({499, 22}, "0111"), table_with({499, 22, 498}, "0111"), false},
      {"rename: an update across a page", table_with({499, 22}, "0111"),
       table_with({499, 22}, "0222 3333 4444"), false},
      {"in place: an add", table_with({499, 22}, "0111"), table_with({499, 22, 498}, "0111"), true},
      {"in place: an update across a page", table_with({499, 22}, "0111"),
       table_with({499, 22}, "0222 3333 4444"), true},
      {"a first save", {}, table_with({499}, "0111"), false},
  };
  std::mt19937 rng(24);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {kFile, "other.dat"}) fs::remove(name);
    if (c.old) std::ofstream(kFile, std::ios::binary) << *c.old;
    if (c.second_name) fs::create_hard_link(kFile, "other.dat");
    TableFile<Customer> session(kFile);
    session.load(namelist);
    const Disk start = disk_now();
    memcpy(namelist, c.now.data(), kImage);
    calls.clear();
    save_calls = kRecording;
    ASSERT_TRUE(session.save(namelist));
    save_calls = kSystemCalls;
    release_kept_lock();
    ASSERT_TRUE(testkit::read_file(kFile) == c.now);

    const std::string none(kImage, '\x5a');
    const std::string& before = c.old ? *c.old : none;
    int states = 0;
    for (size_t cut = 0; cut <= calls.size(); ++cut) {
      SCOPED_TRACE("after " + std::to_string(cut) + " of " + std::to_string(calls.size()) +
                   " calls");
      const bool done = cut == calls.size();
      PowerCut power(start, cut);
      for (size_t names = 0; names <= power.name_calls_pending(); ++names) {
        const Disk disk = power.names_after(names);
        auto named = disk.names.find(kFile);
        if (named == disk.names.end()) {
          ++states;
          EXPECT_FALSE(c.old) << "the data file is gone";
          EXPECT_FALSE(done) << "saved, and no file";
          continue;
        }
        const ino_t file = named->second;
        std::vector<Unit> units = power.pending_units(file);
        for (const std::vector<bool>& chosen : choices(units.size(), rng)) {
          for (bool sized : {false, true}) {
            ++states;
            const std::string shown = load_state(power.bytes(file, chosen, sized));
            if (done) {
              EXPECT_TRUE(shown == c.now) << "saved, and not on the disk";
            } else {
              EXPECT_TRUE(shown == c.now || shown == before) << "torn";
            }
            if (HasFailure()) return;
          }
        }
      }
      // A kill: every call before the cut made, and the one at it cut at a page.
      if (done || calls[cut].kind != Call::kWrite) continue;
      Disk disk = power.names_after(SIZE_MAX);
      if (!disk.names.count(kFile) || disk.names[kFile] != calls[cut].file) continue;
      std::vector<bool> all(power.pending_units(calls[cut].file).size(), true);
      std::string file = power.bytes(calls[cut].file, all, true);
      for (const Unit& page : units_of(cut, calls[cut], kPage)) {
        ++states;
        const std::string shown = load_state(file);
        EXPECT_TRUE(shown == c.now || shown == before) << "torn by a kill in a write";
        write_over(file, page.at,
                   std::string_view(calls[cut].bytes).substr(page.at - calls[cut].at, page.size));
      }
    }
    EXPECT_GT(states, 5);
  }
}

}  // namespace
}  // namespace orvel
