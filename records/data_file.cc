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
// - A load that finds the file still as this stream last loaded or saved it
//   (see DataFile::remember) takes no lock: it reads nothing, and any write to
//   the file since would have changed what it looked at.
// - The kernel drops a dead process's locks, so a kill never leaves a file locked.
//   Anyone who may open the file may hold its lock; waits are bounded.
#include "records/data_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
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

// True while `name` in `folder` is the file whose status is `held`.
bool still_named(int folder, const char* name, const struct stat& held) {
  struct stat now;
  return fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && same_inode(held, now);
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
  timespec before{};  // the time just before `st` was taken
};

// A name with no folder in it is looked up in the working folder itself; any
// other, or one that turns out to be a link, is walked by the link rules.
std::optional<Place> place_of(const std::string& path, bool walk) {
  if (!walk && path.find('/') == std::string::npos) return Place{Fd(AT_FDCWD), path};
  return find_place(path);
}

// Follows the name, opens what it leads to (for a save, for writing too: see
// above) and locks it; then looks at the name again (by the same link rules)
// and starts over when it leads elsewhere now. Nullopt: no place, a file that
// is not a regular file, one that may not be opened so, or no lock in time.
std::optional<Held> hold(const std::string& path, int how, Clock::time_point deadline) {
  bool walk = false;
  do {
    std::optional<Place> first = place_of(path, walk);
    if (!first) return std::nullopt;
    Held h;
    h.file = open_file(*first, how == LOCK_EX ? O_RDWR : O_RDONLY);
    if (!h.file && errno == ELOOP && !walk) {
      walk = true;  // the name is a link
      continue;
    }
    if (!h.file) {
      if (errno != ENOENT) return std::nullopt;  // also a file we may not read
      h.at = std::move(*first);
      return h;
    }
    if (!take(h.file.get(), how, deadline)) return std::nullopt;
    clock_gettime(CLOCK_REALTIME, &h.before);
    if (fstat(h.file.get(), &h.st) != 0 || !S_ISREG(h.st.st_mode)) return std::nullopt;
    std::optional<Place> now = walk ? find_place(path) : std::move(first);
    if (!now) return std::nullopt;
    if (still_named(now->folder.get(), now->name.c_str(), h.st)) {
      h.at = std::move(*now);
      return h;
    }
  } while (Clock::now() < deadline);
  return std::nullopt;
}

// The bytes of the data file a save read last: one buffer for every data
// file, as the program reads one file at a time, given its room once.
std::string& file_bytes(size_t limit) {
  static std::string bytes;
  if (bytes.capacity() < limit) bytes.reserve(limit);
  return bytes;
}

// Reads the open file from its start straight into `into` and the byte after
// into `past`, so a longer file shows as one; stops at the end, or once the
// size the file had under the lock is read. The bytes read.
std::optional<size_t> read_file(int fd, off_t size, std::span<std::byte> into, std::byte& past) {
  const size_t limit = into.size() + 1;
  size_t got = 0;
  for (;;) {
    iovec parts[2];
    int count = 0;
    if (got < into.size()) parts[count++] = {into.data() + got, into.size() - got};
    parts[count++] = {&past, 1};
    ssize_t n = preadv(fd, parts, count, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    got += static_cast<size_t>(n);
    if (n == 0 || got >= limit || got >= static_cast<size_t>(size)) return got;
  }
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

// Writes the runs in their order. The records are flushed before the counter's
// slot is written after them, so that after a power cut too the counter never
// reaches the disk ahead of the records it counts.
bool write_runs(int fd, std::span<const std::byte> bytes, const std::vector<Range>& runs,
                size_t counter_at) {
  for (const Range& r : runs) {
    if (r.from == counter_at && &r != &runs.front() && fdatasync(fd) != 0) return false;
    if (!write_all(fd, bytes.subspan(r.from, r.to - r.from), static_cast<off_t>(r.from)))
      return false;
    if (after_write_in_place_for_test) after_write_in_place_for_test();
  }
  return true;
}

// The same inode keeps its owner, group, mode and links. Only what differs from
// the file as read under the lock is written: the changed records first, each
// run of them in one write, flushed, then the slot holding the add counter, then
// the size, then all is flushed. A kill in between leaves every slot the file's
// counter covers whole and never counts a record not yet written. A write that
// fails half way puts back the old bytes, the counter's slot first, so that a
// kill meanwhile leaves no counted slot unwritten either.
bool write_in_place(int fd, const struct stat& old, std::span<const std::byte> image,
                    std::string_view old_bytes) {
  const size_t slot = image.size() / kSlots;
  if (!room_for(fd, image.size())) return false;
  std::vector<Range> runs = changed_runs(old_bytes, image, slot);
  bool longer = old.st_size > static_cast<off_t>(image.size());
  if (write_runs(fd, image, runs, slot) &&
      (!longer || ftruncate(fd, static_cast<off_t>(image.size())) == 0) && fsync(fd) == 0)
    return true;
  if (old_bytes.size() == static_cast<size_t>(old.st_size)) {
    std::span<const std::byte> was = std::as_bytes(std::span(old_bytes.data(), old_bytes.size()));
    for (Range& r : runs) r.to = std::min(r.to, was.size());
    std::erase_if(runs, [](const Range& r) { return r.from >= r.to; });
    if (!runs.empty() && runs.back().from == slot)
      std::rotate(runs.rbegin(), runs.rbegin() + 1, runs.rend());
    write_runs(fd, was, runs, slot);
    if (ftruncate(fd, old.st_size) != 0) {
      // Nothing more to put back: the save has failed already.
    }
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
bool shared_sticky(const struct stat& folder) {
  return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
}

// A rename only where the new file keeps what the old one had, and can be made:
// one name (in a shared sticky folder a second name is no reason to stay, see
// save), the same file system, a folder we may write and flush (open for
// reading), our file (or root).
bool renamable(const Held& h, int folder, const struct stat& folder_st, bool split_allowed) {
  return folder >= 0 && (h.st.st_nlink == 1 || split_allowed) && folder_st.st_dev == h.st.st_dev &&
         faccessat(folder, ".", W_OK, 0) == 0 && (geteuid() == 0 || h.st.st_uid == geteuid()) &&
         without_acls(h.file.get(), folder);
}

// Root gives the file back to its owner and group; anyone may set a group of
// their own. Refused, the file is written in place instead, where it may be.
bool restore_owner(int fd, const struct stat& temp, const struct stat& old) {
  if (temp.st_uid == old.st_uid && temp.st_gid == old.st_gid) return true;
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
        still_named(dirfd(dir), e->d_name, st))
      unlinkat(dirfd(dir), e->d_name, 0);
  }
  closedir(dir);
}

// Six letters or digits from the kernel's random bytes: nothing to build or
// seed per save, and no guess of another session's next name.
void random_suffix(std::string& into) {
  unsigned char bytes[kSuffix];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    timespec t{};  // no such call: a name from the clock, EEXIST makes another
    clock_gettime(CLOCK_MONOTONIC, &t);
    for (size_t i = 0; i < kSuffix; ++i)
      bytes[i] = static_cast<unsigned char>(t.tv_nsec >> (4 * i));
  }
  for (unsigned char b : bytes) into += kAlphabet[b % (sizeof kAlphabet - 1)];
}

// A new temporary, locked before anyone else may take it for a leftover: a
// clearer that got in between the making and the lock has removed it, so the
// name is checked again under the lock. `st`: the temporary as made.
Fd make_temp(const Place& at, std::string& temp, struct stat& st) {
  for (int tries = 0; tries < 100; ++tries) {
    temp = temp_prefix(at.name);
    random_suffix(temp);
    Fd fd(openat(at.folder.get(), temp.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd && errno != EEXIST) return fd;
    if (fd && flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && fstat(fd.get(), &st) == 0 &&
        still_named(at.folder.get(), temp.c_str(), st))
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
// was not touched: an in-place write may do instead. `made`: the new file, as
// it is once in place.
Put replace(const Place& at, int folder, const struct stat* old, std::span<const std::byte> image,
            struct stat& made, timespec& before) {
  std::string temp;
  Fd fd = make_temp(at, temp, made);
  if (!fd) return Put::kFailed;
  bool filled = write_all(fd.get(), image, 0);
  bool owned = filled && (!old || restore_owner(fd.get(), made, *old));
  bool flushed = owned && fchmod(fd.get(), old ? old->st_mode & 0777 : new_file_mode()) == 0 &&
                 fsync(fd.get()) == 0;
  if (!flushed) {
    unlinkat(at.folder.get(), temp.c_str(), 0);
    return filled && !owned ? Put::kRefused : Put::kFailed;
  }
  if (before_rename_for_test) before_rename_for_test();
  Put put = put_in_place(at, temp, old != nullptr);
  if (put != Put::kDone) return put;
  // Still under its lock: nobody has changed it since.
  clock_gettime(CLOCK_REALTIME, &before);
  if (fstat(fd.get(), &made) != 0) made = {};
  if (folder >= 0) fsync(folder);
  return put;  // the lock on the new file goes with `fd`, once it is in place
}

int64_t ns(const timespec& t) { return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }
bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The bytes of the file a save has not read yet, into the shared buffer.
std::optional<std::string_view> read_for_save(int fd, const struct stat& st, size_t image) {
  std::string& bytes = file_bytes(image + 1);
  bytes.resize(image);
  std::byte past{};
  std::optional<size_t> got =
      read_file(fd, st.st_size, std::as_writable_bytes(std::span(bytes.data(), image)), past);
  if (!got) return std::nullopt;
  bytes.resize(std::min(*got, image));
  if (*got > image) bytes += static_cast<char>(past);
  return bytes;
}

}  // namespace

// The step between two times the file system can give a file: its coarse
// clock's tick at least (the kernel stamps a change with it), or the step the
// time itself shows (none below whole seconds: two, as some file systems keep).
int64_t timestamp_step_ns(const timespec& t) {
  static const int64_t tick = [] {
    timespec res{};
    clock_getres(CLOCK_REALTIME_COARSE, &res);
    return std::max<int64_t>(res.tv_sec * 1'000'000'000 + res.tv_nsec, 1'000'000);
  }();
  if (t.tv_nsec == 0) return 2'000'000'000;
  int64_t step = 1;
  for (long n = t.tv_nsec; n % 10 == 0; n /= 10) step *= 10;
  return std::max(tick, step);
}

// Two steps, since a stamp may lag the clock by one; a change time after
// `taken` (a clock set back, another machine's) is never safely past.
bool racily_clean(const timespec& taken, const timespec& changed) {
  return ns(taken) < ns(changed) + 2 * timestamp_step_ns(changed);
}

// The file is known again by its device, inode, size and times. A change made
// within one timestamp step of the last one may leave them all as they were,
// so an identity taken that soon after the file's last change is not trusted:
// the file is read, the way version-control indexes treat "racily clean" files.
void DataFile::remember(const struct stat& st, const timespec& before) {
  last_ = {true,
           st.st_dev,
           st.st_ino,
           st.st_size,
           st.st_mtim,
           st.st_ctim,
           racily_clean(before, st.st_ctim)};
}

bool DataFile::unchanged(const struct stat& st) const {
  return last_.known && !last_.racy && S_ISREG(st.st_mode) && st.st_dev == last_.dev &&
         st.st_ino == last_.ino && st.st_size == last_.size && same_time(st.st_mtim, last_.mtime) &&
         same_time(st.st_ctim, last_.ctime);
}

// One look at the file, with no lock: a file that is as it was needs none,
// since any write to it changes its identity (a writer's first byte stamps it).
// It is opened, not only looked up by name: a network file system answers a
// look-up from the attributes it keeps, and asks the server again at an open.
bool DataFile::seen_unchanged() const {
  if (!last_.known || last_.racy) return false;
  std::optional<Place> at = place_of(name_, false);
  if (!at) return false;
  Fd fd = open_file(*at, O_RDONLY);
  if (!fd && errno == ELOOP) {  // the name is a link: walked by the link rules
    at = place_of(name_, true);
    if (at) fd = open_file(*at, O_RDONLY);
  }
  struct stat st;
  return fd && fstat(fd.get(), &st) == 0 && unchanged(st);
}

// The folder opened for reading is kept while the name leads to that folder.
int DataFile::flush_folder(const Place& at, const struct stat& folder) {
  if (!folder_ || folder_dev_ != folder.st_dev || folder_ino_ != folder.st_ino) {
    folder_ = Fd(openat(at.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    folder_dev_ = folder.st_dev;
    folder_ino_ = folder.st_ino;
    look_for_leftovers_ = true;
  }
  return folder_.get();
}

// Each pass holds the file (or finds none) and decides; a pass that meets a
// file made meanwhile by another session's first save starts over with it.
bool DataFile::save(const DecideSave& decide) {
  const Clock::time_point deadline = Clock::now() + kLockWait;
  do {
    std::optional<Held> h = hold(name_, LOCK_EX, deadline);
    struct stat folder_st;
    if (!h || fstatat(h->at.folder.get(), "", &folder_st, AT_EMPTY_PATH) != 0) break;
    const int folder = flush_folder(h->at, folder_st);
    // Leftovers of killed saves are looked for only where one may have come:
    // the folder changed since this stream last looked, or its save failed.
    if (h->file && folder >= 0 &&
        (look_for_leftovers_ || !same_time(folder_st.st_mtim, folder_seen_))) {
      clear_leftovers(h->at, folder);
      look_for_leftovers_ = false;
      folder_seen_ = folder_st.st_mtim;
    }
    Found now{Found::kMissing, {}};
    std::optional<std::string_view> bytes;
    if (h->file && unchanged(h->st)) {
      now.state = Found::kUnchanged;
    } else if (h->file) {
      // A file that cannot be read cannot be merged with: it is never replaced.
      bytes = read_for_save(h->file.get(), h->st, image_size_);
      if (!bytes) break;
      now = {Found::kRead, *bytes};
    }
    SavePlan plan = decide(now);
    if (plan.action == SavePlan::kKeep && h->file) remember(h->st, h->before);
    if (plan.action != SavePlan::kWrite) {
      if (plan.action == SavePlan::kFail) look_for_leftovers_ = true;
      return plan.action == SavePlan::kKeep;
    }
    struct stat made {};
    timespec before{};
    Put put;
    if (!h->file) {
      put = replace(h->at, folder, nullptr, plan.image, made, before);
      if (put == Put::kTaken) continue;
    } else {
      // In a sticky folder anyone may write, a second name may have been
      // planted there for a file elsewhere, whoever's it is: such a file is
      // never written through. A rename leaves the other name its bytes; where
      // none may be made, the save fails.
      bool planted = h->st.st_nlink > 1 && shared_sticky(folder_st);
      put = renamable(*h, folder, folder_st, planted)
                ? replace(h->at, folder, &h->st, plan.image, made, before)
                : Put::kRefused;
      if (put == Put::kRefused && !planted) {
        // In place: only what differs from the file, so it is read if it was not.
        if (!bytes) bytes = read_for_save(h->file.get(), h->st, image_size_);
        bool written = bytes && write_in_place(h->file.get(), h->st, plan.image, *bytes);
        clock_gettime(CLOCK_REALTIME, &before);
        put = written && fstat(h->file.get(), &made) == 0 ? Put::kDone : Put::kFailed;
      }
    }
    if (put != Put::kDone) break;
    if (made.st_ino != 0) remember(made, before);
    if (folder >= 0 && fstatat(folder, "", &folder_st, AT_EMPTY_PATH) == 0)
      folder_seen_ = folder_st.st_mtim;  // this save's own change is no leftover
    return true;
  } while (Clock::now() < deadline);
  look_for_leftovers_ = true;
  return false;
}

FileRead read_data_file(const std::string& path, size_t image_size) {
  FileRead got;
  errno = 0;
  std::optional<Held> h = hold(path, LOCK_SH, Clock::now() + kLockWait);
  if (!h) {
    got.state = FileRead::kFailed;
    got.error = errno == EWOULDBLOCK || errno == 0 ? ETIMEDOUT : errno;
    return got;
  }
  if (!h->file) return got;
  got.image.resize(image_size);
  std::byte past{};
  std::optional<size_t> size = read_file(h->file.get(), h->st.st_size,
                                         std::as_writable_bytes(std::span(got.image)), past);
  if (!size) {
    got.state = FileRead::kFailed;
    got.error = errno;
    return got;
  }
  got.state = FileRead::kRead;
  got.size = h->st.st_size;
  got.image.resize(std::min(*size, image_size));
  if (got.size > static_cast<off_t>(image_size)) got.tail = FileRead::kOtherBytes;
  return got;
}

Loaded DataFile::load(std::span<std::byte> table) {
  Loaded got;
  if (seen_unchanged()) {
    got.state = Loaded::kUnchanged;
    return got;
  }
  std::optional<Held> h = hold(name_, LOCK_SH, Clock::now() + kLockWait);
  if (h && h->file && unchanged(h->st)) {
    got.state = Loaded::kUnchanged;
    return got;
  }
  std::optional<size_t> size;
  if (h && h->file) size = read_file(h->file.get(), h->st.st_size, table, got.past);
  if (!size) {
    last_.known = false;
    return got;
  }
  got.state = Loaded::kRead;
  got.size = *size;
  remember(h->st, h->before);
  return got;
}

}  // namespace orvel
