// The file stream of one table: its data file, saved whole and loaded whole.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "records/place.h"

namespace orvel {

// The data file as a save finds it under the lock.
struct Found {
  enum State {
    kMissing,    // no file (or none that may be read)
    kUnchanged,  // as this stream last loaded or saved it: not read
    kRead,       // changed since, or not known: `bytes` holds it
  } state;
  // kRead: the file's bytes, at most one past the image; valid for the call.
  std::string_view bytes;
};

// What a save does, decided under the save lock from the data file as it is then.
struct SavePlan {
  enum Action { kWrite, kKeep, kFail } action;
  std::span<const std::byte> image;  // what kWrite writes; must outlive the save call
};
using DecideSave = std::function<SavePlan(const Found& now)>;

// What a load did to the table.
struct Loaded {
  enum State {
    kNothing,    // no file: the table is as it was
    kFailed,     // a file that may not be read, or no lock in time: the table is as it was
    kUnchanged,  // the file is as this stream last loaded or saved it: nothing read
    kRead,       // the file's first bytes are laid over the table
  } state = kNothing;
  size_t size = 0;   // kRead: how many bytes the file gave, at most one past the table
  std::byte past{};  // kRead, with one byte past the table: that byte
};

// The step in nanoseconds between two times the file system gives a file, judged
// from one of them: never below the kernel's coarse clock tick.
int64_t timestamp_step_ns(const timespec& t);
// True when a file's identity taken at `taken` may not show a change made right
// after its last one (at `changed`): both may carry the same stamp.
bool racily_clean(const timespec& taken, const timespec& changed);

// A data file as a reader outside the dialogue finds it (an export, a check):
// read under the shared lock, never written.
struct FileRead {
  enum State {
    kMissing,  // no file of that name
    kFailed,   // not a regular file that may be read, or no lock in time: see `error`
    kRead,
  } state = kMissing;
  int error = 0;   // kFailed: an errno value (ETIMEDOUT: the lock was not granted in time)
  off_t size = 0;  // kRead: the file's size as found, anything past the table included
  // kRead: the bytes a load lays over the table (at most the table's image),
  // with the old bytes of a save that did not finish put back in them.
  std::string image;
  // kRead: what lies past the table's image.
  enum Tail {
    kNoTail,
    kUnfinishedSave,  // the undo record of a save that did not finish
    kOtherBytes,      // bytes no save of ours left whole
  } tail = kNoTail;
};
FileRead read_data_file(const std::string& path, size_t image_size);

// Lets go of the lock a save keeps for the load right after it (see
// DataFile::holds_own_save), wherever one is kept; called before the program
// waits for a person, so that no one waits on that.
void release_kept_lock();

class DataFile {
 public:
  // image_size: the size of the table's image; no read takes more than one
  // byte beyond it, whatever the file holds.
  DataFile(std::string name, size_t image_size) : name_(std::move(name)), image_size_(image_size) {}
  ~DataFile();
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  // Under the file's lock: looks at the file, asks `decide`, writes (rename or
  // in place) or not. True when the file holds the plan's image afterwards,
  // on the disk (kKeep: true; kFail: false). A file that is not a regular file
  // we may read and write fails without asking. `decide` may be asked again,
  // when another session's first save made the file meanwhile; it must not
  // save or load this file. A save that wrote keeps the file's lock for the
  // load right after it, until release_kept_lock().
  bool save(const DecideSave& decide);
  // Reads the file's bytes straight over the start of `table` (its image),
  // under the file's lock taken shared; a file still as this stream last
  // loaded or saved it is not read.
  Loaded load(std::span<std::byte> table);

  // True while this stream's last save still keeps the file's lock: the file
  // holds exactly what that save wrote, and nobody can have changed it since.
  bool holds_own_save() const { return kept_.get() >= 0; }

 private:
  // Who the file was at the last load or save, to know it again without reading.
  struct Identity {
    bool known = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
    // Taken within the file system's timestamp step of the file's last change:
    // a change right after could have left every field as it is.
    bool racy = true;
  };
  void remember(const struct stat& st, const timespec& before);
  bool unchanged(const struct stat& st) const;
  bool seen_unchanged() const;
  int flush_folder(const Place& at, const struct stat& folder);
  void keep(Fd locked);
  void put_back_now();

  std::string name_;
  size_t image_size_;
  Identity last_;
  // The folder opened for reading (to flush it after a rename, and to look
  // for leftovers), kept while the name leads there, and how it was when
  // this stream last looked for leftovers in it.
  Fd folder_;
  dev_t folder_dev_ = 0;
  ino_t folder_ino_ = 0;
  timespec folder_seen_{};
  bool look_for_leftovers_ = true;  // at the first save, and after a failed one
  // A save put the new image in place but could not flush it: the next save
  // writes it again, even where the file holds it.
  bool unflushed_ = false;
  Fd kept_;  // the file's lock, kept from a save to the load right after it
  friend void release_kept_lock();
};

}  // namespace orvel
