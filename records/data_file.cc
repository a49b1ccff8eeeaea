// Saves that never destroy the old file, one at a time under a lock: a new file
// beside the old one renamed over it or, where a rename would change the file's
// owner, group or links, the new bytes written over the old ones in place.
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
#include <cstring>
#include <random>
#include <string>

#include "records/place.h"
#include "records/save_seam.h"

namespace orvel {

void (*before_rename_for_test)() = nullptr;

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

// Non-blocking, so a pipe of the file's name cannot hang the program.
Fd open_file(const Place& at, int flags) {
  return Fd(openat(at.folder.get(), at.name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

// Other sessions hold the lock for a few milliseconds. Anyone who may read the
// folder can take it too and keep it: then, after a while, this save fails (and
// a load leaves the table) instead of the program hanging for good.
constexpr int kLockWaitMs = 5000;
constexpr int kLockPollMs = 10;

bool take(int fd, int how) {
  for (int waited = 0; flock(fd, how | LOCK_NB) != 0; waited += kLockPollMs) {
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (waited >= kLockWaitMs) return false;
    usleep(kLockPollMs * 1000);
  }
  return true;
}

// The save lock is a flock on the data file's folder, which the kernel drops
// when the process dies; temporaries are cleared and renamed there under it.
// A folder we may not read is no place for a rename; its file is locked instead.
struct Locked {
  Place at;
  Fd lock;  // none: the folder cannot be read and there is no file to lock
  bool on_folder = false;
};

Fd lock_handle(const Place& at, bool& on_folder) {
  Fd fd(openat(at.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  on_folder = static_cast<bool>(fd);
  if (!fd) fd = open_file(at, O_RDONLY);
  if (!fd) fd = open_file(at, O_WRONLY);
  return fd;
}

bool still_locked(const Locked& l) {
  struct stat held, now;
  if (fstat(l.lock.get(), &held) != 0) return false;
  int found = l.on_folder
                  ? fstat(l.at.folder.get(), &now)
                  : fstatat(l.at.folder.get(), l.at.name.c_str(), &now, AT_SYMLINK_NOFOLLOW);
  return found == 0 && same_inode(held, now);
}

// The name is followed again once the lock is held: a link may have moved
// meanwhile and the lock be on the wrong folder, so then it is all done again.
std::optional<Locked> lock_place(const std::string& path, int how) {
  for (int tries = 0; tries < 8; ++tries) {
    std::optional<Place> first = find_place(path);
    if (!first) return std::nullopt;
    Locked l;
    l.lock = lock_handle(*first, l.on_folder);
    if (!l.lock) {
      if (errno != ENOENT) return std::nullopt;
      l.at = std::move(*first);
      return l;
    }
    if (!take(l.lock.get(), how)) return std::nullopt;
    std::optional<Place> now = find_place(path);
    if (!now || now->name != first->name) continue;
    l.at = std::move(*now);
    if (still_locked(l)) return l;
  }
  return std::nullopt;
}

// The bytes of the data file read last, kept for the next read: one buffer for
// every data file, as the program reads one file at a time.
std::string& file_bytes() {
  static std::string bytes;
  return bytes;
}

// Read straight into `into`, whose room is kept from one read to the next: a
// table's image is read at every display of its menu. False: no regular file.
bool read_file(const Place& at, size_t limit, std::string& into) {
  Fd fd = open_file(at, O_RDONLY);
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  into.resize(std::min(limit, static_cast<size_t>(st.st_size)));
  size_t got = 0;
  while (got < limit) {
    if (got == into.size()) into.resize(std::min(limit, into.size() + 4096));  // it grew
    ssize_t n = read(fd.get(), into.data() + got, into.size() - got);
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

// The same inode keeps its owner, group, mode and links: the whole image from
// offset 0, never truncating first, then cut to size and flushed. A write that
// fails half way puts back the old bytes, where they were read whole.
bool write_in_place(const Place& at, const struct stat& old, std::span<const std::byte> image,
                    std::optional<std::string_view> old_bytes) {
  Fd fd = open_file(at, O_WRONLY);
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !same_inode(st, old))
    return false;
  if (!room_for(fd.get(), image.size())) return false;
  if (write_all(fd.get(), image, 0) && ftruncate(fd.get(), static_cast<off_t>(image.size())) == 0 &&
      fsync(fd.get()) == 0)
    return true;
  if (old_bytes && old_bytes->size() == static_cast<size_t>(old.st_size)) {
    write_all(fd.get(), std::as_bytes(std::span(old_bytes->data(), old_bytes->size())), 0);
    ftruncate(fd.get(), old.st_size);
    fsync(fd.get());
  }
  return false;
}

// With no folder to lock, the new file is made exclusively and locked at once.
bool create_in_place(const Place& at, std::span<const std::byte> image) {
  Fd fd(openat(at.folder.get(), at.name.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!fd) return false;
  if (take(fd.get(), LOCK_EX) && write_all(fd.get(), image, 0) && fsync(fd.get()) == 0) return true;
  unlinkat(at.folder.get(), at.name.c_str(), 0);
  return false;
}

// An access list is a right a rename would not carry over (it copies the mode
// alone), and a folder's default list gives a new file rights of its own.
// Only where the file system says there is none is a rename safe.
bool none(ssize_t got) { return got < 0 && (errno == ENODATA || errno == ENOTSUP); }

bool without_acls(const Locked& l) {
  // There is no *at call for these: the file is named through /proc.
  std::string file = "/proc/self/fd/" + std::to_string(l.at.folder.get()) + "/" + l.at.name;
  return none(lgetxattr(file.c_str(), "system.posix_acl_access", nullptr, 0)) &&
         none(fgetxattr(l.lock.get(), "system.posix_acl_default", nullptr, 0));
}

// A rename only where the new file keeps what the old one had, and can be made.
bool renamable(const Locked& l, const struct stat& old) {
  struct stat folder;
  if (!l.on_folder || fstat(l.lock.get(), &folder) != 0) return false;
  return old.st_nlink == 1 && folder.st_dev == old.st_dev &&  // not split, not a mount point
         faccessat(l.lock.get(), ".", W_OK, 0) == 0 &&
         (geteuid() == 0 || old.st_uid == geteuid()) && without_acls(l);
}

// Root gives the file back to its owner and group; anyone may set a group of
// their own. Refused, the file is written in place instead.
bool restore_owner(int fd, const struct stat& old) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (st.st_uid == old.st_uid && st.st_gid == old.st_gid) return true;
  return fchown(fd, old.st_uid, old.st_gid) == 0;
}

// Temporaries that killed saves left behind: ours, of this file, not in use
// since we hold the lock. Anything else of a like name is someone else's.
void clear_leftovers(const Locked& l) {
  if (!l.on_folder) return;
  Fd fd(openat(l.lock.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = fd ? fdopendir(fd.get()) : nullptr;
  if (!dir) return;
  fd.release();  // the stream owns it now
  while (dirent* e = readdir(dir)) {
    struct stat st;
    if (is_temp_name(e->d_name, l.at.name) &&
        fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == geteuid() && st.st_nlink == 1)
      unlinkat(dirfd(dir), e->d_name, 0);
  }
  closedir(dir);
}

Fd make_temp(const Place& at, std::string& temp) {
  std::random_device random;
  for (int tries = 0; tries < 100; ++tries) {
    temp = temp_prefix(at.name);
    for (size_t i = 0; i < kSuffix; ++i) temp += kAlphabet[random() % (sizeof kAlphabet - 1)];
    Fd fd(openat(at.folder.get(), temp.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd || errno != EEXIST) return fd;
  }
  return Fd();
}

mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// The new image in a temporary beside the old file, flushed, renamed over it,
// and the folder flushed. The temporary stays 0600 until it has the old file's
// owner and group, so nobody outside them reads it in between; no set-id or
// sticky bit passes to the new file.
bool replace(const Locked& l, const struct stat* old, std::span<const std::byte> image,
             std::optional<std::string_view> old_bytes) {
  const int dir = l.at.folder.get();
  std::string temp;
  Fd fd = make_temp(l.at, temp);
  if (!fd) return false;
  bool filled = write_all(fd.get(), image, 0);
  bool owned = filled && (!old || restore_owner(fd.get(), *old));
  bool flushed = owned && fchmod(fd.get(), old ? old->st_mode & 0777 : new_file_mode()) == 0 &&
                 fsync(fd.get()) == 0;
  bool closed = close(fd.release()) == 0;
  if (!flushed || !closed) {
    unlinkat(dir, temp.c_str(), 0);
    return filled && !owned && write_in_place(l.at, *old, image, old_bytes);
  }
  if (before_rename_for_test) before_rename_for_test();
  // Where there was no file, none that appeared meanwhile is replaced; a file
  // system that cannot promise that (EINVAL) renames plainly, under the lock.
  int renamed = old ? renameat(dir, temp.c_str(), dir, l.at.name.c_str())
                    : renameat2(dir, temp.c_str(), dir, l.at.name.c_str(), RENAME_NOREPLACE);
  if (renamed != 0 && !old && errno == EINVAL)
    renamed = renameat(dir, temp.c_str(), dir, l.at.name.c_str());
  if (renamed != 0) {
    int error = errno;
    unlinkat(dir, temp.c_str(), 0);
    return old && (error == EBUSY || error == EXDEV) &&
           write_in_place(l.at, *old, image, old_bytes);
  }
  fsync(l.lock.get());
  return true;
}

// In a sticky folder anyone may write, a file with other names that is neither
// ours nor the folder owner's may be a link planted to a file elsewhere: it is
// not written through, as the kernel's protected-hardlink rule would not have
// let it be made.
bool planted_link(const Locked& l, const struct stat& file) {
  struct stat folder;
  if (fstat(l.at.folder.get(), &folder) != 0) return true;
  bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  return shared && file.st_nlink > 1 && file.st_uid != geteuid() && file.st_uid != folder.st_uid;
}

}  // namespace

bool DataFile::save(const DecideSave& decide) const {
  std::optional<Locked> l = lock_place(name_, LOCK_EX);
  if (!l) return false;
  clear_leftovers(*l);
  struct stat st;
  bool exists = fstatat(l->at.folder.get(), l->at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return false;
  if (exists &&
      (!S_ISREG(st.st_mode) || faccessat(l->at.folder.get(), l->at.name.c_str(), W_OK, 0) != 0 ||
       planted_link(*l, st)))
    return false;
  std::optional<std::string_view> now;
  if (exists && read_file(l->at, read_limit(), file_bytes())) now = file_bytes();
  SavePlan plan = decide(now);
  if (plan.action != SavePlan::kWrite) return plan.action == SavePlan::kKeep;
  if (!l->lock) return create_in_place(l->at, plan.image);
  if (exists && !renamable(*l, st)) return write_in_place(l->at, st, plan.image, now);
  return replace(*l, exists ? &st : nullptr, plan.image, now);
}

std::optional<std::string_view> DataFile::read() const {
  std::optional<Locked> l = lock_place(name_, LOCK_SH);
  if (!l || !read_file(l->at, read_limit(), file_bytes())) return std::nullopt;
  return file_bytes();
}

}  // namespace orvel
