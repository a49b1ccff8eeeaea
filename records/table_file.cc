// Reading a data file whole, for the load and for the base it leaves.
#include "records/table_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvel {

std::optional<std::string> read_data_file(const std::string& name) {
  // Non-blocking, so a pipe of the file's name cannot hang the program.
  int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> bytes;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    bytes.emplace();
    char buf[65536];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      bytes->append(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  return bytes;
}

}  // namespace orvel
