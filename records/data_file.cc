// Saves that never destroy the old file: a new file beside it, flushed, renamed over it.
#include "records/data_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

namespace orvel {

namespace {

constexpr int kMaxLinks = 40;

std::string dir_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a name stands for, through any symbolic links: the link stays,
// the file it points to is replaced.
std::optional<std::string> follow_links(std::string path) {
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) < 0 || !S_ISLNK(st.st_mode)) return path;
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n < 0) return std::nullopt;
    std::string next(target, static_cast<size_t>(n));
    path = next[0] == '/' ? next : dir_of(path) + "/" + next;
  }
  return std::nullopt;
}

bool write_all(int fd, std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // a full disk or a file-size limit
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

bool fill(int fd, mode_t mode, std::span<const std::byte> image) {
  return fchmod(fd, mode) == 0 && write_all(fd, image) && fsync(fd) == 0;
}

enum class Made { kWhole, kFailed, kUnsupported };

// An unnamed file leaves nothing behind if the process dies while it is written;
// it gets the temporary name only once it is whole.
Made make_unnamed(const std::string& dir, const std::string& temp, mode_t mode,
                  std::span<const std::byte> image) {
  int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EOPNOTSUPP || errno == EISDIR ? Made::kUnsupported : Made::kFailed;
  bool filled = fill(fd, mode, image);
  std::string proc = "/proc/self/fd/" + std::to_string(fd);
  unlink(temp.c_str());
  bool linked =
      filled && linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
  bool closed = close(fd) == 0;
  if (filled && !linked) return Made::kUnsupported;  // no /proc to name it through
  return filled && closed ? Made::kWhole : Made::kFailed;
}

// Where unnamed files are not to be had.
bool make_named(const std::string& temp, mode_t mode, std::span<const std::byte> image) {
  unlink(temp.c_str());
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = fill(fd, mode, image);
  return close(fd) == 0 && ok;
}

void sync_dir(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

mode_t new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool DataFile::save(std::span<const std::byte> image) const {
  std::optional<std::string> target = follow_links(name_);
  if (!target) return false;
  struct stat st;
  mode_t mode;
  if (stat(target->c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || access(target->c_str(), W_OK) != 0) return false;
    mode = st.st_mode & 07777;
  } else if (errno == ENOENT) {
    mode = new_file_mode();
  } else {
    return false;
  }
  std::string dir = dir_of(*target);
  std::string temp = dir + "/." + base_of(*target) + ".new";
  // A failed write is not tried again under another name: the disk or the
  // size limit would refuse it again.
  Made made = make_unnamed(dir, temp, mode, image);
  bool ok = made == Made::kWhole || (made == Made::kUnsupported && make_named(temp, mode, image));
  ok = ok && rename(temp.c_str(), target->c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  sync_dir(dir);
  return true;
}

// No lock yet: the file is read, the plan made and carried out by the save above.
bool DataFile::save(const DecideSave& decide) const {
  std::optional<std::string> now;
  int fd = open(name_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    now.emplace();
    char buf[65536];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      now->append(buf, static_cast<size_t>(n));
    }
  }
  if (fd >= 0) close(fd);
  SavePlan plan = decide(now);
  if (plan.action == SavePlan::kKeep) return true;
  return plan.action == SavePlan::kWrite && save(plan.image);
}

void DataFile::load(std::span<std::byte> image) const {
  // Non-blocking, so a pipe of the file's name cannot hang the program.
  int fd = open(name_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_t got = 0;
    while (got < image.size()) {
      ssize_t n = read(fd, image.data() + got, image.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
  }
  close(fd);
}

}  // namespace orvel
