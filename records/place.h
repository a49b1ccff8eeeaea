// Where a data file's name leads: a handle on the folder it ends in and the last
// name there, found through symbolic links as the protected-symlink rule allows.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <utility>

namespace orvel {

// A file descriptor, closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~Fd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

struct Place {
  // An O_PATH handle: names are looked up in it, never by path again. For a
  // name with no folder in it, AT_FDCWD: the working folder, with nothing to open.
  Fd folder;
  std::string name;  // the last name: no link, and perhaps no file yet
};

// True when others than the folder's owner and us may write in it: its group or
// everyone may (the named entries of an access list show in the group bits),
// sticky or not. Anyone of them may put a link there, or a second name of a
// file, for our saves to write through.
bool others_may_write(const struct stat& folder);

// Follows the path one name at a time and at most 40 links. In a folder that
// others may write, a link is followed only when it belongs to us or to the
// folder's owner, whatever the system's own setting; otherwise, or where a folder
// on the way cannot be reached, nullopt.
std::optional<Place> find_place(const std::string& path);

// Opens `name` in `folder` with `flags` only once it is known to be a regular
// file, and `st` tells what it is. Opening a device may act (a terminal would
// become ours, a watchdog would start) and a FIFO's open may wait for good, so
// the name is first looked at through a handle that opens nothing. errno:
// ENOENT no such name, ELOOP a symbolic link, EISDIR a folder, EINVAL anything
// else that is no regular file, or the open's own.
Fd open_regular(int folder, const char* name, int flags, struct stat& st);

}  // namespace orvel
