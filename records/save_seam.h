// The calls through which saves change files and flush them, and the bound on a
// lock's wait: the system's own, unless a test puts others in their place to
// record a save's writes, fail or slow a flush, or stop a save at one call.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <span>

namespace orvel {

struct SaveCalls {
  ssize_t (*pwrite)(int fd, const void* bytes, size_t size, off_t at);
  int (*ftruncate)(int fd, off_t size);
  int (*fsync)(int fd);  // a file's bytes and attributes, or a folder's names
  int (*fdatasync)(int fd);
  int (*syncfs)(int fd);  // the whole file system holding fd
  int (*renameat2)(int from_dir, const char* from, int to_dir, const char* to, unsigned flags);
  // `from` is "/proc/self/fd/N" where a file made with no name gets one.
  int (*linkat)(int from_dir, const char* from, int to_dir, const char* to, int flags);
  int (*unlinkat)(int dir, const char* name, int flags);
};

// What every save and every load's recovery calls.
extern SaveCalls save_calls;

// Writes all of `bytes` at `at` through save_calls.pwrite, again after a short
// write; false on a full disk, a file-size limit or another error.
bool write_all(int fd, std::span<const std::byte> bytes, off_t at);
// The system's own calls, for a test to call through and to put back.
extern const SaveCalls kSystemCalls;

// How long a save or a load waits for another's lock before it gives up.
extern std::chrono::milliseconds lock_wait;

}  // namespace orvel
