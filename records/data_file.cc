// Saves that never destroy the old file, one at a time under one lock: a new file
// beside the old one renamed over it or, where a rename would change the file's
// owner, group or links, the changed records written over the old ones in place.
//
// The lock is a flock on the data file's own inode, the one thing every sharer
// reaches whatever the folder lets them do and whichever name they use:
// - A save opens the file for reading and writing and takes it exclusively; a
//   load opens it for reading and takes it shared. Where flock is made of
//   byte-range locks (NFS), an exclusive lock needs a descriptor open for writing.
// - Once granted, the name is followed again: a save that held the lock before
//   may have renamed a new image over it, and then the lock is on a file nobody
//   reaches by the name any more. It is dropped and all is done again.
// - A new image is locked before it gets the name (it is made under another one
//   and locked at once), so no one can use it before its maker is done.
// - With no file yet there is nothing to lock: the name itself decides. The new
//   file is linked in only where there is still none, and a save that finds one
//   there meanwhile starts over, takes its lock and merges.
// - Every temporary is locked by its maker from the moment it is made until it
//   is in place or removed: a temporary whose lock anyone can take is a dead
//   save's leftover, and only such are cleared.
// - The kernel drops a dead process's locks, so a kill never leaves a file locked.
//   Anyone who may open the file may hold its lock; waits are bounded.
#include "records/data_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "records/place.h"
#include "records/records.h"
#include "records/save_seam.h"

namespace orvel {

void (*before_rename_for_test)() = nullptr;
void (*after_write_in_place_for_test)() = nullptr;

namespace {

using Clock = std::chrono::steady_clock;

// Temporaries are ".customer.dat.orvel-" and six letters or digits.
constexpr char kTempMark[] = ".orvel-";
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kSuffix = 6;

std::string temp_prefix(const std::string& name) { return "." + name + kTempMark; }

bool is_temp_name(const std::string& entry, const std::string& name) {
  std::string prefix = temp_prefix(name);
  if (entry.size() != prefix.size() + kSuffix || !entry.starts_with(prefix)) return false;
  return entry.find_first_not_of(kAlphabet, prefix.size()) == std::string::npos;
}

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Non-blocking, so a pipe of the file's name cannot hang the program.
Fd open_file(const Place& at, int flags) {
  return Fd(openat(at.folder.get(), at.name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

// True while `name` in `folder` is the file `fd` is open on.
bool names(int folder, const std::string& name, int fd) {
  struct stat held, now;
  return fstat(fd, &held) == 0 && fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
         same_inode(held, now);
}

// Other sessions hold the lock for a few milliseconds. Anyone who may open the
// file can take it too and keep it: then, after a while, this save fails (and a
// load leaves the table) instead of the program hanging for good.
constexpr auto kLockWait = std::chrono::milliseconds(5000);
constexpr int kLockPollUs = 2000;

bool take(int fd, int how, Clock::time_point deadline) {
  while (flock(fd, how | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (Clock::now() >= deadline) return false;
    usleep(kLockPollUs);
  }
  return true;
}

// A data file open and locked, which its name led to once the lock was held.
struct Held {
  Place at;
  Fd file;  // none: there is no file of that name
  struct stat st {};
};

// Follows the name, opens what it leads to (for a save, for writing too: see
// above) and locks it; then follows the name again, by the same link rules, and
// starts over when it leads elsewhere now. Nullopt: no place, a file that is not
// a regular file, one that may not be opened so, or no lock in time.
std::optional<Held> hold(const std::string& path, int how, Clock::time_point deadline) {
  do {
    std::optional<Place> first = find_place(path);
    if (!first) return std::nullopt;
    Held h;
    h.file = open_file(*first, how == LOCK_EX ? O_RDWR : O_RDONLY);
    if (!h.file) {
      if (errno != ENOENT) return std::nullopt;  // also a file we may not read
      h.at = std::move(*first);
      return h;
    }
    if (fstat(h.file.get(), &h.st) != 0 || !S_ISREG(h.st.st_mode)) return std::nullopt;
    if (!take(h.file.get(), how, deadline)) return std::nullopt;
    std::optional<Place> now = find_place(path);
    if (!now) return std::nullopt;
    if (names(now->folder.get(), now->name, h.file.get())) {
      h.at = std::move(*now);
      return h;
    }
  } while (Clock::now() < deadline);
  return std::nullopt;
}

// The bytes of the data file read last, kept for the next read: one buffer for
// every data file, as the program reads one file at a time.
std::string& file_bytes() {
  static std::string bytes;
  return bytes;
}

// Reads the open file from its start straight into `into`, whose room is kept
// from one read to the next: a table's image is read at every display of its menu.
bool read_file(int fd, off_t size, size_t limit, std::string& into) {
  into.resize(std::min(limit, static_cast<size_t>(size)));
  size_t got = 0;
  while (got < limit) {
    if (got == into.size()) into.resize(std::min(limit, into.size() + 4096));  // it grew
    ssize_t n = pread(fd, into.data() + got, into.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  into.resize(got);
  return true;
}

bool write_all(int fd, std::span<const std::byte> bytes, off_t at) {
  while (!bytes.empty()) {
    ssize_t n = pwrite(fd, bytes.data(), bytes.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // a full disk or a file-size limit
    bytes = bytes.subspan(static_cast<size_t>(n));
    at += n;
  }
  return true;
}

// Checked before the first byte goes over the old ones: an in-place write
// that stopped half way would leave records of both images.
bool room_for(int fd, size_t size) {
  rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size > limit.rlim_cur)
    return false;
  // The blocks are reserved, the size kept; a file system without this says so.
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return true;
  return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;
}

// Byte ranges of whole slots.
struct Range {
  size_t from, to;
};

// True when `image`'s slot at `at` differs from `old`'s (or `old` does not cover it whole).
bool slot_differs(std::string_view old, std::span<const std::byte> image, size_t at, size_t slot) {
  return at + slot > old.size() || memcmp(old.data() + at, image.data() + at, slot) != 0;
}

// The runs of changed slots, each as one range of bytes, in file order, with
// slot 1 (it holds the add counter) last and on its own.
std::vector<Range> changed_runs(std::string_view old, std::span<const std::byte> image,
                                size_t slot) {
  std::vector<Range> runs;
  for (size_t at = 0; at < image.size(); at += slot) {
    if (at == slot || !slot_differs(old, image, at, slot)) continue;
    if (!runs.empty() && runs.back().to == at) {
      runs.back().to += slot;
    } else {
      runs.push_back({at, at + slot});
    }
  }
  if (slot_differs(old, image, slot, slot)) runs.push_back({slot, 2 * slot});
  return runs;
}

bool write_runs(int fd, std::span<const std::byte> bytes, const std::vector<Range>& runs) {
  for (const Range& r : runs) {
    if (!write_all(fd, bytes.subspan(r.from, r.to - r.from), static_cast<off_t>(r.from)))
      return false;
    if (after_write_in_place_for_test) after_write_in_place_for_test();
  }
  return true;
}

// The same inode keeps its owner, group, mode and links. Only what differs from
// the file as read under the lock is written: the changed records first, each
// run of them in one write, then the slot holding the add counter, then the
// size, then all is flushed. A kill in between leaves every slot the file's
// counter covers whole and never counts a record not yet written. A write that
// fails half way puts back the old bytes.
bool write_in_place(int fd, const struct stat& old, std::span<const std::byte> image,
                    std::string_view old_bytes) {
  const size_t slot = image.size() / kSlots;
  if (!room_for(fd, image.size())) return false;
  std::vector<Range> runs = changed_runs(old_bytes, image, slot);
  bool longer = old.st_size > static_cast<off_t>(image.size());
  if (write_runs(fd, image, runs) &&
      (!longer || ftruncate(fd, static_cast<off_t>(image.size())) == 0) && fsync(fd) == 0)
    return true;
  if (old_bytes.size() == static_cast<size_t>(old.st_size)) {
    std::span<const std::byte> was = std::as_bytes(std::span(old_bytes.data(), old_bytes.size()));
    for (Range& r : runs) r.to = std::min(r.to, was.size());
    std::erase_if(runs, [](const Range& r) { return r.from >= r.to; });
    write_runs(fd, was, runs);
    ftruncate(fd, old.st_size);
    fsync(fd);
  }
  return false;
}

// An access list is a right a rename would not carry over (it copies the mode
// alone), and a folder's default list gives a new file rights of its own.
// Only where the file system says there is none is a rename safe.
bool none(ssize_t got) { return got < 0 && (errno == ENODATA || errno == ENOTSUP); }

bool without_acls(int file, int folder) {
  return none(fgetxattr(file, "system.posix_acl_access", nullptr, 0)) &&
         none(fgetxattr(folder, "system.posix_acl_default", nullptr, 0));
}

// A folder that anyone may write but only a name's owner may rename in, like /tmp.
bool shared_sticky(int folder) {
  struct stat st;
  return fstat(folder, &st) != 0 || ((st.st_mode & S_ISVTX) && (st.st_mode & S_IWOTH));
}

// The folder open for reading, to be flushed after a rename: none where the
// user may not read it, and a folder we cannot flush is no place for a rename.
Fd open_folder_to_flush(const Place& at) {
  return Fd(openat(at.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// A rename only where the new file keeps what the old one had, and can be made:
// one name (in a shared sticky folder a second name is no reason to stay, see
// save), the same file system, a folder we may write, our file (or root).
bool renamable(const Held& h, int folder, bool split_allowed) {
  struct stat st;
  if (folder < 0 || fstat(folder, &st) != 0) return false;
  return (h.st.st_nlink == 1 || split_allowed) && st.st_dev == h.st.st_dev &&
         faccessat(folder, ".", W_OK, 0) == 0 && (geteuid() == 0 || h.st.st_uid == geteuid()) &&
         without_acls(h.file.get(), folder);
}

// Root gives the file back to its owner and group; anyone may set a group of
// their own. Refused, the file is written in place instead, where it may be.
bool restore_owner(int fd, const struct stat& old) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (st.st_uid == old.st_uid && st.st_gid == old.st_gid) return true;
  return fchown(fd, old.st_uid, old.st_gid) == 0;
}

// Temporaries that killed saves left behind: ours, of this file, one link, and
// no longer locked by their maker (every maker locks its temporary from the
// moment it is made until it is renamed or removed). Anything else of a like
// name is someone else's, or still in use.
void clear_leftovers(const Place& at, int folder) {
  if (folder < 0) return;
  Fd fd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = fd ? fdopendir(fd.get()) : nullptr;
  if (!dir) return;
  fd.release();  // the stream owns it now
  while (dirent* e = readdir(dir)) {
    if (!is_temp_name(e->d_name, at.name)) continue;
    Fd temp(openat(dirfd(dir), e->d_name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (temp && fstat(temp.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        st.st_nlink == 1 && flock(temp.get(), LOCK_EX | LOCK_NB) == 0 &&
        names(dirfd(dir), e->d_name, temp.get()))
      unlinkat(dirfd(dir), e->d_name, 0);
  }
  closedir(dir);
}

// A new temporary, locked before anyone else may take it for a leftover: a
// clearer that got in between the making and the lock has removed it, so the
// name is checked again under the lock.
Fd make_temp(const Place& at, std::string& temp) {
  std::random_device random;
  for (int tries = 0; tries < 100; ++tries) {
    temp = temp_prefix(at.name);
    for (size_t i = 0; i < kSuffix; ++i) temp += kAlphabet[random() % (sizeof kAlphabet - 1)];
    Fd fd(openat(at.folder.get(), temp.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd && errno != EEXIST) return fd;
    if (fd && flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && names(at.folder.get(), temp, fd.get()))
      return fd;
  }
  return Fd();
}

mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

enum class Put { kDone, kFailed, kRefused, kTaken };

// Gives the finished temporary the file's name: over the old file, or, where
// there was none, only while there is still none (kTaken: one appeared). A file
// system that cannot rename so (EINVAL) gets a second name made, which never
// replaces anything, and the temporary's name removed.
Put put_in_place(const Place& at, const std::string& temp, bool over) {
  const int dir = at.folder.get();
  const char* name = at.name.c_str();
  int renamed = over ? renameat(dir, temp.c_str(), dir, name)
                     : renameat2(dir, temp.c_str(), dir, name, RENAME_NOREPLACE);
  if (renamed != 0 && !over && errno == EINVAL && linkat(dir, temp.c_str(), dir, name, 0) == 0) {
    unlinkat(dir, temp.c_str(), 0);
    return Put::kDone;
  }
  if (renamed == 0) return Put::kDone;
  int error = errno;
  unlinkat(dir, temp.c_str(), 0);
  if (error == EEXIST) return Put::kTaken;
  return error == EBUSY || error == EXDEV ? Put::kRefused : Put::kFailed;
}

// The new image in a locked temporary beside the old file, flushed, renamed over
// it (or put where there is none), and the folder flushed. The temporary stays
// 0600 until it has the old file's owner and group, so nobody outside them reads
// it in between; no set-id or sticky bit passes to the new file. kRefused: the
// bytes could not get the old owner, or the rename cannot be made, and the file
// was not touched: an in-place write may do instead.
Put replace(const Place& at, int folder, const struct stat* old, std::span<const std::byte> image) {
  std::string temp;
  Fd fd = make_temp(at, temp);
  if (!fd) return Put::kFailed;
  bool filled = write_all(fd.get(), image, 0);
  bool owned = filled && (!old || restore_owner(fd.get(), *old));
  bool flushed = owned && fchmod(fd.get(), old ? old->st_mode & 0777 : new_file_mode()) == 0 &&
                 fsync(fd.get()) == 0;
  if (!flushed) {
    unlinkat(at.folder.get(), temp.c_str(), 0);
    return filled && !owned ? Put::kRefused : Put::kFailed;
  }
  if (before_rename_for_test) before_rename_for_test();
  Put put = put_in_place(at, temp, old != nullptr);
  if (put == Put::kDone && folder >= 0) fsync(folder);
  return put;  // the lock on the new file goes with `fd`, once it is in place
}

}  // namespace

// Each pass holds the file (or finds none) and decides; a pass that meets a
// file made meanwhile by another session's first save starts over with it.
bool DataFile::save(const DecideSave& decide) const {
  const Clock::time_point deadline = Clock::now() + kLockWait;
  do {
    std::optional<Held> h = hold(name_, LOCK_EX, deadline);
    if (!h) return false;
    Fd folder = open_folder_to_flush(h->at);
    std::optional<std::string_view> now;
    if (h->file) {
      // A file that cannot be read cannot be merged with: it is never replaced.
      if (!read_file(h->file.get(), h->st.st_size, read_limit(), file_bytes())) return false;
      now = file_bytes();
      clear_leftovers(h->at, folder.get());
    }
    SavePlan plan = decide(now);
    if (plan.action != SavePlan::kWrite) return plan.action == SavePlan::kKeep;
    if (!h->file) {
      Put put = replace(h->at, folder.get(), nullptr, plan.image);
      if (put == Put::kTaken) continue;
      return put == Put::kDone;
    }
    // In a sticky folder anyone may write, a second name may have been planted
    // there for a file elsewhere, whoever's it is: such a file is never written
    // through. A rename leaves the other name its bytes; where none may be made,
    // the save fails.
    bool planted = h->st.st_nlink > 1 && shared_sticky(h->at.folder.get());
    Put put = renamable(*h, folder.get(), planted)
                  ? replace(h->at, folder.get(), &h->st, plan.image)
                  : Put::kRefused;
    if (put != Put::kRefused || planted) return put == Put::kDone;
    return write_in_place(h->file.get(), h->st, plan.image, *now);
  } while (Clock::now() < deadline);
  return false;
}

std::optional<std::string_view> DataFile::read() const {
  std::optional<Held> h = hold(name_, LOCK_SH, Clock::now() + kLockWait);
  if (!h || !h->file || !read_file(h->file.get(), h->st.st_size, read_limit(), file_bytes()))
    return std::nullopt;
  return file_bytes();
}

}  // namespace orvel
