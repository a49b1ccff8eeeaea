// Where a data file's name leads: a handle on the folder it ends in and the last
// name there, found through symbolic links as the protected-symlink rule allows.
#pragma once

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

// Follows the path one name at a time and at most 40 links. In a sticky folder
// that anyone may write, a link is followed only when it belongs to us or to the
// folder's owner, whatever the system's own setting; otherwise, or where a folder
// on the way cannot be reached, nullopt.
std::optional<Place> find_place(const std::string& path);

}  // namespace orvel
