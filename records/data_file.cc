// Saves that never destroy the old file, one at a time under one lock: a new file
// beside the old one renamed over it or, where a rename would change the file's
// owner, group or links, the changed records written over the old ones in place,
// their old bytes kept at the file's end until the last write is on the disk.
//
// The lock is a flock on the data file's own inode, the one thing every sharer
// reaches whatever the folder lets them do and whichever name they use:
// - A save opens the file for reading and writing and takes it exclusively; a
//   load opens it for reading and takes it shared. Where flock is made of
//   byte-range locks (NFS), an exclusive lock needs a descriptor open for writing.
// - Nothing is opened before it is known to be a regular file (open_regular).
// - A lock that is not free at once is waited for in the kernel (records/lock.cc),
//   so that sharers are served about in turn, for five seconds at most.
// - Once granted, the name is followed again: a save that held the lock before
//   may have renamed a new image over it, and then the lock is on a file nobody
//   reaches by the name any more. It is dropped and all is done again.
// - Whoever holds the lock first puts back what a save that did not finish
//   left (records/undo.h): a save in the file, a load in what it read.
// - A new image is locked before it gets the name (it is made under another one,
//   or none, and locked at once), so no one can use it before its maker is done.
// - With no file yet there is nothing to lock: the name itself decides. The new
//   file is linked in only where there is still none, and a save that finds one
//   there meanwhile starts over, takes its lock and merges.
// - Every temporary is locked by its maker from the moment it is made until it
//   is in place or removed: a temporary whose lock anyone can take is a dead
//   save's leftover, and only such are cleared.
// - A save that wrote keeps its lock until the table is loaded again or the
//   program waits for a person (release_kept_lock): the load right after it then
//   knows the file is what the save wrote, and reads nothing.
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

#include "records/lock.h"
#include "records/place.h"
#include "records/records.h"
#include "records/save_seam.h"
#include "records/undo.h"

namespace orvel {

namespace {

constexpr SaveCalls kSystem = {
    [](int fd, const void* bytes, size_t size, off_t at) { return ::pwrite(fd, bytes, size, at); },
    [](int fd, off_t size) { return ::ftruncate(fd, size); },
    [](int fd) { return ::fsync(fd); },
    [](int fd) { return ::fdatasync(fd); },
    [](int fd) { return ::syncfs(fd); },
    [](int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
      return ::renameat2(from_dir, from, to_dir, to, flags);
    },
    [](int from_dir, const char* from, int to_dir, const char* to, int flags) {
      return ::linkat(from_dir, from, to_dir, to, flags);
    },
    [](int dir, const char* name, int flags) { return ::unlinkat(dir, name, flags); },
};

}  // namespace

const SaveCalls kSystemCalls = kSystem;
SaveCalls save_calls = kSystem;
std::chrono::milliseconds lock_wait{5000};

bool write_all(int fd, std::span<const std::byte> bytes, off_t at) {
  while (!bytes.empty()) {
    ssize_t n = save_calls.pwrite(fd, bytes.data(), bytes.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // a full disk or a file-size limit
    bytes = bytes.subspan(static_cast<size_t>(n));
    at += n;
  }
  return true;
}

namespace {

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

// True while `name` in `folder` is the file whose status is `held`.
bool still_named(int folder, const char* name, const struct stat& held) {
  struct stat now;
  return fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && same_inode(held, now);
}

// The saver that keeps its file's lock, if any: one at a time, as the program
// saves one file at a time.
DataFile* keeper = nullptr;

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
// is not a regular file, one that may not be opened so, or no lock in time
// (errno EWOULDBLOCK).
std::optional<Held> hold(const std::string& path, int how, std::chrono::milliseconds wait) {
  // Each holder may keep a save waiting for `wait`, so that a rename's waiters,
  // who follow the name to the new file, are not cut off for it; a load waits
  // for one, and nothing waits for more than four in all, whoever keeps
  // handing a new file on.
  const Clock::time_point start = Clock::now(), give_up = start + 4 * wait;
  Clock::time_point deadline = start + wait;
  bool walk = false;
  do {
    std::optional<Place> first = place_of(path, walk);
    if (!first) return std::nullopt;
    Held h;
    h.file = open_regular(first->folder.get(), first->name.c_str(),
                          how == LOCK_EX ? O_RDWR : O_RDONLY, h.st);
    if (!h.file && errno == ELOOP && !walk) {
      walk = true;  // the name is a link
      continue;
    }
    if (!h.file) {
      if (errno != ENOENT) return std::nullopt;  // also a file we may not read
      h.at = std::move(*first);
      return h;
    }
    if (!lock_by(h.file.get(), how, deadline)) return std::nullopt;
    clock_gettime(CLOCK_REALTIME, &h.before);
    if (fstat(h.file.get(), &h.st) != 0) return std::nullopt;
    std::optional<Place> now = walk ? find_place(path) : std::move(first);
    if (!now) return std::nullopt;
    if (still_named(now->folder.get(), now->name.c_str(), h.st)) {
      h.at = std::move(*now);
      return h;
    }
    // Another session's save took the name on to a new file while we waited.
    if (how == LOCK_EX) deadline = std::min(Clock::now() + wait, give_up);
  } while (Clock::now() < deadline);
  errno = EWOULDBLOCK;
  return std::nullopt;
}

// Reads the open file's first `size` bytes at most straight into `into`, and
// the byte after it into `past`, so a longer file shows as one; stops at the
// end. Nothing past `size` is read: a save that did not finish may have
// written there. The bytes read.
std::optional<size_t> read_file(int fd, off_t size, std::span<std::byte> into, std::byte& past) {
  const size_t limit = std::min(into.size() + 1, static_cast<size_t>(std::max<off_t>(size, 0)));
  size_t got = 0;
  while (got < limit) {
    iovec parts[2];
    int count = 0;
    if (got < into.size()) parts[count++] = {into.data() + got, std::min(into.size(), limit) - got};
    if (limit > into.size()) parts[count++] = {&past, 1};
    ssize_t n = preadv(fd, parts, count, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

// The undo record a read found, in a buffer of its own: one for every data
// file, as the program reads one file at a time.
std::string& undo_buffer() {
  static std::string bytes;
  return bytes;
}

// The file as the last finished save left it: the bytes read (at most into's
// size and one more, into `past`), with the old bytes of a save that did not
// finish laid back over them; its undo record, if one was found.
struct AsFound {
  size_t size = 0;
  std::optional<Undo> undo;
};

std::optional<AsFound> read_as_found(int fd, const struct stat& st, std::span<std::byte> into,
                                     std::byte& past) {
  AsFound found;
  off_t size = st.st_size;
  if (size > static_cast<off_t>(into.size())) {
    // Before the read: a save that did not finish may have written past the
    // file's old end, which the table must not take.
    found.undo = find_undo(fd, size, into.size(), undo_buffer());
    if (found.undo) size = found.undo->old_size;
  }
  std::optional<size_t> got = read_file(fd, size, into, past);
  if (!got) return std::nullopt;
  found.size = *got;
  if (found.undo) undo_over(*found.undo, into.first(std::min(*got, into.size())));
  return found;
}

std::span<const std::byte> bytes_of(std::string_view s) {
  return std::as_bytes(std::span(s.data(), s.size()));
}

// Checked before the first byte goes over the old ones: the file's blocks up to
// `size` are reserved, its size kept; a file system without this says so.
bool room_for(int fd, off_t size) {
  rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(size) > limit.rlim_cur)
    return false;
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == 0) return true;
  return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;
}

// True when `image`'s slot at `at` differs from `old`'s (or `old` does not cover it whole).
bool slot_differs(std::string_view old, std::span<const std::byte> image, size_t at, size_t slot) {
  return at + slot > old.size() || memcmp(old.data() + at, image.data() + at, slot) != 0;
}

// The runs of changed slots, each as one range of bytes, in file order, with
// slot 1 (it holds the add counter) last and on its own: a reader that takes
// no lock and knows no undo record never sees the counter ahead of its records.
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

// The same inode keeps its owner, group, mode and links. Only what differs from
// the file as read under the lock is written, each run of changed records in one
// write; before the first, their old bytes go past the file's end and are
// flushed; after the last, the records are flushed and the file is cut to the
// image, which drops the old bytes: from then on the new records hold. A kill or
// a power cut before the cut leaves the old bytes for whoever locks the file
// next; a write that fails before it puts them back at once. After the cut there
// is nothing to put back with: a flush that fails then leaves the new records,
// not known to be on the disk (kUnflushed).
enum class Put { kDone, kFailed, kRefused, kTaken, kUnflushed };

Put write_in_place(int fd, const struct stat& old, std::span<const std::byte> image,
                   std::string_view old_bytes) {
  const size_t slot = image.size() / kSlots;
  const std::vector<Range> runs = changed_runs(old_bytes, image, slot);
  const off_t start = std::max<off_t>(old.st_size, static_cast<off_t>(image.size()));
  const Undo undo = undo_of(old_bytes, runs, old.st_size, start);
  const std::string record = make_undo(undo, image.size());
  if (!room_for(fd, start + static_cast<off_t>(record.size()))) return Put::kFailed;
  if (!write_all(fd, bytes_of(record), start) || save_calls.fdatasync(fd) != 0) {
    save_calls.ftruncate(fd, old.st_size);  // no record of the table was touched yet
    return Put::kFailed;
  }
  bool written = true;
  for (const Range& r : runs)
    written =
        written && write_all(fd, image.subspan(r.from, r.to - r.from), static_cast<off_t>(r.from));
  if (!written || save_calls.fdatasync(fd) != 0 ||
      save_calls.ftruncate(fd, static_cast<off_t>(image.size())) != 0) {
    put_back(fd, undo);  // where it fails too, the record stays to be put back
    return Put::kFailed;
  }
  return save_calls.fsync(fd) == 0 ? Put::kDone : Put::kUnflushed;
}

// An access list is a right a rename would not carry over (it copies the mode
// alone), and a folder's default list gives a new file rights of its own.
// Only where the file system says there is none is a rename safe.
bool none(ssize_t got) { return got < 0 && (errno == ENODATA || errno == ENOTSUP); }

bool without_acls(int file, int folder) {
  return none(fgetxattr(file, "system.posix_acl_access", nullptr, 0)) &&
         none(fgetxattr(folder, "system.posix_acl_default", nullptr, 0));
}

// In a folder that others may write, any of them may have put a second name of
// a file of ours there, to have our save write what they could not: only a file
// they could write anyway is written through. Everyone writes the folder: the
// file must be everyone's to write; its group does: that group's, or everyone's.
bool planted(const struct stat& file, const struct stat& folder) {
  if (file.st_nlink < 2 || !others_may_write(folder)) return false;
  if (file.st_mode & S_IWOTH) return false;
  return (folder.st_mode & S_IWOTH) || file.st_gid != folder.st_gid || !(file.st_mode & S_IWGRP);
}

// A rename only where the new file keeps what the old one had, and can be made:
// one name (a planted second name is no reason to stay, see save), the same file
// system, a folder we may write and flush (open for reading), our file (or
// root's save).
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
// name is someone else's, or still in use, and nothing but a regular file is
// opened.
void clear_leftovers(const Place& at, int folder) {
  if (folder < 0) return;
  Fd fd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = fd ? fdopendir(fd.get()) : nullptr;
  if (!dir) return;
  fd.release();  // the stream owns it now
  while (dirent* e = readdir(dir)) {
    if (!is_temp_name(e->d_name, at.name)) continue;
    struct stat st;
    Fd temp = open_regular(dirfd(dir), e->d_name, O_WRONLY, st);
    if (temp && st.st_uid == geteuid() && st.st_nlink == 1 &&
        flock(temp.get(), LOCK_EX | LOCK_NB) == 0 && still_named(dirfd(dir), e->d_name, st))
      save_calls.unlinkat(dirfd(dir), e->d_name, 0);
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

// A new file for the image, locked before anyone else may take it. Named, a
// clearer that got in between the making and the lock has removed it, so the
// name is checked again under the lock. `temp` empty: a file with no name.
struct NewFile {
  Fd fd;
  std::string temp;
  struct stat st {};
};

NewFile make_temp(const Place& at) {
  NewFile made;
  for (int tries = 0; tries < 100; ++tries) {
    made.temp = temp_prefix(at.name);
    random_suffix(made.temp);
    made.fd = Fd(openat(at.folder.get(), made.temp.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!made.fd && errno != EEXIST) return made;
    if (made.fd && flock(made.fd.get(), LOCK_EX | LOCK_NB) == 0 &&
        fstat(made.fd.get(), &made.st) == 0 &&
        still_named(at.folder.get(), made.temp.c_str(), made.st))
      return made;
  }
  made.fd.reset();
  return made;
}

// Where the folder cannot be read, a killed save's temporary could never be
// listed, nor cleared: a first save there makes its file with no name at all
// (it goes with the save that made it), where the file system can.
NewFile make_nameless(const Place& at) {
  NewFile made;
  made.fd = Fd(openat(at.folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (!made.fd || flock(made.fd.get(), LOCK_EX | LOCK_NB) != 0 ||
      fstat(made.fd.get(), &made.st) != 0)
    return make_temp(at);
  return made;
}

mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// A nameless file gets the name where there is still none. Through /proc its
// maker may name it; the bare descriptor, only a privileged process.
int link_nameless(int fd, const Place& at) {
  char held[32];
  snprintf(held, sizeof held, "/proc/self/fd/%d", fd);
  int linked =
      save_calls.linkat(AT_FDCWD, held, at.folder.get(), at.name.c_str(), AT_SYMLINK_FOLLOW);
  if (linked != 0 && errno == ENOENT)
    linked = save_calls.linkat(fd, "", at.folder.get(), at.name.c_str(), AT_EMPTY_PATH);
  return linked;
}

// Gives the finished new file the file's name: over the old file, or, where
// there was none, only while there is still none (kTaken: one appeared). A file
// system that cannot rename so (EINVAL) gets a second name made, which never
// replaces anything, and the temporary's name removed.
Put put_in_place(const Place& at, const NewFile& made, bool over) {
  const int dir = at.folder.get();
  const char* name = at.name.c_str();
  if (made.temp.empty()) {
    if (link_nameless(made.fd.get(), at) == 0) return Put::kDone;
    return errno == EEXIST ? Put::kTaken : Put::kFailed;
  }
  const char* temp = made.temp.c_str();
  int renamed = save_calls.renameat2(dir, temp, dir, name, over ? 0 : RENAME_NOREPLACE);
  if (renamed != 0 && !over && errno == EINVAL && save_calls.linkat(dir, temp, dir, name, 0) == 0) {
    save_calls.unlinkat(dir, temp, 0);
    return Put::kDone;
  }
  if (renamed == 0) return Put::kDone;
  int error = errno;
  save_calls.unlinkat(dir, temp, 0);
  if (error == EEXIST) return Put::kTaken;
  return error == EBUSY || error == EXDEV ? Put::kRefused : Put::kFailed;
}

// The new name on the disk: the folder flushed, or where it cannot be opened,
// the whole file system holding the file.
bool flush_name(int folder, int file) {
  return folder >= 0 ? save_calls.fsync(folder) == 0 : save_calls.syncfs(file) == 0;
}

// The new image in a locked new file beside the old one, flushed, renamed over
// it (or put where there is none), and the name flushed. The file stays 0600
// until it has the old file's owner and group, so nobody outside them reads it
// in between; no set-id or sticky bit passes to the new file. kRefused: the
// bytes could not get the old owner, or the rename cannot be made, and the file
// was not touched: an in-place write may do instead. kUnflushed: in place, but
// not known to be on the disk. `made`: the new file, as it is once in place,
// its lock still held.
Put replace(const Place& at, int folder, const struct stat* old, std::span<const std::byte> image,
            NewFile& made, timespec& before) {
  made = old || folder >= 0 ? make_temp(at) : make_nameless(at);
  if (!made.fd) return Put::kFailed;
  const int fd = made.fd.get();
  bool filled = write_all(fd, image, 0);
  bool owned = filled && (!old || restore_owner(fd, made.st, *old));
  bool flushed = owned && fchmod(fd, old ? old->st_mode & 0777 : new_file_mode()) == 0 &&
                 save_calls.fsync(fd) == 0;
  if (!flushed) {
    if (!made.temp.empty()) save_calls.unlinkat(at.folder.get(), made.temp.c_str(), 0);
    return filled && !owned ? Put::kRefused : Put::kFailed;
  }
  Put put = put_in_place(at, made, old != nullptr);
  if (put != Put::kDone) return put;
  // Still under its lock: nobody has changed it since.
  clock_gettime(CLOCK_REALTIME, &before);
  if (fstat(fd, &made.st) != 0) made.st = {};
  return flush_name(folder, fd) ? Put::kDone : Put::kUnflushed;
}

int64_t ns(const timespec& t) { return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }
bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The file as a save finds it under its lock: what a load would show, in one
// buffer for every data file, given its room once. A save that did not finish
// is put back in the file first where `may_write`; `h.st` is then the file as
// put back.
struct ForSave {
  std::string_view bytes;
  bool unfinished = false;
};

std::optional<ForSave> read_for_save(Held& h, size_t image, bool may_write) {
  static std::string bytes;
  if (bytes.capacity() < image + 1) bytes.reserve(image + 1);
  bytes.resize(image);
  std::byte past{};
  std::optional<AsFound> found = read_as_found(
      h.file.get(), h.st, std::as_writable_bytes(std::span(bytes.data(), image)), past);
  if (!found) return std::nullopt;
  bytes.resize(std::min(found->size, image));
  if (found->size > image) bytes += static_cast<char>(past);
  if (found->undo && may_write &&
      (!put_back(h.file.get(), *found->undo) || fstat(h.file.get(), &h.st) != 0))
    return std::nullopt;
  return ForSave{bytes, found->undo.has_value() && !may_write};
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

void release_kept_lock() {
  if (keeper) keeper->kept_.reset();
  keeper = nullptr;
}

DataFile::~DataFile() {
  if (keeper == this) keeper = nullptr;
}

void DataFile::keep(Fd locked) {
  release_kept_lock();
  kept_ = std::move(locked);
  keeper = this;
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
  struct stat st;
  Fd fd = open_regular(at->folder.get(), at->name.c_str(), O_RDONLY, st);
  if (!fd && errno == ELOOP) {  // the name is a link: walked by the link rules
    at = place_of(name_, true);
    if (at) fd = open_regular(at->folder.get(), at->name.c_str(), O_RDONLY, st);
  }
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
  release_kept_lock();
  const Clock::time_point deadline = Clock::now() + lock_wait;
  do {
    std::optional<Held> h = hold(name_, LOCK_EX, lock_wait);
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
    // A planted second name is never written through, not even to put back
    // what a save that did not finish left there: a rename leaves the other
    // name its bytes; where none may be made, the save fails.
    const bool split = h->file && planted(h->st, folder_st);
    Found now{Found::kMissing, {}};
    std::optional<ForSave> read;
    if (h->file && unchanged(h->st)) {
      now.state = Found::kUnchanged;
    } else if (h->file) {
      // A file that cannot be read cannot be merged with: it is never replaced.
      read = read_for_save(*h, image_size_, !split);
      if (!read) break;
      now = {Found::kRead, read->bytes};
    }
    SavePlan plan = decide(now);
    // After a save whose flush failed, the file may hold the image only in memory.
    if (plan.action == SavePlan::kKeep && unflushed_) plan.action = SavePlan::kWrite;
    if (plan.action == SavePlan::kKeep && h->file && !(read && read->unfinished))
      remember(h->st, h->before);
    if (plan.action != SavePlan::kWrite) {
      if (plan.action == SavePlan::kFail) look_for_leftovers_ = true;
      return plan.action == SavePlan::kKeep;
    }
    NewFile made;
    timespec before{};
    Put put;
    if (!h->file) {
      put = replace(h->at, folder, nullptr, plan.image, made, before);
      if (put == Put::kTaken) continue;
    } else {
      put = renamable(*h, folder, folder_st, split)
                ? replace(h->at, folder, &h->st, plan.image, made, before)
                : Put::kRefused;
      if (put == Put::kRefused && !split) {
        // In place: only what differs from the file, so it is read if it was not.
        if (!read) read = read_for_save(*h, image_size_, true);
        put = read ? write_in_place(h->file.get(), h->st, plan.image, read->bytes) : Put::kFailed;
        clock_gettime(CLOCK_REALTIME, &before);
        if (put == Put::kDone && fstat(h->file.get(), &made.st) != 0) put = Put::kFailed;
        made.fd = std::move(h->file);
      }
    }
    if (put == Put::kUnflushed) {
      // In place, but maybe not on the disk: failed, and written again next time.
      unflushed_ = true;
      last_.known = false;
    }
    if (put != Put::kDone) break;
    unflushed_ = false;
    if (made.st.st_ino != 0) remember(made.st, before);
    if (folder >= 0 && fstatat(folder, "", &folder_st, AT_EMPTY_PATH) == 0)
      folder_seen_ = folder_st.st_mtim;  // this save's own change is no leftover
    keep(std::move(made.fd));
    return true;
  } while (Clock::now() < deadline);
  look_for_leftovers_ = true;
  return false;
}

Loaded DataFile::load(std::span<std::byte> table) {
  release_kept_lock();
  Loaded got;
  if (seen_unchanged()) {
    got.state = Loaded::kUnchanged;
    return got;
  }
  std::optional<Held> h = hold(name_, LOCK_SH, lock_wait);
  if (h && h->file && unchanged(h->st)) {
    got.state = Loaded::kUnchanged;
    return got;
  }
  last_.known = false;
  if (h && !h->file) return got;
  std::optional<AsFound> found;
  if (h) found = read_as_found(h->file.get(), h->st, table, got.past);
  if (!found) {
    got.state = Loaded::kFailed;
    return got;
  }
  got.state = Loaded::kRead;
  got.size = found->size;
  if (!found->undo) {
    remember(h->st, h->before);
  } else {
    h.reset();  // the shared lock, before the exclusive one is asked for
    put_back_now();
  }
  return got;
}

// A save that did not finish left its undo record: it is put back now where
// this session may write the file and nobody else holds it at once. Otherwise
// it stays for the next save, and each load lays it over what it reads.
void DataFile::put_back_now() {
  std::optional<Held> h = hold(name_, LOCK_EX, std::chrono::milliseconds(0));
  struct stat folder;
  if (h && h->file && fstatat(h->at.folder.get(), "", &folder, AT_EMPTY_PATH) == 0 &&
      !planted(h->st, folder))
    read_for_save(*h, image_size_, true);
}

FileRead read_data_file(const std::string& path, size_t image_size) {
  release_kept_lock();
  FileRead got;
  std::optional<Held> h = hold(path, LOCK_SH, lock_wait);
  if (!h) {
    got.state = FileRead::kFailed;
    got.error = errno == EWOULDBLOCK ? ETIMEDOUT : errno;
    return got;
  }
  if (!h->file) return got;
  got.image.resize(image_size);
  std::byte past{};
  std::optional<AsFound> found =
      read_as_found(h->file.get(), h->st, std::as_writable_bytes(std::span(got.image)), past);
  if (!found) {
    got.state = FileRead::kFailed;
    got.error = errno;
    return got;
  }
  got.state = FileRead::kRead;
  got.size = h->st.st_size;
  got.image.resize(std::min(found->size, image_size));
  if (found->undo) {
    got.tail = FileRead::kUnfinishedSave;
  } else if (got.size > static_cast<off_t>(image_size)) {
    got.tail = FileRead::kOtherBytes;
  }
  return got;
}

}  // namespace orvel
