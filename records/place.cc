// Following a data file's name through folders and links by hand, so that the
// protected-symlink rule holds on every system and every hop.
#include "records/place.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <deque>

namespace orvel {

void Fd::reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

namespace {

constexpr int kMaxHops = 40;

std::deque<std::string> split(const std::string& path) {
  std::deque<std::string> parts;
  size_t from = 0;
  while (from < path.size()) {
    size_t slash = path.find('/', from);
    if (slash == std::string::npos) slash = path.size();
    if (slash > from) parts.push_back(path.substr(from, slash - from));
    from = slash + 1;
  }
  return parts;
}

// O_NOFOLLOW: a folder swapped for a link after we looked is refused, not followed.
Fd open_folder(int at, const char* name) {
  return Fd(openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// A link in a folder that others may write may have been planted there by any
// of them, to send our write to a file of their choosing (ours, that they may
// not write). Ours and the folder owner's are trusted, as the kernel's
// protected-symlink rule trusts them in sticky folders.
bool may_follow(int folder, const struct stat& link) {
  struct stat st;
  if (fstat(folder, &st) != 0) return false;
  return !others_may_write(st) || link.st_uid == geteuid() || link.st_uid == st.st_uid;
}

// The link's text put in front of what is left of the path.
bool follow(Fd& folder, const std::string& link, std::deque<std::string>& parts) {
  char target[4096];
  ssize_t n = readlinkat(folder.get(), link.c_str(), target, sizeof target);
  if (n <= 0 || static_cast<size_t>(n) == sizeof target) return false;
  std::deque<std::string> more = split(std::string(target, static_cast<size_t>(n)));
  parts.insert(parts.begin(), more.begin(), more.end());
  if (target[0] == '/') folder = open_folder(AT_FDCWD, "/");
  return true;
}

}  // namespace

// The group bits say nothing of who is in the group: it is taken to hold
// others, as it may.
bool others_may_write(const struct stat& folder) {
  return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

Fd open_regular(int folder, const char* name, int flags, struct stat& st) {
  Fd look(openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!look || fstat(look.get(), &st) != 0) return Fd();
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISLNK(st.st_mode) ? ELOOP : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return Fd();
  }
  // The file the handle holds, however its name changes meanwhile.
  char held[32];
  snprintf(held, sizeof held, "/proc/self/fd/%d", look.get());
  const int how = flags | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  Fd file(open(held, how));
  if (file || errno != ENOENT) return file;
  // No /proc: by its name again, and it must still be the file looked at.
  file = Fd(openat(folder, name, how | O_NOFOLLOW));
  struct stat now;
  if (file &&
      (fstat(file.get(), &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino)) {
    errno = EINVAL;
    return Fd();
  }
  return file;
}

std::optional<Place> find_place(const std::string& path) {
  std::deque<std::string> parts = split(path);
  Fd folder = open_folder(AT_FDCWD, path.starts_with('/') ? "/" : ".");
  int hops = 0;
  while (folder && !parts.empty()) {
    std::string part = std::move(parts.front());
    parts.pop_front();
    bool last = parts.empty();
    if (part == "." || part == "..") {
      if (last) return std::nullopt;  // a folder, not a file
      if (part == "..") folder = open_folder(folder.get(), "..");
      continue;
    }
    struct stat st;
    if (fstatat(folder.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (last && errno == ENOENT) return Place{std::move(folder), part};
      return std::nullopt;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++hops > kMaxHops || !may_follow(folder.get(), st)) return std::nullopt;
      if (!follow(folder, part, parts)) return std::nullopt;
    } else if (last) {
      return Place{std::move(folder), part};
    } else {
      folder = open_folder(folder.get(), part.c_str());
    }
  }
  return std::nullopt;
}

}  // namespace orvel
